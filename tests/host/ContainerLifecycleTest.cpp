// The container's program and track store as an engine drives them through the loaded
// plug-in: identifiers, announcement, closing and release.

#include "support/HostPlugin.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Kestrel::kResultFailure;
using Kestrel::kResultOk;
using KestrelTest::OpenedContainer;
using KestrelTest::TempDir;
using KestrelTest::TestContainerHost;
using EventKind = TestContainerHost::EventKind;

// Two classes: A with subtitles at 1000 and 5000, B with one at 2000.
const char* const kTwoTracks = "<SAMI>\n<HEAD>\n<STYLE TYPE=\"text/css\">\n<!--\n"
                               ".ACC { Name: Alpha; lang: en-GB; }\n"
                               ".BCC { Name: Beta; lang: de; }\n"
                               "-->\n</STYLE>\n</HEAD>\n<BODY>\n"
                               "<SYNC Start=1000><P Class=ACC>one\n"
                               "<SYNC Start=2000><P Class=BCC>eins\n"
                               "<SYNC Start=5000><P Class=ACC>two\n"
                               "</BODY>\n</SAMI>\n";

std::vector<EventKind> kindsOf(const TestContainerHost& host) {
  std::vector<EventKind> kinds;
  for (const auto& e : host.streamEvents())
    kinds.push_back(e.kind);
  return kinds;
}

TEST(ContainerLifecycle, RefusesProgramsBeforeAttach) {
  KestrelTest::TestPluginHost pluginHost;
  Kestrel::Plugin* made = nullptr;
  KestrelTest::LoadedPlugin::instance().getPlugin(&pluginHost, &made);
  KestrelTest::Ref<Kestrel::Plugin> plugin;
  plugin.adopt(made);
  ASSERT_TRUE(plugin) << KestrelTest::LoadedPlugin::instance().error();
  const Kestrel::BufferString id(Kestrel::kContainerInterfaceId);
  void* found = nullptr;
  ASSERT_EQ(plugin->queryInterface(&id, &found), kResultOk);
  auto* container = static_cast<Kestrel::ContainerInterface*>(found);

  const auto ids = container->getProgramIds();
  ASSERT_EQ(ids.count, 1);
  EXPECT_EQ(ids.head->value, UINT64_MAX);
  EXPECT_EQ(container->selectProgram(UINT64_MAX), kResultFailure);
  EXPECT_EQ(container->closeProgram(false), kResultOk);
}

TEST(ContainerLifecycle, IssuesOneProgramAndAnswersTheConstantSlots) {
  OpenedContainer c(100, 40);
  ASSERT_TRUE(c.isValid());
  const auto first = c.container->getProgramIds();
  const auto second = c.container->getProgramIds();
  ASSERT_EQ(first.count, 1);
  EXPECT_EQ(first.head->value, 40u);
  EXPECT_EQ(second.head->value, 40u);
  EXPECT_EQ(c.containerHost.issuedIdentifiers(), std::vector<uint64_t>{40});
  EXPECT_EQ(c.container->selectProgram(41), kResultFailure);
  EXPECT_TRUE(c.containerHost.streamEvents().empty());

  EXPECT_EQ(c.container->reserved9(), 0);
  EXPECT_TRUE(c.container->getLocation().isEmpty());
  EXPECT_TRUE(c.container->reserved11(3, 4).isEmpty());
  EXPECT_FALSE(c.subtitle()->reserved20(1));
  uint64_t size = 5;
  EXPECT_EQ(c.container->getSourceSize(&size), kResultFailure); // SAMI keeps no location
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(c.container->getSourceSize(nullptr), kResultFailure);
}

TEST(ContainerLifecycle, AnnouncesSelectsAndClosesEveryTrack) {
  TempDir dir;
  OpenedContainer c;
  c.containerHost.setPreferredLanguage("de-AT");
  ASSERT_EQ(c.openFile(dir.write("two.smi", kTwoTracks)), kResultOk);
  const uint64_t program = c.container->getProgramIds().head->value;
  ASSERT_EQ(c.container->selectProgram(program), kResultOk);
  const auto streams = c.containerHost.streams();
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_LT(streams[0]->streamId, streams[1]->streamId);
  EXPECT_EQ(kindsOf(c.containerHost),
            (std::vector<EventKind>{EventKind::Added, EventKind::Added, EventKind::Selected}));
  EXPECT_EQ(c.containerHost.streamEvents().back().id, streams[1]->streamId); // de
  EXPECT_EQ(c.containerHost.streamEvents().back().flag, 1);

  c.containerHost.clearRecords();
  EXPECT_EQ(c.container->closeProgram(true), kResultOk);
  EXPECT_TRUE(c.containerHost.streamEvents().empty());
  EXPECT_EQ(c.container->closeProgram(false), kResultOk);
  const auto events = c.containerHost.streamEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, EventKind::Removed);
  EXPECT_EQ(events[0].id, streams[0]->streamId);
  EXPECT_EQ(events[1].id, streams[1]->streamId);

  // The engine's streams stay valid and empty.
  KestrelTest::TestClock clock(100000);
  for (auto* stream : streams) {
    ASSERT_EQ(stream->setClock(&clock), kResultOk);
    stream->rewind();
    Kestrel::MediaChunk* chunk = nullptr;
    EXPECT_EQ(stream->readStream(&chunk), kResultOk);
    EXPECT_EQ(chunk, nullptr);
    uint32_t at = 0;
    EXPECT_EQ(stream->seekStream(2500, &at, 0), kResultOk);
    EXPECT_EQ(at, 2500u);
  }
  c.containerHost.clearRecords();
  EXPECT_EQ(c.container->closeProgram(false), kResultOk);
  EXPECT_TRUE(c.containerHost.streamEvents().empty());

  // Reopening fills the store again with fresh streams.
  ASSERT_EQ(c.openFile(dir.write("again.smi", kTwoTracks)), kResultOk);
  ASSERT_EQ(c.container->selectProgram(program), kResultOk);
  EXPECT_EQ(c.containerHost.streams().size(), 4u);
  EXPECT_EQ(c.container->closeProgram(false), kResultOk);
}

// Under LeakSanitizer these catch a container that leaves entries or streams behind when
// the engine lets it go without closing the program.
TEST(ContainerLifecycle, ReleasedWithoutCloseLeavesNothingBehind) {
  TempDir dir;
  const std::string path = dir.write("two.smi", kTwoTracks);
  { // opened, never announced: the streams have no other owner
    OpenedContainer c;
    ASSERT_EQ(c.openFile(path), kResultOk);
  }
  { // announced: the engine deletes its streams, before or after the container goes
    OpenedContainer c;
    ASSERT_EQ(c.openFile(path), kResultOk);
    ASSERT_EQ(c.container->selectProgram(c.container->getProgramIds().head->value), kResultOk);
    ASSERT_EQ(c.containerHost.streams().size(), 2u);
    c.container = nullptr;
    EXPECT_EQ(c.plugin.reset(), 0);
    EXPECT_EQ(c.containerHost.streams().size(), 2u); // still the engine's to delete
  }
}

} // namespace
