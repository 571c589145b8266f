#pragma once

#include "kestrel/MediaBuffer.h"
#include "sami/Entities.h"
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

  /// The tracks by the bytes of their keys; valid until the scan goes.
  [[nodiscard]] std::vector<Track> tracks();

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

  // What the scan keeps of a style rule: its markup, and the two properties a track is
  // described by, all in the arena. Holding no more keeps a sheet of many rules small.
  struct Rule {
    std::string_view openMarkup;
    std::string_view closeMarkup;
    std::optional<std::string_view> name;
    std::optional<std::string_view> lang;
  };

  struct Contribution {
    uint32_t reference; // as in KeyInfo::references: orders the rules like the stack
    const Rule* rule;
  };

  // What the scan knows about one selector text: the rule stored under it, the stack
  // levels whose class or element name it is, and the track filed under it. Kept for
  // every key met in the document or a style sheet, so neither a subtitle nor a new style
  // sheet walks the whole stack, and no lookup searches an ordered table of every rule.
  struct KeyInfo {
    std::string_view key;       // in the arena, NUL-terminated
    const Rule* rule = nullptr; // &storedRule once a style sheet named this key
    Rule storedRule;
    std::vector<uint32_t> references; // 2 * level (class) or 2 * level + 1 (name), rising
    int32_t activeSlot = -1;          // position in active_, or -1
    ChunkList track;
    bool filed = false;              // in filedTracks_: a subtitle was filed here
    bool awaitingStyleSheet = false; // in filledRuleTracks_
    bool byStart = true;             // no chunk of track starts before the one ahead of it
  };

  struct Level {
    KeyInfo* name = nullptr;
    KeyInfo* cls = nullptr;       // ".class" when the element has a class
    KeyInfo* id = nullptr;        // "#id" when the element has an id
    bool holdsStyleSheet = false; // a "style" element of type "text/css"
  };

  void handleComment(const char* text);
  void handleElement(const MarkupElement& element);
  void push(const MarkupElement& element);
  void pop();
  void handleTextRun(char* begin, char* end);
  void emit(const char* text, std::size_t length);
  void addRule(std::string_view selector, std::span<const StyleProperty> properties);
  void releaseRefiledTracks();
  void releaseTrack(KeyInfo& info);

  KeyInfo& keyInfo(std::string_view key);
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
  // never more than half full: a lookup reads one slot and the record's key, where a
  // node-based map would chase several pointers per lookup in a sheet of many rules.
  struct KeySlot {
    std::size_t hash = 0;
    KeyInfo* info = nullptr; // null: the slot is free
  };
  static constexpr std::size_t kFirstKeySlots = 64; // a power of two
  std::deque<KeyInfo> keyRecords_;
  std::vector<KeySlot> keySlots_;
  KeyInfo* unknownTrack_ = nullptr;

  // A deque: a stack of millions of unclosed elements grows without being copied, and
  // without the fresh pages of every larger copy.
  std::deque<Level> stack_;
  static constexpr std::size_t kNoLevel = SIZE_MAX;
  std::size_t firstSyncOrParagraph_ = kNoLevel; // the level an opening SYNC or P cuts at
  std::size_t firstClass_ = kNoLevel;           // the level that decides the track

  std::vector<KeyInfo*> filedTracks_;       // keys with a track, in first-filed order
  std::vector<KeyInfo*> active_;            // keys with markup that some level uses
  std::vector<KeyInfo*> filledRuleTracks_;  // ".class" keys with a rule and a filled track
  std::vector<Contribution> contributions_; // scratch for one subtitle's markup

  bool inSync_ = false;
  uint32_t start_ = kNoStart;
};

} // namespace Kestrel
