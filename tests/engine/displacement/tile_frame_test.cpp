#include "engine/displacement/tile_frame.h"

#include <gtest/gtest.h>

namespace grainforge::mesh {
namespace {

ProjectionSamples ThreeSamples()
{
    ProjectionSamples s;
    s.samples[0] = {5.0f, 5.0f, 0.5f, 0};     // inside a 10 mm tile at the origin
    s.samples[1] = {15.0f, 5.0f, 0.25f, 2};   // beyond its right edge
    s.samples[2] = {10.0f, 0.0f, 0.25f, 4};   // on its corner: ends count as inside
    s.count = 3;
    s.coverage = 0.8f;
    s.dominantSide = 0;
    return s;
}

TEST(ProjectionFaceWeights, KeepsTheSamplesInTheRectangleAndRenormalises)
{
    const TileFrame frame{.on = 1, .width = 10.0f, .height = 10.0f};
    ProjectionSamples s = ThreeSamples();
    ProjectionFaceWeights(frame, s);
    ASSERT_EQ(s.count, 2);
    EXPECT_EQ(s.samples[0].side, 0);
    EXPECT_EQ(s.samples[1].side, 4);
    EXPECT_FLOAT_EQ(s.samples[0].weight, 0.5f / 0.75f);
    EXPECT_FLOAT_EQ(s.samples[1].weight, 0.25f / 0.75f);
    EXPECT_FLOAT_EQ(s.coverage, 0.8f * 0.75f);  // coverage shrinks by the share kept
    EXPECT_EQ(s.dominantSide, 0);
    EXPECT_EQ(s.samples[2].side, -1);
}

TEST(ProjectionFaceWeights, NothingInsideClearsTheSet)
{
    struct Case {
        const char* what;
        TileFrame frame;
    };
    const Case cases[] = {
        {"rectangle elsewhere", {.on = 1, .offsetX = 100.0f, .width = 10.0f, .height = 10.0f}},
        {"turned away", {.on = 1, .rotationDegrees = 180.0f, .width = 1.0f, .height = 1.0f}},
    };
    for (const Case& c : cases) {
        ProjectionSamples s = ThreeSamples();
        ProjectionFaceWeights(c.frame, s);
        EXPECT_EQ(s.count, 0) << c.what;
        EXPECT_EQ(s.coverage, 0.0f) << c.what;
        EXPECT_EQ(s.dominantSide, -1) << c.what;
    }
}

}  // namespace
}  // namespace grainforge::mesh
