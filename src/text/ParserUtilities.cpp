#include "text/ParserUtilities.h"

#include "engine/LogMessages.h"
#include "engine/Logger.h"
#include "engine/Settings.h"
#include "kestrel/Result.h"
#include "platform/File.h"
#include "platform/FileUrl.h"
#include "platform/PathEncoding.h"
#include "platform/Utf.h"
#include "text/UCNVLibrary.h"

#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>

namespace Kestrel {
namespace {

struct Signature {
  const char* bytes;
  uint32_t matched; // bytes compared
  uint32_t skipped; // bytes consumed
  const char* name;
  bool utf7Tail = false; // a fourth byte of 38, 39, 2B or 2F must follow
};

// Tested in this order, first match wins: the UTF-32 little-endian signature must come
// before the UTF-16 one it begins with.
// clang-format off
constexpr Signature kSignatures[] = {
    {"\x00\x00\xFE\xFF", 4, 4, "UTF32-BE"},
    {"\xFF\xFE\x00\x00", 4, 4, "UTF32-LE"},
    {"\xFE\xFF",         2, 2, "UTF16-BE"},
    {"\xFF\xFE",         2, 2, "UTF16-LE"},
    {"\xEF\xBB\xBF",     3, 3, "UTF8"},
    {"\x2B\x2F\x76",     3, 4, "UTF7", true},
    {"\x0E\xFE\xFF",     3, 3, "SCSU"},
    {"\xFB\xEE\x28",     3, 3, "BOCU-1"},
    {"\x84\x31\x95\x33", 4, 4, "GB-18030"},
};
// clang-format on

bool isUtf7FourthByte(char c) { return c == '\x38' || c == '\x39' || c == '\x2B' || c == '\x2F'; }

/// The encoding by signature or settings: the converter name (empty: take the bytes as
/// they are) and how many leading bytes the signature took.
struct Encoding {
  std::string name;
  uint32_t skipped = 0;
  bool dropsSignatureCharacter = false; // the converted text starts with U+FEFF to remove
};

/// UTF-7 and BOCU-1 carry state from one character to the next, and their signature is
/// the first character's encoding: the bytes after it can't be decoded on their own (the
/// next character loses its first bits or its base). Such text is converted whole and the
/// signature's U+FEFF removed from the result.
bool isStatefulSignature(const std::string& name) { return name == "UTF7" || name == "BOCU-1"; }

Encoding chooseEncoding(ContainerHost* host, const char* data, uint32_t size) {
  Encoding encoding;
  // Only an explicit false lets the file's signature decide; no answer means the engine
  // wants signatures ignored.
  const std::optional<bool> overrideEmbedded =
      readBooleanSetting(host, kCodePageSection, kOverrideEmbeddedKey);
  if (overrideEmbedded.has_value() && !*overrideEmbedded) {
    BufferString name;
    const int32_t skipped = detectSignature(data, size, &name);
    if (skipped > 0) {
      encoding.name = name.toStdString();
      if (isStatefulSignature(encoding.name))
        encoding.dropsSignatureCharacter = true;
      else
        encoding.skipped = static_cast<uint32_t>(skipped);
      return encoding;
    }
  }
  if (std::optional<std::string> name = readStringSetting(host, kCodePageSection, kCodePageNameKey))
    encoding.name = std::move(*name);
  return encoding;
}

} // namespace

int32_t detectSignature(const char* data, uint32_t size, BufferString* name) {
  if (data == nullptr || name == nullptr)
    return 0;
  for (const Signature& signature : kSignatures) {
    if (signature.skipped > size || std::memcmp(data, signature.bytes, signature.matched) != 0)
      continue;
    if (signature.utf7Tail && !isUtf7FourthByte(data[3]))
      continue;
    *name = BufferString(signature.name);
    return static_cast<int32_t>(signature.skipped);
  }
  return 0;
}

int32_t pathFromUrl(const BufferString& url, std::u16string* path) {
  if (path == nullptr)
    return kResultBadUrl;
  const std::u16string wideUrl = utf8ToWide(url.toStdString());
  char16_t buffer[Platform::kMaxPathUnits] = {};
  if (Platform::pathCreateFromUrl(wideUrl.c_str(), buffer, Platform::kMaxPathUnits) < 0)
    return kResultBadUrl;
  *path = buffer;
  return kResultOk;
}

int32_t pathFromUrl(const BufferString& url, BufferString* path) {
  if (path == nullptr)
    return kResultBadUrl;
  std::u16string widePath;
  if (pathFromUrl(url, &widePath) != kResultOk)
    return kResultBadUrl;
  std::string narrow;
  if (!Platform::pathToUtf8(widePath, narrow))
    return kResultBadUrl; // not UTF-16 we can encode: no usable path
  *path = BufferString(narrow.c_str());
  return kResultOk;
}

namespace ParserUtilities {
namespace {

/// readTextFile of a path in UTF-16; shownPath, when given, names the file in messages
/// (otherwise the UTF-8 form the OS was handed does). The reason of a failure, or None.
TextFileFailure readText(const std::u16string& widePath, const char* shownPath, ContainerHost* host,
                         BufferString* text, int32_t length) {
  using enum TextFileFailure;
  if (text == nullptr)
    return NoOutput;

  std::string osPath;
  Platform::ReadOnlyFile file = Platform::ReadOnlyFile::open(widePath, &osPath);
  const char* const name = shownPath != nullptr ? shownPath : osPath.c_str();
  if (!file.isOpen()) {
    KESTREL_LOG(KESTREL_LOG_OPEN_FAILED, name);
    return OpenFailed;
  }

  // The buffer holds the bytes and one NUL, and its size must fit the signed 32-bit
  // length: anything larger (or a negative length other than -1) is refused before any
  // allocation, so that nothing is truncated or overflows.
  int64_t wanted = length;
  if (length == -1) {
    const std::optional<int64_t> end = file.seek(0, Platform::ReadOnlyFile::Origin::End);
    wanted = end.value_or(-1);
    if (!file.seek(0, Platform::ReadOnlyFile::Origin::Start))
      wanted = -1;
  }
  // The bytes are read into storage of the output's own allocator, so that text needing no
  // conversion becomes the output as it lies. Not zero-filled: every byte is read over, and
  // a short read fails.
  StringAllocator& owner = *text->allocator;
  const auto giveBack = [&owner](char* bytes) { owner.free(bytes); };
  std::unique_ptr<char, decltype(giveBack)> buffer(nullptr, giveBack);
  const bool fits = wanted >= 0 && wanted < std::numeric_limits<int32_t>::max();
  if (fits) {
    try {
      buffer.reset(owner.allocate(static_cast<uint32_t>(wanted) + 1));
    } catch (const std::bad_alloc&) {
      // Reported below like any other buffer that can't be had.
    }
  }
  if (!buffer) {
    KESTREL_LOG(KESTREL_LOG_ALLOCATE_FAILED, static_cast<long>(wanted + 1));
    return fits ? OutOfMemory : TooLarge;
  }

  const auto size = static_cast<uint32_t>(wanted);
  char* data = buffer.get();
  data[size] = '\0';
  const int64_t got = file.read(data, size);
  file.close();
  if (got != static_cast<int64_t>(size)) {
    KESTREL_LOG(KESTREL_LOG_SHORT_READ, static_cast<long>(size), static_cast<long>(got));
    return ShortRead;
  }

  const Encoding encoding = chooseEncoding(host, data, size);
  const char* start = data + encoding.skipped;
  const uint32_t remaining = size - encoding.skipped;

  // Converted text goes straight into storage of the output's allocator; the file's bytes
  // go back when this returns.
  const auto giveBackText = [&owner](char* bytes) { owner.free(bytes); };
  std::unique_ptr<char, decltype(giveBackText)> converted(nullptr, giveBackText);
  const char* utf8 = start;
  std::size_t utf8Length = remaining;
  if (!encoding.name.empty()) {
    if (remaining > kMaxConvertibleBytes) {
      // The converter's buffers (4 UTF-16 units per byte) would not fit in 32 bits.
      const uint64_t bytes = (uint64_t{4} * remaining + 1) * sizeof(char16_t);
      KESTREL_LOG(KESTREL_LOG_ALLOCATE_FAILED, static_cast<long>(bytes));
      return TooLargeToConvert;
    }
    char* convertedText = nullptr;
    uint32_t convertedLength = 0;
    if (remaining == 0 ||
        !convertToUtf8(encoding.name.c_str(), start, remaining, owner,
                       encoding.dropsSignatureCharacter, &convertedText, &convertedLength)) {
      if (remaining > 0) {
        KESTREL_LOG(KESTREL_LOG_NO_TEXT, name, describe(NotDecoded));
        return NotDecoded;
      }
      convertedText = nullptr;
    }
    converted.reset(convertedText);
    if (converted)
      buffer.reset(); // the file's bytes are not needed once converted
    utf8 = converted ? converted.get() : "";
    utf8Length = std::strlen(utf8); // a U+0000 in the source ends the text
  }

  // At least one well-formed character, and at least one more byte after its lead.
  if (utf8Length < 2) {
    KESTREL_LOG(KESTREL_LOG_NO_TEXT, name, describe(TooShort));
    return TooShort;
  }
  const auto* first = reinterpret_cast<const uint8_t*>(utf8);
  if (!isWellFormedUtf8Sequence(first, first + utf8Length - 1)) {
    KESTREL_LOG(KESTREL_LOG_NO_TEXT, name, describe(NotWellFormed));
    return NotWellFormed;
  }

  // Converted text already lies in the output's storage, NUL included.
  if (converted) {
    text->release();
    text->data = converted.release();
    text->length = static_cast<int32_t>(utf8Length);
    return None;
  }

  // Bytes taken as they are already lie in the output's storage, NUL included: a signature
  // before them is moved out of their way, not copied around them.
  if (utf8 != data)
    std::memmove(data, utf8, utf8Length + 1);
  text->release();
  text->data = buffer.release();
  text->length = static_cast<int32_t>(utf8Length);
  return None;
}

bool report(TextFileFailure reason, TextFileFailure* failure) {
  if (failure != nullptr)
    *failure = reason;
  return reason == TextFileFailure::None;
}

} // namespace

const char* describe(TextFileFailure failure) {
  switch (failure) {
  case TextFileFailure::None:
    return "none";
  case TextFileFailure::NoOutput:
    return "no output";
  case TextFileFailure::OpenFailed:
    return "not opened";
  case TextFileFailure::TooLarge:
    return "too large";
  case TextFileFailure::OutOfMemory:
    return "out of memory";
  case TextFileFailure::ShortRead:
    return "short read";
  case TextFileFailure::TooLargeToConvert:
    return "too large to convert";
  case TextFileFailure::NotDecoded:
    return "not decoded";
  case TextFileFailure::TooShort:
    return "too short";
  case TextFileFailure::NotWellFormed:
    return "not well-formed";
  }
  return "unknown";
}

bool readTextFile(const std::u16string& path, ContainerHost* host, BufferString* text,
                  int32_t length, TextFileFailure* failure) {
  return report(readText(path, nullptr, host, text, length), failure);
}

bool readTextFile(const BufferString& path, ContainerHost* host, BufferString* text, int32_t length,
                  TextFileFailure* failure) {
  // A path that is not well-formed UTF-8 names no file: it fails to open, under its bytes.
  return report(readText(Platform::pathToWide(path.view()), path.text(), host, text, length),
                failure);
}

} // namespace ParserUtilities
} // namespace Kestrel
