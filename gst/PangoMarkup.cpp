#include "PangoMarkup.h"

#include "SubtitleText.h"
#include "TextEncoding.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <pango/pango.h>
#include <vector>

namespace KestrelGst {
namespace {

enum class Kind { Text, Space, LineBreak, Open, Close };

struct Token {
  Kind kind = Kind::Text;
  char style = 0;   // 'b', 'i', 'u', 's' or 'f' (font) for Open and Close
  std::string text; // Text: the characters; Open font: the span's opening tag
};

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

void appendEscaped(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    case '\'':
      out += "&apos;";
      break;
    default:
      // Other control characters are not allowed in markup and are never visible.
      if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)
        out += c;
    }
  }
}

/// The span for a font tag's attributes; "<span>" when none of them is usable.
std::string fontSpan(std::string_view attributes) {
  std::string span = "<span";
  const KestrelTool::FontValues values = KestrelTool::fontValues(attributes);
  if (const auto& color = values.color) {
    const std::string normal = KestrelTool::normalizeColor(*color);
    PangoColor parsed;
    if (!normal.empty() && pango_color_parse(&parsed, normal.c_str()))
      span += " foreground=\"" + normal + "\"";
  }
  if (const auto& face = values.face; face && !face->empty()) {
    span += " font_family=\"";
    appendEscaped(span, *face);
    span += '"';
  }
  if (const auto& size = values.size; size && !size->empty()) {
    // The plug-in writes sizes relative to 20 points in steps of two points ("+2" is 24pt).
    std::string_view digits = *size;
    const int sign = digits.front() == '-' ? -1 : 1;
    if (digits.front() == '+' || digits.front() == '-')
      digits.remove_prefix(1);
    int steps = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), steps);
    if (error == std::errc() && end == digits.data() + digits.size() &&
        digits.size() != size->size()) {
      const int points = std::clamp(20 + sign * 2 * std::min(steps, 1000), 1, 1000);
      span += " size=\"" + std::to_string(points * PANGO_SCALE) + "\"";
    }
  }
  return span + ">";
}

/// The markup item at the start of s, or 0 when it is text.
size_t matchTag(std::string_view s, Token& token) {
  if (s.starts_with("<**>")) {
    token.kind = Kind::LineBreak;
    return 4;
  }
  const size_t close = s.find('>');
  if (close == std::string_view::npos || s.substr(1, close - 1).find('<') != std::string_view::npos)
    return 0;
  std::string_view inner = s.substr(1, close - 1);
  const bool closing = inner.starts_with('/');
  if (closing)
    inner.remove_prefix(1);
  size_t nameEnd = 0;
  while (nameEnd < inner.size() && isLetter(inner[nameEnd]))
    ++nameEnd;
  std::string name;
  for (const char c : inner.substr(0, nameEnd))
    name += lower(c);
  std::string_view rest = inner.substr(nameEnd);
  const bool restBlank = std::all_of(rest.begin(), rest.end(), isSpace);
  if (name == "br") {
    while (!rest.empty() && isSpace(rest.front()))
      rest.remove_prefix(1);
    if (!(rest.empty() || (!closing && rest == "/")))
      return 0;
    token.kind = Kind::LineBreak;
    return close + 1;
  }
  if (name.size() == 1 && std::string_view("bius").find(name[0]) != std::string_view::npos &&
      rest.empty()) {
    token.kind = closing ? Kind::Close : Kind::Open;
    token.style = name[0];
    return close + 1;
  }
  if (name == "font" && (rest.empty() || isSpace(rest.front())) && (!closing || restBlank)) {
    token.kind = closing ? Kind::Close : Kind::Open;
    token.style = 'f';
    if (!closing)
      token.text = fontSpan(rest);
    return close + 1;
  }
  return 0;
}

std::vector<Token> tokenize(std::string_view markup) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < markup.size()) {
    if (isSpace(markup[i])) {
      while (i < markup.size() && isSpace(markup[i]))
        ++i;
      if (tokens.empty() || tokens.back().kind != Kind::Space)
        tokens.push_back({Kind::Space, 0, {}});
      continue;
    }
    if (markup[i] == '<') {
      Token token;
      if (const size_t length = matchTag(markup.substr(i), token)) {
        i += length;
        if (token.kind == Kind::LineBreak) {
          if (markup.substr(i, 2) == "\r\n")
            i += 2;
          else if (i < markup.size() && (markup[i] == '\n' || markup[i] == '\r'))
            ++i;
        }
        tokens.push_back(std::move(token));
        continue;
      }
    }
    size_t end = i + 1;
    while (end < markup.size() && markup[end] != '<' && !isSpace(markup[end]))
      ++end;
    if (tokens.empty() || tokens.back().kind != Kind::Text)
      tokens.push_back({Kind::Text, 0, {}});
    tokens.back().text.append(markup.substr(i, end - i));
    i = end;
  }
  return tokens;
}

/// Writes tags only in front of text, so that empty pairs are never written, and closes a
/// misnested tag by closing what was opened inside it and opening that again afterwards.
class Writer {
public:
  std::string write(const std::vector<Token>& tokens) {
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
      case Kind::Open:
        stack_.push_back(
            {token.style, token.style == 'f' ? token.text : tagOf(token.style), false});
        break;
      case Kind::Close:
        close(token.style);
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
  return Writer().write(tokenize(KestrelTool::repairUtf8(markup)));
}

} // namespace KestrelGst
