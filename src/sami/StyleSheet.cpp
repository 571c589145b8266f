#include "sami/StyleSheet.h"

#include "text/Characters.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace Kestrel {
namespace {

void lowercase(char* begin, const char* end) {
  lowerAsciiCopy(std::string_view(begin, static_cast<std::size_t>(end - begin)), begin);
}

BufferString bytesOf(std::string_view text) {
  return BufferString(text.data(), static_cast<int32_t>(text.size()));
}

// A cursor over the working copy, which ends in a NUL we put there; the sheet's own bytes
// hold no NUL (it comes in as a C string), so the NUL is the end.
class SheetCursor {
public:
  explicit SheetCursor(char* text) : at_(text) {}

  [[nodiscard]] bool atEnd() const { return *at_ == '\0'; }
  [[nodiscard]] char peek() const { return *at_; }

  /// Moves over whitespace and the byte also.
  void skipSpaceAnd(char also) {
    while (*at_ != '\0' && (isMarkupBlank(*at_) || *at_ == also))
      ++at_;
  }
  /// Moves over the run up to the first byte for which stop is true (or the end) and
  /// returns where the run began.
  template <class Stop> char* takeUntil(Stop stop) {
    char* begin = at_;
    while (*at_ != '\0' && !stop(*at_))
      ++at_;
    return begin;
  }
  [[nodiscard]] char* position() const { return at_; }
  void skip() { ++at_; }

private:
  char* at_;
};

} // namespace

bool parseStyleSheet(const char* text, StyleClassTable& table) {
  return parseStyleSheet(
      text, [&table](std::string_view selector, std::span<const StyleProperty> properties) {
        StyleClass rule;
        for (const StyleProperty& property : properties)
          rule.properties.insert_or_assign(bytesOf(property.name), bytesOf(property.value));
        renderStyleMarkup(rule.properties, rule.openMarkup, rule.closeMarkup);
        table.insert_or_assign(bytesOf(selector), std::move(rule));
      });
}

bool parseStyleSheet(const char* text, const StyleRuleSink& addRule) {
  if (text == nullptr)
    return true;
  const std::size_t size = std::strlen(text);
  std::unique_ptr<char[]> copy(new (std::nothrow) char[size + 1]);
  if (!copy)
    return false;
  std::memcpy(copy.get(), text, size + 1);
  parseStyleSheetInPlace(copy.get(), size, addRule);
  return true;
}

void parseStyleSheetInPlace(char* text, std::size_t length, const StyleRuleSink& addRule) {
  // Whatever follows the last "}" (the comment's closing "--", stray text) is no rule. A
  // sheet without any "}" keeps only its first byte, which defines nothing.
  const void* lastBrace = memrchr(text, '}', length);
  const std::size_t kept =
      lastBrace != nullptr
          ? static_cast<std::size_t>(static_cast<const char*>(lastBrace) - text) + 1
          : (length > 0 ? 1 : 0);
  text[kept] = '\0';

  std::vector<StyleProperty> properties; // one rule's, reused for every rule
  SheetCursor cursor(text);
  // The comment opener, once, at the start only.
  while (!cursor.atEnd() &&
         (isMarkupBlank(cursor.peek()) || cursor.peek() == '!' || cursor.peek() == '-'))
    cursor.skip();

  while (!cursor.atEnd()) {
    // "{" doesn't end a selector: "P{" is the selector "p{".
    char* selectorBegin = cursor.takeUntil(isMarkupBlank);
    char* selectorEnd = cursor.position();
    lowercase(selectorBegin, selectorEnd);
    const std::string_view selector(selectorBegin,
                                    static_cast<std::size_t>(selectorEnd - selectorBegin));
    cursor.skipSpaceAnd('{');
    if (cursor.atEnd())
      break;

    properties.clear();
    while (!cursor.atEnd()) {
      char* nameBegin =
          cursor.takeUntil([](char c) { return isMarkupBlank(c) || c == ':' || c == '}'; });
      char* nameEnd = cursor.position();
      cursor.skipSpaceAnd(':');
      if (cursor.atEnd())
        break;
      if (cursor.peek() == '}') {
        cursor.skipSpaceAnd('}'); // a name without a value is dropped
        break;
      }
      lowercase(nameBegin, nameEnd);
      // The value keeps its case and any blanks before the ";" or "}".
      const char* valueBegin = cursor.takeUntil([](char c) { return c == ';' || c == '}'; });
      properties.push_back(
          {std::string_view(nameBegin, static_cast<std::size_t>(nameEnd - nameBegin)),
           std::string_view(valueBegin, static_cast<std::size_t>(cursor.position() - valueBegin))});
      cursor.skipSpaceAnd(';');
      if (cursor.peek() == '}') {
        cursor.skipSpaceAnd('}');
        break;
      }
    }

    // A rule without properties leaves an earlier rule of the same selector in place.
    if (properties.empty())
      continue;
    addRule(selector, properties);
  }
}

} // namespace Kestrel
