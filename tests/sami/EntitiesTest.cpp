#include "sami/Entities.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <string_view>

namespace Kestrel {
namespace {

// Decodes input with decodeEntities and checks that the scan's shared index, which
// decodes in place without a NUL, gives the very same bytes.
std::string decoded(const std::string& input) {
  static const EntityTable table = buildEntityTable();
  const EntityIndex& index = EntityIndex::standard();
  BufferString text(input.data(), static_cast<int32_t>(input.size()));
  decodeEntities(text, table);
  EXPECT_EQ(static_cast<std::size_t>(text.length), std::strlen(text.text()));
  const std::string result(text.text(), static_cast<std::size_t>(text.length));
  std::string inPlace = input;
  inPlace.resize(index.decode(inPlace.data(), inPlace.size()));
  EXPECT_EQ(inPlace, result) << "index and table disagree on \"" << input << "\"";
  return result;
}

std::string utf8(uint32_t codePoint) {
  char bytes[4];
  return std::string(bytes, static_cast<std::size_t>(codePointToUtf8(codePoint, bytes)));
}

TEST(EntityTable, HoldsTheHtml401SetsAndApos) {
  const EntityTable table = buildEntityTable();
  EXPECT_EQ(table.size(), 253u);
  const struct {
    const char* name;
    uint32_t codePoint;
  } cases[] = {{"nbsp", 160},   {"yuml", 255},    {"Eacute", 201},   {"eacute", 233},
               {"quot", 34},    {"amp", 38},      {"lt", 60},        {"gt", 62},
               {"apos", 39},    {"OElig", 338},   {"Yuml", 376},     {"euro", 8364},
               {"zwnj", 8204},  {"rlm", 8207},    {"permil", 8240},  {"fnof", 402},
               {"Alpha", 913},  {"Omega", 937},   {"sigmaf", 962},   {"thetasym", 977},
               {"upsih", 978},  {"piv", 982},     {"alefsym", 8501}, {"weierp", 8472},
               {"image", 8465}, {"crarr", 8629},  {"lArr", 8656},    {"hArr", 8660},
               {"empty", 8709}, {"lowast", 8727}, {"there4", 8756},  {"sdot", 8901},
               {"lang", 9001},  {"rang", 9002},   {"loz", 9674},     {"diams", 9830}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto found = table.find(BufferString(c.name));
    ASSERT_NE(found, table.end());
    EXPECT_EQ(found->second, c.codePoint);
  }
  for (const char* absent : {"NBSP", "Amp", "EACUTE", "hellip;", "ap"}) {
    SCOPED_TRACE(absent);
    EXPECT_EQ(table.count(BufferString(absent)), 0u);
  }
  // The scan's shared index knows the same names.
  for (const auto& [name, codePoint] : table) {
    SCOPED_TRACE(name.text());
    EXPECT_EQ(decoded("&" + name.toStdString() + ";"), utf8(codePoint));
  }
}

// Reads one declaration of the standard's entity files, for example
// <!ENTITY nbsp   CDATA "&#160;" -- no-break space ...
bool readDeclaration(const std::string& line, std::string& name, uint32_t& codePoint) {
  std::istringstream in(line);
  std::string keyword, kind, value;
  if (!(in >> keyword >> name >> kind >> value) || keyword != "<!ENTITY" || kind != "CDATA")
    return false;
  if (value.size() < 6 || value.rfind("\"&#", 0) != 0)
    return false;
  const char* digits = value.data() + 3;
  const auto [end, error] = std::from_chars(digits, value.data() + value.size(), codePoint);
  return error == std::errc() && std::string_view(end) == ";\"";
}

// Checks every entry against the standard's own entity files when the system has them.
TEST(EntityTable, MatchesTheStandardEntityFiles) {
  const std::string dir = "/usr/share/xml/w3c-sgml-lib/schema/dtd/REC-html401-19991224/";
  const EntityTable table = buildEntityTable();
  std::size_t checked = 0;
  for (const char* file : {"HTMLlat1.ent", "HTMLspecial.ent", "HTMLsymbol.ent"}) {
    std::ifstream in(dir + file);
    if (!in)
      GTEST_SKIP() << "entity file " << dir << file << " absent (package w3c-sgml-lib)";
    std::string line;
    while (std::getline(in, line)) {
      std::string name;
      uint32_t codePoint = 0;
      if (!readDeclaration(line, name, codePoint))
        continue;
      SCOPED_TRACE(name);
      const auto found = table.find(BufferString(name.c_str()));
      ASSERT_NE(found, table.end());
      EXPECT_EQ(found->second, codePoint);
      ++checked;
    }
  }
  EXPECT_EQ(checked, 252u);
}

TEST(EntityDecoding, ReplacesKnownReferences) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"Tom &amp; Jerry", "Tom & Jerry"},
      {"&lt;i&gt;", "<i>"},
      {"&nbsp;", "\xC2\xA0"},
      {"&euro;", "\xE2\x82\xAC"},
      {"&apos;", "'"},
      {"&Eacute;&eacute;", "\xC3\x89\xC3\xA9"},
      {"&#233;", "\xC3\xA9"},
      {"&#xE9;", "\xC3\xA9"},
      {"&#XE9;", "\xC3\xA9"},
      {"&#x1F600;", "\xF0\x9F\x98\x80"},
      {"&#1114112;", "\xEF\xBF\xBD"},
      {"&#-1;", "\xEF\xBF\xBD"},
      {"&#65abc;", "A"},
      {"a&#0;b", "ab"},
      {"caf&eacute; cr&egrave;me", "caf\xC3\xA9 cr\xC3\xA8me"},
      // HTML's legacy names without their ";", where no letter or digit follows
      {"a&nbsp<i>b", "a\xC2\xA0<i>b"},
      {"&nbsp a", "\xC2\xA0 a"},
      {"a&nbsp", "a\xC2\xA0"},
      {"&amp", "&"},
      {"&amp,", "&,"},
      {"a&gt", "a>"},                // the shortest, two bytes from the end
      {"&nbsp &amp;", "\xC2\xA0 &"}, // the first "&" takes the ";" and fails, then is bare
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(decoded(c.in), c.out);
  }
}

TEST(EntityDecoding, LeavesUnrecognisedTextAlone) {
  for (const char* same :
       {"&#;", "&#x;", "&bogus;", "AT&T", "&EACUTE;", "&NBSP;", "&Amp;", "&a;", "x &ab", "&#xg;",
        "&# ;", "&#+;", "& amp;", "&&&", "&nbspx", "&euro ", "&AMP,", "&nbsp2"}) {
    SCOPED_TRACE(same);
    EXPECT_EQ(decoded(same), same);
  }
}

// The search goes on one byte after the start of each replacement, so what decoding
// produced is never decoded again, and a ";" anywhere later closes an "&".
TEST(EntityDecoding, ScansOnceLeftToRight) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"&amp;lt;", "&lt;"},
      {"&amp;amp;", "&amp;"},
      {"A&B&amp;", "A&B&"},
      {"&#38;#38;", "&#38;"},
      {"&x &amp;", "&x &"}, // the first "&" takes the ";" and fails; the second is decoded
      {"&ab;c", "&ab;c"},
      {"&lt;&gt;&amp;&quot;", "<>&\""},
      {"&#0;&amp;", "&amp;"}, // a removed character: the byte after it is not searched
      {"&#0;x&amp;", "x&"},
      {"&lt;ab", "<ab"}, // "&" three bytes from the end of the shortened text
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(decoded(c.in), c.out);
  }
}

// Numeric references read their number as sscanf's "%u" or "%x" would; compare with it.
TEST(EntityDecoding, NumericFormsReadLikeScanf) {
  const struct {
    const char* digits;
    bool hex;
  } cases[] = {{"65", false},
               {" 65", false},
               {"\t+66", false},
               {"-1", false},
               {"-65", false},
               {"4294967295", false},
               {"4294967296", false},
               {"4294967362", false},
               {"18446744073709551615", false},
               {"18446744073709551616", false},
               {"99999999999999999999999", false},
               {"-18446744073709551617", false},
               {"0065", false},
               {"1e3", false},
               {"41", true},
               {"0x41", true},
               {"0X41", true},
               {"0x", true},
               {"0xg", true},
               {"-0x41", true},
               {" +7a", true},
               {"FFFFFFFF", true},
               {"100000041", true},
               {"10000000000000041", true},
               {"00000000000000000000041", true},
               {"fffffffffffffffff", true},
               {"x41", true},
               {"-", false},
               {"+x", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.digits);
    unsigned int expected = 0;
    const int read = std::sscanf(c.digits, c.hex ? "%x" : "%u", &expected);
    const std::string reference = std::string(c.hex ? "&#x" : "&#") + c.digits + ";";
    EXPECT_EQ(decoded(reference), read == 1 ? utf8(expected) : reference);
  }
}

TEST(EntityDecoding, CodePointsEncodeAsUtf8) {
  const struct {
    uint32_t codePoint;
    const char* bytes;
  } cases[] = {{0x41, "A"},
               {0x7F, "\x7F"},
               {0x80, "\xC2\x80"},
               {0x7FF, "\xDF\xBF"},
               {0x800, "\xE0\xA0\x80"},
               {0xD800, "\xED\xA0\x80"},
               {0xFFFF, "\xEF\xBF\xBF"},
               {0x10000, "\xF0\x90\x80\x80"},
               {0x10FFFF, "\xF4\x8F\xBF\xBF"},
               {0x110000, "\xEF\xBF\xBD"},
               {0xFFFFFFFF, "\xEF\xBF\xBD"},
               {0, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codePoint);
    EXPECT_EQ(utf8(c.codePoint), c.bytes);
  }
}

// Inputs that would make a naive scan quadratic still complete (and decode correctly).
TEST(EntityDecoding, HostileRunsComplete) {
  constexpr std::size_t kCount = 200000;
  const std::string ampersands(kCount, '&');
  EXPECT_EQ(decoded(ampersands), ampersands);
  EXPECT_EQ(decoded(ampersands + ";"), ampersands + ";");
  const std::string hashes = "&#" + std::string(kCount, ' ') + "&" + std::string(kCount, '7');
  EXPECT_EQ(decoded(hashes + ";"), hashes + ";");
  std::string many;
  std::string expected;
  for (std::size_t i = 0; i < kCount / 8; ++i) {
    many += "&amp;x";
    expected += "&x";
  }
  EXPECT_EQ(decoded(many), expected);
  const std::string longDigits = "&#" + std::string(kCount, '0') + "65;";
  EXPECT_EQ(decoded(longDigits), "A");
}

// The index bounds its lookups by the longest name of the table it was made from, not of
// the standard's table.
TEST(EntityDecoding, IndexFollowsItsOwnTable) {
  EntityTable table;
  table.emplace(BufferString("averyverylongentityname"), 65);
  table.emplace(BufferString("b"), 66);
  const EntityIndex index(table);
  std::string text = "x&averyverylongentityname;y&amp;&b;&#67;";
  text.resize(index.decode(text.data(), text.size()));
  EXPECT_EQ(text, "xAy&amp;&b;C");
}

} // namespace
} // namespace Kestrel
