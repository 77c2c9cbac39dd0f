#include "engine/pipeline/surface_distance.h"

#include "engine/mesh/test_shapes.h"

#include "tests/support/same_on_one_thread.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace grainforge::mesh {
namespace {

SurfaceDistanceReport Measure(const TriangleMesh& input, const TriangleMesh& output, float allowed)
{
    AabbTree tree;
    tree.Build(output);
    return MeasureSurfaceDistance(input, output, tree, allowed);
}

// Concentric cubes: every point of a cube's surface lies on the cube itself; the corners of a
// 10 mm cube lie sqrt(3) mm from the corners of an 8 mm one, and nothing of it lies farther;
// a cube inside a larger one is buried in its solid, which loses nothing.
TEST(SurfaceDistanceTest, KnownDistancesBetweenCubes)
{
    const struct {
        const char* what;
        float inputEdge;
        float outputEdge;
        float allowed;
        float largest;
        bool exceeded;
    } cases[] = {
        {"same cube", 10.0f, 10.0f, 0.5f, 0.0f, false},
        {"inner cube, far", 10.0f, 8.0f, 0.5f, std::sqrt(3.0f), true},
        {"inner cube, allowed", 10.0f, 8.0f, 2.0f, std::sqrt(3.0f), false},
        {"buried in a larger cube", 8.0f, 10.0f, 0.5f, 0.0f, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const SurfaceDistanceReport report = Measure(MakeTestCube(c.inputEdge), MakeTestCube(c.outputEdge), c.allowed);
        ASSERT_TRUE(report.measured);
        EXPECT_GT(report.samples, kDistanceAreaSamples);
        EXPECT_NEAR(report.largest, c.largest, 1e-4f);
        EXPECT_EQ(report.Exceeded(), c.exceeded);
        EXPECT_EQ(report.allowed, c.allowed);
    }
    // The farthest sample of the larger cube is one of its corners.
    const SurfaceDistanceReport far = Measure(MakeTestCube(10.0f), MakeTestCube(8.0f), 0.5f);
    EXPECT_NEAR(std::fabs(far.where.x), 5.0f, 1e-5f);
    EXPECT_NEAR(std::fabs(far.where.z), 5.0f, 1e-5f);
}

TEST(SurfaceDistanceTest, UnusableMeshesOrTreeAreNotMeasured)
{
    const TriangleMesh cube = MakeTestCube(10.0f);
    AabbTree tree;
    tree.Build(cube);
    AabbTree sphereTree;
    sphereTree.Build(MakeTestSphere(3.0f));
    EXPECT_FALSE(MeasureSurfaceDistance(TriangleMesh{}, cube, tree, 1.0f).measured);
    EXPECT_FALSE(MeasureSurfaceDistance(cube, TriangleMesh{}, tree, 1.0f).measured);
    EXPECT_FALSE(MeasureSurfaceDistance(cube, cube, AabbTree{}, 1.0f).measured);
    EXPECT_FALSE(MeasureSurfaceDistance(cube, cube, sphereTree, 1.0f).measured);
}

TEST(SurfaceDistanceTest, SameOnOneThreadAsOnMany)
{
    const TriangleMesh sphere = MakeTestSphere(10.0f);
    const TriangleMesh cube = MakeTestCube(15.0f);
    test::ExpectSameOnOneThread([&] {
        const SurfaceDistanceReport r = Measure(sphere, cube, 0.1f);
        return std::tuple(r.largest, r.where.x, r.where.y, r.where.z, r.samples);
    });
}

}  // namespace
}  // namespace grainforge::mesh
