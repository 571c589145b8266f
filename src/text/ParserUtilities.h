#pragma once

#include "kestrel/BufferString.h"

#include <cstdint>
#include <string>

namespace Kestrel {

class ContainerHost;

namespace ParserUtilities {

/// Why readTextFile failed. Each failure is logged under its own line, so a log reader can
/// tell them apart too.
enum class TextFileFailure : uint8_t {
  None,
  NoOutput,          // no text to store into
  OpenFailed,        // missing, not a regular file, not permitted, or a path naming nothing
  TooLarge,          // a length or size the 32-bit buffers cannot hold, or no size to be had
  OutOfMemory,       // the buffer for the bytes could not be had
  ShortRead,         // fewer bytes than asked for
  TooLargeToConvert, // the converter's buffers would not fit in 32 bits
  NotDecoded,        // the converter failed (unknown encoding, no ICU) or produced nothing
  TooShort,          // less than one character and one more byte of text
  NotWellFormed      // the text does not start with a well-formed UTF-8 character
};

/// The failure as the reader's log line names it, e.g. "too short".
[[nodiscard]] const char* describe(TextFileFailure failure);

/// Reads a whole file (length -1) or exactly length bytes from its start, decides the
/// encoding by its Unicode signature or by the "CodePage" settings asked of host, and
/// stores the UTF-8 text in text. False on any failure (text untouched), with its reason
/// in *failure when failure is given: a file that can't be opened (missing, not a regular
/// file), a size that does not fit the 32-bit buffers, a short read, or text that is not at
/// least one well-formed UTF-8 character followed by one more byte. Every failure but
/// NoOutput is logged.
[[nodiscard]] bool readTextFile(const std::u16string& path, ContainerHost* host, BufferString* text,
                                int32_t length, TextFileFailure* failure = nullptr);
/// The same for a path in UTF-8.
[[nodiscard]] bool readTextFile(const BufferString& path, ContainerHost* host, BufferString* text,
                                int32_t length, TextFileFailure* failure = nullptr);

} // namespace ParserUtilities

/// Stores the converter name of a Unicode signature at the start of data in name and
/// returns the signature's length (2, 3 or 4); 0 when none matches (name untouched). Only
/// the first size bytes are looked at: a signature longer than the data never matches.
int32_t detectSignature(const char* data, uint32_t size, BufferString* name);

/// A file URL to a local path in UTF-16, as the OS layer takes it: 0, or kResultBadUrl
/// with path untouched.
[[nodiscard]] int32_t pathFromUrl(const BufferString& url, std::u16string* path);
/// The same path in UTF-8.
[[nodiscard]] int32_t pathFromUrl(const BufferString& url, BufferString* path);

} // namespace Kestrel
