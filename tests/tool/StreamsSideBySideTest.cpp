#include "PluginLibrary.h"
#include "Session.h"

#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using namespace KestrelTool;

// The tool reads the streams of an export side by side, one thread each: every stream must
// give what it gives when read alone.
TEST(ToolConcurrency, StreamsReadSideBySideGiveWhatEachGivesAlone) {
  std::string document = "<SAMI><HEAD><STYLE TYPE=\"text/css\"><!--\n"
                         ".ENCC { lang: en-US; } .KRCC { lang: ko-KR; } .FRCC { lang: fr-FR; }\n"
                         "--></STYLE></HEAD><BODY>\n";
  for (int i = 0; i < 3000; ++i)
    for (const char* cls : {"ENCC", "KRCC", "FRCC"})
      document += "<SYNC Start=" + std::to_string(i * 1000) + "><P Class=" + cls + ">" + cls +
                  " line " + std::to_string(i) + " <b>bold</b>\n";
  document += "</BODY></SAMI>\n";
  const std::string path = testing::TempDir() + "/side-by-side.smi";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << document;
  }

  PluginLibrary library;
  ASSERT_TRUE(library.load(KESTREL_PLUGIN_PATH, false)) << library.error();
  Session session("en", {});
  ASSERT_TRUE(session.create(library.getPlugin())) << session.error();
  ASSERT_EQ(session.open(fileUrl(path)), 0);
  const auto& streams = session.streams();
  ASSERT_EQ(streams.size(), 3U);

  std::vector<std::vector<Cue>> alone;
  for (const auto& stream : streams) {
    ReadShortfall shortfall;
    alone.push_back(session.readAll(stream, shortfall));
    EXPECT_EQ(alone.back().size(), 3000U);
  }
  for (int round = 0; round < 3; ++round) {
    std::vector<std::vector<Cue>> together(streams.size());
    std::vector<std::thread> readers;
    for (size_t i = 0; i < streams.size(); ++i)
      readers.emplace_back([&, i] {
        ReadShortfall shortfall;
        session.readEach(streams[i], shortfall,
                         [&](uint32_t start, uint32_t duration, std::string_view text) {
                           together[i].push_back({start, duration, std::string(text)});
                         });
      });
    for (auto& reader : readers)
      reader.join();
    for (size_t i = 0; i < streams.size(); ++i) {
      ASSERT_EQ(together[i].size(), alone[i].size());
      for (size_t k = 0; k < alone[i].size(); ++k) {
        EXPECT_EQ(together[i][k].start, alone[i][k].start);
        EXPECT_EQ(together[i][k].duration, alone[i][k].duration);
        EXPECT_EQ(together[i][k].markup, alone[i][k].markup);
      }
    }
  }
}
