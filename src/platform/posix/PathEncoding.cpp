#include "platform/PathEncoding.h"

namespace Kestrel::Platform {
namespace {

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
bool isContinuation(uint8_t byte) { return byte >= 0x80 && byte <= 0xBF; }

/// The length of the well-formed UTF-8 sequence at s (Unicode's table of well-formed byte
/// sequences), or 0 when there is none before end.
std::ptrdiff_t wellFormedLength(const uint8_t* s, const uint8_t* end) {
  const uint8_t lead = s[0];
  if (lead < 0x80)
    return 1;
  std::ptrdiff_t length = 0;
  uint8_t low = 0x80; // the range the second byte must lie in
  uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0)
      low = 0xA0; // no overlong forms
    else if (lead == 0xED)
      high = 0x9F; // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0)
      low = 0x90;
    else if (lead == 0xF4)
      high = 0x8F; // nothing beyond U+10FFFF
  } else {
    return 0;
  }
  if (end - s < length || s[1] < low || s[1] > high)
    return 0;
  for (std::ptrdiff_t k = 2; k < length; ++k) {
    if (!isContinuation(s[k]))
      return 0;
  }
  return length;
}

} // namespace

bool pathToUtf8(std::u16string_view units, std::string& out) {
  const std::size_t nul = units.find(u'\0');
  if (nul != std::u16string_view::npos)
    units = units.substr(0, nul);
  std::string bytes;
  bytes.reserve(units.size() * 3);
  for (std::size_t i = 0; i < units.size(); ++i) {
    uint32_t value = units[i];
    if (isLowSurrogate(units[i]))
      return false;
    if (isHighSurrogate(units[i])) {
      if (i + 1 >= units.size() || !isLowSurrogate(units[i + 1]))
        return false;
      value = 0x10000 + ((value & 0x3FFu) << 10) + (units[++i] & 0x3FFu);
    }
    if (value < 0x80) {
      bytes.push_back(static_cast<char>(value));
    } else if (value < 0x800) {
      bytes.push_back(static_cast<char>(0xC0 | (value >> 6)));
      bytes.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    } else if (value < 0x10000) {
      bytes.push_back(static_cast<char>(0xE0 | (value >> 12)));
      bytes.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    } else {
      bytes.push_back(static_cast<char>(0xF0 | (value >> 18)));
      bytes.push_back(static_cast<char>(0x80 | ((value >> 12) & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    }
  }
  out = std::move(bytes);
  return true;
}

std::u16string pathToWide(std::string_view utf8) {
  const std::size_t nul = utf8.find('\0');
  if (nul != std::string_view::npos)
    utf8 = utf8.substr(0, nul);
  std::u16string wide(utf8.size(), u'\0'); // one unit per byte always suffices
  const auto* source = reinterpret_cast<const uint8_t*>(utf8.data());
  char16_t* target = wide.data();
  if (!decodePathBytes(&source, source + utf8.size(), &target, wide.data() + wide.size()))
    return {};
  wide.resize(static_cast<std::size_t>(target - wide.data()));
  return wide;
}

bool decodePathBytes(const uint8_t** source, const uint8_t* sourceEnd, char16_t** target,
                     const char16_t* targetEnd) {
  const uint8_t* s = *source;
  char16_t* t = *target;
  bool ok = true;
  while (s < sourceEnd) {
    const std::ptrdiff_t length = wellFormedLength(s, sourceEnd);
    if (length == 0) {
      ok = false;
      break;
    }
    uint32_t value = length == 1 ? s[0] : s[0] & (0x7Fu >> length);
    for (std::ptrdiff_t k = 1; k < length; ++k)
      value = (value << 6) | (s[k] & 0x3Fu);
    const std::ptrdiff_t units = value > 0xFFFF ? 2 : 1;
    if (targetEnd - t < units) {
      ok = false;
      break;
    }
    if (units == 2) {
      value -= 0x10000;
      *t++ = static_cast<char16_t>(0xD800 + (value >> 10));
      *t++ = static_cast<char16_t>(0xDC00 + (value & 0x3FF));
    } else {
      *t++ = static_cast<char16_t>(value);
    }
    s += length;
  }
  *source = s;
  *target = t;
  return ok;
}

} // namespace Kestrel::Platform
