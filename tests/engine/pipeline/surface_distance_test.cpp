#include "engine/pipeline/surface_distance.h"

#include "engine/mesh/test_shapes.h"

#include "tests/support/same_on_one_thread.h"
#include "tests/engine/pipeline/slotted_block.h"

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
// a cube inside a larger one is buried in its solid 1 mm deep, which loses its surface.
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
        {"buried in a larger cube", 8.0f, 10.0f, 0.5f, 1.0f, true},
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

// Both ways, with the input's surface buried in the output counted only where it faced open
// air: a slot filled over is lost, the inner faces of overlapping shells merged away are not;
// an output grown past the input is added surface.
TEST(SurfaceDistanceTest, LostBuriedAndAddedSurfaceBothWays)
{
    const Vec3 kFarOut{1.0e6f, -1.0e6f, 1.0e6f};
    const TriangleMesh solid = test::MakeBox({0.0f, 0.0f, 0.0f}, {20.0f, 10.0f, 10.0f});
    const struct {
        const char* what;
        TriangleMesh input;
        TriangleMesh output;
        float lost;
        float added;
        float within = 0.05f;  // mm; far out a coordinate steps by 1/16 mm
    } cases[] = {
        {"narrow slot filled over", test::MakeSlottedBlock(0.1f), solid, 5.0f, 0.05f},
        // Inner faces count only as far as they lie within reach of the output.
        {"overlapping shells merged", test::MakeSlottedBlock(-0.2f), solid, 0.5f, 0.0f},
        {"grown by 1 mm all round", MakeTestCube(8.0f), MakeTestCube(10.0f), 1.0f, std::sqrt(3.0f)},
        {"overlapping shells merged by 0.25 mm", test::MakeSlottedBlock(-0.25f), solid, 0.5f, 0.0f},
        // 1,000,000 mm out the inner faces are judged as near the origin: the step off a face
        // once took 100 mm there, out of the part, and called them lost.
        {"overlapping shells merged, far out", test::Translated(test::MakeSlottedBlock(-0.25f), kFarOut),
            test::Translated(solid, kFarOut), 0.5f, 0.0f, 0.07f},
        {"grown by 1 mm all round, far out", test::Translated(MakeTestCube(8.0f), kFarOut),
            test::Translated(MakeTestCube(10.0f), kFarOut), 1.0f, std::sqrt(3.0f), 0.07f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AabbTree inputTree;
        inputTree.Build(c.input);
        AabbTree outputTree;
        outputTree.Build(c.output);
        const SurfaceDistanceReport report = MeasureSurfaceChange(c.input, inputTree, c.output, outputTree, 0.5f);
        ASSERT_TRUE(report.measured);
        EXPECT_NEAR(report.largest, c.lost, c.within);
        EXPECT_NEAR(report.added, c.added, c.within / 5.0f);
        EXPECT_EQ(report.Lost(), c.lost > 0.5f);
        EXPECT_EQ(report.Added(), c.added > 0.5f);
    }
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
    // Both ways, buried samples among them: the faces of a 12 mm cube but its corners lie inside.
    AabbTree cubeTree, sphereTree;
    cubeTree.Build(MakeTestCube(12.0f));
    sphereTree.Build(sphere);
    test::ExpectSameOnOneThread([&] {
        const SurfaceDistanceReport r = MeasureSurfaceChange(MakeTestCube(12.0f), cubeTree, sphere, sphereTree, 0.1f);
        return std::tuple(r.largest, r.where.x, r.where.z, r.added, r.addedWhere.x, r.addedWhere.z, r.addedSamples);
    });
}

}  // namespace
}  // namespace grainforge::mesh
