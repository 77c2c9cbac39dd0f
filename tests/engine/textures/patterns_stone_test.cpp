#include "engine/textures/patterns_stone.h"

#include "engine/textures/noise_kernels.h"
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

float Smooth(float w) { return w <= 0.0f ? 0.0f : w >= 1.0f ? 1.0f : w * w * (3.0f - 2.0f * w); }
int Mod(int a, int n) { return n < 1 ? 0 : ((a % n) + n) % n; }
float Unit(int x, int y, std::uint32_t seed) { return HashToUnit(TileHash(x, y, seed)); }

TEST(StonePatterns, RandomParameterSetsGiveSoundSeamlessHeights)
{
    // At u = 1 the lattice coordinates are whole periods instead of 0 and round differently
    // in their last bits; the sharpest focus and the crispest creases turn that into steps just
    // above 1e-4 in about one parameter set in three hundred.
    testing::ExpectSoundRandomRenders("Caustic Rock", 171, 1e-3f);
    testing::ExpectSoundRandomRenders("Penrose Tiles", 172);  // range only: it does not repeat
    testing::ExpectSoundRandomRenders("Flat Rock", 173, 1e-3f);
    testing::ExpectSoundRandomRenders("Trabecular", 174);
}

// ---- Caustic Rock ------------------------------------------------------------------------------

// The caustic field worked out step by step from the gradient noise.
float CausticReference(float u, float v, int cells, int octaves, float focus, float brilliance, float contrast,
                       std::uint32_t seed)
{
    const float k = focus * 0.008f / static_cast<float>(cells);
    const int layers = std::min(octaves, 24);
    const auto period = [&](int i) {
        return std::max(static_cast<int>(std::round(std::pow(static_cast<float>(i), 1.2f) * cells)), 1);
    };
    float x = u, y = v;
    for (int pass = 0; pass < 10; ++pass) {
        float sx = 0.0f, sy = 0.0f;
        for (int i = 1; i <= layers; ++i) {
            float dx, dy;
            const float p = static_cast<float>(period(i));
            PeriodicGradientNoiseDerivatives(p * x, p * y, period(i), period(i), seed + 7919u * i, dx, dy);
            const float a = 1.0f / std::pow(static_cast<float>(i), 1.9f);
            sx += a * dx;
            sy += a * dy;
        }
        x = x - k * sx;
        y = y - k * sy;
    }
    float n = 0.0f;
    for (int i = 1; i <= layers; ++i) {
        float dx, dy;
        const float p = static_cast<float>(period(i));
        n += 1.0f / std::pow(static_cast<float>(i), 1.9f) *
             PeriodicGradientNoiseDerivatives(p * x, p * y, period(i), period(i), seed + 7919u * i, dx, dy);
    }
    const float e0 = std::exp(-2.1f * brilliance);
    const float h = brilliance >= 0.001f ? (std::exp(brilliance * (n - 0.95f)) - e0) / (1.0f - e0) : (n + 1.15f) / 2.1f;
    return ApplyContrast(Clamp01(h), contrast);
}

TEST(CausticRockPattern, FollowsTheRipplesAndTheirSlope)
{
    // Two cells: the first ripple has period 2 and the 24th iround(24^1.2 x 2) = 91.
    const struct {
        float cells, octaves, focus, brilliance, contrast, seed;
    } cases[] = {
        {8, 8, 1.0f, 1.3f, 1.0f, 0},      // the defaults
        {2, 24, 0.0f, 1.3f, 1.0f, 5},     // no focus: the bare sum of the ripples
        {16, 3, 20.0f, 0.0f, 1.7f, 998},  // the sharpest focus and the linear brightening
    };
    for (const auto& c : cases) {
        auto caustic = MakePattern("Caustic Rock", {{"cells", c.cells}, {"octaves", c.octaves}, {"focus", c.focus},
                                                    {"brilliance", c.brilliance}, {"contrast", c.contrast},
                                                    {"seed", c.seed}});
        for (int k = 0; k < 24; ++k) {
            const float u = PixelCentre(k * 37 % 64, 64), v = PixelCentre(k * 13 % 64, 64);
            EXPECT_EQ(caustic->Evaluate(u, v),
                      CausticReference(u, v, static_cast<int>(c.cells), static_cast<int>(c.octaves), c.focus,
                                       c.brilliance, c.contrast, static_cast<std::uint32_t>(c.seed)))
                << c.cells << " cells at " << u << "," << v;
        }
    }
}

// ---- Penrose Tiles ---------------------------------------------------------------------------

// The tile's local frame and kind at (u, v), as the pattern finds them.
struct PenroseLocal {
    float x, y;
    int kind;
};

PenroseLocal LocateTile(float u, float v, int levels)
{
    PenroseLocal local{(u - 0.5f) * 0.64f + 0.809017f, (v - 0.5f) * 0.64f, 0};
    local.kind = SubdividePenroseRhombi(local.x, local.y, levels);
    return local;
}

TEST(SubdividePenroseRhombi, KeepsEveryPointInsideItsTileHalf)
{
    std::mt19937 random(3);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int levels = 3; levels <= 10; ++levels) {
        int thick = 0, thin = 0;
        for (int k = 0; k < 4000; ++k) {
            const PenroseLocal t = LocateTile(unit(random), unit(random), levels);
            ASSERT_GE(t.y, -1e-3f);
            if (t.kind < 2) {
                ++thick;
                EXPECT_GE(t.x - 1.3763819f * t.y, -1e-3f);
                EXPECT_LE(t.x + 1.3763819f * t.y, 1.618034f + 1e-3f);
            } else {
                ++thin;
                EXPECT_GE(t.x - 0.3249197f * t.y, -1e-3f);
                EXPECT_LE(t.x + 0.3249197f * t.y, 0.618034f + 1e-3f);
            }
        }
        // A rhombus tiling holds phi thick tiles per thin one, each sin 72 / sin 36 larger;
        // the sample square holds enough tiles to show it from 6 levels on.
        if (levels >= 6) {
            EXPECT_NEAR(static_cast<double>(thick) / thin, 2.618, 0.3) << levels << " levels";
        }
    }
}

TEST(PenroseTilesPattern, TilesMeetAtTheirGroovesWithoutSteps)
{
    // Neighbouring tiles must agree on their shared edge: a wrong inflation step leaves tiles
    // of different levels side by side and the heights jump between them.
    auto tiles = MakePattern("Penrose Tiles");
    const int side = 1024;
    const std::vector<float> image = tiles->RenderImage(side, side);
    int jumps = 0;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x + 1 < side; ++x)
            jumps += std::fabs(image[y * side + x] - image[y * side + x + 1]) > 0.3f ? 1 : 0;
    EXPECT_EQ(jumps, 0);

    // Where the tile under the sample changes, both sides sit in the groove at the bottom;
    // crossing a rhombus's own diagonal (both halves at local y = 0) changes the frame only.
    const int samples = 4096;
    int edges = 0;
    for (float v : {0.13f, 0.29f, 0.5f, 0.71f, 0.93f}) {
        PenroseLocal last = LocateTile(PixelCentre(0, samples), v, 6);
        float lastHeight = tiles->Evaluate(PixelCentre(0, samples), v);
        for (int i = 1; i < samples; ++i) {
            const float u = PixelCentre(i, samples);
            const PenroseLocal here = LocateTile(u, v, 6);
            const float height = tiles->Evaluate(u, v);
            const bool moved = std::fabs(here.x - last.x) + std::fabs(here.y - last.y) > 0.05f;
            const bool acrossDiagonal = here.y < 0.01f && last.y < 0.01f;
            if (moved && !acrossDiagonal) {
                ++edges;
                EXPECT_LT(std::max(height, lastHeight), 0.05f) << u << "," << v;
            }
            last = here;
            lastHeight = height;
        }
    }
    EXPECT_GT(edges, 25);
}

TEST(PenroseTilesPattern, MoreLevelsCutTheSameRegionIntoMoreTiles)
{
    // The grooves crossed along a line grow by about phi per level.
    std::array<int, 11> grooves{};
    for (int levels = 3; levels <= 10; ++levels) {
        // Wide bevels keep even the finest grooves several samples wide.
        auto tiles = MakePattern("Penrose Tiles", {{"levels", static_cast<float>(levels)}, {"bevel", 3.0f}});
        bool inGroove = false;
        for (int i = 0; i < 8192; ++i) {
            const bool low = tiles->Evaluate(PixelCentre(i, 8192), 0.41f) < 0.1f;
            grooves[levels] += low && !inGroove ? 1 : 0;
            inGroove = low;
        }
        if (levels > 3) {
            EXPECT_GT(grooves[levels], grooves[levels - 1]) << levels;
        }
    }
    EXPECT_NEAR(static_cast<double>(grooves[10]) / grooves[6], std::pow(1.618034, 4), 2.5);
}

TEST(PenroseTilesPattern, FullySunkThinTilesAreFlatAndTheTileDoesNotRepeat)
{
    auto sunk = MakePattern("Penrose Tiles", {{"thin", 1.0f}});
    int thinSamples = 0;
    float highestThick = 0.0f;
    for (int i = 0; i < 64; ++i)
        for (int j = 0; j < 64; ++j) {
            const float u = PixelCentre(i, 64), v = PixelCentre(j, 64);
            if (LocateTile(u, v, 6).kind >= 2) {
                ++thinSamples;
                EXPECT_EQ(sunk->Evaluate(u, v), 0.0f) << u << "," << v;
            } else {
                highestThick = std::max(highestThick, sunk->Evaluate(u, v));
            }
        }
    EXPECT_GT(thinSamples, 200);
    EXPECT_EQ(highestThick, 1.0f);

    auto tiles = MakePattern("Penrose Tiles");
    EXPECT_GT(testing::LargestSeamStep(*tiles, 64), 0.5f);
}

// ---- Flat Rock -------------------------------------------------------------------------------

// The plates worked out exactly as described, every cell and hash in turn.
float PlatesReference(float x, float y, int period, int sharpness, std::uint32_t seed)
{
    double weights = 0.0, values = 0.0;
    float nearest2 = 3.4028235e38f, nearestValue = 0.0f;
    const int bx = static_cast<int>(std::floor(x)), by = static_cast<int>(std::floor(y));
    for (int j = by - 2; j <= by + 2; ++j)
        for (int i = bx - 2; i <= bx + 2; ++i) {
            const int ci = Mod(i, period), cj = Mod(j, period);
            const float px = static_cast<float>(i) + Unit(ci, cj, seed) + 0.3f * std::cos(static_cast<float>(cj));
            const float py =
                static_cast<float>(j) + Unit(ci, cj, seed ^ 0x9E3779B9u) + 0.3f * std::sin(static_cast<float>(ci));
            const float c = 0.5f * std::cos(6.28318531f * Unit(ci, cj, seed + 101u)) + 0.5f;
            const float d2 = (px - x) * (px - x) + (py - y) * (py - y);
            if (d2 < nearest2) {
                nearest2 = d2;
                nearestValue = c;
            }
            const double base = static_cast<double>(Smooth(1.0f - std::fabs(px - x))) *
                                static_cast<double>(Smooth(1.0f - std::fabs(py - y)));
            double w = 1.0;
            for (int k = 0; k < sharpness; ++k)
                w *= base;
            weights += w;
            values += w * c;
        }
    const double r = weights > 1e-300 ? std::max(values / weights, 0.0) : std::max<double>(nearestValue, 0.0);
    return static_cast<float>(2.0 * std::sqrt(r));
}

TEST(FlatRockPlates, EqualsThePlainSumOverAllTwentyFiveCells)
{
    // Includes sharpness 0 (every weight 1) and sharpness far beyond the table, where every
    // weight underflows and the nearest point's value is used.
    std::mt19937 random(5);
    std::uniform_real_distribution<float> coordinate(-3.0f, 70.0f);
    for (const int period : {1, 2, 8, 64})
        for (const int sharpness : {0, 2, 16, 32, 900})
            for (int k = 0; k < 300; ++k) {
                const float x = coordinate(random), y = coordinate(random);
                const std::uint32_t seed = random() % 1000;
                ASSERT_EQ(FlatRockPlates(x, y, period, sharpness, seed), PlatesReference(x, y, period, sharpness, seed))
                    << x << "," << y << " period " << period << " sharpness " << sharpness;
            }
}

TEST(FlatRockPattern, NoCrumpleIsTheBarePlatesHalved)
{
    auto bare = MakePattern("Flat Rock", {{"crumple", 0.0f}, {"plates", 5.0f}, {"sharpness", 9.0f}, {"seed", 40.0f}});
    for (int k = 0; k < 64; ++k) {
        const float u = PixelCentre(k * 23 % 64, 64), v = PixelCentre(k * 7 % 64, 64);
        EXPECT_EQ(bare->Evaluate(u, v), ApplyContrast(Clamp01(FlatRockPlates(5 * u, 5 * v, 5, 9, 40) / 2.0f), 1.0f));
    }
    // The crumpled surface reaches the whole range.
    const std::vector<float> image = MakePattern("Flat Rock")->RenderImage(64, 64);
    const auto [low, high] = std::minmax_element(image.begin(), image.end());
    EXPECT_GT(*high - *low, 0.4f);
}

// ---- Trabecular ------------------------------------------------------------------------------

// The march worked out as described: the point field per sample, the four nearest points
// per step, and the radius noise straight from TrabecularValueNoise3.
float TrabecularReference(float u, float v, int period, float thickness, float depth, float roughness, float contrast,
                          std::uint32_t seed)
{
    const float rmax = (roughness + 1.0f) * thickness;
    const float x = period * u, y = period * v;
    const int layers = static_cast<int>(std::ceil(depth)) + 3;
    float h2[7][9], pz[7][9];
    for (int c = 0; c < 9; ++c) {
        const int cx = static_cast<int>(std::floor(x)) + c % 3 - 1, cy = static_cast<int>(std::floor(y)) + c / 3 - 1;
        const int wx = Mod(cx, period), wy = Mod(cy, period);
        for (int z = 0; z < layers; ++z) {
            const std::uint32_t w = (static_cast<std::uint32_t>(z - 1) * 0x9E3779B9u) ^ seed;
            const float hx = static_cast<float>(cx) + Unit(wx, wy, w) - x;
            const float hy = static_cast<float>(cy) + Unit(wx, wy, w ^ 0x51ED270Bu) - y;
            h2[z][c] = hx * hx + hy * hy;
            pz[z][c] = static_cast<float>(z - 1) + Unit(wx, wy, w ^ 0x2545F491u);
        }
    }
    const auto distance = [&](float t) {
        std::array<float, 4> s = {1e9f, 1e9f, 1e9f, 1e9f};
        const int first = static_cast<int>(std::floor(t));
        for (int z = first; z <= first + 2; ++z)
            if (z >= 0 && z < layers)
                for (int c = 0; c < 9; ++c) {
                    const float d2 = h2[z][c] + (pz[z][c] - t) * (pz[z][c] - t);
                    if (d2 < s[3]) {
                        s[3] = d2;
                        std::sort(s.begin(), s.end());
                    }
                }
        const float a = std::sqrt(s[2]) - std::sqrt(s[0]), b = std::sqrt(s[3]) - std::sqrt(s[0]);
        return a + b > 0.0f ? a * b / (a + b) : 0.0f;
    };
    const auto hit = [&](float t, float d) {
        if (d >= rmax)
            return false;
        float r = thickness;
        if (roughness > 0.0f) {
            float n = 0.0f;
            for (int o = 0; o < 4; ++o) {
                const float f = 10.0f * static_cast<float>(1 << o);
                n += std::pow(0.5f, static_cast<float>(o + 1)) *
                     TrabecularValueNoise3(f * x, f * y, f * t, 10 * period * (1 << o), seed + 1000u + o);
            }
            n = n / 0.9375f;
            r = ((2.0f * n - 1.0f) * roughness + 1.0f) * thickness;
        }
        return r > d;
    };
    float t = 0.0f, m = 0.0f;
    while (t < depth) {
        const float d = distance(t);
        if (hit(t, d)) {
            if (t > 0.0f)
                for (int i = 0; i < 10; ++i) {
                    const float mid = (m + t) / 2.0f;
                    (hit(mid, distance(mid)) ? t : m) = mid;
                }
            return ApplyContrast(Clamp01(1.0f - t / depth), contrast);
        }
        m = t;
        t = t + (d <= rmax ? 0.003f : std::max((d - rmax) / 2.0f, roughness > 0.0f ? 0.003f : 0.0001f));
    }
    return 0.0f;
}

TEST(TrabecularPattern, MarchesToTheFirstStrutAsDescribed)
{
    const struct {
        float cells, thickness, depth, roughness, contrast, seed;
    } cases[] = {
        {4, 0.06f, 2.5f, 0.5f, 1.0f, 0},       // the defaults
        {3, 0.03f, 4.0f, 0.0f, 1.3f, 17},      // smooth struts, the deepest view: 7 layers
        {16, 0.25f, 0.25f, 1.0f, 0.6f, 999},   // thick and rough, the shallowest view
        {2, 0.01f, 3.3f, 0.2f, 2.0f, 5},       // thin struts, mostly floor
    };
    for (const auto& c : cases) {
        auto trabecular = MakePattern("Trabecular", {{"cells", c.cells}, {"thickness", c.thickness}, {"depth", c.depth},
                                                     {"roughness", c.roughness}, {"contrast", c.contrast},
                                                     {"seed", c.seed}});
        for (int k = 0; k < 150; ++k) {
            const float u = PixelCentre(k * 37 % 128, 128), v = PixelCentre(k * 91 % 128, 128);
            ASSERT_EQ(trabecular->Evaluate(u, v),
                      TrabecularReference(u, v, static_cast<int>(c.cells), c.thickness, c.depth, c.roughness,
                                          c.contrast, static_cast<std::uint32_t>(c.seed)))
                << c.cells << " cells at " << u << "," << v;
        }
    }
}

TEST(TrabecularPattern, EmptyRaysDropToTheFloorAndSurfaceStrutsReachTheTop)
{
    // With no contrast every strut height is 0.5, but an empty ray still gives the floor.
    auto flat = MakePattern("Trabecular", {{"thickness", 0.01f}, {"depth", 0.25f}, {"contrast", 0.0f}});
    const std::vector<float> image = flat->RenderImage(64, 64);
    const auto floor = std::count(image.begin(), image.end(), 0.0f);
    const auto struts = std::count(image.begin(), image.end(), 0.5f);
    EXPECT_GT(floor, 0);
    EXPECT_EQ(floor + struts, static_cast<long>(image.size()));

    // Thick struts met right at the surface give height 1 before contrast.
    auto thick = MakePattern("Trabecular", {{"thickness", 0.25f}, {"cells", 8.0f}});
    const std::vector<float> top = thick->RenderImage(64, 64);
    EXPECT_GT(std::count(top.begin(), top.end(), 1.0f), 64);
    thick->SetValue("contrast", 0.6f);
    const std::vector<float> softened = thick->RenderImage(64, 64);
    for (std::size_t i = 0; i < top.size(); ++i) {
        if (top[i] == 1.0f) {
            ASSERT_EQ(softened[i], ApplyContrast(1.0f, 0.6f));
        }
    }
}

TEST(TrabecularValueNoise3, RepeatsAcrossButNotDown)
{
    std::mt19937 random(2);
    float largestDownStep = 0.0f;
    for (int k = 0; k < 500; ++k) {
        // Whole cells plus a dyadic fraction, so that adding the period is exact.
        const float x = static_cast<float>(random() % 40) + static_cast<float>(random() % 256) / 256.0f;
        const float y = static_cast<float>(random() % 40) + static_cast<float>(random() % 256) / 256.0f;
        const float z = static_cast<float>(random() % 40) + static_cast<float>(random() % 256) / 256.0f;
        const float n = TrabecularValueNoise3(x, y, z, 7, 3);
        ASSERT_GE(n, 0.0f);
        ASSERT_LE(n, 1.0f);
        EXPECT_EQ(TrabecularValueNoise3(x + 7.0f, y - 7.0f, z, 7, 3), n);
        largestDownStep = std::max(largestDownStep, std::fabs(TrabecularValueNoise3(x, y, z + 7.0f, 7, 3) - n));
    }
    EXPECT_GT(largestDownStep, 0.3f);
}

}  // namespace
}  // namespace grainforge::mesh::procedural
