#include "sami/MarkupElement.h"

#include <cstdint>
#include <cstring>

namespace Kestrel {
namespace {

// Markup blanks: space, TAB, CR and LF only.
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Copies text to out with 'A' to 'Z' made lowercase, eight bytes at a time: every item of a
// document passes through here.
void lowerAsciiCopy(std::string_view text, char* out) {
  constexpr uint64_t kHighBits = 0x8080808080808080ull;
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word = 0;
    std::memcpy(&word, text.data() + i, 8);
    // Per byte, without carries between bytes: the high bit of atLeastA is set from 'A' (0x41)
    // up, that of pastZ from '[' (0x5B) up; bytes with their own high bit set are not ASCII.
    const uint64_t low7 = word & ~kHighBits;
    const uint64_t atLeastA = low7 + 0x3F3F3F3F3F3F3F3Full;
    const uint64_t pastZ = low7 + 0x2525252525252525ull;
    const uint64_t upper = atLeastA & ~pastZ & ~word & kHighBits;
    word |= upper >> 2; // 0x80 >> 2 is the 0x20 that makes a letter lowercase
    std::memcpy(out + i, &word, 8);
  }
  for (; i < text.size(); ++i)
    out[i] = lowerAscii(text[i]);
}

} // namespace

std::optional<std::string_view> MarkupElement::attribute(std::string_view name) const {
  // Searching from the back gives the later of two attributes of the same name. Callers
  // ask for a handful of names per item, so this stays linear in the item's size.
  for (auto it = attributes_.rbegin(); it != attributes_.rend(); ++it) {
    if (it->first == name)
      return it->second;
  }
  return std::nullopt;
}

bool parseTag(std::string_view item, MarkupElement& element) {
  std::string& s = element.text_;
  s.resize(item.size());
  lowerAsciiCopy(item, s.data());
  return element.read(s.data(), s.size());
}

bool parseTagInPlace(char* item, std::size_t length, MarkupElement& element) {
  lowerAsciiCopy(std::string_view(item, length), item);
  return element.read(item, length);
}

bool MarkupElement::read(const char* const d, const std::size_t n) {
  attributes_.clear();
  std::size_t i = 0;
  while (i < n && !isBlank(d[i]))
    ++i;
  name_ = std::string_view(d, i);

  // The "=" ending an attribute name is searched once per "=": every search starts past
  // the previous one's find, so a tag of many blank-separated words is read once.
  std::size_t nextEquals = 0;
  bool equalsKnown = false;
  for (;;) {
    while (i < n && isBlank(d[i]))
      ++i;
    if (i == n)
      break;
    if (!equalsKnown || nextEquals < i) {
      const void* found = std::memchr(d + i, '=', n - i);
      nextEquals =
          found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - d) : n;
      equalsKnown = true;
    }
    const std::string_view attributeName(d + i, nextEquals - i);
    i = nextEquals;
    if (i < n && d[i] == '=')
      ++i;
    while (i < n && (isBlank(d[i]) || d[i] == '"'))
      ++i;
    if (i == n)
      break; // a name without a value is dropped, and nothing after it is read
    const std::size_t valueStart = i;
    if (d[i - 1] == '"') {
      const void* quote = std::memchr(d + i, '"', n - i);
      i = quote != nullptr ? static_cast<std::size_t>(static_cast<const char*>(quote) - d) : n;
    } else {
      while (i < n && !isBlank(d[i]))
        ++i;
    }
    attributes_.emplace_back(attributeName, std::string_view(d + valueStart, i - valueStart));
    // Whatever is glued to the value (its closing quote and more) belongs to no attribute.
    while (i < n && !isBlank(d[i]))
      ++i;
  }
  return !name_.empty();
}

} // namespace Kestrel
