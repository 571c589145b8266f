#include "sami/TextRun.h"

namespace Kestrel {

TextRun readTextRun(char* const begin, char* const end, const bool fontElementOpen) {
  char* write = begin;
  char* read = begin;
  std::size_t openInlineFonts = 0;
  for (;;) {
    auto* next = static_cast<char*>(std::memchr(read, '<', static_cast<std::size_t>(end - read)));
    if (next == nullptr)
      next = end;
    const auto plain = static_cast<std::size_t>(next - read);
    if (write != read)
      std::memmove(write, read, plain);
    write += plain;
    read = next;
    if (read == end)
      break;
    const InlineMarkup markup = inlineMarkupAt(read, end);
    if (!isInlineHere(markup, openInlineFonts, fontElementOpen))
      break;
    if (markup.kind == InlineMarkup::FontOpen)
      ++openInlineFonts;
    else if (markup.kind == InlineMarkup::FontClose && openInlineFonts > 0)
      --openInlineFonts;
    const char after = read[markup.length];
    if (markup.kind == InlineMarkup::LineBreak && after != '\r' && after != '\n') {
      // The four bytes of "<br>" become the four of "<**>" in place; no terminator here.
      std::memcpy(write, "<**>", 4); // NOLINT(bugprone-not-null-terminated-result)
      write += 4;
    } else {
      if (write != read)
        std::memmove(write, read, markup.length);
      write += markup.length;
    }
    read += markup.length;
  }
  return {write, read};
}

namespace {

// Whether text holds nothing but blanks and inline markup, and no-break spaces (U+00A0)
// too when noBreakSpaces is set.
bool showsNothing(const std::string_view text, const bool noBreakSpaces) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (isMarkupBlank(text[i])) {
      ++i;
      continue;
    }
    if (noBreakSpaces && text[i] == '\xC2' && i + 1 < text.size() && text[i + 1] == '\xA0') {
      i += 2;
      continue;
    }
    if (text[i] != '<')
      return false;
    const std::size_t close = text.find('>', i);
    if (close == std::string_view::npos)
      return false;
    const std::string_view item = text.substr(i + 1, close - i - 1);
    std::size_t nameEnd = 0;
    while (nameEnd < item.size() && !isMarkupBlank(item[nameEnd]) && nameEnd < 6)
      ++nameEnd;
    char name[6] = {};
    for (std::size_t k = 0; k < nameEnd; ++k)
      name[k] = lowerAscii(item[k]);
    const std::string_view lower(name, nameEnd);
    const bool bare = nameEnd == item.size();
    const bool inlineItem =
        (bare && (lower == "b" || lower == "i" || lower == "u" || lower == "s" || lower == "/b" ||
                  lower == "/i" || lower == "/u" || lower == "/s" || lower == "br" ||
                  lower == "br/" || lower == "**" || lower == "/font")) ||
        (lower == "br" && item.size() == 4 && item.substr(2) == " /") || lower == "font";
    if (!inlineItem)
      return false;
    i = close + 1;
  }
  return true;
}

} // namespace

bool isOnlyInlineMarkup(const std::string_view text) { return showsNothing(text, false); }

bool isBlankText(const std::string_view text) { return showsNothing(text, true); }

} // namespace Kestrel
