// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <cstdlib>
#include <new>

namespace Kestrel {

/// Common base of the two byte allocators, so that a BufferString can refer to either.
/// Called by vtable position from code we don't compile: slot 0 destructor, 1 allocate,
/// 2 free. A host frees a string the plug-in returned through slot 2 of its allocator.
class StringAllocator {
public:
  virtual ~StringAllocator() = default;       // slot 0
  virtual char* allocate(uint32_t count) = 0; // slot 1: storage for count bytes
  virtual void free(char* pointer) = 0;       // slot 2: storage from slot 1, or null
};

namespace detail {
/// Storage for count elements of elementSize bytes from the global operator new. A request
/// whose byte size does not fit in 32 bits asks for an impossible size, so it fails with
/// std::bad_alloc like any other exhausted allocation.
inline void* allocateElements(uint32_t count, std::size_t elementSize) {
  const uint64_t bytes = static_cast<uint64_t>(count) * elementSize;
  if (bytes > UINT32_MAX)
    throw std::bad_alloc();
  return ::operator new[](static_cast<std::size_t>(bytes));
}
} // namespace detail

/// Polymorphic allocator with one process-wide instance per element type (`instance()`,
/// created on first use from any thread, destroyed when the module unloads). Each module
/// (the plug-in, a host) has its own instances; a buffer always goes back to the object
/// that allocated it, whose code lives in the module that made it.
template <class T> class StandardAllocator {
public:
  virtual ~StandardAllocator() = default; // slot 0
  virtual T* allocate(uint32_t count) {   // slot 1
    return static_cast<T*>(detail::allocateElements(count, sizeof(T)));
  }
  virtual void free(T* pointer) { ::operator delete[](static_cast<void*>(pointer)); } // slot 2

  static StandardAllocator& instance() {
    static StandardAllocator allocator;
    return allocator;
  }
};

template <> class StandardAllocator<char> final : public StringAllocator {
public:
  char* allocate(uint32_t count) override {
    return static_cast<char*>(detail::allocateElements(count, 1));
  }
  void free(char* pointer) override { ::operator delete[](static_cast<void*>(pointer)); }

  static StandardAllocator& instance() {
    static StandardAllocator allocator;
    return allocator;
  }
};

template <> class StandardAllocator<unsigned char> final : public StringAllocator {
public:
  char* allocate(uint32_t count) override {
    return static_cast<char*>(detail::allocateElements(count, 1));
  }
  void free(char* pointer) override { ::operator delete[](static_cast<void*>(pointer)); }

  static StandardAllocator& instance() {
    static StandardAllocator allocator;
    return allocator;
  }
};

} // namespace Kestrel
