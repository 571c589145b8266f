// SPDX-License-Identifier: MIT
#pragma once

#include "kestrel/BufferString.h"

#include <cstddef>
#include <cstdint>

namespace Kestrel {

/// Names one setting the plug-in asks the engine for (ContainerHost slot 5).
class Setting {
public:
  int32_t kind;         // 4 for every setting of this plug-in
  BufferString section; // private copies on the process-wide StandardAllocator<char>
  BufferString key;

  Setting(int32_t settingKind, const BufferString& sectionName, const BufferString& keyName)
      : kind(settingKind), section(sectionName, StandardAllocator<char>::instance()),
        key(keyName, StandardAllocator<char>::instance()) {}
  virtual ~Setting() {
    key.release();
    section.release();
  }
};

inline constexpr uint8_t kSettingBoolean = 1;
inline constexpr uint8_t kSettingString = 11;
inline constexpr uint8_t kSettingNone = 0;

/// The engine's tagged answer: tag at offset 0, payload at offset 8. For a string the
/// payload points to a record whose first member points to NUL-terminated text (a
/// BufferString will do); the engine keeps ownership of it.
struct SettingValue {
  uint8_t tag = kSettingNone;
  union Payload {
    uint8_t boolean;    // tag 1: 0 false, anything else true
    const void* string; // tag 11
  } payload{};
};
static_assert(offsetof(SettingValue, payload) == 8, "engine record layout");

} // namespace Kestrel
