#include "container/OverlayStream.h"

#include "ContainerFixture.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string_view>

namespace {

using namespace ContainerTest;
using Kestrel::kResultFailure;
using Kestrel::kResultNotYet;
using Kestrel::kResultOk;

// Two entries: 1000 for 2000 (ending at 3000) and 5000 for 10000 (ending at 15000).
class TwoEntryStream : public ::testing::Test {
protected:
  void SetUp() override {
    container_ = makeContainer(&host_);
    ASSERT_TRUE(addTrack(*container_, {{1000, 2000}, {5000, 10000}}, "en", "", "English"));
    const auto streams = announce(*container_, host_);
    ASSERT_EQ(streams.size(), 1u);
    stream_ = streams[0];
    ASSERT_EQ(stream_->setClock(&clock_), kResultOk);
  }

  /// seekStream(time) and what it reports; the position is read after.
  std::pair<int32_t, uint32_t> seek(uint32_t time) {
    uint32_t result = 0xdeadbeef;
    EXPECT_EQ(stream_->seekStream(time, &result, 0), kResultOk);
    return {stream_->readPosition(), result};
  }

  TestContainerHost host_;
  ContainerPtr container_;
  TestClock clock_;
  Stream* stream_ = nullptr;
};

TEST_F(TwoEntryStream, DeliversEachEntryWithinHalfASecondOfItsStart) {
  clock_.set(400); // 900 < 1000
  auto r = read(*stream_);
  EXPECT_EQ(r.code, kResultNotYet);
  EXPECT_FALSE(r.sample);
  EXPECT_EQ(stream_->readPosition(), 0);

  clock_.set(500);
  r = read(*stream_);
  ASSERT_EQ(r.code, kResultOk);
  ASSERT_TRUE(r.sample);
  EXPECT_EQ(r.sample->timestamp, 1000);
  EXPECT_EQ(r.sample->duration, 2000);
  EXPECT_EQ(stream_->readPosition(), 1);
  EXPECT_EQ(stream_->getLastEndTime(), 3000);

  clock_.set(4000); // 4500 < 5000
  EXPECT_EQ(read(*stream_).code, kResultNotYet);
  clock_.set(4500);
  r = read(*stream_);
  ASSERT_TRUE(r.sample);
  EXPECT_EQ(r.sample->timestamp, 5000);
  EXPECT_EQ(stream_->getLastEndTime(), 15000);

  r = read(*stream_); // the end
  EXPECT_EQ(r.code, kResultOk);
  EXPECT_FALSE(r.sample);
}

TEST_F(TwoEntryStream, SampleIsAnIndependentCopyWithoutTerminator) {
  clock_.set(1000);
  auto r = read(*stream_);
  ASSERT_TRUE(r.sample);
  const Kestrel::StoredEntry& entry = stream_->storedEntries()[0];
  EXPECT_NE(r.sample->data, entry.stored);
  EXPECT_EQ(r.sample->size, 5); // "s1000"
  EXPECT_EQ(r.sample->used, 5);
  EXPECT_EQ(std::memcmp(r.sample->data, "s1000", 5), 0);
  EXPECT_EQ(r.sample->allocator, &container_->chunkAllocator());
  // The stored entry is untouched, so a seek back delivers the same text again.
  r.sample->data[0] = 'X';
  EXPECT_EQ(stream_->storedTexts()->textAt(entry.stored), "s1000");
}

TEST_F(TwoEntryStream, DeliversNothingWithoutATimeOrAnOutput) {
  Kestrel::MediaChunk* chunk = nullptr;
  clock_.set(-1);
  EXPECT_EQ(stream_->readStream(&chunk), kResultNotYet);
  EXPECT_EQ(chunk, nullptr);
  clock_.set(100000);
  EXPECT_EQ(stream_->readStream(nullptr), kResultFailure);
  EXPECT_EQ(stream_->readPosition(), 0);
  EXPECT_EQ(stream_->setClock(nullptr), kResultNotYet); // keeps the clock it had
  EXPECT_EQ(read(*stream_).sample->timestamp, 1000);

  // A stream that never got a clock.
  ASSERT_TRUE(addTrack(*container_, {{0, 1}}));
  host_.clearRecords();
  const auto streams = announce(*container_, host_);
  EXPECT_EQ(read(*streams.back()).code, kResultNotYet);
}

TEST_F(TwoEntryStream, SeeksForwardToTheEntryShowingAtTheTime) {
  const struct {
    uint32_t time;
    int32_t position;
    uint32_t result;
  } cases[] = {{0, 0, 1000},     {2500, 0, 1000},   {3000, 0, 1000},  {3001, 1, 5000},
               {15000, 1, 5000}, {15001, 2, 15001}, {20000, 2, 15001}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.time);
    EXPECT_EQ(seek(c.time), std::make_pair(c.position, c.result));
  }
}

TEST_F(TwoEntryStream, SeeksBackwardToTheEntryStartedBeforeTheTime) {
  ASSERT_TRUE(stream_->setRate(-1000));
  const struct {
    uint32_t time;
    int32_t position;
    uint32_t result;
  } cases[] = {{5000, 0, 1000}, {5001, 1, 5000}, {1001, 0, 1000},
               {1000, 0, 0},    {0, 0, 0},       {UINT32_MAX, 1, 5000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.time);
    EXPECT_EQ(seek(c.time), std::make_pair(c.position, c.result));
  }
  EXPECT_EQ(stream_->seekStream(5001, nullptr, 0), kResultOk); // no output wanted
  EXPECT_EQ(stream_->readPosition(), 1);
}

TEST_F(TwoEntryStream, SeekPointsLookAheadInTheDirectionOfPlay) {
  uint32_t point = 0;
  const struct {
    int32_t rate;
    uint32_t time;
    uint32_t point;
  } cases[] = {{1000, 2000, 5000}, {1000, 1000, 1000},  {1000, 5001, 15000},
               {-1000, 2000, 999}, {-1000, 3001, 1000}, {-1000, 15001, 5000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " " << c.time);
    stream_->setRate(c.rate);
    const int32_t before = stream_->readPosition();
    EXPECT_EQ(stream_->getSeekPoint(0, c.time, &point), kResultOk);
    EXPECT_EQ(point, c.point);
    EXPECT_EQ(stream_->readPosition(), before);
  }
  EXPECT_EQ(stream_->getSeekPoint(0, 1, nullptr), kResultFailure);
}

TEST_F(TwoEntryStream, FirstStartZeroWrapsTheBackwardSeekPoint) {
  ASSERT_TRUE(addTrack(*container_, {{0, 100}}));
  host_.clearRecords();
  Stream* stream = announce(*container_, host_).back();
  stream->setRate(-1);
  uint32_t point = 0;
  EXPECT_EQ(stream->getSeekPoint(0, 50, &point), kResultOk);
  EXPECT_EQ(point, UINT32_MAX);
}

TEST_F(TwoEntryStream, ReversingSeeksUnderTheOldRateThenPlaysBackwards) {
  clock_.set(1000);
  ASSERT_TRUE(read(*stream_).sample); // position 1
  ASSERT_TRUE(stream_->setRate(-1000));
  EXPECT_EQ(stream_->getRate(), -1000);
  EXPECT_EQ(stream_->readPosition(), 1); // a forward seek to 15000 selects the second entry

  clock_.set(100000);
  std::vector<int32_t> starts;
  for (auto r = read(*stream_); r.sample; r = read(*stream_))
    starts.push_back(r.sample->timestamp);
  EXPECT_EQ(starts, (std::vector<int32_t>{5000, 1000}));
  EXPECT_EQ(stream_->readPosition(), -1);

  // Back to forwards from the beginning: clamped to entry 0, seek (backwards) to its start
  // finds nothing before it.
  ASSERT_TRUE(stream_->setRate(1000));
  EXPECT_EQ(stream_->readPosition(), 0);
}

TEST_F(TwoEntryStream, StoppedStreamDeliversNothingAndRefusesSeeks) {
  EXPECT_TRUE(stream_->setRate(1000)); // the current rate: nothing happens
  EXPECT_EQ(stream_->readPosition(), 0);
  ASSERT_TRUE(stream_->setRate(0));
  clock_.set(100000);
  auto r = read(*stream_);
  EXPECT_EQ(r.code, kResultOk);
  EXPECT_FALSE(r.sample);
  uint32_t out = 7;
  EXPECT_EQ(stream_->seekStream(3001, &out, 0), kResultFailure);
  EXPECT_EQ(stream_->getSeekPoint(0, 3001, &out), kResultFailure);
  EXPECT_EQ(out, 7u);
  EXPECT_EQ(stream_->readPosition(), 0);
  // Leaving rate 0 seeks under rate 0, which fails: the position stays.
  ASSERT_TRUE(stream_->setRate(-1000));
  EXPECT_EQ(stream_->readPosition(), 0);
  EXPECT_EQ(read(*stream_).sample->timestamp, 1000);
}

TEST_F(TwoEntryStream, RewindGoesToTheEndOfPlay) {
  clock_.set(100000);
  while (read(*stream_).sample) {
  }
  EXPECT_EQ(stream_->rewind(), kResultOk);
  EXPECT_EQ(read(*stream_).sample->timestamp, 1000);
  stream_->setRate(-1000);
  EXPECT_EQ(stream_->rewind(), kResultOk);
  EXPECT_EQ(stream_->readPosition(), 1);
  stream_->setRate(0);
  EXPECT_EQ(stream_->rewind(), kResultOk);
  EXPECT_EQ(stream_->readPosition(), 1);
}

TEST_F(TwoEntryStream, DescribesItselfAsAUtf8OverlayTrack) {
  Kestrel::StreamInterface* boundary = stream_;
  const Kestrel::StreamFormat* format = boundary->getFormat();
  EXPECT_EQ(std::memcmp(format->code.bytes, "UTF8\0\0\0\0", 8), 0);
  EXPECT_EQ(format->first, 20);
  EXPECT_EQ(format->second, 4);
  EXPECT_EQ(format->third, 0);
  EXPECT_EQ(boundary->getImageProperties()->width, 640);
  EXPECT_EQ(boundary->getImageProperties()->height, 480);
  EXPECT_EQ(boundary->reserved1(), 0);
  EXPECT_EQ(boundary->reserved6(), 320);
  EXPECT_EQ(boundary->reserved13(), 0);
  EXPECT_FALSE(boundary->reserved23(1));
  EXPECT_EQ(boundary->getKind(), 0);
  EXPECT_EQ(boundary->getRate(), 1000);
  EXPECT_EQ(boundary->containerId, 7u);
  EXPECT_EQ(boundary->getLinkedStreams(0).count, 0);
}

TEST_F(TwoEntryStream, DescriptionCopiesOnlyNonEmptyMembers) {
  Kestrel::BufferString name("old");
  Kestrel::BufferString language("old");
  Kestrel::BufferString region("old");
  EXPECT_FALSE(stream_->getDescription(nullptr, nullptr, nullptr, 0));
  EXPECT_TRUE(stream_->getDescription(&name, &language, &region, 0));
  EXPECT_EQ(name, "English");
  EXPECT_EQ(language, "en");
  EXPECT_EQ(region, "old"); // the stream's region is empty
  EXPECT_FALSE(stream_->getDescription(nullptr, nullptr, &region, 0));
}

TEST(OverlayStream, EmptyTextsAndEqualStartsAreDelivered) {
  TestContainerHost host;
  auto container = makeContainer(&host);
  EntryList entries;
  entries.add("", 1000, 0);
  entries.add("b", 1000, 10000);
  ASSERT_TRUE(container->createStream(entries, "", "", ""));
  Stream* stream = announce(*container, host).at(0);
  TestClock clock(1000);
  stream->setClock(&clock);
  auto r = read(*stream);
  ASSERT_TRUE(r.sample);
  EXPECT_EQ(r.sample->size, 0);
  EXPECT_EQ(r.sample->duration, 0);
  r = read(*stream);
  ASSERT_TRUE(r.sample);
  EXPECT_EQ(std::string(r.sample->data, 1), "b");
  EXPECT_EQ(container->closeProgram(false), kResultOk); // releases the empty entry too
}

} // namespace
