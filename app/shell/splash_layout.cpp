#include "app/shell/splash_layout.h"

#include "app/shell/kit/icon_files.h"

#include <algorithm>
#include <cmath>
#include <system_error>

namespace grainforge::app {

AreaRect PlaceSplash(int imageWidth, int imageHeight, const AreaRect& workArea) {
  if (imageWidth <= 0 || imageHeight <= 0) return {};
  constexpr double kLargestShare = 0.8;
  const double scale = std::min({1.0, kLargestShare * workArea.width / imageWidth,
                                 kLargestShare * workArea.height / imageHeight});
  const int width = std::max(1, static_cast<int>(std::lround(imageWidth * scale)));
  const int height = std::max(1, static_cast<int>(std::lround(imageHeight * scale)));
  return {workArea.x + (workArea.width - width) / 2, workArea.y + (workArea.height - height) / 2, width, height};
}

std::filesystem::path SplashImagePath() { return ResourcesFolder() / "splash.png"; }

}  // namespace grainforge::app
