#include "container/SubtitleStore.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace Kestrel {
namespace {

// A number in 7-bit groups, lowest first, the high bit set on all but the last.
std::size_t putNumber(unsigned char* out, uint64_t value) {
  std::size_t used = 0;
  for (; value >= 0x80; value >>= 7)
    out[used++] = static_cast<unsigned char>((value & 0x7Fu) | 0x80u);
  out[used++] = static_cast<unsigned char>(value);
  return used;
}

uint64_t getNumber(const unsigned char*& in) {
  uint64_t value = 0;
  unsigned shift = 0;
  for (; (*in & 0x80u) != 0; ++in, shift += 7)
    value |= static_cast<uint64_t>(*in & 0x7Fu) << shift;
  value |= static_cast<uint64_t>(*in++) << shift;
  return value;
}

std::size_t hashOf(std::string_view open, std::string_view close) {
  const std::size_t a = std::hash<std::string_view>()(open);
  const std::size_t b = std::hash<std::string_view>()(close);
  return a ^ (b + 0x9E3779B97F4A7C15u + (a << 6) + (a >> 2));
}

} // namespace

char* SubtitleTexts::take(std::size_t size) {
  if (size > left_) {
    // At least 4 KiB, so that a store expecting nothing still holds many small texts in one.
    const std::size_t blockSize = std::max({size, nextBlock_, std::size_t{4096}});
    blocks_.reserve(blocks_.size() + 1); // a failure here loses no block
    blocks_.emplace_back(new char[blockSize]);
    free_ = blocks_.back().get();
    left_ = blockSize;
    allocated_ += blockSize;
    nextBlock_ = allocated_;
  }
  char* place = free_;
  free_ += size;
  left_ -= size;
  return place;
}

bool SubtitleTexts::matches(const Wrapping& wrapping, std::string_view open,
                            std::string_view close) {
  return wrapping.openSize == open.size() && wrapping.closeSize == close.size() &&
         std::memcmp(wrapping.open, open.data(), open.size()) == 0 &&
         std::memcmp(wrapping.open + open.size(), close.data(), close.size()) == 0;
}

uint32_t SubtitleTexts::wrapping(std::string_view open, std::string_view close) {
  if ((open.empty() && close.empty()) || open.size() + close.size() > kLargestWrapping)
    return kNoWrapping;
  if (lastWrapping_ != kNoWrapping && matches(wrappings_[lastWrapping_], open, close))
    return lastWrapping_;
  const std::size_t hash = hashOf(open, close);
  if (!slots_.empty()) {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask; slots_[i] != 0; i = (i + 1) & mask) {
      if (matches(wrappings_[slots_[i] - 1], open, close))
        return lastWrapping_ = slots_[i] - 1;
    }
  }
  if (wrappings_.size() >= kMostWrappings)
    return kNoWrapping;
  // Kept at most half full, so that a search ends soon.
  if (2 * (wrappings_.size() + 1) > slots_.size()) {
    std::vector<uint32_t> grown(std::max<std::size_t>(16, 2 * slots_.size()), 0);
    const std::size_t mask = grown.size() - 1;
    for (uint32_t index = 0; index < wrappings_.size(); ++index) {
      const Wrapping& w = wrappings_[index];
      std::size_t i = hashOf({w.open, w.openSize}, {w.open + w.openSize, w.closeSize}) & mask;
      while (grown[i] != 0)
        i = (i + 1) & mask;
      grown[i] = index + 1;
    }
    slots_.swap(grown);
  }
  if (wrappings_.size() == wrappings_.capacity()) // nothing below fails once the bytes are had
    wrappings_.reserve(std::max<std::size_t>(16, 2 * wrappings_.size()));
  char* bytes = take(open.size() + close.size());
  if (!open.empty())
    std::memcpy(bytes, open.data(), open.size());
  if (!close.empty())
    std::memcpy(bytes + open.size(), close.data(), close.size());
  const auto index = static_cast<uint32_t>(wrappings_.size());
  wrappings_.push_back(
      {bytes, static_cast<uint32_t>(open.size()), static_cast<uint32_t>(close.size())});
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i] != 0)
    i = (i + 1) & mask;
  slots_[i] = index + 1;
  return lastWrapping_ = index;
}

const char* SubtitleTexts::store(std::string_view text, uint32_t wrapping) {
  std::string_view copy = text;
  if (wrapping != kNoWrapping) {
    const Wrapping& w = wrappings_[wrapping];
    const std::string_view open(w.open, w.openSize);
    const std::string_view close(w.open + w.openSize, w.closeSize);
    if (text.size() >= open.size() + close.size() && text.starts_with(open) &&
        text.ends_with(close))
      copy = text.substr(open.size(), text.size() - open.size() - close.size());
    else
      wrapping = kNoWrapping; // not wrapped in it after all: kept whole
  }
  const bool wrapped = wrapping != kNoWrapping;
  unsigned char header[20];
  std::size_t headerSize = putNumber(header, (uint64_t{copy.size()} << 1) | (wrapped ? 1u : 0u));
  if (wrapped)
    headerSize += putNumber(header + headerSize, wrapping);
  char* place = take(headerSize + copy.size());
  std::memcpy(place, header, headerSize);
  if (!copy.empty())
    std::memcpy(place + headerSize, copy.data(), copy.size());
  return place;
}

SubtitleTexts::Stored SubtitleTexts::read(const char* stored) const {
  const auto* byte = reinterpret_cast<const unsigned char*>(stored);
  const uint64_t head = getNumber(byte);
  const Wrapping* wrapping = (head & 1u) != 0 ? &wrappings_[getNumber(byte)] : nullptr;
  return {reinterpret_cast<const char*>(byte), static_cast<std::size_t>(head >> 1), wrapping};
}

std::size_t SubtitleTexts::sizeAt(const char* stored) const {
  const Stored text = read(stored);
  return text.size +
         (text.wrapping != nullptr ? text.wrapping->openSize + text.wrapping->closeSize : 0);
}

char* SubtitleTexts::copyAt(const char* stored, char* out) const {
  const Stored text = read(stored);
  const auto put = [&out](const char* bytes, std::size_t size) {
    if (size > 0)
      std::memcpy(out, bytes, size);
    out += size;
  };
  if (text.wrapping != nullptr)
    put(text.wrapping->open, text.wrapping->openSize);
  put(text.copy, text.size);
  if (text.wrapping != nullptr)
    put(text.wrapping->open + text.wrapping->openSize, text.wrapping->closeSize);
  return out;
}

std::string SubtitleTexts::textAt(const char* stored) const {
  std::string text(sizeAt(stored), '\0');
  copyAt(stored, text.data());
  return text;
}

void TrackEntries::add(std::string_view text, uint32_t start, uint32_t duration) {
  if (!texts)
    texts = std::make_shared<SubtitleTexts>();
  if (entries.size() == entries.capacity()) // the text is stored only where its entry has room
    entries.reserve(std::max<std::size_t>(8, 2 * entries.size()));
  const char* stored = texts->store(text);
  entries.push_back({stored, start, duration});
}

} // namespace Kestrel
