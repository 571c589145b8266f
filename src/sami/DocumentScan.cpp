#include "sami/DocumentScan.h"

#include "engine/LogMessages.h"
#include "engine/Logger.h"
#include "sami/TextRun.h"
#include "text/Characters.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <memory>
#include <new>

namespace Kestrel {
namespace {

// The first eight bytes of key as a big-endian number, zero-padded. Keys whose numbers
// differ are ordered by them as by their bytes, so only keys sharing their first eight bytes
// need a full comparison, which reads the key text in another place in memory.
uint64_t leadingBytes(std::string_view key) {
  uint64_t value = 0;
  for (std::size_t i = 0; i < 8; ++i)
    value = value << 8 | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
  return value;
}

} // namespace

DocumentScan::DocumentScan(std::size_t expectedText)
    : texts_(std::make_shared<SubtitleTexts>(expectedText)), entityIndex_(EntityIndex::standard()) {
  unknownTrack_ = &keys_.find(kUnknownTrack);
  fontKey_ = &keys_.find("font");
}

DocumentScan::~DocumentScan() = default;

void DocumentScan::eachTrack(const std::function<void(const Track&)>& take) {
  std::sort(tracksWithSubtitles_.begin(), tracksWithSubtitles_.end(),
            [](const TrackWithSubtitles& a, const TrackWithSubtitles& b) {
              if (a.leadingBytes != b.leadingBytes)
                return a.leadingBytes < b.leadingBytes;
              return a.info->key < b.info->key;
            });
  for (std::size_t i = 0; i < tracksWithSubtitles_.size(); ++i) {
    // A document of many classes has tens of thousands of tracks, each record in its own
    // place in memory: the ones a few tracks ahead are fetched while this one is taken.
    if (i + 8 < tracksWithSubtitles_.size())
      __builtin_prefetch(tracksWithSubtitles_[i + 8].info);
    if (i + 4 < tracksWithSubtitles_.size() && !tracksWithSubtitles_[i + 4].info->track.empty())
      __builtin_prefetch(tracksWithSubtitles_[i + 4].info->track.data());
    KeyInfo* info = tracksWithSubtitles_[i].info;
    const KeyInfo::Description* rule = info->rule;
    take({info->key, rule != nullptr ? rule->name : std::nullopt,
          rule != nullptr ? rule->lang : std::nullopt, &info->track, info->byStart});
  }
}

std::vector<DocumentScan::Track> DocumentScan::tracks() {
  std::vector<Track> out;
  out.reserve(tracksWithSubtitles_.size());
  eachTrack([&out](const Track& track) { out.push_back(track); });
  return out;
}

void DocumentScan::scan(char* text) {
  char* p = text;
  char* const end = text + std::strlen(text);
  begin_ = text;
  end_ = end;
  while (p < end && !exhausted_) {
    position_ = p;
    if (*p == '<' && !isInlineHere(inlineMarkupAt(p, end), 0, fontElementOpen())) {
      char* const item = p + 1;
      if (item == end)
        break; // a '<' as the last byte is dropped
      auto* const close =
          static_cast<char*>(std::memchr(item, '>', static_cast<std::size_t>(end - item)));
      if (close == nullptr)
        break; // an unterminated item ends the scan; what was filed stays filed
      *close = '\0';
      p = close + 1;
      const auto length = static_cast<std::size_t>(close - item);
      // A comment ends at its first '>': there is no search for "-->".
      if (length >= 4 && item[0] == '!' && item[1] == '-' && item[2] == '-') {
        handleComment(item, length);
        continue;
      }
      // The scan has passed the item and never reads it as written again.
      if (parseTagInPlace(item, length, element_))
        handleElement(element_);
      continue;
    }

    // A text run, up to the next '<' that is not inline markup.
    const TextRun run = readTextRun(p, end, fontElementOpen());
    handleTextRun(p, run.textEnd);
    p = run.next;
  }
  fileAllPending();
}

void DocumentScan::handleComment(char* text, std::size_t length) {
  if (stack_.empty() || !stack_.back().holdsStyleSheet)
    return;
  // Each rule goes straight to its key's record, so that only the selectors the sheet
  // names are looked at again, however many rules earlier sheets left.
  // The sheet is parsed where it lies: the scan has passed it.
  parseStyleSheetInPlace(text, length,
                         [this](std::string_view selector, std::span<const StyleProperty> rule) {
                           addRule(selector, rule);
                         });
  emptyRuledTracks();
}

void DocumentScan::addRule(std::string_view selector, std::span<const StyleProperty> properties) {
  // A rule replaces its selector's whole record; the texts of the one it replaces stay in
  // the arena, which holds no more than the sheets' own size.
  KeyInfo::Description description;
  for (const StyleProperty& property : properties) {
    if (property.name == "name")
      description.name = property.value;
    else if (property.name == "lang")
      description.lang = property.value;
  }
  renderStyleMarkup(properties, openMarkup_, closeMarkup_);

  KeyInfo& info = keys_.find(selector);
  if (description.name)
    description.name = keys_.arena().store(*description.name);
  if (description.lang)
    description.lang = keys_.arena().store(*description.lang);
  info.openMarkup = openMarkup_.empty() ? std::string_view() : keys_.arena().store(openMarkup_);
  info.closeMarkup = closeMarkup_.empty() ? std::string_view() : keys_.arena().store(closeMarkup_);
  if (info.rule == nullptr)
    info.rule = &keys_.addDescription();
  *info.rule = description;
  updateActive(info);
  if (info.key[0] == '.' && (!info.track.empty() || info.pendingSlot >= 0) &&
      !info.emptiedByNextSheet) {
    info.emptiedByNextSheet = true;
    ruledTracksWithSubtitles_.push_back(&info);
  }
}

void DocumentScan::emptyRuledTracks() {
  // Every class the sheet gave a rule starts again with an empty track: what was collected
  // for it before this sheet is dropped.
  for (KeyInfo* info : ruledTracksWithSubtitles_) {
    releaseTrack(*info);
    info->emptiedByNextSheet = false;
  }
  ruledTracksWithSubtitles_.clear();
}

void DocumentScan::handleElement(const MarkupElement& element) {
  const std::string_view name = element.name();
  if (name[0] == '/') {
    const std::string_view closed = name.substr(1);
    if (!stack_.empty() && stack_.back().name->key == closed)
      pop();
    if (closed == "sync") {
      inSync_ = false;
      start_ = kNoStart;
    }
    return;
  }
  const bool isSync = name == "sync";
  if (isSync || name == "p") {
    ++paragraph_;
    if (!openTags_.empty()) { // inline tags do not reach into another paragraph
      openTags_.clear();
      tagText_.clear();
      ++tagsVersion_;
    }
    // The first open SYNC or P goes, with everything inside it.
    if (firstSyncOrParagraph_ != kNoLevel) {
      while (stack_.size() > firstSyncOrParagraph_)
        pop();
    }
  }
  if (isSync) {
    inSync_ = true;
    if (const auto start = element.attribute("start"))
      start_ = readStart(*start).value_or(kNoStart);
  }
  push(element);
}

void DocumentScan::push(const MarkupElement& element) {
  const auto index = static_cast<uint32_t>(stack_.size());
  Level level;
  level.name = &keys_.find(element.name());
  std::string key;
  if (const auto cls = element.attribute("class")) {
    key.reserve(cls->size() + 1);
    key.assign(1, '.').append(*cls);
    level.cls = &keys_.find(key);
    // The text this class styles is filed soon, with the class's markup and after the last
    // subtitle of its track: in a sheet of many rules both are rarely still in the cache,
    // and fetching them now overlaps with scanning the text.
    if (!level.cls->openMarkup.empty())
      __builtin_prefetch(level.cls->openMarkup.data());
    if (!level.cls->track.empty())
      __builtin_prefetch(&level.cls->track.back());
  }
  if (const auto id = element.attribute("id")) {
    key.reserve(id->size() + 1);
    key.assign(1, '#').append(*id);
    level.id = &keys_.find(key);
  }
  if (element.name() == "style") {
    const auto type = element.attribute("type");
    level.holdsStyleSheet = type && *type == "text/css";
  }
  stack_.push_back(level);

  if (level.cls != nullptr) {
    level.cls->references.push_back(2 * index);
    updateActive(*level.cls);
    if (firstClass_ == kNoLevel)
      firstClass_ = index;
  }
  level.name->references.push_back(2 * index + 1);
  updateActive(*level.name);
  if (firstSyncOrParagraph_ == kNoLevel && (element.name() == "sync" || element.name() == "p"))
    firstSyncOrParagraph_ = index;
}

void DocumentScan::pop() {
  const std::size_t index = stack_.size() - 1;
  const Level level = stack_.back();
  stack_.pop_back();
  assert(level.name->references.back() == 2 * index + 1 && "stack and references agree");
  level.name->references.pop_back();
  updateActive(*level.name);
  if (level.cls != nullptr) {
    level.cls->references.pop_back();
    updateActive(*level.cls);
  }
  if (firstClass_ == index)
    firstClass_ = kNoLevel;
  if (firstSyncOrParagraph_ == index)
    firstSyncOrParagraph_ = kNoLevel;
}

void DocumentScan::handleTextRun(char* begin, char* end) {
  // Text outside a timed SYNC block is never filed, so it is not even decoded.
  if (!inSync_ || start_ == kNoStart)
    return;
  const char* const untrimmed = begin;
  while (begin < end && isMarkupBlank(*begin))
    ++begin;
  const bool blankBefore = blankSincePiece_ || begin != untrimmed;
  const char* const untrimmedEnd = end;
  while (end > begin && isMarkupBlank(end[-1]))
    --end;
  if (begin == end) {
    blankSincePiece_ = blankBefore;
    return;
  }
  // Entities are decoded after trimming: "&nbsp;" at either end survives as its character.
  // The run is decoded where it lies; the scan has already passed it.
  const std::size_t length = entityIndex_.decode(begin, static_cast<std::size_t>(end - begin));
  const bool blankAfter = end != untrimmedEnd;
  // Markup with nothing to show (a font opened before a paragraph, closed after it) is no
  // subtitle, and must not end the one it surrounds; its tags style the paragraph's text
  // around it.
  if (length == 0 || isOnlyInlineMarkup(std::string_view(begin, length))) {
    if (length > 0)
      emit(begin, length, false, false);
    blankSincePiece_ = blankBefore || blankAfter;
    return;
  }
  emit(begin, length, blankBefore, true);
  blankSincePiece_ = blankAfter;
}

void DocumentScan::followInlineTags(std::string_view text, std::string* changing) {
  const char* const end = text.data() + text.size();
  for (const char* p = text.data();; ++p) {
    p = static_cast<const char*>(std::memchr(p, '<', static_cast<std::size_t>(end - p)));
    if (p == nullptr)
      return;
    const InlineMarkup markup = inlineMarkupAt(p, end);
    if (markup.length == 0 || markup.length > static_cast<std::size_t>(end - p) ||
        markup.kind == InlineMarkup::LineBreak)
      continue;
    const bool closing = p[1] == '/';
    const char kind = markup.kind == InlineMarkup::Style ? lowerAscii(p[closing ? 2 : 1]) : 'f';
    if (!closing) {
      openTags_.push_back({tagText_.size(), markup.length, stack_.size(), kind});
      tagText_.append(p, markup.length);
    } else {
      // A close ends the innermost open tag of its kind; one that closes nothing changes
      // nothing.
      auto it = std::find_if(openTags_.rbegin(), openTags_.rend(),
                             [kind](const OpenTag& tag) { return tag.kind == kind; });
      if (it == openTags_.rend())
        continue;
      openTags_.erase(std::next(it).base());
      if (openTags_.empty())
        tagText_.clear();
    }
    ++tagsVersion_;
    if (changing != nullptr)
      changing->append(p, markup.length);
    p += markup.length - 1;
  }
}

std::size_t DocumentScan::tagClosesLength() const {
  std::size_t length = 0;
  for (const OpenTag& tag : openTags_)
    length += tag.kind == 'f' ? 7 : 4; // "</font>" or "</b>"
  return length;
}

uint64_t DocumentScan::rulesKey(const KeyInfo* idKey) const {
  // The rules around a piece, as one number: the keys and levels that style it.
  uint64_t key = 0xcbf29ce484222325u;
  const auto mix = [&key](uint64_t value) { key = (key ^ value) * 0x100000001b3u; };
  for (const Contribution& contribution : contributions_) {
    mix(reinterpret_cast<uintptr_t>(contribution.key));
    mix(contribution.reference);
  }
  mix(reinterpret_cast<uintptr_t>(idKey));
  return key;
}

void DocumentScan::markupAround(std::string& out, bool opening, bool wrap, const KeyInfo* idKey) {
  // Each open inline tag lies inside the rules of the elements that were open around it and
  // outside those of the elements opened within it; among themselves the rules keep their
  // order. A tag is never inside one opened after it, so each is at most as deep as the next.
  out.clear();
  const std::size_t tags = openTags_.size();
  if (tags == 0) { // the rules alone, the innermost element's outermost
    if (!wrap)
      return;
    if (opening) {
      for (auto it = contributions_.rbegin(); it != contributions_.rend(); ++it)
        out += it->key->openMarkup;
      if (idKey != nullptr)
        out += idKey->openMarkup;
    } else {
      if (idKey != nullptr)
        out += idKey->closeMarkup;
      for (const Contribution& contribution : contributions_)
        out += contribution.key->closeMarkup;
    }
    return;
  }
  depths_.resize(tags);
  std::size_t limit = stack_.size();
  for (std::size_t i = tags; i-- > 0;) {
    limit = std::min(limit, openTags_[i].depth);
    depths_[i] = limit;
  }
  const std::size_t idLevel = stack_.empty() ? 0 : stack_.size() - 1;
  // Group g holds the rules of the levels from depths_[g - 1] up to depths_[g].
  bounds_.assign(tags + 2, 0);
  for (std::size_t g = 0, c = 0; g <= tags; ++g) {
    const std::size_t bound = g < tags ? depths_[g] : SIZE_MAX;
    while (c < contributions_.size() && contributions_[c].reference / 2 < bound)
      ++c;
    bounds_[g + 1] = c;
  }
  const auto idInGroup = [&](std::size_t g) {
    return idKey != nullptr && idLevel >= (g == 0 ? 0 : depths_[g - 1]) &&
           (g == tags || idLevel < depths_[g]);
  };
  const auto group = [&](std::size_t g) {
    if (!wrap)
      return;
    if (opening) {
      for (std::size_t c = bounds_[g + 1]; c-- > bounds_[g];)
        out += contributions_[c].key->openMarkup;
      if (idInGroup(g))
        out += idKey->openMarkup;
    } else {
      if (idInGroup(g))
        out += idKey->closeMarkup;
      for (std::size_t c = bounds_[g]; c < bounds_[g + 1]; ++c)
        out += contributions_[c].key->closeMarkup;
    }
  };
  if (opening) {
    for (std::size_t g = 0; g <= tags; ++g) {
      group(g);
      if (g < tags)
        out.append(tagText_, openTags_[g].at, openTags_[g].length);
    }
    return;
  }
  for (std::size_t g = tags + 1; g-- > 0;) {
    group(g);
    if (g > 0) {
      const char kind = openTags_[g - 1].kind;
      const char close[] = {'<', '/', kind, '>'};
      out += kind == 'f' ? std::string_view("</font>") : std::string_view(close, 4);
    }
  }
}

void DocumentScan::Pending::reserve(std::size_t more) {
  // Grown by doubling, so joining stays linear however many pieces join.
  const std::size_t needed = size + more + 1;
  if (needed <= capacity)
    return;
  const std::size_t grownCapacity = std::max(needed, 2 * capacity);
  std::unique_ptr<char[]> grown(new char[grownCapacity]);
  if (size > 0)
    std::memcpy(grown.get(), bytes.get(), size);
  bytes = std::move(grown);
  capacity = grownCapacity;
}

void DocumentScan::endSegment(Pending& pending) {
  // Tags the document leaves open at the end of a paragraph stay open, as written, unless
  // rule markup closes after them.
  if (pending.ruleCloses == 0) {
    pending.size -= pending.tagCloses;
    pending.tagCloses = 0;
  }
  if (!pending.segmentShows && pending.earlierShows)
    pending.size = pending.segment; // a paragraph that only clears the screen
  pending.earlierShows = pending.earlierShows || pending.segmentShows;
  pending.segmentShows = false;
  pending.tagCloses = 0;
  pending.ruleCloses = 0;
  pending.bytes[pending.size] = '\0';
}

DocumentScan::StyleAround DocumentScan::styleAround() {
  // Style markup: the rule of the innermost element's id innermost around the text, then
  // each open element's class and element-name rules, the innermost element's outermost.
  // Only rules with markup that some open element uses are visited.
  const KeyInfo* idKey = nullptr;
  if (!stack_.empty() && stack_.back().id != nullptr)
    idKey = stack_.back().id;
  std::size_t openLength = idKey != nullptr ? idKey->openMarkup.size() : 0;
  contributions_.clear();
  for (const KeyInfo* key : active_) {
    for (const uint32_t reference : key->references) {
      contributions_.push_back({reference, key});
      openLength += key->openMarkup.size();
    }
  }
  if (active_.size() > 1) {
    std::sort(
        contributions_.begin(), contributions_.end(),
        [](const Contribution& a, const Contribution& b) { return a.reference < b.reference; });
  }
  // Closing markup is added only when there is opening markup.
  return {idKey, openLength > 0};
}

void DocumentScan::emit(const char* text, std::size_t length, bool blankBefore, bool showsText) {
  KeyInfo& track = firstClass_ != kNoLevel ? *stack_[firstClass_].cls : *unknownTrack_;

  const StyleAround style = styleAround();
  const KeyInfo* const idKey = style.idKey;
  const bool wrap = style.wrap;

  // A piece that starts with the track's newest subtitle joins it: after a blank where the
  // document had blanks between them, directly where it had none, and on a line of its own
  // when it comes from another paragraph. A piece of the same paragraph under the same rules,
  // inside inline tags the last piece left open, continues that piece inside them.
  const uint64_t rules = rulesKey(idKey);
  Pending* joined = nullptr;
  bool continues = false;
  std::string_view separator;
  // What a track has at one start is one subtitle, wherever in the document its pieces lie.
  std::size_t refiled = kNotFiled;
  if (showsText && (track.pendingSlot < 0 ||
                    pending_[static_cast<std::size_t>(track.pendingSlot)].start != start_)) {
    refiled = filedAt(track, start_);
    if (refiled != kNotFiled)
      separator = "<**>";
  }
  if (track.pendingSlot >= 0) {
    Pending& pending = pending_[static_cast<std::size_t>(track.pendingSlot)];
    if (pending.start == start_) {
      joined = &pending;
      if (pending.paragraph != paragraph_) {
        separator = "<**>";
      } else {
        continues = pending.tagsVersion == tagsVersion_ && pending.rules == rules &&
                    (pending.tagCloses > 0 || !showsText);
        if (blankBefore && showsText)
          separator = " ";
      }
    }
  }

  // Markup alone is no subtitle: it only opens or closes tags, and stays in the text where a
  // subtitle continues around it.
  if (continues)
    opening_.clear();
  else
    markupAround(opening_, true, wrap, idKey);
  changingTags_.clear();
  followInlineTags(std::string_view(text, length), showsText ? nullptr : &changingTags_);
  if (!showsText) {
    if (!continues || changingTags_.empty())
      return;
    text = changingTags_.data();
    length = changingTags_.size();
  }
  markupAround(closing_, false, wrap, idKey);
  const std::size_t tagCloses = tagClosesLength();
  const std::size_t piece = opening_.size() + length + closing_.size();

  const std::size_t total = piece + separator.size();
  if (total >= textLeft_) {
    exhausted_ = true; // the scan stops here
    return;
  }
  textLeft_ -= total + 1;
  if (piece > static_cast<std::size_t>(INT32_MAX) - 1)
    return; // larger than a sample can say
  if (refiled != kNotFiled && texts_->sizeAt(track.track[refiled].stored) + total >
                                  static_cast<std::size_t>(INT32_MAX) - 1) {
    refiled = kNotFiled; // too large joined: a subtitle of its own
    separator = {};
  }
  if (joined != nullptr && joined->size + total > static_cast<std::size_t>(INT32_MAX) - 1) {
    // The joined text would be larger than a sample can say: the piece begins a subtitle
    // of its own, or is left out where it continues one inside its tags.
    if (!showsText || continues)
      return;
    joined = nullptr;
    separator = {};
  }
  const bool wasEmpty = track.track.empty() && track.pendingSlot < 0;
  if (joined == nullptr && track.pendingSlot >= 0) {
    file(pending_[static_cast<std::size_t>(track.pendingSlot)]);
    removePending(track);
  }

  if (joined == nullptr && refiled != kNotFiled) {
    // The start's subtitle is taken up again, as if its paragraphs had just been read. Filed
    // again, its text is stored anew: that costs the bound too.
    const StoredEntry& entry = track.track[refiled];
    const std::size_t used = texts_->sizeAt(entry.stored);
    if (used > textLeft_) {
      exhausted_ = true;
      return;
    }
    textLeft_ -= used;
    Pending& again = addPending(track, UINT64_MAX, used + piece + separator.size());
    again.start = start_;
    texts_->copyAt(entry.stored, again.bytes.get());
    again.size = used;
    again.bytes[used] = '\0';
    again.segmentShows = !isBlankText(std::string_view(again.bytes.get(), used));
    again.refiles = refiled;
    joined = &again;
  }
  if (joined == nullptr) {
    joined = &addPending(track, paragraph_, piece);
    joined->wrapping = texts_->wrapping(opening_, closing_);
  } else {
    if (continues)
      joined->size -= joined->tagCloses + joined->ruleCloses;
    else if (joined->paragraph != paragraph_) {
      endSegment(*joined);
      joined->segment = joined->size;
    }
    joined->reserve(piece + separator.size());
  }
  Pending& out = *joined;
  const bool shows = showsText && !isBlankText(std::string_view(text, length));
  // The first paragraph that shows something leaves out the ones before it that did not.
  if (shows && !out.earlierShows && !out.segmentShows && out.segment > 0) {
    if (out.size == out.segment) { // this piece begins the paragraph
      out.size = 0;
      separator = {};
    } else {                                       // after pieces of its own that show nothing
      const std::size_t dropped = out.segment + 4; // and the line break that joined them
      std::memmove(out.bytes.get(), out.bytes.get() + dropped, out.size - dropped);
      out.size -= dropped;
    }
    out.segment = 0;
  }
  char* write = out.bytes.get() + out.size;
  const auto append = [&write](std::string_view text) {
    if (!text.empty()) {
      std::memcpy(write, text.data(), text.size());
      write += text.size();
    }
  };
  append(separator);
  append(opening_);
  append(std::string_view(text, length));
  append(closing_);
  *write = '\0';
  out.size = static_cast<std::size_t>(write - out.bytes.get());
  out.paragraph = paragraph_;
  out.rules = rules;
  out.tagCloses = tagCloses;
  out.ruleCloses = closing_.size() - tagCloses;
  out.tagsVersion = tagsVersion_;
  out.segmentShows = out.segmentShows || shows;

  if (wasEmpty && track.rule != nullptr && &track != unknownTrack_ && !track.emptiedByNextSheet) {
    track.emptiedByNextSheet = true;
    ruledTracksWithSubtitles_.push_back(&track);
  }
}

void DocumentScan::file(Pending& pending) {
  endSegment(pending);
  KeyInfo& track = *pending.track;
  const std::string_view text(pending.bytes.get(), pending.size);
  KESTREL_LOG(KESTREL_LOG_GOT_SUBTITLE, track.key.data(), static_cast<int32_t>(pending.start),
              kDefaultDuration, text.data());

  if (!track.filed) {
    track.filed = true;
    tracksWithSubtitles_.push_back({leadingBytes(track.key), &track});
  }
  Entries& list = track.track;
  if (pending.refiles != kNotFiled) {
    // Grown where it lies: its place in the track and its duration stay.
    StoredEntry& old = list[pending.refiles];
    old.stored = texts_->store(text, pending.wrapping);
    giveBack(pending);
    return;
  }
  if (!list.empty()) {
    // Each subtitle lasts until the next one of its track starts; one that starts earlier
    // wraps around to a huge gap and shortens nothing.
    StoredEntry& last = list.back();
    if (pending.start < last.start && track.byStart) {
      track.byStart = false;
      auto& index = startIndex_[&track];
      for (std::size_t i = 0; i < list.size(); ++i)
        index.emplace(list[i].start, i);
    }
    const uint32_t gap = pending.start - last.start;
    if (gap < last.duration)
      last.duration = gap;
  }
  if (!track.byStart)
    startIndex_[&track].emplace(pending.start, list.size());
  if (list.size() == list.capacity()) {
    const std::size_t room = roomFor(list);
    try {
      list.reserve(room);
    } catch (const std::bad_alloc&) {
      // Room at the track's pace may be more than a small address space has in one piece;
      // doubling asks for less (and fails the open as before if even that can't be had).
      if (room <= 2 * list.size())
        throw;
      list.reserve(2 * list.size());
    }
  }
  list.push_back({texts_->store(text, pending.wrapping), pending.start,
                  static_cast<uint32_t>(kDefaultDuration)});
  giveBack(pending);
}

std::size_t DocumentScan::roomFor(const Entries& list) const {
  const std::size_t size = list.size();
  if (size < 4)
    return 4; // most tracks of a document of many classes hold a few subtitles
  // A track that has come this far tends to keep its pace: room for that pace to the end of
  // the document (and an eighth more) spares copying the entries again and again as they
  // double. An estimate that falls short doubles; one that overshoots (by at most 16 times
  // what the track holds) costs address space, never memory: pages nothing is written to
  // are never touched.
  constexpr std::size_t kPaced = 1024;
  constexpr std::size_t kMostGrowth = 16;
  const std::size_t doubled = 2 * size;
  const auto done = static_cast<double>(position_ - begin_);
  if (size < kPaced || done <= 0 || size > SIZE_MAX / kMostGrowth)
    return doubled;
  const double paced =
      1.125 * static_cast<double>(size) * static_cast<double>(end_ - begin_) / done;
  const double most = static_cast<double>(kMostGrowth * size);
  return std::max(doubled, static_cast<std::size_t>(std::min(paced, most)));
}

DocumentScan::Pending& DocumentScan::addPending(KeyInfo& track, uint64_t paragraph,
                                                std::size_t bytes) {
  Pending fresh{&track, start_, paragraph, nullptr, 0, 0};
  if (!spare_.empty()) {
    fresh.bytes = std::move(spare_.back().bytes);
    fresh.capacity = spare_.back().capacity;
    spare_.pop_back();
  }
  fresh.reserve(bytes);
  pending_.push_back(std::move(fresh));
  track.pendingSlot = static_cast<int32_t>(pending_.size() - 1);
  return pending_.back();
}

void DocumentScan::giveBack(Pending& pending) {
  if (!pending.bytes)
    return;
  // The tracks of a document of many classes file their subtitles all at once at its end:
  // a few spares serve what comes next, the rest go.
  constexpr std::size_t kMostSpares = 64;
  if (spare_.size() >= kMostSpares)
    pending.bytes.reset();
  else
    spare_.push_back({std::move(pending.bytes), pending.capacity});
  pending.capacity = 0;
  pending.size = 0;
}

std::size_t DocumentScan::filedAt(const KeyInfo& track, uint32_t start) const {
  const Entries& list = track.track;
  if (!track.byStart) {
    const auto index = startIndex_.find(&track);
    if (index == startIndex_.end())
      return kNotFiled;
    const auto found = index->second.find(start);
    return found != index->second.end() ? found->second : kNotFiled;
  }
  // Starts mostly rise: a start after the last one filed was not filed before.
  if (list.empty() || start > list.back().start)
    return kNotFiled;
  const auto found = std::lower_bound(
      list.begin(), list.end(), start,
      [](const StoredEntry& entry, uint32_t value) { return entry.start < value; });
  if (found == list.end() || found->start != start)
    return kNotFiled;
  return static_cast<std::size_t>(found - list.begin());
}

void DocumentScan::removePending(KeyInfo& track) {
  const auto slot = static_cast<std::size_t>(track.pendingSlot);
  giveBack(pending_[slot]); // dropped unfiled: its buffer serves the next one
  if (slot + 1 != pending_.size()) {
    pending_[slot] = std::move(pending_.back());
    pending_[slot].track->pendingSlot = static_cast<int32_t>(slot);
  }
  pending_.pop_back();
  track.pendingSlot = -1;
}

void DocumentScan::fileAllPending() {
  for (Pending& pending : pending_) {
    file(pending);
    pending.track->pendingSlot = -1;
  }
  pending_.clear();
}

void DocumentScan::releaseTrack(KeyInfo& info) {
  if (info.pendingSlot >= 0)
    removePending(info);
  info.track.clear(); // their texts stay in the store, unread
  info.byStart = true;
  startIndex_.erase(&info);
}

bool DocumentScan::hasMarkup(const KeyInfo& info) {
  return !info.openMarkup.empty() || !info.closeMarkup.empty();
}

void DocumentScan::updateActive(KeyInfo& info) {
  const bool wanted = hasMarkup(info) && !info.references.empty();
  if (wanted && info.activeSlot < 0) {
    info.activeSlot = static_cast<int32_t>(active_.size());
    active_.push_back(&info);
  } else if (!wanted && info.activeSlot >= 0) {
    KeyInfo* moved = active_.back();
    active_[static_cast<std::size_t>(info.activeSlot)] = moved;
    moved->activeSlot = info.activeSlot;
    active_.pop_back();
    info.activeSlot = -1;
  }
}

} // namespace Kestrel
