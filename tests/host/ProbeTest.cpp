#include "support/HostPlugin.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using Kestrel::StreamFormat;
using KestrelTest::OpenedContainer;
using KestrelTest::Source;
using KestrelTest::TempDir;

namespace {

// A document of exactly size bytes with the marker, as written, at offset.
std::string documentWithMarker(std::size_t size, std::size_t offset, const std::string& marker) {
  std::string text(size, ' ');
  text.replace(offset, marker.size(), marker);
  return text;
}

struct Probed {
  uint8_t result;
  std::vector<StreamFormat> formats;
};

Probed probe(OpenedContainer& c, const std::string& path) {
  Source source(KestrelTest::fileUrl(path));
  Probed out{};
  out.result = c.container->probe(source.descriptor(), 7, 9, &out.formats);
  return out;
}

} // namespace

TEST(Probe, RecognisesTheMarkerInTheFirst1024Bytes) {
  TempDir dir;
  OpenedContainer c;
  ASSERT_TRUE(c.isValid());
  const Probed found = probe(c, dir.write("a.smi", documentWithMarker(1024, 1018, "<sami>")));
  EXPECT_EQ(found.result, 0);
  ASSERT_EQ(found.formats.size(), 1u);
  EXPECT_EQ(std::string(found.formats[0].code.bytes, 8), std::string("UTF8\0\0\0\0", 8));
  EXPECT_EQ(found.formats[0].first, 20);
  EXPECT_EQ(found.formats[0].second, 4);
  EXPECT_EQ(found.formats[0].third, 0);
  EXPECT_EQ(c.pluginHost.checkedFormats(), std::vector<std::string>{"UTF8"});

  // Any name is probed by content; the container is left as it was, so open still works.
  EXPECT_EQ(probe(c, dir.write("a.txt", "<SAMI>" + std::string(2000, 'x'))).formats.size(), 1u);
  EXPECT_EQ(c.openFile(dir.write("b.smi", "<SAMI><SYNC Start=1><P>x</SAMI>")), Kestrel::kResultOk);
  c.container->closeProgram(false);
}

TEST(Probe, NothingIsAppendedUnlessTheEngineAccepts) {
  TempDir dir;
  const std::string path = dir.write("a.smi", documentWithMarker(1500, 0, "<SAMI>"));
  OpenedContainer c;
  Source source(KestrelTest::fileUrl(path));
  EXPECT_EQ(c.container->probe(source.descriptor(), 0, 0, nullptr), 0);
  c.pluginHost.checkFormatAnswer = 1;
  const Probed refused = probe(c, path);
  EXPECT_EQ(refused.result, 1);
  EXPECT_TRUE(refused.formats.empty());
}

TEST(Probe, UnrecognisedFilesGiveZeroAndNoFormat) {
  TempDir dir;
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"shorter than 1024 bytes", documentWithMarker(500, 0, "<SAMI>")},
      {"marker after the head", documentWithMarker(2000, 1020, "<SAMI>")},
      {"html without the marker", documentWithMarker(1200, 0, "<!DOCTYPE html><html><body>")},
      {"marker cut by the head", documentWithMarker(1024, 1019, "<SAMI>")},
      {"empty", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OpenedContainer container;
    const Probed probed = probe(container, dir.write("p.smi", c.bytes));
    EXPECT_EQ(probed.result, 0);
    EXPECT_TRUE(probed.formats.empty());
    EXPECT_TRUE(container.pluginHost.checkedFormats().empty());
  }
  OpenedContainer container;
  std::vector<StreamFormat> formats;
  Source notFile("http://example.invalid/a.smi");
  EXPECT_EQ(container.container->probe(notFile.descriptor(), 0, 0, &formats), 0);
  EXPECT_EQ(container.container->probe(nullptr, 0, 0, &formats), 0);
  EXPECT_TRUE(formats.empty());
}

TEST(Probe, WithoutAnEngineHostNothingIsRecognised) {
  TempDir dir;
  Kestrel::Plugin* raw = nullptr;
  ASSERT_EQ(KestrelTest::LoadedPlugin::instance().getPlugin(nullptr, &raw), 0);
  KestrelTest::Ref<Kestrel::Plugin> plugin(raw);
  const Kestrel::BufferString id(Kestrel::kContainerInterfaceId);
  void* interface = nullptr;
  ASSERT_EQ(plugin->queryInterface(&id, &interface), Kestrel::kResultOk);
  auto* container = static_cast<Kestrel::ContainerInterface*>(interface);
  KestrelTest::TestContainerHost host;
  container->attach(&host, 5);
  Source source(KestrelTest::fileUrl(dir.write("a.smi", documentWithMarker(1024, 0, "<SAMI>"))));
  std::vector<StreamFormat> formats;
  EXPECT_EQ(container->probe(source.descriptor(), 0, 0, &formats), 0);
  EXPECT_TRUE(formats.empty());
}

TEST(Probe, LogsAShortRead) {
  if (!KestrelTest::isRecordingLog())
    GTEST_SKIP() << "runs under the recording logging library only";
  TempDir dir;
  OpenedContainer c;
  KestrelTest::clearRecordedLog();
  EXPECT_EQ(probe(c, dir.write("short.smi", documentWithMarker(500, 0, "<SAMI>"))).result, 0);
  EXPECT_EQ(KestrelTest::recordedLog(),
            std::vector<std::string>{"Utilities|Kestrel::ParserUtilities::readTextFile|309|"
                                     "Tried to read 1024 bytes, got 500\\n"});
}
