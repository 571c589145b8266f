#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Kestrel::Platform {

// The two encodings a path takes on its way to the OS: the UTF-16 form the reader builds and
// the UTF-8 form open(2) takes. Both directions are strict: a lone surrogate, or bytes that
// are not well-formed UTF-8 (overlong forms, encoded surrogates, values beyond U+10FFFF),
// name no path.

/// The UTF-8 form of units (up to the first U+0000, if any), or false (out untouched)
/// when they hold a lone surrogate.
[[nodiscard]] bool pathToUtf8(std::u16string_view units, std::string& out);

/// The UTF-16 form of a UTF-8 path (up to the first NUL, if any); empty when it is not
/// well-formed UTF-8, so that opening it fails.
[[nodiscard]] std::u16string pathToWide(std::string_view utf8);

/// Decodes the UTF-8 bytes [*source, sourceEnd) into units starting at *target, never
/// writing at or past targetEnd. Both pointers advance over what was converted. False when
/// the bytes are not well-formed UTF-8 (a sequence cut off at the end included) or do not
/// fit.
[[nodiscard]] bool decodePathBytes(const uint8_t** source, const uint8_t* sourceEnd,
                                   char16_t** target, const char16_t* targetEnd);

} // namespace Kestrel::Platform
