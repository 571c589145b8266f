// Entity decoding of arbitrary text runs: the scan's decoder against a plain reference
// written straight from the rules (numbers read by sscanf, names looked up in the table).
#include "sami/Entities.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace Kestrel;

std::optional<uint32_t> referenceLookUp(std::string_view name, const EntityTable& table) {
  if (name[0] == '#') {
    const bool hex = name[1] == 'x' || name[1] == 'X';
    const std::string digits(name.substr(hex ? 2 : 1));
    unsigned int value = 0;
    if (std::sscanf(digits.c_str(), hex ? "%x" : "%u", &value) != 1)
      return std::nullopt;
    return value;
  }
  // The table's names hold no NUL, so one that does is none of them.
  if (name.find('\0') != std::string_view::npos)
    return std::nullopt;
  const auto found = table.find(BufferString(std::string(name).c_str()));
  if (found == table.end())
    return std::nullopt;
  return found->second;
}

constexpr char kLettersAndDigits[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// HTML's legacy names, which may go without their ";": in the standard table, those of the
// Latin-1 characters and of the four markup characters (its capitals, AMP and the like, are
// not in the table at all).
bool isBareName(std::string_view name, const EntityTable& table) {
  const auto found = table.find(BufferString(std::string(name).c_str()));
  if (found == table.end())
    return false;
  const uint32_t c = found->second;
  return (c >= 0xA0 && c <= 0xFF) || c == '"' || c == '&' || c == '<' || c == '>';
}

// Each "&" with a ";" at least three bytes on closes over the name between them; a known
// name becomes its character and the search goes on after the ";" (one byte further when the
// character is U+0000, which has no bytes). Failing that, a legacy name that no ASCII letter
// or digit follows is read the same way without a ";". Any other "&" stays and the search
// goes on after it.
std::string referenceDecode(std::string_view in, const EntityTable& table) {
  std::string out;
  std::size_t copied = 0;
  std::size_t from = 0;
  std::size_t semi = 0; // the first ";" at or after amp, kept while it lies ahead
  bool semiKnown = false;
  for (;;) {
    const std::size_t amp = in.find('&', from);
    if (amp == std::string_view::npos)
      break;
    if (!semiKnown || (semi != std::string_view::npos && semi < amp)) {
      semi = in.find(';', amp);
      semiKnown = true;
    }
    std::optional<uint32_t> codePoint;
    std::size_t last = semi;
    if (semi != std::string_view::npos && semi - amp >= 3)
      codePoint = referenceLookUp(in.substr(amp + 1, semi - amp - 1), table);
    if (!codePoint) {
      std::size_t end = amp + 1;
      while (end < in.size() &&
             std::string_view(kLettersAndDigits).find(in[end]) != std::string_view::npos)
        ++end;
      const std::string_view bare = in.substr(amp + 1, end - amp - 1);
      if (!bare.empty() && isBareName(bare, table)) {
        codePoint = referenceLookUp(bare, table);
        last = end - 1;
      }
    }
    if (!codePoint) {
      from = amp + 1;
      continue;
    }
    char bytes[4];
    const int32_t count = codePointToUtf8(*codePoint, bytes);
    out.append(in.substr(copied, amp - copied)).append(bytes, static_cast<std::size_t>(count));
    copied = last + 1;
    from = count > 0 ? last + 1 : last + 2;
  }
  return out.append(in.substr(copied));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const EntityTable table = buildEntityTable();
  if (size > (1u << 13))
    return 0; // the reference copies each name: quadratic in the worst case
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string decoded(input);
  decoded.resize(EntityIndex::standard().decode(decoded.data(), decoded.size()));
  if (decoded != referenceDecode(input, table))
    __builtin_trap();
  BufferString text(input.data(), static_cast<int32_t>(size));
  decodeEntities(text, table);
  if (decoded != std::string_view(text.text(), static_cast<std::size_t>(text.length)))
    __builtin_trap();
  return 0;
}
