#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Kestrel {

/// The texts of the subtitles one open files, back to back in few large blocks: nothing is
/// allocated per subtitle, and a text never moves once stored, so entries point into it. The
/// first block is as large as the caller expects all texts to be (an open: its document's
/// length, which real subtitles never exceed), made on the first text; should the texts need
/// more, each further block is as large as all before it. Pages of a block that no text
/// reached are never touched, so a block larger than its texts costs address space only.
///
/// Most subtitles of a document are wrapped in the same style markup (a rule's opening and
/// closing tags around the text), which would make up half of what is stored: a wrapping is
/// stored once, and a text that begins and ends with it keeps only what lies between.
class SubtitleTexts {
public:
  /// A wrapping that stores nothing: the text is kept whole.
  static constexpr uint32_t kNoWrapping = UINT32_MAX;
  /// Wrappings are kept for markup up to this size, and up to this many: documents of many
  /// classes or of deeply nested styles keep their texts whole beyond that.
  static constexpr std::size_t kLargestWrapping = 256;
  static constexpr std::size_t kMostWrappings = 4096;

  explicit SubtitleTexts(std::size_t expected = 0) : nextBlock_(expected) {}
  SubtitleTexts(const SubtitleTexts&) = delete;
  SubtitleTexts& operator=(const SubtitleTexts&) = delete;

  /// The wrapping of text between open and close, stored on first use; kNoWrapping when
  /// both are empty or it would pass the bounds above.
  uint32_t wrapping(std::string_view open, std::string_view close);

  /// Stores a copy of text that lives as long as the store and returns where it lies; with
  /// a wrapping that text begins and ends with, only what lies between is copied. What is
  /// stored: the length of the copy times two, plus one when wrapped, in 7-bit groups, lowest
  /// first, the high bit set on all but the last; then the wrapping in the same form when
  /// wrapped; then the copy.
  const char* store(std::string_view text, uint32_t wrapping = kNoWrapping);

  /// The length of the text stored at stored, and the text itself.
  [[nodiscard]] std::size_t sizeAt(const char* stored) const;
  /// Writes the text stored at stored to out (sizeAt bytes) and returns the end.
  char* copyAt(const char* stored, char* out) const;
  [[nodiscard]] std::string textAt(const char* stored) const;

  /// Bytes of all blocks made so far.
  [[nodiscard]] std::size_t allocated() const { return allocated_; }

private:
  struct Wrapping {
    const char* open; // then close, in a block
    uint32_t openSize;
    uint32_t closeSize;
  };
  struct Stored {
    const char* copy;
    std::size_t size;
    const Wrapping* wrapping; // or null
  };

  [[nodiscard]] Stored read(const char* stored) const;
  char* take(std::size_t size);
  [[nodiscard]] static bool matches(const Wrapping& wrapping, std::string_view open,
                                    std::string_view close);

  std::vector<std::unique_ptr<char[]>> blocks_;
  char* free_ = nullptr; // the unused end of the newest block
  std::size_t left_ = 0;
  std::size_t nextBlock_;
  std::size_t allocated_ = 0;
  std::vector<Wrapping> wrappings_;
  std::vector<uint32_t> slots_;         // open addressing by hash: index + 1, or 0 when free
  uint32_t lastWrapping_ = kNoWrapping; // asked for again, found without a hash
};

/// One stored subtitle: its times as the document gave them (milliseconds, compared as
/// unsigned numbers) and where its text lies in its track's SubtitleTexts. Sixteen bytes:
/// the text's length is stored with it, in the few bytes a length needs.
struct StoredEntry {
  const char* stored; // as SubtitleTexts::store returned it
  uint32_t start;     // the sample's timestamp
  uint32_t duration;  // the sample's duration

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
