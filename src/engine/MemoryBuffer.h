#pragma once

#include <cstdint>
#include <cstring>
#include <new>

namespace veytl {

/// A growable block of T (the file reader's byte buffer). Old contents are never carried
/// over a resize; an allocation failure leaves the buffer empty instead of throwing, and
/// the caller reports it.
template <class T> class MemoryBuffer {
public:
  MemoryBuffer() = default;
  MemoryBuffer(const MemoryBuffer&) = delete;
  MemoryBuffer& operator=(const MemoryBuffer&) = delete;
  virtual ~MemoryBuffer() { resize(0, /*zeroFill=*/false); }

  /// Makes the buffer hold size elements (new storage when the size changes), zero-filled
  /// when asked. Returns the data, null when empty or when the allocation failed.
  T* resize(uint32_t size, bool zeroFill) {
    if (size != size_) {
      delete[] data_;
      data_ = nullptr;
      size_ = 0;
      if (size != 0) {
        data_ = new (std::nothrow) T[size];
        if (data_ != nullptr)
          size_ = size;
      }
    }
    if (zeroFill && data_ != nullptr)
      std::memset(static_cast<void*>(data_), 0, static_cast<std::size_t>(size_) * sizeof(T));
    return data_;
  }

  [[nodiscard]] T* data() const { return data_; }
  [[nodiscard]] uint32_t size() const { return size_; }
  [[nodiscard]] bool isEmpty() const { return data_ == nullptr; }

private:
  T* data_ = nullptr;
  uint32_t size_ = 0;
};

} // namespace veytl
