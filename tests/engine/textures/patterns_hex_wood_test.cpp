#include "engine/textures/patterns_hex_wood.h"

#include "engine/textures/noise_kernels.h"
#include "tests/support/procedural_pattern_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace grainforge::mesh::procedural {
namespace {

using testing::MakePattern;
using testing::PixelCentre;

TEST(HexWoodPatterns, RandomParameterSetsGiveSoundSeamlessHeights)
{
    testing::ExpectSoundRandomRenders("Hex Truchet", 131);
    // At u = 1 the lattice coordinate is n (up to 24 x sqrt3) instead of 0, so it carries a
    // rounding of a few 1e-6 cells; the narrowest flat wires (0.02 wide, full height at 0.3 of
    // that) and the narrowest rings (0.02 of 1/64 of the tile) turn that into steps of a few
    // 1e-4, in about one parameter set in fifty.
    testing::ExpectSoundRandomRenders("Wire Mesh", 132, 1e-3f);
    testing::ExpectSoundRandomRenders("Wood Rings", 134, 1e-3f);
    // Timber's ring noise stacks up to ten layers at gain 1 on the figure's height, up to 512
    // times finer than the figure: the last-bit difference between x + 3.7 at u = 0 and at
    // u = 1 grows to about 1e-2 there. Without the rings the board joins like the others.
    const auto ringFreeSeam = [](const ProceduralTexture& timber) {
        const std::unique_ptr<ProceduralTexture> plain = CreateProceduralTexture("Timber");
        plain->values = timber.values;
        plain->SetValue("sharpness", 0.0f);
        return testing::LargestSeamStep(*plain, 64);
    };
    testing::ExpectSoundRandomRenders("Timber", 133, 1e-4f, ringFreeSeam);
    testing::ExpectSoundRandomRenders("Timber", 135, 0.03f);
}

TEST(HexLatticeNearest, FindsTheNearestCentreOfEitherSubLattice)
{
    std::mt19937 random(9);
    std::uniform_real_distribution<float> coordinate(-20.0f, 20.0f);
    for (int k = 0; k < 2000; ++k) {
        const float x = coordinate(random), y = coordinate(random);
        const HexCell cell = HexLatticeNearest(x, y);
        const float found = std::hypot(cell.dx, cell.dy);
        const float shift = cell.subLattice == 1 ? 0.5f : 0.0f;
        EXPECT_NEAR(kHexSpacing * (static_cast<float>(cell.i) + shift) + cell.dx, x, 1e-4f);
        EXPECT_NEAR(3.0f * (static_cast<float>(cell.j) + shift) + cell.dy, y, 1e-4f);
        // No centre of either lattice nearby is nearer.
        for (int i = -14; i <= 14; ++i)
            for (int j = -8; j <= 8; ++j)
                for (float s : {0.0f, 0.5f}) {
                    const float cx = kHexSpacing * (std::round(x / kHexSpacing) + static_cast<float>(i) + s);
                    const float cy = 3.0f * (std::round(y / 3.0f) + static_cast<float>(j) + s);
                    ASSERT_GE(std::hypot(x - cx, y - cy), found - 1e-4f) << x << "," << y;
                }
        EXPECT_LE(found, 1.0f + 1e-5f) << "inside its hexagon of circumradius 1";
    }
}

TEST(HexLatticeNearest, KeepsSubLatticeZeroOnATie)
{
    // (sqrt3 / 4, 3 / 4) is the midpoint between the centre (0, 0) of sub-lattice 0 and the
    // centre (sqrt3 / 2, 3 / 2) of sub-lattice 1; both offsets are exact in float.
    const float x = 0.25f * kHexSpacing, y = 0.75f;
    const HexCell tie = HexLatticeNearest(x, y);
    const float toZero = x * x + y * y;
    const float toOne = (x - kHexSpacing * 0.5f) * (x - kHexSpacing * 0.5f) + (y - 1.5f) * (y - 1.5f);
    ASSERT_EQ(toZero, toOne) << "the point must be an exact tie in float";
    EXPECT_EQ(tie.subLattice, 0);
    EXPECT_EQ(tie.i, 0);
    EXPECT_EQ(tie.j, 0);
    // Nudged towards the other centre, it changes sides.
    EXPECT_EQ(HexLatticeNearest(x, 0.76f).subLattice, 1);
}

// Lattice units per tile down the hexagon patterns: 3 per row pair.
TEST(HexTruchetPattern, RowPairsFollowTheCountAcrossAndTheTileRepeats)
{
    // Wire Mesh with round holes is 1 on the circle of radius 0.8660254 about every centre.
    // With 7 across there are iround(7 x 1.7320508 / 3) = 4 row pairs: the tile is 12 lattice
    // units high, so that circle crosses u = 0 at v = 0.8660254 / 12.
    auto mesh7 = MakePattern("Wire Mesh", {{"hexes", 7.0f}, {"roundness", 1.0f}, {"width", 0.05f}});
    EXPECT_NEAR(mesh7->Evaluate(0.0f, 0.8660254f / 12.0f), 1.0f, 1e-3f);
    EXPECT_LT(mesh7->Evaluate(0.0f, 0.8660254f / 9.0f), 0.5f) << "3 row pairs would put it here";
    EXPECT_LT(mesh7->Evaluate(0.0f, 0.8660254f / 15.0f), 0.5f) << "5 row pairs would put it here";
    // With 1 across, m = iround(0.577) = 1: one row pair, 3 units high.
    auto mesh1 = MakePattern("Wire Mesh", {{"hexes", 1.0f}, {"roundness", 1.0f}, {"width", 0.05f}});
    EXPECT_NEAR(mesh1->Evaluate(0.0f, 0.8660254f / 3.0f), 1.0f, 1e-3f);
    auto truchet1 = MakePattern("Hex Truchet", {{"hexes", 1.0f}});
    for (int k = 0; k < 64; ++k) {
        const float t = PixelCentre(k, 64);
        EXPECT_NEAR(truchet1->Evaluate(t, 0.0f), truchet1->Evaluate(t, 1.0f), 1e-5f);
        EXPECT_NEAR(truchet1->Evaluate(0.0f, t), truchet1->Evaluate(1.0f, t), 1e-5f);
    }
}

TEST(HexTruchetPattern, ArcsJoinTheSideMidpointsOfEveryHexagon)
{
    // Every hexagon carries three arcs of radius 1/2 about alternate corners: each side's
    // midpoint lies on one of them whichever way the hexagon turned, so the line is at its top
    // there.
    for (float seed : {0.0f, 7.0f, 311.0f}) {
        auto truchet = MakePattern("Hex Truchet", {{"hexes", 5.0f}, {"seed", seed}});
        const float m = 3.0f;  // iround(5 x 1.7320508 / 3)
        for (int i = 0; i < 5; ++i)
            for (int j = 0; j < 3; ++j)
                for (int side = 0; side < 6; ++side) {
                    const float angle = static_cast<float>(side) * 1.04719755f;
                    const float x = kHexSpacing * static_cast<float>(i) + 0.8660254f * std::cos(angle);
                    const float y = 3.0f * static_cast<float>(j) + 0.8660254f * std::sin(angle);
                    const float u = x / (5.0f * kHexSpacing), v = y / (m * 3.0f);
                    EXPECT_NEAR(truchet->Evaluate(u, v), 1.0f, 1e-3f) << i << "," << j << " side " << side;
                }
    }
    // "Flat" reaches its top already at 0.3 of the line's profile: more of the line is at 1.
    auto round = MakePattern("Hex Truchet");
    auto flat = MakePattern("Hex Truchet", {{"profile", 1.0f}});
    const std::vector<float> roundImage = round->RenderImage(64, 64), flatImage = flat->RenderImage(64, 64);
    const auto tops = [](const std::vector<float>& image) { return std::count(image.begin(), image.end(), 1.0f); };
    EXPECT_GT(tops(flatImage), 3 * tops(roundImage) + 10);
}

TEST(WireMeshPattern, NoRoundnessDrawsStraightStrutsOnTheHexagonEdges)
{
    auto straight = MakePattern("Wire Mesh", {{"hexes", 4.0f}});
    auto rings = MakePattern("Wire Mesh", {{"hexes", 4.0f}, {"roundness", 1.0f}});
    const float tileX = 4.0f * kHexSpacing, tileY = 2.0f * 3.0f;  // m = iround(2.31) = 2
    for (int k = 0; k <= 20; ++k) {
        const float s = static_cast<float>(k) / 20.0f;
        // Along the right-hand side of the hexagon about (sqrt3, 3): x = sqrt3 + 0.866.
        const float x = kHexSpacing + 0.8660254f, y = 3.0f - 0.5f + s;
        EXPECT_NEAR(straight->Evaluate(x / tileX, y / tileY), 1.0f, 1e-3f) << s;
        // Round the circle of radius 0.866 about the same centre.
        const float angle = 6.2831853f * s;
        const float cx = kHexSpacing + 0.8660254f * std::cos(angle), cy = 3.0f + 0.8660254f * std::sin(angle);
        EXPECT_NEAR(rings->Evaluate(cx / tileX, cy / tileY), 1.0f, 1e-3f) << s;
    }
    // The corner of the hexagon is on the straight strut but off the ring (0.134 outside it).
    const float cornerX = kHexSpacing + 0.8660254f, cornerY = 3.5f;
    EXPECT_NEAR(straight->Evaluate(cornerX / tileX, cornerY / tileY), 1.0f, 1e-3f);
    EXPECT_EQ(rings->Evaluate(cornerX / tileX, cornerY / tileY), 0.0f);
}

TEST(TimberPattern, FewCellsAndLongStretchStillVaryAlongTheGrain)
{
    // 2 / 32 rounds to 0 rows of cells along the grain; at least 1 keeps the figure alive.
    auto timber = MakePattern("Timber", {{"cells", 2.0f}, {"stretch", 32.0f}});
    float lowest = 1.0f, highest = 0.0f;
    for (int k = 0; k < 64; ++k) {
        const float h = timber->Evaluate(0.3f, PixelCentre(k, 64));
        lowest = std::min(lowest, h);
        highest = std::max(highest, h);
    }
    EXPECT_GT(highest - lowest, 0.05f);
    // "Horizontal" turns the board a quarter: the same heights with u and v swapped.
    auto vertical = MakePattern("Timber", {{"seed", 4.0f}});
    auto horizontal = MakePattern("Timber", {{"seed", 4.0f}, {"direction", 1.0f}});
    for (int k = 0; k < 20; ++k) {
        const float u = PixelCentre(k * 7 % 64, 64), v = PixelCentre(k * 19 % 64, 64);
        EXPECT_EQ(vertical->Evaluate(u, v), horizontal->Evaluate(v, u));
    }
}

// Wood Rings from the kernels for one setting: 14 rings, grain stretched 16 times, so the grain
// noise has 18 x 14 = 252 cells across and iround(252 / 16) = 16 along.
float WoodRingsReference(float a, float b)
{
    const float wander = 5.0f, width = 0.3f, variation = 0.8f, grain = 1.0f;
    float nx = 0, ny = 0;
    const float n = FractalNoiseDerivatives(3.0f * a, 1.0f * b, 3, 1, 3.0f, 0.5f, 0, nx, ny);  // R = iround(3 / 6) = 1
    const float t = 14.0f * a + wander * (2.0f * n - 1.0f);
    const float gx = 14.0f + 2.0f * wander * 3.0f * nx, gy = 2.0f * wander * 1.0f * ny;
    const float e = std::fabs(t - std::round(t)) / std::max(std::sqrt(gx * gx + gy * gy), 0.0001f);
    const float ring = Clamp01(1.0f - e / (0.5f * width / 14.0f));
    const int k = ((static_cast<int>(std::floor(t + 0.5f)) % 14) + 14) % 14;
    const float depth = 1.0f + variation * ((0.4f + 0.6f * HashToUnit(TileHash(k, 0, 0x9E3779B9u))) - 1.0f);
    const float g1 = PeriodicValueNoise(252.0f * a, 16.0f * b, 252, 16, 7);
    const float g2 = PeriodicValueNoise(252.0f * a, 16.0f * b, 252, 16, 11);
    const float w = (g1 + 0.2f) / 1.1f;
    const float sp = w <= 0 ? 0.0f : w >= 1 ? 1.0f : w * w * (3 - 2 * w);
    const float mA = 1 + grain * (sp - 1), mB = 1 + 0.1f * grain * (0.7f * g2 + 0.5f - 1);
    return ApplyContrast(Clamp01((1 - mA * ring * depth) * mB), 1.0f);
}

TEST(WoodRingsPattern, GrainStretchDrawsTheSpeckleIntoFibres)
{
    auto rings = MakePattern("Wood Rings", {{"fibre", 16.0f}});
    for (int k = 0; k < 64; ++k) {
        const float u = PixelCentre(k * 29 % 64, 64), v = PixelCentre(k * 11 % 64, 64);
        EXPECT_EQ(rings->Evaluate(u, v), WoodRingsReference(u, v)) << u << "," << v;
    }
}

TEST(WoodRingsPattern, RingsAreCutIntoTheBoardAndEveryNonFiniteStepGivesZero)
{
    // No wander, no grain, no variation: straight rings of full depth at whole multiples of
    // 1/N, cut to the floor on the ring line and the board at 1 between.
    auto plain = MakePattern("Wood Rings", {{"wander", 0.0f}, {"grain", 0.0f}, {"variation", 0.0f}, {"rings", 8.0f}});
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(plain->Evaluate(static_cast<float>(k) / 8.0f, 0.37f), 0.0f) << k;
        EXPECT_EQ(plain->Evaluate((static_cast<float>(k) + 0.5f) / 8.0f, 0.37f), 1.0f) << k;
    }
    for (const char* name : {"Hex Truchet", "Wire Mesh", "Timber", "Wood Rings"}) {
        auto pattern = MakePattern(name);
        for (float bad : {NAN, INFINITY, -INFINITY}) {
            const float h = pattern->Evaluate(bad, 0.5f);
            EXPECT_TRUE(std::isfinite(h) && h >= 0.0f && h <= 1.0f) << name << " " << h;
        }
    }
}

}  // namespace
}  // namespace grainforge::mesh::procedural
