#include "engine/textures/noise_kernels.h"

#include "tests/support/lookup3_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

namespace grainforge::mesh::procedural {
namespace {

using Kernel = std::function<float(float, float)>;

struct NamedKernel { const char* name; Kernel kernel; int periodX, periodY; };

std::vector<NamedKernel> PeriodicKernels()
{
    std::vector<NamedKernel> kernels = {
        {"value", [](float x, float y) { return PeriodicValueNoise(x, y, 5, 3, 7); }, 5, 3},
        {"gradient", [](float x, float y) { return PeriodicGradientNoise(x, y, 4, 6, 1); }, 4, 6},
        {"gradient derivatives", [](float x, float y) {
             float dx, dy;
             return PeriodicGradientNoiseDerivatives(x, y, 4, 6, 1, dx, dy) + dx + 3.0f * dy;
         }, 4, 6},
        {"fractal", [](float x, float y) { return FractalNoise(x, y, 3, 5, 2.5f, 0.6f, 2); }, 3, 5},
        {"fractal derivatives", [](float x, float y) {
             float dx, dy;
             return FractalNoiseDerivatives(x, y, 2, 2, 3.0f, 0.5f, 2, dx, dy) + dx - dy;
         }, 2, 2},
        {"cell value", [](float x, float y) { return CellValue(x, y, 4, 0.7f, 0.5f, 3); }, 4, 4},
        {"smooth contrast", [](float x, float y) { return SmoothLatticeContrast(x, y, 6, 0.4f, 9); }, 6, 6},
        {"smooth contrast, 1 cell", [](float x, float y) { return SmoothLatticeContrast(x, y, 1, 0.4f, 9); }, 1, 1},
        {"smooth contrast, 2 cells", [](float x, float y) { return SmoothLatticeContrast(x, y, 2, 0.0f, 9); }, 2, 2},
        {"smooth nearest", [](float x, float y) { return SmoothNearestDistance(x, y, 4, 2.5f, 0.9f, 1); }, 4, 4},
        {"bricks", [](float x, float y) {
             const BrickSample s = BrickLattice(x, y, 0.5f, 0.25f, 0.05f, 0.3f, 0.04f, 0.5f, 2, 12, 6, 4);
             return s.joint + 2.0f * s.value;
         }, 3, 3},
    };
    for (int output = 0; output <= 3; ++output)
        for (int metric = 0; metric <= 2; ++metric) {
            const Kernel k = [=](float x, float y) { return CellularDistance(x, y, 5, 0.8f, metric, output, 3); };
            kernels.push_back({"cellular", k, 5, 5});
        }
    return kernels;
}

TEST(TileHash, EqualsLookup3OfTheWordsWithInitialValueThirteen)
{
    std::mt19937 random(1);
    for (int i = 0; i < 1000; ++i) {
        const std::uint32_t w[3] = {i == 0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(random()),
                                    static_cast<std::uint32_t>(random()), static_cast<std::uint32_t>(random())};
        ASSERT_EQ(TileHash(w[0], w[1], w[2]), test::lookup3::HashLittle(w, 12, 13));
        ASSERT_EQ(TileHash(w[0], w[1]), test::lookup3::HashLittle(w, 8, 13));
    }
    EXPECT_EQ(HashToUnit(0xFFFFFFFFu), 1.0f) << "rounds up to exactly 1";
}

// Coordinates on a 1/256 grid stay exact when whole periods are added, so a tiling kernel
// must give the same bits there, also far out and on the negative side.
TEST(NoiseKernels, EveryPeriodicKernelRepeatsAtNegativeAndLargeCoordinates)
{
    for (const NamedKernel& k : PeriodicKernels()) {
        std::mt19937 random(static_cast<unsigned>(k.periodX * 131 + k.periodY));
        for (int trial = 0; trial < 200; ++trial) {
            const float x = float(random() % (256 * k.periodX)) / 256.0f;
            const float y = float(random() % (256 * k.periodY)) / 256.0f;
            const float v = k.kernel(x, y);
            ASSERT_TRUE(std::isfinite(v)) << k.name;
            for (int n : {1, -1, -3, 37, -4000}) {
                ASSERT_EQ(k.kernel(x + float(n * k.periodX), y), v) << k.name << " x " << x << " + " << n << " periods";
                ASSERT_EQ(k.kernel(x, y + float(n * k.periodY)), v) << k.name << " y " << y << " + " << n << " periods";
            }
        }
    }
}

TEST(NoiseKernels, GradientNoiseIsZeroOnTheLatticeAndItsDerivativesAreExact)
{
    EXPECT_EQ(PeriodicGradientNoise(3.0f, 2.0f, 8, 8, 1), 0.0f);
    std::mt19937 random(3);
    std::uniform_real_distribution<float> coordinate(-5.0f, 5.0f);
    const float h = 1e-3f;
    for (int trial = 0; trial < 200; ++trial) {
        const float x = coordinate(random), y = coordinate(random);
        const auto noise = [](float px, float py) { return double(PeriodicGradientNoise(px, py, 6, 6, 11)); };
        float dx = 0, dy = 0;
        const float v = PeriodicGradientNoiseDerivatives(x, y, 6, 6, 11, dx, dy);
        ASSERT_EQ(v, noise(x, y));
        ASSERT_LE(std::fabs(v), 1.5f);
        ASSERT_NEAR(dx, (noise(x + h, y) - noise(x - h, y)) / (2 * h), 0.02) << x << "," << y;
        ASSERT_NEAR(dy, (noise(x, y + h) - noise(x, y - h)) / (2 * h), 0.02) << x << "," << y;
        // The fractal sum's derivatives likewise.
        const auto fractal = [](float px, float py) { return double(FractalNoise(px, py, 4, 4, 2.5f, 0.6f, 5)); };
        ASSERT_EQ(FractalNoiseDerivatives(x, y, 4, 4, 2.5f, 0.6f, 5, dx, dy), fractal(x, y));
        ASSERT_NEAR(dx, (fractal(x + 2e-4f, y) - fractal(x - 2e-4f, y)) / 4e-4f, 0.05) << x << "," << y;
    }
}

TEST(NoiseKernels, FractalOctavesAndGainAreLimitedAndBlended)
{
    const float x = 1.37f, y = 2.71f;
    const auto fractal = [&](float octaves, float gain) { return FractalNoise(x, y, 4, 4, octaves, gain, 3); };
    EXPECT_EQ(fractal(0.0f, 0.5f), 0.5f * PeriodicGradientNoise(x, y, 4, 4, 3) + 0.5f);
    EXPECT_EQ(fractal(40.0f, 0.5f), fractal(15.0f, 0.5f));
    EXPECT_EQ(fractal(-2.0f, 0.5f), fractal(0.0f, 0.5f));
    EXPECT_EQ(fractal(2.5f, 0.5f), fractal(2.0f, 0.5f) + (fractal(3.0f, 0.5f) - fractal(2.0f, 0.5f)) * 0.5f);
    EXPECT_EQ(fractal(3.0f, 7.0f), fractal(3.0f, 1.0f));
    EXPECT_EQ(fractal(3.0f, -1.0f), fractal(0.0f, 0.5f)) << "gain 0 leaves only the first layer";
    EXPECT_EQ(PeriodicValueNoise(0.5f, 0.5f, 0, -2, 5), PeriodicValueNoise(0.5f, 0.5f, 1, 1, 5)) << "periods below 1";
}

TEST(NoiseKernels, CellularDistanceMatchesABruteForceSearch)
{
    std::mt19937 random(5);
    std::uniform_real_distribution<float> coordinate(-6.0f, 6.0f);
    const float jitter = 0.75f, m = 0.5f * jitter + 0.5f;
    for (int metric = 0; metric <= 2; ++metric)
        for (int trial = 0; trial < 100; ++trial) {
            const float x = coordinate(random), y = coordinate(random);
            const int cx = int(std::floor(x)), cy = int(std::floor(y));
            std::vector<float> d;
            for (int k = 0; k < 9; ++k) {
                const FeaturePoint p = CellFeaturePoint(cx, cy, k % 3 - 1, k / 3 - 1, 5, jitter, 2);
                const float ox = std::fabs(p.x - (x - float(cx))), oy = std::fabs(p.y - (y - float(cy)));
                d.push_back(metric == 1 ? ox + oy : metric == 2 ? std::max(ox, oy) : std::sqrt(ox * ox + oy * oy));
            }
            std::sort(d.begin(), d.end());
            const float normaliser = metric == 1 ? 2 * m : metric == 2 ? m : std::sqrt(2 * m * m);
            const auto cellular = [&](int output) { return CellularDistance(x, y, 5, jitter, metric, output, 2); };
            ASSERT_FLOAT_EQ(cellular(0), Clamp01(d[0] / normaliser));
            ASSERT_FLOAT_EQ(cellular(1), Clamp01((d[1] - d[0]) / normaliser));
            ASSERT_FLOAT_EQ(cellular(3), Clamp01(d[1] * d[1] - d[0] * d[0]));
            ASSERT_EQ(cellular(9), cellular(0)) << "an unknown output is the nearest distance";
        }
    for (int small : {-1, 0, 1, 2})
        EXPECT_EQ(CellularDistance(1.3f, 0.4f, small, 1.0f, 0, 0, 6), CellularDistance(1.3f, 0.4f, 3, 1.0f, 0, 0, 6));
    // On a regular grid the cell borders lie on the half-integers.
    for (const auto& [x, y, border] : {std::tuple{0.2f, 0.3f, 0.2f}, {3.1f, 7.45f, 0.05f}, {5.0f, 5.0f, 0.5f}})
        EXPECT_NEAR(CellularDistance(x, y, 16, 0.0f, 1, kBorderDistance, 0), border / 0.5f, 1e-5f) << x << "," << y;
}

TEST(NoiseKernels, ProfilesClampsAndLevels)
{
    const struct { const char* what; float got, expected; } cases[] = {
        {"saw", WaveProfile(-0.25f, 1), 0.75f},          {"triangle", WaveProfile(0.25f, 2), 0.5f},
        {"kind 7 is a sine", WaveProfile(0.5f, 7), 1.0f}, {"clamp NaN", Clamp01(NAN), 0.0f},
        {"contrast 0", ApplyContrast(0.6f, 0.0f), 0.5f},  {"1 level only clamps", QuantizeLevels(1.7f, 1), 1.0f},
        {"halves away", QuantizeLevels(0.5f, 2), 1.0f},   {"3 levels", QuantizeLevels(0.25f, 3), 0.5f},
        {"NaN levels", QuantizeLevels(NAN, 4), 0.0f},     {"clamp -infinity", Clamp01(-INFINITY), 0.0f},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(c.got, c.expected, 1e-6f) << c.what;
}

// The offset rows and the mortar's profile show in the pinned Bricks heights and the course
// count; what they cannot show is that no mortar and no bevel leave no joint anywhere.
TEST(NoiseKernels, BrickLatticeWithoutMortarOrBevelHasNoJoint)
{
    for (int k = 0; k < 33 * 33; ++k)
        ASSERT_EQ(BrickLattice(-2.0f + 0.125f * (k % 33), -1.0f + 0.0625f * (k / 33), 1, 0.5f, 0.0f, 0.5f, 0.0f, 0.0f,
                               1, 8, 8, 0).joint, 0.0f);
}

}  // namespace
}  // namespace grainforge::mesh::procedural
