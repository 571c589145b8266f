#include "sami/MarkupElement.h"

#include <cstring>

namespace Kestrel {
namespace {

// Markup blanks: space, TAB, CR and LF only.
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

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
  element.attributes_.clear();
  std::string& s = element.text_;
  s.resize(item.size());
  for (std::size_t i = 0; i < item.size(); ++i)
    s[i] = lowerAscii(item[i]);

  const std::size_t n = s.size();
  const char* const d = s.data();
  std::size_t i = 0;
  while (i < n && !isBlank(d[i]))
    ++i;
  element.name_ = std::string_view(d, i);

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
    element.attributes_.emplace_back(attributeName,
                                     std::string_view(d + valueStart, i - valueStart));
    // Whatever is glued to the value (its closing quote and more) belongs to no attribute.
    while (i < n && !isBlank(d[i]))
      ++i;
  }
  return !element.name_.empty();
}

} // namespace Kestrel
