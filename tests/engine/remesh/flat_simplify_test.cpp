#include "engine/remesh/flat_simplify.h"

#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/test_shapes.h"
#include "tests/support/checksum.h"
#include "tests/support/json_view_of.h"
#include "tests/support/mesh_of.h"
#include "tests/support/shapes.h"
#include "tests/support/validation_shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

namespace grainforge::mesh {
namespace {

using test::MakeGridTopBox;

TEST(FlatSimplify, BoxOfTwelveTrianglesIsLeftAsItIsAndSaysSo)
{
    TriangleMesh cube = MakeTestCube(20.0f);
    const TriangleMesh before = cube;
    const FlatSimplifyReport report = SimplifyFlatAreas(cube, nullptr, SimplifySettings{}, {});
    EXPECT_EQ(FormatFlatSimplifyReport(report),
        "Simplified 12 -> 12 triangles in 1 sweep over 6 planar regions, 0 KB saved, bounding box "
        "moved 0.0000 mm");
    EXPECT_EQ(report.planarTriangles, 12u);
    EXPECT_EQ(cube.indices, before.indices);
    EXPECT_TRUE(NoMovementGuaranteeHeld(report));
}

TEST(FlatSimplify, ReportTexts)
{
    FlatSimplifyReport held{.trianglesBefore = 4000, .trianglesAfter = 1000, .verticesBefore = 2000, .verticesAfter = 500,
        .planarRegions = 7, .collapses = 1500, .sweeps = 3, .texturedFacesKept = 12, .volumeBefore = 1000.0,
        .volumeAfter = 1000.0, .areaBefore = 600.0, .areaAfter = 600.0,
        .vertexSources = {}, .triangleSources = {}};
    FlatSimplifyReport broken = held;
    broken.cancelled = true;
    broken.sweeps = 1;
    broken.verticesMoved = 2;
    broken.boundsAfter[1].z = 0.25f;
    broken.volumeAfter = 1000.5;
    broken.areaAfter = 600.0006;
    const std::tuple<const char*, const FlatSimplifyReport&, const char*> cases[] = {
        {"held", held,
            "Simplified 4,000 -> 1,000 triangles in 3 sweeps over 7 planar regions, 146 KB saved, "
            "12 faces kept for the texture, bounding box moved 0.0000 mm"},
        {"stopped and broken", broken,
            "Simplify cancelled: 4,000 -> 1,000 triangles in 1 sweep over 7 planar regions, 146 KB "
            "saved, 12 faces kept for the texture, bounding box moved 0.2500 mm, 2 surviving "
            "vertices moved -- WARNING: the no-movement guarantee did not hold (volume drift "
            "5.00e-04 of 1e-5, area drift 1.00e-06 of 1e-7, 1,500 vertices gone for 1,500 "
            "collapses, 3,000 triangles gone)"},
    };
    for (const auto& [name, report, text] : cases)
        EXPECT_EQ(FormatFlatSimplifyReport(report), text) << name;
}

TEST(FlatSimplify, GridTopLosesOnlyInteriorVerticesAndHoldsTheGuarantee)
{
    constexpr std::uint32_t n = 10;
    const TriangleMesh input = MakeGridTopBox(n);
    ASSERT_NEAR(input.Volume(), 1000.0f, 1e-3f);
    TriangleMesh mesh = input;
    const FlatSimplifyReport report = SimplifyFlatAreas(mesh, nullptr, SimplifySettings{}, {});
    EXPECT_FALSE(report.cancelled);
    EXPECT_EQ(report.planarRegions, 6u);
    EXPECT_EQ(report.interiorVertices, (n - 1) * (n - 1));
    EXPECT_GT(report.collapses, 40u);
    EXPECT_TRUE(NoMovementGuaranteeHeld(report)) << FormatFlatSimplifyReport(report);
    EXPECT_EQ(report.boundsAfter, report.boundsBefore);
    EXPECT_EQ(report.trianglesBefore - report.trianglesAfter, 2 * report.collapses);
    EXPECT_NEAR(report.volumeAfter, 1000.0, 1000.0 * 1e-5);
    EXPECT_NEAR(report.areaAfter, 600.0, 600.0 * 1e-7);
    // Only inner top vertices went; every survivor sits exactly where its source was.
    std::vector<bool> kept(input.vertices.size(), false);
    ASSERT_EQ(report.vertexSources.size(), mesh.vertices.size());
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
        kept[report.vertexSources[i]] = true;
        EXPECT_EQ(mesh.vertices[i].position, input.vertices[report.vertexSources[i]].position);
        EXPECT_EQ(mesh.vertices[i].normal, input.vertices[report.vertexSources[i]].normal);
    }
    for (std::uint32_t v = 0; v < input.vertices.size(); ++v) {
        if (v >= (n + 1) * (n + 1) || v / (n + 1) % n == 0 || v % (n + 1) % n == 0) {  // not an inner top vertex
            EXPECT_TRUE(kept[v]) << "vertex " << v;
        }
    }
    // The sides and the bottom are untouched; the result is closed and faces up on top.
    for (std::uint32_t t = 2 * n * n; t < input.TriangleCount(); ++t)
        EXPECT_NE(std::find(report.triangleSources.begin(), report.triangleSources.end(), t),
            report.triangleSources.end()) << "triangle " << t;
    EXPECT_EQ(CountEdges(mesh).boundary, 0u);
    EXPECT_EQ(CountEdges(mesh).nonManifold, 0u);
    for (std::size_t i = 0; i < report.triangleSources.size(); ++i) {
        if (report.triangleSources[i] < 2 * n * n) {
            EXPECT_GT(mesh.FaceNormal(i).z, 0.99f);
        }
    }
}

TEST(FlatSimplify, TexturedFlagsLockTheirVertices)
{
    constexpr std::uint32_t n = 10;
    const TriangleMesh input = MakeGridTopBox(n);
    std::vector<std::uint8_t> leftHalf(input.TriangleCount(), 0);
    for (std::uint32_t t = 0; t < 2 * n * n; ++t)
        leftHalf[t] = (t / 2) % n < n / 2;
    TriangleMesh plain = input, textured = input, oneShort = input;
    const FlatSimplifyReport plainReport = SimplifyFlatAreas(plain, nullptr, {}, {});
    const FlatSimplifyReport report = SimplifyFlatAreas(textured, &leftHalf, {}, {});
    EXPECT_EQ(report.texturedFacesKept, n * n);
    EXPECT_TRUE(NoMovementGuaranteeHeld(report));
    EXPECT_LT(report.collapses, plainReport.collapses);
    std::vector<bool> kept(input.vertices.size(), false);
    for (std::uint32_t source : report.vertexSources)
        kept[source] = true;
    for (std::size_t t = 0; t < input.TriangleCount(); ++t)
        for (int i = 0; i < 3 && leftHalf[t] != 0; ++i)
            EXPECT_TRUE(kept[input.indices[3 * t + i]]) << "triangle " << t;
    // Flags that do not cover every triangle are not used at all.
    const std::vector<std::uint8_t> shortFlags(leftHalf.begin(), leftHalf.end() - 1);
    const FlatSimplifyReport ignored = SimplifyFlatAreas(oneShort, &shortFlags, {}, {});
    EXPECT_EQ(ignored.texturedFacesKept, 0u);
    EXPECT_EQ(ignored.collapses, plainReport.collapses);
}

// A flat fan of `spokes` triangles round vertex 0 (the ring is the border).
TriangleMesh FlatFan(std::uint32_t spokes)
{
    TriangleMesh fan = test::MakeFan(spokes);
    fan.vertices[0].position.z = 0.0f;
    fan.ComputeBounds();
    return fan;
}

TEST(FlatSimplify, CandidatesAndLimits)
{
    const struct {
        const char* name;
        std::uint32_t spokes;
        SimplifySettings settings;
        std::uint64_t collapses, refusedValence;
    } cases[] = {
        {"four faces are too few", 4, {}, 0, 0},
        {"five faces", 5, {}, 1, 0},
        // The ring vertices are border vertices of valence 3: a collapse would give one of them
        // 3 + 4 = 7, over the limit of 5, although border vertices are not candidates.
        {"valence limit holds for locked vertices", 6, {.maximumValence = 5}, 0, 6},
        {"valence limit 1 acts as 3", 6, {.maximumValence = 1}, 0, 6},
        {"minimum height refuses", 6, {.minimumTriangleHeightMillimetres = 100.0f}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TriangleMesh mesh = FlatFan(c.spokes);
        const FlatSimplifyReport report = SimplifyFlatAreas(mesh, nullptr, c.settings, {});
        EXPECT_EQ(report.collapses, c.collapses);
        EXPECT_EQ(report.refusedValence, c.refusedValence);
        EXPECT_TRUE(NoMovementGuaranteeHeld(report));
    }
}

// Zero sweeps run one; a stop before the first sweep or after it keeps the guarantee. Index
// faults, NaN and the empty mesh are in inconsistent_mesh_test.cpp.
TEST(FlatSimplify, SweepsOfZeroRunOneAndStopsKeepTheGuarantee)
{
    const TriangleMesh input = MakeGridTopBox(10);
    const auto run = [&](std::int32_t sweeps, int answersBeforeStop) {
        TriangleMesh mesh = input;
        int calls = 0;
        const FlatSimplifyReport report = SimplifyFlatAreas(mesh, nullptr, {.maximumSweeps = sweeps},
            [&](const std::string& stage, float) { return stage == "Simplifying flat areas" && ++calls <= answersBeforeStop; });
        EXPECT_TRUE(NoMovementGuaranteeHeld(report));
        return std::make_pair(report, mesh);
    };
    const auto [zero, zeroMesh] = run(0, 100);
    const auto [one, oneMesh] = run(1, 100);
    EXPECT_EQ(zero.sweeps, 1u);
    EXPECT_EQ(zeroMesh.indices, oneMesh.indices);
    const auto [stopped, stoppedMesh] = run(64, 0);
    EXPECT_TRUE(stopped.cancelled);
    EXPECT_EQ(stoppedMesh.indices, input.indices);
    const auto [later, laterMesh] = run(64, 1);
    EXPECT_TRUE(later.cancelled);
    EXPECT_EQ(later.sweeps, 1u);
    EXPECT_EQ(later.collapses, one.collapses);
    EXPECT_EQ(FormatFlatSimplifyReport(later).rfind("Simplify cancelled: ", 0), 0u);
}

TEST(FlatSimplify, TiltedTriangleOpensItsOwnRegion)
{
    // Two triangles of a square, the second lifted at one corner by 2 degrees' worth.
    const float lift = std::tan(2.0f * 3.1415927f / 180.0f) * 10.0f;
    const TriangleMesh mesh =
        test::MeshOf({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, lift}}, {0, 1, 2, 0, 2, 3});
    const std::vector<std::uint32_t> neighbours = BuildTriangleNeighbours(mesh);
    SimplifySettings settings;
    EXPECT_EQ(FindPlanarRegions(mesh, settings, neighbours).normals.size(), 2u);
    settings.planarAngleDegrees = 3.0f;
    settings.planarToleranceMillimetres = 1.0f;
    const PlanarRegions joined = FindPlanarRegions(mesh, settings, neighbours);
    EXPECT_EQ(joined.normals.size(), 1u);
    EXPECT_EQ(joined.triangleCounts, (std::vector<std::uint64_t>{2}));
    // A facet 100 m away leaves the square the tolerance of its own size: a corner lifted
    // 0.05 mm, well within the angle, still opens a region of its own.
    const TriangleMesh withFar = test::MeshOf({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0.05f}, {1e5f, 1e5f, 0},
        {1e5f + 1, 1e5f, 0}, {1e5f, 1e5f + 1, 0}}, {0, 1, 2, 0, 2, 3, 4, 5, 6});
    EXPECT_EQ(FindPlanarRegions(withFar, SimplifySettings{}, BuildTriangleNeighbours(withFar)).normals.size(), 3u);
    // The far piece's own flat but tilted fan, its corners rounded as floats are 100 m out, stays
    // one region: the rounding of its coordinates comes with where it lies, not with its size.
    std::vector<Vec3> corners(13);
    std::vector<std::uint32_t> indices(withFar.indices.begin(), withFar.indices.begin() + 6);
    for (std::size_t v = 0; v < 4; ++v)
        corners[v] = withFar.vertices[v].position;
    for (int k = 0; k <= 8; ++k) {
        const double x = k == 8 ? 0.0 : 5.0 * std::cos(k * 0.785398), y = k == 8 ? 0.0 : 5.0 * std::sin(k * 0.785398);
        corners[4 + k] = {float(1e5 + x), float(1e5 + y), float(0.37 * x + 0.61 * y)};
    }
    for (std::uint32_t k = 0; k < 8; ++k)
        indices.insert(indices.end(), {12, 4 + k, 4 + (k + 1) % 8});
    const TriangleMesh withFarFan = test::MeshOf(corners, indices);
    EXPECT_EQ(FindPlanarRegions(withFarFan, SimplifySettings{}, BuildTriangleNeighbours(withFarFan)).normals.size(), 3u);
}

// Neighbours by the definition: every corner slot sorted by its edge, a pair wherever exactly
// two slots share one.
std::vector<std::uint32_t> NeighboursByDefinition(const TriangleMesh& mesh)
{
    const std::size_t corners = mesh.indices.size();
    std::vector<EdgeRecord> records(corners);
    for (std::size_t slot = 0; slot < corners; ++slot)
        records[slot] = {MakeEdgeKey(mesh.indices[slot], mesh.indices[slot - slot % 3 + (slot + 1) % 3]),
            static_cast<std::uint32_t>(slot)};
    std::sort(records.begin(), records.end(),
        [](const EdgeRecord& a, const EdgeRecord& b) { return std::tie(a.key, a.triangle) < std::tie(b.key, b.triangle); });
    std::vector<std::uint32_t> expected(corners, kNoFace);
    for (std::size_t i = 0; i < corners;) {
        std::size_t j = i;
        while (j < corners && records[j].key == records[i].key)
            ++j;
        if (j - i == 2) {
            expected[records[i].triangle] = records[i + 1].triangle / 3;
            expected[records[i + 1].triangle] = records[i].triangle / 3;
        }
        i = j;
    }
    return expected;
}

// Shapes with open edges, edges of three triangles, repeated corners and a triangle folded onto
// itself (two of its own slots share an edge).
TEST(FlatSimplify, NeighboursAreTheEdgesSharedByExactlyTwoSlots)
{
    TriangleMesh fan = test::MeshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}},
        {0, 1, 2, 1, 0, 3, 0, 1, 4, 2, 3, 4, 0, 0, 2, 3, 4, 3, 4, 2, 1});
    const TriangleMesh shapes[] = {MakeGridTopBox(6), MakeTestCube(10), fan, test::MakeRandomTriangles(3, 200, 5, 1)};
    for (const TriangleMesh& mesh : shapes)
        EXPECT_EQ(BuildTriangleNeighbours(mesh), NeighboursByDefinition(mesh)) << mesh.TriangleCount();
}

// The face lists, which the sweeps read, hold every alive triangle once
// per corner in triangle order, and nothing attached since the last rebuild.
TEST(FlatSimplify, FaceListsAreInTriangleOrder)
{
    struct Case {
        const char* name;
        TriangleMesh mesh;
    };
    const Case cases[] = {
        {"twelve triangles", MakeTestCube(10)},
        {"grid-top box of 300", MakeGridTopBox(300)},
    };
    for (const Case& c : cases) {
        RemeshTopology topology = BuildRemeshTopology(c.mesh);
        for (std::size_t t = 0; t < topology.TriangleCount(); t += 7)
            topology.triangleAlive[t] = 0;
        topology.triangles[1][1] = topology.triangles[1][0];  // a vertex twice in one triangle
        std::vector<std::vector<std::uint32_t>> expected(topology.VertexCount());
        for (std::size_t t = 0; t < topology.TriangleCount(); ++t) {
            if (!topology.triangleAlive[t])
                continue;
            for (std::uint32_t v : topology.triangles[t])
                expected[v].push_back(static_cast<std::uint32_t>(t));
        }
        topology.extraVertexFaces[0].push_back(5);
        RebuildVertexFaceLists(topology);
        ASSERT_EQ(topology.vertexFaceOffsets.size(), topology.VertexCount() + 1) << c.name;
        for (std::uint32_t v = 0; v < topology.VertexCount(); ++v) {
            const std::vector<std::uint32_t> listed(topology.vertexFaces.begin() + topology.vertexFaceOffsets[v],
                topology.vertexFaces.begin() + topology.vertexFaceOffsets[v + 1]);
            ASSERT_EQ(listed, expected[v]) << c.name << ", vertex " << v;
            ASSERT_TRUE(topology.extraVertexFaces[v].empty()) << c.name;
        }
    }
}

TEST(FlatSimplify, ResultDoesNotDependOnTheThreadCount)
{
    const TriangleMesh input = MakeGridTopBox(120);
    TriangleMesh many = input, one = input;
    const FlatSimplifyReport manyReport = SimplifyFlatAreas(many, nullptr, {}, {});
    const ThreadLimit limit(1);
    const FlatSimplifyReport oneReport = SimplifyFlatAreas(one, nullptr, {}, {});
    EXPECT_GT(manyReport.collapses, 5000u);
    EXPECT_EQ(one.indices, many.indices);
    EXPECT_EQ(oneReport.vertexSources, manyReport.vertexSources);
    EXPECT_EQ(FormatFlatSimplifyReport(oneReport), FormatFlatSimplifyReport(manyReport));
}

// A closed cylinder along z (radius 20 mm, height 20 mm) of `segments` side quads split in two,
// whose caps are fans: each centre has `segments` neighbours, far over the default valence
// limit, while the rim vertices are region borders.
TriangleMesh FanCapCylinder(std::uint32_t segments)
{
    TriangleMesh cylinder;
    cylinder.vertices.push_back({{0.0f, 0.0f, 0.0f}, {}});
    cylinder.vertices.push_back({{0.0f, 0.0f, 20.0f}, {}});
    for (std::uint32_t i = 0; i < segments; ++i) {
        const double angle = 6.283185307179586 * i / segments;
        const float x = static_cast<float>(20.0 * std::cos(angle));
        const float y = static_cast<float>(20.0 * std::sin(angle));
        cylinder.vertices.push_back({{x, y, 0.0f}, {}});
        cylinder.vertices.push_back({{x, y, 20.0f}, {}});
    }
    for (std::uint32_t i = 0; i < segments; ++i) {
        const std::uint32_t b0 = 2 + 2 * i;
        const std::uint32_t b1 = 2 + 2 * ((i + 1) % segments);
        cylinder.indices.insert(cylinder.indices.end(),
            {0, b1, b0, 1, b0 + 1, b1 + 1, b0, b1, b1 + 1, b0, b1 + 1, b0 + 1});
    }
    cylinder.ComputeBounds();
    cylinder.ComputeVertexNormals();
    return cylinder;
}

// The fan-cap cylinder beside a grid-top box that needs several sweeps, all of which leave the
// cylinder as it is.
TriangleMesh FanCapsBesideGridTopBox(std::uint32_t segments)
{
    return test::Combined(FanCapCylinder(segments), test::Translated(MakeGridTopBox(12), {40.0f, 0.0f, 0.0f}));
}

// Vertices of hundreds of neighbours match their edges by sorting, not pairwise: the fan
// centres, alone and with spokes of three triangles, a triangle folded onto a spoke and a
// repeated corner at the centre.
TEST(FlatSimplify, NeighboursOfFanCentresAreTheEdgesSharedByExactlyTwoSlots)
{
    TriangleMesh torn = FanCapCylinder(300);
    torn.indices.insert(torn.indices.end(), {0, 2, 4, 0, 8, 6, 0, 0, 10, 0, 12, 12, 1, 3, 1});
    const std::tuple<const char*, TriangleMesh> cases[] = {
        {"fan caps of 300", FanCapCylinder(300)},
        {"fan caps of 4000", FanCapCylinder(4000)},
        {"fan caps of 300 with torn spokes", torn},
    };
    for (const auto& [name, mesh] : cases)
        EXPECT_EQ(BuildTriangleNeighbours(mesh), NeighboursByDefinition(mesh)) << name;
}

// A fan-capped cylinder alone is closed and, once its centres are over the valence limit,
// stays as it is: every other vertex lies on a region border. Pinned to the results it had
// while the edge matching around a centre still grew with the square of its valence.
TEST(FlatSimplify, FanCappedCylinderIsLeftAsItWas)
{
    const struct {
        std::uint32_t segments;
        std::uint64_t collapses, checksum;
    } cases[] = {
        {16, 2, 0x56029d87517cb5e1},  // each centre collapses into a rim vertex
        {2000, 0, 0xf8d30abb3a9fd1fb},
        {16000, 0, 0xb929862b8520218f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.segments);
        TriangleMesh mesh = FanCapCylinder(c.segments);
        const FlatSimplifyReport report = SimplifyFlatAreas(mesh, nullptr, {}, {});
        EXPECT_TRUE(NoMovementGuaranteeHeld(report));
        EXPECT_EQ(report.collapses, c.collapses);
        EXPECT_EQ(report.trianglesAfter, 4u * c.segments - 2 * c.collapses);
        EXPECT_EQ(report.verticesAfter, 2u * c.segments + 2 - c.collapses);
        const std::vector<std::uint32_t> neighbours = BuildTriangleNeighbours(mesh);
        EXPECT_EQ(std::count(neighbours.begin(), neighbours.end(), kNoFace), 0) << "an open or shared edge";
        test::Fnv1a sum;
        test::AddMesh(sum, mesh).Add(report.vertexSources).Add(report.triangleSources);
        EXPECT_EQ(sum.Value(), c.checksum) << std::hex << "0x" << sum.Value();
    }
}

// The result mesh, its sources and the collapse and sweep counts, as the simplification gave them
// when it still retried every candidate in every sweep: skipping the retries of neighbourhoods
// that did not change must not change one collapse.
TEST(FlatSimplify, ResultsAreThoseOfRetryingEveryCandidateEverySweep)
{
    const struct {
        const char* name;
        TriangleMesh input;
        SimplifySettings settings;
        std::uint64_t collapses, sweeps, checksum;
    } cases[] = {
        {"grid-top box", MakeGridTopBox(10), {}, 80, 11, 0x106199eb6e7204e4},
        {"grid-top box of 40, valence limit 10", MakeGridTopBox(40), {.maximumValence = 10}, 1125, 8, 0x0f007786d91ed2f5},
        {"fan caps of 256 beside the grid-top box", FanCapsBesideGridTopBox(256), {}, 119, 12, 0xb011365e8af7abdf},
        // The limit lets each centre collapse into a rim vertex: a fan over the whole cap.
        {"fan caps of 64, valence limit 100", FanCapsBesideGridTopBox(64), {.maximumValence = 100}, 122, 13, 0x133e37758f39f860},
        {"open grid of valences 4 and 8", test::MakeFlatGrid(24, 0.5f, 0.0f, true), {}, 517, 20, 0xd73ce4a1c709299d},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TriangleMesh mesh = c.input;
        const FlatSimplifyReport report = SimplifyFlatAreas(mesh, nullptr, c.settings, {});
        test::Fnv1a sum;
        test::AddMesh(sum, mesh).Add(report.vertexSources).Add(report.triangleSources);
        EXPECT_TRUE(NoMovementGuaranteeHeld(report));
        EXPECT_EQ(report.collapses, c.collapses);
        EXPECT_EQ(report.sweeps, c.sweeps);
        EXPECT_EQ(sum.Value(), c.checksum) << std::hex << "0x" << sum.Value();
    }
}

// A centre refused by all its neighbours is not tried again while its neighbourhood stays as it
// was: the cap centres, over the valence limit for every collapse, count their refusals once,
// however many sweeps the box beside them needs. Trying them in every sweep made the work grow
// with the square of their valence times the sweeps.
TEST(FlatSimplify, FanCentreIsNotRetriedInEverySweep)
{
    constexpr std::uint32_t segments = 256;
    TriangleMesh alone = test::Translated(MakeGridTopBox(12), {40.0f, 0.0f, 0.0f});
    TriangleMesh beside = FanCapsBesideGridTopBox(segments);
    const FlatSimplifyReport aloneReport = SimplifyFlatAreas(alone, nullptr, {}, {});
    const FlatSimplifyReport report = SimplifyFlatAreas(beside, nullptr, {}, {});
    EXPECT_GT(report.sweeps, 2u);
    EXPECT_EQ(report.sweeps, aloneReport.sweeps);
    EXPECT_EQ(report.collapses, aloneReport.collapses);
    EXPECT_EQ(report.refusedValence - aloneReport.refusedValence, 2 * segments);
    EXPECT_EQ(report.refusedFlip, aloneReport.refusedFlip);
    EXPECT_EQ(report.refusedHeight, aloneReport.refusedHeight);
    EXPECT_EQ(report.refusedNoCandidate, aloneReport.refusedNoCandidate);
}

// The valence limit, an O(1) test, refuses before the link condition, which reads both rings:
// a flat fan of six with a triangle folded back over rim vertices 1, 2 and 3 gives 1 and 3 a
// third neighbour in common with the centre, so their link condition fails, yet all six
// neighbours count as refused for valence (3 or 4 neighbours, and 4 more, over 5).
TEST(FlatSimplify, ValenceRefusesBeforeTheLinkCondition)
{
    TriangleMesh mesh = FlatFan(6);
    mesh.indices.insert(mesh.indices.end(), {1, 3, 2});
    const FlatSimplifyReport report = SimplifyFlatAreas(mesh, nullptr, {.maximumValence = 5}, {});
    EXPECT_EQ(report.interiorVertices, 1u);
    EXPECT_EQ(report.collapses, 0u);
    EXPECT_EQ(report.refusedValence, 6u);
}

// The keys as documents hold them; each field, read on its own, makes the record differ (so it
// is read and takes part in the equality), and the whole record reads back equal.
TEST(FlatSimplify, SettingsJsonAndEquality)
{
    const SimplifySettings changed{.planarToleranceMillimetres = 0.25f, .relativePlanarTolerance = 1e-3f,
        .planarAngleDegrees = 5.5f, .minimumTriangleHeightMillimetres = 0.1f, .maximumValence = 9, .maximumSweeps = 3,
        .preserveVertexNormals = false, .protectTexturedFaces = true, .flatAreas = false, .wholeMesh = false,
        .meshDetailError = 0.5f};
    const JsonNode node = NewJsonDocument();
    WriteSimplifySettingsJson(node, changed);
    EXPECT_EQ(node.root->dump(),
        "{\"planarToleranceMillimetres\":0.25,\"relativePlanarTolerance\":0.001,"
        "\"planarAngleDegrees\":5.5,\"minimumTriangleHeightMillimetres\":0.1,\"maximumValence\":9,"
        "\"maximumSweeps\":3,\"preserveVertexNormals\":false,\"protectTexturedFaces\":true,"
        "\"flatAreas\":false,\"wholeMesh\":false,\"meshDetailError\":0.5}");
    SimplifySettings read;
    ReadSimplifySettingsJson(test::ViewOf(node.root->dump()), read);
    EXPECT_TRUE(SimplifySettingsEquals(read, changed));
    for (const auto& item : node.root->items()) {
        SimplifySettings one;
        ReadSimplifySettingsJson(test::ViewOf(JsonValue{{item.key(), item.value()}}.dump()), one);
        EXPECT_FALSE(SimplifySettingsEquals(one, SimplifySettings{})) << item.key();
    }
}

}  // namespace
}  // namespace grainforge::mesh
