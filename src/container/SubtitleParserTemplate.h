#pragma once

#include "kestrel/BufferString.h"
#include "kestrel/ContainerInterface.h"
#include "kestrel/MediaBuffer.h"
#include "kestrel/NodeList.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace Kestrel {

/// The generic half of a subtitle container: one track (and one OverlayStream) per
/// subtitle class, program and stream selection, release. The format class derives from
/// it and fills the store with createStream while it parses.
template <class Format> class SubtitleParserTemplate : public SubtitleContainerInterface {
public:
  class OverlayStream;
  /// A track's entries; the container owns the chunks until closeProgram releases them.
  using EntryList = std::vector<MediaChunk*>;

  SubtitleParserTemplate();
  ~SubtitleParserTemplate() override;

  BufferString getLocation() override;                    // slot 6
  int32_t reserved9() override;                           // slot 9: 0
  NodeList<unsigned long long> getProgramIds() override;  // slot 10
  BufferString reserved11(int32_t a, int32_t b) override; // slot 11: empty
  int32_t selectProgram(uint64_t programId) override;     // slot 12
  int32_t closeProgram(bool keep) override;               // slot 13
  int32_t getSourceSize(uint64_t* size) override;         // slot 14
  bool reserved20(int32_t value) override;                // slot 20: false

  /// For the format parser, while it holds the container lock: sorts entries by start
  /// (in place), creates the track's stream and records it. False (nothing created, the
  /// entries stay the caller's) when no host is attached.
  bool createStream(EntryList& entries, const BufferString& name, const BufferString& language,
                    const BufferString& region);

  /// Creates every entry and every sample; outlives every chunk handed out.
  MediaBufferAllocator& chunkAllocator() { return *chunkAllocator_; }
  /// The container lock, shared by the container and all its streams.
  std::recursive_mutex& containerLock() { return lock_; }
  ContainerHost* host() const { return this->containerHost; }

protected:
  BufferString location_;
  std::recursive_mutex lock_;
  std::map<uint64_t, OverlayStream*> streams_; // not owned once announced to the engine
  BufferString preferredLanguage_;
  uint64_t programId_ = UINT64_MAX;
  MediaBufferAllocator* chunkAllocator_;
};

} // namespace Kestrel
