// Entity decoding of arbitrary text runs.
#include "sami/Entities.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Kestrel;
  static const EntityTable table = buildEntityTable();
  if (size > (1u << 20))
    return 0;
  BufferString text(reinterpret_cast<const char*>(data), static_cast<int32_t>(size));
  decodeEntities(text, table);
  // Decoding never lengthens a run.
  if (text.length > static_cast<int32_t>(size))
    __builtin_trap();
  return 0;
}
