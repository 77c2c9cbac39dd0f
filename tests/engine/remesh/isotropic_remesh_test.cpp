#include "engine/remesh/isotropic_remesh.h"

#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/test_shapes.h"
#include "engine/remesh/remesh.h"
#include "tests/support/mesh_compare.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

namespace grainforge::mesh {
namespace {

RemeshSettings Isotropic(float edge, int rounds = 5)
{
    RemeshSettings settings;
    settings.method = RemeshMethod::isotropic;
    settings.targetEdgeMillimetres = edge;
    settings.rounds = rounds;
    return settings;
}

// A callback that refuses the first report of `stage` and lets everything else through.
ProgressCallback StopAt(const std::string& stage)
{
    return [stage](const std::string& name, float) { return name != stage; };
}

// Largest distance from a vertex of `result` to the surface of `original`, through the tree.
float MeasuredDeviation(const TriangleMesh& result, const TriangleMesh& original)
{
    AabbTree tree;
    tree.Build(original);
    float largest = 0.0f;
    for (const MeshVertex& v : result.vertices)
        largest = std::max(largest, tree.Nearest(original, v.position, {}, {}, kNoDistanceLimit).distance);
    return largest;
}

TEST(IsotropicRemesh, ClosedMeshesStayClosedManifoldAndOnTheSurface)
{
    const std::tuple<const char*, TriangleMesh, float> cases[] = {
        {"sphere", MakeTestSphere(10.0f), 1.0f},
        {"cylinder", MakeTestCylinder(5.0f, 12.0f), 1.0f},
        {"two cubes", test::MakeTwoCubes(), 3.0f},
    };
    for (const auto& [name, input, edge] : cases) {
        SCOPED_TRACE(name);
        TriangleMesh mesh = input;
        const RemeshReport report = Remesh(mesh, Isotropic(edge), {});
        ASSERT_FALSE(report.cancelled || report.failed);
        EXPECT_EQ(CountEdges(mesh).boundary + CountEdges(mesh).nonManifold, 0u);
        EXPECT_EQ(CountBodies(mesh), CountBodies(input));
        // The report's deviation is the tree's, and the vertices lie on the input surface.
        const float deviation = MeasuredDeviation(mesh, input);
        EXPECT_FLOAT_EQ(report.deviationMillimetres, deviation);
        EXPECT_LT(deviation, 0.02f * edge);
        EXPECT_NEAR(mesh.Volume(), input.Volume(), 0.02 * std::abs(input.Volume()));
        // Edges come near the target: the median lies between the collapse and split lengths.
        EXPECT_GT(MeasureMeshQuality(mesh).edgeMedian, 0.6f * edge);
        EXPECT_LT(MeasureMeshQuality(mesh).edgeMedian, 1.34f * edge);
    }
}

TEST(IsotropicRemesh, CubeKeepsItsCornersBitForBitAndItsEdgesSharp)
{
    const TriangleMesh cube = MakeTestCube(20.0f);
    TriangleMesh mesh = cube;
    const RemeshReport report = Remesh(mesh, Isotropic(5.0f), {});
    ASSERT_FALSE(report.failed);
    // Each 20 mm cube edge ends in four sharp pieces of 5 mm.
    EXPECT_EQ(report.featureEdges, 48u);
    for (const MeshVertex& corner : cube.vertices) {
        const auto found = std::count_if(mesh.vertices.begin(), mesh.vertices.end(),
            [&](const MeshVertex& v) { return v.position == corner.position; });
        EXPECT_EQ(found, 1) << corner.position.x << " " << corner.position.y << " " << corner.position.z;
    }
    // Sharp edges stay sharp: no triangle cuts across an edge or a corner, so every face
    // normal is one of the six axis directions and every vertex lies on the cube's surface.
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const Vec3 n = mesh.FaceNormal(t);
        const float largest = std::max({std::abs(n.x), std::abs(n.y), std::abs(n.z)});
        EXPECT_FLOAT_EQ(largest, 1.0f) << "triangle " << t;
    }
    EXPECT_EQ(mesh.boundsMin, cube.boundsMin);
    EXPECT_EQ(mesh.boundsMax, cube.boundsMax);
    EXPECT_LT(MeasureMeshQuality(mesh).edgeMax, 4.0f * 5.0f / 3.0f * 1.0001f);
}

// A flat 10 mm square of two triangles: one whole round (relaxation included) splits it below the
// split length and keeps the border on the square's sides, adding up to its perimeter.
TEST(IsotropicRemesh, FlatSquareIsSplitBelowTheSplitLengthWithItsBorderOnTheSquare)
{
    TriangleMesh mesh = test::MakeFlatGrid(1, 10.0f);
    ASSERT_FALSE(Remesh(mesh, Isotropic(1.0f, 1), {}).failed);
    EXPECT_LE(MeasureMeshQuality(mesh).edgeMax, 4.0f / 3.0f);
    EXPECT_GT(mesh.TriangleCount(), 100u);
    const std::vector<EdgeRecord> table = BuildEdgeTable(mesh);
    double perimeter = 0.0;
    for (std::size_t i = 0, j = 0; i < table.size(); i = j) {
        for (j = i; j < table.size() && table[j].key == table[i].key;)
            ++j;
        if (j - i > 1)
            continue;
        const Vec3 a = mesh.vertices[table[i].key >> 32].position, b = mesh.vertices[table[i].key & 0xFFFFFFFFu].position;
        EXPECT_TRUE((a.x == b.x && (a.x == 0.0f || a.x == 10.0f)) || (a.y == b.y && (a.y == 0.0f || a.y == 10.0f)))
            << a.x << "," << a.y << " - " << b.x << "," << b.y;
        perimeter += std::sqrt(Dot(b - a, b - a));
    }
    EXPECT_NEAR(perimeter, 40.0, 1e-4);
    for (const MeshVertex& v : mesh.vertices)
        EXPECT_EQ(v.position.z, 0.0f);
}

// A stop at any stage is a stop, never a failure, and the mesh is rebuilt closed; a stop at
// "Collapsing short edges" leaves exactly the split result.
TEST(IsotropicRemesh, StopsAreReportedAsStopsAndLeaveAValidMesh)
{
    const TriangleMesh sphere = MakeTestSphere(10.0f);
    for (const char* stage : {"Splitting long edges", "Collapsing short edges", "Improving triangle shape", "Relaxing"}) {
        SCOPED_TRACE(stage);
        TriangleMesh mesh = sphere;
        const RemeshReport report = Remesh(mesh, Isotropic(0.8f), StopAt(stage));
        EXPECT_TRUE(report.cancelled);
        EXPECT_FALSE(report.failed);
        EXPECT_EQ(CountEdges(mesh).boundary, 0u);
        EXPECT_EQ(FormatRemeshReport(report).rfind("Remesh cancelled: ", 0), 0u);
        if (std::string(stage) != "Collapsing short edges")
            continue;
        EXPECT_EQ(report.collapses + report.flips, 0u);
        RemeshTopology topology = BuildRemeshTopology(sphere);
        std::uint64_t splits = 0;
        for (int pass = 0, n = 1; pass < 40 && n > 0; ++pass)
            splits += n = SplitLongEdges(topology, MakeRemeshThresholds(Isotropic(0.8f)).splitLength);
        EXPECT_EQ(report.splits, splits);
        EXPECT_EQ(mesh.indices, RebuildMeshFromTopology(topology).indices);
    }
    // The answer at "Rebuilding" comes too late to stop anything.
    TriangleMesh mesh = sphere;
    EXPECT_FALSE(Remesh(mesh, Isotropic(1.0f, 1), StopAt("Rebuilding")).cancelled);
}

// Index faults, NaN and the empty mesh are in inconsistent_mesh_test.cpp. An infinite coordinate
// gives the neutral result; a target too fine for the memory is refused before anything is
// allocated, with its text.
TEST(IsotropicRemesh, InfiniteCoordinatesAndTargetsTooFineLeaveTheMeshAlone)
{
    TriangleMesh infinite = MakeTestCube(10.0f);
    infinite.vertices[0].position.z = std::numeric_limits<float>::infinity();
    const std::tuple<const char*, TriangleMesh, float, RemeshFailure> cases[] = {
        {"infinite coordinate", infinite, 1.0f, RemeshFailure::none},
        {"target far too fine for the memory", MakeTestCube(20.0f), 1e-4f, RemeshFailure::targetTooFine},
    };
    for (const auto& [name, input, edge, failure] : cases) {
        SCOPED_TRACE(name);
        TriangleMesh mesh = input;
        const RemeshReport report = Remesh(mesh, Isotropic(edge), {});
        EXPECT_EQ(std::tie(report.cancelled, report.failed, report.failure, report.trianglesAfter),
            std::make_tuple(false, failure != RemeshFailure::none, failure, std::uint64_t{0}));
        EXPECT_TRUE(test::Identical(mesh, input));
        EXPECT_EQ(FormatRemeshReport(report).rfind("Remesh failed: the isotropic remesh", 0) == 0, failure != RemeshFailure::none);
    }
}

TEST(IsotropicRemesh, HugeTargetsEndBoundedAndClosed)
{
    for (const float edge : {1e6f, std::numeric_limits<float>::infinity()}) {
        SCOPED_TRACE(edge);
        TriangleMesh mesh = MakeTestSphere(10.0f);
        EXPECT_FALSE(Remesh(mesh, Isotropic(edge, 3), {}).failed);
        EXPECT_EQ(CountEdges(mesh).boundary + CountEdges(mesh).nonManifold, 0u);
    }
}

TEST(IsotropicRemesh, FlipsDoNotDependOnTheWinding)
{
    // The flip keeps the winding of the pair it replaces, whichever way the lower-numbered face
    // runs (else half the flips would be refused as turning the pair over); the mirrored mesh
    // must therefore flip exactly the same edges.
    const TriangleMesh grid = test::MakeFlatGrid(12, 1.0f, 0.0f, true);
    auto flipsOf = [](const TriangleMesh& mesh) {
        TriangleMesh copy = mesh;
        RemeshSettings settings = Isotropic(0.5f, 2);
        settings.relaxation = 0.0f;
        return Remesh(copy, settings, {}).flips;
    };
    EXPECT_GT(flipsOf(grid), 0u);
    EXPECT_EQ(flipsOf(grid), flipsOf(test::Flipped(grid)));
}

TEST(IsotropicRemesh, ResultDoesNotDependOnTheThreadCount)
{
    const TriangleMesh sphere = MakeTestSphere(20.0f);
    TriangleMesh many = sphere, one = sphere;
    const RemeshReport manyReport = Remesh(many, Isotropic(0.6f, 3), {});
    const ThreadLimit limit(1);
    const RemeshReport oneReport = Remesh(one, Isotropic(0.6f, 3), {});
    EXPECT_GT(many.TriangleCount(), 20000u);
    EXPECT_TRUE(test::Identical(one, many));
    EXPECT_EQ(std::tie(oneReport.splits, oneReport.collapses, oneReport.flips, oneReport.deviationMillimetres),
        std::tie(manyReport.splits, manyReport.collapses, manyReport.flips, manyReport.deviationMillimetres));
}

}  // namespace
}  // namespace grainforge::mesh
