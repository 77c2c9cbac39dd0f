// The names of the images the decoders read, on every road that takes a file as an image by its
// name: a dropped file, the texture library's listing and the texture file dialog (whose
// patterns GTK matches case-sensitively). A format read on one road and refused on another
// (GIF loaded from the menu, yet "left alone" when dropped and missing from the library) is the
// fault these catch.
#include <fnmatch.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "app/document/grainforge_doc.h"
#include "app/document/texture_library.h"
#include "app/shell/frame_logic.h"
#include "app/shell/prompter.h"
#include "app/shell/shell_host.h"
#include "platform/image_decoder.h"
#include "platform/image_file_types.h"
#include "tests/support/image_fixtures.h"
#include "tests/support/temp_folder.h"

namespace grainforge::app {
namespace {

namespace fs = std::filesystem;
using platform::ImageContainer;

// Whether GTK would show the file under the dialog's first type ("Images").
bool DialogOffers(const fs::path& file) {
  const std::wstring wildcard = MakeDialogWildcard(ParseDialogFilter(kTextureImageFilter));
  const std::vector<std::wstring> patterns = ParseDialogFilter(wildcard).front().patterns;
  const std::string name = file.filename().string();
  return std::any_of(patterns.begin(), patterns.end(), [&](const std::wstring& pattern) {
    return fnmatch(std::string(pattern.begin(), pattern.end()).c_str(), name.c_str(), 0) == 0;
  });
}

TEST(ImageNames, EveryFormatTheDecodersReadIsAnImageOnEveryRoad) {
  const std::vector<std::uint8_t> grey(64, 128);
  const std::vector<std::uint8_t> png = test::EncodePng({8, 8, test::PngColour::Grey, 8, {grey.begin(), grey.end()}});
  const std::vector<std::uint8_t> jpeg = test::EncodeJpeg({8, 8, 1, grey});
  const std::vector<std::uint8_t> tiff = test::EncodeTiff({{8, 8, 1, 8, false, false, 0, false, false,
                                                            std::vector<double>(64, 128.0)}});
  const std::vector<std::uint8_t> bmp = test::EncodeBmp({8, 8, 24, false, false, std::vector<std::uint8_t>(192, 128)});
  const std::vector<std::uint8_t> gif = test::EncodeGif({8, 8, {{0, 0, 0}, {255, 255, 255}}, {std::vector<std::uint8_t>(64, 1)}});
  struct Case {
    const char* extension;
    const std::vector<std::uint8_t>& bytes;
    ImageContainer container;
  };
  const Case cases[] = {
      {".png", png, ImageContainer::Png},    {".jpg", jpeg, ImageContainer::Jpeg}, {".jpeg", jpeg, ImageContainer::Jpeg},
      {".tif", tiff, ImageContainer::Tiff},  {".tiff", tiff, ImageContainer::Tiff}, {".bmp", bmp, ImageContainer::Bmp},
      {".gif", gif, ImageContainer::Gif},
  };
  // Every container the decoders read has a name, and every name listed is tried below.
  for (ImageContainer container : {ImageContainer::Png, ImageContainer::Jpeg, ImageContainer::Tiff,
                                   ImageContainer::Bmp, ImageContainer::Gif}) {
    const auto types = platform::ImageFileTypes();
    EXPECT_TRUE(std::any_of(types.begin(), types.end(), [&](const auto& type) { return type.container == container; }))
        << static_cast<int>(container);
  }
  std::vector<std::string> tried;
  for (const Case& c : cases) tried.emplace_back(c.extension);
  EXPECT_EQ(ImageExtensions(), tried);

  test::TempFolder folder;
  const LibraryRoots roots{{folder / "program", false}, {folder / "user", true}};
  for (const Case& c : cases) {
    for (const bool upper : {false, true}) {
      std::string extension = c.extension;
      if (upper) std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char ch) {
        return static_cast<char>(std::toupper(ch));
      });
      SCOPED_TRACE(extension);
      const fs::path file = folder / "user/textures/Stone" / ("image" + extension);
      fs::create_directories(file.parent_path());
      test::WriteAllBytes(file, c.bytes);
      platform::ImageDecoder decoder;
      ASSERT_EQ(decoder.OpenFile(file), platform::ImageDecodeStatus::Ok);
      EXPECT_EQ(decoder.Header().container, c.container);

      const DroppedFiles dropped = ClassifyDroppedFiles({file});
      EXPECT_EQ(dropped.image, std::optional<fs::path>(file));
      EXPECT_TRUE(dropped.leftAlone.empty());
      const std::vector<TextureLibraryItem> listed = ScanTextureLibrary(roots, "Stone");
      EXPECT_TRUE(std::any_of(listed.begin(), listed.end(), [&](const TextureLibraryItem& item) { return item.path == file; }));
      EXPECT_TRUE(DialogOffers(file));
    }
  }
}

}  // namespace
}  // namespace grainforge::app
