// Cost of the calls an engine makes while a film plays, on one track of 100,000 entries:
// readStream plus the sample's release, and seekStream. Also counts heap allocations per
// read, which must stay at two (the text buffer and the sample).

#include "container/OverlayStream.h"
#include "kestrel/HostInterfaces.h"
#include "plugin/SAMIContainer.h"
#include "support/HostObjects.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

std::atomic<uint64_t> allocations{0};

// Out of line, so the compiler does not pair the global operators with malloc and free.
[[gnu::noinline]] void* countedAllocate(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size != 0 ? size : 1);
}
[[gnu::noinline]] void countedFree(void* p) { std::free(p); }

} // namespace

// Every heap allocation of the program is counted.
void* operator new(std::size_t size) {
  if (void* p = countedAllocate(size))
    return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { countedFree(p); }
void operator delete[](void* p) noexcept { countedFree(p); }
void operator delete(void* p, std::size_t) noexcept { countedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { countedFree(p); }

namespace {

using Kestrel::SAMIContainer;
using Stream = Kestrel::SubtitleParserTemplate<SAMIContainer>::OverlayStream;

constexpr int32_t kEntries = 100000;
constexpr int32_t kStep = 1000;

// One container with one track of kEntries subtitles of typical length, announced.
struct Track {
  Track() : container(new SAMIContainer(nullptr)) {
    container->attach(&host, 1);
    const std::string text = "<font face=\"Arial\" size=\"3\">A subtitle of typical length</font>";
    Kestrel::SubtitleParserTemplate<SAMIContainer>::EntryList entries;
    for (int32_t i = 0; i < kEntries; ++i)
      entries.add(text, static_cast<uint32_t>((i + 1) * kStep), kStep / 2);
    container->createStream(entries, "bench", "en", "");
    container->selectProgram(container->getProgramIds().head->value);
    stream = static_cast<Stream*>(host.streams().at(0));
    stream->setClock(&clock);
  }
  ~Track() {
    container->closeProgram(false);
    container->release();
  }

  KestrelTest::TestContainerHost host{1};
  KestrelTest::TestClock clock{INT32_MAX};
  SAMIContainer* container;
  Stream* stream = nullptr;
};

void ReadAndRelease(benchmark::State& state) {
  Track track;
  uint64_t reads = 0;
  const uint64_t before = allocations.load();
  for (auto _ : state) {
    Kestrel::MediaChunk* sample = nullptr;
    track.stream->readStream(&sample);
    if (sample == nullptr) { // the end of the track: start again
      track.stream->rewind();
      continue;
    }
    ++reads;
    benchmark::DoNotOptimize(sample->data);
    sample->release();
  }
  state.counters["allocs/read"] =
      reads != 0 ? static_cast<double>(allocations.load() - before) / static_cast<double>(reads)
                 : 0.0;
}
BENCHMARK(ReadAndRelease);

void Seek(benchmark::State& state) {
  Track track;
  uint32_t time = 12345;
  for (auto _ : state) {
    uint32_t result = 0;
    track.stream->seekStream(time, &result, 0);
    benchmark::DoNotOptimize(result);
    // Spread over the whole track: a seek scans linearly from the start.
    time = (time * 1103515245u + 12345u) % (static_cast<uint32_t>(kEntries) * kStep);
  }
}
BENCHMARK(Seek);

} // namespace

BENCHMARK_MAIN();
