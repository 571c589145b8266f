#pragma once

#include "text/Characters.h"

#include <climits>
#include <cstdint>
#include <optional>

namespace Kestrel {

/// A number as the C library's integer conversions (strtoul, strtol and the scanf family)
/// read it, before they turn it into a value.
struct ScannedNumber {
  unsigned long magnitude = 0; // the digits' value; meaningless when overflow is set
  bool overflow = false;       // the digits pass what an unsigned long holds
  bool negative = false;       // a '-' came before them
};

/// Reads a number from the start of [s, end) as the C library does in the "C" locale: any
/// blanks (isCSpace), an optional sign, then digits of base 10 or 16; for base 16 an optional
/// "0x" or "0X" after the sign, where "0x" with no hex digit after it reads as 0, as "%x"
/// does. Anything after the digits is ignored, and a NUL ends the text as it would a C string.
/// Nothing when no digit is there. Reads each byte once and allocates nothing.
inline std::optional<ScannedNumber> scanNumber(const char* s, const char* end, unsigned base) {
  while (s < end && isCSpace(*s))
    ++s;
  ScannedNumber number;
  if (s < end && (*s == '-' || *s == '+')) {
    number.negative = *s == '-';
    ++s;
  }
  bool sawDigit = false;
  if (base == 16 && s < end && *s == '0') {
    sawDigit = true;
    ++s;
    if (s < end && (*s == 'x' || *s == 'X'))
      ++s;
  }
  for (; s < end; ++s) {
    const char c = *s;
    unsigned digit = base; // not a digit
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && lowerAscii(c) >= 'a' && lowerAscii(c) <= 'f')
      digit = static_cast<unsigned>(lowerAscii(c) - 'a') + 10;
    if (digit >= base)
      break;
    sawDigit = true;
    // Once overflowed the value no longer matters; the digits are still read to their end.
    number.overflow |= __builtin_mul_overflow(number.magnitude, base, &number.magnitude) ||
                       __builtin_add_overflow(number.magnitude, digit, &number.magnitude);
  }
  if (!sawDigit)
    return std::nullopt;
  return number;
}

/// What "%u" (base 10) or "%x" (base 16) stores: strtoul's value, where '-' negates modulo
/// the range of unsigned long and a number too large for it gives ULONG_MAX whatever its
/// sign, cut to 32 bits ("-1" gives 0xFFFFFFFF, "4294967296" gives 0).
inline std::optional<uint32_t> scanUnsigned(const char* s, const char* end, unsigned base = 10) {
  const std::optional<ScannedNumber> number = scanNumber(s, end, base);
  if (!number)
    return std::nullopt;
  if (number->overflow)
    return static_cast<uint32_t>(ULONG_MAX);
  const unsigned long value = number->negative ? 0ul - number->magnitude : number->magnitude;
  return static_cast<uint32_t>(value);
}

/// What "%d" stores: strtol's value, saturated at LONG_MIN or LONG_MAX, cut to 32 bits.
inline std::optional<int32_t> scanSigned(const char* s, const char* end) {
  const std::optional<ScannedNumber> number = scanNumber(s, end, /*base=*/10);
  if (!number)
    return std::nullopt;
  constexpr auto kMaxMagnitude = static_cast<unsigned long>(LONG_MAX);
  long value = 0;
  if (number->negative) {
    // |LONG_MIN| is one more than LONG_MAX: that and anything larger read as LONG_MIN.
    if (number->overflow || number->magnitude > kMaxMagnitude)
      value = LONG_MIN;
    else
      value = -static_cast<long>(number->magnitude);
  } else {
    value = number->overflow || number->magnitude > kMaxMagnitude
                ? LONG_MAX
                : static_cast<long>(number->magnitude);
  }
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(value)));
}

} // namespace Kestrel
