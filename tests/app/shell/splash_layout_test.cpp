#include "app/shell/splash_layout.h"
#include "app/shell/kit/icon_files.h"

#include <gtest/gtest.h>

namespace grainforge::app {
namespace {

TEST(PlaceSplash, ShrinksLargePicturesAndCentresOnTheWorkArea) {
  struct Case {
    int width;
    int height;
    AreaRect work;
    AreaRect placed;
  };
  const Case cases[] = {
      // A small picture keeps its size, centred (integer halves).
      {600, 400, {0, 0, 1600, 1000}, {500, 300, 600, 400}},
      {601, 401, {0, 0, 1600, 1000}, {499, 299, 601, 401}},
      // Wider than 80 %: scaled by 0.8 x 1000 / 2000 = 0.4, aspect kept.
      {2000, 1000, {0, 0, 1000, 800}, {100, 200, 800, 400}},
      // Taller than 80 %: the height decides.
      {400, 1000, {0, 0, 1600, 1000}, {640, 100, 320, 800}},
      // A secondary monitor to the right, with a panel at its top.
      {600, 400, {1600, 40, 1280, 984}, {1940, 332, 600, 400}},
      // A sliver never becomes zero pixels.
      {10000, 1, {0, 0, 1000, 1000}, {100, 499, 800, 1}},
      // A picture without pixels shows nothing.
      {0, 400, {0, 0, 1600, 1000}, {0, 0, 0, 0}},
      {600, -1, {0, 0, 1600, 1000}, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PlaceSplash(c.width, c.height, c.work), c.placed) << c.width << " x " << c.height;
  }
}

TEST(SplashImagePath, LiesInTheResourcesBesideTheProgram) {
  const std::filesystem::path path = SplashImagePath();
  EXPECT_EQ(path.filename(), "splash.png");
  EXPECT_EQ(path.parent_path().filename(), "resources");
  EXPECT_EQ(path.parent_path().parent_path(), ProgramFolder());
  EXPECT_TRUE(std::filesystem::is_directory(ProgramFolder()));
}

}  // namespace
}  // namespace grainforge::app
