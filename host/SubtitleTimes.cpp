#include "SubtitleText.h"

#include <array>
#include <cstring>

namespace KestrelTool {

/// Writes value in decimal, at least minDigits digits, ending just before end; returns
/// where the digits start.
char* digitsBefore(char* end, uint64_t value, size_t minDigits) {
  char* at = end;
  do {
    *--at = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (static_cast<size_t>(end - at) < minDigits)
    *--at = '0';
  return at;
}

void appendTime(std::string& out, uint64_t ms, char separator) {
  // Two digits at a time from a table; hours take as many digits as they need.
  static constexpr auto kPairs = [] {
    std::array<char, 200> pairs{};
    for (size_t i = 0; i < 100; ++i) {
      pairs[2 * i] = static_cast<char>('0' + i / 10);
      pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
  }();
  const auto pair = [](char* at, uint32_t value) {
    std::memcpy(at, &kPairs[size_t{2} * value], 2);
  };
  const uint64_t hours = ms / 3600000;
  const auto withinHour = static_cast<uint32_t>(ms % 3600000);
  const uint32_t millis = withinHour % 1000;
  char text[40];
  char* at = text;
  if (hours < 100) {
    pair(at, static_cast<uint32_t>(hours));
    at += 2;
  } else {
    char digits[24];
    char* const end = digits + sizeof digits;
    const char* start = digitsBefore(end, hours);
    at = std::copy(start, static_cast<const char*>(end), at);
  }
  *at++ = ':';
  pair(at, withinHour / 60000);
  at += 2;
  *at++ = ':';
  pair(at, withinHour / 1000 % 60);
  at += 2;
  *at++ = separator;
  *at++ = static_cast<char>('0' + millis / 100);
  pair(at, millis % 100);
  at += 2;
  out.append(text, static_cast<size_t>(at - text));
}

std::string formatTime(uint64_t ms, char separator) {
  std::string out;
  appendTime(out, ms, separator);
  return out;
}

} // namespace KestrelTool
