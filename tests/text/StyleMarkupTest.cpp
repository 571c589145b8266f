#include "text/StyleMarkup.h"

#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Kestrel {
namespace {

using Declarations = std::vector<std::pair<const char*, const char*>>;

// The markup from a table of the properties, checked against the markup from the same
// properties as views, each value followed by digits that are not part of it, as in a
// sheet read where it lies.
std::pair<std::string, std::string> rendered(const Declarations& declarations) {
  StyleProperties properties;
  for (const auto& [name, value] : declarations)
    properties[BufferString(name)] = BufferString(value);
  BufferString open;
  BufferString close;
  renderStyleMarkup(properties, open, close);

  std::vector<std::string> backing;
  for (const auto& [name, value] : declarations)
    backing.push_back(std::string(value) + "99pt");
  std::vector<StyleProperty> views;
  for (std::size_t i = 0; i < declarations.size(); ++i)
    views.push_back(
        {declarations[i].first, std::string_view(backing[i]).substr(0, backing[i].size() - 4)});
  std::string viewOpen = "stale";
  std::string viewClose = "stale";
  renderStyleMarkup(views, viewOpen, viewClose);
  EXPECT_EQ(viewOpen, open.toStdString());
  EXPECT_EQ(viewClose, close.toStdString());
  return {open.toStdString(), close.toStdString()};
}

TEST(StyleMarkup, RendersFontAndEmphasisInOrder) {
  const struct {
    Declarations properties;
    const char* open;
    const char* close;
  } cases[] = {
      {{{"font-family", "Arial"},
        {"font-size", "24pt"},
        {"color", "#FF0000"},
        {"font-weight", "bold"},
        {"font-style", "italic"},
        {"text-decoration", "underline"}},
       "<font face=\"Arial\" size=\"+2\" color=\"#FF0000\"><b><i><u>",
       "</u></i></b></font>"},
      {{{"color", "yellow"}}, "<font color=\"yellow\">", "</font>"},
      {{{"color", ""}}, "<font color=\"\">", "</font>"},
      {{{"font-family", ""}}, "<font face=\"\">", "</font>"},
      {{{"font-family", "\"Gulim\", serif"}}, "<font face=\"\"Gulim\", serif\">", "</font>"},
      {{{"font-size", "20pt"}}, "", ""},
      {{{"font-size", "12px"}}, "<font size=\"-4\">", "</font>"},
      {{{"font-size", "large"}}, "", ""},
      {{{"font-size", "0pt"}, {"color", "red"}}, "<font color=\"red\">", "</font>"},
      {{{"text-decoration", "line-through"}, {"font-weight", "bold"}}, "<b><s>", "</s></b>"},
      {{{"font-weight", "Bold"}}, "", ""},
      {{{"font-weight", "700"}}, "", ""},
      {{{"font-weight", "bold "}}, "", ""},
      {{{"font-style", "oblique"}}, "", ""},
      {{{"text-decoration", "underline line-through"}}, "", ""},
      {{{"name", "English"}, {"lang", "en-US"}}, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.open);
    const auto [open, close] = rendered(c.properties);
    EXPECT_EQ(open, c.open);
    EXPECT_EQ(close, c.close);
  }
}

// Point sizes map to sizes relative to 20 points; the number is read as "%dpt" reads it.
TEST(StyleMarkup, FontSizesAreRelativeToTwentyPoints) {
  const struct {
    const char* size;
    const char* attribute; // null: no font element
  } cases[] = {{"1pt", "-9"},
               {"10pt", "-5"},
               {"18pt", "-1"},
               {"19pt", "-0"},
               {"21pt", "+0"},
               {"22pt", "+1"},
               {"24pt", "+2"},
               {"36pt", "+8"},
               {"20pt", nullptr},
               {"0", nullptr},
               {"-4pt", nullptr},
               {"pt", nullptr},
               {" 24", "+2"},
               {"+24", "+2"},
               {"24.9pt", "+2"},
               {"- 24", nullptr},
               {"\v30pt", "+5"},
               {"", nullptr},
               {"2147483647pt", "+1073741813"},
               {"4294967316pt", nullptr},            // cut to 32 bits: 20
               {"99999999999999999999pt", nullptr}}; // saturates, then cut to int: -1
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    const auto [open, close] = rendered({{"font-size", c.size}});
    if (c.attribute == nullptr) {
      EXPECT_EQ(open, "");
      EXPECT_EQ(close, "");
      continue;
    }
    EXPECT_EQ(open, std::string("<font size=\"") + c.attribute + "\">");
    EXPECT_EQ(close, "</font>");
  }
}

TEST(StyleMarkup, ALaterPropertyOfANameWins) {
  const StyleProperty properties[] = {{"color", "red"},      {"font-weight", "bold"},
                                      {"color", "blue"},     {"font-weight", "normal"},
                                      {"font-size", "24pt"}, {"font-size", "x"}};
  std::string open;
  std::string close;
  renderStyleMarkup(properties, open, close);
  EXPECT_EQ(open, "<font color=\"blue\">");
  EXPECT_EQ(close, "</font>");
}

} // namespace
} // namespace Kestrel
