#pragma once

#include <string>
#include <string_view>

namespace Kestrel {

/// The counterpart of a language code in the other ISO 639 form: a three-letter
/// (bibliographic) code gives its two-letter code and back, so that "fre" and "fr" meet.
/// Exact, case-sensitive; an empty string for a code the table does not know. The table is
/// built on first use and lives until the library is unloaded.
[[nodiscard]] std::string languageCounterpart(std::string_view code);

} // namespace Kestrel
