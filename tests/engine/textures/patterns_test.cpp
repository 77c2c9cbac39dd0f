// What the shared checks and the heights pinned in tests/data/procedural_patterns.tsv (among
// them the patterns' shapes at telling points) cannot show: the counts the patterns round to so
// that the tile repeats, properties over whole renders, and the quirks users rely on.
#include "engine/textures/noise_kernels.h"
#include "engine/textures/patterns_hex_wood.h"
#include "engine/textures/patterns_machined.h"
#include "engine/textures/patterns_stone.h"
#include "tests/support/procedural_pattern_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

namespace grainforge::mesh::procedural {
namespace {

using testing::MakePattern;
using testing::PixelCentre;

// How many times the height turns from not-`low` to `low` along a row at v, over n samples.
template <typename Low>
int RunsAlongRow(const ProceduralTexture& pattern, float v, int n, const Low& low)
{
    int runs = 0;
    bool inRun = true;  // a run under way at u = 0 is counted by the caller
    for (int i = 1; i < n; ++i) {
        const bool now = low(pattern.Evaluate(PixelCentre(i, n), v));
        runs += now && !inRun ? 1 : 0;
        inRun = now;
    }
    return runs;
}

long CountOf(const std::vector<float>& image, float value) { return std::count(image.begin(), image.end(), value); }

// ---- Counts rounded so that the tile repeats -------------------------------------------------

TEST(PatternRounding, BrickCoursesRoundUpToTheOffsetPeriod)
{
    // Variation 1 and no mortar: each brick shows its own height, so count the courses up the tile.
    const struct { float rows, every; int courses; } cases[] = {{5, 2, 6}, {5, 1, 5}, {8, 3, 9}, {1, 4, 4}};
    for (const auto& c : cases) {
        auto bricks = MakePattern("Bricks", {{"rows", c.rows}, {"offsetEvery", c.every}, {"variation", 1.0f},
                                             {"mortar", 0.0f}, {"bevel", 0.0f}, {"bricks", 1.0f}});
        int courses = 1;
        for (int i = 1; i < 1000; ++i)
            courses += bricks->Evaluate(0.123f, PixelCentre(i, 1000)) !=
                       bricks->Evaluate(0.123f, PixelCentre(i - 1, 1000));
        EXPECT_EQ(courses, c.courses) << c.rows << " rows offset every " << c.every;
    }
}

TEST(PatternRounding, WeaveThreadsRoundUpToWholeRepeatsOfTheWeave)
{
    const struct { float threads, floatCount; int expected; } cases[] = {
        {6, 4, 8}, {6, 1, 6}, {5, 1, 6}, {9, 2, 12}, {64, 8, 64}, {2, 8, 16}};
    for (const auto& c : cases) {
        // Inside a groove of the other family the height is 0 exactly in this family's grooves.
        auto weave = MakePattern("Weave", {{"threads", c.threads}, {"float", c.floatCount}});
        const int grooves = RunsAlongRow(*weave, 0.1f / float(c.expected), 8192, [](float h) { return h == 0.0f; });
        EXPECT_EQ(grooves + 1, c.expected) << c.threads << " threads, float " << c.floatCount;
    }
}

// ---- Shapes -----------------------------------------------------------------------------------

TEST(PatternShapes, StarsStepsOfOneRingAreThePyramidItself)
{
    // One ring of "Steps" quantises to fewer than two levels, which leaves the pyramid rather
    // than a flat field; four rings give five flat levels.
    auto steps = MakePattern("Stars", {{"style", 2.0f}, {"rings", 1.0f}});
    auto pyramids = MakePattern("Stars");
    EXPECT_EQ(steps->RenderImage(64, 64), pyramids->RenderImage(64, 64));
    steps->SetValue("rings", 4.0f);
    for (const float h : steps->RenderImage(64, 64))
        EXPECT_NEAR(h * 3.0f, std::round(h * 3.0f), 1e-5f);
}

TEST(PatternShapes, ContourStylesPastTheChoicesDrawContourLines)
{
    // As a damaged value list might hold, past the setter's clamp.
    auto lines = MakePattern("Contours");
    ASSERT_EQ(lines->GetParameters()[4].key, "style");
    for (float outside : {3.0f, -1.0f}) {
        lines->values[4] = outside;
        EXPECT_EQ(lines->Evaluate(0.37f, 0.55f), MakePattern("Contours")->Evaluate(0.37f, 0.55f)) << outside;
    }
}

TEST(PatternShapes, WoodPoresDeepenWithDensityAndVanishWithoutDepth)
{
    std::vector<std::vector<float>> images;
    for (const float density : {0.0f, 0.5f, 1.0f})
        images.push_back(MakePattern("Wood Pores", {{"density", density}})->RenderImage(64, 64));
    for (std::size_t i = 0; i < images[0].size(); ++i)
        ASSERT_TRUE(images[0][i] >= images[1][i] && images[1][i] >= images[2][i]) << i;
    EXPECT_EQ(MakePattern("Wood Pores", {{"depth", 0.0f}, {"density", 1.0f}})->RenderImage(64, 64),
              std::vector<float>(64 * 64, 1.0f));
}

TEST(HexLatticeNearest, FindsTheNearestCentreByBruteForceAndKeepsSubLatticeZeroOnATie)
{
    std::mt19937 random(9);
    std::uniform_real_distribution<float> coordinate(-20.0f, 20.0f);
    for (int k = 0; k < 2000; ++k) {
        const float x = coordinate(random), y = coordinate(random);
        const HexCell cell = HexLatticeNearest(x, y);
        const float found = std::hypot(cell.dx, cell.dy), shift = cell.subLattice == 1 ? 0.5f : 0.0f;
        EXPECT_NEAR(kHexSpacing * (cell.i + shift) + cell.dx, x, 1e-4f);
        EXPECT_NEAR(3.0f * (cell.j + shift) + cell.dy, y, 1e-4f);
        EXPECT_LE(found, 1.0f + 1e-5f) << "inside its hexagon of circumradius 1";
        for (int i = -3; i <= 3; ++i)
            for (int j = -2; j <= 2; ++j)
                for (float s : {0.0f, 0.5f}) {
                    const float cx = kHexSpacing * (std::round(x / kHexSpacing) + i + s);
                    const float cy = 3.0f * (std::round(y / 3.0f) + j + s);
                    ASSERT_GE(std::hypot(x - cx, y - cy), found - 1e-4f) << x << "," << y;
                }
    }
    // The midpoint between (0, 0) and (sqrt3 / 2, 3 / 2), an exact tie in float.
    const float x = 0.25f * kHexSpacing, y = 0.75f;
    ASSERT_EQ(x * x + y * y, (x - kHexSpacing * 0.5f) * (x - kHexSpacing * 0.5f) + (y - 1.5f) * (y - 1.5f));
    const HexCell tie = HexLatticeNearest(x, y);
    EXPECT_TRUE(tie.subLattice == 0 && tie.i == 0 && tie.j == 0);
    EXPECT_EQ(HexLatticeNearest(x, 0.76f).subLattice, 1) << "nudged towards the other centre";
}

// ---- Machined levels ---------------------------------------------------------------------------

TEST(MachinedPatterns, RestLevelsFollowContrastAndInvert)
{
    const struct { float contrast, floor, top; } cases[] = {
        {1, 0, 1}, {2, 0, 1}, {0, 0.5f, 0.5f}, {0.5f, 0.25f, 0.75f}};
    for (const auto& c : cases)
        for (const char* name : {"Dots", "Tread Plate", "Knurl"}) {
            auto pattern = MakePattern(name, {{"contrast", c.contrast}});
            const float level = std::string(name) == "Knurl" ? c.top : c.floor;
            EXPECT_EQ(pattern->MidLevel(), level) << name << " " << c.contrast;
            pattern->SetValue("invert", 1.0f);
            EXPECT_EQ(pattern->MidLevelAfterInvert(), 1.0f - level) << name << " " << c.contrast;
        }
    auto dots = MakePattern("Dots", {{"contrast", 0.5f}});
    EXPECT_EQ(dots->Evaluate(0.0f, 0.5f / 8.0f), dots->MidLevel()) << "the plate off every dot";
}

// ---- Penrose ------------------------------------------------------------------------------------

struct PenroseLocal { float x, y; int kind; };

// The tile's local frame and kind at (u, v), as Penrose Tiles finds them.
PenroseLocal LocateTile(float u, float v, int levels)
{
    PenroseLocal local{(u - 0.5f) * 0.64f + 0.809017f, (v - 0.5f) * 0.64f, 0};
    local.kind = SubdividePenroseRhombi(local.x, local.y, levels);
    return local;
}

TEST(PenroseTiles, TilesMeetInTheirGroovesWithoutHeightJumps)
{
    // A wrong inflation step leaves tiles of different levels side by side, and heights jump.
    // Where the tile under the sample changes, both sides sit in the groove; crossing a
    // rhombus's own diagonal (both halves at local y = 0) changes the frame only.
    auto tiles = MakePattern("Penrose Tiles");
    int edges = 0;
    for (float v : {0.13f, 0.5f, 0.93f}) {
        PenroseLocal last = LocateTile(PixelCentre(0, 4096), v, 6);
        float lastHeight = tiles->Evaluate(PixelCentre(0, 4096), v);
        for (int i = 1; i < 4096; ++i) {
            const float u = PixelCentre(i, 4096), height = tiles->Evaluate(u, v);
            const PenroseLocal here = LocateTile(u, v, 6);
            const bool acrossDiagonal = here.y < 0.01f && last.y < 0.01f;
            if (std::fabs(here.x - last.x) + std::fabs(here.y - last.y) > 0.05f && !acrossDiagonal) {
                ++edges;
                EXPECT_LT(std::max(height, lastHeight), 0.05f) << u << "," << v;
            }
            last = here;
            lastHeight = height;
        }
    }
    EXPECT_GT(edges, 15);
}

TEST(PenroseTiles, MoreLevelsCutTheRegionIntoMoreTilesAndSunkThinTilesAreFlat)
{
    std::array<int, 11> grooves{};
    for (int levels = 3; levels <= 10; ++levels) {
        // Wide bevels keep even the finest grooves several samples wide.
        auto tiles = MakePattern("Penrose Tiles", {{"levels", float(levels)}, {"bevel", 3.0f}});
        grooves[levels] = RunsAlongRow(*tiles, 0.41f, 8192, [](float h) { return h < 0.1f; });
        if (levels > 3) {
            EXPECT_GT(grooves[levels], grooves[levels - 1]) << levels;
        }
    }
    EXPECT_NEAR(double(grooves[10]) / grooves[6], std::pow(1.618034, 4), 2.5) << "about phi more per level";
    auto sunk = MakePattern("Penrose Tiles", {{"thin", 1.0f}});
    int thin = 0;
    float highestThick = 0.0f;
    for (int i = 0; i < 64 * 64; ++i) {
        const float u = PixelCentre(i % 64, 64), v = PixelCentre(i / 64, 64);
        if (LocateTile(u, v, 6).kind >= 2) {
            ++thin;
            EXPECT_EQ(sunk->Evaluate(u, v), 0.0f) << u << "," << v;
        } else {
            highestThick = std::max(highestThick, sunk->Evaluate(u, v));
        }
    }
    EXPECT_GT(thin, 200);
    EXPECT_EQ(highestThick, 1.0f);
}

TEST(PenrosePattern, ZeroReliefStillShowsTheTilingAndTheSeedMovesTheSample)
{
    auto flat = MakePattern("Penrose", {{"groove", 0.0f}, {"pyramid", 0.0f}, {"fold", 0.0f}});
    const std::vector<float> image = flat->RenderImage(64, 64);
    const auto [low, high] = std::minmax_element(image.begin(), image.end());
    EXPECT_TRUE(*low < 0.05f && *high > 0.9f) << "the groove bottoms and the tiles' tops at the groove's floor";
    const auto grooved = std::count_if(image.begin(), image.end(), [](float h) { return h < 0.5f; });
    EXPECT_TRUE(grooved > 64 && grooved < 64 * 64 / 2) << grooved;
    const std::vector<float> seedOne = MakePattern("Penrose", {{"seed", 1.0f}})->RenderImage(48, 48);
    EXPECT_NE(MakePattern("Penrose")->RenderImage(48, 48), seedOne) << "another seed samples elsewhere in the tiling";
}

// ---- Stone, copper ------------------------------------------------------------------------------

TEST(TrabecularPattern, EmptyRaysDropToTheFloorAndSurfaceStrutsReachTheTop)
{
    // With no contrast every strut height is 0.5, but an empty ray still gives the floor.
    const std::vector<float> image =
        MakePattern("Trabecular", {{"thickness", 0.01f}, {"depth", 0.25f}, {"contrast", 0.0f}})->RenderImage(64, 64);
    EXPECT_GT(CountOf(image, 0.0f), 0);
    EXPECT_EQ(CountOf(image, 0.0f) + CountOf(image, 0.5f), static_cast<long>(image.size()));
    // Thick struts met right at the surface give the top.
    auto thick = MakePattern("Trabecular", {{"thickness", 0.25f}, {"cells", 8.0f}});
    EXPECT_GT(CountOf(thick->RenderImage(64, 64), 1.0f), 64);
}

TEST(CopperPattern, PhaseOneIsPhaseZero)
{
    // The shift is one whole period of the noise; only the rounding of the shifted sums differs.
    const std::vector<float> zero = MakePattern("Copper")->RenderImage(64, 64);
    float step = 0.0f, halfStep = 0.0f;
    for (const auto& [phase, largest] : {std::pair{1.0f, &step}, {0.5f, &halfStep}}) {
        const std::vector<float> shifted = MakePattern("Copper", {{"phase", phase}})->RenderImage(64, 64);
        for (std::size_t i = 0; i < zero.size(); ++i)
            *largest = std::max(*largest, std::fabs(zero[i] - shifted[i]));
    }
    EXPECT_LT(step, 1e-3f);
    EXPECT_GT(halfStep, 0.3f);
}

}  // namespace
}  // namespace grainforge::mesh::procedural
