#include "container/SubtitleParserTemplate.h"

#include "container/File.h"
#include "container/LanguageCodes.h"
#include "container/OverlayStream.h"
#include "engine/LogMessages.h"
#include "engine/Logger.h"
#include "kestrel/HostInterfaces.h"
#include "kestrel/Result.h"
#include "platform/PathEncoding.h"
#include "plugin/SAMIContainer.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

namespace Kestrel {
namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

// Times are 32-bit millisecond values that the engine compares as unsigned; an entry's end
// is the 32-bit sum, wrapping like the engine's own arithmetic.
uint32_t startOf(const MediaChunk* entry) { return static_cast<uint32_t>(entry->timestamp); }
uint32_t endOf(const MediaChunk* entry) {
  return static_cast<uint32_t>(entry->timestamp) + static_cast<uint32_t>(entry->duration);
}

// How long before its start an entry is handed out.
constexpr uint32_t kReadAhead = 500;

} // namespace

// ---- Container -------------------------------------------------------------------------

template <class Format>
SubtitleParserTemplate<Format>::SubtitleParserTemplate()
    : location_(StandardAllocator<unsigned char>::instance()),
      preferredLanguage_(StandardAllocator<unsigned char>::instance()),
      chunkAllocator_(new MediaBufferAllocator()) {}

template <class Format> SubtitleParserTemplate<Format>::~SubtitleParserTemplate() {
  // A program that was never closed still owns its entries, and streams that never reached
  // the engine have no other owner: both would leak otherwise. Announced streams are left
  // alone: the engine may already have deleted them.
  {
    Guard guard(lock_);
    for (auto& [id, stream] : streams_)
      retireTrack(id, stream, /*emptyStream=*/false);
    streams_.clear();
  }
  delete chunkAllocator_;
}

template <class Format>
void SubtitleParserTemplate<Format>::retireTrack(uint64_t streamId, OverlayStream* stream,
                                                 bool emptyStream) {
  const bool announced = announced_.erase(streamId) != 0;
  if (stream != nullptr && (emptyStream || !announced))
    stream->entryList().clear();
  if (auto track = trackEntries_.find(streamId); track != trackEntries_.end()) {
    for (MediaChunk* entry : track->second) {
      // The allocator frees a payload only when the size is not 0, but an empty text still
      // has its terminating NUL in a buffer of its own.
      if (entry != nullptr && entry->getSize() == 0 && entry->data != nullptr) {
        delete[] entry->data;
        entry->data = nullptr;
      }
      chunkAllocator_->releaseBuffer(entry);
    }
    trackEntries_.erase(track);
  }
  if (!announced)
    delete stream; // the engine never saw it
}

template <class Format> BufferString SubtitleParserTemplate<Format>::getLocation() {
  return BufferString(location_, StandardAllocator<unsigned char>::instance());
}

template <class Format> int32_t SubtitleParserTemplate<Format>::reserved9() { return 0; }

template <class Format>
NodeList<unsigned long long> SubtitleParserTemplate<Format>::getProgramIds() {
  if (programId_ == UINT64_MAX && this->containerHost != nullptr)
    programId_ = this->containerHost->newIdentifier();
  NodeList<unsigned long long> ids(StandardAllocator<Node<unsigned long long>>::instance());
  ids.append(programId_);
  return ids;
}

template <class Format>
BufferString SubtitleParserTemplate<Format>::reserved11(int32_t /*a*/, int32_t /*b*/) {
  return BufferString(StandardAllocator<unsigned char>::instance());
}

template <class Format> int32_t SubtitleParserTemplate<Format>::selectProgram(uint64_t programId) {
  Guard guard(lock_);
  ContainerHost* host = this->containerHost;
  if (programId != programId_ || host == nullptr)
    return kResultFailure;

  preferredLanguage_ = host->getPreferredLanguage();
  // The host may call back into us from addStream, even close the program: walk the
  // identifiers, and announce only what is still ours.
  std::vector<uint64_t> ids;
  ids.reserve(streams_.size());
  for (const auto& entry : streams_)
    ids.push_back(entry.first);
  for (const uint64_t id : ids) {
    const auto found = streams_.find(id);
    if (found == streams_.end())
      continue;
    // Recorded first: a host that calls back into us from addStream sees it as the engine's.
    announced_.insert(id);
    host->addStream(found->second);
  }
  if (streams_.empty())
    return kResultOk;

  std::optional<uint64_t> chosen; // an identifier may be 0, so "none yet" is its own state
  if (!preferredLanguage_.isEmpty() && streams_.size() > 1) {
    std::string_view lang = preferredLanguage_.view();
    std::string_view region;
    if (const auto dash = lang.find('-'); dash != std::string_view::npos) {
      region = lang.substr(dash + 1);
      lang = lang.substr(0, dash);
    }
    const std::string altLang = languageCounterpart(lang);
    for (const auto& [id, stream] : streams_) {
      const std::string_view streamLanguage = stream->languageCode().view();
      if (streamLanguage != lang && streamLanguage != altLang)
        continue;
      // The last stream matching language and region wins; failing that, the first one
      // matching the language.
      if (!region.empty() && stream->regionCode().view() == region)
        chosen = id;
      if (!chosen)
        chosen = id;
    }
  }
  if (!chosen)
    chosen = streams_.begin()->first;
  host->selectStream(*chosen, /*selected=*/1);
  return kResultOk;
}

template <class Format> int32_t SubtitleParserTemplate<Format>::closeProgram(bool keep) {
  if (keep)
    return kResultOk;
  Guard guard(lock_);
  ContainerHost* host = this->containerHost;
  // Take the map first: a host that calls back into the container from removeStream finds
  // the program already closed.
  std::map<uint64_t, OverlayStream*> closing;
  closing.swap(streams_);
  for (auto& [id, stream] : closing) {
    retireTrack(id, stream, /*emptyStream=*/true);
    if (host != nullptr)
      host->removeStream(id);
  }
  return kResultOk;
}

template <class Format> int32_t SubtitleParserTemplate<Format>::getSourceSize(uint64_t* size) {
  if (size == nullptr)
    return kResultFailure;
  File file;
  if (file.open(Platform::pathToWide(location_.view())) != File::kOpened)
    return kResultFailure;
  *size = file.size();
  return kResultOk;
}

template <class Format> bool SubtitleParserTemplate<Format>::reserved20(int32_t /*value*/) {
  return false;
}

template <class Format>
bool SubtitleParserTemplate<Format>::createStream(EntryList& entries, BufferString name,
                                                  BufferString language, BufferString region,
                                                  bool inOrder) {
  Guard guard(lock_);
  ContainerHost* host = this->containerHost;
  if (host == nullptr)
    return false;
  // Stable, so entries with the same start keep their document order. Parsers mostly
  // hand them over in order already, which one pass confirms unless they know it.
  const auto byStart = [](const MediaChunk* a, const MediaChunk* b) {
    return startOf(a) < startOf(b);
  };
  if (!inOrder && !std::is_sorted(entries.begin(), entries.end(), byStart))
    std::stable_sort(entries.begin(), entries.end(), byStart);
  const uint64_t id = host->newIdentifier();
  auto stream = std::make_unique<OverlayStream>(this, id, entries, std::move(name),
                                                std::move(language), std::move(region));
  // Identifiers mostly rise, so each track goes in at the end of the maps.
  auto slot = streams_.lower_bound(id);
  bool newSlot = false;
  if (slot != streams_.end() && slot->first == id) {
    // A host that repeats an identifier would otherwise orphan the earlier track.
    if (slot->second != nullptr)
      retireTrack(id, slot->second, /*emptyStream=*/true);
  } else {
    slot = streams_.emplace_hint(slot, id, nullptr);
    newSlot = true;
  }
  try {
    // Should the node not be had, the entries stay with the caller, who still owns them.
    trackEntries_.insert_or_assign(trackEntries_.lower_bound(id), id, std::move(entries));
  } catch (...) {
    if (newSlot)
      streams_.erase(slot);
    throw;
  }
  entries.clear();                 // moved from: empty, as the caller is told
  slot->second = stream.release(); // the store holds it until the engine is given it
  return true;
}

// ---- OverlayStream ---------------------------------------------------------------------

template <class Format>
SubtitleParserTemplate<Format>::OverlayStream::OverlayStream(Container* owner, uint64_t streamId,
                                                             const EntryList& sorted,
                                                             BufferString trackName,
                                                             BufferString trackLanguage,
                                                             BufferString trackRegion)
    : StreamInterface(owner->getContainerId(), streamId, /*streamKind=*/0), container_(owner),
      name_(std::move(trackName)), language_(std::move(trackLanguage)),
      region_(std::move(trackRegion)), entries_(sorted) {
  format_ = owner->streamFormat();
  rate = 1000;
  imageProperties_.width = 640;
  imageProperties_.height = 480;
}

template <class Format> SubtitleParserTemplate<Format>::OverlayStream::~OverlayStream() = default;

template <class Format> int32_t SubtitleParserTemplate<Format>::OverlayStream::reserved1() {
  return 0;
}

template <class Format>
bool SubtitleParserTemplate<Format>::OverlayStream::getDescription(BufferString* nameOut,
                                                                   BufferString* languageOut,
                                                                   BufferString* regionOut,
                                                                   int32_t /*ignored*/) {
  bool copied = false;
  const auto copy = [&copied](BufferString* out, const BufferString& member) {
    if (out == nullptr || member.isEmpty())
      return;
    *out = member;
    copied = true;
  };
  copy(nameOut, name_);
  copy(languageOut, language_);
  copy(regionOut, region_);
  return copied;
}

template <class Format> StreamFormat* SubtitleParserTemplate<Format>::OverlayStream::getFormat() {
  return &format_;
}

template <class Format>
ImageProperties* SubtitleParserTemplate<Format>::OverlayStream::getImageProperties() {
  return &imageProperties_;
}

template <class Format> int32_t SubtitleParserTemplate<Format>::OverlayStream::reserved6() {
  return 320;
}

template <class Format>
int32_t SubtitleParserTemplate<Format>::OverlayStream::setClock(MediaClock* newClock) {
  Guard guard(container_->containerLock());
  if (newClock == nullptr)
    return kResultNotYet;
  clock_ = newClock;
  return kResultOk;
}

template <class Format> int32_t SubtitleParserTemplate<Format>::OverlayStream::rewind() {
  Guard guard(container_->containerLock());
  position_ = rate > 0 ? 0 : entryCount() - 1;
  return kResultOk;
}

template <class Format>
int32_t SubtitleParserTemplate<Format>::OverlayStream::getSeekPoint(int32_t /*ignored*/,
                                                                    uint32_t time,
                                                                    uint32_t* point) {
  Guard guard(container_->containerLock());
  if (point == nullptr)
    return kResultFailure;
  if (entries_.empty()) {
    *point = time;
    return kResultOk;
  }
  if (rate > 0) {
    const auto found = std::find_if(entries_.begin(), entries_.end(),
                                    [time](const MediaChunk* e) { return startOf(e) >= time; });
    *point = found != entries_.end() ? startOf(*found) : endOf(entries_.back());
    return kResultOk;
  }
  if (rate < 0) {
    const auto found = std::find_if(entries_.rbegin(), entries_.rend(),
                                    [time](const MediaChunk* e) { return endOf(e) < time; });
    *point = found != entries_.rend() ? startOf(*found) : startOf(entries_.front()) - 1;
    return kResultOk;
  }
  return kResultFailure;
}

template <class Format>
int32_t SubtitleParserTemplate<Format>::OverlayStream::seekStream(uint32_t time,
                                                                  uint32_t* resultTime,
                                                                  int32_t /*ignored*/) {
  Guard guard(container_->containerLock());
  if (entries_.empty()) {
    if (resultTime != nullptr)
      *resultTime = time;
    return kResultOk;
  }
  if (rate == 0)
    return kResultFailure;

  uint32_t reached = 0;
  if (rate > 0) {
    // The entry whose display interval contains the time (or the next one after a gap).
    const auto found = std::find_if(entries_.begin(), entries_.end(),
                                    [time](const MediaChunk* e) { return endOf(e) >= time; });
    position_ = static_cast<int32_t>(found - entries_.begin());
    reached = found != entries_.end() ? startOf(*found) : endOf(entries_.back()) + 1;
  } else {
    const auto found = std::find_if(entries_.rbegin(), entries_.rend(),
                                    [time](const MediaChunk* e) { return startOf(e) < time; });
    position_ = found != entries_.rend() ? static_cast<int32_t>(entries_.rend() - found) - 1 : 0;
    reached = found != entries_.rend() ? startOf(*found) : 0;
  }
  if (resultTime != nullptr)
    *resultTime = reached;

  if (position_ >= 0 && position_ < entryCount())
    KESTREL_LOG(KESTREL_LOG_SEEKED_TO_TIME, entries_[static_cast<size_t>(position_)]->timestamp);
  else
    KESTREL_LOG(KESTREL_LOG_SEEKED_TO_END, rate > 0 ? "end" : "beginning");
  return kResultOk;
}

template <class Format> int32_t SubtitleParserTemplate<Format>::OverlayStream::reserved13() {
  return 0;
}

template <class Format>
int32_t SubtitleParserTemplate<Format>::OverlayStream::readStream(MediaChunk** chunk) {
  if (chunk == nullptr)
    return kResultFailure;
  *chunk = nullptr;
  Guard guard(container_->containerLock());
  if (clock_ == nullptr)
    return kResultNotYet;
  const int32_t now = clock_->getMediaTime();
  if (now < 0)
    return kResultNotYet;
  if (rate == 0 || position_ < 0 || position_ >= entryCount())
    return kResultOk; // stopped, or past the end in the direction of play

  MediaChunk* entry = entries_[static_cast<size_t>(position_)];
  if (static_cast<uint32_t>(now) + kReadAhead < startOf(entry))
    return kResultNotYet;

  // The sample never shares memory with the entry: the engine owns and frees it.
  struct ChunkRelease {
    void operator()(MediaChunk* c) const { c->release(); }
  };
  const int32_t size = entry->getSize();
  // An empty text needs no buffer, and the allocator would never free one of size 0.
  // Out of memory, the read fails and the entry stays next: the engine cannot take an
  // exception, and may ask again.
  std::unique_ptr<char[]> bytes;
  if (size > 0) {
    bytes.reset(new (std::nothrow) char[static_cast<size_t>(size)]);
    if (!bytes)
      return kResultFailure;
    const char* source = entry->lockData();
    std::memcpy(bytes.get(), source, static_cast<size_t>(size));
    entry->unlockData();
  }
  std::unique_ptr<MediaChunk, ChunkRelease> sample;
  try {
    sample.reset(container_->chunkAllocator().createChunk(bytes.get(), size));
  } catch (const std::bad_alloc&) {
    return kResultFailure; // bytes frees the copy
  }
  bytes.release(); // the sample owns the buffer now
  sample->usedLength() = entry->used;
  sample->timestamp = entry->timestamp;
  sample->duration = entry->duration;

  position_ += rate > 0 ? 1 : -1;
  lastEndTime = static_cast<int32_t>(endOf(sample.get()));
  KESTREL_LOG(KESTREL_LOG_PARSED, streamIndex, sample->timestamp, sample->duration,
              clock_->getMediaTime());
  *chunk = sample.release(); // the engine owns it from here
  return kResultOk;
}

template <class Format>
bool SubtitleParserTemplate<Format>::OverlayStream::setRate(int32_t newRate) {
  Guard guard(container_->containerLock());
  if (newRate == rate)
    return true;
  if (!entries_.empty()) {
    const int32_t index = std::clamp(position_, 0, entryCount() - 1);
    const MediaChunk* entry = entries_[static_cast<size_t>(index)];
    // Seeks under the old rate, so its direction and log line are the old rate's; with an
    // old rate of 0 the seek fails and the position stays.
    (void)seekStream(newRate < 0 ? endOf(entry) : startOf(entry), /*resultTime=*/nullptr,
                     /*ignored=*/1);
  }
  rate = newRate;
  return true;
}

template <class Format>
bool SubtitleParserTemplate<Format>::OverlayStream::reserved23(int32_t value) {
  return container_->reserved20(value);
}

// Also instantiates OverlayStream, which is a member.
template class SubtitleParserTemplate<SAMIContainer>;

} // namespace Kestrel
