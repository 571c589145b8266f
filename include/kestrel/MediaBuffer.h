// SPDX-License-Identifier: MIT
#pragma once

#include "kestrel/BufferString.h"
#include "kestrel/Properties.h"

#include <cstdint>
#include <mutex>

namespace Kestrel {

class MediaBuffer;

/// Interface of media sample allocators. Slot order is fixed.
class IBufferAllocator {
public:
  int32_t parameter = 0; // a setting of the allocator; the subtitle container uses 8

  explicit IBufferAllocator(int32_t value = 0) : parameter(value) {}
  virtual ~IBufferAllocator();                                            // slot 0
  virtual bool acceptName(BufferString name);                             // slot 1: false
  virtual void setParameter(int32_t value);                               // slot 2
  virtual MediaBuffer* createBuffer(int32_t a, int32_t b, int32_t c) = 0; // slot 3
  virtual void releaseBuffer(MediaBuffer* buffer) = 0;                    // slot 4
};

/// A media sample: payload, size, used length and its own recursive lock.
/// The engine reads `used` and `size` directly.
class MediaBuffer {
public:
  int32_t used = 0;     // meaningful bytes in data
  int32_t size = 0;     // bytes in data
  char* data = nullptr; // from array new; freed only by the allocator's releaseBuffer
  std::recursive_mutex mutex;
  BufferString annotation; // never set by the plug-in

  MediaBuffer();
  MediaBuffer(const MediaBuffer&) = delete;
  MediaBuffer& operator=(const MediaBuffer&) = delete;

  virtual ~MediaBuffer();                           // slot 0: waits for a holder; keeps data
  virtual void setData(char* bytes, int32_t count); // slot 1: no lock, frees nothing
  virtual void release();                           // slot 2
  virtual char* lockData();                         // slot 3: pair with unlockData
  virtual void unlockData();                        // slot 4
  virtual void lock();                              // slot 5
  virtual void unlock();                            // slot 6

  [[nodiscard]] int32_t getSize() const { return size; }
  int32_t& usedLength() { return used; }
};

/// A timed sample. The engine reads timestamp and duration directly and gives the chunk
/// back with release(), which hands it to the allocator that made it.
class MediaChunk : public MediaBuffer {
public:
  int32_t timestamp = 0; // milliseconds
  int32_t duration = 0;  // milliseconds
  int32_t further[2] = {0, 0};
  IBufferAllocator* allocator; // not owned; receives the chunk on release
  ImageProperties imageProperties;
  AudioProperties audioProperties;

  explicit MediaChunk(IBufferAllocator* owner);
  ~MediaChunk() override;
  void release() override; // slot 2: the chunk is gone afterwards
};

/// Creates the container's chunks and disposes of them.
class MediaBufferAllocator final : public IBufferAllocator {
public:
  MediaBufferAllocator() : IBufferAllocator(8) {}
  MediaBuffer* createBuffer(int32_t a, int32_t b, int32_t c) override; // slot 3: null
  void releaseBuffer(MediaBuffer* buffer) override; // slot 4: frees payload and object

  /// A new chunk owned by this allocator around data (from array new; the chunk takes it).
  MediaChunk* createChunk(char* bytes, int32_t count);
};

} // namespace Kestrel
