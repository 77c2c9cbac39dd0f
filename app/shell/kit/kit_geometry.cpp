#include "app/shell/kit/kit_geometry.h"

#include <algorithm>

#include "app/shell/kit/ui_scale.h"

namespace grainforge::app {

PlaceholderShape IconPlaceholderShape(const PixelRect& rect) {
  PlaceholderShape shape;
  shape.x = rect.left + 1;
  shape.y = rect.top + 1;
  shape.width = rect.Width() - 2;
  shape.height = rect.Height() - 2;
  shape.cornerDiameter = shape.width / 2;
  return shape;
}

std::array<PixelPoint, 3> CheckMarkPoints(const PixelRect& rect) {
  const int w = rect.Width();
  const auto at = [&](int xPercent, int yPercent) {
    return PixelPoint{rect.left + w * xPercent / 100, rect.top + w * yPercent / 100};
  };
  return {at(22, 52), at(42, 72), at(78, 30)};
}

int CheckMarkPenWidth(int dpi) {
  return std::max(1, ScaleForDpi(2, dpi));
}

int RowsToShow(int height, int rowLimit) {
  if (rowLimit < 1 || rowLimit > height) return height;
  return rowLimit;
}

std::vector<std::uint8_t> PixelsToRgb(std::span<const std::uint32_t> pixels, int width, int rows) {
  if (width <= 0 || rows <= 0) return {};
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(rows);
  if (pixels.size() < count) return {};
  std::vector<std::uint8_t> rgb;
  rgb.reserve(count * 3);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t pixel = pixels[i];
    rgb.push_back(static_cast<std::uint8_t>(pixel >> 16));
    rgb.push_back(static_cast<std::uint8_t>(pixel >> 8));
    rgb.push_back(static_cast<std::uint8_t>(pixel));
  }
  return rgb;
}

}  // namespace grainforge::app
