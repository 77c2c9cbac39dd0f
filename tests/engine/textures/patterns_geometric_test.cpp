#include "engine/textures/patterns_geometric.h"

#include "engine/textures/noise_kernels.h"
#include "tests/support/procedural_pattern_checks.h"

#include <gtest/gtest.h>

#include <cmath>

namespace grainforge::mesh::procedural {
namespace {

using testing::MakePattern;
using testing::PixelCentre;

TEST(GeometricPatterns, RandomParameterSetsGiveSoundSeamlessHeights)
{
    // Contour lines divide by the field's slope from forward differences 0.001 apart; at
    // u = 1 those samples carry the rounding of 1.001, which the division lifts to a few
    // 1e-4 at most. The field itself, and so Terraces and Smooth cells, join within 1e-4.
    testing::ExpectSoundRandomRenders("Contours", 301, 2e-3f);
    testing::ExpectSoundRandomRenders("Stars", 302);
    testing::ExpectSoundRandomRenders("Weave", 303);
    testing::ExpectSoundRandomRenders("Truchet", 304);

    std::mt19937 random(305);
    auto contours = MakePattern("Contours");
    for (int trial = 0; trial < 100; ++trial) {
        testing::RandomiseParameters(*contours, random);
        contours->SetValue("style", float(1 + trial % 2));
        ASSERT_LE(testing::LargestSeamStep(*contours, 64), 1e-4f) << ParametersToText(*contours);
    }
}

// The contour-lines height from the public field, step by step.
float ContourLinesReference(const ProceduralTexture& pattern, float u, float v)
{
    const float f = ContoursField(pattern, u, v);
    const float gx = (ContoursField(pattern, u + 0.001f, v) - f) / 0.001f;
    const float gy = (ContoursField(pattern, u, v + 0.001f) - f) / 0.001f;
    const float lines = std::round(pattern.GetValue("lines"));
    const float t = lines * f;
    const float g = std::max(std::max(std::sqrt(gx * gx + gy * gy), 0.0001f) * lines, 0.0001f);
    const float d = std::fabs(t - std::round(t)) / g;
    const float w = Clamp01(1.0f - d / (pattern.GetValue("width") * 0.02f + 0.002f));
    return ApplyContrast(w * w * (3 - 2 * w), pattern.GetValue("contrast"));
}

TEST(ContoursPattern, FieldAndStylesFollowTheSmoothNearestDistance)
{
    auto contours = MakePattern("Contours", {{"cells", 5.0f}, {"falloff", 2.5f}, {"seed", 3.0f}, {"contrast", 1.2f}});
    for (int k = 0; k < 20; ++k) {
        const float u = PixelCentre(k * 19 % 64, 64), v = PixelCentre(k * 7 % 64, 64);
        const float a = SmoothNearestDistance(15 * u, 15 * v, 15, 2.5f, 1.0f, 8);
        const float b = SmoothNearestDistance(5 * u, 5 * v, 5, 2.5f, 1.0f, 3);
        const float f = std::sqrt(0.66f * b + 0.34f * a);
        EXPECT_EQ(ContoursField(*contours, u, v), f);
        contours->SetValue("style", 2.0f);
        EXPECT_EQ(contours->Evaluate(u, v), ApplyContrast(Clamp01(f / 0.96f), 1.2f));
        contours->SetValue("style", 1.0f);
        EXPECT_EQ(contours->Evaluate(u, v), ApplyContrast(QuantizeLevels(Clamp01(f / 0.96f), 12), 1.2f));
        contours->SetValue("style", 0.0f);
    }
}

// The contour lines share the field's feature points between the three samples of the slope;
// the result must be the plain kernel's to the bit, for whole and fractional hardness, grids
// and scatters, and samples whose slope steps cross into the next cell.
TEST(ContoursPattern, ContourLinesMatchThePlainFieldToTheBit)
{
    std::mt19937 random(306);
    auto contours = MakePattern("Contours");
    for (int trial = 0; trial < 60; ++trial) {
        testing::RandomiseParameters(*contours, random);
        contours->SetValue("style", 0.0f);
        if (trial % 3 == 0)
            contours->SetValue("falloff", float(1 + trial % 8));
        for (int k = 0; k < 64; ++k) {
            const float u = PixelCentre(int(random() % 256), 256), v = PixelCentre(int(random() % 256), 256);
            ASSERT_EQ(contours->Evaluate(u, v), ContourLinesReference(*contours, u, v))
                << u << "," << v << "\n" << ParametersToText(*contours);
        }
    }
}

TEST(ContoursPattern, ZeroWidthStillDrawsLinesTwoThousandthsWide)
{
    auto contours = MakePattern("Contours", {{"width", 0.0f}, {"lines", 2.0f}});
    // Walk along a row to a contour (2 x field crosses a whole number), then bisect onto it.
    const float v = 0.4f;
    float lo = 0.0f, hi = 0.0f;
    for (float u = 0.0f; u < 1.0f; u += 0.002f) {
        if (std::floor(2 * ContoursField(*contours, u, v)) != std::floor(2 * ContoursField(*contours, u + 0.002f, v))) {
            lo = u;
            hi = u + 0.002f;
            break;
        }
    }
    ASSERT_LT(lo, hi) << "no contour on the row";
    const auto below = [&](float u, float level) { return 2 * ContoursField(*contours, u, v) < level; };
    const float level = std::max(std::floor(2 * ContoursField(*contours, lo, v)),
                                 std::floor(2 * ContoursField(*contours, hi, v)));
    for (int i = 0; i < 30; ++i) {
        const float mid = 0.5f * (lo + hi);
        if (below(mid, level) == below(lo, level))
            lo = mid;
        else
            hi = mid;
    }
    EXPECT_GT(contours->Evaluate(lo, v), 0.95f) << "on the contour";
    // Across the contour, along the field's slope, the line is gone 0.002 tile units out.
    const float f = ContoursField(*contours, lo, v);
    const float gx = ContoursField(*contours, lo + 0.001f, v) - f, gy = ContoursField(*contours, lo, v + 0.001f) - f;
    const float length = std::sqrt(gx * gx + gy * gy);
    EXPECT_EQ(contours->Evaluate(lo + 0.003f * gx / length, v + 0.003f * gy / length), 0.0f);
    EXPECT_EQ(contours->Evaluate(lo - 0.003f * gx / length, v - 0.003f * gy / length), 0.0f);
}

TEST(ContoursPattern, StylesOutsideTheChoicesDrawContourLines)
{
    auto lines = MakePattern("Contours");
    auto odd = MakePattern("Contours");
    const std::size_t style = 4;
    ASSERT_EQ(odd->GetParameters()[style].key, "style");
    for (float outside : {3.0f, -1.0f, 7.0f}) {
        odd->values[style] = outside;  // past the setter's clamp, as a damaged value list might hold
        for (float u : {0.1f, 0.37f, 0.9f})
            EXPECT_EQ(odd->Evaluate(u, 0.55f), lines->Evaluate(u, 0.55f)) << outside;
    }
}

TEST(StarsPattern, SharpnessOneIsAGridOfSquarePyramids)
{
    auto stars = MakePattern("Stars", {{"sharpness", 1.0f}, {"cells", 4.0f}});
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            EXPECT_EQ(stars->Evaluate((i + 0.5f) / 4, (j + 0.5f) / 4), 1.0f) << "centre " << i << "," << j;
            EXPECT_EQ(stars->Evaluate(i / 4.0f, (j + 0.3f) / 4), 0.0f) << "edge " << i << "," << j;
            // Square (Chebyshev) distance: equal heights on a square ring round the centre.
            EXPECT_NEAR(stars->Evaluate((i + 0.8f) / 4, (j + 0.5f) / 4), stars->Evaluate((i + 0.8f) / 4, (j + 0.7f) / 4),
                        1e-6f);
        }
    // A sharper star reaches further along its axes than across its diagonals.
    auto sharp = MakePattern("Stars", {{"sharpness", 3.0f}, {"cells", 4.0f}});
    EXPECT_GT(sharp->Evaluate(0.8f / 4, 0.5f / 4), sharp->Evaluate(0.8f / 4, 0.8f / 4));
}

TEST(StarsPattern, OneStepIsThePyramidAsTheQuantisationOnlyClamps)
{
    // One ring of "Steps" quantises to fewer than two levels, which leaves the pyramid itself
    // rather than a flat field.
    auto steps = MakePattern("Stars", {{"style", 2.0f}, {"rings", 1.0f}});
    auto pyramids = MakePattern("Stars");
    for (int k = 0; k < 64; ++k) {
        const float u = PixelCentre(k * 5 % 64, 64), v = PixelCentre(k * 9 % 64, 64);
        EXPECT_EQ(steps->Evaluate(u, v), pyramids->Evaluate(u, v));
    }
    // Four rings: five flat levels.
    steps->SetValue("rings", 4.0f);
    for (int k = 0; k < 64; ++k) {
        const float h = steps->Evaluate(PixelCentre(k * 5 % 64, 64), PixelCentre(k * 9 % 64, 64));
        EXPECT_NEAR(h * 3.0f, std::round(h * 3.0f), 1e-5f);
    }
}

TEST(StarsPattern, RingsFollowTheProfileAndTheTurnedLatticeOnlyRaises)
{
    auto rings = MakePattern("Stars", {{"style", 1.0f}, {"profile", 2.0f}, {"rings", 3.0f}, {"sharpness", 1.0f}});
    // On the axis through a star's centre the square distance is 2 |fract(x) - 0.5|.
    for (float x : {0.05f, 0.2f, 0.33f})
        EXPECT_EQ(rings->Evaluate(x / 4, 0.5f / 4), WaveProfile(3.0f * (2.0f * std::fabs(4 * (x / 4) - 0.5f)), 2));
    auto square = MakePattern("Stars");
    auto turned = MakePattern("Stars", {{"lattice", 1.0f}});
    int raised = 0;
    for (int i = 0; i < 64; ++i)
        for (int j = 0; j < 64; ++j) {
            const float u = PixelCentre(i, 64), v = PixelCentre(j, 64);
            ASSERT_GE(turned->Evaluate(u, v), square->Evaluate(u, v));
            raised += turned->Evaluate(u, v) > square->Evaluate(u, v) ? 1 : 0;
        }
    EXPECT_GT(raised, 500);
}

TEST(WeavePattern, ThreadsRoundUpToWholeRepeatsOfTheWeave)
{
    const struct {
        float threads, floatCount;
        int expected;
    } cases[] = {{6, 4, 8}, {6, 1, 6}, {5, 1, 6}, {9, 2, 12}, {64, 8, 64}, {2, 8, 16}};
    for (const auto& c : cases) {
        auto weave = MakePattern("Weave", {{"threads", c.threads}, {"float", c.floatCount}});
        // Along a row inside a groove of the other family, the height is 0 exactly in the
        // grooves of this one: count them.
        const float v = 0.1f / float(c.expected);
        int grooves = 0;
        bool inGroove = true;  // u = 0 starts in a groove
        for (int i = 1; i < 8192; ++i) {
            const bool zero = weave->Evaluate(PixelCentre(i, 8192), v) == 0.0f;
            grooves += zero && !inGroove ? 1 : 0;
            inGroove = zero;
        }
        EXPECT_EQ(grooves + 1, c.expected) << c.threads << " threads, float " << c.floatCount;
    }
}

TEST(WeavePattern, CrossingGroovesAreTheLowestPoints)
{
    auto weave = MakePattern("Weave", {{"round", 0.5f}});
    for (float a : {0.05f, 0.1f, 0.3f})
        for (float b : {0.05f, 0.2f, 0.3f})
            for (int i = 0; i < 6; ++i)
                EXPECT_EQ(weave->Evaluate((i + a) / 6, (2 + b) / 6), 0.0f);
    // Along a thread the over-under phase runs one sine period per two floats; the
    // neighbouring thread is shifted by one.
    EXPECT_EQ(WeaveThread(*weave, 0.5f, 3.5f),
              ((0.5f * std::sin(3.14159265f * (3.5f - 1.0f)) + 0.5f) * 0.9f + (1 - 0.9f)) *
                  (0.5f * (std::sin(3.14159265f * (0.5f - 0.36f) / (1 - 0.36f)) - 1) + 1));
}

TEST(TruchetPattern, CellsRoundUpToAnEvenCount)
{
    const struct {
        float cells;
        int expected;
    } cases[] = {{7, 8}, {6, 6}, {2, 2}, {31, 32}};
    for (const auto& c : cases) {
        // Alternating: each cell is its neighbour's mirror image, so the rings mirror about
        // every cell edge.
        auto truchet = MakePattern("Truchet", {{"cells", c.cells}, {"layout", 0.0f}});
        const float n = float(c.expected);
        for (float lx : {0.1f, 0.3f, 0.45f})
            for (float ly : {0.2f, 0.7f})
                EXPECT_NEAR(truchet->Evaluate((1 + lx) / n, ly / n), truchet->Evaluate((1 - lx) / n, ly / n), 1e-5f)
                    << c.cells << " cells";
    }
}

TEST(TruchetPattern, AlternatingIgnoresTheSeedAndScatteredDoesNot)
{
    auto first = MakePattern("Truchet", {{"layout", 0.0f}});
    auto second = MakePattern("Truchet", {{"layout", 0.0f}, {"seed", 77.0f}});
    EXPECT_EQ(first->RenderImage(64, 64), second->RenderImage(64, 64));
    first->SetValue("layout", 1.0f);
    second->SetValue("layout", 1.0f);
    EXPECT_NE(first->RenderImage(64, 64), second->RenderImage(64, 64));
    // Rings about a corner: at the cell corner (0, 0) the sine profile sits half-way up.
    auto plain = MakePattern("Truchet", {{"layout", 0.0f}, {"width", 1.0f}});
    EXPECT_NEAR(plain->Evaluate(0.0f, 0.0f), 1.0f, 1e-6f) << "sine at t = 0.5 is its crest";
}

}  // namespace
}  // namespace grainforge::mesh::procedural
