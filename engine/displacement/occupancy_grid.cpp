// The triangle-cube test is the separating-axis test of T. Akenine-Möller, "Fast 3D
// Triangle-Box Overlap Testing", Journal of Graphics Tools 6(1), 2001. The ray walk is the
// voxel traversal of J. Amanatides and A. Woo, "A Fast Voxel Traversal Algorithm for Ray
// Tracing", Eurographics 1987.
#include "engine/displacement/occupancy_grid.h"

#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/report_text.h"
#include "engine/remesh/contour_clusters.h"
#include "platform/memory_info.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <limits>
#include <sstream>

namespace grainforge::mesh {

namespace {

// Smallest extent the cell size is taken from, so that a part collapsed to a point still
// gets cells of a finite size.
constexpr float kMinExtent = 0.001f;
// Cells the origin lies below the part's box on every axis.
constexpr float kLowMarginCells = 2.0f;
// Touching within rounding still counts: the test cube is this much larger than the cell.
constexpr float kHalfSizeSlack = 1.0001f;
// tMax and tDelta of an axis the ray runs parallel to: never the next crossing.
constexpr float kNoCrossing = 1e30f;
// z layers per block of the parallel rasterisation: thick enough that few triangles span two
// blocks, thin enough to give every thread work at 256 cells.
constexpr std::int32_t kSlabLayers = 8;
// A triangle whose box holds at most this many cells has each tested: finding the cells near
// it would cost more than testing them all.
constexpr std::int64_t kBoxScanCells = 64;
// A ray crosses up to this many occupied cells while it leaves its own triangle's surface;
// after the first empty cell the next occupied one blocks it.
constexpr int kOwnSurfaceCells = 3;
constexpr float kDegenerateCross = 1e-12f;
constexpr float kOneThird = 0.33333334f;

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start)
{
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start);
    return static_cast<double>(elapsed.count()) / 1e6;
}

float Component(Vec3 v, int axis)
{
    return axis == 0 ? v.x : (axis == 1 ? v.y : v.z);
}

Vec3 Min(Vec3 a, Vec3 b) { return {std::min(a.x, b.x), std::min(a.y, b.y), std::min(a.z, b.z)}; }
Vec3 Max(Vec3 a, Vec3 b) { return {std::max(a.x, b.x), std::max(a.y, b.y), std::max(a.z, b.z)}; }

// floor(v) limited to [low, high]; NaN gives `low`. The limit is applied before the
// conversion, which would be undefined for values outside the int range.
std::int32_t FloorWithin(float v, std::int32_t low, std::int32_t high)
{
    if (!(v >= static_cast<float>(low)))
        return low;
    if (v >= static_cast<float>(high))
        return high;
    return static_cast<std::int32_t>(std::floor(v));
}

struct Corners {
    Vec3 a, b, c;
};

Corners CornersOf(const TriangleMesh& mesh, std::size_t t)
{
    return {mesh.vertices[mesh.indices[3 * t]].position, mesh.vertices[mesh.indices[3 * t + 1]].position,
            mesh.vertices[mesh.indices[3 * t + 2]].position};
}

Vec3 CrossOf(const Corners& k)
{
    return Cross(k.b - k.a, k.c - k.a);
}

// ---- Triangle against cube -----------------------------------------------------------------

// The cube's projection on an axis is [-r, r]; the triangle's is the span of its corners'.
bool SeparatedOnBoxAxis(float p0, float p1, float p2, float halfSize)
{
    return std::min(std::min(p0, p1), p2) > halfSize || std::max(std::max(p0, p1), p2) < -halfSize;
}

// On an axis across an edge both ends of the edge project alike, so one end and the corner
// off the edge give the triangle's span.
bool SeparatedAcrossEdge(Vec3 axis, Vec3 onEdge, Vec3 offEdge, float halfSize)
{
    const float p = Dot(axis, onEdge);
    const float q = Dot(axis, offEdge);
    const float r = halfSize * (std::fabs(axis.x) + std::fabs(axis.y) + std::fabs(axis.z));
    return std::min(p, q) > r || std::max(p, q) < -r;
}

// ---- Building ------------------------------------------------------------------------------

OccupancyGridStatus CheckMesh(const TriangleMesh& mesh)
{
    if (mesh.vertices.empty())
        return OccupancyGridStatus::emptyMesh;
    if (!mesh.IsConsistent())
        return OccupancyGridStatus::invalidMesh;
    if (!HasOnlyFiniteCoordinates(mesh))
        return OccupancyGridStatus::coordinatesNotFinite;
    return OccupancyGridStatus::built;
}

struct Box {
    Vec3 low, high;
};

// The stored box when it is current and finite; otherwise the box of every vertex.
Box PartBounds(const TriangleMesh& mesh)
{
    if (mesh.boundsValid && IsFinite(mesh.boundsMin) && IsFinite(mesh.boundsMax))
        return {mesh.boundsMin, mesh.boundsMax};
    Box box{mesh.vertices[0].position, mesh.vertices[0].position};
    for (const MeshVertex& vertex : mesh.vertices) {
        box.low = Min(box.low, vertex.position);
        box.high = Max(box.high, vertex.position);
    }
    return box;
}

struct GridPlan {
    Vec3 origin;
    float cell = 0.0f;
    std::int32_t counts[3] = {0, 0, 0};
};

// Cell size, counts and origin for the box, or false when the extent or the grid's far corner
// overflows single precision. An inverted stored box counts as a flat one. Counts are at most
// resolution + margin: the longest extent over the cell may round up past the resolution.
bool PlanGrid(const Box& box, std::int32_t resolution, GridPlan& plan)
{
    const Vec3 extent = Max(box.high - box.low, Vec3{});
    if (!IsFinite(extent))
        return false;
    plan.cell = std::max({extent.x, extent.y, extent.z, kMinExtent}) / static_cast<float>(resolution);
    for (int axis = 0; axis < 3; ++axis) {
        const float cells = std::min(std::ceil(Component(extent, axis) / plan.cell), static_cast<float>(resolution));
        plan.counts[axis] = static_cast<std::int32_t>(cells) + kOccupancyMarginCells;
    }
    plan.origin = box.low - Vec3{plan.cell, plan.cell, plan.cell} * kLowMarginCells;
    const Vec3 far = plan.origin + Vec3{static_cast<float>(plan.counts[0]), static_cast<float>(plan.counts[1]),
                                        static_cast<float>(plan.counts[2])} * plan.cell;
    return IsFinite(plan.origin) && IsFinite(far);
}

std::uint64_t CellBytes(const GridPlan& plan)
{
    return static_cast<std::uint64_t>(plan.counts[0]) * static_cast<std::uint64_t>(plan.counts[1])
         * static_cast<std::uint64_t>(plan.counts[2]);
}

void AdoptPlan(OccupancyGrid& grid, const GridPlan& plan)
{
    grid.cellsX = static_cast<std::uint32_t>(plan.counts[0]);
    grid.cellsY = static_cast<std::uint32_t>(plan.counts[1]);
    grid.cellsZ = static_cast<std::uint32_t>(plan.counts[2]);
    grid.cellMillimetres = plan.cell;
}

struct CellRange {
    std::int32_t lo = 0;
    std::int32_t hi = -1;
};

// Cells of the triangle's box along one axis, clipped to the grid, so that a triangle outside
// a stale stored box gets an empty range (lo > hi) or only the cells it reaches.
CellRange CellRangeOf(const OccupancyGrid& grid, const Corners& k, int axis)
{
    const std::int32_t count = axis == 0 ? grid.nx : (axis == 1 ? grid.ny : grid.nz);
    const float low = std::min(std::min(Component(k.a, axis), Component(k.b, axis)), Component(k.c, axis));
    const float high = std::max(std::max(Component(k.a, axis), Component(k.b, axis)), Component(k.c, axis));
    const float origin = Component(grid.origin, axis);
    return {FloorWithin((low - origin) / grid.cellSize, 0, count),
            FloorWithin((high - origin) / grid.cellSize, -1, count - 1)};
}

std::size_t CellIndex(const OccupancyGrid& grid, std::int32_t x, std::int32_t y, std::int32_t z)
{
    return (static_cast<std::size_t>(z) * static_cast<std::size_t>(grid.ny) + static_cast<std::size_t>(y))
             * static_cast<std::size_t>(grid.nx)
         + static_cast<std::size_t>(x);
}

// ---- Rasterising ---------------------------------------------------------------------------

// A cube touches a triangle exactly when none of the thirteen axes of the separating-axis test
// parts them, and each axis parts them on one side of a slab of cube centres. The slabs of the
// three box axes are the triangle's cell ranges; the other ten are kept here, widened by what
// the single-precision test can get wrong, so that every cell it passes lies in all of them.
// They are kept in cell units: the centre of cell (i, j, k) is (i + 0.5, j + 0.5, k + 0.5),
// and it lies in a slab when its dot product with `slope` lies within [low, high].
using Triple = std::array<double, 3>;

struct CentreSlab {
    Triple slope{};
    double low = 0.0;
    double high = 0.0;
    double inverse = 0.0;  // 1 over the slope along the coordinate the slab narrows, 0 for none
};

struct TriangleSlabs {
    // The three edges crossed with x: they bound a layer's rows and do not depend on x.
    std::array<CentreSlab, 3> rows;
    // The edges crossed with y and with z, and the plane: they bound a row's cells.
    std::array<CentreSlab, 7> cells;
};

// What the single-precision test can get wrong, in mm: each corner less a cell centre is off
// by `position` (the centre's and the difference's rounding, far from the origin above all)
// and lies at most `offset` from the centre along any axis; the cube's half edge is `half`.
struct TestRounding {
    double position = 0.0;
    double offset = 0.0;
    double half = 0.0;
};

Triple TripleOf(Vec3 v) { return {v.x, v.y, v.z}; }
Triple Subtract(const Triple& a, const Triple& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double DotOf(const Triple& a, const Triple& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double NormOne(const Triple& a) { return std::fabs(a[0]) + std::fabs(a[1]) + std::fabs(a[2]); }

// The slab of centres along `axis` (mm) that narrows coordinate `narrows`: the triangle's span
// on the axis, widened by the cube's reach and by how far rounding can move the single-precision
// test's projections and reach, its axis having components off by up to `axisError`.
CentreSlab SlabAlong(const Triple& axis, double axisError, const std::array<Triple, 3>& corners,
                     const TestRounding& rounding, const OccupancyGrid& grid, int narrows)
{
    constexpr double kEps = std::numeric_limits<float>::epsilon();
    // Eight times the worst case of the bounds; the test table's slivers 1 km out keep their
    // cells at a twentieth of them.
    constexpr double kSafety = 8.0;
    const double p0 = DotOf(axis, corners[0]);
    const double p1 = DotOf(axis, corners[1]);
    const double p2 = DotOf(axis, corners[2]);
    const double reach = rounding.half * NormOne(axis);
    const double along = rounding.offset + rounding.half;
    const double slack = kSafety * (3.0 * axisError * along
                                    + (NormOne(axis) + 3.0 * axisError) * (rounding.position + 4.0 * kEps * along));
    const double cell = grid.cellSize;
    const double atOrigin = DotOf(axis, TripleOf(grid.origin));
    CentreSlab slab;
    slab.slope = {axis[0] * cell, axis[1] * cell, axis[2] * cell};
    slab.low = std::min({p0, p1, p2}) - reach - slack - atOrigin;
    slab.high = std::max({p0, p1, p2}) + reach + slack - atOrigin;
    const double slope = slab.slope[static_cast<std::size_t>(narrows)];
    slab.inverse = slope != 0.0 ? 1.0 / slope : 0.0;
    return slab;
}

// The ten slabs of the triangle in the grid's cell units.
TriangleSlabs SlabsOf(const OccupancyGrid& grid, const Corners& k)
{
    constexpr double kEps = std::numeric_limits<float>::epsilon();
    const Vec3 far = grid.origin + Vec3{static_cast<float>(grid.nx), static_cast<float>(grid.ny),
                                        static_cast<float>(grid.nz)} * grid.cellSize;
    float scale = 0.0f;
    for (const Vec3 p : {k.a, k.b, k.c, grid.origin, far})
        scale = std::max({scale, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
    const std::array<Triple, 3> corners{TripleOf(k.a), TripleOf(k.b), TripleOf(k.c)};
    const std::array<Triple, 3> edges{Subtract(corners[1], corners[0]), Subtract(corners[2], corners[1]),
                                      Subtract(corners[0], corners[2])};
    double longest = 0.0;
    for (const Triple& e : edges)
        longest = std::max({longest, std::fabs(e[0]), std::fabs(e[1]), std::fabs(e[2])});
    const double cell = grid.cellSize;
    TestRounding rounding;
    rounding.position = 3.0 * kEps * static_cast<double>(scale);
    // The cells asked about lie within the triangle's cell ranges, which rounding may widen.
    rounding.offset = 2.0 * longest + 4.0 * cell + 4.0 * rounding.position;
    rounding.half = 0.5 * cell * static_cast<double>(kHalfSizeSlack);

    // An edge's components are off by both corners' and their difference's rounding, and so
    // are those of the axes crossed from it; the normal's by the products of two such edges.
    const double edgeError = 2.0 * rounding.position + kEps * (longest + 2.0 * rounding.position);
    const double edgeSize = longest + edgeError;
    const double normalError =
        4.0 * edgeSize * edgeError + 2.0 * edgeError * edgeError + 4.0 * kEps * edgeSize * edgeSize;

    TriangleSlabs slabs;
    for (std::size_t i = 0; i < 3; ++i) {
        const Triple& e = edges[i];
        slabs.rows[i] = SlabAlong({0.0, -e[2], e[1]}, edgeError, corners, rounding, grid, 1);
        slabs.cells[2 * i] = SlabAlong({e[2], 0.0, -e[0]}, edgeError, corners, rounding, grid, 0);
        slabs.cells[2 * i + 1] = SlabAlong({-e[1], e[0], 0.0}, edgeError, corners, rounding, grid, 0);
    }
    const Triple& u = edges[0];
    const Triple& v = edges[1];
    const Triple normal{u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    slabs.cells[6] = SlabAlong(normal, normalError, corners, rounding, grid, 0);
    return slabs;
}

// Centres (in cell units) along one coordinate; low > high holds none.
struct CentreSpan {
    double low = -std::numeric_limits<double>::infinity();
    double high = std::numeric_limits<double>::infinity();
};

// Narrows `span` to where `slab` holds the centre, `rest` being what the other coordinates add
// to its dot product. A bound that is not a number leaves the span as it was: nothing is lost.
void Narrow(CentreSpan& span, const CentreSlab& slab, double rest)
{
    if (slab.inverse == 0.0) {
        if (slab.low - rest > 0.0 || slab.high - rest < 0.0)
            span = {1.0, 0.0};
        return;
    }
    const double a = (slab.low - rest) * slab.inverse;
    const double b = (slab.high - rest) * slab.inverse;
    span.low = std::max(span.low, std::min(a, b));
    span.high = std::min(span.high, std::max(a, b));
}

// The cells of `range` whose centres lie within `span`.
CellRange CellsWithin(const CentreSpan& span, CellRange range)
{
    // A centre this close to a bound, in cells, is kept against the rounding of the division.
    constexpr double kIndexSlack = 1e-6;
    const double first = span.low - 0.5 - kIndexSlack;
    const double last = span.high - 0.5 + kIndexSlack;
    if (first > static_cast<double>(range.lo))
        range.lo = first > static_cast<double>(range.hi) ? range.hi + 1 : static_cast<std::int32_t>(std::ceil(first));
    if (last < static_cast<double>(range.hi))
        range.hi = last < static_cast<double>(range.lo) ? range.lo - 1 : static_cast<std::int32_t>(std::floor(last));
    return range;
}

// The rows of `rows` in layer `z` (its centre in cell units) that a cell of the triangle may
// lie in.
CellRange RowsNear(const TriangleSlabs& slabs, CellRange rows, double z)
{
    CentreSpan span;
    for (const CentreSlab& slab : slabs.rows)
        Narrow(span, slab, slab.slope[2] * z);
    return CellsWithin(span, rows);
}

// The cells of `cells` in the row at (y, z) (centres in cell units) that the triangle may touch.
CellRange CellsNear(const TriangleSlabs& slabs, CellRange cells, double y, double z)
{
    CentreSpan span;
    for (const CentreSlab& slab : slabs.cells)
        Narrow(span, slab, slab.slope[1] * y + slab.slope[2] * z);
    return CellsWithin(span, cells);
}

// Sets the cell when the triangle touches it (or unconditionally for a triangle within one
// cell); gives 1 when it went from 0 to 1.
std::uint64_t MarkCell(OccupancyGrid& grid, const Corners& k, bool single, std::int32_t ix, std::int32_t iy,
                       std::int32_t iz)
{
    // A set cell stays set whatever the test says: where many facets meet (a fan's hub, a
    // cone's apex) this keeps the work to the cells, not to the facets crowding them.
    std::uint8_t& cell = grid.cells[CellIndex(grid, ix, iy, iz)];
    if (cell != 0)
        return 0;
    const float half = grid.cellSize * 0.5f * kHalfSizeSlack;
    const Vec3 centre{(static_cast<float>(ix) + 0.5f) * grid.cellSize + grid.origin.x,
                      (static_cast<float>(iy) + 0.5f) * grid.cellSize + grid.origin.y,
                      (static_cast<float>(iz) + 0.5f) * grid.cellSize + grid.origin.z};
    if (!single && !TriangleBoxOverlap(centre, half, k.a, k.b, k.c))
        return 0;
    cell = 1;
    return 1;
}

// Sets the cells of layers [zBegin, zEnd) within ranges x, y, z that lie in every slab of
// the triangle and that it touches; gives the number that went from 0 to 1. A slanted
// sliver's box holds some hundred thousand cells for the few hundred it touches, and a row of
// its layer holds one or two of them.
std::uint64_t RasteriseWithinSlabs(OccupancyGrid& grid, const Corners& k, CellRange x, CellRange y, CellRange z,
                                   std::int32_t zBegin, std::int32_t zEnd)
{
    std::uint64_t added = 0;
    const TriangleSlabs slabs = SlabsOf(grid, k);
    for (std::int32_t iz = std::max(z.lo, zBegin); iz <= std::min(z.hi, zEnd - 1); ++iz) {
        const CellRange rows = RowsNear(slabs, y, iz + 0.5);
        for (std::int32_t iy = rows.lo; iy <= rows.hi; ++iy) {
            const CellRange cells = CellsNear(slabs, x, iy + 0.5, iz + 0.5);
            for (std::int32_t ix = cells.lo; ix <= cells.hi; ++ix)
                added += MarkCell(grid, k, false, ix, iy, iz);
        }
    }
    return added;
}

// Sets the cells of layers [zBegin, zEnd) that the triangle touches; gives the number that
// went from 0 to 1. A triangle within one cell sets it without a test, decided on its whole
// range so that splitting the layers changes nothing. Of a larger box only the cells that lie
// in every slab of the triangle are tested.
std::uint64_t RasteriseTriangle(OccupancyGrid& grid, const Corners& k, std::int32_t zBegin, std::int32_t zEnd)
{
    const CellRange x = CellRangeOf(grid, k, 0);
    const CellRange y = CellRangeOf(grid, k, 1);
    const CellRange z = CellRangeOf(grid, k, 2);
    const auto span = [](CellRange r) { return static_cast<std::int64_t>(r.hi) - r.lo + 1; };
    if (span(x) * span(y) * span(z) > kBoxScanCells)
        return RasteriseWithinSlabs(grid, k, x, y, z, zBegin, zEnd);
    const bool single = x.lo == x.hi && y.lo == y.hi && z.lo == z.hi;
    std::uint64_t added = 0;
    for (std::int32_t iz = std::max(z.lo, zBegin); iz <= std::min(z.hi, zEnd - 1); ++iz)
        for (std::int32_t iy = y.lo; iy <= y.hi; ++iy)
            for (std::int32_t ix = x.lo; ix <= x.hi; ++ix)
                added += MarkCell(grid, k, single, ix, iy, iz);
    return added;
}

// Triangle numbers for each slab of kSlabLayers z layers, in triangle order; a triangle goes
// into every slab its range meets.
std::vector<std::vector<std::size_t>> SortIntoSlabs(const OccupancyGrid& grid, const TriangleMesh& mesh)
{
    std::vector<std::vector<std::size_t>> slabs(static_cast<std::size_t>((grid.nz + kSlabLayers - 1) / kSlabLayers));
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const CellRange z = CellRangeOf(grid, CornersOf(mesh, t), 2);
        for (std::int32_t slab = z.lo / kSlabLayers; z.lo <= z.hi && slab <= z.hi / kSlabLayers; ++slab)
            slabs[static_cast<std::size_t>(slab)].push_back(t);
    }
    return slabs;
}

// Sets every cell a triangle touches; gives the count of set cells. Slabs of layers run in
// parallel and write only their own layers, so the cells are those of one serial pass.
std::uint64_t RasteriseSurface(OccupancyGrid& grid, const TriangleMesh& mesh)
{
    const std::vector<std::vector<std::size_t>> slabs = SortIntoSlabs(grid, mesh);
    std::vector<std::uint64_t> added(slabs.size(), 0);
    ParallelFor(slabs.size(), [&](std::size_t s) {
        const auto zBegin = static_cast<std::int32_t>(s) * kSlabLayers;
        for (const std::size_t t : slabs[s])
            added[s] += RasteriseTriangle(grid, CornersOf(mesh, t), zBegin, zBegin + kSlabLayers);
    }, 1);
    std::uint64_t filled = 0;
    for (const std::uint64_t count : added)
        filled += count;
    return filled;
}

// ---- Classifying ---------------------------------------------------------------------------

// A grid that can be walked: cell counts that match the cells and a usable frame. Anything
// else (never built, refused, or a record filled in by hand) is treated as empty.
bool IsWalkable(const OccupancyGrid& grid)
{
    if (grid.nx < 1 || grid.ny < 1 || grid.nz < 1)
        return false;
    const std::uint64_t count = static_cast<std::uint64_t>(grid.nx) * static_cast<std::uint64_t>(grid.ny)
                              * static_cast<std::uint64_t>(grid.nz);
    return grid.cells.size() == count && std::isfinite(grid.cellSize) && grid.cellSize > 0.0f
        && IsFinite(grid.origin);
}

struct RayAxis {
    std::int32_t cell = 0;
    std::int32_t step = 0;
    float tMax = kNoCrossing;
    float tDelta = kNoCrossing;
};

RayAxis StartAxis(float g, float d, std::int32_t cell)
{
    RayAxis axis;
    axis.cell = cell;
    if (d == 0.0f)
        return axis;
    axis.step = d > 0.0f ? 1 : -1;
    axis.tDelta = std::fabs(1.0f / d);
    const float boundary = static_cast<float>(cell + (axis.step > 0 ? 1 : 0));
    axis.tMax = std::fabs(boundary - g) * axis.tDelta;
    return axis;
}

// True when the ray from `start` (in cell units) along the unit direction `d` leaves the grid
// before it meets the surface again.
bool RayEscapes(const OccupancyGrid& grid, Vec3 start, Vec3 d)
{
    const std::int32_t counts[3] = {grid.nx, grid.ny, grid.nz};
    RayAxis axes[3];
    for (int a = 0; a < 3; ++a) {
        const float g = Component(start, a);
        // A start outside the grid has escaped already; testing in float first keeps a far
        // or NaN start from reaching the integer conversion.
        if (!(g >= 0.0f && g < static_cast<float>(counts[a])))
            return true;
        axes[a] = StartAxis(g, Component(d, a), static_cast<std::int32_t>(std::floor(g)));
    }
    const std::int64_t maxSteps = std::int64_t{grid.nx} + grid.ny + grid.nz + 4;
    int run = 0;
    for (std::int64_t s = 0; s < maxSteps; ++s) {
        for (int a = 0; a < 3; ++a)
            if (axes[a].cell < 0 || axes[a].cell >= counts[a])
                return true;
        if (grid.cells[CellIndex(grid, axes[0].cell, axes[1].cell, axes[2].cell)] != 0) {
            if (run >= kOwnSurfaceCells)
                return false;
            ++run;
        } else {
            run = kOwnSurfaceCells;
        }
        const int next = axes[0].tMax < axes[1].tMax && axes[0].tMax < axes[2].tMax ? 0
                       : (axes[1].tMax < axes[2].tMax ? 1 : 2);
        axes[next].cell += axes[next].step;
        axes[next].tMax += axes[next].tDelta;
    }
    return true;
}

// The grid whose cells hold `p`: the part's own, or that of a piece lying apart; the part's
// own when none does (a ray from there escapes at once).
const OccupancyGrid& GridHolding(const OccupancyGrid& grid, Vec3 p)
{
    const auto holds = [&](const OccupancyGrid& g) {
        const Vec3 at = (p - g.origin) * (1.0f / g.cellSize);
        return at.x >= 0.0f && at.y >= 0.0f && at.z >= 0.0f && at.x < static_cast<float>(g.nx)
            && at.y < static_cast<float>(g.ny) && at.z < static_cast<float>(g.nz);
    };
    if (grid.apart.empty() || holds(grid))
        return grid;
    for (const OccupancyGrid& piece : grid.apart)
        if (IsWalkable(piece) && holds(piece))
            return piece;
    return grid;
}

std::uint8_t ClassifyTriangle(const OccupancyGrid& whole, const Corners& k)
{
    const Vec3 n = CrossOf(k);
    const float length = Length(n);
    // An overflowing cross product gives no direction either.
    if (!(length > kDegenerateCross) || !std::isfinite(length))
        return kSurfaceDegenerate;
    const Vec3 d{n.x / length, n.y / length, n.z / length};
    const Vec3 centroid = (k.a + k.b + k.c) * kOneThird;
    const OccupancyGrid& grid = GridHolding(whole, centroid);
    const Vec3 start{(centroid.x - grid.origin.x) / grid.cellSize + d.x,
                     (centroid.y - grid.origin.y) / grid.cellSize + d.y,
                     (centroid.z - grid.origin.z) / grid.cellSize + d.z};
    return RayEscapes(grid, start, d) ? kSurfaceOuter : kSurfaceInner;
}

// Counts and areas in triangle order, so that the sums do not depend on the thread count.
SurfaceClassReport SummariseClasses(const TriangleMesh& mesh, const std::vector<std::uint8_t>& classes)
{
    SurfaceClassReport report;
    report.triangles = classes.size();
    for (std::size_t t = 0; t < classes.size(); ++t) {
        if (classes[t] == kSurfaceDegenerate) {
            ++report.otherTriangles;
            continue;
        }
        const double area = static_cast<double>(Length(CrossOf(CornersOf(mesh, t)))) / 2.0;
        if (classes[t] == kSurfaceOuter) {
            ++report.outerTriangles;
            report.outerArea += area;
        } else {
            ++report.innerTriangles;
            report.innerArea += area;
        }
    }
    return report;
}

std::string RefusalReason(const OccupancyGrid& grid)
{
    constexpr std::uint64_t kMegabyte = 1024 * 1024;
    switch (grid.status) {
    case OccupancyGridStatus::emptyMesh:
        return "the part has no vertices";
    case OccupancyGridStatus::invalidMesh:
        return "the part's triangle list is broken (an index count that is not a multiple of 3, "
               "or an index past the last vertex)";
    case OccupancyGridStatus::coordinatesNotFinite:
        return "the part has coordinates that are not finite numbers";
    case OccupancyGridStatus::extentTooLarge:
        return "the part is too large to measure in single precision";
    case OccupancyGridStatus::notEnoughMemory: {
        // Rounded so that the two figures never read the same: needed up, available down.
        std::ostringstream text;
        text << "the grid of " << grid.cellsX << " x " << grid.cellsY << " x " << grid.cellsZ << " cells needs "
             << (grid.refusedBytes + kMegabyte - 1) / kMegabyte << " MB and only " << grid.availableBytes / kMegabyte
             << " MB are available";
        return text.str();
    }
    case OccupancyGridStatus::notBuilt:
    case OccupancyGridStatus::built:
        break;
    }
    return "status " + std::to_string(static_cast<std::int32_t>(grid.status));
}

float Longest(Vec3 extent) { return std::max({extent.x, extent.y, extent.z}); }

// The pieces of `mesh` that get grids of their own, the largest first: none when one grid at
// `resolution` cells along the largest piece's side holds the whole part within
// kMaxOccupancyResolution cells, as it does for every part whose bodies lie near each other.
std::vector<TriangleMesh> PiecesApart(const TriangleMesh& mesh, std::int32_t resolution)
{
    const Box box = PartBounds(mesh);
    const float whole = Longest(Max(box.high - box.low, Vec3{}));
    std::vector<MeshCluster> groups =
        FindMeshClusters(mesh, kClusterGapCells * whole / static_cast<float>(resolution));
    if (groups.size() < 2)
        return {};
    const auto side = [](const MeshCluster& group) { return Longest(group.boundsMax - group.boundsMin); };
    std::stable_sort(groups.begin(), groups.end(),
        [&](const MeshCluster& a, const MeshCluster& b) { return side(a) > side(b); });
    const float spread = static_cast<float>(kMaxOccupancyResolution) / static_cast<float>(resolution);
    if (!(whole > spread * std::max(side(groups.front()), kMinExtent)))
        return {};
    std::vector<TriangleMesh> pieces;
    for (const MeshCluster& group : groups)
        pieces.push_back(ClusterMesh(mesh, group));
    return pieces;
}

// The cells along a piece's longest side for a piece lying apart: as fine as the largest
// piece's cells, never finer, but no fewer than the fewest any grid has. A screw lying apart
// from a plate took a grid of the full resolution along its own few millimetres, as many cells
// as the plate's; a part with a dozen such took over a hundred megabytes.
std::int32_t PieceResolution(std::int32_t resolution, float side, float largest)
{
    if (!(largest > 0.0f) || !(side < largest))
        return resolution;
    const double cells = std::floor(static_cast<double>(resolution) * static_cast<double>(side) / largest);
    return static_cast<std::int32_t>(std::clamp(cells, static_cast<double>(kMinOccupancyResolution),
                                                static_cast<double>(resolution)));
}

// One grid over the whole of `mesh`, its status already checked.
void BuildOneGrid(OccupancyGrid& grid, const TriangleMesh& mesh, std::uint64_t availableBytes)
{
    const Clock::time_point start = Clock::now();
    GridPlan plan;
    if (!PlanGrid(PartBounds(mesh), grid.resolution, plan)) {
        grid.status = OccupancyGridStatus::extentTooLarge;
        return;
    }
    // Refused before allocating: past the available memory the kernel ends the process
    // instead of failing the allocation.
    const std::uint64_t bytes = CellBytes(plan);
    if (availableBytes != 0 && bytes > availableBytes) {
        AdoptPlan(grid, plan);
        grid.status = OccupancyGridStatus::notEnoughMemory;
        grid.refusedBytes = bytes;
        grid.availableBytes = availableBytes;
        return;
    }

    grid.cells.assign(bytes, 0);
    grid.origin = plan.origin;
    grid.cellSize = plan.cell;
    grid.nx = plan.counts[0];
    grid.ny = plan.counts[1];
    grid.nz = plan.counts[2];
    grid.filledCells = RasteriseSurface(grid, mesh);
    AdoptPlan(grid, plan);
    grid.buildMilliseconds = MillisecondsSince(start);
}

}  // namespace

void BuildOccupancyGrid(OccupancyGrid& grid, const TriangleMesh& mesh, std::int32_t requestedResolution)
{
    // The old cells go before the available memory is read, so that they count as free.
    grid = OccupancyGrid{};
    BuildOccupancyGrid(grid, mesh, requestedResolution, platform::AvailableMemoryBytes());
}

void BuildOccupancyGrid(OccupancyGrid& grid, const TriangleMesh& mesh, std::int32_t requestedResolution,
                        std::uint64_t availableBytes)
{
    grid = OccupancyGrid{};
    grid.resolution = std::clamp(requestedResolution, kMinOccupancyResolution, kMaxOccupancyResolution);
    grid.status = CheckMesh(mesh);
    if (grid.status != OccupancyGridStatus::built)
        return;

    // A piece far from the rest gets a grid of its own at the resolution asked: one grid over
    // the distance between them would leave the part itself a few cells across.
    std::vector<TriangleMesh> pieces = PiecesApart(mesh, grid.resolution);
    if (pieces.empty()) {
        BuildOneGrid(grid, mesh, availableBytes);
        return;
    }
    BuildOneGrid(grid, pieces.front(), availableBytes);
    const float largest = Longest(Max(PartBounds(pieces.front()).high - PartBounds(pieces.front()).low, Vec3{}));
    // Every grid stays allocated, so each piece's grid must fit in what the ones before left.
    std::uint64_t taken = grid.cells.size();
    for (std::size_t i = 1; i < pieces.size() && grid.status == OccupancyGridStatus::built; ++i) {
        OccupancyGrid piece;
        piece.resolution = PieceResolution(grid.resolution,
            Longest(Max(PartBounds(pieces[i]).high - PartBounds(pieces[i]).low, Vec3{})), largest);
        piece.status = OccupancyGridStatus::built;
        // 0 reads as "unknown"; a single byte left refuses any grid just the same.
        const std::uint64_t left =
            availableBytes == 0 ? 0 : std::max<std::uint64_t>(availableBytes - std::min(taken, availableBytes), 1);
        BuildOneGrid(piece, pieces[i], left);
        taken += piece.cells.size();
        if (piece.status != OccupancyGridStatus::built) {
            const std::int32_t resolution = grid.resolution;
            grid = std::move(piece);
            grid.resolution = resolution;
            return;
        }
        grid.buildMilliseconds += piece.buildMilliseconds;
        grid.apart.push_back(std::move(piece));
    }
}

std::vector<std::uint8_t> ClassifyOuterSurface(const OccupancyGrid& grid, const TriangleMesh& mesh,
                                               SurfaceClassReport* report)
{
    const Clock::time_point start = Clock::now();
    std::vector<std::uint8_t> classes(mesh.TriangleCount(), kSurfaceOuter);
    if (!IsWalkable(grid) || !mesh.IsConsistent() || !HasOnlyFiniteCoordinates(mesh))
        return classes;
    ParallelFor(classes.size(), [&](std::size_t t) { classes[t] = ClassifyTriangle(grid, CornersOf(mesh, t)); });
    if (report) {
        *report = SummariseClasses(mesh, classes);
        report->milliseconds = MillisecondsSince(start);
    }
    return classes;
}

std::string FormatOccupancyGrid(const OccupancyGrid& grid)
{
    if (grid.status == OccupancyGridStatus::notBuilt)
        return "Occupancy grid: not built";
    if (grid.status != OccupancyGridStatus::built)
        return "Occupancy grid: not built: " + RefusalReason(grid);
    std::ostringstream text;
    text << "Occupancy grid: " << grid.nx << " x " << grid.ny << " x " << grid.nz << " cells of "
         << grid.cellMillimetres << " mm, " << grid.filledCells << " on the surface, built in "
         << grid.buildMilliseconds << " ms";
    if (!grid.apart.empty())
        text << ", with "
             << FormatCountOf(grid.apart.size(), "more grid for a piece that lies", "more grids for pieces that lie")
             << " apart";
    return text.str();
}

bool TriangleBoxOverlap(Vec3 centre, float halfSize, Vec3 a, Vec3 b, Vec3 c)
{
    const Vec3 v0 = a - centre;
    const Vec3 v1 = b - centre;
    const Vec3 v2 = c - centre;
    // The answer needs every axis to overlap, so the order only sets the speed: the box axes
    // and the plane are cheap and reject most cells of the triangle's range.
    if (SeparatedOnBoxAxis(v0.x, v1.x, v2.x, halfSize) || SeparatedOnBoxAxis(v0.y, v1.y, v2.y, halfSize)
        || SeparatedOnBoxAxis(v0.z, v1.z, v2.z, halfSize))
        return false;
    const Vec3 n = Cross(v1 - v0, v2 - v1);
    if (std::fabs(Dot(n, v0)) > (std::fabs(n.x) + std::fabs(n.y) + std::fabs(n.z)) * halfSize)
        return false;
    const Vec3 edges[3] = {v1 - v0, v2 - v1, v0 - v2};
    const Vec3 offEdge[3] = {v2, v0, v1};
    for (int i = 0; i < 3; ++i) {
        const Vec3 e = edges[i];
        if (SeparatedAcrossEdge({0.0f, -e.z, e.y}, offEdge[(i + 1) % 3], offEdge[i], halfSize)
            || SeparatedAcrossEdge({e.z, 0.0f, -e.x}, offEdge[(i + 1) % 3], offEdge[i], halfSize)
            || SeparatedAcrossEdge({-e.y, e.x, 0.0f}, offEdge[(i + 1) % 3], offEdge[i], halfSize))
            return false;
    }
    return true;
}

}  // namespace grainforge::mesh
