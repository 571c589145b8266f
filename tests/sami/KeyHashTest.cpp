#include "sami/KeyHash.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>

using Kestrel::KeyHash;

namespace {

// The published SipHash-2-4 test key and messages: bytes 00 01 02 ... of the given length.
KeyHash referenceKey() { return KeyHash(0x0706050403020100ull, 0x0f0e0d0c0b0a0908ull); }

std::string counting(std::size_t length) {
  std::string bytes;
  for (std::size_t i = 0; i < length; ++i)
    bytes.push_back(static_cast<char>(i));
  return bytes;
}

} // namespace

TEST(KeyHash, GivesTheReferenceValuesOfSipHash24) {
  const KeyHash hash = referenceKey();
  EXPECT_EQ(hash(counting(0)), 0x726fdb47dd0e0e31ull);
  EXPECT_EQ(hash(counting(1)), 0x74f839c593dc67fdull);
  EXPECT_EQ(hash(counting(7)), 0xab0200f58b01d137ull);
  EXPECT_EQ(hash(counting(8)), 0x93f5f5799a932462ull);
  EXPECT_EQ(hash(counting(15)), 0xa129ca6149be45e5ull);
}

TEST(KeyHash, EveryTableDrawsItsOwnKey) {
  // Two hashes agreeing on a few names by chance is possible; on all of them it is not.
  const KeyHash first;
  const KeyHash second;
  int same = 0;
  for (const char* name : {".encc", ".krcc", "sync", "p", "-unknown-", "#source"})
    same += first(name) == second(name) ? 1 : 0;
  EXPECT_LT(same, 6);
}
