#include "sami/TextRun.h"

namespace Kestrel {

TextRun readTextRun(char* const begin, char* const end) {
  char* write = begin;
  char* read = begin;
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
    if (markup.length == 0)
      break;
    const char after = read[markup.length];
    if (markup.isLineBreak && after != '\r' && after != '\n') {
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

} // namespace Kestrel
