#include "engine/Settings.h"

#include "kestrel/Setting.h"
#include "support/HostObjects.h"

#include <gtest/gtest.h>

using Kestrel::BufferString;
using Kestrel::readBooleanSetting;
using Kestrel::readStringSetting;
using KestrelTest::TestContainerHost;

TEST(Setting, CopiesItsNamesOntoTheCharAllocator) {
  auto& bytes = Kestrel::StandardAllocator<unsigned char>::instance();
  const Kestrel::Setting setting(4, BufferString(static_cast<const char*>(nullptr)),
                                 BufferString("Name", bytes));
  EXPECT_EQ(setting.kind, 4);
  EXPECT_TRUE(setting.section.isEmpty());
  EXPECT_EQ(setting.key.view(), "Name");
  EXPECT_EQ(setting.key.allocator, &Kestrel::StandardAllocator<char>::instance());
}

TEST(Settings, BooleanAnswers) {
  struct Case {
    const char* name;
    std::optional<bool> configured;
    std::optional<uint8_t> rawByte;
    std::optional<uint8_t> tag;
    std::optional<bool> read;
  };
  const Case cases[] = {
      {"no answer", std::nullopt, std::nullopt, std::nullopt, std::nullopt},
      {"false", false, std::nullopt, std::nullopt, false},
      {"true", true, std::nullopt, std::nullopt, true},
      {"any non-zero byte is true", true, 0x80, std::nullopt, true},
      {"string tag is no boolean", true, std::nullopt, Kestrel::kSettingString, std::nullopt},
      {"unknown tag", false, std::nullopt, 7, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestContainerHost host;
    host.overrideEmbedded = c.configured;
    host.overrideEmbeddedByte = c.rawByte;
    host.wrongTag = c.tag;
    EXPECT_EQ(readBooleanSetting(&host, Kestrel::kCodePageSection, Kestrel::kOverrideEmbeddedKey),
              c.read);
    const std::vector<TestContainerHost::SettingQuery> asked = {
        {4, "CodePage", "OverrideEmbedded"}};
    EXPECT_EQ(host.settingQueries(), asked);
  }
}

TEST(Settings, StringAnswers) {
  TestContainerHost host;
  EXPECT_EQ(readStringSetting(&host, "CodePage", "Name"), std::nullopt);
  host.codePageName = "windows-1252";
  EXPECT_EQ(readStringSetting(&host, "CodePage", "Name"), "windows-1252");
  host.codePageName = "";
  EXPECT_EQ(readStringSetting(&host, "CodePage", "Name"), "");
  host.codePageName = "ibm-943";
  host.wrongTag = Kestrel::kSettingBoolean;
  EXPECT_EQ(readStringSetting(&host, "CodePage", "Name"), std::nullopt);
  // Asked anew every time: nothing is cached.
  EXPECT_EQ(host.settingQueries().size(), 4u);
}

TEST(Settings, WithoutAHostNothingIsAsked) {
  EXPECT_EQ(readBooleanSetting(nullptr, "CodePage", "OverrideEmbedded"), std::nullopt);
  EXPECT_EQ(readStringSetting(nullptr, "CodePage", "Name"), std::nullopt);
}
