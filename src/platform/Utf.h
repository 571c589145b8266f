// The UTF-8 and UTF-16 codecs. They live with the OS layer, which turns the wide paths it is
// handed into the UTF-8 the OS takes; the text reader uses them as well.
#pragma once

#include <cstdint>
#include <string>

namespace Kestrel {

/// UTF-8 to UTF-16 (lenient: overlong forms and surrogates pass); skips a leading EF BB BF.
/// Returns the units written, or -1 on ill-formed input or exhausted capacity.
int32_t decodeUtf8(const uint8_t* bytes, int32_t length, char16_t* units, int32_t capacity);
/// UTF-16 to UTF-8; a high surrogate must be followed by a low one. Bytes written, or -1.
int32_t encodeUtf8(const char16_t* units, int32_t count, uint8_t* bytes, int32_t capacity);
/// String wrappers; an empty result when the codec fails.
std::u16string utf8ToWide(const std::string& text);
std::string wideToUtf8(const std::u16string& text);

/// Result codes of convertUtf8ToUtf16Strict.
enum class StrictResult : int32_t { Ok = 0, SourceExhausted = 1, TargetExhausted = 2, Illegal = 3 };
/// Strict UTF-8 to UTF-16; both ranges advance to where the conversion stopped.
StrictResult convertUtf8ToUtf16Strict(const uint8_t** source, const uint8_t* sourceEnd,
                                      char16_t** target, char16_t* targetEnd);
/// True when the sequence starting at start is one well-formed UTF-8 character that ends
/// no later than end (start + L must not lie beyond end).
bool isWellFormedUtf8Sequence(const uint8_t* start, const uint8_t* end);

} // namespace Kestrel
