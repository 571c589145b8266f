#include "platform/Utf.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace Kestrel;

namespace {

std::vector<uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

/// decodeUtf8 of text with the given capacity: the units, or nothing when it fails.
std::optional<std::u16string> decoded(std::string_view text, int32_t capacity) {
  std::vector<uint8_t> bytes = bytesOf(text);
  std::u16string units(static_cast<std::size_t>(capacity) + 1, u'\xFFFF');
  const int32_t count =
      decodeUtf8(bytes.data(), static_cast<int32_t>(bytes.size()), units.data(), capacity);
  if (count < 0)
    return std::nullopt;
  // Nothing may be written past the capacity.
  EXPECT_EQ(units[static_cast<std::size_t>(capacity)], u'\xFFFF');
  return units.substr(0, static_cast<std::size_t>(count));
}

std::optional<std::string> encoded(std::u16string_view units, int32_t capacity) {
  std::string bytes(static_cast<std::size_t>(capacity) + 1, '\x7F');
  const int32_t count = encodeUtf8(units.data(), static_cast<int32_t>(units.size()),
                                   reinterpret_cast<uint8_t*>(bytes.data()), capacity);
  if (count < 0)
    return std::nullopt;
  EXPECT_EQ(bytes[static_cast<std::size_t>(capacity)], '\x7F');
  return bytes.substr(0, static_cast<std::size_t>(count));
}

struct StrictOutcome {
  StrictResult result;
  std::ptrdiff_t consumed;
  std::u16string units;
};

StrictOutcome strict(std::string_view text, std::size_t capacity) {
  std::vector<uint8_t> bytes = bytesOf(text);
  std::u16string units(capacity, u'\0');
  const uint8_t* source = bytes.data();
  char16_t* target = units.data();
  const StrictResult result = convertUtf8ToUtf16Strict(&source, bytes.data() + bytes.size(),
                                                       &target, units.data() + capacity);
  return {result, source - bytes.data(),
          units.substr(0, static_cast<std::size_t>(target - units.data()))};
}

} // namespace

TEST(Utf8Decoding, LenientCodecAcceptsWhatPathsCarry) {
  const struct {
    const char* name;
    std::string_view in;
    int32_t capacity;
    std::optional<std::u16string> out;
  } cases[] = {
      {"signature dropped",
       "\xEF\xBB\xBF"
       "A",
       4, u"A"},
      {"signature alone is not dropped when only two bytes", "\xEF\xBB", 4, std::nullopt},
      {"signature alone", "\xEF\xBB\xBF", 4, u""},
      {"two-byte", "caf\xC3\xA9", 4, u"caf\u00E9"},
      {"three-byte", "\xED\x95\x9C", 1, u"\uD55C"},
      {"pair", "\xF0\x9F\x98\x80", 2, u"\U0001F600"},
      {"pair without room for its second unit", "\xF0\x9F\x98\x80", 1, std::nullopt},
      {"overlong NUL accepted", "\xC0\x80", 1, std::u16string(1, u'\0')},
      {"encoded surrogate accepted", "\xED\xA0\x80", 1, u"\xD800"},
      {"lone continuation byte", "a\x80", 4, std::nullopt},
      {"F8 lead", "\xF8\x88\x80\x80\x80", 8, std::nullopt},
      {"cut off at the end", "a\xE2\x82", 4, std::nullopt},
      {"bad continuation", "\xC3\x41", 4, std::nullopt},
      {"beyond 10FFFF", "\xF4\x90\x80\x80", 4, std::nullopt},
      {"capacity exhausted", "abc", 2, std::nullopt},
      {"empty", "", 0, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decoded(c.in, c.capacity), c.out);
  }
}

TEST(Utf8Encoding, SurrogatesAndCapacity) {
  const struct {
    const char* name;
    std::u16string_view in;
    int32_t capacity;
    std::optional<std::string> out;
  } cases[] = {
      {"ascii", u"ab", 2, "ab"},
      {"boundaries", u"\u007F\u0080\u07FF\u0800\uFFFF", 12,
       "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
      {"pair", u"\xD83D\xDE00", 4, "\xF0\x9F\x98\x80"},
      {"lone high surrogate", u"\xD83D", 8, std::nullopt},
      {"high surrogate before a letter", u"\xD83Dx", 8, std::nullopt},
      {"lone low surrogate kept", u"\xDE00", 3, "\xED\xB8\x80"},
      {"no room for the last byte", u"\u00E9", 1, std::nullopt},
      {"exact room", u"\u00E9", 2, "\xC3\xA9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(encoded(c.in, c.capacity), c.out);
  }
}

TEST(Utf8Strings, WrappersRoundTripAndFailEmpty) {
  const std::string text = "/tmp/\xED\x95\x9C\xEA\xB5\xAD/\xF0\x9F\x98\x80.smi";
  EXPECT_EQ(utf8ToWide(text), u"/tmp/\uD55C\uAD6D/\U0001F600.smi");
  EXPECT_EQ(wideToUtf8(utf8ToWide(text)), text);
  EXPECT_EQ(utf8ToWide("\xEF\xBB\xBF"
                       "file:///a"),
            u"file:///a");

  EXPECT_EQ(utf8ToWide("bad \xFF byte"), u"");
  EXPECT_EQ(wideToUtf8(u"lone \xD800"), "");
  // The strings the OS sees stop at the first NUL.
  EXPECT_EQ(utf8ToWide(std::string("ab\0cd", 5)), u"ab");
  EXPECT_EQ(wideToUtf8(std::u16string(u"ab\0cd", 5)), "ab");
  EXPECT_EQ(utf8ToWide(""), u"");
}

TEST(Utf8StrictConversion, ResultsAndStopPositions) {
  const struct {
    const char* name;
    std::string_view in;
    std::size_t capacity;
    StrictResult result;
    std::ptrdiff_t consumed;
    std::u16string out;
  } cases[] = {
      {"all converted", "a\xC3\xA9\xF0\x9F\x98\x80", 8, StrictResult::Ok, 7, u"a\u00E9\U0001F600"},
      {"overlong rejected", "a\xC0\x80", 8, StrictResult::Illegal, 1, u"a"},
      {"surrogate rejected", "\xED\xA0\x80", 8, StrictResult::Illegal, 0, u""},
      {"beyond 10FFFF rejected", "\xF4\x90\x80\x80", 8, StrictResult::Illegal, 0, u""},
      {"continuation as lead", "\x80", 8, StrictResult::Illegal, 0, u""},
      {"five-byte form", "\xF8\x88\x80\x80\x80", 8, StrictResult::Illegal, 0, u""},
      {"runs past the end", "ab\xE2\x82", 8, StrictResult::SourceExhausted, 2, u"ab"},
      {"six-byte lead runs past the end", "\xFC\x80", 8, StrictResult::SourceExhausted, 0, u""},
      {"target full", "abc", 2, StrictResult::TargetExhausted, 2, u"ab"},
      {"no room for the pair", "a\xF0\x9F\x98\x80", 2, StrictResult::TargetExhausted, 1, u"a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const StrictOutcome outcome = strict(c.in, c.capacity);
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.consumed, c.consumed);
    EXPECT_EQ(outcome.units, c.out);
  }
}

TEST(Utf8WellFormedSequence, EndPointerAndTable) {
  const struct {
    std::string_view bytes;
    std::size_t endIndex; // the end pointer is bytes.data() + endIndex
    bool wellFormed;
  } cases[] = {
      {"\xC3\xA9", 1, false}, // the sequence must end before the end pointer
      {"\xC3\xA9\x41", 2, true},
      {"AB", 1, true},
      {"A", 0, false},
      {"\xE0\x9F\x80!", 3, false}, // E0 needs A0..BF
      {"\xE0\xA0\x80!", 3, true},
      {"\xED\xA0\x80!", 3, false}, // surrogate
      {"\xED\x9F\xBF!", 3, true},
      {"\xF0\x8F\xBF\xBF!", 4, false},
      {"\xF4\x90\x80\x80!", 4, false},
      {"\xF4\x8F\xBF\xBF!", 4, true},
      {"\xC1\xBF!", 2, false},
      {"\xF5\x80\x80\x80!", 4, false},
      {"\xFB\x80\x80\x80\x80!", 5, false},
      {"\xE2\x82\x41!", 3, false}, // third byte not a continuation
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.bytes)));
    const auto* start = reinterpret_cast<const uint8_t*>(c.bytes.data());
    EXPECT_EQ(isWellFormedUtf8Sequence(start, start + c.endIndex), c.wellFormed);
  }
  EXPECT_FALSE(isWellFormedUtf8Sequence(nullptr, nullptr));
}
