// Markup items as the scan hands them over: the text between '<' and '>'.
#include "sami/MarkupElement.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Kestrel;
  static MarkupElement element; // reused item after item, as the scan does
  const std::string_view item(reinterpret_cast<const char*>(data), size);
  const bool named = parseTag(item, element);
  if (named != !element.name().empty())
    __builtin_trap();
  for (const auto& [name, value] : element.attributes()) {
    // Everything is lowercased, and every view points into the element's own copy.
    for (const char c : name)
      if (c >= 'A' && c <= 'Z')
        __builtin_trap();
    for (const char c : value)
      if (c >= 'A' && c <= 'Z')
        __builtin_trap();
  }
  (void)element.attribute("class");
  (void)element.attribute("start");
  return 0;
}
