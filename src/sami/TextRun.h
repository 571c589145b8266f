#pragma once

#include "text/Characters.h"
#include "text/Numbers.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

namespace Kestrel {

struct InlineMarkup {
  enum Kind : uint8_t { Style, LineBreak, FontOpen, FontClose };
  std::size_t length = 0; // 0: p does not begin inline markup
  Kind kind = Style;
};

/// Whether the attributes of a font element, the bytes from after "<font" to its '>', name
/// a class or an id (names in either case, blanks around "=" and quoted values allowed).
inline bool fontNamesClassOrId(const char* p, const char* end) {
  while (p < end) {
    while (p < end && isMarkupBlank(*p))
      ++p;
    const char* name = p;
    while (p < end && *p != '=' && !isMarkupBlank(*p))
      ++p;
    const auto length = static_cast<std::size_t>(p - name);
    if ((length == 5 || length == 2) && lowerAscii(name[0]) == (length == 5 ? 'c' : 'i')) {
      const char* const word = length == 5 ? "class" : "id";
      std::size_t i = 1;
      while (i < length && lowerAscii(name[i]) == word[i])
        ++i;
      if (i == length)
        return true;
    }
    while (p < end && isMarkupBlank(*p))
      ++p;
    if (p == end || *p != '=')
      continue;
    ++p;
    while (p < end && isMarkupBlank(*p))
      ++p;
    if (p < end && (*p == '"' || *p == '\'')) {
      const void* close = std::memchr(p + 1, *p, static_cast<std::size_t>(end - (p + 1)));
      p = close != nullptr ? static_cast<const char*>(close) + 1 : end;
    } else {
      while (p < end && !isMarkupBlank(*p))
        ++p;
    }
  }
  return false;
}

/// Inline markup stays inside a text run: "<b>", "<i>", "<u>", "<s>" and their closing
/// forms, the line breaks "<br>", "<br/>" and "<br />", and font elements that only present
/// text ("<font ...>" with face, color or size, and "</font>"), letters in either case.
/// Files style most lines with inline fonts and write "<br/>" on every line; taken as
/// elements they would cut each line into several subtitles at one start. A font with a
/// class or an id is an element: it picks a track or a rule.
/// p points at a '<' inside text that ends with a NUL at end; every byte is compared only
/// after the one before it matched, so nothing past the NUL is read.
inline InlineMarkup inlineMarkupAt(const char* p, const char* end) {
  const char c1 = lowerAscii(p[1]);
  if (c1 == '/') {
    const char c2 = lowerAscii(p[2]);
    if ((c2 == 'b' || c2 == 'i' || c2 == 'u' || c2 == 's') && p[3] == '>')
      return {4, InlineMarkup::Style};
    if (c2 == 'f' && lowerAscii(p[3]) == 'o' && lowerAscii(p[4]) == 'n' &&
        lowerAscii(p[5]) == 't' && p[6] == '>')
      return {7, InlineMarkup::FontClose};
    return {};
  }
  if ((c1 == 'b' || c1 == 'i' || c1 == 'u' || c1 == 's') && p[2] == '>')
    return {3, InlineMarkup::Style};
  if (c1 == 'b' && lowerAscii(p[2]) == 'r') {
    if (p[3] == '>')
      return {4, InlineMarkup::LineBreak};
    if (p[3] == '/' && p[4] == '>')
      return {5, InlineMarkup::LineBreak};
    if (p[3] == ' ' && p[4] == '/' && p[5] == '>')
      return {6, InlineMarkup::LineBreak};
    return {};
  }
  if (c1 == 'f' && lowerAscii(p[2]) == 'o' && lowerAscii(p[3]) == 'n' && lowerAscii(p[4]) == 't' &&
      (p[5] == '>' || isMarkupBlank(p[5]))) {
    const void* close = std::memchr(p + 5, '>', static_cast<std::size_t>(end - (p + 5)));
    if (close == nullptr || fontNamesClassOrId(p + 5, static_cast<const char*>(close)))
      return {};
    return {static_cast<std::size_t>(static_cast<const char*>(close) - p) + 1,
            InlineMarkup::FontOpen};
  }
  return {};
}

/// Whether markup at p is inline where the scan stands. A "</font>" closes an inline font
/// of the run (openInlineFonts of them are open), else a font element when the innermost
/// open element is one, else it stays in the text as written.
inline bool isInlineHere(const InlineMarkup& markup, std::size_t openInlineFonts,
                         bool fontElementOpen) {
  if (markup.length == 0)
    return false;
  return markup.kind != InlineMarkup::FontClose || openInlineFonts > 0 || !fontElementOpen;
}

/// One text run read where it lies: the run ends at the next '<' that is not inline markup,
/// or at end.
struct TextRun {
  char* textEnd; // the end of the run's rewritten text, which begins where the run did
  char* next;    // where the document goes on
};

/// Reads the text run at begin in text that ends with a NUL at end; fontElementOpen says
/// whether the innermost open element is a font element. Line breaks not directly followed
/// by CR or LF become "<**>"; "<br/>" and "<br />" are longer than that, so the run is
/// compacted towards its start as it is read (write never passes read).
TextRun readTextRun(char* begin, char* end, bool fontElementOpen = false);

/// Whether text holds nothing but blanks and inline markup (the "<**>" line break among it).
/// text lies in a NUL-terminated buffer, as inlineMarkupAt needs.
bool isOnlyInlineMarkup(std::string_view text);

/// Whether text shows nothing: blanks, no-break spaces and inline markup only; text lies in a
/// NUL-terminated buffer.
bool isBlankText(std::string_view text);

/// A SYNC start as the "%u" scan format reads it: leading white space, an optional sign,
/// decimal digits, anything after them ignored; nothing when no number is there.
inline std::optional<uint32_t> readStart(std::string_view value) {
  return scanUnsigned(value.data(), value.data() + value.size());
}

} // namespace Kestrel
