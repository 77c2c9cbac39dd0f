#include "engine/textures/noise_kernels.h"

#include "tests/support/lookup3_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

namespace grainforge::mesh::procedural {
namespace {

std::uint32_t ReferenceWordHash(std::initializer_list<std::uint32_t> words)
{
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t w : words)
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
    return test::lookup3::HashLittle(bytes.data(), bytes.size(), 13);
}

TEST(TileHash, EqualsLookup3OfTheWordsWithInitialValueThirteen)
{
    // The reference first reproduces the published hash values.
    const char* text = "Four score and seven years ago";
    ASSERT_EQ(test::lookup3::HashLittle(text, 0, 0), 0xdeadbeefu);
    ASSERT_EQ(test::lookup3::HashLittle(text, 30, 0), 0x17770551u);
    ASSERT_EQ(test::lookup3::HashLittle(text, 30, 1), 0xcd628161u);
    std::mt19937 random(1);
    std::vector<std::array<std::uint32_t, 3>> words = {{0, 0, 0}, {0xFFFFFFFF, 1, 2}, {7, 0xFFFFFFF9, 999}};
    for (int i = 0; i < 1000; ++i)
        words.push_back({static_cast<std::uint32_t>(random()), static_cast<std::uint32_t>(random()),
                         static_cast<std::uint32_t>(random())});
    for (const auto& w : words) {
        ASSERT_EQ(TileHash(w[0], w[1], w[2]), ReferenceWordHash({w[0], w[1], w[2]}));
        ASSERT_EQ(TileHash(w[0], w[1]), ReferenceWordHash({w[0], w[1]}));
    }
    static_assert(TileHash(1, 2, 3) == TileHash(1u, 2u, 3u), "usable at compile time");
}

TEST(TileHash, UnitValueSpansZeroToOne)
{
    EXPECT_EQ(HashToUnit(0), 0.0f);
    EXPECT_EQ(HashToUnit(0xFFFFFFFFu), 1.0f) << "rounds up to exactly 1";
    EXPECT_EQ(HashToUnit(0x80000000u), 0.5f);
    EXPECT_EQ(HashToUnit(12345), static_cast<float>(12345u) * 2.3283064e-10f);
}

TEST(CellFeaturePoint, JitterScattersWithinTheNeighbourCell)
{
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const FeaturePoint still = CellFeaturePoint(5, -3, dx, dy, 7, 0.0f, 42);
            EXPECT_EQ(still.x, float(dx));
            EXPECT_EQ(still.y, float(dy));
            const FeaturePoint moved = CellFeaturePoint(5, -3, dx, dy, 7, 1.0f, 42);
            EXPECT_GE(moved.x, float(dx));
            EXPECT_LE(moved.x, float(dx + 1));
            // The cell wraps: base cell 5 + dx against 5 + dx - 7.
            const FeaturePoint wrapped = CellFeaturePoint(-2, 4, dx, dy, 7, 1.0f, 42);
            EXPECT_EQ(moved.x, wrapped.x);
            EXPECT_EQ(moved.y, wrapped.y);
        }
    // The second coordinate hashes the swapped indices with the salted seed.
    const FeaturePoint p = CellFeaturePoint(2, 3, 0, 0, 10, 0.5f, 9);
    EXPECT_EQ(p.x, 0.5f * HashToUnit(TileHash(2, 3, 9)));
    EXPECT_EQ(p.y, 0.5f * HashToUnit(TileHash(3, 2, 9 ^ 0x9E3779B9u)));
    const FeaturePoint noPeriod = CellFeaturePoint(2, 3, 1, 1, 0, 1.0f, 9);
    EXPECT_EQ(noPeriod.x, 1.0f + HashToUnit(TileHash(0, 0, 9)));
}

// Coordinates on a 1/256 grid stay exact when whole periods are added, so a tiling kernel
// must give bit-identical values there, also far out and on the negative side.
using Kernel = std::function<float(float, float)>;

void ExpectPeriodic(const char* name, const Kernel& kernel, int periodX, int periodY)
{
    std::mt19937 random(static_cast<unsigned>(periodX * 131 + periodY));
    for (int trial = 0; trial < 200; ++trial) {
        const float x = float(random() % (256 * periodX)) / 256.0f;
        const float y = float(random() % (256 * periodY)) / 256.0f;
        const float v = kernel(x, y);
        ASSERT_TRUE(std::isfinite(v)) << name;
        for (int k : {1, -1, -3, 37, -4000}) {
            ASSERT_EQ(kernel(x + float(k * periodX), y), v) << name << " x " << x << " + " << k << " periods";
            ASSERT_EQ(kernel(x, y + float(k * periodY)), v) << name << " y " << y << " + " << k << " periods";
        }
    }
}

TEST(NoiseKernels, EveryPeriodicKernelRepeatsAtNegativeAndLargeCoordinates)
{
    ExpectPeriodic("value", [](float x, float y) { return PeriodicValueNoise(x, y, 5, 3, 7); }, 5, 3);
    ExpectPeriodic("gradient", [](float x, float y) { return PeriodicGradientNoise(x, y, 4, 6, 1); }, 4, 6);
    ExpectPeriodic("gradient dx", [](float x, float y) {
        float dx, dy;
        PeriodicGradientNoiseDerivatives(x, y, 4, 6, 1, dx, dy);
        return dx + 3.0f * dy;
    }, 4, 6);
    ExpectPeriodic("fractal", [](float x, float y) { return FractalNoise(x, y, 3, 5, 2.5f, 0.6f, 2); }, 3, 5);
    ExpectPeriodic("fractal derivatives", [](float x, float y) {
        float dx, dy;
        return FractalNoiseDerivatives(x, y, 2, 2, 3.0f, 0.5f, 2, dx, dy) + dx - dy;
    }, 2, 2);
    for (int output = 0; output <= 3; ++output)
        for (int metric = 0; metric <= 2; ++metric)
            ExpectPeriodic("cellular", [=](float x, float y) {
                return CellularDistance(x, y, 5, 0.8f, metric, output, 3);
            }, 5, 5);
    ExpectPeriodic("cell value", [](float x, float y) { return CellValue(x, y, 4, 0.7f, 0.5f, 3); }, 4, 4);
    ExpectPeriodic("smooth contrast", [](float x, float y) { return SmoothLatticeContrast(x, y, 6, 0.4f, 9); }, 6, 6);
    ExpectPeriodic("smooth nearest", [](float x, float y) { return SmoothNearestDistance(x, y, 4, 2.5f, 0.9f, 1); }, 4, 4);
    ExpectPeriodic("lattice contrast", [](float x, float y) {
        return LatticeContrast(static_cast<int>(std::floor(x)), static_cast<int>(std::floor(y)), 5, 4);
    }, 5, 5);
}

TEST(NoiseKernels, ValueNoiseTakesTheCornerHashesAtLatticePoints)
{
    for (int x = -3; x < 3; ++x)
        for (int y = -3; y < 3; ++y) {
            const int wx = (x % 4 + 4) % 4, wy = (y % 2 + 2) % 2;
            EXPECT_EQ(PeriodicValueNoise(float(x), float(y), 4, 2, 5), HashToUnit(TileHash(wx, wy, 5)));
        }
    EXPECT_EQ(PeriodicValueNoise(0.5f, 0.5f, 0, -2, 5), PeriodicValueNoise(0.5f, 0.5f, 1, 1, 5))
        << "periods below 1 act as 1";
}

TEST(NoiseKernels, GradientNoiseIsZeroOnTheLatticeAndItsDerivativesAreExact)
{
    EXPECT_EQ(PeriodicGradientNoise(3.0f, 2.0f, 8, 8, 1), 0.0f);
    std::mt19937 random(3);
    std::uniform_real_distribution<float> coordinate(-5.0f, 5.0f);
    for (int trial = 0; trial < 200; ++trial) {
        const float x = coordinate(random), y = coordinate(random);
        float dx = 0, dy = 0;
        const float v = PeriodicGradientNoiseDerivatives(x, y, 6, 6, 11, dx, dy);
        ASSERT_EQ(v, PeriodicGradientNoise(x, y, 6, 6, 11));
        ASSERT_LE(std::fabs(v), 1.5f);
        const float h = 1e-3f;
        const double numericX =
            (double(PeriodicGradientNoise(x + h, y, 6, 6, 11)) - PeriodicGradientNoise(x - h, y, 6, 6, 11)) / (2 * h);
        const double numericY =
            (double(PeriodicGradientNoise(x, y + h, 6, 6, 11)) - PeriodicGradientNoise(x, y - h, 6, 6, 11)) / (2 * h);
        ASSERT_NEAR(dx, numericX, 0.02) << x << "," << y;
        ASSERT_NEAR(dy, numericY, 0.02) << x << "," << y;
    }
}

TEST(NoiseKernels, FractalOctavesAndGainFollowTheirRules)
{
    const float x = 1.37f, y = 2.71f;
    EXPECT_EQ(FractalNoise(x, y, 4, 4, 0.0f, 0.5f, 3), 0.5f * PeriodicGradientNoise(x, y, 4, 4, 3) + 0.5f);
    EXPECT_EQ(FractalNoise(x, y, 4, 4, 40.0f, 0.5f, 3), FractalNoise(x, y, 4, 4, 15.0f, 0.5f, 3));
    EXPECT_EQ(FractalNoise(x, y, 4, 4, -2.0f, 0.5f, 3), FractalNoise(x, y, 4, 4, 0.0f, 0.5f, 3));
    const float three = FractalNoise(x, y, 4, 4, 2.0f, 0.5f, 3);  // three layers
    const float four = FractalNoise(x, y, 4, 4, 3.0f, 0.5f, 3);   // four layers
    EXPECT_EQ(FractalNoise(x, y, 4, 4, 2.5f, 0.5f, 3), three + (four - three) * 0.5f);
    EXPECT_EQ(FractalNoise(x, y, 4, 4, 3.0f, 7.0f, 3), FractalNoise(x, y, 4, 4, 3.0f, 1.0f, 3));
    EXPECT_EQ(FractalNoise(x, y, 4, 4, 3.0f, -1.0f, 3), FractalNoise(x, y, 4, 4, 0.0f, 0.5f, 3))
        << "gain 0 leaves only the first layer";
    // Layer two by hand: frequency 2, period 8, amplitude 0.5.
    const float n0 = PeriodicGradientNoise(x, y, 4, 4, 3);
    const float n1 = PeriodicGradientNoise(2 * x, 2 * y, 8, 8, 3);
    EXPECT_EQ(FractalNoise(x, y, 4, 4, 1.0f, 0.5f, 3), 0.5f * (n0 + 0.5f * n1) / 1.5f + 0.5f);

    std::mt19937 random(8);
    std::uniform_real_distribution<float> coordinate(0.0f, 4.0f);
    for (int trial = 0; trial < 100; ++trial) {
        const float px = coordinate(random), py = coordinate(random);
        float dx = 0, dy = 0;
        const float v = FractalNoiseDerivatives(px, py, 4, 4, 2.5f, 0.6f, 5, dx, dy);
        ASSERT_EQ(v, FractalNoise(px, py, 4, 4, 2.5f, 0.6f, 5));
        const float h = 2e-4f;
        const double numericX =
            (double(FractalNoise(px + h, py, 4, 4, 2.5f, 0.6f, 5)) - FractalNoise(px - h, py, 4, 4, 2.5f, 0.6f, 5)) / (2 * h);
        ASSERT_NEAR(dx, numericX, 0.05) << px << "," << py;
    }
}

TEST(NoiseKernels, CellularDistanceMatchesABruteForceSearch)
{
    std::mt19937 random(5);
    std::uniform_real_distribution<float> coordinate(-6.0f, 6.0f);
    for (int metric = 0; metric <= 2; ++metric)
        for (int trial = 0; trial < 100; ++trial) {
            const float x = coordinate(random), y = coordinate(random);
            const float jitter = 0.75f;
            const int cx = int(std::floor(x)), cy = int(std::floor(y));
            std::vector<float> distances;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const FeaturePoint p = CellFeaturePoint(cx, cy, dx, dy, 5, jitter, 2);
                    const float ox = p.x - (x - float(cx)), oy = p.y - (y - float(cy));
                    distances.push_back(metric == 1   ? std::fabs(ox) + std::fabs(oy)
                                        : metric == 2 ? std::max(std::fabs(ox), std::fabs(oy))
                                                      : std::sqrt(ox * ox + oy * oy));
                }
            std::sort(distances.begin(), distances.end());
            const float m = 0.5f * jitter + 0.5f;
            const float normaliser = metric == 1 ? 2 * m : metric == 2 ? m : std::sqrt(m * m + m * m);
            ASSERT_FLOAT_EQ(CellularDistance(x, y, 5, jitter, metric, 0, 2), Clamp01(distances[0] / normaliser));
            ASSERT_FLOAT_EQ(CellularDistance(x, y, 5, jitter, metric, 1, 2),
                            Clamp01((distances[1] - distances[0]) / normaliser));
            ASSERT_FLOAT_EQ(CellularDistance(x, y, 5, jitter, metric, 3, 2),
                            Clamp01(distances[1] * distances[1] - distances[0] * distances[0]));
            ASSERT_EQ(CellularDistance(x, y, 5, jitter, metric, 9, 2), CellularDistance(x, y, 5, jitter, metric, 0, 2));
        }
    for (int small : {-1, 0, 1, 2})
        EXPECT_EQ(CellularDistance(1.3f, 0.4f, small, 1.0f, 0, 0, 6), CellularDistance(1.3f, 0.4f, 3, 1.0f, 0, 0, 6));
}

TEST(NoiseKernels, CellBorderDistanceOnARegularGrid)
{
    // Jitter 0 puts every feature point on a lattice corner: the cells are unit squares
    // centred on the corners, with borders on the half-integers. m is 0.5.
    struct Case {
        float x, y, border;
    };
    for (const Case& c : {Case{0.2f, 0.3f, 0.2f}, Case{3.1f, 7.45f, 0.05f}, Case{0.7f, 0.9f, 0.2f}, Case{5.0f, 5.0f, 0.5f}})
        EXPECT_NEAR(CellularDistance(c.x, c.y, 16, 0.0f, 1, 2, 0), c.border / 0.5f, 1e-5f) << c.x << "," << c.y;
    EXPECT_EQ(CellularDistance(0.5f, 0.5f, 8, 0.0f, 0, 0, 0), 1.0f) << "F1 of a cell centre over its normaliser";
    EXPECT_EQ(CellularDistance(2.0f, 3.0f, 8, 0.0f, 0, 0, 0), 0.0f);
}

TEST(NoiseKernels, CellValueIsTheNearestCellsValueBlendedAtBorders)
{
    const std::uint32_t salted = 4 ^ 0x51ED270Bu;
    // Regular grid: the nearest feature point is the nearest lattice corner.
    EXPECT_EQ(CellValue(2.3f, 4.8f, 8, 0.0f, 0.0f, 4), HashToUnit(TileHash(2, 5, salted)));
    EXPECT_EQ(CellValue(-0.3f, 4.8f, 8, 0.0f, 0.0f, 4), HashToUnit(TileHash(0, 5, salted)));
    EXPECT_EQ(CellValue(7.9f, 0.1f, 8, 0.0f, 0.0f, 4), HashToUnit(TileHash(0, 0, salted))) << "column 8 wraps to 0";
    // In a cell's middle the blend changes nothing; on the border between two cells it gives
    // their mean.
    EXPECT_FLOAT_EQ(CellValue(2.05f, 5.0f, 8, 0.0f, 0.3f, 4), HashToUnit(TileHash(2, 5, salted)));
    const float left = HashToUnit(TileHash(2, 5, salted)), right = HashToUnit(TileHash(3, 5, salted));
    EXPECT_FLOAT_EQ(CellValue(2.5f, 5.0f, 8, 0.0f, 1.0f, 4), (left + right) * 0.5f);
}

TEST(NoiseKernels, LatticeContrastFieldsStayInTheUnitRange)
{
    for (int i = -20; i < 20; ++i)
        for (int j = -20; j < 20; ++j) {
            const float v = LatticeContrast(i, j, 7, 3);
            ASSERT_GE(v, 0.0f);
            ASSERT_LE(v, 1.0f);
        }
    // By hand at one point.
    const std::uint32_t s = 3 ^ 0x0B1E5EEDu;
    float sum = 0;
    for (int j = 1; j <= 3; ++j)
        for (int i = 3; i <= 5; ++i)
            sum += HashToUnit(TileHash(i % 5, j % 5, s));
    float v = (sum / 9.0f - HashToUnit(TileHash(4, 2, s))) * 1.05f + 0.5f;
    v = v < 0 ? -v : v > 1 ? 2 - v : v;
    EXPECT_EQ(LatticeContrast(4, 2, 5, 3), v);
    // Softness 0 holds each lattice point's value over the half cell around it.
    EXPECT_EQ(SmoothLatticeContrast(4.2f, 2.3f, 5, 0.0f, 3), LatticeContrast(4, 2, 5, 3));
    EXPECT_FLOAT_EQ(SmoothLatticeContrast(4.7f, 2.3f, 5, 0.0f, 3), LatticeContrast(0, 2, 5, 3));
    EXPECT_EQ(SmoothLatticeContrast(4.7f, 1.6f, 1, 0.0f, 3), SmoothLatticeContrast(4.7f, 1.6f, 3, 0.0f, 3))
        << "period raised to 3";
}

TEST(NoiseKernels, SmoothNearestDistanceIsSmallNearPointsAndContinuousInTheExponent)
{
    EXPECT_LT(SmoothNearestDistance(3.0f, 3.0f, 8, 2.0f, 0.0f, 1), 0.05f) << "on a feature point";
    EXPECT_GT(SmoothNearestDistance(3.5f, 3.5f, 8, 2.0f, 0.0f, 1), 0.3f);
    std::mt19937 random(6);
    std::uniform_real_distribution<float> coordinate(0.0f, 8.0f);
    for (int trial = 0; trial < 100; ++trial) {
        const float x = coordinate(random), y = coordinate(random);
        const float whole = SmoothNearestDistance(x, y, 8, 3.0f, 1.0f, 2);
        ASSERT_TRUE(std::isfinite(whole) && whole >= 0.0f);
        ASSERT_NEAR(SmoothNearestDistance(x, y, 8, 3.0001f, 1.0f, 2), whole, 1e-3f);
        ASSERT_EQ(SmoothNearestDistance(x, y, 8, 40.0f, 1.0f, 2), SmoothNearestDistance(x, y, 8, 16.0f, 1.0f, 2));
    }
}

TEST(NoiseKernels, WaveProfilesHaveTheirShapes)
{
    const struct {
        float t;
        int kind;
        float expected;
    } cases[] = {{0.0f, 1, 0.0f}, {-0.25f, 1, 0.75f}, {3.0f, 2, 0.0f}, {0.5f, 2, 1.0f},
                 {0.25f, 2, 0.5f}, {0.0f, 0, 0.0f},  {2.0f, 0, 0.0f}, {0.5f, 0, 1.0f}};
    for (const auto& c : cases)
        EXPECT_NEAR(WaveProfile(c.t, c.kind), c.expected, 1e-6f) << c.t << " kind " << c.kind;
    EXPECT_GT(WaveProfile(0.999f, 1), 0.99f);
    EXPECT_EQ(WaveProfile(0.3f, 7), WaveProfile(0.3f, 0)) << "any other kind is a sine";
    EXPECT_EQ(WaveFormNames(), (std::vector<std::string>{"Sine", "Saw", "Triangle"}));
}

TEST(NoiseKernels, BrickLatticeShiftsOffsetRowsAndMarksTheMortar)
{
    // Unit bricks, offset half a brick every second row: rows 0 and 2 shift, 1 does not.
    const auto value = [](float x, float y) { return BrickLattice(x, y, 1, 1, 0.1f, 0.0f, 0.0f, 0.5f, 2, 64, 64, 5).value; };
    EXPECT_EQ(value(0.7f, 0.5f), HashToUnit(TileHash(0, 1, 5))) << "row 0 shifted into column 1";
    EXPECT_EQ(value(0.7f, 1.5f), HashToUnit(TileHash(1, 0, 5)));
    EXPECT_EQ(value(0.7f, 2.5f), HashToUnit(TileHash(2, 1, 5)));
    // Every row shifts with an offset period of 1.
    EXPECT_EQ(BrickLattice(0.7f, 1.5f, 1, 1, 0, 0, 0, 0.5f, 1, 64, 64, 5).value, HashToUnit(TileHash(1, 1, 5)));

    const auto joint = [](float x, float y, float mortar, float smooth, float bevel) {
        return BrickLattice(x, y, 1, 0.5f, mortar, smooth, bevel, 0.0f, 1, 8, 8, 0).joint;
    };
    EXPECT_EQ(joint(0.0f, 0.2f, 0.05f, 0.3f, 0.0f), 1.0f) << "on the edge";
    EXPECT_EQ(joint(0.5f, 0.2f, 0.05f, 0.3f, 0.0f), 0.0f) << "mid brick";
    EXPECT_EQ(joint(0.02f, 0.25f, 0.05f, 0.0f, 0.0f), 1.0f) << "hard mortar";
    const float soft = joint(0.06f, 0.25f, 0.05f, 0.0f, 0.04f);  // between mortar and bevel
    EXPECT_GT(soft, 0.0f);
    EXPECT_LT(soft, 1.0f);
    for (float x = -2.0f; x <= 2.0f; x += 0.125f)
        for (float y = -1.0f; y <= 1.0f; y += 0.0625f)
            ASSERT_EQ(joint(x, y, 0.0f, 0.5f, 0.0f), 0.0f) << "no mortar, no bevel: no joint at " << x << "," << y;
}

TEST(NoiseKernels, ClampsContrastAndLevels)
{
    for (const auto& [in, out] : {std::pair{NAN, 0.0f}, {INFINITY, 0.0f}, {-INFINITY, 0.0f}, {1.5f, 1.0f},
                                  {-0.5f, 0.0f}, {0.25f, 0.25f}})
        EXPECT_EQ(Clamp01(in), out) << in;
    EXPECT_EQ(ApplyContrast(0.75f, 2.0f), 1.0f);
    EXPECT_EQ(ApplyContrast(0.6f, 0.0f), 0.5f);
    EXPECT_EQ(ApplyContrast(0.6f, 1.0f), 0.6f);
    const struct {
        float value;
        int levels;
        float expected;
    } levels[] = {{0.3f, 1, 0.3f}, {1.7f, 0, 1.0f}, {0.5f, 2, 1.0f} /* halves away from zero */,
                  {0.49f, 2, 0.0f}, {0.25f, 3, 0.5f}, {NAN, 4, 0.0f}};
    for (const auto& c : levels)
        EXPECT_EQ(QuantizeLevels(c.value, c.levels), c.expected) << c.value << " in " << c.levels;
}

TEST(PenroseFold, ReflectsOnlyThePointsBehindTheMirrorAndAdvancesIt)
{
    Vec2f point{0.3f, 0.2f};
    Vec2f normal{1.0f, 0.0f};
    Mat2f m = PenroseFold(point, normal);
    EXPECT_EQ(point.x, 0.3f);
    EXPECT_EQ(m.xx, 1.0f);
    EXPECT_EQ(m.xy, 0.0f);
    EXPECT_EQ(normal.x, 1.0f) << "(0, 0) has no direction: the normal stays";

    point = {-0.3f, 0.2f};
    m = PenroseFold(point, normal);
    EXPECT_EQ(point.x, 0.3f);
    EXPECT_EQ(point.y, 0.2f);
    EXPECT_EQ(m.xx, -1.0f);

    // The sequence of mirrors from 36 degrees: 108 and then 144 degrees.
    const float deg = 3.14159265f / 180.0f;
    normal = {std::cos(36 * deg), std::sin(36 * deg)};
    point = {0.0f, 1.0f};
    PenroseFold(point, normal);
    EXPECT_NEAR(std::atan2(normal.y, normal.x) / deg, 108.0f, 1e-4f);
    PenroseFold(point, normal);
    EXPECT_NEAR(std::atan2(normal.y, normal.x) / deg, 144.0f, 1e-4f);
}

TEST(PenroseDescend, FindsTilesNearTheCentreWithBoundedMirrorSymmetricHeights)
{
    EXPECT_FALSE(PenroseDescend(0.0f, 3.0f, 4, 0.1f, 0.2f, 0.3f).found);
    EXPECT_FALSE(PenroseDescend(-2.0f, -2.5f, 4, 0.1f, 0.2f, 0.3f).found);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> coordinate(-0.7f, 0.7f);
    int found = 0;
    int acute = 0;
    for (int trial = 0; trial < 500; ++trial) {
        const float x = coordinate(random), y = coordinate(random);
        const PenroseSample s = PenroseDescend(x, y, 5, 0.05f, 0.1f, 0.2f);
        if (!s.found)
            continue;
        ++found;
        acute += s.acute ? 1 : 0;
        ASSERT_TRUE(std::isfinite(s.height));
        ASSERT_GE(s.height, -1e-4f) << x << "," << y;
        ASSERT_LE(s.height, 0.05f + 0.1f + 0.2f + 1e-4f) << x << "," << y;
        const PenroseSample mirrored = PenroseDescend(-x, y, 5, 0.05f, 0.1f, 0.2f);
        ASSERT_TRUE(mirrored.found);
        ASSERT_EQ(mirrored.acute, s.acute);
        ASSERT_NEAR(mirrored.height, s.height, 1e-5f);
        ASSERT_EQ(PenroseDescend(x, y, 5, 0.05f, 0.1f, 0.2f).height, s.height);
    }
    EXPECT_GT(found, 400) << "the tiling covers the disc of radius 0.7 round the centre, almost";
    EXPECT_GT(acute, 0);
    EXPECT_LT(acute, found) << "both tile kinds occur";
    const PenroseSample flat = PenroseDescend(0.1f, 0.4f, 3, 0.0f, 0.0f, 0.0f);
    EXPECT_TRUE(flat.found);
    EXPECT_EQ(flat.height, 0.0f);
}

}  // namespace
}  // namespace grainforge::mesh::procedural
