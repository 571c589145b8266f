// Advanced SubStation export. A stream gets one style: whatever every visible piece of text of
// every shown cue has in common (a class's font, colour, bold ...). Inline markup that departs
// from it becomes override tags in front of the text it styles, so players that read styled
// subtitles (libass, and so mpv, VLC and ffmpeg) show what the file asked for.
#include "SubtitleText.h"

#include <array>
#include <cstdio>
#include <optional>

namespace KestrelTool {
namespace {

using Kind = MarkupToken::Kind;
using Style = MarkupToken::Style;

/// What a piece of text looks like. Unset font fields mean "the style's".
struct Look {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strike = false;
  std::optional<uint32_t> color; // 0xRRGGBB
  std::optional<std::string> face;
  std::optional<int> size; // points

  bool operator==(const Look&) const = default;
};

std::optional<uint32_t> rgbOf(const std::string& color) {
  if (color.size() == 7 && color[0] == '#') {
    uint32_t value = 0;
    for (size_t i = 1; i < 7; ++i) {
      const char c = color[i];
      value = value * 16 + static_cast<uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    }
    return value;
  }
  // The colour names of HTML and a few more that SAMI files use.
  static constexpr std::array<std::pair<std::string_view, uint32_t>, 22> kNames{{
      {"white", 0xffffff},   {"black", 0x000000},   {"red", 0xff0000},    {"lime", 0x00ff00},
      {"blue", 0x0000ff},    {"yellow", 0xffff00},  {"cyan", 0x00ffff},   {"aqua", 0x00ffff},
      {"magenta", 0xff00ff}, {"fuchsia", 0xff00ff}, {"silver", 0xc0c0c0}, {"gray", 0x808080},
      {"grey", 0x808080},    {"maroon", 0x800000},  {"olive", 0x808000},  {"green", 0x008000},
      {"purple", 0x800080},  {"teal", 0x008080},    {"navy", 0x000080},   {"orange", 0xffa500},
      {"gold", 0xffd700},    {"pink", 0xffc0cb},
  }};
  for (const auto& [name, value] : kNames)
    if (color == name)
      return value;
  return std::nullopt;
}

/// A font element's size in points: the style markup's relative sizes are steps of two
/// points around 20 ("+2" is 24); a bare number is HTML's absolute size 1 to 7.
std::optional<int> pointsOf(std::string_view size) {
  if (size.empty())
    return std::nullopt;
  const char sign = size.front();
  if (sign == '+' || sign == '-')
    size.remove_prefix(1);
  int n = 0;
  for (const char c : size) {
    if (c < '0' || c > '9' || n > 1000)
      return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (sign == '+')
    return 20 + 2 * n;
  if (sign == '-')
    return 20 - 2 * n > 1 ? 20 - 2 * n : 1;
  static constexpr std::array<int, 8> kHtmlSizes{0, 10, 13, 16, 18, 24, 32, 48};
  return n >= 1 && n <= 7 ? std::optional<int>(kHtmlSizes[static_cast<size_t>(n)]) : std::nullopt;
}

/// The family a font list starts with (`"Times New Roman", serif` gives Times New Roman):
/// ASS names one font, and a renderer given the whole list finds none of it.
std::string firstFamily(std::string_view face) {
  const auto trimmed = [](std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
      text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
      text.remove_suffix(1);
    return text;
  };
  face = trimmed(face);
  if (!face.empty() && (face.front() == '"' || face.front() == '\'')) {
    const char quote = face.front(); // a quoted name may hold a comma
    face.remove_prefix(1);
    return std::string(trimmed(face.substr(0, face.find(quote))));
  }
  return std::string(trimmed(face.substr(0, face.find(','))));
}

/// One cue as pieces of text with their look, and the line breaks between them, white space
/// collapsed as the other formats do: blanks between words become one, empty lines go.
struct Piece {
  bool lineBreak = false;
  std::string text;
  Look look;
};

std::vector<Piece> piecesOf(std::string_view markup) {
  struct Open {
    Style style;
    MarkupToken token;
  };
  std::vector<Open> stack;
  std::vector<Piece> pieces;
  bool pendingSpace = false;
  bool lineHasText = false;
  const auto lookNow = [&stack] {
    Look look;
    for (const auto& open : stack) {
      look.bold = look.bold || open.style == Style::Bold;
      look.italic = look.italic || open.style == Style::Italic;
      look.underline = look.underline || open.style == Style::Underline;
      look.strike = look.strike || open.style == Style::Strike;
      if (open.style != Style::Font)
        continue;
      if (const auto rgb = rgbOf(open.token.color))
        look.color = rgb;
      if (auto family = firstFamily(open.token.face); !family.empty())
        look.face = std::move(family);
      if (const auto points = pointsOf(open.token.size))
        look.size = points;
    }
    return look;
  };
  for (auto& token : tokenizeMarkup(markup)) {
    switch (token.kind) {
    case Kind::Text: {
      const Look look = lookNow();
      std::string text = pendingSpace && lineHasText ? " " + token.text : token.text;
      if (!pieces.empty() && !pieces.back().lineBreak && pieces.back().look == look)
        pieces.back().text += text;
      else
        pieces.push_back({false, std::move(text), look});
      pendingSpace = false;
      lineHasText = true;
      break;
    }
    case Kind::Space:
      pendingSpace = lineHasText;
      break;
    case Kind::LineBreak:
      if (lineHasText)
        pieces.push_back({true, {}, {}});
      lineHasText = false;
      pendingSpace = false;
      break;
    case Kind::Open:
      stack.push_back({token.style, std::move(token)});
      break;
    case Kind::Close:
      for (size_t at = stack.size(); at > 0; --at) {
        if (stack[at - 1].style == token.style) {
          stack.erase(stack.begin() + static_cast<std::ptrdiff_t>(at - 1));
          break;
        }
      }
      break;
    }
  }
  while (!pieces.empty() && pieces.back().lineBreak)
    pieces.pop_back();
  return pieces;
}

/// The look every piece shares; fields on which pieces differ are left to ASS's defaults.
Look sharedLook(const std::vector<std::vector<Piece>>& cues) {
  std::optional<Look> shared;
  for (const auto& pieces : cues) {
    for (const auto& piece : pieces) {
      if (piece.lineBreak)
        continue;
      if (!shared) {
        shared = piece.look;
        continue;
      }
      shared->bold = shared->bold && piece.look.bold;
      shared->italic = shared->italic && piece.look.italic;
      shared->underline = shared->underline && piece.look.underline;
      shared->strike = shared->strike && piece.look.strike;
      if (shared->color != piece.look.color)
        shared->color.reset();
      if (shared->face != piece.look.face)
        shared->face.reset();
      if (shared->size != piece.look.size)
        shared->size.reset();
    }
  }
  return shared.value_or(Look{});
}

constexpr uint32_t kDefaultColor = 0xffffff;
constexpr int kDefaultSize = 20;
constexpr std::string_view kDefaultFace = "Arial";

/// ASS writes colours blue first: &HBBGGRR&.
std::string assColor(uint32_t rgb) {
  char text[16];
  std::snprintf(text, sizeof text, "&H%02X%02X%02X&", rgb & 0xff, (rgb >> 8) & 0xff,
                (rgb >> 16) & 0xff);
  return text;
}

/// A name or text fit for a field of a comma-separated line: no commas, no line ends.
std::string fieldText(std::string_view text) {
  std::string out;
  for (const char c : text)
    out += (c == ',' || c == '\n' || c == '\r') ? ' ' : c;
  return out;
}

/// Override tags that turn look `from` into look `to`.
std::string overrides(const Look& from, const Look& to, const Look& base) {
  std::string tags;
  const auto flag = [&tags](bool was, bool is, const char* tag) {
    if (was != is)
      tags += std::string("\\") + tag + (is ? "1" : "0");
  };
  flag(from.bold, to.bold, "b");
  flag(from.italic, to.italic, "i");
  flag(from.underline, to.underline, "u");
  flag(from.strike, to.strike, "s");
  if (from.color != to.color)
    tags += "\\c" + assColor(to.color.value_or(base.color.value_or(kDefaultColor)));
  if (from.face != to.face)
    tags += "\\fn" + fieldText(to.face.value_or(base.face.value_or(std::string(kDefaultFace))));
  if (from.size != to.size)
    tags += "\\fs" + std::to_string(to.size.value_or(base.size.value_or(kDefaultSize)));
  return tags.empty() ? tags : "{" + tags + "}";
}

/// "H:MM:SS.cc" of a time in centiseconds.
std::string assTime(uint64_t cs) {
  char text[48];
  std::snprintf(
      text, sizeof text, "%llu:%02llu:%02llu.%02llu", static_cast<unsigned long long>(cs / 360000),
      static_cast<unsigned long long>(cs / 6000 % 60),
      static_cast<unsigned long long>(cs / 100 % 60), static_cast<unsigned long long>(cs % 100));
  return text;
}

/// Text of a dialogue line: braces would open an override block, so they are escaped.
void appendDialogueText(std::string& out, std::string_view text) {
  for (const char c : text) {
    if (c == '{' || c == '}')
      out += '\\';
    out += c;
  }
}

} // namespace

std::string writeAss(const std::vector<Cue>& cues, std::string_view styleName) {
  std::vector<const Cue*> shown;
  std::vector<std::vector<Piece>> pieces;
  for (const auto& cue : cues) {
    if (!isShown(cue))
      continue;
    shown.push_back(&cue);
    pieces.push_back(piecesOf(cue.markup));
  }
  const Look base = sharedLook(pieces);
  std::string style = fieldText(styleName);
  if (style.empty())
    style = "Default";

  std::string out = "[Script Info]\nScriptType: v4.00+\nPlayResX: 384\nPlayResY: 288\n"
                    "WrapStyle: 0\nScaledBorderAndShadow: yes\n\n[V4+ Styles]\n"
                    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, "
                    "OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, "
                    "ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, "
                    "MarginR, MarginV, Encoding\n";
  const auto styleFlag = [](bool on) { return on ? "-1," : "0,"; };
  const std::string primary = assColor(base.color.value_or(kDefaultColor));
  out += "Style: " + style + "," + fieldText(base.face.value_or(std::string(kDefaultFace))) + "," +
         std::to_string(base.size.value_or(kDefaultSize)) + ",&H00" + primary.substr(2, 6) +
         ",&H000000FF,&H00000000,&H80000000," + styleFlag(base.bold) + styleFlag(base.italic) +
         styleFlag(base.underline) + styleFlag(base.strike) +
         "100,100,0,0,1,1.5,0.5,2,10,10,12,1\n\n[Events]\n"
         "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
  for (size_t c = 0; c < shown.size(); ++c) {
    const Cue& cue = *shown[c];
    // Starts and ends are both cut down to the centisecond, so a cue that ends where the next
    // begins still does: rounding them apart would show both at once, the old line pushed up.
    // A cue shorter than a centisecond is given one, unless that would reach into the next.
    const uint64_t start = cue.start / 10;
    uint64_t end = (uint64_t{cue.start} + cue.duration) / 10;
    if (end == start && (c + 1 == shown.size() || shown[c + 1]->start / 10 > start))
      end = start + 1;
    out += "Dialogue: 0," + assTime(start) + "," + assTime(end) + "," + style + ",,0,0,0,,";
    Look current = base;
    for (const auto& piece : pieces[c]) {
      if (piece.lineBreak) {
        out += "\\N";
        continue;
      }
      out += overrides(current, piece.look, base);
      current = piece.look;
      appendDialogueText(out, piece.text);
    }
    out += '\n';
  }
  return out;
}

} // namespace KestrelTool
