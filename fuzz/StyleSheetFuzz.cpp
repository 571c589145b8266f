// Style sheet parsing and the markup rendered for every rule.
#include "sami/StyleSheet.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Kestrel;
  if (size > (1u << 20))
    return 0;
  const std::string text(reinterpret_cast<const char*>(data), size); // NUL-terminated copy
  StyleClassTable table;
  parseStyleSheet(text.c_str(), table);
  parseStyleSheet(text.c_str(), table); // a second sheet adds to and replaces the first
  for (const auto& [selector, rule] : table) {
    BufferString open;
    BufferString close;
    renderStyleMarkup(rule.properties, open, close);
    if (!(open == rule.openMarkup) || !(close == rule.closeMarkup))
      __builtin_trap(); // rendering is a function of the properties alone
  }
  return 0;
}
