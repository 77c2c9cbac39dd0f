#pragma once

// Rectangles and points in a window's client pixels, as the owner-drawn models lay them out:
// left and top inside, right and bottom just outside.

namespace grainforge::app {

struct PixelPoint {
  int x = 0;
  int y = 0;
  friend constexpr bool operator==(PixelPoint, PixelPoint) = default;
};

struct PixelRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  constexpr int Width() const { return right - left; }
  constexpr int Height() const { return bottom - top; }
  constexpr bool IsEmpty() const { return right <= left || bottom <= top; }
  constexpr bool Contains(int x, int y) const {
    return x >= left && x < right && y >= top && y < bottom;
  }
  friend constexpr bool operator==(const PixelRect&, const PixelRect&) = default;
};

}  // namespace grainforge::app
