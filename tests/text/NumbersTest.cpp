#include "text/Numbers.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace Kestrel {
namespace {

// What sscanf stores for one conversion, or nothing when it converts nothing.
template <class T> std::optional<T> scanned(const char* text, const char* format) {
  T value{};
  if (std::sscanf(text, format, &value) != 1)
    return std::nullopt;
  return value;
}

// Every row is read by "%u", "%x" and "%d" and by the readers, which must agree on each.
TEST(Numbers, ReadLikeTheCLibrary) {
  // clang-format off
  const char* const cases[] = {
      "", " ", "\t\n\v\f\r", "-", "+", "+-1", "- 1", "x", "abc", "\2401", "0", "-0", "+0",
      "42", " \t\v\f\r\n42", "  -42", "0042", "12abc", "1e3", "1 2", "0x", "0X1f", "0xg",
      "-0x41", " +7a", "x41", "FFFFFFFF", "fffffffffffffffff", "-ffffffffffffffff",
      "100000041", "2147483647", "2147483648", "-2147483648", "-2147483649", "4294967295",
      "4294967296", "-4294967295", "-4294967296", "-4294967297", "9223372036854775807",
      "9223372036854775808", "-9223372036854775808", "-9223372036854775809",
      "18446744073709551615", "18446744073709551616", "-18446744073709551615",
      "-18446744073709551616", "99999999999999999999999", "-99999999999999999999999",
      "000000000000000000000000000000000000000065"};
  // clang-format on
  for (const char* text : cases) {
    SCOPED_TRACE(std::string("\"") + text + "\"");
    const char* const end = text + std::strlen(text);
    EXPECT_EQ(scanUnsigned(text, end), scanned<unsigned>(text, "%u"));
    EXPECT_EQ(scanUnsigned(text, end, /*base=*/16), scanned<unsigned>(text, "%x"));
    EXPECT_EQ(scanSigned(text, end), scanned<int>(text, "%d"));
  }
}

// The text ends at its end or at a NUL, whichever comes first, as a C string would.
TEST(Numbers, StopAtTheEndOrANul) {
  const std::string text("12\0"
                         "3",
                         4);
  EXPECT_EQ(scanUnsigned(text.data(), text.data() + 1), 1u);
  EXPECT_EQ(scanUnsigned(text.data(), text.data() + text.size()), 12u);
  EXPECT_EQ(scanUnsigned(text.data() + 2, text.data() + text.size()), std::nullopt);
  EXPECT_EQ(scanSigned(text.data(), text.data()), std::nullopt);
  const std::string minus = "-7";
  EXPECT_EQ(scanSigned(minus.data(), minus.data() + 1), std::nullopt);
}

} // namespace
} // namespace Kestrel
