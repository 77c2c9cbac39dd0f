#include "engine/mesh/export_cleanup.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <functional>
#include <numeric>
#include <set>
#include <tuple>
#include <unordered_set>

#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/report_text.h"
#include "engine/mesh/triangle_contact.h"
#include "engine/mesh/welding.h"

namespace grainforge::mesh {
namespace {

// The boundary as FindBoundaryLoops traces it, with what the filling needs besides.
struct BoundaryTrace {
    std::vector<BoundaryLoop> loops;
    std::uint64_t unclosed = 0;           // FindBoundaryLoops' notSimpleLoops
    std::vector<std::uint32_t> outCount;  // per vertex: the open edges leaving it
    std::vector<std::uint64_t> edgeKeys;  // every corner's edge key, ascending
};
BoundaryTrace TraceBoundary(const TriangleMesh& mesh);

// FillHoleLoop, cutting no ear whose new edge `avoid` (given its two vertex indices) names,
// when given; 0, with nothing appended, when the loop cannot be tiled so.
using EdgeTest = std::function<bool(std::uint32_t, std::uint32_t)>;
std::uint64_t FillLoopAvoiding(TriangleMesh& mesh, const BoundaryLoop& loop, const EdgeTest* avoid);

constexpr std::uint32_t kNoEdge = 0xFFFFFFFFu;

// The key of the edge between vertices a and b, either way round: the lower index high.
std::uint64_t EdgeKey(std::uint64_t a, std::uint64_t b)
{
    return a < b ? (a << 32) | b : (b << 32) | a;
}

float Distance(Vec3 a, Vec3 b)
{
    const Vec3 d = b - a;
    return std::sqrt(Dot(d, d));
}

// How long an edge may be and still collapse: one tolerance for every edge, or the smaller of
// its two ends' own tolerances.
struct CollapseReach {
    float uniform = 0.0f;
    const float* perVertex = nullptr;

    bool Welds() const { return perVertex != nullptr || uniform > 0.0f; }
    float Of(std::uint32_t a, std::uint32_t b) const
    {
        return perVertex != nullptr ? std::min(perVertex[a], perVertex[b]) : uniform;
    }
};

CollapseReach ReachOf(const ExportCleanupState& state)
{
    if (!state.tolerances.empty() && state.mesh != nullptr && state.tolerances.size() == state.mesh->vertices.size())
        return {state.tolerance, state.tolerances.data()};
    return {state.tolerance, nullptr};
}

// The collapse test on given current corners (representatives).
bool CollapsedCorners(const TriangleMesh& mesh, std::uint32_t c0, std::uint32_t c1, std::uint32_t c2,
                      const CollapseReach& reach)
{
    if (c0 == c1 || c1 == c2 || c0 == c2)
        return false;
    const Vec3 p0 = mesh.vertices[c0].position;
    const Vec3 p1 = mesh.vertices[c1].position;
    const Vec3 p2 = mesh.vertices[c2].position;
    const Vec3 n = Cross(p1 - p0, p2 - p0);
    if (std::sqrt(Dot(n, n)) <= 0.0f)
        return true;
    if (!reach.Welds())
        return false;
    return Distance(p0, p1) <= reach.Of(c0, c1) || Distance(p1, p2) <= reach.Of(c1, c2) ||
           Distance(p2, p0) <= reach.Of(c2, c0);
}

// Representative without changing the union-find, for the parallel sweeps.
std::uint32_t FindReadOnly(const std::vector<std::uint32_t>& parent, std::uint32_t v)
{
    while (parent[v] != v)
        v = parent[v];
    return v;
}

constexpr const char* kNothingToCleanUp = "nothing to clean up";

// Whether some triangle has an edge no longer than the reach.
bool AnyShortEdge(const TriangleMesh& mesh, const CollapseReach& t)
{
    std::atomic<bool> found{false};
    ParallelForBlocks(mesh.TriangleCount(), 4096, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end && !found.load(std::memory_order_relaxed); ++i) {
            const std::uint32_t* c = &mesh.indices[3 * i];
            for (int k = 0; k < 3; ++k) {
                if (Distance(mesh.vertices[c[k]].position, mesh.vertices[c[(k + 1) % 3]].position) <= t.Of(c[k], c[(k + 1) % 3]))
                    found.store(true, std::memory_order_relaxed);
            }
        }
    });
    return found.load();
}

bool AnyCollapsed(const TriangleMesh& mesh, const std::vector<std::uint32_t>& parent, const CollapseReach& t)
{
    std::atomic<bool> found{false};
    ParallelForBlocks(mesh.TriangleCount(), 4096, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end && !found.load(std::memory_order_relaxed); ++i) {
            if (CollapsedCorners(mesh, FindReadOnly(parent, mesh.indices[3 * i]),
                                 FindReadOnly(parent, mesh.indices[3 * i + 1]),
                                 FindReadOnly(parent, mesh.indices[3 * i + 2]), t))
                found.store(true, std::memory_order_relaxed);
        }
    });
    return found.load();
}

// Neighbour lists of the current corners, each sorted, as offsets into one flat array.
struct NeighbourLists {
    std::vector<std::uint64_t> offsets;
    std::vector<std::uint32_t> entries;
};

NeighbourLists BuildNeighbourLists(const TriangleMesh& mesh, const std::vector<std::uint32_t>& parent)
{
    const std::size_t triangleCount = mesh.TriangleCount();
    std::vector<std::uint64_t> pairs(6 * triangleCount);
    ParallelFor(triangleCount, [&](std::size_t t) {
        const std::uint32_t c[3] = {FindReadOnly(parent, mesh.indices[3 * t]),
                                    FindReadOnly(parent, mesh.indices[3 * t + 1]),
                                    FindReadOnly(parent, mesh.indices[3 * t + 2])};
        for (int e = 0; e < 3; ++e) {
            const std::uint64_t a = c[e], b = c[(e + 1) % 3];
            // A pair of equal corners adds nothing; it is written as a marker sorted out below.
            pairs[6 * t + 2 * e] = a == b ? ~std::uint64_t{0} : (a << 32) | b;
            pairs[6 * t + 2 * e + 1] = a == b ? ~std::uint64_t{0} : (b << 32) | a;
        }
    });
    ParallelSort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    if (!pairs.empty() && pairs.back() == ~std::uint64_t{0})
        pairs.pop_back();
    NeighbourLists lists;
    lists.offsets.assign(mesh.vertices.size() + 1, 0);
    lists.entries.resize(pairs.size());
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        ++lists.offsets[(pairs[i] >> 32) + 1];
        lists.entries[i] = static_cast<std::uint32_t>(pairs[i]);
    }
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v)
        lists.offsets[v + 1] += lists.offsets[v];
    return lists;
}

std::uint64_t CommonNeighbours(const NeighbourLists& lists, std::uint32_t a, std::uint32_t b)
{
    auto i = lists.entries.begin() + static_cast<std::ptrdiff_t>(lists.offsets[a]);
    const auto iEnd = lists.entries.begin() + static_cast<std::ptrdiff_t>(lists.offsets[a + 1]);
    auto j = lists.entries.begin() + static_cast<std::ptrdiff_t>(lists.offsets[b]);
    const auto jEnd = lists.entries.begin() + static_cast<std::ptrdiff_t>(lists.offsets[b + 1]);
    std::uint64_t count = 0;
    while (i != iEnd && j != jEnd) {
        if (*i < *j) {
            ++i;
        } else if (*j < *i) {
            ++j;
        } else {
            ++count;
            ++i;
            ++j;
        }
    }
    return count;
}

// Stable least-significant-digit radix sort of (key, corner) pairs, four passes of 16 bits.
void RadixSortEdges(std::vector<std::uint64_t>& keys, std::vector<std::uint32_t>& corners)
{
    std::vector<std::uint64_t> keyBuffer(keys.size());
    std::vector<std::uint32_t> cornerBuffer(corners.size());
    std::vector<std::size_t> counts(65536 + 1);
    for (int pass = 0; pass < 4; ++pass) {
        const int shift = 16 * pass;
        std::fill(counts.begin(), counts.end(), std::size_t{0});
        for (const std::uint64_t key : keys)
            ++counts[((key >> shift) & 0xFFFFu) + 1];
        if (counts[((keys.empty() ? 0 : keys[0]) >> shift & 0xFFFFu) + 1] == keys.size())
            continue;  // every key has the same digit: the order stays
        for (std::size_t d = 1; d < counts.size(); ++d)
            counts[d] += counts[d - 1];
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const std::size_t slot = counts[(keys[i] >> shift) & 0xFFFFu]++;
            keyBuffer[slot] = keys[i];
            cornerBuffer[slot] = corners[i];
        }
        keys.swap(keyBuffer);
        corners.swap(cornerBuffer);
    }
}

std::string Scientific2(float value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value),
                                      std::chars_format::scientific, 2);
    return std::string(buffer, result.ptr);
}

// ---- Ear clipping -------------------------------------------------------------------------

struct Point2 {
    double x = 0.0;
    double y = 0.0;
};

double Turn(Point2 prev, Point2 at, Point2 next)
{
    return (at.x - prev.x) * (next.y - prev.y) - (at.y - prev.y) * (next.x - prev.x);
}

double EdgeSide(Point2 a, Point2 b, Point2 q)
{
    return (b.x - a.x) * (q.y - a.y) - (b.y - a.y) * (q.x - a.x);
}

bool InsideOrOn(Point2 a, Point2 b, Point2 c, Point2 q)
{
    return EdgeSide(a, b, q) >= 0.0 && EdgeSide(b, c, q) >= 0.0 && EdgeSide(c, a, q) >= 0.0;
}

// Ear clipping over a counter-clockwise polygon that always cuts the first ear in the current
// order (or, without ears, the position of largest turn). Only vertices with a turn of 0 or
// less can lie in an ear candidate of a simple polygon, so only those are tested; they are
// kept in a list, and each candidate remembers the vertex that blocked it so that it is tested
// again only when that vertex goes or its own neighbours change.
class EarClipper {
public:
    explicit EarClipper(std::vector<Point2> points) : p_(std::move(points))
    {
        const std::uint32_t n = static_cast<std::uint32_t>(p_.size());
        prev_.resize(n);
        next_.resize(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            prev_[i] = i == 0 ? n - 1 : i - 1;
            next_[i] = i + 1 == n ? 0 : i + 1;
        }
        turn_.resize(n);
        state_.assign(n, kUnknown);
        blocker_.assign(n, 0);
        blocked_.resize(n);
        reflexSlot_.assign(n, kNone);
        for (std::uint32_t i = 0; i < n; ++i) {
            turn_[i] = Turn(p_[prev_[i]], p_[i], p_[next_[i]]);
            if (turn_[i] <= 0.0)
                AddReflex(i);
        }
        remaining_ = n;
    }

    // Triangles as (previous, chosen, next) positions of the polygon, in cutting order. A cut
    // is made only where `allowed` (previous, next) is true; false when no cut is, and then
    // the triangles emitted so far are no tiling.
    template <class Emit, class Allowed>
    bool Run(Emit&& emit, Allowed&& allowed)
    {
        while (remaining_ > 3) {
            std::uint32_t chosen = kNone;
            std::uint32_t i = head_;
            for (std::uint32_t k = 0; k < remaining_; ++k, i = next_[i]) {
                if (state_[i] == kUnknown)
                    Evaluate(i);
                if (state_[i] == kEar && allowed(prev_[i], next_[i])) {
                    chosen = i;
                    break;
                }
            }
            if (chosen == kNone) {
                double best = 0.0;
                i = head_;
                for (std::uint32_t k = 0; k < remaining_; ++k, i = next_[i]) {
                    if ((chosen == kNone || turn_[i] > best) && allowed(prev_[i], next_[i])) {
                        best = turn_[i];
                        chosen = i;
                    }
                }
            }
            if (chosen == kNone)
                return false;
            emit(prev_[chosen], chosen, next_[chosen]);
            Remove(chosen);
        }
        emit(head_, next_[head_], next_[next_[head_]]);
        return true;
    }

private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    enum State : std::uint8_t { kUnknown, kEar, kBlocked, kNotConvex };

    void AddReflex(std::uint32_t v)
    {
        reflexSlot_[v] = static_cast<std::uint32_t>(reflex_.size());
        reflex_.push_back(v);
    }

    void DropReflex(std::uint32_t v)
    {
        const std::uint32_t slot = reflexSlot_[v];
        const std::uint32_t last = reflex_.back();
        reflex_[slot] = last;
        reflexSlot_[last] = slot;
        reflex_.pop_back();
        reflexSlot_[v] = kNone;
        // Whatever it blocked may be an ear now.
        for (const std::uint32_t j : blocked_[v]) {
            if (state_[j] == kBlocked && blocker_[j] == v)
                state_[j] = kUnknown;
        }
        blocked_[v].clear();
    }

    void Evaluate(std::uint32_t i)
    {
        if (!(turn_[i] > 0.0)) {
            state_[i] = kNotConvex;
            return;
        }
        const std::uint32_t a = prev_[i], c = next_[i];
        for (const std::uint32_t r : reflex_) {
            if (r != a && r != i && r != c && InsideOrOn(p_[a], p_[i], p_[c], p_[r])) {
                state_[i] = kBlocked;
                blocker_[i] = r;
                blocked_[r].push_back(i);
                return;
            }
        }
        state_[i] = kEar;
    }

    void Remove(std::uint32_t v)
    {
        const std::uint32_t a = prev_[v], c = next_[v];
        next_[a] = c;
        prev_[c] = a;
        if (head_ == v)
            head_ = c;
        --remaining_;
        if (reflexSlot_[v] != kNone)
            DropReflex(v);
        state_[v] = kNotConvex;
        for (const std::uint32_t x : {a, c}) {
            turn_[x] = Turn(p_[prev_[x]], p_[x], p_[next_[x]]);
            const bool wasReflex = reflexSlot_[x] != kNone;
            const bool isReflex = turn_[x] <= 0.0;
            if (wasReflex && !isReflex)
                DropReflex(x);
            if (!wasReflex && isReflex) {
                AddReflex(x);
                // A new reflex vertex may lie in an ear found before.
                std::uint32_t j = head_;
                for (std::uint32_t k = 0; k < remaining_; ++k, j = next_[j]) {
                    if (state_[j] == kEar && j != x && prev_[j] != x && next_[j] != x &&
                        InsideOrOn(p_[prev_[j]], p_[j], p_[next_[j]], p_[x])) {
                        state_[j] = kBlocked;
                        blocker_[j] = x;
                        blocked_[x].push_back(j);
                    }
                }
            }
            state_[x] = kUnknown;
        }
    }

    std::vector<Point2> p_;
    std::vector<std::uint32_t> prev_, next_;
    std::vector<double> turn_;
    std::vector<std::uint8_t> state_;
    std::vector<std::uint32_t> blocker_;
    std::vector<std::vector<std::uint32_t>> blocked_;
    std::vector<std::uint32_t> reflex_;
    std::vector<std::uint32_t> reflexSlot_;
    std::uint32_t head_ = 0;
    std::uint32_t remaining_ = 0;
};

}  // namespace

std::uint32_t ExportCleanupState::Representative(std::uint32_t vertex)
{
    while (parent[vertex] != vertex) {
        parent[vertex] = parent[parent[vertex]];
        vertex = parent[vertex];
    }
    return vertex;
}

bool IsCollapsedTriangle(ExportCleanupState& state, std::uint64_t triangle)
{
    if (state.mesh == nullptr || triangle >= state.mesh->TriangleCount())
        return false;
    const TriangleMesh& mesh = *state.mesh;
    const std::size_t base = 3 * static_cast<std::size_t>(triangle);
    for (std::size_t k = 0; k < 3; ++k) {
        const std::uint32_t v = mesh.indices[base + k];
        if (v >= mesh.vertices.size() || v >= state.parent.size())
            return false;
    }
    return CollapsedCorners(mesh, state.Representative(mesh.indices[base]),
                            state.Representative(mesh.indices[base + 1]),
                            state.Representative(mesh.indices[base + 2]), ReachOf(state));
}

namespace {

// The triangle's current corners (representatives).
std::array<std::uint32_t, 3> CurrentCorners(ExportCleanupState& state, std::size_t triangle)
{
    const std::vector<std::uint32_t>& indices = state.mesh->indices;
    return {state.Representative(indices[3 * triangle]), state.Representative(indices[3 * triangle + 1]),
            state.Representative(indices[3 * triangle + 2])};
}

// The edge (0, 1 or 2: from corner e to corner e + 1) with the shortest length; the first
// of equal ones.
int ShortestEdge(const TriangleMesh& mesh, const std::array<std::uint32_t, 3>& c)
{
    int shortest = 0;
    float shortestLength = Distance(mesh.vertices[c[0]].position, mesh.vertices[c[1]].position);
    for (int e = 1; e < 3; ++e) {
        const float length = Distance(mesh.vertices[c[e]].position, mesh.vertices[c[(e + 1) % 3]].position);
        if (length < shortestLength) {
            shortestLength = length;
            shortest = e;
        }
    }
    return shortest;
}

bool HasNoArea(const TriangleMesh& mesh, const std::array<std::uint32_t, 3>& c)
{
    const Vec3 p0 = mesh.vertices[c[0]].position;
    const Vec3 n = Cross(mesh.vertices[c[1]].position - p0, mesh.vertices[c[2]].position - p0);
    return std::sqrt(Dot(n, n)) <= 0.0f;
}

// One pass over every triangle: each collapsed one merges the far end of its shortest edge
// (of a triangle without area, the corner lying between the other two) into the near end when
// the two ends share exactly two neighbours (the link condition, judged on the neighbour lists
// from the start of the pass). Returns the merges made.
std::uint64_t CollapsePass(ExportCleanupState& state, ExportCleanupReport& report)
{
    const TriangleMesh& mesh = *state.mesh;
    const NeighbourLists lists = BuildNeighbourLists(mesh, state.parent);
    std::uint64_t merges = 0;
    for (std::size_t tri = 0; tri < mesh.TriangleCount(); ++tri) {
        if (!IsCollapsedTriangle(state, tri))
            continue;
        const std::array<std::uint32_t, 3> c = CurrentCorners(state, tri);
        const int shortest = ShortestEdge(mesh, c);
        std::uint32_t k = c[shortest], r = c[(shortest + 1) % 3];
        // Corners on one line: the one between the other two goes, else a corner of the part
        // would be pulled along the line into the middle of an edge.
        const Vec3 far = mesh.vertices[c[(shortest + 2) % 3]].position;
        if (HasNoArea(mesh, c) &&
            Distance(mesh.vertices[k].position, far) < Distance(mesh.vertices[r].position, far))
            std::swap(k, r);
        if (CommonNeighbours(lists, k, r) == 2) {
            state.parent[r] = k;
            ++merges;
        } else {
            ++report.collapsesRefused;
        }
    }
    return merges;
}

// Collapse passes until none merges or nothing collapsed is left, at most eight. Returns
// whether any vertex was merged.
bool CollapseTriangles(ExportCleanupState& state, ExportCleanupReport& report)
{
    const TriangleMesh& mesh = *state.mesh;
    if (!AnyCollapsed(mesh, state.parent, ReachOf(state)))
        return false;
    bool merged = false;
    while (report.passes < 8) {
        const std::uint64_t merges = CollapsePass(state, report);
        ++report.passes;
        if (merges != 0)
            merged = true;
        // Flatten so that the parallel sweeps read short chains.
        for (std::uint32_t v = 0; v < mesh.vertices.size(); ++v)
            state.parent[v] = state.Representative(v);
        if (merges == 0 || !AnyCollapsed(mesh, state.parent, ReachOf(state)))
            break;
    }
    return merged;
}

// Keeps one vertex per representative and re-indexes the triangles through them, dropping
// those that lost a corner; fills the vertex and face maps.
void RebuildThroughRepresentatives(TriangleMesh& mesh, const ExportCleanupState& state, ExportCleanupReport& report)
{
    const std::size_t vertexCount = mesh.vertices.size();
    std::vector<std::uint32_t> newIndex(vertexCount);
    std::vector<MeshVertex> vertices;
    vertices.reserve(vertexCount);
    for (std::uint32_t v = 0; v < vertexCount; ++v) {
        if (state.parent[v] == v) {
            newIndex[v] = static_cast<std::uint32_t>(vertices.size());
            vertices.push_back(mesh.vertices[v]);
            report.vertexMap.push_back(v);
        }
    }
    for (std::uint32_t v = 0; v < vertexCount; ++v)
        newIndex[v] = newIndex[state.parent[v]];
    report.verticesMerged = vertexCount - vertices.size();
    std::vector<std::uint32_t> indices;
    indices.reserve(mesh.indices.size());
    for (std::size_t tri = 0; tri < mesh.TriangleCount(); ++tri) {
        const std::uint32_t a = newIndex[mesh.indices[3 * tri]];
        const std::uint32_t b = newIndex[mesh.indices[3 * tri + 1]];
        const std::uint32_t c = newIndex[mesh.indices[3 * tri + 2]];
        if (a == b || b == c || a == c) {
            ++report.collapsedTrianglesDropped;
            continue;
        }
        indices.insert(indices.end(), {a, b, c});
        report.faceMap.push_back(static_cast<std::uint32_t>(tri));
    }
    mesh.vertices.swap(vertices);
    mesh.indices.swap(indices);
}

void MapOneToOne(const TriangleMesh& mesh, ExportCleanupReport& report)
{
    report.vertexMap.resize(mesh.vertices.size());
    std::iota(report.vertexMap.begin(), report.vertexMap.end(), 0u);
    report.faceMap.resize(mesh.TriangleCount());
    std::iota(report.faceMap.begin(), report.faceMap.end(), 0u);
}

// Triangles still collapsed after the passes: refused by the link condition or left over.
std::uint64_t CountCollapsedLeft(const TriangleMesh& mesh, const CollapseReach& t)
{
    std::atomic<std::uint64_t> left{0};
    ParallelForBlocks(mesh.TriangleCount(), 4096, [&](std::size_t begin, std::size_t end) {
        std::uint64_t local = 0;
        for (std::size_t tri = begin; tri < end; ++tri) {
            const std::uint32_t* c = &mesh.indices[3 * tri];
            const Vec3 p0 = mesh.vertices[c[0]].position;
            const Vec3 p1 = mesh.vertices[c[1]].position;
            const Vec3 p2 = mesh.vertices[c[2]].position;
            const Vec3 n = Cross(p1 - p0, p2 - p0);
            if (std::sqrt(Dot(n, n)) <= 0.0f ||
                (t.Welds() && (Distance(p0, p1) <= t.Of(c[0], c[1]) || Distance(p1, p2) <= t.Of(c[1], c[2]) ||
                               Distance(p2, p0) <= t.Of(c[2], c[0]))))
                ++local;
        }
        left.fetch_add(local, std::memory_order_relaxed);
    });
    return left.load();
}

using Corners = std::array<std::uint32_t, 3>;

Corners SortedCorners(const std::uint32_t* c)
{
    Corners sorted{c[0], c[1], c[2]};
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

// The filling triangles of one hole, kept apart from the mesh until the hole is judged.
struct HoleFill {
    std::vector<std::uint32_t> indices;
    std::uint32_t body = 0;    // the union-find root of the loop's vertices
    bool sheet = false;        // filling would lay a sheet onto itself
    bool nonManifold = false;  // filling would give an edge more than two triangles
    bool crossing = false;     // filling would pass through the surface or another fill
};

// What a fill may not repeat or share: the triangles already there on hole vertices and the
// mesh's edges, and the triangles and new edges of the fills kept so far.
class FillJudge {
public:
    FillJudge(const TriangleMesh& mesh, const std::vector<std::uint64_t>& edgeKeys, const std::vector<HoleFill>& fills)
        : edgeKeys_(edgeKeys)
    {
        std::vector<std::uint8_t> onHole(mesh.vertices.size(), 0);
        for (const HoleFill& fill : fills)
            for (const std::uint32_t v : fill.indices)
                onHole[v] = 1;
        // Only triangles on hole vertices can share all three corners with a fill.
        for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
            const std::uint32_t* c = &mesh.indices[3 * t];
            if (onHole[c[0]] != 0 && onHole[c[1]] != 0 && onHole[c[2]] != 0)
                known_.push_back(SortedCorners(c));
        }
        std::sort(known_.begin(), known_.end());
    }

    bool Present(std::uint64_t edge) const
    {
        return std::binary_search(edgeKeys_.begin(), edgeKeys_.end(), edge) || taken_.count(edge) != 0;
    }

    // Some triangle of the fill has the three corners of one already there, in either winding.
    bool Repeats(const std::vector<std::uint32_t>& indices) const
    {
        for (std::size_t i = 0; i < indices.size(); i += 3) {
            const Corners corners = SortedCorners(&indices[i]);
            if (std::binary_search(known_.begin(), known_.end(), corners) || filled_.count(corners) != 0)
                return true;
        }
        return false;
    }

    // Some edge of the fill other than its loop's own (sorted keys) is already there.
    bool Crowds(const std::vector<std::uint32_t>& indices, const std::vector<std::uint64_t>& loopEdges) const
    {
        for (std::size_t i = 0; i < indices.size(); i += 3)
            for (int k = 0; k < 3; ++k)
                if (const std::uint64_t edge = EdgeKey(indices[i + k], indices[i + (k + 1) % 3]);
                    !std::binary_search(loopEdges.begin(), loopEdges.end(), edge) && Present(edge))
                    return true;
        return false;
    }

    void Keep(const std::vector<std::uint32_t>& indices)
    {
        for (std::size_t i = 0; i < indices.size(); i += 3) {
            filled_.insert(SortedCorners(&indices[i]));
            for (int k = 0; k < 3; ++k)
                taken_.insert(EdgeKey(indices[i + k], indices[i + (k + 1) % 3]));
        }
    }

private:
    const std::vector<std::uint64_t>& edgeKeys_;
    std::vector<Corners> known_;
    std::set<Corners> filled_;
    std::unordered_set<std::uint64_t> taken_;
};

// Fills that would not keep the part manifold: one that repeats a triangle already there or of
// a fill kept before (in either winding), or one with a diagonal (an edge between two vertices
// of the loop that are not neighbours on it) that the mesh or a fill kept before already has,
// which would then be shared by more than two triangles. Such a loop is tiled again, cutting no
// ear along an edge already there. When that cannot be done, the fill is not made (its indices
// are cleared): a loop of three, whose one triangle repeats, borders a sheet that filling would
// back (sheet); any other would make an edge non-manifold (nonManifold). The loop's own edges
// are open, so any fill gives each its second triangle.
void MarkFillsBreakingManifoldEdges(TriangleMesh& mesh, const std::vector<std::uint64_t>& edgeKeys,
                                    const std::vector<BoundaryLoop>& loops, std::vector<HoleFill>& fills)
{
    FillJudge judge(mesh, edgeKeys, fills);
    const EdgeTest avoid = [&judge](std::uint32_t a, std::uint32_t b) { return judge.Present(EdgeKey(a, b)); };
    std::vector<std::uint64_t> own;
    for (std::size_t h = 0; h < loops.size(); ++h) {
        HoleFill& fill = fills[h];
        const std::vector<std::uint32_t>& ring = loops[h].vertices;
        if (fill.indices.empty())
            continue;
        own.clear();
        for (std::size_t i = 0; i < ring.size(); ++i)
            own.push_back(EdgeKey(ring[i], ring[(i + 1) % ring.size()]));
        std::sort(own.begin(), own.end());
        if (judge.Repeats(fill.indices) || judge.Crowds(fill.indices, own)) {
            const std::size_t kept = mesh.indices.size();
            if (ring.size() > 3)
                (void)FillLoopAvoiding(mesh, loops[h], &avoid);
            fill.indices.assign(mesh.indices.begin() + static_cast<std::ptrdiff_t>(kept), mesh.indices.end());
            mesh.indices.resize(kept);
            if (fill.indices.empty() || judge.Repeats(fill.indices)) {
                fill.sheet = ring.size() == 3;
                fill.nonManifold = !fill.sheet;
                fill.indices.clear();
                continue;
            }
        }
        judge.Keep(fill.indices);
    }
}

// The triangles of the mesh whose boxes may reach a box of the `fill` triangles (indices into
// the mesh's vertices): only these can meet a fill. The fill boxes mark the cells of a grid as
// coarse as the largest of them (each marks at most eight); a triangle is near when a cell it
// covers is marked, or, covering too many cells to look up, when its box reaches the box of
// all fills. Cell keys are hashed: a collision only adds a triangle to look at.
std::vector<std::uint8_t> MarkTrianglesNearFills(const TriangleMesh& mesh, const std::vector<std::uint32_t>& fill)
{
    const auto boxOf = [&mesh](const std::uint32_t* c, Vec3& lo, Vec3& hi) {
        lo = hi = mesh.vertices[c[0]].position;
        for (int k = 1; k < 3; ++k) {
            const Vec3 p = mesh.vertices[c[k]].position;
            lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
            hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
        }
    };
    Vec3 allLo{}, allHi{};
    double cell = 0.0;
    for (std::size_t i = 0; i < fill.size(); i += 3) {
        Vec3 lo, hi;
        boxOf(&fill[i], lo, hi);
        allLo = i == 0 ? lo : Vec3{std::min(allLo.x, lo.x), std::min(allLo.y, lo.y), std::min(allLo.z, lo.z)};
        allHi = i == 0 ? hi : Vec3{std::max(allHi.x, hi.x), std::max(allHi.y, hi.y), std::max(allHi.z, hi.z)};
        cell = std::max({cell, double(hi.x) - lo.x, double(hi.y) - lo.y, double(hi.z) - lo.z});
    }
    // No cell finer than a millionth of what the fills span, so that cell numbers stay small.
    const Vec3 span = allHi - allLo;
    cell = std::max({cell, 1e-6 * std::max({double(span.x), double(span.y), double(span.z)}), 1e-30});
    const auto cellOf = [cell](float x) {
        constexpr double kFarthest = 4503599627370496.0;  // 2^52: cell numbers stay exact
        return static_cast<std::int64_t>(std::max(-kFarthest, std::min(kFarthest, std::floor(double(x) / cell))));
    };
    const auto keyOf = [](std::int64_t x, std::int64_t y, std::int64_t z) {
        std::uint64_t h = static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ull;
        h = (h ^ (h >> 29) ^ static_cast<std::uint64_t>(y)) * 0xBF58476D1CE4E5B9ull;
        return (h ^ (h >> 31) ^ static_cast<std::uint64_t>(z)) * 0x94D049BB133111EBull;
    };
    std::vector<std::uint64_t> marked;
    for (std::size_t i = 0; i < fill.size(); i += 3) {
        Vec3 lo, hi;
        boxOf(&fill[i], lo, hi);
        for (std::int64_t x = cellOf(lo.x); x <= cellOf(hi.x); ++x)
            for (std::int64_t y = cellOf(lo.y); y <= cellOf(hi.y); ++y)
                for (std::int64_t z = cellOf(lo.z); z <= cellOf(hi.z); ++z)
                    marked.push_back(keyOf(x, y, z));
    }
    std::sort(marked.begin(), marked.end());
    marked.erase(std::unique(marked.begin(), marked.end()), marked.end());
    constexpr std::int64_t kMostCellsLookedUp = 64;
    std::vector<std::uint8_t> near(mesh.TriangleCount(), 0);
    ParallelFor(mesh.TriangleCount(), [&](std::size_t t) {
        Vec3 lo, hi;
        boxOf(&mesh.indices[3 * t], lo, hi);
        if (hi.x < allLo.x || lo.x > allHi.x || hi.y < allLo.y || lo.y > allHi.y || hi.z < allLo.z || lo.z > allHi.z)
            return;
        const std::int64_t xLo = cellOf(lo.x), xHi = cellOf(hi.x), yLo = cellOf(lo.y), yHi = cellOf(hi.y);
        const std::int64_t zLo = cellOf(lo.z), zHi = cellOf(hi.z);
        if ((xHi - xLo + 1) * (yHi - yLo + 1) * (zHi - zLo + 1) > kMostCellsLookedUp) {
            near[t] = 1;
            return;
        }
        for (std::int64_t x = xLo; x <= xHi; ++x)
            for (std::int64_t y = yLo; y <= yHi; ++y)
                for (std::int64_t z = zLo; z <= zHi; ++z)
                    if (std::binary_search(marked.begin(), marked.end(), keyOf(x, y, z))) {
                        near[t] = 1;
                        return;
                    }
    });
    return near;
}

// Fills that would meet the surface, a fill kept before them, or themselves (a fold) anywhere
// but at shared vertices, by the exact contact rules of ChangedTrianglePairsMeetingOrFlat,
// searched among the fills and the triangles near them. Such a fill is not made (its indices
// are cleared), so that no filling adds a crossing or a fold. A fill triangle without area
// (across a slit of no width) meets nothing here: the driver's no-area pass turns it away.
void MarkFillsCrossingTheSurface(const TriangleMesh& mesh, std::vector<HoleFill>& fills)
{
    std::vector<std::uint32_t> fill;   // the candidate fills' triangles, one after another
    std::vector<std::uint32_t> owner;  // the fill of each of them
    for (std::size_t h = 0; h < fills.size(); ++h) {
        if (fills[h].indices.empty() || fills[h].sheet || fills[h].nonManifold)
            continue;
        fill.insert(fill.end(), fills[h].indices.begin(), fills[h].indices.end());
        owner.insert(owner.end(), fills[h].indices.size() / 3, static_cast<std::uint32_t>(h));
    }
    if (owner.empty())
        return;
    // The near triangles, then the fills, over their own vertices.
    const std::vector<std::uint8_t> near = MarkTrianglesNearFills(mesh, fill);
    TriangleMesh local;
    std::vector<std::uint32_t> renumbered(mesh.vertices.size(), kNoEdge);
    const auto add = [&](const std::uint32_t* c) {
        for (int k = 0; k < 3; ++k) {
            if (renumbered[c[k]] == kNoEdge) {
                renumbered[c[k]] = static_cast<std::uint32_t>(local.vertices.size());
                local.vertices.push_back(mesh.vertices[c[k]]);
            }
            local.indices.push_back(renumbered[c[k]]);
        }
    };
    for (std::size_t t = 0; t < near.size(); ++t)
        if (near[t] != 0)
            add(&mesh.indices[3 * t]);
    const std::size_t first = local.TriangleCount();
    for (std::size_t i = 0; i < fill.size(); i += 3)
        add(&fill[i]);
    std::vector<std::uint8_t> changed(local.TriangleCount(), 0);
    std::fill(changed.begin() + static_cast<std::ptrdiff_t>(first), changed.end(), std::uint8_t{1});

    std::vector<std::uint8_t> crossing(fills.size(), 0);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> between;  // (later fill, earlier fill)
    for (const std::array<std::uint32_t, 2>& pair : ChangedTrianglePairsMeetingOrFlat(local, changed)) {
        if (pair[0] == pair[1])
            continue;  // a fill triangle without area
        const std::uint32_t b = owner[pair[1] - first];
        if (pair[0] < first || owner[pair[0] - first] == b)
            crossing[b] = 1;
        else
            between.emplace_back(std::max(owner[pair[0] - first], b), std::min(owner[pair[0] - first], b));
    }
    std::sort(between.begin(), between.end());
    for (std::size_t h = 0, p = 0; h < fills.size(); ++h) {
        for (; p < between.size() && between[p].first == h; ++p)
            crossing[h] = crossing[h] || !fills[between[p].second].crossing;
        if (crossing[h] != 0) {
            fills[h].crossing = true;
            fills[h].indices.clear();
        }
    }
}

// Bodies (by shared vertices) that the fills close: every boundary edge of theirs lies on a
// filled hole. Such a body that then encloses no volume is a sheet, and none of its fills is
// kept.
void MarkFillsClosingSheets(const TriangleMesh& mesh, const std::vector<BoundaryLoop>& loops,
                            const std::vector<std::uint32_t>& outCount, std::vector<HoleFill>& fills)
{
    std::vector<std::uint32_t> parent(mesh.vertices.size());
    std::iota(parent.begin(), parent.end(), 0u);
    const auto root = [&parent](std::uint32_t v) {
        while (parent[v] != v)
            v = parent[v] = parent[parent[v]];
        return v;
    };
    for (std::size_t i = 0; i < mesh.indices.size(); i += 3)
        for (int k = 1; k < 3; ++k)
            parent[root(mesh.indices[i + k])] = root(mesh.indices[i]);
    // Per body: its boundary edges, less those of the holes to be filled.
    std::vector<std::int64_t> openEdges(mesh.vertices.size(), 0);
    for (std::uint32_t v = 0; v < outCount.size(); ++v)
        openEdges[root(v)] += outCount[v];
    for (std::size_t h = 0; h < loops.size(); ++h) {
        fills[h].body = root(loops[h].vertices[0]);
        if (!fills[h].indices.empty() && !fills[h].sheet)
            openEdges[fills[h].body] -= static_cast<std::int64_t>(loops[h].vertices.size());
    }
    // The measure of each closing body, by its root.
    constexpr std::uint32_t kOpen = 0xFFFFFFFFu;
    std::vector<std::uint32_t> closing(mesh.vertices.size(), kOpen);
    std::vector<BodyVolume> volumes;
    for (const HoleFill& fill : fills) {
        if (!fill.indices.empty() && !fill.sheet && openEdges[fill.body] == 0 && closing[fill.body] == kOpen) {
            closing[fill.body] = static_cast<std::uint32_t>(volumes.size());
            volumes.emplace_back();
        }
    }
    if (volumes.empty())
        return;
    const auto add = [&](std::uint32_t body, const std::uint32_t* c) {
        volumes[body].Add(mesh.vertices[c[0]].position, mesh.vertices[c[1]].position, mesh.vertices[c[2]].position);
    };
    for (std::size_t i = 0; i < mesh.indices.size(); i += 3)
        if (const std::uint32_t body = closing[root(mesh.indices[i])]; body != kOpen)
            add(body, &mesh.indices[i]);
    for (const HoleFill& fill : fills)
        for (std::size_t i = 0; closing[fill.body] != kOpen && !fill.sheet && i < fill.indices.size(); i += 3)
            add(closing[fill.body], &fill.indices[i]);
    for (HoleFill& fill : fills)
        fill.sheet = fill.sheet || (closing[fill.body] != kOpen && volumes[closing[fill.body]].IsSheet());
}

// Fills every hole that is small or narrow enough, unless filling would only lay a sheet onto
// itself, make an edge non-manifold or pass through the surface; the filling triangles continue
// the triangle beside their hole in the face map. Every hole left open is counted under its
// reason, with its size.
void FillSmallHoles(TriangleMesh& mesh, const ExportCleanupOptions& options, ExportCleanupReport& report)
{
    const BoundaryTrace trace = TraceBoundary(mesh);
    const std::vector<BoundaryLoop>& loops = trace.loops;
    report.holesLeftOpen += trace.unclosed;
    report.unclosedBoundaries += trace.unclosed;
    std::vector<HoleFill> fills(loops.size());
    bool anyFill = false;
    const std::size_t kept = mesh.indices.size();
    for (std::size_t h = 0; h < loops.size(); ++h) {
        if (loops[h].size <= options.maximumHoleMillimetres || loops[h].width <= options.maximumSlitWidthMillimetres) {
            (void)FillHoleLoop(mesh, loops[h]);
            fills[h].indices.assign(mesh.indices.begin() + static_cast<std::ptrdiff_t>(kept), mesh.indices.end());
            mesh.indices.resize(kept);
            anyFill = anyFill || !fills[h].indices.empty();
        }
    }
    if (anyFill) {
        MarkFillsBreakingManifoldEdges(mesh, trace.edgeKeys, loops, fills);
        MarkFillsClosingSheets(mesh, loops, trace.outCount, fills);
        MarkFillsCrossingTheSurface(mesh, fills);
    }
    for (std::size_t h = 0; h < loops.size(); ++h) {
        const BoundaryLoop& loop = loops[h];
        if (fills[h].sheet) {
            ++report.holesLeftOpen;
            ++report.sheetHolesLeftOpen;
        } else if (fills[h].nonManifold) {
            ++report.holesLeftOpen;
            ++report.nonManifoldHolesLeftOpen;
            report.largestNonManifoldHoleMillimetres = std::max(report.largestNonManifoldHoleMillimetres, loop.size);
        } else if (fills[h].crossing) {
            ++report.holesLeftOpen;
            ++report.crossingHolesLeftOpen;
            report.largestCrossingHoleMillimetres = std::max(report.largestCrossingHoleMillimetres, loop.size);
        } else if (!fills[h].indices.empty()) {
            const std::uint32_t beside = report.faceMap[loop.triangle];
            const std::uint64_t added = fills[h].indices.size() / 3;
            mesh.indices.insert(mesh.indices.end(), fills[h].indices.begin(), fills[h].indices.end());
            report.faceMap.insert(report.faceMap.end(), added, beside);
            ++report.holesFilled;
            report.trianglesAdded += added;
            report.largestFilledHoleMillimetres = std::max(report.largestFilledHoleMillimetres, loop.size);
        } else {
            ++report.holesLeftOpen;
            report.largestOpenHoleMillimetres = std::max(report.largestOpenHoleMillimetres, loop.size);
        }
    }
}

}  // namespace

ExportCleanupReport CleanupForExport(TriangleMesh& mesh, float tolerance, const ExportCleanupOptions& options)
{
    ExportCleanupReport report;
    report.tolerance = tolerance;
    if (mesh.vertices.empty() || !mesh.IsConsistent() || mesh.vertices.size() > 0xFFFFFFFFull ||
        mesh.TriangleCount() > 0xFFFFFFFFull)
        return report;

    ExportCleanupState state;
    state.mesh = &mesh;
    state.tolerance = options.weldCollapsedTriangles ? tolerance : 0.0f;
    state.parent.resize(mesh.vertices.size());
    std::iota(state.parent.begin(), state.parent.end(), 0u);
    // Each piece at its own tolerance (without the weld no tolerance is used at all). The
    // pieces are only sought when some edge is as short as the largest tolerance any could
    // have; otherwise every per-vertex test would fail alike, and the tolerance is only named.
    const bool automatic = tolerance < 0.0f;
    if (automatic) {
        state.tolerance = 0.0f;
        if (options.weldCollapsedTriangles &&
            AnyShortEdge(mesh, CollapseReach{LocalWeldTolerancesBound(mesh), nullptr})) {
            state.tolerances = LocalWeldTolerances(mesh);
            state.tolerance = LargestTolerance(state.tolerances);
        }
    }

    if (CollapseTriangles(state, report)) {
        RebuildThroughRepresentatives(mesh, state, report);
        // The kept vertices keep their tolerances.
        if (!state.tolerances.empty()) {
            std::vector<float> kept(report.vertexMap.size());
            for (std::size_t v = 0; v < kept.size(); ++v)
                kept[v] = state.tolerances[report.vertexMap[v]];
            state.tolerances.swap(kept);
        }
    } else {
        MapOneToOne(mesh, report);
    }
    report.zeroAreaTrianglesLeft = CountCollapsedLeft(mesh, ReachOf(state));
    if (options.fillHoles)
        FillSmallHoles(mesh, options, report);

    if (automatic) {
        report.tolerance = state.tolerance;
        if (options.weldCollapsedTriangles && state.tolerances.empty() && FormatExportCleanupReport(report) != kNothingToCleanUp)
            report.tolerance = LargestTolerance(LocalWeldTolerances(mesh));
    }
    if (report.verticesMerged == 0 && report.collapsedTrianglesDropped == 0 && report.trianglesAdded == 0) {
        report.vertexMap = {};  // one to one: no maps
        report.faceMap = {};
    } else {
        mesh.ComputeVertexNormals();
        mesh.ComputeBounds();
    }
    return report;
}

std::uint64_t RemoveZeroAreaTriangles(TriangleMesh& mesh)
{
    const std::uint64_t repeated = RemoveDegenerateTriangles(mesh, true);
    const std::uint64_t flat = mesh.IsConsistent() ? CountCollapsedLeft(mesh, CollapseReach{}) : 0;
    if (flat == 0)
        return repeated;
    ExportCleanupOptions collapseOnly;
    collapseOnly.weldCollapsedTriangles = false;
    collapseOnly.fillHoles = false;
    (void)CleanupForExport(mesh, 0.0f, collapseOnly);
    (void)RemoveDegenerateTriangles(mesh, false);
    return repeated + flat;
}

std::string FormatExportCleanupReport(const ExportCleanupReport& r)
{
    if (r.verticesMerged == 0 && r.collapsedTrianglesDropped == 0 && r.trianglesAdded == 0 &&
        r.collapsesRefused == 0 && r.zeroAreaTrianglesLeft == 0 && r.holesLeftOpen == 0)
        return kNothingToCleanUp;
    std::string text = "merged " + FormatCountOf(r.verticesMerged, "vertex", "vertices") + " (tolerance " +
                       Scientific2(r.tolerance) + " mm), dropped " +
                       FormatCountOf(r.collapsedTrianglesDropped, "collapsed triangle", "collapsed triangles") + " in " +
                       FormatCountOf(r.passes, "pass", "passes") + "; " +
                       FormatCountOf(r.collapsesRefused, "collapse", "collapses") + " refused by the link condition, " +
                       FormatCountOf(r.zeroAreaTrianglesLeft, "zero-area triangle", "zero-area triangles") + " left";
    if (r.holesFilled > 0)
        text += "; filled " + FormatCountOf(r.holesFilled, "hole", "holes") + " with " +
                FormatCountOf(r.trianglesAdded, "triangle", "triangles") + " (largest " + FormatLength(r.largestFilledHoleMillimetres) + " mm across)";
    if (const std::uint64_t large = LargeHolesLeftOpen(r); large > 0)
        text += "; left " + FormatCountOf(large, "hole", "holes") + " open (largest " +
                FormatLength(r.largestOpenHoleMillimetres) + " mm across; too large to close by guessing)";
    if (r.nonManifoldHolesLeftOpen > 0)
        text += "; left " + FormatCountOf(r.nonManifoldHolesLeftOpen, "hole", "holes") + " open (largest " +
                FormatLength(r.largestNonManifoldHoleMillimetres) +
                " mm across) that a fill would close only by making edges non-manifold";
    if (r.crossingHolesLeftOpen > 0)
        text += "; left " + FormatCountOf(r.crossingHolesLeftOpen, "hole", "holes") + " open (largest " +
                FormatLength(r.largestCrossingHoleMillimetres) +
                " mm across) that a fill would close only by passing through the surface";
    if (r.sheetHolesLeftOpen > 0)
        text += "; left " + FormatCountOf(r.sheetHolesLeftOpen, "hole", "holes") +
                " open round a sheet (closing them would lay it onto itself, enclosing nothing)";
    if (r.unclosedBoundaries > 0)
        text += "; left " + FormatCountOf(r.unclosedBoundaries, "run", "runs") +
                " of open edges closing no loop (no hole there to fill)";
    return text;
}

std::uint64_t LargeHolesLeftOpen(const ExportCleanupReport& report)
{
    const std::uint64_t other = report.sheetHolesLeftOpen + report.nonManifoldHolesLeftOpen +
                                report.crossingHolesLeftOpen + report.unclosedBoundaries;
    return report.holesLeftOpen > other ? report.holesLeftOpen - other : 0;
}

std::vector<BoundaryLoop> FindBoundaryLoops(const TriangleMesh& mesh, std::uint64_t& notSimpleLoops)
{
    BoundaryTrace trace = TraceBoundary(mesh);
    notSimpleLoops += trace.unclosed;
    return std::move(trace.loops);
}

namespace {

// The mesh's open edges (edges of one triangle), each from the vertex its triangle runs it
// from, grouped by that vertex in ascending order (in edge-key order within a vertex).
struct OpenEdges {
    std::vector<std::uint32_t> from, to, triangle;
    std::vector<std::uint32_t> outCount, inCount;  // per vertex
    std::vector<std::uint32_t> outStart;           // per vertex and one more: its first leaving edge
};

OpenEdges CollectOpenEdges(const TriangleMesh& mesh, const std::vector<std::uint64_t>& keys,
                           const std::vector<std::uint32_t>& corners)
{
    OpenEdges found;
    const std::size_t vertexCount = mesh.vertices.size();
    found.outCount.assign(vertexCount, 0);
    found.inCount.assign(vertexCount, 0);
    std::vector<std::uint32_t> open;
    for (std::size_t i = 0; i < keys.size();) {
        std::size_t j = i + 1;
        while (j < keys.size() && keys[j] == keys[i])
            ++j;
        if (j - i == 1)
            open.push_back(corners[i]);
        i = j;
    }
    found.outStart.assign(vertexCount + 1, 0);
    for (const std::uint32_t c : open)
        ++found.outStart[mesh.indices[c] + 1];
    for (std::size_t v = 0; v < vertexCount; ++v)
        found.outStart[v + 1] += found.outStart[v];
    found.from.resize(open.size());
    found.to.resize(open.size());
    found.triangle.resize(open.size());
    std::vector<std::uint32_t> slot(found.outStart.begin(), found.outStart.end() - 1);
    for (const std::uint32_t c : open) {
        const std::uint32_t a = mesh.indices[c];
        const std::uint32_t b = mesh.indices[c - c % 3 + (c % 3 + 1) % 3];
        const std::uint32_t e = slot[a]++;
        found.from[e] = a;
        found.to[e] = b;
        found.triangle[e] = c / 3;
        ++found.outCount[a];
        ++found.inCount[b];
    }
    return found;
}

// The triangles round one vertex v, found by their other corners: each triangle is filed
// under the corner after v and under the corner before it.
class FanAround {
public:
    FanAround(const TriangleMesh& mesh, std::uint32_t v, const std::uint32_t* fan, std::size_t fanSize,
              const OpenEdges& open)
    {
        for (std::size_t f = 0; f < fanSize; ++f) {
            const std::uint32_t* c = &mesh.indices[3 * std::size_t{fan[f]}];
            const int at = c[0] == v ? 0 : c[1] == v ? 1 : 2;
            const std::uint32_t after = c[(at + 1) % 3], before = c[(at + 2) % 3];
            sound_ = sound_ && after != v && before != v;  // a triangle repeating v turns nowhere
            corners_.push_back({after, fan[f], true});
            corners_.push_back({before, fan[f], false});
            afterOf_.emplace_back(fan[f], after);
        }
        std::sort(corners_.begin(), corners_.end());
        std::sort(afterOf_.begin(), afterOf_.end());
        for (std::uint32_t e = open.outStart[v]; e < open.outStart[v + 1]; ++e)
            leaving_.emplace_back(open.to[e], e);
        std::sort(leaving_.begin(), leaving_.end());
    }

    // From the triangle holding an open edge that arrives at v, turns through its fan: from
    // each triangle across its edge from v to the corner after v into the one other triangle on
    // that edge, which must run it the other way, until the edge is open. Returns that open edge
    // leaving v, or kNoEdge where the turning meets an edge of more than two triangles or a
    // turned winding.
    std::uint32_t LeavingEdge(std::uint32_t start) const
    {
        if (!sound_)
            return kNoEdge;
        std::uint32_t current = start;
        for (std::size_t step = 0; step <= corners_.size(); ++step) {
            const std::uint32_t x = std::lower_bound(afterOf_.begin(), afterOf_.end(), std::pair{current, 0u})->second;
            const auto byVertex = [](const Corner& a, const Corner& b) { return a.vertex < b.vertex; };
            const auto [first, last] = std::equal_range(corners_.begin(), corners_.end(), Corner{x, 0, false}, byVertex);
            if (last - first == 1) {
                const auto found = std::lower_bound(leaving_.begin(), leaving_.end(), std::pair{x, 0u});
                return found != leaving_.end() && found->first == x ? found->second : kNoEdge;
            }
            if (last - first != 2)
                return kNoEdge;
            const Corner& other = first->triangle == current ? first[1] : first[0];
            if (other.after)
                return kNoEdge;  // both run the edge from v to x
            current = other.triangle;
        }
        return kNoEdge;
    }

private:
    struct Corner {
        std::uint32_t vertex = 0;
        std::uint32_t triangle = 0;
        bool after = false;  // vertex is the corner after v (else before it)
        bool operator<(const Corner& o) const
        {
            return std::tie(vertex, triangle, after) < std::tie(o.vertex, o.triangle, o.after);
        }
    };

    std::vector<Corner> corners_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> afterOf_;  // (triangle, corner after v)
    std::vector<std::pair<std::uint32_t, std::uint32_t>> leaving_;  // (end vertex, open edge)
    bool sound_ = true;
};

// The fans at v in counterclockwise order round the normal the fan's triangles sum to, by the
// direction of each fan's arriving edge; in arriving-edge order when there is no such normal.
// Any order pairs two fans alike, so two are not measured.
std::vector<std::uint32_t> FansCounterclockwise(const TriangleMesh& mesh, std::uint32_t v,
                                                const std::vector<std::uint32_t>& arriving,
                                                const std::uint32_t* fan, std::size_t fanSize,
                                                const OpenEdges& open)
{
    std::vector<std::uint32_t> order(arriving.size());
    std::iota(order.begin(), order.end(), 0u);
    if (arriving.size() < 3)
        return order;
    double n[3] = {0.0, 0.0, 0.0};
    for (std::size_t f = 0; f < fanSize; ++f) {
        const std::uint32_t* c = &mesh.indices[3 * std::size_t{fan[f]}];
        const Vec3 a = mesh.vertices[c[0]].position;
        const Vec3 b = mesh.vertices[c[1]].position;
        const Vec3 d = mesh.vertices[c[2]].position;
        const double u[3] = {double(b.x) - a.x, double(b.y) - a.y, double(b.z) - a.z};
        const double w[3] = {double(d.x) - a.x, double(d.y) - a.y, double(d.z) - a.z};
        n[0] += u[1] * w[2] - u[2] * w[1];
        n[1] += u[2] * w[0] - u[0] * w[2];
        n[2] += u[0] * w[1] - u[1] * w[0];
    }
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (!(length > 0.0) || !std::isfinite(length))
        return order;
    for (double& x : n)
        x /= length;
    // Axes of the plane: the first from a reference axis not near the normal.
    const double r[3] = {std::fabs(n[0]) >= 0.9 ? 0.0 : 1.0, std::fabs(n[0]) >= 0.9 ? 1.0 : 0.0, 0.0};
    double e1[3] = {r[1] * n[2] - r[2] * n[1], r[2] * n[0] - r[0] * n[2], r[0] * n[1] - r[1] * n[0]};
    const double e1Length = std::sqrt(e1[0] * e1[0] + e1[1] * e1[1] + e1[2] * e1[2]);
    for (double& x : e1)
        x /= e1Length;
    const double e2[3] = {n[1] * e1[2] - n[2] * e1[1], n[2] * e1[0] - n[0] * e1[2], n[0] * e1[1] - n[1] * e1[0]};
    const Vec3 p = mesh.vertices[v].position;
    std::vector<double> angle(arriving.size());
    for (std::size_t i = 0; i < arriving.size(); ++i) {
        const Vec3 q = mesh.vertices[open.from[arriving[i]]].position;
        const double d[3] = {double(q.x) - p.x, double(q.y) - p.y, double(q.z) - p.z};
        angle[i] = std::atan2(d[0] * e2[0] + d[1] * e2[1] + d[2] * e2[2], d[0] * e1[0] + d[1] * e1[1] + d[2] * e1[2]);
    }
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return angle[a] < angle[b]; });
    return order;
}

// Pairs the open edges arriving at v with those leaving it (FindBoundaryLoops says the rule).
void PairEdgesAtVertex(const TriangleMesh& mesh, std::uint32_t v, const std::vector<std::uint32_t>& arriving,
                       const std::uint32_t* fan, std::size_t fanSize, const OpenEdges& open,
                       std::vector<std::uint32_t>& next)
{
    const std::size_t leavingCount = open.outStart[v + 1] - open.outStart[v];
    if (arriving.size() == leavingCount) {
        const FanAround around(mesh, v, fan, fanSize, open);
        std::vector<std::uint32_t> ends(arriving.size());
        for (std::size_t i = 0; i < arriving.size(); ++i)
            ends[i] = around.LeavingEdge(open.triangle[arriving[i]]);
        std::vector<std::uint32_t> distinct = ends;
        std::sort(distinct.begin(), distinct.end());
        if (distinct.back() != kNoEdge && std::adjacent_find(distinct.begin(), distinct.end()) == distinct.end()) {
            const std::vector<std::uint32_t> order = FansCounterclockwise(mesh, v, arriving, fan, fanSize, open);
            for (std::size_t j = 0; j < order.size(); ++j)
                next[arriving[order[j]]] = ends[order[(j + 1) % order.size()]];
            return;
        }
    }
    for (std::size_t i = 0; i < arriving.size() && i < leavingCount; ++i)
        next[arriving[i]] = static_cast<std::uint32_t>(open.outStart[v] + i);
}

// For each open edge, the open edge its boundary goes on into (kNoEdge where none leaves).
std::vector<std::uint32_t> PairOpenEdges(const TriangleMesh& mesh, const OpenEdges& open)
{
    std::vector<std::uint32_t> next(open.from.size(), kNoEdge);
    const auto pairedByFans = [&open](std::uint32_t v) {
        return open.inCount[v] != 0 && open.outCount[v] != 0 && open.inCount[v] + open.outCount[v] > 2;
    };
    // (vertex, arriving edge) at the vertices paired by their fans, in edge order.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> arrivals;
    for (std::uint32_t e = 0; e < open.from.size(); ++e) {
        const std::uint32_t b = open.to[e];
        if (pairedByFans(b))
            arrivals.emplace_back(b, e);
        else if (open.outCount[b] == 1)
            next[e] = open.outStart[b];
    }
    if (arrivals.empty())
        return next;
    std::sort(arrivals.begin(), arrivals.end());
    // (vertex, triangle) round the same vertices, in triangle order.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> round;
    for (std::size_t c = 0; c < mesh.indices.size(); ++c)
        if (pairedByFans(mesh.indices[c]))
            round.emplace_back(mesh.indices[c], static_cast<std::uint32_t>(c / 3));
    std::sort(round.begin(), round.end());
    std::vector<std::uint32_t> arriving, fan;
    for (std::size_t i = 0, f = 0; i < arrivals.size();) {
        const std::uint32_t v = arrivals[i].first;
        arriving.clear();
        for (; i < arrivals.size() && arrivals[i].first == v; ++i)
            arriving.push_back(arrivals[i].second);
        fan.clear();
        for (; f < round.size() && round[f].first <= v; ++f)
            if (round[f].first == v)
                fan.push_back(round[f].second);
        PairEdgesAtVertex(mesh, v, arriving, fan.data(), fan.size(), open, next);
    }
    return next;
}

// Size (the diagonal of the box of its vertices) and width (2 x |vector area| / perimeter).
void MeasureLoop(const TriangleMesh& mesh, BoundaryLoop& loop)
{
    const std::vector<std::uint32_t>& walk = loop.vertices;
    Vec3 lo = mesh.vertices[walk[0]].position, hi = lo;
    const Vec3 origin = lo;
    double ax = 0.0, ay = 0.0, az = 0.0, perimeter = 0.0;
    for (std::size_t i = 0; i < walk.size(); ++i) {
        const Vec3 p = mesh.vertices[walk[i]].position;
        const Vec3 q = mesh.vertices[walk[(i + 1) % walk.size()]].position;
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
        const double px = p.x - origin.x, py = p.y - origin.y, pz = p.z - origin.z;
        const double qx = q.x - origin.x, qy = q.y - origin.y, qz = q.z - origin.z;
        ax += py * qz - pz * qy;
        ay += pz * qx - px * qz;
        az += px * qy - py * qx;
        const double dx = static_cast<double>(q.x) - p.x, dy = static_cast<double>(q.y) - p.y,
                     dz = static_cast<double>(q.z) - p.z;
        perimeter += std::sqrt(dx * dx + dy * dy + dz * dz);
    }
    const Vec3 diagonal = hi - lo;
    loop.size = std::sqrt(Dot(diagonal, diagonal));
    const double area = 0.5 * std::sqrt(ax * ax + ay * ay + az * az);
    loop.width = perimeter > 0.0 ? static_cast<float>(2.0 * area / perimeter) : 0.0f;
}

// Follows the pairing from edge to edge. A boundary that comes back to a vertex it passed
// closes a simple loop there, which is cut off and measured; what is left of a run that ends
// where no edge goes on closes no loop. Runs with such an end are walked first, from their
// start; then the closed boundaries, each from its lowest vertex.
void WalkLoops(const TriangleMesh& mesh, const OpenEdges& open, const std::vector<std::uint32_t>& next,
               BoundaryTrace& trace)
{
    const std::size_t edgeCount = open.from.size();
    std::vector<std::uint8_t> hasPrevious(edgeCount, 0), used(edgeCount, 0);
    for (const std::uint32_t e : next)
        if (e != kNoEdge)
            hasPrevious[e] = 1;
    std::vector<std::uint32_t> position(mesh.vertices.size(), kNoEdge);  // on the current path
    std::vector<std::uint32_t> path;                                      // edges
    const auto closeAt = [&](std::uint32_t vertex) {
        const std::uint32_t at = position[vertex];
        if (at == kNoEdge)
            return;
        BoundaryLoop loop;
        loop.triangle = open.triangle[path[at]];
        for (std::size_t i = at; i < path.size(); ++i) {
            loop.vertices.push_back(open.from[path[i]]);
            position[open.from[path[i]]] = kNoEdge;
        }
        path.resize(at);
        if (loop.vertices.size() < 3) {
            ++trace.unclosed;
            return;
        }
        MeasureLoop(mesh, loop);
        trace.loops.push_back(std::move(loop));
    };
    const auto walk = [&](std::uint32_t e) {
        while (e != kNoEdge && !used[e]) {
            used[e] = 1;
            closeAt(open.from[e]);
            position[open.from[e]] = static_cast<std::uint32_t>(path.size());
            path.push_back(e);
            e = next[e];
        }
        if (!path.empty())
            closeAt(open.to[path.back()]);
        if (!path.empty()) {
            ++trace.unclosed;
            for (const std::uint32_t p : path)
                position[open.from[p]] = kNoEdge;
            path.clear();
        }
    };
    for (std::uint32_t e = 0; e < edgeCount; ++e)
        if (!hasPrevious[e] && !used[e])
            walk(e);
    for (std::uint32_t e = 0; e < edgeCount; ++e)
        if (!used[e])
            walk(e);
}

BoundaryTrace TraceBoundary(const TriangleMesh& mesh)
{
    BoundaryTrace trace;
    if (!mesh.IsConsistent() || mesh.indices.size() > 0xFFFFFFFFull)
        return trace;
    const std::size_t cornerCount = mesh.indices.size();
    std::vector<std::uint64_t>& keys = trace.edgeKeys;
    keys.resize(cornerCount);
    std::vector<std::uint32_t> corners(cornerCount);
    ParallelFor(cornerCount, [&](std::size_t c) {
        keys[c] = EdgeKey(mesh.indices[c], mesh.indices[c - c % 3 + (c % 3 + 1) % 3]);
        corners[c] = static_cast<std::uint32_t>(c);
    });
    RadixSortEdges(keys, corners);
    const OpenEdges open = CollectOpenEdges(mesh, keys, corners);
    trace.outCount = open.outCount;
    WalkLoops(mesh, open, PairOpenEdges(mesh, open), trace);
    return trace;
}

std::uint64_t FillLoopAvoiding(TriangleMesh& mesh, const BoundaryLoop& loop, const EdgeTest* avoid)
{
    const std::size_t n = loop.vertices.size();
    if (n < 3 || n > 0xFFFFFFFFull || mesh.indices.size() % 3 != 0)
        return 0;
    for (const std::uint32_t v : loop.vertices) {
        if (v >= mesh.vertices.size())
            return 0;
    }
    std::vector<std::uint32_t> ring(loop.vertices.rbegin(), loop.vertices.rend());

    double nx = 0.0, ny = 0.0, nz = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const Vec3 a = mesh.vertices[ring[i]].position;
        const Vec3 b = mesh.vertices[ring[(i + 1) % n]].position;
        nx += (static_cast<double>(a.z) + b.z) * (static_cast<double>(a.y) - b.y);
        ny += (static_cast<double>(a.x) + b.x) * (static_cast<double>(a.z) - b.z);
        nz += (static_cast<double>(a.x) - b.x) * (static_cast<double>(a.y) + b.y);
    }
    Vec3 normal{static_cast<float>(nx), static_cast<float>(ny), static_cast<float>(nz)};
    if (std::sqrt(nx * nx + ny * ny + nz * nz) <= 1e-12) {
        normal = mesh.FaceNormal(loop.triangle);
        if (normal == Vec3{})
            normal = {0.0f, 0.0f, 1.0f};
    }
    normal = Normalized(normal);
    const Vec3 reference = std::fabs(normal.x) >= 0.9f ? Vec3{0.0f, 1.0f, 0.0f} : Vec3{1.0f, 0.0f, 0.0f};
    const Vec3 u = Normalized(Cross(reference, normal));
    const Vec3 v = Cross(normal, u);

    std::vector<Point2> points(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Vec3 p = mesh.vertices[ring[i]].position;
        points[i] = {static_cast<double>(p.x) * u.x + static_cast<double>(p.y) * u.y + static_cast<double>(p.z) * u.z,
                     static_cast<double>(p.x) * v.x + static_cast<double>(p.y) * v.y + static_cast<double>(p.z) * v.z};
    }
    double shoelace = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const Point2 a = points[i], b = points[(i + 1) % n];
        shoelace += a.x * b.y - b.x * a.y;
    }
    if (shoelace < 0.0) {
        for (Point2& p : points)
            p.x = -p.x;
    }

    const std::size_t before = mesh.indices.size();
    mesh.indices.reserve(before + 3 * (n - 2));
    EarClipper clipper(std::move(points));
    const bool tiled = clipper.Run(
        [&](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
            mesh.indices.insert(mesh.indices.end(), {ring[a], ring[b], ring[c]});
        },
        [&](std::uint32_t a, std::uint32_t c) { return avoid == nullptr || !(*avoid)(ring[a], ring[c]); });
    if (!tiled) {
        mesh.indices.resize(before);
        return 0;
    }
    return n - 2;
}

}  // namespace

std::uint64_t FillHoleLoop(TriangleMesh& mesh, const BoundaryLoop& loop)
{
    return FillLoopAvoiding(mesh, loop, nullptr);
}

}  // namespace grainforge::mesh
