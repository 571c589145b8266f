// Markup items as the scan hands them over: the text between '<' and '>', parsed where it lies.
#include "sami/MarkupElement.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

bool isUpper(char c) { return c >= 'A' && c <= 'Z'; }

// Everything the element holds is lowercase and lies inside the item.
void checkView(std::string_view view, const std::string& item) {
  if (view.data() < item.data() || view.data() + view.size() > item.data() + item.size())
    __builtin_trap();
  for (const char c : view)
    if (isUpper(c))
      __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Kestrel;
  static MarkupElement element; // reused item after item, as the scan does
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string item(input);
  const bool named = parseTagInPlace(item.data(), item.size(), element);
  if (named != !element.name().empty())
    __builtin_trap();
  // The name is the item's first word, lowercased: the input up to the first blank.
  const std::string_view name = element.name();
  if (name.size() > size ||
      (name.size() < size && input[name.size()] != ' ' && input[name.size()] != '\t' &&
       input[name.size()] != '\r' && input[name.size()] != '\n'))
    __builtin_trap();
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = input[i];
    if (name[i] != (isUpper(c) ? static_cast<char>(c + 32) : c))
      __builtin_trap();
  }
  checkView(name, item);
  for (const auto& [attributeName, value] : element.attributes()) {
    checkView(attributeName, item);
    checkView(value, item);
  }
  (void)element.attribute("class");
  (void)element.attribute("start");
  return 0;
}
