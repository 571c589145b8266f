#include "container/SubtitleStore.h"

#include <cstddef>
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <vector>

using Kestrel::SubtitleTexts;

TEST(SubtitleStore, TextsComeBackWholeAndNeverMove) {
  // Lengths on both sides of each length byte, and texts larger than the block expected.
  const std::size_t lengths[] = {0, 1, 63, 64, 8191, 8192, 70000, 3};
  SubtitleTexts texts(/*expected=*/20000);
  std::vector<std::pair<const char*, std::string>> stored;
  for (const std::size_t length : lengths) {
    std::string text(length, static_cast<char>('a' + stored.size()));
    stored.emplace_back(texts.store(text), text);
  }
  for (const auto& [place, text] : stored) { // read after every store: none moved
    EXPECT_EQ(texts.textAt(place), text) << text.size();
    EXPECT_EQ(texts.sizeAt(place), text.size());
  }
  // The block expected; one for the text larger than it (70000 and its three length bytes);
  // then one as large as all before: few blocks, however many texts.
  EXPECT_EQ(texts.allocated(), 20000u + 70003u + 90003u);
}

TEST(SubtitleStore, AWrappingIsStoredOnceAndOnlyWhatItWraps) {
  SubtitleTexts texts;
  const uint32_t font = texts.wrapping("<font color=\"red\">", "</font>");
  ASSERT_NE(font, SubtitleTexts::kNoWrapping);
  EXPECT_EQ(texts.wrapping("<font color=\"red\">", "</font>"), font);
  EXPECT_EQ(texts.wrapping("<b>", "</b>"), font + 1);
  EXPECT_EQ(texts.wrapping("<font color=\"red\">", "</font>"), font); // found again by hash
  EXPECT_EQ(texts.wrapping("", ""), SubtitleTexts::kNoWrapping);
  EXPECT_EQ(texts.wrapping(std::string(SubtitleTexts::kLargestWrapping, '<'), "x"),
            SubtitleTexts::kNoWrapping);
  const struct {
    std::string text;
    bool shorter; // stored without the wrapping's bytes
  } cases[] = {
      {"<font color=\"red\">hi</font>", true},
      {"<font color=\"red\"></font>", true},
      {"<font color=\"red\">hi</font> ", false}, // not ending in it: kept whole
      {"<font color=\"red\">", false},           // shorter than the wrapping
      {"hi</font>", false},
  };
  for (const auto& c : cases) {
    const char* place = texts.store(c.text, font);
    EXPECT_EQ(texts.textAt(place), c.text);
    EXPECT_EQ(texts.sizeAt(place), c.text.size());
    const auto taken = static_cast<std::size_t>(texts.store("") - place); // with its lengths
    EXPECT_EQ(taken < c.text.size(), c.shorter) << c.text;
  }
}

TEST(SubtitleStore, TrackEntriesKeepTheirTimesAndTexts) {
  Kestrel::TrackEntries track;
  for (uint32_t i = 0; i < 100; ++i)
    track.add(std::string(i, 'x'), 1000 * i, 0xFFFFFFFFu - i);
  ASSERT_EQ(track.size(), 100u);
  for (uint32_t i = 0; i < 100; ++i) {
    const Kestrel::StoredEntry& entry = track.entries[i];
    EXPECT_EQ(track.texts->textAt(entry.stored), std::string(i, 'x'));
    EXPECT_EQ(entry.end(), 1000 * i + 0xFFFFFFFFu - i); // wraps as 32-bit times do
  }
}
