#include "TextEncoding.h"

#include "IcuFunctions.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <memory>

namespace KestrelTool {
namespace {

struct Signature {
  std::string_view bytes;
  const char* name;
};

// Tested in this order, as the plug-in does: the UTF-32 LE signature begins with the UTF-16
// LE one, and the UTF-7 signature has four possible last bytes.
constexpr std::array<Signature, 12> kSignatures{{
    {{"\x00\x00\xFE\xFF", 4}, "UTF-32BE"},
    {{"\xFF\xFE\x00\x00", 4}, "UTF-32LE"},
    {"\xFE\xFF", "UTF-16BE"},
    {"\xFF\xFE", "UTF-16LE"},
    {"\xEF\xBB\xBF", "UTF-8"},
    {"\x2B\x2F\x76\x38", "UTF-7"},
    {"\x2B\x2F\x76\x39", "UTF-7"},
    {"\x2B\x2F\x76\x2B", "UTF-7"},
    {"\x2B\x2F\x76\x2F", "UTF-7"},
    {"\x0E\xFE\xFF", "SCSU"},
    {"\xFB\xEE\x28", "BOCU-1"},
    {"\x84\x31\x95\x33", "GB18030"},
}};

// Detected names whose files are, in practice, written in a wider code page that contains
// them. Reading with the wider one loses nothing and decodes the extra characters.
struct Widening {
  std::string_view detected;
  const char* converter;
};
constexpr std::array<Widening, 5> kWidenings{{
    {"EUC-KR", "windows-949"},
    {"ISO-8859-1", "windows-1252"},
    {"ISO-8859-9", "windows-1254"},
    {"Shift_JIS", "windows-31j"},
    {"Big5", "windows-950"},
}};

// Only a document's head is needed to guess its code page.
constexpr size_t kDetectionSample = 1 << 20;

struct DetectorClose {
  const IcuFunctions* icu;
  void operator()(UCharsetDetector* d) const { icu->closeDetector(d); }
};

bool converterExists(const std::string& name) {
  const IcuFunctions* icu = icuFunctions();
  if (icu == nullptr)
    return false;
  UErrorCode status = U_ZERO_ERROR;
  UConverter* converter = icu->openConverter(name.c_str(), &status);
  if (converter != nullptr)
    icu->closeConverter(converter);
  return U_SUCCESS(status) && converter != nullptr;
}

/// Length of the well-formed UTF-8 sequence at s (of n bytes), or 0.
size_t sequenceLength(const unsigned char* s, size_t n) {
  const unsigned char c = s[0];
  if (c < 0x80)
    return 1;
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0)
      low = 0xA0; // overlong
    if (c == 0xED)
      high = 0x9F; // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0)
      low = 0x90; // overlong
    if (c == 0xF4)
      high = 0x8F; // above U+10FFFF
  } else {
    return 0;
  }
  if (n < length || s[1] < low || s[1] > high)
    return 0;
  for (size_t i = 2; i < length; ++i)
    if (s[i] < 0x80 || s[i] > 0xBF)
      return 0;
  return length;
}

// Well-formed UTF-8 as an automaton over bytes. Each byte has a row of 64 bits that holds,
// six bits for every state, the state that follows it; a state is its own offset in a row,
// so a step is one shift. Rejection is final.
enum : uint32_t {
  kAccept = 0,   // between characters
  kReject = 6,   // an ill-formed sequence
  kOneMore = 12, // one continuation byte to come
  kTwoMore = 18,
  kThreeMore = 24,
  kAfterE0 = 30, // the next byte 0xA0-0xBF (no overlong form)
  kAfterED = 36, // 0x80-0x9F (no surrogate)
  kAfterF0 = 42, // 0x90-0xBF (no overlong form)
  kAfterF4 = 48, // 0x80-0x8F (nothing above U+10FFFF)
};
constexpr uint32_t kStateMask = 63;

constexpr uint32_t nextState(uint32_t state, unsigned byte) {
  const auto within = [byte](unsigned low, unsigned high) { return byte >= low && byte <= high; };
  switch (state) {
  case kAccept:
    if (byte < 0x80)
      return kAccept;
    if (within(0xC2, 0xDF))
      return kOneMore;
    if (byte == 0xE0)
      return kAfterE0;
    if (byte == 0xED)
      return kAfterED;
    if (within(0xE1, 0xEF))
      return kTwoMore;
    if (byte == 0xF0)
      return kAfterF0;
    if (byte == 0xF4)
      return kAfterF4;
    if (within(0xF1, 0xF3))
      return kThreeMore;
    return kReject;
  case kOneMore:
    return within(0x80, 0xBF) ? kAccept : kReject;
  case kTwoMore:
    return within(0x80, 0xBF) ? kOneMore : kReject;
  case kThreeMore:
    return within(0x80, 0xBF) ? kTwoMore : kReject;
  case kAfterE0:
    return within(0xA0, 0xBF) ? kOneMore : kReject;
  case kAfterED:
    return within(0x80, 0x9F) ? kOneMore : kReject;
  case kAfterF0:
    return within(0x90, 0xBF) ? kTwoMore : kReject;
  case kAfterF4:
    return within(0x80, 0x8F) ? kTwoMore : kReject;
  default:
    return kReject;
  }
}

constexpr std::array<uint64_t, 256> kUtf8Rows = [] {
  std::array<uint64_t, 256> rows{};
  for (unsigned byte = 0; byte < 256; ++byte)
    for (uint32_t state = kAccept; state <= kAfterF4; state += 6)
      rows[byte] |= uint64_t{nextState(state, byte)} << state;
  return rows;
}();

/// The automaton's state after byte. Only the low six bits of state count, as a shift takes
/// only its count's: the result's upper bits are left for the caller to mask.
uint64_t step(uint64_t state, unsigned char byte) {
  return kUtf8Rows[byte] >> (state & kStateMask);
}

} // namespace

std::optional<std::string> unicodeSignature(std::string_view bytes) {
  for (const auto& signature : kSignatures)
    if (bytes.starts_with(signature.bytes))
      return std::string(signature.name);
  return std::nullopt;
}

size_t wellFormedUtf8Prefix(std::string_view bytes) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  uint32_t state = kAccept;
  size_t accepted = 0; // where the last whole character ended
  size_t i = 0;
  while (i < n) {
    if (state == kAccept) {
      // Between characters, ASCII goes eight bytes at a time: text is mostly ASCII.
      uint64_t word = 0;
      if (i + 8 <= n && (std::memcpy(&word, s + i, 8), (word & 0x8080808080808080u) == 0)) {
        i += 8;
        accepted = i;
        continue;
      }
    }
    state = static_cast<uint32_t>(step(state, s[i]) & kStateMask);
    ++i;
    if (state == kAccept)
      accepted = i;
    else if (state == kReject)
      return accepted;
  }
  return accepted;
}

bool isWellFormedUtf8(std::string_view bytes) {
  // Only the end state counts, rejection being final: eight steps at a time, with no test
  // between them, the state masked only at the end.
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  uint64_t state = kAccept;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t word = 0;
    std::memcpy(&word, s + i, 8);
    if ((state & kStateMask) == kAccept && (word & 0x8080808080808080u) == 0)
      continue; // eight ASCII bytes between characters
    for (size_t k = 0; k < 8; ++k)
      state = step(state, s[i + k]);
  }
  for (; i < n; ++i)
    state = step(state, s[i]);
  return (state & kStateMask) == kAccept;
}

bool isWellFormedUtf8File(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  // A megabyte at a time; a character cut by the end of a piece is checked with the next.
  constexpr size_t kPiece = size_t{1} << 20;
  constexpr size_t kLongest = 4; // bytes of the longest sequence
  const std::unique_ptr<char[]> buffer(new char[kPiece + kLongest]);
  size_t carried = 0;
  for (;;) {
    in.read(buffer.get() + carried, static_cast<std::streamsize>(kPiece));
    if (in.bad())
      return false;
    const size_t held = carried + static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0));
    const size_t good = wellFormedUtf8Prefix({buffer.get(), held});
    if (!in) // the end of the file
      return good == held;
    carried = held - good;
    if (carried >= kLongest)
      return false; // an ill-formed sequence, not a character cut short
    std::memmove(buffer.get(), buffer.get() + good, carried);
  }
}

std::string repairUtf8(std::string_view bytes) {
  if (isWellFormedUtf8(bytes))
    return std::string(bytes);
  std::string out;
  out.reserve(bytes.size());
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t i = 0;
  while (i < bytes.size()) {
    const size_t length = sequenceLength(s + i, bytes.size() - i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    out.append(bytes.substr(i, length));
    i += length;
  }
  return out;
}

std::optional<DetectedCodePage> detectCodePage(std::string_view bytes) {
  bytes = bytes.substr(0, std::min(bytes.size(), kDetectionSample));
  const IcuFunctions* icu = icuFunctions();
  if (icu == nullptr)
    return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UCharsetDetector, DetectorClose> detector(icu->openDetector(&status),
                                                            DetectorClose{icu});
  if (U_FAILURE(status) || !detector)
    return std::nullopt;
  // Markup says nothing about the language of the text; ICU can skip it.
  icu->enableInputFilter(detector.get(), true);
  icu->setText(detector.get(), bytes.data(), static_cast<int32_t>(bytes.size()), &status);
  int32_t count = 0;
  const UCharsetMatch** matches = icu->detectAll(detector.get(), &count, &status);
  if (U_FAILURE(status) || matches == nullptr)
    return std::nullopt;
  for (int32_t i = 0; i < count; ++i) {
    UErrorCode matchStatus = U_ZERO_ERROR;
    const char* name = icu->matchName(matches[i], &matchStatus);
    const int32_t confidence = icu->matchConfidence(matches[i], &matchStatus);
    if (U_FAILURE(matchStatus) || name == nullptr || confidence <= 0)
      continue;
    DetectedCodePage guess{name, name, confidence};
    for (const auto& widening : kWidenings)
      if (widening.detected == name)
        guess.converter = widening.converter;
    // ICU names some right-to-left variants "IBM424_rtl"; the converter is the plain one.
    if (const auto suffix = guess.converter.find('_');
        suffix != std::string::npos && !converterExists(guess.converter))
      guess.converter.erase(suffix);
    if (converterExists(guess.converter))
      return guess;
  }
  return std::nullopt;
}

bool containsSamiMarker(std::string_view bytes) {
  constexpr std::string_view kMarker = "<sami";
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  // (unit size, offset of the significant byte within a unit)
  constexpr std::array<std::pair<size_t, size_t>, 5> kForms{
      {{1, 0}, {2, 0}, {2, 1}, {4, 0}, {4, 3}}};
  for (const auto& [unit, offset] : kForms) {
    const size_t span = kMarker.size() * unit;
    for (size_t start = 0; start + span <= bytes.size(); ++start) {
      bool match = true;
      for (size_t k = 0; k < kMarker.size() && match; ++k) {
        const size_t base = start + k * unit;
        match = lower(bytes[base + offset]) == kMarker[k];
        for (size_t z = 0; z < unit && match; ++z)
          if (z != offset && bytes[base + z] != '\0')
            match = false;
      }
      if (match)
        return true;
    }
  }
  return false;
}

size_t utf8LeadLength(unsigned char lead) {
  if (lead < 0x80)
    return 1;
  if (lead >= 0xC2 && lead <= 0xDF)
    return 2;
  if (lead >= 0xE0 && lead <= 0xEF)
    return 3;
  return lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
}

} // namespace KestrelTool
