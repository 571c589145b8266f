#pragma once

// Engine stand-ins for the container unit tests: a ContainerHost that records what the
// container tells it and owns announced streams (as an engine does), a hand-moved clock, and
// a SAMIContainer whose tracks the test builds with createStream.

#include "container/OverlayStream.h"
#include "kestrel/HostInterfaces.h"
#include "kestrel/Result.h"
#include "plugin/SAMIContainer.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace ContainerTest {

using Stream = Kestrel::OverlayStream;
using EntryList = Kestrel::OverlayStream::EntryList;

class RecordingHost final : public Kestrel::ContainerHost {
public:
  ~RecordingHost() override { deleteStreams(); }

  uint64_t newIdentifier() override {
    std::lock_guard<std::mutex> guard(mutex_);
    return repeatIdentifiers ? nextId_ : nextId_++;
  }
  Kestrel::BufferString getPreferredLanguage() override {
    std::lock_guard<std::mutex> guard(mutex_);
    ++languageQueries;
    return Kestrel::BufferString(preferred.c_str());
  }
  int32_t getSetting(const Kestrel::Setting*, Kestrel::SettingValue*) override { return 0; }
  void addStream(Kestrel::StreamInterface* stream) override {
    if (onAddStream)
      onAddStream(); // an engine calling back into the container, outside our own lock
    std::lock_guard<std::mutex> guard(mutex_);
    added.push_back(stream);
    for (auto* owned : owned_)
      if (owned == stream)
        return; // announced again by a second selectProgram
    owned_.push_back(stream);
  }
  void removeStream(uint64_t streamId) override {
    std::lock_guard<std::mutex> guard(mutex_);
    removed.push_back(streamId);
  }
  void selectStream(uint64_t streamId, int32_t flag) override {
    std::lock_guard<std::mutex> guard(mutex_);
    selected.emplace_back(streamId, flag);
  }

  /// The announced stream with that identifier (tests only look streams up after
  /// selectProgram), as the concrete type so tests can read its position.
  Stream* stream(uint64_t id) const {
    for (auto* s : owned_)
      if (s->streamId == id)
        return static_cast<Stream*>(s);
    return nullptr;
  }
  void deleteStreams() {
    for (auto* s : owned_)
      delete s;
    owned_.clear();
  }

  std::string preferred;
  bool repeatIdentifiers = false; // a faulty engine
  std::function<void()> onAddStream;
  void startIdentifiersAt(uint64_t first) { nextId_ = first; }
  int languageQueries = 0;
  std::vector<Kestrel::StreamInterface*> added;
  std::vector<uint64_t> removed;
  std::vector<std::pair<uint64_t, int32_t>> selected;

private:
  std::mutex mutex_;
  uint64_t nextId_ = 10;
  std::vector<Kestrel::StreamInterface*> owned_;
};

class ManualClock final : public Kestrel::MediaClock {
public:
  explicit ManualClock(int32_t ms = -1) : now_(ms) {}
  void set(int32_t ms) { now_.store(ms); }
  int32_t getMediaTime() override { return now_.load(); }

private:
  std::atomic<int32_t> now_;
};

struct ReleaseContainer {
  void operator()(Kestrel::SAMIContainer* c) const { c->release(); }
};
using ContainerPtr = std::unique_ptr<Kestrel::SAMIContainer, ReleaseContainer>;

inline ContainerPtr makeContainer(RecordingHost* host, uint64_t containerId = 7) {
  ContainerPtr container(new Kestrel::SAMIContainer(nullptr));
  if (host != nullptr)
    container->attach(host, containerId);
  return container;
}

/// An entry the way the parser makes one: a NUL-terminated copy, size and used length the
/// text length.
inline Kestrel::MediaChunk* makeEntry(Kestrel::SAMIContainer& container, const std::string& text,
                                      int32_t start, int32_t duration = 10000) {
  auto size = static_cast<int32_t>(text.size());
  char* bytes = new char[text.size() + 1];
  std::memcpy(bytes, text.c_str(), text.size() + 1);
  Kestrel::MediaChunk* chunk = container.chunkAllocator().createChunk(bytes, size);
  chunk->used = size;
  chunk->timestamp = start;
  chunk->duration = duration;
  return chunk;
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
    entries.push_back(makeEntry(container, std::string(1, 's').append(std::to_string(spec.start)),
                                spec.start, spec.duration));
  const bool stored =
      container.createStream(entries, Kestrel::BufferString(name), Kestrel::BufferString(language),
                             Kestrel::BufferString(region));
  if (!stored)
    for (auto* e : entries)
      container.chunkAllocator().releaseBuffer(e);
  return stored;
}

/// Announces the container's streams and returns them in identifier order.
inline std::vector<Stream*> announce(Kestrel::SAMIContainer& container, RecordingHost& host) {
  const auto ids = container.getProgramIds();
  EXPECT_EQ(container.selectProgram(ids.head->value), Kestrel::kResultOk);
  std::vector<Stream*> streams;
  for (auto* s : host.added)
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
