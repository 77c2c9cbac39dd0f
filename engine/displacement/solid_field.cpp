#include "engine/displacement/solid_field.h"

#include "engine/displacement/mask_volume.h"
#include "engine/mesh/large_pages.h"
#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <type_traits>
#include <utility>

namespace grainforge::mesh {
namespace {

// The first grid column sits these fractions of a cell off the part's box. Parts are often
// drawn on round coordinates; a column running along an edge or a face diagonal would meet two
// triangles at the same point and count one crossing twice. The two differ so that no column
// runs along the diagonal of a square face either.
constexpr double kColumnShiftX = 0.3183;
constexpr double kColumnShiftY = 0.2718;

// Memory of the fixed parts, refused above kMostFixedBytes before anything is allocated: per
// block its index entry (which counts the vertex boxes over the block while the blocks are
// chosen) and a byte of slack, per column its offset.
constexpr double kMostFixedBytes = kMostFixedSolidFieldBytes;
constexpr double kFixedBytesPerBlock = 5.0;
constexpr double kFixedBytesPerColumn = 4.0;
// Memory that grows with the surface: a crossing is a float, and a (column, z) pair while the
// crossings are gathered; a stored point holds a value and a displaced byte, and in label mode
// two labels and two changed flags besides; a candidate block is an index and a keep flag.
constexpr double kCrossingBytes = 4.0;
constexpr double kCrossingPairBytes = 8.0;
constexpr double kValueBytesPerPoint = 5.0;
constexpr double kLabelBytesPerPoint = 18.0;
constexpr double kCandidateBytes = 5.0;

// Grid points along an axis whose part runs from `low` to `high`, with `margin` on either side.
double GridPointsAlong(double low, double high, double margin, double h)
{
    return std::ceil((high + margin - (low - margin)) / h) + 1.0;
}

double FixedFieldBytes(double px, double py, double pz)
{
    const double side = static_cast<double>(kFieldBlockSide);
    return std::ceil(py / side) * std::ceil(px / side) * std::ceil(pz / side) * kFixedBytesPerBlock
        + px * py * kFixedBytesPerColumn;
}

// Coordinates beyond this (mm) cannot be held as floats with any use, and differences of two
// of them still fit in a float.
constexpr double kLargestCoordinate = 1e30;
// Beyond this many cells between the floor and the grid, floor(t) + 0.5 no longer places the
// floor half-way between two grid planes; such a floor is far outside the grid anyway.
constexpr double kFarthestFloorCells = 1099511627776.0;  // 2^40

constexpr double kRootThree = 1.73205080756887729353;
constexpr double kHalfRootThree = 0.86602540378443864676;
// Cells from a block's first point to its centre, and across one block and one sub-cube.
constexpr double kBlockCentreCells = 3.5;
constexpr double kBlockSpanCells = 7.0;
constexpr double kSubCubeCentreCells = 1.5;
constexpr double kSubCubeSpanCells = 3.0;
constexpr std::int64_t kSubCubeSide = 4;
// Seeding reaches the points within this many cells of a triangle's box.
constexpr double kSeedGrowthCells = 1.5;
// A triangle's box is seeded in parallel tasks of about this many points; a small box at once.
constexpr std::size_t kSeedPointsAtOnce = 65536;

constexpr std::uint64_t kNoLabel = ~std::uint64_t{0};
// A measured point this close to the displaced surface (beyond 2h) has its nearest triangle
// searched again: there a wrong triangle would move the contour.
constexpr double kRecheckBand = 0.05;
constexpr double kRecheckReachFactor = 1.0001;
constexpr double kRecheckReachSlack = 1e-6;
// One step up a column changes the distance by at most h; the factor and slack cover rounding.
constexpr double kColumnStepFactor = 1.001;
constexpr double kColumnStepSlack = 1e-5;
constexpr double kVerifyTolerance = 1e-4;
constexpr double kLargestVerifyError = 1000.0;

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return static_cast<double>(
               std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
                   .count())
        / 1e9;
}

Vec3d Widen(Vec3 v)
{
    return {v.x, v.y, v.z};
}

Vec3 Narrow(Vec3d v)
{
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

double DistanceSquared(Vec3d a, Vec3d b)
{
    const double x = a.x - b.x;
    const double y = a.y - b.y;
    const double z = a.z - b.z;
    return x * x + y * y + z * z;
}

// The grid indices i with lo <= i h <= hi (first = ceil(lo / h) ...), clamped into
// [0, count - 1]; false when none is left. Computed in double and clamped before any
// conversion, so no value can overflow an integer.
bool IndexRange(double lo, double hi, std::int64_t count, std::int64_t& first, std::int64_t& last)
{
    const double a = std::max(std::ceil(lo), 0.0);
    const double b = std::min(std::floor(hi), static_cast<double>(count - 1));
    if (!(a <= b))
        return false;
    first = static_cast<std::int64_t>(a);
    last = static_cast<std::int64_t>(b);
    return true;
}

// An index clamped into [0, count - 1], from a value that may lie anywhere.
std::int64_t ClampedIndex(double value, std::int64_t count)
{
    if (!(value > 0.0))
        return 0;
    if (value >= static_cast<double>(count - 1))
        return count - 1;
    return static_cast<std::int64_t>(value);
}

// A triangle's corners and corner heights side by side: the passes measure triangles met in
// no particular order, and one record costs one miss where the mesh's index and vertex arrays
// cost four; a record to a cache line. `slack` bounds how far (mm) a measured distance to it can
// fall short of the distance to its box, or is negative when no bound is known (a sliver).
struct alignas(64) TriangleCorners {
    // A corner as plain floats, so that a record needs no initialising before it is filled.
    struct Point {
        float x, y, z;
        Point& operator=(Vec3 v)
        {
            x = v.x;
            y = v.y;
            z = v.z;
            return *this;
        }
        operator Vec3() const { return {x, y, z}; }
    };
    Point position[3];
    float height[3];
    float slack;
    // Slot of the planes of plain faces on the triangle's rim (PlainRimPlanes), or -1.
    std::int32_t plainRim;
    // A plain face that had a corner's height before it was held in its plane, or lies a ring
    // or two from the relief (SmoothPlainFacesBesideTheRelief): the points measured to it count
    // as displaced for the contour's smoothing, so that the cells beside the relief are not
    // solved as sharp features (their sharp vertices fold over the relief's). 0 on every other
    // triangle, whose points count by their height alone.
    std::uint8_t reliefNear;
};
static_assert(std::is_trivially_default_constructible_v<TriangleCorners>);
static_assert(sizeof(TriangleCorners) == 64);

// The planes of the faces kept plain that a textured triangle meets at a convex crease: a
// point beyond any of them lies past the plain face, where the relief must not reach.
struct PlainRimPlanes {
    static constexpr int kMost = 3;
    Vec3d normals[kMost];
    double offsets[kMost];  // a point p lies beyond plane k when normals[k] . p > offsets[k]
    int count = 0;
};

// A plain face's normal this close to a textured triangle's continues its surface: no crease.
constexpr double kPlainCreaseCosine = 0.98481;

// The records of all triangles, filled by a parallel loop straight after allocation: a
// zero-filled vector would first clear them on one thread.
using CornerRecords = std::unique_ptr<TriangleCorners[]>;

// A triangle at least this fat (twice its area over its longest edge squared) measures its
// closest points onto itself to within rounding; a sliver's closest point may stray.
constexpr double kFatTriangle = 1e-4;
// Rounding bound of a measured closest point, relative to the coordinates and to the edge.
constexpr double kClosestPointRounding = 1e-9;
// A distance measured to a triangle falls short of the real one by at most its float rounding.
constexpr double kMeasuredDistanceRounding = 1e-6;

// Triangle t in double: its corners, the edges from the first corner to the other two, and
// their cross product, the normal as long as twice the triangle's area.
struct WideTriangle {
    Vec3d a, b, c;
    Vec3d ab, ac;
    Vec3d cross;
};

WideTriangle WidenTriangle(const TriangleMesh& mesh, std::size_t t)
{
    WideTriangle w;
    w.a = Widen(mesh.vertices[mesh.indices[3 * t]].position);
    w.b = Widen(mesh.vertices[mesh.indices[3 * t + 1]].position);
    w.c = Widen(mesh.vertices[mesh.indices[3 * t + 2]].position);
    w.ab = {w.b.x - w.a.x, w.b.y - w.a.y, w.b.z - w.a.z};
    w.ac = {w.c.x - w.a.x, w.c.y - w.a.y, w.c.z - w.a.z};
    w.cross = {w.ab.y * w.ac.z - w.ab.z * w.ac.y, w.ab.z * w.ac.x - w.ab.x * w.ac.z,
               w.ab.x * w.ac.y - w.ab.y * w.ac.x};
    return w;
}

// Unit normal of triangle t in double; zero for one without area.
Vec3d UnitFaceNormal(const TriangleMesh& mesh, std::size_t t)
{
    const Vec3d n = WidenTriangle(mesh, t).cross;
    const double length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
    if (!(length > 0.0) || !std::isfinite(length))
        return {};
    return {n.x / length, n.y / length, n.z / length};
}

double DotD(Vec3d u, Vec3d v) { return u.x * v.x + u.y * v.y + u.z * v.z; }

// Rings of plain faces round the relief whose points count as displaced for the contour's
// smoothing. A cell of the plain surface solved as a sharp feature beside the smoothed cells of
// the relief folds over them now and then (on a cow's flank, a mushroom's stem); two rings keep
// those cells smoothed, and a plain face is flat, so its smoothed vertices stay in its plane.
constexpr int kSmoothedPlainRings = 2;

// Marks the plain faces within kSmoothedPlainRings rings of vertices round the relief (the
// triangles whose heights were not all 0) as near the relief.
void SmoothPlainFacesBesideTheRelief(const TriangleMesh& mesh, const std::vector<std::uint8_t>& plainFaces,
    const VertexAdjacency& adjacency, TriangleCorners* corners)
{
    std::vector<std::uint8_t> touched(mesh.vertices.size(), 0);
    for (int ring = 0; ring < kSmoothedPlainRings; ++ring) {
        for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
            const TriangleCorners& c = corners[t];
            if (c.reliefNear != 0 || c.height[0] != 0.0f || c.height[1] != 0.0f || c.height[2] != 0.0f) {
                for (int k = 0; k < 3; ++k)
                    touched[mesh.indices[3 * t + static_cast<std::size_t>(k)]] = 1;
            }
        }
        for (std::size_t v = 0; v < touched.size(); ++v) {
            if (touched[v] == 0)
                continue;
            for (std::uint32_t i = adjacency.triangleOffsets[v]; i < adjacency.triangleOffsets[v + 1]; ++i) {
                const std::uint32_t f = adjacency.triangles[i];
                if (plainFaces[f] != 0)
                    corners[f].reliefNear = 1;
            }
        }
    }
}

// A crease direction this close to a grid axis runs along the grid: its cells' sharp solve
// lands on it.
constexpr double kAlongTheGrid = 0.9999;

// Marks the plain faces on either side of a crease between plain faces that runs across the
// grid as near the relief, so that the contour smooths its cells: a cell the crease crosses
// at a slant, solved as a sharp feature, has its vertex pinned to its faces, and the vertices
// of neighbouring cells pinned to one face from either side fold their triangles over each
// other along the crease (a box turned about two axes, at its plain edges).
void SmoothPlainCreasesAcrossTheGrid(
    const TriangleMesh& mesh, const std::vector<std::uint8_t>& plainFaces, TriangleCorners* corners)
{
    const std::vector<EdgeRecord> records = BuildEdgeTable(mesh);
    for (std::size_t i = 0; i + 1 < records.size(); ++i) {
        const bool two = records[i].key == records[i + 1].key
            && (i + 2 == records.size() || records[i + 2].key != records[i].key)
            && (i == 0 || records[i - 1].key != records[i].key);
        const std::uint32_t t0 = records[i].triangle;
        const std::uint32_t t1 = records[i + 1].triangle;
        if (!two || plainFaces[t0] == 0 || plainFaces[t1] == 0)
            continue;
        const Vec3d n0 = UnitFaceNormal(mesh, t0);
        const Vec3d n1 = UnitFaceNormal(mesh, t1);
        const Vec3d along{n0.y * n1.z - n0.z * n1.y, n0.z * n1.x - n0.x * n1.z, n0.x * n1.y - n0.y * n1.x};
        const double length = std::sqrt(DotD(along, along));
        if (DotD(n0, n0) == 0.0 || DotD(n1, n1) == 0.0 || DotD(n0, n1) >= kPlainCreaseCosine
            || std::max({std::fabs(along.x), std::fabs(along.y), std::fabs(along.z)}) >= kAlongTheGrid * length)
            continue;
        corners[t0].reliefNear = 1;
        corners[t1].reliefNear = 1;
    }
}

// Plain faces stay in their planes: their corners carry no height, and each textured triangle
// with a corner on their rim keeps the planes it meets at a convex crease, so that the points
// beyond them, which its rim edge would otherwise round over, carry none either.
std::vector<PlainRimPlanes> KeepPlainFacesFlat(
    const TriangleMesh& mesh, const std::vector<std::uint8_t>& plainFaces, TriangleCorners* corners)
{
    constexpr std::uint32_t kNoRim = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> rimOf(mesh.vertices.size(), kNoRim);
    std::vector<std::uint32_t> rimFaces;  // per rim vertex, its first plain face
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        if (plainFaces[t] == 0)
            continue;
        const float* held = corners[t].height;
        corners[t].reliefNear = held[0] != 0.0f || held[1] != 0.0f || held[2] != 0.0f ? 1 : 0;
        for (int k = 0; k < 3; ++k) {
            corners[t].height[k] = 0.0f;
            const std::uint32_t v = mesh.indices[3 * t + static_cast<std::size_t>(k)];
            if (rimOf[v] == kNoRim) {
                rimOf[v] = static_cast<std::uint32_t>(rimFaces.size());
                rimFaces.push_back(static_cast<std::uint32_t>(t));
            }
        }
    }
    // Every plain face round a rim vertex, by the vertex's triangle lists.
    const VertexAdjacency adjacency = BuildVertexAdjacency(mesh);
    SmoothPlainFacesBesideTheRelief(mesh, plainFaces, adjacency, corners);
    SmoothPlainCreasesAcrossTheGrid(mesh, plainFaces, corners);
    std::vector<PlainRimPlanes> planes;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        if (plainFaces[t] != 0)
            continue;
        const Vec3d own = UnitFaceNormal(mesh, t);
        const Vec3d centre = Widen((mesh.vertices[mesh.indices[3 * t]].position
            + mesh.vertices[mesh.indices[3 * t + 1]].position + mesh.vertices[mesh.indices[3 * t + 2]].position)
            * (1.0f / 3.0f));
        PlainRimPlanes rim;
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t v = mesh.indices[3 * t + static_cast<std::size_t>(k)];
            if (rimOf[v] == kNoRim)
                continue;
            const Vec3d at = Widen(mesh.vertices[v].position);
            for (std::uint32_t i = adjacency.triangleOffsets[v]; i < adjacency.triangleOffsets[v + 1]; ++i) {
                const std::uint32_t f = adjacency.triangles[i];
                const Vec3d n = UnitFaceNormal(mesh, f);
                if (plainFaces[f] == 0 || DotD(n, n) == 0.0 || DotD(n, own) >= kPlainCreaseCosine)
                    continue;
                const double offset = DotD(n, at);
                // Only a convex crease: the textured triangle lies behind the plain face. At a
                // concave one the points beyond the plane lie in front of the textured face.
                if (!(DotD(n, centre) < offset))
                    continue;
                bool known = false;
                for (int j = 0; j < rim.count; ++j)
                    known = known || DotD(rim.normals[j], n) >= kPlainCreaseCosine;
                if (!known && rim.count < PlainRimPlanes::kMost) {
                    rim.normals[rim.count] = n;
                    rim.offsets[rim.count++] = offset;
                }
            }
        }
        if (rim.count > 0) {
            corners[t].plainRim = static_cast<std::int32_t>(planes.size());
            planes.push_back(rim);
        }
    }
    return planes;
}

CornerRecords GatherTriangleCorners(const TriangleMesh& mesh, const std::vector<float>& heights, double largestCoordinate)
{
    const std::size_t triangles = mesh.TriangleCount();
    CornerRecords corners = std::make_unique_for_overwrite<TriangleCorners[]>(triangles);
    platform::AdviseLargePages(corners.get(), triangles * sizeof(TriangleCorners));
    ParallelFor(triangles, [&](std::size_t t) {
        TriangleCorners& corner = corners[t];
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t v = mesh.indices[3 * t + static_cast<std::size_t>(k)];
            corner.position[k] = mesh.vertices[v].position;
            corner.height[k] = heights[v];
        }
        corner.plainRim = -1;
        corner.reliefNear = 0;
        const Vec3d a = Widen(corner.position[0]);
        const Vec3d b = Widen(corner.position[1]);
        const Vec3d c = Widen(corner.position[2]);
        const Vec3d ab{b.x - a.x, b.y - a.y, b.z - a.z};
        const Vec3d ac{c.x - a.x, c.y - a.y, c.z - a.z};
        const Vec3d n{ab.y * ac.z - ab.z * ac.y, ab.z * ac.x - ab.x * ac.z, ab.x * ac.y - ab.y * ac.x};
        const double longest = std::max({DistanceSquared(a, b), DistanceSquared(b, c), DistanceSquared(c, a)});
        const double twiceArea = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
        corner.slack = longest > 0.0 && twiceArea >= kFatTriangle * longest
            ? static_cast<float>(kClosestPointRounding * (largestCoordinate + std::sqrt(longest) + 1.0))
            : -1.0f;
    });
    return corners;
}

// How far `at` lies outside [low, high].
double Gap(double at, double low, double high)
{
    return std::max({low - at, at - high, 0.0});
}

// Squared distance from p to the box of a triangle's corners.
double BoxDistanceSquared(const TriangleCorners& corner, Vec3d p)
{
    const TriangleCorners::Point (&q)[3] = corner.position;
    const double dx = Gap(p.x, std::min({q[0].x, q[1].x, q[2].x}), std::max({q[0].x, q[1].x, q[2].x}));
    const double dy = Gap(p.y, std::min({q[0].y, q[1].y, q[2].y}), std::max({q[0].y, q[1].y, q[2].y}));
    const double dz = Gap(p.z, std::min({q[0].z, q[1].z, q[2].z}), std::max({q[0].z, q[1].z, q[2].z}));
    return dx * dx + dy * dy + dz * dz;
}

// Whether a triangle whose box lies `boxDistanceSquared` away would measure above `distance`:
// farther than that by more than the measure's rounding (`slack`, negative when unknown). Such
// a triangle cannot win a label of that distance, so it need not be measured.
bool IsSurelyFarther(double boxDistanceSquared, float slack, float distance)
{
    if (slack < 0.0f)
        return false;
    const double limit = static_cast<double>(distance) * (1.0 + kMeasuredDistanceRounding) + slack;
    return boxDistanceSquared > limit * limit;
}

// Nearest point of triangle t to p, measured exactly as the tree measures it, so a label's
// distance and a search's agree to the bit.
NearestHit MeasureTriangle(const TriangleCorners* corners, std::uint32_t t, Vec3 p)
{
    const TriangleCorners& corner = corners[t];
    const Vec3d point = Widen(p);
    const Vec3d closest = ClosestPointOnTriangle(point, Widen(corner.position[0]), Widen(corner.position[1]),
        Widen(corner.position[2]));
    NearestHit hit;
    hit.found = true;
    hit.distance = static_cast<float>(std::sqrt(DistanceSquared(closest, point)));
    hit.point = Narrow(closest);
    hit.triangle = static_cast<std::int32_t>(t);
    return hit;
}

// Distance bits high, triangle low: as unsigned integers, keys order by distance, then by
// triangle, whatever order the atomic minimum sees them in.
std::uint64_t LabelKey(float distance, std::uint32_t triangle)
{
    return (std::uint64_t{std::bit_cast<std::uint32_t>(distance)} << 32) | triangle;
}

float LabelDistance(std::uint64_t key)
{
    return std::bit_cast<float>(static_cast<std::uint32_t>(key >> 32));
}

std::uint32_t LabelTriangle(std::uint64_t key)
{
    return static_cast<std::uint32_t>(key);
}

void AtomicMinimum(std::uint64_t& target, std::uint64_t key)
{
    std::atomic_ref<std::uint64_t> slot(target);
    std::uint64_t seen = slot.load(std::memory_order_relaxed);
    while (key < seen && !slot.compare_exchange_weak(seen, key, std::memory_order_relaxed)) {
        // seen now holds the newer value; try again while ours is still smaller.
    }
}

void AtomicMaximum(std::atomic<double>& target, double value)
{
    double seen = target.load(std::memory_order_relaxed);
    while (value > seen && !target.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
        // As above.
    }
}

// Number of crossings of one column strictly below z.
std::size_t CrossingsBelow(const float* begin, const float* end, double z)
{
    return static_cast<std::size_t>(
        std::lower_bound(begin, end, z, [](float crossing, double value) { return crossing < value; }) - begin);
}

// Height interpolated at the surface point of a hit: barycentric coordinates of the point in
// its triangle, clamped onto the triangle (both 0 for a degenerate one), weighting the corner
// heights, in double. A point the masks cover fully takes none: the corners' weights were read
// at the vertices, and a triangle across a mask's edge would carry them over it.
double HeightAt(const TriangleCorners* corners, const NearestHit& hit, std::span<const MaskVolume> masks)
{
    const TriangleCorners& corner = corners[static_cast<std::uint32_t>(hit.triangle)];
    const Vec3d a = Widen(corner.position[0]);
    const Vec3d b = Widen(corner.position[1]);
    const Vec3d c = Widen(corner.position[2]);
    const Vec3d p = Widen(hit.point);
    const Vec3d e0{b.x - a.x, b.y - a.y, b.z - a.z};
    const Vec3d e1{c.x - a.x, c.y - a.y, c.z - a.z};
    const Vec3d e2{p.x - a.x, p.y - a.y, p.z - a.z};
    auto dot = [](Vec3d u, Vec3d v) { return u.x * v.x + u.y * v.y + u.z * v.z; };
    const double d00 = dot(e0, e0);
    const double d01 = dot(e0, e1);
    const double d11 = dot(e1, e1);
    const double d20 = dot(e2, e0);
    const double d21 = dot(e2, e1);
    const double denominator = d00 * d11 - d01 * d01;
    double u = 0.0;
    double v = 0.0;
    if (denominator > 0.0) {
        u = std::clamp((d11 * d20 - d01 * d21) / denominator, 0.0, 1.0);
        v = std::clamp((d00 * d21 - d01 * d20) / denominator, 0.0, 1.0 - u);
    }
    if (!masks.empty() && MaskingAt(masks, hit.point) >= 1.0f)
        return 0.0;
    return static_cast<double>(corner.height[0]) * (1.0 - u - v) + static_cast<double>(corner.height[1]) * u
        + static_cast<double>(corner.height[2]) * v;
}

// How far `at` lies beyond the plain faces the hit's triangle meets at a convex crease (signed,
// the largest over them), or -infinity when it meets none. The solid is cut there by those
// faces' planes, as a distance, so that a contour edge crossing one finds it on the plane.
double BeyondPlainFaces(const TriangleCorners* corners, const std::vector<PlainRimPlanes>& plainRims,
    const NearestHit& hit, Vec3 at)
{
    const TriangleCorners& corner = corners[static_cast<std::uint32_t>(hit.triangle)];
    double beyond = -std::numeric_limits<double>::infinity();
    if (corner.plainRim < 0)
        return beyond;
    const PlainRimPlanes& rim = plainRims[static_cast<std::size_t>(corner.plainRim)];
    const Vec3d p = Widen(at);
    for (int k = 0; k < rim.count; ++k)
        beyond = std::max(beyond, DotD(rim.normals[k], p) - rim.offsets[k]);
    return beyond;
}

// The cut by the plain faces' planes as it may reach a point inside the input: only where it
// leaves the point inside. Beside a convex crease the inside lies behind the plain face, and
// there the cut only places the contour's crossing on the plane; a point inside and beyond
// the plane lies where the plane runs on through the part (a saddle, a bend), far from the
// crease, and turning it outside would open a hollow the field's stored blocks cannot close.
double InsideKeepsItsSign(bool inside, double beyond)
{
    return inside && !(beyond < 0.0) ? -std::numeric_limits<double>::infinity() : beyond;
}

// A (column, z) pair found while the crossings are gathered.
struct CrossingPair {
    std::uint32_t column = 0;
    float z = 0.0f;
};

// What one block of the value pass counts, added to the shared totals at its end.
struct ValueCounters {
    std::uint64_t measured = 0;
    std::uint64_t displaced = 0;
    std::uint64_t skipped = 0;
    std::uint64_t rechecked = 0;
    std::uint64_t checks = 0;
    std::uint64_t mismatches = 0;
    std::uint64_t misses = 0;
    double maxError = 0.0;
};

class FieldBuilder {
public:
    FieldBuilder(const SolidFieldInput& input, SolidField& field, SolidFieldStats& stats, JobProgressContext* job)
        : input_(input), field_(field), stats_(stats), job_(job)
    {
    }

    // Each step that refuses sets its flag, tooLarge or badInput.
    bool Build()
    {
        SetProgressSpan(job_, 0.0f, 0.1f);
        if (!IsUsableInput() || !PlaceGrid() || !GatherColumnCrossings() || !SelectBlocks()) {
            field_ = SolidField{};
            return false;
        }
        corners_ = GatherTriangleCorners(*mesh_, *input_.heights, LargestGridCoordinate());
        if (input_.plainFaces != nullptr && input_.plainFaces->size() == mesh_->TriangleCount())
            plainRims_ = KeepPlainFacesFlat(*mesh_, *input_.plainFaces, corners_.get());
        // Shares of the phase from the timings of parts of a few hundred thousand triangles:
        // the grid about a tenth, seeding a fifth, the label passes and the values the rest.
        if (labelMode_) {
            SetProgressSpan(job_, 0.1f, 0.3f);
            SeedLabels();
            PropagateLabels();
        }
        SetProgressSpan(job_, 0.6f, 1.0f);
        ComputeBlockValues();
        corners_.reset();
        return true;
    }

private:

    bool IsOverBudget(double bytes) const
    {
        return input_.memoryBudgetBytes != 0 && bytes > static_cast<double>(input_.memoryBudgetBytes);
    }

    bool IsUsableInput();
    bool HasUsableParts();
    double LargestGridCoordinate() const;
    bool PlaceGrid();
    void PlaceFloor(double lowestPlane);
    bool GatherColumnCrossings();
    template <class Visit>
    void ForEachCrossing(std::uint32_t t, Visit&& visit) const;
    void PlaceCrossingsInColumns(const std::vector<CrossingPair>& pairs);
    void SortColumns();
    bool SelectBlocks();
    void MarkVertexBoxes();
    void AddBlockBox(std::int64_t lo[3], std::int64_t hi[3]);
    void SumMarks();
    void KeepBlocksNearTheSurface(const std::vector<std::uint32_t>& candidates);
    void FindNeighbourSlots();
    void SeedLabels();
    void SeedTriangle(std::uint32_t t);
    void PropagateLabels();
    bool PropagateBlock(std::size_t slot, int from);
    bool PropagatePoint(std::size_t slot, const std::int64_t block[3], std::int64_t local, int from);
    void ComputeBlockValues();
    void FindSeededDistance();
    void ComputeBlock(std::size_t slot, ValueCounters& counters) const;
    std::uint8_t NearSubCubes(std::int64_t first[3], ValueCounters& counters) const;
    NearestHit MeasureByLabel(std::size_t i, Vec3 p, ValueCounters& counters) const;
    void Verify(Vec3 p, const NearestHit& hit, ValueCounters& counters) const;

    std::size_t BlockAt(std::int64_t bx, std::int64_t by, std::int64_t bz) const
    {
        return static_cast<std::size_t>((bz * field_.blocksY + by) * field_.blocksX + bx);
    }

    void BlockCoordinates(std::size_t slot, std::int64_t block[3]) const
    {
        const std::int64_t linear = storedBlocks_[slot];
        block[0] = linear % field_.blocksX;
        block[1] = (linear / field_.blocksX) % field_.blocksY;
        block[2] = linear / (field_.blocksX * field_.blocksY);
    }

    Vec3 GridPoint(std::int64_t x, std::int64_t y, std::int64_t z) const
    {
        return {static_cast<float>(field_.originX + static_cast<double>(x) * h_),
            static_cast<float>(field_.originY + static_cast<double>(y) * h_),
            static_cast<float>(field_.originZ + static_cast<double>(z) * h_)};
    }

    const SolidFieldInput& input_;
    SolidField& field_;
    SolidFieldStats& stats_;
    JobProgressContext* job_;
    const TriangleMesh* mesh_ = nullptr;
    CornerRecords corners_;
    std::vector<PlainRimPlanes> plainRims_;
    bool labelMode_ = false;

    double h_ = 0.0;
    double reach_ = 0.0;   // R: largest |height| + 2h
    double margin_ = 0.0;  // M: R + 2h
    Vec3d low_;            // the input's box
    Vec3d high_;
    double floor_ = 0.0;
    bool hasFloor_ = false;
    std::size_t crossingCount_ = 0;

    std::vector<std::uint32_t> storedBlocks_;  // linear block index per slot
    std::vector<std::int32_t> neighbourSlots_;  // six per slot: -x, +x, -y, +y, -z, +z
    // Label mode's arrays are written first by the parallel passes: a std::vector would zero
    // them (gigabytes on a fine grid) on the calling thread alone.
    std::unique_ptr<std::uint64_t[]> labels_[2];
    std::unique_ptr<std::uint8_t[]> changed_[2];
    bool firstPass_ = false;  // every point counts as changed
    std::vector<std::uint8_t> blockChanged_[2];  // per slot: some point of the block changed
    int finalLabels_ = 0;
    // Labels at most this far (mm) are the nearest triangle (see FindSeededDistance).
    double seededExactly_ = 0.0;
};

bool FieldBuilder::IsUsableInput()
{
    stats_.badInput = !HasUsableParts();
    return !stats_.badInput;
}

bool FieldBuilder::HasUsableParts()
{
    mesh_ = input_.mesh;
    if (mesh_ == nullptr || input_.tree == nullptr || input_.heights == nullptr)
        return false;
    const TriangleMesh& mesh = *mesh_;
    const std::size_t triangles = mesh.TriangleCount();
    if (triangles == 0 || triangles > std::size_t{std::numeric_limits<std::int32_t>::max()}
        || mesh.vertices.size() > std::size_t{std::numeric_limits<std::uint32_t>::max()} || !mesh.IsConsistent()
        || !HasOnlyFiniteCoordinates(mesh))
        return false;
    const AabbTree& tree = *input_.tree;
    if (tree.nodes.empty() || tree.order.size() != triangles || tree.vertexCount != mesh.vertices.size())
        return false;
    const std::vector<float>& heights = *input_.heights;
    if (heights.size() != mesh.vertices.size()
        || !std::all_of(heights.begin(), heights.end(), [](float value) { return std::isfinite(value); }))
        return false;
    h_ = input_.cell;
    if (!std::isfinite(h_) || !(h_ > 0.0))
        return false;
    if (std::isnan(input_.floorZ) || static_cast<double>(input_.floorZ) > kLargestCoordinate)
        return false;
    labelMode_ = input_.measure == FieldMeasure::labels;
    return true;
}

// Grid step, reach, origin and point counts, all in double; then the fixed-part guard, before
// any count becomes an integer or anything is allocated.
bool FieldBuilder::PlaceGrid()
{
    const TriangleMesh& mesh = *mesh_;
    low_ = Widen(mesh.vertices[0].position);
    high_ = low_;
    for (const MeshVertex& vertex : mesh.vertices) {
        const Vec3d p = Widen(vertex.position);
        low_ = {std::min(low_.x, p.x), std::min(low_.y, p.y), std::min(low_.z, p.z)};
        high_ = {std::max(high_.x, p.x), std::max(high_.y, p.y), std::max(high_.z, p.z)};
    }
    double largest = 0.0;
    for (float height : *input_.heights)
        largest = std::max(largest, std::fabs(static_cast<double>(height)));
    reach_ = largest + 2.0 * h_;
    margin_ = reach_ + 2.0 * h_;
    field_.cell = h_;
    field_.originX = low_.x - margin_ + kColumnShiftX * h_;
    field_.originY = low_.y - margin_ + kColumnShiftY * h_;
    PlaceFloor(low_.z - margin_);

    const double px = GridPointsAlong(low_.x, high_.x, margin_, h_);
    const double py = GridPointsAlong(low_.y, high_.y, margin_, h_);
    const double pz = GridPointsAlong(low_.z, high_.z, margin_, h_);
    const double estimate = FixedFieldBytes(px, py, pz);
    stats_.estimateBytes = estimate;
    if (!std::isfinite(estimate) || estimate > kMostFixedBytes
        || static_cast<double>(input_.cellLimit) < px * py * pz || IsOverBudget(estimate)) {
        stats_.tooLarge = true;
        return false;
    }

    // The guard bounds every count: px py <= 3.75e8, pz <= 2.4e9, blocks <= 3e8.
    field_.pointsX = static_cast<std::int64_t>(px);
    field_.pointsY = static_cast<std::int64_t>(py);
    field_.pointsZ = static_cast<std::int64_t>(pz);
    field_.blocksX = (field_.pointsX + kFieldBlockSide - 1) / kFieldBlockSide;
    field_.blocksY = (field_.pointsY + kFieldBlockSide - 1) / kFieldBlockSide;
    field_.blocksZ = (field_.pointsZ + kFieldBlockSide - 1) / kFieldBlockSide;
    const double far[3] = {field_.originX + px * h_, field_.originY + py * h_, field_.originZ + pz * h_};
    const double near[3] = {field_.originX, field_.originY, field_.originZ};
    for (int axis = 0; axis < 3; ++axis) {
        if (!(std::fabs(near[axis]) <= kLargestCoordinate && std::fabs(far[axis]) <= kLargestCoordinate)) {
            stats_.badInput = true;
            return false;
        }
    }
    field_.farValue = static_cast<float>(reach_);
    return true;
}

// originZ puts the floor half-way between two grid planes, so no grid point lies on it.
void FieldBuilder::PlaceFloor(double lowestPlane)
{
    const double floor = input_.floorZ;
    hasFloor_ = floor > -kLargestCoordinate;
    floor_ = floor;
    const double cells = (floor - lowestPlane) / h_;
    if (hasFloor_ && std::fabs(cells) <= kFarthestFloorCells)
        field_.originZ = floor - (std::floor(cells) + 0.5) * h_;
    else
        field_.originZ = lowestPlane - 0.5 * h_;
}

// Every crossing of the input surface with a grid column, counted first so that the memory is
// judged before it is taken; each group of triangles then writes its own run of pairs, so the
// pairs are in group order on any number of threads.
bool FieldBuilder::GatherColumnCrossings()
{
    const auto start = std::chrono::steady_clock::now();
    const std::size_t triangles = mesh_->TriangleCount();
    const std::size_t groups = (triangles + kColumnCrossingBlock - 1) / kColumnCrossingBlock;
    std::vector<std::size_t> groupStart(groups + 1, 0);
    ParallelBlocks(triangles, kColumnCrossingBlock, [&](std::size_t begin, std::size_t end, std::size_t group) {
        std::size_t count = 0;
        for (std::size_t t = begin; t < end; ++t)
            ForEachCrossing(static_cast<std::uint32_t>(t), [&](std::uint32_t, float) { ++count; });
        groupStart[group + 1] = count;
    }, job_);
    for (std::size_t group = 0; group < groups; ++group)
        groupStart[group + 1] += groupStart[group];
    crossingCount_ = groupStart[groups];
    const double crossings = static_cast<double>(crossingCount_);
    if (crossingCount_ > std::numeric_limits<std::uint32_t>::max()
        || IsOverBudget(stats_.estimateBytes + crossings * (kCrossingBytes + kCrossingPairBytes))) {
        stats_.columnSeconds = SecondsSince(start);
        stats_.tooLarge = true;
        return false;
    }

    std::vector<CrossingPair> pairs(crossingCount_);
    ParallelBlocks(triangles, kColumnCrossingBlock, [&](std::size_t begin, std::size_t end, std::size_t group) {
        std::size_t next = groupStart[group];
        for (std::size_t t = begin; t < end; ++t) {
            ForEachCrossing(static_cast<std::uint32_t>(t),
                [&](std::uint32_t column, float z) { pairs[next++] = {column, z}; });
        }
    }, job_);
    PlaceCrossingsInColumns(pairs);
    std::vector<CrossingPair>().swap(pairs);
    SortColumns();
    stats_.columnSeconds = SecondsSince(start);
    return true;
}

// Calls visit(column, z) for each column whose point lies in triangle t seen from above, edges
// included. Edge functions and z in double; z is held within the triangle's z range, where it
// lies but for rounding on a sliver.
template <class Visit>
void FieldBuilder::ForEachCrossing(std::uint32_t t, Visit&& visit) const
{
    const std::uint32_t* corner = &mesh_->indices[std::size_t{3} * t];
    const Vec3d a = Widen(mesh_->vertices[corner[0]].position);
    const Vec3d b = Widen(mesh_->vertices[corner[1]].position);
    const Vec3d c = Widen(mesh_->vertices[corner[2]].position);
    const double area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
    if (area == 0.0)
        return;
    std::int64_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    if (!IndexRange((std::min({a.x, b.x, c.x}) - field_.originX) / h_,
            (std::max({a.x, b.x, c.x}) - field_.originX) / h_, field_.pointsX, x0, x1)
        || !IndexRange((std::min({a.y, b.y, c.y}) - field_.originY) / h_,
            (std::max({a.y, b.y, c.y}) - field_.originY) / h_, field_.pointsY, y0, y1))
        return;
    const double lowZ = std::min({a.z, b.z, c.z});
    const double highZ = std::max({a.z, b.z, c.z});
    for (std::int64_t iy = y0; iy <= y1; ++iy) {
        const double qy = field_.originY + static_cast<double>(iy) * h_;
        for (std::int64_t ix = x0; ix <= x1; ++ix) {
            const double qx = field_.originX + static_cast<double>(ix) * h_;
            const double wa = (c.x - b.x) * (qy - b.y) - (c.y - b.y) * (qx - b.x);
            const double wb = (a.x - c.x) * (qy - c.y) - (a.y - c.y) * (qx - c.x);
            const double wc = (b.x - a.x) * (qy - a.y) - (b.y - a.y) * (qx - a.x);
            const bool inside = area > 0.0 ? (wa >= 0.0 && wb >= 0.0 && wc >= 0.0)
                                           : (wa <= 0.0 && wb <= 0.0 && wc <= 0.0);
            if (!inside)
                continue;
            const double z = std::clamp((wa * a.z + wb * b.z + wc * c.z) / area, lowZ, highZ);
            visit(static_cast<std::uint32_t>(iy * field_.pointsX + ix), static_cast<float>(z));
        }
    }
}

// Counting sort of the pairs by column, keeping their order within a column.
void FieldBuilder::PlaceCrossingsInColumns(const std::vector<CrossingPair>& pairs)
{
    const std::size_t columns = static_cast<std::size_t>(field_.pointsX * field_.pointsY);
    std::vector<std::uint32_t>& offsets = field_.columnOffsets;
    offsets.assign(columns + 1, 0);
    for (const CrossingPair& pair : pairs)
        ++offsets[pair.column + 1];
    for (std::size_t column = 0; column < columns; ++column)
        offsets[column + 1] += offsets[column];
    field_.columnCrossings.resize(pairs.size());
    // offsets[column] runs forward as the column fills, ending at the next column's start...
    for (const CrossingPair& pair : pairs)
        field_.columnCrossings[offsets[pair.column]++] = pair.z;
    // ...so shifting by one restores the starts.
    for (std::size_t column = columns; column > 0; --column)
        offsets[column] = offsets[column - 1];
    offsets[0] = 0;
}

void FieldBuilder::SortColumns()
{
    const std::size_t columns = static_cast<std::size_t>(field_.pointsX * field_.pointsY);
    std::atomic<std::uint64_t> odd{0};
    ParallelBlocks(columns, kColumnSortBlock, [&](std::size_t begin, std::size_t end, std::size_t) {
        std::uint64_t count = 0;
        for (std::size_t column = begin; column < end; ++column) {
            float* first = field_.columnCrossings.data() + field_.columnOffsets[column];
            float* last = field_.columnCrossings.data() + field_.columnOffsets[column + 1];
            std::sort(first, last);
            count += static_cast<std::uint64_t>(last - first) % 2;
        }
        odd.fetch_add(count, std::memory_order_relaxed);
    }, job_);
    stats_.oddColumns = odd.load();
}

// The blocks within the band of some vertex are candidates; those the surface passes near are
// stored. The budget is judged again once their count is known, before values are allocated.
bool FieldBuilder::SelectBlocks()
{
    const auto start = std::chrono::steady_clock::now();
    const std::size_t blocks = static_cast<std::size_t>(field_.blocksX * field_.blocksY * field_.blocksZ);
    field_.blockIndex.assign(blocks, 0);
    MarkVertexBoxes();
    SumMarks();
    const std::size_t candidateCount = static_cast<std::size_t>(std::count_if(
        field_.blockIndex.begin(), field_.blockIndex.end(), [](std::int32_t marks) { return marks != 0; }));
    stats_.candidateBlocks = candidateCount;
    const double fixedAndCrossings = stats_.estimateBytes + static_cast<double>(crossingCount_) * kCrossingBytes;
    if (IsOverBudget(fixedAndCrossings + static_cast<double>(candidateCount) * kCandidateBytes)) {
        stats_.blockSeconds = SecondsSince(start);
        stats_.tooLarge = true;
        return false;
    }
    std::vector<std::uint32_t> candidates;
    candidates.reserve(candidateCount);
    for (std::size_t block = 0; block < blocks; ++block) {
        if (field_.blockIndex[block] != 0)
            candidates.push_back(static_cast<std::uint32_t>(block));
    }
    KeepBlocksNearTheSurface(candidates);
    stats_.blockSeconds = SecondsSince(start);

    const double points = static_cast<double>(storedBlocks_.size()) * static_cast<double>(kFieldBlockPoints);
    stats_.storedEstimateBytes =
        fixedAndCrossings + points * (kValueBytesPerPoint + (labelMode_ ? kLabelBytesPerPoint : 0.0));
    if (IsOverBudget(stats_.storedEstimateBytes)) {
        stats_.tooLarge = true;
        return false;
    }
    AssignOnLargePages(field_.values, storedBlocks_.size() * kFieldBlockPoints, 0.0f);
    AssignOnLargePages(field_.displaced, storedBlocks_.size() * kFieldBlockPoints, std::uint8_t{0});
    return true;
}

// Marks the blocks that each vertex's box v +- B touches. The block index serves as a
// difference array of cover counts: each box adds at its eight corners, and the sums along the
// three axes (SumMarks) give every block the number of boxes over it. That costs a few steps
// per vertex however wide B is (B grows with the longest edge).
void FieldBuilder::MarkVertexBoxes()
{
    double longest = 0.0;
    const TriangleMesh& mesh = *mesh_;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const Vec3d a = Widen(mesh.vertices[mesh.indices[3 * t]].position);
        const Vec3d b = Widen(mesh.vertices[mesh.indices[3 * t + 1]].position);
        const Vec3d c = Widen(mesh.vertices[mesh.indices[3 * t + 2]].position);
        longest = std::max({longest, DistanceSquared(a, b), DistanceSquared(b, c), DistanceSquared(c, a)});
    }
    const double band = 0.5 * std::sqrt(longest) + reach_ + h_;
    const double origin[3] = {field_.originX, field_.originY, field_.originZ};
    const std::int64_t points[3] = {field_.pointsX, field_.pointsY, field_.pointsZ};
    for (const MeshVertex& vertex : mesh.vertices) {
        const double v[3] = {vertex.position.x, vertex.position.y, vertex.position.z};
        std::int64_t lo[3];
        std::int64_t hi[3];
        for (int axis = 0; axis < 3; ++axis) {
            lo[axis] = ClampedIndex(std::floor((v[axis] - band - origin[axis]) / h_), points[axis]) / kFieldBlockSide;
            hi[axis] = ClampedIndex(std::ceil((v[axis] + band - origin[axis]) / h_), points[axis]) / kFieldBlockSide;
        }
        AddBlockBox(lo, hi);
    }
}

// +1 at the box's low corner and alternating signs at the others, in wrapping 32-bit
// arithmetic (fewer than 2^32 vertices, so a count is never a multiple of 2^32 but 0).
void FieldBuilder::AddBlockBox(std::int64_t lo[3], std::int64_t hi[3])
{
    const std::int64_t size[3] = {field_.blocksX, field_.blocksY, field_.blocksZ};
    for (int corner = 0; corner < 8; ++corner) {
        std::int64_t at[3];
        bool inside = true;
        bool negative = false;
        for (int axis = 0; axis < 3; ++axis) {
            const bool upper = (corner >> axis) & 1;
            at[axis] = upper ? hi[axis] + 1 : lo[axis];
            inside = inside && at[axis] < size[axis];
            negative = negative != upper;
        }
        if (!inside)
            continue;
        auto& count = reinterpret_cast<std::uint32_t&>(field_.blockIndex[BlockAt(at[0], at[1], at[2])]);
        count += negative ? 0xFFFFFFFFu : 1u;
    }
}

void FieldBuilder::SumMarks()
{
    const std::size_t nx = static_cast<std::size_t>(field_.blocksX);
    const std::size_t ny = static_cast<std::size_t>(field_.blocksY);
    const std::size_t nz = static_cast<std::size_t>(field_.blocksZ);
    auto* count = reinterpret_cast<std::uint32_t*>(field_.blockIndex.data());
    // Along each axis in turn; the lines of one axis are independent of each other.
    auto sumLines = [&](std::size_t lines, std::size_t length, auto firstOf, std::size_t stride) {
        ParallelFor(lines, [&](std::size_t line) {
            std::uint32_t* at = count + firstOf(line);
            for (std::size_t i = 1; i < length; ++i)
                at[i * stride] += at[(i - 1) * stride];
        }, 256);
    };
    sumLines(ny * nz, nx, [&](std::size_t line) { return line * nx; }, 1);
    sumLines(nx * nz, ny, [&](std::size_t line) { return (line / nx) * nx * ny + line % nx; }, nx);
    sumLines(nx * ny, nz, [&](std::size_t line) { return line; }, nx * ny);
}

// A candidate is stored when the surface passes within a block's half-diagonal plus the reach
// of its centre; slots follow the candidates' linear order.
void FieldBuilder::KeepBlocksNearTheSurface(const std::vector<std::uint32_t>& candidates)
{
    std::vector<std::uint8_t> keep(candidates.size(), 0);
    const float reach = static_cast<float>(kHalfRootThree * kBlockSpanCells * h_ + reach_);
    ParallelBlocks(candidates.size(), kCandidateBlockTestBlock, [&](std::size_t begin, std::size_t end, std::size_t) {
        for (std::size_t i = begin; i < end; ++i) {
            const std::int64_t block = candidates[i];
            const std::int64_t bx = block % field_.blocksX;
            const std::int64_t by = (block / field_.blocksX) % field_.blocksY;
            const std::int64_t bz = block / (field_.blocksX * field_.blocksY);
            auto centre = [&](double origin, std::int64_t b) {
                return static_cast<float>(
                    origin + (static_cast<double>(kFieldBlockSide * b) + kBlockCentreCells) * h_);
            };
            const Vec3 p{centre(field_.originX, bx), centre(field_.originY, by), centre(field_.originZ, bz)};
            keep[i] = input_.tree->Nearest(*mesh_, p, {}, {}, reach).found ? 1 : 0;
        }
    }, job_);
    std::fill(field_.blockIndex.begin(), field_.blockIndex.end(), -1);
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (keep[i] == 0)
            continue;
        field_.blockIndex[candidates[i]] = static_cast<std::int32_t>(storedBlocks_.size());
        storedBlocks_.push_back(candidates[i]);
    }
}

// The stored block beside each stored block on the six sides, or -1.
void FieldBuilder::FindNeighbourSlots()
{
    neighbourSlots_.assign(storedBlocks_.size() * 6, -1);
    const std::int64_t size[3] = {field_.blocksX, field_.blocksY, field_.blocksZ};
    for (std::size_t slot = 0; slot < storedBlocks_.size(); ++slot) {
        std::int64_t block[3];
        BlockCoordinates(slot, block);
        for (int side = 0; side < 6; ++side) {
            std::int64_t at[3] = {block[0], block[1], block[2]};
            at[side / 2] += side % 2 == 0 ? -1 : 1;
            if (at[side / 2] < 0 || at[side / 2] >= size[side / 2])
                continue;
            neighbourSlots_[slot * 6 + static_cast<std::size_t>(side)] = field_.blockIndex[BlockAt(at[0], at[1], at[2])];
        }
    }
}

// Every stored point near a triangle's box takes the nearest of the triangles that reach it.
void FieldBuilder::SeedLabels()
{
    const auto start = std::chrono::steady_clock::now();
    const std::size_t points = field_.values.size();
    // Not zeroed: the first pass writes every label and flag of the second pair, and reads no
    // flag of the first; later passes read only flags of blocks the pass before wrote.
    for (int pair = 0; pair < 2; ++pair) {
        labels_[pair].reset(new std::uint64_t[points]);
        changed_[pair].reset(new std::uint8_t[points]);
        // The passes follow labels to triangles anywhere in the grid.
        platform::AdviseLargePages(labels_[pair].get(), points * sizeof(std::uint64_t));
        platform::AdviseLargePages(changed_[pair].get(), points);
    }
    ParallelFor(points, [&](std::size_t i) { labels_[0][i] = kNoLabel; }, kPropagationBlock);
    FindNeighbourSlots();
    ParallelBlocks(mesh_->TriangleCount(), kSeedingBlock, [&](std::size_t begin, std::size_t end, std::size_t) {
        for (std::size_t t = begin; t < end; ++t)
            SeedTriangle(static_cast<std::uint32_t>(t));
    }, job_);
    stats_.seedSeconds = SecondsSince(start);
}

void FieldBuilder::SeedTriangle(std::uint32_t t)
{
    const TriangleCorners& corner = corners_[t];
    Vec3 low = corner.position[0];
    Vec3 high = low;
    for (int k = 1; k < 3; ++k) {
        const Vec3 p = corner.position[k];
        low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
    const double grow = kSeedGrowthCells * h_;
    const double lo[3] = {low.x, low.y, low.z};
    const double hi[3] = {high.x, high.y, high.z};
    const double origin[3] = {field_.originX, field_.originY, field_.originZ};
    const std::int64_t count[3] = {field_.pointsX, field_.pointsY, field_.pointsZ};
    std::int64_t first[3];
    std::int64_t last[3];
    for (int axis = 0; axis < 3; ++axis) {
        if (!IndexRange((lo[axis] - grow - origin[axis]) / h_, (hi[axis] + grow - origin[axis]) / h_, count[axis],
                first[axis], last[axis]))
            return;
    }
    // A large triangle (a part of few triangles) seeds its rows in parallel; the atomic minimum
    // makes the order of no account, and a small one's rows run here at once.
    const Vec3d a = Widen(corner.position[0]);
    const Vec3d b = Widen(corner.position[1]);
    const Vec3d c = Widen(corner.position[2]);
    const std::size_t width = static_cast<std::size_t>(last[0] - first[0] + 1);
    const std::size_t height = static_cast<std::size_t>(last[1] - first[1] + 1);
    const std::size_t rows = height * static_cast<std::size_t>(last[2] - first[2] + 1);
    ParallelFor(rows, [&](std::size_t row) {
        const std::int64_t y = first[1] + static_cast<std::int64_t>(row % height);
        const std::int64_t z = first[2] + static_cast<std::int64_t>(row / height);
        // Along a row only x changes: the other coordinates, their part of the box distance
        // and the slot's step are worked out once per row and block.
        const Vec3 rowStart = GridPoint(first[0], y, z);
        const double gapY = Gap(rowStart.y, low.y, high.y);
        const double gapZ = Gap(rowStart.z, low.z, high.z);
        const double rowGap = gapY * gapY + gapZ * gapZ;
        std::int64_t x = first[0];
        while (x <= last[0]) {
            const std::int64_t blockLast = std::min(last[0], x | (kFieldBlockSide - 1));
            std::int64_t slot = field_.PointSlot(x, y, z);
            if (slot < 0) {
                // The rest of this block's row is not stored either.
                x = blockLast + 1;
                continue;
            }
            for (; x <= blockLast; ++x, ++slot) {
                // As MeasureTriangle measures it, with the corners widened once per triangle.
                const Vec3d point{static_cast<float>(field_.originX + static_cast<double>(x) * h_), rowStart.y,
                    rowStart.z};
                std::uint64_t& label = labels_[0][static_cast<std::size_t>(slot)];
                // Labels only fall, so one already nearer than this triangle's box stays nearer.
                const std::uint64_t held = std::atomic_ref<std::uint64_t>(label).load(std::memory_order_relaxed);
                const double gapX = Gap(point.x, low.x, high.x);
                if (held != kNoLabel && IsSurelyFarther(gapX * gapX + rowGap, corner.slack, LabelDistance(held)))
                    continue;
                const Vec3d closest = ClosestPointOnTriangle(point, a, b, c);
                const auto distance = static_cast<float>(std::sqrt(DistanceSquared(closest, point)));
                AtomicMinimum(label, LabelKey(distance, t));
            }
        }
    }, std::max<std::size_t>(1, kSeedPointsAtOnce / width));
}

// Passes until nothing changes. A label moves one face neighbour per pass, so reaching a point
// R away along a cube diagonal takes sqrt(3) R / h passes, not R / h: with only ceil(R / h) + 2
// the points a relief of many cells lifts the surface to kept no label in diagonal directions,
// and the displaced surface was lost there.
void FieldBuilder::PropagateLabels()
{
    const auto start = std::chrono::steady_clock::now();
    // R / h is bounded by the fixed-part guard (the grid is at least 2R / h points wide).
    const auto most = static_cast<std::uint32_t>(std::min(std::ceil(kRootThree * reach_ / h_) + 2.0, 1e6));
    blockChanged_[0].assign(storedBlocks_.size(), 1);
    blockChanged_[1].assign(storedBlocks_.size(), 0);
    int from = 0;
    std::uint32_t passes = 0;
    while (passes < most) {
        std::atomic<bool> anyChange{false};
        // A propagation block is a whole number of field blocks.
        static_assert(kPropagationBlock % kFieldBlockPoints == 0);
        firstPass_ = passes == 0;
        // The number of passes is not known ahead: each takes half of what is left of its span.
        const float left = std::ldexp(0.3f, -static_cast<int>(std::min(passes, 30u)));
        SetProgressSpan(job_, 0.6f - left, 0.6f - left / 2.0f);
        ParallelBlocks(field_.values.size(), kPropagationBlock, [&](std::size_t begin, std::size_t end, std::size_t) {
            bool changed = false;
            for (std::size_t slot = begin / kFieldBlockPoints; slot < end / kFieldBlockPoints; ++slot)
                changed = PropagateBlock(slot, from) || changed;
            if (changed)
                anyChange.exchange(true, std::memory_order_relaxed);
        }, job_);
        ++passes;
        from = 1 - from;
        if (!anyChange.load())
            break;
    }
    finalLabels_ = from;
    stats_.propagationPasses = passes;
    stats_.propagateSeconds = SecondsSince(start);
}

// Whether point `local` of a block lies on one of the block's sides (-x, +x, -y, +y, -z, +z)
// marked in `sides`.
bool IsOnChangedSide(std::int64_t local, const bool (&sides)[6])
{
    const std::int64_t at[3] = {local % kFieldBlockSide, (local / kFieldBlockSide) % kFieldBlockSide,
        local / (kFieldBlockSide * kFieldBlockSide)};
    for (int axis = 0; axis < 3; ++axis) {
        if ((sides[2 * axis] && at[axis] == 0) || (sides[2 * axis + 1] && at[axis] == kFieldBlockSide - 1))
            return true;
    }
    return false;
}

// One field block of one pass. When neither the block nor a block beside it changed in the
// previous pass, no point has a changed neighbour and every label stays: the arrays written
// now already hold them (the previous pass changed nothing here), so the block is skipped. A
// point's own changed flag is read only while its block's flag is set, so the stale flags of
// a skipped block are never seen.
bool FieldBuilder::PropagateBlock(std::size_t slot, int from)
{
    const int to = 1 - from;
    const bool selfChanged = blockChanged_[from][slot] != 0;
    bool sideChanged[6];
    bool nearChange = selfChanged;
    for (int side = 0; side < 6; ++side) {
        const std::int32_t other = neighbourSlots_[slot * 6 + static_cast<std::size_t>(side)];
        sideChanged[side] = other >= 0 && blockChanged_[from][static_cast<std::size_t>(other)] != 0;
        nearChange = nearChange || sideChanged[side];
    }
    bool changed = false;
    if (nearChange) {
        std::int64_t block[3];
        BlockCoordinates(slot, block);
        for (std::int64_t local = 0; local < kFieldBlockPoints; ++local) {
            // In a block that did not change, only a point on a side towards a block that did
            // has a changed neighbour; every other point keeps its label, as PropagatePoint
            // would find.
            if (!selfChanged && !IsOnChangedSide(local, sideChanged)) {
                const std::size_t i = slot * kFieldBlockPoints + static_cast<std::size_t>(local);
                labels_[to][i] = labels_[from][i];
                changed_[to][i] = 0;
                continue;
            }
            changed = PropagatePoint(slot, block, local, from) || changed;
        }
    }
    blockChanged_[to][slot] = changed ? 1 : 0;
    return changed;
}

// A point takes the nearest of its own triangle and the triangles of its face neighbours, when
// a neighbour changed in the previous pass. Reads the `from` arrays, writes the others.
bool FieldBuilder::PropagatePoint(std::size_t slot, const std::int64_t block[3], std::int64_t local, int from)
{
    const std::size_t i = slot * kFieldBlockPoints + static_cast<std::size_t>(local);
    const std::uint64_t own = labels_[from][i];
    const int to = 1 - from;
    const std::int64_t at[3] = {local % 8, (local / 8) % 8, local / 64};
    const std::int64_t count[3] = {field_.pointsX, field_.pointsY, field_.pointsZ};
    for (int axis = 0; axis < 3; ++axis) {
        if (block[axis] * kFieldBlockSide + at[axis] >= count[axis]) {
            labels_[to][i] = own;  // beyond the grid: never read
            changed_[to][i] = 0;
            return false;
        }
    }
    static constexpr std::int64_t kStride[3] = {1, 8, 64};
    std::size_t neighbours[6];
    bool neighbourChanged[6];
    int found = 0;
    bool anyChanged = false;
    for (int side = 0; side < 6; ++side) {
        const int axis = side / 2;
        const std::int64_t step = side % 2 == 0 ? -1 : 1;
        const std::int64_t coordinate = block[axis] * kFieldBlockSide + at[axis] + step;
        if (coordinate < 0 || coordinate >= count[axis])
            continue;
        std::size_t n = 0;
        std::size_t neighbourSlot = slot;
        if (at[axis] + step >= 0 && at[axis] + step < kFieldBlockSide) {
            n = static_cast<std::size_t>(static_cast<std::int64_t>(i) + step * kStride[axis]);
        } else {
            const std::int32_t other = neighbourSlots_[slot * 6 + static_cast<std::size_t>(side)];
            if (other < 0)
                continue;
            neighbourSlot = static_cast<std::size_t>(other);
            const std::int64_t wrapped = local - step * (kFieldBlockSide - 1) * kStride[axis];
            n = neighbourSlot * kFieldBlockPoints + static_cast<std::size_t>(wrapped);
        }
        const bool changed = firstPass_ || (blockChanged_[from][neighbourSlot] != 0 && changed_[from][n] != 0);
        neighbours[found] = n;
        neighbourChanged[found++] = changed;
        anyChanged = anyChanged || changed;
    }
    std::uint64_t best = own;
    if (anyChanged) {
        const Vec3 p = GridPoint(block[0] * kFieldBlockSide + at[0], block[1] * kFieldBlockSide + at[1],
            block[2] * kFieldBlockSide + at[2]);
        const double farthest = 2.0 * h_ + reach_;
        std::uint32_t tried[6];
        int triedCount = 0;
        for (int k = 0; k < found; ++k) {
            // A neighbour's label that did not change was offered to this point in the pass
            // after it last changed, and labels only fall: it cannot win now.
            if (!neighbourChanged[k])
                continue;
            const std::uint64_t label = labels_[from][neighbours[k]];
            const std::uint32_t t = LabelTriangle(label);
            if (label == kNoLabel || (own != kNoLabel && t == LabelTriangle(own))
                || static_cast<double>(LabelDistance(label)) > farthest
                || std::find(tried, tried + triedCount, t) != tried + triedCount)
                continue;
            tried[triedCount++] = t;
            const TriangleCorners& corner = corners_[t];
            if (best != kNoLabel
                && IsSurelyFarther(BoxDistanceSquared(corner, Widen(p)), corner.slack, LabelDistance(best)))
                continue;
            best = std::min(best, LabelKey(MeasureTriangle(corners_.get(), t, p).distance, t));
        }
    }
    labels_[to][i] = best;
    changed_[to][i] = best != own ? 1 : 0;
    return best != own;
}

void FieldBuilder::ComputeBlockValues()
{
    const auto start = std::chrono::steady_clock::now();
    FindSeededDistance();
    std::atomic<std::uint64_t> measured{0}, displaced{0}, skipped{0}, rechecked{0};
    std::atomic<std::uint64_t> checks{0}, mismatches{0}, misses{0};
    std::atomic<double> maxError{0.0};
    ParallelBlocks(storedBlocks_.size(), kBlockValuesBlock, [&](std::size_t begin, std::size_t end, std::size_t) {
        ValueCounters counters;
        for (std::size_t slot = begin; slot < end; ++slot)
            ComputeBlock(slot, counters);
        measured.fetch_add(counters.measured, std::memory_order_relaxed);
        displaced.fetch_add(counters.displaced, std::memory_order_relaxed);
        skipped.fetch_add(counters.skipped, std::memory_order_relaxed);
        rechecked.fetch_add(counters.rechecked, std::memory_order_relaxed);
        checks.fetch_add(counters.checks, std::memory_order_relaxed);
        mismatches.fetch_add(counters.mismatches, std::memory_order_relaxed);
        misses.fetch_add(counters.misses, std::memory_order_relaxed);
        AtomicMaximum(maxError, counters.maxError);
    }, job_);
    stats_.pointsMeasured = measured.load();
    stats_.pointsDisplaced = displaced.load();
    stats_.subCubesSkipped = skipped.load();
    stats_.pointsRechecked = rechecked.load();
    stats_.verifyChecks = checks.load();
    stats_.verifyMismatches = mismatches.load();
    stats_.verifyMisses = misses.load();
    stats_.verifyMaxError = maxError.load();
    for (int pair = 0; pair < 2; ++pair) {
        labels_[pair].reset();
        changed_[pair].reset();
    }
    for (auto& changed : blockChanged_)
        std::vector<std::uint8_t>().swap(changed);
    stats_.valueSeconds = SecondsSince(start);
}

// Walks each column of the block upwards: the far value with the column's sign, overwritten by
// a measurement in the near sub-cubes, then held above the floor.
void FieldBuilder::ComputeBlock(std::size_t slot, ValueCounters& counters) const
{
    std::int64_t block[3];
    BlockCoordinates(slot, block);
    std::int64_t first[3];
    for (int axis = 0; axis < 3; ++axis)
        first[axis] = block[axis] * kFieldBlockSide;
    const std::uint8_t near = NearSubCubes(first, counters);
    const float far = field_.farValue;
    for (std::int64_t ly = 0; ly < kFieldBlockSide && first[1] + ly < field_.pointsY; ++ly) {
        for (std::int64_t lx = 0; lx < kFieldBlockSide && first[0] + lx < field_.pointsX; ++lx) {
            const std::int64_t x = first[0] + lx;
            const std::int64_t y = first[1] + ly;
            const std::size_t column = static_cast<std::size_t>(y * field_.pointsX + x);
            const float* next = field_.columnCrossings.data() + field_.columnOffsets[column];
            const float* end = field_.columnCrossings.data() + field_.columnOffsets[column + 1];
            const double firstZ = field_.originZ + static_cast<double>(first[2]) * h_;
            const std::size_t below = CrossingsBelow(next, end, firstZ);
            bool inside = below % 2 == 1;
            next += below;
            bool previous = false;  // the point below was measured, at distance `previousDistance`
            double previousDistance = 0.0;
            for (std::int64_t lz = 0; lz < kFieldBlockSide && first[2] + lz < field_.pointsZ; ++lz) {
                const std::int64_t z = first[2] + lz;
                const double pointZ = field_.originZ + static_cast<double>(z) * h_;
                for (; next != end && static_cast<double>(*next) < pointZ; ++next)
                    inside = !inside;
                const std::size_t i = slot * kFieldBlockPoints + static_cast<std::size_t>(lz * 64 + ly * 8 + lx);
                float value = inside ? -far : far;
                const int subCube = static_cast<int>((lz / kSubCubeSide) * 4 + (ly / kSubCubeSide) * 2 + lx / kSubCubeSide);
                if ((near >> subCube) & 1) {
                    ++counters.measured;
                    const Vec3 p = GridPoint(x, y, z);
                    NearestHit hit;
                    if (labelMode_) {
                        hit = MeasureByLabel(i, p, counters);
                    } else {
                        const double reach = previous
                            ? std::min(h_ * kColumnStepFactor + previousDistance + kColumnStepSlack, reach_)
                            : reach_;
                        hit = input_.tree->Nearest(*mesh_, p, {}, {}, static_cast<float>(reach));
                        previous = hit.found;
                        previousDistance = hit.distance;
                    }
                    if (input_.verify)
                        Verify(p, hit, counters);
                    if (hit.found) {
                        const double height = HeightAt(corners_.get(), hit, input_.masks);
                        const double distance = hit.distance;
                        const double relief = (inside ? -distance : distance) - height;
                        const double beyond = InsideKeepsItsSign(
                            inside, BeyondPlainFaces(corners_.get(), plainRims_, hit, p));
                        value = static_cast<float>(std::max(relief, beyond));
                        if (relief >= beyond) {
                            if (height != 0.0)
                                ++counters.displaced;
                            if (height != 0.0 || corners_[static_cast<std::uint32_t>(hit.triangle)].reliefNear != 0)
                                field_.displaced[i] = 1;
                        }
                    }
                } else {
                    previous = false;
                }
                if (hasFloor_ && pointZ < floor_)
                    value = std::max(static_cast<float>(floor_ - pointZ), value);
                field_.values[i] = value;
            }
        }
    }
}

// Bit k set: sub-cube k (z, y, x halves as bits 2, 1, 0) is near the surface. All are in label
// mode; in direct mode the others keep the far value and are counted as skipped.
std::uint8_t FieldBuilder::NearSubCubes(std::int64_t first[3], ValueCounters& counters) const
{
    if (labelMode_)
        return 0xFF;
    const float reach = static_cast<float>(kHalfRootThree * kSubCubeSpanCells * h_ + reach_);
    std::uint8_t near = 0;
    for (int k = 0; k < 8; ++k) {
        const std::int64_t start[3] = {first[0] + (k & 1) * kSubCubeSide, first[1] + ((k >> 1) & 1) * kSubCubeSide,
            first[2] + ((k >> 2) & 1) * kSubCubeSide};
        if (start[0] >= field_.pointsX || start[1] >= field_.pointsY || start[2] >= field_.pointsZ)
            continue;  // wholly beyond the grid: no point to measure
        const Vec3 centre{static_cast<float>(field_.originX + (static_cast<double>(start[0]) + kSubCubeCentreCells) * h_),
            static_cast<float>(field_.originY + (static_cast<double>(start[1]) + kSubCubeCentreCells) * h_),
            static_cast<float>(field_.originZ + (static_cast<double>(start[2]) + kSubCubeCentreCells) * h_)};
        if (input_.tree->Nearest(*mesh_, centre, {}, {}, reach).found)
            near = static_cast<std::uint8_t>(near | (1u << k));
        else
            ++counters.skipped;
    }
    return near;
}

// A point whose nearest triangle lies within the seeding's growth of it was seeded by that
// triangle, and labels only fall, so its label is the nearest triangle, found as a search would
// find it: a search can only confirm it. Less a tenth of a cell and the rounding of float
// coordinates, against the doubles the seeding places its boxes with.
void FieldBuilder::FindSeededDistance()
{
    constexpr double kSeededMarginCells = 0.1;
    constexpr double kCoordinateRounding = 8.0 / 16777216.0;  // 8 float steps, relative
    seededExactly_ = (kSeedGrowthCells - kSeededMarginCells) * h_ - kCoordinateRounding * LargestGridCoordinate();
}

// The largest magnitude of any grid coordinate.
double FieldBuilder::LargestGridCoordinate() const
{
    double largest = 0.0;
    const double origin[3] = {field_.originX, field_.originY, field_.originZ};
    const std::int64_t count[3] = {field_.pointsX, field_.pointsY, field_.pointsZ};
    for (int axis = 0; axis < 3; ++axis) {
        largest = std::max({largest, std::fabs(origin[axis]),
            std::fabs(origin[axis] + static_cast<double>(count[axis]) * h_)});
    }
    return largest;
}

// The point's propagated triangle; near the displaced surface a bounded search makes sure no
// nearer triangle was missed. A propagated triangle need not be the nearest, so a label a
// little beyond R may hide a surface within R: labels up to R + 2h (as far as propagation
// carries them) are measured, and the result is kept only when it ends within R.
NearestHit FieldBuilder::MeasureByLabel(std::size_t i, Vec3 p, ValueCounters& counters) const
{
    const std::uint64_t label = labels_[finalLabels_][i];
    if (label == kNoLabel || !(static_cast<double>(LabelDistance(label)) < reach_ + 2.0 * h_))
        return {};
    NearestHit hit = MeasureTriangle(corners_.get(), LabelTriangle(label), p);
    const double height = HeightAt(corners_.get(), hit, input_.masks);
    if (std::fabs(static_cast<double>(hit.distance) - std::fabs(height)) < 2.0 * h_ + kRecheckBand) {
        ++counters.rechecked;
        if (static_cast<double>(hit.distance) <= seededExactly_)
            return hit;
        const double reach = static_cast<double>(hit.distance) * kRecheckReachFactor + kRecheckReachSlack;
        const NearestHit nearer = input_.tree->Nearest(*mesh_, p, {}, {}, static_cast<float>(reach));
        if (nearer.found && nearer.distance < hit.distance)
            hit = nearer;
    }
    if (!(static_cast<double>(hit.distance) < reach_))
        return {};
    return hit;
}

void FieldBuilder::Verify(Vec3 p, const NearestHit& hit, ValueCounters& counters) const
{
    const NearestHit exact = input_.tree->Nearest(*mesh_, p, {}, {}, static_cast<float>(reach_));
    if (!exact.found)
        return;
    ++counters.checks;
    const double error = hit.found ? std::fabs(static_cast<double>(hit.distance) - exact.distance)
                                   : reach_ - static_cast<double>(exact.distance);
    if (error > kVerifyTolerance)
        ++counters.mismatches;
    counters.maxError = std::max(counters.maxError, std::min(error, kLargestVerifyError));
    if (!hit.found)
        ++counters.misses;
}

}  // namespace

std::int64_t SolidField::PointSlot(std::int64_t x, std::int64_t y, std::int64_t z) const
{
    if (x < 0 || y < 0 || z < 0 || x >= pointsX || y >= pointsY || z >= pointsZ)
        return -1;
    const std::int64_t block =
        ((z / kFieldBlockSide) * blocksY + y / kFieldBlockSide) * blocksX + x / kFieldBlockSide;
    if (block >= static_cast<std::int64_t>(blockIndex.size()))
        return -1;
    const std::int32_t slot = blockIndex[static_cast<std::size_t>(block)];
    if (slot < 0)
        return -1;
    return std::int64_t{slot} * kFieldBlockPoints + (z % kFieldBlockSide) * 64 + (y % kFieldBlockSide) * 8
        + x % kFieldBlockSide;
}

float SolidField::ValueAt(std::int64_t x, std::int64_t y, std::int64_t z) const
{
    const std::int64_t slot = PointSlot(x, y, z);
    if (slot >= 0 && static_cast<std::size_t>(slot) < values.size())
        return values[static_cast<std::size_t>(slot)];
    if (x < 0 || y < 0 || z < 0 || x >= pointsX || y >= pointsY || z >= pointsZ)
        return farValue;
    const std::size_t column = static_cast<std::size_t>(y * pointsX + x);
    if (column + 1 >= columnOffsets.size() || columnOffsets[column + 1] > columnCrossings.size())
        return farValue;
    const float* begin = columnCrossings.data() + columnOffsets[column];
    const float* end = columnCrossings.data() + columnOffsets[column + 1];
    const std::size_t below = CrossingsBelow(begin, end, originZ + static_cast<double>(z) * cell);
    return below % 2 == 1 ? -farValue : farValue;
}

std::array<double, 3> SolidField::Gradient(std::int64_t x, std::int64_t y, std::int64_t z) const
{
    const std::int64_t at[3] = {x, y, z};
    const std::int64_t count[3] = {pointsX, pointsY, pointsZ};
    std::array<double, 3> gradient{0.0, 0.0, 0.0};
    for (int axis = 0; axis < 3; ++axis) {
        const std::int64_t hi = std::min(at[axis] + 1, count[axis] - 1);
        const std::int64_t lo = std::max(at[axis] - 1, std::int64_t{0});
        if (hi <= lo)
            continue;
        std::int64_t high[3] = {x, y, z};
        std::int64_t low[3] = {x, y, z};
        high[axis] = hi;
        low[axis] = lo;
        gradient[static_cast<std::size_t>(axis)] =
            (static_cast<double>(ValueAt(high[0], high[1], high[2])) - ValueAt(low[0], low[1], low[2]))
            / (static_cast<double>(hi - lo) * cell);
    }
    return gradient;
}

bool BuildSolidField(const SolidFieldInput& input, SolidField& field, SolidFieldStats& stats, JobProgressContext* job)
{
    field = SolidField{};
    stats = SolidFieldStats{};
    return FieldBuilder(input, field, stats, job).Build();
}

namespace {

// The surface's measures the estimate reads: its area, and the area and rims of its triangles
// seen from above (each column under a triangle's shadow, or on its rim, crosses it once).
struct SurfaceMeasures {
    double area = 0.0;
    double shadow = 0.0;
    double shadowRims = 0.0;
};

SurfaceMeasures MeasureSurface(const TriangleMesh& mesh)
{
    SurfaceMeasures m;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const WideTriangle w = WidenTriangle(mesh, t);
        const Vec3d n = w.cross;
        m.area += 0.5 * std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
        m.shadow += 0.5 * std::fabs(n.z);
        m.shadowRims += std::hypot(w.ab.x, w.ab.y) + std::hypot(w.ac.x, w.ac.y)
            + std::hypot(w.c.x - w.b.x, w.c.y - w.b.y);
    }
    return m;
}

// Measured on a cube, a sphere, a torus, a thin plate, a wedge and a rough sphere at cells of
// 0.1 to 1 mm and reliefs up to 3 mm deep: the kept blocks never filled more than this share of
// the shell widened by kShellBlockCells.
constexpr double kShellMargin = 1.0;
constexpr double kShellBlockCells = 4.0;

}  // namespace

SolidFieldNeed EstimateSolidFieldNeed(const TriangleMesh& mesh, double cell, double largestHeight)
{
    SolidFieldNeed need;
    const double h = cell;
    const double reach = std::fabs(largestHeight) + 2.0 * h;
    const double margin = reach + 2.0 * h;
    const Vec3d low = Widen(mesh.boundsMin);
    const Vec3d high = Widen(mesh.boundsMax);
    const double px = GridPointsAlong(low.x, high.x, margin, h);
    const double py = GridPointsAlong(low.y, high.y, margin, h);
    const double pz = GridPointsAlong(low.z, high.z, margin, h);
    need.gridPoints = px * py * pz;
    need.fixedBytes = FixedFieldBytes(px, py, pz);
    const SurfaceMeasures surface = MeasureSurface(mesh);
    const double crossings = surface.shadow / (h * h) + surface.shadowRims / h + static_cast<double>(mesh.TriangleCount());
    // Blocks are kept whose centre lies within this of the surface (KeepBlocksNearTheSurface):
    // a shell of that half-width on both sides, rounded over the box's edges and corners.
    // A block counts whole: half a block further on each side holds the blocks a centre just
    // inside the reach brings in.
    const double keep = kHalfRootThree * kBlockSpanCells * h + reach + kShellBlockCells * h;
    const double pi = 3.14159265358979323846;
    const double shell = 2.0 * surface.area * keep
        + pi * keep * keep * ((high.x - low.x) + (high.y - low.y) + (high.z - low.z))
        + 4.0 / 3.0 * pi * keep * keep * keep;
    // Never more than every block of the grid, each stored whole.
    const double side = static_cast<double>(kFieldBlockSide);
    const double blockPoints =
        std::ceil(px / side) * std::ceil(py / side) * std::ceil(pz / side) * static_cast<double>(kFieldBlockPoints);
    const double points = std::min(kShellMargin * shell / (h * h * h), blockPoints);
    const double stored = need.fixedBytes + crossings * kCrossingBytes
        + points * (kValueBytesPerPoint + kLabelBytesPerPoint);
    const double gathered = need.fixedBytes + crossings * (kCrossingBytes + kCrossingPairBytes);
    need.mostBytes = std::max(stored, gathered);
    return need;
}

bool SolidFieldFits(const SolidFieldNeed& need, std::uint64_t budgetBytes, std::uint64_t cellLimit)
{
    const bool finite = std::isfinite(need.fixedBytes) && std::isfinite(need.mostBytes);
    return finite && !(need.fixedBytes > kMostFixedBytes) && !(static_cast<double>(cellLimit) < need.gridPoints)
        && (budgetBytes == 0 || !(need.mostBytes > static_cast<double>(budgetBytes)));
}

}  // namespace grainforge::mesh
