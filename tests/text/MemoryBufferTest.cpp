#include "engine/MemoryBuffer.h"

#include <gtest/gtest.h>

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
  veytl::MemoryBuffer<char> buffer;
  ASSERT_NE(buffer.resize(16, /*zeroFill=*/false), nullptr);
  // Beyond what this process may allocate (under sanitizers too, which report
  // null from new(nothrow) rather than abort, with allocator_may_return_null).
  if (std::getenv("ASAN_OPTIONS") != nullptr || std::getenv("TSAN_OPTIONS") != nullptr)
    GTEST_SKIP() << "sanitizer allocators may abort on huge requests";
  EXPECT_EQ(buffer.resize(UINT32_MAX, /*zeroFill=*/false) == nullptr, buffer.size() == 0);
}
