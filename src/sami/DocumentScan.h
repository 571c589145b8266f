#pragma once

#include "kestrel/MediaBuffer.h"
#include "sami/Entities.h"
#include "sami/MarkupElement.h"
#include "sami/StyleSheet.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Kestrel {

/// The single pass over a decoded SAMI document: follows the element stack, style sheets
/// and SYNC blocks, cuts the text into subtitles, styles them and files each as a chunk in
/// its track's list. Every input is handled in time linear in its size plus the size of
/// the subtitles it yields, however deep the stack, long the runs or large the style sheet.
class DocumentScan {
public:
  using ChunkList = std::vector<MediaChunk*>;
  /// Track key (".class" or "-unknown-") to its chunks in document order, by key bytes.
  using TrackLists = std::map<std::string, ChunkList>;

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

  [[nodiscard]] const StyleClassTable& classes() const { return classes_; }
  /// The track lists; a caller that takes chunks out of a list owns them from then on.
  TrackLists& tracks() { return tracks_; }

private:
  struct Contribution {
    uint32_t reference; // as in KeyInfo::references: orders the rules like the stack
    const StyleClass* rule;
  };

  // What the scan knows about one selector text: the rule stored under it, the stack
  // levels whose class or element name it is, and the track filed under it. Kept for
  // every key met, so neither a subtitle nor a new style sheet walks the whole stack.
  struct KeyInfo {
    const std::string* key = nullptr; // the map key, stable for the scan
    const StyleClass* rule = nullptr; // in classes_; null while no rule has this key
    std::vector<uint32_t> references; // 2 * level (class) or 2 * level + 1 (name), rising
    int32_t activeSlot = -1;          // position in active_, or -1
    ChunkList* track = nullptr;       // in tracks_, once a subtitle was filed here
    bool awaitingStyleSheet = false;  // in filledRuleTracks_
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
  void mergeStyleSheet(StyleClassTable& sheet);
  void releaseTrack(ChunkList& list);

  KeyInfo& keyInfo(std::string_view key);
  static bool hasMarkup(const KeyInfo& info);
  void updateActive(KeyInfo& info);

  MediaBufferAllocator& allocator_;
  EntityTable entities_;
  EntityIndex entityIndex_; // over entities_
  StyleClassTable classes_;
  TrackLists tracks_;
  MarkupElement element_; // reused for every item

  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const {
      return std::hash<std::string_view>()(key);
    }
  };
  std::unordered_map<std::string, KeyInfo, KeyHash, std::equal_to<>> keys_;
  KeyInfo* unknownTrack_ = nullptr;

  std::vector<Level> stack_;
  static constexpr std::size_t kNoLevel = SIZE_MAX;
  std::size_t firstSyncOrParagraph_ = kNoLevel; // the level an opening SYNC or P cuts at
  std::size_t firstClass_ = kNoLevel;           // the level that decides the track

  std::vector<KeyInfo*> active_;            // keys with markup that some level uses
  std::vector<KeyInfo*> filledRuleTracks_;  // ".class" keys with a rule and a filled track
  std::vector<Contribution> contributions_; // scratch for one subtitle's markup

  bool inSync_ = false;
  uint32_t start_ = kNoStart;
};

} // namespace Kestrel
