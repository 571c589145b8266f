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

using Kind = KestrelTool::MarkupToken::Kind;
using Style = KestrelTool::MarkupToken::Style;

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
std::string fontSpan(const KestrelTool::MarkupToken& font) {
  std::string span = "<span";
  PangoColor parsed;
  if (!font.color.empty() && pango_color_parse(&parsed, font.color.c_str()))
    span += " foreground=\"" + font.color + "\"";
  if (!font.face.empty()) {
    span += " font_family=\"";
    appendEscaped(span, font.face);
    span += '"';
  }
  if (!font.size.empty()) {
    // The plug-in writes sizes relative to 20 points in steps of two points ("+2" is 24pt).
    std::string_view digits = font.size;
    const int sign = digits.front() == '-' ? -1 : 1;
    if (digits.front() == '+' || digits.front() == '-')
      digits.remove_prefix(1);
    int steps = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), steps);
    if (error == std::errc() && end == digits.data() + digits.size() &&
        digits.size() != font.size.size()) {
      const int points = std::clamp(20 + sign * 2 * std::min(steps, 1000), 1, 1000);
      span += " size=\"" + std::to_string(points * PANGO_SCALE) + "\"";
    }
  }
  return span + ">";
}

char styleLetter(Style style) {
  switch (style) {
  case Style::Bold:
    return 'b';
  case Style::Italic:
    return 'i';
  case Style::Underline:
    return 'u';
  case Style::Strike:
    return 's';
  case Style::Font:
    break;
  }
  return 'f';
}

/// Writes tags only in front of text, so that empty pairs are never written, and closes a
/// misnested tag by closing what was opened inside it and opening that again afterwards.
class Writer {
public:
  std::string write(const std::vector<KestrelTool::MarkupToken>& tokens) {
    for (const auto& token : tokens) {
      switch (token.kind) {
      case Kind::Text:
        if (pendingBreak_)
          out_ += '\n';
        else if (pendingSpace_)
          out_ += ' ';
        pendingSpace_ = false;
        pendingBreak_ = false;
        for (auto& open : stack_) {
          if (!open.written)
            out_ += open.tag;
          open.written = true;
        }
        appendEscaped(out_, token.text);
        lineHasText_ = true;
        break;
      case Kind::Space:
        pendingSpace_ = lineHasText_;
        break;
      case Kind::LineBreak:
        // As the tool's plain text: a break ends a line that has text; others are dropped.
        if (lineHasText_)
          pendingBreak_ = true;
        pendingSpace_ = false;
        lineHasText_ = false;
        break;
      case Kind::Open: {
        const char style = styleLetter(token.style);
        stack_.push_back({style, style == 'f' ? fontSpan(token) : tagOf(style), false});
        break;
      }
      case Kind::Close:
        close(styleLetter(token.style));
        break;
      }
    }
    while (!stack_.empty())
      closeTop();
    return out_;
  }

private:
  struct Open {
    char style;
    std::string tag;
    bool written;
  };

  static std::string tagOf(char style) { return std::string{'<', style, '>'}; }

  void closeTop() {
    if (stack_.back().written)
      out_ += stack_.back().style == 'f' ? std::string("</span>")
                                         : std::string{'<', '/', stack_.back().style, '>'};
    stack_.pop_back();
  }

  void close(char style) {
    size_t at = stack_.size();
    while (at > 0 && stack_[at - 1].style != style)
      --at;
    if (at == 0)
      return; // a closing tag without its opening one
    std::vector<Open> reopened(stack_.begin() + static_cast<std::ptrdiff_t>(at), stack_.end());
    while (stack_.size() >= at)
      closeTop();
    for (auto& open : reopened) {
      open.written = false;
      stack_.push_back(std::move(open));
    }
  }

  std::vector<Open> stack_;
  std::string out_;
  bool lineHasText_ = false;
  bool pendingSpace_ = false;
  bool pendingBreak_ = false;
};

} // namespace

std::string pangoMarkup(std::string_view markup) {
  return Writer().write(KestrelTool::tokenizeMarkup(KestrelTool::repairUtf8(markup)));
}

} // namespace KestrelGst
