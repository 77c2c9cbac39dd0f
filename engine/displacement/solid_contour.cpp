// Dual contouring after Ju, Losasso, Schaefer and Warren, "Dual Contouring of Hermite Data"
// (SIGGRAPH 2002), one vertex per surface piece of a cell as in Schaefer, Ju and Warren,
// "Manifold Dual Contouring" (IEEE TVCG 2007), over the sampled field of the displaced solid.
// Crossings come from linear interpolation of the field along cell edges and their normals from
// its central-difference gradient.
#include "engine/displacement/solid_contour.h"

#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/self_intersection.h"
#include "engine/mesh/welding.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <numeric>

namespace grainforge::mesh {
namespace {

// Longest run of blocks per axis a field may claim; a larger one cannot come from the field
// build's memory guard, and the limit keeps the block count's product inside 64 bits.
constexpr std::int64_t kMostBlocksPerAxis = std::int64_t{1} << 21;

// A gradient shorter than this (per mm) gives no usable normal: the field is flat there, as it
// is between two far values.
constexpr double kShortestNormal = 0.1;

constexpr std::uint64_t kMostVertices = std::uint64_t{1} << 32;

struct CellEntry {
    std::int64_t id = 0;
    std::uint8_t mask = 0;
    std::uint8_t row = 0;  // within its block: z 8 + y
};

// The crossings of one piece of a cell, in cell-local coordinates.
struct PieceCrossings {
    Point3d points[12];
    Point3d normals[12];
    std::uint8_t use[12] = {};
    int count = 0;
    bool touchesLow[3] = {false, false, false};
    bool touchesHigh[3] = {false, false, false};
    bool displaced = false;
};

using GridPoint = std::array<std::int64_t, 3>;

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool InsideGrid(const SolidField& field, const GridPoint& p)
{
    return p[0] >= 0 && p[1] >= 0 && p[2] >= 0 && p[0] < field.pointsX && p[1] < field.pointsY
        && p[2] < field.pointsZ;
}

// The field value, with the points beyond the grid read as the far value outside.
float FieldValue(const SolidField& field, const GridPoint& p)
{
    return InsideGrid(field, p) ? field.ValueAt(p[0], p[1], p[2]) : field.farValue;
}

double Origin(const SolidField& field, int axis)
{
    return axis == 0 ? field.originX : (axis == 1 ? field.originY : field.originZ);
}

std::int64_t Points(const SolidField& field, int axis)
{
    return axis == 0 ? field.pointsX : (axis == 1 ? field.pointsY : field.pointsZ);
}

std::int64_t BlocksFor(std::int64_t points)
{
    return (points + kFieldBlockSide - 1) / kFieldBlockSide;
}

bool HasReadableColumns(const SolidField& field)
{
    const std::uint64_t columns = static_cast<std::uint64_t>(field.pointsX) * static_cast<std::uint64_t>(field.pointsY);
    if (field.columnOffsets.size() != columns + 1)
        return false;
    for (std::size_t c = 0; c < columns; ++c)
        if (field.columnOffsets[c] > field.columnOffsets[c + 1])
            return false;
    return field.columnOffsets.back() <= field.columnCrossings.size();
}

// The field as its builder leaves it: counts that match the vectors, so no read leaves them.
bool IsReadableField(const SolidField& field)
{
    for (int k = 0; k < 3; ++k) {
        const std::int64_t blocks = k == 0 ? field.blocksX : (k == 1 ? field.blocksY : field.blocksZ);
        if (Points(field, k) < 0 || blocks != BlocksFor(Points(field, k)) || blocks > kMostBlocksPerAxis
            || !std::isfinite(Origin(field, k)))
            return false;
    }
    if (!(field.cell > 0.0) || !std::isfinite(field.cell))
        return false;
    const std::int64_t blocks = field.blocksX * field.blocksY * field.blocksZ;
    if (field.blockIndex.size() != static_cast<std::uint64_t>(blocks)
        || field.values.size() % kFieldBlockPoints != 0 || field.displaced.size() != field.values.size())
        return false;
    const std::int64_t slots = static_cast<std::int64_t>(field.values.size()) / kFieldBlockPoints;
    for (const std::int32_t slot : field.blockIndex)
        if (slot < -1 || slot >= slots)
            return false;
    return HasReadableColumns(field);
}

// ---- Sign-changing cells ---------------------------------------------------------------

// The block of every stored slot.
std::vector<GridPoint> StoredBlocks(const SolidField& field)
{
    std::vector<GridPoint> blocks(field.values.size() / kFieldBlockPoints, GridPoint{-1, -1, -1});
    for (std::size_t b = 0; b < field.blockIndex.size(); ++b) {
        const std::int32_t slot = field.blockIndex[b];
        if (slot < 0)
            continue;
        const std::int64_t block = static_cast<std::int64_t>(b);
        blocks[static_cast<std::size_t>(slot)] = {block % field.blocksX,
            (block / field.blocksX) % field.blocksY, block / (field.blocksX * field.blocksY)};
    }
    return blocks;
}

// ValueAt, read straight from the point's stored block when it has one.
float ReadValue(const SolidField& field, std::int64_t x, std::int64_t y, std::int64_t z)
{
    if (x >= 0 && y >= 0 && z >= 0 && x < field.pointsX && y < field.pointsY && z < field.pointsZ) {
        const std::int64_t block =
            ((z / kFieldBlockSide) * field.blocksY + y / kFieldBlockSide) * field.blocksX + x / kFieldBlockSide;
        const std::int32_t slot = field.blockIndex[static_cast<std::size_t>(block)];
        if (slot >= 0)
            return field.values[static_cast<std::size_t>(std::int64_t{slot} * kFieldBlockPoints
                + (z % kFieldBlockSide) * 64 + (y % kFieldBlockSide) * 8 + x % kFieldBlockSide)];
    }
    return field.ValueAt(x, y, z);
}

// Appends the sign-changing cells whose corner 0 lies in `block`, stored at `slot`, in id
// order. The corners' signs are read once for the block's points and the next point on each
// axis.
void ListBlockCells(const SolidField& field, const ContourCellList& cells, const GridPoint& block,
    std::size_t slot, std::vector<CellEntry>& out)
{
    constexpr std::int64_t side = kFieldBlockSide + 1;
    const GridPoint first = {block[0] * kFieldBlockSide, block[1] * kFieldBlockSide, block[2] * kFieldBlockSide};
    const GridPoint span = {std::min(kFieldBlockSide, cells.cellsX - first[0]),
        std::min(kFieldBlockSide, cells.cellsY - first[1]), std::min(kFieldBlockSide, cells.cellsZ - first[2])};
    if (span[0] <= 0 || span[1] <= 0 || span[2] <= 0)
        return;
    const float* own = field.values.data() + slot * static_cast<std::size_t>(kFieldBlockPoints);
    std::uint8_t inside[side * side * side];
    for (std::int64_t z = 0; z <= span[2]; ++z)
        for (std::int64_t y = 0; y <= span[1]; ++y)
            for (std::int64_t x = 0; x <= span[0]; ++x) {
                const float value = x < kFieldBlockSide && y < kFieldBlockSide && z < kFieldBlockSide
                    ? own[(z * kFieldBlockSide + y) * kFieldBlockSide + x]
                    : ReadValue(field, first[0] + x, first[1] + y, first[2] + z);
                inside[(z * side + y) * side + x] = value < 0.0f ? 1 : 0;
            }
    for (std::int64_t z = 0; z < span[2]; ++z)
        for (std::int64_t y = 0; y < span[1]; ++y)
            for (std::int64_t x = 0; x < span[0]; ++x) {
                unsigned mask = 0;
                for (int c = 0; c < 8; ++c)
                    mask |= unsigned{inside[((z + (c >> 2)) * side + y + ((c >> 1) & 1)) * side + x + (c & 1)]} << c;
                if (mask == 0 || mask == 255)
                    continue;
                const std::int64_t id =
                    ((first[2] + z) * cells.cellsY + first[1] + y) * cells.cellsX + first[0] + x;
                out.push_back({id, static_cast<std::uint8_t>(mask), static_cast<std::uint8_t>(z * kFieldBlockSide + y)});
            }
}

// ---- Cell vertices ---------------------------------------------------------------------

// The field round one cell: the 4 x 4 x 4 grid points from one before its corner 0 to one
// past its far corner on each axis, which hold its corners and every point their central
// differences read, and the gradients at its eight corners. All are read up front, without
// branches that depend on the cell's case: straight from the stored blocks, or through ValueAt
// for a point of a block that is not stored or beyond the grid. The values are those of
// ValueAt and Gradient exactly.
class CellNeighbourhood {
public:
    CellNeighbourhood(const SolidField& field, const GridPoint& at)
    {
        std::int64_t block[3][4];
        std::int64_t offset[3][4];
        bool inGrid[3][4];
        std::int64_t points[3];
        for (int k = 0; k < 3; ++k) {
            points[k] = Points(field, k);
            for (int i = 0; i < 4; ++i) {
                const std::int64_t c = at[k] - 1 + i;
                inGrid[k][i] = c >= 0 && c < points[k];
                block[k][i] = inGrid[k][i] ? c / kFieldBlockSide : 0;
                offset[k][i] = inGrid[k][i] ? c % kFieldBlockSide : 0;
            }
        }
        for (int k = 0; k < 4; ++k)
            for (int j = 0; j < 4; ++j) {
                const bool rowInGrid = inGrid[2][k] && inGrid[1][j];
                const std::int64_t rowBlock = (block[2][k] * field.blocksY + block[1][j]) * field.blocksX;
                const std::int64_t rowOffset = offset[2][k] * 64 + offset[1][j] * 8;
                for (int i = 0; i < 4; ++i) {
                    std::int32_t slot = -1;
                    if (rowInGrid && inGrid[0][i])
                        slot = field.blockIndex[static_cast<std::size_t>(rowBlock + block[0][i])];
                    const std::int64_t index = std::int64_t{slot} * kFieldBlockPoints + rowOffset + offset[0][i];
                    slots_[k][j][i] = slot >= 0 ? index : -1;
                    values_[k][j][i] = slot >= 0 ? field.values[static_cast<std::size_t>(index)]
                                                 : field.ValueAt(at[0] - 1 + i, at[1] - 1 + j, at[2] - 1 + k);
                }
            }
        for (int c = 0; c < 8; ++c) {
            const int corner[3] = {1 + (c & 1), 1 + ((c >> 1) & 1), 1 + ((c >> 2) & 1)};
            for (int axis = 0; axis < 3; ++axis) {
                const std::int64_t p = at[axis] + corner[axis] - 1;
                const std::int64_t hi = std::min(p + 1, points[axis] - 1);
                const std::int64_t lo = std::max(p - 1, std::int64_t{0});
                double g = 0.0;
                if (hi > lo) {
                    int high[3] = {corner[0], corner[1], corner[2]};
                    int low[3] = {corner[0], corner[1], corner[2]};
                    high[axis] = static_cast<int>(hi - at[axis] + 1);
                    low[axis] = static_cast<int>(lo - at[axis] + 1);
                    g = (static_cast<double>(values_[high[2]][high[1]][high[0]]) - values_[low[2]][low[1]][low[0]])
                        / (static_cast<double>(hi - lo) * field.cell);
                }
                gradients_[c][static_cast<std::size_t>(axis)] = g;
            }
        }
    }

    // Value at corner c of the cell.
    float CornerValue(int c) const { return values_[1 + ((c >> 2) & 1)][1 + ((c >> 1) & 1)][1 + (c & 1)]; }

    // Slot in the field's values of corner c, or -1 when its block is not stored.
    std::int64_t CornerSlot(int c) const { return slots_[1 + ((c >> 2) & 1)][1 + ((c >> 1) & 1)][1 + (c & 1)]; }

    // Gradient (as SolidField::Gradient) at corner c of the cell.
    const std::array<double, 3>& CornerGradient(int c) const { return gradients_[c]; }

private:
    float values_[4][4][4];
    std::int64_t slots_[4][4][4];
    std::array<double, 3> gradients_[8];
};

bool IsDisplacedCorner(const SolidField& field, const CellNeighbourhood& around, int corner)
{
    const std::int64_t slot = around.CornerSlot(corner);
    return slot >= 0 && field.displaced[static_cast<std::size_t>(slot)] != 0;
}

// Where along an edge the field crosses zero, from the values at its two ends.
double CrossingFraction(double f0, double f1)
{
    if (f0 == f1)
        return 0.5;
    const double t = f0 / (f0 - f1);
    if (std::isnan(t))
        return 0.5;
    return std::clamp(t, 0.0, 1.0);
}

// Adds the crossing of edge `edge` of the cell to the piece.
void AddEdgeCrossing(const SolidField& field, const CellNeighbourhood& around, int edge, PieceCrossings& piece)
{
    const int k = edge >> 2;
    const int a1 = (k + 1) % 3;
    const int a2 = (k + 2) % 3;
    const int s1 = edge & 1;
    const int s2 = (edge >> 1) & 1;
    const int start = EdgeStartCorner(edge);
    const int end = EdgeEndCorner(edge);
    const double t = CrossingFraction(around.CornerValue(start), around.CornerValue(end));
    const int i = piece.count++;
    piece.points[i].x[k] = t;
    piece.points[i].x[a1] = s1;
    piece.points[i].x[a2] = s2;
    const std::array<double, 3>& g0 = around.CornerGradient(start);
    const std::array<double, 3>& g1 = around.CornerGradient(end);
    double n[3];
    for (int axis = 0; axis < 3; ++axis)
        n[axis] = (1.0 - t) * g0[axis] + t * g1[axis];
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    piece.use[i] = length > kShortestNormal ? 1 : 0;
    for (int axis = 0; axis < 3; ++axis)
        piece.normals[i].x[axis] = piece.use[i] != 0 ? n[axis] / length : 0.0;
    (s1 != 0 ? piece.touchesHigh : piece.touchesLow)[a1] = true;
    (s2 != 0 ? piece.touchesHigh : piece.touchesLow)[a2] = true;
    piece.displaced = piece.displaced || IsDisplacedCorner(field, around, start) || IsDisplacedCorner(field, around, end);
}

// A vertex keeps above the floor, and one within half a cell above it in the cell that holds
// the floor lands on it: the base comes out flat.
float KeepAboveFloor(const SolidField& field, std::int64_t cellZ, float z, float floorZ)
{
    z = std::max(floorZ, z);
    const double low = field.originZ + static_cast<double>(cellZ) * field.cell;
    const double high = field.originZ + static_cast<double>(cellZ + 1) * field.cell;
    const double floor = floorZ;
    if (low < floor && floor < high && static_cast<double>(z) < floor + 0.5 * field.cell)
        z = floorZ;
    return z;
}

Vec3 PlacePieceVertex(const SolidField& field, const GridPoint& at, const PieceCrossings& piece,
    double sharpness, float floorZ)
{
    CellVertexProblem problem;
    problem.points = piece.points;
    problem.normals = piece.normals;
    problem.useNormal = piece.use;
    problem.count = piece.count;
    problem.sharpness = sharpness;
    SetCellVertexBoxes(problem, piece.touchesLow, piece.touchesHigh, ContourVertexMargins(field, at));
    const Point3d local = SolveCellVertex(problem);
    float world[3];
    for (int k = 0; k < 3; ++k)
        world[k] = static_cast<float>(Origin(field, k) + (static_cast<double>(at[k]) + local.x[k]) * field.cell);
    world[2] = KeepAboveFloor(field, at[2], world[2], floorZ);
    return {world[0], world[1], world[2]};
}

// The mean of a piece's edge crossings: inside its cell and on the surface between them, where
// the piece's triangles lie flatter than at the sharp vertex the solve finds.
Vec3 MassPoint(const SolidField& field, const GridPoint& at, const PieceCrossings& piece, float floorZ)
{
    double local[3] = {0.5, 0.5, 0.5};
    if (piece.count > 0) {
        for (int k = 0; k < 3; ++k) {
            double sum = 0.0;
            for (int i = 0; i < piece.count; ++i)
                sum += piece.points[i].x[k];
            local[k] = sum / piece.count;
        }
    }
    float world[3];
    for (int k = 0; k < 3; ++k)
        world[k] = static_cast<float>(Origin(field, k) + (static_cast<double>(at[k]) + local[k]) * field.cell);
    world[2] = KeepAboveFloor(field, at[2], world[2], floorZ);
    return {world[0], world[1], world[2]};
}

// ---- Creases between plain faces ----------------------------------------------------------

// Normals closer than this (10 degrees) lie in one face: planes of one face, or the flat face
// a crease triangle continues. Closer to opposite than its negative, two faces fold back onto
// each other and their planes meet in no usable line.
constexpr double kSameFaceCosine = 0.98481;

// Steps along a crease, as a share of a cell, at which the cells it passes are looked for.
constexpr double kCreaseStepCells = 0.5;

double DotD(const Vec3d& u, const Vec3d& v) { return u.x * v.x + u.y * v.y + u.z * v.z; }

Vec3d CrossD(const Vec3d& u, const Vec3d& v)
{
    return {u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
}

double Axis(const Vec3d& v, int k) { return k == 0 ? v.x : (k == 1 ? v.y : v.z); }

// The cells each crease passes through, as (cell id, crease) pairs sorted by cell.
class CreaseCells {
public:
    CreaseCells(const SolidField& field, const ContourCellList& cells, const std::vector<PlainCrease>* creases)
        : creases_(creases)
    {
        if (creases == nullptr)
            return;
        for (std::size_t c = 0; c < creases->size(); ++c)
            AddCells(field, cells, static_cast<std::uint32_t>(c));
        for (auto* list : {&entries_, &beside_}) {
            std::sort(list->begin(), list->end());
            list->erase(std::unique(list->begin(), list->end()), list->end());
        }
    }

    // Where the vertex `at` of the one piece of a cell (id, its low corner `low`) belongs, held
    // on the creases that pass through the cell: the point of the line their two planes share
    // nearest to it, within the cell. `at` itself when no crease passes, the piece does not
    // cross both faces (the line only clips the cell), the creases hold more than two planes (a
    // corner, or a sliver along a crease leaning between its faces, whose planes would slide the
    // vertex along the line past its neighbours), or the line misses the cell.
    Vec3 HoldOnCrease(std::int64_t id, const Vec3d& low, double cell, const PieceCrossings& piece, Vec3 at) const
    {
        const auto first = std::lower_bound(entries_.begin(), entries_.end(), std::make_pair(id, std::uint32_t{0}));
        Vec3d normals[2];
        double offsets[2];
        int planes = 0;
        for (auto e = first; e != entries_.end() && e->first == id; ++e) {
            const PlainCrease& crease = (*creases_)[e->second];
            for (int k = 0; k < 2; ++k) {
                if (!AddPlane(crease.normals[k], crease.offsets[k], cell, normals, offsets, planes))
                    return at;
            }
        }
        const Vec3d p{at.x, at.y, at.z};
        Vec3d held;
        if (planes != 2 || !CrossesBoth(piece, low, cell, normals, offsets) || !NearestOnLine(normals, offsets, p, held)
            || !WithinCell(normals, low, cell, held))
            return at;
        return {static_cast<float>(held.x), static_cast<float>(held.y), static_cast<float>(held.z)};
    }

    // Where the vertex `at` of the one piece of a cell (id, its low corner `low`) within a cell
    // of a crease belongs when it stands past both of the crease's faces, in the hollow's empty
    // side: on the nearer face's plane. The distance bends on the line between the faces, and a
    // cell beside the crease that it crosses reads its crossings of one face off that face, as
    // the crease's own cells do. `at` itself when it stands behind either face, lies beyond
    // the crease's ends along it, the creases near the cell hold more than two planes, or the
    // plane would take it out of the cell.
    Vec3 KeepOutOfTheHollow(std::int64_t id, const Vec3d& low, double cell, Vec3 at) const
    {
        const auto first = std::lower_bound(beside_.begin(), beside_.end(), std::make_pair(id, std::uint32_t{0}));
        Vec3d normals[2];
        double offsets[2];
        int planes = 0;
        auto e = first;
        for (; e != beside_.end() && e->first == id; ++e) {
            const PlainCrease& crease = (*creases_)[e->second];
            for (int k = 0; k < 2; ++k) {
                if (!AddPlane(crease.normals[k], crease.offsets[k], cell, normals, offsets, planes))
                    return at;
            }
        }
        if (planes != 2)
            return at;
        // How far the creases reach along their line.
        const Vec3d along = CrossD(normals[0], normals[1]);
        double from = std::numeric_limits<double>::infinity();
        double to = -from;
        for (auto f = first; f != e; ++f)
            for (const Vec3d& end : (*creases_)[f->second].ends) {
                from = std::min(from, DotD(along, end));
                to = std::max(to, DotD(along, end));
            }
        const Vec3d p{at.x, at.y, at.z};
        const double past[2] = {DotD(normals[0], p) - offsets[0], DotD(normals[1], p) - offsets[1]};
        if (!(past[0] > 0.0 && past[1] > 0.0) || DotD(along, p) < from || DotD(along, p) > to)
            return at;
        const int k = past[0] <= past[1] ? 0 : 1;
        const Vec3d held{p.x - past[k] * normals[k].x, p.y - past[k] * normals[k].y, p.z - past[k] * normals[k].z};
        for (int axis = 0; axis < 3; ++axis)
            if (Axis(held, axis) < Axis(low, axis) || Axis(held, axis) > Axis(low, axis) + cell)
                return at;
        return {static_cast<float>(held.x), static_cast<float>(held.y), static_cast<float>(held.z)};
    }

private:
    // Adds a plane unless one within the crease angle and a hundredth of a cell is there; false
    // when a third would be needed.
    static bool AddPlane(const Vec3d& n, double d, double cell, Vec3d (&normals)[2], double (&offsets)[2], int& planes)
    {
        for (int j = 0; j < planes; ++j)
            if (DotD(normals[j], n) >= kSameFaceCosine && std::fabs(offsets[j] - d) <= 0.01 * cell)
                return true;
        if (planes == 2)
            return false;
        normals[planes] = n;
        offsets[planes++] = d;
        return true;
    }

    // Whether the piece crosses both faces: some crossing lies nearer to each plane than to the
    // other (within half a cell of it). A cell the line only clips has its crossings on one.
    static bool CrossesBoth(const PieceCrossings& piece, const Vec3d& low, double cell, const Vec3d (&n)[2],
        const double (&d)[2])
    {
        bool crosses[2] = {false, false};
        for (int i = 0; i < piece.count; ++i) {
            const Vec3d x{low.x + piece.points[i].x[0] * cell, low.y + piece.points[i].x[1] * cell,
                low.z + piece.points[i].x[2] * cell};
            const double off[2] = {std::fabs(DotD(n[0], x) - d[0]), std::fabs(DotD(n[1], x) - d[1])};
            const int nearer = off[0] <= off[1] ? 0 : 1;
            crosses[nearer] = crosses[nearer] || off[nearer] <= 0.5 * cell;
        }
        return crosses[0] && crosses[1];
    }

    // Moves `held`, a point of the line the planes share, along the line to the nearest point
    // within the cell's box; false when the line misses the box.
    static bool WithinCell(const Vec3d (&n)[2], const Vec3d& low, double cell, Vec3d& held)
    {
        Vec3d u = CrossD(n[0], n[1]);
        const double length = std::sqrt(DotD(u, u));
        u = {u.x / length, u.y / length, u.z / length};
        double enter = -std::numeric_limits<double>::infinity();
        double leave = std::numeric_limits<double>::infinity();
        // A unit direction this short along an axis runs within that axis's slab.
        const auto alongSlab = [](double step) { return std::fabs(step) < 1e-12; };
        if (!ClipToCell(held, u, alongSlab, low, cell, enter, leave))
            return false;
        const double s = std::clamp(0.0, enter, leave);
        held = {held.x + s * u.x, held.y + s * u.y, held.z + s * u.z};
        return true;
    }

    static bool NearestOnLine(const Vec3d (&n)[2], const double (&d)[2], const Vec3d& p, Vec3d& held)
    {
        const double b = DotD(n[0], n[1]);
        const double det = 1.0 - b * b;
        if (!(det > 1.0 - kSameFaceCosine * kSameFaceCosine))
            return false;
        const double r0 = DotD(n[0], p) - d[0];
        const double r1 = DotD(n[1], p) - d[1];
        const double l0 = (r0 - b * r1) / det;
        const double l1 = (r1 - b * r0) / det;
        held = {p.x - l0 * n[0].x - l1 * n[1].x, p.y - l0 * n[0].y - l1 * n[1].y, p.z - l0 * n[0].z - l1 * n[1].z};
        return true;
    }

    // The cells whose boxes the crease's segment passes through, found along steps of half a cell.
    void AddCells(const SolidField& field, const ContourCellList& cells, std::uint32_t c)
    {
        const PlainCrease& crease = (*creases_)[c];
        const double h = field.cell;
        const Vec3d a = crease.ends[0];
        const Vec3d b = crease.ends[1];
        const double length = std::sqrt(DotD({b.x - a.x, b.y - a.y, b.z - a.z}, {b.x - a.x, b.y - a.y, b.z - a.z}));
        if (!std::isfinite(length))
            return;
        const double steps = std::ceil(length / (kCreaseStepCells * h));
        if (!(steps < 1e6))
            return;  // far longer than the field: no crease of a part it holds
        const auto count = std::max<std::int64_t>(1, static_cast<std::int64_t>(steps));
        for (std::int64_t i = 0; i < count; ++i) {
            const double s0 = static_cast<double>(i) / static_cast<double>(count);
            const double s1 = static_cast<double>(i + 1) / static_cast<double>(count);
            const Vec3d p{a.x + (b.x - a.x) * s0, a.y + (b.y - a.y) * s0, a.z + (b.z - a.z) * s0};
            const Vec3d q{a.x + (b.x - a.x) * s1, a.y + (b.y - a.y) * s1, a.z + (b.z - a.z) * s1};
            AddCellsOfStep(field, cells, c, p, q);
        }
    }

    void AddCellsOfStep(const SolidField& field, const ContourCellList& cells, std::uint32_t c, const Vec3d& p,
        const Vec3d& q)
    {
        const double h = field.cell;
        std::int64_t lo[3];
        std::int64_t hi[3];
        const std::int64_t count[3] = {cells.cellsX, cells.cellsY, cells.cellsZ};
        for (int k = 0; k < 3; ++k) {
            // A cell either side of the step's own, for the cells beside the crease.
            const double low = (std::min(Axis(p, k), Axis(q, k)) - Origin(field, k)) / h - 1.0;
            const double high = (std::max(Axis(p, k), Axis(q, k)) - Origin(field, k)) / h + 1.0;
            if (!(high >= 0.0) || !(low < static_cast<double>(count[k])))
                return;
            lo[k] = std::max<std::int64_t>(0, static_cast<std::int64_t>(std::floor(low)));
            hi[k] = std::min<std::int64_t>(count[k] - 1, static_cast<std::int64_t>(std::floor(high)));
        }
        for (std::int64_t z = lo[2]; z <= hi[2]; ++z)
            for (std::int64_t y = lo[1]; y <= hi[1]; ++y)
                for (std::int64_t x = lo[0]; x <= hi[0]; ++x) {
                    const std::int64_t id = (z * cells.cellsY + y) * cells.cellsX + x;
                    beside_.emplace_back(id, c);
                    if (SegmentMeetsCell(field, {x, y, z}, p, q))
                        entries_.emplace_back(id, c);
                }
    }

    // Slab test of the segment p-q against the cell's box.
    static bool SegmentMeetsCell(const SolidField& field, const GridPoint& at, const Vec3d& p, const Vec3d& q)
    {
        const Vec3d low{Origin(field, 0) + static_cast<double>(at[0]) * field.cell,
            Origin(field, 1) + static_cast<double>(at[1]) * field.cell,
            Origin(field, 2) + static_cast<double>(at[2]) * field.cell};
        double enter = 0.0;
        double leave = 1.0;
        const auto alongSlab = [](double step) { return step == 0.0; };
        return ClipToCell(p, {q.x - p.x, q.y - p.y, q.z - p.z}, alongSlab, low, field.cell, enter, leave);
    }

    // The slab test: narrows [enter, leave] to the stretch of from + t * along within the cell's
    // box (side `cell` from its corner `low`); false when nothing of it is left. Along an axis
    // where alongSlab(step) holds the line runs within that axis's slab or misses the box.
    template <class AlongSlab>
    static bool ClipToCell(const Vec3d& from, const Vec3d& along, AlongSlab alongSlab, const Vec3d& low, double cell,
        double& enter, double& leave)
    {
        for (int k = 0; k < 3; ++k) {
            const double start = Axis(from, k);
            const double step = Axis(along, k);
            const double lo = Axis(low, k);
            const double hi = lo + cell;
            if (alongSlab(step)) {
                if (start < lo || start > hi)
                    return false;
                continue;
            }
            double t0 = (lo - start) / step;
            double t1 = (hi - start) / step;
            if (t0 > t1)
                std::swap(t0, t1);
            enter = std::max(enter, t0);
            leave = std::min(leave, t1);
        }
        return enter <= leave;
    }

    const std::vector<PlainCrease>* creases_ = nullptr;
    std::vector<std::pair<std::int64_t, std::uint32_t>> entries_;  // cells a crease passes through
    std::vector<std::pair<std::int64_t, std::uint32_t>> beside_;   // and those within a cell of one
};

// Rounds of the crossing guard that take the vertices round a crossing halfway to their mass
// points; after them the vertices still round one go there whole.
constexpr int kContourHalvingRounds = 4;
constexpr int kMostContourCrossingRounds = 8;
// From this round on the vertices round a crossing's corners give way too.
constexpr int kContourWidenFromRound = 3;

// Where the sharp vertices of neighbouring cells lean past each other (a thin fin, a fold of
// the relief finer than a cell) their triangles can cross. Round every crossing the vertices of
// both triangles move halfway to their mass points, round after round, widening to the vertices
// round them, then go there whole: the flatter surface through the edge crossings parts what
// the sharp one made meet. Only pairs with a triangle that has a sharp corner (off its mass
// point) are looked for: where every corner already lies on its mass point there is nothing
// to ease, and most of a relief is smooth, so the search stays near the sharp places. Returns
// the pairs found at first and those left.
std::pair<std::uint64_t, std::uint64_t> EaseContourCrossings(TriangleMesh& mesh, const std::vector<Vec3>& mass,
    double cell)
{
    const float offMass = static_cast<float>(1e-3 * cell);
    std::vector<std::uint8_t> sharp(mesh.TriangleCount(), 0);
    bool anySharp = false;
    for (std::size_t t = 0; t < sharp.size(); ++t)
        for (std::size_t k = 0; k < 3 && sharp[t] == 0; ++k) {
            const std::uint32_t v = mesh.indices[3 * t + k];
            if (Length(mesh.vertices[v].position - mass[v]) > offMass) {
                sharp[t] = 1;
                anySharp = true;
            }
        }
    if (!anySharp)
        return {0, 0};
    std::vector<std::uint32_t> found;
    bool stopped = false;
    FindSelfIntersections(mesh, sharp, kSearchPairLimit, found, stopped);
    const std::uint64_t first = found.size() / 2;
    if (stopped || found.empty())
        return {first, stopped ? first : 0};
    const VertexAdjacency faces = BuildVertexAdjacency(mesh);
    std::vector<std::uint32_t> mark(mesh.vertices.size(), 0);
    std::vector<std::uint8_t> moved(mesh.vertices.size(), 0);
    std::vector<std::pair<std::uint32_t, Vec3>> placed;  // where each moved vertex was first
    // Far out, where a coordinate steps by a good share of a cell, the mass points can lie no
    // better than the vertices did: a guard that leaves more crossings than it found undoes itself.
    const auto giveBack = [&] {
        for (const auto& [v, position] : placed)
            mesh.vertices[v].position = position;
        return std::pair<std::uint64_t, std::uint64_t>{first, first};
    };
    std::vector<std::uint8_t> focus(mesh.TriangleCount(), 0);
    for (std::uint32_t round = 1; !found.empty() && round <= kMostContourCrossingRounds; ++round) {
        const std::vector<std::uint32_t> work =
            GuardWorkSet(mesh, faces, found, round >= kContourWidenFromRound, mark, round);
        const float keep = round <= kContourHalvingRounds ? 0.5f : 0.0f;
        std::fill(focus.begin(), focus.end(), 0);
        for (const std::uint32_t v : work) {
            Vec3& p = mesh.vertices[v].position;
            if (moved[v] == 0) {
                moved[v] = 1;
                placed.emplace_back(v, p);
            }
            p = mass[v] + (p - mass[v]) * keep;
            FlagTrianglesRound(faces, v, focus);
        }
        FindSelfIntersections(mesh, focus, kSearchPairLimit, found, stopped);
        if (stopped)
            return giveBack();
    }
    if (found.empty())
        return {first, 0};
    // Those left may lie apart from the rounds' focus: counted as at first, with the triangles
    // round every moved vertex.
    for (const auto& [v, position] : placed)
        FlagTrianglesRound(faces, v, sharp);
    FindSelfIntersections(mesh, sharp, kSearchPairLimit, found, stopped);
    if (stopped || found.size() / 2 >= first)
        return giveBack();
    return {first, found.size() / 2};
}

// ---- Quads -----------------------------------------------------------------------------

// Where each row of cells (one y and z) starts in the sorted list, so that a cell is found by
// a search within its row instead of the whole list. A grid with far more rows than listed
// cells keeps no index and searches the whole list.
class CellRows {
public:
    CellRows(const ContourCellList& cells, JobProgressContext* job) : cells_(cells)
    {
        const std::size_t n = cells.ids.size();
        if (cells.cellsX <= 0 || cells.cellsY <= 0 || cells.cellsZ <= 0 || n == 0)
            return;
        const std::uint64_t rows = static_cast<std::uint64_t>(cells.cellsY) * static_cast<std::uint64_t>(cells.cellsZ);
        if (rows / 8 > n + (std::uint64_t{1} << 20))
            return;
        starts_.resize(static_cast<std::size_t>(rows) + 1);
        // Every row from just after the previous cell's row up to this cell's starts here.
        ParallelBlocks(n + 1, kFlipBytesBlock, [&](std::size_t begin, std::size_t end, std::size_t) {
            for (std::size_t i = begin; i < end; ++i) {
                const std::uint64_t first = i == 0 ? 0 : static_cast<std::uint64_t>(cells.ids[i - 1] / cells.cellsX) + 1;
                const std::uint64_t last = i == n ? rows : static_cast<std::uint64_t>(cells.ids[i] / cells.cellsX);
                for (std::uint64_t r = first; r <= last; ++r)
                    starts_[static_cast<std::size_t>(r)] = i;
            }
        }, job);
    }

    // As FindContourCell.
    std::int64_t Find(std::int64_t x, std::int64_t y, std::int64_t z) const
    {
        if (starts_.empty())
            return FindContourCell(cells_, x, y, z);
        if (x < 0 || y < 0 || z < 0 || x >= cells_.cellsX || y >= cells_.cellsY || z >= cells_.cellsZ)
            return -1;
        const std::int64_t row = z * cells_.cellsY + y;
        const std::int64_t id = row * cells_.cellsX + x;
        const auto first = cells_.ids.begin() + static_cast<std::ptrdiff_t>(starts_[static_cast<std::size_t>(row)]);
        const auto last = cells_.ids.begin() + static_cast<std::ptrdiff_t>(starts_[static_cast<std::size_t>(row) + 1]);
        const auto found = std::lower_bound(first, last, id);
        if (found == last || *found != id)
            return -1;
        return found - cells_.ids.begin();
    }

private:
    const ContourCellList& cells_;
    std::vector<std::size_t> starts_;
};

// The vertices round the sign-changing edge along axis k that leaves corner 0 of cell `cell`
// (at `at`), in ring order: the cell, the one lower on a1, lower on both, lower on a2. False
// when a cell is not listed or lacks the edge.
bool QuadRing(const ContourCellList& cells, const CellRows& rows, std::size_t cell, const GridPoint& at, int k,
    std::uint32_t ring[4])
{
    const int a1 = (k + 1) % 3;
    const int a2 = (k + 2) % 3;
    for (int r = 0; r < 4; ++r) {
        const int s1 = (r == 1 || r == 2) ? 1 : 0;
        const int s2 = (r == 2 || r == 3) ? 1 : 0;
        GridPoint c = at;
        c[a1] -= s1;
        c[a2] -= s2;
        const std::int64_t found = r == 0 ? static_cast<std::int64_t>(cell) : rows.Find(c[0], c[1], c[2]);
        if (found < 0)
            return false;
        const std::size_t j = static_cast<std::size_t>(found);
        std::array<std::uint8_t, 12> components{};
        const int count = CellEdgeComponents(cells.masks[j], cells.flips[j], components);
        const std::uint8_t component = components[4 * k + s1 + 2 * s2];
        if (component == kNoComponent || component >= count)
            return false;
        ring[r] = static_cast<std::uint32_t>(cells.vertexOffsets[j] + component);
    }
    return true;
}

// Writes the two triangles of the quad round the edge along axis k of the cell at `at`.
bool TriangulateEdge(const SolidField& field, const ContourCellList& cells, const CellRows& rows, std::size_t cell,
    const GridPoint& at, std::uint8_t mask, int k, const std::vector<MeshVertex>& vertices, std::uint32_t* slot)
{
    std::uint32_t ring[4];
    if (!QuadRing(cells, rows, cell, at, k, ring))
        return false;
    // With corner 0 inside the surface faces +k, and the ring as listed runs counter-clockwise
    // seen from there; otherwise it is reversed.
    const bool inside = (mask & 1) != 0;
    const std::uint32_t q[4] = {ring[0], inside ? ring[1] : ring[3], ring[2], inside ? ring[3] : ring[1]};
    Point3d quad[4];
    for (int r = 0; r < 4; ++r) {
        const Vec3 p = vertices[q[r]].position;
        quad[r] = Point3d{{p.x, p.y, p.z}};
    }
    const int a1 = (k + 1) % 3;
    const int a2 = (k + 2) % 3;
    GridPoint next = at;
    next[k] += 1;
    const double t = CrossingFraction(ReadValue(field, at[0], at[1], at[2]), ReadValue(field, next[0], next[1], next[2]));
    const double u = Origin(field, a1) + static_cast<double>(at[a1]) * field.cell;
    const double w = Origin(field, a2) + static_cast<double>(at[a2]) * field.cell;
    const double height = Origin(field, k) + (static_cast<double>(at[k]) + t) * field.cell;
    const bool along13 = SplitQuad(quad, k, inside ? 1 : -1, true, u, w, height, field.cell);
    const std::uint32_t triangles[6] = {q[0], q[1], along13 ? q[3] : q[2], along13 ? q[1] : q[0], q[2], q[3]};
    std::copy(triangles, triangles + 6, slot);
    return true;
}

// Six indices per quad, in cell and axis order; a quad that cannot be made stays six zeros and
// sets `holes`.
std::vector<std::uint32_t> BuildQuadIndices(const SolidField& field, const ContourCellList& cells,
    std::uint64_t quads, const std::vector<MeshVertex>& vertices, std::atomic<bool>& holes,
    JobProgressContext* job)
{
    std::vector<std::uint32_t> indices(static_cast<std::size_t>(6 * quads), 0u);
    const CellRows rows(cells, job);
    ParallelBlocks(cells.ids.size(), kQuadsBlock, [&](std::size_t begin, std::size_t end, std::size_t) {
        for (std::size_t i = begin; i < end; ++i) {
            const GridPoint at = cells.Coordinates(i);
            const std::uint8_t mask = cells.masks[i];
            std::uint64_t slot = cells.quadOffsets[i];
            for (int k = 0; k < 3; ++k) {
                if (((mask >> (1 << k)) & 1) == (mask & 1))
                    continue;
                if (!TriangulateEdge(field, cells, rows, i, at, mask, k, vertices, indices.data() + 6 * slot))
                    holes.exchange(true);
                ++slot;
            }
        }
    }, job);
    return indices;
}

// The vertex of every piece of every cell, given to store(vertex number, position).
// Cells are taken in `order` (positions in the list) when it is given, else in list order;
// each cell's vertices are its own, so the order changes no result.
template <class Store>
void PlaceVertices(const SolidField& field, const ContourCellList& cells, const std::vector<std::size_t>* order,
    float floorZ, double sharpness, bool smoothDisplaced, const std::vector<PlainCrease>* plainCreases,
    JobProgressContext* job, Store&& store)
{
    const CreaseCells creases(field, cells, plainCreases);
    ParallelBlocks(cells.ids.size(), kCellVerticesBlock, [&](std::size_t begin, std::size_t end, std::size_t) {
        // Every piece sets what it reads; the crossings past its count are never read.
        PieceCrossings piece;
        for (std::size_t j = begin; j < end; ++j) {
            const std::size_t i = order != nullptr ? (*order)[j] : j;
            const GridPoint at = cells.Coordinates(i);
            std::array<std::uint8_t, 12> components{};
            const int count = CellEdgeComponents(cells.masks[i], cells.flips[i], components);
            const CellNeighbourhood around(field, at);
            for (int c = 0; c < count; ++c) {
                piece.count = 0;
                for (int k = 0; k < 3; ++k)
                    piece.touchesLow[k] = piece.touchesHigh[k] = false;
                piece.displaced = false;
                for (int edge = 0; edge < 12; ++edge)
                    if (components[edge] == c)
                        AddEdgeCrossing(field, around, edge, piece);
                const double pieceSharpness = smoothDisplaced && piece.displaced ? 0.0 : sharpness;
                Vec3 vertex = PlacePieceVertex(field, at, piece, pieceSharpness, floorZ);
                if (count == 1) {
                    const Vec3d low{Origin(field, 0) + static_cast<double>(at[0]) * field.cell,
                        Origin(field, 1) + static_cast<double>(at[1]) * field.cell,
                        Origin(field, 2) + static_cast<double>(at[2]) * field.cell};
                    vertex = creases.HoldOnCrease(cells.ids[i], low, field.cell, piece, vertex);
                    vertex = creases.KeepOutOfTheHollow(cells.ids[i], low, field.cell, vertex);
                    vertex.z = KeepAboveFloor(field, at[2], vertex.z, floorZ);
                }
                store(cells.vertexOffsets[i] + static_cast<std::uint64_t>(c), vertex,
                    MassPoint(field, at, piece, floorZ));
            }
        }
    }, job);
}

}  // namespace

// ---- The steps -------------------------------------------------------------------------

std::array<std::int64_t, 3> ContourCellList::Coordinates(std::size_t cell) const
{
    const std::int64_t id = ids[cell];
    return {id % cellsX, (id / cellsX) % cellsY, id / (cellsX * cellsY)};
}

std::int64_t FindContourCell(const ContourCellList& cells, std::int64_t x, std::int64_t y, std::int64_t z)
{
    if (x < 0 || y < 0 || z < 0 || x >= cells.cellsX || y >= cells.cellsY || z >= cells.cellsZ)
        return -1;
    const std::int64_t id = (z * cells.cellsY + y) * cells.cellsX + x;
    const auto found = std::lower_bound(cells.ids.begin(), cells.ids.end(), id);
    if (found == cells.ids.end() || *found != id)
        return -1;
    return found - cells.ids.begin();
}

namespace {

// ListContourCells; with `blockOrder`, also the cells' positions in the list block by block
// (blocks in grid order, each block's cells in id order), an order in which neighbouring
// cells read the same few blocks of the field one after another.
ContourCellList ListCells(const SolidField& field, JobProgressContext* job, std::vector<std::size_t>* blockOrder)
{
    ContourCellList cells;
    cells.cellsX = std::max<std::int64_t>(0, field.pointsX - 1);
    cells.cellsY = std::max<std::int64_t>(0, field.pointsY - 1);
    cells.cellsZ = std::max<std::int64_t>(0, field.pointsZ - 1);
    const std::vector<GridPoint> blocks = StoredBlocks(field);
    std::vector<std::vector<CellEntry>> perBlock(blocks.size());
    ParallelBlocks(blocks.size(), kSignChangeBlock, [&](std::size_t begin, std::size_t end, std::size_t) {
        for (std::size_t b = begin; b < end; ++b)
            if (blocks[b][0] >= 0)
                ListBlockCells(field, cells, blocks[b], b, perBlock[b]);
    }, job);
    // Each layer of blocks holds the cells of its eight z values: the layers' lists follow one
    // another in id order, so each is put in order on its own and written at its offset.
    const auto layers = static_cast<std::size_t>(field.blocksZ);
    const auto blocksPerLayer = static_cast<std::size_t>(field.blocksY * field.blocksX);
    const auto blocksPerRow = static_cast<std::size_t>(field.blocksX);
    std::vector<std::size_t> layerOffsets(layers + 1, 0);
    std::vector<std::size_t> blockStarts(perBlock.size(), 0);  // in the block order, by slot
    for (std::size_t layer = 0; layer < layers; ++layer) {
        std::size_t count = layerOffsets[layer];
        for (std::size_t b = layer * blocksPerLayer; b < (layer + 1) * blocksPerLayer; ++b)
            if (field.blockIndex[b] >= 0) {
                const auto slot = static_cast<std::size_t>(field.blockIndex[b]);
                blockStarts[slot] = count;
                count += perBlock[slot].size();
            }
        layerOffsets[layer + 1] = count;
    }
    const std::size_t total = layerOffsets[layers];
    cells.ids.resize(total);
    cells.masks.resize(total);
    if (blockOrder != nullptr)
        blockOrder->resize(total);
    ParallelBlocks(layers, 1, [&](std::size_t begin, std::size_t end, std::size_t) {
        std::vector<std::size_t> row;  // slots of the stored blocks of a row that have cells
        for (std::size_t layer = begin; layer < end; ++layer) {
            std::size_t out = layerOffsets[layer];
            // Cell z, then y across the rows of blocks, then x across a row's blocks: id order.
            for (std::uint8_t z = 0; z < kFieldBlockSide; ++z)
                for (std::size_t rowStart = layer * blocksPerLayer; rowStart < (layer + 1) * blocksPerLayer;
                     rowStart += blocksPerRow) {
                    row.clear();
                    for (std::size_t b = rowStart; b < rowStart + blocksPerRow; ++b)
                        if (field.blockIndex[b] >= 0 && !perBlock[static_cast<std::size_t>(field.blockIndex[b])].empty())
                            row.push_back(static_cast<std::size_t>(field.blockIndex[b]));
                    for (std::uint8_t y = 0; y < kFieldBlockSide && !row.empty(); ++y) {
                        const auto wanted = static_cast<std::uint8_t>(z * kFieldBlockSide + y);
                        for (const std::size_t slot : row) {
                            const std::vector<CellEntry>& list = perBlock[slot];
                            // A block's cells come in its own row order; skip to the row wanted.
                            auto it = std::lower_bound(list.begin(), list.end(), wanted,
                                [](const CellEntry& e, std::uint8_t r) { return e.row < r; });
                            for (; it != list.end() && it->row == wanted; ++it) {
                                cells.ids[out] = it->id;
                                cells.masks[out] = it->mask;
                                if (blockOrder != nullptr)
                                    (*blockOrder)[blockStarts[slot] + static_cast<std::size_t>(it - list.begin())] = out;
                                ++out;
                            }
                        }
                    }
                }
        }
    }, job);
    cells.flips.assign(total, 0);
    return cells;
}

}  // namespace

ContourCellList ListContourCells(const SolidField& field, JobProgressContext* job)
{
    return ListCells(field, job, nullptr);
}

void SetFlipBytes(ContourCellList& cells, JobProgressContext* job)
{
    cells.flips.assign(cells.ids.size(), 0);
    ParallelBlocks(cells.ids.size(), kFlipBytesBlock, [&](std::size_t begin, std::size_t end, std::size_t) {
        for (std::size_t i = begin; i < end; ++i) {
            const GridPoint at = cells.Coordinates(i);
            cells.flips[i] = FlipsForJoinedFaces(cells.masks[i], [&](int f) {
                GridPoint other = at;
                other[static_cast<std::size_t>(f / 2)] += (f % 2) != 0 ? 1 : -1;
                const std::int64_t j = FindContourCell(cells, other[0], other[1], other[2]);
                return j < 0 ? -1 : int{cells.masks[static_cast<std::size_t>(j)]};
            });
        }
    }, job);
}

std::uint64_t NumberContourCells(ContourCellList& cells, SolidContourContext& context, std::uint64_t& quads)
{
    const std::size_t n = cells.ids.size();
    cells.vertexOffsets.assign(n + 1, 0);
    cells.quadOffsets.assign(n + 1, 0);
    // A scan in blocks: each block counts its cells into their own slots (exact integers), the
    // blocks' totals are summed in order, and each block adds its start.
    constexpr std::size_t kBlock = 16384;
    const std::size_t blocks = (n + kBlock - 1) / kBlock;
    std::vector<std::uint64_t> blockVertices(blocks + 1, 0), blockQuads(blocks + 1, 0), blockFlipped(blocks, 0);
    ParallelForBlocks(n, kBlock, [&](std::size_t begin, std::size_t end) {
        std::uint64_t vertices = 0;
        std::uint64_t count = 0;
        std::uint64_t flipped = 0;
        for (std::size_t i = begin; i < end; ++i) {
            std::array<std::uint8_t, 12> components{};
            cells.vertexOffsets[i] = vertices;
            cells.quadOffsets[i] = count;
            vertices += static_cast<std::uint64_t>(CellEdgeComponents(cells.masks[i], cells.flips[i], components));
            count += static_cast<std::uint64_t>(SignChangingAxesAtCorner0(cells.masks[i]));
            flipped += cells.flips[i] != 0 ? 1 : 0;
        }
        blockVertices[begin / kBlock + 1] = vertices;
        blockQuads[begin / kBlock + 1] = count;
        blockFlipped[begin / kBlock] = flipped;
    });
    std::uint64_t flipped = 0;
    for (std::size_t b = 0; b < blocks; ++b) {
        blockVertices[b + 1] += blockVertices[b];
        blockQuads[b + 1] += blockQuads[b];
        flipped += blockFlipped[b];
    }
    ParallelForBlocks(n, kBlock, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            cells.vertexOffsets[i] += blockVertices[begin / kBlock];
            cells.quadOffsets[i] += blockQuads[begin / kBlock];
        }
    });
    const std::uint64_t vertices = blockVertices[blocks];
    quads = blockQuads[blocks];
    cells.vertexOffsets[n] = vertices;
    cells.quadOffsets[n] = quads;
    context.cellsContoured = n;
    context.flippedCells = flipped;
    return vertices;
}

bool RefuseOversizedContour(std::uint64_t quads, std::uint64_t vertices, SolidContourContext& context)
{
    constexpr std::uint64_t kMost = std::numeric_limits<std::uint64_t>::max();
    const bool beyondCounting = quads > kMost / 2;
    context.estimatedTriangles = beyondCounting ? kMost : 2 * quads;
    // 32-bit indices name at most 2^32 vertices; more would wrap round to wrong triangles.
    if (beyondCounting || context.estimatedTriangles > context.triangleLimit || vertices > kMostVertices) {
        context.refused = true;
        return true;
    }
    return false;
}

std::array<double, 3> ContourVertexMargins(const SolidField& field, const GridPoint& at)
{
    std::array<double, 3> margin{};
    for (int k = 0; k < 3; ++k) {
        const double low = Origin(field, k) + static_cast<double>(at[k]) * field.cell;
        margin[k] = CellVertexMargin(low, low + field.cell, field.cell);
    }
    return margin;
}

std::vector<Vec3> PlaceContourVertices(const SolidField& field, const ContourCellList& cells,
    std::uint64_t vertexCount, float floorZ, double sharpness, bool smoothDisplaced, JobProgressContext* job,
    const std::vector<PlainCrease>* plainCreases)
{
    std::vector<Vec3> vertices(static_cast<std::size_t>(vertexCount));
    PlaceVertices(field, cells, nullptr, floorZ, sharpness, smoothDisplaced, plainCreases, job,
        [&](std::uint64_t v, const Vec3& p, const Vec3&) { vertices[static_cast<std::size_t>(v)] = p; });
    return vertices;
}

// ---- The operations --------------------------------------------------------------------

namespace {

constexpr std::uint32_t kNoTriangle = std::numeric_limits<std::uint32_t>::max();

// Whether the corner of t1 off the edge lies in front of t0's plane: the faces meet in a
// hollow, as the walls of a notch do.
bool IsConcaveEdge(const TriangleMesh& mesh, EdgeKey key, std::uint32_t t0, std::uint32_t t1, const Vec3d& n0)
{
    const auto a = static_cast<std::uint32_t>(key >> 32);
    const auto b = static_cast<std::uint32_t>(key);
    std::uint32_t far = a;
    for (int k = 0; k < 3; ++k) {
        const std::uint32_t v = mesh.indices[3 * std::size_t{t1} + k];
        if (v != a && v != b)
            far = v;
    }
    const Vec3 at = mesh.vertices[mesh.indices[3 * std::size_t{t0}]].position;
    const Vec3 p = mesh.vertices[far].position;
    return DotD(n0, {double(p.x) - at.x, double(p.y) - at.y, double(p.z) - at.z}) > 0.0;
}

// Whether triangle t lies in a flat face: a neighbour across another of its edges than the one
// it shares with `partner` faces within kSameFaceCosine of it. A triangle the remesh laid along
// a crease, leaning between its two faces, has no such neighbour, and its kinks with them are
// no crease of the part.
template <class UnitNormal>
bool LiesInAFace(const std::vector<std::uint32_t>& across, std::uint32_t t, std::uint32_t partner,
    const UnitNormal& unitNormal)
{
    const Vec3d n = unitNormal(t);
    for (int k = 0; k < 3; ++k) {
        const std::uint32_t f = across[3 * std::size_t{t} + k];
        if (f != kNoTriangle && f != partner && DotD(unitNormal(f), n) >= kSameFaceCosine)
            return true;
    }
    return false;
}

// Per triangle the triangles across its three edges (edges of exactly two), kNoTriangle where
// there is none.
std::vector<std::uint32_t> TrianglesAcross(const TriangleMesh& mesh, const std::vector<EdgeRecord>& records)
{
    std::vector<std::uint32_t> across(3 * mesh.TriangleCount(), kNoTriangle);
    for (std::size_t i = 0; i < records.size();) {
        std::size_t next = i + 1;
        while (next < records.size() && records[next].key == records[i].key)
            ++next;
        for (std::size_t k = 0; next - i == 2 && k < 2; ++k) {
            std::uint32_t* slots = &across[3 * std::size_t{records[i + k].triangle}];
            std::uint32_t* free = std::find(slots, slots + 3, kNoTriangle);
            if (free != slots + 3)
                *free = records[i + 1 - k].triangle;
        }
        i = next;
    }
    return across;
}

}  // namespace

std::vector<PlainCrease> FindPlainCreases(const TriangleMesh& mesh, const std::vector<std::uint8_t>& plainFaces)
{
    std::vector<PlainCrease> creases;
    if (plainFaces.size() != mesh.TriangleCount() || !mesh.IsConsistent())
        return creases;
    const auto unitNormal = [&](std::uint32_t t) {
        const auto corner = [&](int k) { return mesh.vertices[mesh.indices[3 * std::size_t{t} + k]].position; };
        const Vec3 a = corner(0);
        const Vec3 b = corner(1);
        const Vec3 c = corner(2);
        const Vec3d n = CrossD({double(b.x) - a.x, double(b.y) - a.y, double(b.z) - a.z},
            {double(c.x) - a.x, double(c.y) - a.y, double(c.z) - a.z});
        const double length = std::sqrt(DotD(n, n));
        return length > 0.0 && std::isfinite(length) ? Vec3d{n.x / length, n.y / length, n.z / length} : Vec3d{};
    };
    const std::vector<EdgeRecord> records = BuildEdgeTable(mesh);
    const std::vector<std::uint32_t> across = TrianglesAcross(mesh, records);
    for (std::size_t i = 0; i < records.size();) {
        std::size_t next = i + 1;
        while (next < records.size() && records[next].key == records[i].key)
            ++next;
        const std::uint32_t t0 = records[i].triangle;
        const std::uint32_t t1 = records[i + 1 < records.size() ? i + 1 : i].triangle;
        if (next - i == 2 && plainFaces[t0] != 0 && plainFaces[t1] != 0) {
            const Vec3d n0 = unitNormal(t0);
            const Vec3d n1 = unitNormal(t1);
            const double cosine = DotD(n0, n1);
            if (DotD(n0, n0) > 0.0 && DotD(n1, n1) > 0.0 && cosine < kPlainCreaseCosine && cosine > -kSameFaceCosine
                && IsConcaveEdge(mesh, records[i].key, t0, t1, n0) && LiesInAFace(across, t0, t1, unitNormal)
                && LiesInAFace(across, t1, t0, unitNormal)) {
                const Vec3 a = mesh.vertices[static_cast<std::uint32_t>(records[i].key >> 32)].position;
                const Vec3 b = mesh.vertices[static_cast<std::uint32_t>(records[i].key)].position;
                PlainCrease crease;
                crease.ends[0] = {a.x, a.y, a.z};
                crease.ends[1] = {b.x, b.y, b.z};
                crease.normals[0] = n0;
                crease.normals[1] = n1;
                crease.offsets[0] = DotD(n0, crease.ends[0]);
                crease.offsets[1] = DotD(n1, crease.ends[0]);
                creases.push_back(crease);
            }
        }
        i = next;
    }
    return creases;
}

double EdgeCrossingFraction(const SolidField& field, std::int64_t x, std::int64_t y, std::int64_t z, int axis)
{
    if (axis < 0 || axis > 2)
        return 0.5;
    const GridPoint start = {x, y, z};
    GridPoint end = start;
    end[static_cast<std::size_t>(axis)] += 1;
    return CrossingFraction(FieldValue(field, start), FieldValue(field, end));
}

void ContourSolidField(TriangleMesh& mesh, const SolidField& field, float floorZ, double sharpness,
    bool smoothDisplaced, SolidContourContext& context, JobProgressContext* job)
{
    const auto start = std::chrono::steady_clock::now();
    context.cellsContoured = 0;
    context.flippedCells = 0;
    context.contourHoles = false;
    context.estimatedTriangles = 0;
    context.refused = false;
    context.crossingPairs = 0;
    context.crossingPairsLeft = 0;
    if (!IsReadableField(field)) {
        context.contourHoles = true;
        mesh = TriangleMesh{};
        context.seconds = Seconds(start);
        return;
    }
    std::vector<std::size_t> blockOrder;
    // Shares of the phase by the loops' rough cost; the removals after the contour take the rest.
    SetProgressSpan(job, 0.0f, 0.1f);
    ContourCellList cells = ListCells(field, job, &blockOrder);
    SetProgressSpan(job, 0.1f, 0.15f);
    SetFlipBytes(cells, job);
    SetProgressSpan(job, 0.15f, 0.15f);
    std::uint64_t quads = 0;
    const std::uint64_t vertexCount = NumberContourCells(cells, context, quads);
    if (RefuseOversizedContour(quads, vertexCount, context)) {
        mesh = TriangleMesh{};
        context.seconds = Seconds(start);
        return;
    }
    TriangleMesh result;
    result.vertices.resize(static_cast<std::size_t>(vertexCount));
    SetProgressSpan(job, 0.15f, 0.6f);
    std::vector<Vec3> mass(static_cast<std::size_t>(vertexCount));
    PlaceVertices(field, cells, &blockOrder, floorZ, sharpness, smoothDisplaced, context.plainCreases, job,
        [&](std::uint64_t v, const Vec3& p, const Vec3& m) {
            result.vertices[static_cast<std::size_t>(v)].position = p;
            mass[static_cast<std::size_t>(v)] = m;
        });
    std::atomic<bool> holes{false};
    SetProgressSpan(job, 0.6f, 0.8f);
    result.indices = BuildQuadIndices(field, cells, quads, result.vertices, holes, job);
    if (!holes.load()) {
        const auto eased = EaseContourCrossings(result, mass, field.cell);
        context.crossingPairs = eased.first;
        context.crossingPairsLeft = eased.second;
    }
    SetProgressSpan(job, 0.8f, 0.8f);
    if (context.boxAndNormals) {
        result.ComputeBounds();
        result.ComputeVertexNormals();
    }
    mesh = std::move(result);
    context.contourHoles = holes.load();
    context.seconds = Seconds(start);
}

namespace {

// ---- Unprintable pieces ----------------------------------------------------------------

struct Body {
    std::uint64_t triangles = 0;
    Vec3 boxMin{std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
        std::numeric_limits<float>::max()};
    Vec3 boxMax{std::numeric_limits<float>::lowest(), std::numeric_limits<float>::lowest(),
        std::numeric_limits<float>::lowest()};
};

std::uint32_t FindRoot(std::vector<std::uint32_t>& parent, std::uint32_t v)
{
    while (parent[v] != v) {
        parent[v] = parent[parent[v]];
        v = parent[v];
    }
    return v;
}

// The body of every triangle (numbered in order of first triangle) and the bodies' counts and
// boxes.
std::vector<Body> GatherBodies(const TriangleMesh& mesh, std::vector<std::uint32_t>& bodyOfTriangle)
{
    constexpr std::uint32_t kNoBody = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> parent(mesh.vertices.size());
    std::iota(parent.begin(), parent.end(), 0u);
    const std::size_t triangles = mesh.TriangleCount();
    for (std::size_t t = 0; t < triangles; ++t)
        for (int k = 1; k < 3; ++k) {
            const std::uint32_t a = FindRoot(parent, mesh.indices[3 * t]);
            const std::uint32_t b = FindRoot(parent, mesh.indices[3 * t + k]);
            if (a != b)
                parent[std::max(a, b)] = std::min(a, b);
        }
    std::vector<std::uint32_t> bodyOfRoot(mesh.vertices.size(), kNoBody);
    std::vector<Body> bodies;
    bodyOfTriangle.resize(triangles);
    for (std::size_t t = 0; t < triangles; ++t) {
        const std::uint32_t root = FindRoot(parent, mesh.indices[3 * t]);
        if (bodyOfRoot[root] == kNoBody) {
            bodyOfRoot[root] = static_cast<std::uint32_t>(bodies.size());
            bodies.emplace_back();
        }
        Body& body = bodies[bodyOfRoot[root]];
        bodyOfTriangle[t] = bodyOfRoot[root];
        ++body.triangles;
        for (int k = 0; k < 3; ++k) {
            const Vec3 p = mesh.vertices[mesh.indices[3 * t + k]].position;
            body.boxMin = {std::min(body.boxMin.x, p.x), std::min(body.boxMin.y, p.y), std::min(body.boxMin.z, p.z)};
            body.boxMax = {std::max(body.boxMax.x, p.x), std::max(body.boxMax.y, p.y), std::max(body.boxMax.z, p.z)};
        }
    }
    return bodies;
}

bool IsThinnerThan(const Body& body, float lineWidth)
{
    const Vec3 extent = body.boxMax - body.boxMin;
    return std::min({extent.x, extent.y, extent.z}) < lineWidth;
}

}  // namespace

std::uint64_t RemoveUnprintablePieces(TriangleMesh& mesh, const TriangleMesh& source, const AabbTree* sourceTree,
    float lineWidth, std::uint64_t* trianglesRemoved, std::vector<RemovedPiece>* pieces)
{
    if (mesh.indices.empty() || !mesh.IsConsistent() || mesh.TriangleCount() > 0xFFFFFFFFull)
        return 0;
    std::vector<std::uint32_t> bodyOfTriangle;
    const std::vector<Body> bodies = GatherBodies(mesh, bodyOfTriangle);
    const auto bodyCount = static_cast<std::uint32_t>(bodies.size());
    // The source bodies are looked for only when something could go.
    if (bodyCount < 2
        || std::none_of(bodies.begin(), bodies.end(), [&](const Body& body) { return IsThinnerThan(body, lineWidth); }))
        return 0;
    const std::vector<std::uint32_t> sourceBody =
        LabelSourceBodiesAt(mesh, bodyOfTriangle, bodyCount, source, sourceTree);
    if (sourceBody.empty())
        return 0;
    const std::vector<CrumbRecord> measured = MeasureBodies(mesh, bodyOfTriangle, bodyCount);
    // Per body the source body it lies at; the largest there is that body of the part.
    constexpr std::uint32_t kNoBody = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> atBody(bodyCount, kNoBody);
    for (std::size_t t = 0; t < bodyOfTriangle.size(); ++t)
        atBody[bodyOfTriangle[t]] = sourceBody[t];
    std::vector<std::uint32_t> largestAt;
    for (std::uint32_t b = 0; b < bodyCount; ++b) {
        if (atBody[b] >= largestAt.size())
            largestAt.resize(std::size_t{atBody[b]} + 1, kNoBody);
        std::uint32_t& largest = largestAt[atBody[b]];
        if (largest == kNoBody || IsLargerBody(measured[b], b, measured[largest], largest))
            largest = b;
    }
    std::vector<std::uint8_t> removed(bodies.size(), 0);
    std::uint64_t removedCount = 0;
    for (std::uint32_t b = 0; b < bodyCount; ++b) {
        const Body& body = bodies[b];
        if (largestAt[atBody[b]] == b || !IsThinnerThan(body, lineWidth))
            continue;
        removed[b] = 1;
        ++removedCount;
        if (trianglesRemoved != nullptr)
            *trianglesRemoved += body.triangles;
        if (pieces != nullptr)
            pieces->push_back(measured[b]);
    }
    if (removedCount == 0)
        return 0;
    std::vector<std::uint32_t> kept;
    kept.reserve(mesh.indices.size());
    for (std::size_t t = 0; t < bodyOfTriangle.size(); ++t)
        if (removed[bodyOfTriangle[t]] == 0)
            kept.insert(kept.end(), mesh.indices.begin() + static_cast<std::ptrdiff_t>(3 * t),
                mesh.indices.begin() + static_cast<std::ptrdiff_t>(3 * t + 3));
    mesh.indices = std::move(kept);
    RemoveUnusedVertices(mesh);
    if (mesh.boundsValid)
        mesh.ComputeBounds();
    return removedCount;
}

}  // namespace grainforge::mesh
