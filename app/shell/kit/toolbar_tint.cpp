#include "app/shell/kit/toolbar_tint.h"

#include <wx/image.h>

namespace grainforge::app {

RgbaPixel TintPixel(RgbaPixel pixel, Rgb tint) {
  const unsigned grey = (29u * pixel.b + 150u * pixel.g + 77u * pixel.r) >> 8;
  const auto mix = [grey](std::uint8_t channel) {
    return static_cast<std::uint8_t>((3u * grey + channel) >> 2);
  };
  return RgbaPixel{mix(tint.r), mix(tint.g), mix(tint.b),
                   static_cast<std::uint8_t>(pixel.a * 115u / 255u)};
}

std::optional<wxImage> TintBitmap(const wxImage& image, Rgb tint) {
  if (!image.IsOk() || image.GetWidth() < 1 || image.GetHeight() < 1) return std::nullopt;
  wxImage tinted = image.Copy();
  if (!tinted.HasAlpha()) tinted.InitAlpha();
  const std::size_t count =
      static_cast<std::size_t>(tinted.GetWidth()) * static_cast<std::size_t>(tinted.GetHeight());
  unsigned char* rgb = tinted.GetData();
  unsigned char* alpha = tinted.GetAlpha();
  if (rgb == nullptr || alpha == nullptr) return std::nullopt;
  for (std::size_t i = 0; i < count; ++i) {
    const RgbaPixel out = TintPixel({rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], alpha[i]}, tint);
    rgb[3 * i] = out.r;
    rgb[3 * i + 1] = out.g;
    rgb[3 * i + 2] = out.b;
    alpha[i] = out.a;
  }
  return tinted;
}

}  // namespace grainforge::app
