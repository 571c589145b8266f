#pragma once

#include "kestrel/StandardAllocator.h"
#include "platform/SharedLibrary.h"

#include <cstdint>
#include <string>

namespace VYDSOLD {

/// Bridge to the system's ICU converter functions, loaded at run time (never linked), once
/// per process. Every call goes through only when the library and all four functions are
/// present; otherwise it reports error 5 and does nothing.
class UCNVLibrary {
public:
  using Converter = void*;
  using ErrorCode = int32_t; // ICU's: positive is a failure, zero or negative success
  static constexpr ErrorCode kUnavailable = 5;

  UCNVLibrary(const UCNVLibrary&) = delete;
  UCNVLibrary& operator=(const UCNVLibrary&) = delete;
  virtual ~UCNVLibrary();

  /// The process-wide instance, created on first call (one instance whatever the threads)
  /// and never destroyed. Loading is tried once: a missing library stays missing. Null
  /// only when the instance could not be allocated (the next call tries again).
  static UCNVLibrary* instance();

  /// A converter for the named encoding, or null (error 5 when unavailable).
  Converter openConverter(const char* name, ErrorCode* error);
  void closeConverter(Converter converter);
  /// Bytes at *source to UTF-16 at *target; both pointers advance.
  void toUnicode(Converter converter, char16_t** target, const char16_t* targetLimit,
                 const char** source, const char* sourceLimit, int32_t* offsets, bool flush,
                 ErrorCode* error);
  /// UTF-16 at *source to bytes at *target; both pointers advance.
  void fromUnicode(Converter converter, char** target, const char* targetLimit,
                   const char16_t** source, const char16_t* sourceLimit, int32_t* offsets,
                   bool flush, ErrorCode* error);

  /// True when the library and all four functions were found.
  [[nodiscard]] bool isAvailable() const;

private:
  using OpenFn = void* (*)(const char*, ErrorCode*);
  using CloseFn = void (*)(void*);
  // ICU's flush flag is a one-byte boolean.
  using ToUnicodeFn = void (*)(void*, char16_t**, const char16_t*, const char**, const char*,
                               int32_t*, int8_t, ErrorCode*);
  using FromUnicodeFn = void (*)(void*, char**, const char*, const char16_t**, const char16_t*,
                                 int32_t*, int8_t, ErrorCode*);

  explicit UCNVLibrary(const char* libraryName);

  Kestrel::Platform::SharedLibrary library_; // invalid when loading failed
  OpenFn open_ = nullptr;
  CloseFn close_ = nullptr;
  ToUnicodeFn toUnicode_ = nullptr;
  FromUnicodeFn fromUnicode_ = nullptr;
};

} // namespace VYDSOLD

namespace Kestrel {

/// Bytes in the named encoding to a new zero-terminated UTF-16 array (caller frees with
/// delete[]); count excludes the terminator. False for no input, an unknown encoding, no ICU,
/// or a buffer whose size would not fit in 32 bits; the outputs are then untouched, except
/// for an encoding no converter opens, which sets them to null and 0.
[[nodiscard]] bool decodeToUtf16(const char* converterName, const char* source,
                                 uint32_t sourceLength, char16_t** units, uint32_t* count);
/// UTF-16 to a new zero-terminated byte array in the named encoding (caller frees with
/// delete[]); failures as for decodeToUtf16.
[[nodiscard]] bool encodeUtf16ToUtf8(const char* converterName, const char16_t* units,
                                     uint32_t count, char** bytes, uint32_t* length);
/// The text in UTF-8, or empty on any failure.
[[nodiscard]] std::string convertToUtf8(const char* converterName, const char* data, uint32_t size);

/// The same conversion straight into storage of owner, through a small buffer of UTF-16 on
/// the way: the storage starts at one and a half bytes per input byte (what UTF-16 and the
/// double-byte code pages need at most) and grows only for text that needs more. On success
/// *text (free it through owner) holds *length bytes and a NUL; with dropSignature a U+FEFF
/// that the text starts with is left out. False (outputs untouched) as convertToUtf8 fails,
/// or when no storage could be had; empty output counts as a failure too.
[[nodiscard]] bool convertToUtf8(const char* converterName, const char* data, uint32_t size,
                                 StringAllocator& owner, bool dropSignature, char** text,
                                 uint32_t* length);

/// Largest input that convertToUtf8 can size its buffers for within 32 bits.
inline constexpr uint32_t kMaxConvertibleBytes = (UINT32_MAX / sizeof(char16_t) - 1) / 4;

} // namespace Kestrel
