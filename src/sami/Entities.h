#pragma once

#include "kestrel/BufferString.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string_view>
#include <unordered_map>

namespace Kestrel {

/// Reference name (case-sensitive) to code point.
using EntityTable = std::map<BufferString, uint32_t>;

/// The named character references of HTML 4.01 (Latin-1, special, symbols and Greek) with
/// their code points, plus "apos".
[[nodiscard]] EntityTable buildEntityTable();

/// Replaces each recognised named or numeric reference in text with the UTF-8 bytes of its
/// character; anything else stays as written. One of HTML's legacy names may go without its
/// ";" when no ASCII letter or digit follows it ("&nbsp<"). Linear in the length of text.
void decodeEntities(BufferString& text, const EntityTable& table);

/// A table prepared for decoding many texts: its names hashed and the length of the longest
/// known, so no text pays for walking the table or building a key. Refers to the table's
/// names, so the table must outlive the index unchanged.
class EntityIndex {
public:
  explicit EntityIndex(const EntityTable& table);

  /// The index of buildEntityTable()'s names, made once per process on first use and
  /// shared by every caller.
  [[nodiscard]] static const EntityIndex& standard();

  /// Decodes the length bytes at text in place exactly as decodeEntities does and returns
  /// the decoded length. Nothing past that length is written, not even a NUL.
  [[nodiscard]] std::size_t decode(char* text, std::size_t length) const;

private:
  EntityIndex() = default;

  std::unordered_map<std::string_view, uint32_t> names_;
  std::size_t longestName_ = 0;
};

/// Writes the UTF-8 bytes of codePoint to out and returns their count (0 for code point 0;
/// values above 0x10FFFF become U+FFFD).
int32_t codePointToUtf8(uint32_t codePoint, char out[4]);

} // namespace Kestrel
