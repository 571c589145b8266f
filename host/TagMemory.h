#pragma once

#include "SubtitleText.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace KestrelTool {

/// Markup items already read, by their text: a document's samples repeat the same few tags,
/// which a renderer then reads once. Each renderer keeps its own.
class TagMemory {
public:
  /// What is known of the item text, the start of s; false when it is not known.
  bool recall(std::string_view s, std::string_view text, MarkupPiece& token, size_t& length) {
    for (size_t i = 0; i < count_; ++i) {
      const Tag& tag = tags_[i];
      if (tag.text != text)
        continue;
      length = tag.length;
      if (length != 0) {
        token.kind = tag.kind;
        token.style = tag.style;
        token.color = tag.color;
        token.face = tag.face.in(s);
        token.size = tag.size.in(s);
      }
      return true;
    }
    return false;
  }

  void remember(std::string_view s, std::string_view text, const MarkupPiece& token,
                size_t length) {
    if (text.size() > kLongest)
      return;
    // Once full, each new item takes the place of the oldest.
    Tag& tag = tags_[count_ < kKept ? count_++ : next_];
    if (count_ == kKept)
      next_ = (next_ + 1) % kKept;
    tag.text.assign(text);
    tag.length = length;
    tag.kind = token.kind;
    tag.style = token.style;
    tag.color = token.color;
    tag.face = Span::of(s, token.face);
    tag.size = Span::of(s, token.size);
  }

private:
  /// Where a value lies in the item's text.
  struct Span {
    size_t offset = 0;
    size_t length = 0;
    bool present = false;
    static Span of(std::string_view s, std::string_view value) {
      if (value.data() == nullptr)
        return {};
      return {static_cast<size_t>(value.data() - s.data()), value.size(), true};
    }
    [[nodiscard]] std::string_view in(std::string_view s) const {
      return present ? s.substr(offset, length) : std::string_view();
    }
  };
  struct Tag {
    std::string text;
    size_t length = 0;
    MarkupToken::Kind kind = MarkupToken::Kind::Text;
    MarkupToken::Style style = MarkupToken::Style::Bold;
    std::string color;
    Span face;
    Span size;
  };
  static constexpr size_t kKept = 8;
  static constexpr size_t kLongest = 256; // longer items are read every time
  std::array<Tag, kKept> tags_;
  size_t count_ = 0;
  size_t next_ = 0; // the oldest, once all places are taken
};

} // namespace KestrelTool
