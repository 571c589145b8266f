#include "text/UCNVLibrary.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>

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

/// Gives storage back to the allocator it came from.
struct GiveBack {
  StringAllocator* owner;
  void operator()(char* bytes) const { owner->free(bytes); }
};

// ICU's U_BUFFER_OVERFLOW_ERROR: the target filled before the source was used up.
constexpr UCNVLibrary::ErrorCode kBufferOverflow = 15;

/// Element count for 4 outputs per input plus a terminator, when its byte size fits in 32
/// bits; 0 otherwise.
template <class T> uint32_t bufferElements(uint32_t inputs) {
  const uint64_t elements = uint64_t{4} * inputs + 1;
  if (elements * sizeof(T) > std::numeric_limits<uint32_t>::max())
    return 0;
  return static_cast<uint32_t>(elements);
}

/// Whether ICU would take name for its UTF-16 little-endian converter: the name compared
/// without case and without the separators that ICU ignores in names.
bool namesUtf16LittleEndian(const char* name) {
  constexpr std::string_view kName = "utf16le";
  std::size_t matched = 0;
  for (const char* c = name; *c != '\0'; ++c) {
    if (*c == '-' || *c == '_' || *c == ' ')
      continue;
    const char lower = *c >= 'A' && *c <= 'Z' ? static_cast<char>(*c - 'A' + 'a') : *c;
    if (matched == kName.size() || lower != kName[matched])
      return false;
    ++matched;
  }
  return matched == kName.size();
}

/// The data as the UTF-16 units the decoder would produce, when it already is them: UTF-16
/// little-endian text of whole units on a little-endian machine, lying on a unit boundary.
/// Decoding it would only copy it (lone surrogates included: the encoder substitutes them
/// as the decoder would). Null otherwise.
const char16_t* unitsAsTheyLie(const char* name, const char* data, uint32_t size) {
  if constexpr (std::endian::native != std::endian::little)
    return nullptr;
  if (size % sizeof(char16_t) != 0 ||
      reinterpret_cast<std::uintptr_t>(data) % alignof(char16_t) != 0 ||
      !namesUtf16LittleEndian(name))
    return nullptr;
  return reinterpret_cast<const char16_t*>(data);
}

// Units the pivot buffer between decoder and encoder holds.
constexpr std::size_t kPivotUnits = 8192;

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

bool convertToUtf8(const char* converterName, const char* data, uint32_t size,
                   StringAllocator& owner, bool dropSignature, char** text, uint32_t* length) {
  if (converterName == nullptr || data == nullptr || size == 0 || text == nullptr ||
      length == nullptr || bufferElements<char16_t>(size) == 0)
    return false;
  UCNVLibrary* library = UCNVLibrary::instance();
  if (library == nullptr)
    return false;
  const ConverterHandle encoder(*library, "utf8");
  if (encoder.get() == nullptr)
    return false;

  // Grown by half again whenever it fills; kept below 2^32 with room for the NUL.
  constexpr uint64_t kMaxCapacity = std::numeric_limits<uint32_t>::max();
  uint64_t capacity = std::min<uint64_t>(uint64_t{size} + size / 2 + 16, kMaxCapacity);
  const GiveBack giveBack{&owner};
  // Memory running out fails the conversion like the converter's own buffers would.
  const auto allocate = [&owner](uint64_t bytes) -> char* {
    try {
      return owner.allocate(static_cast<uint32_t>(bytes));
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  };
  std::unique_ptr<char, GiveBack> out(allocate(capacity), giveBack);
  if (!out)
    return false;
  uint64_t used = 0;
  // Units from..end to UTF-8 at the end of out, which grows as they need.
  const auto encode = [&](const char16_t* from, const char16_t* end, bool flush) {
    for (;;) {
      UCNVLibrary::ErrorCode encodeError = 0;
      char* target = out.get() + used;
      library->fromUnicode(encoder.get(), &target, out.get() + (capacity - 1), &from, end, nullptr,
                           flush, &encodeError);
      used = static_cast<uint64_t>(target - out.get());
      if (encodeError != kBufferOverflow)
        return true;
      if (capacity == kMaxCapacity)
        return false;
      const uint64_t grown = std::min<uint64_t>(capacity + capacity / 2, kMaxCapacity);
      std::unique_ptr<char, GiveBack> larger(allocate(grown), giveBack);
      if (!larger)
        return false;
      std::memcpy(larger.get(), out.get(), used);
      out = std::move(larger);
      capacity = grown;
    }
  };

  if (const char16_t* units = unitsAsTheyLie(converterName, data, size); units != nullptr) {
    const char16_t* end = units + size / sizeof(char16_t);
    if (dropSignature && *units == u'\uFEFF')
      ++units;
    if (!encode(units, end, /*flush=*/true))
      return false;
  } else {
    const ConverterHandle decoder(*library, converterName);
    if (decoder.get() == nullptr)
      return false;
    // The decoder's units reach the encoder a buffer at a time; the converters keep what a
    // call leaves unfinished (a character split between buffers, a lead surrogate) for the
    // next, so the result is that of one call over the whole text.
    bool firstUnits = true;
    const auto take = [&](const char16_t* from, const char16_t* unitsEnd, bool last) {
      if (firstUnits && unitsEnd > from) {
        firstUnits = false;
        if (dropSignature && *from == u'\uFEFF')
          ++from;
      }
      return encode(from, unitsEnd, /*flush=*/last);
    };
    char16_t pivot[kPivotUnits];
    const char* input = data;
    const char* const inputEnd = data + size;
    for (bool decoded = false; !decoded;) {
      UCNVLibrary::ErrorCode decodeError = 0;
      char16_t* units = pivot;
      library->toUnicode(decoder.get(), &units, pivot + kPivotUnits, &input, inputEnd, nullptr,
                         /*flush=*/true, &decodeError);
      // Only a full buffer calls for more; any other result, as with one call over the
      // whole text, ends it with what the converter produced (its substitutes included).
      decoded = decodeError != kBufferOverflow;
      if (!take(pivot, units, decoded))
        return false;
    }
  }
  if (used == 0)
    return false;
  out.get()[used] = '\0';
  *length = static_cast<uint32_t>(used);
  *text = out.release();
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
