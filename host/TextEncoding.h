#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace KestrelTool {

/// The name of the Unicode signature at the start of bytes ("UTF-16LE", ...), or nothing.
/// The same signatures the plug-in honours, in the same order of testing.
[[nodiscard]] std::optional<std::string> unicodeSignature(std::string_view bytes);

/// True when every byte belongs to a well-formed UTF-8 sequence (no overlongs, surrogates
/// or values above U+10FFFF).
[[nodiscard]] bool isWellFormedUtf8(std::string_view bytes);

/// How many bytes from the start form well-formed UTF-8: all of them, or up to the first
/// sequence that is ill-formed or cut short by the end.
[[nodiscard]] size_t wellFormedUtf8Prefix(std::string_view bytes);

/// How many bytes the UTF-8 sequence that lead begins has; 0 for a byte no sequence begins
/// with. Which of them are well-formed is isWellFormedUtf8's business.
[[nodiscard]] size_t utf8LeadLength(unsigned char lead);

/// isWellFormedUtf8 of a file's bytes, read a piece at a time; false when it cannot be read.
[[nodiscard]] bool isWellFormedUtf8File(const std::string& path);

/// Replaces every ill-formed UTF-8 sequence by U+FFFD, so that output files stay valid.
[[nodiscard]] std::string repairUtf8(std::string_view bytes);

/// A code page guessed from the bytes of a document.
struct DetectedCodePage {
  std::string detected;  // ICU's name for what it found, e.g. "EUC-KR"
  std::string converter; // the converter to read it with, e.g. "windows-949"
  int32_t confidence = 0;
};

/// Guesses the code page of a document without a signature whose bytes are not UTF-8.
/// Detected names are widened to the code page that real files use (Korean files detected
/// as EUC-KR are nearly always CP949, which adds syllables EUC-KR lacks). Nothing when no
/// guess names a converter ICU can open.
[[nodiscard]] std::optional<DetectedCodePage> detectCodePage(std::string_view bytes);

/// True when bytes hold "<SAMI" in any letter case, as single bytes or as UTF-16/UTF-32
/// code units of either byte order.
[[nodiscard]] bool containsSamiMarker(std::string_view bytes);

} // namespace KestrelTool
