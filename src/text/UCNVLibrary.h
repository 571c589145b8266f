#pragma once

#include <cstdint>
#include <string>

namespace VYDSOLD {

/// Bridge to the system's ICU converter functions, loaded at run time (never linked), once
/// per process. Every call goes through only when the library and all four functions are
/// present; otherwise it reports error 5.
class UCNVLibrary {
public:
  using Converter = void*;
  using ErrorCode = int32_t; // ICU's: positive is a failure
  static constexpr ErrorCode kUnavailable = 5;

  virtual ~UCNVLibrary();

  /// The process-wide instance, created on first call (one instance whatever the threads).
  static UCNVLibrary* instance();

  Converter openConverter(const char* name, ErrorCode* error);
  void closeConverter(Converter converter);
  void toUnicode(Converter converter, char16_t** target, const char16_t* targetLimit,
                 const char** source, const char* sourceLimit, int32_t* offsets, bool flush,
                 ErrorCode* error);
  void fromUnicode(Converter converter, char** target, const char* targetLimit,
                   const char16_t** source, const char16_t* sourceLimit, int32_t* offsets,
                   bool flush, ErrorCode* error);

  [[nodiscard]] bool isAvailable() const;

protected:
  explicit UCNVLibrary(const char* libraryName);

private:
  void* module_ = nullptr;
  void* open_ = nullptr;
  void* close_ = nullptr;
  void* toUnicode_ = nullptr;
  void* fromUnicode_ = nullptr;
};

} // namespace VYDSOLD

namespace Kestrel {

/// Bytes in the named encoding to a new zero-terminated UTF-16 array (caller frees with
/// delete[]); units excludes the terminator.
[[nodiscard]] bool decodeToUtf16(const char* converterName, const char* source,
                                 uint32_t sourceLength, char16_t** units, uint32_t* count);
/// UTF-16 to a new zero-terminated byte array in the named encoding (caller frees with
/// delete[]).
[[nodiscard]] bool encodeUtf16ToUtf8(const char* converterName, const char16_t* units,
                                     uint32_t count, char** bytes, uint32_t* length);
/// The text in UTF-8, or empty on any failure.
[[nodiscard]] std::string convertToUtf8(const char* converterName, const char* data, uint32_t size);

} // namespace Kestrel
