#pragma once

// The grey look of a disabled toolbar button's icon: each pixel turned grey, mixed a quarter of
// the way towards the tint and drawn at 45% of its opacity.

#include <cstdint>
#include <optional>

#include "app/shell/kit/ui_colours.h"

class wxImage;

namespace grainforge::app {

struct RgbaPixel {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  std::uint8_t a = 255;
  friend constexpr bool operator==(RgbaPixel, RgbaPixel) = default;
};

// grey = (29 B + 150 G + 77 R) >> 8; each channel = (3 grey + the tint's channel) >> 2;
// alpha = A × 115 / 255, truncated.
RgbaPixel TintPixel(RgbaPixel pixel, Rgb tint);

// The disabled look of an icon, with an alpha channel (an icon without one counts as opaque);
// empty for an image without pixels.
std::optional<wxImage> TintBitmap(const wxImage& image, Rgb tint);

}  // namespace grainforge::app
