#pragma once

#include <cstdint>

namespace Kestrel::Platform {

inline constexpr uint32_t kMaxPathUnits = 260; // capacity in UTF-16 units, terminator included

/// Turns a `file:` URL into a local path: "file:///abs" and "file://localhost/abs" give
/// "/abs"; %XX escapes are decoded; the path ends at the first '?' or '#'. Writes the
/// NUL-terminated path into path (capacity units) and returns 0; returns a negative code
/// for any other scheme or host, a relative or empty path, a bad escape, %00, or a path
/// that does not fit.
[[nodiscard]] int32_t pathCreateFromUrl(const char16_t* url, char16_t* path, uint32_t capacity);

} // namespace Kestrel::Platform
