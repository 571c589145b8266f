#pragma once

#include "kestrel/BufferString.h"

#include <cstdint>

namespace Kestrel {

class ContainerHost;

namespace ParserUtilities {

/// Reads a whole file (length -1) or exactly length bytes from its start, decides the
/// encoding by its Unicode signature or by the "CodePage" settings asked of host, and
/// stores the UTF-8 text in text. False on any failure (text untouched): a file that can't
/// be opened (missing, not a regular file), a size that does not fit the 32-bit buffers,
/// a short read (each of these logged), or text that is not at least one well-formed
/// UTF-8 character followed by one more byte.
[[nodiscard]] bool readTextFile(const BufferString& path, ContainerHost* host, BufferString* text,
                                int32_t length);

} // namespace ParserUtilities

/// Stores the converter name of a Unicode signature at the start of data in name and
/// returns the signature's length (2, 3 or 4); 0 when none matches (name untouched). Only
/// the first size bytes are looked at: a signature longer than the data never matches.
int32_t detectSignature(const char* data, uint32_t size, BufferString* name);

/// A file URL to a local path in UTF-8: 0, or kResultBadUrl with path untouched.
[[nodiscard]] int32_t pathFromUrl(const BufferString& url, BufferString* path);

} // namespace Kestrel
