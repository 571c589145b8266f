#include "SubtitleText.h"
#include "TagMemory.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
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

bool isName(std::string_view name, std::string_view lowerName);

/// The offset of the first byte at or after i that is white space or "<" (which may start
/// markup), or the size of s. Eight bytes at a time: a byte below 0x21 or equal to "<" is
/// found by the borrow of a subtraction (exact for the first such byte of the eight), and
/// only a control character other than white space is then passed over one by one.
size_t textEnd(std::string_view s, size_t i) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  constexpr uint64_t kHighs = 0x8080808080808080u;
  while (std::endian::native == std::endian::little && i + 8 <= s.size()) {
    uint64_t word = 0;
    std::memcpy(&word, s.data() + i, 8);
    const uint64_t low = (word - 0x21 * kOnes) & ~word;
    const uint64_t angle = ((word ^ ('<' * kOnes)) - kOnes) & ~(word ^ ('<' * kOnes));
    const uint64_t found = (low | angle) & kHighs;
    if (found == 0) {
      i += 8;
      continue;
    }
    // The first candidate, in memory order (the lowest byte of a little-endian word).
    const size_t at = i + static_cast<size_t>(__builtin_ctzll(found) / 8);
    if (s[at] == '<' || isSpace(s[at]))
      return at;
    i = at + 1; // another control character: text
  }
  while (i < s.size() && s[i] != '<' && !isSpace(s[i]))
    ++i;
  return i;
}

} // namespace

FontValues fontValues(std::string_view attributes) {
  FontValues found;
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
    const std::string_view value = attributes.substr(valueStart, valueEnd - valueStart);
    if (!found.color && isName(attribute, "color"))
      found.color = value;
    else if (!found.face && isName(attribute, "face"))
      found.face = value;
    else if (!found.size && isName(attribute, "size"))
      found.size = value;
  }
  return found;
}

namespace {

/// Whether name, letters as written, is lowerName in any letter case.
bool isName(std::string_view name, std::string_view lowerName) {
  if (name.size() != lowerName.size())
    return false;
  for (size_t k = 0; k < name.size(); ++k)
    if (lower(name[k]) != lowerName[k])
      return false;
  return true;
}

/// What readTag made of the item at the start of s, ">" at close; its length, or 0.
size_t readTag(std::string_view s, size_t close, MarkupPiece& token) {
  std::string_view inner = s.substr(1, close - 1);
  const bool closing = !inner.empty() && inner.front() == '/';
  if (closing)
    inner.remove_prefix(1);
  size_t nameEnd = 0;
  while (nameEnd < inner.size() && isLetter(inner[nameEnd]))
    ++nameEnd;
  const std::string_view name = inner.substr(0, nameEnd);
  const std::string_view rest = inner.substr(nameEnd);

  if (isName(name, "br")) {
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
    if (rest.empty() && isName(name, styleName)) {
      token.kind = closing ? Kind::Close : Kind::Open;
      token.style = style;
      return close + 1;
    }
  }
  if (isName(name, "font") && (rest.empty() || isSpace(rest.front()))) {
    if (closing && !std::all_of(rest.begin(), rest.end(), isSpace))
      return 0;
    token.kind = closing ? Kind::Close : Kind::Open;
    token.style = Style::Font;
    if (!closing) {
      const FontValues values = fontValues(rest);
      if (values.color)
        token.color = normalizeColor(*values.color);
      if (values.face)
        token.face = *values.face;
      if (values.size)
        token.size = *values.size;
    }
    return close + 1;
  }
  return 0;
}

/// Recognises the markup item at the start of s ("<...>"); sets token and returns its length,
/// or 0 when it is not markup the engine styles with.
size_t matchTag(std::string_view s, MarkupPiece& token, TagMemory* memory) {
  if (s.starts_with("<**>")) {
    token.kind = Kind::LineBreak;
    return 4;
  }
  // The item ends at its first ">"; a "<" before it means it is no item.
  if (s.size() < 2)
    return 0;
  const void* end = std::memchr(s.data() + 1, '>', s.size() - 1);
  if (end == nullptr)
    return 0;
  const auto close = static_cast<size_t>(static_cast<const char*>(end) - s.data());
  if (std::memchr(s.data() + 1, '<', close - 1) != nullptr)
    return 0;
  if (memory == nullptr)
    return readTag(s, close, token);
  const std::string_view text = s.substr(0, close + 1);
  size_t length = 0;
  if (memory->recall(s, text, token, length))
    return length;
  length = readTag(s, close, token);
  memory->remember(s, text, token, length);
  return length;
}

} // namespace

bool MarkupScanner::next(MarkupPiece& piece) {
  const std::string_view m = markup_;
  if (at_ >= m.size())
    return false;
  const auto takeTag = [&](MarkupPiece& tag, size_t length) {
    at_ += length;
    if (tag.kind == Kind::LineBreak) {
      // A "<br>" kept in front of the line end it was written with: one break, not two.
      if (m.substr(at_, 2) == "\r\n")
        at_ += 2;
      else if (at_ < m.size() && (m[at_] == '\n' || m[at_] == '\r'))
        ++at_;
    }
  };
  if (tagAt_ == at_) {
    tagAt_ = SIZE_MAX;
    piece.kind = tag_.kind;
    piece.style = tag_.style;
    piece.text = {};
    piece.color = std::move(tag_.color);
    piece.face = tag_.face;
    piece.size = tag_.size;
    takeTag(piece, tagLength_);
    return true;
  }
  piece.style = Style::Bold;
  piece.text = {};
  piece.color.clear();
  piece.face = {};
  piece.size = {};
  if (isSpace(m[at_])) {
    while (at_ < m.size() && isSpace(m[at_]))
      ++at_;
    piece.kind = Kind::Space;
    return true;
  }
  if (m[at_] == '<') {
    if (const size_t length = matchTag(m.substr(at_), piece, memory_)) {
      takeTag(piece, length);
      return true;
    }
  }
  // Text up to white space or to a "<" that starts markup; a "<" that does not stays text.
  const size_t start = at_;
  for (;;) {
    size_t end = at_ + 1;
    for (;;) {
      end = textEnd(m, end);
      if (!joinWords_ || end + 1 >= m.size() || m[end] != ' ' || m[end + 1] == '<' ||
          isSpace(m[end + 1]))
        break;
      end += 2; // past the space and the first byte of the next word
    }
    at_ = end;
    if (at_ >= m.size() || m[at_] != '<')
      break;
    tag_.style = Style::Bold;
    tag_.color.clear();
    tag_.face = {};
    tag_.size = {};
    if (const size_t length = matchTag(m.substr(at_), tag_, memory_)) {
      tagAt_ = at_;
      tagLength_ = length;
      break;
    }
  }
  piece.kind = Kind::Text;
  piece.text = m.substr(start, at_ - start);
  return true;
}

std::vector<MarkupToken> tokenizeMarkup(std::string_view markup) {
  std::vector<MarkupToken> tokens;
  MarkupScanner scanner(markup);
  MarkupPiece piece;
  while (scanner.next(piece))
    tokens.push_back({piece.kind, piece.style, std::string(piece.text), std::move(piece.color),
                      std::string(piece.face), std::string(piece.size)});
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

} // namespace KestrelTool
