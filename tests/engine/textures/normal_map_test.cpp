#include "engine/textures/normal_map.h"

#include "engine/mesh/parallel_loop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <random>

namespace grainforge::mesh {
namespace {

using Complex = std::complex<double>;
constexpr double kPi = std::numbers::pi;

// The textbook O(n^2) transform, to check the fast one against.
std::vector<Complex> NaiveDft(const std::vector<Complex>& in, bool inverse)
{
    const std::size_t n = in.size();
    std::vector<Complex> out(n);
    for (std::size_t k = 0; k < n; ++k) {
        Complex sum = 0;
        for (std::size_t j = 0; j < n; ++j)
            sum += in[j] * std::polar(1.0, (inverse ? 2.0 : -2.0) * kPi * double(j * k % n) / double(n));
        out[k] = inverse ? sum / double(n) : sum;
    }
    return out;
}

std::vector<Complex> RandomComplex(std::size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<Complex> v(n);
    for (Complex& c : v)
        c = Complex(value(random), value(random));
    return v;
}

double Pearson(const std::vector<float>& a, const std::vector<double>& b)
{
    double ma = 0, mb = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        ma += a[i];
        mb += b[i];
    }
    ma /= double(a.size());
    mb /= double(b.size());
    double sab = 0, saa = 0, sbb = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        sab += (a[i] - ma) * (b[i] - mb);
        saa += (a[i] - ma) * (a[i] - ma);
        sbb += (b[i] - mb) * (b[i] - mb);
    }
    return sab / std::sqrt(saa * sbb);
}

// Encodes the normal (-hx, -hy, 1) of a height field's slopes as 0..1 colour; hy is the
// slope down the image (rows), which a green-down map stores as it is.
std::vector<float> EncodeNormals(std::int32_t w, std::int32_t h, const std::function<double(int, int)>& slopeX,
                                 const std::function<double(int, int)>& slopeY, bool greenUp)
{
    std::vector<float> rgb;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double n[3] = {-slopeX(x, y), -slopeY(x, y), 1.0};
            const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            if (greenUp)
                n[1] = -n[1];
            for (double c : n)
                rgb.push_back(static_cast<float>((c / length + 1.0) * 0.5));
        }
    return rgb;
}

TEST(NormalMapGridSide, NearestPowerOfTwoFromEightTo4096)
{
    const std::vector<std::pair<int, int>> cases = {{1, 8},       {8, 8},       {12, 8},      {13, 16},
                                                    {96, 64},     {100, 128},   {700, 512},   {1000, 1024},
                                                    {3000, 2048}, {4000, 4096}, {4096, 4096}, {5000, 4096},
                                                    {100000, 4096}};
    for (const auto& [side, grid] : cases)
        EXPECT_EQ(NormalMapGridSide(side), grid) << side;
}

TEST(Fft1D, MatchesTheDirectTransformBothWays)
{
    for (std::size_t n : {1u, 2u, 8u, 64u}) {
        const std::vector<Complex> input = RandomComplex(n, static_cast<unsigned>(n));
        for (bool inverse : {false, true}) {
            std::vector<Complex> fast = input;
            Fft1D(fast, inverse);
            const std::vector<Complex> slow = NaiveDft(input, inverse);
            for (std::size_t k = 0; k < n; ++k)
                ASSERT_LT(std::abs(fast[k] - slow[k]), 1e-12 * double(n)) << n << " " << inverse << " " << k;
        }
    }
    std::vector<Complex> three = RandomComplex(3, 3);
    const std::vector<Complex> before = three;
    Fft1D(three, false);
    EXPECT_EQ(three, before) << "a length that is no power of two is left alone";
}

TEST(Fft2D, IsRowsThenColumnsWithTheInverseScaledByTheCellCount)
{
    const int nx = 8, ny = 4;
    const std::vector<Complex> input = RandomComplex(nx * ny, 5);
    std::vector<Complex> fast = input;
    Fft2D(fast, nx, ny, false);
    // Direct 2-D transform.
    for (int ky = 0; ky < ny; ++ky)
        for (int kx = 0; kx < nx; ++kx) {
            Complex sum = 0;
            for (int y = 0; y < ny; ++y)
                for (int x = 0; x < nx; ++x)
                    sum += input[y * nx + x] * std::polar(1.0, -2.0 * kPi * (double(kx * x) / nx + double(ky * y) / ny));
            ASSERT_LT(std::abs(fast[ky * nx + kx] - sum), 1e-11);
        }
    Fft2D(fast, nx, ny, true);
    for (std::size_t i = 0; i < input.size(); ++i)
        ASSERT_LT(std::abs(fast[i] - input[i]), 1e-13);
}

TEST(SampleWrappedChannel, BlendsBilinearlyAndWrapsBothWays)
{
    // 3 x 2 image; the red channel holds 10 x row + column, green its negative.
    std::vector<float> rgb;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            rgb.insert(rgb.end(), {float(10 * y + x), float(-(10 * y + x)), 0.5f});
    struct Case {
        float x, y;
        int channel;
        float expected;
    };
    const std::vector<Case> cases = {
        {0, 0, 0, 0},     {2, 1, 0, 12},   {1, 1, 1, -11},   {0.5f, 0, 0, 0.5f}, {0, 0.25f, 0, 2.5f},
        {-1, 0, 0, 2},    {3, 0, 0, 0},    {2.5f, 0, 0, 1},  {0, -1, 0, 10},     {0, 2, 0, 0},
        {-4, -3, 0, 12},  {1.5f, 0.5f, 0, 6.5f}, {7, 9, 2, 0.5f},
    };
    for (const Case& c : cases)
        EXPECT_FLOAT_EQ(SampleWrappedChannel(rgb, 3, 2, c.channel, c.x, c.y), c.expected) << c.x << "," << c.y;
    EXPECT_EQ(SampleWrappedChannel(rgb, 3, 2, 0, std::nanf(""), 0), 0.0f);
    EXPECT_EQ(SampleWrappedChannel(rgb, 4, 2, 0, 0, 0), 0.0f) << "a vector too short for the size samples nothing";
}

TEST(HeightFromNormalMap, FlatMapsGiveMidHeightsOnTheGridAndSaySo)
{
    const struct {
        int width, height;
        bool greenUp;
        int gridWidth, gridHeight;
        const char* message;
    } cases[] = {
        {20, 10, true, 16, 8, nullptr},
        {1, 1, false, 8, 8,
         "height integrated from the normals (1 x 1 -> 8 x 8, green pointing down); the depth is the strength "
         "setting's, the map only says the shape"},
        {1000, 700, true, 1024, 512,
         "height integrated from the normals (1000 x 700 -> 1024 x 512, green pointing up); the depth is the "
         "strength setting's, the map only says the shape"},
    };
    for (const auto& c : cases) {
        std::vector<float> rgb;
        for (int i = 0; i < c.width * c.height; ++i)
            rgb.insert(rgb.end(), {0.5f, 0.5f, 1.0f});
        const NormalMapResult r = HeightFromNormalMap(rgb, c.width, c.height, c.greenUp);
        ASSERT_TRUE(r.ok) << c.width;
        EXPECT_EQ(r.width, c.gridWidth);
        EXPECT_EQ(r.height, c.gridHeight);
        EXPECT_EQ(r.heights, std::vector<float>(std::size_t(c.gridWidth) * c.gridHeight, 0.5f));
        if (c.message) {
            EXPECT_EQ(r.message, c.message);
        }
    }
    EXPECT_EQ(HeightFromNormalMap({0.9f, 0.1f, 0.6f}, 1, 1, false).heights, std::vector<float>(64, 0.5f))
        << "one pixel has no slope to integrate";
}

TEST(HeightFromNormalMap, RefusesVectorsThatAreNotThreeChannelsOfTheSize)
{
    const std::string reason = "the image has no three-channel pixels to read normals from";
    const std::vector<std::tuple<std::size_t, int, int>> cases = {
        {4 * 4 * 4, 4, 4}, {4 * 4 * 3 - 1, 4, 4}, {0, 0, 0}, {3, 0, 1}, {3, 1, -1}};
    for (const auto& [size, w, h] : cases) {
        const NormalMapResult r = HeightFromNormalMap(std::vector<float>(size, 0.5f), w, h, true);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.message, reason);
        EXPECT_TRUE(r.heights.empty());
        EXPECT_EQ(r.width, 0);
    }
}

// The normals of a known periodic height field integrate back to that field.
TEST(HeightFromNormalMap, RecoversTheHeightFieldWhoseNormalsItIsGiven)
{
    struct Case {
        int width, height;
        bool greenUp;
    };
    for (const Case& c : {Case{64, 64, false}, Case{64, 32, true}, Case{100, 50, false}}) {
        const double w = c.width, h = c.height;
        const auto field = [&](double x, double y) {
            return 3.0 * std::sin(2 * kPi * x / w) * std::cos(4 * kPi * y / h) + 1.5 * std::sin(2 * kPi * (3 * x / w + y / h));
        };
        const auto dx = [&](double x, double y) {
            return 3.0 * 2 * kPi / w * std::cos(2 * kPi * x / w) * std::cos(4 * kPi * y / h) +
                   1.5 * 6 * kPi / w * std::cos(2 * kPi * (3 * x / w + y / h));
        };
        const auto dy = [&](double x, double y) {
            return -3.0 * 4 * kPi / h * std::sin(2 * kPi * x / w) * std::sin(4 * kPi * y / h) +
                   1.5 * 2 * kPi / h * std::cos(2 * kPi * (3 * x / w + y / h));
        };
        const std::vector<float> rgb = EncodeNormals(
            c.width, c.height, [&](int x, int y) { return dx(x, y); }, [&](int x, int y) { return dy(x, y); }, c.greenUp);
        const NormalMapResult r = HeightFromNormalMap(rgb, c.width, c.height, c.greenUp);
        ASSERT_TRUE(r.ok);
        // The field at the grid cells' centres, in image pixels. A slope sampled at a cell
        // is taken as the difference to the next cell, so the field comes back half a cell
        // back along each axis.
        const double sx = w / r.width, sy = h / r.height;
        std::vector<double> expected;
        for (int gy = 0; gy < r.height; ++gy)
            for (int gx = 0; gx < r.width; ++gx)
                expected.push_back(field((gx + 0.5) * sx - 0.5 - 0.5 * sx, (gy + 0.5) * sy - 0.5 - 0.5 * sy));
        EXPECT_GT(Pearson(r.heights, expected), 0.99) << c.width << " x " << c.height;
        EXPECT_EQ(*std::min_element(r.heights.begin(), r.heights.end()), 0.0f);
        EXPECT_EQ(*std::max_element(r.heights.begin(), r.heights.end()), 1.0f);
    }
}

// With slopes that are the field's own forward differences the discrete solve is exact.
TEST(HeightFromNormalMap, ForwardDifferenceSlopesAreIntegratedExactly)
{
    const int n = 32;
    std::vector<double> field(n * n);
    std::mt19937 random(9);
    for (int fy = 1; fy <= 3; ++fy)
        for (int fx = 0; fx <= 3; ++fx) {
            const double a = std::uniform_real_distribution<double>(-0.4, 0.4)(random);
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x)
                    field[y * n + x] += a * std::cos(2 * kPi * (fx * x + fy * y) / n + fx);
        }
    const auto at = [&](int x, int y) { return field[((y + n) % n) * n + (x + n) % n]; };
    const std::vector<float> rgb = EncodeNormals(
        n, n, [&](int x, int y) { return at(x + 1, y) - at(x, y); }, [&](int x, int y) { return at(x, y + 1) - at(x, y); },
        false);
    const NormalMapResult r = HeightFromNormalMap(rgb, n, n, false);
    ASSERT_TRUE(r.ok);
    const auto [low, high] = std::minmax_element(field.begin(), field.end());
    for (int i = 0; i < n * n; ++i)
        ASSERT_NEAR(r.heights[i], (field[i] - *low) / (*high - *low), 2e-4) << i;
}

TEST(HeightFromNormalMap, SwappingGreenTurnsHeightsOverWhenRedIsFlat)
{
    const int n = 16;
    std::vector<float> rgb;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            rgb.insert(rgb.end(), {0.5f, 0.5f + 0.3f * float(std::sin(2 * kPi * y / n)), 0.9f});
    const NormalMapResult up = HeightFromNormalMap(rgb, n, n, true);
    const NormalMapResult down = HeightFromNormalMap(rgb, n, n, false);
    ASSERT_TRUE(up.ok && down.ok);
    for (std::size_t i = 0; i < up.heights.size(); ++i)
        ASSERT_NEAR(up.heights[i], 1.0f - down.heights[i], 1e-6f) << i;
}

TEST(HeightFromNormalMap, ResultDoesNotDependOnTheThreadCount)
{
    const int w = 300, h = 200;
    std::vector<float> rgb(w * h * 3);
    std::mt19937 random(2);
    for (float& c : rgb)
        c = std::uniform_real_distribution<float>(0.3f, 0.7f)(random);
    for (std::size_t i = 2; i < rgb.size(); i += 3)
        rgb[i] = 0.95f;
    const NormalMapResult many = HeightFromNormalMap(rgb, w, h, true);
    NormalMapResult one;
    {
        ThreadLimit limit(1);
        one = HeightFromNormalMap(rgb, w, h, true);
    }
    EXPECT_EQ(many.heights, one.heights);
}

}  // namespace
}  // namespace grainforge::mesh
