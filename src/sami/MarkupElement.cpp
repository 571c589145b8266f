#include "sami/MarkupElement.h"

#include "text/Characters.h"

#include <cstring>

namespace Kestrel {

std::optional<std::string_view> MarkupElement::attribute(std::string_view name) const {
  // Searching from the back gives the later of two attributes of the same name. Callers
  // ask for a handful of names per item, so this stays linear in the item's size.
  for (auto it = attributes_.rbegin(); it != attributes_.rend(); ++it) {
    if (it->first == name)
      return it->second;
  }
  return std::nullopt;
}

bool parseTagInPlace(char* item, std::size_t length, MarkupElement& element) {
  lowerAsciiCopy(std::string_view(item, length), item);
  return element.read(item, length);
}

bool MarkupElement::read(const char* const d, const std::size_t n) {
  attributes_.clear();
  std::size_t i = 0;
  while (i < n && !isMarkupBlank(d[i]))
    ++i;
  name_ = std::string_view(d, i);

  // The "=" ending an attribute name is searched once per "=": every search starts past
  // the previous one's find, so a tag of many blank-separated words is read once.
  std::size_t nextEquals = 0;
  bool equalsKnown = false;
  for (;;) {
    while (i < n && isMarkupBlank(d[i]))
      ++i;
    if (i == n)
      break;
    if (!equalsKnown || nextEquals < i) {
      const void* found = std::memchr(d + i, '=', n - i);
      nextEquals =
          found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - d) : n;
      equalsKnown = true;
    }
    // Blanks before the "=" are no part of the name, as HTML writes attributes.
    std::size_t nameEnd = nextEquals;
    while (nameEnd > i && isMarkupBlank(d[nameEnd - 1]))
      --nameEnd;
    const std::string_view attributeName(d + i, nameEnd - i);
    i = nextEquals;
    if (i < n && d[i] == '=')
      ++i;
    while (i < n && (isMarkupBlank(d[i]) || d[i] == '"' || d[i] == '\''))
      ++i;
    if (i == n)
      break; // a name without a value is dropped, and nothing after it is read
    const std::size_t valueStart = i;
    if (const char quoteMark = d[i - 1]; quoteMark == '"' || quoteMark == '\'') {
      const void* quote = std::memchr(d + i, quoteMark, n - i);
      i = quote != nullptr ? static_cast<std::size_t>(static_cast<const char*>(quote) - d) : n;
    } else {
      while (i < n && !isMarkupBlank(d[i]))
        ++i;
    }
    attributes_.emplace_back(attributeName, std::string_view(d + valueStart, i - valueStart));
    // Whatever is glued to the value (its closing quote and more) belongs to no attribute.
    while (i < n && !isMarkupBlank(d[i]))
      ++i;
  }
  return !name_.empty();
}

} // namespace Kestrel
