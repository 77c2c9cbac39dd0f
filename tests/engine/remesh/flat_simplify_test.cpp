#include "engine/remesh/flat_simplify.h"

#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/test_shapes.h"
#include "tests/support/json_view_of.h"
#include "tests/support/mesh_of.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace grainforge::mesh {
namespace {

// Turns every triangle of a convex part outward (the part's centre inside).
void OrientOutward(TriangleMesh& mesh, Vec3 centre)
{
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        std::uint32_t* c = &mesh.indices[3 * t];
        const Vec3 p0 = mesh.vertices[c[0]].position;
        const Vec3 p1 = mesh.vertices[c[1]].position;
        const Vec3 p2 = mesh.vertices[c[2]].position;
        const Vec3 mid = (p0 + p1 + p2) * (1.0f / 3.0f);
        if (Dot(Cross(p1 - p0, p2 - p0), mid - centre) < 0.0f)
            std::swap(c[1], c[2]);
    }
}

// A closed box of side `size` whose top is an n x n grid of squares (two triangles each,
// vertices 0 .. (n+1)^2 - 1, triangles 0 .. 2n^2 - 1); each side is a fan from the two bottom
// corners up to the top border, and the bottom is two triangles.
TriangleMesh GridTopBox(std::uint32_t n, float size = 10.0f)
{
    TriangleMesh box;
    const float step = size / static_cast<float>(n);
    const auto top = [n](std::uint32_t r, std::uint32_t c) { return r * (n + 1) + c; };
    for (std::uint32_t r = 0; r <= n; ++r) {
        for (std::uint32_t c = 0; c <= n; ++c)
            box.vertices.push_back({{static_cast<float>(c) * step, static_cast<float>(r) * step, size}, {}});
    }
    for (std::uint32_t r = 0; r < n; ++r) {
        for (std::uint32_t c = 0; c < n; ++c) {
            const std::uint32_t a = top(r, c), b = top(r, c + 1), d = top(r + 1, c), e = top(r + 1, c + 1);
            box.indices.insert(box.indices.end(), {a, b, e, a, e, d});
        }
    }
    const auto bottom = static_cast<std::uint32_t>(box.vertices.size());
    for (Vec3 p : {Vec3{0, 0, 0}, Vec3{size, 0, 0}, Vec3{size, size, 0}, Vec3{0, size, 0}})
        box.vertices.push_back({p, {}});
    // The top border as four runs of n + 1 vertices, each between two bottom corners.
    for (std::uint32_t side = 0; side < 4; ++side) {
        std::vector<std::uint32_t> run;
        for (std::uint32_t i = 0; i <= n; ++i) {
            switch (side) {
            case 0: run.push_back(top(0, i)); break;
            case 1: run.push_back(top(i, n)); break;
            case 2: run.push_back(top(n, n - i)); break;
            default: run.push_back(top(n - i, 0)); break;
            }
        }
        const std::uint32_t b0 = bottom + side;
        const std::uint32_t b1 = bottom + (side + 1) % 4;
        const std::uint32_t half = n / 2;
        for (std::uint32_t i = 0; i < half; ++i)
            box.indices.insert(box.indices.end(), {b0, run[i], run[i + 1]});
        box.indices.insert(box.indices.end(), {b0, run[half], b1});
        for (std::uint32_t i = half; i < n; ++i)
            box.indices.insert(box.indices.end(), {b1, run[i], run[i + 1]});
    }
    box.indices.insert(box.indices.end(), {bottom, bottom + 1, bottom + 2, bottom, bottom + 2, bottom + 3});
    OrientOutward(box, {size / 2, size / 2, size / 2});
    box.ComputeBounds();
    box.ComputeVertexNormals();
    return box;
}

bool IsInnerTopVertex(std::uint32_t v, std::uint32_t n)
{
    const std::uint32_t r = v / (n + 1), c = v % (n + 1);
    return v < (n + 1) * (n + 1) && r > 0 && r < n && c > 0 && c < n;
}

TEST(FlatSimplify, BoxOfTwelveTrianglesIsLeftAsItIsAndSaysSo)
{
    TriangleMesh cube = MakeTestCube(20.0f);
    const TriangleMesh before = cube;
    const FlatSimplifyReport report = SimplifyFlatAreas(cube, nullptr, SimplifySettings{}, {});
    EXPECT_EQ(FormatFlatSimplifyReport(report),
        "Simplified 12 -> 12 triangles in 1 sweep over 6 planar regions, 0 KB saved, bounding box "
        "moved 0.0000 mm");
    EXPECT_EQ(report.planarTriangles, 12u);
    EXPECT_EQ(report.interiorVertices, 0u);
    EXPECT_EQ(cube.indices, before.indices);
    EXPECT_TRUE(NoMovementGuaranteeHeld(report));
}

TEST(FlatSimplify, ReportTexts)
{
    FlatSimplifyReport held;
    held.trianglesBefore = 4000;
    held.trianglesAfter = 1000;
    held.verticesBefore = 2000;
    held.verticesAfter = 500;
    held.collapses = 1500;
    held.sweeps = 3;
    held.planarRegions = 7;
    held.texturedFacesKept = 12;
    held.volumeBefore = held.volumeAfter = 1000.0;
    held.areaBefore = held.areaAfter = 600.0;
    FlatSimplifyReport broken = held;
    broken.cancelled = true;
    broken.sweeps = 1;
    broken.verticesMoved = 2;
    broken.boundsAfter[1].z = 0.25f;
    broken.volumeAfter = 1000.5;
    broken.areaAfter = 600.0006;
    struct Case {
        const char* name;
        const FlatSimplifyReport& report;
        const char* text;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FormatFlatSimplifyReport(c.report), c.text);
    }
}

TEST(FlatSimplify, GridTopLosesOnlyInteriorVerticesAndHoldsTheGuarantee)
{
    constexpr std::uint32_t n = 10;
    const TriangleMesh input = GridTopBox(n);
    ASSERT_EQ(CountEdges(input).boundary, 0u);
    ASSERT_EQ(CountEdges(input).nonManifold, 0u);
    TriangleMesh mesh = input;
    const FlatSimplifyReport report = SimplifyFlatAreas(mesh, nullptr, SimplifySettings{}, {});
    EXPECT_FALSE(report.cancelled);
    EXPECT_EQ(report.planarRegions, 6u);
    EXPECT_EQ(report.interiorVertices, (n - 1) * (n - 1));
    EXPECT_GT(report.collapses, 40u);
    EXPECT_TRUE(NoMovementGuaranteeHeld(report)) << FormatFlatSimplifyReport(report);
    EXPECT_EQ(report.verticesMoved, 0u);
    EXPECT_EQ(report.boundsAfter, report.boundsBefore);
    EXPECT_EQ(report.trianglesBefore - report.trianglesAfter, 2 * report.collapses);
    EXPECT_NEAR(report.volumeAfter, 1000.0, 1000.0 * 1e-5);
    EXPECT_NEAR(report.areaAfter, 600.0, 600.0 * 1e-7);
    EXPECT_EQ(FormatFlatSimplifyReport(report).find("WARNING"), std::string::npos);
    // Only inner top vertices went; every survivor sits exactly where its source was.
    std::vector<bool> kept(input.vertices.size(), false);
    ASSERT_EQ(report.vertexSources.size(), mesh.vertices.size());
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
        kept[report.vertexSources[i]] = true;
        EXPECT_EQ(mesh.vertices[i].position, input.vertices[report.vertexSources[i]].position);
        EXPECT_EQ(mesh.vertices[i].normal, input.vertices[report.vertexSources[i]].normal);
    }
    for (std::uint32_t v = 0; v < input.vertices.size(); ++v) {
        if (!IsInnerTopVertex(v, n)) {
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
    const TriangleMesh input = GridTopBox(n);
    const std::size_t count = input.TriangleCount();
    std::vector<std::uint8_t> leftHalf(count, 0);
    for (std::uint32_t t = 0; t < 2 * n * n; ++t)
        leftHalf[t] = (t / 2) % n < n / 2;
    std::vector<std::uint8_t> oneShort(leftHalf.begin(), leftHalf.end() - 1);
    TriangleMesh plain = input;
    const std::uint64_t plainCollapses = SimplifyFlatAreas(plain, nullptr, SimplifySettings{}, {}).collapses;
    struct Case {
        const char* name;
        const std::vector<std::uint8_t>* flags;
        std::uint64_t kept;
    };
    const Case cases[] = {
        {"left half textured", &leftHalf, n * n},
        {"flags one short are ignored", &oneShort, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TriangleMesh mesh = input;
        const FlatSimplifyReport report = SimplifyFlatAreas(mesh, c.flags, SimplifySettings{}, {});
        EXPECT_EQ(report.texturedFacesKept, c.kept);
        EXPECT_TRUE(NoMovementGuaranteeHeld(report));
        if (c.kept == 0) {
            EXPECT_EQ(report.collapses, plainCollapses);
            continue;
        }
        std::vector<bool> kept(input.vertices.size(), false);
        for (std::uint32_t source : report.vertexSources)
            kept[source] = true;
        for (std::size_t t = 0; t < count; ++t) {
            if ((*c.flags)[t] == 0)
                continue;
            for (int i = 0; i < 3; ++i)
                EXPECT_TRUE(kept[input.indices[3 * t + i]]) << "triangle " << t;
        }
        EXPECT_LT(report.collapses, plainCollapses);
    }
}

// A flat fan of `spokes` triangles round vertex 0 (the ring is the border).
TriangleMesh FlatFan(std::uint32_t spokes)
{
    TriangleMesh fan;
    fan.vertices.push_back({{0, 0, 0}, {}});
    for (std::uint32_t i = 0; i < spokes; ++i) {
        const float angle = static_cast<float>(i) * 6.2831855f / static_cast<float>(spokes);
        fan.vertices.push_back({{std::cos(angle) * 10.0f, std::sin(angle) * 10.0f, 0}, {}});
        fan.indices.insert(fan.indices.end(), {0, 1 + i, 1 + (i + 1) % spokes});
    }
    fan.ComputeBounds();
    return fan;
}

TEST(FlatSimplify, CandidatesAndLimits)
{
    struct Case {
        const char* name;
        TriangleMesh mesh;
        std::function<void(SimplifySettings&)> settings;
        std::uint64_t collapses;
        std::uint64_t refusedValence;
    };
    const Case cases[] = {
        {"four faces are too few", FlatFan(4), [](SimplifySettings&) {}, 0, 0},
        {"five faces", FlatFan(5), [](SimplifySettings&) {}, 1, 0},
        {"six faces", FlatFan(6), [](SimplifySettings&) {}, 1, 0},
        // The ring vertices are border vertices of valence 3: a collapse would give one of them
        // 3 + 4 = 7, over the limit of 5, although border vertices are not candidates.
        {"valence limit holds for locked vertices", FlatFan(6),
            [](SimplifySettings& s) { s.maximumValence = 5; }, 0, 6},
        {"valence limit 1 acts as 3", FlatFan(6), [](SimplifySettings& s) { s.maximumValence = 1; }, 0, 6},
        {"minimum height refuses", FlatFan(6),
            [](SimplifySettings& s) { s.minimumTriangleHeightMillimetres = 100.0f; }, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TriangleMesh mesh = c.mesh;
        SimplifySettings settings;
        c.settings(settings);
        const FlatSimplifyReport report = SimplifyFlatAreas(mesh, nullptr, settings, {});
        EXPECT_EQ(report.collapses, c.collapses);
        EXPECT_EQ(report.refusedValence, c.refusedValence);
        EXPECT_TRUE(NoMovementGuaranteeHeld(report));
    }
}

TEST(FlatSimplify, SweepsOfZeroRunOneAndStopsKeepTheGuarantee)
{
    const TriangleMesh input = GridTopBox(10);
    const auto run = [&](std::int32_t sweeps, ProgressCallback progress) {
        TriangleMesh mesh = input;
        SimplifySettings settings;
        settings.maximumSweeps = sweeps;
        FlatSimplifyReport report = SimplifyFlatAreas(mesh, nullptr, settings, progress);
        return std::make_pair(report, mesh);
    };
    const auto [zero, zeroMesh] = run(0, {});
    const auto [one, oneMesh] = run(1, {});
    EXPECT_EQ(zero.sweeps, 1u);
    EXPECT_EQ(zeroMesh.indices, oneMesh.indices);

    const auto [stopped, stoppedMesh] = run(64, [](const std::string&, float) { return false; });
    EXPECT_TRUE(stopped.cancelled);
    EXPECT_EQ(stopped.collapses, 0u);
    EXPECT_EQ(stoppedMesh.indices, input.indices);
    EXPECT_TRUE(NoMovementGuaranteeHeld(stopped));

    int calls = 0;
    const auto [later, laterMesh] = run(64, [&](const std::string& stage, float) {
        EXPECT_EQ(stage, "Simplifying flat areas");
        return ++calls < 2;
    });
    EXPECT_TRUE(later.cancelled);
    EXPECT_EQ(later.sweeps, 1u);
    EXPECT_EQ(later.collapses, one.collapses);
    EXPECT_TRUE(NoMovementGuaranteeHeld(later));
    EXPECT_EQ(FormatFlatSimplifyReport(later).rfind("Simplify cancelled: ", 0), 0u);
}

TEST(FlatSimplify, BadInputLeavesTheMeshAsItWas)
{
    TriangleMesh outOfRange = MakeTestCube(10.0f);
    outOfRange.indices[7] = 99;
    TriangleMesh notTriples = MakeTestCube(10.0f);
    notTriples.indices.push_back(0);
    TriangleMesh notANumber = GridTopBox(4);
    notANumber.vertices[6].position.z = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        TriangleMesh mesh;
    };
    const Case cases[] = {
        {"empty", TriangleMesh{}},
        {"index out of range", outOfRange},
        {"index count not a multiple of 3", notTriples},
        {"NaN coordinate", notANumber},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TriangleMesh mesh = c.mesh;
        const std::vector<std::uint8_t> flags(mesh.TriangleCount(), 1);
        const FlatSimplifyReport report = SimplifyFlatAreas(mesh, &flags, SimplifySettings{}, {});
        EXPECT_EQ(report.trianglesAfter, report.trianglesBefore);
        EXPECT_EQ(report.verticesAfter, report.verticesBefore);
        EXPECT_EQ(report.collapses, 0u);
        EXPECT_EQ(mesh.indices, c.mesh.indices);
        EXPECT_EQ(mesh.vertices.size(), c.mesh.vertices.size());
    }
}

TEST(FlatSimplify, TiltedTriangleOpensItsOwnRegion)
{
    // Two triangles of a square, the second lifted at one corner by 2 degrees' worth.
    const float lift = std::tan(2.0f * 3.1415927f / 180.0f) * 10.0f;
    const TriangleMesh mesh =
        test::MeshOf({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, lift}}, {0, 1, 2, 0, 2, 3});
    const std::vector<std::uint32_t> neighbours = BuildTriangleNeighbours(mesh);
    EXPECT_EQ(neighbours, (std::vector<std::uint32_t>{kNoFace, kNoFace, 1, 0, kNoFace, kNoFace}));
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
    const TriangleMesh input = GridTopBox(120);
    TriangleMesh many = input;
    const FlatSimplifyReport manyReport = SimplifyFlatAreas(many, nullptr, SimplifySettings{}, {});
    TriangleMesh one = input;
    FlatSimplifyReport oneReport;
    {
        ThreadLimit limit(1);
        oneReport = SimplifyFlatAreas(one, nullptr, SimplifySettings{}, {});
    }
    EXPECT_GT(manyReport.collapses, 5000u);
    EXPECT_EQ(one.indices, many.indices);
    EXPECT_EQ(oneReport.vertexSources, manyReport.vertexSources);
    EXPECT_EQ(FormatFlatSimplifyReport(oneReport), FormatFlatSimplifyReport(manyReport));
}

TEST(FlatSimplify, SettingsJsonAndEquality)
{
    SimplifySettings changed;
    changed.planarToleranceMillimetres = 0.25f;
    changed.relativePlanarTolerance = 1e-3f;
    changed.planarAngleDegrees = 5.5f;
    changed.minimumTriangleHeightMillimetres = 0.1f;
    changed.maximumValence = 9;
    changed.maximumSweeps = 3;
    changed.preserveVertexNormals = false;
    changed.protectTexturedFaces = true;
    changed.flatAreas = false;
    changed.wholeMesh = false;
    changed.meshDetailError = 0.5f;
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

    // Every field takes part in the equality.
    const std::function<void(SimplifySettings&)> changes[] = {
        [](SimplifySettings& s) { s.planarToleranceMillimetres = 1; },
        [](SimplifySettings& s) { s.relativePlanarTolerance = 1; },
        [](SimplifySettings& s) { s.planarAngleDegrees = 2; },
        [](SimplifySettings& s) { s.minimumTriangleHeightMillimetres = 1; },
        [](SimplifySettings& s) { s.maximumValence = 1; },
        [](SimplifySettings& s) { s.maximumSweeps = 1; },
        [](SimplifySettings& s) { s.preserveVertexNormals = false; },
        [](SimplifySettings& s) { s.protectTexturedFaces = true; },
        [](SimplifySettings& s) { s.flatAreas = false; },
        [](SimplifySettings& s) { s.wholeMesh = false; },
        [](SimplifySettings& s) { s.meshDetailError = 1; },
    };
    for (std::size_t i = 0; i < std::size(changes); ++i) {
        SimplifySettings s;
        changes[i](s);
        EXPECT_FALSE(SimplifySettingsEquals(s, SimplifySettings{})) << "field " << i;
    }
}

}  // namespace
}  // namespace grainforge::mesh
