#include "engine/textures/normal_map.h"

#include "tests/support/same_on_one_thread.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <random>

namespace grainforge::mesh {
namespace {

using Slope = std::function<double(int, int)>;
constexpr double kPi = std::numbers::pi;

// Encodes the normal (-hx, -hy, 1) of a height field's slopes as 0..1 colour; hy is the slope
// down the image (rows), which a green-down map stores as it is.
std::vector<float> EncodeNormals(int w, int h, const Slope& slopeX, const Slope& slopeY, bool greenUp)
{
    std::vector<float> rgb;
    for (int i = 0; i < w * h; ++i) {
        const double n[3] = {-slopeX(i % w, i / w), -slopeY(i % w, i / w) * (greenUp ? -1.0 : 1.0), 1.0};
        const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        for (double c : n)
            rgb.push_back(static_cast<float>((c / length + 1.0) * 0.5));
    }
    return rgb;
}

TEST(NormalMapGridSide, NearestPowerOfTwoFromEightTo4096)
{
    for (const auto& [side, grid] : std::vector<std::pair<int, int>>{
             {1, 8}, {8, 8}, {12, 8}, {13, 16}, {96, 64}, {100, 128}, {700, 512}, {1000, 1024}, {3000, 2048},
             {4000, 4096}, {4096, 4096}, {5000, 4096}, {100000, 4096}})
        EXPECT_EQ(NormalMapGridSide(side), grid) << side;
}

TEST(SampleWrappedChannel, BlendsBilinearlyAndWrapsBothWays)
{
    // 3 x 2 image; red holds 10 x row + column, green its negative.
    std::vector<float> rgb;
    for (int i = 0; i < 6; ++i)
        rgb.insert(rgb.end(), {float(10 * (i / 3) + i % 3), -float(10 * (i / 3) + i % 3), 0.5f});
    const struct { float x, y; int channel; float expected; } cases[] = {
        {0, 0, 0, 0},   {2, 1, 0, 12},   {1, 1, 1, -11}, {0.5f, 0, 0, 0.5f}, {0, 0.25f, 0, 2.5f},   {-1, 0, 0, 2},
        {3, 0, 0, 0},   {2.5f, 0, 0, 1}, {0, -1, 0, 10}, {0, 2, 0, 0},       {-4, -3, 0, 12},
        {1.5f, 0.5f, 0, 6.5f}, {7, 9, 2, 0.5f},
    };
    for (const auto& c : cases)
        EXPECT_FLOAT_EQ(SampleWrappedChannel(rgb, 3, 2, c.channel, c.x, c.y), c.expected) << c.x << "," << c.y;
    EXPECT_EQ(SampleWrappedChannel(rgb, 3, 2, 0, NAN, 0), 0.0f);
    EXPECT_EQ(SampleWrappedChannel(rgb, 4, 2, 0, 0, 0), 0.0f) << "a vector too short for the size samples nothing";
}

TEST(HeightFromNormalMap, FlatMapsGiveMidHeightsAndBadSizesAreRefused)
{
    const struct { int width, height; bool greenUp; int gridWidth, gridHeight; const char* message; } cases[] = {
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
        EXPECT_TRUE(r.width == c.gridWidth && r.height == c.gridHeight) << c.width;
        EXPECT_EQ(r.heights, std::vector<float>(std::size_t(c.gridWidth) * c.gridHeight, 0.5f));
        EXPECT_TRUE(c.message == nullptr || r.message == c.message) << r.message;
    }
    EXPECT_EQ(HeightFromNormalMap({0.9f, 0.1f, 0.6f}, 1, 1, false).heights, std::vector<float>(64, 0.5f))
        << "one pixel has no slope to integrate";
    for (const auto& [size, w, h] : std::vector<std::tuple<std::size_t, int, int>>{
             {4 * 4 * 4, 4, 4}, {4 * 4 * 3 - 1, 4, 4}, {0, 0, 0}, {3, 0, 1}, {3, 1, -1}}) {
        const NormalMapResult r = HeightFromNormalMap(std::vector<float>(size, 0.5f), w, h, true);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.message, "the image has no three-channel pixels to read normals from");
        EXPECT_TRUE(r.heights.empty() && r.width == 0);
    }
}

// With slopes that are the field's own forward differences the discrete solve is exact.
TEST(HeightFromNormalMap, ForwardDifferenceSlopesAreIntegratedExactly)
{
    const int w = 32, h = 16;
    std::vector<double> field(w * h);
    std::mt19937 random(9);
    for (int f = 4; f < 16; ++f) {
        const double a = std::uniform_real_distribution<double>(-0.4, 0.4)(random);
        for (int i = 0; i < w * h; ++i)
            field[i] += a * std::cos(2 * kPi * (double(f % 4 * (i % w)) / w + double(f / 4 * (i / w)) / h) + f % 4);
    }
    const auto at = [&](int x, int y) { return field[((y + h) % h) * w + (x + w) % w]; };
    for (const bool greenUp : {false, true}) {
        const NormalMapResult r = HeightFromNormalMap(
            EncodeNormals(w, h, [&](int x, int y) { return at(x + 1, y) - at(x, y); },
                          [&](int x, int y) { return at(x, y + 1) - at(x, y); }, greenUp),
            w, h, greenUp);
        ASSERT_TRUE(r.ok && r.width == w && r.height == h);
        const auto [low, high] = std::minmax_element(field.begin(), field.end());
        for (int i = 0; i < w * h; ++i)
            ASSERT_NEAR(r.heights[i], (field[i] - *low) / (*high - *low), 2e-4) << i << (greenUp ? " green up" : "");
    }
}

TEST(HeightFromNormalMap, ResultDoesNotDependOnTheThreadCount)
{
    std::vector<float> noisy(300 * 200 * 3);
    std::mt19937 random(2);
    for (std::size_t i = 0; i < noisy.size(); ++i)
        noisy[i] = i % 3 == 2 ? 0.95f : std::uniform_real_distribution<float>(0.3f, 0.7f)(random);
    test::ExpectSameOnOneThread([&] { return HeightFromNormalMap(noisy, 300, 200, true).heights; });
}

}  // namespace
}  // namespace grainforge::mesh
