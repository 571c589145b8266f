#include "text/StyleMarkup.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Kestrel {
namespace {

constexpr bool isScanSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads a point size from the start of value as sscanf's "%dpt" would: leading blanks, an
// optional sign, decimal digits; the "pt" and anything else after the digits don't matter.
// The digits are accumulated as a 64-bit long (saturating on overflow) and then cut to int,
// which is what the C library stores.
std::optional<int32_t> readPointSize(const char* s) {
  while (isScanSpace(*s))
    ++s;
  bool negative = false;
  if (*s == '-' || *s == '+') {
    negative = *s == '-';
    ++s;
  }
  if (*s < '0' || *s > '9')
    return std::nullopt;
  constexpr uint64_t kLimit = static_cast<uint64_t>(INT64_MAX) + 1; // |LONG_MIN|
  uint64_t magnitude = 0;
  for (; *s >= '0' && *s <= '9'; ++s) {
    // Once past |LONG_MIN| the value is saturated and stays put; below kLimit / 10 + 1 one
    // more digit can't wrap 64 bits.
    if (magnitude <= kLimit / 10 + 1)
      magnitude = magnitude * 10 + static_cast<uint64_t>(*s - '0');
    else
      magnitude = kLimit + 1;
  }
  int64_t value = INT64_MAX;
  if (negative)
    value = magnitude >= kLimit ? INT64_MIN : -static_cast<int64_t>(magnitude);
  else if (magnitude < kLimit)
    value = static_cast<int64_t>(magnitude);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
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
// a key for each (a sheet may hold tens of thousands of rules).
struct MarkupProperties {
  const BufferString* family = nullptr;
  const BufferString* size = nullptr;
  const BufferString* color = nullptr;
  const BufferString* weight = nullptr;
  const BufferString* style = nullptr;
  const BufferString* decoration = nullptr;

  explicit MarkupProperties(const StyleProperties& properties) {
    for (const auto& [name, value] : properties) {
      const std::string_view key = name.view();
      if (key == "font-family")
        family = &value;
      else if (key == "font-size")
        size = &value;
      else if (key == "color")
        color = &value;
      else if (key == "font-weight")
        weight = &value;
      else if (key == "font-style")
        style = &value;
      else if (key == "text-decoration")
        decoration = &value;
    }
  }
};

} // namespace

void renderStyleMarkup(const StyleProperties& properties, BufferString& openMarkup,
                       BufferString& closeMarkup) {
  std::string open;
  std::string close;
  // Each element opens after those before it and closes before them.
  const auto wrap = [&](const char* opening, const char* closing) {
    open += opening;
    close.insert(0, closing);
  };

  const MarkupProperties found(properties);
  std::string font = "<font";
  bool fontWanted = false;
  if (const BufferString* family = found.family) {
    font.append(" face=\"").append(family->view()).append("\"");
    fontWanted = true;
  }
  if (const BufferString* size = found.size) {
    const std::optional<int32_t> points = readPointSize(size->text());
    if (points && *points > 0 && *points != 20) {
      font.append(" size=\"").append(relativeFontSize(*points)).append("\"");
      fontWanted = true;
    }
  }
  const BufferString* color = found.color;
  if (color != nullptr)
    font.append(" color=\"").append(color->view()).append("\"");
  if (color != nullptr || fontWanted)
    wrap((font + ">").c_str(), "</font>");

  const BufferString* weight = found.weight;
  if (weight != nullptr && *weight == "bold")
    wrap("<b>", "</b>");
  const BufferString* style = found.style;
  if (style != nullptr && *style == "italic")
    wrap("<i>", "</i>");
  if (const BufferString* decoration = found.decoration) {
    if (*decoration == "underline")
      wrap("<u>", "</u>");
    else if (*decoration == "line-through")
      wrap("<s>", "</s>");
  }

  openMarkup = BufferString(open.c_str());
  closeMarkup = BufferString(close.c_str());
}

} // namespace Kestrel
