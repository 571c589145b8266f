#pragma once

// What the harnesses that go through the container add to the shared engine stand-ins
// (tests/support/): the scratch file an input is written to, and the settings an input picks.
#include "support/HostObjects.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace KestrelFuzz {

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
inline void chooseSettings(uint8_t selector, KestrelTest::TestContainerHost& host) {
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
    host.codePageName.reset();
  else if (name == 1)
    host.codePageName = std::string();
  else
    host.codePageName = kNames[name - 2];
}

} // namespace KestrelFuzz
