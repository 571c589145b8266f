#pragma once

#include "container/OverlayStream.h"
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
  using OverlayStream = Kestrel::OverlayStream;
  /// A track's entries and their texts; the container keeps them until closeProgram
  /// releases them, and its streams read them there.
  using EntryList = OverlayStream::EntryList;

  SubtitleParserTemplate();
  SubtitleParserTemplate(const SubtitleParserTemplate&) = delete;
  SubtitleParserTemplate& operator=(const SubtitleParserTemplate&) = delete;
  /// Releases the entries still stored (a program never closed) and deletes the streams
  /// the engine was never given; announced streams are the engine's.
  ~SubtitleParserTemplate() override;

  BufferString getLocation() override;                    // slot 6: a copy; no lock
  int32_t reserved9() override;                           // slot 9: 0
  NodeList<unsigned long long> getProgramIds() override;  // slot 10: the one program
  BufferString reserved11(int32_t a, int32_t b) override; // slot 11: empty
  /// Slot 12: announces every stream (addStream) and selects one, preferring the viewer's
  /// language. Failure for another program or before attach.
  int32_t selectProgram(uint64_t programId) override;
  /// Slot 13: with false, releases every entry and reports each stream gone; true does
  /// nothing.
  int32_t closeProgram(bool keep) override;
  int32_t getSourceSize(uint64_t* size) override; // slot 14: size of the file at location
  bool reserved20(int32_t value) override;        // slot 20: false

  /// For the format parser, while it holds the container lock: sorts entries by start
  /// (stable; skipped when the caller knows them to be in order), creates the track's stream
  /// and records it. The container takes the entries, leaving entries empty, and owns them
  /// from here. False (nothing created, the entries stay the caller's) when no host is
  /// attached.
  bool createStream(EntryList& entries, BufferString name, BufferString language,
                    BufferString region, bool inOrder = false);

  /// Creates every entry and every sample; outlives every chunk handed out.
  MediaBufferAllocator& chunkAllocator() { return *chunkAllocator_; }
  /// The container lock, shared by the container and all its streams.
  std::recursive_mutex& containerLock() { return lock_; }
  ContainerHost* host() const { return this->containerHost; }
  /// The format record every stream of this container reports, and probe announces.
  StreamFormat streamFormat() { return StreamFormat{this->getTextFormat(), 20, 4, 0}; }

protected:
  using Guard = std::lock_guard<std::recursive_mutex>;

  /// One track of the store, by stream identifier.
  struct Track {
    OverlayStream* stream = nullptr; // not owned once announced: the engine may delete it
    EntryList entries;               // the container's, whatever became of the stream
    bool announced = false;          // given to the engine with addStream
  };

  BufferString location_;
  std::recursive_mutex lock_;
  std::map<uint64_t, Track> tracks_;
  BufferString preferredLanguage_;
  uint64_t programId_ = UINT64_MAX;
  MediaBufferAllocator* chunkAllocator_;

private:
  /// Releases the track's entries and forgets its stream, deleting it unless the engine
  /// was given it. With emptyStream, the stream's own list is emptied first; only then may
  /// an announced stream be touched (the engine keeps it alive until removeStream).
  void retireTrack(Track& track, bool emptyStream);
};

} // namespace Kestrel
