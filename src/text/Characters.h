#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace Kestrel {

/// Blanks between the words of markup items and style sheets: space, TAB, CR and LF only.
constexpr bool isMarkupBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

/// What the C library's number conversions skip in the "C" locale.
constexpr bool isCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

/// C-locale lowercasing: only 'A' to 'Z' change, so UTF-8 bytes pass untouched.
constexpr char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

/// Copies text to out (which may be text itself) with lowerAscii applied, eight bytes at a
/// time: every markup item of a document passes through here.
inline void lowerAsciiCopy(std::string_view text, char* out) {
  constexpr uint64_t kHighBits = 0x8080808080808080ull;
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word = 0;
    std::memcpy(&word, text.data() + i, 8);
    // Per byte, without carries between bytes: the high bit of atLeastA is set from 'A' (0x41)
    // up, that of pastZ from '[' (0x5B) up; bytes with their own high bit set are not ASCII.
    const uint64_t low7 = word & ~kHighBits;
    const uint64_t atLeastA = low7 + 0x3F3F3F3F3F3F3F3Full;
    const uint64_t pastZ = low7 + 0x2525252525252525ull;
    const uint64_t upper = atLeastA & ~pastZ & ~word & kHighBits;
    word |= upper >> 2; // 0x80 >> 2 is the 0x20 that makes a letter lowercase
    std::memcpy(out + i, &word, 8);
  }
  for (; i < text.size(); ++i)
    out[i] = lowerAscii(text[i]);
}

} // namespace Kestrel
