#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace Kestrel {

/// One markup item of a SAMI document as parseTagInPlace reads it: a lowercase name (a
/// closing item's name begins with "/") and its attributes, names and values lowercase. The
/// views point into the item's text, which parseTagInPlace lowercases where it lies, so an
/// element is reused item after item without allocating.
class MarkupElement {
public:
  using Attribute = std::pair<std::string_view, std::string_view>;

  MarkupElement() = default;
  MarkupElement(const MarkupElement&) = delete;
  MarkupElement& operator=(const MarkupElement&) = delete;

  [[nodiscard]] std::string_view name() const { return name_; }
  /// The value of the attribute called name; when the item names it more than once, the
  /// last one written wins.
  [[nodiscard]] std::optional<std::string_view> attribute(std::string_view name) const;
  /// Every attribute in the order written, repeated names included.
  [[nodiscard]] const std::vector<Attribute>& attributes() const { return attributes_; }

private:
  friend bool parseTagInPlace(char* item, std::size_t length, MarkupElement& element);

  // Reads the lowercase item d of n bytes; name_ and attributes_ point into it.
  bool read(const char* d, std::size_t n);

  std::string_view name_;
  std::vector<Attribute> attributes_;
};

/// Parses the length bytes between '<' and '>' of a markup item at item into element
/// (cleared first), lowercasing the item where it lies, for a caller that owns the text and
/// will not read the item as written again. The element is valid while the text is.
/// The name runs to the first blank; an attribute's name runs to the next "=" (blanks
/// inside it kept, blanks before the "=" not), its value follows the "=" and any blanks and
/// quotes, and runs to the closing quote of the kind that opened it (double or single),
/// else to the next blank. An attribute without a value ends the list. Returns whether the
/// name is non-empty.
bool parseTagInPlace(char* item, std::size_t length, MarkupElement& element);

} // namespace Kestrel
