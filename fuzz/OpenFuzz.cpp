// The whole road: the input is written as a .smi file, opened through the container
// interface, and every stream is read to its end, seeked, reversed and read back. A stream
// read backwards from its last subtitle delivers exactly what the forward read delivered, in
// reverse order.
#include "FuzzHost.h"
#include "plugin/SAMIContainer.h"
#include "support/HostObjects.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Subtitle {
  int32_t timestamp;
  int32_t duration;
  int32_t used;
  std::string bytes;
  bool operator==(const Subtitle&) const = default;
};

// Why a read pass stopped.
enum class Stop { End, NotDue, Failed, Limit };

struct Pass {
  std::vector<Subtitle> subtitles;
  Stop stop = Stop::Limit;
};

Pass drain(Kestrel::StreamInterface* stream) {
  Pass pass;
  for (int i = 0; i < 100000; ++i) {
    Kestrel::MediaChunk* chunk = nullptr;
    const int32_t result = stream->readStream(&chunk);
    if (chunk != nullptr) {
      pass.subtitles.push_back({chunk->timestamp, chunk->duration, chunk->used,
                                std::string(chunk->data, static_cast<size_t>(chunk->size))});
      chunk->release();
    }
    if (result == Kestrel::kResultOk && chunk != nullptr)
      continue;
    pass.stop = result == Kestrel::kResultOk       ? Stop::End
                : result == Kestrel::kResultNotYet ? Stop::NotDue
                                                   : Stop::Failed;
    return pass;
  }
  return pass;
}

// A track is in ascending unsigned start order and an entry is due once the clock is within
// half a second of its start, so the due entries are a prefix of the track. Forwards from the
// first entry the stream delivers that prefix; backwards from the last, all of it in reverse
// when the prefix is the whole track, and nothing when the last entry is not due yet.
void checkMirror(const Pass& forward, const Pass& backward) {
  if (forward.stop == Stop::Failed || forward.stop == Stop::Limit ||
      backward.stop == Stop::Failed || backward.stop == Stop::Limit)
    return; // out of memory, or too long a track to follow
  if (forward.stop == Stop::End) {
    if (backward.stop != Stop::End ||
        !std::equal(forward.subtitles.begin(), forward.subtitles.end(), backward.subtitles.rbegin(),
                    backward.subtitles.rend()))
      __builtin_trap();
    return;
  }
  if (backward.stop != Stop::NotDue || !backward.subtitles.empty())
    __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Kestrel;
  if (size > (1u << 20))
    return 0;
  const std::string path = KestrelFuzz::writeScratch(data, size, ".smi");
  KestrelTest::Source source(KestrelTest::fileUrl(path));

  KestrelTest::TestContainerHost host(1);
  host.overrideEmbedded = false;
  host.setPreferredLanguage("en-US");
  KestrelTest::TestClock clock(INT32_MAX);

  auto* container = new SAMIContainer(nullptr);
  container->attach(&host, 7);
  std::vector<StreamFormat> formats;
  container->probe(source.descriptor(), 0, 0, &formats);
  if (container->open(source.descriptor()) == kResultOk) {
    NodeList<unsigned long long> programs = container->getProgramIds();
    if (programs.head != nullptr)
      container->selectProgram(programs.head->value);
    for (StreamInterface* stream : host.streams()) {
      stream->setClock(&clock);
      const Pass forward = drain(stream);
      uint32_t at = 0;
      stream->seekStream(5000, &at, 0);
      uint32_t point = 0;
      stream->getSeekPoint(0, 5000, &point);
      stream->setRate(-1000);
      drain(stream);
      stream->rewind();
      checkMirror(forward, drain(stream));
      stream->rewind();
      stream->setRate(0);
      drain(stream);
    }
    container->closeProgram(false);
  }
  container->release();
  host.deleteStreams();
  std::remove(path.c_str());
  return 0;
}
