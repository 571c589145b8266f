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
  std::size_t length = 0; // 0: p does not begin inline markup
  bool isLineBreak = false;
};

/// Inline markup stays inside a text run: "<b>", "<i>", "<u>", "<s>" and their closing
/// forms, the line breaks "<br>", "<br/>" and "<br />", and font elements ("<font ...>"
/// with any attributes, "</font>"), letters in either case. Files style most lines with
/// inline fonts and write "<br/>" on every line; taken as elements they would cut each
/// line into several subtitles at one start, all but the last shown for no time at all.
/// p points at a '<' inside text that ends with a NUL at end; every byte is compared only
/// after the one before it matched, so nothing past the NUL is read.
inline InlineMarkup inlineMarkupAt(const char* p, const char* end) {
  const char c1 = lowerAscii(p[1]);
  if (c1 == '/') {
    const char c2 = lowerAscii(p[2]);
    if ((c2 == 'b' || c2 == 'i' || c2 == 'u' || c2 == 's') && p[3] == '>')
      return {4, false};
    if (c2 == 'f' && lowerAscii(p[3]) == 'o' && lowerAscii(p[4]) == 'n' &&
        lowerAscii(p[5]) == 't' && p[6] == '>')
      return {7, false};
    return {};
  }
  if ((c1 == 'b' || c1 == 'i' || c1 == 'u' || c1 == 's') && p[2] == '>')
    return {3, false};
  if (c1 == 'b' && lowerAscii(p[2]) == 'r') {
    if (p[3] == '>')
      return {4, true};
    if (p[3] == '/' && p[4] == '>')
      return {5, true};
    if (p[3] == ' ' && p[4] == '/' && p[5] == '>')
      return {6, true};
    return {};
  }
  if (c1 == 'f' && lowerAscii(p[2]) == 'o' && lowerAscii(p[3]) == 'n' && lowerAscii(p[4]) == 't' &&
      (p[5] == '>' || isMarkupBlank(p[5]))) {
    const void* close = std::memchr(p + 5, '>', static_cast<std::size_t>(end - (p + 5)));
    if (close == nullptr)
      return {};
    return {static_cast<std::size_t>(static_cast<const char*>(close) - p) + 1, false};
  }
  return {};
}

/// One text run read where it lies: the run ends at the next '<' that is not inline markup,
/// or at end.
struct TextRun {
  char* textEnd; // the end of the run's rewritten text, which begins where the run did
  char* next;    // where the document goes on
};

/// Reads the text run at begin in text that ends with a NUL at end. Line breaks not
/// directly followed by CR or LF become "<**>"; "<br/>" and "<br />" are longer than that,
/// so the run is compacted towards its start as it is read (write never passes read).
TextRun readTextRun(char* begin, char* end);

/// A SYNC start as the "%u" scan format reads it: leading white space, an optional sign,
/// decimal digits, anything after them ignored; nothing when no number is there.
inline std::optional<uint32_t> readStart(std::string_view value) {
  return scanUnsigned(value.data(), value.data() + value.size());
}

} // namespace Kestrel
