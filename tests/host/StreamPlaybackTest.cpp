// An opened track driven through the stream slots as the engine plays, seeks and reverses.

#include "support/HostPlugin.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using Kestrel::kResultFailure;
using Kestrel::kResultOk;
using KestrelTest::TempDir;
using KestrelTest::TestClock;

// One track: 1000 (shown until the next start, 5000) and 5000 (ten seconds, to 15000).
const char* const kOneTrack = "<SAMI><BODY>"
                              "<SYNC Start=1000><P>first"
                              "<SYNC Start=5000><P>second"
                              "</BODY></SAMI>";

struct PlayedContainer : KestrelTest::OpenedContainer {
  explicit PlayedContainer(const std::string& document) {
    if (!isValid() || openFile(dir.write("track.smi", document)) != kResultOk)
      return;
    if (container->selectProgram(container->getProgramIds().head->value) != kResultOk)
      return;
    const auto streams = containerHost.streams();
    if (!streams.empty() && streams[0]->setClock(&clock) == kResultOk)
      stream = streams[0];
  }
  ~PlayedContainer() {
    if (container != nullptr)
      container->closeProgram(false);
  }

  /// The start of the sample delivered now, or -1 for none; the sample is released.
  int32_t readStart() {
    Kestrel::MediaChunk* chunk = nullptr;
    stream->readStream(&chunk);
    if (chunk == nullptr)
      return -1;
    const int32_t start = chunk->timestamp;
    chunk->release();
    return start;
  }

  TempDir dir;
  TestClock clock{100000};
  Kestrel::StreamInterface* stream = nullptr;
};

TEST(StreamPlayback, SeeksRewindsAndReversesThroughTheBoundary) {
  PlayedContainer c(kOneTrack);
  ASSERT_NE(c.stream, nullptr);
  uint32_t at = 0;
  ASSERT_EQ(c.stream->seekStream(4999, &at, 0), kResultOk);
  EXPECT_EQ(at, 1000u); // inside the first subtitle
  ASSERT_EQ(c.stream->seekStream(5001, &at, 0), kResultOk);
  EXPECT_EQ(at, 5000u);
  EXPECT_EQ(c.readStart(), 5000);
  EXPECT_EQ(c.readStart(), -1);
  EXPECT_EQ(c.stream->getLastEndTime(), 15000);
  ASSERT_EQ(c.stream->getSeekPoint(0, 2000, &at), kResultOk);
  EXPECT_EQ(at, 5000u);

  // Reversing at the end seeks to the last subtitle, then plays it and the one before.
  ASSERT_TRUE(c.stream->setRate(-1000));
  EXPECT_EQ(c.stream->getRate(), -1000);
  EXPECT_EQ(c.readStart(), 5000);
  EXPECT_EQ(c.readStart(), 1000);
  EXPECT_EQ(c.readStart(), -1);
  EXPECT_EQ(c.stream->rewind(), kResultOk);
  EXPECT_EQ(c.readStart(), 5000);
  ASSERT_EQ(c.stream->getSeekPoint(0, 2000, &at), kResultOk);
  EXPECT_EQ(at, 999u); // nothing ends before 2000

  ASSERT_TRUE(c.stream->setRate(0));
  EXPECT_EQ(c.readStart(), -1);
  EXPECT_EQ(c.stream->seekStream(1, &at, 0), kResultFailure);
  Kestrel::MediaChunk* chunk = nullptr;
  EXPECT_EQ(c.stream->readStream(nullptr), kResultFailure);
  EXPECT_EQ(c.stream->setClock(nullptr), -1);
  EXPECT_EQ(chunk, nullptr);
}

TEST(StreamPlayback, DescribesTheTrackFormat) {
  PlayedContainer c(kOneTrack);
  ASSERT_NE(c.stream, nullptr);
  const Kestrel::StreamFormat* format = c.stream->getFormat();
  EXPECT_EQ(std::string(format->code.bytes, 8), std::string("UTF8\0\0\0\0", 8));
  EXPECT_EQ(format->first, 20);
  EXPECT_EQ(format->second, 4);
  EXPECT_EQ(c.stream->getImageProperties()->width, 640);
  EXPECT_EQ(c.stream->getImageProperties()->height, 480);
  EXPECT_EQ(c.stream->reserved6(), 320);
  EXPECT_EQ(c.stream->getKind(), 0);
  EXPECT_EQ(c.stream->containerId, 100u);
  EXPECT_FALSE(c.stream->reserved23(0));
}

TEST(StreamPlayback, LogsSeeksAndDeliveries) {
  if (!KestrelTest::isRecordingLog())
    GTEST_SKIP() << "runs under the recording logging library only";
  PlayedContainer c(kOneTrack);
  ASSERT_NE(c.stream, nullptr);
  KestrelTest::clearRecordedLog();
  uint32_t at = 0;
  c.stream->seekStream(2500, &at, 0);
  c.stream->seekStream(20000, &at, 0);
  c.stream->seekStream(0, &at, 0);
  c.clock.set(500);
  EXPECT_EQ(c.readStart(), 1000);
  c.stream->setRate(-1000); // seeks under the old rate: forwards to 5000, the first's end

  const std::string fn = "Kestrel::SubtitleParserTemplate<class Kestrel::SAMIContainer>::"
                         "OverlayStream::";
  EXPECT_EQ(KestrelTest::recordedLog(),
            (std::vector<std::string>{
                "Container|" + fn + "seekStream|602|Subtitle Stream: seeked to 1000",
                "Container|" + fn + "seekStream|604|Subtitle Stream: seeked to end",
                "Container|" + fn + "seekStream|602|Subtitle Stream: seeked to 1000",
                "Subtitle|" + fn +
                    "readStream|664|PARSED(Sub=0): timestamp=1000 duration=4000 mediatime=500",
                "Container|" + fn + "seekStream|602|Subtitle Stream: seeked to 5000"}));
}

// Engine threads play the tracks of one container while another closes the program: every
// sample comes once and in order until the close, and nothing after it.
TEST(StreamConcurrency, TracksPlayInOrderWhileTheProgramCloses) {
  std::string document = "<SAMI><HEAD><STYLE TYPE=\"text/css\"><!--\n"
                         ".ACC { lang: en; }\n.BCC { lang: de; }\n.CCC { lang: fr; }\n"
                         "--></STYLE></HEAD><BODY>\n";
  constexpr int kSubtitles = 400;
  for (int i = 1; i <= kSubtitles; ++i)
    for (const char* cls : {"ACC", "BCC", "CCC"})
      document += "<SYNC Start=" + std::to_string(i * 100) + "><P Class=" + cls + ">x\n";
  document += "</BODY></SAMI>";
  PlayedContainer c(document);
  ASSERT_NE(c.stream, nullptr);
  const auto streams = c.containerHost.streams();
  ASSERT_EQ(streams.size(), 3u);

  std::atomic<int> started{0};
  std::atomic<bool> closed{false};
  std::vector<int> faults(streams.size(), 0);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < streams.size(); ++t) {
    threads.emplace_back([&, t] {
      TestClock clock(0x7FFF0000);
      Kestrel::StreamInterface* stream = streams[t];
      stream->setClock(&clock);
      int32_t expected = 100;
      bool ended = false;
      // Reads until the close has been seen, with a fixed number of rewinds on the way.
      for (int round = 0; round < 2 * kSubtitles + 8 && !ended; ++round) {
        if (round == 8)
          started.fetch_add(1);
        const bool wasClosed = closed.load();
        Kestrel::MediaChunk* chunk = nullptr;
        if (stream->readStream(&chunk) != kResultOk)
          ++faults[t];
        if (chunk == nullptr) {
          if (expected <= kSubtitles * 100) {
            ended = true; // only the close empties a track early
          } else {
            stream->rewind();
            expected = 100;
          }
          continue;
        }
        if (wasClosed || chunk->timestamp != expected)
          ++faults[t];
        expected = chunk->timestamp + 100;
        chunk->release();
      }
      while (!closed.load())
        std::this_thread::yield();
      Kestrel::MediaChunk* chunk = nullptr;
      stream->readStream(&chunk);
      if (chunk != nullptr) {
        ++faults[t];
        chunk->release();
      }
      stream->setClock(&c.clock); // the local clock goes now
    });
  }
  threads.emplace_back([&] {
    while (started.load() < static_cast<int>(streams.size()))
      std::this_thread::yield();
    EXPECT_EQ(c.container->closeProgram(false), kResultOk);
    closed.store(true);
  });
  for (auto& thread : threads)
    thread.join();
  for (size_t t = 0; t < faults.size(); ++t)
    EXPECT_EQ(faults[t], 0) << "stream " << t;
}

} // namespace
