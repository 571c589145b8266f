#include "SubtitleText.h"

#include "TextEncoding.h"

#include <array>
#include <cstdio>
#include <optional>

namespace KestrelTool {
namespace {

using Kind = MarkupToken::Kind;
using Style = MarkupToken::Style;

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

/// The value of attribute name in the text of a font tag (after "font"), as written.
std::optional<std::string_view> attributeValue(std::string_view attributes, std::string_view name) {
  size_t i = 0;
  while (i < attributes.size()) {
    while (i < attributes.size() && isSpace(attributes[i]))
      ++i;
    const size_t nameStart = i;
    while (i < attributes.size() && !isSpace(attributes[i]) && attributes[i] != '=')
      ++i;
    const std::string_view attribute = attributes.substr(nameStart, i - nameStart);
    while (i < attributes.size() && isSpace(attributes[i]))
      ++i;
    if (i >= attributes.size() || attributes[i] != '=') {
      if (i == nameStart)
        ++i; // a stray byte; step over it
      continue;
    }
    ++i;
    while (i < attributes.size() && isSpace(attributes[i]))
      ++i;
    size_t valueStart = i;
    size_t valueEnd = i;
    if (i < attributes.size() && (attributes[i] == '"' || attributes[i] == '\'')) {
      const char quote = attributes[i];
      valueStart = ++i;
      while (i < attributes.size() && attributes[i] != quote)
        ++i;
      valueEnd = i;
      if (i < attributes.size())
        ++i;
    } else {
      while (i < attributes.size() && !isSpace(attributes[i]))
        ++i;
      valueEnd = i;
    }
    bool same = attribute.size() == name.size();
    for (size_t k = 0; same && k < name.size(); ++k)
      same = lower(attribute[k]) == name[k];
    if (same)
      return attributes.substr(valueStart, valueEnd - valueStart);
  }
  return std::nullopt;
}

/// Recognises the markup item at the start of s ("<...>"); sets token and returns its length,
/// or 0 when it is not markup the engine styles with.
size_t matchTag(std::string_view s, MarkupToken& token) {
  if (s.starts_with("<**>")) {
    token.kind = Kind::LineBreak;
    return 4;
  }
  const size_t close = s.find('>');
  if (close == std::string_view::npos || s.substr(1, close - 1).find('<') != std::string_view::npos)
    return 0;
  std::string_view inner = s.substr(1, close - 1);
  const bool closing = !inner.empty() && inner.front() == '/';
  if (closing)
    inner.remove_prefix(1);
  size_t nameEnd = 0;
  while (nameEnd < inner.size() && isLetter(inner[nameEnd]))
    ++nameEnd;
  std::string name;
  for (char c : inner.substr(0, nameEnd))
    name += lower(c);
  const std::string_view rest = inner.substr(nameEnd);
  bool restBlank = true;
  for (char c : rest)
    restBlank = restBlank && isSpace(c);

  if (name == "br") {
    // "<br>", "<br/>", "<br />" and the "</br>" that browsers also break on.
    std::string_view trimmed = rest;
    while (!trimmed.empty() && isSpace(trimmed.front()))
      trimmed.remove_prefix(1);
    if (!(trimmed.empty() || (!closing && trimmed == "/")))
      return 0;
    token.kind = Kind::LineBreak;
    return close + 1;
  }
  static constexpr std::array<std::pair<std::string_view, Style>, 4> kStyles{
      {{"b", Style::Bold}, {"i", Style::Italic}, {"u", Style::Underline}, {"s", Style::Strike}}};
  for (const auto& [styleName, style] : kStyles) {
    if (name == styleName && rest.empty()) {
      token.kind = closing ? Kind::Close : Kind::Open;
      token.style = style;
      return close + 1;
    }
  }
  if (name == "font" && (rest.empty() || isSpace(rest.front()))) {
    if (closing && !restBlank)
      return 0;
    token.kind = closing ? Kind::Close : Kind::Open;
    token.style = Style::Font;
    if (!closing) {
      if (const auto color = attributeValue(rest, "color"))
        token.color = normalizeColor(*color);
      if (const auto face = attributeValue(rest, "face"))
        token.face = std::string(*face);
      if (const auto size = attributeValue(rest, "size"))
        token.size = std::string(*size);
    }
    return close + 1;
  }
  return 0;
}

/// What one output format keeps of the markup.
struct Dialect {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  enum class Color { Drop, FontTag, VttClass } color = Color::Drop;
  bool escapeMarkup = false;
};

/// Renders tokens for one format. Tags open lazily, just before the text they style, so that
/// empty pairs and tags stranded at line ends are never written; a closing tag closes the
/// tags opened after its partner and opens them again, so the output always nests.
class Renderer {
public:
  Renderer(const Dialect& dialect, std::set<std::string>* colorClasses)
      : dialect_(dialect), colorClasses_(colorClasses) {}

  std::string render(const std::vector<MarkupToken>& tokens) {
    for (const auto& token : tokens) {
      switch (token.kind) {
      case Kind::Text:
        if (pendingSpace_ && !line_.empty())
          line_ += ' ';
        pendingSpace_ = false;
        openPending();
        appendText(token.text);
        lineHasText_ = true;
        break;
      case Kind::Space:
        pendingSpace_ = lineHasText_;
        break;
      case Kind::LineBreak:
        breakLine();
        break;
      case Kind::Open:
        stack_.push_back({token.style, tagsFor(token), token.color, false});
        break;
      case Kind::Close:
        close(token.style);
        break;
      }
    }
    while (!stack_.empty())
      closeTop();
    breakLine();
    return out_;
  }

private:
  struct Open {
    Style style;
    std::pair<std::string, std::string> tags; // opening and closing; empty when dropped
    std::string color;
    bool written;
  };

  std::pair<std::string, std::string> tagsFor(const MarkupToken& token) const {
    switch (token.style) {
    case Style::Bold:
      return dialect_.bold ? std::pair<std::string, std::string>{"<b>", "</b>"}
                           : std::pair<std::string, std::string>{};
    case Style::Italic:
      return dialect_.italic ? std::pair<std::string, std::string>{"<i>", "</i>"}
                             : std::pair<std::string, std::string>{};
    case Style::Underline:
      return dialect_.underline ? std::pair<std::string, std::string>{"<u>", "</u>"}
                                : std::pair<std::string, std::string>{};
    case Style::Strike:
      return {};
    case Style::Font:
      if (token.color.empty())
        return {};
      if (dialect_.color == Dialect::Color::FontTag)
        return {"<font color=\"" + token.color + "\">", "</font>"};
      if (dialect_.color == Dialect::Color::VttClass) {
        const std::string name = vttColorClass(token.color);
        return {"<c." + name + ">", "</c>"};
      }
      return {};
    }
    return {};
  }

  void openPending() {
    for (auto& open : stack_) {
      if (open.written)
        continue;
      line_ += open.tags.first;
      open.written = true;
      // Colours outside WebVTT's defaults need a class the file defines; only those used.
      if (colorClasses_ != nullptr && open.tags.first.starts_with("<c.color_"))
        colorClasses_->insert(open.color);
    }
  }

  void closeTop() {
    if (stack_.back().written)
      line_ += stack_.back().tags.second;
    stack_.pop_back();
  }

  void close(Style style) {
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
      stack_.push_back(open);
    }
  }

  void appendText(const std::string& text) {
    if (!dialect_.escapeMarkup) {
      line_ += text;
      return;
    }
    for (char c : text) {
      if (c == '&')
        line_ += "&amp;";
      else if (c == '<')
        line_ += "&lt;";
      else if (c == '>')
        line_ += "&gt;";
      else
        line_ += c;
    }
  }

  // An empty line would end the cue in SubRip and WebVTT, so a break without text before it
  // is dropped. Tags open only with text, so a line without text holds nothing but closing
  // tags: they finish the line before it. Tags still open carry over to the next line.
  void breakLine() {
    pendingSpace_ = false;
    if (lineHasText_ && !out_.empty())
      out_ += '\n';
    out_ += line_;
    line_.clear();
    lineHasText_ = false;
  }

  const Dialect& dialect_;
  std::set<std::string>* colorClasses_;
  std::vector<Open> stack_;
  std::string out_;
  std::string line_;
  bool lineHasText_ = false;
  bool pendingSpace_ = false;
};

bool isVisible(std::string_view plain) {
  for (size_t i = 0; i < plain.size(); ++i) {
    if (isSpace(plain[i]))
      continue;
    if (plain.substr(i, 2) == "\xC2\xA0") { // no-break space: SAMI's way of clearing the screen
      ++i;
      continue;
    }
    return true;
  }
  return false;
}

void appendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : repairUtf8(text)) {
    switch (c) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\t':
      out += "\\t";
      break;
    default:
      if (static_cast<unsigned char>(c) < 0x20) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
        out += escaped;
      } else {
        out += c;
      }
    }
  }
  out += '"';
}

} // namespace

bool isShown(const Cue& cue) { return cue.duration != 0 && isVisible(plainText(cue.markup)); }

std::vector<MarkupToken> tokenizeMarkup(std::string_view markup) {
  std::vector<MarkupToken> tokens;
  size_t i = 0;
  auto appendText = [&tokens](std::string_view text) {
    if (tokens.empty() || tokens.back().kind != Kind::Text)
      tokens.push_back({Kind::Text, Style::Bold, {}, {}, {}, {}});
    tokens.back().text.append(text);
  };
  while (i < markup.size()) {
    const char c = markup[i];
    if (isSpace(c)) {
      while (i < markup.size() && isSpace(markup[i]))
        ++i;
      if (tokens.empty() || tokens.back().kind != Kind::Space)
        tokens.push_back({Kind::Space, Style::Bold, {}, {}, {}, {}});
      continue;
    }
    if (c == '<') {
      MarkupToken token;
      if (const size_t length = matchTag(markup.substr(i), token)) {
        i += length;
        if (token.kind == Kind::LineBreak) {
          // A "<br>" kept in front of the line end it was written with: one break, not two.
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
    appendText(markup.substr(i, end - i));
    i = end;
  }
  return tokens;
}

std::string normalizeColor(std::string_view value) {
  while (!value.empty() && isSpace(value.front()))
    value.remove_prefix(1);
  while (!value.empty() && isSpace(value.back()))
    value.remove_suffix(1);
  std::string hex(value.starts_with('#') ? value.substr(1) : value);
  bool allHex = !hex.empty();
  for (char c : hex)
    allHex = allHex && isHex(c);
  // SAMI files often write "FFCC00" without "#", which players read as a hex colour.
  if (allHex && (hex.size() == 6 || (hex.size() == 3 && value.starts_with('#')))) {
    std::string out = "#";
    for (char c : hex) {
      out += lower(c);
      if (hex.size() == 3)
        out += lower(c);
    }
    return out;
  }
  if (value.empty() || value.starts_with('#'))
    return {};
  std::string name;
  for (char c : value) {
    if (!isLetter(c))
      return {};
    name += lower(c);
  }
  return name;
}

std::string vttColorClass(const std::string& color) {
  // The colour classes every WebVTT player knows without a style block.
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 10> kDefaults{{
      {"white", "white"},
      {"lime", "lime"},
      {"cyan", "cyan"},
      {"aqua", "cyan"},
      {"red", "red"},
      {"yellow", "yellow"},
      {"magenta", "magenta"},
      {"fuchsia", "magenta"},
      {"blue", "blue"},
      {"black", "black"},
  }};
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 8> kHex{{
      {"#ffffff", "white"},
      {"#00ff00", "lime"},
      {"#00ffff", "cyan"},
      {"#ff0000", "red"},
      {"#ffff00", "yellow"},
      {"#ff00ff", "magenta"},
      {"#0000ff", "blue"},
      {"#000000", "black"},
  }};
  for (const auto& [name, cls] : kDefaults)
    if (color == name)
      return std::string(cls);
  for (const auto& [hex, cls] : kHex)
    if (color == hex)
      return std::string(cls);
  return "color_" + (color.starts_with('#') ? color.substr(1) : color);
}

std::string plainText(std::string_view markup) {
  static const Dialect kPlain;
  return Renderer(kPlain, nullptr).render(tokenizeMarkup(markup));
}

std::string srtText(std::string_view markup) {
  static const Dialect kSrt{true, true, true, Dialect::Color::FontTag, false};
  return Renderer(kSrt, nullptr).render(tokenizeMarkup(markup));
}

std::string vttText(std::string_view markup, std::set<std::string>& colorClasses) {
  static const Dialect kVtt{true, true, true, Dialect::Color::VttClass, true};
  return Renderer(kVtt, &colorClasses).render(tokenizeMarkup(markup));
}

std::string formatTime(uint64_t ms, char separator) {
  char text[48];
  std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu%c%03llu",
                static_cast<unsigned long long>(ms / 3600000),
                static_cast<unsigned long long>(ms / 60000 % 60),
                static_cast<unsigned long long>(ms / 1000 % 60), separator,
                static_cast<unsigned long long>(ms % 1000));
  return text;
}

std::string writeSrt(const std::vector<Cue>& cues) {
  std::string out;
  uint32_t number = 0;
  for (const auto& cue : cues) {
    if (!isShown(cue))
      continue;
    out += std::to_string(++number) + '\n';
    out += formatTime(cue.start, ',') + " --> " +
           formatTime(uint64_t{cue.start} + cue.duration, ',') + '\n';
    out += srtText(cue.markup) + "\n\n";
  }
  return out;
}

std::string writeVtt(const std::vector<Cue>& cues, bool styleBlock) {
  std::string body;
  std::set<std::string> colorClasses;
  for (const auto& cue : cues) {
    if (!isShown(cue))
      continue;
    body += formatTime(cue.start) + " --> " + formatTime(uint64_t{cue.start} + cue.duration) +
            '\n' + vttText(cue.markup, colorClasses) + "\n\n";
  }
  std::string out = "WEBVTT\n\n";
  if (styleBlock && !colorClasses.empty()) {
    out += "STYLE\n";
    for (const auto& color : colorClasses)
      out += "::cue(." + vttColorClass(color) + ") { color: " + color + "; }\n";
    out += '\n';
  }
  return out + body;
}

std::string writeJson(std::string_view source, const std::vector<StreamCues>& streams) {
  std::string out = "{\n  \"source\": ";
  appendJsonString(out, source);
  out += ",\n  \"streams\": [";
  for (size_t s = 0; s < streams.size(); ++s) {
    const auto& stream = streams[s];
    out += s == 0 ? "\n" : ",\n";
    out += "    {\n      \"id\": " + std::to_string(stream.id) + ",\n      \"name\": ";
    appendJsonString(out, stream.name);
    out += ",\n      \"language\": ";
    appendJsonString(out, stream.language);
    out += ",\n      \"region\": ";
    appendJsonString(out, stream.region);
    out += std::string(",\n      \"selected\": ") + (stream.selected ? "true" : "false");
    out += ",\n      \"subtitles\": [";
    for (size_t c = 0; c < stream.cues.size(); ++c) {
      const auto& cue = stream.cues[c];
      out += c == 0 ? "\n" : ",\n";
      out += "        {\"start\": " + std::to_string(cue.start) +
             ", \"duration\": " + std::to_string(cue.duration) +
             ", \"end\": " + std::to_string(uint64_t{cue.start} + cue.duration) + ", \"text\": ";
      appendJsonString(out, plainText(cue.markup));
      out += ", \"markup\": ";
      appendJsonString(out, cue.markup);
      out += '}';
    }
    out += stream.cues.empty() ? "]\n    }" : "\n      ]\n    }";
  }
  out += streams.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

} // namespace KestrelTool
