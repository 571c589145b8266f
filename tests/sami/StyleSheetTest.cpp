#include "sami/StyleSheet.h"

#include <gtest/gtest.h>
#include <map>
#include <string>

namespace Kestrel {
namespace {

using Rules = std::map<std::string, std::map<std::string, std::string>>;

Rules rulesOf(const StyleClassTable& table) {
  Rules rules;
  for (const auto& [selector, rule] : table) {
    auto& properties = rules[selector.toStdString()];
    for (const auto& [name, value] : rule.properties)
      properties[name.toStdString()] = value.toStdString();
  }
  return rules;
}

Rules parsed(const char* sheet) {
  StyleClassTable table;
  EXPECT_TRUE(parseStyleSheet(sheet, table));
  return rulesOf(table);
}

TEST(StyleSheet, ReadsRulesAsWritten) {
  const struct {
    const char* sheet;
    Rules rules;
  } cases[] = {
      {"!-- P { margin-left: 8pt; } .ENCC { Name: English; lang: en-US; } "
       ".KRCC { Name: Korean; lang: ko-KR; } --",
       {{"p", {{"margin-left", "8pt"}}},
        {".encc", {{"name", "English"}, {"lang", "en-US"}}},
        {".krcc", {{"name", "Korean"}, {"lang", "ko-KR"}}}}},
      // values keep their case and trailing blanks; selectors and names are lowercased
      {"!--.EnCC {Name: ENGLISH ;LANG:en}--", {{".encc", {{"name", "ENGLISH "}, {"lang", "en"}}}}},
      // "{" does not end a selector token
      {"!--P{color:red}--", {}},
      {"!-- P {color:red}", {{"p", {{"color", "red"}}}}},
      // the last declaration may end at "}" without ";", keeping the blank before it
      {"!-- #id1 { color : blue } sync { a:b;c:d}--",
       {{"#id1", {{"color", "blue "}}}, {"sync", {{"a", "b"}, {"c", "d"}}}}},
      // a later declaration of a name replaces the earlier one
      {"!-- p { color: red; color: blue; } --", {{"p", {{"color", "blue"}}}}},
      // a second rule for a selector replaces the first entirely
      {"!-- .encc { name: A; lang: en; } .ENCC { name: B; } --", {{".encc", {{"name", "B"}}}}},
      // empty rules and names without values store nothing
      {"!-- p { } .x { name } .y { name: } --", {}},
      // nothing after the last "}" counts, nor a sheet without one
      {"!-- p { color: red; } .x { name: X --", {{"p", {{"color", "red"}}}}},
      {"!-- .x { name: X --", {}},
      {"", {}},
      {"!", {}},
      // the comment opener is skipped at the start only
      {"!--\r\n\t-- -p { a: b; } ", {{"p", {{"a", "b"}}}}},
      // a selector list is two tokens: "h1," is dropped with no "{" before the next token
      {"!-- h1, h2 { a: b } --", {{"h1,", {{"h2", "{ a: b "}}}}},
      // UTF-8 passes unchanged; only ASCII letters are lowercased
      {"!-- .\xC3\x89X { name: \xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4; } --",
       {{".\xC3\x89x", {{"name", "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4"}}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sheet);
    EXPECT_EQ(parsed(c.sheet), c.rules);
  }
}

TEST(StyleSheet, RulesCarryTheirRenderedMarkup) {
  StyleClassTable table;
  ASSERT_TRUE(parseStyleSheet(
      "!-- P { font-family: Arial; font-weight: bold; } .ENCC { name: English; } --", table));
  const StyleClass& p = table.at(BufferString("p"));
  EXPECT_EQ(p.openMarkup.toStdString(), "<font face=\"Arial\"><b>");
  EXPECT_EQ(p.closeMarkup.toStdString(), "</b></font>");
  const StyleClass& encc = table.at(BufferString(".encc"));
  EXPECT_TRUE(encc.openMarkup.isEmpty());
  EXPECT_TRUE(encc.closeMarkup.isEmpty());
}

// Several sheets of one document add to one table; a later rule replaces a whole earlier
// rule, markup included, and an empty one leaves it in place.
TEST(StyleSheet, LaterSheetsAddToTheTable) {
  StyleClassTable table;
  ASSERT_TRUE(parseStyleSheet("!-- p { color: red; } .encc { name: English; } --", table));
  ASSERT_TRUE(parseStyleSheet("!-- p { font-style: italic; } .encc { } .krcc { x: y; } --", table));
  EXPECT_EQ(rulesOf(table), (Rules{{"p", {{"font-style", "italic"}}},
                                   {".encc", {{"name", "English"}}},
                                   {".krcc", {{"x", "y"}}}}));
  EXPECT_EQ(table.at(BufferString("p")).openMarkup.toStdString(), "<i>");
  EXPECT_EQ(table.at(BufferString("p")).closeMarkup.toStdString(), "</i>");
  EXPECT_TRUE(parseStyleSheet(nullptr, table));
  EXPECT_EQ(table.size(), 3u);
}

TEST(StyleSheet, ManyClassesComplete) {
  constexpr int kClasses = 20000;
  std::string sheet = "<!-- ";
  for (int i = 0; i < kClasses; ++i)
    sheet += ".C" + std::to_string(i) + " { name: N" + std::to_string(i) + "; color: red; }\n";
  sheet += "-->";
  StyleClassTable table;
  ASSERT_TRUE(parseStyleSheet(sheet.c_str(), table));
  EXPECT_EQ(table.size(), static_cast<std::size_t>(kClasses));
  const StyleClass& last = table.at(BufferString((".c" + std::to_string(kClasses - 1)).c_str()));
  EXPECT_EQ(last.properties.at(BufferString("name")).toStdString(),
            "N" + std::to_string(kClasses - 1));
  EXPECT_EQ(last.openMarkup.toStdString(), "<font color=\"red\">");

  // One long run with no "}" and one with a single "}" at the far end.
  const std::string run(200000, 'a');
  EXPECT_TRUE(parsed(run.c_str()).empty());
  EXPECT_EQ(parsed(("p {" + run + ":v" + run + "}").c_str()).at("p").at(run), "v" + run);
}

} // namespace
} // namespace Kestrel
