#include "FailingAllocator.h"

#include <cstdlib>
#include <limits>
#include <new>

namespace {

thread_local long allocationsLeft = -1; // -1: nothing planned
thread_local bool failed = false;

void* allocate(std::size_t size) {
  if (allocationsLeft == 0) {
    allocationsLeft = -1;
    failed = true;
    throw std::bad_alloc();
  }
  if (allocationsLeft > 0)
    --allocationsLeft;
  if (void* memory = std::malloc(size == 0 ? 1 : size))
    return memory;
  throw std::bad_alloc();
}

} // namespace

namespace AllocTest {

void failAfter(long count) {
  allocationsLeft = count;
  failed = false;
}

bool disarm() {
  allocationsLeft = -1;
  return failed;
}

void startCounting() { failAfter(std::numeric_limits<long>::max()); }

long counted() { return std::numeric_limits<long>::max() - allocationsLeft; }

} // namespace AllocTest

// Every form that pairs with the plain delete goes through malloc and free, so that a
// sanitizer's own forms never meet ours.
void* operator new(std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
