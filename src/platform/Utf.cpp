#include "platform/Utf.h"

#include <limits>
#include <vector>

namespace Kestrel {
namespace {

/// Sequence length announced by a UTF-8 lead byte; continuation bytes count as 1 here, as
/// do the bytes of the old 5- and 6-byte forms, which are never well-formed.
int32_t sequenceLength(uint8_t lead) {
  if (lead < 0xC0)
    return 1;
  if (lead < 0xE0)
    return 2;
  if (lead < 0xF0)
    return 3;
  if (lead < 0xF8)
    return 4;
  if (lead < 0xFC)
    return 5;
  return 6;
}

/// The Unicode Standard's table of well-formed byte sequences, for `length` bytes at s.
bool isWellFormed(const uint8_t* s, int32_t length) {
  if (length < 1 || length > 4)
    return false;
  // The trailing bytes from the last one back to the second.
  for (int32_t i = length - 1; i >= 2; --i) {
    if (s[i] < 0x80 || s[i] > 0xBF)
      return false;
  }
  if (length >= 2) {
    const uint8_t second = s[1];
    switch (s[0]) {
    case 0xE0:
      if (second < 0xA0 || second > 0xBF)
        return false;
      break;
    case 0xED:
      if (second < 0x80 || second > 0x9F)
        return false;
      break;
    case 0xF0:
      if (second < 0x90 || second > 0xBF)
        return false;
      break;
    case 0xF4:
      if (second < 0x80 || second > 0x8F)
        return false;
      break;
    default:
      if (second < 0x80 || second > 0xBF)
        return false;
    }
  }
  return !(s[0] >= 0x80 && s[0] < 0xC2) && s[0] <= 0xF4;
}

} // namespace

int32_t decodeUtf8(const uint8_t* bytes, int32_t length, char16_t* units, int32_t capacity) {
  if (length < 0 || (length > 0 && bytes == nullptr) || capacity < 0)
    return -1;
  int32_t i = 0;
  if (length > 2 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
    i = 3;
  int32_t written = 0;
  while (i < length) {
    const uint8_t lead = bytes[i++];
    uint32_t value;
    int32_t following;
    if (lead < 0x80) {
      value = lead;
      following = 0;
    } else if (lead < 0xC0) { // NOLINT(bugprone-branch-clone): a continuation byte, as 0xF8+
      return -1;
    } else if (lead < 0xE0) {
      value = lead & 0x1Fu;
      following = 1;
    } else if (lead < 0xF0) {
      value = lead & 0x0Fu;
      following = 2;
    } else if (lead < 0xF8) {
      value = lead & 0x07u;
      following = 3;
    } else {
      return -1;
    }
    for (; following > 0; --following) {
      if (i >= length || bytes[i] < 0x80 || bytes[i] > 0xBF)
        return -1;
      value = (value << 6) | (bytes[i++] & 0x3Fu);
    }
    // Overlong forms and encoded surrogates are taken as they decode: paths and URLs
    // written by other tools sometimes carry them, and the OS decides what they name.
    if (value > 0xFFFF) {
      if (value > 0x10FFFF || capacity - written < 2)
        return -1;
      value -= 0x10000;
      units[written++] = static_cast<char16_t>(0xD800 + (value >> 10));
      units[written++] = static_cast<char16_t>(0xDC00 + (value & 0x3FF));
    } else {
      if (capacity - written < 1)
        return -1;
      units[written++] = static_cast<char16_t>(value);
    }
  }
  return written;
}

int32_t encodeUtf8(const char16_t* units, int32_t count, uint8_t* bytes, int32_t capacity) {
  if (count < 0 || (count > 0 && units == nullptr) || capacity < 0)
    return -1;
  int32_t written = 0;
  for (int32_t i = 0; i < count; ++i) {
    uint32_t value = units[i];
    if (value >= 0xD800 && value <= 0xDBFF) {
      if (i + 1 >= count || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF)
        return -1;
      value = 0x10000 + ((value & 0x3FF) << 10) + (units[++i] & 0x3FFu);
    }
    int32_t size;
    uint8_t lead;
    if (value < 0x80) {
      size = 1;
      lead = 0;
    } else if (value < 0x800) {
      size = 2;
      lead = 0xC0;
    } else if (value > 0xFFFF) {
      size = 4;
      lead = 0xF0;
    } else {
      size = 3;
      lead = 0xE0;
    }
    if (capacity - written < size)
      return -1;
    for (int32_t k = size - 1; k > 0; --k) {
      bytes[written + k] = static_cast<uint8_t>(0x80 | (value & 0x3F));
      value >>= 6;
    }
    bytes[written] = static_cast<uint8_t>(lead | value);
    written += size;
  }
  return written;
}

std::u16string utf8ToWide(const std::string& text) {
  // One unit per byte always suffices; the result ends at the first U+0000, as the
  // zero-terminated strings the OS sees would.
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max() - 1))
    return {};
  const auto length = static_cast<int32_t>(text.size());
  std::vector<char16_t> units(static_cast<std::size_t>(length) + 1);
  const int32_t count =
      decodeUtf8(reinterpret_cast<const uint8_t*>(text.data()), length, units.data(), length);
  if (count < 0)
    return {};
  units[static_cast<std::size_t>(count)] = u'\0';
  return std::u16string(units.data());
}

std::string wideToUtf8(const std::u16string& text) {
  // Three bytes per unit suffice for well-formed UTF-16 (a pair takes four for two units).
  constexpr std::size_t kMaxUnits = (std::numeric_limits<int32_t>::max() - 1) / 3;
  if (text.size() > kMaxUnits)
    return {};
  const auto count = static_cast<int32_t>(text.size());
  std::vector<uint8_t> bytes(static_cast<std::size_t>(count) * 3 + 1);
  const int32_t written = encodeUtf8(text.data(), count, bytes.data(), count * 3);
  if (written < 0)
    return {};
  bytes[static_cast<std::size_t>(written)] = 0;
  return std::string(reinterpret_cast<const char*>(bytes.data()));
}

StrictResult convertUtf8ToUtf16Strict(const uint8_t** source, const uint8_t* sourceEnd,
                                      char16_t** target, char16_t* targetEnd) {
  const uint8_t* s = *source;
  char16_t* t = *target;
  StrictResult result = StrictResult::Ok;
  while (s < sourceEnd) {
    const int32_t length = sequenceLength(*s);
    if (sourceEnd - s < length) {
      result = StrictResult::SourceExhausted;
      break;
    }
    if (!isWellFormed(s, length)) {
      result = StrictResult::Illegal;
      break;
    }
    uint32_t value = length == 1 ? s[0] : s[0] & (0x7Fu >> length);
    for (int32_t k = 1; k < length; ++k)
      value = (value << 6) | (s[k] & 0x3Fu);
    // The table above already excludes surrogates and values beyond 10FFFF.
    if (value > 0xFFFF) {
      if (targetEnd - t < 2) {
        result = StrictResult::TargetExhausted;
        break;
      }
      value -= 0x10000;
      *t++ = static_cast<char16_t>(0xD800 + (value >> 10));
      *t++ = static_cast<char16_t>(0xDC00 + (value & 0x3FF));
    } else {
      if (targetEnd - t < 1) {
        result = StrictResult::TargetExhausted;
        break;
      }
      *t++ = static_cast<char16_t>(value);
    }
    s += length;
  }
  *source = s;
  *target = t;
  return result;
}

bool isWellFormedUtf8Sequence(const uint8_t* start, const uint8_t* end) {
  if (start == nullptr || end == nullptr || end < start)
    return false;
  const int32_t length = sequenceLength(*start);
  if (end - start < length)
    return false;
  return isWellFormed(start, length);
}

} // namespace Kestrel
