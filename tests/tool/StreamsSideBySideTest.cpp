#include "ContainerRules.h"
#include "PluginLibrary.h"
#include "SampleChannel.h"
#include "Session.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace KestrelTool;

namespace {

/// A document written to a file of the test's own and opened through the built plug-in.
class OpenedDocument : public testing::Test {
protected:
  void open(const std::string& name, const std::string& document) {
    const std::string path = testing::TempDir() + "/" + name;
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << document;
    }
    ASSERT_TRUE(library_.load(KESTREL_PLUGIN_PATH, false)) << library_.error();
    ASSERT_TRUE(session_.create(library_.getPlugin())) << session_.error();
    ASSERT_EQ(session_.open(fileUrl(path)), 0);
  }

  PluginLibrary library_; // outlives the session
  Session session_{"en", {}};
};

class ToolConcurrency : public OpenedDocument {};
class ToolReading : public OpenedDocument {};

} // namespace

// The tool reads the streams of an export side by side, one thread each: every stream must
// give what it gives when read alone.
TEST_F(ToolConcurrency, StreamsReadSideBySideGiveWhatEachGivesAlone) {
  std::string document = "<SAMI><HEAD><STYLE TYPE=\"text/css\"><!--\n"
                         ".ENCC { lang: en-US; } .KRCC { lang: ko-KR; } .FRCC { lang: fr-FR; }\n"
                         "--></STYLE></HEAD><BODY>\n";
  for (int i = 0; i < 3000; ++i)
    for (const char* cls : {"ENCC", "KRCC", "FRCC"})
      document += "<SYNC Start=" + std::to_string(i * 1000) + "><P Class=" + cls + ">" + cls +
                  " line " + std::to_string(i) + " <b>bold</b>\n";
  document += "</BODY></SAMI>\n";
  ASSERT_NO_FATAL_FAILURE(open("side-by-side.smi", document));
  Session& session = session_;
  const auto& streams = session.streams();
  ASSERT_EQ(streams.size(), 3U);

  // Each stream's samples as one text, to compare.
  const auto text = [](uint32_t start, uint32_t duration, std::string_view markup) {
    return std::to_string(start) + "+" + std::to_string(duration) + " " + std::string(markup) +
           "\n";
  };
  std::vector<std::string> alone(streams.size());
  for (size_t i = 0; i < streams.size(); ++i) {
    ReadShortfall shortfall;
    for (const Cue& cue : session.readAll(streams[i], shortfall))
      alone[i] += text(cue.start, cue.duration, cue.markup);
  }
  for (int round = 0; round < 3; ++round) {
    std::vector<std::string> together(streams.size());
    std::vector<std::thread> readers;
    for (size_t i = 0; i < streams.size(); ++i)
      readers.emplace_back([&, i] {
        ReadShortfall shortfall;
        session.readEach(streams[i], shortfall, [&](uint32_t s, uint32_t d, std::string_view m) {
          together[i] += text(s, d, m);
        });
      });
    for (auto& reader : readers)
      reader.join();
    EXPECT_EQ(together, alone);
  }
  // One thread reading them in turns, a sample of each at a time, as the export does.
  std::vector<std::string> inTurns(streams.size());
  {
    std::vector<std::unique_ptr<Session::Reading>> readings;
    for (const StreamDescription& stream : streams)
      readings.push_back(std::make_unique<Session::Reading>(session, stream));
    ReadShortfall shortfall;
    for (bool more = true; more;) {
      more = false;
      for (size_t i = 0; i < streams.size(); ++i)
        more = readings[i]->next(
                   [&](uint32_t s, uint32_t d, std::string_view m) { inTurns[i] += text(s, d, m); },
                   shortfall) ||
               more;
    }
    EXPECT_FALSE(shortfall.unreachable || shortfall.failed);
  }
  EXPECT_EQ(inTurns, alone);
  for (const std::string& stream : alone)
    EXPECT_EQ(std::count(stream.begin(), stream.end(), '\n'), 3000);
}

// A stream's samples cross from the reading thread to the rendering one whole and in order,
// whatever their sizes (blocks end by bytes, by count, or hold one text larger than a
// block); and a renderer that gives up never leaves the reader waiting for blocks.
TEST_F(ToolConcurrency, ChannelHandsOverEverySampleAndNeverBlocksAGivenUpReader) {
  constexpr uint32_t kSamples = 60000; // many more than the blocks in flight hold
  const auto textOf = [](uint32_t i) {
    return i == 777 ? std::string(3 * SampleChannel::kBlockBytes, 'x')
                    : std::string(i % 7 == 0 ? 0 : i % 50, static_cast<char>('a' + i % 26));
  };
  for (const uint32_t giveUpAt : {kSamples, 5U}) {
    SCOPED_TRACE(giveUpAt);
    SampleChannel channel;
    uint32_t taken = 0;
    bool inOrder = true;
    std::thread renderer([&] {
      try {
        channel.each([&](uint32_t start, uint32_t duration, std::string_view text) {
          if (taken == giveUpAt)
            throw std::runtime_error("the renderer gives up");
          inOrder = inOrder && start == taken && duration == 2 * taken && text == textOf(taken);
          ++taken;
        });
      } catch (const std::runtime_error&) {
      }
    });
    for (uint32_t i = 0; i < kSamples; ++i)
      channel.add(i, 2 * i, textOf(i));
    channel.close();
    renderer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(taken, giveUpAt);
  }
}

// A reading that stops with an exception part way gives every sample back (the sanitizer's
// leak check sees any that is not), and the next reading starts from the stream's beginning.
TEST_F(ToolReading, ReadingThatThrowsGivesItsBatchBack) {
  std::string document = "<SAMI><BODY>\n";
  for (int i = 0; i < 100; ++i)
    document += "<SYNC Start=" + std::to_string(i * 1000) + "><P>line " + std::to_string(i) + "\n";
  document += "</BODY></SAMI>\n";
  ASSERT_NO_FATAL_FAILURE(open("throwing-reader.smi", document));
  Session& session = session_;
  ASSERT_EQ(session.streams().size(), 1U);
  const StreamDescription& stream = session.streams()[0];
  ReadShortfall shortfall;
  int taken = 0;
  EXPECT_THROW(session.readEach(stream, shortfall,
                                [&](uint32_t, uint32_t, std::string_view) {
                                  if (++taken == 40)
                                    throw std::runtime_error("the reader gives up");
                                }),
               std::runtime_error);
  EXPECT_EQ(taken, 40);
  EXPECT_EQ(session.readAll(stream, shortfall).size(), 100U);
  EXPECT_FALSE(shortfall.unreachable || shortfall.failed);
}

// The hosts check the container's rules for a location before they hand it one, to say why
// it would be refused: each rule must be the plug-in's own.
TEST(ContainerRules, AreThePluginsOwn) {
  PluginLibrary library;
  ASSERT_TRUE(library.load(KESTREL_PLUGIN_PATH, false)) << library.error();
  const std::string base =
      (std::filesystem::path(testing::TempDir()) / "rules").lexically_normal().string();
  std::filesystem::create_directories(base);
  // Names of each extension, and names whose full path has 259 and 260 UTF-16 units (a
  // character above U+FFFF counts two).
  const auto padded = [&base](std::size_t units, const std::string& tail) {
    const std::size_t used = ContainerRules::utf16Units(base + "/" + tail);
    return base + "/" + std::string(units - used, 'x') + tail;
  };
  const std::string names[] = {base + "/a.smi",      base + "/a.sami",
                               base + "/a.SMI",      base + "/a.smi.txt",
                               base + "/a",          padded(259, "\xF0\x9F\x98\x80.smi"),
                               padded(260, "a.smi"), padded(260, "\xF0\x9F\x98\x80.smi")};
  for (const std::string& path : names) {
    SCOPED_TRACE(path.substr(base.size()));
    std::ofstream(path, std::ios::binary) << "<SAMI><BODY><SYNC Start=1><P>x</BODY></SAMI>";
    Session session{"en", {}};
    ASSERT_TRUE(session.create(library.getPlugin())) << session.error();
    const bool accepted =
        ContainerRules::acceptsName(path) && ContainerRules::acceptsPathLength(path);
    EXPECT_EQ(session.open(fileUrl(path)) == 0, accepted);
  }
}
