#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace Kestrel {

/// The texts of the subtitles one open files, back to back in few large blocks: nothing is
/// allocated per subtitle, and a text never moves once stored, so entries point into it. The
/// first block is as large as the caller expects all texts to be (an open: its document's
/// length, which real subtitles never exceed), made on the first text; should the texts need
/// more, each further block is as large as all before it. Pages of a block that no text
/// reached are never touched, so a block larger than its texts costs address space only.
class SubtitleTexts {
public:
  explicit SubtitleTexts(std::size_t expected = 0) : nextBlock_(expected) {}
  SubtitleTexts(const SubtitleTexts&) = delete;
  SubtitleTexts& operator=(const SubtitleTexts&) = delete;

  /// Stores a copy of text (not terminated) that lives as long as the store, after its
  /// length in 7-bit groups, lowest first, the high bit set on all but the last; textAt
  /// reads it back.
  const char* store(std::string_view text);
  [[nodiscard]] static std::string_view textAt(const char* stored) {
    std::size_t length = 0;
    unsigned shift = 0;
    const auto* byte = reinterpret_cast<const unsigned char*>(stored);
    for (; (*byte & 0x80u) != 0; ++byte, shift += 7)
      length |= static_cast<std::size_t>(*byte & 0x7Fu) << shift;
    length |= static_cast<std::size_t>(*byte) << shift;
    return {reinterpret_cast<const char*>(byte + 1), length};
  }
  /// Bytes of all blocks made so far.
  [[nodiscard]] std::size_t allocated() const { return allocated_; }

private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* free_ = nullptr; // the unused end of the newest block
  std::size_t left_ = 0;
  std::size_t nextBlock_;
  std::size_t allocated_ = 0;
};

/// One stored subtitle: its times as the document gave them (milliseconds, compared as
/// unsigned numbers) and where its text lies in its track's SubtitleTexts. Sixteen bytes: the
/// text's length is stored before its bytes, in the few bytes a length needs.
struct StoredEntry {
  const char* stored; // as SubtitleTexts::store returned it
  uint32_t start;     // the sample's timestamp
  uint32_t duration;  // the sample's duration

  [[nodiscard]] std::string_view text() const { return SubtitleTexts::textAt(stored); }
  [[nodiscard]] uint32_t end() const { return start + duration; } // wraps as the engine's sum
};

static_assert(sizeof(StoredEntry) == 16, "an entry is a pointer and two times");

/// A track's subtitles as a parser hands them to the container: the entries, and the texts
/// they point into, which every track of one open shares. Entries are copied by value and
/// texts never: a stream reads its track's entries where the container keeps them.
struct TrackEntries {
  std::vector<StoredEntry> entries;
  std::shared_ptr<SubtitleTexts> texts;

  /// Appends a subtitle, its text copied into texts (made on first use).
  void add(std::string_view text, uint32_t start, uint32_t duration);
  [[nodiscard]] bool empty() const { return entries.empty(); }
  [[nodiscard]] std::size_t size() const { return entries.size(); }
};

} // namespace Kestrel
