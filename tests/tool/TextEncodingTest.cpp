#include "TextEncoding.h"

#include <fstream>
#include <gtest/gtest.h>
#include <unicode/ucnv.h>

using namespace KestrelTool;
using namespace std::string_literals;

namespace {

std::string toUtf8(const std::string& converterName, const std::string& bytes) {
  UErrorCode status = U_ZERO_ERROR;
  std::string out(bytes.size() * 4 + 4, '\0');
  const int32_t length =
      ucnv_convert("UTF-8", converterName.c_str(), out.data(), static_cast<int32_t>(out.size()),
                   bytes.data(), static_cast<int32_t>(bytes.size()), &status);
  if (U_FAILURE(status))
    return "<" + std::string(u_errorName(status)) + ">";
  out.resize(static_cast<size_t>(length));
  return out;
}

} // namespace

TEST(TextEncoding, SignaturesInThePlugInsOrder) {
  const struct {
    std::string bytes;
    const char* name;
  } cases[] = {{"\x00\x00\xFE\xFF<"s, "UTF-32BE"},
               {"\xFF\xFE\x00\x00"s, "UTF-32LE"},
               {"\xFF\xFE<\x00"s, "UTF-16LE"},
               {"\xFE\xFF"s, "UTF-16BE"},
               {"\xEF\xBB\xBF<"s, "UTF-8"},
               {"+/v8-"s, "UTF-7"},
               {"+/v/"s, "UTF-7"},
               {"\x84\x31\x95\x33"s, "GB18030"},
               {"\xFB\xEE\x28"s, "BOCU-1"},
               {"\x0E\xFE\xFF"s, "SCSU"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(unicodeSignature(c.bytes), c.name);
  }
  EXPECT_EQ(unicodeSignature("+/vA"), std::nullopt);
  EXPECT_EQ(unicodeSignature("\xEF\xBB"), std::nullopt) << "a signature cut short is none";
  EXPECT_EQ(unicodeSignature(""), std::nullopt);
}

TEST(TextEncoding, WellFormedUtf8MeansEveryByte) {
  EXPECT_TRUE(isWellFormedUtf8("plain <SAMI> \xED\x95\x9C \xF0\x9F\x98\x80"));
  EXPECT_TRUE(isWellFormedUtf8(""));
  for (const char* bad :
       {"\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "ok\xE2\x82", "\x80", "\xF5\x80\x80\x80",
        "\xE0\x80\xAF", "\xC1\xBF", "\xF0\x8F\xBF\xBF", "\xE1\x80\x7F", "\xF1\x80\x80"}) {
    SCOPED_TRACE(testing::PrintToString(bad));
    EXPECT_FALSE(isWellFormedUtf8(bad));
  }
  // The edges of each lead byte's range, checked by both checkers (a whole text, and the
  // well-formed start of one) alike.
  for (const char* good : {"\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80",
                           "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF", "\xF3\xBF\xBF\xBF"}) {
    SCOPED_TRACE(testing::PrintToString(good));
    const std::string text = std::string("abcdefg") + good + "z";
    EXPECT_TRUE(isWellFormedUtf8(text));
    EXPECT_EQ(wellFormedUtf8Prefix(text), text.size());
    EXPECT_EQ(wellFormedUtf8Prefix(text + "\xFF" + text), text.size());
  }
  EXPECT_EQ(repairUtf8("a\xC0\x80z\xE2\x82"), "a\xEF\xBF\xBD\xEF\xBF\xBDz\xEF\xBF\xBD\xEF\xBF\xBD");
  // ASCII is passed over eight bytes at a time: a bad byte or a sequence on either side of
  // such a word, or cut short by the end, is still seen.
  for (const size_t ascii : {size_t{0}, size_t{7}, size_t{8}, size_t{9}, size_t{15}, size_t{16}}) {
    SCOPED_TRACE(ascii);
    const std::string run(ascii, 'a');
    EXPECT_FALSE(isWellFormedUtf8(run + "\xFF" + run));
    EXPECT_FALSE(isWellFormedUtf8(run + "\xED\x95"));
    EXPECT_TRUE(isWellFormedUtf8(run + "\xED\x95\x9C" + run));
    EXPECT_EQ(repairUtf8(run + "\xFF" + run), run + "\xEF\xBF\xBD" + run);
  }
}

TEST(TextEncoding, FileIsCheckedAPieceAtATime) {
  // Pieces are a megabyte: a character across the cut is whole, a bad byte on either side of
  // it or a sequence cut short by the file's end is not.
  const std::string mega((size_t{1} << 20) - 1, 'a');
  const struct {
    std::string bytes;
    bool wellFormed;
  } cases[] = {{"", true},
               {mega + "\xED\x95\x9C tail", true},
               {mega + "a\xF0\x9F\x98\x80", true},
               {mega + "\xFF" + "b", false},
               {mega + "a\xFF", false},
               {mega + "a\xED\x95", false},
               {mega + mega + "\xC0\x80", false}};
  const std::string path = testing::TempDir() + "/piecewise.smi";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes.size());
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << c.bytes;
    }
    EXPECT_EQ(isWellFormedUtf8File(path), c.wellFormed);
    EXPECT_EQ(wellFormedUtf8Prefix(c.bytes) == c.bytes.size(), c.wellFormed);
  }
  EXPECT_EQ(wellFormedUtf8Prefix("ab\xED\x95"), 2U);
  EXPECT_FALSE(isWellFormedUtf8File(path + ".missing"));
}

TEST(TextEncoding, KoreanIsReadAsCp949SoItsExtraSyllablesDecode) {
  // "똠양꿍 한 그릇 주세요" twice, in CP949: 똠 is one of the syllables EUC-KR lacks.
  const std::string sentence = "\x8C\x63\xBE\xE7\xB2\xE1 \xC7\xD1 \xB1\xD7\xB8\xA9 "
                               "\xC1\xD6\xBC\xBC\xBF\xE4. ";
  const std::string text = "<SAMI><P>" + sentence + sentence + sentence + "</SAMI>";
  const auto guess = detectCodePage(text);
  ASSERT_TRUE(guess.has_value());
  EXPECT_EQ(guess->detected, "EUC-KR");
  EXPECT_EQ(guess->converter, "windows-949");
  EXPECT_NE(toUtf8(guess->converter, text).find("똠양꿍 한 그릇 주세요."), std::string::npos);
}

TEST(TextEncoding, WesternTextIsReadAsWindows1252) {
  // Curly quotes and the euro sign sit in 0x80-0x9F, where ISO-8859-1 has control codes.
  const std::string text = "<SAMI><P>\x93L\xE0-bas, derri\xE8re l\x92\xE9glise\x94, r\xE9pondit "
                           "le gar\xE7on\x85 Un caf\xE9 co\xFBte 2 \x80 ; la travers\xE9"
                           "e, 15 \x80. Tr\xE8s bien, \xE7"
                           "a suffira pour ce soir.</SAMI>";
  const auto guess = detectCodePage(text);
  ASSERT_TRUE(guess.has_value());
  EXPECT_EQ(guess->converter, "windows-1252");
  EXPECT_NE(toUtf8(guess->converter, text).find("“Là-bas, derrière l’église”"), std::string::npos);
}

TEST(TextEncoding, SamiMarkerInAnyUnitSizeAndCase) {
  EXPECT_TRUE(containsSamiMarker("x<SaMi>"));
  EXPECT_TRUE(containsSamiMarker("\xFF\xFE<\0s\0a\0m\0i\0"s));
  EXPECT_TRUE(containsSamiMarker("\0<\0S\0A\0M\0I"s));
  EXPECT_TRUE(containsSamiMarker("\0\0\0<\0\0\0S\0\0\0A\0\0\0M\0\0\0I"s));
  EXPECT_FALSE(containsSamiMarker("<SAM"));
  EXPECT_FALSE(containsSamiMarker("<html><body>sami</body></html>"));
  EXPECT_FALSE(containsSamiMarker("<\x01S\0A\0M\0I\0"s)) << "only zero bytes pad a unit";
}
