#include "engine/remesh/flat_simplify.h"

#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/test_shapes.h"
#include "tests/support/json_view_of.h"
#include "tests/support/mesh_of.h"
#include "tests/support/shapes.h"

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
            "Simplified 4000 -> 1000 triangles in 3 sweeps over 7 planar regions, 146 KB saved, "
            "12 faces kept for the texture, bounding box moved 0.0000 mm"},
        {"stopped and broken", broken,
            "Simplify cancelled: 4000 -> 1000 triangles in 1 sweep over 7 planar regions, 146 KB "
            "saved, 12 faces kept for the texture, bounding box moved 0.2500 mm, 2 surviving "
            "vertices moved -- WARNING: the no-movement guarantee did not hold (volume drift "
            "5.00e-04 of 1e-5, area drift 1.00e-06 of 1e-7, 1500 vertices gone for 1500 "
            "collapses, 3000 triangles gone)"},
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
