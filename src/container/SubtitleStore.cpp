#include "container/SubtitleStore.h"

#include <algorithm>
#include <cstring>

namespace Kestrel {

const char* SubtitleTexts::store(std::string_view text) {
  if (text.size() > left_) {
    // At least 4 KiB, so that a store expecting nothing still holds many small texts in one.
    const std::size_t size = std::max({text.size(), nextBlock_, std::size_t{4096}});
    blocks_.reserve(blocks_.size() + 1); // a failure here loses no block
    blocks_.emplace_back(new char[size]);
    free_ = blocks_.back().get();
    left_ = size;
    allocated_ += size;
    nextBlock_ = allocated_;
  }
  char* place = free_;
  if (!text.empty())
    std::memcpy(place, text.data(), text.size());
  free_ += text.size();
  left_ -= text.size();
  return place;
}

void TrackEntries::add(std::string_view text, uint32_t start, uint32_t duration) {
  if (!texts)
    texts = std::make_shared<SubtitleTexts>();
  if (entries.size() == entries.capacity()) // the text is stored only where its entry has room
    entries.reserve(std::max<std::size_t>(8, 2 * entries.size()));
  const char* stored = texts->store(text);
  entries.push_back({stored, start, duration, static_cast<int32_t>(text.size())});
}

} // namespace Kestrel
