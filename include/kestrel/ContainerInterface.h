// SPDX-License-Identifier: MIT
#pragma once

#include "kestrel/BufferString.h"
#include "kestrel/NodeList.h"
#include "kestrel/StreamFormat.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace Kestrel {

class ContainerHost;
struct SourceDescriptor;

/// Base of every container; what queryInterface hands out for kContainerInterfaceId.
/// The engine calls these by vtable position: never reorder, insert or remove a slot.
class ContainerInterface {
public:
  ContainerInterface() = default;
  ContainerInterface(const ContainerInterface&) = delete;
  ContainerInterface& operator=(const ContainerInterface&) = delete;

  virtual ~ContainerInterface();                         // slot 0
  virtual void attach(ContainerHost* host, uint64_t id); // slot 1
  /// Slot 2: recognises a source by content; appends its format to formats when the engine
  /// accepts it. formats is the caller's and may be null.
  virtual uint8_t probe(SourceDescriptor* source, int32_t ignoredA, int32_t ignoredB,
                        std::vector<StreamFormat>* formats) = 0;
  virtual void reserved3(int32_t value) = 0;                          // slot 3
  virtual int32_t reserved4(int32_t value) = 0;                       // slot 4
  virtual int32_t open(SourceDescriptor* source) = 0;                 // slot 5
  virtual BufferString getLocation() = 0;                             // slot 6
  virtual uint64_t getContainerId();                                  // slot 7
  virtual int32_t getReservedPair(uint32_t* first, uint32_t* second); // slot 8
  virtual int32_t reserved9() = 0;                                    // slot 9
  virtual NodeList<unsigned long long> getProgramIds() = 0;           // slot 10
  virtual BufferString reserved11(int32_t a, int32_t b) = 0;          // slot 11
  virtual int32_t selectProgram(uint64_t programId) = 0;              // slot 12
  virtual int32_t closeProgram(bool keep) = 0;                        // slot 13
  virtual int32_t getSourceSize(uint64_t* size) = 0;                  // slot 14
  virtual int32_t getMimeTypeScore(const BufferString* mimeType) = 0; // slot 15
  virtual uint32_t getMimeTypeCount() = 0;                            // slot 16
  virtual BufferString getMimeType(uint32_t index) = 0;               // slot 17
  virtual int32_t getMimeTypeScoreAt(uint32_t index) = 0;             // slot 18

protected:
  // Atomic, as attach may write them while another call reads them; each is the size and
  // alignment of the plain value it stands for.
  std::atomic<ContainerHost*> containerHost{nullptr}; // not owned; null until attach
  std::atomic<uint64_t> containerId{0};
  std::atomic<int32_t> attachWord{0};
};
// NOLINTNEXTLINE(bugprone-sizeof-expression): the size of the pointer is the point here
static_assert(sizeof(std::atomic<ContainerHost*>) == sizeof(ContainerHost*) &&
                  alignof(std::atomic<ContainerHost*>) == alignof(ContainerHost*) &&
                  sizeof(std::atomic<uint64_t>) == sizeof(uint64_t) &&
                  alignof(std::atomic<uint64_t>) == alignof(uint64_t) &&
                  std::atomic<uint64_t>::is_always_lock_free,
              "engine record layout");

/// The two slots subtitle containers add after the container interface.
class SubtitleContainerInterface : public ContainerInterface {
public:
  virtual FormatCode getTextFormat() = 0;     // slot 19: the code every stream reports
  virtual bool reserved20(int32_t value) = 0; // slot 20: streams forward their slot 23 here
};

} // namespace Kestrel
