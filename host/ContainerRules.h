#pragma once

#include <cstddef>
#include <string_view>

namespace KestrelTool {

/// What the container accepts as a location, checked by the hosts before they hand it one, so
/// that they can say why in their own words: a name ending in ".smi" or ".sami", in lower
/// case, and a full path of at most 259 UTF-16 units.
struct ContainerRules {
  static constexpr std::size_t kMaxPathUnits = 259;

  /// Whether the text after the last "." of location is one of the container's extensions.
  static bool acceptsName(std::string_view location) {
    const std::size_t dot = location.rfind('.');
    if (dot == std::string_view::npos)
      return false;
    const std::string_view extension = location.substr(dot);
    return extension == ".smi" || extension == ".sami";
  }

  /// The UTF-16 units of UTF-8 text: one per character, two for those above U+FFFF.
  static std::size_t utf16Units(std::string_view utf8) {
    std::size_t units = 0;
    for (const char c : utf8) {
      const auto byte = static_cast<unsigned char>(c);
      if ((byte & 0xC0) != 0x80)
        units += byte >= 0xF0 ? 2 : 1;
    }
    return units;
  }

  static bool acceptsPathLength(std::string_view path) { return utf16Units(path) <= kMaxPathUnits; }
};

} // namespace KestrelTool
