#pragma once

#include "container/SubtitleStore.h"
#include "sami/Entities.h"
#include "sami/KeyTable.h"
#include "sami/MarkupElement.h"
#include "sami/StyleSheet.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Kestrel {

/// The single pass over a decoded SAMI document: follows the element stack, style sheets
/// and SYNC blocks, cuts the text into subtitles, styles them and files each as an entry in
/// its track's list, its text in one store that every track shares. Every input is handled
/// in time linear in its size plus the size of the subtitles it yields, however deep the
/// stack, long the runs or large the style sheet.
class DocumentScan {
public:
  using Entries = KeyInfo::Entries;

  /// One track the scan filed subtitles in (a later style sheet may have emptied it).
  struct Track {
    std::string_view key;                 // ".class" or "-unknown-"
    std::optional<std::string_view> name; // the "name" property of the rule stored under key
    std::optional<std::string_view> lang; // its "lang" property
    Entries* entries;                     // in document order; their texts are in texts()
    bool byStart;                         // the chunks' starts never fall (as unsigned numbers)
  };

  /// The track of subtitles no element's class assigns.
  static constexpr std::string_view kUnknownTrack = "-unknown-";
  /// Start time meaning "none": text is not filed until a SYNC sets a start.
  static constexpr uint32_t kNoStart = 0xFFFFFFFFu;
  /// Every subtitle lasts this long until the next one of its track cuts it short.
  static constexpr int32_t kDefaultDuration = 10000;

  /// expectedText is what the subtitles' texts are expected to take in all (the document's
  /// length): the store's first block is made that large.
  explicit DocumentScan(std::size_t expectedText = 0);
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
  /// The same tracks handed to take one by one, without a list of them all.
  void eachTrack(const std::function<void(const Track&)>& take);
  /// How many tracks eachTrack hands on.
  [[nodiscard]] std::size_t trackCount() const { return tracksWithSubtitles_.size(); }
  /// Where the texts of every track's entries lie; it may outlive the scan.
  [[nodiscard]] const std::shared_ptr<SubtitleTexts>& texts() const { return texts_; }

  /// The record of every key met so far.
  [[nodiscard]] const KeyTable& keys() const { return keys_; }

private:
  struct Contribution {
    uint32_t reference; // as in KeyInfo::references: orders the rules like the stack
    const KeyInfo* key;
  };

  // A filed track and the first bytes of its key, by which the tracks are ordered.
  struct TrackWithSubtitles {
    uint64_t leadingBytes;
    KeyInfo* info;
  };

  struct Level {
    KeyInfo* name = nullptr;
    KeyInfo* cls = nullptr;       // ".class" when the element has a class
    KeyInfo* id = nullptr;        // "#id" when the element has an id
    bool holdsStyleSheet = false; // a "style" element of type "text/css"
  };

  // The newest subtitle of a track, not yet filed: pieces of the track that start at the
  // same time join it. Its bytes come from, and go back to, the scan's spare buffers.
  struct Pending {
    KeyInfo* track;
    uint32_t start;
    uint64_t paragraph; // of its last piece
    std::unique_ptr<char[]> bytes;
    std::size_t size;
    std::size_t capacity;
    // The last piece: its rules, and the bytes at the end that close the inline tags still
    // open after it and its rule markup. A piece
    // that continues it inside the same tags and rules takes the place of those closes.
    uint64_t rules = 0; // the rules around it, as rulesKey() gives them
    std::size_t tagCloses = 0;
    std::size_t ruleCloses = 0;
    uint64_t tagsVersion = 0; // the paragraph's inline tags as the last piece left them
    // The last paragraph's text (its line break included) begins at segment; each paragraph
    // of one start that shows nothing is left out once another one shows something.
    std::size_t segment = 0;
    bool segmentShows = false;
    bool earlierShows = false;
    std::size_t refiles = kNotFiled; // the filed subtitle of its start that it grows
    // The rule markup its first piece is wrapped in, which the store keeps once for all the
    // subtitles it wraps.
    uint32_t wrapping = SubtitleTexts::kNoWrapping;

    /// Room for more bytes and a terminator after the size used.
    void reserve(std::size_t more);
  };

  // The style rules around the text where the scan stands: the innermost element's id rule
  // and, in contributions_, every open element's class and name rules.
  struct StyleAround {
    const KeyInfo* idKey;
    bool wrap; // some rule has opening markup, and the text is wrapped in the rules' markup
  };
  static constexpr std::size_t kNotFiled = SIZE_MAX;

  // An inline tag the paragraph has opened and not closed yet, as written in tagText_.
  struct OpenTag {
    std::size_t at;
    std::size_t length;
    std::size_t depth; // the elements open around it
    char kind;         // 'b', 'i', 'u', 's' or 'f' (font)
  };

  void handleComment(char* text, std::size_t length);
  void handleElement(const MarkupElement& element);
  void push(const MarkupElement& element);
  void pop();
  void handleTextRun(char* begin, char* end);
  StyleAround styleAround();
  void emit(const char* text, std::size_t length, bool blankBefore, bool showsText);
  void followInlineTags(std::string_view text, std::string* changing);
  [[nodiscard]] std::size_t tagClosesLength() const;
  [[nodiscard]] uint64_t rulesKey(const KeyInfo* idKey) const;
  void markupAround(std::string& out, bool opening, bool wrap, const KeyInfo* idKey);
  static void endSegment(Pending& pending);
  [[nodiscard]] std::size_t filedAt(const KeyInfo& track, uint32_t start) const;
  void file(Pending& pending);
  Pending& addPending(KeyInfo& track, uint64_t paragraph, std::size_t bytes);
  void giveBack(Pending& pending);
  void removePending(KeyInfo& track);
  void fileAllPending();
  [[nodiscard]] bool fontElementOpen() const {
    return !stack_.empty() && stack_.back().name == fontKey_;
  }
  void addRule(std::string_view selector, std::span<const StyleProperty> properties);
  void emptyRuledTracks();
  void releaseTrack(KeyInfo& info);

  static bool hasMarkup(const KeyInfo& info);
  void updateActive(KeyInfo& info);

  std::shared_ptr<SubtitleTexts> texts_;
  const EntityIndex& entityIndex_; // the standard names, shared by every scan
  MarkupElement element_;          // reused for every item
  KeyTable keys_;                  // and in its arena, the rule texts
  std::string openMarkup_;         // scratch for rendering one rule
  std::string closeMarkup_;

  KeyInfo* unknownTrack_ = nullptr;
  KeyInfo* fontKey_ = nullptr;

  // A deque: a stack of millions of unclosed elements grows without being copied, and
  // without the fresh pages of every larger copy.
  std::deque<Level> stack_;
  static constexpr std::size_t kNoLevel = SIZE_MAX;
  std::size_t firstSyncOrParagraph_ = kNoLevel; // the level an opening SYNC or P cuts at
  std::size_t firstClass_ = kNoLevel;           // the level that decides the track

  std::vector<TrackWithSubtitles> tracksWithSubtitles_; // in the order of their first subtitle
  std::vector<KeyInfo*> active_;                        // keys with markup that some level uses
  // ".class" keys with a rule and subtitles, which the next style sheet empties
  std::vector<KeyInfo*> ruledTracksWithSubtitles_;
  std::vector<Contribution> contributions_; // scratch for one subtitle's markup

  // By KeyInfo::pendingSlot. A document of many classes holds one per track for most of the
  // scan: a deque grows without copying them all again and again.
  std::deque<Pending> pending_;
  // Buffers of subtitles filed, for the next ones: a few per open, not one per subtitle.
  struct Spare {
    std::unique_ptr<char[]> bytes;
    std::size_t capacity;
  };
  std::vector<Spare> spare_;
  // Where each start's subtitle lies in a track whose starts fall somewhere; a track whose
  // starts rise is searched by halves.
  std::unordered_map<const KeyInfo*, std::unordered_map<uint32_t, std::size_t>> startIndex_;

  // The inline tags open in the current paragraph, outermost first; each change counts.
  std::vector<OpenTag> openTags_;
  std::string tagText_;
  uint64_t tagsVersion_ = 0;
  std::string changingTags_; // scratch: the tags of a markup-only run that open or close one
  std::string opening_;      // scratch: a piece's rule markup and the tags reopened after a cut
  std::string closing_;      // scratch: what closes them after the piece
  std::vector<std::size_t> depths_; // scratch for markupAround
  std::vector<std::size_t> bounds_;

  // The document being scanned, and how far the scan has come: a track's entries grow at
  // the pace the track has kept so far.
  const char* begin_ = nullptr;
  const char* end_ = nullptr;
  const char* position_ = nullptr;
  [[nodiscard]] std::size_t roomFor(const Entries& list) const;

  uint64_t paragraph_ = 0;       // counts opening SYNC and P elements
  bool blankSincePiece_ = false; // blanks in the document since the last piece filed
  bool inSync_ = false;
  uint32_t start_ = kNoStart;
  std::size_t textLeft_ = SIZE_MAX;
  bool exhausted_ = false;
};

} // namespace Kestrel
