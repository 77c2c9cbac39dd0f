#include "engine/textures/cross_fade_edges.h"

#include "engine/mesh/parallel_loop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace grainforge::mesh::seamless {
namespace {

std::vector<float> RandomImage(int width, int height, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<float> image(static_cast<std::size_t>(width) * height);
    for (float& value : image)
        value = unit(random);
    return image;
}

TEST(CrossFadeEdges, OutputSizeFollowsTheOverlap)
{
    const std::vector<float> image = RandomImage(100, 50, 1);
    const struct {
        float percent;
        std::int32_t width;
        std::int32_t height;
    } cases[] = {
        {20.0f, 80, 40},
        {0.0f, 100, 50},
        {60.0f, 55, 27},     // treated as 45: 45 and 22.5 pixels, halves away from zero
        {-5.0f, 100, 50},
        {NAN, 100, 50},
        {INFINITY, 100, 50},
        {0.5f, 99, 50},      // 0.5 px rounds up across, 0.25 px rounds to nothing down
    };
    for (const auto& c : cases) {
        std::int32_t w = 0, h = 0;
        const std::vector<float> result = CrossFadeEdges(image, 100, 50, c.percent, w, h);
        EXPECT_EQ(w, c.width) << c.percent;
        EXPECT_EQ(h, c.height) << c.percent;
        EXPECT_EQ(result.size(), static_cast<std::size_t>(w) * h) << c.percent;
    }
    std::int32_t w = 0, h = 0;
    EXPECT_EQ(CrossFadeEdges(image, 100, 50, 0.0f, w, h), image);
}

TEST(CrossFadeEdges, BadSizesGiveTheSourceBack)
{
    const std::vector<float> one = {0.25f};
    std::int32_t w = 0, h = 0;
    EXPECT_EQ(CrossFadeEdges(one, 1, 1, 45.0f, w, h), one);  // both overlaps round to 0
    EXPECT_EQ(w, 1);
    EXPECT_EQ(h, 1);
    const std::vector<float> five(5, 0.5f);
    EXPECT_EQ(CrossFadeEdges(five, 3, 2, 20.0f, w, h), five);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(CrossFadeEdges({}, 0, 7, 20.0f, w, h), std::vector<float>{});
    EXPECT_EQ(CrossFadeEdges(five, -1, -5, 20.0f, w, h), five);
}

TEST(CrossFadeEdges, NearSideGainsWeightAcrossTheBand)
{
    // 45% of 4 columns is 1.8, so 2 columns fade: t = 0.25 and 0.75, smoothstep 0.15625 and
    // 0.84375 (exact in binary). Column x takes (1 - s) of column x + 2 and s of column x.
    std::int32_t w = 0, h = 0;
    const std::vector<float> row = CrossFadeEdges({0.0f, 10.0f, 20.0f, 30.0f}, 4, 1, 45.0f, w, h);
    ASSERT_EQ(w, 2);
    ASSERT_EQ(h, 1);
    EXPECT_EQ(row, (std::vector<float>{16.875f, 13.125f}));
    // The same along a column.
    const std::vector<float> column = CrossFadeEdges({0.0f, 10.0f, 20.0f, 30.0f}, 1, 4, 45.0f, w, h);
    ASSERT_EQ(w, 1);
    ASSERT_EQ(h, 2);
    EXPECT_EQ(column, (std::vector<float>{16.875f, 13.125f}));
}

TEST(CrossFadeEdges, ResultContinuesAcrossBothJoins)
{
    // A ramp in x and y has its largest step at the wrap; after the fade the wrap step is no
    // larger than about one pixel's step.
    const int width = 120, height = 90;
    std::vector<float> ramp(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            ramp[y * width + x] = static_cast<float>(x) + 2.0f * static_cast<float>(y);
    std::int32_t w = 0, h = 0;
    const std::vector<float> result = CrossFadeEdges(ramp, width, height, 20.0f, w, h);
    for (int y = 0; y < h; ++y)
        EXPECT_LT(std::fabs(result[y * w + 0] - result[y * w + w - 1]), 1.5f) << y;
    for (int x = 0; x < w; ++x)
        EXPECT_LT(std::fabs(result[x] - result[(h - 1) * w + x]), 3.0f) << x;
}

TEST(CrossFadeEdges, DoesNotDependOnTheThreadCount)
{
    const std::vector<float> image = RandomImage(701, 403, 5);
    std::int32_t w = 0, h = 0;
    const std::vector<float> parallel = CrossFadeEdges(image, 701, 403, 33.0f, w, h);
    std::vector<float> serial;
    {
        ThreadLimit one(1);
        serial = CrossFadeEdges(image, 701, 403, 33.0f, w, h);
    }
    EXPECT_EQ(parallel, serial);
}

}  // namespace
}  // namespace grainforge::mesh::seamless
