#pragma once

// The shapes the interface kit draws, worked out without a device context so they can be
// checked in tests: the missing-icon placeholder, the check mark and the rows of a pixel block
// that are shown.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "app/shell/kit/pixel_rect.h"

namespace grainforge::app {

// The rounded outline drawn where an icon is missing: the rectangle inset by one pixel on each
// side, its corners arcs of diameter half the inset width.
struct PlaceholderShape {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  double cornerDiameter = 0;
};
PlaceholderShape IconPlaceholderShape(const PixelRect& rect);
inline constexpr double kPlaceholderPenWidth = 1.5;

// The three corners of a check mark in a square box, as fractions of the box's width (integer
// percentages, truncated): (22%, 52%), (42%, 72%), (78%, 30%). The vertical positions use the
// width too, so a box that is not square gets a mark sized by its width.
std::array<PixelPoint, 3> CheckMarkPoints(const PixelRect& rect);
// The check mark's pen: 2 px at 96 dpi, never thinner than 1.
int CheckMarkPenWidth(int dpi);

// How many rows of a pixel block of that height are shown for a row limit: all of them when the
// limit is below 1 or above the height, else the limit (the bottom is cropped).
int RowsToShow(int height, int rowLimit);

// The first rows of a block of 32-bit pixels (0x00RRGGBB, rows from the top) as packed RGB
// bytes. Empty when the block is shorter than width × rows or a size is not positive.
std::vector<std::uint8_t> PixelsToRgb(std::span<const std::uint32_t> pixels, int width, int rows);

}  // namespace grainforge::app
