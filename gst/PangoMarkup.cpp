#include "PangoMarkup.h"

#include "SubtitleText.h"
#include "TextEncoding.h"

#include <algorithm>
#include <charconv>
#include <glib.h>
#include <pango/pango.h>
#include <vector>

namespace KestrelGst {
namespace {

/// Text escaped for markup with GLib's escaping; control characters, never visible and not
/// allowed in markup, are left out first.
void appendEscaped(std::string& out, std::string_view text) {
  std::string kept;
  kept.reserve(text.size());
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)
      kept += c;
  gchar* escaped = g_markup_escape_text(kept.data(), static_cast<gssize>(kept.size()));
  out += escaped;
  g_free(escaped);
}

/// The span for a font tag; "<span>" when none of its values is usable.
std::string fontSpan(std::string_view color, std::string_view face, std::string_view size) {
  std::string span = "<span";
  PangoColor parsed;
  if (const std::string normal(color);
      !normal.empty() && pango_color_parse(&parsed, normal.c_str()))
    span += " foreground=\"" + normal + "\"";
  if (!face.empty()) {
    span += " font_family=\"";
    appendEscaped(span, face);
    span += '"';
  }
  if (!size.empty()) {
    // The plug-in writes sizes relative to 20 points in steps of two points ("+2" is 24pt).
    std::string_view digits = size;
    const int sign = digits.front() == '-' ? -1 : 1;
    if (digits.front() == '+' || digits.front() == '-')
      digits.remove_prefix(1);
    int steps = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), steps);
    if (error == std::errc() && end == digits.data() + digits.size() &&
        digits.size() != size.size()) {
      const int points = std::clamp(20 + sign * 2 * std::min(steps, 1000), 1, 1000);
      span += " size=\"" + std::to_string(points * PANGO_SCALE) + "\"";
    }
  }
  return span + ">";
}

constexpr KestrelTool::CustomDialect kPango{&appendEscaped, &fontSpan, "</span>"};

} // namespace

std::string pangoMarkup(std::string_view markup) {
  return KestrelTool::customText(KestrelTool::repairUtf8(markup), kPango);
}

} // namespace KestrelGst
