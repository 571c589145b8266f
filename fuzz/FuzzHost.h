#pragma once

// Engine objects for the harnesses that go through the container: settings answers, stream
// bookkeeping (announced streams are ours to delete, as an engine's) and a media clock.
#include "kestrel/Kestrel.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace KestrelFuzz {

class Host final : public Kestrel::ContainerHost {
public:
  std::optional<bool> overrideEmbedded;
  std::optional<std::string> codePage;
  std::string preferredLanguage;
  std::vector<Kestrel::StreamInterface*> streams;

  ~Host() override { deleteStreams(); }

  uint64_t newIdentifier() override { return nextId_++; }
  Kestrel::BufferString getPreferredLanguage() override {
    return Kestrel::BufferString(preferredLanguage.c_str());
  }
  int32_t getSetting(const Kestrel::Setting* setting, Kestrel::SettingValue* value) override {
    if (setting->key == "OverrideEmbedded" && overrideEmbedded) {
      value->tag = Kestrel::kSettingBoolean;
      value->payload.boolean = *overrideEmbedded ? 1 : 0;
    } else if (setting->key == "Name" && codePage) {
      name_ = Kestrel::BufferString(codePage->c_str());
      value->tag = Kestrel::kSettingString;
      value->payload.string = &name_;
    }
    return 0;
  }
  void addStream(Kestrel::StreamInterface* stream) override { streams.push_back(stream); }
  void removeStream(uint64_t /*streamId*/) override {}
  void selectStream(uint64_t /*streamId*/, int32_t /*selected*/) override {}

  void deleteStreams() {
    for (auto* stream : streams)
      delete stream;
    streams.clear();
  }

private:
  uint64_t nextId_ = 1;
  Kestrel::BufferString name_;
};

class Clock final : public Kestrel::MediaClock {
public:
  int32_t time = 0;
  int32_t getMediaTime() override { return time; }
};

/// A per-process scratch file that the harness rewrites for every input.
inline std::string writeScratch(const uint8_t* data, size_t size, const char* extension) {
  const std::string path = "/tmp/kestrel-fuzz-" + std::to_string(::getpid()) + extension;
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size > 0)
      std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  return path;
}

/// The settings combination chosen by one byte: override absent/false/true, and a code
/// page name absent, empty, or one of a few real converters (or one ICU doesn't know).
inline void chooseSettings(uint8_t selector, Host& host) {
  static const char* const kNames[] = {"UTF16-LE", "windows-949", "windows-1252", "UTF-8",
                                       "no-such-converter"};
  switch (selector % 3) {
  case 0:
    host.overrideEmbedded.reset();
    break;
  case 1:
    host.overrideEmbedded = false;
    break;
  default:
    host.overrideEmbedded = true;
    break;
  }
  const unsigned name = (selector / 3) % 7;
  if (name == 0)
    host.codePage.reset();
  else if (name == 1)
    host.codePage = std::string();
  else
    host.codePage = kNames[name - 2];
}

} // namespace KestrelFuzz
