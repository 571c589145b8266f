#pragma once

#include <cstdint>

namespace Kestrel::Platform {

inline constexpr uint32_t kMaxPathUnits = 260; // capacity in UTF-16 units, terminator included

/// Turns a `file:` URL into a local path: "file:///abs" and "file://localhost/abs" give
/// "/abs" (scheme and host in any case); %XX escapes are decoded as bytes of the path's
/// UTF-8 form; the path ends at the first '?' or '#'. Writes the NUL-terminated path into
/// path (capacity units) and returns 0; returns a negative code (path contents then
/// unspecified) for any other scheme or host, a relative or empty path, a bad escape, %00,
/// a decoded path that is not UTF-8, or a path that does not fit.
[[nodiscard]] int32_t pathCreateFromUrl(const char16_t* url, char16_t* path, uint32_t capacity);

} // namespace Kestrel::Platform
