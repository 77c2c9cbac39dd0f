// Icon files: decoding, the two caching rules, and the names the toolbars look for.
#include <gtest/gtest.h>

#include <filesystem>

#include <wx/image.h>

#include "app/shell/kit/icon_files.h"
#include "app/shell/kit/toolbar_tint.h"
#include "tests/support/temp_folder.h"

namespace grainforge::app {
namespace {

using grainforge::test::TempFolder;
using grainforge::test::WriteAllBytes;
using grainforge::test::WriteAllText;

void WriteIcon(const std::filesystem::path& path, int width, int height) {
  if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) wxImage::AddHandler(new wxPNGHandler);
  wxImage image(width, height);
  image.InitAlpha();
  ASSERT_TRUE(image.SaveFile(wxString(path.wstring()), wxBITMAP_TYPE_PNG));
}

TEST(LoadPngFromFile, DecodesAPngAndRefusesWhatIsNotOne) {
  TempFolder folder;
  WriteIcon(folder / "good.png", 24, 16);
  WriteAllBytes(folder / "empty.png", {});
  WriteAllText(folder / "text.png", "not a picture");
  WriteAllBytes(folder / "cut.png", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13});
  const auto good = LoadPngFromFile(folder / "good.png");
  ASSERT_TRUE(good.has_value());
  EXPECT_EQ(good->GetWidth(), 24);
  EXPECT_EQ(good->GetHeight(), 16);
  EXPECT_FALSE(LoadPngFromFile(folder / "empty.png").has_value());
  EXPECT_FALSE(LoadPngFromFile(folder / "text.png").has_value());
  EXPECT_FALSE(LoadPngFromFile(folder / "cut.png").has_value());
  EXPECT_FALSE(LoadPngFromFile(folder / "absent.png").has_value());
  EXPECT_FALSE(LoadPngFromFile(folder.Path()).has_value()) << "a folder is no file";
}

TEST(IconFileCache, TheKitRemembersAMissingIconEvenAfterItsFileTurnsUp) {
  TempFolder folder;
  IconFileCache cache(folder.Path(), IconFileCache::Misses::Remember);
  EXPECT_EQ(cache.Find(L"late"), nullptr);
  WriteIcon(folder / "late.png", 8, 8);
  EXPECT_EQ(cache.Find(L"late"), nullptr);
}

TEST(IconFileCache, ToolbarsPickUpAMissingIconOnceItsFileExists) {
  TempFolder folder;
  IconFileCache cache(folder.Path(), IconFileCache::Misses::Retry, ToolbarIconFilePath);
  EXPECT_EQ(cache.Find(L"late"), nullptr);
  WriteIcon(folder / "late.png", 8, 8);
  ASSERT_NE(cache.Find(L"late"), nullptr);
}

TEST(IconFileCache, AnIconShownOnceStaysWhenItsFileIsDeleted) {
  TempFolder folder;
  WriteIcon(folder / "gone.png", 12, 12);
  for (const auto misses : {IconFileCache::Misses::Remember, IconFileCache::Misses::Retry}) {
    IconFileCache cache(folder.Path(), misses);
    const wxImage* first = cache.Find(L"gone");
    ASSERT_NE(first, nullptr);
    std::filesystem::copy_file(folder / "gone.png", folder / "keep.png",
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove(folder / "gone.png");
    EXPECT_EQ(cache.Find(L"gone"), first);
    std::filesystem::rename(folder / "keep.png", folder / "gone.png");
  }
}

TEST(ToolbarIconFilePath, TrimsTheNameAndAddsPngOnlyWithoutADot) {
  const std::filesystem::path folder = "/res";
  EXPECT_EQ(ToolbarIconFilePath(folder, L"sel_move"), std::filesystem::path("/res/sel_move.png"));
  EXPECT_EQ(ToolbarIconFilePath(folder, L"  sel_move \t"), std::filesystem::path("/res/sel_move.png"));
  EXPECT_EQ(ToolbarIconFilePath(folder, L"logo.bmp"), std::filesystem::path("/res/logo.bmp"));
  EXPECT_TRUE(ToolbarIconFilePath(folder, L"   ").empty());
  EXPECT_EQ(IconFilePath(folder, L" a.b"), std::filesystem::path("/res/ a.b.png"));
}

TEST(TintBitmap, GivesAnOpaqueIconAnAlphaChannelAt45Percent) {
  wxImage image(2, 1);
  image.SetRGB(0, 0, 0, 0, 255);
  image.SetRGB(1, 0, 255, 255, 255);
  const auto tinted = TintBitmap(image, Rgb{150, 150, 150});
  ASSERT_TRUE(tinted.has_value());
  ASSERT_TRUE(tinted->HasAlpha());
  EXPECT_EQ(tinted->GetRed(0, 0), 58);
  EXPECT_EQ(tinted->GetBlue(0, 0), 58);
  EXPECT_EQ(tinted->GetAlpha(0, 0), 115);
  EXPECT_EQ(tinted->GetGreen(1, 0), 228);
  EXPECT_FALSE(TintBitmap(wxImage(), Rgb{}).has_value());
}

}  // namespace
}  // namespace grainforge::app
