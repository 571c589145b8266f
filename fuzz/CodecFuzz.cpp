// The UTF-8 / UTF-16 codecs and the well-formedness test on arbitrary bytes.
#include "platform/Utf.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Kestrel;
  if (size > (1u << 20))
    return 0;
  const auto length = static_cast<int32_t>(size);

  std::vector<char16_t> units(size + 1);
  const int32_t decoded = decodeUtf8(data, length, units.data(), length);
  if (decoded >= 0) {
    std::vector<uint8_t> bytes(static_cast<size_t>(decoded) * 3 + 1);
    encodeUtf8(units.data(), decoded, bytes.data(), decoded * 3);
  }

  // The same bytes read as UTF-16 units.
  std::vector<char16_t> wide(size / 2);
  if (!wide.empty())
    std::memcpy(wide.data(), data, wide.size() * 2);
  std::vector<uint8_t> out(wide.size() * 3 + 1);
  encodeUtf8(wide.data(), static_cast<int32_t>(wide.size()), out.data(),
             static_cast<int32_t>(wide.size() * 3));
  const std::string narrow = wideToUtf8(std::u16string(wide.begin(), wide.end()));
  (void)utf8ToWide(narrow);
  (void)utf8ToWide(std::string(reinterpret_cast<const char*>(data), size));

  std::vector<char16_t> strict(size + 1);
  const uint8_t* source = data;
  char16_t* target = strict.data();
  convertUtf8ToUtf16Strict(&source, data + size, &target, strict.data() + strict.size());

  for (size_t i = 0; i + 1 < size; ++i)
    (void)isWellFormedUtf8Sequence(data + i, data + size - 1);
  return 0;
}
