#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Kestrel {

/// SipHash-2-4 under a secret key: the hash of the scan's key table. Class and element names
/// come from the document, so a fixed, public hash would let a file be written whose names
/// all fall into one run of the table and make every lookup walk it (quadratic time). Under
/// a key drawn afresh for every table, nobody can aim names at one run.
class KeyHash {
public:
  /// A key from the system's random source (falling back to the clock and addresses).
  KeyHash();
  /// A given key: k0 is bytes 0 to 7 of the 16-byte key, little-endian, k1 bytes 8 to 15.
  KeyHash(uint64_t k0, uint64_t k1) : k0_(k0), k1_(k1) {}

  [[nodiscard]] uint64_t operator()(std::string_view bytes) const;

private:
  uint64_t k0_;
  uint64_t k1_;
};

} // namespace Kestrel
