#include "platform/FileUrl.h"

#include "platform/Utf.h"

#include <cstring>
#include <string>

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

  // Escapes stand for bytes of the path's UTF-8 form; literal characters join them in
  // that form too, and the whole is checked as UTF-8 once at the end.
  std::string bytes;
  for (; *p != u'\0' && *p != u'?' && *p != u'#'; ++p) {
    if (*p == u'%') {
      const int high = hexValue(p[1]);
      const int low = high < 0 ? -1 : hexValue(p[2]);
      if (low < 0)
        return kUrlRefused;
      const int value = high * 16 + low;
      if (value == 0)
        return kUrlRefused; // would cut the path short
      bytes.push_back(static_cast<char>(value));
      p += 2;
      continue;
    }
    // One unit, or a surrogate pair, at a time.
    const std::size_t units =
        (*p >= 0xD800 && *p <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) ? 2 : 1;
    const std::string piece = wideToUtf8(std::u16string(p, units));
    if (piece.empty())
      return kUrlRefused; // a lone surrogate
    bytes += piece;
    p += units - 1;
  }

  const auto* source = reinterpret_cast<const uint8_t*>(bytes.data());
  const uint8_t* sourceEnd = source + bytes.size();
  // The terminator needs one unit of the capacity.
  char16_t* target = path;
  if (convertUtf8ToUtf16Strict(&source, sourceEnd, &target, path + (capacity - 1)) !=
      StrictResult::Ok)
    return kUrlRefused; // not UTF-8 once decoded, or too long
  *target = u'\0';
  return 0;
}

} // namespace Kestrel::Platform
