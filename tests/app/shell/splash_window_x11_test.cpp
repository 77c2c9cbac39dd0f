#include "app/shell/splash_window.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <wx/display.h>
#include <wx/frame.h>
#include <wx/image.h>

#include "app/shell/splash_layout.h"
#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app {
namespace {

using tessary::test::PumpFor;

class TempFolder {
public:
  TempFolder() : path_(std::filesystem::temp_directory_path() / "tessary_splash_x11") {
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& Path() const { return path_; }

private:
  std::filesystem::path path_;
};

// A picture with a transparent border around an opaque middle.
std::filesystem::path WritePicture(const std::filesystem::path& folder, int width, int height) {
  wxImage image(width, height);
  image.SetRGB(wxRect(0, 0, width, height), 58, 123, 213);
  image.InitAlpha();
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool border = x < 10 || y < 10 || x >= width - 10 || y >= height - 10;
      image.SetAlpha(x, y, border ? 0 : 255);
    }
  }
  const std::filesystem::path path = folder / ("splash_" + std::to_string(width) + ".png");
  EXPECT_TRUE(image.SaveFile(wxString(path.native()), wxBITMAP_TYPE_PNG));
  return path;
}

TEST(SplashX11, AMissingOrBrokenPictureShowsNothing) {
  TempFolder folder;
  wxFrame* splash = nullptr;
  EXPECT_FALSE(ShowSplash(splash, folder.Path() / "resources" / "splash.png"));
  EXPECT_EQ(splash, nullptr);

  const std::filesystem::path broken = folder.Path() / "broken.png";
  std::ofstream(broken) << "not a picture";
  EXPECT_FALSE(ShowSplash(splash, broken));
  EXPECT_EQ(splash, nullptr);

  const std::filesystem::path empty = folder.Path() / "empty.png";
  std::ofstream(empty).flush();
  EXPECT_FALSE(ShowSplash(splash, empty));
  EXPECT_FALSE(ShowSplash(splash, folder.Path()));  // a folder is no picture
  EXPECT_EQ(splash, nullptr);
  CloseSplash(splash);  // nothing to close
}

TEST(SplashX11, ShowsOnceCentredOnTheWorkArea) {
  TempFolder folder;
  wxFrame* splash = nullptr;
  ASSERT_TRUE(ShowSplash(splash, WritePicture(folder.Path(), 400, 300)));
  ASSERT_NE(splash, nullptr);
  PumpFor(std::chrono::milliseconds(150));
  const wxRect work = wxDisplay(0u).GetClientArea();
  const AreaRect expected = PlaceSplash(400, 300, {work.x, work.y, work.width, work.height});
  EXPECT_EQ(splash->GetSize(), wxSize(400, 300));
  EXPECT_EQ(splash->GetPosition(), wxPoint(expected.x, expected.y));
  EXPECT_EQ(splash->GetTitle(), wxS("Tessary"));

  // The second call finds the window and makes no other.
  wxFrame* first = splash;
  EXPECT_TRUE(ShowSplash(splash, folder.Path() / "missing.png"));
  EXPECT_EQ(splash, first);
  CloseSplash(splash);
  EXPECT_EQ(splash, nullptr);
  PumpFor(std::chrono::milliseconds(20));
}

TEST(SplashX11, ALargePictureIsShrunkToTheWorkArea) {
  TempFolder folder;
  wxFrame* splash = nullptr;
  ASSERT_TRUE(ShowSplash(splash, WritePicture(folder.Path(), 3000, 1500)));
  const wxRect work = wxDisplay(0u).GetClientArea();
  const wxSize size = splash->GetSize();
  EXPECT_LE(size.x, work.width * 8 / 10 + 1);
  EXPECT_LE(size.y, work.height * 8 / 10 + 1);
  EXPECT_NEAR(static_cast<double>(size.x) / size.y, 2.0, 0.01);
  CloseSplash(splash);
  PumpFor(std::chrono::milliseconds(20));
}

TEST(SplashX11, TheProgramsOwnPictureShows) {
  const char* data = std::getenv("TESSARY_TEST_DATA");
  ASSERT_NE(data, nullptr);
  const std::filesystem::path picture = std::filesystem::path(data) / ".." / ".." / "resources" / "splash.png";
  wxFrame* splash = nullptr;
  ASSERT_TRUE(ShowSplash(splash, picture));
  PumpFor(std::chrono::milliseconds(200));
  const std::filesystem::path shot = std::filesystem::current_path() / "splash.png";
  EXPECT_TRUE(tessary::test::WindowShot::Save(splash, shot.string()));
  std::printf("screenshot: %s\n", shot.c_str());
  CloseSplash(splash);
  PumpFor(std::chrono::milliseconds(20));
}

}  // namespace
}  // namespace grainforge::app
