#include "container/SubtitleStore.h"

#include <algorithm>
#include <cstring>

namespace Kestrel {

const char* SubtitleTexts::store(std::string_view text) {
  unsigned char length[10];
  std::size_t lengthBytes = 0;
  for (std::size_t left = text.size(); left >= 0x80; left >>= 7)
    length[lengthBytes++] = static_cast<unsigned char>((left & 0x7Fu) | 0x80u);
  length[lengthBytes] = static_cast<unsigned char>(text.size() >> (7 * lengthBytes));
  ++lengthBytes;
  const std::size_t needed = lengthBytes + text.size();
  if (needed > left_) {
    // At least 4 KiB, so that a store expecting nothing still holds many small texts in one.
    const std::size_t size = std::max({needed, nextBlock_, std::size_t{4096}});
    blocks_.reserve(blocks_.size() + 1); // a failure here loses no block
    blocks_.emplace_back(new char[size]);
    free_ = blocks_.back().get();
    left_ = size;
    allocated_ += size;
    nextBlock_ = allocated_;
  }
  char* place = free_;
  std::memcpy(place, length, lengthBytes);
  if (!text.empty())
    std::memcpy(place + lengthBytes, text.data(), text.size());
  free_ += needed;
  left_ -= needed;
  return place;
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
