#include "engine/mesh/export_cleanup.h"

#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/repair/repair_job.h"
#include "engine/mesh/test_shapes.h"
#include "engine/mesh/welding.h"
#include "tests/support/checksum.h"
#include "tests/support/exact_crossings.h"
#include "tests/support/mesh_of.h"
#include "tests/support/shapes.h"
#include "tests/support/validation_shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <cmath>
#include <random>
#include <tuple>

namespace grainforge::mesh {
namespace {

using test::MeshOf;

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
    const Vec3 pa = mesh.vertices[a].position, along = mesh.vertices[b].position - pa;
    mesh.vertices.push_back({pa + along * (gap / std::sqrt(Dot(along, along))), {}});
    mesh.indices[1] = m;  // (a, m, c)
    mesh.indices.insert(mesh.indices.end(), {m, b, c});
    for (std::size_t t = 1; t < mesh.TriangleCount(); ++t) {
        std::uint32_t* tri = &mesh.indices[3 * t];
        for (int k = 0; k < 3; ++k) {
            if (tri[k] == b && tri[(k + 1) % 3] == a) {
                const std::uint32_t d = tri[(k + 2) % 3];
                tri[(k + 1) % 3] = m;  // (b, m, d)
                mesh.indices.insert(mesh.indices.end(), {m, a, d});
                mesh.ComputeBounds();
                return mesh;
            }
        }
    }
    ADD_FAILURE() << "no neighbour across the edge";
    return mesh;
}

// Every result vertex continues the input vertex its map names; every kept triangle keeps at
// least two corners of the input triangle its map names (one merge at most), and the
// `added` filling triangles at the end all continue the one triangle beside their hole.
void ExpectMapsPointAtTheirSources(const TriangleMesh& input, const TriangleMesh& result,
                                   const ExportCleanupReport& report, std::size_t added)
{
    ASSERT_EQ(report.vertexMap.size(), result.vertices.size());
    ASSERT_EQ(report.faceMap.size(), result.TriangleCount());
    for (std::size_t v = 0; v < result.vertices.size(); ++v)
        EXPECT_EQ(result.vertices[v].position, input.vertices[report.vertexMap[v]].position) << v;
    const std::size_t kept = result.TriangleCount() - added;
    for (std::size_t t = 0; t < result.TriangleCount(); ++t) {
        const std::uint32_t source = report.faceMap[t];
        ASSERT_LT(source, input.TriangleCount());
        if (t >= kept) {
            EXPECT_EQ(source, report.faceMap[kept]) << t;
            continue;
        }
        std::size_t shared = 0;
        for (int k = 0; k < 3; ++k)
            for (int j = 0; j < 3; ++j)
                shared += input.indices[3 * source + j] == report.vertexMap[result.indices[3 * t + k]] ? 1 : 0;
        EXPECT_GE(shared, 2u) << t;
    }
}

void ExpectClosedAndConsistent(const TriangleMesh& mesh, std::uint64_t openEdges = 0)
{
    const ValidationReport after = Validate(mesh);
    EXPECT_EQ(std::tuple(after.edgeCounts.boundary, after.edgeCounts.nonManifold, after.windingConflicts,
                         after.degenerateTriangleCount), std::tuple(openEdges, 0u, 0u, 0u));
}

TEST(CleanupForExport, HoleIsFilledWoundLikeItsNeighboursOnlyWhenSmallEnough)
{
    const TriangleMesh input = test::MakeOpenBox();
    TriangleMesh box = input;
    const ExportCleanupReport report = CleanupForExport(box, 0.0003f, {true, true, 30.0f, 0.5f});
    EXPECT_EQ(FormatExportCleanupReport(report),
              "merged 0 vertices (tolerance 3.00e-04 mm), dropped 0 collapsed triangles in 0 passes; "
              "0 collapses refused by the link condition, 0 zero-area triangles left; filled 1 hole with "
              "2 triangles (largest 28.28 mm across)");
    ExpectMapsPointAtTheirSources(input, box, report, 2);
    ExpectClosedAndConsistent(box);
    EXPECT_GT(box.Volume(), 7999.0f);

    TriangleMesh large = input;
    const ExportCleanupReport open = CleanupForExport(large, 0.001f, {});
    EXPECT_EQ(std::tuple(large.TriangleCount(), open.faceMap.size()), std::tuple(10u, 0u));
    EXPECT_EQ(FormatExportCleanupReport(open),
              "merged 0 vertices (tolerance 1.00e-03 mm), dropped 0 collapsed triangles in 0 passes; "
              "0 collapses refused by the link condition, 0 zero-area triangles left; left 1 hole open "
              "(largest 28.28 mm across; too large to close by guessing)");
    // Without the switch the hole is not even looked for, and the maps stay empty.
    TriangleMesh unfilled = input;
    const ExportCleanupReport none = CleanupForExport(unfilled, 0.001f, {true, false, 30.0f, 0.5f});
    EXPECT_EQ(std::tuple(FormatExportCleanupReport(none), none.vertexMap.size(), none.faceMap.size(), unfilled.indices),
              std::tuple("nothing to clean up", 0u, 0u, input.indices));
}

// Holes round a sheet stay open however small: filling them would repeat or back its own
// triangles (lone triangles, two on one edge) or close a body holding nothing (a flat disc, a
// flat ring with both borders). A sheet bent at a right angle closes into a solid, and a hole
// in another body beside a sheet still fills.
TEST(CleanupForExport, FillingNeverLaysASheetOntoItself)
{
    struct Case { const char* name; TriangleMesh mesh; std::uint64_t filled, sheets; };
    const Case cases[] = {
        {"two lone triangles", MeshOf({{0, 0, 0}, {2, 0, 0}, {0, 2, 0}, {5, 0, 0}, {7, 0, 0}, {5, 2, 0}}, {0, 1, 2, 3, 4, 5}), 0, 2},
        {"two triangles on one edge", MeshOf({{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}}, {0, 1, 2, 0, 2, 3}), 0, 1},
        {"a flat disc", MeshOf({{0, 0, 0}, {2, 0, 0}, {1, 2, 0}, {-1, 2, 0}, {-2, 0, 0}, {0, -2, 0}},
            {0, 1, 2, 0, 2, 3, 0, 3, 4, 0, 4, 5, 0, 5, 1}), 0, 1},
        {"a flat ring", MeshOf({{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}, {1, 1, 0}, {3, 1, 0}, {3, 3, 0}, {1, 3, 0}},
            {0, 1, 5, 0, 5, 4, 1, 2, 6, 1, 6, 5, 2, 3, 7, 2, 7, 6, 3, 0, 4, 3, 4, 7}), 0, 2},
        {"two triangles bent at a right angle", MeshOf({{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 2}}, {0, 1, 3, 1, 2, 3}), 1, 0},
        {"an open box beside a lone triangle", test::Combined(test::MakeOpenBox(), MeshOf({{0, 0, 50}, {2, 0, 50}, {0, 2, 50}}, {0, 1, 2})), 1, 1},
    };
    for (const Case& c : cases) {
        TriangleMesh mesh = c.mesh;
        const ExportCleanupReport report = CleanupForExport(mesh, 0.0f, {false, true, 30.0f, 0.5f});
        EXPECT_EQ(std::tuple(report.holesFilled, report.sheetHolesLeftOpen, report.holesLeftOpen), std::tuple(c.filled, c.sheets, c.sheets)) << c.name;
        EXPECT_EQ(Validate(mesh).bodiesWithoutVolume, 0u) << c.name;
    }
    TriangleMesh lone = cases[0].mesh;
    EXPECT_TRUE(FormatExportCleanupReport(CleanupForExport(lone, 0.0f, {}))
            .ends_with("zero-area triangles left; left 2 holes open round a sheet (closing them would lay it onto "
                       "itself, enclosing nothing)"));
    EXPECT_EQ(lone.indices, cases[0].mesh.indices);
}

// A flat sheet 30 mm long with a slit from x = 1 to x = 29, `gap` wide, `columns` vertices
// along each side of the slit; the sheet's own outline is a large, wide hole.
TriangleMesh SlitSheet(std::uint32_t columns, float gap)
{
    std::vector<float> xs{0.0f};
    for (std::uint32_t i = 0; i < columns; ++i)
        xs.push_back(1.0f + 28.0f * static_cast<float>(i) / static_cast<float>(columns - 1));
    xs.push_back(30.0f);
    const std::uint32_t width = static_cast<std::uint32_t>(xs.size());
    std::vector<Vec3> points;
    for (const float y : {-5.0f, -gap / 2, gap / 2, 5.0f})
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

TEST(FindBoundaryLoops, SizesAndUntraceableBoundaries)
{
    std::uint64_t notSimple = 0;
    const std::vector<BoundaryLoop> loops = FindBoundaryLoops(test::MakeOpenBox(), notSimple);
    ASSERT_EQ(loops.size(), 1u);
    EXPECT_EQ(notSimple, 0u);
    EXPECT_EQ(std::tuple(loops[0].vertices.size(), loops[0].size, loops[0].width), std::tuple(4u, std::sqrt(800.0f), 10.0f));

    // Two triangles meeting at one vertex: the boundary passing it twice is two loops of three.
    const TriangleMesh bowtie = MeshOf({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {-1, 0, 0}, {-1, -1, 0}}, {0, 1, 2, 0, 3, 4});
    const std::vector<BoundaryLoop> pinched = FindBoundaryLoops(bowtie, notSimple);
    ASSERT_EQ(std::tuple(pinched.size(), notSimple), std::tuple(2u, 0u));
    for (const BoundaryLoop& loop : pinched)
        EXPECT_EQ(std::tuple(loop.vertices.size(), loop.size), std::tuple(3u, std::sqrt(2.0f)));
    // Three sheets on one edge: each open run ends where no open edge leaves, so none closes.
    const TriangleMesh book = MeshOf({{0, 0, 0}, {0, 0, 2}, {2, 0, 1}, {-1, 1.7f, 1}, {-1, -1.7f, 1}}, {0, 1, 2, 0, 1, 3, 0, 1, 4});
    EXPECT_TRUE(FindBoundaryLoops(book, notSimple).empty());
    EXPECT_EQ(notSimple, 3u);
}

// The 8 mm box whose top is a grid of 1 mm cells, each cut along its rising diagonal into
// triangle 0 (below the diagonal) and 1 (above it), with the listed top triangles (row, column,
// half) taken out.
TriangleMesh GridBoxWithout(const std::vector<std::array<std::uint32_t, 3>>& removed)
{
    TriangleMesh box = test::MakeGridTopBox(8, 8.0f);
    std::vector<std::uint8_t> drop(box.TriangleCount(), 0);
    for (const auto& [row, column, half] : removed)
        drop[2 * (row * 8 + column) + half] = 1;
    std::vector<std::uint32_t> kept;
    for (std::size_t t = 0; t < box.TriangleCount(); ++t)
        if (drop[t] == 0)
            kept.insert(kept.end(), box.indices.begin() + static_cast<std::ptrdiff_t>(3 * t),
                        box.indices.begin() + static_cast<std::ptrdiff_t>(3 * t + 3));
    box.indices = std::move(kept);
    return box;
}

// Holes in the top of a closed box whose boundaries meet at a vertex (around the vertex at
// row 3, column 3 the six triangles are (3,3,0), (3,3,1), (3,2,0), (2,2,1), (2,2,0), (2,3,1)
// counterclockwise): each is split into simple loops there and measured, a 1 mm cell's triangle
// or square being 1.41 mm across. Within the limits every loop is filled and the box is closed
// again (512 mm3); under tighter limits each is left and named with its measured size.
TEST(CleanupForExport, BoundariesMeetingAtAVertexAreSplitMeasuredAndFilled)
{
    struct Case {
        const char* name;
        std::vector<std::array<std::uint32_t, 3>> removed;
        std::vector<std::size_t> loopSizes;
    };
    const Case cases[] = {
        {"two holes sharing a vertex", {{3, 3, 0}, {2, 2, 1}}, {3, 3}},
        {"a figure-eight of two squares", {{3, 3, 0}, {3, 3, 1}, {2, 2, 0}, {2, 2, 1}}, {4, 4}},
        {"three holes round one vertex", {{3, 3, 0}, {3, 2, 0}, {2, 2, 0}}, {3, 3, 3}},
        {"a boundary touching itself twice", {{1, 1, 0}, {2, 2, 1}, {3, 3, 0}}, {3, 3, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TriangleMesh input = GridBoxWithout(c.removed);
        std::uint64_t notSimple = 0;
        std::vector<std::size_t> sizes;
        for (const BoundaryLoop& loop : FindBoundaryLoops(input, notSimple)) {
            sizes.push_back(loop.vertices.size());
            EXPECT_EQ(loop.size, std::sqrt(2.0f));
        }
        EXPECT_EQ(std::tuple(sizes, notSimple), std::tuple(c.loopSizes, 0u));

        TriangleMesh filled = input;
        const ExportCleanupReport report = CleanupForExport(filled, 0.0f, {false, true, 5.0f, 0.5f});
        EXPECT_EQ(std::tuple(report.holesFilled, report.holesLeftOpen), std::tuple(c.loopSizes.size(), 0u));
        ExpectClosedAndConsistent(filled);
        EXPECT_NEAR(filled.Volume(), 512.0f, 1e-3f);

        TriangleMesh repaired = input;
        const RepairForPrintReport repair = RepairForPrint(repaired, {});
        EXPECT_EQ(std::tuple(repair.holesFilled, repair.openEdgesAfter, repair.holesLeftOpen),
                  std::tuple(c.loopSizes.size(), 0u, 0u));

        TriangleMesh left = input;
        EXPECT_TRUE(FormatExportCleanupReport(CleanupForExport(left, 0.0f, {false, true, 1.0f, 0.1f}))
                        .ends_with("zero-area triangles left; left " + std::to_string(c.loopSizes.size()) +
                                   " holes open (largest 1.41 mm across; too large to close by guessing)"));
        EXPECT_EQ(left.indices, input.indices);
    }
}

// A fill is not made where it would give an edge more than two triangles or meet the surface
// anywhere but at the loop: the hole is named under that reason with its measured size, and the
// part gains no non-manifold edge and no crossing. A loop whose first tiling would repeat or
// share an edge is tiled again along its other diagonal when that one is free. Open edges that
// close no loop are named as such, not as holes.
TEST(CleanupForExport, FillsThatWouldBreakThePartAreNotMadeAndSayWhy)
{
    // A skew quad bent along one diagonal: closing it along the other makes a tetrahedron.
    const std::vector<Vec3> skew = {{0, 0, 0}, {2, 0, 1}, {2, 2, 0}, {0, 2, 1}};
    const TriangleMesh bentAlongAE = MeshOf(skew, {0, 2, 1, 0, 3, 2});
    const TriangleMesh bentAlongBD = MeshOf(skew, {1, 3, 0, 1, 2, 3});
    // The second, above a closed tetrahedron hanging from the free diagonal a-e.
    std::vector<Vec3> withTetra = skew;
    withTetra.insert(withTetra.end(), {{1, 1, -3}, {3, 1, -3}});
    const TriangleMesh bothTaken = MeshOf(withTetra, {1, 3, 0, 1, 2, 3, 0, 4, 2, 2, 4, 5, 0, 5, 4, 0, 2, 5});
    // A vertical triangle standing through one opened cell, and a second cell opened beside it.
    const TriangleMesh pierced = test::Combined(GridBoxWithout({{3, 3, 0}, {3, 3, 1}, {5, 5, 0}}),
        MeshOf({{3.2f, 3.5f, 7.5f}, {3.8f, 3.5f, 7.5f}, {3.5f, 3.5f, 8.5f}}, {0, 1, 2}));
    // A ring of holes round one triangle that touches the rest of the top at one vertex only:
    // closing the ring's outer loop would cover the triangle, closing its inner loop back it.
    const TriangleMesh island = GridBoxWithout(
        {{2, 2, 1}, {2, 1, 0}, {1, 1, 0}, {1, 1, 1}, {1, 2, 1}, {2, 3, 0}, {2, 3, 1}, {1, 2, 0}, {1, 3, 1}});
    struct Case {
        const char* name;
        TriangleMesh mesh;
        std::uint64_t filled;
        const char* ending;
    };
    const Case cases[] = {
        {"bent along the first diagonal", bentAlongAE, 1, "filled 1 hole with 2 triangles (largest 3.00 mm across)"},
        {"bent along the second diagonal", bentAlongBD, 1, "filled 1 hole with 2 triangles (largest 3.00 mm across)"},
        {"both diagonals taken", bothTaken, 0,
         "left 1 hole open (largest 3.00 mm across) that a fill would close only by making edges non-manifold"},
        {"a triangle standing through a hole", pierced, 1,
         "filled 1 hole with 1 triangle (largest 1.41 mm across); left 1 hole open (largest 1.41 mm across) that a "
         "fill would close only by passing through the surface; left 1 hole open round a sheet (closing them would "
         "lay it onto itself, enclosing nothing)"},
        {"three sheets on one edge", MeshOf({{0, 0, 0}, {0, 0, 2}, {2, 0, 1}, {-1, 1.7f, 1}, {-1, -1.7f, 1}},
            {0, 1, 2, 0, 1, 3, 0, 1, 4}), 0, "left 3 runs of open edges closing no loop (no hole there to fill)"},
        {"a ring round a triangle held at one vertex", island, 0,
         "left 1 hole open (largest 3.61 mm across) that a fill would close only by passing through the surface; "
         "left 1 hole open round a sheet (closing them would lay it onto itself, enclosing nothing)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TriangleMesh mesh = c.mesh;
        const ValidationReport before = Validate(mesh);
        const std::size_t crossingsBefore = test::FindPairsThroughGrid(mesh, test::PairRule::meeting).size();
        const ExportCleanupReport report = CleanupForExport(mesh, 0.0f, {false, true, 5.0f, 0.5f});
        EXPECT_EQ(report.holesFilled, c.filled);
        EXPECT_TRUE(FormatExportCleanupReport(report).ends_with(c.ending)) << FormatExportCleanupReport(report);
        EXPECT_EQ(Validate(mesh).edgeCounts.nonManifold, before.edgeCounts.nonManifold);
        EXPECT_EQ(test::FindPairsThroughGrid(mesh, test::PairRule::meeting).size(), crossingsBefore);
    }
}

// Random star-shaped holes (many reflex corners) in a tilted plane, each the inside of a ring
// of triangles: the filling takes n - 2 triangles, all turned the way the ring is. Every
// triangle turned the right way means the ears tile the hole without overlap, and the result
// is closed up to the ring's outer edge, manifold and consistently wound.
TEST(FillHoleLoop, StarShapedHolesAreTiledWoundLikeTheirRing)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> radius(0.3f, 1.0f);
    const Vec3 up = {0.0f, -0.6f, 0.8f};  // the normal of the plane (x, 0.8 y, 0.6 y)
    for (int round = 0; round < 40; ++round) {
        const std::uint32_t n = 3 + static_cast<std::uint32_t>(round * 7 % 90);
        SCOPED_TRACE(testing::Message() << "round " << round << ", " << n << " corners");
        std::vector<Vec3> points;
        std::vector<std::uint32_t> indices;
        for (std::uint32_t i = 0; i < n; ++i) {
            const float angle = 6.2831853f * static_cast<float>(i) / static_cast<float>(n);
            for (const float r : {radius(random), 2.0f}) {
                const float x = r * std::cos(angle), y = r * std::sin(angle);
                points.push_back({x, y * 0.8f, y * 0.6f + static_cast<float>(round % 3) * 10.0f});
            }
            const std::uint32_t in = 2 * i, out = 2 * i + 1, nextIn = 2 * ((i + 1) % n), nextOut = nextIn + 1;
            indices.insert(indices.end(), {in, out, nextOut, in, nextOut, nextIn});
        }
        TriangleMesh mesh = MeshOf(points, indices);
        std::uint64_t notSimple = 0;
        const std::vector<BoundaryLoop> loops = FindBoundaryLoops(mesh, notSimple);
        const auto hole = std::find_if(loops.begin(), loops.end(), [](const BoundaryLoop& l) { return l.vertices[0] % 2 == 0; });
        ASSERT_NE(hole, loops.end());
        ASSERT_EQ(hole->vertices.size(), n);
        EXPECT_EQ(FillHoleLoop(mesh, *hole), n - 2u);
        ASSERT_EQ(mesh.TriangleCount(), 2 * n + n - 2);
        for (std::size_t t = 2 * n; t < mesh.TriangleCount(); ++t)
            ASSERT_GT(Dot(mesh.FaceNormal(t), up), 0.99f) << "triangle " << t;
        ExpectClosedAndConsistent(mesh, n);
    }
}

TEST(FillHoleLoop, LongSlitFillsCleanlyAndUnusableLoopsAddNothing)
{
    TriangleMesh sheet = SlitSheet(3000, 0.05f);
    std::uint64_t notSimple = 0;
    const std::vector<BoundaryLoop> loops = FindBoundaryLoops(sheet, notSimple);
    const auto slit = std::find_if(loops.begin(), loops.end(), [](const BoundaryLoop& l) { return l.width < 0.5f; });
    ASSERT_NE(slit, loops.end());
    ASSERT_EQ(slit->vertices.size(), 6000u);
    EXPECT_EQ(FillHoleLoop(sheet, *slit), 5998u);
    ExpectClosedAndConsistent(sheet, 2u * 3001u + 6u);

    TriangleMesh mesh = MakeTestCube(1.0f);
    EXPECT_EQ(FillHoleLoop(mesh, BoundaryLoop{{0, 1}, 0, 0, 0}), 0u);
    EXPECT_EQ(FillHoleLoop(mesh, BoundaryLoop{{0, 1, 99}, 0, 0, 0}), 0u);
    EXPECT_EQ(mesh.TriangleCount(), 12u);
}

// The output of varied inputs, pinned to the bit (mesh, maps, counts and text): reorganising
// the cleanup must change nothing. The noisy sphere's pole triangles are shorter than the
// tolerance, so it collapses, refuses and fills.
TEST(CleanupForExport, OutputOfVariedInputsIsPinned)
{
    std::uint32_t corner = 0;
    TriangleMesh boxes = test::Combined(MakeTestCube(10.0f), test::Translated(MakeTestCube(10.0f), {10, 0, 10}));
    WeldIdenticalVertices(boxes);
    // Every 7th (10th) row squeezed to nearly nothing: many collapses and a long open rim; the
    // large sheet is enough for the parallel sweeps to split up.
    auto squeezedGrid = [](std::uint32_t rows, std::uint32_t columns, std::size_t every, std::size_t row) {
        TriangleMesh grid = test::MakeWavyGrid(rows, columns);
        for (std::size_t v = columns + 1; v < grid.vertices.size(); ++v)
            if (v / (columns + 1) % every == row)
                grid.vertices[v].position = grid.vertices[v - columns - 1].position + Vec3{0.0f, 0.0004f, 0.0f};
        return grid;
    };
    const ExportCleanupOptions noWeld{.weldCollapsedTriangles = false};
    const ExportCleanupOptions noFill{.fillHoles = false};
    struct Case { const char* name; TriangleMesh mesh; float tolerance; ExportCleanupOptions options; std::uint64_t checksum; };
    const Case cases[] = {
        {"pooled soup", test::MakeRandomTriangles(5, 600, 10.0f, 0.3f, 150), 1.0f, {}, 0x6c13f72819505f9f},
        {"boxes sharing an edge, short edge", WithShortEdge(boxes, 0.0005f, corner), 0.001f, {}, 0x1013a986e055e178},
        {"noisy sphere with holes", test::MakeNoisySphereWithHoles(6, 0.02f, 29, 0), 0.05f, {}, 0xa3190696fd8b3784},
        {"noisy sphere, no welding", test::MakeNoisySphereWithHoles(6, 0.02f, 29, 0), 0.05f, noWeld, 0x603de371d7a9ab21},
        {"noisy sphere with fins, no filling", test::MakeNoisySphereWithHoles(7, 0.05f, 31, 13), 0.05f, noFill, 0x708793dfc7c8ad5c},
        {"squeezed grid", squeezedGrid(40, 60, 7, 3), 0.001f, {}, 0xa5cb5b298f60269d},
        {"large squeezed sheet", squeezedGrid(200, 300, 10, 5), 0.001f, {}, 0xa019eaf79f193555},
    };
    for (const Case& c : cases) {
        for (const bool serial : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (serial ? ", one thread" : ", all threads"));
            std::optional<ThreadLimit> limit;
            if (serial)
                limit.emplace(1);
            TriangleMesh mesh = c.mesh;
            const ExportCleanupReport report = CleanupForExport(mesh, c.tolerance, c.options);
            test::Fnv1a sum;
            test::AddMesh(sum, mesh).Add(report.vertexMap).Add(report.faceMap).Add(FormatExportCleanupReport(report));
            EXPECT_EQ(sum.Value(), c.checksum) << std::hex << sum.Value() << std::dec << " " << FormatExportCleanupReport(report);
        }
    }
}

}  // namespace
}  // namespace grainforge::mesh
