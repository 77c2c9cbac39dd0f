#pragma once

#include <filesystem>
#include <string>

namespace grainforge::app {

// A rectangle by its corner and size, in screen or client pixels.
struct AreaRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const AreaRect&) const = default;
};

// Where the splash goes on a monitor's work area: never enlarged, at most 80 % of the work area
// each way with its aspect kept, centred. Empty (width 0) for an image without pixels.
AreaRect PlaceSplash(int imageWidth, int imageHeight, const AreaRect& workArea);

// The program's resources folder followed by "splash.png".
std::filesystem::path SplashImagePath();

}  // namespace grainforge::app
