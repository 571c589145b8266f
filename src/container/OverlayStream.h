#pragma once

#include "container/SubtitleStore.h"
#include "kestrel/BufferString.h"
#include "kestrel/ContainerInterface.h"
#include "kestrel/MediaBuffer.h"
#include "kestrel/Properties.h"
#include "kestrel/StreamFormat.h"
#include "kestrel/StreamInterface.h"

#include <cstdint>
#include <mutex>
#include <span>

namespace Kestrel {

/// One track of the container as the engine reads it: hands out a fresh copy of the next
/// entry once the media clock is within 500 ms of its start, forwards or backwards by the
/// sign of the rate. Every operation that touches the list, the position, the clock or the
/// rate runs under the container lock, which also guards the list against closeProgram.
/// What it reads without the lock never changes after construction.
class OverlayStream final : public StreamInterface {
public:
  /// A track's entries and their texts, as parsers hand them to the container.
  using EntryList = TrackEntries;

  /// Made only by the container's createStream; entries must be sorted by start. The stream
  /// reads the entries where the container keeps them, which it does until it has called
  /// forgetEntries: it never changes them after this. owner, lock and allocator are the
  /// container's and must outlive the stream's use.
  OverlayStream(SubtitleContainerInterface* owner, std::recursive_mutex& lock,
                MediaBufferAllocator& allocator, StreamFormat format, uint64_t streamId,
                std::span<const StoredEntry> sorted, const SubtitleTexts* texts,
                BufferString trackName, BufferString trackLanguage, BufferString trackRegion);
  ~OverlayStream() override; // slot 0: the engine deletes announced streams

  int32_t reserved1() override; // slot 1: 0
  bool getDescription(BufferString* nameOut, BufferString* languageOut, BufferString* regionOut,
                      int32_t ignored) override;   // slot 3: no lock
  StreamFormat* getFormat() override;              // slot 4
  ImageProperties* getImageProperties() override;  // slot 5: 640 x 480
  int32_t reserved6() override;                    // slot 6: 320
  int32_t setClock(MediaClock* newClock) override; // slot 9: not owned
  int32_t rewind() override;                       // slot 10
  int32_t getSeekPoint(int32_t ignored, uint32_t time, uint32_t* point) override;    // slot 11
  int32_t seekStream(uint32_t time, uint32_t* resultTime, int32_t ignored) override; // slot 12
  int32_t reserved13() override;                                                     // slot 13: 0
  int32_t readStream(MediaChunk** chunk) override;                                   // slot 14
  bool setRate(int32_t newRate) override;                                            // slot 17
  bool reserved23(int32_t value) override; // slot 23: the container's slot 20

  /// For the container, under its lock, before it releases the entries: from here on the
  /// stream has none.
  void forgetEntries() { entries_ = {}; }
  [[nodiscard]] std::span<const StoredEntry> storedEntries() const { return entries_; }
  [[nodiscard]] const SubtitleTexts* storedTexts() const { return texts_; }
  [[nodiscard]] const BufferString& languageCode() const { return language_; }
  [[nodiscard]] const BufferString& regionCode() const { return region_; }
  [[nodiscard]] int32_t readPosition() const { return position_; }

private:
  [[nodiscard]] int32_t entryCount() const { return static_cast<int32_t>(entries_.size()); }

  SubtitleContainerInterface* container_; // not owned; must outlive the stream's use
  std::recursive_mutex* lock_;            // the container's; not owned
  MediaBufferAllocator* allocator_;       // the container's; makes every sample
  MediaClock* clock_ = nullptr;           // the engine's; not owned
  StreamFormat format_{};
  BufferString name_;
  BufferString language_;
  BufferString region_;
  std::span<const StoredEntry> entries_; // ascending by start; the container's
  const SubtitleTexts* texts_;           // where their texts lie; the container's
  int32_t position_ = 0; // next entry to deliver; -1 or entryCount() when past an end
  ImageProperties imageProperties_;
};

} // namespace Kestrel
