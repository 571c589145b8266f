#include "text/UCNVLibrary.h"

#include <atomic>
#include <limits>
#include <memory>
#include <mutex>
#include <new>

namespace VYDSOLD {

UCNVLibrary::UCNVLibrary(const char* libraryName) {
  library_ = Kestrel::Platform::SharedLibrary::open(libraryName);
  if (!library_.isValid())
    return;
  open_ = reinterpret_cast<OpenFn>(library_.symbol("ucnv_open" KESTREL_ICU_SUFFIX));
  close_ = reinterpret_cast<CloseFn>(library_.symbol("ucnv_close" KESTREL_ICU_SUFFIX));
  toUnicode_ = reinterpret_cast<ToUnicodeFn>(library_.symbol("ucnv_toUnicode" KESTREL_ICU_SUFFIX));
  fromUnicode_ =
      reinterpret_cast<FromUnicodeFn>(library_.symbol("ucnv_fromUnicode" KESTREL_ICU_SUFFIX));
}

UCNVLibrary::~UCNVLibrary() = default;

UCNVLibrary* UCNVLibrary::instance() {
  // Created once and never destroyed: conversions may run while the process unloads us.
  // A failed allocation leaves the pointer null so that a later call tries again, which
  // std::call_once would not do without an exception.
  static std::atomic<UCNVLibrary*> library{nullptr};
  static std::mutex creating;
  UCNVLibrary* current = library.load(std::memory_order_acquire);
  if (current != nullptr)
    return current;
  const std::lock_guard<std::mutex> hold(creating);
  current = library.load(std::memory_order_relaxed);
  if (current == nullptr) {
    current = new (std::nothrow) UCNVLibrary(KESTREL_ICU_LIBRARY);
    library.store(current, std::memory_order_release);
  }
  return current;
}

bool UCNVLibrary::isAvailable() const {
  return library_.isValid() && open_ != nullptr && close_ != nullptr && toUnicode_ != nullptr &&
         fromUnicode_ != nullptr;
}

UCNVLibrary::Converter UCNVLibrary::openConverter(const char* name, ErrorCode* error) {
  if (!isAvailable()) {
    if (error != nullptr)
      *error = kUnavailable;
    return nullptr;
  }
  return open_(name, error);
}

void UCNVLibrary::closeConverter(Converter converter) {
  if (isAvailable())
    close_(converter);
}

void UCNVLibrary::toUnicode(Converter converter, char16_t** target, const char16_t* targetLimit,
                            const char** source, const char* sourceLimit, int32_t* offsets,
                            bool flush, ErrorCode* error) {
  if (!isAvailable()) {
    if (error != nullptr)
      *error = kUnavailable;
    return;
  }
  toUnicode_(converter, target, targetLimit, source, sourceLimit, offsets, flush ? 1 : 0, error);
}

void UCNVLibrary::fromUnicode(Converter converter, char** target, const char* targetLimit,
                              const char16_t** source, const char16_t* sourceLimit,
                              int32_t* offsets, bool flush, ErrorCode* error) {
  if (!isAvailable()) {
    if (error != nullptr)
      *error = kUnavailable;
    return;
  }
  fromUnicode_(converter, target, targetLimit, source, sourceLimit, offsets, flush ? 1 : 0, error);
}

} // namespace VYDSOLD

namespace Kestrel {
namespace {

using VYDSOLD::UCNVLibrary;

/// An open converter, closed on every path out.
class ConverterHandle {
public:
  ConverterHandle(UCNVLibrary& library, const char* name) : library_(library) {
    UCNVLibrary::ErrorCode error = 0;
    converter_ = library_.openConverter(name, &error);
    if (converter_ != nullptr && error > 0) {
      library_.closeConverter(converter_);
      converter_ = nullptr;
    }
  }
  ConverterHandle(const ConverterHandle&) = delete;
  ConverterHandle& operator=(const ConverterHandle&) = delete;
  ~ConverterHandle() {
    if (converter_ != nullptr)
      library_.closeConverter(converter_);
  }
  [[nodiscard]] UCNVLibrary::Converter get() const { return converter_; }

private:
  UCNVLibrary& library_;
  UCNVLibrary::Converter converter_ = nullptr;
};

/// Element count for 4 outputs per input plus a terminator, when its byte size fits in 32
/// bits; 0 otherwise.
template <class T> uint32_t bufferElements(uint32_t inputs) {
  const uint64_t elements = uint64_t{4} * inputs + 1;
  if (elements * sizeof(T) > std::numeric_limits<uint32_t>::max())
    return 0;
  return static_cast<uint32_t>(elements);
}

} // namespace

bool decodeToUtf16(const char* converterName, const char* source, uint32_t sourceLength,
                   char16_t** units, uint32_t* count) {
  if (source == nullptr || sourceLength == 0 || units == nullptr || count == nullptr)
    return false;
  const uint32_t capacity = bufferElements<char16_t>(sourceLength);
  if (capacity == 0)
    return false;
  UCNVLibrary* library = UCNVLibrary::instance();
  if (library == nullptr)
    return false;
  // Uninitialised on purpose: the converter writes what we keep, and pages we never touch
  // cost nothing.
  std::unique_ptr<char16_t[]> buffer(new (std::nothrow) char16_t[capacity]);
  if (!buffer)
    return false;
  const ConverterHandle converter(*library, converterName);
  if (converter.get() == nullptr) {
    *units = nullptr;
    *count = 0;
    return false;
  }
  UCNVLibrary::ErrorCode error = 0;
  char16_t* target = buffer.get();
  const char* input = source;
  library->toUnicode(converter.get(), &target, buffer.get() + (capacity - 1), &input,
                     source + sourceLength, nullptr, /*flush=*/true, &error);
  // The error code is not examined: what the converter produced is the text, with
  // ICU's own substitutes for bytes invalid in the encoding.
  *target = u'\0';
  *count = static_cast<uint32_t>(target - buffer.get());
  *units = buffer.release();
  return true;
}

bool encodeUtf16ToUtf8(const char* converterName, const char16_t* units, uint32_t count,
                       char** bytes, uint32_t* length) {
  if (units == nullptr || count == 0 || bytes == nullptr || length == nullptr)
    return false;
  const uint32_t capacity = bufferElements<char>(count);
  if (capacity == 0)
    return false;
  UCNVLibrary* library = UCNVLibrary::instance();
  if (library == nullptr)
    return false;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[capacity]);
  if (!buffer)
    return false;
  const ConverterHandle converter(*library, converterName);
  if (converter.get() == nullptr) {
    *bytes = nullptr;
    *length = 0;
    return false;
  }
  UCNVLibrary::ErrorCode error = 0;
  char* target = buffer.get();
  const char16_t* input = units;
  library->fromUnicode(converter.get(), &target, buffer.get() + (capacity - 1), &input,
                       units + count, nullptr, /*flush=*/true, &error);
  *target = '\0';
  *length = static_cast<uint32_t>(target - buffer.get());
  *bytes = buffer.release();
  return true;
}

std::string convertToUtf8(const char* converterName, const char* data, uint32_t size) {
  if (converterName == nullptr || data == nullptr || size == 0)
    return {};
  char16_t* units = nullptr;
  uint32_t count = 0;
  if (!decodeToUtf16(converterName, data, size, &units, &count))
    return {};
  const std::unique_ptr<char16_t[]> ownedUnits(units);
  char* bytes = nullptr;
  uint32_t length = 0;
  if (!encodeUtf16ToUtf8("utf8", units, count, &bytes, &length))
    return {};
  const std::unique_ptr<char[]> ownedBytes(bytes);
  if (bytes == nullptr || length == 0)
    return {};
  return std::string(bytes, length);
}

} // namespace Kestrel
