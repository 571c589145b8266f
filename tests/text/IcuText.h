#pragma once

// Test text encoded by the system's ICU itself, linked into the tests only, so that what the
// reader decodes through its run-time bridge is checked against an independent encoder.

#include <string>
#include <string_view>
#include <unicode/ucnv.h>

namespace KestrelTest {

/// text in the named encoding, exactly as ICU writes it (no signature unless text has one).
inline std::string icuEncoded(const char* converterName, std::u16string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  UConverter* converter = ucnv_open(converterName, &status);
  if (converter == nullptr || U_FAILURE(status))
    return "(no converter " + std::string(converterName) + ")";
  std::string bytes(text.size() * 4 + 16, '\0');
  const int32_t length = ucnv_fromUChars(
      converter, bytes.data(), static_cast<int32_t>(bytes.size()),
      reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()), &status);
  ucnv_close(converter);
  bytes.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
  return bytes;
}

/// UTF-16 text in UTF-8, through ICU.
inline std::string icuUtf8(std::u16string_view text) { return icuEncoded("UTF-8", text); }

} // namespace KestrelTest
