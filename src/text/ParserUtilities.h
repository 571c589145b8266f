#pragma once

#include "kestrel/BufferString.h"

#include <cstdint>

namespace Kestrel {

class ContainerHost;

namespace ParserUtilities {

/// Reads a whole file (length -1) or exactly length bytes from its start, decides the
/// encoding by signature or the "CodePage" settings asked of host, and returns UTF-8 in
/// text. False on any failure, text untouched.
[[nodiscard]] bool readTextFile(const BufferString& path, ContainerHost* host, BufferString* text,
                                int32_t length);

} // namespace ParserUtilities

/// Stores the converter name of a Unicode signature at the start of data (which holds at
/// least size bytes and is NUL-terminated) in name; returns the signature length, 0 when
/// none matches (name untouched). Never reads past size bytes.
int32_t detectSignature(const char* data, uint32_t size, BufferString* name);

/// A file URL to a local path in UTF-8: 0, or kResultBadUrl with path untouched.
[[nodiscard]] int32_t pathFromUrl(const BufferString& url, BufferString* path);

} // namespace Kestrel
