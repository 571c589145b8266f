#include "FailingAllocator.h"
#include "container/ContainerFixture.h"

#include <gtest/gtest.h>
#include <new>
#include <string>
#include <vector>

namespace {

using namespace ContainerTest;
using Kestrel::kResultFailure;
using Kestrel::kResultOk;

// What the engine sees of an opened container: each stream's name, language and subtitles.
std::vector<std::string> describe(Kestrel::SAMIContainer& container, TestContainerHost& host) {
  std::vector<std::string> out;
  TestClock clock(1000000);
  for (Stream* stream : announce(container, host)) {
    Kestrel::BufferString name, language, region;
    stream->getDescription(&name, &language, &region, 0);
    std::string line = name.toStdString() + "/" + language.toStdString() + ":";
    EXPECT_EQ(stream->setClock(&clock), kResultOk);
    for (ReadResult r = read(*stream); r.sample; r = read(*stream))
      line += " " + std::string(r.sample->data, static_cast<size_t>(r.sample->size));
    stream->setClock(nullptr);
    out.push_back(line);
  }
  return out;
}

} // namespace

// Wherever an open runs out of memory, it fails and leaves nothing behind, or works around
// it and opens the document whole.
void sweepAllocationFailures(const std::string& document, std::size_t streams) {
  KestrelTest::TempDir dir;
  const Kestrel::BufferString url(KestrelTest::fileUrl(dir.write("film.smi", document)).c_str());
  Kestrel::SourceDescriptor source;
  source.url = &url;

  std::vector<std::string> expected;
  {
    TestContainerHost host;
    ContainerPtr container = makeContainer(&host);
    ASSERT_EQ(container->open(&source), kResultOk);
    expected = describe(*container, host);
    ASSERT_EQ(expected.size(), streams);
  }
  // The n-th allocation of the open fails, for every n until an open makes no more.
  long failures = 0;
  for (long n = 0;; ++n) {
    TestContainerHost host;
    host.recordQueries = false; // only the open's own allocations fail
    ContainerPtr container = makeContainer(&host);
    AllocTest::failAfter(n);
    const int32_t result = container->open(&source);
    if (!AllocTest::disarm()) {
      EXPECT_EQ(result, kResultOk);
      EXPECT_EQ(describe(*container, host), expected);
      break;
    }
    ++failures;
    // A failure the open could work around (a sort without its scratch buffer) still
    // opens the document whole; any other fails the open.
    if (result == kResultOk)
      EXPECT_EQ(describe(*container, host), expected) << n;
    else
      EXPECT_EQ(result, kResultFailure) << n;
  }
  EXPECT_GT(failures, 20);
}

TEST(AllocationFailure, OpenFailsCleanlyWhereverMemoryRunsOut) {
  sweepAllocationFailures(
      "<SAMI><HEAD><STYLE TYPE=\"text/css\"><!--\nP { font-weight: bold; }\n"
      ".ENCC { Name: English; lang: en-US; }\n.KRCC { Name: Korean; lang: ko-KR; }\n"
      "--></STYLE></HEAD><BODY>\n"
      "<SYNC Start=1000><P Class=ENCC>Tom &amp; Jerry<br>again\n"
      "<SYNC Start=1000><P Class=KRCC><font color=red>안녕</font>\n"
      "<SYNC Start=3000><P Class=ENCC>&nbsp;\n<SYNC Start=3000><P Class=KRCC>&nbsp;\n"
      "<SYNC Start=1000><P Class=ENCC>once more\n" // the subtitle at 1000 taken up again
      "</BODY></SAMI>\n",
      2);
  // A track that fills the first part of a longer document: its entries grow at its pace,
  // which asks for more than doubling would.
  std::string paced = "<SAMI><BODY>\n";
  for (int i = 1; i <= 1100; ++i)
    paced += "<SYNC Start=" + std::to_string(i) + "><P>" + std::to_string(i) + "\n";
  sweepAllocationFailures(paced + "<!--" + std::string(200000, '-') + "></BODY></SAMI>\n", 1);
}

TEST(AllocationFailure, AnOpenAllocatesPerTrackNotPerSubtitle) {
  // Two styled tracks of n subtitles each: a thousand times the subtitles adds only the
  // doublings of two entry arrays, where one allocation per subtitle would add thousands.
  KestrelTest::TempDir dir;
  const auto allocationsOpening = [&dir](int subtitles) {
    std::string document = "<SAMI><HEAD><STYLE TYPE=\"text/css\"><!--\nP { color: white; }\n"
                           ".ENCC { lang: en-US; }\n.KRCC { lang: ko-KR; }\n--></STYLE></HEAD>";
    for (int i = 0; i < subtitles; ++i)
      for (const char* cls : {"ENCC", "KRCC"})
        document += "<SYNC Start=" + std::to_string(1000 * (i + 1)) + "><P Class=" + cls +
                    ">line " + std::to_string(i) + " &amp; more<br>second\n";
    const Kestrel::BufferString url(
        KestrelTest::fileUrl(dir.write("n" + std::to_string(subtitles) + ".smi", document))
            .c_str());
    Kestrel::SourceDescriptor source;
    source.url = &url;
    TestContainerHost host;
    host.recordQueries = false;
    ContainerPtr container = makeContainer(&host);
    AllocTest::startCounting();
    const int32_t result = container->open(&source);
    const long made = AllocTest::counted();
    AllocTest::disarm();
    EXPECT_EQ(result, kResultOk);
    return made;
  };
  (void)allocationsOpening(1); // what the first open of a process sets up once
  const long few = allocationsOpening(10);
  const long many = allocationsOpening(10000);
  const long most = allocationsOpening(100000);
  EXPECT_GT(few, 0);
  EXPECT_LT(many - few, 100) << few << " then " << many; // some two dozen doublings
  // Past a thousand entries an array grows to its track's pace at once: ten times the
  // subtitles costs each track about one growth more, not three more doublings.
  EXPECT_LE(most - many, 3) << many << " then " << most;
}

TEST(AllocationFailure, ReadFailsAndTheSubtitleStaysNext) {
  TestContainerHost host;
  ContainerPtr container = makeContainer(&host);
  ASSERT_TRUE(addTrack(*container, {{1000, 2000}, {5000, 10000}}));
  const auto streams = announce(*container, host);
  ASSERT_EQ(streams.size(), 1u);
  TestClock clock(600);
  ASSERT_EQ(streams[0]->setClock(&clock), kResultOk);

  // The copy of the text, then the sample around it.
  for (long n = 0; n < 2; ++n) {
    AllocTest::failAfter(n);
    ReadResult r = read(*streams[0]);
    EXPECT_TRUE(AllocTest::disarm());
    EXPECT_EQ(r.code, kResultFailure) << n;
    EXPECT_FALSE(r.sample) << n;
    EXPECT_EQ(streams[0]->readPosition(), 0) << n;
  }
  ReadResult r = read(*streams[0]);
  ASSERT_EQ(r.code, kResultOk);
  ASSERT_TRUE(r.sample);
  EXPECT_EQ(std::string(r.sample->data, static_cast<size_t>(r.sample->size)), "s1000");
  EXPECT_EQ(streams[0]->readPosition(), 1);
  streams[0]->setClock(nullptr);
}

TEST(AllocationFailure, RepeatedIdentifierKeepsTheStoredTrackWhenMemoryRunsOut) {
  // An engine that hands out one identifier twice: the second track replaces the first only
  // once everything it needs is had; until then the first stays whole and readable.
  long n = 0;
  for (;; ++n) {
    TestContainerHost host;
    host.recordQueries = false;
    host.repeatIdentifiers = true;
    ContainerPtr container = makeContainer(&host);
    ASSERT_TRUE(addTrack(*container, {{1000, 2000}}, "", "", "first"));
    // Only the store's own allocations fail: the entry is made before.
    EntryList entries;
    entries.add("s5000", 5000, 1000);
    bool stored = false;
    AllocTest::failAfter(n);
    try {
      stored = container->createStream(entries, Kestrel::BufferString("second"),
                                       Kestrel::BufferString(), Kestrel::BufferString());
    } catch (const std::bad_alloc&) {
      stored = false; // the container's callers turn this into a failed open
    }
    const bool failed = AllocTest::disarm();
    std::vector<std::string> seen = describe(*container, host);
    ASSERT_FALSE(seen.empty()) << n;
    EXPECT_EQ(seen.back(), stored ? "second/: s5000" : "first/: s1000") << n;
    if (!failed)
      break;
  }
  EXPECT_GE(n, 2); // the stream and the map's node; the stream reads the track's entries in place
}
