#include "sami/MarkupElement.h"

#include <gtest/gtest.h>
#include <string>

using Kestrel::MarkupElement;

namespace {

// Parses a copy of item where it lies, as the scan parses the document; the element points
// into text, which holds the copy.
bool parseCopy(std::string_view item, MarkupElement& element, std::string& text) {
  text.assign(item);
  return Kestrel::parseTagInPlace(text.data(), text.size(), element);
}

// "name|attr=value|attr=value" in the order written, for compact expectations.
std::string parsed(std::string_view item) {
  MarkupElement element;
  std::string text;
  const bool named = parseCopy(item, element, text);
  std::string out(element.name());
  for (const auto& [name, value] : element.attributes())
    out += "|" + std::string(name) + "=" + std::string(value);
  EXPECT_EQ(named, !element.name().empty());
  return out;
}

} // namespace

TEST(ParseTag, NamesAndValuesAsTheRulesCutThem) {
  const struct {
    const char* item;
    const char* expected;
  } cases[] = {
      {"SYNC Start=1000", "sync|start=1000"},
      {"P\tCLASS=EnCC\r\nID=Big", "p|class=encc|id=big"},
      // The name runs to the "=", blanks included; blanks after "=" are skipped.
      {"P Class = ENCC", "p|class=encc"},
      {"x a b=c", "x|a b=c"},
      {"sync start =5", "sync|start=5"},
      // Double quotes delimit; single quotes are ordinary characters.
      {"font color=\"red green\" size=2", "font|color=red green|size=2"},
      {"sync start='2000'", "sync|start=2000"},
      {"sync start=\"2000\"", "sync|start=2000"},
      // Whatever is glued to a closing quote is skipped up to the next blank.
      {"p class=\"encc\"x id=1", "p|class=encc|id=1"},
      {"p title=\"a b", "p|title=a b"},
      // An attribute without a value is dropped, and everything after it with it.
      {"p class", "p"},
      {"p class= ", "p"},
      {"p id=\"\"", "p"},
      {"p lone b=c", "p|lone b=c"},
      {"/SYNC", "/sync"},
      {"!DOCTYPE html", "!doctype"}, // no "=": dropped
      // Only ASCII letters are lowered; other bytes pass unchanged.
      {"P Class=\xED\x95\x9C\xC3\x89", "p|class=\xED\x95\x9C\xC3\x89"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.item);
    EXPECT_EQ(parsed(c.item), c.expected);
  }
}

TEST(ParseTag, EmptyNameIsNotAnElement) {
  MarkupElement element;
  std::string text;
  EXPECT_FALSE(parseCopy(" p class=x", element, text));
  EXPECT_FALSE(parseCopy("", element, text));
  EXPECT_TRUE(parseCopy("p", element, text));
  EXPECT_EQ(element.name(), "p");
  EXPECT_TRUE(element.attributes().empty());
}

TEST(ParseTag, LaterAttributeOfTheSameNameWins) {
  MarkupElement element;
  std::string text;
  ASSERT_TRUE(parseCopy("p class=a id=x CLASS=b", element, text));
  EXPECT_EQ(element.attribute("class"), "b");
  EXPECT_EQ(element.attribute("id"), "x");
  EXPECT_FALSE(element.attribute("start").has_value());
}

TEST(ParseTag, ReusedElementForgetsThePreviousItem) {
  MarkupElement element;
  std::string first;
  std::string second;
  ASSERT_TRUE(
      parseCopy("sync start=1 class=long-enough-to-leave-the-small-buffer", element, first));
  ASSERT_TRUE(parseCopy("p", element, second));
  EXPECT_EQ(element.name(), "p");
  EXPECT_TRUE(element.attributes().empty());
}

TEST(ParseTag, ManyWordsWithoutEqualsSignMakeNoAttribute) {
  std::string item = "p";
  for (int i = 0; i < 100000; ++i)
    item += " a";
  item += " class=x"; // the one "=" at the far end ends one long attribute name
  MarkupElement element;
  std::string text;
  ASSERT_TRUE(parseCopy(item, element, text));
  ASSERT_EQ(element.attributes().size(), 1u);
  EXPECT_EQ(element.attributes()[0].second, "x");
  EXPECT_EQ(element.attributes()[0].first.size(), item.size() - 4);
}

TEST(ParseTag, OnlyAsciiCapitalsBecomeLowercase) {
  // Every byte value but NUL and the blanks, at every offset within a word and past it:
  // 'A' to 'Z' become 'a' to 'z', and every other byte, non-ASCII ones included, stays.
  std::string bytes;
  for (int value = 1; value < 256; ++value) {
    const char c = static_cast<char>(value);
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
      bytes.push_back(c);
  }
  MarkupElement element;
  std::string text;
  for (std::size_t shift = 0; shift < 9; ++shift) {
    const std::string name = bytes.substr(shift) + bytes.substr(0, shift);
    std::string expected = name;
    for (char& c : expected) {
      if (c >= 'A' && c <= 'Z')
        c = static_cast<char>(c - 'A' + 'a');
    }
    ASSERT_TRUE(parseCopy(name + " CLASS=ENcc", element, text));
    EXPECT_EQ(element.name(), expected) << shift;
    EXPECT_EQ(element.attribute("class"), std::optional<std::string_view>("encc"));
  }
}
