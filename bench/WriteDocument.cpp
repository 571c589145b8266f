// Writes one generated document to a file, for measurements that run whole programs:
//   WriteDocument KIND MEGABYTES PATH     (KIND as kindName gives it, e.g. "realistic")
// The bytes are the ones the open benchmark measures for the same kind and size.
#include "generate/SamiDocuments.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace {
constexpr uint64_t kSeed = 20240611; // the open benchmark's
constexpr std::size_t kMB = 1u << 20;
} // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: WriteDocument KIND MEGABYTES PATH\n");
    return 64;
  }
  std::optional<SamiBench::Kind> kind;
  for (int k = 0; k <= static_cast<int>(SamiBench::Kind::AmpersandsSemicolon); ++k)
    if (std::string_view(argv[1]) == SamiBench::kindName(static_cast<SamiBench::Kind>(k)))
      kind = static_cast<SamiBench::Kind>(k);
  const long megabytes = std::strtol(argv[2], nullptr, 10);
  if (!kind || megabytes <= 0) {
    std::fprintf(stderr, "WriteDocument: unknown kind or size\n");
    return 64;
  }
  SamiBench::Generator generator(kSeed);
  const std::string bytes = generator.document(*kind, static_cast<std::size_t>(megabytes) * kMB);
  FILE* file = std::fopen(argv[3], "wb");
  if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
      std::fclose(file) != 0) {
    std::perror(argv[3]);
    return 73;
  }
  return 0;
}
