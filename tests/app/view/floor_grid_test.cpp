#include "app/view/renderer/floor_grid.h"

#include <gtest/gtest.h>

#include <limits>

namespace grainforge::gl {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(FloorGridStep, FollowsTheOneTwoFiveLadder)
{
    struct Case {
        float halfExtent, step;
        int lines;
        float extent;
    };
    const Case cases[] = {
        {5.0f, 1.0f, 5, 5.0f},          // the empty scene: 11 lines each way
        {20.0f, 5.0f, 4, 20.0f},
        {100.0f, 20.0f, 5, 100.0f},
        {7.4f, 1.0f, 8, 8.0f},          // v = 1.48 stays on the unit step
        {250.0f, 50.0f, 5, 250.0f},
        {0.0f, 0.00002f, 1, 0.00002f},  // never no lines
    };
    for (const Case& c : cases) {
        const FloorGridStep step = ChooseFloorGridStep(c.halfExtent);
        EXPECT_NEAR(step.step, c.step, c.step * 1e-5f) << c.halfExtent;
        EXPECT_EQ(step.lines, c.lines) << c.halfExtent;
        EXPECT_NEAR(step.extent, c.extent, c.extent * 1e-5f) << c.halfExtent;
    }
}

TEST(FloorGridStep, NeverAsksForMoreThanNineLinesEachSide)
{
    for (float h : {0.001f, 0.3f, 7.49f, 14.99f, 74.9f, 1234.5f, 9.9e6f, 3.0e38f}) {
        const FloorGridStep step = ChooseFloorGridStep(h);
        EXPECT_GE(step.lines, 1) << h;
        EXPECT_LE(step.lines, 9) << h;
        EXPECT_GE(step.extent, h * 0.99999f) << h;
    }
}

TEST(FloorGridStep, NonFiniteHalfExtentIsTheEmptyScene)
{
    for (float h : {kNaN, kInf, -kInf}) {
        const FloorGridStep step = ChooseFloorGridStep(h);
        EXPECT_EQ(step.lines, 5) << h;
        EXPECT_EQ(step.step, 1.0f) << h;
        EXPECT_EQ(step.extent, 5.0f) << h;
    }
}

TEST(FloorGridVertices, LaysLinesAxesAndFillUnderThePart)
{
    SceneBounds bounds;
    bounds.floorHalfExtent = 20.0f;
    bounds.floorHeight = -10.0f;
    bounds.floorCentre[0] = 3.0f;
    bounds.floorCentre[1] = -4.0f;
    const FloorGridVertices floor = BuildFloorGridVertices(bounds);
    ASSERT_EQ(floor.grid.size(), 4u * (2 * 4 + 1) + 6);
    ASSERT_EQ(floor.fill.size(), 6u);
    EXPECT_EQ(floor.extent, 20.0f);
    // The first line runs along x at y = cy - E; the two centre lines are brighter.
    EXPECT_FLOAT_EQ(floor.grid[0].position[0], 3.0f - 20.0f);
    EXPECT_FLOAT_EQ(floor.grid[0].position[1], -4.0f - 20.0f);
    const std::size_t centre = 4 * 4;
    EXPECT_FLOAT_EQ(floor.grid[centre].position[1], -4.0f);
    EXPECT_GT(floor.grid[centre].colour[0], floor.grid[0].colour[0]);
    for (std::size_t i = 0; i + 1 < floor.grid.size(); ++i)
        EXPECT_FLOAT_EQ(floor.grid[i].position[2], -10.0f) << i;
    // The z axis line rises 0.33 E from the corner; the fill lies just below the lines.
    const RenderVertex& zTop = floor.grid.back();
    EXPECT_NEAR(zTop.position[2], -10.0f + 0.33f * 20.0f, 1e-5f);
    EXPECT_GT(zTop.colour[2], zTop.colour[0]);
    for (const RenderVertex& v : floor.fill) {
        EXPECT_LT(v.position[2], -10.0f);
        EXPECT_NEAR(v.position[2], -10.0f - 20.0f * 0.0005f, 1e-5f);
    }
}

TEST(FloorGridVertices, NonFiniteBoundsGiveTheEmptySceneFloor)
{
    SceneBounds bounds;
    bounds.floorHalfExtent = 40.0f;
    bounds.floorHeight = kNaN;
    const FloorGridVertices floor = BuildFloorGridVertices(bounds);
    EXPECT_EQ(floor.grid.size(), 4u * 11 + 6);
    EXPECT_EQ(floor.extent, 5.0f);
    for (const RenderVertex& v : floor.grid)
        EXPECT_TRUE(std::isfinite(v.position[0]) && std::isfinite(v.position[1]) && std::isfinite(v.position[2]));
}

}  // namespace
}  // namespace grainforge::gl
