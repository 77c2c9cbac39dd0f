// What the Texture section says about the document's texture and the Relief section's entry
// rules: keys, titles and where the browser goes, the preview's size and tiling, the estimate
// text and which typed values are stored.
#include "app/workflow/texture_summary.h"

#include "app/workflow/relief_bodies.h"

#include <gtest/gtest.h>

namespace grainforge::app {
namespace {

TEST(TextureSummary, TitleSubtitleKeyAndTabBySource) {
  struct Case {
    TextureSummaryInput input;
    std::wstring title, subtitle;
    std::string key;
    std::optional<int> tab;
    std::string category;
  } cases[] = {
      {{false, "", L"", "", false}, L"No texture", L"Choose one below, or load an image.", "", std::nullopt, ""},
      {{true, "Bricks", L"Worn wall", "", false}, L"Bricks", L"Procedural preset: Worn wall", "Bricks|Worn wall",
       kTabProcedural, "Bricks"},
      {{true, "Noise", L"", "", false}, L"Noise", L"Procedural, edited settings", "Noise|", kTabProcedural, "Noise"},
      {{true, "", L"", "/lib/Textures/Stone/Slate.png", false}, L"Slate.png", L"Textures > Stone",
       "/lib/Textures/Stone/Slate.png", kTabTextures, "Stone"},
      {{true, "", L"", "/home/u/Slate.png", true}, L"Slate.png", L"Your image: Slate.png", "/home/u/Slate.png",
       kTabCustom, ""},
      {{true, "", L"", "/home/u/textures/a/b/Slate.png", false}, L"Slate.png", L"Image from disk",
       "/home/u/textures/a/b/Slate.png", std::nullopt, ""},
  };
  for (const Case& c : cases) {
    const TextureSummary s = DeriveTextureSummary(c.input);
    EXPECT_EQ(s.title, c.title);
    EXPECT_EQ(s.subtitle, c.subtitle);
    EXPECT_EQ(s.key, c.key);
    EXPECT_EQ(s.tab, c.tab) << s.key;
    EXPECT_EQ(s.category, c.category);
  }
  // Paths differ by case on this system, so keys keep it; "a/./b" and "a/b" are one file.
  EXPECT_NE(ImageKey("/x/Stone.png"), ImageKey("/x/stone.png"));
  EXPECT_EQ(ImageKey("/x/./Stone.png"), ImageKey("/x/Stone.png"));
}

mesh::HeightMap RampMap(int width, int height) {
  std::vector<float> pixels(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) pixels[static_cast<std::size_t>(y) * width + x] = static_cast<float>(x) / (width - 1);
  mesh::HeightMap map;
  map.SetImage(width, height, std::move(pixels));
  return map;
}

TEST(TexturePreview, SamplesEveryKthPixelKeepingTheAspect) {
  EXPECT_EQ(PreviewStep(4000, 1000), 37);
  EXPECT_EQ(PreviewStep(110, 50), 1);
  EXPECT_EQ(PreviewStep(0, 0), 1);
  const mesh::HeightMap wide = RampMap(4000, 1000);
  const PreviewImage preview = BuildImagePreview(wide);
  EXPECT_EQ(preview.width, 108);
  EXPECT_EQ(preview.height, 27);
  // Drawn centred into the 108 x 108 inside of the frame with its 4 : 1 aspect.
  EXPECT_EQ(FitPreviewRect(PixelRect{1, 1, 109, 109}, 108, 27), (PixelRect{1, 41, 109, 68}));
  // Pixel (107, 0) is source pixel 3959: 3959 / 3999 of white.
  EXPECT_EQ(preview.pixels[107], 0xFF000000u | 0xFCFCFCu);
  EXPECT_TRUE(BuildImagePreview(mesh::HeightMap{}).pixels.empty());
}

TEST(TexturePreview, TilingRepeatsOrMirrorsTheTile) {
  PreviewImage tile{2, 2, {1, 2, 3, 4}};
  const PreviewImage repeated = TilePreview(tile, false);
  ASSERT_EQ(repeated.width, 4);
  EXPECT_EQ(repeated.pixels, (std::vector<std::uint32_t>{1, 2, 1, 2, 3, 4, 3, 4, 1, 2, 1, 2, 3, 4, 3, 4}));
  const PreviewImage mirrored = TilePreview(tile, true);
  EXPECT_EQ(mirrored.pixels, (std::vector<std::uint32_t>{1, 2, 2, 1, 3, 4, 4, 3, 3, 4, 4, 3, 1, 2, 2, 1}));
  EXPECT_TRUE(TilePreview(PreviewImage{2, 2, {1}}, false).pixels.empty());
}

TEST(TexturePreview, InvertingTheLevelsAsksForANewPreview) {
  // The texture's version changes only with new pixels; the levels change the picture too.
  mesh::TextureSettings settings;
  const std::string before = PreviewSignature(settings, true);
  settings.invert = true;
  EXPECT_NE(PreviewSignature(settings, true), before);
  settings.invert = false;
  settings.whiteLevel = 0.5f;
  EXPECT_NE(PreviewSignature(settings, true), before);
  settings.whiteLevel = 1.0f;
  EXPECT_EQ(PreviewSignature(settings, true), before);
  EXPECT_NE(PreviewSignature(settings, false), before);  // "|once" without a texture
}

TEST(ReliefEntries, EstimateTextGroupsTheCount) {
  EXPECT_EQ(TriangleEstimateText(false, 5, 0.0f), L"Open a part to see how many triangles the relief makes.");
  EXPECT_EQ(TriangleEstimateText(true, 1234567, 0.0f), L"About 1,337,447 triangles.");
  EXPECT_EQ(TriangleEstimateText(true, 11, 0.0f), L"About 11 triangles.");
  EXPECT_EQ(TriangleEstimateText(true, 120000, 0.126f), L"About 130,000 triangles at 0.13 mm, the finest this part allows.");
  EXPECT_EQ(TriangleEstimateText(true, UINT64_MAX, 0.0f), L"About 18,446,744,073,709,551,615 triangles.");
  EXPECT_EQ(GroupThousands(999), L"999");
  EXPECT_EQ(GroupThousands(1000), L"1,000");
}

// The body's text for the estimate Process refuses with: the same count, and the over-limit
// sentence exactly when Process would refuse.
TEST(ReliefEntries, EstimateTextSaysWhenProcessWouldRefuse) {
  const struct {
    std::uint64_t triangles;
    float capped;
    std::uint64_t limit;
    bool over;
    const wchar_t* text;
  } cases[] = {
      {18419836, 0.0f, 18000000, true,
       L"About 18,419,836 triangles. Over the triangle limit of 18 million: Process would refuse it."},
      {18419836, 0.232f, 2500000, true,
       L"About 18,419,836 triangles at 0.23 mm, the finest this part allows. Over the triangle limit of 2.5 "
       L"million: Process would refuse it."},
      {13222098, 0.0f, 18000000, false, L"About 13,222,098 triangles."},
  };
  for (const auto& c : cases) {
    grainforge::mesh::ProcessEstimate estimate;
    estimate.triangles = c.triangles;
    estimate.cappedCellMillimetres = c.capped;
    estimate.limit = c.limit;
    estimate.overLimit = c.over;
    EXPECT_EQ(TriangleEstimateText(true, estimate), c.text);
  }
}

TEST(ReliefEntries, TypedSizesAndStrengths) {
  struct SizeCase {
    const wchar_t* text;
    std::optional<float> stored;
  } sizes[] = {
      {L"0.005", std::nullopt}, {L"0.25", 0.25f}, {L"0.3 mm", 0.3f}, {L"0", std::nullopt}, {L"-1", std::nullopt},
      {L"100001", std::nullopt}, {L"nan", std::nullopt}, {L"abc", std::nullopt}, {L"1e-50", std::nullopt},
      {L"0,5", 0.5f},  // a decimal comma is a decimal point (it used to read as 0 and be refused)
      {L"1,500.5", std::nullopt}, {L"2,5,1", std::nullopt}, {L"\u00a00,5", 0.5f},  // whole text, or refused
  };
  for (const SizeCase& c : sizes) EXPECT_EQ(TriangleSizeFromEntry(c.text), c.stored) << std::wstring(c.text);
  struct StrengthCase {
    const wchar_t* text;
    float current;
    std::optional<float> stored;
  } strengths[] = {
      {L"0", 1.0f, 0.0f}, {L"100000", 1.0f, 100000.0f}, {L"100001", 1.0f, std::nullopt},
      {L"0.6", 0.6f, std::nullopt}, {L"-0.1", 1.0f, std::nullopt}, {L"", 1.0f, std::nullopt},
      {L"2,5", 1.0f, 2.5f}, {L"1,500.5", 1.0f, std::nullopt}, {L"1.500,5", 1.0f, std::nullopt},
  };
  for (const StrengthCase& c : strengths)
    EXPECT_EQ(StrengthFromEntry(c.text, c.current), c.stored) << std::wstring(c.text);
}

// The depth beside the strength diagram fits and names its unit: 100000 mm used to show as
// "100000 m" (the last letter cut).
TEST(ReliefEntries, StrengthDepthTextNamesMetresFromAMetreUp) {
  const std::pair<float, const wchar_t*> cases[] = {
      {0.6f, L"0.6 mm"}, {999.0f, L"999 mm"}, {1000.0f, L"1 m"}, {1500.0f, L"1.5 m"},
      {100000.0f, L"100 m"}, {-1.0f, L"0 mm"},
  };
  for (const auto& [strength, text] : cases) EXPECT_EQ(StrengthDepthText(strength), text) << strength;
}

}  // namespace
}  // namespace grainforge::app
