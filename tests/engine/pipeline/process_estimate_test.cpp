#include "engine/pipeline/process_estimate.h"

#include "engine/mesh/test_shapes.h"
#include "engine/remesh/remesh_settings.h"

#include <gtest/gtest.h>

#include <limits>

namespace grainforge::mesh {
namespace {

TEST(ProcessEstimate, ShownCountAddsATwelfthAndSaturates)
{
    const struct {
        std::uint64_t remesh;
        std::uint64_t shown;
    } cases[] = {{0, 0}, {11, 11}, {12, 13}, {1234567, 1337447}, {12205014, 13222098},
        {std::numeric_limits<std::uint64_t>::max(), std::numeric_limits<std::uint64_t>::max()}};
    for (const auto& c : cases)
        EXPECT_EQ(ShownTriangleEstimate(c.remesh), c.shown) << c.remesh;
}

// Over the limit only when the run remeshes and has a limit; the solid relief estimates the
// contour remesh whatever method is stored.
TEST(ProcessEstimate, OverTheLimitOnlyWhenTheRunRemeshesPastIt)
{
    const TriangleMesh cube = MakeTestCube(20.0f);
    PipelineSettings base;
    base.remeshOn = 1;
    base.displacementOn = 1;
    base.remesh.method = RemeshMethod::isotropic;
    RemeshSettings contour = base.remesh;
    contour.method = RemeshMethod::contour;
    const std::uint64_t shown = ShownTriangleEstimate(EstimateRemeshResult(cube, contour).totalTriangles);
    ASSERT_GT(shown, 1000u);

    const struct {
        const char* what;
        std::uint8_t remeshOn;
        std::uint64_t limit;
        bool over;
    } cases[] = {
        {"one under", 1, shown - 1, true},
        {"at the count", 1, shown, false},
        {"no limit", 1, 0, false},
        {"no remesh", 0, 1000, false},
    };
    for (const auto& c : cases) {
        PipelineSettings settings = base;
        settings.remeshOn = c.remeshOn;
        settings.maximumTriangles = c.limit;
        const ProcessEstimate estimate = EstimateProcessTriangles(cube, settings);
        // Without a remesh the solid relief works at the cube's own 20 mm triangles.
        if (c.remeshOn != 0)
            EXPECT_EQ(estimate.triangles, shown) << c.what;
        else
            EXPECT_LT(estimate.triangles, 100u) << c.what;
        EXPECT_EQ(estimate.limit, c.limit) << c.what;
        EXPECT_EQ(estimate.overLimit, c.over) << c.what;
    }
}

}  // namespace
}  // namespace grainforge::mesh
