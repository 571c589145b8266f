#include "ContainerFixture.h"
#include "container/OverlayStream.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace {

using namespace ContainerTest;

constexpr int32_t kEntries = 300;
constexpr int32_t kStep = 100; // entry i starts at (i + 1) * kStep and shows for kStep / 2
constexpr int kReaders = 3;
constexpr int kOperations = 3000;
constexpr int kOperationsBeforeClose = 200;

// One engine thread driving one stream. It tracks which entry must come next and counts
// every sample that breaks the sequence (lost or repeated).
class Reader {
public:
  Reader(Stream& stream, const std::atomic<bool>& closing, const std::atomic<bool>& closed,
         uint32_t seed)
      : stream_(stream), closing_(closing), closed_(closed), seed_(seed) {}

  void run(std::atomic<int>& started) {
    stream_.setClock(&clock_);
    for (int i = 0; i < kOperations; ++i) {
      if (i == kOperationsBeforeClose)
        started.fetch_add(1);
      const uint32_t pick = next() % 16;
      if (pick == 0)
        reverse();
      else if (pick == 1)
        seek();
      else
        readOne();
    }
    // However the threads were scheduled, the stream must end up empty once the close has
    // returned: a seek into a gap reports its own time back and nothing is delivered.
    while (!closed_.load())
      std::this_thread::yield();
    seek();
    readOne();
  }

  int faults = 0;
  int delivered = 0;
  bool sawClose = false;

private:
  uint32_t next() {
    seed_ = seed_ * 1664525u + 1013904223u;
    return seed_ >> 8;
  }
  static bool inTrack(int64_t start) { return start >= kStep && start <= kEntries * kStep; }

  // An empty answer where an entry was due is only right once the program is closing; from
  // then on the stream must stay empty.
  void noteEmpty() {
    if (!closing_.load())
      ++faults;
    sawClose = true;
  }

  void readOne() {
    auto r = read(stream_);
    if (r.code != Kestrel::kResultOk) {
      ++faults;
      return;
    }
    if (!r.sample) {
      if (inTrack(expected_) && !sawClose)
        noteEmpty();
      return;
    }
    if (sawClose || r.sample->timestamp != expected_)
      ++faults;
    ++delivered;
    expected_ = r.sample->timestamp + direction_ * kStep;
  }

  // Seeks into a gap between two entries, so a reported time equal to the request means
  // the list was emptied by the close.
  void seek() {
    const uint32_t time = (next() % (kEntries + 1) + 1) * kStep + 75;
    uint32_t result = 0;
    if (stream_.seekStream(time, &result, 0) != Kestrel::kResultOk) {
      ++faults;
      return;
    }
    if (result == time) {
      if (!sawClose)
        noteEmpty();
      return;
    }
    if (sawClose)
      ++faults;
    expected_ = result;
  }

  void reverse() {
    direction_ = -direction_;
    stream_.setRate(direction_ * 1000);
    seek(); // the rate change moved the position; fix it where we can predict it
  }

  Stream& stream_;
  const std::atomic<bool>& closing_;
  const std::atomic<bool>& closed_;
  uint32_t seed_;
  TestClock clock_{INT32_MAX};
  int64_t expected_ = kStep;
  int32_t direction_ = 1;
};

TEST(OverlayStreamConcurrency, ReadersKeepTheirSequenceWhileTheProgramCloses) {
  TestContainerHost host;
  auto container = makeContainer(&host);
  for (int t = 0; t < kReaders; ++t) {
    std::vector<EntrySpec> specs;
    for (int32_t i = 0; i < kEntries; ++i)
      specs.push_back({(i + 1) * kStep, kStep / 2});
    ASSERT_TRUE(addTrack(*container, specs));
  }
  const auto streams = announce(*container, host);
  ASSERT_EQ(streams.size(), static_cast<size_t>(kReaders));

  std::atomic<bool> closing{false};
  std::atomic<bool> closed{false};
  std::atomic<int> started{0};
  std::vector<std::unique_ptr<Reader>> readers;
  for (int t = 0; t < kReaders; ++t)
    readers.push_back(std::make_unique<Reader>(*streams[static_cast<size_t>(t)], closing, closed,
                                               17u + static_cast<uint32_t>(t)));

  std::vector<std::thread> threads;
  for (auto& reader : readers)
    threads.emplace_back([r = reader.get(), &started] { r->run(started); });
  // The close lands while every reader is busy: each has done some work and has most of its
  // operations still ahead.
  threads.emplace_back([&] {
    while (started.load() < kReaders)
      std::this_thread::yield();
    closing.store(true);
    EXPECT_EQ(container->closeProgram(false), Kestrel::kResultOk);
    closed.store(true);
  });
  for (auto& thread : threads)
    thread.join();

  for (const auto& reader : readers) {
    EXPECT_EQ(reader->faults, 0);
    EXPECT_GT(reader->delivered, 0);
    EXPECT_TRUE(reader->sawClose);
  }
  EXPECT_EQ(host.removed().size(), static_cast<size_t>(kReaders));
  for (auto* stream : streams) {
    stream->rewind();
    EXPECT_FALSE(read(*stream).sample);
  }
}

// Every stream operation and every getter, the container's too, on shared streams from several
// threads while another closes the program: ThreadSanitizer must find no race, and nothing may
// fail that the engine would see as an error.
TEST(OverlayStreamConcurrency, EveryCallMayRaceTheClose) {
  TestContainerHost host;
  auto container = makeContainer(&host);
  std::vector<EntrySpec> specs;
  for (int32_t i = 0; i < kEntries; ++i)
    specs.push_back({(i + 1) * kStep, kStep / 2});
  ASSERT_TRUE(addTrack(*container, specs));
  ASSERT_TRUE(addTrack(*container, specs));
  const auto streams = announce(*container, host);
  ASSERT_EQ(streams.size(), 2u);

  std::atomic<int> failures{0};
  std::atomic<int> started{0};
  // The clocks outlive every thread: a stream keeps the last clock any thread gave it.
  std::vector<std::unique_ptr<TestClock>> clocks;
  for (int t = 0; t < 4; ++t)
    clocks.push_back(std::make_unique<TestClock>(INT32_MAX));
  const auto hammer = [&](Stream& stream, uint32_t seed, TestClock& clock) {
    stream.setClock(&clock);
    for (int i = 0; i < kOperations; ++i) {
      if (i == kOperationsBeforeClose)
        started.fetch_add(1);
      seed = seed * 1664525u + 1013904223u;
      const uint32_t time = (seed >> 8) % (kEntries * kStep);
      uint32_t out = 0;
      int32_t first = 0;
      int32_t second = 0;
      Kestrel::BufferString name;
      Kestrel::BufferString language;
      Kestrel::BufferString region;
      switch ((seed >> 4) % 12) {
      case 0:
        failures += read(stream).code != Kestrel::kResultOk;
        break;
      case 1:
        failures += stream.seekStream(time, &out, 0) != Kestrel::kResultOk;
        break;
      case 2:
        (void)stream.getSeekPoint(0, time, &out);
        break;
      case 3:
        stream.setRate((seed & 1) != 0 ? -1000 : 1000);
        break;
      case 4:
        (void)stream.rewind();
        break;
      case 5:
        (void)(stream.getRate() + stream.getLastEndTime() + stream.getValueA() +
               stream.getValueB() + stream.getKind() + stream.getFlag());
        break;
      case 6:
        (void)stream.setValueA(static_cast<int32_t>(time));
        stream.setValueB(static_cast<int32_t>(time));
        break;
      case 7:
        failures += !stream.getDescription(&name, &language, &region, 0);
        (void)stream.getFormat();
        (void)stream.getImageProperties();
        stream.getPair(&first, &second);
        break;
      case 8:
        (void)container->getProgramIds();
        break;
      case 9:
        (void)container->getLocation();
        (void)container->getContainerId();
        break;
      case 10: {
        uint64_t size = 0;
        (void)container->getSourceSize(&size);
        break;
      }
      default:
        (void)stream.setClock(&clock);
      }
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back(hammer, std::ref(*streams[static_cast<size_t>(t % 2)]),
                         101u + static_cast<uint32_t>(t),
                         std::ref(*clocks[static_cast<size_t>(t)]));
  threads.emplace_back([&] {
    while (started.load() < 4)
      std::this_thread::yield();
    EXPECT_EQ(container->closeProgram(false), Kestrel::kResultOk);
  });
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(host.removed().size(), 2u);
}

} // namespace
