// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace Kestrel {

/// Rectangle with four coordinates left, top, right, bottom.
template <class T> class Rect {
public:
  T left = 0;
  T top = 0;
  T right = 0;
  T bottom = 0;

  Rect() = default;
  Rect(T l, T t, T r, T b) : left(l), top(t), right(r), bottom(b) {}
  virtual ~Rect() = default;    // slot 0
  virtual T width() const = 0;  // slot 1
  virtual T height() const = 0; // slot 2
};

/// Inclusive pixel coordinates: a rectangle from 0 to 639 is 640 wide.
class RectInt final : public Rect<int> {
public:
  using Rect<int>::Rect;
  int width() const override { return right - left + 1; }
  int height() const override { return bottom - top + 1; }
};

class RectFloat final : public Rect<double> {
public:
  using Rect<double>::Rect;
  double width() const override { return right - left; }
  double height() const override { return bottom - top; }
};

/// Base of the property records.
class Properties {
public:
  virtual ~Properties() = default;
};

class AudioProperties : public Properties {
public:
  int32_t first = 0;
  int32_t second = 0;
};

/// Picture properties of a stream or sample; the meaning of the further values is the
/// engine's, we only set the stated values.
class ImageProperties : public Properties {
public:
  int32_t width = 0;
  int32_t height = 0;
  int32_t further[3] = {1, 1, 1};
  RectFloat floatRect;
  RectInt intRect;
  int32_t furtherWord = 0;
  uint8_t flag = 0;
};

} // namespace Kestrel
