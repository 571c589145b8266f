#include "text/StyleMarkup.h"

#include "text/Numbers.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Kestrel {
namespace {

// Reads a point size from the start of value as sscanf's "%dpt" would: the "pt" and anything
// else after the digits don't matter.
std::optional<int32_t> readPointSize(std::string_view text) {
  return scanSigned(text.data(), text.data() + text.size());
}

// Point sizes become font sizes relative to 20 points, two points a step.
std::string relativeFontSize(int32_t points) {
  const bool larger = points > 20;
  const auto steps = static_cast<uint32_t>(larger ? (points - 20) / 2 : (20 - points) / 2);
  std::string size(1, larger ? '+' : '-');
  size.append(std::to_string(steps));
  return size;
}

// The properties that shape the markup, found in one pass over the rule without building
// a key for each (a sheet may hold tens of thousands of rules); a later one of a name wins.
struct MarkupProperties {
  std::optional<std::string_view> family;
  std::optional<std::string_view> size;
  std::optional<std::string_view> color;
  std::optional<std::string_view> weight;
  std::optional<std::string_view> style;
  std::optional<std::string_view> decoration;

  void take(std::string_view key, std::string_view value) {
    if (key == "font-family")
      family = value;
    else if (key == "font-size")
      size = value;
    else if (key == "color")
      color = value;
    else if (key == "font-weight")
      weight = value;
    else if (key == "font-style")
      style = value;
    else if (key == "text-decoration")
      decoration = value;
  }
};

void render(const MarkupProperties& found, std::string& open, std::string& close) {
  open.clear();
  close.clear();
  // Each element opens after those before it and closes before them.
  const auto wrap = [&](std::string_view opening, std::string_view closing) {
    open += opening;
    close.insert(0, closing);
  };

  std::string font = "<font";
  bool fontWanted = false;
  if (found.family) {
    font.append(" face=\"").append(*found.family).append("\"");
    fontWanted = true;
  }
  if (found.size) {
    const std::optional<int32_t> points = readPointSize(*found.size);
    if (points && *points > 0 && *points != 20) {
      font.append(" size=\"").append(relativeFontSize(*points)).append("\"");
      fontWanted = true;
    }
  }
  if (found.color)
    font.append(" color=\"").append(*found.color).append("\"");
  if (found.color || fontWanted) {
    font += '>';
    wrap(font, "</font>");
  }

  if (found.weight == "bold")
    wrap("<b>", "</b>");
  if (found.style == "italic")
    wrap("<i>", "</i>");
  if (found.decoration == "underline")
    wrap("<u>", "</u>");
  else if (found.decoration == "line-through")
    wrap("<s>", "</s>");
}

} // namespace

void renderStyleMarkup(const StyleProperties& properties, BufferString& openMarkup,
                       BufferString& closeMarkup) {
  MarkupProperties found;
  for (const auto& [name, value] : properties)
    found.take(name.view(), value.view());
  std::string open;
  std::string close;
  render(found, open, close);
  openMarkup = BufferString(open.c_str());
  closeMarkup = BufferString(close.c_str());
}

void renderStyleMarkup(std::span<const StyleProperty> properties, std::string& openMarkup,
                       std::string& closeMarkup) {
  MarkupProperties found;
  for (const StyleProperty& property : properties)
    found.take(property.name, property.value);
  render(found, openMarkup, closeMarkup);
}

} // namespace Kestrel
