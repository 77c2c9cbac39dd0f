#include "engine/textures/patterns_mineral.h"

#include "engine/textures/noise_kernels.h"
#include "tests/support/procedural_pattern_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace grainforge::mesh::procedural {
namespace {

using testing::MakePattern;
using testing::PixelCentre;

constexpr float kPi = 3.14159265358979f;

TEST(MineralPatterns, RandomParameterSetsGiveSoundSeamlessHeights)
{
    testing::ExpectSoundRandomRenders("Penrose", 201);  // range only: it does not repeat
    testing::ExpectSoundRandomRenders("Rocks", 202);
    testing::ExpectSoundRandomRenders("Copper", 203);
}

// The Penrose sample square of seed 0 and the default relief, worked out from the kernels.
float PenroseReference(float u, float v, float contrast)
{
    const float angle = 2.0f * kPi * HashToUnit(TileHash(0u, 11u));
    const float radius = 0.4f * HashToUnit(TileHash(0u, 23u));
    const float x = radius * std::cos(angle) + 0.35f * (2.0f * u - 1.0f);
    const float y = radius * std::sin(angle) + 0.35f * (2.0f * v - 1.0f);
    const float groove = 0.1f * 0.5f + 0.02f, pyramid = 0.25f * 0.35f, fold = 0.4f * 0.5f;
    const PenroseSample sample = PenroseDescend(x, y, 6, groove, pyramid, fold);
    const float h = sample.found ? Clamp01(sample.height / (pyramid + groove + fold)) : 0.0f;
    return ApplyContrast(h, contrast);
}

TEST(PenrosePattern, SamplesASquareOfTheTilingOffsetBySeed)
{
    auto penrose = MakePattern("Penrose", {{"contrast", 1.3f}});
    for (int k = 0; k < 40; ++k) {
        const float u = PixelCentre(k * 13 % 64, 64), v = PixelCentre(k * 41 % 64, 64);
        EXPECT_EQ(penrose->Evaluate(u, v), PenroseReference(u, v, 1.3f)) << u << "," << v;
    }
    // The same seed always gives the same tile; another seed looks elsewhere in the tiling.
    auto again = MakePattern("Penrose", {{"contrast", 1.3f}});
    auto other = MakePattern("Penrose", {{"contrast", 1.3f}, {"seed", 1.0f}});
    EXPECT_EQ(penrose->RenderImage(48, 48), again->RenderImage(48, 48));
    EXPECT_NE(penrose->RenderImage(48, 48), other->RenderImage(48, 48));
    EXPECT_GT(testing::LargestSeamStep(*penrose, 64), 0.5f) << "the tile does not repeat";
}

TEST(PenrosePattern, ZeroReliefStillShowsTheTilingThroughTheGrooveFloor)
{
    auto flat = MakePattern("Penrose", {{"groove", 0.0f}, {"pyramid", 0.0f}, {"fold", 0.0f}});
    const std::vector<float> image = flat->RenderImage(64, 64);
    const auto [low, high] = std::minmax_element(image.begin(), image.end());
    EXPECT_LT(*low, 0.05f) << "the groove bottoms";
    EXPECT_GT(*high, 0.9f) << "the tiles' tops at the groove's floor of 0.02";
    const auto grooved = std::count_if(image.begin(), image.end(), [](float h) { return h < 0.5f; });
    EXPECT_GT(grooved, 64) << "a network of grooves";
    EXPECT_LT(grooved, 64 * 64 / 2) << "between flat tiles";
    // Beyond the root triangle's outer edge nothing is found: 0 before the contrast step.
    flat->SetValue("contrast", 0.5f);
    EXPECT_EQ(flat->Evaluate(3.0f, 3.0f), 0.25f);
    flat->SetValue("contrast", 1.0f);
    EXPECT_EQ(flat->Evaluate(-2.0f, 3.0f), 0.0f);
}

TEST(RocksPattern, NoWarpAndNoRandomnessIsARegularGridOfStones)
{
    auto grid = MakePattern("Rocks", {{"warp", 0.0f}, {"randomness", 0.0f}, {"grain", 0.0f}, {"cells", 5.0f}});
    auto scattered = MakePattern("Rocks", {{"warp", 0.0f}, {"grain", 0.0f}, {"cells", 5.0f}});
    float gridStep = 0.0f, scatteredStep = 0.0f;
    for (int i = 0; i < 32; ++i)
        for (int j = 0; j < 32; ++j) {
            const float u = PixelCentre(i, 160), v = PixelCentre(j, 160);  // within the first stone
            gridStep = std::max(gridStep, std::fabs(grid->Evaluate(u + 0.2f, v + 0.4f) - grid->Evaluate(u, v)));
            scatteredStep = std::max(scatteredStep,
                                     std::fabs(scattered->Evaluate(u + 0.2f, v + 0.4f) - scattered->Evaluate(u, v)));
        }
    EXPECT_LT(gridStep, 1e-5f) << "every stone the same";
    EXPECT_GT(scatteredStep, 0.05f);
}

TEST(RocksPattern, NoDetailLeavesTheTwoCoarseLayersAndNoGrainSkipsTheNoise)
{
    auto coarse = MakePattern("Rocks", {{"warp", 0.0f}, {"detail", 0.0f}, {"grain", 0.0f}, {"metric", 1.0f},
                                        {"seed", 12.0f}, {"contrast", 1.4f}, {"cells", 7.0f}});
    for (int k = 0; k < 40; ++k) {
        const float u = PixelCentre(k * 17 % 64, 64), v = PixelCentre(k * 5 % 64, 64);
        const float c0 = CellularDistance(7 * u - 0.35f, 7 * v - 0.35f, 7, 1.0f, kManhattan, kSquaredDifference, 12);
        const float c1 = CellularDistance(14 * v + 0.5f * 7, 14 * u + 0.5f * 7, 14, 1.0f, kManhattan,
                                          kSquaredDifference, 12);
        EXPECT_EQ(coarse->Evaluate(u, v), ApplyContrast(Clamp01((0.6f * c0 + 0.3f * c1) / 1.1f), 1.4f));
    }
    // Grain adds its noise on top.
    auto grained = MakePattern("Rocks", {{"warp", 0.0f}, {"detail", 0.0f}, {"grain", 1.0f}, {"metric", 1.0f},
                                         {"seed", 12.0f}, {"contrast", 1.4f}, {"cells", 7.0f}});
    EXPECT_NE(grained->RenderImage(32, 32), coarse->RenderImage(32, 32));
}

// Copper from the kernels, for the default settings except the rim.
float CopperReference(float u, float v, float ridges)
{
    const float x = 4 * u, y = 4 * v;
    const auto noise = [](float px, float py, std::uint32_t seed) { return FractalNoise(px, py, 4, 4, 5.0f, 0.5f, seed); };
    const float q1 = noise(x, y, 0), q2 = noise(x + 1, y + 1, 0);
    const float r1 = noise(x + 4 * q1, y + 4 * q2, 1), r2 = noise(x, y, 1);
    const float t1 = noise(x + 7 * r1 + 0, y + 7 * r2 + 0, 2);
    const float t2 = noise(x + 0.563f * 7 * r1 + 0, y + 0.563f * 7 * r2 + 0, 2);
    const float f = noise(x + r1 + t1, y + r2 + t2, 3);
    float p = Clamp01((0.8f * 0.5f + 0.9f) * f);
    p = Clamp01(1.9f * (p * p * p));
    const float e = 0.25f * ridges;
    if (e > 0)
        p = std::fabs(p - e) / (1 - e);
    return ApplyContrast(Clamp01(1 - Clamp01(p)), 1.0f);
}

TEST(CopperPattern, WarpsThreeTimesAndCutsPitsWithARim)
{
    for (float ridges : {0.0f, 0.5f, 1.0f}) {
        auto copper = MakePattern("Copper", {{"ridges", ridges}});
        for (int k = 0; k < 20; ++k) {
            const float u = PixelCentre(k * 23 % 64, 64), v = PixelCentre(k * 3 % 64, 64);
            EXPECT_EQ(copper->Evaluate(u, v), CopperReference(u, v, ridges)) << ridges << " " << u << "," << v;
        }
    }
}

TEST(CopperPattern, PhaseOneIsPhaseZero)
{
    // The shift is one whole period of the noise; only the rounding of the shifted sums differs.
    auto zero = MakePattern("Copper");
    auto one = MakePattern("Copper", {{"phase", 1.0f}});
    auto half = MakePattern("Copper", {{"phase", 0.5f}});
    float step = 0.0f, halfStep = 0.0f;
    for (int i = 0; i < 64; ++i)
        for (int j = 0; j < 64; ++j) {
            const float u = PixelCentre(i, 64), v = PixelCentre(j, 64);
            step = std::max(step, std::fabs(zero->Evaluate(u, v) - one->Evaluate(u, v)));
            halfStep = std::max(halfStep, std::fabs(zero->Evaluate(u, v) - half->Evaluate(u, v)));
        }
    EXPECT_LT(step, 1e-3f);
    EXPECT_GT(halfStep, 0.3f);
}

}  // namespace
}  // namespace grainforge::mesh::procedural
