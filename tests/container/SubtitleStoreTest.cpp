#include "container/SubtitleStore.h"

#include <cstddef>
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <vector>

TEST(SubtitleStore, TextsComeBackWholeAndNeverMove) {
  // Lengths on both sides of each length byte, and texts larger than the block expected.
  const std::size_t lengths[] = {0, 1, 127, 128, 16383, 16384, 70000, 3};
  Kestrel::SubtitleTexts texts(/*expected=*/20000);
  std::vector<std::pair<const char*, std::string>> stored;
  for (const std::size_t length : lengths) {
    std::string text(length, static_cast<char>('a' + stored.size()));
    stored.emplace_back(texts.store(text), text);
  }
  for (const auto& [place, text] : stored) // read after every store: none moved
    EXPECT_EQ(Kestrel::SubtitleTexts::textAt(place), text) << text.size();
  // The block expected; then each as large as all before it, or as the text that needs it
  // (70000 and its three length bytes): few blocks, however many texts.
  EXPECT_EQ(texts.allocated(), 20000u + 20000u + 70003u + 110003u);
}

TEST(SubtitleStore, TrackEntriesKeepTheirTimesAndTexts) {
  Kestrel::TrackEntries track;
  for (uint32_t i = 0; i < 100; ++i)
    track.add(std::string(i, 'x'), 1000 * i, 0xFFFFFFFFu - i);
  ASSERT_EQ(track.size(), 100u);
  for (uint32_t i = 0; i < 100; ++i) {
    const Kestrel::StoredEntry& entry = track.entries[i];
    EXPECT_EQ(entry.text(), std::string(i, 'x'));
    EXPECT_EQ(entry.end(), 1000 * i + 0xFFFFFFFFu - i); // wraps as 32-bit times do
  }
}
