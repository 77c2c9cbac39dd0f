// Edge collapses ordered by the quadric error metric of Garland and Heckbert, "Surface
// Simplification Using Quadric Error Metrics" (SIGGRAPH 1997), with unweighted planes, a
// 4-ary heap whose stale entries are recognised by vertex versions, and the link condition
// of Dey et al. against pinching.
#include "engine/mesh/mesh_simplify.h"
#include "engine/mesh/report_text.h"

#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/large_pages.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/triangle_contact.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <span>
#include <utility>

namespace grainforge::mesh {
namespace {

constexpr std::uint64_t kAttemptsPerPoll = 16384;
constexpr double kDegenerateFactor = 1e-6;
// Neighbouring triangles whose normals lie further apart than this (120 degrees) fold the surface
// over at their edge; a merge may not make such a pair where the two lay nearer before.
constexpr double kFoldedEdgeCosine = -0.5;
// The crease bounds are kept in float: a margin well over their rounding.
constexpr double kCreaseSlack = 1e-5;
constexpr double kMinimumBedTolerance = 0.0001;
constexpr std::uint32_t kNotPlaced = std::numeric_limits<std::uint32_t>::max();
// Repair runs round the places where a result met itself, each over a wider area, before the
// input is put back there and simplified again, before the same runs at any cost, and before,
// as a last resort, a run that makes the whole result again with every merge tested.
constexpr int kRepairRounds = 3;
// Rings round a crossing of its own that no repair took away over which the input goes back.
constexpr int kPutBackRounds = 3;
// The detail level of the rounds round a fold the input held that the level itself leaves.
constexpr float kUnlimitedError = 1e20f;
const char* const kSimplifyStage = "Simplifying the mesh";
const char* const kMeasureStage = "Measuring how far the surface moved";

struct D3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};
D3 operator+(D3 a, D3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
D3 operator-(D3 a, D3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
D3 operator*(D3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double Dot(D3 a, D3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
D3 Cross(D3 a, D3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double Length(D3 a) { return std::sqrt(Dot(a, a)); }
double Axis(D3 a, std::int32_t axis) { return axis == 0 ? a.x : (axis == 1 ? a.y : a.z); }

// Upper triangle of the symmetric 4x4 plane matrix: xx xy xz xw yy yz yw zz zw ww.
using Quadric = std::array<double, 10>;

void AddTo(Quadric& to, const Quadric& from)
{
    for (std::size_t i = 0; i < to.size(); ++i)
        to[i] += from[i];
}

double QuadricError(const Quadric& q, D3 p)
{
    const double e = q[0] * p.x * p.x + 2.0 * q[1] * p.x * p.y + 2.0 * q[2] * p.x * p.z + 2.0 * q[3] * p.x
        + q[4] * p.y * p.y + 2.0 * q[5] * p.y * p.z + 2.0 * q[6] * p.y + q[7] * p.z * p.z + 2.0 * q[8] * p.z
        + q[9];
    return e < 0.0 ? 0.0 : e;
}

// What the solve and the tests read about one vertex, in one 128-byte block: one adjacent
// pair of cache lines per vertex instead of a line in each of several arrays.
struct alignas(128) VertexState {
    Quadric quadric{};
    D3 position;
    std::size_t incidenceStart = 0;
    std::uint32_t stamp = 0;
    std::uint32_t mergedInto = 0;  // the vertex it was merged into, or itself
    std::uint8_t held = 0;
    std::uint8_t merged = 0;  // kept by a merge: its triangles are not the input's
    // At most the dot product of the unit normals of any two neighbouring triangles round the
    // vertex (1 on a flat place): the fold test looks beyond a rim edge only where that and
    // the turn of the triangle there could make a fold.
    float crease = 1.0f;
};
static_assert(sizeof(VertexState) == 128);

// What the staleness check of every popped candidate reads, kept apart and small so that
// most of it stays in cache.
struct VertexLife {
    std::uint32_t incidenceCount = 0;  // 0: removed, or on no live triangle at the last rebuild
    std::uint32_t version = 0;
};

struct FaceState {
    std::uint32_t corner[3] = {0, 0, 0};
};

// A triangle with a repeated corner has no area and no edge of its own. Listed under its
// vertex it would be met twice and could pass for both triangles of an edge, and its corners
// are never rewritten by a collapse: it is dropped at the start.
bool IsDegenerate(const std::uint32_t* c) { return c[0] == c[1] || c[1] == c[2] || c[2] == c[0]; }

bool HasCorner(const FaceState& f, std::uint32_t v) { return f.corner[0] == v || f.corner[1] == v || f.corner[2] == v; }

// A candidate collapse. Instead of both vertex versions it holds their sum (mod 2^32): a
// collapse that leaves both vertices alive raises the sum by at most one, and a run makes
// fewer than 2^32 collapses, so while both are alive the sum is unchanged exactly when both
// versions are. (A removed vertex makes the entry stale through its incidence count.)
struct Candidate {
    float cost = 0.0f;
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    std::uint32_t versionSum = 0;
};
static_assert(sizeof(Candidate) == 16);

// A 4-ary min-heap of candidates ordered by cost; when children tie, the first is taken.
// Entries are 16 bytes and node i sits at nodes_[i + 3] of a 64-byte aligned array, so the
// four children of a node fill exactly one cache line.
class CandidateHeap {
public:
    CandidateHeap() : nodes_(kPad) {}
    std::size_t Size() const { return nodes_.size() - kPad; }
    void Reserve(std::size_t entries) { nodes_.reserve(entries + kPad); }
    bool Empty() const { return nodes_.size() == kPad; }
    float TopCost() const { return nodes_[kPad].cost; }
    const Candidate& Top() const { return nodes_[kPad]; }

    void Push(const Candidate& entry)
    {
        std::size_t i = Size();
        nodes_.push_back(entry);
        while (i > 0) {
            const std::size_t parent = (i - 1) / 4;
            if (!(At(parent).cost > entry.cost))
                break;
            At(i) = At(parent);
            i = parent;
        }
        At(i) = entry;
    }

    Candidate Pop()
    {
        const Candidate top = At(0);
        At(0) = nodes_.back();
        nodes_.pop_back();
        if (!Empty())
            SiftDown(0);
        return top;
    }

    // Drops every entry for which stale() holds, keeping the others in order, and rebuilds
    // the heap bottom-up.
    template <typename Stale>
    void Purge(Stale&& stale)
    {
        nodes_.erase(std::remove_if(nodes_.begin() + kPad, nodes_.end(), stale), nodes_.end());
        if (Size() < 2)
            return;
        for (std::size_t i = (Size() - 2) / 4 + 1; i-- > 0;)
            SiftDown(i);
    }

private:
    static constexpr std::size_t kPad = 3;

    Candidate& At(std::size_t i) { return nodes_[i + kPad]; }

    void SiftDown(std::size_t i)
    {
        const Candidate entry = At(i);
        const std::size_t n = Size();
        for (;;) {
            const std::size_t first = 4 * i + 1;
            if (first >= n)
                break;
            // The next level is one of four lines: ask for all of them while this one is compared.
            if (4 * first + 1 < n)
                for (std::size_t g = 0; g < 4; ++g)
                    __builtin_prefetch(&At(4 * (first + g) + 1));
            std::size_t best = first;
            const std::size_t last = std::min(first + 4, n);
            for (std::size_t c = first + 1; c < last; ++c)
                if (At(c).cost < At(best).cost)
                    best = c;
            if (!(At(best).cost < entry.cost))
                break;
            At(i) = At(best);
            i = best;
        }
        At(i) = entry;
    }

    LargeVector<Candidate> nodes_;
};

// Where the result will hold a position: in float, as Compact writes it. The floats pass
// through memory the optimiser may not look into: g++ 12 drops a plain double -> float ->
// double round trip of x and y when it vectorises the pair, which left them unrounded.
Point3 Written(D3 p)
{
    Vec3 rounded{static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)};
    asm("" : "+m"(rounded));
    return {rounded.x, rounded.y, rounded.z};
}

// The plane a run holds vertices on, and how close to it counts as on it.
struct BedPlane {
    double level = 0.0;
    double tolerance = 0.0;
};

// The part of a result a repair run may change, with all it reads round that: the triangles
// on the corners of the place's triangles, and those on the corners of these. A vertex free to
// move has all its triangles in the place; the quadric of a vertex it may merge into sums the
// triangles on that vertex, and the contact test reads the triangles round the rim of a merged
// fan: all of them lie within these two rings. Triangles and vertices keep their order, so a run
// over the region makes the same merges in the same order as one over the whole result.
struct Region {
    TriangleMesh mesh;
    std::vector<std::uint32_t> triangle;  // per region triangle: the whole's, ascending
    std::vector<std::uint32_t> vertex;    // per region vertex: the whole's, ascending
    std::vector<std::uint32_t> local;     // per whole vertex: the region's, or kNotPlaced
    std::uint64_t liveOutside = 0;        // the whole's triangles with area elsewhere
};

// The working state of one run and its collapse loop.
class Simplifier {
public:
    // Without the contact test a run reads a good deal less (see SimplifyMesh). `bed`, when
    // given, is the bed of an earlier run on the same input, taken as it is.
    // `liveOutside`: for a run over a region, the triangles with area of the whole result outside
    // it, which the run's housekeeping counts as a run over the whole would.
    Simplifier(const TriangleMesh& mesh, const MeshSimplifyOptions& options, MeshSimplifyReport& report,
               bool testContacts, const BedPlane* bed = nullptr, std::uint64_t liveOutside = 0)
        : mesh_(mesh), options_(options), report_(report), testContacts_(testContacts), givenBed_(bed),
          liveOutside_(liveOutside)
    {
    }

    bool RunSimplifier(const ProgressCallback& progress);
    // Writes the result; `changed` gets one byte per result triangle, set on those with a
    // corner that a merge kept (the others are input triangles, unmoved), and `into` per input
    // vertex the result vertex it went into (kNotPlaced when that has no triangle left).
    void Compact(TriangleMesh& result, std::vector<std::uint8_t>& changed, std::vector<std::uint32_t>& into);
    // As Compact, for a run over `region` of `whole`: the whole result, its triangles outside the
    // region as they were, numbered as a run over the whole would number them.
    void CompactWithin(const TriangleMesh& whole, const Region& region, TriangleMesh& result,
                       std::vector<std::uint8_t>& changed, std::vector<std::uint32_t>& into);
    BedPlane Bed() const { return {bedLevel_, bedTolerance_}; }

private:
    void Setup();
    void HoldBedVertices();
    void BuildIncidence();
    void SeedCandidates();
    bool OptimalPosition(std::uint32_t a, std::uint32_t b, D3& position, double& cost) const;
    bool IsAboveBed(D3 p) const { return !HasBed() || Axis(p, options_.bedAxis) > bedLevel_ + bedTolerance_; }
    bool HasBed() const { return options_.bedAxis >= 0 && options_.bedAxis <= 2; }
    // The cost of a candidate as the heap holds it, or -1 when the pair is not a candidate.
    float CandidateCost(std::uint32_t a, std::uint32_t b) const;
    void PushCandidate(std::uint32_t a, std::uint32_t b);
    bool IsStale(const Candidate& e) const;
    void TryCollapse(std::uint32_t a, std::uint32_t b);
    std::size_t MergeInto(std::uint32_t keep, std::uint32_t remove, D3 position,
                          const std::uint32_t (&edgeTriangles)[2]);
    void PushNeighbourCandidates(std::uint32_t keep, std::size_t start);
    bool PassesLinkTest(std::uint32_t keep, std::uint32_t remove);
    bool PassesTipTest(std::uint32_t keep, std::uint32_t remove, D3 position);
    bool PassesFoldTest(std::uint32_t keep, std::uint32_t remove);
    bool PassesContactTest(std::uint32_t keep, std::uint32_t remove, D3 position);
    void PrefetchRim(std::uint32_t keep, std::uint32_t remove) const;
    ContactTriangle ContactOf(const FaceState& face, std::uint32_t keep, std::uint32_t remove, const Point3& moved) const;
    void GatherLive(std::uint32_t v, std::vector<std::uint32_t>& out) const;
    std::uint32_t NextStamp();
    D3 FaceNormal(const FaceState& face) const;
    double CreaseAt(std::uint32_t v, const std::vector<D3>& normal) const;
    void LowerCreases(std::uint32_t keep);

    const TriangleMesh& mesh_;
    const MeshSimplifyOptions& options_;
    MeshSimplifyReport& report_;
    const bool testContacts_;
    const BedPlane* givenBed_;
    const std::uint64_t liveOutside_;

    // On large pages: the loop jumps all over these and the heap, and with ordinary pages the
    // address translation of most reads missed too (they took a sixth off the loop on a 1.3
    // million triangle relief).
    LargeVector<VertexState> vertex_;
    LargeVector<VertexLife> life_;
    // Each position as the result will hold it, in float: the contact test reads the positions
    // of two rings of vertices, and these pack five to a cache line where the states take one.
    LargeVector<Vec3> written_;
    LargeVector<std::uint32_t> incidence_;
    std::size_t initialIncidence_ = 0;
    std::uint32_t stampCounter_ = 0;

    // Per triangle, apart: the gathering reads only the live flags, the tests the corners.
    LargeVector<FaceState> face_;
    LargeVector<std::uint8_t> alive_;
    std::uint64_t liveTriangles_ = 0;

    CandidateHeap heap_;
    double bedLevel_ = 0.0;
    double bedTolerance_ = 0.0;
    double cosTurnLimit_ = 0.0;

    std::vector<std::uint32_t> keepList_;
    std::vector<std::uint32_t> removeList_;
    std::vector<std::uint32_t> scratch_;
    std::vector<ContactTriangle> fan_;
    // The merged fan as the tip test saw it, for the fold test: each triangle's normals before
    // and after, and its two corners other than the merged vertex in winding order.
    struct FanFace {
        D3 before;
        D3 after;
        std::uint32_t from;
        std::uint32_t to;
        D3 beyond;           // the normal beyond the rim edge, when looked up
        bool looked = false;
    };
    std::vector<FanFace> fanFaces_;
    std::vector<std::pair<std::uint32_t, D3>> patch_;  // the triangles round keep and remove, normals
    std::vector<std::uint32_t> ring_;
};

void Simplifier::Setup()
{
    const std::size_t vertexCount = mesh_.vertices.size();
    const std::size_t triangleCount = mesh_.TriangleCount();
    vertex_.resize(vertexCount);
    life_.resize(vertexCount);
    written_.resize(vertexCount);
    ParallelFor(vertexCount, [&](std::size_t v) {
        const Vec3 p = mesh_.vertices[v].position;
        vertex_[v].position = {p.x, p.y, p.z};
        vertex_[v].mergedInto = static_cast<std::uint32_t>(v);
        written_[v] = p;
    });
    face_.resize(triangleCount);
    alive_.resize(triangleCount);
    ParallelFor(triangleCount, [&](std::size_t t) {
        const std::uint32_t* c = &mesh_.indices[3 * t];
        std::copy(c, c + 3, face_[t].corner);
        alive_[t] = IsDegenerate(c) ? 0 : 1;
    });
    liveTriangles_ = static_cast<std::uint64_t>(std::count(alive_.begin(), alive_.end(), std::uint8_t{1}));
    const double turn = std::clamp(static_cast<double>(options_.maximumNormalTurnDegrees), 1.0, 179.0);
    cosTurnLimit_ = std::cos(turn * 3.14159265358979323846 / 180.0);
    BuildIncidence();
    initialIncidence_ = incidence_.size();
    // The merges append to the lists until the loop rebuilds them at three times their start:
    // room for that at once spares the copies and fresh pages of growing there step by step.
    // (A run over a region rebuilds by the whole result's count, far off: it grows as it needs.)
    if (liveOutside_ == 0)
        incidence_.reserve(3 * initialIncidence_ + 1024 + 16 * kAttemptsPerPoll);
    // Each triangle's unit normal once, as FaceNormal gives it, and whether it has area: each
    // is read by all three corners, for their planes and their crease bounds.
    std::vector<D3> normal(triangleCount);
    std::vector<std::uint8_t> hasArea(triangleCount, 0);
    ParallelFor(triangleCount, [&](std::size_t t) {
        const std::uint32_t* c = face_[t].corner;
        const D3 p0 = vertex_[c[0]].position;
        const D3 n = Cross(vertex_[c[1]].position - p0, vertex_[c[2]].position - p0);
        const double length = Length(n);
        hasArea[t] = length > 0.0 ? 1 : 0;
        normal[t] = length > 0.0 ? n * (1.0 / length) : D3{};
    });
    // Each vertex sums the planes of its live triangles in triangle order, which is the order
    // of its incidence list: the same sums on any number of threads.
    ParallelFor(vertexCount, [&](std::size_t v) {
        const std::size_t start = vertex_[v].incidenceStart;
        const std::size_t end = start + life_[v].incidenceCount;
        for (std::size_t i = start; i < end; ++i) {
            const std::uint32_t t = incidence_[i];
            if (hasArea[t] == 0)
                continue;
            const D3 n = normal[t];
            const double d = -Dot(n, vertex_[face_[t].corner[0]].position);
            const Quadric plane{n.x * n.x, n.x * n.y, n.x * n.z, n.x * d, n.y * n.y, n.y * n.z, n.y * d,
                n.z * n.z, n.z * d, d * d};
            AddTo(vertex_[v].quadric, plane);
        }
        vertex_[v].crease = static_cast<float>(CreaseAt(static_cast<std::uint32_t>(v), normal));
    });
    HoldBedVertices();
    const std::vector<std::uint8_t>* flags = options_.protectedTriangles;
    if (flags != nullptr && flags->size() == triangleCount) {
        for (std::size_t t = 0; t < triangleCount; ++t)
            if ((*flags)[t] != 0)
                for (int k = 0; k < 3; ++k)
                    vertex_[face_[t].corner[k]].held = 1;
    }
}

void Simplifier::HoldBedVertices()
{
    if (!HasBed() || vertex_.empty())
        return;
    if (givenBed_ != nullptr) {
        bedLevel_ = givenBed_->level;
        bedTolerance_ = givenBed_->tolerance;
    } else {
        double lowest = Axis(vertex_[0].position, options_.bedAxis);
        double highest = lowest;
        for (const VertexState& v : vertex_) {
            lowest = std::min(lowest, Axis(v.position, options_.bedAxis));
            highest = std::max(highest, Axis(v.position, options_.bedAxis));
        }
        bedLevel_ = lowest;
        bedTolerance_ = std::max((highest - lowest) * 1e-6, kMinimumBedTolerance);
    }
    for (VertexState& v : vertex_) {
        if (Axis(v.position, options_.bedAxis) <= bedLevel_ + bedTolerance_) {
            v.held = 1;
            ++report_.verticesHeldOnBed;
        }
    }
}

// Flat per-vertex lists of live triangles, in triangle order.
void Simplifier::BuildIncidence()
{
    for (VertexLife& v : life_)
        v.incidenceCount = 0;
    for (std::size_t t = 0; t < face_.size(); ++t)
        if (alive_[t] != 0)
            for (const std::uint32_t c : face_[t].corner)
                ++life_[c].incidenceCount;
    std::size_t sum = 0;
    for (std::size_t v = 0; v < vertex_.size(); ++v) {
        vertex_[v].incidenceStart = sum;
        sum += life_[v].incidenceCount;
    }
    incidence_.assign(sum, 0);
    std::vector<std::size_t> fill(vertex_.size());
    for (std::size_t v = 0; v < vertex_.size(); ++v)
        fill[v] = vertex_[v].incidenceStart;
    for (std::size_t t = 0; t < face_.size(); ++t)
        if (alive_[t] != 0)
            for (int k = 0; k < 3; ++k)
                incidence_[fill[face_[t].corner[k]]++] = static_cast<std::uint32_t>(t);
}

bool Simplifier::OptimalPosition(std::uint32_t a, std::uint32_t b, D3& position, double& cost) const
{
    const VertexState& va = vertex_[a];
    const VertexState& vb = vertex_[b];
    if (va.held != 0 && vb.held != 0)
        return false;
    Quadric q = va.quadric;
    AddTo(q, vb.quadric);
    if (va.held != 0 || vb.held != 0) {
        position = va.held != 0 ? va.position : vb.position;
        cost = QuadricError(q, position);
        return true;
    }
    const D3 pa = va.position;
    const D3 pb = vb.position;
    // Cramer's rule on [xx xy xz; xy yy yz; xz yz zz] p = -(xw, yw, zw).
    const double xx = q[0], xy = q[1], xz = q[2], yy = q[4], yz = q[5], zz = q[7];
    const double rx = -q[3], ry = -q[6], rz = -q[8];
    const double c00 = yy * zz - yz * yz;
    const double c01 = xy * zz - yz * xz;
    const double c02 = xy * yz - yy * xz;
    const double det = xx * c00 - xy * c01 + xz * c02;
    const double trace = xx + yy + zz;
    if (std::fabs(det) > 1e-9 * trace * trace * trace) {
        const double detX = rx * c00 - xy * (ry * zz - yz * rz) + xz * (ry * yz - yy * rz);
        const double detY = xx * (ry * zz - yz * rz) - rx * c01 + xz * (xy * rz - ry * xz);
        const double detZ = xx * (yy * rz - ry * yz) - xy * (xy * rz - ry * xz) + rx * c02;
        const D3 p{detX / det, detY / det, detZ / det};
        const D3 mid = (pa + pb) * 0.5;
        if (std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) && Length(p - mid) <= Length(pa - pb)
            && IsAboveBed(p)) {
            position = p;
            cost = QuadricError(q, p);
            return true;
        }
    }
    const std::array<D3, 3> choices{pa, pb, (pa + pb) * 0.5};
    bool found = false;
    for (const D3& p : choices) {
        if (!IsAboveBed(p))
            continue;
        const double e = QuadricError(q, p);
        if (!found || e < cost) {
            position = p;
            cost = e;
            found = true;
        }
    }
    return found;
}

float Simplifier::CandidateCost(std::uint32_t a, std::uint32_t b) const
{
    D3 position;
    double cost = 0.0;
    if (!OptimalPosition(a, b, position, cost) || !(cost < static_cast<double>(options_.maximumError)))
        return -1.0f;
    if (options_.maximumEdgeMillimetres > 0.0f
        && Length(vertex_[a].position - vertex_[b].position) > static_cast<double>(options_.maximumEdgeMillimetres))
        return -1.0f;
    // Not negative: the error is clamped at 0 and a NaN fails the comparison above.
    return static_cast<float>(cost);
}

void Simplifier::PushCandidate(std::uint32_t a, std::uint32_t b)
{
    const float cost = CandidateCost(a, b);
    if (cost >= 0.0f)
        heap_.Push({cost, a, b, life_[a].version + life_[b].version});
}

// Every edge of every triangle, (c0, c1), (c1, c2), (c2, c0), once from its smaller index.
// The costs are independent of each other and worked out in parallel; the pushes stay in
// this order, so the heap is the same on any number of threads.
void Simplifier::SeedCandidates()
{
    std::vector<float> cost(3 * face_.size());
    ParallelFor(face_.size(), [&](std::size_t t) {
        const std::uint32_t* c = face_[t].corner;
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t from = c[k];
            const std::uint32_t to = c[(k + 1) % 3];
            cost[3 * t + k] = from < to ? CandidateCost(from, to) : -1.0f;
        }
    });
    const auto seeds =
        static_cast<std::size_t>(std::count_if(cost.begin(), cost.end(), [](float c) { return c >= 0.0f; }));
    // The collapses push more than they pop: a quarter more room spares the copy of a
    // reallocation in runs like the 1.3 million triangle relief (largest heap 1.2 times the seeds).
    heap_.Reserve(seeds + seeds / 4);
    for (std::size_t t = 0; t < face_.size(); ++t) {
        const std::uint32_t* c = face_[t].corner;
        for (int k = 0; k < 3; ++k)
            if (cost[3 * t + k] >= 0.0f)
                heap_.Push({cost[3 * t + k], c[k], c[(k + 1) % 3], 0});
    }
}

bool Simplifier::IsStale(const Candidate& e) const
{
    const VertexLife a = life_[e.a];
    const VertexLife b = life_[e.b];
    return a.incidenceCount == 0 || b.incidenceCount == 0 || a.version + b.version != e.versionSum;
}

void Simplifier::GatherLive(std::uint32_t v, std::vector<std::uint32_t>& out) const
{
    out.clear();
    const std::size_t start = vertex_[v].incidenceStart;
    const std::size_t end = start + life_[v].incidenceCount;
    for (std::size_t i = start; i < end; ++i) {
        const std::uint32_t t = incidence_[i];
        if (alive_[t] != 0) {
            __builtin_prefetch(&face_[t]);  // the tests read its corners next
            out.push_back(t);
        }
    }
}

std::uint32_t Simplifier::NextStamp()
{
    if (++stampCounter_ == 0) {
        for (VertexState& v : vertex_)
            v.stamp = 0;
        stampCounter_ = 1;
    }
    return stampCounter_;
}

// The two vertices may share exactly the two vertices opposite their edge, or the collapse
// would pinch the surface.
bool Simplifier::PassesLinkTest(std::uint32_t keep, std::uint32_t remove)
{
    const std::uint32_t mark = NextStamp();
    for (const std::uint32_t t : keepList_)
        for (const std::uint32_t c : face_[t].corner)
            vertex_[c].stamp = mark;
    scratch_.clear();
    for (const std::uint32_t t : removeList_)
        for (const std::uint32_t c : face_[t].corner)
            if (c != keep && c != remove && vertex_[c].stamp == mark)
                scratch_.push_back(c);
    std::sort(scratch_.begin(), scratch_.end());
    scratch_.erase(std::unique(scratch_.begin(), scratch_.end()), scratch_.end());
    return scratch_.size() == 2;
}

// The unit normal of a triangle at its corners' present positions, or zero when it has no
// area. Worked out when needed rather than stored: a triangle's corners move only in a
// collapse that the tip test has just found to leave it with area, so a stored normal,
// refreshed after every move, would always equal this, and reading it back from a large
// array costs more than the arithmetic.
D3 Simplifier::FaceNormal(const FaceState& face) const
{
    const D3 p0 = vertex_[face.corner[0]].position;
    const D3 n = Cross(vertex_[face.corner[1]].position - p0, vertex_[face.corner[2]].position - p0);
    const double length = Length(n);
    return length > 0.0 ? n * (1.0 / length) : D3{};
}

bool Simplifier::PassesTipTest(std::uint32_t keep, std::uint32_t remove, D3 position)
{
    const bool keepHeld = vertex_[keep].held != 0;
    fanFaces_.clear();
    for (const std::vector<std::uint32_t>* list : {&keepList_, &removeList_}) {
        for (const std::uint32_t t : *list) {
            const FaceState& face = face_[t];
            if (HasCorner(face, keep) && HasCorner(face, remove))
                continue;
            const std::uint32_t* c = face.corner;
            if (keepHeld) {
                bool allMovedOrHeld = true;
                for (int k = 0; k < 3; ++k)
                    allMovedOrHeld = allMovedOrHeld && (c[k] == keep || c[k] == remove || vertex_[c[k]].held != 0);
                const bool allHeldBefore = vertex_[c[0]].held != 0 && vertex_[c[1]].held != 0 && vertex_[c[2]].held != 0;
                if (allMovedOrHeld && !allHeldBefore) {
                    ++report_.refusedOther;
                    return false;
                }
            }
            std::array<D3, 3> p;
            for (int k = 0; k < 3; ++k)
                p[k] = (c[k] == keep || c[k] == remove) ? position : vertex_[c[k]].position;
            const D3 e1 = p[1] - p[0];
            const D3 e2 = p[2] - p[0];
            const D3 n = Cross(e1, e2);
            const double length = Length(n);
            const D3 before = FaceNormal(face);
            if (!(length > kDegenerateFactor * (Dot(e1, e1) + Dot(e2, e2))) || Dot(before, n) < length * cosTurnLimit_) {
                ++report_.refusedTip;
                return false;
            }
            const int k = (c[0] == keep || c[0] == remove) ? 0 : (c[1] == keep || c[1] == remove) ? 1 : 2;
            fanFaces_.push_back({before, n * (1.0 / length), c[(k + 1) % 3], c[(k + 2) % 3], D3{}, false});
        }
    }
    return true;
}

// The least dot product of the unit normals (`normal`, per triangle) of two neighbouring
// triangles round v.
double Simplifier::CreaseAt(std::uint32_t v, const std::vector<D3>& normal) const
{
    // Each triangle's normal once; a vertex with more triangles than this is taken as folded,
    // which costs only a look beyond its rim edges later.
    constexpr std::size_t kMostTriangles = 24;
    std::array<std::pair<const FaceState*, D3>, kMostTriangles> round;
    std::size_t count = 0;
    const std::size_t start = vertex_[v].incidenceStart;
    const std::size_t end = start + life_[v].incidenceCount;
    for (std::size_t i = start; i < end; ++i) {
        if (alive_[incidence_[i]] == 0)
            continue;
        if (count == kMostTriangles)
            return -1.0;
        round[count++] = {&face_[incidence_[i]], normal[incidence_[i]]};
    }
    double crease = 1.0;
    for (std::size_t i = 0; i < count; ++i) {
        const FaceState& a = *round[i].first;
        for (std::size_t j = i + 1; j < count; ++j) {
            const FaceState& b = *round[j].first;
            const int shared = (HasCorner(b, a.corner[0]) ? 1 : 0) + (HasCorner(b, a.corner[1]) ? 1 : 0)
                + (HasCorner(b, a.corner[2]) ? 1 : 0);
            if (shared == 2)
                crease = std::min(crease, Dot(round[i].second, round[j].second));
        }
    }
    return crease;
}

// After a merge the fan's triangles have turned: keep's bound is its spokes' least dot product;
// each rim vertex takes its spokes' and, for a rim edge, the edge's dot product where it was
// looked up, else the bound less the turn (the edge's dot product can fall no further).
void Simplifier::LowerCreases(std::uint32_t keep)
{
    double atKeep = 1.0;
    for (const FanFace& face : fanFaces_) {
        for (const FanFace& next : fanFaces_) {
            if (next.from != face.to)
                continue;
            const double spoke = Dot(face.after, next.after);
            atKeep = std::min(atKeep, spoke);
            vertex_[face.to].crease = std::min(vertex_[face.to].crease, static_cast<float>(spoke - kCreaseSlack));
        }
        const double turn = Length(face.after - face.before);
        for (const std::uint32_t w : {face.from, face.to}) {
            const double rim = face.looked ? Dot(face.after, face.beyond) : static_cast<double>(vertex_[w].crease) - turn;
            vertex_[w].crease = std::min(vertex_[w].crease, static_cast<float>(rim - kCreaseSlack));
        }
    }
    vertex_[keep].crease = static_cast<float>(atKeep - kCreaseSlack);
}

// The turn limit bounds how far each triangle of the merged fan turns, not how far two of them
// turn from each other: two neighbours turning towards each other by less than the limit each
// can still fold the surface over at the edge between them. So the folds (normals more than 120
// degrees apart) at the edges of the fan, the spokes between its triangles and the rim against
// the triangles round it, are counted before and after the merge, which is refused when they
// grow: a fold the input held may stay, or go, but none is made.
bool Simplifier::PassesFoldTest(std::uint32_t keep, std::uint32_t remove)
{
    // After: the spokes and the rim edges; most merges fold nothing, and are done with here.
    int after = 0;
    int before = 0;
    for (FanFace& face : fanFaces_) {
        for (const FanFace& next : fanFaces_)
            after += next.from == face.to && Dot(face.after, next.after) < kFoldedEdgeCosine ? 1 : 0;
        // The triangle beyond the rim edge from -> to, which the merge does not move. Their
        // normals' dot product was at least the crease bound at `from`, and the turn moves this
        // triangle's normal by `turn`: where that cannot reach a fold, nothing is looked up.
        const double turn = Length(face.after - face.before);
        face.beyond = face.before;
        face.looked = false;
        if (static_cast<double>(vertex_[face.from].crease) - turn > kFoldedEdgeCosine + kCreaseSlack)
            continue;
        face.looked = true;
        const std::size_t start = vertex_[face.from].incidenceStart;
        const std::size_t end = start + life_[face.from].incidenceCount;
        for (std::size_t i = start; i < end; ++i) {
            const std::uint32_t t = incidence_[i];
            const FaceState& other = face_[t];
            if (alive_[t] == 0 || !HasCorner(other, face.to) || HasCorner(other, keep) || HasCorner(other, remove))
                continue;
            const D3 beyond = FaceNormal(other);
            face.beyond = beyond;
            before += Dot(face.before, beyond) < kFoldedEdgeCosine ? 1 : 0;
            after += Dot(face.after, beyond) < kFoldedEdgeCosine ? 1 : 0;
        }
    }
    if (after == 0)
        return true;
    // Before: the edges between the triangles round keep and remove, the edge's own among them.
    patch_.clear();
    for (const std::vector<std::uint32_t>* list : {&keepList_, &removeList_})
        for (const std::uint32_t t : *list)
            if (list == &keepList_ || !HasCorner(face_[t], keep))
                patch_.push_back({t, FaceNormal(face_[t])});
    for (std::size_t i = 0; i < patch_.size(); ++i) {
        const FaceState& a = face_[patch_[i].first];
        for (std::size_t j = i + 1; j < patch_.size(); ++j) {
            const FaceState& b = face_[patch_[j].first];
            const int shared = (HasCorner(b, a.corner[0]) ? 1 : 0) + (HasCorner(b, a.corner[1]) ? 1 : 0)
                + (HasCorner(b, a.corner[2]) ? 1 : 0);
            before += shared == 2 && Dot(patch_[i].second, patch_[j].second) < kFoldedEdgeCosine ? 1 : 0;
        }
    }
    return after <= before;
}

ContactTriangle Simplifier::ContactOf(const FaceState& face, std::uint32_t keep, std::uint32_t remove,
                                      const Point3& moved) const
{
    ContactTriangle contact;
    for (int k = 0; k < 3; ++k) {
        const std::uint32_t c = face.corner[k];
        const bool merged = c == keep || c == remove;
        contact.index[k] = merged ? keep : c;
        if (merged)
            contact.point[k] = moved;
        else
            contact.point[k] = {written_[c].x, written_[c].y, written_[c].z};
    }
    PrepareContact(contact);
    return contact;
}

// The tip test bounds how far each triangle of the merged fan turns, but says nothing about
// the fan against its neighbours, and it reads positions before they are rounded to float,
// which at large coordinates moves them by a good share of a triangle. So the fan is checked
// as the result will hold it: no triangle without area, none meeting another of the fan or a
// triangle round the fan's rim anywhere but at shared vertices.
bool Simplifier::PassesContactTest(std::uint32_t keep, std::uint32_t remove, D3 position)
{
    const Point3 moved = Written(position);
    fan_.clear();
    scratch_.clear();
    for (const std::vector<std::uint32_t>* list : {&keepList_, &removeList_}) {
        for (const std::uint32_t t : *list) {
            const FaceState& face = face_[t];
            if (HasCorner(face, keep) && HasCorner(face, remove))
                continue;
            fan_.push_back(ContactOf(face, keep, remove, moved));
            const ContactTriangle& added = fan_.back();
            if (PointsCollinear(added.point[0], added.point[1], added.point[2]))
                return false;
            for (const std::uint32_t c : added.index)
                if (c != keep)
                    scratch_.push_back(c);
        }
    }
    Point3 fanLow = fan_.empty() ? Point3{} : fan_[0].low;
    Point3 fanHigh = fan_.empty() ? Point3{} : fan_[0].high;
    for (std::size_t i = 0; i < fan_.size(); ++i) {
        for (int axis = 0; axis < 3; ++axis) {
            fanLow[axis] = std::min(fanLow[axis], fan_[i].low[axis]);
            fanHigh[axis] = std::max(fanHigh[axis], fan_[i].high[axis]);
        }
        for (std::size_t j = i + 1; j < fan_.size(); ++j)
            if (TrianglesMeetBeyondSharedVertices(fan_[i], fan_[j]))
                return false;
    }
    // The triangles round the rim: those on a rim vertex that are not on keep or remove. They
    // lie all over memory: each step asks for all it will read next before reading any.
    std::sort(scratch_.begin(), scratch_.end());
    scratch_.erase(std::unique(scratch_.begin(), scratch_.end()), scratch_.end());
    for (const std::uint32_t w : scratch_) {
        const std::size_t start = vertex_[w].incidenceStart;
        const std::size_t end = start + life_[w].incidenceCount;
        for (std::size_t i = start; i < end; ++i) {
            __builtin_prefetch(&face_[incidence_[i]]);
            __builtin_prefetch(&alive_[incidence_[i]]);
        }
    }
    ring_.clear();
    for (const std::uint32_t w : scratch_) {
        const std::size_t start = vertex_[w].incidenceStart;
        const std::size_t end = start + life_[w].incidenceCount;
        for (std::size_t i = start; i < end; ++i) {
            const std::uint32_t t = incidence_[i];
            if (alive_[t] != 0 && !HasCorner(face_[t], keep) && !HasCorner(face_[t], remove)) {
                ring_.push_back(t);
                for (const std::uint32_t c : face_[t].corner)
                    __builtin_prefetch(&written_[c]);
            }
        }
    }
    std::sort(ring_.begin(), ring_.end());
    ring_.erase(std::unique(ring_.begin(), ring_.end()), ring_.end());
    for (const std::uint32_t t : ring_) {
        const ContactTriangle other = ContactOf(face_[t], keep, remove, moved);
        if (!(other.low[0] <= fanHigh[0] && fanLow[0] <= other.high[0] && other.low[1] <= fanHigh[1]
                && fanLow[1] <= other.high[1] && other.low[2] <= fanHigh[2] && fanLow[2] <= other.high[2]))
            continue;
        for (const ContactTriangle& mine : fan_)
            if (TrianglesMeetBeyondSharedVertices(mine, other))
                return false;
    }
    return true;
}

// Asks for the incidence lists of the rim vertices, which the contact test reads, while the tip
// test works on what is already at hand.
void Simplifier::PrefetchRim(std::uint32_t keep, std::uint32_t remove) const
{
    for (const std::vector<std::uint32_t>* list : {&keepList_, &removeList_}) {
        for (const std::uint32_t t : *list) {
            for (const std::uint32_t c : face_[t].corner) {
                if (c != keep && c != remove) {
                    __builtin_prefetch(&life_[c]);
                    __builtin_prefetch(&incidence_[vertex_[c].incidenceStart]);
                }
            }
        }
    }
}

void Simplifier::TryCollapse(std::uint32_t a, std::uint32_t b)
{
    std::uint32_t keep = a;
    std::uint32_t remove = b;
    if (vertex_[b].held != 0 && vertex_[a].held == 0)
        std::swap(keep, remove);
    D3 position;
    double cost = 0.0;
    if (!OptimalPosition(keep, remove, position, cost)) {
        ++report_.refusedOther;
        return;
    }
    GatherLive(keep, keepList_);
    GatherLive(remove, removeList_);
    std::uint32_t edgeTriangles[2] = {0, 0};
    std::size_t edgeCount = 0;
    for (const std::uint32_t t : keepList_) {
        if (HasCorner(face_[t], remove)) {
            if (edgeCount < 2)
                edgeTriangles[edgeCount] = t;
            ++edgeCount;
        }
    }
    if (edgeCount != 2 || keepList_.size() + removeList_.size() < 7 || !PassesLinkTest(keep, remove)) {
        ++report_.refusedPinch;
        return;
    }
    if (testContacts_)
        PrefetchRim(keep, remove);
    if (!PassesTipTest(keep, remove, position))
        return;
    if (options_.refuseFolds && !PassesFoldTest(keep, remove)) {
        ++report_.refusedTip;
        return;
    }
    if (testContacts_ && !PassesContactTest(keep, remove, position)) {
        ++report_.refusedTip;
        return;
    }
    const std::size_t start = MergeInto(keep, remove, position, edgeTriangles);
    LowerCreases(keep);
    report_.largestError = std::max(report_.largestError, static_cast<float>(cost));
    ++report_.collapses;
    PushNeighbourCandidates(keep, start);
}

// Kills the edge's two triangles and moves remove's triangles over to keep; returns where
// keep's new incidence run starts.
std::size_t Simplifier::MergeInto(std::uint32_t keep, std::uint32_t remove, D3 position,
                                  const std::uint32_t (&edgeTriangles)[2])
{
    alive_[edgeTriangles[0]] = 0;
    alive_[edgeTriangles[1]] = 0;
    liveTriangles_ -= 2;
    const std::size_t start = incidence_.size();
    for (const std::uint32_t t : keepList_)
        if (alive_[t] != 0)
            incidence_.push_back(t);
    for (const std::uint32_t t : removeList_) {
        FaceState& face = face_[t];
        if (alive_[t] == 0)
            continue;
        for (std::uint32_t& c : face.corner)
            if (c == remove)
                c = keep;
        incidence_.push_back(t);
    }
    VertexState& k = vertex_[keep];
    k.incidenceStart = start;
    life_[keep].incidenceCount = static_cast<std::uint32_t>(incidence_.size() - start);
    life_[remove].incidenceCount = 0;
    vertex_[remove].mergedInto = keep;
    AddTo(k.quadric, vertex_[remove].quadric);
    k.position = position;
    k.merged = 1;
    const Point3 rounded = Written(position);
    written_[keep] = {static_cast<float>(rounded[0]), static_cast<float>(rounded[1]), static_cast<float>(rounded[2])};
    ++life_[keep].version;
    ++life_[remove].version;
    return start;
}

// Offers each of keep's edges again at its new cost.
void Simplifier::PushNeighbourCandidates(std::uint32_t keep, std::size_t start)
{
    scratch_.clear();
    for (std::size_t i = start; i < incidence_.size(); ++i) {
        for (const std::uint32_t c : face_[incidence_[i]].corner) {
            if (c != keep) {
                // The pushes below read the quadric, on the line the tests did not touch, and
                // the version.
                __builtin_prefetch(&vertex_[c].quadric);
                __builtin_prefetch(&life_[c]);
                scratch_.push_back(c);
            }
        }
    }
    std::sort(scratch_.begin(), scratch_.end());
    scratch_.erase(std::unique(scratch_.begin(), scratch_.end()), scratch_.end());
    for (const std::uint32_t w : scratch_)
        PushCandidate(keep, w);
}

bool Simplifier::RunSimplifier(const ProgressCallback& progress)
{
    Setup();
    if (progress && !progress(kSimplifyStage, 0.0f))
        return false;
    SeedCandidates();
    std::uint64_t attempts = 0;
    while (!heap_.Empty()) {
        if (options_.targetTriangles != 0 && liveTriangles_ <= options_.targetTriangles)
            break;
        if (heap_.TopCost() >= options_.maximumError)
            break;
        const Candidate entry = heap_.Pop();
        if (!heap_.Empty()) {
            // Most entries are stale: start loading what the next one is checked against.
            __builtin_prefetch(&life_[heap_.Top().a]);
            __builtin_prefetch(&life_[heap_.Top().b]);
        }
        if (IsStale(entry))
            continue;
        TryCollapse(entry.a, entry.b);
        if (++attempts % kAttemptsPerPoll != 0)
            continue;
        if (progress) {
            const float ratio = std::clamp(entry.cost / options_.maximumError, 0.0f, 1.0f);
            if (!progress(kSimplifyStage, std::sqrt(ratio)))
                return false;
        }
        // Counted over the whole result also in a run over a region, so that both rebuild at the
        // same merge and go on alike.
        if (incidence_.size() + 3 * liveOutside_ > 3 * (initialIncidence_ + 3 * liveOutside_) + 1024)
            BuildIncidence();
        if (heap_.Size() > 2 * (liveTriangles_ + liveOutside_) + 65536)
            heap_.Purge([this](const Candidate& e) { return IsStale(e); });
    }
    return true;
}

// Writes the live triangles, renumbering vertices in order of first use.
void Simplifier::Compact(TriangleMesh& result, std::vector<std::uint8_t>& changed, std::vector<std::uint32_t>& into)
{
    changed.clear();
    changed.reserve(static_cast<std::size_t>(liveTriangles_));
    std::vector<std::uint32_t> placed(vertex_.size(), kNotPlaced);
    std::vector<MeshVertex> vertices;
    std::vector<std::uint32_t> indices;
    indices.reserve(static_cast<std::size_t>(liveTriangles_) * 3);
    report_.faceMap.reserve(static_cast<std::size_t>(liveTriangles_));
    for (std::size_t t = 0; t < face_.size(); ++t) {
        if (alive_[t] == 0)
            continue;
        const std::uint32_t* corner = face_[t].corner;
        changed.push_back(vertex_[corner[0]].merged | vertex_[corner[1]].merged | vertex_[corner[2]].merged);
        for (const std::uint32_t c : face_[t].corner) {
            if (placed[c] == kNotPlaced) {
                placed[c] = static_cast<std::uint32_t>(vertices.size());
                const D3 p = vertex_[c].position;
                vertices.push_back({{static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)}, {}});
                report_.vertexMap.push_back(c);
            }
            indices.push_back(placed[c]);
        }
        report_.faceMap.push_back(static_cast<std::uint32_t>(t));
    }
    into.resize(vertex_.size());
    for (std::size_t v = 0; v < vertex_.size(); ++v) {
        std::uint32_t root = static_cast<std::uint32_t>(v);
        while (vertex_[root].mergedInto != root)
            root = vertex_[root].mergedInto;
        // Every vertex on the way points at the end from now on: the later walks are short.
        for (std::uint32_t at = static_cast<std::uint32_t>(v); vertex_[at].mergedInto != root;) {
            const std::uint32_t next = vertex_[at].mergedInto;
            vertex_[at].mergedInto = root;
            at = next;
        }
        into[v] = placed[root];
    }
    result.vertices = std::move(vertices);
    result.indices = std::move(indices);
    result.ComputeBounds();
    result.ComputeVertexNormals();
}

void Simplifier::CompactWithin(const TriangleMesh& whole, const Region& region, TriangleMesh& result,
                               std::vector<std::uint8_t>& changed, std::vector<std::uint32_t>& into)
{
    changed.clear();
    std::vector<std::uint32_t> placed(whole.vertices.size(), kNotPlaced);
    std::vector<MeshVertex> vertices;
    std::vector<std::uint32_t> indices;
    indices.reserve(whole.indices.size());
    report_.faceMap.reserve(whole.TriangleCount());
    std::size_t next = 0;  // the next region triangle
    for (std::size_t t = 0; t < whole.TriangleCount(); ++t) {
        std::uint32_t corner[3];
        std::uint8_t merged = 0;
        if (next < region.triangle.size() && region.triangle[next] == t) {
            const std::size_t r = next++;
            if (alive_[r] == 0)
                continue;
            for (int k = 0; k < 3; ++k) {
                corner[k] = region.vertex[face_[r].corner[k]];
                merged |= vertex_[face_[r].corner[k]].merged;
            }
        } else {
            std::copy_n(&whole.indices[3 * t], 3, corner);
            if (IsDegenerate(corner))
                continue;
        }
        changed.push_back(merged);
        for (const std::uint32_t c : corner) {
            if (placed[c] == kNotPlaced) {
                placed[c] = static_cast<std::uint32_t>(vertices.size());
                Vec3 p = whole.vertices[c].position;
                if (region.local[c] != kNotPlaced) {
                    const D3 moved = vertex_[region.local[c]].position;
                    p = {static_cast<float>(moved.x), static_cast<float>(moved.y), static_cast<float>(moved.z)};
                }
                vertices.push_back({p, {}});
                report_.vertexMap.push_back(c);
            }
            indices.push_back(placed[c]);
        }
        report_.faceMap.push_back(static_cast<std::uint32_t>(t));
    }
    into.resize(whole.vertices.size());
    for (std::size_t v = 0; v < whole.vertices.size(); ++v) {
        std::uint32_t root = region.local[v];
        if (root == kNotPlaced) {
            into[v] = placed[v];
            continue;
        }
        while (vertex_[root].mergedInto != root)
            root = vertex_[root].mergedInto;
        into[v] = placed[region.vertex[root]];
    }
    result.vertices = std::move(vertices);
    result.indices = std::move(indices);
    result.ComputeBounds();
    result.ComputeVertexNormals();
}

void MeasureMovement(const std::vector<Vec3>& input, const TriangleMesh& result, MeshSimplifyReport& report)
{
    AabbTree tree;
    tree.Build(result);
    std::vector<float> distance(input.size(), 0.0f);
    ParallelFor(input.size(), [&](std::size_t v) {
        const NearestHit hit = tree.Nearest(result, input[v], {}, {}, kNoDistanceLimit);
        distance[v] = hit.found ? hit.distance : 0.0f;
    });
    double sum = 0.0;
    float largest = 0.0f;
    for (const float d : distance) {
        sum += d;
        largest = std::max(largest, d);
    }
    report.maximumMovementMillimetres = largest;
    report.averageMovementMillimetres =
        input.empty() ? 0.0f : static_cast<float>(sum / static_cast<double>(input.size()));
    report.movementMeasured = true;
}

// The triangles of a result within `rings` triangles of its faults (a fault's own corners at
// 0): the place a repair run may change.
std::vector<std::uint8_t> AroundFaults(const TriangleMesh& result, const std::vector<std::uint32_t>& faults, int rings)
{
    std::vector<std::uint8_t> near(result.vertices.size(), 0);
    for (const std::uint32_t t : faults)
        for (int k = 0; k < 3; ++k)
            near[result.indices[3 * t + k]] = 1;
    std::vector<std::uint8_t> around(result.TriangleCount(), 0);
    for (int ring = 0;; ++ring) {
        for (std::size_t t = 0; t < around.size(); ++t) {
            const std::uint32_t* c = &result.indices[3 * t];
            around[t] = near[c[0]] != 0 || near[c[1]] != 0 || near[c[2]] != 0 ? 1 : 0;
        }
        if (ring == rings)
            return around;
        for (std::size_t t = 0; t < around.size(); ++t)
            if (around[t] != 0)
                for (int k = 0; k < 3; ++k)
                    near[result.indices[3 * t + k]] = 1;
    }
}

using TrianglePair = std::array<std::uint32_t, 2>;

// The triangles of the pairs, each once, in ascending order.
std::vector<std::uint32_t> TrianglesOf(const std::vector<TrianglePair>& pairs)
{
    std::vector<std::uint32_t> triangles;
    for (const TrianglePair& pair : pairs)
        triangles.insert(triangles.end(), pair.begin(), pair.end());
    std::sort(triangles.begin(), triangles.end());
    triangles.erase(std::unique(triangles.begin(), triangles.end()), triangles.end());
    return triangles;
}

// The triangles on every corner of the faults' pairs (not those without area), and a byte per
// result vertex set on the corners of those triangles.
struct FaultFans {
    std::vector<std::uint32_t> firstOn;  // per vertex: where its triangles start in `on`
    std::vector<std::uint32_t> on;
    std::vector<std::uint8_t> round;
};

FaultFans FansOfFaults(const TriangleMesh& result, const std::vector<TrianglePair>& faults)
{
    std::vector<std::uint8_t> faultCorner(result.vertices.size(), 0);
    for (const TrianglePair& pair : faults)
        if (pair[0] != pair[1])
            for (const std::uint32_t t : pair)
                for (int k = 0; k < 3; ++k)
                    faultCorner[result.indices[3 * t + k]] = 1;
    FaultFans fans;
    fans.firstOn.assign(result.vertices.size() + 1, 0);
    for (const std::uint32_t c : result.indices)
        fans.firstOn[c + 1] += faultCorner[c];
    for (std::size_t v = 0; v < result.vertices.size(); ++v)
        fans.firstOn[v + 1] += fans.firstOn[v];
    fans.on.resize(fans.firstOn.back());
    fans.round.assign(result.vertices.size(), 0);
    std::vector<std::uint32_t> next(fans.firstOn.begin(), fans.firstOn.end() - 1);
    for (std::size_t t = 0; t < result.TriangleCount(); ++t) {
        const std::uint32_t* c = &result.indices[3 * t];
        if (faultCorner[c[0]] == 0 && faultCorner[c[1]] == 0 && faultCorner[c[2]] == 0)
            continue;
        for (int k = 0; k < 3; ++k) {
            fans.round[c[k]] = 1;
            if (faultCorner[c[k]] != 0)
                fans.on[next[c[k]]++] = static_cast<std::uint32_t>(t);
        }
    }
    return fans;
}

// The pairs of the input's triangles that meet (each pair once, ascending), found among the
// triangles searched so far, which only grow: a run's repairs ask round the same tangle again
// and again, and searching the input there anew for each was a third of a tangled part's check.
class InputMeetings {
public:
    explicit InputMeetings(const TriangleMesh& input) : input_(input), searched_(input.TriangleCount(), 0) {}

    // The pairs with both triangles flagged in `wanted` (a byte per input triangle). Whether two
    // triangles meet is theirs alone, so a search of more triangles finds the same pairs among
    // these as a search of these alone.
    std::vector<TrianglePair> Among(const std::vector<std::uint8_t>& wanted)
    {
        std::vector<std::uint8_t> fresh(wanted.size(), 0);
        bool anyFresh = false;
        for (std::size_t t = 0; t < wanted.size(); ++t) {
            fresh[t] = wanted[t] != 0 && searched_[t] == 0 ? 1 : 0;
            anyFresh = anyFresh || fresh[t] != 0;
        }
        if (anyFresh) {
            for (std::size_t t = 0; t < wanted.size(); ++t)
                searched_[t] = static_cast<std::uint8_t>(searched_[t] | wanted[t]);
            Search(fresh);
        }
        std::vector<TrianglePair> among;
        for (const TrianglePair& pair : pairs_)
            if (wanted[pair[0]] != 0 && wanted[pair[1]] != 0)
                among.push_back(pair);
        return among;
    }

private:
    // Adds the pairs with a triangle flagged in `fresh` (a byte per input triangle): those among
    // the triangles searched before are known already. Searching all of them again each time
    // was most of a repair's check on a part that met nowhere, where nothing is ever found.
    void Search(const std::vector<std::uint8_t>& fresh)
    {
        TriangleMesh near;
        std::vector<std::uint32_t> source;  // per triangle of `near`: the input triangle
        std::vector<std::uint8_t> isFresh;  // per triangle of `near`
        std::vector<std::uint32_t> renumbered(input_.vertices.size(), kNotPlaced);
        for (std::size_t t = 0; t < input_.TriangleCount(); ++t) {
            if (searched_[t] == 0)
                continue;
            const std::uint32_t* c = &input_.indices[3 * t];
            for (int k = 0; k < 3; ++k) {
                if (renumbered[c[k]] == kNotPlaced) {
                    renumbered[c[k]] = static_cast<std::uint32_t>(near.vertices.size());
                    near.vertices.push_back(input_.vertices[c[k]]);
                }
                near.indices.push_back(renumbered[c[k]]);
            }
            source.push_back(static_cast<std::uint32_t>(t));
            isFresh.push_back(fresh[t]);
        }
        for (const TrianglePair& pair : ChangedTrianglePairsMeetingOrFlat(near, isFresh))
            if (pair[0] != pair[1])
                pairs_.push_back({source[pair[0]], source[pair[1]]});
        std::sort(pairs_.begin(), pairs_.end());
        pairs_.erase(std::unique(pairs_.begin(), pairs_.end()), pairs_.end());
    }

    const TriangleMesh& input_;
    std::vector<std::uint8_t> searched_;
    std::vector<TrianglePair> pairs_;
};

// Every pair of result vertices that the two triangles of a meeting input pair went into, one
// each, both ways round, of the meeting pairs among the input triangles that went into a vertex
// flagged in `round`: per result vertex, its partners, each once, ascending. Filed by vertex
// rather than sorted as one list of pairs: round a printer bed's bodies passing through each
// other the list ran to millions of pairs, and sorting it on every call was a third of a
// check's time.
struct GivenPairs {
    std::vector<std::uint32_t> firstOf;   // per result vertex: where its partners start
    std::vector<std::uint32_t> partners;

    [[nodiscard]] bool Empty() const { return partners.empty(); }
    std::span<const std::uint32_t> Of(std::uint32_t v) const
    {
        return {partners.data() + firstOf[v], partners.data() + firstOf[v + 1]};
    }
};

GivenPairs GivenVertexPairs(const TriangleMesh& input, const std::vector<std::uint32_t>& into,
                            const std::vector<std::uint8_t>& round, InputMeetings& meetings)
{
    const auto goesRound = [&](std::uint32_t v) { return into[v] != kNotPlaced && round[into[v]] != 0; };
    std::vector<std::uint8_t> wanted(input.TriangleCount(), 0);
    for (std::size_t t = 0; t < input.TriangleCount(); ++t) {
        const std::uint32_t* c = &input.indices[3 * t];
        wanted[t] = goesRound(c[0]) || goesRound(c[1]) || goesRound(c[2]) ? 1 : 0;
    }
    const std::vector<TrianglePair> among = meetings.Among(wanted);
    // Each pair of corners, one of each triangle, both ways round; `visit` sees them all.
    const auto forEachCornerPair = [&](const auto& visit) {
        for (const TrianglePair& pair : among) {
            const std::uint32_t* a = &input.indices[3 * pair[0]];
            const std::uint32_t* b = &input.indices[3 * pair[1]];
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) {
                    // Only vertices round the faults are ever looked up (TakeOutGivenPairs).
                    if (!goesRound(a[i]) || !goesRound(b[j]))
                        continue;
                    visit(into[a[i]], into[b[j]]);
                    visit(into[b[j]], into[a[i]]);
                }
            }
        }
    };
    GivenPairs given;
    given.firstOf.assign(round.size() + 1, 0);
    forEachCornerPair([&](std::uint32_t p, std::uint32_t) { ++given.firstOf[p + 1]; });
    for (std::size_t v = 0; v < round.size(); ++v)
        given.firstOf[v + 1] += given.firstOf[v];
    given.partners.resize(given.firstOf.back());
    std::vector<std::uint32_t> next(given.firstOf.begin(), given.firstOf.end() - 1);
    forEachCornerPair([&](std::uint32_t p, std::uint32_t q) { given.partners[next[p]++] = q; });
    // Each vertex's partners made distinct (a tangle repeats them hundreds of times, which a
    // mark per vertex drops before the sort) and sorted, packed down in place.
    std::vector<std::uint32_t> seenBy(round.size(), kNotPlaced);
    std::uint32_t kept = 0;
    for (std::size_t v = 0; v < round.size(); ++v) {
        const std::uint32_t begin = given.firstOf[v];
        const std::uint32_t end = given.firstOf[v + 1];
        given.firstOf[v] = kept;
        for (std::uint32_t i = begin; i < end; ++i) {
            const std::uint32_t q = given.partners[i];
            if (seenBy[q] != v) {
                seenBy[q] = static_cast<std::uint32_t>(v);
                given.partners[kept++] = q;
            }
        }
        std::sort(given.partners.begin() + given.firstOf[v], given.partners.begin() + kept);
    }
    given.firstOf[round.size()] = kept;
    given.partners.resize(kept);
    return given;
}

// Per triangle of the faults' pairs, the vertices round it: its corners and the corners of the
// triangles on them, each once, ascending. Worked out once per triangle: one triangle of a
// tangled place takes part in hundreds of pairs, and gathering its round again for each of
// them was most of a check's time on a printer bed's tangled fans.
struct FaultRounds {
    std::vector<std::uint32_t> triangles;  // ascending
    std::vector<std::uint32_t> firstOf;    // per listed triangle: where its round starts
    std::vector<std::uint32_t> vertices;

    std::span<const std::uint32_t> Of(std::uint32_t t) const
    {
        const auto at = static_cast<std::size_t>(std::lower_bound(triangles.begin(), triangles.end(), t) - triangles.begin());
        return {vertices.data() + firstOf[at], vertices.data() + firstOf[at + 1]};
    }
};

FaultRounds RoundsOfFaults(const TriangleMesh& result, const FaultFans& fans, const std::vector<TrianglePair>& faults)
{
    FaultRounds rounds;
    for (const TrianglePair& pair : faults)
        if (pair[0] != pair[1])
            rounds.triangles.insert(rounds.triangles.end(), pair.begin(), pair.end());
    std::sort(rounds.triangles.begin(), rounds.triangles.end());
    rounds.triangles.erase(std::unique(rounds.triangles.begin(), rounds.triangles.end()), rounds.triangles.end());
    rounds.firstOf.assign(rounds.triangles.size() + 1, 0);
    // A vertex is listed once per triangle through a mark: round a fan of hundreds of triangles
    // each corner comes up many times, and sorting the repeats was most of the gathering.
    std::vector<std::uint32_t> listedFor(result.vertices.size(), kNotPlaced);
    for (std::size_t i = 0; i < rounds.triangles.size(); ++i) {
        const std::uint32_t t = rounds.triangles[i];
        const auto start = static_cast<std::ptrdiff_t>(rounds.vertices.size());
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t corner = result.indices[3 * std::size_t{t} + k];
            for (std::uint32_t on = fans.firstOn[corner]; on < fans.firstOn[corner + 1]; ++on) {
                for (int m = 0; m < 3; ++m) {
                    const std::uint32_t v = result.indices[3 * std::size_t{fans.on[on]} + m];
                    if (listedFor[v] != i) {
                        listedFor[v] = static_cast<std::uint32_t>(i);
                        rounds.vertices.push_back(v);
                    }
                }
            }
        }
        std::sort(rounds.vertices.begin() + start, rounds.vertices.end());
        rounds.firstOf[i + 1] = static_cast<std::uint32_t>(rounds.vertices.size());
    }
    return rounds;
}

// Whether `given` holds a pair {p, q} with p in `first` and q in `second`. `second` is marked
// in `inSecond` (a stamp per result vertex, `stamp` naming this question, so nothing is cleared
// between questions) and each p's partners are looked up there: walking `second` again for
// every p was most of the time round a tangle, where both rounds hold hundreds of vertices.
bool AnyGivenBetween(const GivenPairs& given, std::span<const std::uint32_t> first,
                     std::span<const std::uint32_t> second, std::vector<std::uint64_t>& inSecond, std::uint64_t stamp)
{
    for (const std::uint32_t q : second)
        inSecond[q] = stamp;
    for (const std::uint32_t p : first)
        for (const std::uint32_t q : given.Of(p))
            if (inSecond[q] == stamp)
                return true;
    return false;
}

// Pairs of the result's triangles that meet where the input's met already (round each triangle
// of the pair, its corners and the corners of the triangles on them, lies a vertex that one
// triangle of a meeting pair of the input went into, the other triangle round the other): how
// many there are, and how many of them lie apart on the surface.
struct GivenCount {
    std::uint64_t given = 0;
    std::uint64_t apart = 0;
};

// Takes out of `faults` the pairs the input held already: those whose triangles lie apart on
// the surface (neither has a corner round the other's corners), a body through another, which
// no merge round them can take away and a run over the whole mesh cannot either, and, unless
// `keepFolds`, those side by side too, folds a relief made, which a merge round them can take
// away (see SimplifyMesh). A triangle without area is always the run's own.
GivenCount TakeOutGivenPairs(const TriangleMesh& input, const TriangleMesh& result,
                             const std::vector<std::uint32_t>& into, std::vector<TrianglePair>& faults, bool keepFolds,
                             InputMeetings& meetings)
{
    GivenCount count;
    if (std::all_of(faults.begin(), faults.end(), [](const TrianglePair& pair) { return pair[0] == pair[1]; }))
        return count;
    const FaultFans fans = FansOfFaults(result, faults);
    const GivenPairs given = GivenVertexPairs(input, into, fans.round, meetings);
    const FaultRounds rounds = RoundsOfFaults(result, fans, faults);
    std::vector<std::uint64_t> inSecond(result.vertices.size(), 0);
    std::uint64_t stamp = 0;
    const auto isTakenOut = [&](const TrianglePair& pair) {
        if (pair[0] == pair[1] || given.Empty())
            return false;
        const std::span<const std::uint32_t> roundFirst = rounds.Of(pair[0]);
        if (!AnyGivenBetween(given, roundFirst, rounds.Of(pair[1]), inSecond, ++stamp))
            return false;
        ++count.given;
        const std::uint32_t* second = &result.indices[3 * pair[1]];
        const bool sideBySide = std::any_of(second, second + 3, [&](std::uint32_t c) {
            return std::binary_search(roundFirst.begin(), roundFirst.end(), c);
        });
        count.apart += sideBySide ? 0 : 1;
        return !sideBySide || !keepFolds;
    };
    faults.erase(std::remove_if(faults.begin(), faults.end(), isTakenOut), faults.end());
    return count;
}

// The first vertex flagged in `check` without one fan (the triangles on it, each seen as the
// step from its next corner to its previous one, making a single closed round), with the
// vertices round it; empty when every fan is whole.
std::vector<std::uint32_t> BrokenFan(const TriangleMesh& mesh, const std::vector<std::uint8_t>& check)
{
    struct Step {
        std::uint32_t vertex;
        std::uint32_t from;
        std::uint32_t to;
    };
    std::vector<Step> steps;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const std::uint32_t* c = &mesh.indices[3 * t];
        for (int k = 0; k < 3; ++k)
            if (check[c[k]] != 0)
                steps.push_back({c[k], c[(k + 1) % 3], c[(k + 2) % 3]});
    }
    std::sort(steps.begin(), steps.end(),
              [](const Step& a, const Step& b) { return a.vertex != b.vertex ? a.vertex < b.vertex : a.from < b.from; });
    for (std::size_t first = 0; first < steps.size();) {
        std::size_t end = first;
        while (end < steps.size() && steps[end].vertex == steps[first].vertex)
            ++end;
        bool whole = true;
        for (std::size_t i = first + 1; i < end; ++i)
            whole = whole && steps[i].from != steps[i - 1].from;
        // With every `from` once, the round from the first step must come back after all of them.
        std::size_t at = first;
        std::size_t walked = 0;
        while (whole) {
            const auto next = std::lower_bound(steps.begin() + static_cast<std::ptrdiff_t>(first),
                                               steps.begin() + static_cast<std::ptrdiff_t>(end), steps[at].to,
                                               [](const Step& s, std::uint32_t v) { return s.from < v; });
            ++walked;
            if (next == steps.begin() + static_cast<std::ptrdiff_t>(end) || next->from != steps[at].to) {
                whole = false;
                break;
            }
            at = static_cast<std::size_t>(next - steps.begin());
            if (at == first || walked > end - first)
                break;
        }
        if (!whole || walked != end - first) {
            std::vector<std::uint32_t> round = {steps[first].vertex};
            for (std::size_t i = first; i < end; ++i)
                round.insert(round.end(), {steps[i].from, steps[i].to});
            return round;
        }
        first = end;
    }
    return {};
}

// Flags with `to` every unflagged corner of the triangles that have a corner flagged `from`.
void FlagRound(const TriangleMesh& result, std::vector<std::uint8_t>& flag, std::uint8_t from, std::uint8_t to)
{
    std::vector<std::uint32_t> next;
    for (std::size_t t = 0; t < result.TriangleCount(); ++t) {
        const std::uint32_t* c = &result.indices[3 * t];
        if (flag[c[0]] == from || flag[c[1]] == from || flag[c[2]] == from)
            for (int k = 0; k < 3; ++k)
                if (flag[c[k]] == 0)
                    next.push_back(c[k]);
    }
    for (const std::uint32_t v : next)
        flag[v] = to;
}

// The region round the triangles flagged in `place` (see Region).
Region RegionAround(const TriangleMesh& whole, const std::vector<std::uint8_t>& place)
{
    std::vector<std::uint8_t> near(whole.vertices.size(), 0);
    for (std::size_t t = 0; t < place.size(); ++t)
        if (place[t] != 0)
            for (int k = 0; k < 3; ++k)
                near[whole.indices[3 * t + k]] = 1;
    FlagRound(whole, near, 1, 2);
    Region region;
    region.local.assign(whole.vertices.size(), kNotPlaced);
    std::vector<std::uint8_t> used(whole.vertices.size(), 0);
    for (std::size_t t = 0; t < whole.TriangleCount(); ++t) {
        const std::uint32_t* c = &whole.indices[3 * t];
        if (near[c[0]] == 0 && near[c[1]] == 0 && near[c[2]] == 0) {
            region.liveOutside += IsDegenerate(c) ? 0 : 1;
            continue;
        }
        region.triangle.push_back(static_cast<std::uint32_t>(t));
        for (int k = 0; k < 3; ++k)
            used[c[k]] = 1;
    }
    for (std::size_t v = 0; v < whole.vertices.size(); ++v) {
        if (used[v] == 0)
            continue;
        region.local[v] = static_cast<std::uint32_t>(region.vertex.size());
        region.vertex.push_back(static_cast<std::uint32_t>(v));
        region.mesh.vertices.push_back(whole.vertices[v]);
    }
    region.mesh.indices.reserve(3 * region.triangle.size());
    for (const std::uint32_t t : region.triangle)
        for (int k = 0; k < 3; ++k)
            region.mesh.indices.push_back(region.local[whole.indices[3 * std::size_t{t} + k]]);
    return region;
}

constexpr std::uint8_t kGivenBack = 1;  // a result vertex the input takes the place of
constexpr std::uint8_t kJoinedTo = 2;   // one round those, which the input is joined to

// A result with the input laid in where its vertices are flagged kGivenBack.
struct LaidResult {
    TriangleMesh mesh;
    std::vector<std::uint32_t> vertexMap;
    std::vector<std::uint32_t> faceMap;
    std::vector<std::uint8_t> isInput;  // per triangle
    std::vector<std::uint8_t> joint;    // per vertex: one of the input's or one it is joined to
    std::vector<std::uint32_t> placed;  // per input vertex: where it was laid, or kNotPlaced
};

// The result without its triangles on given-back vertices, and the input triangles that went
// into those vertices with their corners there unmerged and their other corners where the
// result has them. False when such an input triangle went beyond the vertices joined to.
bool LayInput(const TriangleMesh& input, const TriangleMesh& result, const std::vector<std::uint32_t>& into,
              const std::vector<std::uint32_t>& vertexMap, const std::vector<std::uint32_t>& faceMap,
              const std::vector<std::uint8_t>& flag, LaidResult& laid)
{
    laid.mesh.vertices = result.vertices;
    laid.vertexMap = vertexMap;
    for (std::size_t t = 0; t < result.TriangleCount(); ++t) {
        const std::uint32_t* c = &result.indices[3 * t];
        if (flag[c[0]] == kGivenBack || flag[c[1]] == kGivenBack || flag[c[2]] == kGivenBack)
            continue;
        laid.mesh.indices.insert(laid.mesh.indices.end(), c, c + 3);
        laid.faceMap.push_back(faceMap[t]);
        laid.isInput.push_back(0);
    }
    laid.placed.assign(input.vertices.size(), kNotPlaced);
    laid.joint.resize(result.vertices.size());
    for (std::size_t v = 0; v < result.vertices.size(); ++v)
        laid.joint[v] = flag[v] == kJoinedTo ? 1 : 0;
    for (std::size_t t = 0; t < input.TriangleCount(); ++t) {
        const std::uint32_t* c = &input.indices[3 * t];
        const auto givenBack = [&](int k) { return into[c[k]] != kNotPlaced && flag[into[c[k]]] == kGivenBack; };
        if (IsDegenerate(c) || !(givenBack(0) || givenBack(1) || givenBack(2)))
            continue;
        std::uint32_t corner[3];
        for (int k = 0; k < 3; ++k) {
            if (into[c[k]] == kNotPlaced || flag[into[c[k]]] == 0)
                return false;
            if (!givenBack(k)) {
                corner[k] = into[c[k]];
                continue;
            }
            if (laid.placed[c[k]] == kNotPlaced) {
                laid.placed[c[k]] = static_cast<std::uint32_t>(laid.mesh.vertices.size());
                laid.mesh.vertices.push_back(input.vertices[c[k]]);
                laid.vertexMap.push_back(c[k]);
                laid.joint.push_back(1);
            }
            corner[k] = laid.placed[c[k]];
        }
        if (IsDegenerate(corner))
            continue;
        laid.mesh.indices.insert(laid.mesh.indices.end(), corner, corner + 3);
        laid.faceMap.push_back(static_cast<std::uint32_t>(t));
        laid.isInput.push_back(1);
    }
    return true;
}

// How a whole result meets itself: pairs of triangles that meet anywhere but at shared
// vertices, and triangles without area.
struct Contacts {
    std::uint64_t pairs = 0;
    std::uint64_t flat = 0;
};

// Of the pairs of a whole result that meet or are flat (ChangedTrianglePairsMeetingOrFlat).
Contacts ContactsOf(const std::vector<TrianglePair>& pairs)
{
    Contacts contacts;
    for (const TrianglePair& pair : pairs)
        ++(pair[0] == pair[1] ? contacts.flat : contacts.pairs);
    return contacts;
}

// The pairs of a result that meet or are flat after a repair run round `place` (a byte per
// triangle before it): `pairs`, those of the result before, where both triangles lie outside the
// place, renumbered by `carriedTo` (per triangle before, the one it became), and `found`, the
// pairs the run's check found with a triangle of the place. A triangle outside the place is held
// whole, so it keeps its corners and where they lie, and a pair of two such triangles meets
// exactly as before. False (the pairs then unknown) should one of them not have come through.
bool CarryPairsOutside(const std::vector<std::uint8_t>& place, const std::vector<std::uint32_t>& carriedTo,
                       const std::vector<TrianglePair>& found, std::vector<TrianglePair>& pairs)
{
    std::vector<TrianglePair> carried = found;
    for (const TrianglePair& pair : pairs) {
        if (place[pair[0]] != 0 || place[pair[1]] != 0)
            continue;
        const std::uint32_t a = carriedTo[pair[0]];
        const std::uint32_t b = carriedTo[pair[1]];
        if (a == kNotPlaced || b == kNotPlaced)
            return false;
        carried.push_back({std::min(a, b), std::max(a, b)});
    }
    std::sort(carried.begin(), carried.end());
    carried.erase(std::unique(carried.begin(), carried.end()), carried.end());
    pairs = std::move(carried);
    return true;
}

// As CarryPairsOutside, when a run's check looked only at the triangles of the place with a
// corner a merge kept (`merged`, per triangle after): every other triangle came through with
// its corners where they were, so a pair of two such meets exactly as before, in the place or
// not. Pairs with a triangle the run took away go. `pairs` is left as it was when false.
bool CarryPairsUnmerged(const std::vector<std::uint8_t>& place, const std::vector<std::uint32_t>& carriedTo,
                        const std::vector<std::uint8_t>& merged, const std::vector<TrianglePair>& found,
                        std::vector<TrianglePair>& pairs)
{
    std::vector<TrianglePair> carried = found;
    for (const TrianglePair& pair : pairs) {
        const std::uint32_t a = carriedTo[pair[0]];
        const std::uint32_t b = carriedTo[pair[1]];
        if ((a == kNotPlaced && place[pair[0]] == 0) || (b == kNotPlaced && place[pair[1]] == 0))
            return false;
        if (a == kNotPlaced || b == kNotPlaced || merged[a] != 0 || merged[b] != 0)
            continue;
        carried.push_back({std::min(a, b), std::max(a, b)});
    }
    std::sort(carried.begin(), carried.end());
    carried.erase(std::unique(carried.begin(), carried.end()), carried.end());
    pairs = std::move(carried);
    return true;
}

// The pairs of distinct triangles among `pairs`.
std::vector<TrianglePair> WithoutFlat(std::vector<TrianglePair> pairs)
{
    pairs.erase(std::remove_if(pairs.begin(), pairs.end(), [](const TrianglePair& pair) { return pair[0] == pair[1]; }),
                pairs.end());
    return pairs;
}

// Puts the input back round the faults: the result's triangles on the faults' corners and on
// the vertices next to those give way to the input triangles that went into them (LayInput).
// Where joining leaves a vertex without one closed fan (two input vertices that went into one
// vertex there lay on either side of what is given back), the place grows over that fan and is
// laid again, a few times at most. Nothing changes (false) when that does not settle, or when
// an input triangle of the place went somewhere else. The maps follow; `restored` gets one
// byte per triangle of the new result, set on the input's. The vertices the input replaced
// stay without triangles.
bool RestoreInputRound(const TriangleMesh& input, TriangleMesh& result, std::vector<std::uint32_t>& into,
                       std::vector<std::uint32_t>& vertexMap, std::vector<std::uint32_t>& faceMap,
                       const std::vector<TrianglePair>& faults, std::vector<std::uint8_t>& restored)
{
    constexpr int kLayings = 16;
    std::vector<std::uint8_t> flag(result.vertices.size(), 0);
    for (const TrianglePair& pair : faults)
        for (const std::uint32_t t : pair)
            for (int k = 0; k < 3; ++k)
                flag[result.indices[3 * t + k]] = kGivenBack;
    FlagRound(result, flag, kGivenBack, kGivenBack);
    for (int laying = 0; laying < kLayings; ++laying) {
        for (std::uint8_t& f : flag)
            f = f == kJoinedTo ? 0 : f;
        FlagRound(result, flag, kGivenBack, kJoinedTo);
        LaidResult laid;
        if (!LayInput(input, result, into, vertexMap, faceMap, flag, laid))
            return false;
        const std::vector<std::uint32_t> broken = BrokenFan(laid.mesh, laid.joint);
        if (!broken.empty()) {
            for (const std::uint32_t v : broken)
                flag[v < result.vertices.size() ? v : into[laid.vertexMap[v]]] = kGivenBack;
            continue;
        }
        for (std::size_t v = 0; v < into.size(); ++v)
            if (laid.placed[v] != kNotPlaced)
                into[v] = laid.placed[v];
        result = std::move(laid.mesh);
        result.ComputeBounds();
        vertexMap = std::move(laid.vertexMap);
        faceMap = std::move(laid.faceMap);
        restored = std::move(laid.isInput);
        return true;
    }
    return false;
}

// The steps of one SimplifyMesh after its checks, with the state they hand on to each other.
//
// The contact test reads the triangles round each fan's rim, scattered over memory, and more
// than doubled the time of a run. Most runs never need it: the first run goes without it and
// its result is checked as a whole afterwards. Where a changed triangle has lost its area or
// meets another, a repair run works on that result with every merge tested, all of it held but
// the faults' triangles (then a ring, then two rings round them): a merge there takes the fault
// away without laying another, and every pair the repair may have changed is checked again. A
// fold that no merge takes away (a sliver laid across the rim of a flat ring) has the input put
// back round it, which is then simplified again with every merge tested, and what is left goes
// through the repairs again at any cost. Only when that fails is the whole result made again
// with the test. Making it again for a handful of faults among hundreds of thousands of
// triangles doubled the stage's time.
// Pairs that meet where the input met already, apart on the surface, are not the run's faults
// (TakeOutGivenPairs): a relief that crossed itself in a few thousand places once sent a third
// of runs through every repair to the whole-mesh run, at several times the cost, to hold them
// all still. A relief's folds, side by side, go through the same repairs as the run's own, then
// through them again at any cost; they never send the whole mesh through again, which would not
// take them away either.
class SimplifyRun {
public:
    SimplifyRun(const TriangleMesh& mesh, const MeshSimplifyOptions& options, const ProgressCallback& progress,
                MeshSimplifyReport& report)
        : mesh_(mesh), options_(options), progress_(progress), report_(report), initial_(report), meetings_(mesh),
          inputProtected_(options.protectedTriangles != nullptr
                                  && options.protectedTriangles->size() == mesh.TriangleCount()
                              ? options.protectedTriangles : nullptr),
          errorLimit_(options.maximumError)
    {
    }

    // Every step in turn; false when the callback stopped the run (the report then holds what
    // was counted so far).
    bool Run()
    {
        FirstRun();
        FindFirstFaults();
        RepairRounds();
        if (completed_ && !faults_.empty())
            RestoreInput();
        // A crossing of the run's own that neither takes away: the few triangles round it merge
        // at any cost, as round a relief's fold below. The run over the whole mesh that was next
        // made crossings of its own as often as not (its test sees a fan's rim, not a wall across
        // a thin place), cost several times the first run, and kept a good share more triangles.
        if (completed_ && !faults_.empty())
            RepairRoundsAtAnyCost();
        if (completed_ && !faults_.empty())
            WholeAgain();
        MendGivenFolds();
        PutBackOwnCrossings();
        // Counted on the result handed on, after every step that may change it.
        if (completed_ && report_.crossingsGiven != 0) {
            KnowResultPairs();
            report_.crossingsLeft = ContactsOf(resultPairs_).pairs;
        }
        report_.reruns = reruns_;
        return completed_;
    }

    TriangleMesh& Result() { return result_; }

private:
    // The run over the whole mesh without the contact test. It works on its own copies of
    // positions and corners, so the mesh is untouched until the end: a stop needs nothing put
    // back.
    void FirstRun()
    {
        Simplifier simplifier(mesh_, options_, report_, false);
        completed_ = simplifier.RunSimplifier(progress_);
        if (completed_) {
            simplifier.Compact(result_, changed_, into_);
            bed_ = simplifier.Bed();
        }
    }

    // The pairs of the whole result that meet or are flat (ChangedTrianglePairsMeetingOrFlat),
    // while known: a repair run changes only the place it is given, so the pairs elsewhere are
    // carried over and only those round the place are searched again. Searching the whole result
    // after each step was most of the simplifier's time in a repair of a large part.
    void KnowResultPairs()
    {
        if (!resultPairsKnown_)
            resultPairs_ = ChangedTrianglePairsMeetingOrFlat(result_, {});
        resultPairsKnown_ = true;
    }

    // The first result's faults, searched over the whole result, so that the input's crossings
    // are counted also where no merge touched them; a triangle without area that no merge
    // touched came so from the input.
    void FindFirstFaults()
    {
        if (!completed_)
            return;
        KnowResultPairs();
        faults_ = resultPairs_;
        faults_.erase(std::remove_if(faults_.begin(), faults_.end(),
                                     [&](const TrianglePair& pair) { return pair[0] == pair[1] && changed_[pair[0]] == 0; }),
                      faults_.end());
        report_.crossingsGiven = TakeOutGivenPairs(mesh_, result_, into_, faults_, keepFolds_, meetings_).given;
    }

    // One repair run on the result: every merge tested, all of it held but the triangles
    // flagged in `place`, which are then checked again. The run works on the region round the
    // place only: one over the whole result cost as much to set up for a handful of merges as
    // the first run, several times over on a tangled part.
    void RepairRun(const std::vector<std::uint8_t>& place)
    {
        const Region region = RegionAround(result_, place);
        std::vector<std::uint8_t> held(region.triangle.size(), 0);
        for (std::size_t r = 0; r < held.size(); ++r) {
            const std::uint32_t t = region.triangle[r];
            held[r] = place[t] == 0 || (inputProtected_ != nullptr && (*inputProtected_)[report_.faceMap[t]] != 0) ? 1 : 0;
        }
        MeshSimplifyOptions repairOptions = options_;
        repairOptions.protectedTriangles = &held;
        repairOptions.targetTriangles = 0;  // a handful of merges, whatever the count
        repairOptions.maximumError = errorLimit_;
        MeshSimplifyReport repair;
        TriangleMesh repaired;
        std::vector<std::uint32_t> intoRepaired;
        {
            Simplifier simplifier(region.mesh, repairOptions, repair, true, &bed_, region.liveOutside);
            completed_ = simplifier.RunSimplifier(progress_);
            if (!completed_)
                return;
            simplifier.CompactWithin(result_, region, repaired, changed_, intoRepaired);
        }
        // The triangles with a corner a merge kept: all others of the place came through as
        // they were, and the pairs between such triangles meet as they met.
        const std::vector<std::uint8_t> merged = changed_;
        for (std::uint32_t& v : into_)
            if (v != kNotPlaced)
                v = intoRepaired[v];
        // Only the place the repair could change is checked: every other pair passed before.
        for (std::size_t t = 0; t < changed_.size(); ++t)
            changed_[t] = place[repair.faceMap[t]];
        std::vector<std::uint32_t> carriedTo(place.size(), kNotPlaced);
        for (std::size_t t = 0; t < repair.faceMap.size(); ++t)
            carriedTo[repair.faceMap[t]] = static_cast<std::uint32_t>(t);
        TakeOverRepairReport(repair);
        result_ = std::move(repaired);
        // Where the pairs of the whole result are known, only the triangles a merge changed are
        // searched: round a part whose bodies pass through each other the place is most of the
        // mesh, and searching all of it again after a handful of merges was most of a run.
        if (resultPairsKnown_
            && CarryPairsUnmerged(place, carriedTo, merged, ChangedTrianglePairsMeetingOrFlat(result_, merged),
                                  resultPairs_)) {
            faults_.clear();
            for (const TrianglePair& pair : resultPairs_)
                if (changed_[pair[0]] != 0 || changed_[pair[1]] != 0)
                    faults_.push_back(pair);
        } else {
            faults_ = ChangedTrianglePairsMeetingOrFlat(result_, changed_);
            if (resultPairsKnown_)
                resultPairsKnown_ = CarryPairsOutside(place, carriedTo, faults_, resultPairs_);
        }
        TakeOutGivenPairs(mesh_, result_, into_, faults_, keepFolds_, meetings_);
    }

    // A repair's maps lead to the result before it: they are carried through to the input, and
    // its counts added to the run's.
    void TakeOverRepairReport(MeshSimplifyReport& repair)
    {
        for (std::uint32_t& v : repair.vertexMap)
            v = report_.vertexMap[v];
        for (std::uint32_t& t : repair.faceMap)
            t = report_.faceMap[t];
        report_.vertexMap = std::move(repair.vertexMap);
        report_.faceMap = std::move(repair.faceMap);
        report_.collapses += repair.collapses;
        report_.refusedPinch += repair.refusedPinch;
        report_.refusedTip += repair.refusedTip;
        report_.refusedOther += repair.refusedOther;
        report_.largestError = std::max(report_.largestError, repair.largestError);
    }

    // Repair runs round the faults, each over a wider place, while any are left.
    void RepairRounds()
    {
        for (int ring = 0; completed_ && !faults_.empty() && ring < kRepairRounds; ++ring) {
            ++reruns_;
            RepairRun(AroundFaults(result_, TrianglesOf(faults_), ring));
        }
    }

    // The same rounds with the detail level lifted: only the few triangles round a fault merge,
    // so the surface moves by a triangle or two at most there, and the movement measured says it.
    void RepairRoundsAtAnyCost()
    {
        errorLimit_ = kUnlimitedError;
        RepairRounds();
        errorLimit_ = options_.maximumError;
    }

    // A fold that no further merge takes away: the input goes back in round it and is
    // simplified again there with every merge tested.
    void RestoreInput()
    {
        std::vector<std::uint8_t> restored;
        if (RestoreInputRound(mesh_, result_, into_, report_.vertexMap, report_.faceMap, faults_, restored)) {
            resultPairsKnown_ = false;
            ++reruns_;
            RepairRun(restored);
        }
    }

    // The last resort for the run's own faults: the whole result made again with every merge
    // tested, counted from the start again.
    void WholeAgain()
    {
        ++reruns_;
        wholeAgain_ = true;
        resultPairsKnown_ = false;
        report_ = initial_;
        Simplifier simplifier(mesh_, options_, report_, true);
        completed_ = simplifier.RunSimplifier(progress_);
        if (completed_)
            simplifier.Compact(result_, changed_, into_);
    }

    // Takes `step` and keeps what it did only when fewer pairs meet afterwards and no triangle
    // more is without area. Beside a body through another, the input put back crosses it as it
    // did, and merged triangles, larger, can cross it in more places than they took away (a
    // mushroom's relief once kept half as many again).
    template <typename Step>
    void KeepIfFewerMeet(Step&& step)
    {
        if (!completed_ || faults_.empty())
            return;
        KnowResultPairs();
        const std::vector<TrianglePair> pairsBefore = resultPairs_;
        const Contacts before = ContactsOf(pairsBefore);
        const TriangleMesh resultBefore = result_;
        const std::vector<std::uint32_t> intoBefore = into_;
        const MeshSimplifyReport reportBefore = report_;
        const std::vector<TrianglePair> faultsBefore = faults_;
        const std::uint32_t rerunsBefore = reruns_;
        step();
        if (!completed_)
            return;
        KnowResultPairs();
        const Contacts after = ContactsOf(resultPairs_);
        if (after.flat > before.flat || after.pairs >= before.pairs) {
            result_ = resultBefore;
            into_ = intoBefore;
            report_ = reportBefore;
            faults_ = faultsBefore;
            reruns_ = rerunsBefore;
            resultPairs_ = pairsBefore;
            resultPairsKnown_ = true;
        }
    }

    // Folds a relief handed over that the result kept (the run's own faults are mended by now):
    // the same rounds, the input put back and the rounds again at any cost, each kept only when
    // fewer pairs meet afterwards. After a run over the whole mesh, whose start counted nothing
    // given, the count is made anew.
    void MendGivenFolds()
    {
        if (!completed_ || !(wholeAgain_ || report_.crossingsGiven != 0))
            return;
        // The whole result: a fold the input held can come through untouched.
        keepFolds_ = true;
        KnowResultPairs();
        faults_ = WithoutFlat(resultPairs_);
        const std::uint64_t given = TakeOutGivenPairs(mesh_, result_, into_, faults_, keepFolds_, meetings_).given;
        report_.crossingsGiven = wholeAgain_ ? given : report_.crossingsGiven;
        KeepIfFewerMeet([this] { RepairRounds(); });
        KeepIfFewerMeet([this] { RestoreInput(); });
        KeepIfFewerMeet([this] { RepairRoundsAtAnyCost(); });
    }

    // Crossings of the run's own that every repair left (a run over the whole mesh can lay a
    // wall across a thin place): the input goes back round them as it was, not simplified
    // again, a ring wider each time, kept only when fewer pairs meet. The pairs where the input
    // met already are left as they were, so a part given crossings of its own has the ones the
    // run made elsewhere put back all the same.
    void PutBackOwnCrossings()
    {
        for (int round = 0; completed_ && round < kPutBackRounds; ++round) {
            KnowResultPairs();
            faults_ = WithoutFlat(resultPairs_);
            if (report_.crossingsGiven != 0)
                TakeOutGivenPairs(mesh_, result_, into_, faults_, /*keepFolds=*/false, meetings_);
            if (faults_.empty())
                break;
            const std::vector<TrianglePair> own = faults_;
            KeepIfFewerMeet([&] {
                std::vector<TrianglePair> place;
                const std::vector<std::uint8_t> around = AroundFaults(result_, TrianglesOf(own), round);
                for (std::uint32_t t = 0; t < around.size(); ++t)
                    if (around[t] != 0)
                        place.push_back({t, t});
                std::vector<std::uint8_t> restored;
                if (RestoreInputRound(mesh_, result_, into_, report_.vertexMap, report_.faceMap, place, restored)) {
                    resultPairsKnown_ = false;
                    ++reruns_;
                }
            });
        }
    }

    const TriangleMesh& mesh_;
    const MeshSimplifyOptions& options_;
    const ProgressCallback& progress_;
    MeshSimplifyReport& report_;
    const MeshSimplifyReport initial_;  // as the checks left it, for a run over the whole again
    TriangleMesh result_;
    std::vector<std::uint8_t> changed_;
    std::vector<std::uint32_t> into_;  // per input vertex, the result vertex it went into
    BedPlane bed_;
    bool completed_ = false;
    std::vector<TrianglePair> faults_;
    bool keepFolds_ = false;  // the given pairs side by side stay faults
    std::vector<TrianglePair> resultPairs_;
    bool resultPairsKnown_ = false;
    InputMeetings meetings_;
    const std::vector<std::uint8_t>* inputProtected_;
    float errorLimit_;  // the detail level of the repair runs
    std::uint32_t reruns_ = 0;
    bool wholeAgain_ = false;
};

}  // namespace

MeshSimplifyReport SimplifyMesh(TriangleMesh& mesh, const MeshSimplifyOptions& options,
                                const ProgressCallback& progress)
{
    const auto start = std::chrono::steady_clock::now();
    MeshSimplifyReport report;
    report.detailLevel = options.maximumError;
    report.trianglesBefore = mesh.TriangleCount();
    report.verticesBefore = mesh.vertices.size();
    report.trianglesAfter = report.trianglesBefore;
    report.verticesAfter = report.verticesBefore;
    // An inconsistent mesh would send the collapse loop past its arrays: leave it as it is.
    if (mesh.vertices.empty() || mesh.indices.empty() || !(options.maximumError > 0.0f) || !mesh.IsConsistent())
        return report;

    std::vector<Vec3> input;
    if (options.measureMovement) {
        input.reserve(mesh.vertices.size());
        for (const MeshVertex& v : mesh.vertices)
            input.push_back(v.position);
    }
    SimplifyRun run(mesh, options, progress, report);
    if (!run.Run()) {
        report.stopped = true;
        report.vertexMap.clear();
        report.faceMap.clear();
        return report;
    }
    mesh = std::move(run.Result());
    report.trianglesAfter = mesh.TriangleCount();
    report.verticesAfter = mesh.vertices.size();
    if (options.measureMovement && !mesh.indices.empty()) {
        if (progress)
            progress(kMeasureStage, 1.0f);
        MeasureMovement(input, mesh, report);
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    report.seconds = static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()) / 1e9;
    return report;
}

void AssignMeshSimplifyReport(MeshSimplifyReport& to, const MeshSimplifyReport& from)
{
    to.stopped = from.stopped;
    to.trianglesBefore = from.trianglesBefore;
    to.trianglesAfter = from.trianglesAfter;
    to.verticesBefore = from.verticesBefore;
    to.verticesAfter = from.verticesAfter;
    to.collapses = from.collapses;
    to.refusedPinch = from.refusedPinch;
    to.refusedTip = from.refusedTip;
    to.refusedOther = from.refusedOther;
    to.verticesHeldOnBed = from.verticesHeldOnBed;
    to.largestError = from.largestError;
    to.detailLevel = from.detailLevel;
    to.movementMeasured = from.movementMeasured;
    to.maximumMovementMillimetres = from.maximumMovementMillimetres;
    to.averageMovementMillimetres = from.averageMovementMillimetres;
    to.seconds = from.seconds;
    to.reruns = from.reruns;
    to.crossingsGiven = from.crossingsGiven;
    to.crossingsLeft = from.crossingsLeft;
    to.vertexMap = from.vertexMap;
    to.faceMap = from.faceMap;
}

std::string FormatMeshSimplifyReport(const MeshSimplifyReport& report)
{
    std::string text = "Mesh simplify";
    const std::string name = DetailLevelName(report.detailLevel);
    if (!name.empty())
        text += " (" + name + ")";
    text += ": " + FormatCountGrouped(report.trianglesBefore) + " to " + FormatCountGrouped(report.trianglesAfter)
        + " triangles";
    if (report.trianglesBefore != 0) {
        const double kept = static_cast<double>(report.trianglesAfter) * 100.0 / static_cast<double>(report.trianglesBefore);
        text += " (" + FormatFixed(kept, 1) + "% kept)";
    }
    if (report.movementMeasured)
        text += ", surface moved at most " + FormatFixed(report.maximumMovementMillimetres, 3) + " mm, "
            + FormatFixed(report.averageMovementMillimetres, 3) + " mm on average";
    text += ", " + FormatFixed(report.seconds, 1) + " s";
    if (report.reruns != 0)
        text += "; " + FormatCountOf(report.reruns, "rerun", "reruns")
            + " where the surface met itself";
    if (report.crossingsGiven != 0)
        text += "; " + FormatCountOf(report.crossingsGiven, "crossing pair", "crossing pairs") + " it was given, "
            + (report.crossingsLeft == 0 ? std::string("all mended")
                                         : FormatCountGrouped(report.crossingsLeft) + " left as they were");
    if (report.verticesHeldOnBed != 0)
        text += "; " + FormatCountGrouped(report.verticesHeldOnBed) + " vertices held on the bed";
    if (report.refusedTip != 0 || report.refusedPinch != 0)
        text += "; refused " + FormatCountGrouped(report.refusedTip) + " merges that would tip a triangle, "
            + FormatCountGrouped(report.refusedPinch) + " that would pinch the surface";
    if (report.stopped)
        text += " - stopped, the mesh is as it was";
    return text;
}

const char* DetailLevelName(float level)
{
    struct Named {
        float value;
        const char* name;
    };
    static constexpr Named kLevels[] = {
        {0.001f, "Extra high"}, {0.01f, "High"}, {0.1f, "Medium"}, {0.5f, "Low"}, {1.0f, "Extra low"}};
    for (const Named& named : kLevels)
        if (std::fabs(level - named.value) <= named.value * 0.001f)
            return named.name;
    return "";
}

}  // namespace grainforge::mesh
