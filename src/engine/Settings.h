#pragma once

#include <optional>
#include <string>

namespace Kestrel {

class ContainerHost;

inline constexpr const char* kCodePageSection = "CodePage";
inline constexpr const char* kOverrideEmbeddedKey = "OverrideEmbedded";
inline constexpr const char* kCodePageNameKey = "Name";

/// Asks the engine for a boolean setting (kind 4). Empty when the host is null or the
/// answer is not a boolean.
[[nodiscard]] std::optional<bool> readBooleanSetting(ContainerHost* host, const char* section,
                                                     const char* key);
/// Asks the engine for a string setting (kind 4); the text is copied at once. Empty when
/// the host is null or the answer is not a string.
[[nodiscard]] std::optional<std::string> readStringSetting(ContainerHost* host, const char* section,
                                                           const char* key);

} // namespace Kestrel
