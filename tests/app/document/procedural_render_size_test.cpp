#include "app/document/procedural_render_size.h"

#include <gtest/gtest.h>

#include <limits>

namespace grainforge::app {
namespace {

TEST(ComputeProceduralRenderSize, Takes32PixelsPerMillimetreWithin256To4096)
{
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    const std::tuple<float, float, float, ProceduralImageSize> cases[] = {
        {30.0f, 30.0f, 1.0f, {960, 960}},
        {5.0f, 5.0f, 1.0f, {256, 256}},      // 160 clamped up
        {200.0f, 200.0f, 1.0f, {4096, 4096}},  // 6400 clamped down
        {30.0f, 10.0f, 2.0f, {1920, 640}},
        {30.0f, 30.0f, 0.0f, {960, 960}},    // a zoom not above 0 counts as 1
        {30.0f, 30.0f, std::numeric_limits<float>::quiet_NaN(), {960, 960}},
        {-30.0f, kInfinity, 1.0f, {256, 256}},  // nonsense sizes count as 0
        {1e30f, 30.0f, 1e30f, {4096, 4096}},
    };
    for (const auto& [width, height, zoom, size] : cases)
        EXPECT_EQ(ComputeProceduralRenderSize(width, height, zoom), size) << width << " x " << height << " at " << zoom;
}

TEST(ProceduralRenderDrifted, KeepsARenderWithinTheBandAndRedoesItOutside)
{
    // A 30 mm tile rendered at zoom 1 (960 pixels); the largest layer zoom then grows.
    const ProceduralImageSize rendered = ComputeProceduralRenderSize(30.0f, 30.0f, 1.0f);
    EXPECT_FALSE(ProceduralRenderDrifted(ComputeProceduralRenderSize(30.0f, 30.0f, 1.4f), rendered.width, rendered.height));
    EXPECT_TRUE(ProceduralRenderDrifted(ComputeProceduralRenderSize(30.0f, 30.0f, 1.6f), rendered.width, rendered.height));
    EXPECT_FALSE(ProceduralRenderDrifted({641, 1439}, 960, 960));
    EXPECT_TRUE(ProceduralRenderDrifted({960, 1440}, 960, 960));  // exactly 1.5 is outside
    EXPECT_TRUE(ProceduralRenderDrifted({640, 960}, 960, 960));   // 2/3 is outside
    EXPECT_TRUE(ProceduralRenderDrifted({960, 960}, 0, 960));     // nothing rendered yet
}

}  // namespace
}  // namespace grainforge::app
