// Dual contouring after Ju, Losasso, Schaefer and Warren, "Dual Contouring of Hermite Data"
// (SIGGRAPH 2002), on a uniform grid with one vertex per surface piece of a cell as in
// Schaefer, Ju and Warren, "Manifold Dual Contouring" (IEEE TVCG 2007). Inside and outside
// come from exact rasterisation of the triangles onto the grid lines with integer edge
// functions and a top-left rule, so no line is counted twice or missed where two triangles
// meet.
#include "engine/remesh/contour_remesh.h"

#include "engine/mesh/aabb_tree.h"
#include "engine/repair/crumb_removal.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/report_text.h"
#include "engine/mesh/triangle_contact.h"
#include "engine/mesh/welding.h"
#include "engine/remesh/contour_cells.h"
#include "engine/remesh/contour_clusters.h"
#include "platform/memory_info.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

namespace grainforge::mesh {
namespace {

constexpr std::uint32_t kOrientationBit = 0x80000000u;  // triangle faces the line's -axis
constexpr std::uint32_t kNoTriangle = 0x7fffffffu;
constexpr std::uint32_t kUnusedCell = 0x7fffffffu;
constexpr std::size_t kTriangleBlock = 2048;
constexpr std::size_t kVertexBlock = 2048;
constexpr std::size_t kLineBlock = 4096;
constexpr std::size_t kCellBlock = 1024;
constexpr std::int32_t kNoCell = -1;
// The cell a memory refusal advises lies this much above the one that would just fit: the
// estimate is not exact.
constexpr double kAdvisedCellMargin = 1.1;

// One crossing of a triangle with a grid line (16 bytes).
struct Crossing {
    double position = 0.0;        // lattice units along the line
    std::uint32_t triangle = 0;   // 31 bits of triangle, kOrientationBit
    std::uint32_t cell = 0;       // cell along the line; kUnusedCell after the kept ones
};

// A crossing found while reading, before it is placed into its line.
struct RawCrossing {
    double position = 0.0;
    std::uint32_t triangle = 0;
    std::uint32_t line = 0;
};

// The grid lines along one axis a; (b, c) the next two axes in cyclic order. Line (j, l) has
// b index j and c index l and number l x (n_b + 1) + j.
struct LineFamily {
    int a = 0, b = 1, c = 2;
    std::uint64_t rowLength = 0;           // n_b + 1
    std::uint64_t lineCount = 0;
    std::vector<std::uint32_t> offsets;    // lineCount + 1
    std::vector<Crossing> records;
    std::vector<std::uint8_t> open;        // raw crossing count odd
    std::uint64_t openLines = 0;
    std::uint64_t thinPlaces = 0;

    const Crossing* begin(std::uint64_t line) const { return records.data() + offsets[line]; }
    const Crossing* end(std::uint64_t line) const { return records.data() + offsets[line + 1]; }
};

struct ActiveCell {
    std::uint32_t x = 0, y = 0, z = 0;
    std::uint8_t mask = 0;
    std::uint8_t flips = 0;
    std::uint8_t components = 0;
    std::uint32_t firstVertex = 0;
    std::uint32_t firstSlot = 0;
};

struct CellIndex {
    std::vector<ActiveCell> cells;          // by column (y x nx + x), then z
    std::vector<std::uint32_t> columnStart; // nx x ny + 1
};

// Everything one contouring holds.
struct ContourState {
    const TriangleMesh* mesh = nullptr;
    ContourGrid grid;
    std::int64_t cellUnits = 1;             // 2^k
    LineFamily families[3];
    CellIndex cells;
};

struct LatticePoint {
    std::int64_t v[3];
};

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return -FloorDiv(-a, b); }

double Coordinate(Vec3 p, int axis) { return axis == 0 ? p.x : (axis == 1 ? p.y : p.z); }

// ---- Reading the surface ---------------------------------------------------------------

std::vector<LatticePoint> ToLattice(const TriangleMesh& mesh, const ContourGrid& grid)
{
    std::vector<LatticePoint> lattice(mesh.vertices.size());
    ParallelFor(mesh.vertices.size(), [&](std::size_t i) {
        for (int k = 0; k < 3; ++k) {
            const double units = (Coordinate(mesh.vertices[i].position, k) - grid.origin[k])
                / (2.0 * grid.step);
            lattice[i].v[k] = 2 * std::llround(units);
        }
    });
    return lattice;
}

// Whether the point lies inside (or on the counted side of an edge) for edge i -> j.
bool EdgeCounts(std::int64_t e, std::int64_t db, std::int64_t dc)
{
    return e > 0 || (e == 0 && (dc > 0 || (dc == 0 && db > 0)));
}

// The span of b that row C cuts from the triangle, from its edges; false when none is cut.
bool RowSpan(const std::int64_t B[3], const std::int64_t C[3], std::int64_t row, double& low,
    double& high)
{
    low = std::numeric_limits<double>::infinity();
    high = -low;
    for (int i = 0; i < 3; ++i) {
        const int j = (i + 1) % 3;
        if (C[i] == C[j] || (row < C[i]) == (row < C[j]))
            continue;  // the row misses this edge (rows never pass through a vertex)
        const double b = static_cast<double>(B[i])
            + static_cast<double>(row - C[i]) * static_cast<double>(B[j] - B[i])
                / static_cast<double>(C[j] - C[i]);
        low = std::min(low, b);
        high = std::max(high, b);
    }
    return low <= high + 2048.0;
}

// Appends the crossings of one triangle with the lines of family (a, b, c).
void RasteriseTriangle(const LatticePoint corners[3], std::uint32_t triangle, int a,
    const ContourState& state, std::vector<RawCrossing>& out)
{
    const int b = (a + 1) % 3;
    const int c = (a + 2) % 3;
    const ContourGrid& grid = state.grid;
    int order[3] = {0, 1, 2};
    std::int64_t A[3], B[3], C[3];
    for (int i = 0; i < 3; ++i) {
        A[i] = corners[i].v[a];
        B[i] = corners[i].v[b];
        C[i] = corners[i].v[c];
    }
    std::int64_t d = (B[1] - B[0]) * (C[2] - C[0]) - (B[2] - B[0]) * (C[1] - C[0]);
    if (d == 0)
        return;
    std::uint32_t orientation = 0;
    if (d < 0) {  // faces -a: swap so that inside is where every edge function is positive
        std::swap(order[1], order[2]);
        std::swap(A[1], A[2]);
        std::swap(B[1], B[2]);
        std::swap(C[1], C[2]);
        d = -d;
        orientation = kOrientationBit;
    }
    const std::int64_t unit = state.cellUnits;
    const std::int64_t minB = std::min({B[0], B[1], B[2]}), maxB = std::max({B[0], B[1], B[2]});
    const std::int64_t minC = std::min({C[0], C[1], C[2]}), maxC = std::max({C[0], C[1], C[2]});
    const std::int64_t firstColumn = std::max<std::int64_t>(0, CeilDiv(minB - 1, unit));
    const std::int64_t lastColumn = std::min<std::int64_t>(grid.count[b], FloorDiv(maxB - 1, unit));
    const std::int64_t firstRow = std::max<std::int64_t>(0, CeilDiv(minC - 1, unit));
    const std::int64_t lastRow = std::min<std::int64_t>(grid.count[c], FloorDiv(maxC - 1, unit));
    const std::uint64_t rowLength = static_cast<std::uint64_t>(grid.count[b]) + 1;
    const double invD = 1.0 / static_cast<double>(d);
    for (std::int64_t l = firstRow; l <= lastRow; ++l) {
        const std::int64_t row = l * unit + 1;
        double low = 0.0, high = 0.0;
        if (!RowSpan(B, C, row, low, high))
            continue;
        const std::int64_t from = std::max(firstColumn,
            static_cast<std::int64_t>(std::floor((low - 1025.0) / static_cast<double>(unit))));
        const std::int64_t to = std::min(lastColumn,
            static_cast<std::int64_t>(std::ceil((high + 1023.0) / static_cast<double>(unit))));
        for (std::int64_t j = from; j <= to; ++j) {
            const std::int64_t column = j * unit + 1;
            std::int64_t e[3];
            bool inside = true;
            for (int i = 0; i < 3 && inside; ++i) {
                const int n = (i + 1) % 3;
                const std::int64_t db = B[n] - B[i];
                const std::int64_t dc = C[n] - C[i];
                e[i] = (row - C[i]) * db - (column - B[i]) * dc;
                inside = EdgeCounts(e[i], db, dc);
            }
            if (!inside)
                continue;
            // e[0] is the edge opposite corner 2, e[2] the one opposite corner 1.
            const double position = static_cast<double>(A[0])
                + (static_cast<double>(e[0]) * static_cast<double>(A[2] - A[0])
                      + static_cast<double>(e[2]) * static_cast<double>(A[1] - A[0]))
                    * invD;
            out.push_back({position, triangle | orientation,
                static_cast<std::uint32_t>(static_cast<std::uint64_t>(l) * rowLength
                    + static_cast<std::uint64_t>(j))});
        }
    }
}

void SetUpFamilies(ContourState& state)
{
    for (int a = 0; a < 3; ++a) {
        LineFamily& family = state.families[a];
        family.a = a;
        family.b = (a + 1) % 3;
        family.c = (a + 2) % 3;
        family.rowLength = static_cast<std::uint64_t>(state.grid.count[family.b]) + 1;
        family.lineCount =
            family.rowLength * (static_cast<std::uint64_t>(state.grid.count[family.c]) + 1);
    }
}

// Places every block's crossings into their lines (offsets by counting).
void GroupByLine(LineFamily& family, const std::vector<std::vector<RawCrossing>>& blocks)
{
    family.offsets.assign(family.lineCount + 1, 0);
    std::uint64_t total = 0;
    for (const auto& block : blocks) {
        total += block.size();
        for (const RawCrossing& raw : block)
            ++family.offsets[raw.line + 1];
    }
    if (total >= std::numeric_limits<std::uint32_t>::max())
        throw std::bad_alloc();  // beyond 32-bit offsets; the memory estimate refuses earlier
    for (std::uint64_t i = 0; i < family.lineCount; ++i)
        family.offsets[i + 1] += family.offsets[i];
    std::vector<std::uint32_t> cursor(family.offsets.begin(), family.offsets.end() - 1);
    family.records.resize(total);
    for (const auto& block : blocks)
        for (const RawCrossing& raw : block)
            family.records[cursor[raw.line]++] = {raw.position, raw.triangle, 0};
}

// Sorts one line, marks it open, keeps the crossings where the winding number changes between
// zero and non-zero (or all of them when the orientations do not balance) and gives the kept
// ones their cells. Returns the thin places found.
std::uint64_t ResolveLine(Crossing* first, Crossing* last, std::int64_t unit, std::int32_t cells,
    bool& open)
{
    std::sort(first, last, [](const Crossing& p, const Crossing& q) {
        return p.position != q.position ? p.position < q.position : p.triangle < q.triangle;
    });
    const std::ptrdiff_t count = last - first;
    open = (count % 2) != 0;
    std::int64_t sum = 0;
    for (const Crossing* r = first; r != last; ++r)
        sum += (r->triangle & kOrientationBit) ? -1 : 1;
    Crossing* kept = first;
    std::int64_t winding = 0;
    for (Crossing* r = first; r != last; ++r) {
        const std::int64_t before = winding;
        winding += (r->triangle & kOrientationBit) ? -1 : 1;
        if (sum != 0 || (before == 0) != (winding == 0))
            *kept++ = *r;
    }
    std::uint64_t thin = 0;
    for (Crossing* r = first; r != kept; ++r) {
        const double cell = std::floor((r->position - 1.0) / static_cast<double>(unit));
        r->cell = static_cast<std::uint32_t>(std::clamp(cell, 0.0, static_cast<double>(cells - 1)));
        if (r != first && r->cell == (r - 1)->cell)
            ++thin;
    }
    for (Crossing* r = kept; r != last; ++r)
        r->cell = kUnusedCell;
    return thin;
}

void ResolveLines(LineFamily& family, const ContourState& state)
{
    family.open.assign(family.lineCount, 0);
    std::atomic<std::uint64_t> openLines{0};
    std::atomic<std::uint64_t> thinPlaces{0};
    ParallelForBlocks(family.lineCount, kLineBlock, [&](std::size_t begin, std::size_t end) {
        std::uint64_t open = 0, thin = 0;
        for (std::size_t line = begin; line < end; ++line) {
            bool isOpen = false;
            thin += ResolveLine(family.records.data() + family.offsets[line],
                family.records.data() + family.offsets[line + 1], state.cellUnits,
                state.grid.count[family.a], isOpen);
            family.open[line] = isOpen ? 1 : 0;
            open += isOpen ? 1 : 0;
        }
        openLines += open;
        thinPlaces += thin;
    });
    family.openLines = openLines;
    family.thinPlaces = thinPlaces;
}

void ReadSurface(ContourState& state)
{
    const TriangleMesh& mesh = *state.mesh;
    SetUpFamilies(state);
    const std::vector<LatticePoint> lattice = ToLattice(mesh, state.grid);
    const std::size_t triangles = mesh.indices.size() / 3;
    const std::size_t blockCount = (triangles + kTriangleBlock - 1) / kTriangleBlock;
    std::vector<std::vector<RawCrossing>> blocks[3];
    for (auto& family : blocks)
        family.resize(blockCount);
    ParallelForBlocks(triangles, kTriangleBlock, [&](std::size_t begin, std::size_t end) {
        const std::size_t block = begin / kTriangleBlock;
        for (std::size_t t = begin; t < end; ++t) {
            const LatticePoint corners[3] = {lattice[mesh.indices[3 * t]],
                lattice[mesh.indices[3 * t + 1]], lattice[mesh.indices[3 * t + 2]]};
            for (int a = 0; a < 3; ++a)
                RasteriseTriangle(corners, static_cast<std::uint32_t>(t), a, state,
                    blocks[a][block]);
        }
    });
    ParallelForBlocks(3, 1, [&](std::size_t a, std::size_t) {
        GroupByLine(state.families[a], blocks[a]);
        std::vector<std::vector<RawCrossing>>().swap(blocks[a]);
    });
    for (LineFamily& family : state.families)
        ResolveLines(family, state);
}

// ---- Repairing open z lines ------------------------------------------------------------

// Whether the point at index `point` of a closed line lies inside: an odd number of kept
// crossings in the cells before it.
bool LineSaysInside(const LineFamily& family, std::uint64_t line, std::uint32_t point)
{
    const Crossing* first = family.begin(line);
    const Crossing* found = std::lower_bound(first, family.end(line), point,
        [](const Crossing& r, std::uint32_t cell) { return r.cell < cell; });
    return ((found - first) % 2) != 0;
}

// The crossing a repaired z line gets in `cell`: its own first one there, else a made-up one
// at the cell's middle.
Crossing CrossingInCell(const LineFamily& family, std::uint64_t line, std::uint32_t cell,
    std::int64_t unit)
{
    for (const Crossing* r = family.begin(line); r != family.end(line); ++r)
        if (r->cell == cell)
            return *r;
    const double middle = static_cast<double>(cell) * static_cast<double>(unit) + 1.0
        + static_cast<double>(unit / 2);
    return {middle, kNoTriangle, cell};
}

std::vector<Crossing> RepairZLine(const ContourState& state, std::uint32_t x, std::uint32_t y)
{
    const LineFamily& fx = state.families[0];
    const LineFamily& fy = state.families[1];
    const LineFamily& fz = state.families[2];
    const std::uint64_t line = static_cast<std::uint64_t>(y) * fz.rowLength + x;
    const std::uint32_t nz = static_cast<std::uint32_t>(state.grid.count[2]);
    std::vector<Crossing> repaired;
    bool previous = false;
    for (std::uint32_t i = 1; i < nz; ++i) {
        const std::uint64_t xLine = static_cast<std::uint64_t>(i) * fx.rowLength + y;
        const std::uint64_t yLine = static_cast<std::uint64_t>(x) * fy.rowLength + i;
        bool usable = false;
        bool inside = true;
        if (fx.open[xLine] == 0) {
            usable = true;
            inside = inside && LineSaysInside(fx, xLine, x);
        }
        if (fy.open[yLine] == 0) {
            usable = true;
            inside = inside && LineSaysInside(fy, yLine, y);
        }
        inside = inside && usable;
        if (inside != previous)
            repaired.push_back(CrossingInCell(fz, line, i - 1, state.cellUnits));
        previous = inside;
    }
    if (previous)
        repaired.push_back(CrossingInCell(fz, line, nz - 1, state.cellUnits));
    return repaired;
}

// Replaces the lists of the open z lines by lists made from the x and y lines; the family is
// rebuilt because a repaired list may be longer than the line's original one.
void RepairOpenZLines(ContourState& state)
{
    LineFamily& fz = state.families[2];
    if (fz.openLines == 0)
        return;
    std::vector<std::uint64_t> openLines;
    for (std::uint64_t line = 0; line < fz.lineCount; ++line)
        if (fz.open[line] != 0)
            openLines.push_back(line);
    std::vector<std::vector<Crossing>> repaired(openLines.size());
    ParallelFor(openLines.size(), [&](std::size_t i) {
        const std::uint64_t line = openLines[i];
        repaired[i] = RepairZLine(state, static_cast<std::uint32_t>(line % fz.rowLength),
            static_cast<std::uint32_t>(line / fz.rowLength));
    }, 64);
    std::vector<std::uint32_t> offsets(fz.lineCount + 1, 0);
    std::size_t next = 0;
    for (std::uint64_t line = 0; line < fz.lineCount; ++line) {
        const bool isRepaired = next < openLines.size() && openLines[next] == line;
        const std::uint64_t count = isRepaired ? repaired[next++].size()
                                               : fz.offsets[line + 1] - fz.offsets[line];
        offsets[line + 1] = static_cast<std::uint32_t>(offsets[line] + count);
    }
    std::vector<Crossing> records(offsets.back());
    next = 0;
    for (std::uint64_t line = 0; line < fz.lineCount; ++line) {
        if (next < openLines.size() && openLines[next] == line) {
            std::copy(repaired[next].begin(), repaired[next].end(), records.begin() + offsets[line]);
            ++next;
        } else {
            std::copy(fz.begin(line), fz.end(line), records.begin() + offsets[line]);
        }
    }
    fz.offsets = std::move(offsets);
    fz.records = std::move(records);
}

// ---- Active cells -------------------------------------------------------------------------

void RecordRun(std::vector<ActiveCell>& out, std::uint32_t x, std::uint32_t y,
    std::uint32_t from, std::uint32_t to, unsigned state)
{
    if (state == 0 || state == 15)
        return;
    for (std::uint32_t z = from; z < to; ++z)
        out.push_back({x, y, z, static_cast<std::uint8_t>(state | (state << 4)), 0, 0, 0, 0});
}

// Walks the 2 x 2 bundle of z lines round column (x, y) and appends its active cells.
void WalkColumn(const ContourState& state, std::uint32_t x, std::uint32_t y,
    std::vector<ActiveCell>& out)
{
    const LineFamily& fz = state.families[2];
    const std::uint32_t nz = static_cast<std::uint32_t>(state.grid.count[2]);
    const Crossing* at[4];
    const Crossing* stop[4];
    for (int bit = 0; bit < 4; ++bit) {
        const std::uint64_t line =
            static_cast<std::uint64_t>(y + (bit >> 1)) * fz.rowLength + x + (bit & 1);
        at[bit] = fz.begin(line);
        stop[bit] = fz.end(line);
    }
    unsigned inside = 0;
    std::uint32_t z = 0;
    for (;;) {
        std::uint32_t next = kUnusedCell;
        for (int bit = 0; bit < 4; ++bit)
            if (at[bit] != stop[bit])
                next = std::min(next, at[bit]->cell);
        if (next >= nz)
            break;
        RecordRun(out, x, y, z, next, inside);
        const unsigned before = inside;
        for (int bit = 0; bit < 4; ++bit)
            for (; at[bit] != stop[bit] && at[bit]->cell == next; ++at[bit])
                inside ^= 1u << bit;
        const unsigned mask = before | (inside << 4);
        if (mask != 0 && mask != 255)
            out.push_back({x, y, next, static_cast<std::uint8_t>(mask), 0, 0, 0, 0});
        z = next + 1;
    }
    RecordRun(out, x, y, z, nz, inside);
}

void FindActiveCells(ContourState& state)
{
    const std::uint32_t nx = static_cast<std::uint32_t>(state.grid.count[0]);
    const std::uint32_t ny = static_cast<std::uint32_t>(state.grid.count[1]);
    std::vector<std::vector<ActiveCell>> rows(ny);
    ParallelFor(ny, [&](std::size_t y) {
        for (std::uint32_t x = 0; x < nx; ++x)
            WalkColumn(state, x, static_cast<std::uint32_t>(y), rows[y]);
    }, 4);
    std::uint64_t total = 0;
    for (const auto& row : rows)
        total += row.size();
    if (total >= std::numeric_limits<std::uint32_t>::max())
        throw std::bad_alloc();
    CellIndex& index = state.cells;
    index.cells.clear();
    index.cells.reserve(total);
    index.columnStart.assign(static_cast<std::size_t>(nx) * ny + 1, 0);
    for (auto& row : rows) {
        for (const ActiveCell& cell : row) {
            ++index.columnStart[static_cast<std::size_t>(cell.y) * nx + cell.x + 1];
            index.cells.push_back(cell);
        }
        std::vector<ActiveCell>().swap(row);
    }
    for (std::size_t i = 1; i < index.columnStart.size(); ++i)
        index.columnStart[i] += index.columnStart[i - 1];
}

std::int64_t FindCell(const ContourState& state, std::int64_t x, std::int64_t y, std::int64_t z)
{
    const ContourGrid& g = state.grid;
    if (x < 0 || y < 0 || z < 0 || x >= g.count[0] || y >= g.count[1] || z >= g.count[2])
        return kNoCell;
    const std::size_t column = static_cast<std::size_t>(y) * static_cast<std::size_t>(g.count[0])
        + static_cast<std::size_t>(x);
    const ActiveCell* first = state.cells.cells.data() + state.cells.columnStart[column];
    const ActiveCell* last = state.cells.cells.data() + state.cells.columnStart[column + 1];
    const ActiveCell* found = std::lower_bound(first, last, static_cast<std::uint32_t>(z),
        [](const ActiveCell& cell, std::uint32_t value) { return cell.z < value; });
    if (found == last || found->z != z)
        return kNoCell;
    return found - state.cells.cells.data();
}

void CellCoordinates(const ActiveCell& cell, std::int64_t at[3])
{
    at[0] = cell.x;
    at[1] = cell.y;
    at[2] = cell.z;
}

// Face flips: a face joined on both sides is resolved the other way on both.
void ResolveFaceFlips(ContourState& state)
{
    std::vector<ActiveCell>& cells = state.cells.cells;
    ParallelFor(cells.size(), [&](std::size_t i) {
        cells[i].flips = FlipsForJoinedFaces(cells[i].mask, [&](int f) {
            std::int64_t at[3];
            CellCoordinates(cells[i], at);
            at[f / 2] += (f % 2) ? 1 : -1;
            const std::int64_t other = FindCell(state, at[0], at[1], at[2]);
            return other == kNoCell ? -1 : int{cells[static_cast<std::size_t>(other)].mask};
        });
    });
}

// The edge components of a cell: from the table unless a face is flipped.
std::array<std::uint8_t, 12> ComponentsOf(const ActiveCell& cell, int* count)
{
    std::array<std::uint8_t, 12> components{};
    const int n = CellEdgeComponents(cell.mask, cell.flips, components);
    if (count != nullptr)
        *count = n;
    return components;
}

// Component counts, first vertex numbers and first triangle slots; returns the vertex count.
std::uint64_t NumberCells(ContourState& state, std::uint64_t& slots)
{
    std::vector<ActiveCell>& cells = state.cells.cells;
    ParallelFor(cells.size(), [&](std::size_t i) {
        int count = 0;
        ComponentsOf(cells[i], &count);
        cells[i].components = static_cast<std::uint8_t>(count);
    });
    std::uint64_t vertices = 0;
    slots = 0;
    for (ActiveCell& cell : cells) {
        cell.firstVertex = static_cast<std::uint32_t>(vertices);
        cell.firstSlot = static_cast<std::uint32_t>(slots);
        vertices += cell.components;
        slots += static_cast<std::uint64_t>(SignChangingAxesAtCorner0(cell.mask));
    }
    if (vertices >= std::numeric_limits<std::uint32_t>::max()
        || slots * 2 >= std::numeric_limits<std::uint32_t>::max())
        throw std::bad_alloc();
    return vertices;
}

// ---- Crossings of cell edges -----------------------------------------------------------------

struct EdgeCrossing {
    double position = 0.0;              // lattice units along the edge's line
    std::uint32_t triangle = kNoTriangle;
};

// The crossing of the line `line` of family `family` in cell `cell`: first kept one when the
// edge starts inside, else the last; else a neighbour's lying within a thousandth of a cell
// (clamped in); else the cell's middle without a triangle.
EdgeCrossing FindEdgeCrossing(const ContourState& state, const LineFamily& family,
    std::uint64_t line, std::uint32_t cell, bool startInside)
{
    const Crossing* first = family.begin(line);
    const Crossing* last = family.end(line);
    const Crossing* low = std::lower_bound(first, last, cell,
        [](const Crossing& r, std::uint32_t c) { return r.cell < c; });
    const Crossing* high = std::upper_bound(low, last, cell,
        [](std::uint32_t c, const Crossing& r) { return c < r.cell; });
    if (low != high) {
        const Crossing& r = startInside ? *low : *(high - 1);
        return {r.position, r.triangle & ~kOrientationBit};
    }
    const double unit = static_cast<double>(state.cellUnits);
    const double cellLow = static_cast<double>(cell) * unit + 1.0;
    const double cellHigh = cellLow + unit;
    const double reach = 0.001 * unit;
    double bestDistance = std::numeric_limits<double>::infinity();
    EdgeCrossing best{cellLow + unit / 2.0, kNoTriangle};
    if (low != first) {
        const double distance = std::max(0.0, cellLow - (low - 1)->position);
        if (distance <= reach) {
            bestDistance = distance;
            best = {cellLow, (low - 1)->triangle & ~kOrientationBit};
        }
    }
    if (high != last && high->cell != kUnusedCell) {
        const double distance = std::max(0.0, high->position - cellHigh);
        if (distance <= reach && distance < bestDistance)
            best = {cellHigh, high->triangle & ~kOrientationBit};
    }
    return best;
}

// Unit normal of an input triangle in doubles; false for a triangle of no area.
bool TriangleNormal(const TriangleMesh& mesh, std::uint32_t triangle, double normal[3],
    double corner[3])
{
    const Vec3 p0 = mesh.vertices[mesh.indices[3 * static_cast<std::size_t>(triangle)]].position;
    const Vec3 p1 = mesh.vertices[mesh.indices[3 * static_cast<std::size_t>(triangle) + 1]].position;
    const Vec3 p2 = mesh.vertices[mesh.indices[3 * static_cast<std::size_t>(triangle) + 2]].position;
    const double u[3] = {double(p1.x) - p0.x, double(p1.y) - p0.y, double(p1.z) - p0.z};
    const double v[3] = {double(p2.x) - p0.x, double(p2.y) - p0.y, double(p2.z) - p0.z};
    const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
        u[0] * v[1] - u[1] * v[0]};
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    corner[0] = p0.x;
    corner[1] = p0.y;
    corner[2] = p0.z;
    if (!(length > 0.0))
        return false;
    for (int k = 0; k < 3; ++k)
        normal[k] = n[k] / length;
    return true;
}

// ---- Cell vertices ---------------------------------------------------------------------

struct PieceCrossings {
    Point3d points[12];
    Point3d normals[12];
    std::uint8_t use[12] = {};
    int count = 0;
    double planes[3][4] = {};  // coordinates of axis-perpendicular faces met, per axis
    int planeCount[3] = {0, 0, 0};
    bool onLow[3] = {false, false, false};
    bool onHigh[3] = {false, false, false};
    double normalSum[3] = {0.0, 0.0, 0.0};
    std::uint64_t withoutTriangle = 0;
};

// Takes the crossing triangle's normal into the piece: moves the crossing onto the exact
// intersection of the triangle's plane with the edge's line (when that is within a thousandth
// of a cell of the lattice position) and remembers an axis-perpendicular face for snapping.
void UseCrossingTriangle(const ContourState& state, const LineFamily& family,
    const double lineWorld[2], EdgeCrossing& crossing, PieceCrossings& piece, int i)
{
    const ContourGrid& g = state.grid;
    const int k = family.a;
    double* n = piece.normals[i].x;
    double corner[3];
    if (!TriangleNormal(*state.mesh, crossing.triangle, n, corner))
        return;
    piece.use[i] = 1;
    if (std::fabs(n[k]) > 1e-6) {
        const double world = corner[k]
            - (n[family.b] * (lineWorld[0] - corner[family.b])
                  + n[family.c] * (lineWorld[1] - corner[family.c]))
                / n[k];
        const double exact = (world - g.origin[k]) / g.step;
        if (std::fabs(exact - crossing.position) <= 0.001 * static_cast<double>(state.cellUnits))
            crossing.position = exact;
    }
    if (n[family.b] == 0.0 && n[family.c] == 0.0 && piece.planeCount[k] < 4)
        piece.planes[k][piece.planeCount[k]++] = corner[k];
    for (int axis = 0; axis < 3; ++axis)
        piece.normalSum[axis] += n[axis];
}

// World position of a cell-local coordinate on axis k.
double CellToWorld(const ContourState& state, std::int64_t cellIndex, double local, int k)
{
    const double unit = static_cast<double>(state.cellUnits);
    return state.grid.origin[k]
        + (static_cast<double>(cellIndex) * unit + 1.0 + local * unit) * state.grid.step;
}

// Adds the crossing of cell edge `edge` to the piece (point in cell units).
void AddEdgeCrossing(const ContourState& state, const ActiveCell& cell, int edge,
    PieceCrossings& piece)
{
    const int k = edge / 4;
    const int s1 = edge & 1;
    const int s2 = (edge >> 1) & 1;
    const LineFamily& family = state.families[k];
    std::int64_t at[3];
    CellCoordinates(cell, at);
    const std::uint64_t line = static_cast<std::uint64_t>(at[family.c] + s2) * family.rowLength
        + static_cast<std::uint64_t>(at[family.b] + s1);
    const bool startInside = ((cell.mask >> EdgeStartCorner(edge)) & 1) != 0;
    EdgeCrossing crossing =
        FindEdgeCrossing(state, family, line, static_cast<std::uint32_t>(at[k]), startInside);
    const int i = piece.count++;
    piece.use[i] = 0;
    if (crossing.triangle == kNoTriangle) {
        ++piece.withoutTriangle;
    } else {
        const double lineWorld[2] = {CellToWorld(state, at[family.b] + s1, 0.0, family.b),
            CellToWorld(state, at[family.c] + s2, 0.0, family.c)};
        UseCrossingTriangle(state, family, lineWorld, crossing, piece, i);
    }
    const double unit = static_cast<double>(state.cellUnits);
    const double cellStart = static_cast<double>(at[k]) * unit + 1.0;
    piece.points[i].x[k] = std::clamp((crossing.position - cellStart) / unit, 0.0, 1.0);
    piece.points[i].x[family.b] = s1;
    piece.points[i].x[family.c] = s2;
    (s1 == 0 ? piece.onLow : piece.onHigh)[family.b] = true;
    (s2 == 0 ? piece.onLow : piece.onHigh)[family.c] = true;
}

ContourVertex PlacePieceVertex(const ContourState& state, const ActiveCell& cell,
    PieceCrossings& piece, double sharpness)
{
    const ContourGrid& g = state.grid;
    CellVertexProblem problem;
    problem.points = piece.points;
    problem.normals = piece.normals;
    problem.useNormal = piece.use;
    problem.count = piece.count;
    problem.sharpness = std::max(0.0, sharpness);
    std::int64_t at[3];
    CellCoordinates(cell, at);
    std::array<double, 3> margin{};
    for (int k = 0; k < 3; ++k)
        margin[k] = CellVertexMargin(CellToWorld(state, at[k], 0.0, k), CellToWorld(state, at[k], 1.0, k), g.cell);
    SetCellVertexBoxes(problem, piece.onLow, piece.onHigh, margin);
    const Point3d local = SolveCellVertex(problem);
    const TriangleMesh& mesh = *state.mesh;
    float position[3], boxMin[3], boxMax[3], fallback[3], cellMin[3], cellMax[3];
    for (int k = 0; k < 3; ++k) {
        double mean = 0.0;
        for (int i = 0; i < piece.count; ++i)
            mean += piece.points[i].x[k];
        mean /= static_cast<double>(std::max(1, piece.count));
        double world = CellToWorld(state, at[k], local.x[k], k);
        for (int p = 0; p < piece.planeCount[k]; ++p)
            if (std::fabs(world - piece.planes[k][p]) <= g.cell * 1e-6) {
                world = piece.planes[k][p];
                break;
            }
        const double low = Coordinate(mesh.boundsMin, k);
        const double high = Coordinate(mesh.boundsMax, k);
        position[k] = static_cast<float>(std::clamp(world, low, high));
        fallback[k] = static_cast<float>(std::clamp(CellToWorld(state, at[k], mean, k), low, high));
        cellMin[k] = static_cast<float>(CellToWorld(state, at[k], 0.0, k));
        cellMax[k] = static_cast<float>(CellToWorld(state, at[k], 1.0, k));
        boxMin[k] = static_cast<float>(
            std::clamp(CellToWorld(state, at[k], problem.clampLow.x[k], k), low, high));
        boxMax[k] = static_cast<float>(
            std::clamp(CellToWorld(state, at[k], problem.clampHigh.x[k], k), low, high));
    }
    ContourVertex vertex;
    vertex.position = {position[0], position[1], position[2]};
    vertex.boxMin = {boxMin[0], boxMin[1], boxMin[2]};
    vertex.boxMax = {boxMax[0], boxMax[1], boxMax[2]};
    vertex.fallback = {fallback[0], fallback[1], fallback[2]};
    vertex.cellMin = {cellMin[0], cellMin[1], cellMin[2]};
    vertex.cellMax = {cellMax[0], cellMax[1], cellMax[2]};
    vertex.sharesCell = cell.components > 1;
    const double* s = piece.normalSum;
    const double length = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
    if (length > 1e-9)
        vertex.normal = {static_cast<float>(s[0] / length), static_cast<float>(s[1] / length),
            static_cast<float>(s[2] / length)};
    return vertex;
}

std::uint64_t PlaceCellVertices(const ContourState& state, double sharpness,
    std::vector<ContourVertex>& vertices)
{
    const std::vector<ActiveCell>& cells = state.cells.cells;
    std::atomic<std::uint64_t> withoutTriangle{0};
    ParallelForBlocks(cells.size(), kCellBlock, [&](std::size_t begin, std::size_t end) {
        std::uint64_t missing = 0;
        for (std::size_t i = begin; i < end; ++i) {
            const ActiveCell& cell = cells[i];
            const std::array<std::uint8_t, 12> components = ComponentsOf(cell, nullptr);
            for (int piece = 0; piece < cell.components; ++piece) {
                PieceCrossings crossings;
                for (int edge = 0; edge < 12; ++edge)
                    if (components[edge] == piece)
                        AddEdgeCrossing(state, cell, edge, crossings);
                missing += crossings.withoutTriangle;
                vertices[cell.firstVertex + piece] =
                    PlacePieceVertex(state, cell, crossings, sharpness);
            }
        }
        withoutTriangle += missing;
    });
    return withoutTriangle;
}

// ---- Triangulating ---------------------------------------------------------------------

// The four vertices round cell edge 4k of `cell`, in ring order; false when one is missing.
bool QuadAroundEdge(const ContourState& state, const ActiveCell& cell, int k,
    std::uint32_t quad[4])
{
    const int u = (k + 1) % 3;
    const int w = (k + 2) % 3;
    const int offsets[4][2] = {{0, 0}, {-1, 0}, {-1, -1}, {0, -1}};
    const int edges[4] = {4 * k, 4 * k + 1, 4 * k + 3, 4 * k + 2};
    for (int r = 0; r < 4; ++r) {
        std::int64_t at[3];
        CellCoordinates(cell, at);
        at[u] += offsets[r][0];
        at[w] += offsets[r][1];
        const std::int64_t found = FindCell(state, at[0], at[1], at[2]);
        if (found == kNoCell)
            return false;
        const ActiveCell& other = state.cells.cells[static_cast<std::size_t>(found)];
        const std::uint8_t component = ComponentsOf(other, nullptr)[edges[r]];
        if (component == kNoComponent || component >= other.components)
            return false;
        quad[r] = other.firstVertex + component;
    }
    return true;
}

// Writes the two triangles of the sign-changing edge 4k of `cell` into `slot`.
bool TriangulateEdge(const ContourState& state, const ActiveCell& cell, int k,
    const std::vector<ContourVertex>& vertices, std::uint32_t* slot)
{
    std::uint32_t ring[4];
    if (!QuadAroundEdge(state, cell, k, ring))
        return false;
    const bool inside = (cell.mask & 1) != 0;
    const std::uint32_t q[4] = {ring[0], inside ? ring[1] : ring[3], ring[2],
        inside ? ring[3] : ring[1]};
    Point3d quad[4];
    for (int r = 0; r < 4; ++r) {
        const Vec3 p = vertices[q[r]].position;
        quad[r].x[0] = p.x;
        quad[r].x[1] = p.y;
        quad[r].x[2] = p.z;
    }
    const LineFamily& family = state.families[k];
    std::int64_t at[3];
    CellCoordinates(cell, at);
    const std::uint64_t edgeLine =
        static_cast<std::uint64_t>(at[family.c]) * family.rowLength + static_cast<std::uint64_t>(at[family.b]);
    const EdgeCrossing crossing = FindEdgeCrossing(state, family, edgeLine,
        static_cast<std::uint32_t>(at[k]), inside);
    const bool useHeight = crossing.triangle != kNoTriangle;
    const double crossU = CellToWorld(state, at[family.b], 0.0, family.b);
    const double crossW = CellToWorld(state, at[family.c], 0.0, family.c);
    const double height = state.grid.origin[k] + crossing.position * state.grid.step;
    const bool along13 = SplitQuad(quad, k, inside ? 1 : -1, useHeight, crossU, crossW, height,
        state.grid.cell);
    const std::uint32_t triangles[6] = {q[0], q[1], along13 ? q[3] : q[2],
        along13 ? q[1] : q[0], q[2], q[3]};
    std::copy(triangles, triangles + 6, slot);
    return true;
}

bool TriangulateCells(const ContourState& state, const std::vector<ContourVertex>& vertices,
    std::vector<std::uint32_t>& triangles)
{
    const std::vector<ActiveCell>& cells = state.cells.cells;
    std::atomic<bool> failed{false};
    ParallelForBlocks(cells.size(), kCellBlock, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            const ActiveCell& cell = cells[i];
            std::uint64_t slot = cell.firstSlot;
            for (int k = 0; k < 3; ++k) {
                if (((cell.mask >> (1 << k)) & 1) == (cell.mask & 1))
                    continue;
                if (!TriangulateEdge(state, cell, k, vertices, triangles.data() + 6 * slot))
                    failed = true;
                ++slot;
            }
        }
    });
    return !failed;
}

// ---- Keeping the surface from meeting itself ---------------------------------------------
//
// A vertex placed outside its cell (the error minimiser may leave it on a rough surface, and
// the projection may carry it there), or one of several pieces in one cell (where a
// non-manifold input touches itself), can make triangles meet that only share a neighbourhood.
// The triangles round such vertices are checked exactly against every triangle near them; the
// vertices of a pair that meets go back to a safer place and their quads are split again, round
// by round. Elsewhere nothing is checked and nothing changes.

constexpr int kUnfoldRounds = 8;
constexpr float kTurnedCosine = 0.0f;

ContactTriangle ContactOf(const std::vector<ContourVertex>& vertices,
    const std::vector<std::uint32_t>& triangles, std::size_t t)
{
    ContactTriangle contact;
    for (int k = 0; k < 3; ++k) {
        contact.index[k] = triangles[3 * t + k];
        const Vec3 p = vertices[contact.index[k]].position;
        contact.point[k] = {p.x, p.y, p.z};
    }
    PrepareContact(contact);
    return contact;
}

bool HasArea(const ContactTriangle& t)
{
    return t.index[0] != t.index[1] && t.index[1] != t.index[2] && t.index[0] != t.index[2]
        && !PointsCollinear(t.point[0], t.point[1], t.point[2]);
}

bool OutsideItsCell(const ContourVertex& v)
{
    return v.position.x < v.cellMin.x || v.position.x > v.cellMax.x || v.position.y < v.cellMin.y
        || v.position.y > v.cellMax.y || v.position.z < v.cellMin.z || v.position.z > v.cellMax.z;
}

// Grid keys of a box, in cells of size `cell`.
struct KeyRange {
    std::int64_t low[3];
    std::int64_t high[3];
};

std::uint64_t PackKey(std::int64_t x, std::int64_t y, std::int64_t z)
{
    const auto part = [](std::int64_t v) { return static_cast<std::uint64_t>(v) & 0x1fffffu; };
    return part(x) | (part(y) << 21) | (part(z) << 42);
}

// At most two keys on every axis.
bool Narrow(const KeyRange& r)
{
    return r.high[0] - r.low[0] <= 1 && r.high[1] - r.low[1] <= 1 && r.high[2] - r.low[2] <= 1;
}

template <class Visit>
void ForEachKey(const KeyRange& r, Visit&& visit)
{
    for (std::int64_t z = r.low[2]; z <= r.high[2]; ++z)
        for (std::int64_t y = r.low[1]; y <= r.high[1]; ++y)
            for (std::int64_t x = r.low[0]; x <= r.high[0]; ++x)
                visit(PackKey(x, y, z));
}

// The grid key of every vertex, kept while vertices move. Division and floor both keep order,
// so the keys of a triangle's box run from the least to the greatest of its corners' keys,
// without a division per triangle.
class VertexKeys {
public:
    VertexKeys(const std::vector<ContourVertex>& vertices, double cell) : keys_(vertices.size()), cell_(cell)
    {
        ParallelFor(vertices.size(), [&](std::size_t v) { Update(vertices, v); }, kVertexBlock);
    }

    void Update(const std::vector<ContourVertex>& vertices, std::size_t v)
    {
        const Vec3 p = vertices[v].position;
        const double at[3] = {p.x, p.y, p.z};
        for (int k = 0; k < 3; ++k)
            keys_[v][k] = static_cast<std::int64_t>(std::floor(at[k] / cell_));
    }

    std::uint64_t Packed(std::size_t v) const { return PackKey(keys_[v][0], keys_[v][1], keys_[v][2]); }

    KeyRange OfTriangle(const std::vector<std::uint32_t>& triangles, std::size_t t) const
    {
        const auto& a = keys_[triangles[3 * t]];
        const auto& b = keys_[triangles[3 * t + 1]];
        const auto& c = keys_[triangles[3 * t + 2]];
        KeyRange r;
        for (int k = 0; k < 3; ++k) {
            r.low[k] = std::min({a[k], b[k], c[k]});
            r.high[k] = std::max({a[k], b[k], c[k]});
        }
        return r;
    }

private:
    std::vector<std::array<std::int64_t, 3>> keys_;
    double cell_;
};

// Hashed bits of grid keys: a key whose bit is clear is surely not among them.
class KeyBits {
public:
    KeyBits() : bits_(kWords, 0) {}
    void Add(std::uint64_t key) { bits_[Bit(key) / 64] |= std::uint64_t{1} << (Bit(key) % 64); }
    bool MayHave(std::uint64_t key) const { return (bits_[Bit(key) / 64] >> (Bit(key) % 64) & 1u) != 0; }

private:
    static constexpr int kBitsLog = 22;
    static constexpr std::size_t kWords = (std::size_t{1} << kBitsLog) / 64;
    static std::size_t Bit(std::uint64_t key)
    {
        return static_cast<std::size_t>((key * 0x9e3779b97f4a7c15ull) >> (64 - kBitsLog));
    }

    std::vector<std::uint64_t> bits_;
};

// A set of grid keys read by many threads at once: the bits turn most questions away before
// the sorted keys are searched.
class KeySet {
public:
    explicit KeySet(std::vector<std::uint64_t> keys) : keys_(std::move(keys))
    {
        std::sort(keys_.begin(), keys_.end());
        keys_.erase(std::unique(keys_.begin(), keys_.end()), keys_.end());
        for (const std::uint64_t key : keys_)
            bits_.Add(key);
    }

    bool Has(std::uint64_t key) const
    {
        return bits_.MayHave(key) && std::binary_search(keys_.begin(), keys_.end(), key);
    }

private:
    std::vector<std::uint64_t> keys_;
    KeyBits bits_;
};

// The triangles (ascending) for which `keep(t)` holds, tested in parallel blocks; each block
// fills its own list, and the lists are joined in block order.
template <class Keep>
std::vector<std::uint32_t> SelectTriangles(std::size_t count, Keep&& keep)
{
    constexpr std::size_t kGrain = 16384;
    std::vector<std::vector<std::uint32_t>> lists((count + kGrain - 1) / kGrain);
    ParallelForBlocks(count, kGrain, [&](std::size_t begin, std::size_t end) {
        std::vector<std::uint32_t>& list = lists[begin / kGrain];
        for (std::size_t t = begin; t < end; ++t)
            if (keep(t))
                list.push_back(static_cast<std::uint32_t>(t));
    });
    std::vector<std::uint32_t> all;
    for (const auto& list : lists)
        all.insert(all.end(), list.begin(), list.end());
    return all;
}

// The triangles with a corner flagged in `loose`, ascending.
std::vector<std::uint32_t> TrianglesTouching(const std::vector<std::uint32_t>& triangles,
    const std::vector<std::uint8_t>& loose)
{
    return SelectTriangles(triangles.size() / 3, [&](std::size_t t) {
        return (loose[triangles[3 * t]] | loose[triangles[3 * t + 1]] | loose[triangles[3 * t + 2]]) != 0;
    });
}

// The triangles among `focus` (ascending) that have no area or meet another triangle, and
// those others: ascending, each once. Only the triangles whose boxes reach a grid key of the
// focus are read closely; the rest are turned away by their keys alone.
std::vector<std::uint32_t> MeetingTriangles(const std::vector<ContourVertex>& vertices,
    const std::vector<std::uint32_t>& triangles, const std::vector<std::uint32_t>& focus, const VertexKeys& keys)
{
    std::vector<std::uint64_t> focusKeys;
    for (const std::uint32_t t : focus)
        ForEachKey(keys.OfTriangle(triangles, t), [&](std::uint64_t key) { focusKeys.push_back(key); });
    const KeySet hot(std::move(focusKeys));
    // A triangle spanning at most two keys on each axis reaches a focus key only if each of its
    // corners lies within one key of that key, so within a focus triangle's box grown by one:
    // a triangle with a corner outside all of those needs no closer look.
    KeyBits around;
    for (const std::uint32_t t : focus) {
        KeyRange r = keys.OfTriangle(triangles, t);
        for (int k = 0; k < 3; ++k) {
            --r.low[k];
            ++r.high[k];
        }
        ForEachKey(r, [&](std::uint64_t key) { around.Add(key); });
    }
    std::vector<std::uint8_t> close(vertices.size());
    ParallelFor(vertices.size(), [&](std::size_t v) { close[v] = around.MayHave(keys.Packed(v)); }, kVertexBlock);
    // The triangles near the focus (the focus among them), each prepared once; a triangle far
    // bigger than a cell (none in a contour) would only cost time.
    const std::vector<std::uint32_t> near = SelectTriangles(triangles.size() / 3, [&](std::size_t t) {
        const KeyRange range = keys.OfTriangle(triangles, t);
        if (close[triangles[3 * t]] == 0 && Narrow(range))
            return false;
        bool reaches = false;
        ForEachKey(range, [&](std::uint64_t key) { reaches = reaches || hot.Has(key); });
        return reaches;
    });
    std::vector<ContactTriangle> contact(near.size());
    std::vector<std::uint8_t> withArea(near.size());
    ParallelFor(near.size(), [&](std::size_t i) {
        contact[i] = ContactOf(vertices, triangles, near[i]);
        withArea[i] = HasArea(contact[i]);
    }, 1024);
    // (hot key, place in `near`) for every key of every near triangle, sorted: a key's
    // triangles are a run, ascending.
    using KeyEntry = std::pair<std::uint64_t, std::uint32_t>;
    constexpr std::size_t kGrain = 4096;
    std::vector<std::vector<KeyEntry>> lists((near.size() + kGrain - 1) / kGrain);
    ParallelForBlocks(near.size(), kGrain, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i)
            ForEachKey(keys.OfTriangle(triangles, near[i]), [&](std::uint64_t key) {
                if (hot.Has(key))
                    lists[begin / kGrain].emplace_back(key, static_cast<std::uint32_t>(i));
            });
    });
    std::vector<KeyEntry> byKey;
    for (const auto& list : lists)
        byKey.insert(byKey.end(), list.begin(), list.end());
    ParallelSort(byKey.begin(), byKey.end());
    std::vector<std::vector<std::uint32_t>> found(focus.size());
    ParallelFor(focus.size(), [&](std::size_t i) {
        const std::uint32_t t = focus[i];
        const auto self = static_cast<std::uint32_t>(std::lower_bound(near.begin(), near.end(), t) - near.begin());
        // Every focus triangle reaches its own keys; a box without keys (no finite corner)
        // goes back as one without area.
        if (self == near.size() || near[self] != t || withArea[self] == 0) {
            found[i].push_back(t);
            return;
        }
        std::vector<std::uint32_t> seen;
        ForEachKey(keys.OfTriangle(triangles, t), [&](std::uint64_t key) {
            auto entry = std::lower_bound(byKey.begin(), byKey.end(), KeyEntry(key, 0u));
            for (; entry != byKey.end() && entry->first == key; ++entry) {
                const std::uint32_t u = entry->second;
                if (u == self || std::find(seen.begin(), seen.end(), u) != seen.end())
                    continue;
                seen.push_back(u);
                if (withArea[u] != 0 && TrianglesMeetBeyondSharedVertices(contact[self], contact[u])) {
                    found[i].push_back(t);
                    found[i].push_back(near[u]);
                }
            }
        });
    }, 64);
    std::vector<std::uint32_t> all;
    for (const auto& list : found)
        all.insert(all.end(), list.begin(), list.end());
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    return all;
}

// Whether the two triangles of a quad split are sound on their own: both with area and not
// folded onto each other.
bool SplitSound(const std::vector<ContourVertex>& vertices, const std::uint32_t six[6])
{
    const std::vector<std::uint32_t> pair(six, six + 6);
    const ContactTriangle a = ContactOf(vertices, pair, 0);
    const ContactTriangle b = ContactOf(vertices, pair, 1);
    return HasArea(a) && HasArea(b) && !TrianglesMeetBeyondSharedVertices(a, b);
}

// Splits the quad of `slot` along its other diagonal when the current split is unsound and
// the other is not.
void ResplitQuad(const std::vector<ContourVertex>& vertices, std::uint32_t* slot)
{
    if (SplitSound(vertices, slot))
        return;
    // Triangles (q0 q1 q3)(q1 q2 q3) or (q0 q1 q2)(q0 q2 q3): the ring is q0 q1 then the
    // second triangle's last two.
    const std::uint32_t q[4] = {slot[0], slot[1], slot[4], slot[5]};
    const bool along13 = slot[2] == q[3];
    const std::uint32_t other[6] = {q[0], q[1], along13 ? q[2] : q[3], along13 ? q[0] : q[1], q[2], q[3]};
    if (SplitSound(vertices, other))
        std::copy(other, other + 6, slot);
}

// Moves the vertices of triangles that meet to `fallback` (once each), splits their quads
// again, and checks round them again; starts from the vertices flagged `loose`. Returns the
// number of vertices moved.
std::uint64_t UnfoldContour(std::vector<ContourVertex>& vertices, std::vector<std::uint32_t>& triangles,
    const std::vector<Vec3>& fallback, std::vector<std::uint8_t> loose, double cell)
{
    std::vector<std::uint8_t> moved(vertices.size(), 0);
    std::uint64_t movedCount = 0;
    VertexKeys keys(vertices, cell);
    for (int round = 0; round < kUnfoldRounds; ++round) {
        const std::vector<std::uint32_t> focus = TrianglesTouching(triangles, loose);
        if (focus.empty())
            break;
        const std::vector<std::uint32_t> meeting = MeetingTriangles(vertices, triangles, focus, keys);
        if (meeting.empty())
            break;
        std::fill(loose.begin(), loose.end(), 0);
        std::vector<std::uint32_t> slots;
        for (const std::uint32_t t : meeting) {
            for (int k = 0; k < 3; ++k) {
                const std::uint32_t v = triangles[3 * t + k];
                if (moved[v] != 0)
                    continue;
                moved[v] = 1;
                loose[v] = 1;
                ++movedCount;
                vertices[v].position = fallback[v];
                keys.Update(vertices, v);
            }
            slots.push_back(t / 2);
        }
        for (const std::uint32_t t : TrianglesTouching(triangles, loose))
            slots.push_back(t / 2);
        std::sort(slots.begin(), slots.end());
        slots.erase(std::unique(slots.begin(), slots.end()), slots.end());
        for (const std::uint32_t slot : slots)
            ResplitQuad(vertices, triangles.data() + 6 * static_cast<std::size_t>(slot));
        // The quads split again are checked with the moved vertices' triangles next round.
        for (const std::uint32_t slot : slots)
            for (int c = 0; c < 6; ++c)
                loose[triangles[6 * static_cast<std::size_t>(slot) + c]] = 1;
    }
    return movedCount;
}

// Flags the corners of every triangle that faces away from the surface normal at one of its
// corners (a fold turns it over); a cheap look that sends only such places to the exact check.
void FlagTurnedTriangles(const std::vector<ContourVertex>& vertices, const std::vector<std::uint32_t>& triangles,
    std::vector<std::uint8_t>& loose)
{
    const std::vector<std::uint32_t> turned = SelectTriangles(triangles.size() / 3, [&](std::size_t t) {
        const Vec3 a = vertices[triangles[3 * t]].position;
        const Vec3 n = Cross(vertices[triangles[3 * t + 1]].position - a, vertices[triangles[3 * t + 2]].position - a);
        const float length = Length(n);
        bool away = false;
        for (int k = 0; k < 3; ++k)
            away = away || !(Dot(n, vertices[triangles[3 * t + k]].normal) > kTurnedCosine * length);
        return away;
    });
    for (const std::uint32_t t : turned)
        for (int k = 0; k < 3; ++k)
            loose[triangles[3 * static_cast<std::size_t>(t) + k]] = 1;
}

// The contour as placed: vertices outside their cells and those sharing a cell are checked;
// the fallback is the mean of each piece's crossings.
void UnfoldPlacedContour(ContourResult& result, double cell)
{
    std::vector<std::uint8_t> loose(result.vertices.size(), 0);
    ParallelFor(result.vertices.size(), [&](std::size_t v) {
        loose[v] = result.vertices[v].sharesCell || OutsideItsCell(result.vertices[v]);
    }, kVertexBlock);
    FlagTurnedTriangles(result.vertices, result.triangles, loose);
    if (std::find(loose.begin(), loose.end(), 1) == loose.end())
        return;
    std::vector<Vec3> fallback(result.vertices.size());
    ParallelFor(result.vertices.size(), [&](std::size_t v) { fallback[v] = result.vertices[v].fallback; }, kVertexBlock);
    result.unfoldedVertices = UnfoldContour(result.vertices, result.triangles, fallback, std::move(loose), cell);
}

// The contour after the projection: vertices it carried out of their cells, and those sharing
// a cell, are checked; the fallback is the place before the projection.
void UnfoldProjectedContour(std::vector<ContourVertex>& vertices, std::vector<std::uint32_t>& triangles,
    const std::vector<Vec3>& placed, double cell)
{
    std::vector<std::uint8_t> loose(vertices.size(), 0);
    ParallelFor(vertices.size(), [&](std::size_t v) {
        loose[v] = vertices[v].sharesCell || OutsideItsCell(vertices[v]);
    }, kVertexBlock);
    FlagTurnedTriangles(vertices, triangles, loose);
    if (std::find(loose.begin(), loose.end(), 1) != loose.end())
        (void)UnfoldContour(vertices, triangles, placed, std::move(loose), cell);
}

// ---- The remesh ------------------------------------------------------------------------

Vec3 Extents(const TriangleMesh& mesh)
{
    return mesh.boundsValid ? mesh.boundsMax - mesh.boundsMin : Vec3{};
}

std::array<float, 3> ToArray(Vec3 v) { return {v.x, v.y, v.z}; }

// The share of the remesh done when each step starts, from the steps' times on a sphere of a
// million triangles at 0.2 mm (the contour benchmark): reading 5%, contouring 30%,
// triangulating 10%, projecting 38%, the rest the rebuilding and measuring.
float ContourStepStart(const std::string& stage)
{
    static constexpr std::pair<const char*, float> kSteps[] = {{"Reading the surface", 0.0f},
        {"Contouring", 0.05f}, {"Triangulating", 0.35f}, {"Projecting onto the original", 0.45f},
        {"Measuring deviation", 0.45f}, {"Rebuilding", 0.83f}};
    for (const auto& [name, start] : kSteps)
        if (stage == name)
            return start;
    return -1.0f;
}

bool RelayContourProgress(StageTimer& timer, const ProgressCallback& progress,
    const std::string& stage)
{
    RecordStageTime(timer, stage);
    return progress ? progress(stage, ContourStepStart(stage)) : true;
}

Vec3 ClampIntoBox(Vec3 p, Vec3 low, Vec3 high)
{
    return {std::clamp(p.x, low.x, high.x), std::clamp(p.y, low.y, high.y),
        std::clamp(p.z, low.z, high.z)};
}


// Moves one vertex onto the input surface (or only measures its distance) and returns the
// distance recorded for the deviation.
float ProjectVertex(const AabbTree& tree, const TriangleMesh& source, ContourVertex& vertex,
    bool preserveVolume, float cell)
{
    const Vec3 p = vertex.position;
    // Contour vertices lie within a cell or so of the surface; the bounded search prunes the
    // tree far sooner, and the rare vertex beyond it is measured without a bound.
    NearestHit nearest = tree.Nearest(source, p, {}, {}, 2.0f * cell);
    if (!nearest.found)
        nearest = tree.Nearest(source, p, {}, {}, kNoDistanceLimit);
    if (!nearest.found || !preserveVolume || nearest.distance > 2.0f * cell)
        return nearest.found ? nearest.distance : 0.0f;
    NearestHit hit = nearest;
    const Vec3 vn = vertex.normal;
    const bool hasNormal = vn.x != 0.0f || vn.y != 0.0f || vn.z != 0.0f;
    if (hasNormal && Dot(source.FaceNormal(static_cast<std::uint64_t>(hit.triangle)), vn) <= 0.0f) {
        const auto facingAway = [&](std::uint32_t t) { return Dot(source.FaceNormal(t), vn) <= 0.0f; };
        hit = tree.Nearest(source, p, {}, facingAway, 2.0f * cell);
        if (!hit.found)
            return nearest.distance;
    }
    const Vec3 n = source.FaceNormal(static_cast<std::uint64_t>(hit.triangle));
    const Vec3 corner = source.vertices[source.indices[3 * static_cast<std::size_t>(hit.triangle)]].position;
    const Vec3 onPlane = p - n * Dot(p - corner, n);
    const Vec3 target = Length(onPlane - hit.point) <= 0.5f * cell ? onPlane : hit.point;
    vertex.position = ClampIntoBox(target, vertex.boxMin, vertex.boxMax);
    const float offset = Length(vertex.position - target);
    if (offset > 2e-5f)
        return tree.Nearest(source, vertex.position, {}, {}, kNoDistanceLimit).distance;
    return offset;
}

float ProjectOntoOriginal(const TriangleMesh& source, std::vector<ContourVertex>& vertices,
    bool preserveVolume, float cell)
{
    AabbTree tree;
    tree.Build(source);
    tree.FitBoxes(source);
    std::vector<float> distances(vertices.size(), 0.0f);
    ParallelFor(vertices.size(), [&](std::size_t i) {
        distances[i] = ProjectVertex(tree, source, vertices[i], preserveVolume, cell);
    }, kVertexBlock);
    float largest = 0.0f;
    for (float d : distances)
        largest = std::max(largest, d);
    return largest;
}

TriangleMesh BuildResultMesh(const std::vector<ContourVertex>& vertices,
    std::vector<std::uint32_t>&& triangles)
{
    TriangleMesh result;
    result.vertices.resize(vertices.size());
    for (std::size_t i = 0; i < vertices.size(); ++i)
        result.vertices[i].position = vertices[i].position;
    result.indices = std::move(triangles);
    result.ComputeBounds();
    return result;
}

void DropCrumbs(TriangleMesh& result, const TriangleMesh& source, const RemeshSettings& settings,
    RemeshReport& report)
{
    report.sourceBodies = CountBodies(source);
    // A body lying at a body of the part is that body, however few triangles it has; only
    // crumbs the contour set loose beside one go.
    StrayBodyReport removed = RemoveLooseFragments(result, source);
    report.strayBodiesRemoved = removed.bodiesRemoved;
    report.strayBodyTriangles = removed.trianglesRemoved;
    report.strayBodies = std::move(removed.removed);
    if (settings.dualContouring.removeDisconnected)
        RemoveSmallBodies(result, settings.dualContouring.disconnectedThreshold);
}

void MeasureBefore(const TriangleMesh& mesh, RemeshReport& report)
{
    report.contour = true;
    report.trianglesBefore = mesh.indices.size() / 3;
    report.verticesBefore = mesh.vertices.size();
    report.sizeBefore = ToArray(Extents(mesh));
    report.qualityBefore = MeasureMeshQuality(mesh);
}

void MeasureAfter(const TriangleMesh& mesh, float deviation, RemeshReport& report)
{
    report.trianglesAfter = mesh.indices.size() / 3;
    report.verticesAfter = mesh.vertices.size();
    report.sizeAfter = ToArray(Extents(mesh));
    report.qualityAfter = MeasureMeshQuality(mesh);
    report.deviationMillimetres = deviation;
}

std::uint64_t SaturatingAdd(std::uint64_t a, double b)
{
    const double sum = static_cast<double>(a) + b;
    if (!(sum < 1.8e19))  // NaN counts as too much
        return std::numeric_limits<std::uint64_t>::max();
    return sum > 0.0 ? static_cast<std::uint64_t>(sum) : a;
}

// A cell count as an integer. A box or cell that is not finite, or so many cells that no
// grid could be held, gives 0 or the largest count a grid can have, never an undefined
// conversion; RemeshByContour refuses such parts before it gets here.
std::int32_t CellsAcross(double cells)
{
    constexpr double kMostCells = 1 << 28;
    if (!(cells > 0.0))  // NaN lands here as well
        return 0;
    return static_cast<std::int32_t>(std::min(cells, kMostCells));
}

bool HasFiniteCoordinates(const TriangleMesh& mesh)
{
    for (const MeshVertex& v : mesh.vertices)
        if (!std::isfinite(v.position.x) || !std::isfinite(v.position.y) || !std::isfinite(v.position.z))
            return false;
    return true;
}

bool HasFiniteBox(const TriangleMesh& mesh)
{
    for (const float c : {mesh.boundsMin.x, mesh.boundsMin.y, mesh.boundsMin.z, mesh.boundsMax.x,
             mesh.boundsMax.y, mesh.boundsMax.z})
        if (!std::isfinite(c))
            return false;
    return true;
}

}  // namespace

ContourGrid SetUpContourGrid(Vec3 boundsMin, Vec3 boundsMax, double cell)
{
    ContourGrid grid;
    grid.cell = cell;
    const double low[3] = {boundsMin.x, boundsMin.y, boundsMin.z};
    const double high[3] = {boundsMax.x, boundsMax.y, boundsMax.z};
    for (int k = 0; k < 2; ++k) {
        grid.count[k] = CellsAcross(std::ceil((high[k] - low[k]) / cell)) + 3;
        grid.origin[k] = (low[k] + high[k]) / 2.0 - grid.count[k] * cell / 2.0;
    }
    grid.count[2] = CellsAcross(std::ceil((high[2] - low[2]) / cell + 1.5)) + 2;
    grid.origin[2] = low[2] - 1.5 * cell;
    const std::int32_t n = std::max({grid.count[0], grid.count[1], grid.count[2]}) + 2;
    int bits = 1;
    while ((std::int64_t{1} << bits) < n)
        ++bits;
    grid.latticeBits = std::min(30 - bits, 26);
    grid.step = cell / static_cast<double>(std::int64_t{1} << grid.latticeBits);
    return grid;
}

ContourFootprint EstimateContourFootprint(const TriangleMesh& mesh, const ContourGrid& grid)
{
    const double n[3] = {static_cast<double>(grid.count[0]) + 1.0,
        static_cast<double>(grid.count[1]) + 1.0, static_cast<double>(grid.count[2]) + 1.0};
    // offsets, open flags and the counting copy of the offsets, per line; column starts
    const double lines = n[1] * n[2] + n[2] * n[0] + n[0] * n[1];
    double bytes = lines * 13.0 + n[0] * n[1] * 4.0;
    double projected = 0.0;
    double area = 0.0;
    const std::size_t triangles = mesh.IsConsistent() ? mesh.indices.size() / 3 : 0;
    for (std::size_t t = 0; t < triangles; ++t) {
        const Vec3 a = mesh.vertices[mesh.indices[3 * t]].position;
        const Vec3 c = Cross(mesh.vertices[mesh.indices[3 * t + 1]].position - a,
            mesh.vertices[mesh.indices[3 * t + 2]].position - a);
        projected += 0.5 * (std::fabs(c.x) + std::fabs(c.y) + std::fabs(c.z));
        area += 0.5 * std::sqrt(double(c.x) * c.x + double(c.y) * c.y + double(c.z) * c.z);
    }
    const double cellArea = grid.cell * grid.cell;
    const double surfaceCells = 3.0 * area / cellArea;
    // Crossings are held twice while they are grouped (16 bytes each); a cell of surface
    // holds its record, a vertex, a result vertex and about two triangles with their copy.
    bytes += projected / cellArea * 32.0;
    bytes += surfaceCells * 150.0;
    bytes += static_cast<double>(mesh.vertices.size()) * 24.0;
    // Of those, the result vertex and its two triangles outlive the grid.
    return {SaturatingAdd(0, bytes), SaturatingAdd(0, surfaceCells * kResultBytesPerSurfaceCell)};
}

std::uint64_t EstimateContourBytes(const TriangleMesh& mesh, const ContourGrid& grid)
{
    return EstimateContourFootprint(mesh, grid).peakBytes;
}

std::uint64_t EstimateContourPiecesBytes(const std::vector<ContourFootprint>& pieces)
{
    std::uint64_t held = 0;
    std::uint64_t peak = 0;
    for (const ContourFootprint& piece : pieces) {
        // The joined result may be copied once as it grows, so it counts twice.
        peak = std::max(peak, SaturatingAdd(piece.peakBytes, 2.0 * static_cast<double>(held)));
        held = SaturatingAdd(held, static_cast<double>(piece.resultBytes));
    }
    return peak;
}

bool ContourMesh(const TriangleMesh& mesh, const ContourGrid& grid, double sharpness,
    const ContourStageCallback& stage, ContourResult& result)
{
    const auto ask = [&](const char* name) { return stage ? stage(name) : true; };
    result = ContourResult{};
    // Nothing to contour: indices past the vertices, or a coordinate the lattice cannot hold.
    if (!mesh.IsConsistent() || !HasFiniteCoordinates(mesh))
        return true;
    ContourState state;
    state.mesh = &mesh;
    state.grid = grid;
    state.cellUnits = std::int64_t{1} << grid.latticeBits;
    if (!ask("Reading the surface"))
        return false;
    ReadSurface(state);
    RepairOpenZLines(state);
    for (const LineFamily& family : state.families) {
        result.openLines += family.openLines;
        result.thinPlaces += family.thinPlaces;
    }
    if (!ask("Contouring"))
        return false;
    FindActiveCells(state);
    ResolveFaceFlips(state);
    std::uint64_t slots = 0;
    result.vertices.resize(NumberCells(state, slots));
    result.crossingsWithoutTriangle = PlaceCellVertices(state, sharpness, result.vertices);
    if (!ask("Triangulating"))
        return false;
    result.triangles.assign(6 * slots, 0);
    result.failed = !TriangulateCells(state, result.vertices, result.triangles);
    if (!result.failed)
        UnfoldPlacedContour(result, grid.cell);
    return true;
}

std::uint64_t CountMeshPieces(const TriangleMesh& mesh)
{
    std::vector<std::uint32_t> parent(mesh.vertices.size());
    std::iota(parent.begin(), parent.end(), 0u);
    const auto find = [&](std::uint32_t v) {
        while (parent[v] != v) {
            parent[v] = parent[parent[v]];
            v = parent[v];
        }
        return v;
    };
    std::uint64_t unions = 0;
    for (std::size_t i = 0; i + 2 < mesh.indices.size(); i += 3) {
        for (int k = 1; k < 3; ++k) {
            const std::uint32_t a = mesh.indices[i];
            const std::uint32_t b = mesh.indices[i + k];
            if (a >= parent.size() || b >= parent.size())
                continue;
            const std::uint32_t ra = find(a);
            const std::uint32_t rb = find(b);
            if (ra != rb) {
                parent[std::max(ra, rb)] = std::min(ra, rb);
                ++unions;
            }
        }
    }
    return mesh.vertices.size() - unions;
}

void RemoveSmallBodies(TriangleMesh& mesh, float threshold)
{
    if (!mesh.IsConsistent() || mesh.indices.empty())
        return;
    std::vector<std::uint32_t> parent(mesh.vertices.size());
    std::iota(parent.begin(), parent.end(), 0u);
    const auto find = [&](std::uint32_t v) {
        while (parent[v] != v) {
            parent[v] = parent[parent[v]];
            v = parent[v];
        }
        return v;
    };
    const std::size_t triangles = mesh.indices.size() / 3;
    for (std::size_t t = 0; t < triangles; ++t)
        for (int k = 1; k < 3; ++k) {
            const std::uint32_t ra = find(mesh.indices[3 * t]);
            const std::uint32_t rb = find(mesh.indices[3 * t + k]);
            if (ra != rb)
                parent[std::max(ra, rb)] = std::min(ra, rb);
        }
    std::vector<double> volume(mesh.vertices.size(), 0.0);
    for (std::size_t t = 0; t < triangles; ++t) {
        // About the body's root, one of its corners: about the origin a body far out keeps no
        // digit of its volume.
        const std::uint32_t body = find(mesh.indices[3 * t]);
        volume[body] += TetrahedronVolume6(mesh.vertices[mesh.indices[3 * t]].position,
                            mesh.vertices[mesh.indices[3 * t + 1]].position,
                            mesh.vertices[mesh.indices[3 * t + 2]].position, mesh.vertices[body].position) / 6.0;
    }
    double largest = 0.0;
    for (double v : volume)
        largest = std::max(largest, std::fabs(v));
    const double limit = std::clamp(static_cast<double>(threshold), 0.0, 1.0) * largest;
    std::vector<std::uint32_t> kept;
    kept.reserve(mesh.indices.size());
    for (std::size_t t = 0; t < triangles; ++t)
        if (!(std::fabs(volume[find(mesh.indices[3 * t])]) < limit))
            kept.insert(kept.end(), mesh.indices.begin() + 3 * t, mesh.indices.begin() + 3 * t + 3);
    if (kept.size() == mesh.indices.size())
        return;
    mesh.indices = std::move(kept);
    RemoveUnusedVertices(mesh);
}

// How one grid's contour ended: with triangles, without any, or stopped or failed (the report
// says which).
enum class ContourStep { triangles, empty, ended };

// Contours `piece` on `grid` (of `cell`) and projects the result onto the piece: `result` holds
// the triangles, and `deviation` grows to their largest distance from the piece. The report
// gathers the counts of every grid.
ContourStep ContourOneGrid(const TriangleMesh& piece, const ContourGrid& grid, float cell,
    const RemeshSettings& settings, const ContourStageCallback& stage, RemeshReport& report,
    TriangleMesh& result, float& deviation)
{
    ContourResult contour;
    const bool finished = ContourMesh(piece, grid, settings.dualContouring.sharpness, stage, contour);
    report.openGridLines += contour.openLines;
    report.thinPlaces += contour.thinPlaces;
    report.crossingsWithoutTriangle += contour.crossingsWithoutTriangle;
    if (!finished || contour.failed) {
        report.cancelled = !finished;
        report.failed = finished;
        report.failure = finished ? RemeshFailure::contourIncomplete : RemeshFailure::none;
        return ContourStep::ended;
    }
    if (contour.triangles.empty())
        return ContourStep::empty;
    const bool preserve = settings.dualContouring.preserveVolume;
    if (!stage(preserve ? "Projecting onto the original" : "Measuring deviation")) {
        report.cancelled = true;
        return ContourStep::ended;
    }
    std::vector<Vec3> placed(contour.vertices.size());
    ParallelFor(placed.size(), [&](std::size_t v) { placed[v] = contour.vertices[v].position; }, kVertexBlock);
    deviation = std::max(deviation, ProjectOntoOriginal(piece, contour.vertices, preserve, cell));
    UnfoldProjectedContour(contour.vertices, contour.triangles, placed, cell);
    (void)stage("Rebuilding");  // past the point of stopping: the answer is not used
    result = BuildResultMesh(contour.vertices, std::move(contour.triangles));
    return ContourStep::triangles;
}

namespace {

// The grids a part is contoured in: one over the whole part, or one per group of bodies lying
// apart (then `pieces` holds each group's mesh), each with its cell and memory footprint.
struct ContourLayout {
    std::vector<MeshCluster> clusters;
    std::vector<TriangleMesh> pieces;
    std::vector<float> cells;
    std::vector<ContourGrid> grids;
    std::vector<ContourFootprint> footprints;
    std::uint64_t bytes = 0;  // every grid's peak with the results of the grids before it held
    float cell = 0.0f;        // ContourCellSize of the part
    bool capped = false;      // that cell was raised to the finest the part's size allows
};

// Lays the grids of `source` (bounds computed, finite) for `settings`, as the remesh will.
ContourLayout LayOutContourGrids(const TriangleMesh& source, const RemeshSettings& settings)
{
    ContourLayout layout;
    layout.cell = ContourCellSize(source, settings, &layout.capped, &layout.clusters);
    const float cell = layout.cell;
    // Bodies that lie far apart get a grid each at the cell asked for, not one grid over the
    // box of them all; a part one grid holds is laid out as it always was.
    const float asked = AskedContourCell(settings);
    if (layout.clusters.empty()) {
        layout.grids.push_back(SetUpContourGrid(source.boundsMin, source.boundsMax, cell));
        layout.cells.push_back(cell);
    }
    for (const MeshCluster& cluster : layout.clusters) {
        layout.pieces.push_back(ClusterMesh(source, cluster));
        layout.cells.push_back(GridCellFor(cluster.boundsMax - cluster.boundsMin, asked));
        layout.grids.push_back(
            SetUpContourGrid(layout.pieces.back().boundsMin, layout.pieces.back().boundsMax, layout.cells.back()));
    }
    for (std::size_t g = 0; g < layout.grids.size(); ++g)
        layout.footprints.push_back(
            EstimateContourFootprint(layout.pieces.empty() ? source : layout.pieces[g], layout.grids[g]));
    layout.bytes = EstimateContourPiecesBytes(layout.footprints);
    return layout;
}

}  // namespace

std::uint64_t EstimateContourRunBytes(const TriangleMesh& source, const RemeshSettings& settings)
{
    return LayOutContourGrids(source, settings).bytes;
}

float AdviseContourCell(const TriangleMesh& source, const RemeshSettings& settings, std::uint64_t available)
{
    if (available == 0 || !source.boundsValid)
        return 0.0f;
    const ContourLayout asked = LayOutContourGrids(source, settings);
    if (!(asked.bytes > available))
        return AskedContourCell(settings);
    // The excess is measured against the coarsest grid's cell, plus a margin, as the estimate
    // is not exact.
    const float coarsest = *std::max_element(asked.cells.begin(), asked.cells.end());
    const double excess = static_cast<double>(asked.bytes) / static_cast<double>(available);
    RemeshSettings trial = settings;
    return SearchAdvisedLength(std::max(coarsest, AskedContourCell(settings)), excess * kAdvisedCellMargin * kAdvisedCellMargin,
        [&](float cell) {
            trial.targetEdgeMillimetres = cell;
            return !(EstimateContourRunBytes(source, trial) > available);
        });
}

namespace {

// Records the refusal of grids that need more than `available` bytes: the piece whose grid
// alone is too large, when one is (else all of them together), and the cell from which on
// they fit, tried through the same estimate.
void RefuseGridsOverMemory(const TriangleMesh& source, const RemeshSettings& settings, const ContourLayout& layout,
    std::uint64_t available, RemeshReport& report)
{
    report.failed = true;
    report.failure = RemeshFailure::gridTooLarge;
    report.availableBytes = available;
    report.advisedCellMillimetres = AdviseContourCell(source, settings, available);
    for (std::size_t g = 0; g < layout.clusters.size(); ++g) {
        if (layout.footprints[g].peakBytes > available) {
            report.failedPieceMin = layout.clusters[g].boundsMin;
            report.failedPieceMax = layout.clusters[g].boundsMax;
            return;
        }
    }
}

}  // namespace

RemeshReport RemeshByContour(TriangleMesh& mesh, const RemeshSettings& settings,
    const ProgressCallback& progress)
{
    RemeshReport report;
    MeasureBefore(mesh, report);
    if (!mesh.IsConsistent() || mesh.indices.empty())
        return report;
    TriangleMesh source = mesh;
    source.ComputeBounds();
    ContourLayout layout = LayOutContourGrids(source, settings);
    const float cell = layout.cell;
    const Vec3 extent = source.boundsMax - source.boundsMin;
    // The box holds every NaN and infinity of the part: no grid can be laid over those.
    if (!HasFiniteBox(source)) {
        report.failed = true;
        report.failure = RemeshFailure::nonFiniteCoordinates;
        return report;
    }
    // Finite coordinates whose extent overflows a float: no grid is that large.
    if (!std::isfinite(extent.x) || !std::isfinite(extent.y) || !std::isfinite(extent.z)) {
        report.failed = true;
        report.failure = RemeshFailure::gridTooLarge;
        return report;
    }
    // An infinite target edge: no cell to lay, nothing to do.
    if (!std::isfinite(cell))
        return report;
    report.cellMillimetres = cell;
    report.cellCapped = layout.capped;
    // Refused before anything large is allocated: past the available memory the kernel ends
    // the process instead of failing an allocation. The grids are contoured one at a time, but
    // every result is kept until they are joined, so all of them are held against the memory.
    for (const ContourGrid& grid : layout.grids)
        report.gridExtentMillimetres = std::max(report.gridExtentMillimetres,
            static_cast<float>(std::max({grid.count[0], grid.count[1], grid.count[2]}) * grid.cell));
    report.estimatedGridBytes = layout.bytes;
    report.piecesApart = layout.clusters.size();
    const std::uint64_t available = platform::AvailableMemoryBytes();
    if (available != 0 && report.estimatedGridBytes > available) {
        RefuseGridsOverMemory(source, settings, layout, available, report);
        return report;
    }
    const std::vector<TriangleMesh>& pieces = layout.pieces;
    const std::vector<float>& cells = layout.cells;
    const std::vector<ContourGrid>& grids = layout.grids;

    StageTimer timer(report);
    const ContourStageCallback stage = [&](const std::string& name) {
        return RelayContourProgress(timer, progress, name);
    };
    TriangleMesh result;
    float deviation = 0.0f;
    for (std::size_t g = 0; g < grids.size(); ++g) {
        const TriangleMesh& piece = pieces.empty() ? source : pieces[g];
        TriangleMesh contoured;
        const ContourStep step = ContourOneGrid(piece, grids[g], cells[g], settings, stage, report, contoured, deviation);
        if (step == ContourStep::ended) {
            RecordStageTime(timer, "");
            return report;
        }
        if (pieces.empty())
            result = std::move(contoured);
        else
            AppendMesh(result, contoured);
    }
    if (result.indices.empty()) {
        RecordStageTime(timer, "");
        return report;
    }
    result.ComputeBounds();
    RecordStageTime(timer, "Dropping crumbs");
    DropCrumbs(result, source, settings, report);
    RecordStageTime(timer, "Normals");
    result.ComputeBounds();
    result.ComputeVertexNormals();
    RecordStageTime(timer, "Measuring the triangles");
    MeasureAfter(result, deviation, report);
    RecordStageTime(timer, "");
    mesh = std::move(result);
    return report;
}

}  // namespace grainforge::mesh
