#pragma once

#include <filesystem>
#include <string>

namespace grainforge::app {

struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const PixelRect&) const = default;
};

// Where the splash goes on a monitor's work area: never enlarged, at most 80 % of the work area
// each way with its aspect kept, centred. Empty (width 0) for an image without pixels.
PixelRect PlaceSplash(int imageWidth, int imageHeight, const PixelRect& workArea);

// The folder of the running program followed by "resources/splash.png".
std::filesystem::path SplashImagePath();
// The folder of the running program (where its resources lie); empty when unknown.
std::filesystem::path ProgramFolder();

}  // namespace grainforge::app
