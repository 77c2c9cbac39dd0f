#include "engine/remesh/flat_simplify.h"
#include "engine/mesh/report_text.h"

#include "engine/mesh/large_pages.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/remesh/contour_clusters.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>
#include <utility>

namespace grainforge::mesh {

namespace {


// Compensated summation, so that the before and after measures of a large mesh compare at the
// tolerances of the guarantee.
struct KahanSum {
    double sum = 0.0;
    double carry = 0.0;
    void Add(double value)
    {
        const double y = value - carry;
        const double t = sum + y;
        carry = (t - sum) - y;
        sum = t;
    }
};

std::array<Vec3, 2> BoxOf(const TriangleMesh& mesh)
{
    if (mesh.vertices.empty())
        return {};
    Vec3 lo = mesh.vertices[0].position;
    Vec3 hi = lo;
    for (const MeshVertex& v : mesh.vertices) {
        lo = {std::min(lo.x, v.position.x), std::min(lo.y, v.position.y), std::min(lo.z, v.position.z)};
        hi = {std::max(hi.x, v.position.x), std::max(hi.y, v.position.y), std::max(hi.z, v.position.z)};
    }
    return {lo, hi};
}

struct Measures {
    double area = 0.0;
    double volume = 0.0;
};

// Area and signed volume about the box centre of the triangles `forEach` gives as three
// corner positions each, summed in that order.
template <class ForEachTriangle>
Measures MeasureTriangles(bool noVertices, const std::array<Vec3, 2>& box, ForEachTriangle&& forEach)
{
    Measures m;
    const double cx = noVertices ? 0.0 : (double(box[0].x) + double(box[1].x)) * 0.5;
    const double cy = noVertices ? 0.0 : (double(box[0].y) + double(box[1].y)) * 0.5;
    const double cz = noVertices ? 0.0 : (double(box[0].z) + double(box[1].z)) * 0.5;
    KahanSum area;
    KahanSum volume;
    forEach([&](Vec3 q0, Vec3 q1, Vec3 q2) {
        const Vec3 q[3] = {q0, q1, q2};
        double p[3][3];
        for (int i = 0; i < 3; ++i) {
            p[i][0] = double(q[i].x) - cx;
            p[i][1] = double(q[i].y) - cy;
            p[i][2] = double(q[i].z) - cz;
        }
        const double e1[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
        const double e2[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
        const double cr[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
            e1[0] * e2[1] - e1[1] * e2[0]};
        area.Add(0.5 * std::sqrt(cr[0] * cr[0] + cr[1] * cr[1] + cr[2] * cr[2]));
        const double det = p[0][0] * (p[1][1] * p[2][2] - p[1][2] * p[2][1])
            - p[0][1] * (p[1][0] * p[2][2] - p[1][2] * p[2][0])
            + p[0][2] * (p[1][0] * p[2][1] - p[1][1] * p[2][0]);
        volume.Add(det / 6.0);
    });
    m.area = area.sum;
    m.volume = volume.sum;
    return m;
}

// Area and signed volume about the box centre; nothing is read for an inconsistent mesh.
Measures MeasureOf(const TriangleMesh& mesh, const std::array<Vec3, 2>& box, bool consistent)
{
    if (!consistent)
        return {};
    return MeasureTriangles(mesh.vertices.empty(), box, [&](auto&& add) {
        for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
            add(mesh.vertices[mesh.indices[3 * t]].position, mesh.vertices[mesh.indices[3 * t + 1]].position,
                mesh.vertices[mesh.indices[3 * t + 2]].position);
        }
    });
}

// Whether RebuildMeshFromTopology keeps triangle t.
bool IsKept(const RemeshTopology& topology, std::size_t t)
{
    const auto& c = topology.triangles[t];
    return topology.triangleAlive[t] && c[0] != c[1] && c[1] != c[2] && c[0] != c[2]
        && topology.vertexAlive[c[0]] && topology.vertexAlive[c[1]] && topology.vertexAlive[c[2]];
}

// BoxOf and MeasureOf of the mesh RebuildMeshFromTopology makes, read from the topology: its
// vertices are the alive ones in order and its triangles the kept ones in order, so every
// comparison and sum meets the same numbers in the same order.
std::array<Vec3, 2> BoxOfRebuilt(const RemeshTopology& topology)
{
    std::array<Vec3, 2> box{};
    bool first = true;
    for (std::size_t v = 0; v < topology.VertexCount(); ++v) {
        if (!topology.vertexAlive[v])
            continue;
        const Vec3 p = topology.positions[v];
        if (first) {
            box = {p, p};
            first = false;
        }
        box[0] = {std::min(box[0].x, p.x), std::min(box[0].y, p.y), std::min(box[0].z, p.z)};
        box[1] = {std::max(box[1].x, p.x), std::max(box[1].y, p.y), std::max(box[1].z, p.z)};
    }
    return box;
}

Measures MeasureOfRebuilt(const RemeshTopology& topology, const std::array<Vec3, 2>& box)
{
    const bool noVertices = std::find(topology.vertexAlive.begin(), topology.vertexAlive.end(), 1)
        == topology.vertexAlive.end();
    return MeasureTriangles(noVertices, box, [&](auto&& add) {
        for (std::size_t t = 0; t < topology.TriangleCount(); ++t) {
            if (!IsKept(topology, t))
                continue;
            const auto& c = topology.triangles[t];
            add(topology.positions[c[0]], topology.positions[c[1]], topology.positions[c[2]]);
        }
    });
}

}  // namespace

namespace {

// A corner slot of a triangle around vertex a whose edge has a for an end, with its other end.
struct EdgeUse {
    std::uint32_t otherEnd;
    std::size_t slot;
};

// Up to this many uses of a vertex, a pairwise search beats a sort; a fan's centre has two per
// triangle around it, where the pairwise search grew with the square of its valence.
constexpr std::size_t kFewUses = 64;

// Each slot that starts at a, whose edge exactly one other slot uses, gets that slot's triangle.
void MatchFewUses(std::size_t a, const std::vector<EdgeUse>& uses, const std::uint32_t* index,
    std::vector<std::uint32_t>& neighbours)
{
    for (const EdgeUse& own : uses) {
        if (index[own.slot] != a)
            continue;
        std::size_t users = 0;
        std::size_t other = 0;
        for (const EdgeUse& use : uses) {
            if (use.otherEnd != own.otherEnd)
                continue;
            ++users;
            if (use.slot != own.slot)
                other = use.slot;
        }
        if (users == 2)
            neighbours[own.slot] = static_cast<std::uint32_t>(other / 3);
    }
}

// The same by sorting the uses by their other end: every edge's users lie side by side.
void MatchManyUses(std::size_t a, std::vector<EdgeUse>& uses, const std::uint32_t* index,
    std::vector<std::uint32_t>& neighbours)
{
    std::sort(uses.begin(), uses.end(), [](const EdgeUse& x, const EdgeUse& y) {
        return x.otherEnd != y.otherEnd ? x.otherEnd < y.otherEnd : x.slot < y.slot;
    });
    for (std::size_t first = 0; first < uses.size();) {
        std::size_t last = first + 1;
        while (last < uses.size() && uses[last].otherEnd == uses[first].otherEnd)
            ++last;
        if (last - first == 2) {
            const EdgeUse& x = uses[first];
            const EdgeUse& y = uses[first + 1];
            if (index[x.slot] == a)
                neighbours[x.slot] = static_cast<std::uint32_t>(y.slot / 3);
            if (index[y.slot] == a)
                neighbours[y.slot] = static_cast<std::uint32_t>(x.slot / 3);
        }
        first = last;
    }
}

}  // namespace

std::vector<std::uint32_t> BuildTriangleNeighbours(const TriangleMesh& mesh)
{
    // Every corner slot whose edge has the same key lies in a triangle around the edge's first
    // vertex, so each slot finds its edge's other users among that vertex's triangles. That
    // reads a few nearby triangles per slot in parallel, where sorting every slot by its key
    // was the slowest step of the whole simplification.
    const std::size_t corners = mesh.indices.size() - mesh.indices.size() % 3;
    const std::size_t triangles = corners / 3;
    const std::uint32_t* index = mesh.indices.data();
    // The triangles around each vertex, each once however many of its corners the vertex is.
    const auto isFirstUse = [&](std::size_t t, int k) {
        const std::uint32_t* c = index + 3 * t;
        return (k < 1 || c[k] != c[0]) && (k < 2 || c[k] != c[1]);
    };
    std::vector<std::uint32_t> start(mesh.vertices.size() + 1, 0);
    for (std::size_t t = 0; t < triangles; ++t)
        for (int k = 0; k < 3; ++k)
            if (isFirstUse(t, k))
                ++start[index[3 * t + static_cast<std::size_t>(k)] + 1];
    for (std::size_t v = 0; v + 1 < start.size(); ++v)
        start[v + 1] += start[v];
    std::vector<std::uint32_t> around(start.back());
    std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
    for (std::size_t t = 0; t < triangles; ++t)
        for (int k = 0; k < 3; ++k)
            if (isFirstUse(t, k))
                around[fill[index[3 * t + static_cast<std::size_t>(k)]]++] = static_cast<std::uint32_t>(t);

    // The region growing reads the neighbours, the shapes and the regions of triangles all
    // over the mesh: on large pages.
    std::vector<std::uint32_t> neighbours;
    AssignOnLargePages(neighbours, corners, kNoFace);
    // Per vertex a: the corner slots of a's triangles whose edge has a for an end, each with
    // its other end. The slots starting at a find their users among them, so each triangle
    // around a is read once for all of them.
    const std::size_t vertexCount = mesh.vertices.size();
    ParallelForBlocks(vertexCount, 1024, [&](std::size_t begin, std::size_t end) {
        std::vector<EdgeUse> uses;
        for (std::size_t a = begin; a < end; ++a) {
            uses.clear();
            for (std::uint32_t k = start[a]; k < start[a + 1]; ++k) {
                const std::size_t u = around[k];
                for (std::size_t j = 0; j < 3; ++j) {
                    const std::uint32_t p = index[3 * u + j];
                    const std::uint32_t q = index[3 * u + (j + 1) % 3];
                    if (p == a)
                        uses.push_back({q, 3 * u + j});
                    else if (q == a)
                        uses.push_back({p, 3 * u + j});
                }
            }
            if (uses.size() <= kFewUses)
                MatchFewUses(a, uses, index, neighbours);
            else
                MatchManyUses(a, uses, index, neighbours);
        }
    });
    return neighbours;
}

namespace {

// How far a corner may lie off a region's plane: the absolute tolerance, or the relative one
// scaled by the box diagonal when that is larger, so that large parts are not split by the
// rounding of their coordinates.
double PlaneTolerance(Vec3 boxMin, Vec3 boxMax, const SimplifySettings& settings)
{
    const Vec3 e = boxMax - boxMin;
    const double diagonal = std::sqrt(double(e.x) * e.x + double(e.y) * e.y + double(e.z) * e.z);
    return std::max(diagonal * double(settings.relativePlanarTolerance),
        double(settings.planarToleranceMillimetres));
}

// Grid steps across the part's diagonal within which pieces count as near each other; a part
// whose diagonal is more than kFarPieceSpread times its largest piece's holds pieces far apart.
constexpr float kNearPieceSteps = 256.0f;
constexpr double kFarPieceSpread = 4.0;

// The tolerance of each triangle: that of the part's box, or, where pieces lie far apart, that
// of its own piece's box, so that a body far away never widens the tolerance of the rest. One
// value for all when every triangle has the part's.
std::vector<double> PlaneTolerances(const TriangleMesh& mesh, const SimplifySettings& settings)
{
    if (!mesh.boundsValid)
        return {double(settings.planarToleranceMillimetres)};
    const double whole = PlaneTolerance(mesh.boundsMin, mesh.boundsMax, settings);
    if (!(whole > double(settings.planarToleranceMillimetres)))
        return {whole};
    const Vec3 e = mesh.boundsMax - mesh.boundsMin;
    const std::vector<MeshCluster> pieces = FindMeshClusters(mesh, Length(e) / kNearPieceSteps);
    double largest = 0.0;
    for (const MeshCluster& piece : pieces)
        largest = std::max(largest, PlaneTolerance(piece.boundsMin, piece.boundsMax, settings));
    if (pieces.size() < 2 || !(whole > kFarPieceSpread * largest))
        return {whole};
    std::vector<double> tolerances(mesh.TriangleCount(), whole);
    for (const MeshCluster& piece : pieces) {
        // A float's rounding grows with its distance from the origin: a small piece far out
        // keeps the relative tolerance of that distance, or its flat faces would split.
        const Vec3 reach{std::max(std::fabs(piece.boundsMin.x), std::fabs(piece.boundsMax.x)),
            std::max(std::fabs(piece.boundsMin.y), std::fabs(piece.boundsMax.y)),
            std::max(std::fabs(piece.boundsMin.z), std::fabs(piece.boundsMax.z))};
        const double own = std::max(PlaneTolerance(piece.boundsMin, piece.boundsMax, settings),
            PlaneTolerance(Vec3{}, reach, settings));
        for (std::uint32_t t : piece.triangles)
            tolerances[t] = own;
    }
    return tolerances;
}

struct FaceShapes {
    std::vector<Vec3> normals;  // unit, zero for a degenerate triangle
    std::vector<float> areas;
};

FaceShapes MeasureFaces(const TriangleMesh& mesh)
{
    const std::size_t triangleCount = mesh.TriangleCount();
    FaceShapes shapes;
    AssignOnLargePages(shapes.normals, triangleCount, Vec3{});
    AssignOnLargePages(shapes.areas, triangleCount, 0.0f);
    ParallelFor(triangleCount, [&](std::size_t t) {
        const Vec3 p0 = mesh.vertices[mesh.indices[3 * t]].position;
        const Vec3 cross = Cross(mesh.vertices[mesh.indices[3 * t + 1]].position - p0,
            mesh.vertices[mesh.indices[3 * t + 2]].position - p0);
        shapes.normals[t] = Normalized(cross);
        shapes.areas[t] = 0.5f * Length(cross);
    });
    return shapes;
}

// Triangle indices, largest area first, ties by lower index.
std::vector<std::uint32_t> SeedsLargestFirst(const std::vector<float>& areas)
{
    std::vector<std::uint32_t> seeds(areas.size());
    // Areas are lengths, never below +0: as unsigned integers their bits order as they do, so
    // one key per triangle (the area's bits inverted, then the index) sorts with no lookups.
    // The order is total, so it is the order the comparison below gives.
    const bool plain = std::all_of(areas.begin(), areas.end(), [](float area) { return area >= 0.0f; });
    if (plain) {
        // The keys start in index order and a stable radix sort by the area half alone keeps
        // that order among equal areas: digit by digit from the lowest, on one thread, which
        // beats a parallel comparison sort and leaves the other thread to the seed tests.
        LargeVector<std::uint64_t> keys(areas.size());
        LargeVector<std::uint64_t> sorted(areas.size());
        for (std::size_t t = 0; t < areas.size(); ++t)
            keys[t] = (std::uint64_t{~std::bit_cast<std::uint32_t>(areas[t] + 0.0f)} << 32) | t;
        constexpr int kDigitBits = 11;
        std::vector<std::size_t> starts(std::size_t{1} << kDigitBits);
        for (int shift = 32; shift < 64; shift += kDigitBits) {
            const int bits = std::min(kDigitBits, 64 - shift);
            const std::uint64_t mask = (std::uint64_t{1} << bits) - 1;
            std::fill(starts.begin(), starts.end(), 0);
            for (const std::uint64_t key : keys)
                ++starts[(key >> shift) & mask];
            // One digit for all keys would leave them where they are.
            if (std::find(starts.begin(), starts.end(), keys.size()) != starts.end())
                continue;
            std::size_t sum = 0;
            for (std::size_t& start : starts)
                sum += std::exchange(start, sum);
            for (const std::uint64_t key : keys)
                sorted[starts[(key >> shift) & mask]++] = key;
            keys.swap(sorted);
        }
        for (std::size_t i = 0; i < keys.size(); ++i)
            seeds[i] = static_cast<std::uint32_t>(keys[i]);
        return seeds;
    }
    std::iota(seeds.begin(), seeds.end(), 0u);
    ParallelSort(seeds.begin(), seeds.end(), [&](std::uint32_t a, std::uint32_t b) {
        return areas[a] != areas[b] ? areas[a] > areas[b] : a < b;
    });
    return seeds;
}

// Whether a triangle joins a region: the test of the growth, for any fixed plane.
class JoinTest {
public:
    JoinTest(const TriangleMesh& mesh, const FaceShapes& shapes, const SimplifySettings& settings)
        : mesh_(mesh), shapes_(shapes), tolerances_(PlaneTolerances(mesh, settings)),
          cosineLimit_(std::cos(std::clamp(settings.planarAngleDegrees, 0.0f, kLargestPlanarAngleDegrees) * 3.1415927f / 180.0f))
    {
    }

    Vec3 Corner(std::size_t t, std::size_t i) const { return mesh_.vertices[mesh_.indices[3 * t + i]].position; }

    // Whether `other`, across edge i of member t, joins the region with unit normal `normal`
    // through `planePoint`: its normal within the angle (a degenerate one has no say), its
    // corners on the plane, and it lies beyond the edge, not folded back over t.
    bool Joins(Vec3 normal, Vec3 planePoint, std::uint32_t t, std::size_t i, std::uint32_t other) const
    {
        const Vec3 otherNormal = shapes_.normals[other];
        if (!IsZero(otherNormal) && !(Dot(otherNormal, normal) >= cosineLimit_))
            return false;
        const auto offPlane = [&](Vec3 p) {
            const Vec3 d = p - planePoint;
            return std::abs(double(d.x) * normal.x + double(d.y) * normal.y + double(d.z) * normal.z);
        };
        const double tolerance = tolerances_[tolerances_.size() == 1 ? 0 : t];
        if (offPlane(Corner(other, 0)) > tolerance || offPlane(Corner(other, 1)) > tolerance
            || offPlane(Corner(other, 2)) > tolerance)
            return false;
        const std::uint32_t i0 = mesh_.indices[3 * t + i];
        const std::uint32_t i1 = mesh_.indices[3 * t + (i + 1) % 3];
        const Vec3 e0 = mesh_.vertices[i0].position;
        const Vec3 acrossEdge = Normalized(Cross(normal, mesh_.vertices[i1].position - e0));
        Vec3 otherApex = Corner(other, 0);
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint32_t index = mesh_.indices[3 * other + k];
            if (index != i0 && index != i1)
                otherApex = mesh_.vertices[index].position;
        }
        const float side = Dot(Corner(t, (i + 2) % 3) - e0, acrossEdge) * Dot(otherApex - e0, acrossEdge);
        return !(side > 0.0f);
    }

private:
    const TriangleMesh& mesh_;
    const FaceShapes& shapes_;
    const std::vector<double> tolerances_;  // one for all, or one per triangle
    const float cosineLimit_;
};

// Bit i of a seed's flags: the triangle across its edge i joins the region the seed would
// grow. kDegenerateSeed: the seed has no normal and grows none.
constexpr std::uint8_t kDegenerateSeed = 8;

// The flags of every triangle as a seed. What a seed's neighbours are tested against is the
// seed's own plane, so these tests need no growth and run in parallel; most seeds of a curved
// surface are then seen to make one-triangle regions without reading their neighbours.
std::vector<std::uint8_t> SeedFlags(const std::vector<std::uint32_t>& neighbours, const FaceShapes& shapes,
    const JoinTest& test)
{
    std::vector<std::uint8_t> flags(shapes.normals.size(), 0);
    ParallelFor(flags.size(), [&](std::size_t t) {
        const Vec3 normal = shapes.normals[t];
        if (IsZero(normal)) {
            flags[t] = kDegenerateSeed;
            return;
        }
        const Vec3 planePoint = test.Corner(t, 0);
        std::uint8_t bits = 0;
        for (std::size_t i = 0; i < 3; ++i) {
            const std::uint32_t other = neighbours[3 * t + i];
            if (other != kNoFace && test.Joins(normal, planePoint, static_cast<std::uint32_t>(t), i, other))
                bits |= static_cast<std::uint8_t>(1u << i);
        }
        flags[t] = bits;
    });
    return flags;
}

// The growth of one region from its seed, with its fixed plane.
class RegionGrower {
public:
    RegionGrower(const std::vector<std::uint32_t>& neighbours, const FaceShapes& shapes, const JoinTest& test)
        : neighbours_(neighbours), shapes_(shapes), test_(test)
    {
    }

    // Grows region `id` from `seed` (with its SeedFlags) depth first into regionOfTriangle;
    // its triangle count.
    std::uint64_t Grow(std::uint32_t seed, std::uint8_t seedFlags, std::uint32_t id,
        std::vector<std::uint32_t>& regionOfTriangle)
    {
        normal_ = shapes_.normals[seed];
        planePoint_ = test_.Corner(seed, 0);
        std::uint64_t members = 1;
        regionOfTriangle[seed] = id;
        stack_.clear();
        // The seed's own neighbours were tested ahead: the same pushes as for any member.
        for (std::size_t i = 0; i < 3; ++i) {
            const std::uint32_t other = neighbours_[3 * std::size_t{seed} + i];
            if (!((seedFlags >> i) & 1u) || regionOfTriangle[other] != kNoRegion)
                continue;
            regionOfTriangle[other] = id;
            ++members;
            stack_.push_back(other);
        }
        while (!stack_.empty()) {
            const std::uint32_t t = stack_.back();
            stack_.pop_back();
            for (std::size_t i = 0; i < 3; ++i) {
                const std::uint32_t other = neighbours_[3 * std::size_t{t} + i];
                if (other == kNoFace || regionOfTriangle[other] != kNoRegion
                    || !test_.Joins(normal_, planePoint_, t, i, other))
                    continue;
                regionOfTriangle[other] = id;
                ++members;
                stack_.push_back(other);
            }
        }
        return members;
    }

private:
    const std::vector<std::uint32_t>& neighbours_;
    const FaceShapes& shapes_;
    const JoinTest& test_;
    Vec3 normal_{};
    Vec3 planePoint_{};
    std::vector<std::uint32_t> stack_;
};

}  // namespace

PlanarRegions FindPlanarRegions(const TriangleMesh& mesh, const SimplifySettings& settings,
    const std::vector<std::uint32_t>& neighbours)
{
    PlanarRegions regions;
    const std::size_t triangleCount = mesh.TriangleCount();
    AssignOnLargePages(regions.regionOfTriangle, triangleCount, kNoRegion);
    if (triangleCount == 0 || !mesh.IsConsistent() || neighbours.size() != 3 * triangleCount)
        return regions;
    const FaceShapes shapes = MeasureFaces(mesh);
    const JoinTest test(mesh, shapes, settings);
    std::vector<std::uint32_t> seeds;
    std::vector<std::uint8_t> flags;
    ParallelInvoke([&] { seeds = SeedsLargestFirst(shapes.areas); },
        [&] { flags = SeedFlags(neighbours, shapes, test); });
    // The flags in seed order, so that the growth reads them in turn.
    std::vector<std::uint8_t> flagsInTurn(seeds.size());
    ParallelFor(seeds.size(), [&](std::size_t i) { flagsInTurn[i] = flags[seeds[i]]; });

    RegionGrower grower(neighbours, shapes, test);
    // On a curved surface nearly every triangle is a region of its own.
    LargeVector<std::uint32_t> seedOfRegion;
    seedOfRegion.reserve(triangleCount);
    ReserveOnLargePages(regions.triangleCounts, triangleCount);
    // Seeds in order of area jump all over the mesh: whether a seed is taken is asked for some
    // seeds ahead, and what a growing seed reads once that has arrived.
    constexpr std::size_t kSeedAhead = 16;
    constexpr std::size_t kGrowAhead = 8;
    for (std::size_t i = 0; i < seeds.size(); ++i) {
        if (i + kSeedAhead < seeds.size())
            __builtin_prefetch(&regions.regionOfTriangle[seeds[i + kSeedAhead]]);
        if (i + kGrowAhead < seeds.size() && (flagsInTurn[i + kGrowAhead] & 7u) != 0) {
            const std::uint32_t ahead = seeds[i + kGrowAhead];
            __builtin_prefetch(&neighbours[3 * std::size_t{ahead}]);
            __builtin_prefetch(&mesh.indices[3 * std::size_t{ahead}]);
            __builtin_prefetch(&shapes.normals[ahead]);
        }
        const std::uint32_t seed = seeds[i];
        const std::uint8_t seedFlags = flagsInTurn[i];
        if ((seedFlags & kDegenerateSeed) != 0 || regions.regionOfTriangle[seed] != kNoRegion)
            continue;
        const auto id = static_cast<std::uint32_t>(seedOfRegion.size());
        seedOfRegion.push_back(seed);
        if ((seedFlags & 7u) == 0) {
            regions.regionOfTriangle[seed] = id;
            regions.triangleCounts.push_back(1);
        } else {
            regions.triangleCounts.push_back(grower.Grow(seed, seedFlags, id, regions.regionOfTriangle));
        }
    }
    // Each region's plane is its seed's normal through the seed's first corner.
    ReserveOnLargePages(regions.normals, seedOfRegion.size());
    ReserveOnLargePages(regions.planePoints, seedOfRegion.size());
    regions.normals.resize(seedOfRegion.size());
    regions.planePoints.resize(seedOfRegion.size());
    ParallelFor(seedOfRegion.size(), [&](std::size_t r) {
        regions.normals[r] = shapes.normals[seedOfRegion[r]];
        regions.planePoints[r] = test.Corner(seedOfRegion[r], 0);
    });
    return regions;
}

namespace {

// A fan of four faces or fewer is left: its collapse would leave one or two triangles spanning
// the whole ring, so the region's triangles would grow fastest there.
constexpr std::size_t kFewestFacesToRemove = 5;

// The alive faces of v (containing v), sorted, without repeats.
void GatherFaces(const RemeshTopology& topology, std::uint32_t v, std::vector<std::uint32_t>& out)
{
    out.clear();
    topology.ForEachListedFace(v, [&](std::uint32_t f) {
        if (topology.triangleAlive[f] && topology.FaceContains(f, v))
            out.push_back(f);
    });
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
}

// IsInteriorPlanarVertex with the caller's buffers, which receive v's faces and (when the
// faces pass) its one-ring.
bool IsInteriorPlanar(const RemeshTopology& topology, const std::vector<std::uint8_t>& vertexLocks,
    const std::vector<std::uint32_t>& regionOfTriangle, std::uint32_t vertex,
    std::vector<std::uint32_t>& faces, std::vector<std::uint32_t>& ring)
{
    if (vertex >= topology.positions.size() || !topology.vertexAlive[vertex] || vertexLocks[vertex] != kUnlocked)
        return false;
    GatherFaces(topology, vertex, faces);
    if (faces.size() < kFewestFacesToRemove)
        return false;
    const std::uint32_t region = regionOfTriangle[faces[0]];
    if (region == kNoRegion)
        return false;
    for (std::uint32_t f : faces) {
        if (regionOfTriangle[f] != region)
            return false;
    }
    // The one-ring from the faces just gathered: the same corners GatherOneRing collects, with
    // no second walk over the lists.
    ring.clear();
    for (std::uint32_t f : faces) {
        for (std::uint32_t c : topology.triangles[f]) {
            if (c != vertex)
                ring.push_back(c);
        }
    }
    std::sort(ring.begin(), ring.end());
    ring.erase(std::unique(ring.begin(), ring.end()), ring.end());
    return ring.size() == faces.size();
}

}  // namespace

bool IsInteriorPlanarVertex(const RemeshTopology& topology, const std::vector<std::uint8_t>& vertexLocks,
    const std::vector<std::uint32_t>& regionOfTriangle, std::uint32_t vertex)
{
    std::vector<std::uint32_t> faces;
    std::vector<std::uint32_t> ring;
    return IsInteriorPlanar(topology, vertexLocks, regionOfTriangle, vertex, faces, ring);
}

namespace {

// Vertices per block of the parallel per-vertex loops: enough gathering to outweigh a task.
constexpr std::size_t kVertexBlock = 1024;

// Figures of the input; until a result is written they stand for the result as well.
struct InputFigures {
    std::array<Vec3, 2> box{};
    Measures measures;
};

InputFigures MeasureInput(const TriangleMesh& mesh, bool consistent)
{
    InputFigures figures;
    figures.box = BoxOf(mesh);
    figures.measures = MeasureOf(mesh, figures.box, consistent);
    return figures;
}

void RecordInput(const TriangleMesh& mesh, const InputFigures& figures, FlatSimplifyReport& report)
{
    report.trianglesBefore = mesh.indices.size() / 3;
    report.verticesBefore = mesh.vertices.size();
    report.boundsBefore = figures.box;
    report.areaBefore = figures.measures.area;
    report.volumeBefore = figures.measures.volume;
    report.trianglesAfter = report.trianglesBefore;
    report.verticesAfter = report.verticesBefore;
    report.boundsAfter = report.boundsBefore;
    report.areaAfter = report.areaBefore;
    report.volumeAfter = report.volumeBefore;
}

bool CanSimplify(const TriangleMesh& mesh, bool consistent)
{
    // The face lists count corners in 32 bits: a mesh with more corners is left as it is.
    const bool countable = mesh.indices.size() < 0xFFFFFFFFull;
    return consistent && !mesh.indices.empty() && countable && HasOnlyFiniteCoordinates(mesh);
}

// kLocked for both ends of every edge without exactly two faces and every corner of a
// triangle in no region.
void LockBordersAndUnclaimedCorners(const TriangleMesh& mesh, const std::vector<std::uint32_t>& neighbours,
    const std::vector<std::uint32_t>& regionOfTriangle, std::vector<std::uint8_t>& vertexLocks)
{
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const bool unclaimed = regionOfTriangle[t] == kNoRegion;
        for (std::size_t i = 0; i < 3; ++i) {
            if (unclaimed || neighbours[3 * t + i] == kNoFace)
                vertexLocks[mesh.indices[3 * t + i]] = kLocked;
            if (neighbours[3 * t + i] == kNoFace)
                vertexLocks[mesh.indices[3 * t + (i + 1) % 3]] = kLocked;
        }
    }
}

// kLocked for every corner of a flagged triangle; the number of flagged triangles. Flags of
// another length than the triangle count are not used.
std::uint64_t LockTexturedCorners(const TriangleMesh& mesh, const std::vector<std::uint8_t>* texturedFaces,
    std::vector<std::uint8_t>& vertexLocks)
{
    if (!texturedFaces || texturedFaces->size() != mesh.TriangleCount())
        return 0;
    std::uint64_t flagged = 0;
    for (std::size_t t = 0; t < texturedFaces->size(); ++t) {
        if ((*texturedFaces)[t] == 0)
            continue;
        ++flagged;
        for (std::size_t i = 0; i < 3; ++i)
            vertexLocks[mesh.indices[3 * t + i]] = kLocked;
    }
    return flagged;
}

// kRegionBorder for the still unlocked vertices whose triangles lie in more than one region.
void MarkRegionBorders(const TriangleMesh& mesh, const std::vector<std::uint32_t>& regionOfTriangle,
    std::vector<std::uint8_t>& vertexLocks)
{
    std::vector<std::uint32_t> firstRegion(vertexLocks.size(), kNoRegion);
    std::vector<std::uint8_t> inSeveralRegions(vertexLocks.size(), 0);
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const std::uint32_t region = regionOfTriangle[t];
        for (std::size_t i = 0; i < 3; ++i) {
            const std::uint32_t v = mesh.indices[3 * t + i];
            if (firstRegion[v] == kNoRegion)
                firstRegion[v] = region;
            else if (firstRegion[v] != region)
                inSeveralRegions[v] = 1;
        }
    }
    for (std::size_t v = 0; v < vertexLocks.size(); ++v) {
        if (inSeveralRegions[v] && vertexLocks[v] == kUnlocked)
            vertexLocks[v] = kRegionBorder;
    }
}

std::vector<std::uint8_t> LockVertices(const TriangleMesh& mesh, const std::vector<std::uint32_t>& neighbours,
    const std::vector<std::uint32_t>& regionOfTriangle, const std::vector<std::uint8_t>* texturedFaces,
    FlatSimplifyReport& report)
{
    std::vector<std::uint8_t> vertexLocks(mesh.vertices.size(), kUnlocked);
    LockBordersAndUnclaimedCorners(mesh, neighbours, regionOfTriangle, vertexLocks);
    report.texturedFacesKept = LockTexturedCorners(mesh, texturedFaces, vertexLocks);
    MarkRegionBorders(mesh, regionOfTriangle, vertexLocks);
    return vertexLocks;
}

// The one-ring size of every vertex a collapse may read it for: the unlocked ones (the
// candidates) and every corner of their faces, locked ones included, since the limit on the kept
// vertex must hold for a collapse onto a border or textured vertex as well. Others are left 0:
// no collapse reaches them, and on a mostly curved part they are most vertices.
std::vector<std::uint32_t> MeasureValences(const RemeshTopology& topology, const std::vector<std::uint8_t>& vertexLocks)
{
    std::vector<std::uint8_t> reached(topology.VertexCount(), 0);
    ParallelFor(topology.TriangleCount(), [&](std::size_t t) {
        const auto& c = topology.triangles[t];
        if (!topology.triangleAlive[t]
            || (vertexLocks[c[0]] != kUnlocked && vertexLocks[c[1]] != kUnlocked && vertexLocks[c[2]] != kUnlocked))
            return;
        for (std::uint32_t v : c)
            std::atomic_ref<std::uint8_t>(reached[v]).store(1, std::memory_order_relaxed);
    });
    std::vector<std::uint32_t> valences;
    AssignOnLargePages(valences, topology.VertexCount(), 0u);
    ParallelForBlocks(valences.size(), kVertexBlock, [&](std::size_t begin, std::size_t end) {
        std::vector<std::uint32_t> ring;
        for (std::size_t v = begin; v < end; ++v) {
            if (!reached[v])
                continue;
            GatherOneRing(topology, static_cast<std::uint32_t>(v), ring);
            valences[v] = static_cast<std::uint32_t>(ring.size());
        }
    });
    return valences;
}

// The unlocked vertices, by valence ascending then index; counts the interior planar ones.
std::vector<std::uint32_t> ListCandidates(const RemeshTopology& topology, const std::vector<std::uint8_t>& vertexLocks,
    const std::vector<std::uint32_t>& regionOfTriangle, const std::vector<std::uint32_t>& valences,
    FlatSimplifyReport& report)
{
    const std::size_t vertexCount = topology.VertexCount();
    std::vector<std::uint8_t> interiorAtStart(vertexCount, 0);
    ParallelForBlocks(vertexCount, kVertexBlock, [&](std::size_t begin, std::size_t end) {
        std::vector<std::uint32_t> faces;
        std::vector<std::uint32_t> ring;
        for (std::size_t v = begin; v < end; ++v) {
            interiorAtStart[v] = IsInteriorPlanar(topology, vertexLocks, regionOfTriangle,
                static_cast<std::uint32_t>(v), faces, ring);
        }
    });
    std::vector<std::uint32_t> candidates;
    for (std::size_t v = 0; v < vertexCount; ++v) {
        if (vertexLocks[v] != kUnlocked)
            continue;
        candidates.push_back(static_cast<std::uint32_t>(v));
        report.interiorVertices += interiorAtStart[v];
    }
    std::stable_sort(candidates.begin(), candidates.end(),
        [&](std::uint32_t a, std::uint32_t b) { return valences[a] < valences[b]; });
    return candidates;
}

// What one neighbour u of a candidate v gives as the target of v's collapse.
enum class Verdict { accepted, refusedLink, refusedValence, refusedFlip, refusedHeight };

struct Trial {
    Verdict verdict = Verdict::accepted;
    float score = 0.0f;  // smallest altitude of the new triangles when accepted
};

// The sweeps over the candidates and the state they share. Moments are counted in collapses:
// a vertex's one-ring changes only by a collapse of it or of a neighbour, so "the collapses done
// so far" names a state of every neighbourhood. A candidate is tried again only when it or a
// vertex of its one-ring changed since its last try: what a try reads (v's faces and ring, the
// rings, valences and sweep marks of its neighbours) is otherwise as it was, so the try would give
// the same refusal. A refusal is thus counted once for as long as it stands.
class FlatCollapser {
public:
    FlatCollapser(RemeshTopology& topology, const std::vector<std::uint8_t>& vertexLocks,
        const PlanarRegions& regions, std::vector<std::uint32_t> valences, const SimplifySettings& settings,
        FlatSimplifyReport& report)
        : topology_(topology), vertexLocks_(vertexLocks), regions_(regions), valences_(std::move(valences)),
          // Limits below 3 act as 3, the fewest neighbours a closed fan's vertex has; no collapse
          // passes either way, as v brings at least three more.
          valenceLimit_(static_cast<std::uint64_t>(std::max(kFewestKeptValence, settings.maximumValence))),
          minimumHeight_(settings.minimumTriangleHeightMillimetres), report_(report),
          changedAt_(topology.VertexCount(), 0), triedAt_(topology.VertexCount(), kMustTry)
    {
    }

    // One sweep over `candidates` in order; the ones that stay go to `next`. The number of
    // collapses it made.
    std::uint64_t Sweep(const std::vector<std::uint32_t>& candidates, std::vector<std::uint32_t>& next)
    {
        sweepStart_ = collapses_;
        next.clear();
        for (std::uint32_t v : candidates) {
            if (topology_.vertexAlive[v] && !TakeTurn(v))
                next.push_back(v);
        }
        return collapses_ - sweepStart_;
    }

    // Collapses leave dead entries in the face lists and append moved faces; a rebuild (a pass
    // over all triangles) once the faces moved since the last one make up a share of all
    // triangles keeps the gathering short at a cost that stays in proportion to the moves.
    // The lists hold the same alive faces either way, so the results do not depend on when.
    void TidyFaceLists()
    {
        if (facesMovedSinceRebuild_ * kRebuildShare < topology_.TriangleCount())
            return;
        RebuildVertexFaceLists(topology_);
        facesMovedSinceRebuild_ = 0;
    }

private:
    // A rebuild once the faces moved since the last one reach 1 / kRebuildShare of all
    // triangles. On FlatSimplify4M (2 cores, fastest of five runs taken in turns) the sweeps
    // took 3.5 to 3.6 s with 4, 8 or 16, and 4.2 s with a rebuild after every sweep; on the
    // Process cube (1.5 M triangles, one thread, fastest of eight) 0.30 s with 4 against 0.34 s
    // with 8 and 0.37 s with 16.
    static constexpr std::uint64_t kRebuildShare = 4;

    // triedAt_ of a vertex whose last try does not stand for the next one (never tried, or a
    // neighbour was passed over as changed in that sweep). Above any collapse count: there are
    // fewer collapses than corners, which CanSimplify keeps under 2^32 - 1.
    static constexpr std::uint32_t kMustTry = 0xFFFFFFFFu;

    bool IsChangedThisSweep(std::uint32_t v) const { return changedAt_[v] > sweepStart_; }

    // v and every vertex of its one-ring as they were at v's last try.
    bool IsUnchangedSinceLastTry(std::uint32_t v) const
    {
        const std::uint32_t tried = triedAt_[v];
        if (tried == kMustTry || changedAt_[v] > tried)
            return false;
        bool unchanged = true;
        topology_.ForEachListedFace(v, [&](std::uint32_t f) {
            if (!unchanged || !topology_.triangleAlive[f] || !topology_.FaceContains(f, v))
                return;
            for (std::uint32_t c : topology_.triangles[f])
                unchanged = unchanged && changedAt_[c] <= tried;
        });
        return unchanged;
    }

    // v's turn in a sweep: true when v collapsed (and leaves the list).
    bool TakeTurn(std::uint32_t v)
    {
        if (IsChangedThisSweep(v) || IsUnchangedSinceLastTry(v))
            return false;
        triedAt_[v] = static_cast<std::uint32_t>(collapses_);
        if (!IsInteriorPlanar(topology_, vertexLocks_, regions_.regionOfTriangle, v, faces_, ring_))
            return false;
        const std::uint32_t target = ChooseTarget(v);
        if (target == kNoVertex)
            return false;
        Collapse(v, target);
        return true;
    }

    // The first neighbour with the highest score above 0, or kNoVertex; counts the refusals.
    std::uint32_t ChooseTarget(std::uint32_t v)
    {
        const Vec3 normal = regions_.normals[regions_.regionOfTriangle[faces_[0]]];
        std::uint32_t winner = kNoVertex;
        float bestScore = 0.0f;  // a zero altitude is a degenerate triangle
        bool anyRefused = false;
        for (std::uint32_t u : ring_) {
            if (!topology_.vertexAlive[u] || IsChangedThisSweep(u)) {
                triedAt_[v] = kMustTry;
                continue;
            }
            const Trial trial = TryTarget(v, u, normal);
            anyRefused = anyRefused || trial.verdict != Verdict::accepted;
            CountRefusal(trial.verdict);
            if (trial.verdict == Verdict::accepted && trial.score > bestScore) {
                bestScore = trial.score;
                winner = u;
            }
        }
        if (winner == kNoVertex && !anyRefused)
            ++report_.refusedNoCandidate;
        return winner;
    }

    void CountRefusal(Verdict verdict)
    {
        switch (verdict) {
        case Verdict::refusedValence: ++report_.refusedValence; break;
        case Verdict::refusedFlip: ++report_.refusedFlip; break;
        case Verdict::refusedHeight: ++report_.refusedHeight; break;
        case Verdict::accepted:
        case Verdict::refusedLink:
            break;  // a link failure is a matter of topology, not a refusal the report counts
        }
    }

    // The tests cheapest first: the valence limit reads two numbers, the link condition u's ring,
    // the shape test every new triangle.
    Trial TryTarget(std::uint32_t v, std::uint32_t u, Vec3 normal)
    {
        if (std::uint64_t(valences_[u]) + (ring_.size() - 2) > valenceLimit_)
            return {Verdict::refusedValence};
        if (!KeepsLinkCondition(v, u))
            return {Verdict::refusedLink};
        return ScoreNewTriangles(v, u, normal);
    }

    // The faces on edge uv are as many as the common neighbours of u and v, so the collapse
    // neither pinches the surface nor doubles a triangle. Costs u's ring, not v's.
    bool KeepsLinkCondition(std::uint32_t v, std::uint32_t u)
    {
        // u's ring and its faces on edge uv in one walk over u's lists: what GatherOneRing
        // and GatherEdgeFaces give.
        ringOfTarget_.clear();
        edgeFaces_.clear();
        topology_.ForEachListedFace(u, [&](std::uint32_t f) {
            if (!topology_.triangleAlive[f] || !topology_.FaceContains(f, u))
                return;
            bool holdsV = false;
            for (std::uint32_t c : topology_.triangles[f]) {
                if (c != u)
                    ringOfTarget_.push_back(c);
                holdsV = holdsV || c == v;
            }
            if (holdsV)
                edgeFaces_.push_back(f);
        });
        std::sort(ringOfTarget_.begin(), ringOfTarget_.end());
        ringOfTarget_.erase(std::unique(ringOfTarget_.begin(), ringOfTarget_.end()), ringOfTarget_.end());
        std::sort(edgeFaces_.begin(), edgeFaces_.end());
        edgeFaces_.erase(std::unique(edgeFaces_.begin(), edgeFaces_.end()), edgeFaces_.end());
        std::size_t common = 0;
        for (std::uint32_t w : ringOfTarget_)
            common += std::binary_search(ring_.begin(), ring_.end(), w);
        return edgeFaces_.size() == common;
    }

    // The triangles v's faces become with u for v (those holding u die): each must face along
    // the region's normal and keep the smallest altitude; the score is the smallest altitude.
    Trial ScoreNewTriangles(std::uint32_t v, std::uint32_t u, Vec3 normal) const
    {
        float score = std::numeric_limits<float>::max();
        for (std::uint32_t f : faces_) {
            if (topology_.FaceContains(f, u))
                continue;
            std::array<Vec3, 3> p;
            for (int i = 0; i < 3; ++i) {
                const std::uint32_t c = topology_.triangles[f][i];
                p[i] = topology_.positions[c == v ? u : c];
            }
            const Vec3 cross = Cross(p[1] - p[0], p[2] - p[0]);
            if (!(Dot(cross, normal) > 0.0f))
                return {Verdict::refusedFlip};
            // The cross product's length is twice the area: over the longest side it gives the
            // smallest altitude.
            const float longest = std::max({Length(p[1] - p[0]), Length(p[2] - p[1]), Length(p[0] - p[2])});
            const float height = longest == 0.0f ? 0.0f : Length(cross) / longest;
            if (!(height >= minimumHeight_))
                return {Verdict::refusedHeight};
            score = std::min(score, height);
        }
        return {Verdict::accepted, score};
    }

    // v's faces go to u and v retires; v, u and v's ring are stamped as changed.
    void Collapse(std::uint32_t v, std::uint32_t u)
    {
        for (std::uint32_t f : faces_)
            topology_.MoveFaceToVertex(f, v, u);
        topology_.RetireVertex(v);
        facesMovedSinceRebuild_ += faces_.size();
        ++collapses_;
        ++report_.collapses;
        const auto stamp = static_cast<std::uint32_t>(collapses_);
        changedAt_[v] = stamp;
        changedAt_[u] = stamp;
        for (std::uint32_t w : ring_)
            changedAt_[w] = stamp;
        GatherOneRing(topology_, u, ringOfTarget_);
        valences_[u] = static_cast<std::uint32_t>(ringOfTarget_.size());
    }

    RemeshTopology& topology_;
    const std::vector<std::uint8_t>& vertexLocks_;
    const PlanarRegions& regions_;
    // One-ring sizes; only a collapse's kept vertex is measured again, so the vertices beside
    // it may count one neighbour too many (the limit then errs on the safe side).
    std::vector<std::uint32_t> valences_;
    const std::uint64_t valenceLimit_;
    const float minimumHeight_;
    FlatSimplifyReport& report_;
    std::uint64_t collapses_ = 0;
    std::uint64_t sweepStart_ = 0;         // collapses before the running sweep
    std::uint64_t facesMovedSinceRebuild_ = 0;
    LargeVector<std::uint32_t> changedAt_; // collapses done when the one-ring last changed
    LargeVector<std::uint32_t> triedAt_;   // collapses done at the last try, or kMustTry
    std::vector<std::uint32_t> faces_;     // of the vertex on its turn
    std::vector<std::uint32_t> ring_;      // of the vertex on its turn, sorted
    std::vector<std::uint32_t> ringOfTarget_;
    std::vector<std::uint32_t> edgeFaces_;
};

// Sweeps s = 0 .. max(1, maximumSweeps) - 1 until one makes no collapse or no candidate is
// left; a stop through `progress` ends them at a sweep's start.
void RunSweeps(FlatCollapser& collapser, std::vector<std::uint32_t> candidates,
    const SimplifySettings& settings, const ProgressCallback& progress, FlatSimplifyReport& report)
{
    // At least one sweep, so that zero asks for the least work rather than none.
    const std::uint64_t sweepCount = static_cast<std::uint64_t>(std::max(kFewestSimplifySweeps, settings.maximumSweeps));
    std::vector<std::uint32_t> next;
    for (std::uint64_t s = 0; s < sweepCount; ++s) {
        if (progress
            && !progress("Simplifying flat areas", static_cast<float>(double(s) / double(sweepCount)))) {
            report.cancelled = true;
            return;
        }
        const std::uint64_t collapsed = collapser.Sweep(candidates, next);
        ++report.sweeps;
        candidates.swap(next);
        if (collapsed == 0 || candidates.empty())
            return;
        collapser.TidyFaceLists();
    }
}

// The topology's alive part into `mesh`, survivors keeping their input normals (or new ones),
// with the sources, the after figures and the count of moved survivors in the report.
void WriteResult(const RemeshTopology& topology, bool preserveVertexNormals, TriangleMesh& mesh,
    FlatSimplifyReport& report)
{
    TopologySources sources;
    TriangleMesh result;
    // The after figures come from the topology on one thread while the mesh is built from it.
    std::array<Vec3, 2> boxAfter{};
    Measures after;
    ParallelInvoke(
        [&] {
            boxAfter = BoxOfRebuilt(topology);
            after = MeasureOfRebuilt(topology, boxAfter);
        },
        [&] {
            result = RebuildMeshFromTopology(topology, sources);
            ParallelFor(result.vertices.size(), [&](std::size_t i) {
                result.vertices[i].normal = mesh.vertices[sources.vertices[i]].normal;
            });
        });
    if (!preserveVertexNormals)
        result.ComputeVertexNormals();
    for (std::size_t i = 0; i < result.vertices.size(); ++i) {
        if (!(result.vertices[i].position == mesh.vertices[sources.vertices[i]].position))
            ++report.verticesMoved;
    }
    report.vertexSources = std::move(sources.vertices);
    report.triangleSources = std::move(sources.triangles);
    mesh = std::move(result);
    report.trianglesAfter = mesh.indices.size() / 3;
    report.verticesAfter = mesh.vertices.size();
    report.boundsAfter = boxAfter;
    report.areaAfter = after.area;
    report.volumeAfter = after.volume;
}

}  // namespace

FlatSimplifyReport SimplifyFlatAreas(TriangleMesh& mesh, const std::vector<std::uint8_t>* texturedFaces,
    const SimplifySettings& settings, const ProgressCallback& progress)
{
    FlatSimplifyReport report;
    const bool consistent = mesh.IsConsistent();
    if (!CanSimplify(mesh, consistent)) {
        RecordInput(mesh, MeasureInput(mesh, consistent), report);
        return report;
    }

    const std::vector<std::uint32_t> neighbours = BuildTriangleNeighbours(mesh);
    // The regions grow on one thread; the topology and the input figures, which do not depend
    // on them, are made meanwhile.
    PlanarRegions regions;
    RemeshTopology topology;
    std::vector<std::uint32_t> valences;
    InputFigures input;
    ParallelInvoke([&] { regions = FindPlanarRegions(mesh, settings, neighbours); },
        [&] {
            topology = BuildRemeshTopology(mesh);
            RebuildVertexFaceLists(topology);
            input = MeasureInput(mesh, consistent);
        });
    RecordInput(mesh, input, report);
    report.planarRegions = regions.normals.size();
    report.planarTriangles = std::accumulate(regions.triangleCounts.begin(), regions.triangleCounts.end(),
        std::uint64_t{0});
    const std::vector<std::uint8_t> vertexLocks =
        LockVertices(mesh, neighbours, regions.regionOfTriangle, texturedFaces, report);
    valences = MeasureValences(topology, vertexLocks);
    std::vector<std::uint32_t> candidates =
        ListCandidates(topology, vertexLocks, regions.regionOfTriangle, valences, report);
    FlatCollapser collapser(topology, vertexLocks, regions, std::move(valences), settings, report);
    RunSweeps(collapser, std::move(candidates), settings, progress, report);

    WriteResult(topology, settings.preserveVertexNormals, mesh, report);
    return report;
}

// Survivors keep their positions to the bit, so area and volume change only by the rounding of
// their sums over new triangles: the area's terms are all positive (1e-7 relative), the signed
// volume terms cancel, which lets their rounding show more (1e-5). Parts under 1 mm² or 1 mm³
// are judged in absolute terms.
bool NoMovementGuaranteeHeld(const FlatSimplifyReport& r)
{
    const bool boundsSame = r.boundsAfter[0] == r.boundsBefore[0] && r.boundsAfter[1] == r.boundsBefore[1];
    return r.verticesMoved == 0 && r.verticesBefore - r.verticesAfter == r.collapses
        && r.trianglesBefore - r.trianglesAfter == 2 * r.collapses && boundsSame
        && std::abs(r.volumeAfter - r.volumeBefore) <= std::max(1.0, std::abs(r.volumeBefore)) * 1e-5
        && std::abs(r.areaAfter - r.areaBefore) <= std::max(1.0, std::abs(r.areaBefore)) * 1e-7;
}

namespace {

std::string Printed(const char* format, double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

}  // namespace

std::string FormatFlatSimplifyReport(const FlatSimplifyReport& r)
{
    std::string text = r.cancelled ? "Simplify cancelled: " : "Simplified ";
    text += FormatCountGrouped(r.trianglesBefore) + " -> " + FormatCountGrouped(r.trianglesAfter)
        + " triangles in " + FormatCountOf(r.sweeps, "sweep", "sweeps")
        + " over " + FormatCountGrouped(r.planarRegions) + " planar regions, "
        + FormatCountGrouped(((r.trianglesBefore - r.trianglesAfter) * 50) >> 10) + " KB saved";
    if (r.texturedFacesKept != 0)
        text += ", " + FormatCountGrouped(r.texturedFacesKept) + " faces kept for the texture";
    float moved = 0.0f;
    for (int k = 0; k < 2; ++k) {
        moved = std::max({moved, std::abs(r.boundsAfter[k].x - r.boundsBefore[k].x),
            std::abs(r.boundsAfter[k].y - r.boundsBefore[k].y),
            std::abs(r.boundsAfter[k].z - r.boundsBefore[k].z)});
    }
    text += ", bounding box moved " + Printed("%.4f", moved) + " mm";
    if (r.verticesMoved != 0)
        text += ", " + FormatCountGrouped(r.verticesMoved) + " surviving vertices moved";
    if (!NoMovementGuaranteeHeld(r)) {
        text += " -- WARNING: the no-movement guarantee did not hold (volume drift "
            + Printed("%.2e", std::abs(r.volumeAfter - r.volumeBefore) / std::max(1.0, std::abs(r.volumeBefore)))
            + " of 1e-5, area drift "
            + Printed("%.2e", std::abs(r.areaAfter - r.areaBefore) / std::max(1.0, std::abs(r.areaBefore)))
            + " of 1e-7, " + FormatCountGrouped(r.verticesBefore - r.verticesAfter) + " vertices gone for "
            + FormatCountGrouped(r.collapses) + " collapses, "
            + FormatCountGrouped(r.trianglesBefore - r.trianglesAfter) + " triangles gone)";
    }
    return text;
}

bool SimplifySettingsEquals(const SimplifySettings& a, const SimplifySettings& b)
{
    return a.planarToleranceMillimetres == b.planarToleranceMillimetres
        && a.relativePlanarTolerance == b.relativePlanarTolerance
        && a.planarAngleDegrees == b.planarAngleDegrees
        && a.minimumTriangleHeightMillimetres == b.minimumTriangleHeightMillimetres
        && a.maximumValence == b.maximumValence && a.maximumSweeps == b.maximumSweeps
        && a.preserveVertexNormals == b.preserveVertexNormals
        && a.protectTexturedFaces == b.protectTexturedFaces && a.flatAreas == b.flatAreas
        && a.wholeMesh == b.wholeMesh && a.meshDetailError == b.meshDetailError;
}

void WriteSimplifySettingsJson(const JsonNode& node, const SimplifySettings& s)
{
    node.PutFloat("planarToleranceMillimetres", s.planarToleranceMillimetres);
    node.PutFloat("relativePlanarTolerance", s.relativePlanarTolerance);
    node.PutFloat("planarAngleDegrees", s.planarAngleDegrees);
    node.PutFloat("minimumTriangleHeightMillimetres", s.minimumTriangleHeightMillimetres);
    node.PutInt("maximumValence", s.maximumValence);
    node.PutInt("maximumSweeps", s.maximumSweeps);
    node.PutBool("preserveVertexNormals", s.preserveVertexNormals);
    node.PutBool("protectTexturedFaces", s.protectTexturedFaces);
    node.PutBool("flatAreas", s.flatAreas);
    node.PutBool("wholeMesh", s.wholeMesh);
    node.PutFloat("meshDetailError", s.meshDetailError);
}

void ReadSimplifySettingsJson(const JsonView& node, SimplifySettings& s)
{
    node.FindMember("planarToleranceMillimetres").TakeFloat(s.planarToleranceMillimetres);
    node.FindMember("relativePlanarTolerance").TakeFloat(s.relativePlanarTolerance);
    node.FindMember("planarAngleDegrees").TakeFloat(s.planarAngleDegrees);
    node.FindMember("minimumTriangleHeightMillimetres").TakeFloat(s.minimumTriangleHeightMillimetres);
    node.FindMember("maximumValence").TakeInt32(s.maximumValence);
    node.FindMember("maximumSweeps").TakeInt32(s.maximumSweeps);
    node.FindMember("preserveVertexNormals").TakeBool(s.preserveVertexNormals);
    node.FindMember("protectTexturedFaces").TakeBool(s.protectTexturedFaces);
    node.FindMember("flatAreas").TakeBool(s.flatAreas);
    node.FindMember("wholeMesh").TakeBool(s.wholeMesh);
    node.FindMember("meshDetailError").TakeFloat(s.meshDetailError);
}

}  // namespace grainforge::mesh
