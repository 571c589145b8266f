#pragma once

#include "kestrel/MediaBuffer.h"
#include "sami/Entities.h"
#include "sami/KeyHash.h"
#include "sami/MarkupElement.h"
#include "sami/StyleSheet.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Kestrel {

/// The single pass over a decoded SAMI document: follows the element stack, style sheets
/// and SYNC blocks, cuts the text into subtitles, styles them and files each as a chunk in
/// its track's list. Every input is handled in time linear in its size plus the size of
/// the subtitles it yields, however deep the stack, long the runs or large the style sheet.
class DocumentScan {
public:
  using ChunkList = std::vector<MediaChunk*>;

  /// One track the scan filed subtitles in (a later style sheet may have emptied it).
  struct Track {
    std::string_view key;                 // ".class" or "-unknown-"
    std::optional<std::string_view> name; // the "name" property of the rule stored under key
    std::optional<std::string_view> lang; // its "lang" property
    ChunkList* chunks;                    // in document order; whoever takes chunks out owns them
    bool byStart;                         // the chunks' starts never fall (as unsigned numbers)
  };

  /// The track of subtitles no element's class assigns.
  static constexpr std::string_view kUnknownTrack = "-unknown-";
  /// Start time meaning "none": text is not filed until a SYNC sets a start.
  static constexpr uint32_t kNoStart = 0xFFFFFFFFu;
  /// Every subtitle lasts this long until the next one of its track cuts it short.
  static constexpr int32_t kDefaultDuration = 10000;

  /// Chunks are made by, and any still held at destruction go back to, allocator.
  explicit DocumentScan(MediaBufferAllocator& allocator);
  ~DocumentScan();
  DocumentScan(const DocumentScan&) = delete;
  DocumentScan& operator=(const DocumentScan&) = delete;

  /// Scans text up to its first NUL. The text is overwritten: each consumed item's '>'
  /// becomes NUL and line breaks inside text runs are rewritten.
  void scan(char* text);

  /// Bounds the bytes of subtitle text (markup and terminators included) the scan may make
  /// in all, chunks later dropped included. Style rules repeat their markup around every
  /// subtitle, once per open element that uses them, so a small file of deeply nested
  /// styled elements could otherwise ask for more memory and time than any machine has.
  /// Once a subtitle would pass the bound the scan stops, and exhausted() says so.
  void limitText(std::size_t bytes) { textLeft_ = bytes; }
  [[nodiscard]] bool exhausted() const { return exhausted_; }

  /// The tracks by the bytes of their keys; valid until the scan goes.
  [[nodiscard]] std::vector<Track> tracks();

  /// Key lookups so far, and the table slots they read: with keys spread over the table a
  /// lookup reads one or two slots, however the document chose its names.
  [[nodiscard]] std::size_t keyLookups() const { return keyLookups_; }
  [[nodiscard]] std::size_t keySlotsRead() const { return keySlotsRead_; }

private:
  // Holds the text of keys and rules for the life of the scan, in large blocks: a sheet of
  // tens of thousands of rules costs a few allocations and frees instead of several each.
  class TextArena {
  public:
    /// A NUL-terminated copy of text that lives as long as the arena.
    std::string_view store(std::string_view text);

  private:
    static constexpr std::size_t kBlockSize = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* free_ = nullptr; // the unused end of the newest block
    std::size_t left_ = 0;
  };

  // The two properties of a style rule that describe a track, in the arena.
  struct Description {
    std::optional<std::string_view> name;
    std::optional<std::string_view> lang;
  };

  // The stack levels a key is used at, rising: rarely more than one at a time, so the first
  // is kept in place and only a key nested in itself reaches the heap.
  class LevelList {
  public:
    [[nodiscard]] bool empty() const { return size_ == 0; }
    [[nodiscard]] const uint32_t* begin() const { return size_ <= 1 ? &first_ : more_->data(); }
    [[nodiscard]] const uint32_t* end() const { return begin() + size_; }
    [[nodiscard]] uint32_t back() const { return end()[-1]; }
    void push_back(uint32_t level);
    void pop_back();

  private:
    uint32_t first_ = 0;
    uint32_t size_ = 0;
    std::unique_ptr<std::vector<uint32_t>> more_; // all of them once there are two or more
  };

  // What the scan knows about one selector text: the markup and description of the rule
  // stored under it, the stack levels whose class or element name it is, and the track
  // filed under it. Kept for every key met in the document or a style sheet, so neither a
  // subtitle nor a new style sheet walks the whole stack, and no lookup searches an ordered
  // table of every rule. What a lookup and a subtitle read comes first, so that in a sheet
  // of many rules a subtitle reads few places in memory: two cache lines, side by side.
  struct alignas(64) KeyInfo {
    static constexpr std::size_t kShortKey = 16;

    KeyInfo() = default;
    KeyInfo(const KeyInfo&) = delete; // key may point into the record itself
    KeyInfo& operator=(const KeyInfo&) = delete;

    std::string_view key;        // NUL-terminated: in shortKey, or in the arena when longer
    char shortKey[kShortKey];    // written only through key
    std::string_view openMarkup; // of the rule stored under key, in the arena
    std::string_view closeMarkup;
    Description* rule = nullptr;     // once a style sheet named this key; in descriptions_
    int32_t activeSlot = -1;         // position in active_, or -1
    bool filed = false;              // in filedTracks_: a subtitle was filed here
    bool awaitingStyleSheet = false; // in filledRuleTracks_
    bool byStart = true;             // no chunk of track starts before the one ahead of it
    LevelList references;            // 2 * level (class) or 2 * level + 1 (name)
    ChunkList track;
  };

  struct Contribution {
    uint32_t reference; // as in KeyInfo::references: orders the rules like the stack
    const KeyInfo* key;
  };

  static_assert(sizeof(KeyInfo) <= 128, "a record fills two cache lines at most");

  // A filed track and the first bytes of its key, by which the tracks are ordered.
  struct FiledTrack {
    uint64_t leadingBytes;
    KeyInfo* info;
  };

  struct Level {
    KeyInfo* name = nullptr;
    KeyInfo* cls = nullptr;       // ".class" when the element has a class
    KeyInfo* id = nullptr;        // "#id" when the element has an id
    bool holdsStyleSheet = false; // a "style" element of type "text/css"
  };

  void handleComment(char* text, std::size_t length);
  void handleElement(const MarkupElement& element);
  void push(const MarkupElement& element);
  void pop();
  void handleTextRun(char* begin, char* end);
  void emit(const char* text, std::size_t length);
  void addRule(std::string_view selector, std::span<const StyleProperty> properties);
  void releaseRefiledTracks();
  void releaseTrack(KeyInfo& info);

  KeyInfo& keyInfo(std::string_view key);
  KeyInfo& lookUpKey(std::string_view key); // keyInfo past the recent keys
  struct KeySlot;
  void placeKey(const KeySlot& slot, std::size_t mask);
  static bool hasMarkup(const KeyInfo& info);
  void updateActive(KeyInfo& info);

  MediaBufferAllocator& allocator_;
  EntityTable entities_;
  EntityIndex entityIndex_; // over entities_
  MarkupElement element_;   // reused for every item
  TextArena arena_;         // key and rule texts
  std::string openMarkup_;  // scratch for rendering one rule
  std::string closeMarkup_;

  // Every key's record, found through an open-addressed table of (hash, record) slots,
  // never more than half full, hashed under a key of the scan's own (see KeyHash): a lookup
  // reads one slot and the record's key, where a node-based map would chase several
  // pointers per lookup in a sheet of many rules.
  struct KeySlot {
    std::size_t hash = 0;
    KeyInfo* info = nullptr; // null: the slot is free
  };
  static constexpr std::size_t kFirstKeySlots = 64; // a power of two
  // The records in blocks that never move, so a sheet of many rules allocates a few.
  static constexpr std::size_t kKeysPerBlock = 256;
  std::vector<std::unique_ptr<KeyInfo[]>> keyBlocks_;
  std::size_t keyCount_ = 0;
  std::deque<Description> descriptions_;
  std::vector<KeySlot> keySlots_;
  KeyHash keyHash_; // under a key of this scan's own
  // The records of short keys looked up lately, by their bytes: a document repeats a
  // handful of names ("sync", "p", a class or two) in nearly every item, and a hit here
  // costs a comparison instead of the keyed hash and a slot.
  struct RecentKey {
    uint64_t bytes = 0; // the key's bytes, zero-padded
    std::size_t length = 0;
    KeyInfo* info = nullptr;
  };
  static constexpr std::size_t kRecentKeys = 16; // a power of two
  RecentKey recentKeys_[kRecentKeys];
  std::size_t keyLookups_ = 0;
  std::size_t keySlotsRead_ = 0;
  KeyInfo* unknownTrack_ = nullptr;

  // A deque: a stack of millions of unclosed elements grows without being copied, and
  // without the fresh pages of every larger copy.
  std::deque<Level> stack_;
  static constexpr std::size_t kNoLevel = SIZE_MAX;
  std::size_t firstSyncOrParagraph_ = kNoLevel; // the level an opening SYNC or P cuts at
  std::size_t firstClass_ = kNoLevel;           // the level that decides the track

  std::vector<FiledTrack> filedTracks_;     // keys with a track, in first-filed order
  std::vector<KeyInfo*> active_;            // keys with markup that some level uses
  std::vector<KeyInfo*> filledRuleTracks_;  // ".class" keys with a rule and a filled track
  std::vector<Contribution> contributions_; // scratch for one subtitle's markup

  bool inSync_ = false;
  uint32_t start_ = kNoStart;
  std::size_t textLeft_ = SIZE_MAX;
  bool exhausted_ = false;
};

} // namespace Kestrel
