// The whole road: the input is written as a .smi file, opened through the container
// interface, and every stream is read to its end, seeked, reversed and read back.
#include "FuzzHost.h"
#include "plugin/SAMIContainer.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

void drain(Kestrel::StreamInterface* stream, KestrelFuzz::Clock& clock) {
  for (int i = 0; i < 100000; ++i) {
    Kestrel::MediaChunk* chunk = nullptr;
    const int32_t result = stream->readStream(&chunk);
    if (chunk != nullptr)
      chunk->release();
    if (result != 0 || chunk == nullptr)
      return;
  }
  (void)clock;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Kestrel;
  if (size > (1u << 20))
    return 0;
  const std::string path = KestrelFuzz::writeScratch(data, size, ".smi");
  const BufferString url(("file://" + path).c_str());
  SourceDescriptor source;
  source.url = &url;

  KestrelFuzz::Host host;
  host.overrideEmbedded = false;
  host.preferredLanguage = "en-US";
  KestrelFuzz::Clock clock;
  clock.time = INT32_MAX;

  auto* container = new SAMIContainer(nullptr);
  container->attach(&host, 7);
  std::vector<StreamFormat> formats;
  container->probe(&source, 0, 0, &formats);
  if (container->open(&source) == kResultOk) {
    NodeList<unsigned long long> programs = container->getProgramIds();
    if (programs.head != nullptr)
      container->selectProgram(programs.head->value);
    for (StreamInterface* stream : host.streams) {
      stream->setClock(&clock);
      drain(stream, clock);
      uint32_t at = 0;
      stream->seekStream(5000, &at, 0);
      uint32_t point = 0;
      stream->getSeekPoint(0, 5000, &point);
      stream->setRate(-1000);
      drain(stream, clock);
      stream->rewind();
      stream->setRate(0);
      drain(stream, clock);
    }
    container->closeProgram(false);
  }
  container->release();
  host.deleteStreams();
  std::remove(path.c_str());
  return 0;
}
