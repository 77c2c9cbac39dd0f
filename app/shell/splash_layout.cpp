#include "app/shell/splash_layout.h"

#include <algorithm>
#include <cmath>
#include <system_error>

namespace grainforge::app {

PixelRect PlaceSplash(int imageWidth, int imageHeight, const PixelRect& workArea) {
  if (imageWidth <= 0 || imageHeight <= 0) return {};
  constexpr double kLargestShare = 0.8;
  const double scale = std::min({1.0, kLargestShare * workArea.width / imageWidth,
                                 kLargestShare * workArea.height / imageHeight});
  const int width = std::max(1, static_cast<int>(std::lround(imageWidth * scale)));
  const int height = std::max(1, static_cast<int>(std::lround(imageHeight * scale)));
  return {workArea.x + (workArea.width - width) / 2, workArea.y + (workArea.height - height) / 2, width, height};
}

std::filesystem::path ProgramFolder() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return program.parent_path();
}

std::filesystem::path SplashImagePath() { return ProgramFolder() / "resources" / "splash.png"; }

}  // namespace grainforge::app
