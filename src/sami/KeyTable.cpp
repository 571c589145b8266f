#include "sami/KeyTable.h"

#include <utility>

namespace Kestrel {

std::string_view TextArena::store(std::string_view text) {
  const std::size_t size = text.size() + 1;
  char* place = nullptr;
  if (size > kBlockSize / 4) {
    // A large text gets a block of its own; the one being filled stays in use.
    std::unique_ptr<char[]> block(new char[size]);
    blocks_.push_back(std::move(block)); // on failure the block goes with it, not lost
    place = blocks_.back().get();
  } else {
    if (size > left_) {
      std::unique_ptr<char[]> block(new char[kBlockSize]);
      blocks_.push_back(std::move(block));
      free_ = blocks_.back().get();
      left_ = kBlockSize;
    }
    place = free_;
    free_ += size;
    left_ -= size;
  }
  std::memcpy(place, text.data(), text.size());
  place[text.size()] = '\0';
  return {place, text.size()};
}

void KeyInfo::LevelList::push_back(uint32_t level) {
  if (size_ == 0) {
    first_ = level;
  } else {
    if (!more_)
      more_ = std::make_unique<std::vector<uint32_t>>();
    if (size_ == 1) {
      more_->clear();
      more_->push_back(first_);
    }
    more_->push_back(level);
  }
  ++size_;
}

void KeyInfo::LevelList::pop_back() {
  if (size_ >= 2) {
    more_->pop_back();
    if (size_ == 2)
      first_ = (*more_)[0];
  }
  --size_;
}

KeyTable::KeyTable() : keySlots_(kFirstKeySlots) {}

KeyInfo& KeyTable::lookUp(std::string_view key) {
  const std::size_t hash = keyHash_(key);
  std::size_t mask = keySlots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const KeySlot& slot = keySlots_[i];
    if (slot.info == nullptr)
      break;
    if (slot.hash == hash && slot.info->key == key)
      return *slot.info;
  }
  // A rule for the key would have made its record already.
  if (2 * (keyCount_ + 1) > keySlots_.size()) {
    std::vector<KeySlot> old(2 * keySlots_.size());
    old.swap(keySlots_);
    mask = keySlots_.size() - 1;
    for (const KeySlot& slot : old) {
      if (slot.info != nullptr)
        place(slot, mask);
    }
  }
  if (keyCount_ % kKeysPerBlock == 0) {
    std::unique_ptr<KeyInfo[]> block(new KeyInfo[kKeysPerBlock]);
    keyBlocks_.push_back(std::move(block)); // on failure the block goes with it, not lost
  }
  KeyInfo& info = keyBlocks_.back()[keyCount_++ % kKeysPerBlock];
  if (key.size() < KeyInfo::kShortKey) {
    std::memcpy(info.shortKey, key.data(), key.size());
    info.shortKey[key.size()] = '\0';
    info.key = std::string_view(info.shortKey, key.size());
  } else {
    info.key = arena_.store(key);
  }
  place({hash, &info}, mask);
  return info;
}

void KeyTable::place(const KeySlot& slot, std::size_t mask) {
  std::size_t i = slot.hash & mask;
  while (keySlots_[i].info != nullptr)
    i = (i + 1) & mask;
  keySlots_[i] = slot;
}

std::size_t KeyTable::slotsReadFindingEach() const {
  // A lookup of a held key reads every slot from the key's own to where it lies.
  const std::size_t mask = keySlots_.size() - 1;
  std::size_t read = 0;
  for (std::size_t i = 0; i < keySlots_.size(); ++i) {
    if (keySlots_[i].info != nullptr)
      read += ((i - keySlots_[i].hash) & mask) + 1;
  }
  return read;
}

} // namespace Kestrel
