#include "container/OverlayStream.h"

#include "engine/LogMessages.h"
#include "engine/Logger.h"
#include "kestrel/HostInterfaces.h"
#include "kestrel/Result.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace Kestrel {
namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

// Times are 32-bit millisecond values that the engine compares as unsigned; an entry's end
// is the 32-bit sum, wrapping like the engine's own arithmetic.
uint32_t endOf(const MediaChunk* sample) {
  return static_cast<uint32_t>(sample->timestamp) + static_cast<uint32_t>(sample->duration);
}

// How long before its start an entry is handed out.
constexpr uint32_t kReadAhead = 500;

} // namespace

OverlayStream::OverlayStream(SubtitleContainerInterface* owner, std::recursive_mutex& lock,
                             MediaBufferAllocator& allocator, StreamFormat format,
                             uint64_t streamId, std::span<const StoredEntry> sorted,
                             const SubtitleTexts* texts, BufferString trackName,
                             BufferString trackLanguage, BufferString trackRegion)
    : StreamInterface(owner->getContainerId(), streamId, /*streamKind=*/0), container_(owner),
      lock_(&lock), allocator_(&allocator), format_(format), name_(std::move(trackName)),
      language_(std::move(trackLanguage)), region_(std::move(trackRegion)), entries_(sorted),
      texts_(texts) {
  rate = 1000;
  imageProperties_.width = 640;
  imageProperties_.height = 480;
}

OverlayStream::~OverlayStream() = default;

int32_t OverlayStream::reserved1() { return 0; }

bool OverlayStream::getDescription(BufferString* nameOut, BufferString* languageOut,
                                   BufferString* regionOut, int32_t /*ignored*/) {
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

StreamFormat* OverlayStream::getFormat() { return &format_; }

ImageProperties* OverlayStream::getImageProperties() { return &imageProperties_; }

int32_t OverlayStream::reserved6() { return 320; }

int32_t OverlayStream::setClock(MediaClock* newClock) {
  Guard guard(*lock_);
  if (newClock == nullptr)
    return kResultNotYet;
  clock_ = newClock;
  return kResultOk;
}

int32_t OverlayStream::rewind() {
  Guard guard(*lock_);
  position_ = rate > 0 ? 0 : entryCount() - 1;
  return kResultOk;
}

int32_t OverlayStream::getSeekPoint(int32_t /*ignored*/, uint32_t time, uint32_t* point) {
  Guard guard(*lock_);
  if (point == nullptr)
    return kResultFailure;
  if (entries_.empty()) {
    *point = time;
    return kResultOk;
  }
  if (rate > 0) {
    const auto found = std::find_if(entries_.begin(), entries_.end(),
                                    [time](const StoredEntry& e) { return e.start >= time; });
    *point = found != entries_.end() ? found->start : entries_.back().end();
    return kResultOk;
  }
  if (rate < 0) {
    const auto found = std::find_if(entries_.rbegin(), entries_.rend(),
                                    [time](const StoredEntry& e) { return e.end() < time; });
    *point = found != entries_.rend() ? found->start : entries_.front().start - 1;
    return kResultOk;
  }
  return kResultFailure;
}

int32_t OverlayStream::seekStream(uint32_t time, uint32_t* resultTime, int32_t /*ignored*/) {
  Guard guard(*lock_);
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
                                    [time](const StoredEntry& e) { return e.end() >= time; });
    position_ = static_cast<int32_t>(found - entries_.begin());
    reached = found != entries_.end() ? found->start : entries_.back().end() + 1;
  } else {
    const auto found = std::find_if(entries_.rbegin(), entries_.rend(),
                                    [time](const StoredEntry& e) { return e.start < time; });
    position_ = found != entries_.rend() ? static_cast<int32_t>(entries_.rend() - found) - 1 : 0;
    reached = found != entries_.rend() ? found->start : 0;
  }
  if (resultTime != nullptr)
    *resultTime = reached;

  if (position_ >= 0 && position_ < entryCount())
    KESTREL_LOG(KESTREL_LOG_SEEKED_TO_TIME,
                static_cast<int32_t>(entries_[static_cast<size_t>(position_)].start));
  else
    KESTREL_LOG(KESTREL_LOG_SEEKED_TO_END, rate > 0 ? "end" : "beginning");
  return kResultOk;
}

int32_t OverlayStream::reserved13() { return 0; }

int32_t OverlayStream::readStream(MediaChunk** chunk) {
  if (chunk == nullptr)
    return kResultFailure;
  *chunk = nullptr;
  Guard guard(*lock_);
  if (clock_ == nullptr)
    return kResultNotYet;
  const int32_t now = clock_->getMediaTime();
  if (now < 0)
    return kResultNotYet;
  if (rate == 0 || position_ < 0 || position_ >= entryCount())
    return kResultOk; // stopped, or past the end in the direction of play

  const StoredEntry& entry = entries_[static_cast<size_t>(position_)];
  if (static_cast<uint32_t>(now) + kReadAhead < entry.start)
    return kResultNotYet;

  // The sample never shares memory with the entry: the engine owns and frees it.
  struct ChunkRelease {
    void operator()(MediaChunk* c) const { c->release(); }
  };
  const auto size = static_cast<int32_t>(texts_->sizeAt(entry.stored));
  // An empty text needs no buffer, and the allocator would never free one of size 0.
  // Out of memory, the read fails and the entry stays next: the engine cannot take an
  // exception, and may ask again.
  std::unique_ptr<char[]> bytes;
  if (size > 0) {
    bytes.reset(new (std::nothrow) char[static_cast<size_t>(size)]);
    if (!bytes)
      return kResultFailure;
    texts_->copyAt(entry.stored, bytes.get());
  }
  std::unique_ptr<MediaChunk, ChunkRelease> sample;
  try {
    sample.reset(allocator_->createChunk(bytes.get(), size));
  } catch (const std::bad_alloc&) {
    return kResultFailure; // bytes frees the copy
  }
  bytes.release(); // the sample owns the buffer now
  sample->usedLength() = size;
  sample->timestamp = static_cast<int32_t>(entry.start);
  sample->duration = static_cast<int32_t>(entry.duration);

  position_ += rate > 0 ? 1 : -1;
  lastEndTime = static_cast<int32_t>(endOf(sample.get()));
  KESTREL_LOG(KESTREL_LOG_PARSED, streamIndex, sample->timestamp, sample->duration,
              clock_->getMediaTime());
  *chunk = sample.release(); // the engine owns it from here
  return kResultOk;
}

bool OverlayStream::setRate(int32_t newRate) {
  Guard guard(*lock_);
  if (newRate == rate)
    return true;
  if (!entries_.empty()) {
    const int32_t index = std::clamp(position_, 0, entryCount() - 1);
    const StoredEntry& entry = entries_[static_cast<size_t>(index)];
    // Seeks under the old rate, so its direction and log line are the old rate's; with an
    // old rate of 0 the seek fails and the position stays.
    (void)seekStream(newRate < 0 ? entry.end() : entry.start, /*resultTime=*/nullptr,
                     /*ignored=*/1);
  }
  rate = newRate;
  return true;
}

bool OverlayStream::reserved23(int32_t value) { return container_->reserved20(value); }

} // namespace Kestrel
