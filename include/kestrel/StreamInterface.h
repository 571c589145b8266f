// SPDX-License-Identifier: MIT
#pragma once

#include "kestrel/BufferString.h"
#include "kestrel/NodeList.h"
#include "kestrel/Properties.h"
#include "kestrel/StreamFormat.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>

namespace Kestrel {

class MediaChunk;
class MediaClock;

/// Base of every stream. The engine calls these by vtable position: never reorder, insert
/// or remove a slot. Pure slots are the derived stream's.
class StreamInterface {
public:
  struct Link {
    int32_t flags;
    StreamInterface* stream; // not owned
  };

  int32_t streamIndex = 0; // logged as "Sub=%i"
  int32_t further[2] = {0, 0};
  uint64_t containerId;
  uint64_t streamId;
  uint8_t flag = 0;
  // The fields a setter writes while a getter may read them on another thread are atomic,
  // each the size and alignment of the plain value it stands for.
  std::atomic<int32_t> rate{0}; // thousandths of normal speed; the sign is the direction, 0 stops
  std::atomic<int32_t> valueA{0};
  std::atomic<int32_t> valueB{0};
  int32_t pair[2] = {0, 0};
  std::recursive_mutex linkMutex; // guards links
  std::map<uint64_t, Link> links;
  int32_t kind;
  std::atomic<int32_t> lastEndTime{0}; // timestamp + duration of the last sample delivered

  StreamInterface(uint64_t container, uint64_t stream, int32_t streamKind);
  StreamInterface(const StreamInterface&) = delete;
  StreamInterface& operator=(const StreamInterface&) = delete;

  virtual ~StreamInterface();                            // slot 0
  virtual int32_t reserved1() = 0;                       // slot 1
  virtual void getPair(int32_t* first, int32_t* second); // slot 2
  /// Slot 3: copies each non-empty member to the outputs given; true when one was copied.
  virtual bool getDescription(BufferString* name, BufferString* language, BufferString* region,
                              int32_t ignored) = 0;
  virtual StreamFormat* getFormat() = 0;                              // slot 4: the stream's own
  virtual ImageProperties* getImageProperties() = 0;                  // slot 5: the stream's own
  virtual int32_t reserved6() = 0;                                    // slot 6
  virtual int32_t getKind();                                          // slot 7
  virtual NodeList<StreamInterface*> getLinkedStreams(uint32_t mask); // slot 8
  virtual int32_t setClock(MediaClock* clock) = 0;                    // slot 9: not owned
  virtual int32_t rewind() = 0;                                       // slot 10
  virtual int32_t getSeekPoint(int32_t ignored, uint32_t time, uint32_t* point) = 0;    // slot 11
  virtual int32_t seekStream(uint32_t time, uint32_t* resultTime, int32_t ignored) = 0; // 12
  virtual int32_t reserved13() = 0;                                                     // slot 13
  /// Slot 14: *chunk receives a new sample the caller owns (give it back with release()).
  virtual int32_t readStream(MediaChunk** chunk) = 0;
  virtual int32_t getLastEndTime();       // slot 15
  virtual uint8_t getFlag();              // slot 16
  virtual bool setRate(int32_t newRate);  // slot 17
  virtual int32_t getRate();              // slot 18
  virtual bool setValueA(int32_t value);  // slot 19
  virtual int32_t getValueA();            // slot 20
  virtual void setValueB(int32_t value);  // slot 21
  virtual int32_t getValueB();            // slot 22
  virtual bool reserved23(int32_t value); // slot 23: false
};

static_assert(sizeof(std::atomic<int32_t>) == sizeof(int32_t) &&
                  alignof(std::atomic<int32_t>) == alignof(int32_t) &&
                  std::atomic<int32_t>::is_always_lock_free,
              "engine record layout");

} // namespace Kestrel
