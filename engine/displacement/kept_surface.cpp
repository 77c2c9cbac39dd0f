#include "engine/displacement/kept_surface.h"

#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/self_intersection.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <tuple>

namespace grainforge::mesh {

namespace {

using D3 = std::array<double, 3>;
using CellKey = std::array<std::int64_t, 3>;

D3 Wide(Vec3 v) { return {v.x, v.y, v.z}; }
Vec3 Narrow(const D3& v) { return {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])}; }
D3 Sub(const D3& a, const D3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double Dot3(const D3& a, const D3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
D3 Cross3(const D3& a, const D3& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// A corner of a part is where three creases meet, or two that bend by more than this (cosine
// of the angle between their directions away from it, which is -1 on a straight crease).
constexpr double kCornerBendCosine = -0.8660254;
// Faces folded back onto each other (a sliver's two sides) make no crease.
constexpr double kFoldedCosine = -0.99;
// Cell boxes are grown by this share of a cell, so a feature on a cell's face counts in both.
constexpr double kBoxSlack = 1e-6;
// Steps, per cell, of the walk that lists a crease in the cells it passes. A pass through the
// corner of a cell shorter than a step may be missed: its vertex then goes onto the nearest
// point of the part instead.
constexpr double kWalkStepsPerCell = 8.0;

struct Crease {
    D3 a, b;
    std::uint32_t faces[2] = {0, 0};
};

struct Corner {
    D3 at;
    std::uint32_t vertex = 0;
};

struct Features {
    std::vector<Crease> creases;
    std::vector<Corner> corners;
    std::map<CellKey, std::vector<std::uint32_t>> creasesByCell;
    std::map<CellKey, std::vector<std::uint32_t>> cornersByCell;
};

D3 UnitNormal(const TriangleMesh& mesh, std::uint32_t t)
{
    const D3 a = Wide(mesh.vertices[mesh.indices[3 * std::size_t{t}]].position);
    const D3 b = Wide(mesh.vertices[mesh.indices[3 * std::size_t{t} + 1]].position);
    const D3 c = Wide(mesh.vertices[mesh.indices[3 * std::size_t{t} + 2]].position);
    const D3 n = Cross3(Sub(b, a), Sub(c, a));
    const double length = std::sqrt(Dot3(n, n));
    if (!(length > 0.0) || !std::isfinite(length))
        return {0.0, 0.0, 0.0};
    return {n[0] / length, n[1] / length, n[2] / length};
}

CellKey CellOf(const KeptSurfaceInput& in, const D3& p)
{
    return {static_cast<std::int64_t>(std::floor((p[0] - in.originX) / in.cell)),
        static_cast<std::int64_t>(std::floor((p[1] - in.originY) / in.cell)),
        static_cast<std::int64_t>(std::floor((p[2] - in.originZ) / in.cell))};
}

void CellBox(const KeptSurfaceInput& in, const CellKey& key, D3& low, D3& high)
{
    const double slack = kBoxSlack * in.cell;
    const double origin[3] = {in.originX, in.originY, in.originZ};
    for (int k = 0; k < 3; ++k) {
        low[k] = origin[k] + static_cast<double>(key[k]) * in.cell - slack;
        high[k] = origin[k] + static_cast<double>(key[k] + 1) * in.cell + slack;
    }
}

// The creases between two faces along edges of exactly two triangles, and the corners where
// they meet, each listed in the cells it passes (a corner in those round it too; the exact
// test comes at the vertex). Without masks only creases between plain faces are listed.
Features FindFeatures(const KeptSurfaceInput& in, const std::vector<std::uint8_t>* plain)
{
    const TriangleMesh& part = *in.part;
    Features found;
    const std::vector<EdgeRecord> records = BuildEdgeTable(part);
    std::vector<std::uint32_t> creaseCount(part.vertices.size(), 0);
    std::vector<D3> firstDirection(part.vertices.size(), D3{0.0, 0.0, 0.0});
    std::vector<std::uint8_t> bent(part.vertices.size(), 0);
    for (std::size_t i = 0; i < records.size();) {
        std::size_t next = i + 1;
        while (next < records.size() && records[next].key == records[i].key)
            ++next;
        if (next - i == 2) {
            const std::uint32_t t0 = records[i].triangle;
            const std::uint32_t t1 = records[i + 1].triangle;
            const D3 n0 = UnitNormal(part, t0);
            const D3 n1 = UnitNormal(part, t1);
            const double cosine = Dot3(n0, n1);
            if (Dot3(n0, n0) > 0.0 && Dot3(n1, n1) > 0.0 && cosine < kKeptCreaseCosine && cosine > kFoldedCosine) {
                const auto va = static_cast<std::uint32_t>(records[i].key >> 32);
                const auto vb = static_cast<std::uint32_t>(records[i].key);
                Crease crease;
                crease.a = Wide(part.vertices[va].position);
                crease.b = Wide(part.vertices[vb].position);
                crease.faces[0] = t0;
                crease.faces[1] = t1;
                for (const auto& [v, from, to] : {std::tuple{va, crease.a, crease.b}, std::tuple{vb, crease.b, crease.a}}) {
                    D3 direction = Sub(to, from);
                    const double length = std::sqrt(Dot3(direction, direction));
                    if (length > 0.0)
                        direction = {direction[0] / length, direction[1] / length, direction[2] / length};
                    if (++creaseCount[v] == 1)
                        firstDirection[v] = direction;
                    else if (Dot3(firstDirection[v], direction) > kCornerBendCosine)
                        bent[v] = 1;
                }
                const bool plainCrease = plain != nullptr && (*plain)[t0] != 0 && (*plain)[t1] != 0;
                if (plainCrease || !in.masks.empty())
                    found.creases.push_back(crease);
            }
        }
        i = next;
    }
    const auto listIn = [&](std::map<CellKey, std::vector<std::uint32_t>>& byCell, const D3& p, std::uint32_t id) {
        std::vector<std::uint32_t>& list = byCell[CellOf(in, p)];
        if (list.empty() || list.back() != id)
            list.push_back(id);
    };
    const auto listAround = [&](std::map<CellKey, std::vector<std::uint32_t>>& byCell, const D3& p, std::uint32_t id) {
        const CellKey at = CellOf(in, p);
        for (std::int64_t dz = -1; dz <= 1; ++dz)
            for (std::int64_t dy = -1; dy <= 1; ++dy)
                for (std::int64_t dx = -1; dx <= 1; ++dx) {
                    std::vector<std::uint32_t>& list = byCell[{at[0] + dx, at[1] + dy, at[2] + dz}];
                    if (list.empty() || list.back() != id)
                        list.push_back(id);
                }
    };
    for (std::uint32_t v = 0; v < part.vertices.size(); ++v)
        if (creaseCount[v] >= 3 || bent[v] != 0) {
            found.corners.push_back({Wide(part.vertices[v].position), v});
            listAround(found.cornersByCell, found.corners.back().at, static_cast<std::uint32_t>(found.corners.size() - 1));
        }
    for (std::uint32_t c = 0; c < found.creases.size(); ++c) {
        const Crease& crease = found.creases[c];
        const D3 along = Sub(crease.b, crease.a);
        const double length = std::sqrt(Dot3(along, along));
        const double steps = std::min(std::ceil(length / in.cell * kWalkStepsPerCell), 1e6);
        for (double s = 0.0; s <= steps; s += 1.0) {
            const double f = steps > 0.0 ? s / steps : 0.0;
            listIn(found.creasesByCell, {crease.a[0] + along[0] * f, crease.a[1] + along[1] * f,
                crease.a[2] + along[2] * f}, c);
        }
    }
    for (auto* byCell : {&found.creasesByCell, &found.cornersByCell})
        for (auto& [key, list] : *byCell) {
            std::sort(list.begin(), list.end());
            list.erase(std::unique(list.begin(), list.end()), list.end());
        }
    return found;
}

bool Inside(const D3& p, const D3& low, const D3& high)
{
    return p[0] >= low[0] && p[0] <= high[0] && p[1] >= low[1] && p[1] <= high[1] && p[2] >= low[2] && p[2] <= high[2];
}

// The nearest point to `p` of the part of segment a-b inside the box; false when it misses it.
bool NearestOnClippedSegment(const D3& a, const D3& b, const D3& low, const D3& high, const D3& p, D3& point)
{
    double t0 = 0.0;
    double t1 = 1.0;
    const D3 d = Sub(b, a);
    for (int k = 0; k < 3; ++k) {
        if (d[k] == 0.0) {
            if (a[k] < low[k] || a[k] > high[k])
                return false;
            continue;
        }
        double enter = (low[k] - a[k]) / d[k];
        double leave = (high[k] - a[k]) / d[k];
        if (enter > leave)
            std::swap(enter, leave);
        t0 = std::max(t0, enter);
        t1 = std::min(t1, leave);
        if (t0 > t1)
            return false;
    }
    const double dd = Dot3(d, d);
    const double t = dd > 0.0 ? std::clamp(Dot3(Sub(p, a), d) / dd, t0, t1) : t0;
    point = {a[0] + d[0] * t, a[1] + d[1] * t, a[2] + d[2] * t};
    return true;
}

double Distance2(const D3& a, const D3& b)
{
    const D3 d = Sub(a, b);
    return Dot3(d, d);
}

class Keeper {
public:
    Keeper(const KeptSurfaceInput& in) : in_(in) {}

    bool PlainFace(std::uint32_t t) const { return plain_ != nullptr && (*plain_)[t] != 0; }

    // Farther than `inset` inside an enabled mask (the relief beside a mask steps down at its
    // edge, and the contour's vertices near it are the step's).
    bool Masked(const D3& p, double inset) const
    {
        const Vec3 at = Narrow(p);
        for (const MaskVolume& mask : in_.masks)
            if (mask.enabled != 0 && static_cast<double>(MaskSignedDistance(mask, at)) <= -inset)
                return true;
        return false;
    }

    // No face that takes relief lies within `reach` of the point.
    bool AwayFromTheRelief(Vec3 p, double reach) const
    {
        if (plain_ == nullptr)
            return false;
        const auto plainFace = [&](std::uint32_t t) { return (*plain_)[t] != 0; };
        return !in_.tree->Nearest(*in_.part, p, {}, plainFace, static_cast<float>(reach)).found;
    }

    // The point vertex p goes to, or false when it stays.
    bool Target(const Features& features, const Vec3 p, Vec3& target) const
    {
        const float reach = static_cast<float>(std::sqrt(3.0) * in_.cell);
        const NearestHit hit = in_.tree->Nearest(*in_.part, p, {}, {}, reach);
        if (!hit.found || hit.triangle < 0)
            return false;
        const D3 at = Wide(p);
        // The vertex lies over kept surface when the relief is farther from it, by a cell, than
        // that surface: a vertex of the relief's own rim beside it (where a plain face's plane
        // cuts the relief) lies as near to both.
        const double clear = static_cast<double>(hit.distance) + in_.cell;
        if (!Masked(Wide(hit.point), clear)
            && !(PlainFace(static_cast<std::uint32_t>(hit.triangle)) && AwayFromTheRelief(p, clear)))
            return false;
        const CellKey key = CellOf(in_, at);
        D3 low;
        D3 high;
        CellBox(in_, key, low, high);
        double best = std::numeric_limits<double>::infinity();
        D3 chosen{};
        if (const auto found = features.cornersByCell.find(key); found != features.cornersByCell.end())
            for (const std::uint32_t c : found->second) {
                const Corner& corner = features.corners[c];
                if (Inside(corner.at, low, high) && KeptCorner(corner, clear) && Distance2(corner.at, at) < best) {
                    best = Distance2(corner.at, at);
                    chosen = corner.at;
                }
            }
        if (best == std::numeric_limits<double>::infinity())
            if (const auto found = features.creasesByCell.find(key); found != features.creasesByCell.end())
                for (const std::uint32_t c : found->second) {
                    const Crease& crease = features.creases[c];
                    D3 point;
                    if (NearestOnClippedSegment(crease.a, crease.b, low, high, at, point)
                        && ((PlainFace(crease.faces[0]) && PlainFace(crease.faces[1])) || Masked(point, clear))
                        && Distance2(point, at) < best) {
                        best = Distance2(point, at);
                        chosen = point;
                    }
                }
        if (best < std::numeric_limits<double>::infinity()) {
            target = Narrow(chosen);
            return true;
        }
        if (!(static_cast<double>(hit.distance) <= kKeptSnapCells * in_.cell))
            return false;
        target = hit.point;
        return true;
    }

    void SetPlain(const std::vector<std::uint8_t>* plain) { plain_ = plain; }
    void SetAdjacency(const VertexAdjacency* adjacency) { adjacency_ = adjacency; }

private:
    // Every face round the corner is plain, or the masks cover it.
    bool KeptCorner(const Corner& corner, double clear) const
    {
        if (Masked(corner.at, clear))
            return true;
        if (plain_ == nullptr || adjacency_ == nullptr)
            return false;
        for (std::uint32_t i = adjacency_->triangleOffsets[corner.vertex];
             i < adjacency_->triangleOffsets[corner.vertex + 1]; ++i)
            if ((*plain_)[adjacency_->triangles[i]] == 0)
                return false;
        return true;
    }

    const KeptSurfaceInput& in_;
    const std::vector<std::uint8_t>* plain_ = nullptr;
    const VertexAdjacency* adjacency_ = nullptr;
};

D3 TriangleNormal(const D3& a, const D3& b, const D3& c) { return Cross3(Sub(b, a), Sub(c, a)); }

// Turns the edges whose two triangles cut across a crease of the part to the diagonal along
// it: a few passes, each turning edges of triangles no other turn of the pass touched.
struct TurnedEdge {
    std::uint32_t triangles[2];
    std::array<std::uint32_t, 6> before;  // both triangles' corners before the turn
};

void TurnEdgesAlongCreases(TriangleMesh& result, const KeptSurfaceInput& in, const std::vector<std::uint8_t>& moved,
    std::vector<TurnedEdge>& turns)
{
    constexpr int kPasses = 3;
    // A midpoint this near the part lies on it; the rounding of the coordinates, a few times.
    double largest = 0.0;
    for (const MeshVertex& v : result.vertices)
        largest = std::max({largest, std::fabs(double{v.position.x}), std::fabs(double{v.position.y}),
            std::fabs(double{v.position.z})});
    const double onPart = 16.0 * largest * std::numeric_limits<float>::epsilon();
    const auto offPart = [&](Vec3 p) {
        const NearestHit hit = in.tree->Nearest(*in.part, p, {}, {}, static_cast<float>(in.cell));
        return hit.found ? static_cast<double>(hit.distance) : in.cell;
    };
    for (int pass = 0; pass < kPasses; ++pass) {
        const std::vector<EdgeRecord> records = BuildEdgeTable(result);
        std::vector<std::uint8_t> touched(result.TriangleCount(), 0);
        std::uint64_t turnedNow = 0;
        const auto hasEdge = [&](std::uint32_t a, std::uint32_t b) {
            const EdgeKey key = MakeEdgeKey(a, b);
            const auto at = std::lower_bound(records.begin(), records.end(), key,
                [](const EdgeRecord& r, EdgeKey k) { return r.key < k; });
            return at != records.end() && at->key == key;
        };
        for (std::size_t i = 0; i + 1 < records.size(); ++i) {
            if (records[i].key != records[i + 1].key || (i + 2 < records.size() && records[i + 2].key == records[i].key)
                || (i > 0 && records[i - 1].key == records[i].key))
                continue;
            const std::uint32_t t0 = records[i].triangle;
            const std::uint32_t t1 = records[i + 1].triangle;
            if (touched[t0] != 0 || touched[t1] != 0)
                continue;
            const auto a = static_cast<std::uint32_t>(records[i].key >> 32);
            const auto b = static_cast<std::uint32_t>(records[i].key);
            // Each triangle's corner across the edge, and the order it runs a-b in.
            const auto opposite = [&](std::uint32_t t, std::uint32_t& o, bool& forward) {
                const std::uint32_t* c = &result.indices[3 * std::size_t{t}];
                for (int k = 0; k < 3; ++k)
                    if (c[k] != a && c[k] != b) {
                        o = c[k];
                        forward = c[(k + 1) % 3] == a;
                    }
            };
            std::uint32_t c = 0;
            std::uint32_t d = 0;
            bool forward0 = false;
            bool forward1 = false;
            opposite(t0, c, forward0);
            opposite(t1, d, forward1);
            if (c == d || forward0 == forward1 || moved[a] == 0 || moved[b] == 0 || moved[c] == 0 || moved[d] == 0)
                continue;
            const Vec3 pa = result.vertices[a].position;
            const Vec3 pb = result.vertices[b].position;
            const Vec3 pc = result.vertices[c].position;
            const Vec3 pd = result.vertices[d].position;
            if (offPart((pa + pb) * 0.5f) <= onPart || offPart((pc + pd) * 0.5f) > onPart || hasEdge(c, d))
                continue;
            // Triangle t0 runs a -> b -> c when forward0, t1 then b -> a -> d.
            const std::uint32_t first = forward0 ? a : b;
            const std::uint32_t second = forward0 ? b : a;
            const D3 w1 = Wide(result.vertices[first].position);
            const D3 w2 = Wide(result.vertices[second].position);
            const D3 wc = Wide(pc);
            const D3 wd = Wide(pd);
            const D3 n0Before = TriangleNormal(w1, w2, wc);
            const D3 n1Before = TriangleNormal(w2, w1, wd);
            const D3 before{n0Before[0] + n1Before[0], n0Before[1] + n1Before[1], n0Before[2] + n1Before[2]};
            // New: first -> d -> c and d -> second -> c.
            const D3 n0 = TriangleNormal(w1, wd, wc);
            const D3 n1 = TriangleNormal(wd, w2, wc);
            if (!(Dot3(n0, before) > 0.0) || !(Dot3(n1, before) > 0.0))
                continue;
            std::uint32_t* x = &result.indices[3 * std::size_t{t0}];
            std::uint32_t* y = &result.indices[3 * std::size_t{t1}];
            turns.push_back({{t0, t1}, {x[0], x[1], x[2], y[0], y[1], y[2]}});
            x[0] = first;
            x[1] = d;
            x[2] = c;
            y[0] = d;
            y[1] = second;
            y[2] = c;
            touched[t0] = touched[t1] = 1;
            ++turnedNow;
        }
        if (turnedNow == 0)
            break;
    }
}

// The triangles round the flagged vertices.
std::vector<std::uint8_t> TrianglesAt(const TriangleMesh& mesh, const std::vector<std::uint8_t>& flagged)
{
    std::vector<std::uint8_t> focus(mesh.TriangleCount(), 0);
    for (std::size_t t = 0; t < focus.size(); ++t)
        for (int k = 0; k < 3; ++k)
            focus[t] |= flagged[mesh.indices[3 * t + static_cast<std::size_t>(k)]];
    return focus;
}

// Unit normals of every triangle, with the positions `at`; zero for one without area.
std::vector<D3> UnitNormals(const TriangleMesh& mesh, const std::vector<Vec3>& at)
{
    std::vector<D3> normals(mesh.TriangleCount());
    ParallelFor(normals.size(), [&](std::size_t t) {
        const D3 a = Wide(at[mesh.indices[3 * t]]);
        const D3 b = Wide(at[mesh.indices[3 * t + 1]]);
        const D3 c = Wide(at[mesh.indices[3 * t + 2]]);
        const D3 n = Cross3(Sub(b, a), Sub(c, a));
        const double length = std::sqrt(Dot3(n, n));
        normals[t] = length > 0.0 && std::isfinite(length) ? D3{n[0] / length, n[1] / length, n[2] / length}
                                                           : D3{0.0, 0.0, 0.0};
    });
    return normals;
}

bool HasArea(const D3& n) { return Dot3(n, n) > 0.0; }

// Without area in the float coordinates the mesh is written in, as its check counts it.
bool NoArea(const TriangleMesh& mesh, std::size_t t) { return mesh.FaceNormal(t) == Vec3{}; }

// Folded as the published mesh's check counts it: both with area, normals over 120 degrees apart.
bool FoldedPair(const D3& a, const D3& b) { return HasArea(a) && HasArea(b) && Dot3(a, b) < -0.5; }

// The triangles the moves spoiled: one that lost its area (also to the float coordinates) or
// turned over, and both of an edge
// folded now that was not before.
std::vector<std::uint8_t> SpoiledTriangles(const TriangleMesh& mesh, const std::vector<Vec3>& before,
    const std::vector<std::uint8_t>& focus)
{
    std::vector<Vec3> now(mesh.vertices.size());
    for (std::size_t v = 0; v < now.size(); ++v)
        now[v] = mesh.vertices[v].position;
    const std::vector<D3> was = UnitNormals(mesh, before);
    const std::vector<D3> is = UnitNormals(mesh, now);
    std::vector<std::uint8_t> spoiled(mesh.TriangleCount(), 0);
    for (std::size_t t = 0; t < spoiled.size(); ++t)
        if (focus[t] != 0 && HasArea(was[t]) && (!HasArea(is[t]) || Dot3(was[t], is[t]) <= 0.0 || NoArea(mesh, t)))
            spoiled[t] = 1;
    const std::vector<EdgeRecord> records = BuildEdgeTable(mesh);
    for (std::size_t i = 0; i + 1 < records.size(); ++i) {
        const std::uint32_t t0 = records[i].triangle;
        const std::uint32_t t1 = records[i + 1].triangle;
        if (records[i].key == records[i + 1].key && (focus[t0] != 0 || focus[t1] != 0)
            && FoldedPair(is[t0], is[t1]) && !FoldedPair(was[t0], was[t1]))
            spoiled[t0] = spoiled[t1] = 1;
    }
    return spoiled;
}

// Puts back every moved vertex of a triangle the moves turned over or folded against its
// neighbour, until none is (a few rounds; then every vertex goes back).
void PutBackWhereTheyFold(TriangleMesh& result, const std::vector<Vec3>& before, std::vector<std::uint8_t>& moved)
{
    constexpr int kRounds = 4;
    for (int round = 0; round <= kRounds; ++round) {
        const std::vector<std::uint8_t> spoiled = SpoiledTriangles(result, before, TrianglesAt(result, moved));
        if (std::none_of(spoiled.begin(), spoiled.end(), [](std::uint8_t c) { return c != 0; }))
            return;
        const bool all = round == kRounds;
        for (std::size_t t = 0; t < spoiled.size(); ++t)
            for (int k = 0; k < 3 && (all || spoiled[t] != 0); ++k) {
                const std::uint32_t v = result.indices[3 * t + static_cast<std::size_t>(k)];
                result.vertices[v].position = before[v];
                moved[v] = 0;
            }
        if (all)
            return;
    }
}

// The pairs of crossing triangles among those flagged; false when the search gave up.
bool CrossingTriangles(const TriangleMesh& mesh, const std::vector<std::uint8_t>& focus,
    std::vector<std::uint8_t>& crossing)
{
    std::vector<std::uint32_t> pairs;
    bool stopped = false;
    FindSelfIntersections(mesh, focus, kSearchPairLimit, pairs, stopped);
    crossing.assign(mesh.TriangleCount(), 0);
    for (const std::uint32_t t : pairs)
        crossing[t] = 1;
    return !stopped;
}

// Puts back every moved vertex of a triangle that crosses another, until none does (a few
// rounds; then, or when a search gives up, every vertex goes back).
void PutBackWhereTheyCross(TriangleMesh& result, const std::vector<Vec3>& before, std::vector<std::uint8_t>& moved)
{
    constexpr int kRounds = 4;
    for (int round = 0; round <= kRounds; ++round) {
        std::vector<std::uint8_t> crossing;
        const bool searched = CrossingTriangles(result, TrianglesAt(result, moved), crossing);
        if (searched && std::none_of(crossing.begin(), crossing.end(), [](std::uint8_t c) { return c != 0; }))
            return;
        const bool all = !searched || round == kRounds;
        for (std::size_t t = 0; t < crossing.size(); ++t)
            for (int k = 0; k < 3 && (all || crossing[t] != 0); ++k) {
                const std::uint32_t v = result.indices[3 * t + static_cast<std::size_t>(k)];
                result.vertices[v].position = before[v];
                moved[v] = 0;
            }
        if (all)
            return;
    }
}

// Undoes the turns whose triangles cross another, fold against a neighbour or have no area (all of them
// when the search gives up);
// returns how many stay.
std::uint64_t UndoTurnsThatCross(TriangleMesh& result, const std::vector<TurnedEdge>& turns)
{
    if (turns.empty())
        return 0;
    std::vector<std::uint8_t> focus(result.TriangleCount(), 0);
    for (const TurnedEdge& turn : turns)
        focus[turn.triangles[0]] = focus[turn.triangles[1]] = 1;
    std::vector<std::uint8_t> crossing;
    const bool searched = CrossingTriangles(result, focus, crossing);
    {
        std::vector<Vec3> at(result.vertices.size());
        for (std::size_t v = 0; v < at.size(); ++v)
            at[v] = result.vertices[v].position;
        const std::vector<D3> normals = UnitNormals(result, at);
        const std::vector<EdgeRecord> records = BuildEdgeTable(result);
        for (std::size_t i = 0; i + 1 < records.size(); ++i) {
            const std::uint32_t t0 = records[i].triangle;
            const std::uint32_t t1 = records[i + 1].triangle;
            if (records[i].key == records[i + 1].key && (focus[t0] != 0 || focus[t1] != 0)
                && FoldedPair(normals[t0], normals[t1]))
                crossing[t0] = crossing[t1] = 1;
        }
        for (std::size_t t = 0; t < focus.size(); ++t)
            if (focus[t] != 0 && NoArea(result, t))
                crossing[t] = 1;
    }
    // Later turns first, so that a triangle turned twice gets its first corners back last.
    std::uint64_t kept = turns.size();
    for (auto turn = turns.rbegin(); turn != turns.rend(); ++turn)
        if (!searched || crossing[turn->triangles[0]] != 0 || crossing[turn->triangles[1]] != 0) {
            --kept;
            std::copy(turn->before.begin(), turn->before.begin() + 3, result.indices.begin() + 3 * std::ptrdiff_t{turn->triangles[0]});
            std::copy(turn->before.begin() + 3, turn->before.end(), result.indices.begin() + 3 * std::ptrdiff_t{turn->triangles[1]});
        }
    return kept;
}

}  // namespace

KeptSurfaceReport KeepSurfaceWithoutRelief(TriangleMesh& result, const KeptSurfaceInput& input)
{
    KeptSurfaceReport report;
    const std::vector<std::uint8_t>* plain = input.plainFaces;
    if (input.part != nullptr && plain != nullptr && plain->size() != input.part->TriangleCount())
        plain = nullptr;
    if ((plain == nullptr && input.masks.empty()) || input.part == nullptr || input.tree == nullptr
        || !(input.cell > 0.0) || !std::isfinite(input.cell) || !result.IsConsistent() || !input.part->IsConsistent())
        return report;
    const Features features = FindFeatures(input, plain);
    const VertexAdjacency adjacency = BuildVertexAdjacency(*input.part);
    Keeper keeper(input);
    keeper.SetPlain(plain);
    keeper.SetAdjacency(&adjacency);
    std::vector<Vec3> targets(result.vertices.size());
    std::vector<std::uint8_t> moved(result.vertices.size(), 0);
    ParallelFor(result.vertices.size(), [&](std::size_t v) {
        moved[v] = keeper.Target(features, result.vertices[v].position, targets[v]) ? 1 : 0;
    });
    if (std::none_of(moved.begin(), moved.end(), [](std::uint8_t m) { return m != 0; }))
        return report;
    std::vector<Vec3> before(result.vertices.size());
    for (std::size_t v = 0; v < result.vertices.size(); ++v) {
        before[v] = result.vertices[v].position;
        if (moved[v] != 0)
            result.vertices[v].position = targets[v];
    }
    // A vertex put on a crease may pass one the contour placed beside it: the folds and
    // crossings the moves made are searched where they were made, and their vertices go back.
    PutBackWhereTheyFold(result, before, moved);
    PutBackWhereTheyCross(result, before, moved);
    report.verticesKept = static_cast<std::uint64_t>(std::count(moved.begin(), moved.end(), std::uint8_t{1}));
    std::vector<TurnedEdge> turns;
    TurnEdgesAlongCreases(result, input, moved, turns);
    report.edgesTurned = UndoTurnsThatCross(result, turns);
    return report;
}

}  // namespace grainforge::mesh
