// The engine calls the boundary classes by vtable slot and reads some sample fields by offset.
// Both sides compile the same headers here, so a moved slot or field would go unnoticed by
// every other test; these pin the numbers an engine built elsewhere relies on.
#include "kestrel/Kestrel.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>

namespace {

// The fields an engine reads directly, at the offsets of the LP64 layout (vtable pointer first).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
static_assert(sizeof(void*) != 8 || offsetof(Kestrel::MediaBuffer, used) == 8, "used length");
static_assert(sizeof(void*) != 8 || offsetof(Kestrel::MediaBuffer, size) == 12, "size");
static_assert(sizeof(void*) != 8 || offsetof(Kestrel::MediaBuffer, data) == 16, "data");
static_assert(sizeof(void*) != 8 || offsetof(Kestrel::MediaChunk, timestamp) == 88, "timestamp");
static_assert(sizeof(void*) != 8 || offsetof(Kestrel::MediaChunk, duration) == 92, "duration");
#pragma GCC diagnostic pop

/// The vtable index of a virtual member function: on the Itanium ABI a pointer to one holds
/// 1 + the byte offset of its vtable entry in its first word.
template <class Member> std::ptrdiff_t vtableIndex(Member member) {
  static_assert(sizeof(Member) == 2 * sizeof(void*), "Itanium pointer to member function");
  uintptr_t words[2];
  std::memcpy(words, &member, sizeof words);
  if ((words[0] & 1) == 0)
    return -1; // not virtual
  return static_cast<std::ptrdiff_t>((words[0] - 1) / sizeof(void*));
}

struct Slot {
  const char* name;
  std::ptrdiff_t index;
  int slot;
};
// Slot 0, the virtual destructor, takes two entries (complete and deleting), so slot N >= 1
// sits at vtable index N + 1.
#define KESTREL_SLOT(cls, fn, n)                                                                   \
  Slot { #cls "::" #fn, vtableIndex(&Kestrel::cls::fn), n }

TEST(BinaryContract, EveryOperationSitsAtItsSlot) {
  const Slot slots[] = {
      KESTREL_SLOT(Plugin, retain, 1),
      KESTREL_SLOT(Plugin, release, 2),
      KESTREL_SLOT(Plugin, getReferenceCount, 3),
      KESTREL_SLOT(Plugin, getState, 4),
      KESTREL_SLOT(Plugin, getHost, 5),
      KESTREL_SLOT(Plugin, queryInterface, 6),
      KESTREL_SLOT(ContainerInterface, attach, 1),
      KESTREL_SLOT(ContainerInterface, probe, 2),
      KESTREL_SLOT(ContainerInterface, open, 5),
      KESTREL_SLOT(ContainerInterface, getLocation, 6),
      KESTREL_SLOT(ContainerInterface, getContainerId, 7),
      KESTREL_SLOT(ContainerInterface, getProgramIds, 10),
      KESTREL_SLOT(ContainerInterface, selectProgram, 12),
      KESTREL_SLOT(ContainerInterface, closeProgram, 13),
      KESTREL_SLOT(ContainerInterface, getSourceSize, 14),
      KESTREL_SLOT(ContainerInterface, getMimeTypeScore, 15),
      KESTREL_SLOT(ContainerInterface, getMimeTypeCount, 16),
      KESTREL_SLOT(ContainerInterface, getMimeType, 17),
      KESTREL_SLOT(ContainerInterface, getMimeTypeScoreAt, 18),
      KESTREL_SLOT(SubtitleContainerInterface, getTextFormat, 19),
      KESTREL_SLOT(SubtitleContainerInterface, reserved20, 20),
      KESTREL_SLOT(StreamInterface, getPair, 2),
      KESTREL_SLOT(StreamInterface, getDescription, 3),
      KESTREL_SLOT(StreamInterface, getFormat, 4),
      KESTREL_SLOT(StreamInterface, getImageProperties, 5),
      KESTREL_SLOT(StreamInterface, getKind, 7),
      KESTREL_SLOT(StreamInterface, getLinkedStreams, 8),
      KESTREL_SLOT(StreamInterface, setClock, 9),
      KESTREL_SLOT(StreamInterface, rewind, 10),
      KESTREL_SLOT(StreamInterface, getSeekPoint, 11),
      KESTREL_SLOT(StreamInterface, seekStream, 12),
      KESTREL_SLOT(StreamInterface, readStream, 14),
      KESTREL_SLOT(StreamInterface, getLastEndTime, 15),
      KESTREL_SLOT(StreamInterface, getFlag, 16),
      KESTREL_SLOT(StreamInterface, setRate, 17),
      KESTREL_SLOT(StreamInterface, getRate, 18),
      KESTREL_SLOT(StreamInterface, setValueA, 19),
      KESTREL_SLOT(StreamInterface, getValueA, 20),
      KESTREL_SLOT(StreamInterface, setValueB, 21),
      KESTREL_SLOT(StreamInterface, getValueB, 22),
      KESTREL_SLOT(StreamInterface, reserved23, 23),
      KESTREL_SLOT(MediaBuffer, setData, 1),
      KESTREL_SLOT(MediaBuffer, release, 2),
      KESTREL_SLOT(MediaBuffer, lockData, 3),
      KESTREL_SLOT(MediaBuffer, unlockData, 4),
      KESTREL_SLOT(MediaBuffer, lock, 5),
      KESTREL_SLOT(MediaBuffer, unlock, 6),
      KESTREL_SLOT(IBufferAllocator, acceptName, 1),
      KESTREL_SLOT(IBufferAllocator, setParameter, 2),
      KESTREL_SLOT(IBufferAllocator, createBuffer, 3),
      KESTREL_SLOT(IBufferAllocator, releaseBuffer, 4),
      KESTREL_SLOT(PluginHost, checkFormat, 7),
      KESTREL_SLOT(PluginHost, pluginDestroying, 8),
      KESTREL_SLOT(PluginHost, pluginDestroyed, 9),
      KESTREL_SLOT(ContainerHost, newIdentifier, 1),
      KESTREL_SLOT(ContainerHost, getPreferredLanguage, 3),
      KESTREL_SLOT(ContainerHost, getSetting, 5),
      KESTREL_SLOT(ContainerHost, addStream, 21),
      KESTREL_SLOT(ContainerHost, removeStream, 22),
      KESTREL_SLOT(ContainerHost, selectStream, 23),
      KESTREL_SLOT(MediaClock, getMediaTime, 3),
      KESTREL_SLOT(StringAllocator, allocate, 1),
      KESTREL_SLOT(StringAllocator, free, 2),
  };
  for (const auto& s : slots) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(s.index, s.slot + 1);
  }
}

} // namespace
