#include "engine/mesh/export_cleanup.h"

#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/test_shapes.h"
#include "engine/mesh/welding.h"
#include "tests/support/json_view_of.h"
#include "tests/support/mesh_checksum.h"
#include "tests/support/mesh_of.h"
#include "tests/support/shapes.h"
#include "tests/support/validation_shapes.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <random>

namespace grainforge::mesh {
namespace {

using test::MeshOf;
using test::ViewOf;

ValidationReport Validate(const TriangleMesh& mesh)
{
    ValidationOptions options;
    options.checkSelfIntersections = false;
    return ValidateMesh(mesh, options);
}

// Splits the edge from corner 0 to corner 1 of triangle 0 with a new last vertex `gap` from
// corner 0 along the edge; the two triangles on the edge become four.
TriangleMesh WithShortEdge(TriangleMesh mesh, float gap, std::uint32_t& a)
{
    a = mesh.indices[0];
    const std::uint32_t b = mesh.indices[1], c = mesh.indices[2];
    const std::uint32_t m = static_cast<std::uint32_t>(mesh.vertices.size());
    const Vec3 pa = mesh.vertices[a].position, pb = mesh.vertices[b].position;
    const Vec3 along = pb - pa;
    const float length = std::sqrt(Dot(along, along));
    mesh.vertices.push_back({pa + along * (gap / length), {}});
    mesh.indices[1] = m;  // (a, m, c)
    mesh.indices.insert(mesh.indices.end(), {m, b, c});
    for (std::size_t t = 1; t < mesh.TriangleCount(); ++t) {
        std::uint32_t* tri = &mesh.indices[3 * t];
        for (int k = 0; k < 3; ++k) {
            if (tri[k] == b && tri[(k + 1) % 3] == a) {
                const std::uint32_t d = tri[(k + 2) % 3];
                tri[k + 0] = b, tri[(k + 1) % 3] = m, tri[(k + 2) % 3] = d;  // (b, m, d)
                mesh.indices.insert(mesh.indices.end(), {m, a, d});
                mesh.ComputeBounds();
                return mesh;
            }
        }
    }
    ADD_FAILURE() << "no neighbour across the edge";
    return mesh;
}

// Every result vertex continues the input vertex its map names; every result triangle's
// corners continue the corners of the input triangle its map names (up to merges onto them).
void ExpectMapsPointAtTheirSources(const TriangleMesh& input, const TriangleMesh& result,
                                   const ExportCleanupReport& report, std::size_t addedTriangles)
{
    ASSERT_EQ(report.vertexMap.size(), result.vertices.size());
    ASSERT_EQ(report.faceMap.size(), result.TriangleCount());
    for (std::size_t v = 0; v < result.vertices.size(); ++v)
        EXPECT_EQ(result.vertices[v].position, input.vertices[report.vertexMap[v]].position) << v;
    const std::size_t kept = result.TriangleCount() - addedTriangles;
    std::vector<std::uint32_t> fillCorners;  // input vertices the filling triangles use
    for (std::size_t t = kept; t < result.TriangleCount(); ++t)
        for (int k = 0; k < 3; ++k)
            fillCorners.push_back(report.vertexMap[result.indices[3 * t + k]]);
    for (std::size_t t = 0; t < result.TriangleCount(); ++t) {
        const std::uint32_t source = report.faceMap[t];
        ASSERT_LT(source, input.TriangleCount());
        std::size_t shared = 0;
        if (t < kept) {
            // A kept triangle keeps at least two of its own corners (one merge at most).
            for (int k = 0; k < 3; ++k) {
                const std::uint32_t from = report.vertexMap[result.indices[3 * t + k]];
                for (int j = 0; j < 3; ++j)
                    shared += input.indices[3 * source + j] == from ? 1 : 0;
            }
            EXPECT_GE(shared, 2u) << t;
        } else {
            // A filling triangle continues the triangle beside its hole: one on the hole's rim.
            for (int j = 0; j < 3; ++j)
                shared += std::count(fillCorners.begin(), fillCorners.end(), input.indices[3 * source + j]) > 0 ? 1 : 0;
            EXPECT_GE(shared, 2u) << t;
            EXPECT_EQ(source, report.faceMap[kept]) << t;
        }
    }
}

TEST(CleanupForExport, CleanInconsistentOrEmptyMeshIsLeftAsItIs)
{
    TriangleMesh bad = MakeTestCube(1.0f);
    bad.indices.push_back(0);
    for (TriangleMesh mesh : {MakeTestCube(20.0f), bad, TriangleMesh{}}) {
        const std::vector<std::uint32_t> before = mesh.indices;
        const ExportCleanupReport report = CleanupForExport(mesh, 0.5f, {});
        EXPECT_EQ(mesh.indices, before);
        EXPECT_TRUE(report.vertexMap.empty() && report.faceMap.empty());
        EXPECT_EQ(report.passes, 0);
        EXPECT_EQ(report.tolerance, 0.5f);
        EXPECT_EQ(FormatExportCleanupReport(report), "nothing to clean up");
    }
}

TEST(CleanupForExport, ShortEdgeCollapsesOnce)
{
    std::uint32_t a = 0;
    const TriangleMesh input = WithShortEdge(MakeTestSphere(10.0f), 0.0001f, a);
    ASSERT_EQ(Validate(input).edgeCounts.boundary, 0u);
    TriangleMesh mesh = input;
    const ExportCleanupReport report = CleanupForExport(mesh, 0.001f, {});
    EXPECT_EQ(report.passes, 1);
    EXPECT_EQ(report.verticesMerged, 1u);
    EXPECT_EQ(report.collapsedTrianglesDropped, 2u);
    EXPECT_EQ(report.collapsesRefused, 0u);
    EXPECT_EQ(report.zeroAreaTrianglesLeft, 0u);
    EXPECT_EQ(mesh.vertices.size(), input.vertices.size() - 1);
    EXPECT_EQ(mesh.TriangleCount(), input.TriangleCount() - 2);
    ExpectMapsPointAtTheirSources(input, mesh, report, 0);
    // The new vertex was last, so the map is the identity on the others.
    for (std::uint32_t v = 0; v < mesh.vertices.size(); ++v)
        EXPECT_EQ(report.vertexMap[v], v);
    const ValidationReport after = Validate(mesh);
    EXPECT_EQ(after.edgeCounts.boundary, 0u);
    EXPECT_EQ(after.edgeCounts.nonManifold, 0u);
    EXPECT_EQ(after.windingConflicts, 0u);
    EXPECT_EQ(FormatExportCleanupReport(report),
              "merged 1 vertices (tolerance 1.00e-03 mm), dropped 2 collapsed triangles in 1 pass(es); "
              "0 collapses refused by the link condition, 0 zero-area triangles left");
}

TEST(CleanupForExport, WeldingOffLeavesShortEdgesButNotZeroArea)
{
    std::uint32_t a = 0;
    TriangleMesh shortEdge = WithShortEdge(MakeTestSphere(10.0f), 0.0001f, a);
    const TriangleMesh before = shortEdge;
    const ExportCleanupOptions off{false, true, 5.0f, 0.5f};
    ExportCleanupReport report = CleanupForExport(shortEdge, 0.001f, off);
    EXPECT_EQ(shortEdge.indices, before.indices);
    EXPECT_EQ(report.tolerance, 0.001f);
    EXPECT_EQ(FormatExportCleanupReport(report), "nothing to clean up");

    // The new vertex on the old one: two triangles of no area, collapsed whatever the switch.
    TriangleMesh zeroArea = WithShortEdge(MakeTestSphere(10.0f), 0.0001f, a);
    zeroArea.vertices.back().position = zeroArea.vertices[a].position;
    report = CleanupForExport(zeroArea, 0.001f, off);
    EXPECT_EQ(report.verticesMerged, 1u);
    EXPECT_EQ(report.collapsedTrianglesDropped, 2u);
    EXPECT_EQ(zeroArea.TriangleCount(), before.TriangleCount() - 2);
}

TEST(CleanupForExport, LinkConditionRefusesThreeCommonNeighbours)
{
    // Triangular bipyramid with equator corners 0 and 1 a hair apart: 0 and 1 share 2, north
    // and south, so the collapse would pinch the part.
    const std::vector<Vec3> bipyramid{{0, 0, 0}, {0.0001f, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, -1}};
    TriangleMesh mesh = MeshOf(bipyramid, {0, 1, 3, 1, 2, 3, 2, 0, 3, 1, 0, 4, 2, 1, 4, 0, 2, 4});
    ASSERT_EQ(Validate(mesh).edgeCounts.boundary, 0u);
    const std::vector<std::uint32_t> before = mesh.indices;
    const ExportCleanupReport report = CleanupForExport(mesh, 0.001f, {});
    EXPECT_EQ(mesh.indices, before);
    EXPECT_EQ(report.passes, 1);
    EXPECT_EQ(report.collapsesRefused, 2u);
    EXPECT_EQ(report.zeroAreaTrianglesLeft, 2u);
    EXPECT_TRUE(report.vertexMap.empty());
    EXPECT_EQ(FormatExportCleanupReport(report),
              "merged 0 vertices (tolerance 1.00e-03 mm), dropped 0 collapsed triangles in 1 pass(es); "
              "2 collapses refused by the link condition, 2 zero-area triangles left");

    // A tetrahedron's edge: exactly two common neighbours, so the collapse goes ahead.
    TriangleMesh tetra = MeshOf({{0, 0, 0}, {0.0001f, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {0, 2, 1, 0, 1, 3, 1, 2, 3, 0, 3, 2});
    const ExportCleanupReport merged = CleanupForExport(tetra, 0.001f, {false});
    EXPECT_EQ(merged.verticesMerged, 0u);  // welding off: the short edge has area
    const ExportCleanupReport on = CleanupForExport(tetra, 0.001f, {});
    EXPECT_EQ(on.verticesMerged, 1u);
    EXPECT_EQ(on.collapsesRefused, 0u);
}

TEST(CleanupForExport, LargeOpeningStaysOpen)
{
    TriangleMesh box = test::MakeOpenBox();
    const ExportCleanupReport report = CleanupForExport(box, 0.001f, {});
    EXPECT_EQ(box.TriangleCount(), 10u);
    EXPECT_EQ(report.holesLeftOpen, 1u);
    EXPECT_FLOAT_EQ(report.largestOpenHoleMillimetres, std::sqrt(800.0f));
    EXPECT_TRUE(report.faceMap.empty());
    EXPECT_EQ(FormatExportCleanupReport(report),
              "merged 0 vertices (tolerance 1.00e-03 mm), dropped 0 collapsed triangles in 0 pass(es); "
              "0 collapses refused by the link condition, 0 zero-area triangles left; left 1 hole(s) open "
              "(largest 28.28 mm across; too large to close by guessing)");
}

TEST(CleanupForExport, FilledHoleIsWoundLikeItsNeighbours)
{
    const TriangleMesh input = test::MakeOpenBox();
    TriangleMesh box = input;
    const ExportCleanupReport report = CleanupForExport(box, 0.0003f, {true, true, 30.0f, 0.5f});
    EXPECT_EQ(report.holesFilled, 1u);
    EXPECT_EQ(report.trianglesAdded, 2u);
    EXPECT_EQ(box.TriangleCount(), 12u);
    ExpectMapsPointAtTheirSources(input, box, report, 2);
    const ValidationReport after = Validate(box);
    EXPECT_EQ(after.edgeCounts.boundary, 0u);
    EXPECT_EQ(after.windingConflicts, 0u);
    EXPECT_GT(box.Volume(), 7999.0f);
    EXPECT_EQ(FormatExportCleanupReport(report),
              "merged 0 vertices (tolerance 3.00e-04 mm), dropped 0 collapsed triangles in 0 pass(es); "
              "0 collapses refused by the link condition, 0 zero-area triangles left; filled 1 hole(s) with "
              "2 triangles (largest 28.28 mm across)");

    // Without the switch the hole is not even looked for.
    TriangleMesh unfilled = input;
    EXPECT_EQ(FormatExportCleanupReport(CleanupForExport(unfilled, 0.001f, {true, false, 30.0f, 0.5f})),
              "nothing to clean up");
}

// A flat sheet 30 mm long with a slit from x = 1 to x = 29, `gap` wide, `columns` vertices
// along each side of the slit; the sheet's own outline is a large, wide hole.
TriangleMesh SlitSheet(std::uint32_t columns, float gap)
{
    const float rowsY[4] = {-5.0f, -gap / 2, gap / 2, 5.0f};
    std::vector<Vec3> points;
    std::vector<float> xs{0.0f};
    for (std::uint32_t i = 0; i < columns; ++i)
        xs.push_back(1.0f + 28.0f * static_cast<float>(i) / static_cast<float>(columns - 1));
    xs.push_back(30.0f);
    const std::uint32_t width = static_cast<std::uint32_t>(xs.size());
    for (const float y : rowsY)
        for (const float x : xs)
            points.push_back({x, y, 0.0f});
    std::vector<std::uint32_t> indices;
    const auto quad = [&](std::uint32_t row, std::uint32_t column) {
        const std::uint32_t p = row * width + column;
        indices.insert(indices.end(), {p, p + 1, p + width + 1, p, p + width + 1, p + width});
    };
    for (std::uint32_t column = 0; column + 1 < width; ++column) {
        quad(0, column);
        quad(2, column);
    }
    quad(1, 0);
    quad(1, width - 2);
    return MeshOf(points, indices);
}

TEST(CleanupForExport, NarrowSlitIsFilledDespiteItsLength)
{
    const TriangleMesh input = SlitSheet(30, 0.2f);
    TriangleMesh sheet = input;
    const ExportCleanupReport report = CleanupForExport(sheet, 0.001f, {});
    EXPECT_EQ(report.holesFilled, 1u);
    EXPECT_EQ(report.trianglesAdded, 58u);
    EXPECT_GT(report.largestFilledHoleMillimetres, 27.9f);
    EXPECT_EQ(report.holesLeftOpen, 1u);  // the outline
    ExpectMapsPointAtTheirSources(input, sheet, report, 58);
    const ValidationReport after = Validate(sheet);
    EXPECT_EQ(after.windingConflicts, 0u);
    EXPECT_EQ(after.edgeCounts.nonManifold, 0u);
    EXPECT_EQ(after.edgeCounts.boundary, 2u * 31u + 6u);
    for (std::size_t t = 0; t < sheet.TriangleCount(); ++t)
        EXPECT_GE(sheet.FaceNormal(t).z, 0.0f) << t;  // all face up, like the sheet
}

TEST(FindBoundaryLoops, SizesAndUntraceableBoundaries)
{
    std::uint64_t notSimple = 0;
    const std::vector<BoundaryLoop> loops = FindBoundaryLoops(test::MakeOpenBox(), notSimple);
    ASSERT_EQ(loops.size(), 1u);
    EXPECT_EQ(notSimple, 0u);
    EXPECT_EQ(loops[0].vertices.size(), 4u);
    EXPECT_FLOAT_EQ(loops[0].size, std::sqrt(800.0f));
    EXPECT_FLOAT_EQ(loops[0].width, 10.0f);

    // Two triangles meeting at one vertex: the boundary passes that vertex twice.
    const TriangleMesh bowtie = MeshOf({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {-1, 0, 0}, {-1, -1, 0}}, {0, 1, 2, 0, 3, 4});
    notSimple = 0;
    EXPECT_TRUE(FindBoundaryLoops(bowtie, notSimple).empty());
    EXPECT_GE(notSimple, 1u);
}

// The filling as first written: every remaining vertex tested against every candidate ear.
std::vector<std::uint32_t> ReferenceFill(const TriangleMesh& mesh, const BoundaryLoop& loop)
{
    std::vector<std::uint32_t> ring(loop.vertices.rbegin(), loop.vertices.rend());
    const std::size_t n = ring.size();
    double nx = 0, ny = 0, nz = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Vec3 a = mesh.vertices[ring[i]].position, b = mesh.vertices[ring[(i + 1) % n]].position;
        nx += (static_cast<double>(a.z) + b.z) * (static_cast<double>(a.y) - b.y);
        ny += (static_cast<double>(a.x) + b.x) * (static_cast<double>(a.z) - b.z);
        nz += (static_cast<double>(a.x) - b.x) * (static_cast<double>(a.y) + b.y);
    }
    const Vec3 normal = Normalized({static_cast<float>(nx), static_cast<float>(ny), static_cast<float>(nz)});
    const Vec3 reference = std::fabs(normal.x) >= 0.9f ? Vec3{0, 1, 0} : Vec3{1, 0, 0};
    const Vec3 u = Normalized(Cross(reference, normal)), v = Cross(normal, u);
    std::vector<std::pair<double, double>> p(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Vec3 q = mesh.vertices[ring[i]].position;
        p[i] = {static_cast<double>(q.x) * u.x + static_cast<double>(q.y) * u.y + static_cast<double>(q.z) * u.z,
                static_cast<double>(q.x) * v.x + static_cast<double>(q.y) * v.y + static_cast<double>(q.z) * v.z};
    }
    double area = 0;
    for (std::size_t i = 0; i < n; ++i)
        area += p[i].first * p[(i + 1) % n].second - p[(i + 1) % n].first * p[i].second;
    if (area < 0)
        for (auto& q : p)
            q.first = -q.first;
    const auto side = [&](std::size_t a, std::size_t b, std::size_t q) {
        return (p[b].first - p[a].first) * (p[q].second - p[a].second) - (p[b].second - p[a].second) * (p[q].first - p[a].first);
    };
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i)
        order[i] = i;
    std::vector<std::uint32_t> out;
    while (order.size() > 3) {
        const std::size_t m = order.size();
        std::size_t best = 0, ear = m;
        double bestTurn = 0;
        for (std::size_t i = 0; i < m; ++i) {
            const std::size_t a = order[(i + m - 1) % m], b = order[i], c = order[(i + 1) % m];
            const double t = side(a, b, c);
            if (i == 0 || t > bestTurn) {
                bestTurn = t;
                best = i;
            }
            if (ear == m && t > 0) {
                bool empty = true;
                for (const std::size_t q : order)
                    if (q != a && q != b && q != c && side(a, b, q) >= 0 && side(b, c, q) >= 0 && side(c, a, q) >= 0)
                        empty = false;
                if (empty)
                    ear = i;
            }
        }
        const std::size_t chosen = ear != m ? ear : best;
        out.insert(out.end(), {ring[order[(chosen + m - 1) % m]], ring[order[chosen]], ring[order[(chosen + 1) % m]]});
        order.erase(order.begin() + static_cast<std::ptrdiff_t>(chosen));
    }
    out.insert(out.end(), {ring[order[0]], ring[order[1]], ring[order[2]]});
    return out;
}

TEST(FillHoleLoop, CutsTheSameEarsAsTestingEveryVertex)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> radius(0.3f, 1.0f);
    for (int round = 0; round < 40; ++round) {
        // A star-shaped (so simple) polygon with many reflex corners, tilted out of the xy plane.
        const std::uint32_t n = 3 + static_cast<std::uint32_t>(round * 7 % 90);
        TriangleMesh mesh;
        BoundaryLoop loop;
        for (std::uint32_t i = 0; i < n; ++i) {
            const float angle = 6.2831853f * static_cast<float>(i) / static_cast<float>(n);
            const float r = radius(random);
            const float x = r * std::cos(angle), y = r * std::sin(angle);
            mesh.vertices.push_back({{x, y * 0.8f, y * 0.6f + (round % 3) * 10.0f}, {}});
            loop.vertices.push_back(round % 2 == 0 ? i : n - 1 - i);
        }
        const std::vector<std::uint32_t> expected = ReferenceFill(mesh, loop);
        EXPECT_EQ(FillHoleLoop(mesh, loop), n - 2u);
        EXPECT_EQ(mesh.indices, expected) << "round " << round << ", " << n << " vertices";
    }
}

TEST(FillHoleLoop, LongSlitFillsCleanly)
{
    TriangleMesh sheet = SlitSheet(3000, 0.05f);
    std::uint64_t notSimple = 0;
    const std::vector<BoundaryLoop> loops = FindBoundaryLoops(sheet, notSimple);
    const auto slit = std::find_if(loops.begin(), loops.end(), [](const BoundaryLoop& l) { return l.width < 0.5f; });
    ASSERT_NE(slit, loops.end());
    ASSERT_EQ(slit->vertices.size(), 6000u);
    EXPECT_EQ(FillHoleLoop(sheet, *slit), 5998u);
    const ValidationReport after = Validate(sheet);
    EXPECT_EQ(after.windingConflicts, 0u);
    EXPECT_EQ(after.edgeCounts.nonManifold, 0u);
    EXPECT_EQ(after.degenerateTriangleCount, 0u);
}

TEST(FillHoleLoop, RefusesLoopsItCannotFill)
{
    TriangleMesh mesh = MakeTestCube(1.0f);
    const std::size_t before = mesh.indices.size();
    EXPECT_EQ(FillHoleLoop(mesh, BoundaryLoop{{0, 1}, 0, 0, 0}), 0u);
    EXPECT_EQ(FillHoleLoop(mesh, BoundaryLoop{{0, 1, 99}, 0, 0, 0}), 0u);
    EXPECT_EQ(mesh.indices.size(), before);
}

TEST(CleanupForExport, SameResultOnOneThreadAndOnMany)
{
    // A wavy sheet with every tenth row squeezed to nearly nothing: many collapses and a
    // large open rim, enough for the parallel sweeps to split up.
    TriangleMesh source = test::MakeWavyGrid(200, 300);
    for (std::size_t v = 0; v < source.vertices.size(); ++v) {
        if (v / 301 % 10 == 5)
            source.vertices[v].position = source.vertices[v - 301].position + Vec3{0.0f, 0.0004f, 0.0f};
    }
    TriangleMesh many = source, one = source;
    const ExportCleanupReport a = CleanupForExport(many, 0.001f, {});
    ExportCleanupReport b;
    {
        const ThreadLimit limit(1);
        b = CleanupForExport(one, 0.001f, {});
    }
    EXPECT_GT(a.verticesMerged, 0u);
    EXPECT_EQ(many.indices, one.indices);
    EXPECT_EQ(a.vertexMap, b.vertexMap);
    EXPECT_EQ(a.faceMap, b.faceMap);
    EXPECT_EQ(FormatExportCleanupReport(a), FormatExportCleanupReport(b));
}

TEST(ExportCleanupJson, WritesInOrderAndKeepsDamagedFields)
{
    const JsonNode document = NewJsonDocument();
    ExportCleanupOptionsToJson(document.ObjectChild("exportCleanup"), {false, true, 2.5f, 0.1f});
    EXPECT_EQ(document.root->dump(),
              R"({"exportCleanup":{"weldCollapsedTriangles":false,"fillHoles":true,)"
              R"("maximumHoleMillimetres":2.5,"maximumSlitWidthMillimetres":0.1}})");
    ExportCleanupOptions back;
    ExportCleanupOptionsFromJson(JsonView{document.root, document.root.get()}.Section("exportCleanup"), back);
    EXPECT_FALSE(back.weldCollapsedTriangles);
    EXPECT_TRUE(back.fillHoles);
    EXPECT_EQ(back.maximumHoleMillimetres, 2.5f);
    EXPECT_EQ(back.maximumSlitWidthMillimetres, 0.1f);

    ExportCleanupOptions kept;
    ExportCleanupOptionsFromJson(ViewOf(R"({"weldCollapsedTriangles":0,"fillHoles":false,)"
                                        R"("maximumHoleMillimetres":"7","maximumSlitWidthMillimetres":1e60})"),
                                 kept);
    EXPECT_TRUE(kept.weldCollapsedTriangles);
    EXPECT_FALSE(kept.fillHoles);
    EXPECT_EQ(kept.maximumHoleMillimetres, 5.0f);
    EXPECT_EQ(kept.maximumSlitWidthMillimetres, 0.5f);
}

// The output of varied inputs, pinned to the bit (mesh, maps, counts and text): reorganising
// the cleanup must change nothing. The noisy sphere's pole triangles are shorter than the
// tolerance, so it collapses, refuses and fills.
TEST(CleanupForExport, OutputOfVariedInputsIsPinned)
{
    std::uint32_t corner = 0;
    TriangleMesh boxes = test::Combined(MakeTestCube(10.0f), test::Translated(MakeTestCube(10.0f), {10, 0, 10}));
    WeldIdenticalVertices(boxes);
    TriangleMesh squeezed = test::MakeWavyGrid(40, 60);
    for (std::size_t v = 61; v < squeezed.vertices.size(); ++v) {
        if (v / 61 % 7 == 3)
            squeezed.vertices[v].position = squeezed.vertices[v - 61].position + Vec3{0.0f, 0.0004f, 0.0f};
    }
    const ExportCleanupOptions noWeld{.weldCollapsedTriangles = false};
    const ExportCleanupOptions noFill{.fillHoles = false};
    struct Case {
        const char* name;
        TriangleMesh mesh;
        float tolerance;
        ExportCleanupOptions options;
        std::uint64_t checksum;
    };
    const Case cases[] = {
        {"pooled soup", test::MakeRandomTriangles(5, 600, 10.0f, 0.3f, 150), 1.0f, {}, 0x125b24c7edb9ab2e},
        {"boxes sharing an edge, short edge", WithShortEdge(boxes, 0.0005f, corner), 0.001f, {}, 0x46d48496c2127834},
        {"noisy sphere with holes", test::MakeNoisySphereWithHoles(6, 0.02f, 29, 0), 0.05f, {}, 0xb998d1e2f101629e},
        {"noisy sphere, no welding", test::MakeNoisySphereWithHoles(6, 0.02f, 29, 0), 0.05f, noWeld, 0xa3789a93cd2839fc},
        {"noisy sphere with fins, no filling", test::MakeNoisySphereWithHoles(7, 0.05f, 31, 13), 0.05f, noFill, 0xcfc287b9d9ee2fa5},
        {"squeezed grid", squeezed, 0.001f, {}, 0x05e41afeeea4045c},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TriangleMesh mesh = c.mesh;
        const ExportCleanupReport report = CleanupForExport(mesh, c.tolerance, c.options);
        test::Checksum sum;
        test::AddMesh(sum, mesh).Add(report.vertexMap).Add(report.faceMap).Add(FormatExportCleanupReport(report));
        EXPECT_EQ(sum.Value(), c.checksum) << std::hex << sum.Value() << std::dec << " " << FormatExportCleanupReport(report);
    }
}

}  // namespace
}  // namespace grainforge::mesh
