#pragma once

// The container unit tests' scaffolding: the shared engine stand-ins (tests/support/) and a
// SAMIContainer whose tracks the test builds with createStream.

#include "container/OverlayStream.h"
#include "kestrel/HostInterfaces.h"
#include "kestrel/Result.h"
#include "plugin/SAMIContainer.h"
#include "support/HostObjects.h"
#include "support/Ref.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace ContainerTest {

using Stream = Kestrel::OverlayStream;
using EntryList = Kestrel::OverlayStream::EntryList;

using KestrelTest::TestClock;
using KestrelTest::TestContainerHost;
using ContainerPtr = KestrelTest::Ref<Kestrel::SAMIContainer>;

inline ContainerPtr makeContainer(TestContainerHost* host, uint64_t containerId = 7) {
  ContainerPtr container(new Kestrel::SAMIContainer(nullptr));
  if (host != nullptr)
    container->attach(host, containerId);
  return container;
}

struct EntrySpec {
  int32_t start;
  int32_t duration;
};

/// Adds a track of the given entries (texts "s<start>") and returns whether it was stored.
inline bool addTrack(Kestrel::SAMIContainer& container, const std::vector<EntrySpec>& specs,
                     const char* language = "", const char* region = "",
                     const char* name = "track") {
  EntryList entries;
  for (const auto& spec : specs)
    entries.add(std::string(1, 's').append(std::to_string(spec.start)),
                static_cast<uint32_t>(spec.start), static_cast<uint32_t>(spec.duration));
  return container.createStream(entries, Kestrel::BufferString(name),
                                Kestrel::BufferString(language), Kestrel::BufferString(region));
}

/// Announces the container's streams and returns them in identifier order.
inline std::vector<Stream*> announce(Kestrel::SAMIContainer& container, TestContainerHost& host) {
  const auto ids = container.getProgramIds();
  EXPECT_EQ(container.selectProgram(ids.head->value), Kestrel::kResultOk);
  std::vector<Stream*> streams;
  for (auto* s : host.added())
    streams.push_back(static_cast<Stream*>(s));
  return streams;
}

struct SampleRelease {
  void operator()(Kestrel::MediaChunk* c) const { c->release(); }
};
using Sample = std::unique_ptr<Kestrel::MediaChunk, SampleRelease>;

struct ReadResult {
  int32_t code;
  Sample sample;
};

inline ReadResult read(Kestrel::StreamInterface& stream) {
  Kestrel::MediaChunk* chunk = reinterpret_cast<Kestrel::MediaChunk*>(0x1);
  const int32_t code = stream.readStream(&chunk);
  return {code, Sample(chunk)};
}

} // namespace ContainerTest
