// SPDX-License-Identifier: MIT
#pragma once

#include "kestrel/StandardAllocator.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace Kestrel {

/// The engine's string: a NUL-terminated buffer (or null), its length in bytes and the
/// allocator that owns the buffer. The layout { data, length, allocator } is shared with
/// code we don't compile. A copy is a private copy; destruction frees the buffer through
/// the string's own allocator. The text, for every comparison, is the NUL-terminated text
/// at data: bytes after an embedded NUL take no part.
class BufferString {
public:
  char* data = nullptr;
  int32_t length = 0;
  StringAllocator* allocator;

  BufferString() : allocator(&StandardAllocator<char>::instance()) {}
  /// The empty string on the given allocator.
  explicit BufferString(StringAllocator& owner) : allocator(&owner) {}
  /// From a C string; null gives the empty string.
  BufferString(const char* text, StringAllocator& owner = StandardAllocator<char>::instance())
      : allocator(&owner) {
    if (text != nullptr)
      assignBytes(text, static_cast<int32_t>(std::strlen(text)));
  }
  /// From count bytes (NULs included) followed by a NUL we add; null gives the empty string.
  BufferString(const char* bytes, int32_t count,
               StringAllocator& owner = StandardAllocator<char>::instance())
      : allocator(&owner) {
    if (bytes != nullptr)
      assignBytes(bytes, count);
  }
  /// A copy of other's length + 1 bytes in a buffer from the given allocator.
  BufferString(const BufferString& other, StringAllocator& owner) : allocator(&owner) {
    if (other.data != nullptr)
      assignBytes(other.data, other.length);
  }
  BufferString(const BufferString& other) : BufferString(other, *other.allocator) {}
  BufferString(BufferString&& other) noexcept
      : data(other.data), length(other.length), allocator(other.allocator) {
    other.data = nullptr;
    other.length = 0;
  }
  ~BufferString() { release(); }

  /// Takes a copy of other's text into a buffer of our own allocator; the argument is
  /// released when it goes out of scope.
  // By value on purpose: assigning a string its own text copies it before releasing it.
  BufferString& operator=(BufferString other) { // NOLINT(performance-unnecessary-value-param)
    release();
    if (other.data != nullptr)
      assignBytes(other.data, other.length);
    return *this;
  }

  /// Frees the buffer; the allocator stays.
  void release() noexcept {
    if (data != nullptr)
      allocator->free(data);
    data = nullptr;
    length = 0;
  }

  [[nodiscard]] bool isEmpty() const { return data == nullptr || length == 0; }
  /// The NUL-terminated text; "" for null data.
  [[nodiscard]] const char* text() const { return data != nullptr ? data : ""; }
  [[nodiscard]] std::string_view view() const { return std::string_view(text()); }
  [[nodiscard]] std::string toStdString() const { return std::string(text()); }

  friend bool operator==(const BufferString& a, const BufferString& b) {
    return std::strcmp(a.text(), b.text()) == 0;
  }
  friend bool operator==(const BufferString& a, const char* b) {
    return std::strcmp(a.text(), b != nullptr ? b : "") == 0;
  }
  friend bool operator<(const BufferString& a, const BufferString& b) {
    return std::strcmp(a.text(), b.text()) < 0; // strcmp compares as unsigned char
  }

  /// Searches text for pattern ignoring ASCII case; returns the offset of the last byte of
  /// the first match, or -1. After a mismatch the search goes on with the next text byte,
  /// which is not compared again with the pattern's first byte.
  static int32_t findIgnoringCase(const char* text, const char* pattern) {
    if (text == nullptr || pattern == nullptr || *pattern == '\0')
      return -1;
    const char* p = pattern;
    for (int32_t i = 0; text[i] != '\0'; ++i) {
      if (upper(text[i]) == upper(*p)) {
        if (*++p == '\0')
          return i;
      } else {
        p = pattern;
      }
    }
    return -1;
  }

private:
  static char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

  void assignBytes(const char* bytes, int32_t count) {
    if (count < 0)
      count = 0;
    char* buffer = allocator->allocate(static_cast<uint32_t>(count) + 1);
    if (count > 0)
      std::memcpy(buffer, bytes, static_cast<std::size_t>(count));
    buffer[count] = '\0';
    data = buffer;
    length = count;
  }
};

static_assert(sizeof(BufferString) == 24, "engine record layout");

} // namespace Kestrel
