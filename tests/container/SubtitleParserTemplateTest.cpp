#include "container/SubtitleParserTemplate.h"

#include "ContainerFixture.h"

#include <gtest/gtest.h>

namespace {

using namespace ContainerTest;
using Kestrel::kResultFailure;
using Kestrel::kResultOk;

TEST(SubtitleContainer, RefusesTracksAndProgramsBeforeAttach) {
  auto container = makeContainer(nullptr);
  EXPECT_FALSE(addTrack(*container, {{1000, 2000}}));
  const auto ids = container->getProgramIds();
  ASSERT_EQ(ids.count, 1);
  EXPECT_EQ(ids.head->value, UINT64_MAX);
  EXPECT_EQ(container->selectProgram(UINT64_MAX), kResultFailure);
  EXPECT_EQ(container->closeProgram(false), kResultOk);
}

TEST(SubtitleContainer, IssuesOneProgramAndSelectsOnlyIt) {
  TestContainerHost host;
  auto container = makeContainer(&host);
  // Before getProgramIds, only the all-ones identifier is the program.
  EXPECT_EQ(container->selectProgram(10), kResultFailure);
  EXPECT_EQ(container->selectProgram(UINT64_MAX), kResultOk);

  const auto first = container->getProgramIds();
  const auto second = container->getProgramIds();
  ASSERT_EQ(first.count, 1);
  EXPECT_EQ(first.head->value, 10u);
  EXPECT_EQ(second.head->value, 10u); // fixed once
  host.clearRecords();
  EXPECT_EQ(container->selectProgram(UINT64_MAX), kResultFailure);
  // Differs only in the high half.
  EXPECT_EQ(container->selectProgram(10 | (uint64_t{1} << 32)), kResultFailure);
  EXPECT_EQ(host.languageQueries(), 0);

  // An empty store: the language is asked for, nothing is announced or selected.
  EXPECT_EQ(container->selectProgram(10), kResultOk);
  EXPECT_EQ(host.languageQueries(), 1);
  EXPECT_TRUE(host.added().empty());
  EXPECT_TRUE(host.selected().empty());
}

TEST(SubtitleContainer, ChoosesTheStreamByPreferredLanguage) {
  struct Track {
    const char* language;
    const char* region;
  };
  const struct {
    const char* preferred;
    std::vector<Track> tracks;
    size_t expected; // index into tracks (identifier order)
  } cases[] = {
      {"de", {{"fr", ""}}, 0},                                 // one stream: no choice to make
      {"en-GB", {{"eng", ""}, {"en", "GB"}, {"en", "GB"}}, 2}, // last language+region match
      {"en-GB", {{"en", "US"}, {"eng", "GB"}, {"en", "US"}}, 1},
      {"en-CA", {{"de", ""}, {"en", "US"}, {"eng", "GB"}}, 1}, // no region match: first lang
      {"fr", {{"de", ""}, {"fre", ""}, {"fr", ""}}, 1},        // counterpart, first wins
      {"EN", {{"en", ""}, {"de", ""}}, 0},                     // case-sensitive: fallback
      {"de", {{"en", ""}, {"fr", ""}, {"de", ""}}, 2},
      {"xx", {{"de", ""}, {"", ""}}, 1},          // unknown code: its empty counterpart matches ""
      {"", {{"de", ""}, {"en", ""}}, 0},          // no preference: smallest identifier
      {"en-", {{"de", ""}, {"en", ""}}, 1},       // empty region after the dash
      {"ko-KR", {{"en", "US"}, {"kr", "KR"}}, 1}, // Korean files' "kr-KR" is Korean
      {"kor", {{"en", "US"}, {"kr", "KR"}}, 1},
      {"ko", {{"en", "US"}, {"kr", ""}}, 0}, // "kr" alone, or elsewhere, is Kanuri
      {"ko", {{"en", "US"}, {"kr", "NG"}}, 0},
      {"kr", {{"en", "US"}, {"kr", "NG"}}, 1},
      {"ko", {{"en", "US"}, {"kr", "KR"}}, 1},
      {"kr-KR", {{"en", "US"}, {"kr", "KR"}}, 1}, // and it stays what its tags say
      {"kr", {{"en", "US"}, {"kr", "KR"}}, 1},
      {"kau", {{"en", "US"}, {"kr", "KR"}}, 1},
      {"kr-KR", {{"en", "US"}, {"ko", "KR"}}, 0}, // a viewer's "kr" stays Kanuri
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.preferred);
    TestContainerHost host;
    host.setPreferredLanguage(c.preferred);
    auto container = makeContainer(&host);
    for (const auto& t : c.tracks)
      ASSERT_TRUE(addTrack(*container, {{1000, 500}}, t.language, t.region));
    const auto streams = announce(*container, host);
    ASSERT_EQ(streams.size(), c.tracks.size());
    for (size_t i = 1; i < streams.size(); ++i)
      EXPECT_LT(streams[i - 1]->streamId, streams[i]->streamId); // ascending order
    ASSERT_EQ(host.selected().size(), 1u);
    EXPECT_EQ(host.selected()[0].first, streams[c.expected]->streamId);
    EXPECT_EQ(host.selected()[0].second, 1);
    EXPECT_EQ(container->closeProgram(false), kResultOk);
  }
}

TEST(SubtitleContainer, StreamZeroIsAChoiceLikeAnyOther) {
  TestContainerHost host;
  host.startIdentifiersAt(0);
  host.setPreferredLanguage("en-GB");
  auto container = makeContainer(&host);
  ASSERT_TRUE(addTrack(*container, {{1000, 500}}, "en", "GB")); // stream 0
  ASSERT_TRUE(addTrack(*container, {{1000, 500}}, "en", "US")); // stream 1
  const auto streams = announce(*container, host);
  ASSERT_EQ(streams.size(), 2u);
  ASSERT_EQ(host.selected().size(), 1u);
  EXPECT_EQ(host.selected()[0].first, 0u); // language and region beat language alone
  EXPECT_EQ(container->closeProgram(false), kResultOk);
}

TEST(SubtitleContainer, HostClosingTheProgramWhileStreamsAreAnnounced) {
  TestContainerHost host;
  auto container = makeContainer(&host);
  ASSERT_TRUE(addTrack(*container, {{1000, 500}}, "en"));
  ASSERT_TRUE(addTrack(*container, {{2000, 500}}, "de"));
  const auto program = container->getProgramIds();
  host.onAddStream = [&] {
    host.onAddStream = nullptr;
    EXPECT_EQ(container->closeProgram(false), kResultOk);
  };
  EXPECT_EQ(container->selectProgram(program.head->value), kResultOk);
  // The first stream was the engine's before the close; the second never reached it.
  EXPECT_EQ(host.added().size(), 1u);
  EXPECT_EQ(host.removed().size(), 2u);
  EXPECT_TRUE(host.selected().empty());
}

TEST(SubtitleContainer, SortsTracksByUnsignedStartKeepingTies) {
  TestContainerHost host;
  auto container = makeContainer(&host);
  EntryList entries;
  // Document order; 0x80000000 is a large unsigned start and must sort last.
  const int32_t starts[] = {5000, static_cast<int32_t>(0x80000000u), 3000, 4000, 3000};
  for (size_t i = 0; i < std::size(starts); ++i)
    entries.add("e" + std::to_string(i), static_cast<uint32_t>(starts[i]), 1);
  ASSERT_TRUE(container->createStream(entries, "n", "l", "r"));
  EXPECT_TRUE(entries.empty()) << "the container took the entries";
  const auto streams = announce(*container, host);
  ASSERT_EQ(streams.size(), 1u);

  TestClock clock(0x7fffffff);
  streams[0]->setClock(&clock);
  std::vector<std::string> order;
  for (auto r = read(*streams[0]); r.sample; r = read(*streams[0]))
    order.emplace_back(r.sample->data, static_cast<size_t>(r.sample->used));
  EXPECT_EQ(order, (std::vector<std::string>{"e2", "e4", "e3", "e0", "e1"}));
}

TEST(SubtitleContainer, CloseReleasesEntriesAndReportsEveryStream) {
  TestContainerHost host;
  auto container = makeContainer(&host);
  ASSERT_TRUE(addTrack(*container, {{1000, 2000}, {5000, 10000}}, "en"));
  ASSERT_TRUE(addTrack(*container, {{2000, 100}}, "de"));
  const auto streams = announce(*container, host);
  ASSERT_EQ(streams.size(), 2u);

  EXPECT_EQ(container->closeProgram(true), kResultOk); // ignored
  EXPECT_TRUE(host.removed().empty());

  EXPECT_EQ(container->closeProgram(false), kResultOk);
  EXPECT_EQ(host.removed(), (std::vector<uint64_t>{streams[0]->streamId, streams[1]->streamId}));

  // The engine still holds the streams: nothing to deliver, seeks report the time back.
  TestClock clock(100000);
  for (auto* stream : streams) {
    stream->setClock(&clock);
    for (int32_t rate : {1000, -1000}) {
      stream->setRate(rate);
      stream->rewind();
      auto r = read(*stream);
      EXPECT_EQ(r.code, kResultOk);
      EXPECT_FALSE(r.sample);
      uint32_t result = 0;
      EXPECT_EQ(stream->seekStream(4321, &result, 0), kResultOk);
      EXPECT_EQ(result, 4321u);
      EXPECT_EQ(stream->getSeekPoint(0, 4322, &result), kResultOk);
      EXPECT_EQ(result, 4322u);
    }
  }

  // A second close finds nothing to do.
  host.clearRecords();
  EXPECT_EQ(container->closeProgram(false), kResultOk);
  EXPECT_TRUE(host.removed().empty());
  // The program keeps its identifier; announcing again finds no streams.
  host.clearRecords();
  EXPECT_EQ(container->selectProgram(container->getProgramIds().head->value), kResultOk);
  EXPECT_TRUE(host.added().empty());
}

TEST(SubtitleContainer, ReannouncesStreamsOnEverySelect) {
  TestContainerHost host;
  auto container = makeContainer(&host);
  ASSERT_TRUE(addTrack(*container, {{1000, 1}}, "en"));
  ASSERT_TRUE(addTrack(*container, {{1000, 1}}, "de"));
  const auto ids = container->getProgramIds();
  ASSERT_EQ(container->selectProgram(ids.head->value), kResultOk);
  ASSERT_EQ(container->selectProgram(ids.head->value), kResultOk);
  ASSERT_EQ(host.added().size(), 4u);
  EXPECT_EQ(host.added()[0], host.added()[2]);
  EXPECT_EQ(host.selected().size(), 2u);
}

// Run under LeakSanitizer, these show what a container leaves behind when the engine
// releases it without closing the program.
TEST(SubtitleContainer, DestroyedWithoutCloseReleasesWhatItOwns) {
  TestContainerHost host;
  {
    auto container = makeContainer(&host);
    ASSERT_TRUE(addTrack(*container, {{1000, 2000}, {3000, 10}}, "en"));
    ASSERT_TRUE(addTrack(*container, {{0, 5}}, "de"));
  } // never announced: the streams and their entries go with the container
  EXPECT_TRUE(host.added().empty());

  Stream* kept = nullptr;
  {
    auto container = makeContainer(&host);
    ASSERT_TRUE(addTrack(*container, {{1000, 2000}}, "en", "", "kept"));
    kept = announce(*container, host).at(0);
  }
  // The announced stream is the engine's and outlives the container.
  Kestrel::BufferString name;
  EXPECT_TRUE(kept->getDescription(&name, nullptr, nullptr, 0));
  EXPECT_EQ(name, "kept");
  EXPECT_TRUE(host.removed().empty()); // no notices from a container being destroyed

  // The engine may also delete its streams first: the container must not touch them then.
  {
    auto container = makeContainer(&host);
    ASSERT_TRUE(addTrack(*container, {{1000, 2000}}, "en"));
    ASSERT_TRUE(addTrack(*container, {{1000, 2000}}, "de"));
    announce(*container, host);
    host.deleteStreams();
  }
}

TEST(SubtitleContainer, ClosingBeforeAnnouncingFreesTheStreams) {
  TestContainerHost host;
  auto container = makeContainer(&host);
  ASSERT_TRUE(addTrack(*container, {{1000, 2000}}, "en"));
  ASSERT_TRUE(addTrack(*container, {{10, 20}, {30, 40}}, "de"));
  EXPECT_EQ(container->closeProgram(false), kResultOk);
  EXPECT_EQ(host.removed().size(), 2u);
  EXPECT_TRUE(host.added().empty());
}

TEST(SubtitleContainer, RepeatedIdentifierReplacesTheEarlierTrackWithoutLeaking) {
  TestContainerHost host;
  host.repeatIdentifiers = true;
  auto container = makeContainer(&host);
  ASSERT_TRUE(addTrack(*container, {{1000, 1}}, "en"));
  ASSERT_TRUE(addTrack(*container, {{2000, 1}}, "de"));
  host.repeatIdentifiers = false;
  const auto streams = announce(*container, host);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0]->languageCode(), "de");
  EXPECT_EQ(container->closeProgram(false), kResultOk);
}

TEST(SubtitleContainer, ConstantSlotsAndEmptyLocation) {
  TestContainerHost host;
  auto container = makeContainer(&host);
  Kestrel::SubtitleContainerInterface* boundary = container.get();
  EXPECT_EQ(boundary->reserved9(), 0);
  EXPECT_FALSE(boundary->reserved20(5));
  const auto location = boundary->getLocation();
  EXPECT_TRUE(location.isEmpty());
  const auto empty = boundary->reserved11(1, 2);
  EXPECT_TRUE(empty.isEmpty());
  // A SAMI source has no location, so its size cannot be found.
  uint64_t size = 99;
  EXPECT_EQ(boundary->getSourceSize(&size), kResultFailure);
  EXPECT_EQ(size, 99u);
  EXPECT_EQ(boundary->getSourceSize(nullptr), kResultFailure);
}

} // namespace
