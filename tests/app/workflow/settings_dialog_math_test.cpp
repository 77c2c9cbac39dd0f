#include "app/workflow/dialogs/settings_dialog_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/document/grainforge_doc.h"
#include "app/workflow/dialogs/dialog_document_edits.h"
#include "engine/textures/procedural_registry.h"
#include "engine/textures/seamless_method.h"
#include "tests/app/document/document_fixture.h"

namespace grainforge::app {
namespace {

namespace mesh = grainforge::mesh;
using mesh::procedural::MakeChoiceParameter;
using mesh::procedural::MakeFloatParameter;
using mesh::procedural::MakeIntParameter;

TEST(TextureDialogLevels, NoHeightMapGivesNeutralLevelsNotPercentilesOfNothing) {
  // The percentiles of an empty list are both 0, which would show (and on OK store, with auto
  // levels on) a white level of 0.
  const TextureDialogLevels levels = MakeTextureDialogLevels(mesh::HeightMap{});
  EXPECT_TRUE(levels.histogram.empty());
  EXPECT_EQ(levels.autoBlackLevel, 0.0f);
  EXPECT_EQ(levels.autoWhiteLevel, 1.0f);
}

TEST(TextureDialogLevels, HistogramAndPercentilesOfTheImage) {
  mesh::HeightMap ramp;
  std::vector<float> pixels(101);
  for (int i = 0; i <= 100; ++i) pixels[static_cast<std::size_t>(i)] = static_cast<float>(i) / 100.0f;
  ramp.SetImage(101, 1, pixels);
  const TextureDialogLevels levels = MakeTextureDialogLevels(ramp);
  EXPECT_FLOAT_EQ(levels.autoBlackLevel, 0.01f);  // k = 100 x 0.01 + 0.5, truncated
  EXPECT_FLOAT_EQ(levels.autoWhiteLevel, 0.99f);
  ASSERT_EQ(levels.histogram.size(), 256u);
  EXPECT_EQ(levels.histogram[0], 1);    // 0.00
  EXPECT_EQ(levels.histogram[2], 1);    // 0.01 x 256 = 2.56
  EXPECT_EQ(levels.histogram[255], 1);  // 1.0 lands in the last bin, not past it

  // Out-of-range and NaN heights stay inside the bins; a flat image has no automatic levels.
  mesh::HeightMap odd;
  odd.SetImage(2, 2, {-3.0f, 7.0f, std::numeric_limits<float>::quiet_NaN(), 0.5f});
  const TextureDialogLevels flat = MakeTextureDialogLevels(odd);
  int total = 0;
  for (int count : flat.histogram) total += count;
  EXPECT_EQ(total, 4);
  mesh::HeightMap grey;
  grey.SetImage(2, 2, {0.5f, 0.5f, 0.5f, 0.5f});
  const TextureDialogLevels greyLevels = MakeTextureDialogLevels(grey);
  EXPECT_EQ(greyLevels.autoBlackLevel, 0.0f);
  EXPECT_EQ(greyLevels.autoWhiteLevel, 1.0f);
}

TEST(TextureDialogOk, RefusesUnusableSizesAndGammaAndTidiesTheRest) {
  struct Case {
    const char* what;
    float width, height, gamma, blur;
    bool lock;
    float aspect;
    const wchar_t* refusal;  // null when accepted
    float storedHeight, storedBlur;
  };
  const Case cases[] = {
      {"width 0 refused", 0.0f, 10.0f, 1.0f, 0.0f, false, 1.0f, kTextureSizeRefusal, 0, 0},
      {"negative height refused", 10.0f, -1.0f, 1.0f, 0.0f, false, 1.0f, kTextureSizeRefusal, 0, 0},
      {"NaN width refused", std::nanf(""), 10.0f, 1.0f, 0.0f, false, 1.0f, kTextureSizeRefusal, 0, 0},
      {"gamma 0 refused", 10.0f, 10.0f, 0.0f, 0.0f, false, 1.0f, kGammaRefusal, 0, 0},
      {"negative blur stored as 0", 10.0f, 12.0f, 1.0f, -2.0f, false, 1.0f, nullptr, 12.0f, 0.0f},
      {"locked aspect 2: width 40 gives height 20", 40.0f, 33.0f, 1.0f, 0.5f, true, 2.0f, nullptr, 20.0f, 0.5f},
      {"unlocked keeps the typed height", 40.0f, 33.0f, 1.0f, 0.5f, false, 2.0f, nullptr, 33.0f, 0.5f},
  };
  for (const Case& c : cases) {
    mesh::TextureSettings s;
    s.widthMillimetres = c.width;
    s.heightMillimetres = c.height;
    s.gamma = c.gamma;
    s.blurMillimetres = c.blur;
    s.lockAspect = c.lock;
    const TextureOkResult result = CheckTextureSettings(s, c.aspect);
    if (c.refusal != nullptr) {
      EXPECT_FALSE(result.accepted) << c.what;
      EXPECT_EQ(result.refusal, c.refusal) << c.what;
      continue;
    }
    ASSERT_TRUE(result.accepted) << c.what;
    EXPECT_FLOAT_EQ(result.settings.heightMillimetres, c.storedHeight) << c.what;
    EXPECT_FLOAT_EQ(result.settings.blurMillimetres, c.storedBlur) << c.what;
  }
}

TEST(TextureDialogTexts, AspectAndSeamlessLine) {
  EXPECT_FLOAT_EQ(TextureAspectInUse(2.0f, 30.0f, 30.0f), 2.0f);
  EXPECT_FLOAT_EQ(TextureAspectInUse(0.0f, 30.0f, 15.0f), 2.0f);
  EXPECT_FLOAT_EQ(TextureAspectInUse(0.0f, 30.0f, 0.0f), 1.0f);
  EXPECT_FLOAT_EQ(TextureAspectInUse(0.0f, -30.0f, 15.0f), 1.0f);
  EXPECT_EQ(SeamlessLineText(true, "Mirror"), L"Seamless: not needed");
  EXPECT_EQ(SeamlessLineText(false, "Cross-fade"), L"Seamless: Cross-fade");
  EXPECT_EQ(SeamlessLineText(false, "Unchanged"), L"Seamless: unchanged");
  EXPECT_EQ(SeamlessLineText(false, ""), L"Seamless: unchanged");
}

// The texture dialog's sizes are the tile on the part: the set size at the projection's zoom.
TEST(TextureDialogTileSize, ShownAtTheZoomTheTileIsLaidAtAndTakenBackExactly) {
  const struct {
    const char* name;
    std::wstring typed;
    std::wstring shown;
    float zoom;
    float expected;
  } cases[] = {
      {"untouched field keeps the stored size", L"85.2", L"85.2", 2.84f, 30.0f},
      {"typed size on the part", L"56.8", L"85.2", 2.84f, 20.0f},
      {"unreadable text keeps the size", L"abc", L"85.2", 2.84f, 30.0f},
      {"no zoom", L"40", L"30", 1.0f, 40.0f},
  };
  for (const auto& c : cases)
    EXPECT_NEAR(TileSizeTaken(c.typed, c.shown, 30.0f, c.zoom), c.expected, 1e-4f) << c.name;
  EXPECT_FLOAT_EQ(TileSizeShown(30.0f, 2.84f), 85.2f);

  mesh::Projection projection;
  mesh::TextureSettings settings;
  for (mesh::ProjectionLayer& layer : projection.layers) layer.zoom = 1.5f;
  projection.layers[3].zoom = 2.0f;
  EXPECT_FLOAT_EQ(TileZoomOnPart(projection, settings), 1.5f);  // all sides: the first
  projection.activeLayer = 3;
  EXPECT_FLOAT_EQ(TileZoomOnPart(projection, settings), 2.0f);
  projection.layers[3].zoom = 0.0f;
  EXPECT_FLOAT_EQ(TileZoomOnPart(projection, settings), 1.0f);
}

// Whole tiles round a cylinder: the zoom the part gets is the fitted one.
TEST(TextureDialogTileSize, WholeTilesRoundACylinderShowTheFittedTile) {
  test::DocumentFixture f;
  f.WithCube();
  mesh::Projection projection = f.doc->projection;
  projection.type = mesh::ProjectionKind::Cylinder;
  projection.cylinderWholeTiles = 1;
  mesh::TextureSettings settings = f.doc->heightMap.settings;
  settings.tiles = true;
  settings.widthMillimetres = 7.0f;
  settings.heightMillimetres = 7.0f;
  const mesh::SideTiling tiling = mesh::ComputeTileFrame(projection, settings, 0);
  ASSERT_EQ(tiling.wholeTiles, 1);
  EXPECT_FLOAT_EQ(TileZoomOnPart(projection, settings), tiling.fittedZoom);
  EXPECT_NEAR(TileSizeShown(settings.widthMillimetres, TileZoomOnPart(projection, settings)),
              tiling.fittedTileMillimetres, 1e-3f);
}

TEST(MappingDialogOk, SharpnessClampedAndGridChoiceDefaulted) {
  EXPECT_FLOAT_EQ(ReadBlendSharpness(L"0.5", 4.0f), 1.0f);
  EXPECT_FLOAT_EQ(ReadBlendSharpness(L"40", 4.0f), 16.0f);
  EXPECT_FLOAT_EQ(ReadBlendSharpness(L"7.5", 4.0f), 7.5f);
  EXPECT_FLOAT_EQ(ReadBlendSharpness(L"sharp", 6.0f), 6.0f);
  EXPECT_FLOAT_EQ(ReadBlendSharpness(L"", 6.0f), 6.0f);
  EXPECT_FLOAT_EQ(ReadBlendSharpness(L"1e39", 6.0f), 6.0f);
  EXPECT_EQ(TestGridChoiceIndex(128), 0);
  EXPECT_EQ(TestGridChoiceIndex(512), 2);
  EXPECT_EQ(TestGridChoiceIndex(300), 1);  // not offered: 256
}

TEST(ParameterSlider, IntegerStepsRealThousandths) {
  const auto patches = MakeIntParameter("n", "N", 3, 64, 4, "");
  const auto percent = MakeFloatParameter("p", "P", 0.0f, 45.0f, 20.0f, "", 0.1f);
  const auto flat = MakeFloatParameter("f", "F", 2.0f, 2.0f, 2.0f, "", 0.1f);
  EXPECT_EQ(ParameterSliderSteps(patches), 61);
  EXPECT_EQ(ParameterSliderSteps(percent), 1000);
  EXPECT_EQ(ParameterSliderSteps(MakeChoiceParameter("c", "C", {"a", "b"}, 0, "")), 1000);
  EXPECT_EQ(ParameterSliderPosition(patches, 10.0f), 7);
  EXPECT_EQ(ParameterSliderPosition(percent, 22.5f), 500);
  EXPECT_EQ(ParameterSliderPosition(percent, 99.0f), 1000);
  EXPECT_EQ(ParameterSliderPosition(percent, std::nanf("")), 0);
  EXPECT_EQ(ParameterSliderPosition(flat, 2.0f), 0);
  EXPECT_FLOAT_EQ(ParameterSliderValue(patches, 61), 64.0f);
  EXPECT_FLOAT_EQ(ParameterSliderValue(percent, 500), 22.5f);
}

// Every value a row's slider, a hold to the limits or a project's reading gives is one the row
// takes back as it shows it: the Mortar width slider at its end showed "0.45" and OK refused it
// as outside "0 to 0.449999988" (the float 0.45 read as a double); so did a project's mortar=5
// held to 0.45. Over every pattern and seamless method of the registry, at both ends.
TEST(ParameterRows, EveryValueASliderOrAHoldGivesIsOneTheRowTakes) {
  std::vector<std::unique_ptr<mesh::procedural::ParameterSet>> sets;
  for (const std::string& name : mesh::procedural::ProceduralTextureNames())
    sets.push_back(mesh::procedural::CreateProceduralTexture(name));
  for (const std::string& name : mesh::seamless::SeamlessMethodNames())
    sets.push_back(mesh::seamless::CreateSeamlessMethod(name));
  int rows = 0;
  for (const auto& set : sets) {
    ASSERT_NE(set, nullptr);
    for (const mesh::procedural::ParameterSpec& spec : set->GetParameters()) {
      if (spec.kind != mesh::procedural::ParameterKind::Real && spec.kind != mesh::procedural::ParameterKind::Integer)
        continue;
      ++rows;
      const std::pair<const char*, float> made[] = {
          {"slider at its start", ParameterSliderValue(spec, 0)},
          {"slider at its end", ParameterSliderValue(spec, ParameterSliderSteps(spec))},
          {"held from above", 1e30f},
          {"held from below", -1e30f},
          {"read from a project", static_cast<float>(std::strtod("5", nullptr))},
      };
      for (const auto& [how, value] : made) {
        ASSERT_TRUE(set->SetValue(spec.key, value));
        const float stored = set->GetValue(spec.key);
        const std::wstring shown = FormatDialogFloat(stored);
        EXPECT_EQ(ParameterTypedValue(spec, shown), stored)
            << set->Name() << " " << spec.label << " " << how << ": " << ParameterRefusalText(spec, shown);
      }
    }
  }
  EXPECT_GT(rows, 50);
}

// A pattern or seamless row reads its whole text: "1,500.5" used to be taken as 1 and held to
// the range, "inf" reset the value to its default, "1e30" became the largest value without a
// word at OK; a text outside the range or holding no number is refused now, as every field
// refuses it, and the value is not touched.
TEST(ParameterRows, WholeTextIsTakenOrRefusedAndSaid) {
  const auto overlap = MakeFloatParameter("percent", "Overlap", 0.0f, 45.0f, 20.0f, "", 0.1f);
  const struct {
    const wchar_t* typed;
    std::optional<float> value;
    const wchar_t* said;
  } cases[] = {
      {L"30,5", 30.5f, L""},
      {L"99", std::nullopt, L"Overlap must be from 0 to 45."},
      {L"1e30", std::nullopt, L"Overlap must be from 0 to 45."},
      {L"1,500.5", std::nullopt, L"Overlap must be a number from 0 to 45. Type it without thousands separators."},
      {L"1,500", std::nullopt,
       L"Overlap must be a number from 0 to 45. Type 1.5: a comma before three digits could be either."},
      {L"inf", std::nullopt, L"Overlap must be from 0 to 45."},
      {L"", std::nullopt, L"Overlap must be from 0 to 45."},
      {L"2 mm", std::nullopt,
       L"Overlap must be a number from 0 to 45. It takes a plain number, without \"mm\"."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParameterTypedValue(overlap, c.typed), c.value) << std::wstring(c.typed);
    EXPECT_EQ(ParameterRefusalText(overlap, c.typed), c.said) << std::wstring(c.typed);
  }
  // A label naming its unit: the unit may follow the number, and the refusal names the field without it.
  const auto percent = MakeFloatParameter("percent", "Overlap (%)", 0.0f, 45.0f, 20.0f, "", 0.1f);
  EXPECT_EQ(ParameterTypedValue(percent, L"30 %"), 30.0f);
  EXPECT_EQ(ParameterRefusalText(percent, L"99%"), L"Overlap must be from 0 to 45 %.");
  EXPECT_EQ(ParameterTypedValue(percent, L"2 mm"), std::nullopt);
  // A count took "2.5" and showed (and saved in a preset) 3; it is refused where it is typed.
  const auto every = MakeIntParameter("offsetEvery", "Offset every", 1, 4, 2, "");
  EXPECT_EQ(ParameterTypedValue(every, L"2.5"), std::nullopt);
  EXPECT_EQ(ParameterRefusalText(every, L"2.5"), L"Offset every must be a whole number from 1 to 4.");
  EXPECT_EQ(ParameterTypedValue(every, L"3"), 3.0f);
}

TEST(SeamlessReducedCopy, FactorKeepsSidesWithin512) {
  struct Case {
    int width, height, factor, reducedWidth, reducedHeight;
  };
  const Case cases[] = {{2048, 1024, 4, 512, 256}, {513, 10, 2, 256, 5}, {512, 512, 1, 512, 512},
                        {1, 1, 1, 1, 1},           {5000, 1, 10, 500, 1}};
  for (const Case& c : cases) {
    const ReducedImage r = MakeReducedCopy(
        std::vector<float>(static_cast<std::size_t>(c.width) * static_cast<std::size_t>(c.height), 0.25f), c.width, c.height);
    EXPECT_EQ(r.factor, c.factor) << c.width << "x" << c.height;
    EXPECT_EQ(r.width, c.reducedWidth) << c.width << "x" << c.height;
    EXPECT_EQ(r.height, c.reducedHeight) << c.width << "x" << c.height;
    EXPECT_EQ(r.heights.size(), static_cast<std::size_t>(r.width) * static_cast<std::size_t>(r.height));
  }
  EXPECT_EQ(ReducedCopyFactor(2'000'000'000, 1), 3'906'250);  // no overflow near int's end
  EXPECT_TRUE(MakeReducedCopy({0.5f, 0.5f}, 3, 1).heights.empty());
  EXPECT_TRUE(MakeReducedCopy({}, 0, 0).heights.empty());
}

TEST(SeamlessReducedCopy, EachValueIsItsBlocksMean) {
  // 1030 x 1: k = 3; the first block holds 0, 1, 2.
  std::vector<float> row(1030);
  for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<float>(i);
  const ReducedImage r = MakeReducedCopy(row, 1030, 1);
  ASSERT_EQ(r.width, 343);
  EXPECT_FLOAT_EQ(r.heights[0], 1.0f);
  EXPECT_FLOAT_EQ(r.heights[342], 1027.0f);
}

TEST(SeamlessTiledPreview, TwoByTwoAndMirroredFlipsEveryOtherTile) {
  // 3 x 2 image: side 4 shows one tile and a column across, two tiles down.
  const std::vector<float> image = {0.0f, 0.2f, 1.0f, 0.4f, 0.6f, 2.0f};
  const TiledPreview plain = MakeTiledPreview(image, 3, 2, false);
  const TiledPreview mirrored = MakeTiledPreview(image, 3, 2, true);
  ASSERT_EQ(plain.side, 4);
  const auto grey = [](const TiledPreview& p, int x, int y) {
    return static_cast<int>(p.pixels[static_cast<std::size_t>(y * p.side + x)] & 0xFFu);
  };
  EXPECT_EQ(plain.pixels[0], 0xFF000000u);
  EXPECT_EQ(grey(plain, 2, 0), 255);   // 1.0
  EXPECT_EQ(grey(plain, 2, 1), 255);   // 2.0 clamped
  EXPECT_EQ(grey(plain, 1, 0), 51);    // 0.2
  EXPECT_EQ(grey(plain, 3, 0), 0);     // second tile across starts again
  EXPECT_EQ(grey(mirrored, 3, 0), 255);  // ...but mirrored reads from the right
  EXPECT_EQ(grey(plain, 0, 2), 0);     // second tile down, first row
  EXPECT_EQ(grey(mirrored, 0, 2), 102);  // mirrored reads the bottom row first
  EXPECT_TRUE(MakeTiledPreview(image, 2, 2, false).pixels.empty());
  // A 512 x 256 reduced copy gives a 512 square: one tile across, two down.
  EXPECT_EQ(MakeTiledPreview(std::vector<float>(512 * 256), 512, 256, false).side, 512);
}

// ---- What the dialogs do to the document ---------------------------------------------------

TEST(MappingDialogEdits, OkWithoutAChangeLeavesTheDocumentAlone) {
  test::DocumentFixture f;
  f.doc->SetModifiedFlag(false);
  EXPECT_FALSE(ApplyMappingValues(*f.doc, MappingValuesFromDocument(*f.doc)));
  EXPECT_FALSE(f.doc->IsModified());
}

TEST(MappingDialogEdits, WholeTilesGoToTheKindsOwnField) {
  struct Case {
    mesh::ProjectionKind kind;
    std::uint8_t cylinder, sphere;
  };
  const Case cases[] = {{mesh::ProjectionKind::Cylinder, 0, 1},
                        {mesh::ProjectionKind::Sphere, 1, 0},
                        {mesh::ProjectionKind::Plane, 0, 0}};
  for (const Case& c : cases) {
    test::DocumentFixture f;
    f.doc->projection.type = c.kind;
    MappingDialogValues values = MappingValuesFromDocument(*f.doc);
    EXPECT_EQ(values.blendAvailable, c.kind == mesh::ProjectionKind::Sphere);
    values.wholeTiles = false;
    values.testGridCells = 512;
    EXPECT_TRUE(ApplyMappingValues(*f.doc, values));
    EXPECT_EQ(f.doc->projection.cylinderWholeTiles, c.cylinder);
    EXPECT_EQ(f.doc->projection.sphereWholeTiles, c.sphere);
    EXPECT_EQ(f.doc->surfaceTestCells, 512);
  }
}

TEST(TextureDialogEdits, OnlyChangedSettingsAreApplied) {
  test::DocumentFixture f;
  f.GiveTexture();
  f.doc->SetModifiedFlag(false);
  const TextureDialogInput input = TextureInputFromDocument(*f.doc);
  EXPECT_TRUE(input.imagePresent);
  EXPECT_FLOAT_EQ(input.imageAspect, 1.0f);
  EXPECT_FALSE(ApplyTextureDialogSettings(*f.doc, input.settings));
  EXPECT_FALSE(f.doc->IsModified());
  mesh::TextureSettings wider = input.settings;
  wider.widthMillimetres = 42.0f;
  EXPECT_TRUE(ApplyTextureDialogSettings(*f.doc, wider));
  EXPECT_FLOAT_EQ(f.doc->heightMap.settings.widthMillimetres, 42.0f);
}

TEST(SeamlessDialogEdits, TheSameValuesInLongerTextAreNoChange) {
  test::DocumentFixture f;
  f.GiveTexture();
  mesh::TextureSettings crossFade = f.doc->heightMap.settings;
  crossFade.seamlessMethod = "Cross-fade";
  crossFade.seamlessParameters.clear();  // defaults
  f.doc->ApplyTextureSettings(crossFade);
  auto method = mesh::seamless::CreateSeamlessMethod("Cross-fade");
  method->ResetToDefaults();
  EXPECT_FALSE(ApplySeamlessChoice(*f.doc, "Cross-fade", mesh::procedural::ParametersToText(*method)));
  EXPECT_TRUE(f.doc->heightMap.settings.seamlessParameters.empty());
  EXPECT_TRUE(ApplySeamlessChoice(*f.doc, "Mirror", ""));
  EXPECT_EQ(f.doc->heightMap.settings.seamlessMethod, "Mirror");
}

}  // namespace
}  // namespace grainforge::app
