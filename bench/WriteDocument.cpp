// Writes one of the benchmarks' generated documents to a file, so that programs outside the
// benchmarks (a GStreamer pipeline, another SAMI reader) read the very bytes they open.
// Usage: WriteDocument KIND MEGABYTES OUT   (KIND as the benchmarks name it: realistic, ...)
#include "generate/SamiDocuments.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace {

// The open benchmark's seed: the same kind and size give the same bytes as there.
constexpr uint64_t kSeed = 20240611;

} // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: WriteDocument KIND MEGABYTES OUT\n");
    return 64;
  }
  const SamiBench::Kind kinds[] = {
      SamiBench::Kind::Realistic,  SamiBench::Kind::UnclosedElements,
      SamiBench::Kind::LongRun,    SamiBench::Kind::LongRunBreaks,
      SamiBench::Kind::SameStart,  SamiBench::Kind::InlineTags,
      SamiBench::Kind::Attributes, SamiBench::Kind::ManyClasses,
      SamiBench::Kind::Ampersands, SamiBench::Kind::AmpersandsSemicolon};
  const SamiBench::Kind* kind = nullptr;
  for (const auto& k : kinds)
    if (std::strcmp(SamiBench::kindName(k), argv[1]) == 0)
      kind = &k;
  std::size_t megabytes = 0;
  const char* end = argv[2] + std::strlen(argv[2]);
  if (kind == nullptr || std::from_chars(argv[2], end, megabytes).ptr != end || megabytes == 0 ||
      megabytes > 4096) {
    std::fprintf(stderr, "WriteDocument: unknown kind or size\n");
    return 64;
  }
  const std::string document = SamiBench::Generator(kSeed).document(*kind, megabytes * 1000 * 1000);
  std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
  out.write(document.data(), static_cast<std::streamsize>(document.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "WriteDocument: cannot write %s\n", argv[3]);
    return 73;
  }
  return 0;
}
