#include "engine/textures/patterns_machined.h"

#include "engine/textures/noise_kernels.h"
#include "tests/support/procedural_pattern_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace grainforge::mesh::procedural {
namespace {

using testing::MakePattern;
using testing::PixelCentre;

TEST(MachinedPatterns, RandomParameterSetsGiveSoundSeamlessHeights)
{
    testing::ExpectSoundRandomRenders("Dots", 211);
    testing::ExpectSoundRandomRenders("Knurl", 212);
    testing::ExpectSoundRandomRenders("Tread Plate", 213);
}

TEST(MachinedPatterns, MidLevelsFollowContrastAndInvert)
{
    const struct {
        float contrast;
        float floor;  // "Dots" and "Tread Plate"
        float top;    // "Knurl"
    } cases[] = {{1.0f, 0.0f, 1.0f}, {2.0f, 0.0f, 1.0f}, {0.0f, 0.5f, 0.5f}, {0.5f, 0.25f, 0.75f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.contrast);
        for (const char* name : {"Dots", "Tread Plate", "Knurl"}) {
            auto pattern = MakePattern(name, {{"contrast", c.contrast}});
            const float level = std::string(name) == "Knurl" ? c.top : c.floor;
            EXPECT_EQ(pattern->MidLevel(), level) << name;
            EXPECT_EQ(pattern->MidLevelAfterInvert(), level) << name;
            pattern->SetValue("invert", 1.0f);
            EXPECT_EQ(pattern->MidLevelAfterInvert(), 1.0f - level) << name;
        }
    }
    // The floor level is what the plate between dots and bars renders at.
    auto dots = MakePattern("Dots", {{"contrast", 0.5f}});
    EXPECT_EQ(dots->Evaluate(0.0f, 0.5f / 8.0f), dots->MidLevel()) << "off every dot";
}

TEST(DotsPattern, FullSizeSquareDotsTouchAtTheCellSides)
{
    auto discs = MakePattern("Dots", {{"layout", 0.0f}, {"size", 1.0f}, {"shape", 3.0f}, {"softness", 0.0f},
                                      {"count", 4.0f}});
    // The midpoint of a cell side is on both rims: the floor, with dot just either side.
    EXPECT_EQ(discs->Evaluate(0.25f, 0.125f), 0.0f);
    EXPECT_EQ(discs->Evaluate(0.249f, 0.125f), 1.0f);
    EXPECT_EQ(discs->Evaluate(0.251f, 0.125f), 1.0f);
    // Cylinders without softness are flat discs with vertical sides: 0 or 1, nothing between.
    const std::vector<float> image = discs->RenderImage(128, 128);
    EXPECT_EQ(std::count(image.begin(), image.end(), 0.0f) + std::count(image.begin(), image.end(), 1.0f),
              static_cast<long>(image.size()));
    // Each shape peaks at its centre and falls to the floor at the rim.
    for (float shape : {0.0f, 1.0f, 2.0f, 3.0f}) {
        auto dot = MakePattern("Dots", {{"layout", 0.0f}, {"count", 4.0f}, {"shape", shape}});
        EXPECT_EQ(dot->Evaluate(0.125f, 0.375f), 1.0f) << shape;
        EXPECT_NEAR(dot->Evaluate(0.125f + 0.35f / 4.0f, 0.375f), 0.0f, 1e-4f) << shape;
    }
}

TEST(DotsDistance, StaggeredRowsRoundUpToAnEvenCount)
{
    // 7 across: 8 rows, every odd row shifted by half a dot.
    for (int r = 0; r < 8; ++r) {
        const float shift = r % 2 == 1 ? 0.5f : 0.0f;
        for (int c = 0; c < 7; ++c)
            EXPECT_NEAR(DotsDistance(1, 7, (static_cast<float>(c) + 0.5f + shift) / 7.0f,
                                     (static_cast<float>(r) + 0.5f) / 8.0f),
                        0.0f, 1e-5f)
                << c << "," << r;
    }
    EXPECT_NEAR(DotsDistance(1, 7, 0.5f / 7.0f, 1.5f / 8.0f), 0.5f, 1e-5f) << "between two shifted dots";
    // Hexagonal centres lie the spacing apart: the midpoint between neighbours is half of it.
    EXPECT_NEAR(DotsDistance(2, 5, 0.5f / 5.0f, 0.0f), 0.5f, 1e-5f);
    EXPECT_NEAR(DotsDistance(2, 5, 0.0f, 0.0f), 0.0f, 1e-6f);
}

TEST(KnurlPattern, DiamondSlopeIsRoundedToOneThatRepeats)
{
    // Angle 30 with 24 grooves: k = iround(0.57735 x 24) = 14, so 24u + 14v whole is a groove.
    auto diamond = MakePattern("Knurl");
    for (int j = 0; j <= 14; ++j)
        EXPECT_NEAR(diamond->Evaluate(0.0f, static_cast<float>(j) / 14.0f), 0.0f, 1e-5f) << j;
    EXPECT_GT(diamond->Evaluate(0.0f, 0.5f / 14.0f), 0.9f);
    // Angle 10 with 2 grooves: iround(0.35) is 0, raised to 1.
    auto shallow = MakePattern("Knurl", {{"angle", 10.0f}, {"grooves", 2.0f}});
    EXPECT_NEAR(shallow->Evaluate(0.1f, 0.8f), 0.0f, 1e-5f) << "2u + v = 1";
    EXPECT_NEAR(shallow->Evaluate(0.4f, 0.8f), 0.0f, 1e-5f) << "2u - v = 0";
}

TEST(KnurlPattern, KindsAndFlatTops)
{
    auto straight = MakePattern("Knurl", {{"kind", 1.0f}, {"grooves", 4.0f}});
    auto square = MakePattern("Knurl", {{"kind", 2.0f}, {"grooves", 4.0f}});
    EXPECT_EQ(straight->Evaluate(0.125f, 0.3f), 1.0f) << "crest between grooves at u = 0 and 1/4";
    EXPECT_EQ(straight->Evaluate(0.125f, 0.0f), 1.0f) << "ridges along the axis";
    EXPECT_EQ(square->Evaluate(0.125f, 0.0f), 0.0f) << "crossed by a groove at v = 0";
    EXPECT_EQ(square->Evaluate(0.125f, 0.125f), 1.0f);
    // Flat 0.8 truncates everything above 0.2 to the top.
    auto lands = MakePattern("Knurl", {{"kind", 1.0f}, {"grooves", 4.0f}, {"flat", 0.8f}});
    for (float t : {0.21f, 0.3f, 0.5f, 0.9f})
        EXPECT_EQ(lands->Evaluate(t * 0.125f, 0.5f), 1.0f) << "ridge " << t;
    EXPECT_NEAR(lands->Evaluate(0.1f * 0.125f, 0.5f), 0.5f, 1e-5f) << "ridge 0.1 of 0.2";
}

TEST(TreadPlatePattern, BarsCrossInACheckerboardOfEvenCells)
{
    // Count 7 lays 8 x 8 cells: every cell centre is a bar's top.
    auto plate = MakePattern("Tread Plate", {{"count", 7.0f}});
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) {
            const float cu = (static_cast<float>(i) + 0.5f) / 8.0f, cv = (static_cast<float>(j) + 0.5f) / 8.0f;
            EXPECT_EQ(plate->Evaluate(cu, cv), 1.0f) << i << "," << j;
            // A point a third of a cell out along the rising diagonal lies on the bar in even
            // cells and on the plate in odd ones.
            const float h = plate->Evaluate(cu + 0.3f / 8.0f, cv + 0.3f / 8.0f);
            if ((i + j) % 2 == 0)
                EXPECT_GT(h, 0.0f) << i << "," << j;
            else
                EXPECT_EQ(h, 0.0f) << i << "," << j;
        }
    EXPECT_EQ(plate->Evaluate(0.0f, 0.0f), 0.0f) << "cell corners are plate";
}

}  // namespace
}  // namespace grainforge::mesh::procedural
