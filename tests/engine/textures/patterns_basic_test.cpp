#include "engine/textures/patterns_basic.h"

#include "engine/textures/noise_kernels.h"
#include "tests/support/procedural_pattern_checks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

namespace grainforge::mesh::procedural {
namespace {

using testing::MakePattern;

// Uniform in-range parameters (the extremes of Veins and Bricks fold or step where one more
// rounding bit tips them); points on a 1/1024 grid, and the same a whole tile away.
TEST(BasicPatterns, RandomParametersGiveUnitHeightsThatRepeatEachTile)
{
    std::mt19937 random(21);
    for (const char* name : {"Noise", "Wood", "Bricks", "Cells"}) {
        SCOPED_TRACE(name);
        const std::unique_ptr<ProceduralTexture> pattern = MakePattern(name);
        for (int trial = 0; trial < 60; ++trial) {
            for (const ParameterSpec& spec : pattern->PatternParameters())
                pattern->SetValue(spec.key, std::uniform_real_distribution<float>(spec.minimum, spec.maximum)(random));
            for (int i = 0; i < 200; ++i) {
                const float u = float(random() % 1024) / 1024.0f, v = float(random() % 1024) / 1024.0f;
                const float h = pattern->Evaluate(u, v);
                ASSERT_TRUE(std::isfinite(h) && h >= 0.0f && h <= 1.0f)
                    << h << " at " << u << "," << v << " with " << ParametersToText(*pattern);
                // Shifted points round differently in float: near, not bit for bit.
                for (const auto& [du, dv] : {std::pair{1.0f, 0.0f}, {0.0f, 1.0f}, {-1.0f, -1.0f}})
                    ASSERT_NEAR(pattern->Evaluate(u + du, v + dv), h, 1e-4f) << u << "," << v << " "
                                                                              << ParametersToText(*pattern);
            }
        }
    }
}

TEST(NoisePattern, FractalLayersBandsAndVeins)
{
    const float u = 0.3125f, v = 0.71875f;
    const float x = 6 * u, y = 6 * v;
    // Detail 0 is one layer of gradient noise.
    auto plain = MakePattern("Noise", {{"detail", 0.0f}, {"seed", 5.0f}});
    EXPECT_EQ(plain->Evaluate(u, v), ApplyContrast(0.5f * PeriodicGradientNoise(x, y, 6, 6, 5) + 0.5f, 1.0f));
    const float field = FractalNoise(x, y, 6, 6, 3.0f, 0.5f, 0);
    auto bands = MakePattern("Noise", {{"shape", 1.0f}, {"bands", 2.5f}});
    EXPECT_EQ(bands->Evaluate(u, v), ApplyContrast(std::fabs(std::cos(3.14159265f * (2.5f * field))), 1.0f));
    auto veins = MakePattern("Noise", {{"shape", 2.0f}, {"bands", 1.0f}});
    const auto fraction = [](float t) { return t - std::floor(t); };
    EXPECT_EQ(veins->Evaluate(u, v),
              ApplyContrast(std::max({fraction(4 * field), fraction(2 * field), fraction(field)}), 1.0f));
    auto uniform = MakePattern("Noise", {{"kind", 1.0f}, {"spread", 0.4f}, {"softness", 0.2f}, {"scale", 9.0f}});
    EXPECT_EQ(uniform->Evaluate(u, v), ApplyContrast(CellValue(9 * u, 9 * v, 9, 0.4f, 0.2f, 0), 1.0f));
    auto blue = MakePattern("Noise", {{"kind", 2.0f}, {"softness", 0.3f}, {"contrast", 1.7f}, {"scale", 40.0f}});
    EXPECT_EQ(blue->Evaluate(u, v), ApplyContrast(SmoothLatticeContrast(40 * u, 40 * v, 40, 0.3f, 0), 1.7f));
    // One cell per tile still repeats once per tile.
    auto coarse = MakePattern("Noise", {{"scale", 1.0f}});
    EXPECT_EQ(coarse->Evaluate(0.25f, 0.5f), coarse->Evaluate(1.25f, 0.5f));
    EXPECT_NE(coarse->Evaluate(0.25f, 0.5f), coarse->Evaluate(0.75f, 0.5f));
}

TEST(WoodPattern, EndGrainRingsAreCirclesRoundTheCentre)
{
    auto wood = MakePattern("Wood", {{"direction", 2.0f}, {"wander", 0.0f}, {"fibre", 0.0f}, {"rings", 5.0f}});
    for (float r : {0.05f, 0.13f, 0.31f, 0.45f}) {
        const float expected = ApplyContrast(WaveProfile(2.0f * 5.0f * r, 1), 1.0f);
        for (float angle = 0.0f; angle < 6.28f; angle += 0.5f) {
            const float u = 0.5f + r * std::cos(angle), v = 0.5f + r * std::sin(angle);
            EXPECT_NEAR(wood->Evaluate(u, v), expected, 2e-5f) << r << " " << angle;
        }
    }
}

TEST(WoodPattern, NoWanderLeavesStraightLinesAndNoFibreSkipsTheFibreNoise)
{
    auto along = MakePattern("Wood", {{"wander", 0.0f}, {"profile", 2.0f}});  // horizontal board
    auto across = MakePattern("Wood", {{"wander", 0.0f}, {"direction", 1.0f}, {"fibre", 0.0f}});
    for (float t : {0.1f, 0.37f, 0.8f}) {
        EXPECT_EQ(across->Evaluate(t, 0.2f), across->Evaluate(t, 0.9f)) << "vertical lines depend on u only";
        EXPECT_EQ(across->Evaluate(t, 0.2f), ApplyContrast(WaveProfile(12.0f * t, 1), 1.0f));
    }
    // With fibre on, heights vary along a line, but never above the bare profile.
    std::set<float> alongLine;
    for (float u = 0.0f; u < 1.0f; u += 0.01f) {
        const float h = along->Evaluate(u, 0.3f);
        alongLine.insert(h);
        EXPECT_LE(h, ApplyContrast(WaveProfile(12.0f * 0.3f, 2), 1.0f) + 0.01f);
    }
    EXPECT_GT(alongLine.size(), 10u);
}

TEST(BricksPattern, RowsRoundUpToTheOffsetPeriod)
{
    // With variation 1 and no mortar each brick shows its own random height: count the courses
    // met going up the tile.
    const auto courses = [](float rows, float every) {
        auto bricks = MakePattern("Bricks", {{"rows", rows}, {"offsetEvery", every}, {"variation", 1.0f}, {"mortar", 0.0f},
                                      {"bevel", 0.0f}, {"bricks", 1.0f}});
        int changes = 0;
        float last = bricks->Evaluate(0.123f, 0.0005f);
        for (float v = 0.0015f; v < 1.0f; v += 0.001f) {
            const float h = bricks->Evaluate(0.123f, v);
            changes += h != last ? 1 : 0;
            last = h;
        }
        return changes + 1;
    };
    EXPECT_EQ(courses(5, 2), 6);
    EXPECT_EQ(courses(5, 1), 5);
    EXPECT_EQ(courses(8, 3), 9);
}

TEST(BricksPattern, OffsetRowsAndJoints)
{
    // One brick per course, two courses, shifted by half a brick. The joint sits where the
    // height drops to 0.
    auto everySecond = MakePattern("Bricks", {{"rows", 2.0f}, {"bricks", 1.0f}, {"offsetEvery", 2.0f}, {"bevel", 0.0f}});
    auto everyRow = MakePattern("Bricks", {{"rows", 2.0f}, {"bricks", 1.0f}, {"offsetEvery", 1.0f}, {"bevel", 0.0f}});
    // v = 0.25 is course 0, v = 0.75 course 1 (v runs up the tile).
    EXPECT_EQ(everySecond->Evaluate(0.5f, 0.25f), 0.0f) << "course 0 is shifted: its joint is mid-tile";
    EXPECT_EQ(everySecond->Evaluate(0.5f, 0.75f), 1.0f) << "course 1 is not";
    EXPECT_EQ(everySecond->Evaluate(0.0f, 0.75f), 0.0f);
    EXPECT_EQ(everyRow->Evaluate(0.5f, 0.75f), 0.0f) << "every course shifted";
    EXPECT_EQ(everyRow->Evaluate(0.5f, 0.25f), 0.0f);

    // No mortar and no bevel: no joint anywhere, the faces meet.
    auto flush = MakePattern("Bricks", {{"mortar", 0.0f}, {"bevel", 0.0f}});
    for (float u = 0.0f; u <= 1.0f; u += 1.0f / 64)
        for (float v = 0.0f; v <= 1.0f; v += 1.0f / 64)
            ASSERT_EQ(flush->Evaluate(u, v), 1.0f) << u << "," << v;
}

TEST(CellsPattern, NoRandomnessIsARegularGrid)
{
    auto cobbles = MakePattern("Cells", {{"randomness", 0.0f}, {"cells", 8.0f}});
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) {
            EXPECT_EQ(cobbles->Evaluate(i / 8.0f, j / 8.0f), 1.0f) << "a feature point on every lattice corner";
            EXPECT_NEAR(cobbles->Evaluate((i + 0.5f) / 8.0f, (j + 0.5f) / 8.0f), 0.0f, 1e-6f) << "cell corners";
        }
    auto grooves = MakePattern("Cells", {{"randomness", 0.0f}, {"cells", 8.0f}, {"feature", 2.0f}});
    EXPECT_NEAR(grooves->Evaluate(0.5f / 8.0f, 0.2f / 8.0f), 0.0f, 1e-5f) << "on the border between two cells";
    EXPECT_NEAR(grooves->Evaluate(0.0f, 0.0f), 1.0f, 1e-5f) << "half a cell from every border, over m = 0.5";
    auto crackle = MakePattern("Cells", {{"feature", 1.0f}, {"metric", 1.0f}, {"seed", 3.0f}});
    const float x = 6 * 0.4f, y = 6 * 0.7f;
    EXPECT_EQ(crackle->Evaluate(0.4f, 0.7f), ApplyContrast(CellularDistance(x, y, 6, 1.0f, 1, 1, 3), 1.0f));
}

}  // namespace
}  // namespace grainforge::mesh::procedural
