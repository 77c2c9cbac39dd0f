#include "engine/remesh/isotropic_remesh.h"

#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/test_shapes.h"
#include "engine/remesh/remesh.h"
#include "tests/support/mesh_of.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
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

float LongestEdge(const TriangleMesh& mesh)
{
    float longest = 0.0f;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        for (int i = 0; i < 3; ++i) {
            const Vec3 d = mesh.vertices[mesh.indices[3 * t + (i + 1) % 3]].position
                - mesh.vertices[mesh.indices[3 * t + i]].position;
            longest = std::max(longest, std::sqrt(Dot(d, d)));
        }
    }
    return longest;
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

bool SameMesh(const TriangleMesh& a, const TriangleMesh& b)
{
    if (a.indices != b.indices || a.vertices.size() != b.vertices.size())
        return false;
    for (std::size_t v = 0; v < a.vertices.size(); ++v) {
        if (!(a.vertices[v].position == b.vertices[v].position))
            return false;
    }
    return true;
}

TEST(IsotropicRemesh, ClosedMeshesStayClosedManifoldAndOnTheSurface)
{
    struct Case {
        const char* name;
        TriangleMesh mesh;
        float edge;
    };
    const Case cases[] = {
        {"sphere", MakeTestSphere(10.0f), 1.0f},
        {"cylinder", MakeTestCylinder(5.0f, 12.0f), 1.0f},
        {"cube", MakeTestCube(20.0f), 2.0f},
        {"two cubes", test::MakeTwoCubes(), 3.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TriangleMesh mesh = c.mesh;
        const RemeshReport report = Remesh(mesh, Isotropic(c.edge), {});
        ASSERT_FALSE(report.cancelled);
        ASSERT_FALSE(report.failed);
        const EdgeCounts edges = CountEdges(mesh);
        EXPECT_EQ(edges.boundary, 0u);
        EXPECT_EQ(edges.nonManifold, 0u);
        EXPECT_EQ(CountBodies(mesh), CountBodies(c.mesh));
        // The report's deviation is the tree's, and the vertices lie on the input surface.
        const float deviation = MeasuredDeviation(mesh, c.mesh);
        EXPECT_FLOAT_EQ(report.deviationMillimetres, deviation);
        EXPECT_LT(deviation, 0.02f * c.edge);
        EXPECT_NEAR(mesh.Volume(), c.mesh.Volume(), 0.02 * std::abs(c.mesh.Volume()));
        // Edges come near the target: the median lies between the collapse and split lengths.
        const MeshQuality quality = MeasureMeshQuality(mesh);
        EXPECT_GT(quality.edgeMedian, 0.6f * c.edge);
        EXPECT_LT(quality.edgeMedian, 1.34f * c.edge);
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
    EXPECT_LT(LongestEdge(mesh), 4.0f * 5.0f / 3.0f * 1.0001f);
}

// A flat square of two triangles, 10 mm a side, in the plane z = 0.
TriangleMesh FlatSquare()
{
    return test::MeshOf({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}}, {0, 1, 2, 0, 2, 3});
}

TEST(IsotropicRemesh, FlatSquareIsSplitBelowTheSplitLengthWithItsBorderOnTheSquare)
{
    struct Case {
        const char* name;
        ProgressCallback progress;
        float relaxation;
    };
    const Case cases[] = {
        {"splits of the first round", StopAt("Collapsing short edges"), 0.5f},
        {"whole round without relaxation", {}, 0.0f},
        {"whole round", {}, 0.5f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TriangleMesh mesh = FlatSquare();
        RemeshSettings settings = Isotropic(1.0f, 1);
        settings.relaxation = c.relaxation;
        const RemeshReport report = Remesh(mesh, settings, c.progress);
        ASSERT_FALSE(report.failed);
        EXPECT_LE(LongestEdge(mesh), 4.0f / 3.0f);
        EXPECT_GT(mesh.TriangleCount(), 100u);
        // Border edges run along the square's sides and add up to its perimeter.
        const std::vector<EdgeRecord> table = BuildEdgeTable(mesh);
        double perimeter = 0.0;
        for (std::size_t i = 0; i < table.size();) {
            std::size_t j = i;
            while (j < table.size() && table[j].key == table[i].key)
                ++j;
            if (j - i == 1) {
                const Vec3 a = mesh.vertices[table[i].key >> 32].position;
                const Vec3 b = mesh.vertices[table[i].key & 0xFFFFFFFFu].position;
                const bool onSide = (a.x == b.x && (a.x == 0.0f || a.x == 10.0f))
                    || (a.y == b.y && (a.y == 0.0f || a.y == 10.0f));
                EXPECT_TRUE(onSide) << a.x << "," << a.y << " - " << b.x << "," << b.y;
                perimeter += std::sqrt(Dot(b - a, b - a));
            }
            i = j;
        }
        EXPECT_NEAR(perimeter, 40.0, 1e-4);
        for (const MeshVertex& v : mesh.vertices)
            EXPECT_EQ(v.position.z, 0.0f);
    }
}

TEST(IsotropicRemesh, StopAtCollapsingLeavesTheSplitResult)
{
    const TriangleMesh sphere = MakeTestSphere(10.0f);
    TriangleMesh mesh = sphere;
    const RemeshReport report = Remesh(mesh, Isotropic(0.8f), StopAt("Collapsing short edges"));
    EXPECT_TRUE(report.cancelled);
    EXPECT_FALSE(report.failed);
    EXPECT_EQ(report.collapses, 0u);
    EXPECT_EQ(report.flips, 0u);

    RemeshTopology topology = BuildRemeshTopology(sphere);
    std::uint64_t splits = 0;
    for (int pass = 0; pass < 40; ++pass) {
        const std::uint64_t n = SplitLongEdges(topology, MakeRemeshThresholds(Isotropic(0.8f)).splitLength);
        splits += n;
        if (n == 0)
            break;
    }
    EXPECT_EQ(report.splits, splits);
    EXPECT_TRUE(SameMesh(mesh, RebuildMeshFromTopology(topology)));
}

TEST(IsotropicRemesh, StopsAreReportedAsStopsAndLeaveAValidMesh)
{
    const char* const stages[] = {"Splitting long edges", "Collapsing short edges",
        "Improving triangle shape", "Relaxing"};
    for (const char* stage : stages) {
        SCOPED_TRACE(stage);
        TriangleMesh mesh = MakeTestSphere(10.0f);
        const RemeshReport report = Remesh(mesh, Isotropic(1.0f), StopAt(stage));
        EXPECT_TRUE(report.cancelled);
        EXPECT_FALSE(report.failed);
        EXPECT_EQ(CountEdges(mesh).boundary, 0u);
        EXPECT_EQ(FormatRemeshReport(report).rfind("Remesh cancelled: ", 0), 0u);
    }
    // The answer at "Rebuilding" comes too late to stop anything.
    TriangleMesh mesh = MakeTestSphere(10.0f);
    const RemeshReport report = Remesh(mesh, Isotropic(1.0f, 1), StopAt("Rebuilding"));
    EXPECT_FALSE(report.cancelled);
}

TEST(IsotropicRemesh, BadInputGivesTheNeutralResult)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        TriangleMesh mesh;
        bool failed;
    };
    TriangleMesh notTriples = MakeTestCube(10.0f);
    notTriples.indices.pop_back();
    TriangleMesh outOfRange = MakeTestCube(10.0f);
    outOfRange.indices[5] = 8;
    TriangleMesh notANumber = MakeTestCube(10.0f);
    notANumber.vertices[3].position.y = nan;
    TriangleMesh infinite = MakeTestCube(10.0f);
    infinite.vertices[0].position.z = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {"empty", TriangleMesh{}, false},
        {"vertices only", test::MeshOf({{0, 0, 0}, {1, 0, 0}}, {}), false},
        {"index count not a multiple of 3", notTriples, false},
        {"index out of range", outOfRange, false},
        {"NaN coordinate", notANumber, false},
        {"infinite coordinate", infinite, false},
        {"target far too fine for the memory", MakeTestCube(20.0f), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TriangleMesh mesh = c.mesh;
        const RemeshReport report = Remesh(mesh, Isotropic(c.failed ? 1e-4f : 1.0f), {});
        EXPECT_FALSE(report.cancelled);
        EXPECT_EQ(report.failed, c.failed);
        EXPECT_EQ(report.failure, c.failed ? RemeshFailure::targetTooFine : RemeshFailure::none);
        EXPECT_EQ(report.trianglesBefore, c.mesh.indices.size() / 3);
        EXPECT_EQ(report.trianglesAfter, 0u);
        EXPECT_EQ(mesh.indices, c.mesh.indices);
        EXPECT_EQ(mesh.vertices.size(), c.mesh.vertices.size());
        if (c.failed) {
            EXPECT_EQ(FormatRemeshReport(report).rfind("Remesh failed: the isotropic remesh", 0), 0u);
        }
    }
}

TEST(IsotropicRemesh, SplitPassThatWouldNotFitChangesNothing)
{
    RemeshTopology topology = BuildRemeshTopology(MakeTestCube(20.0f));
    const RemeshTopology before = topology;
    bool refused = false;
    EXPECT_EQ(SplitLongEdges(topology, 1.0f, 13, &refused), 0u);
    EXPECT_TRUE(refused);
    EXPECT_EQ(topology.triangles, before.triangles);
    EXPECT_EQ(topology.positions.size(), before.positions.size());
}

TEST(IsotropicRemesh, HugeTargetsEndBoundedAndClosed)
{
    for (const float edge : {1e6f, std::numeric_limits<float>::infinity()}) {
        SCOPED_TRACE(edge);
        TriangleMesh mesh = MakeTestSphere(10.0f);
        const RemeshReport report = Remesh(mesh, Isotropic(edge, 3), {});
        EXPECT_FALSE(report.cancelled || report.failed);
        EXPECT_EQ(CountEdges(mesh).boundary, 0u);
        EXPECT_EQ(CountEdges(mesh).nonManifold, 0u);
    }
}

// A flat n x n grid of unit squares whose diagonals alternate, so that inner vertices have
// valence 4 or 8 and flips towards 6 pay off.
TriangleMesh AlternatingGrid(std::uint32_t n)
{
    TriangleMesh grid;
    for (std::uint32_t r = 0; r <= n; ++r) {
        for (std::uint32_t c = 0; c <= n; ++c)
            grid.vertices.push_back({{static_cast<float>(c), static_cast<float>(r), 0.0f}, {}});
    }
    for (std::uint32_t r = 0; r < n; ++r) {
        for (std::uint32_t c = 0; c < n; ++c) {
            const std::uint32_t a = r * (n + 1) + c, b = a + 1, d = a + n + 1, e = d + 1;
            if ((r + c) % 2 == 0)
                grid.indices.insert(grid.indices.end(), {a, b, e, a, e, d});
            else
                grid.indices.insert(grid.indices.end(), {a, b, d, b, e, d});
        }
    }
    grid.ComputeBounds();
    return grid;
}

TEST(IsotropicRemesh, FlipsDoNotDependOnTheWinding)
{
    // The flip keeps the winding of the pair it replaces, whichever way the lower-numbered face
    // runs (else half the flips would be refused as turning the pair over); the mirrored mesh
    // must therefore flip exactly the same edges.
    const TriangleMesh grid = AlternatingGrid(12);
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
    const RemeshSettings settings = Isotropic(0.6f, 3);
    TriangleMesh many = sphere;
    const RemeshReport manyReport = Remesh(many, settings, {});
    TriangleMesh one = sphere;
    RemeshReport oneReport;
    {
        ThreadLimit limit(1);
        oneReport = Remesh(one, settings, {});
    }
    EXPECT_GT(many.TriangleCount(), 20000u);
    EXPECT_TRUE(SameMesh(one, many));
    EXPECT_EQ(oneReport.splits, manyReport.splits);
    EXPECT_EQ(oneReport.collapses, manyReport.collapses);
    EXPECT_EQ(oneReport.flips, manyReport.flips);
    EXPECT_EQ(oneReport.deviationMillimetres, manyReport.deviationMillimetres);
}

}  // namespace
}  // namespace grainforge::mesh
