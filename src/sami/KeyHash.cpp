#include "sami/KeyHash.h"

#include "platform/Random.h"

#include <bit>
#include <chrono>
#include <cstring>

namespace Kestrel {
namespace {

constexpr uint64_t rotate(uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }

struct State {
  uint64_t v0, v1, v2, v3;

  void round() {
    v0 += v1;
    v1 = rotate(v1, 13);
    v1 ^= v0;
    v0 = rotate(v0, 32);
    v2 += v3;
    v3 = rotate(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotate(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotate(v1, 17);
    v1 ^= v2;
    v2 = rotate(v2, 32);
  }
  void absorb(uint64_t block) {
    v3 ^= block;
    round();
    round();
    v0 ^= block;
  }
};

uint64_t littleEndian(const unsigned char* bytes, std::size_t count) {
  uint64_t value = 0;
  for (std::size_t i = count; i > 0; --i)
    value = value << 8 | bytes[i - 1];
  return value;
}

uint64_t littleEndianWord(const unsigned char* bytes) {
  uint64_t value = 0;
  std::memcpy(&value, bytes, sizeof value);
  if constexpr (std::endian::native == std::endian::big)
    value = __builtin_bswap64(value);
  return value;
}

} // namespace

KeyHash::KeyHash() {
  uint64_t key[2] = {0, 0};
  if (!Platform::fillRandom(key, sizeof key)) {
    // No entropy to be had this early: still different in every process and table.
    const auto now =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    key[0] = now * 0x9E3779B97F4A7C15ull ^ reinterpret_cast<uintptr_t>(this);
    key[1] = rotate(now, 29) ^ reinterpret_cast<uintptr_t>(&key) * 0xBF58476D1CE4E5B9ull;
  }
  k0_ = key[0];
  k1_ = key[1];
}

uint64_t KeyHash::operator()(std::string_view text) const {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  State s{k0_ ^ 0x736f6d6570736575ull, k1_ ^ 0x646f72616e646f6dull, k0_ ^ 0x6c7967656e657261ull,
          k1_ ^ 0x7465646279746573ull};
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8)
    s.absorb(littleEndianWord(bytes + i));
  s.absorb(littleEndian(bytes + i, size - i) | static_cast<uint64_t>(size) << 56);
  s.v2 ^= 0xff;
  s.round();
  s.round();
  s.round();
  s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

} // namespace Kestrel
