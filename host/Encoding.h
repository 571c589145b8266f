#pragma once

#include "Host.h"

#include <optional>
#include <string>
#include <string_view>

namespace KestrelTool {

/// How a host answers the plug-in's "CodePage" settings for one document, and how it says so.
/// Each host decides in its own order from these choices.
struct EncodingChoice {
  CodePageSettings settings;
  std::string description;     // e.g. "UTF-16LE (signature)"
  bool wellFormedUtf8 = false; // read as UTF-8, and it is: decoding cannot fail
  bool provisional = false;    // UTF-8 as far as the start shows; the rest is still to check
};

/// The choice a Unicode signature at the start of head makes, or nothing without one.
[[nodiscard]] std::optional<EncodingChoice> bySignature(std::string_view head);

/// The code page the user named, and where ("--code-page", a property); "" names UTF-8.
[[nodiscard]] EncodingChoice byName(const std::string& name, std::string_view source);

/// Text read as UTF-8 because it is UTF-8 (as far as its start shows, when provisional).
[[nodiscard]] EncodingChoice asUtf8(bool provisional = false);

/// The code page ICU detects in bytes that are not UTF-8, or UTF-8 assumed when it detects
/// none (the plug-in takes unnamed text as UTF-8).
[[nodiscard]] EncodingChoice detected(std::string_view bytes);

} // namespace KestrelTool
