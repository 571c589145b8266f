#pragma once

#include "container/SubtitleStore.h"
#include "sami/KeyHash.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace Kestrel {

/// Holds the text of keys and rules for the life of a scan, in large blocks: a sheet of
/// tens of thousands of rules costs a few allocations and frees instead of several each.
class TextArena {
public:
  /// A NUL-terminated copy of text that lives as long as the arena.
  std::string_view store(std::string_view text);

private:
  static constexpr std::size_t kBlockSize = std::size_t{64} * 1024;
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* free_ = nullptr; // the unused end of the newest block
  std::size_t left_ = 0;
};

/// What the scan knows about one selector text: the markup and description of the rule
/// stored under it, the stack levels whose class or element name it is, and the track
/// filed under it. Kept for every key met in the document or a style sheet, so neither a
/// subtitle nor a new style sheet walks the whole stack, and no lookup searches an ordered
/// table of every rule. What a lookup and a subtitle read comes first, so that in a sheet
/// of many rules a subtitle reads few places in memory: two cache lines, side by side.
struct alignas(64) KeyInfo {
  using Entries = std::vector<StoredEntry>; // their texts are in the scan's store

  /// The two properties of a style rule that describe a track, in the arena.
  struct Description {
    std::optional<std::string_view> name;
    std::optional<std::string_view> lang;
  };

  /// The stack levels a key is used at, rising: rarely more than one at a time, so the
  /// first is kept in place and only a key nested in itself reaches the heap.
  class LevelList {
  public:
    [[nodiscard]] bool empty() const { return size_ == 0; }
    [[nodiscard]] const uint32_t* begin() const { return size_ <= 1 ? &first_ : more_->data(); }
    [[nodiscard]] const uint32_t* end() const { return begin() + size_; }
    [[nodiscard]] uint32_t back() const { return end()[-1]; }
    void push_back(uint32_t level);
    void pop_back();

  private:
    uint32_t first_ = 0;
    uint32_t size_ = 0;
    std::unique_ptr<std::vector<uint32_t>> more_; // all of them once there are two or more
  };

  static constexpr std::size_t kShortKey = 16;

  KeyInfo() = default;
  KeyInfo(const KeyInfo&) = delete; // key may point into the record itself
  KeyInfo& operator=(const KeyInfo&) = delete;

  std::string_view key;        // NUL-terminated: in shortKey, or in the arena when longer
  char shortKey[kShortKey];    // written only through key
  std::string_view openMarkup; // of the rule stored under key, in the arena
  std::string_view closeMarkup;
  Description* rule = nullptr;     // once a style sheet named this key; in the table
  int32_t activeSlot = -1;         // position in the scan's active_, or -1
  int32_t pendingSlot = -1;        // position of the track's unfiled subtitle in pending_, or -1
  bool filed = false;              // a subtitle was filed here: in tracksWithSubtitles_
  bool emptiedByNextSheet = false; // in the scan's ruledTracksWithSubtitles_
  bool byStart = true;             // no chunk of track starts before the one ahead of it
  LevelList references;            // 2 * level (class) or 2 * level + 1 (name)
  Entries track;
};

static_assert(sizeof(KeyInfo) <= 128, "a record fills two cache lines at most");

/// Every key's record, found through an open-addressed table of (hash, record) slots, never
/// more than half full, hashed under a key of the table's own (see KeyHash): a lookup reads
/// one slot and the record's key, where a node-based map would chase several pointers per
/// lookup in a sheet of many rules. Records never move and live as long as the table.
class KeyTable {
public:
  KeyTable();
  KeyTable(const KeyTable&) = delete;
  KeyTable& operator=(const KeyTable&) = delete;

  /// The record of key, made empty on first use.
  KeyInfo& find(std::string_view key);
  /// A fresh description that lives as long as the table.
  KeyInfo::Description& addDescription() { return descriptions_.emplace_back(); }
  /// The arena holding the table's long keys, for other texts of the same life.
  [[nodiscard]] TextArena& arena() { return arena_; }

  /// The keys held.
  [[nodiscard]] std::size_t size() const { return keyCount_; }
  /// The slots that finding every key held once reads in all, worked out from where the
  /// keys lie: with keys spread over the table about one and a half per key, however the
  /// document chose its names.
  [[nodiscard]] std::size_t slotsReadFindingEach() const;

private:
  struct KeySlot {
    std::size_t hash = 0;
    KeyInfo* info = nullptr; // null: the slot is free
  };

  KeyInfo& lookUp(std::string_view key); // find past the recent keys
  void place(const KeySlot& slot, std::size_t mask);

  static constexpr std::size_t kFirstKeySlots = 64; // a power of two
  // The records in blocks that never move, so a sheet of many rules allocates a few.
  static constexpr std::size_t kKeysPerBlock = 256;
  std::vector<std::unique_ptr<KeyInfo[]>> keyBlocks_;
  std::size_t keyCount_ = 0;
  std::deque<KeyInfo::Description> descriptions_;
  std::vector<KeySlot> keySlots_;
  KeyHash keyHash_; // under a key of this table's own
  TextArena arena_; // long keys
  // The records of short keys looked up lately, by their bytes: a document repeats a
  // handful of names ("sync", "p", a class or two) in nearly every item, and a hit here
  // costs a comparison instead of the keyed hash and a slot.
  struct RecentKey {
    uint64_t bytes = 0; // the key's bytes, zero-padded
    std::size_t length = 0;
    KeyInfo* info = nullptr;
  };
  static constexpr std::size_t kRecentKeys = 16; // a power of two
  RecentKey recentKeys_[kRecentKeys];
};

// Inline: the scan looks up several keys for every item it reads.
inline KeyInfo& KeyTable::find(std::string_view key) {
  RecentKey* recent = nullptr;
  if (!key.empty() && key.size() <= sizeof(uint64_t)) {
    uint64_t bytes = 0;
    std::memcpy(&bytes, key.data(), key.size());
    recent = &recentKeys_[(bytes * 0x9E3779B97F4A7C15ull) >> 60 & (kRecentKeys - 1)];
    if (recent->bytes == bytes && recent->length == key.size() && recent->info != nullptr)
      return *recent->info;
    *recent = {bytes, key.size(), nullptr};
  }
  KeyInfo& info = lookUp(key);
  if (recent != nullptr)
    recent->info = &info;
  return info;
}

} // namespace Kestrel
