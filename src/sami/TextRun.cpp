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

// Whether text holds nothing but blanks and inline markup as inlineMarkupAt knows it (the
// "<**>" line break among it), and no-break spaces (U+00A0) too when noBreakSpaces is set.
bool showsNothing(const std::string_view text, const bool noBreakSpaces) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    if (isMarkupBlank(*p)) {
      ++p;
      continue;
    }
    if (noBreakSpaces && *p == '\xC2' && end - p >= 2 && p[1] == '\xA0') {
      p += 2;
      continue;
    }
    if (*p != '<')
      return false;
    if (end - p >= 4 && std::memcmp(p, "<**>", 4) == 0) {
      p += 4;
      continue;
    }
    const InlineMarkup markup = inlineMarkupAt(p, end);
    if (markup.length == 0 || markup.length > static_cast<std::size_t>(end - p))
      return false;
    p += markup.length;
  }
  return true;
}

} // namespace

bool isOnlyInlineMarkup(const std::string_view text) { return showsNothing(text, false); }

bool isBlankText(const std::string_view text) { return showsNothing(text, true); }

} // namespace Kestrel
