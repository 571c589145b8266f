#include "SubtitleText.h"

#include "TextEncoding.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
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
size_t matchTag(std::string_view s, MarkupPiece& token) {
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
  return readTag(s, close, token);
}

/// What one output format keeps of the markup.
struct Dialect {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  enum class Color { Drop, FontTag, VttClass } color = Color::Drop;
  bool escapeMarkup = false;
};

constexpr Dialect kPlain;
constexpr Dialect kSrt{true, true, true, Dialect::Color::FontTag, false};
constexpr Dialect kVtt{true, true, true, Dialect::Color::VttClass, true};

/// Writes value in decimal, at least minDigits digits, ending just before end; returns
/// where the digits start.
char* digitsBefore(char* end, uint64_t value, size_t minDigits = 1) {
  char* at = end;
  do {
    *--at = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (static_cast<size_t>(end - at) < minDigits)
    *--at = '0';
  return at;
}

void appendNumber(std::string& out, uint64_t value) {
  char digits[24];
  char* const end = digits + sizeof digits;
  const char* start = digitsBefore(end, value);
  out.append(start, static_cast<size_t>(end - start));
}

/// JSON string text of valid UTF-8.
void appendJsonText(std::string& out, std::string_view text) {
  size_t plainFrom = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char* escaped = nullptr;
    switch (c) {
    case '"':
      escaped = "\\\"";
      break;
    case '\\':
      escaped = "\\\\";
      break;
    case '\n':
      escaped = "\\n";
      break;
    case '\r':
      escaped = "\\r";
      break;
    case '\t':
      escaped = "\\t";
      break;
    default:
      if (static_cast<unsigned char>(c) >= 0x20)
        continue;
    }
    out.append(text.substr(plainFrom, i - plainFrom));
    plainFrom = i + 1;
    if (escaped != nullptr) {
      out += escaped;
    } else {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[static_cast<unsigned char>(c) >> 4];
      out += kHex[static_cast<unsigned char>(c) & 0x0F];
    }
  }
  out.append(text.substr(plainFrom));
}

void appendJsonString(std::string& out, std::string_view text) {
  out += '"';
  if (isWellFormedUtf8(text))
    appendJsonText(out, text);
  else
    appendJsonText(out, repairUtf8(text));
  out += '"';
}

} // namespace

/// Renders markup for one format into a growing buffer. Tags open lazily, just before the
/// text they style, so that empty pairs and tags stranded at line ends are never written; a
/// closing tag closes the tags opened after its partner and opens them again, so the output
/// always nests. It also tells whether the cue has text anyone would see.
class Renderer {
public:
  explicit Renderer(const Dialect& dialect) : dialect_(dialect) {}

  /// Appends the cue text of markup to out; true when some of it is visible (not only white
  /// space and no-break spaces). Colours that need a class of their own are added to
  /// colorClasses, when given (with onlyVisible, only for visible text).
  bool render(std::string_view markup, std::string& out,
              std::set<std::string>* colorClasses = nullptr, bool onlyVisible = true) {
    out_ = &out;
    cueStart_ = out.size();
    lineStart_ = cueStart_;
    lineHasText_ = false;
    pendingSpace_ = false;
    visible_ = false;
    pendingLead_ = false;
    stack_.clear();
    usedClasses_.clear();
    MarkupScanner scanner(markup, /*joinWords=*/true);
    while (scanner.next(piece_)) {
      switch (piece_.kind) {
      case Kind::Text:
        if (!lineHasText_)
          startLine();
        if (pendingSpace_ && out.size() > lineStart_)
          out += ' ';
        pendingSpace_ = false;
        openPending();
        appendText(piece_.text);
        see(piece_.text);
        lineHasText_ = true;
        break;
      case Kind::Space:
        pendingSpace_ = lineHasText_;
        seeSeparator();
        break;
      case Kind::LineBreak:
        breakLine();
        seeSeparator();
        break;
      case Kind::Open:
        stack_.push_back({piece_.style, std::move(piece_.color), false});
        piece_.color.clear();
        break;
      case Kind::Close:
        close(piece_.style);
        break;
      }
    }
    while (!stack_.empty())
      closeTop();
    breakLine();
    seeSeparator();
    if ((visible_ || !onlyVisible) && colorClasses != nullptr)
      for (auto& color : usedClasses_)
        colorClasses->insert(std::move(color));
    return visible_;
  }

private:
  struct Open {
    Style style;
    std::string color;
    bool written;
  };

  /// Whether the tag of an open item is written at all in this format.
  [[nodiscard]] bool kept(const Open& open) const {
    switch (open.style) {
    case Style::Bold:
      return dialect_.bold;
    case Style::Italic:
      return dialect_.italic;
    case Style::Underline:
      return dialect_.underline;
    case Style::Strike:
      return false;
    case Style::Font:
      return !open.color.empty() && dialect_.color != Dialect::Color::Drop;
    }
    return false;
  }

  void writeOpening(const Open& open) {
    std::string& out = *out_;
    switch (open.style) {
    case Style::Bold:
      out += "<b>";
      return;
    case Style::Italic:
      out += "<i>";
      return;
    case Style::Underline:
      out += "<u>";
      return;
    case Style::Strike:
      return;
    case Style::Font:
      if (dialect_.color == Dialect::Color::FontTag) {
        out += "<font color=\"";
        out += open.color;
        out += "\">";
      } else {
        const std::string name = vttColorClass(open.color);
        out += "<c.";
        out += name;
        out += '>';
        // Colours outside WebVTT's defaults need a class the file defines; only those used.
        if (name.starts_with("color_"))
          usedClasses_.push_back(open.color);
      }
      return;
    }
  }

  void writeClosing(const Open& open) {
    std::string& out = *out_;
    switch (open.style) {
    case Style::Bold:
      out += "</b>";
      return;
    case Style::Italic:
      out += "</i>";
      return;
    case Style::Underline:
      out += "</u>";
      return;
    case Style::Strike:
      return;
    case Style::Font:
      out += dialect_.color == Dialect::Color::FontTag ? "</font>" : "</c>";
      return;
    }
  }

  void openPending() {
    for (auto& open : stack_) {
      if (open.written)
        continue;
      if (kept(open))
        writeOpening(open);
      open.written = true;
    }
  }

  void closeTop() {
    if (stack_.back().written && kept(stack_.back()))
      writeClosing(stack_.back());
    stack_.pop_back();
  }

  void close(Style style) {
    size_t at = stack_.size();
    while (at > 0 && stack_[at - 1].style != style)
      --at;
    if (at == 0)
      return; // a closing tag without its opening one
    // Closes everything down to the partner, then opens again what was opened after it.
    for (size_t k = stack_.size(); k >= at; --k)
      if (stack_[k - 1].written && kept(stack_[k - 1]))
        writeClosing(stack_[k - 1]);
    stack_.erase(stack_.begin() + static_cast<std::ptrdiff_t>(at - 1));
    for (size_t k = at - 1; k < stack_.size(); ++k)
      stack_[k].written = false;
  }

  void appendText(std::string_view text) {
    std::string& out = *out_;
    if (!dialect_.escapeMarkup) {
      out.append(text);
      return;
    }
    size_t plainFrom = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      if (c != '&' && c != '<' && c != '>')
        continue;
      out.append(text.substr(plainFrom, i - plainFrom));
      out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : "&gt;";
      plainFrom = i + 1;
    }
    out.append(text.substr(plainFrom));
  }

  // The text alone, pieces joined as the plain format joins them, is visible when it holds
  // a byte that is neither white space nor part of a no-break space (C2 A0). Pieces meet
  // without a separator only across tags; white space and line breaks separate them.
  void see(std::string_view text) {
    if (visible_)
      return; // nothing more to learn
    for (const char c : text) {
      if (pendingLead_) {
        pendingLead_ = false;
        if (c == '\xA0')
          continue;
        visible_ = true;
        return;
      }
      if (isSpace(c))
        continue;
      if (c != '\xC2') {
        visible_ = true;
        return;
      }
      pendingLead_ = true;
    }
  }
  void seeSeparator() {
    if (pendingLead_)
      visible_ = true;
    pendingLead_ = false;
  }

  // An empty line would end the cue in SubRip and WebVTT, so a break without text before it
  // is dropped: a line's break is written with its first text, where the line started.
  // Tags open only with text, so a line without text holds nothing but closing tags: they
  // finish the line before it. Tags still open carry over to the next line.
  void startLine() {
    if (lineStart_ == cueStart_)
      return; // the cue's first line
    std::string& out = *out_;
    if (lineStart_ == out.size())
      out += '\n';
    else
      out.insert(lineStart_, 1, '\n'); // before the closing tags that ended the line before
    ++lineStart_;
  }
  void breakLine() {
    pendingSpace_ = false;
    lineStart_ = out_->size();
    lineHasText_ = false;
  }

  const Dialect& dialect_;
  std::string* out_ = nullptr;
  std::vector<Open> stack_;
  std::vector<std::string> usedClasses_;
  MarkupPiece piece_;
  size_t cueStart_ = 0;
  size_t lineStart_ = 0;
  bool lineHasText_ = false;
  bool pendingSpace_ = false;
  bool visible_ = false;
  bool pendingLead_ = false;
};

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
    if (const size_t length = matchTag(m.substr(at_), piece)) {
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
    if (const size_t length = matchTag(m.substr(at_), tag_)) {
      tagAt_ = at_;
      tagLength_ = length;
      break;
    }
  }
  piece.kind = Kind::Text;
  piece.text = m.substr(start, at_ - start);
  return true;
}

bool isShown(const Cue& cue) {
  if (cue.duration == 0)
    return false;
  std::string scratch;
  return Renderer(kPlain).render(cue.markup, scratch);
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

std::string plainText(std::string_view markup) {
  std::string out;
  Renderer(kPlain).render(markup, out);
  return out;
}

std::string srtText(std::string_view markup) {
  std::string out;
  Renderer(kSrt).render(markup, out);
  return out;
}

std::string vttText(std::string_view markup, std::set<std::string>& colorClasses) {
  std::string out;
  Renderer(kVtt).render(markup, out, &colorClasses, /*onlyVisible=*/false);
  return out;
}

void appendTime(std::string& out, uint64_t ms, char separator) {
  // Two digits at a time from a table; hours take as many digits as they need.
  static constexpr auto kPairs = [] {
    std::array<char, 200> pairs{};
    for (size_t i = 0; i < 100; ++i) {
      pairs[2 * i] = static_cast<char>('0' + i / 10);
      pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
  }();
  const auto pair = [](char* at, uint32_t value) {
    std::memcpy(at, &kPairs[size_t{2} * value], 2);
  };
  const uint64_t hours = ms / 3600000;
  const auto withinHour = static_cast<uint32_t>(ms % 3600000);
  const uint32_t millis = withinHour % 1000;
  char text[40];
  char* at = text;
  if (hours < 100) {
    pair(at, static_cast<uint32_t>(hours));
    at += 2;
  } else {
    char digits[24];
    char* const end = digits + sizeof digits;
    const char* start = digitsBefore(end, hours);
    at = std::copy(start, static_cast<const char*>(end), at);
  }
  *at++ = ':';
  pair(at, withinHour / 60000);
  at += 2;
  *at++ = ':';
  pair(at, withinHour / 1000 % 60);
  at += 2;
  *at++ = separator;
  *at++ = static_cast<char>('0' + millis / 100);
  pair(at, millis % 100);
  at += 2;
  out.append(text, static_cast<size_t>(at - text));
}

std::string formatTime(uint64_t ms, char separator) {
  std::string out;
  appendTime(out, ms, separator);
  return out;
}

SrtWriter::SrtWriter(std::string& out) : out_(out), renderer_(std::make_unique<Renderer>(kSrt)) {}

SrtWriter::~SrtWriter() = default;

void SrtWriter::add(uint32_t start, uint32_t duration, std::string_view markup) {
  if (duration == 0)
    return;
  // Written in place and taken back when nothing in it would be seen.
  const size_t cueStart = out_.size();
  appendNumber(out_, number_ + 1);
  out_ += '\n';
  appendTime(out_, start, ',');
  out_ += " --> ";
  appendTime(out_, uint64_t{start} + duration, ',');
  out_ += '\n';
  if (!renderer_->render(markup, out_)) {
    out_.resize(cueStart);
    return;
  }
  ++number_;
  out_ += "\n\n";
}

VttWriter::VttWriter(bool styleBlock)
    : styleBlock_(styleBlock), renderer_(std::make_unique<Renderer>(kVtt)) {}

VttWriter::~VttWriter() = default;

void VttWriter::add(uint32_t start, uint32_t duration, std::string_view markup) {
  if (duration == 0)
    return;
  const size_t cueStart = body_.size();
  appendTime(body_, start);
  body_ += " --> ";
  appendTime(body_, uint64_t{start} + duration);
  body_ += '\n';
  if (!renderer_->render(markup, body_, &colorClasses_)) {
    body_.resize(cueStart);
    return;
  }
  body_ += "\n\n";
}

std::string VttWriter::header() const {
  std::string out = "WEBVTT\n\n";
  if (styleBlock_ && !colorClasses_.empty()) {
    out += "STYLE\n";
    for (const auto& color : colorClasses_) {
      out += "::cue(.";
      out += vttColorClass(color);
      out += ") { color: ";
      out += color;
      out += "; }\n";
    }
    out += '\n';
  }
  return out;
}

std::string writeSrt(const std::vector<Cue>& cues) {
  std::string out;
  SrtWriter writer(out);
  for (const auto& cue : cues)
    writer.add(cue.start, cue.duration, cue.markup);
  return out;
}

std::string writeVtt(const std::vector<Cue>& cues, bool styleBlock) {
  VttWriter writer(styleBlock);
  for (const auto& cue : cues)
    writer.add(cue.start, cue.duration, cue.markup);
  return writer.header() + writer.body();
}

std::string writeJson(std::string_view source, const std::vector<StreamCues>& streams) {
  std::string out = "{\n  \"source\": ";
  appendJsonString(out, source);
  out += ",\n  \"streams\": [";
  Renderer plain(kPlain);
  std::string text;
  for (size_t s = 0; s < streams.size(); ++s) {
    const auto& stream = streams[s];
    out += s == 0 ? "\n" : ",\n";
    out += "    {\n      \"id\": ";
    appendNumber(out, stream.id);
    out += ",\n      \"name\": ";
    appendJsonString(out, stream.name);
    out += ",\n      \"language\": ";
    appendJsonString(out, stream.language);
    out += ",\n      \"region\": ";
    appendJsonString(out, stream.region);
    out += ",\n      \"selected\": ";
    out += stream.selected ? "true" : "false";
    out += ",\n      \"subtitles\": [";
    for (size_t c = 0; c < stream.cues.size(); ++c) {
      const auto& cue = stream.cues[c];
      out += c == 0 ? "\n" : ",\n";
      out += "        {\"start\": ";
      appendNumber(out, cue.start);
      out += ", \"duration\": ";
      appendNumber(out, cue.duration);
      out += ", \"end\": ";
      appendNumber(out, uint64_t{cue.start} + cue.duration);
      out += ", \"text\": ";
      text.clear();
      plain.render(cue.markup, text);
      appendJsonString(out, text);
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
