#include "platform/FileUrl.h"

#include "platform/PathEncoding.h"

#include <cstddef>

namespace Kestrel::Platform {
namespace {

inline constexpr int32_t kUrlRefused = -1;

char16_t lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

/// True when the units at url start with prefix, ignoring ASCII case.
bool startsWithIgnoringCase(const char16_t* url, const char16_t* prefix) {
  for (; *prefix != u'\0'; ++url, ++prefix) {
    if (lower(*url) != *prefix)
      return false;
  }
  return true;
}

/// The length of the UTF-8 sequence a lead byte starts, or 0 when it starts none.
std::ptrdiff_t sequenceLength(uint8_t lead) {
  if (lead < 0x80)
    return 1;
  if (lead >= 0xC2 && lead <= 0xDF)
    return 2;
  if (lead >= 0xE0 && lead <= 0xEF)
    return 3;
  if (lead >= 0xF0 && lead <= 0xF4)
    return 4;
  return 0;
}

int hexValue(char16_t c) {
  if (c >= u'0' && c <= u'9')
    return c - u'0';
  if (c >= u'a' && c <= u'f')
    return c - u'a' + 10;
  if (c >= u'A' && c <= u'F')
    return c - u'A' + 10;
  return -1;
}

} // namespace

int32_t pathCreateFromUrl(const char16_t* url, char16_t* path, uint32_t capacity) {
  if (url == nullptr || path == nullptr || capacity == 0)
    return kUrlRefused;
  if (!startsWithIgnoringCase(url, u"file://"))
    return kUrlRefused;
  const char16_t* p = url + 7;
  if (startsWithIgnoringCase(p, u"localhost/"))
    p += 9; // keep the slash: it starts the path
  if (*p != u'/')
    return kUrlRefused; // another host, or no absolute path

  // Escapes stand for bytes of the path's UTF-8 form: each character they spell is decoded
  // into the path as its last byte arrives, and a literal character (never part of one)
  // may not cut it short. Literal units are copied as they are. The terminator needs one
  // unit of the capacity.
  char16_t* target = path;
  const char16_t* const targetEnd = path + (capacity - 1);
  uint8_t sequence[4];
  std::ptrdiff_t have = 0;
  std::ptrdiff_t needed = 0;
  for (; *p != u'\0' && *p != u'?' && *p != u'#'; ++p) {
    if (*p == u'%') {
      const int high = hexValue(p[1]);
      const int low = high < 0 ? -1 : hexValue(p[2]);
      if (low < 0)
        return kUrlRefused;
      const int value = high * 16 + low;
      if (value == 0)
        return kUrlRefused; // would cut the path short
      p += 2;
      if (have == 0) {
        needed = sequenceLength(static_cast<uint8_t>(value));
        if (needed == 0)
          return kUrlRefused; // no UTF-8 character starts with this byte
      }
      sequence[have++] = static_cast<uint8_t>(value);
      if (have == needed) {
        const uint8_t* source = sequence;
        if (!decodePathBytes(&source, sequence + have, &target, targetEnd))
          return kUrlRefused; // not UTF-8 once decoded, or too long
        have = 0;
      }
      continue;
    }
    if (have > 0)
      return kUrlRefused; // a character cut short
    // One unit, or a surrogate pair, at a time.
    const bool pair = *p >= 0xD800 && *p <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF;
    if (!pair && *p >= 0xD800 && *p <= 0xDFFF)
      return kUrlRefused; // a lone surrogate
    if (targetEnd - target < (pair ? 2 : 1))
      return kUrlRefused; // too long
    *target++ = *p;
    if (pair)
      *target++ = *++p;
  }
  if (have > 0)
    return kUrlRefused; // a character cut short
  *target = u'\0';
  return 0;
}

} // namespace Kestrel::Platform
