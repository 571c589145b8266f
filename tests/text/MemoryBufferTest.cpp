#include "engine/MemoryBuffer.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

// Sanitizer runtimes reserve far more address space than the limit below allows.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized = __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

/// In a child process: a buffer that held storage, resized beyond the address space left.
bool failsUnderAddressLimit() {
  veytl::MemoryBuffer<char> buffer;
  const bool first = buffer.resize(16, /*zeroFill=*/true) != nullptr;
  const rlimit limit{512u << 20, 512u << 20};
  setrlimit(RLIMIT_AS, &limit);
  char* big = buffer.resize(1u << 30, /*zeroFill=*/true);
  // Let the pointer escape, or the compiler may drop an allocation that is only tested.
  asm volatile("" : : "r"(big) : "memory");
  const bool failed = big == nullptr;
  return first && failed && buffer.size() == 0 && buffer.data() == nullptr;
}

} // namespace

TEST(MemoryBuffer, ResizeKeepsNothingButZeroFillsOnRequest) {
  veytl::MemoryBuffer<char> buffer;
  EXPECT_EQ(buffer.data(), nullptr);
  char* data = buffer.resize(8, /*zeroFill=*/true);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(buffer.size(), 8u);
  for (uint32_t i = 0; i < 8; ++i)
    EXPECT_EQ(data[i], 0);
  data[3] = 'x';
  // Same size: the storage stays, and zeroFill clears it.
  EXPECT_EQ(buffer.resize(8, /*zeroFill=*/true), data);
  EXPECT_EQ(data[3], 0);
  data[3] = 'y';
  EXPECT_EQ(buffer.resize(8, /*zeroFill=*/false), data);
  EXPECT_EQ(data[3], 'y');
  EXPECT_EQ(buffer.resize(0, /*zeroFill=*/true), nullptr);
  EXPECT_EQ(buffer.size(), 0u);
}

TEST(MemoryBuffer, FailedAllocationLeavesItEmpty) {
  if (kSanitized)
    GTEST_SKIP() << "needs an address-space limit that sanitizers can't run under";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(failsUnderAddressLimit() ? 0 : 1), testing::ExitedWithCode(0), "");
}
