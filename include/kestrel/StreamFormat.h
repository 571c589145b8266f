// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Kestrel {

/// An 8-byte format code returned by value in one register: "UTF8" and four zero bytes
/// for this plug-in.
struct FormatCode {
  char bytes[8];

  static FormatCode fromText(const char* text) {
    FormatCode code{};
    std::strncpy(code.bytes, text, sizeof code.bytes);
    return code;
  }
};
static_assert(sizeof(FormatCode) == 8, "engine record layout");

/// The 20-byte format record of a stream, handed over by value and by pointer.
struct StreamFormat {
  FormatCode code;
  int32_t first;  // 20 for subtitle streams
  int32_t second; // 4
  int32_t third;  // 0
};
static_assert(sizeof(StreamFormat) == 20, "engine record layout");
static_assert(offsetof(StreamFormat, first) == 8, "engine record layout");

} // namespace Kestrel
