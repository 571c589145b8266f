#pragma once

#include "kestrel/BufferString.h"

#include <cstdint>
#include <map>

namespace Kestrel {

/// Reference name (case-sensitive) to code point.
using EntityTable = std::map<BufferString, uint32_t>;

/// The named character references of HTML 4.01 (Latin-1, special, symbols and Greek) with
/// their code points, plus "apos".
[[nodiscard]] EntityTable buildEntityTable();

/// Replaces each recognised named or numeric reference in text with the UTF-8 bytes of its
/// character; anything else stays as written. Linear in the length of text.
void decodeEntities(BufferString& text, const EntityTable& table);

/// Writes the UTF-8 bytes of codePoint to out and returns their count (0 for code point 0;
/// values above 0x10FFFF become U+FFFD).
int32_t codePointToUtf8(uint32_t codePoint, char out[4]);

} // namespace Kestrel
