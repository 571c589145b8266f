#pragma once

#include <cstddef>

namespace Kestrel::Platform {

/// Fills the size bytes at out from the system's random source, never blocking. False when
/// the source cannot fill them all now (early in boot it may have too little entropy); the
/// bytes are then unspecified.
[[nodiscard]] bool fillRandom(void* out, std::size_t size);

} // namespace Kestrel::Platform
