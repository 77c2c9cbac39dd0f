#include "engine/displacement/occupancy_grid.h"

#include "engine/mesh/test_shapes.h"
#include "tests/support/mesh_of.h"
#include "tests/support/same_on_one_thread.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

namespace grainforge::mesh {
namespace {

using test::Combined;
using test::Flipped;
using test::MakeBox;

std::vector<std::uint8_t> Classes(const TriangleMesh& mesh, std::int32_t resolution,
                                  SurfaceClassReport* report = nullptr)
{
    OccupancyGrid grid;
    BuildOccupancyGrid(grid, mesh, resolution, 0);
    return ClassifyOuterSurface(grid, mesh, report);
}

// `outer` outer classes followed by `inner` inner ones.
std::vector<std::uint8_t> OuterThenInner(std::size_t outer, std::size_t inner)
{
    std::vector<std::uint8_t> classes(outer + inner, kSurfaceInner);
    std::fill_n(classes.begin(), outer, kSurfaceOuter);
    return classes;
}

// The longest side gets the clamped resolution plus the five margin cells; a thin axis gets
// what its extent needs at that cell size, and a flat one the margin only.
TEST(BuildOccupancyGrid, CellCountsFollowTheClampedResolution)
{
    struct Case { TriangleMesh mesh; std::int32_t resolution, clamped, nx, ny, nz; float cell; };
    const Case cases[] = {
        {MakeTestCube(20), 8, 16, 21, 21, 21, 1.25f},
        {MakeTestCube(20), -3, 16, 21, 21, 21, 1.25f},
        // 1 mm over 100/1024 mm is 10.24 cells: 11 plus the margin.
        {MakeBox({0, 0, 0}, {100, 1, 1}), 5000, 1024, 1029, 16, 16, 100.0f / 1024},
        {test::MakeFlatGrid(4, 5.0f), 32, 32, 37, 37, 5, 0.625f},
    };
    const OccupancyGridStatus built = OccupancyGridStatus::built;
    for (const Case& c : cases) {
        OccupancyGrid grid;
        BuildOccupancyGrid(grid, c.mesh, c.resolution, 0);
        EXPECT_EQ(std::tie(grid.resolution, grid.nx, grid.ny, grid.nz, grid.cellSize, grid.status),
                  std::tie(c.clamped, c.nx, c.ny, c.nz, c.cell, built)) << c.resolution;
        EXPECT_EQ(std::tie(grid.cellsX, grid.cellsY, grid.cellsZ, grid.cellMillimetres),
                  std::make_tuple(std::uint32_t(c.nx), std::uint32_t(c.ny), std::uint32_t(c.nz), c.cell));
        EXPECT_EQ(grid.origin, (c.mesh.boundsMin - Vec3{c.cell, c.cell, c.cell} * 2.0f));
    }
}

// Every corner lies in a set cell, the count matches the set bytes, and the outer two layers
// on every side stay empty.
TEST(BuildOccupancyGrid, CoversEveryCornerAndKeepsTheMargin)
{
    const TriangleMesh sphere = test::MakeBumpySphere(20.0f, 1.5f, 40, 80);
    OccupancyGrid grid;
    BuildOccupancyGrid(grid, sphere, 64, 0);
    const auto cell = [&](float v, float origin) { return std::size_t((v - origin) / grid.cellSize); };
    for (const auto& [p, normal] : sphere.vertices) {
        ASSERT_EQ(grid.cells[(cell(p.z, grid.origin.z) * grid.ny + cell(p.y, grid.origin.y)) * grid.nx
                             + cell(p.x, grid.origin.x)], 1);
    }
    EXPECT_EQ(grid.filledCells, static_cast<std::uint64_t>(std::count(grid.cells.begin(), grid.cells.end(), 1)));
    for (std::size_t i = 0; i < grid.cells.size(); ++i) {
        const auto x = std::int32_t(i % grid.nx), y = std::int32_t(i / grid.nx % grid.ny);
        const auto z = std::int32_t(i / grid.nx / grid.ny);
        if (std::min({x, y, z}) < 2 || x >= grid.nx - 2 || y >= grid.ny - 2 || z >= grid.nz - 2) {
            ASSERT_EQ(grid.cells[i], 0) << x << " " << y << " " << z;
        }
    }
}

// floor(v) held to [low, high], NaN to `low`: how a triangle's box becomes cell numbers.
std::int32_t FloorHeld(float v, std::int32_t low, std::int32_t high)
{
    if (!(v >= static_cast<float>(low)))
        return low;
    return v >= static_cast<float>(high) ? high : static_cast<std::int32_t>(std::floor(v));
}

// The grid's cells as testing every cell of each triangle's box marks them: a triangle whose
// box is one cell marks it untested, any other marks the cells whose cube of half a cell
// (and a ten-thousandth) it touches.
std::vector<std::uint8_t> CellsOfEveryBoxCell(const OccupancyGrid& grid, const TriangleMesh& mesh)
{
    std::vector<std::uint8_t> cells(grid.cells.size(), 0);
    const std::int32_t counts[3] = {grid.nx, grid.ny, grid.nz};
    const float origin[3] = {grid.origin.x, grid.origin.y, grid.origin.z};
    const float half = grid.cellSize * 0.5f * 1.0001f;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const Vec3 k[3] = {mesh.vertices[mesh.indices[3 * t]].position, mesh.vertices[mesh.indices[3 * t + 1]].position,
                           mesh.vertices[mesh.indices[3 * t + 2]].position};
        std::int32_t lo[3], hi[3];
        for (int a = 0; a < 3; ++a) {
            const float v[3] = {a == 0 ? k[0].x : a == 1 ? k[0].y : k[0].z, a == 0 ? k[1].x : a == 1 ? k[1].y : k[1].z,
                                a == 0 ? k[2].x : a == 1 ? k[2].y : k[2].z};
            lo[a] = FloorHeld((std::min({v[0], v[1], v[2]}) - origin[a]) / grid.cellSize, 0, counts[a]);
            hi[a] = FloorHeld((std::max({v[0], v[1], v[2]}) - origin[a]) / grid.cellSize, -1, counts[a] - 1);
        }
        const bool single = lo[0] == hi[0] && lo[1] == hi[1] && lo[2] == hi[2];
        for (std::int32_t z = lo[2]; z <= hi[2]; ++z)
            for (std::int32_t y = lo[1]; y <= hi[1]; ++y)
                for (std::int32_t x = lo[0]; x <= hi[0]; ++x) {
                    const Vec3 centre{(static_cast<float>(x) + 0.5f) * grid.cellSize + grid.origin.x,
                                      (static_cast<float>(y) + 0.5f) * grid.cellSize + grid.origin.y,
                                      (static_cast<float>(z) + 0.5f) * grid.cellSize + grid.origin.z};
                    if (single || TriangleBoxOverlap(centre, half, k[0], k[1], k[2]))
                        cells[(std::size_t(z) * std::size_t(grid.ny) + std::size_t(y)) * std::size_t(grid.nx)
                              + std::size_t(x)] = 1;
                }
    }
    return cells;
}

// Needles from near the origin to (10, 9, 8): a straight one with no area, and slivers whose
// middle corner stands off the line by `offsets`, across the line's slant.
TriangleMesh MakeNeedles(std::initializer_list<float> offsets)
{
    TriangleMesh needles;
    std::uint32_t next = 0;
    for (const float offset : offsets) {
        const float lift = 0.37f * static_cast<float>(next) / 3.0f;
        needles.vertices.push_back({{0.1f, lift, 0.2f}, {}});
        needles.vertices.push_back({{5.05f + offset, 4.5f + lift - offset, 4.1f}, {}});
        needles.vertices.push_back({{10, 9 + lift, 8}, {}});
        needles.indices.insert(needles.indices.end(), {next, next + 1, next + 2});
        next += 3;
    }
    needles.ComputeBounds();
    return needles;
}

// Loose triangles, each given by its three corners; box computed.
TriangleMesh MakeTriangles(std::initializer_list<std::array<Vec3, 3>> triangles)
{
    TriangleMesh mesh;
    for (const std::array<Vec3, 3>& t : triangles) {
        const auto first = static_cast<std::uint32_t>(mesh.vertices.size());
        for (const Vec3 p : t)
            mesh.vertices.push_back({p, {}});
        mesh.indices.insert(mesh.indices.end(), {first, first + 1, first + 2});
    }
    mesh.ComputeBounds();
    return mesh;
}

// `count` slivers of assorted slant, length and width inside a 20 mm box, from a fixed seed:
// the widths run from 1e-7 to 1 mm, some long edges lie along an axis, some corners repeat.
TriangleMesh MakeSlivers(std::uint32_t count)
{
    std::uint32_t state = 12345u;
    const auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(state >> 8) / static_cast<float>(1u << 24);
    };
    TriangleMesh slivers;
    for (std::uint32_t i = 0; i < count; ++i) {
        const Vec3 from{20.0f * next(), 20.0f * next(), 20.0f * next()};
        Vec3 to{20.0f * next(), 20.0f * next(), 20.0f * next()};
        if (i % 5 == 1)
            to = {to.x, from.y, from.z};
        if (i % 5 == 2)
            to = {from.x, from.y, to.z};
        const float width = std::pow(10.0f, -7.0f * next());
        const float along = next();
        const Vec3 side = i % 7 == 3 ? Vec3{0, 0, 0} : Vec3{next() - 0.5f, next() - 0.5f, next() - 0.5f} * width;
        const Vec3 middle = from + (to - from) * along + side;
        const auto first = static_cast<std::uint32_t>(slivers.vertices.size());
        for (const Vec3 p : {from, middle, to})
            slivers.vertices.push_back({p, {}});
        slivers.indices.insert(slivers.indices.end(), {first, first + 1, first + 2});
    }
    slivers.ComputeBounds();
    return slivers;
}

// Only the cells near each triangle are visited, and they are exactly the cells a test of its
// whole box marks: slanted slivers, needles with no area or almost none, a tilted plane, faces
// on the cells' planes, small triangles, and slivers so far out that rounding spans a cell.
TEST(BuildOccupancyGrid, MarksTheSameCellsAsTestingEveryCellOfTheBox)
{
    const TriangleMesh tilted = [] {
        TriangleMesh plane;
        plane.vertices = {{{0, 0, 0}, {}}, {{10, 0, 7}, {}}, {{0, 10, 9}, {}}, {{10, 10, 16}, {}}};
        plane.indices = {0, 1, 2, 2, 1, 3};
        plane.ComputeBounds();
        return plane;
    }();
    struct Case { const char* name; TriangleMesh mesh; std::int32_t resolution; };
    const Case cases[] = {
        {"cone of slivers", test::MakeCone(40, 40, 120), 48},
        {"low fan of slivers", test::MakeFan(240), 64},
        // Thousands of slivers through every cell round the apex: a cell one of them set is
        // not tested again by the next.
        {"cone of 3,000 slivers", test::MakeCone(40, 40, 3000), 48},
        {"needles", MakeNeedles({0.0f, 1e-6f, 1e-4f, 0.01f, 0.3f}), 96},
        {"tilted plane", tilted, 48},
        {"faces on cell planes", MakeBox({0, 0, 0}, {8, 8, 8}), 16},
        {"bumpy sphere", test::MakeBumpySphere(10.0f, 0.5f, 24, 48), 128},
        {"cone 10 m out", test::Translated(test::MakeCone(40, 40, 96), {1e4f, -1e4f, 1e4f}), 64},
        {"cone 1 km out", test::Translated(test::MakeCone(4, 4, 64), {1e6f, -1e6f, 5e5f}), 48},
        {"needles 1 km out", test::Translated(MakeNeedles({0.0f, 1e-3f, 0.05f}), {-1e6f, 1e6f, 1e6f}), 64},
        {"slivers of every slant", MakeSlivers(400), 96},
        {"slivers 1 km out", test::Translated(MakeSlivers(200), {1e6f, 1e6f, -1e6f}), 64},
        {"slivers 1 km out, fine cells", test::Translated(MakeSlivers(60), {-1e6f, 2e5f, 1e6f}), 400},
        // A 16 mm box at 16 cells has cells of 1 mm from -2 mm: every integer is a cell plane.
        {"corners on cell planes", Combined(MakeBox({0, 0, 0}, {16, 16, 16}), MakeTriangles({
             {{{1, 1, 1}, {13, 7, 11}, {7, 4, 6}}},
             {{{2, 3, 4}, {14, 3, 4}, {8, 3, 5}}},
             {{{0, 0, 16}, {16, 16, 16}, {16, 15, 16}}},
             {{{3, 3, 3}, {12, 12, 3}, {12, 12, 12}}},
             {{{1, 15, 2}, {15, 1, 14}, {8, 8, 8}}},
         })), 16},
        {"tiny triangles astride cell corners", Combined(MakeBox({0, 0, 0}, {16, 16, 16}), MakeTriangles({
             {{{3.001f, 4, 5}, {2.999f, 4.001f, 5}, {3, 3.999f, 5.001f}}},
             {{{7, 7, 7}, {7.0001f, 7, 7}, {7, 7.0001f, 7}}},
             {{{9.5f, 10, 11}, {10.5f, 10, 11}, {10, 10, 11.0000005f}}},
         })), 16},
        {"huge triangles", MakeTriangles({
             {{{0, 0, 0}, {100, 3, 40}, {20, 90, 70}}},
             {{{100, 0, 100}, {0, 100, 0}, {0, 0, 100}}},
         }), 160},
    };
    for (const Case& c : cases) {
        OccupancyGrid grid;
        BuildOccupancyGrid(grid, c.mesh, c.resolution, 0);
        ASSERT_EQ(grid.status, OccupancyGridStatus::built) << c.name;
        const std::vector<std::uint8_t> expected = CellsOfEveryBoxCell(grid, c.mesh);
        EXPECT_TRUE(grid.cells == expected) << c.name << ": " << std::count(grid.cells.begin(), grid.cells.end(), 1)
                                            << " cells marked, " << std::count(expected.begin(), expected.end(), 1)
                                            << " by the whole boxes";
        EXPECT_EQ(grid.filledCells, static_cast<std::uint64_t>(std::count(expected.begin(), expected.end(), 1))) << c.name;
        EXPECT_GT(grid.filledCells, 0u) << c.name;
    }
}

// The cube of half size 0.5 round the origin against triangles placed round it.
TEST(TriangleBoxOverlap, KnownAnswersWithTouchingCounted)
{
    struct Case { Vec3 a, b, c; bool overlaps; };
    const Case cases[] = {
        {{-2, -2, 0}, {2, -2, 0}, {0, 2, 0}, true},          // through the centre, corners all outside
        {{0.5f, -1, -1}, {0.5f, 1, -1}, {0.5f, 0, 2}, true},  // lying on the face x = 0.5
        {{0.51f, -1, -1}, {0.51f, 1, -1}, {0.51f, 0, 2}, false},
        {{0.5f, 0.5f, 0.5f}, {2, 0.5f, 0.5f}, {2, 2, 2}, true},  // one corner on the cube's corner
        // Plane x + y + z = 1.5 touches the cube's corner; at 1.6 only the plane separates.
        {{1.5f, 0, 0}, {0, 1.5f, 0}, {0, 0, 1.5f}, true},
        {{1.6f, 0, 0}, {0, 1.6f, 0}, {0, 0, 1.6f}, false},
        // Only an edge's cross axis separates: the long edge runs along x + y = 1.2 past the
        // cube's vertical edge at x + y = 1; along x + y = 1 it touches that edge.
        {{0.2f, 1, 0}, {1, 0.2f, 0}, {1, 1, 0}, false},
        {{0, 1, 0}, {1, 0, 0}, {1, 1, 0}, true},
        {{0.1f, 0.1f, 0.1f}, {0.1f, 0.1f, 0.1f}, {0.1f, 0.1f, 0.1f}, true},  // a point inside
        {{0, 0, 0.6f}, {0, 0, 0.6f}, {0, 0, 0.6f}, false},                  // and one outside
    };
    for (const Case& c : cases)
        EXPECT_EQ(TriangleBoxOverlap({0, 0, 0}, 0.5f, c.a, c.b, c.c), c.overlaps) << &c - cases;
}

// A hollow: the outer box faces outward, the inner box faces into the hollow. Rays from the
// inner faces cross the hollow and meet the far inner wall.
TEST(ClassifyOuterSurface, OuterAndInnerSurfacesWithTheirAreas)
{
    const TriangleMesh hollow =
        Combined(MakeBox({-10, -10, -10}, {10, 10, 10}), Flipped(MakeBox({-5, -5, -5}, {5, 5, 5})));
    SurfaceClassReport report;
    EXPECT_EQ(Classes(hollow, 32, &report), OuterThenInner(12, 12));
    EXPECT_EQ(std::tie(report.triangles, report.outerTriangles, report.innerTriangles, report.otherTriangles,
                       report.outerArea, report.innerArea),
              std::make_tuple(24u, 12u, 12u, 0u, 2400.0, 600.0));

    EXPECT_EQ(Classes(MakeTestCube(20), 16), OuterThenInner(12, 0));
    // A small cube 3 m away gets a grid of its own: the hollow keeps its cells and its inside.
    std::vector<std::uint8_t> withFarCube = OuterThenInner(36, 0);
    std::fill_n(withFarCube.begin() + 12, 12, kSurfaceInner);
    EXPECT_EQ(Classes(Combined(hollow, test::Translated(MakeTestCube(1), {3000, 5, 0})), 32), withFarCube);
    EXPECT_EQ(Classes(Combined(MakeTestSphere(20), Flipped(MakeTestSphere(10))), 64), OuterThenInner(9024, 9024));

    // The slit's closing triangle has no area: class 2, counted apart and in neither area.
    const TriangleMesh slit = test::MakeCubeWithFlatTriangle();
    std::vector<std::uint8_t> flat(14, kSurfaceOuter);
    flat[13] = kSurfaceDegenerate;
    EXPECT_EQ(Classes(slit, 16, &report), flat);
    EXPECT_EQ(std::tie(report.triangles, report.outerTriangles, report.otherTriangles, report.outerArea),
              std::make_tuple(14u, 13u, 1u, 2400.0));
}

// The grid's layers are filled in parallel slabs. The bumps leave some valley faces whose rays
// meet the next bump: a mix of classes.
TEST(ClassifyOuterSurface, GridAndClassesSameOnOneThreadAsOnMany)
{
    const TriangleMesh hollow = Combined(test::MakeBumpySphere(20.0f, 1.5f, 64, 128), Flipped(MakeTestSphere(10)));
    test::ExpectSameOnOneThread([&] {
        OccupancyGrid grid;
        BuildOccupancyGrid(grid, hollow, 96, 0);
        return std::make_tuple(grid.cells, grid.filledCells, ClassifyOuterSurface(grid, hollow));
    });
}

// The grid is refused before it is allocated; exactly enough memory builds it.
TEST(BuildOccupancyGrid, RefusesAGridLargerThanTheAvailableMemory)
{
    const TriangleMesh cube = MakeTestCube(20);
    // Two such cubes 5 m apart take a grid each, both held at once.
    const TriangleMesh pair = Combined(cube, test::Translated(cube, {5000, 0, 0}));
    constexpr std::uint64_t kOne = 21 * 21 * 21;
    const std::tuple<const TriangleMesh*, std::int32_t, std::uint64_t, OccupancyGridStatus, std::uint64_t> cases[] = {
        {&cube, 16, kOne, OccupancyGridStatus::built, 0},
        {&cube, 16, kOne - 1, OccupancyGridStatus::notEnoughMemory, kOne - 1},
        {&cube, 1024, 1000000000, OccupancyGridStatus::notEnoughMemory, 1000000000},
        {&pair, 16, 2 * kOne, OccupancyGridStatus::built, 0},
        {&pair, 16, 2 * kOne - 1, OccupancyGridStatus::notEnoughMemory, kOne - 1},
    };
    for (const auto& [mesh, resolution, available, status, reported] : cases) {
        OccupancyGrid grid;
        BuildOccupancyGrid(grid, *mesh, resolution, available);
        const std::uint64_t needed = std::uint64_t(grid.cellsX) * grid.cellsY * grid.cellsZ;
        const bool refused = status != OccupancyGridStatus::built;
        EXPECT_EQ(std::tie(grid.status, grid.refusedBytes, grid.availableBytes),
                  std::make_tuple(status, refused ? needed : 0, reported)) << available;
        EXPECT_EQ(std::make_tuple(grid.nx == 0, grid.cells.size()), std::make_tuple(refused, refused ? 0 : needed));
    }
}

// A piece lying far from the part gets a grid of its own, with cells no finer than the part's:
// each small piece once took a grid of the full resolution across its own few millimetres, a
// dozen of them over a hundred megabytes. The pieces' faces stay outer.
TEST(BuildOccupancyGrid, PiecesApartTakeCellsNoFinerThanTheLargest)
{
    const TriangleMesh plate = MakeTestCube(100);
    const auto far = [](const TriangleMesh& piece, float x) { return test::Translated(piece, {x, 0, 0}); };
    TriangleMesh screws = plate;
    for (int i = 0; i < 9; ++i)
        screws = Combined(screws, far(MakeTestCube(5), 600.0f + 40.0f * static_cast<float>(i)));
    const struct {
        const char* name;
        TriangleMesh mesh;
        std::vector<std::int32_t> resolutions;  // of the pieces apart, in the grid's order
    } cases[] = {
        {"a cube as large far off", Combined(plate, far(plate, 5000)), {256}},
        {"a cube half as large", Combined(plate, far(MakeTestCube(50), 5000)), {128}},
        {"a cube a tenth as large", Combined(plate, far(MakeTestCube(10), 5000)), {25}},
        {"nine small cubes in a row", screws, std::vector<std::int32_t>(9, 16)},
        {"a lone facet", Combined(plate, test::MeshOf({{900, 0, 0}, {930, 0, 0}, {900, 30, 0}}, {0, 1, 2})), {76}},
    };
    for (const auto& c : cases) {
        TriangleMesh mesh = c.mesh;
        mesh.ComputeBounds();
        OccupancyGrid grid;
        BuildOccupancyGrid(grid, mesh, 256, 0);
        ASSERT_EQ(grid.status, OccupancyGridStatus::built) << c.name;
        EXPECT_EQ(grid.resolution, 256) << c.name;
        std::vector<std::int32_t> resolutions;
        for (const OccupancyGrid& piece : grid.apart) {
            resolutions.push_back(piece.resolution);
            EXPECT_EQ(piece.status, OccupancyGridStatus::built) << c.name;
            // A piece too small for the fewest cells any grid has gets those.
            if (piece.resolution > kMinOccupancyResolution) {
                EXPECT_GE(piece.cellSize, grid.cellSize * 0.999f) << c.name;
            }
            EXPECT_LE(piece.cells.size(), grid.cells.size()) << c.name;
        }
        EXPECT_EQ(resolutions, c.resolutions) << c.name;
        const std::vector<std::uint8_t> classes = ClassifyOuterSurface(grid, mesh);
        EXPECT_EQ(std::count(classes.begin(), classes.end(), kSurfaceInner), 0) << c.name;
    }
}

TEST(FormatOccupancyGrid, BuiltAndRefusedTexts)
{
    OccupancyGrid grid;
    EXPECT_EQ(FormatOccupancyGrid(grid), "Occupancy grid: not built");
    grid.status = OccupancyGridStatus::built;
    std::tie(grid.nx, grid.ny, grid.nz, grid.cellMillimetres, grid.filledCells, grid.buildMilliseconds) =
        std::make_tuple(21, 37, 5, 0.0976563f, 1234567u, 12.34567891);
    EXPECT_EQ(FormatOccupancyGrid(grid),
              "Occupancy grid: 21 x 37 x 5 cells of 0.0976563 mm, 1234567 on the surface, built in 12.3457 ms");
    grid.apart.resize(1);
    EXPECT_EQ(FormatOccupancyGrid(grid), "Occupancy grid: 21 x 37 x 5 cells of 0.0976563 mm, 1234567 on the surface, "
                                         "built in 12.3457 ms, with 1 more grid for a piece that lies apart");
    grid.apart.clear();
    grid.status = OccupancyGridStatus::notEnoughMemory;
    std::tie(grid.cellsX, grid.cellsY, grid.cellsZ) = std::make_tuple(1029u, 1029u, 1029u);
    grid.refusedBytes = 1029ull * 1029 * 1029;        // 1039.07 MB, rounded up
    grid.availableBytes = 800 * 1048576ull + 1048575;  // rounded down
    EXPECT_EQ(FormatOccupancyGrid(grid), "Occupancy grid: not built: the grid of 1029 x 1029 x 1029 cells needs "
                                         "1040 MB and only 800 MB are available");
}

// Hostile meshes, each built into a grid that held a good build before: the grid ends empty,
// and classification gives all outer and leaves the report as it was.
TEST(BuildOccupancyGrid, HostileMeshesGiveAnEmptyGridAndAllOuter)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    const auto with = [](TriangleMesh mesh, auto change) { change(mesh); return mesh; };
    const TriangleMesh cube = MakeTestCube(20);
    using Status = OccupancyGridStatus;
    const std::pair<TriangleMesh, Status> cases[] = {
        {TriangleMesh{}, Status::emptyMesh},
        {with(cube, [&](TriangleMesh& m) { m.vertices[3].position.y = nan; }), Status::coordinatesNotFinite},
        {with(cube, [&](TriangleMesh& m) { m.vertices[0].position.z = -infinity; }), Status::coordinatesNotFinite},
        {with(cube, [](TriangleMesh& m) { m.indices[7] = 8; }), Status::invalidMesh},
        {with(cube, [](TriangleMesh& m) { m.indices.pop_back(); }), Status::invalidMesh},
        {MakeBox({-3e38f, 0, 0}, {3e38f, 1, 1}), Status::extentTooLarge},  // 6e38 is past the largest float
    };
    for (const auto& [mesh, status] : cases) {
        OccupancyGrid grid;
        BuildOccupancyGrid(grid, cube, 32, 0);
        BuildOccupancyGrid(grid, mesh, 32, 0);
        EXPECT_EQ(std::tie(grid.status, grid.nx, grid.cellsX, grid.filledCells), std::make_tuple(status, 0, 0u, 0u));
        EXPECT_TRUE(grid.cells.empty());
        SurfaceClassReport report{.triangles = 99};
        EXPECT_EQ(ClassifyOuterSurface(grid, mesh, &report), OuterThenInner(mesh.TriangleCount(), 0));
        EXPECT_EQ(report.triangles, 99u);
    }
}

// Stored boxes that do not fit the vertices, a part so far out that its extent rounds to 0,
// rays from a mesh outside the grid and a grid whose cells do not match its counts: every
// read stays in range (the sanitizer build checks each one).
TEST(ClassifyOuterSurface, StaleBoxesAndForeignGridsStayInRange)
{
    const TriangleMesh cube = MakeTestCube(20);
    TriangleMesh stale = cube, inverted = cube, nanBox = cube;
    std::tie(stale.boundsMin, stale.boundsMax) = std::make_tuple(Vec3{1e12f, 1e12f, 1e12f}, Vec3{1e12f, 1e12f, 1e12f});
    std::tie(inverted.boundsMin, inverted.boundsMax) = std::make_tuple(cube.boundsMax, cube.boundsMin);
    nanBox.boundsMin.x = std::numeric_limits<float>::quiet_NaN();
    TriangleMesh far = test::Translated(MakeTestCube(0.001f), {1e30f, 1e30f, 1e30f});
    for (const TriangleMesh* mesh : {&stale, &inverted, &nanBox, &far})
        EXPECT_EQ(Classes(*mesh, 64).size(), 12u);
    OccupancyGrid fresh;
    BuildOccupancyGrid(fresh, cube, 64, 0);

    // Some 3e9 cells above the grid: past the int range.
    EXPECT_EQ(ClassifyOuterSurface(fresh, Flipped(test::Translated(MakeTestCube(2000), {0, 0, 1e9f}))),
              OuterThenInner(12, 0));
    OccupancyGrid shortCells = fresh;
    shortCells.cells = std::vector<std::uint8_t>(100, 1);
    EXPECT_EQ(ClassifyOuterSurface(shortCells, Flipped(cube)), OuterThenInner(12, 0));
}

}  // namespace
}  // namespace grainforge::mesh
