#include "engine/remesh/isotropic_remesh.h"

#include "engine/mesh/parallel_loop.h"
#include "platform/memory_info.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <utility>

namespace grainforge::mesh {

namespace {

// Triangles the topology can hold: three corners each must stay countable in the 32-bit
// offsets of the face lists (and a tree numbers its hits in signed 32 bits).
constexpr std::uint64_t kMaxTopologyTriangles = 1'000'000'000ull;

// Split passes per round. Every pass halves each long edge, so 40 passes shorten an edge 2^40
// (about 10^12) times, beyond any part over the finest target (a 100 m part is 10^9 targets of
// 0.0001 mm); the cap only bounds a pass that would never end.
constexpr int kMaxSplitPasses = 40;

// A collapse may turn a face it moves by up to some 78 degrees (acos 0.2) against the face
// just before: enough to coarsen curved parts, too little to fold the surface in one step.
constexpr float kCollapseTurnCosine = 0.2f;

// A flip may turn either new face by at most 60 degrees (acos 0.5) against the face whose slot
// it takes: the edge lies on a smooth stretch, so the pair should stay nearly flat.
constexpr float kFlipTurnCosine = 0.5f;

// No collapse or flip may leave a face turned past a right angle against the input triangle it
// descends from: turns that add up over many edits are caught there, each of which the checks
// against the face just before would let through.
constexpr float kReferenceCosine = 0.0f;

// A relaxation step may turn a face by at most some 45 degrees: tangential moves on a smooth
// surface turn faces far less; a larger turn is a face folding over or a thin one spinning.
constexpr float kRelaxTurnCosine = 0.7f;

// A collapse or flip may not make a face whose smallest corner is below half of what the faces
// it replaces had, unless the new corner is still a fair one (over 20 degrees, sine 0.342).
// Measured on UV spheres of radius 20 (24 to 160 bands, 64 to 316 segments) after 3 rounds at
// their mean edge: without the test on flips those of 24 bands and 200 or more segments kept
// corners of 1 to 1.5 degrees, without it on collapses some kept corners under half a degree;
// with both, none is under 15.
constexpr float kWorseShapeShare = 0.5f;
constexpr float kFairCornerSine = 0.342f;

// No collapse, flip or relaxation may make two neighbouring faces meet in a wedge sharper than
// 60 degrees (normals more than 120 degrees apart) unless they met so before: such a wedge on a
// smooth stretch is the surface folding, as coarse targets do to small parts.
constexpr float kFoldCosine = -0.5f;

// A collapse may not leave a closed piece with less than this share of the volume it had at
// the start of the pass, and never with none: the share only absorbs rounding.
constexpr double kVolumeFloorShare = 1e-6;

// The bounded nearest search reaches a quarter edge: relaxed vertices move along the tangent
// plane by less than an edge, which leaves them much nearer than that to any surface not far
// more curved than the edge; a miss only costs the unbounded search.
constexpr float kLikelyReachPerEdge = 0.25f;

// The nearest point of `original` without a distance limit. Most points lie within `likely`
// of the surface, and a search bounded by that reach visits far fewer nodes; since the bound
// only drops nodes farther than it, a hit within it is the very hit of the unbounded search
// (same distance, same triangle), and a miss falls back to the unbounded search.
NearestHit NearestOnOriginal(const AabbTree& tree, const TriangleMesh& original, Vec3 p, float likely)
{
    if (likely > 0.0f && likely < kNoDistanceLimit) {
        const NearestHit hit = tree.Nearest(original, p, {}, {}, likely);
        if (hit.found)
            return hit;
    }
    return tree.Nearest(original, p, {}, {}, kNoDistanceLimit);
}

std::uint32_t LowerEnd(EdgeKey key) { return static_cast<std::uint32_t>(key >> 32); }
std::uint32_t UpperEnd(EdgeKey key) { return static_cast<std::uint32_t>(key); }

struct FaceShape {
    Vec3 unitNormal;           // zero when degenerate
    float crossLength = 0.0f;  // length of the unnormalised cross product: twice the area
    float smallestSine = 0.0f;  // sine of the smallest corner, 0 when degenerate
};

FaceShape ShapeOf(Vec3 p0, Vec3 p1, Vec3 p2)
{
    const Vec3 cross = Cross(p1 - p0, p2 - p0);
    const float crossLength = Length(cross);
    // The smallest corner lies between the two longer sides: sine = cross / their product,
    // the product taken as the root of the two squared lengths.
    const float a = Dot(p1 - p0, p1 - p0);
    const float b = Dot(p2 - p1, p2 - p1);
    const float c = Dot(p0 - p2, p0 - p2);
    const float product = std::sqrt(std::max({a * b, b * c, c * a}));
    // As Normalized: the same length, the same threshold.
    const Vec3 unit = crossLength > 1e-12f ? cross * (1.0f / crossLength) : Vec3{};
    return {unit, crossLength, product > 0.0f ? crossLength / product : 0.0f};
}

FaceShape ShapeOfFace(const RemeshTopology& topology, std::uint32_t face)
{
    const auto& c = topology.triangles[face];
    return ShapeOf(topology.positions[c[0]], topology.positions[c[1]], topology.positions[c[2]]);
}

// True when `after` is degenerate or turned past `cosine` against `before`; a degenerate
// `before` has no direction to keep.
bool TurnsTooFar(Vec3 before, Vec3 after, float cosine)
{
    return !IsZero(before) && (IsZero(after) || Dot(before, after) < cosine);
}

// A new smallest corner far below the old one and not fair in itself.
bool IsMuchWorse(float newSine, float oldSine)
{
    return newSine < kWorseShapeShare * oldSine && newSine < kFairCornerSine;
}

// A neighbouring pair of faces now facing nearly opposite ways, and more so than before: a fold.
bool FoldsOver(float dotBefore, float dotAfter)
{
    return dotAfter < kFoldCosine && dotAfter < dotBefore;
}

// An alive face on side (u, v) for which `skip(face)` is false; kNoFace when there is none (a
// border).
template <class Skip>
std::uint32_t FindFaceAcross(const RemeshTopology& topology, std::uint32_t u, std::uint32_t v, Skip&& skip)
{
    std::uint32_t found = kNoFace;
    topology.ForEachListedFace(u, [&](std::uint32_t f) {
        if (found == kNoFace && topology.triangleAlive[f] && topology.FaceContains(f, u)
            && topology.FaceContains(f, v) && !skip(f))
            found = f;
    });
    return found;
}

// ---- Splitting ----

// Edges longer than the split length, whatever their number of faces. An edge of three or
// more faces is split too, in all of them: one left whole would keep each triangle beside it
// long, and every pass would cut that triangle's other sides again into slivers.
std::vector<std::uint8_t> MarkLongEdges(const RemeshTopology& topology,
    const std::vector<TopologyEdge>& edges, float splitLength)
{
    std::vector<std::uint8_t> longEdge(edges.size(), 0);
    ParallelFor(edges.size(), [&](std::size_t e) {
        const Vec3 a = topology.positions[LowerEnd(edges[e].key)];
        const Vec3 b = topology.positions[UpperEnd(edges[e].key)];
        longEdge[e] = Length(b - a) > splitLength;
    });
    return longEdge;
}

struct SplitCount {
    std::uint64_t splits = 0;  // new vertices
    std::uint64_t pieces = 0;  // new triangles: one for each face of each split edge
};

SplitCount CountSplits(const std::vector<TopologyEdge>& edges, const std::vector<std::uint8_t>& longEdge)
{
    SplitCount count;
    for (std::size_t e = 0; e < edges.size(); ++e) {
        if (!longEdge[e])
            continue;
        ++count.splits;
        count.pieces += (edges[e].secondFace == kNoFace ? 1 : 2) + edges[e].extraFaces;
    }
    return count;
}

std::uint64_t CountAliveTriangles(const RemeshTopology& topology)
{
    std::uint64_t alive = 0;
    for (std::uint8_t a : topology.triangleAlive)
        alive += a;
    return alive;
}

// Records `midpoint` for the sides of `face` that run along `key`.
void MarkCutSide(const RemeshTopology& topology, std::uint32_t face, EdgeKey key, std::uint32_t midpoint,
    std::vector<std::uint32_t>& midpoints)
{
    const auto& c = topology.triangles[face];
    for (int i = 0; i < 3; ++i) {
        if (MakeEdgeKey(c[i], c[(i + 1) % 3]) == key)
            midpoints[3 * std::size_t{face} + i] = midpoint;
    }
}

// The edge records name only two faces of an edge of more; every face of such an edge is found
// by a scan of the triangles, run only when one of them is split. `cuts` is in key order.
void MarkNonManifoldCuts(const RemeshTopology& topology,
    const std::vector<std::pair<EdgeKey, std::uint32_t>>& cuts, std::vector<std::uint32_t>& midpoints)
{
    ParallelFor(topology.triangles.size(), [&](std::size_t t) {
        if (!topology.triangleAlive[t])
            return;
        const auto& c = topology.triangles[t];
        for (int i = 0; i < 3; ++i) {
            const EdgeKey key = MakeEdgeKey(c[i], c[(i + 1) % 3]);
            const auto it = std::lower_bound(cuts.begin(), cuts.end(), key,
                [](const std::pair<EdgeKey, std::uint32_t>& cut, EdgeKey k) { return cut.first < k; });
            if (it != cuts.end() && it->first == key)
                midpoints[3 * t + i] = it->second;
        }
    });
}

// A new vertex at the middle of every long edge; gives, for the side from corner i to corner
// i + 1 of triangle t, midpoints[3 t + i]: its new vertex, or kNoVertex where it stays whole.
std::vector<std::uint32_t> AddMidpoints(RemeshTopology& topology, const std::vector<TopologyEdge>& edges,
    const std::vector<std::uint8_t>& longEdge)
{
    std::vector<std::uint32_t> midpoints(3 * topology.triangles.size(), kNoVertex);
    std::vector<std::pair<EdgeKey, std::uint32_t>> nonManifold;
    for (std::size_t e = 0; e < edges.size(); ++e) {
        if (!longEdge[e])
            continue;
        const TopologyEdge& edge = edges[e];
        const Vec3 a = topology.positions[LowerEnd(edge.key)];
        const Vec3 b = topology.positions[UpperEnd(edge.key)];
        const std::uint32_t m = topology.AddVertex((a + b) * 0.5f);
        if (edge.extraFaces > 0) {
            nonManifold.emplace_back(edge.key, m);
            continue;
        }
        MarkCutSide(topology, edge.firstFace, edge.key, m, midpoints);
        if (edge.secondFace != kNoFace)
            MarkCutSide(topology, edge.secondFace, edge.key, m, midpoints);
    }
    if (!nonManifold.empty())
        MarkNonManifoldCuts(topology, nonManifold, midpoints);
    return midpoints;
}

// Of the two diagonals that can cut the quad beside two split sides, (mi, ck) or (ci, mj): true
// for the first. The shorter one, and on a tie the one of the smaller key, so that a face and
// its copy wound the other way (a face two parts share) are cut alike.
bool CutsThroughFirstMidpoint(const std::vector<Vec3>& pos, std::uint32_t ci, std::uint32_t ck,
    std::uint32_t mi, std::uint32_t mj)
{
    const float first = Length(pos[mi] - pos[ck]);
    const float second = Length(pos[ci] - pos[mj]);
    if (first < second)
        return true;
    if (first > second)
        return false;
    return MakeEdgeKey(mi, ck) < MakeEdgeKey(ci, mj);
}

// The pieces of triangle `c` with the split sides `m` (kNoVertex where whole), appended to
// `out` in the corners' winding; gives their number.
int AppendPieces(const std::array<std::uint32_t, 3>& c, const std::uint32_t* m, const std::vector<Vec3>& pos,
    std::vector<std::array<std::uint32_t, 3>>& out)
{
    const int count = (m[0] != kNoVertex) + (m[1] != kNoVertex) + (m[2] != kNoVertex);
    if (count == 0) {
        out.push_back(c);
    } else if (count == 1) {
        const int i = m[0] != kNoVertex ? 0 : (m[1] != kNoVertex ? 1 : 2);
        out.push_back({c[i], m[i], c[(i + 2) % 3]});
        out.push_back({m[i], c[(i + 1) % 3], c[(i + 2) % 3]});
    } else if (count == 3) {
        out.push_back({c[0], m[0], m[2]});
        out.push_back({m[0], c[1], m[1]});
        out.push_back({m[2], m[1], c[2]});
        out.push_back({m[0], m[1], m[2]});
    } else {
        // i: the first of the two split sides that follow each other (0 and 2 give 2).
        const int i = m[0] == kNoVertex ? 1 : (m[1] == kNoVertex ? 2 : 0);
        const int j = (i + 1) % 3;
        const int k = (i + 2) % 3;
        out.push_back({m[i], c[j], m[j]});
        if (CutsThroughFirstMidpoint(pos, c[i], c[k], m[i], m[j])) {
            out.push_back({c[i], m[i], c[k]});
            out.push_back({m[i], m[j], c[k]});
        } else {
            out.push_back({c[i], m[i], m[j]});
            out.push_back({c[i], m[j], c[k]});
        }
    }
    return count + 1;
}

// Every alive triangle replaced by its pieces (dead ones dropped); each piece takes its
// triangle's reference normal when those are kept.
void CutTriangles(RemeshTopology& topology, const std::vector<std::uint32_t>& midpoints,
    std::uint64_t expected, std::vector<Vec3>* referenceNormals)
{
    std::vector<std::array<std::uint32_t, 3>> result;
    result.reserve(expected);
    std::vector<Vec3> references;
    if (referenceNormals)
        references.reserve(expected);
    for (std::size_t t = 0; t < topology.triangles.size(); ++t) {
        if (!topology.triangleAlive[t])
            continue;
        const int pieces = AppendPieces(topology.triangles[t], &midpoints[3 * t], topology.positions, result);
        if (referenceNormals)
            references.insert(references.end(), static_cast<std::size_t>(pieces), (*referenceNormals)[t]);
    }
    topology.triangles = std::move(result);
    topology.triangleAlive.assign(topology.triangles.size(), 1);
    if (referenceNormals)
        *referenceNormals = std::move(references);
}

// ---- Collapsing ----

// The closed pieces of the surface and their volumes, kept up to date through a collapse pass:
// the checks on single faces cannot see a small closed piece turn inside out or flat as a
// whole (a cube's last collapses can leave a tetrahedron inside out with no face turned more
// than 50 degrees), its volume can.
struct PieceVolumes {
    std::vector<std::uint32_t> pieceOf;  // per vertex
    std::vector<double> volume;          // per piece, mm3
    std::vector<double> floor;           // per piece: the least volume a collapse may leave
    std::vector<std::uint8_t> closed;    // per piece: no border edge
};

std::uint32_t FindRoot(std::vector<std::uint32_t>& parent, std::uint32_t v)
{
    while (parent[v] != v) {
        parent[v] = parent[parent[v]];
        v = parent[v];
    }
    return v;
}

// Pieces by union-find over the alive triangles; a piece is closed unless one of its edges
// has a single face. Volumes are summed in triangle order, so they do not depend on threads.
PieceVolumes MeasurePieceVolumes(const RemeshTopology& topology, const std::vector<TopologyEdge>& edges)
{
    PieceVolumes pieces;
    std::vector<std::uint32_t>& parent = pieces.pieceOf;
    parent.resize(topology.positions.size());
    for (std::size_t v = 0; v < parent.size(); ++v)
        parent[v] = static_cast<std::uint32_t>(v);
    for (std::size_t t = 0; t < topology.triangles.size(); ++t) {
        if (!topology.triangleAlive[t])
            continue;
        const auto& c = topology.triangles[t];
        for (int i = 1; i < 3; ++i)
            parent[FindRoot(parent, c[i])] = FindRoot(parent, c[0]);
    }
    for (std::size_t v = 0; v < parent.size(); ++v)
        parent[v] = FindRoot(parent, static_cast<std::uint32_t>(v));
    pieces.volume.assign(parent.size(), 0.0);
    pieces.closed.assign(parent.size(), 1);
    for (const TopologyEdge& edge : edges) {
        if (edge.secondFace == kNoFace)
            pieces.closed[parent[LowerEnd(edge.key)]] = 0;
    }
    for (std::size_t t = 0; t < topology.triangles.size(); ++t) {
        if (!topology.triangleAlive[t])
            continue;
        const auto& c = topology.triangles[t];
        // About the piece's root, one of its corners: about the origin a piece far out keeps no
        // digit of its volume.
        const std::uint32_t piece = parent[c[0]];
        pieces.volume[piece] += TetrahedronVolume6(topology.positions[c[0]], topology.positions[c[1]],
                                    topology.positions[c[2]], topology.positions[piece]) / 6.0;
    }
    pieces.floor.resize(parent.size());
    for (std::size_t p = 0; p < parent.size(); ++p)
        pieces.floor[p] = std::max(0.0, kVolumeFloorShare * pieces.volume[p]);
    return pieces;
}

struct CollapseChoice {
    std::uint32_t keep = kNoVertex;  // kNoVertex: the edge may not collapse
    std::uint32_t remove = kNoVertex;
    Vec3 target;
};

// One face round a collapse that outlives it: its corners after (remove renamed keep), its unit
// normal before and, once a target is tried, its shape after.
struct FanFace {
    std::uint32_t face = kNoFace;
    std::uint32_t end = kNoVertex;  // the end of the edge it held before
    std::array<std::uint32_t, 3> corners{};
    Vec3 normalBefore;
    FaceShape after;
};

// What one collapse pass reads and keeps: the unit normal of every face, kept current as
// collapses move faces (each is needed again and again, by the sharpness of the edges tried and
// by the fold checks), the pieces' volumes and lists it reuses.
struct CollapseState {
    std::vector<Vec3> normals;
    PieceVolumes pieces;
    std::vector<std::uint32_t> edgeFaces;
    std::vector<std::uint32_t> ringKeep;
    std::vector<std::uint32_t> ringRemove;
    std::vector<std::uint32_t> common;
    std::vector<std::uint32_t> touched;  // alive faces of either end, sorted
    std::vector<FanFace> fan;            // the touched faces that outlive the collapse
    std::vector<std::pair<std::uint32_t, std::uint32_t>> spokes;  // (corner, fan face), sorted
};

std::vector<Vec3> ComputeFaceNormals(const RemeshTopology& topology)
{
    std::vector<Vec3> normals(topology.triangles.size());
    ParallelFor(normals.size(), [&](std::size_t t) {
        if (topology.triangleAlive[t])
            normals[t] = TopologyFaceNormal(topology, static_cast<std::uint32_t>(t));
    });
    return normals;
}

// Which end of a short, smooth edge of two faces stays, and where it goes first: a feature
// vertex never moves, so the other end comes to it; two plain ends meet halfway.
CollapseChoice ChooseCollapse(const RemeshTopology& topology, EdgeKey key, const RemeshThresholds& thresholds,
    const std::vector<std::uint8_t>& flags, CollapseState& state)
{
    const std::uint32_t a = LowerEnd(key);
    const std::uint32_t b = UpperEnd(key);
    const auto& pos = topology.positions;
    if (!topology.vertexAlive[a] || !topology.vertexAlive[b] || (flags[a] && flags[b]))
        return {};
    if (!(Length(pos[b] - pos[a]) < thresholds.collapseLength))
        return {};
    GatherEdgeFaces(topology, a, b, state.edgeFaces);
    if (state.edgeFaces.size() != 2)
        return {};
    // As EdgeIsSharp, from the kept normals.
    const Vec3 n0 = state.normals[state.edgeFaces[0]];
    const Vec3 n1 = state.normals[state.edgeFaces[1]];
    if (!IsZero(n0) && !IsZero(n1) && Dot(n0, n1) < thresholds.featureCosine)
        return {};
    if (flags[b])
        return {b, a, pos[b]};
    if (flags[a])
        return {a, b, pos[a]};
    return {a, b, (pos[a] + pos[b]) * 0.5f};
}

// An alive face of `a` that also holds b and c.
bool HasFace(const RemeshTopology& topology, std::uint32_t a, std::uint32_t b, std::uint32_t c)
{
    bool found = false;
    topology.ForEachListedFace(a, [&](std::uint32_t f) {
        found = found
            || (topology.triangleAlive[f] && topology.FaceContains(f, a) && topology.FaceContains(f, b)
                && topology.FaceContains(f, c));
    });
    return found;
}

// The link condition of a collapse along an edge of two faces: the only vertices next to both
// ends are the far corners c and d of those faces, and faces (keep, c, d) and (remove, c, d) do
// not both exist. They do on a tetrahedron, which the collapse would flatten into two faces
// back to back: so no closed piece is left with fewer than four faces. Leaves both rings in
// `state`.
bool MeetsLinkCondition(const RemeshTopology& topology, const CollapseChoice& choice, CollapseState& state)
{
    GatherOneRing(topology, choice.keep, state.ringKeep);
    GatherOneRing(topology, choice.remove, state.ringRemove);
    state.common.clear();
    std::set_intersection(state.ringKeep.begin(), state.ringKeep.end(), state.ringRemove.begin(),
        state.ringRemove.end(), std::back_inserter(state.common));
    if (state.common.size() != state.edgeFaces.size())
        return false;
    const std::uint32_t c = state.common[0];
    const std::uint32_t d = state.common[1];
    return !(HasFace(topology, choice.keep, c, d) && HasFace(topology, choice.remove, c, d));
}

// Every new edge, from the target to the rings of both ends, within the split length (the
// other sides of the moved faces keep their lengths). Squared lengths: this refuses most
// collapses.
bool NewEdgesStayShort(const RemeshTopology& topology, const CollapseChoice& choice, const CollapseState& state,
    float splitLength)
{
    const float limit = splitLength * splitLength;
    for (const auto* ring : {&state.ringKeep, &state.ringRemove}) {
        for (const std::uint32_t n : *ring) {
            const Vec3 d = topology.positions[n] - choice.target;
            if (n != choice.keep && n != choice.remove && Dot(d, d) > limit)
                return false;
        }
    }
    return true;
}

// The faces of either end, and of those the ones that outlive the collapse; the same for every
// target.
void GatherCollapseFan(const RemeshTopology& topology, const CollapseChoice& choice, CollapseState& state)
{
    state.touched.clear();
    for (const std::uint32_t end : {choice.keep, choice.remove}) {
        topology.ForEachListedFace(end, [&](std::uint32_t f) {
            if (topology.triangleAlive[f] && topology.FaceContains(f, end))
                state.touched.push_back(f);
        });
    }
    std::sort(state.touched.begin(), state.touched.end());
    state.touched.erase(std::unique(state.touched.begin(), state.touched.end()), state.touched.end());
    state.fan.clear();
    for (const std::uint32_t f : state.touched) {
        if (topology.FaceContains(f, choice.keep) && topology.FaceContains(f, choice.remove))
            continue;  // dies with the edge
        const std::uint32_t end = topology.FaceContains(f, choice.keep) ? choice.keep : choice.remove;
        FanFace fan{f, end, topology.triangles[f], state.normals[f], {}};
        for (std::uint32_t& c : fan.corners) {
            if (c == choice.remove)
                c = choice.keep;
        }
        state.fan.push_back(fan);
    }
}

// One face with the merged vertex at `target`: not turned much against itself nor over against
// the input triangle it descends from, not newly below the area floor, not a far worse shape
// (the shape before is only needed when the one after is small or thin).
bool MovedFaceStaysSound(const RemeshTopology& topology, FanFace& fan, const CollapseChoice& choice,
    const RemeshThresholds& thresholds, Vec3 reference)
{
    const auto at = [&](std::uint32_t v) { return v == choice.keep ? choice.target : topology.positions[v]; };
    fan.after = ShapeOf(at(fan.corners[0]), at(fan.corners[1]), at(fan.corners[2]));
    if (TurnsTooFar(fan.normalBefore, fan.after.unitNormal, kCollapseTurnCosine)
        || TurnsTooFar(reference, fan.after.unitNormal, kReferenceCosine))
        return false;
    if (fan.after.crossLength >= thresholds.areaFloor && fan.after.smallestSine >= kFairCornerSine)
        return true;
    const FaceShape before = ShapeOfFace(topology, fan.face);
    if (fan.after.crossLength < thresholds.areaFloor && fan.after.crossLength < before.crossLength)
        return false;
    return !IsMuchWorse(fan.after.smallestSine, before.smallestSine);
}

// The corner of a fan face after the merged vertex (k = 1) or before it (k = 2).
std::uint32_t CornerBeside(const FanFace& face, std::uint32_t merged, int k)
{
    const int at = face.corners[0] == merged ? 0 : (face.corners[1] == merged ? 1 : 2);
    return face.corners[(at + k) % 3];
}

// No two fan faces that share a side (merged vertex, x) come to face nearly opposite ways
// unless they did so before. Faces that held different ends of the edge were no neighbours
// before, so any fold between them counts. The faces of a side are found by sorting the
// corners beside the merged vertex: a vertex of high valence costs no square of its faces.
bool SpokesMakeNoFold(const CollapseChoice& choice, CollapseState& state)
{
    auto& spokes = state.spokes;
    spokes.clear();
    for (std::uint32_t i = 0; i < state.fan.size(); ++i) {
        spokes.emplace_back(CornerBeside(state.fan[i], choice.keep, 1), i);
        spokes.emplace_back(CornerBeside(state.fan[i], choice.keep, 2), i);
    }
    std::sort(spokes.begin(), spokes.end());
    for (std::size_t i = 0; i < spokes.size(); ++i) {
        for (std::size_t j = i + 1; j < spokes.size() && spokes[j].first == spokes[i].first; ++j) {
            const FanFace& f = state.fan[spokes[i].second];
            const FanFace& g = state.fan[spokes[j].second];
            const float before = f.end == g.end ? Dot(f.normalBefore, g.normalBefore) : 1.0f;
            if (FoldsOver(before, Dot(f.after.unitNormal, g.after.unitNormal)))
                return false;
        }
    }
    return true;
}

// No fan face comes to face the face beyond its rim (the side away from the merged vertex)
// nearly opposite ways unless it did so before.
bool RimsMakeNoFold(const RemeshTopology& topology, const CollapseChoice& choice, const CollapseState& state)
{
    const auto inFan = [&](std::uint32_t f) {
        return topology.FaceContains(f, choice.keep) || topology.FaceContains(f, choice.remove);
    };
    for (const FanFace& face : state.fan) {
        const std::uint32_t rim =
            FindFaceAcross(topology, CornerBeside(face, choice.keep, 1), CornerBeside(face, choice.keep, 2), inFan);
        if (rim == kNoFace)
            continue;
        const Vec3 across = state.normals[rim];
        if (FoldsOver(Dot(face.normalBefore, across), Dot(face.after.unitNormal, across)))
            return false;
    }
    return true;
}

// The volume a collapse adds to its piece, when closed. Measured from the target, every face
// the collapse moves ends with no share (the target is one of its corners) and every face it
// leaves keeps its share, so the change is minus the share of the `touched` faces before.
double CollapseVolumeChange(const RemeshTopology& topology, const CollapseChoice& choice,
    const std::vector<std::uint32_t>& touched)
{
    double share = 0.0;
    for (const std::uint32_t f : touched) {
        const auto& c = topology.triangles[f];
        const Vec3 p0 = topology.positions[c[0]] - choice.target;
        const Vec3 p1 = topology.positions[c[1]] - choice.target;
        const Vec3 p2 = topology.positions[c[2]] - choice.target;
        share += static_cast<double>(Dot(p0, Cross(p1, p2))) / 6.0;
    }
    return -share;
}

// On a closed piece of positive volume the collapse leaves it above its floor; `change` is
// what to add when it is made (0 on any other piece).
bool CollapseKeepsVolume(const RemeshTopology& topology, const CollapseChoice& choice,
    const PieceVolumes& pieces, const std::vector<std::uint32_t>& touched, double& change)
{
    change = 0.0;
    const std::uint32_t piece = pieces.pieceOf[choice.keep];
    if (!pieces.closed[piece] || !(pieces.volume[piece] > 0.0))
        return true;
    change = CollapseVolumeChange(topology, choice, touched);
    return pieces.volume[piece] + change > pieces.floor[piece];
}

// The checks of a collapse to `choice.target` that need the fan (gathered by the caller),
// cheapest first; `change` as CollapseKeepsVolume gives it.
bool FanStaysSound(const RemeshTopology& topology, const CollapseChoice& choice,
    const RemeshThresholds& thresholds, const std::vector<Vec3>& referenceNormals, CollapseState& state,
    double& change)
{
    for (FanFace& face : state.fan) {
        if (!MovedFaceStaysSound(topology, face, choice, thresholds, referenceNormals[face.face]))
            return false;
    }
    // Folds, which single-face checks let through when two neighbours both turn.
    return SpokesMakeNoFold(choice, state) && RimsMakeNoFold(topology, choice, state)
        && CollapseKeepsVolume(topology, choice, state.pieces, state.touched, change);
}

// The collapse, with the kept normals of the faces it moves (those of the last target tried).
void ApplyCollapse(RemeshTopology& topology, const CollapseChoice& choice, CollapseState& state)
{
    topology.positions[choice.keep] = choice.target;
    topology.ForEachListedFace(choice.remove, [&](std::uint32_t f) {
        if (topology.triangleAlive[f] && topology.FaceContains(f, choice.remove))
            topology.MoveFaceToVertex(f, choice.remove, choice.keep);
    });
    topology.RetireVertex(choice.remove);
    for (const FanFace& face : state.fan)
        state.normals[face.face] = face.after.unitNormal;
}

// One collapse pass: what it reads and what it has done so far.
struct CollapsePass {
    RemeshTopology& topology;
    const RemeshThresholds& thresholds;
    const std::vector<std::uint8_t>& flags;
    const std::vector<Vec3>& referenceNormals;
    CollapseState state;
    std::vector<EdgeKey> newEdges;  // made by the collapses so far, in order
    // Beyond this many new edges none is recorded: a run of collapses through a vertex of very
    // high valence records its whole ring each time, and would else grow the list without end.
    std::size_t newEdgeLimit = 0;
    std::uint64_t collapses = 0;
};

// A sound target for the collapse, into `choice.target`. Two plain ends meet halfway or, where
// that fails, at either end (the lower-numbered first): beside long edges (the strips of a
// coarse UV sphere, the fan round its pole) halfway makes a new edge too long where an end
// does not, and the short edges left there become the thinnest triangles of the result.
bool FindSoundTarget(CollapsePass& pass, CollapseChoice& choice, double& change)
{
    const auto& pos = pass.topology.positions;
    const bool plainEnds = !pass.flags[choice.keep] && !pass.flags[choice.remove];
    const Vec3 targets[3] = {choice.target, pos[std::min(choice.keep, choice.remove)],
        pos[std::max(choice.keep, choice.remove)]};
    bool gathered = false;
    for (int i = 0; i < (plainEnds ? 3 : 1); ++i) {
        choice.target = targets[i];
        if (!NewEdgesStayShort(pass.topology, choice, pass.state, pass.thresholds.splitLength))
            continue;
        if (!gathered)
            GatherCollapseFan(pass.topology, choice, pass.state);
        gathered = true;
        if (FanStaysSound(pass.topology, choice, pass.thresholds, pass.referenceNormals, pass.state, change))
            return true;
    }
    return false;
}

// The edges the collapse makes: from the kept vertex to the rest of the removed one's ring.
void RecordNewEdges(const CollapseChoice& choice, const CollapseState& state, std::vector<EdgeKey>& newEdges)
{
    for (const std::uint32_t n : state.ringRemove) {
        if (n != choice.keep && !std::binary_search(state.ringKeep.begin(), state.ringKeep.end(), n))
            newEdges.push_back(MakeEdgeKey(choice.keep, n));
    }
}

bool TryCollapse(CollapsePass& pass, EdgeKey key)
{
    CollapseChoice choice = ChooseCollapse(pass.topology, key, pass.thresholds, pass.flags, pass.state);
    double change = 0.0;
    if (choice.keep == kNoVertex || !MeetsLinkCondition(pass.topology, choice, pass.state)
        || !FindSoundTarget(pass, choice, change))
        return false;
    ApplyCollapse(pass.topology, choice, pass.state);
    pass.state.pieces.volume[pass.state.pieces.pieceOf[choice.keep]] += change;
    if (pass.newEdges.size() < pass.newEdgeLimit)
        RecordNewEdges(choice, pass.state, pass.newEdges);
    ++pass.collapses;
    return true;
}

// The pass sees the edges as they were at its start, so a run of short edges (the ring of a
// crowded pole) would shrink by at most half in it; the edges the collapses make are tried in
// turn, first come first, until none collapses.
void CollapseNewEdges(CollapsePass& pass)
{
    for (std::size_t i = 0; i < pass.newEdges.size(); ++i)
        TryCollapse(pass, pass.newEdges[i]);
}

// ---- Flipping ----

std::vector<std::int64_t> CountValences(const RemeshTopology& topology)
{
    const std::size_t vertexCount = topology.positions.size();
    std::vector<std::int64_t> valence(vertexCount, 0);
    ParallelForBlocks(vertexCount, 1024, [&](std::size_t begin, std::size_t end) {
        std::vector<std::uint32_t> ring;
        for (std::size_t v = begin; v < end; ++v) {
            if (!topology.vertexAlive[v])
                continue;
            GatherOneRing(topology, static_cast<std::uint32_t>(v), ring);
            valence[v] = static_cast<std::int64_t>(ring.size());
        }
    });
    return valence;
}

std::uint32_t FarCorner(const RemeshTopology& topology, std::uint32_t face, std::uint32_t a, std::uint32_t b)
{
    for (std::uint32_t c : topology.triangles[face]) {
        if (c != a && c != b)
            return c;
    }
    return kNoVertex;
}

// A flip of edge (a, b) between faces f0 and f1 to (c, d); new0 takes f0's slot, new1 f1's.
struct FlipChoice {
    std::uint32_t a = kNoVertex;
    std::uint32_t b = kNoVertex;
    std::uint32_t c = kNoVertex;  // far corner of f0
    std::uint32_t d = kNoVertex;  // far corner of f1
    std::uint32_t f0 = kNoFace;
    std::uint32_t f1 = kNoFace;
    std::array<std::uint32_t, 3> new0{};
    std::array<std::uint32_t, 3> new1{};
};

bool EvensValences(const std::vector<std::int64_t>& valence, const FlipChoice& flip)
{
    const auto off = [&](std::uint32_t v, std::int64_t change) { return std::abs(valence[v] + change - 6); };
    const std::int64_t before = off(flip.a, 0) + off(flip.b, 0) + off(flip.c, 0) + off(flip.d, 0);
    const std::int64_t after = off(flip.a, -1) + off(flip.b, -1) + off(flip.c, 1) + off(flip.d, 1);
    return after < before;
}

// f0 may run from a to b or from b to a (the smaller index says nothing of the winding); the
// new pair follows f0 so that a flip never turns the surface over.
void OrientFlip(const RemeshTopology& topology, FlipChoice& flip)
{
    const auto& t0 = topology.triangles[flip.f0];
    const int ia = t0[0] == flip.a ? 0 : (t0[1] == flip.a ? 1 : 2);
    const bool aToB = t0[(ia + 1) % 3] == flip.b;
    using Corners = std::array<std::uint32_t, 3>;
    flip.new0 = aToB ? Corners{flip.a, flip.d, flip.c} : Corners{flip.a, flip.c, flip.d};
    flip.new1 = aToB ? Corners{flip.b, flip.c, flip.d} : Corners{flip.b, flip.d, flip.c};
}

// The flip of a smooth edge of two faces whose far corners are distinct and not yet joined,
// where it brings the four valences closer to 6; f0 is kNoFace when there is none.
FlipChoice ChooseFlip(const RemeshTopology& topology, const TopologyEdge& edge,
    const std::vector<std::uint8_t>& flags, float featureCosine, const std::vector<std::int64_t>& valence,
    std::vector<std::uint32_t>& faces)
{
    FlipChoice flip;
    flip.a = LowerEnd(edge.key);
    flip.b = UpperEnd(edge.key);
    if (!topology.vertexAlive[flip.a] || !topology.vertexAlive[flip.b] || (flags[flip.a] && flags[flip.b]))
        return {};
    GatherEdgeFaces(topology, flip.a, flip.b, faces);
    if (faces.size() != 2 || EdgeIsSharp(topology, faces, featureCosine))
        return {};
    flip.c = FarCorner(topology, faces[0], flip.a, flip.b);
    flip.d = FarCorner(topology, faces[1], flip.a, flip.b);
    if (flip.c == kNoVertex || flip.d == kNoVertex || flip.c == flip.d)
        return {};
    bool joined = false;
    topology.ForEachListedFace(flip.c, [&](std::uint32_t f) {
        joined = joined
            || (topology.triangleAlive[f] && topology.FaceContains(f, flip.c)
                && topology.FaceContains(f, flip.d));
    });
    if (joined || !EvensValences(valence, flip))
        return {};
    flip.f0 = faces[0];
    flip.f1 = faces[1];
    OrientFlip(topology, flip);
    return flip;
}

// Neither the new pair nor a new face and its neighbour beyond the quad come to face nearly
// opposite ways, unless the faces there did so before.
bool FlipMakesNoFold(const RemeshTopology& topology, const FlipChoice& flip, Vec3 old0, Vec3 old1, Vec3 new0,
    Vec3 new1)
{
    if (FoldsOver(Dot(old0, old1), Dot(new0, new1)))
        return false;
    const auto pair = [&](std::uint32_t f) { return f == flip.f0 || f == flip.f1; };
    for (const std::uint32_t x : {flip.a, flip.b}) {
        for (const std::uint32_t y : {flip.c, flip.d}) {
            const std::uint32_t face = FindFaceAcross(topology, x, y, pair);
            if (face == kNoFace)
                continue;
            const Vec3 across = TopologyFaceNormal(topology, face);
            if (FoldsOver(Dot(y == flip.c ? old0 : old1, across), Dot(x == flip.a ? new0 : new1, across)))
                return false;
        }
    }
    return true;
}

// Each new face turned little against the face whose slot it takes and not over against that
// slot's input normal, the new edge not over the split length, the pair's smallest corner not
// far worse than the old pair's, and no fold.
bool FlipKeepsFacesSound(const RemeshTopology& topology, const FlipChoice& flip, float splitLength,
    const std::vector<Vec3>& referenceNormals)
{
    const auto& pos = topology.positions;
    const FaceShape old0 = ShapeOfFace(topology, flip.f0);
    const FaceShape old1 = ShapeOfFace(topology, flip.f1);
    const FaceShape new0 = ShapeOf(pos[flip.new0[0]], pos[flip.new0[1]], pos[flip.new0[2]]);
    const FaceShape new1 = ShapeOf(pos[flip.new1[0]], pos[flip.new1[1]], pos[flip.new1[2]]);
    if (IsZero(new0.unitNormal) || IsZero(new1.unitNormal)
        || Dot(new0.unitNormal, old0.unitNormal) < kFlipTurnCosine
        || Dot(new1.unitNormal, old1.unitNormal) < kFlipTurnCosine
        || TurnsTooFar(referenceNormals[flip.f0], new0.unitNormal, kReferenceCosine)
        || TurnsTooFar(referenceNormals[flip.f1], new1.unitNormal, kReferenceCosine))
        return false;
    if (Length(pos[flip.c] - pos[flip.d]) > splitLength)
        return false;
    const float newSine = std::min(new0.smallestSine, new1.smallestSine);
    return !IsMuchWorse(newSine, std::min(old0.smallestSine, old1.smallestSine))
        && FlipMakesNoFold(topology, flip, old0.unitNormal, old1.unitNormal, new0.unitNormal, new1.unitNormal);
}

void ApplyFlip(RemeshTopology& topology, const FlipChoice& flip, std::vector<std::int64_t>& valence)
{
    topology.triangles[flip.f0] = flip.new0;
    topology.triangles[flip.f1] = flip.new1;
    topology.extraVertexFaces[flip.c].push_back(flip.f1);
    topology.extraVertexFaces[flip.d].push_back(flip.f0);
    --valence[flip.a];
    --valence[flip.b];
    ++valence[flip.c];
    ++valence[flip.d];
}

// ---- Relaxing ----

// Tangential relaxation, all from the current positions: every free vertex moves `weight` of
// the way to the mean of its faces' other corners, less the part along its area-weighted normal.
std::vector<Vec3> ComputeRelaxedPositions(const RemeshTopology& topology,
    const std::vector<std::uint8_t>& flags, float weight)
{
    std::vector<Vec3> moved = topology.positions;
    ParallelFor(topology.positions.size(), [&](std::size_t v) {
        if (!topology.vertexAlive[v] || flags[v])
            return;
        const auto self = static_cast<std::uint32_t>(v);
        Vec3 sum;
        Vec3 normalSum;
        std::uint32_t count = 0;
        topology.ForEachListedFace(self, [&](std::uint32_t f) {
            if (!topology.triangleAlive[f] || !topology.FaceContains(f, self))
                return;
            const auto& c = topology.triangles[f];
            for (std::uint32_t corner : c) {
                if (corner != self) {
                    sum += topology.positions[corner];
                    ++count;
                }
            }
            const Vec3 p0 = topology.positions[c[0]];
            normalSum += Cross(topology.positions[c[1]] - p0, topology.positions[c[2]] - p0);
        });
        if (count == 0)
            return;
        const Vec3 p = topology.positions[v];
        const Vec3 n = Normalized(normalSum);
        Vec3 d = sum * (1.0f / static_cast<float>(count)) - p;
        if (!IsZero(n))
            d = d - n * Dot(n, d);
        moved[v] = p + d * weight;
    });
    return moved;
}

// Every free vertex to the nearest point of `original`, or to the foot on that triangle's
// plane when the foot lies within `reach` of it (smoother across the input's facets).
void ProjectOntoOriginal(const RemeshTopology& topology, const std::vector<std::uint8_t>& flags,
    const TriangleMesh& original, const AabbTree& tree, float targetEdge, std::vector<Vec3>& moved)
{
    const float reach = std::max(1e-6f, 0.5f * targetEdge);
    ParallelFor(moved.size(), [&](std::size_t v) {
        if (!topology.vertexAlive[v] || flags[v])
            return;
        const Vec3 p = moved[v];
        const NearestHit hit = NearestOnOriginal(tree, original, p, kLikelyReachPerEdge * targetEdge);
        if (!hit.found)
            return;
        const auto triangle = static_cast<std::size_t>(hit.triangle);
        const Vec3 n = original.FaceNormal(triangle);
        if (!IsZero(n)) {
            const Vec3 corner = original.vertices[original.indices[3 * triangle]].position;
            const Vec3 foot = p - n * Dot(p - corner, n);
            if (Length(foot - hit.point) <= reach) {
                moved[v] = foot;
                return;
            }
        }
        moved[v] = hit.point;
    });
}

Vec3 NormalAt(const std::vector<Vec3>& positions, const std::array<std::uint32_t, 3>& c)
{
    return Normalized(Cross(positions[c[1]] - positions[c[0]], positions[c[2]] - positions[c[0]]));
}

// Unit normals of the faces before and after the moves (zero for dead faces).
struct MoveNormals {
    std::vector<Vec3> before;
    std::vector<Vec3> after;
};

// The after-normals of `faces`, or of every face when `faces` is null; in parallel.
void ComputeAfterNormals(const RemeshTopology& topology, const std::vector<Vec3>& moved,
    const std::vector<std::uint32_t>* faces, MoveNormals& normals)
{
    const std::size_t count = faces ? faces->size() : topology.triangles.size();
    ParallelFor(count, [&](std::size_t i) {
        const std::size_t f = faces ? (*faces)[i] : i;
        if (topology.triangleAlive[f])
            normals.after[f] = NormalAt(moved, topology.triangles[f]);
    });
}

MoveNormals ComputeMoveNormals(const RemeshTopology& topology, const std::vector<Vec3>& moved)
{
    MoveNormals normals;
    normals.before.resize(topology.triangles.size());
    normals.after.resize(topology.triangles.size());
    ParallelFor(topology.triangles.size(), [&](std::size_t f) {
        if (topology.triangleAlive[f])
            normals.before[f] = NormalAt(topology.positions, topology.triangles[f]);
    });
    ComputeAfterNormals(topology, moved, nullptr, normals);
    return normals;
}

// A face with a moved corner that the moves leave without area, turn too far, or fold against
// a neighbour (both faces as moved).
bool MoveTurnsFace(const RemeshTopology& topology, const std::vector<Vec3>& moved, const MoveNormals& normals,
    std::uint32_t face)
{
    const auto& c = topology.triangles[face];
    const auto& pos = topology.positions;
    const bool stays = moved[c[0]] == pos[c[0]] && moved[c[1]] == pos[c[1]] && moved[c[2]] == pos[c[2]];
    if (!topology.triangleAlive[face] || stays)
        return false;
    const Vec3 before = normals.before[face];
    const Vec3 after = normals.after[face];
    if (IsZero(after) || TurnsTooFar(before, after, kRelaxTurnCosine))
        return true;
    bool folds = false;
    for (int k = 0; k < 3 && !folds; ++k) {
        topology.ForEachListedFace(c[k], [&](std::uint32_t g) {
            if (folds || g == face || !topology.triangleAlive[g] || !topology.FaceContains(g, c[k])
                || !topology.FaceContains(g, c[(k + 1) % 3]))
                return;
            folds = FoldsOver(Dot(before, normals.before[g]), Dot(after, normals.after[g]));
        });
    }
    return folds;
}

// The faces among `candidates` (all faces when null) that the moves turn, in order; checked in
// parallel.
std::vector<std::uint32_t> FindTurnedFaces(const RemeshTopology& topology, const std::vector<Vec3>& moved,
    const MoveNormals& normals, const std::vector<std::uint32_t>* candidates)
{
    const std::size_t count = candidates ? candidates->size() : topology.triangles.size();
    const auto faceAt = [&](std::size_t i) {
        return candidates ? (*candidates)[i] : static_cast<std::uint32_t>(i);
    };
    std::vector<std::uint8_t> turned(count, 0);
    ParallelFor(count, [&](std::size_t i) { turned[i] = MoveTurnsFace(topology, moved, normals, faceAt(i)); });
    std::vector<std::uint32_t> faces;
    for (std::size_t i = 0; i < count; ++i) {
        if (turned[i])
            faces.push_back(faceAt(i));
    }
    return faces;
}

// The moved corners of `turned` go back; gives the faces whose normal, or a neighbour's, that
// changes: those listed at the corners of every face of a reverted vertex, sorted.
std::vector<std::uint32_t> RevertCorners(const RemeshTopology& topology,
    const std::vector<std::uint32_t>& turned, std::vector<Vec3>& moved)
{
    std::vector<std::uint32_t> near;
    for (const std::uint32_t f : turned) {
        for (const std::uint32_t v : topology.triangles[f]) {
            if (moved[v] == topology.positions[v])
                continue;
            moved[v] = topology.positions[v];
            topology.ForEachListedFace(v, [&](std::uint32_t g) {
                for (const std::uint32_t corner : topology.triangles[g])
                    topology.ForEachListedFace(corner, [&](std::uint32_t h) { near.push_back(h); });
            });
        }
    }
    std::sort(near.begin(), near.end());
    near.erase(std::unique(near.begin(), near.end()), near.end());
    return near;
}

// Moves that turn a face too far are not made: the face's moved corners go back, and the faces
// round them are checked again until none is turned. Checks write to fixed slots and reverts
// go in face order, so the result does not depend on the thread count.
void RevertTurningMoves(const RemeshTopology& topology, std::vector<Vec3>& moved)
{
    MoveNormals normals = ComputeMoveNormals(topology, moved);
    std::vector<std::uint32_t> turned = FindTurnedFaces(topology, moved, normals, nullptr);
    while (!turned.empty()) {
        const std::vector<std::uint32_t> near = RevertCorners(topology, turned, moved);
        ComputeAfterNormals(topology, moved, &near, normals);
        turned = FindTurnedFaces(topology, moved, normals, &near);
    }
}

// ---- Measuring ----

std::array<float, 3> SizeOf(const TriangleMesh& mesh)
{
    if (!mesh.boundsValid)
        return {};
    const Vec3 e = mesh.boundsMax - mesh.boundsMin;
    return {e.x, e.y, e.z};
}

float LargestDeviation(const TriangleMesh& result, const TriangleMesh& original, const AabbTree& tree,
    float targetEdge)
{
    std::vector<float> distance(result.vertices.size(), 0.0f);
    ParallelFor(result.vertices.size(), [&](std::size_t v) {
        const NearestHit hit =
            NearestOnOriginal(tree, original, result.vertices[v].position, kLikelyReachPerEdge * targetEdge);
        distance[v] = hit.found ? hit.distance : 0.0f;
    });
    float largest = 0.0f;
    for (float d : distance)
        largest = std::max(largest, d);
    return largest;
}

RemeshReport MeasureBefore(const TriangleMesh& mesh)
{
    RemeshReport report;
    report.trianglesBefore = mesh.indices.size() / 3;
    report.verticesBefore = mesh.vertices.size();
    report.sizeBefore = SizeOf(mesh);
    report.qualityBefore = MeasureMeshQuality(mesh);
    return report;
}

void MeasureAfter(RemeshReport& report, const TriangleMesh& mesh)
{
    report.trianglesAfter = mesh.indices.size() / 3;
    report.verticesAfter = mesh.vertices.size();
    report.sizeAfter = SizeOf(mesh);
    report.qualityAfter = MeasureMeshQuality(mesh);
}

// A target far too fine for the part: the triangles it asks for (from the area) would not fit
// into `limit`.
bool AsksForTooManyTriangles(const TriangleMesh& mesh, const RemeshThresholds& thresholds, std::uint64_t limit)
{
    const double edge = static_cast<double>(thresholds.targetEdge);
    const double wanted = static_cast<double>(mesh.SurfaceArea()) / (std::sqrt(3.0) / 4.0 * edge * edge);
    return !(wanted <= static_cast<double>(limit)) || mesh.indices.size() / 3 > limit;
}

// ---- The rounds ----

// Everything one remesh works on.
struct IsotropicWork {
    const RemeshSettings& settings;
    RemeshThresholds thresholds;
    std::uint64_t triangleLimit = 0;
    const TriangleMesh& original;
    const AabbTree& tree;
    RemeshReport& report;
    RemeshTopology topology;
    std::vector<Vec3> referenceNormals;  // per triangle: the normal of the input triangle it descends from
    std::vector<std::uint8_t> flags;     // feature vertices
};

// Stage times and the progress callback.
struct RemeshStages {
    StageTimer& timer;
    const ProgressCallback& progress;
    double rounds = 1.0;

    // Starts `name` at `share` of round `round`; false when the callback asks to stop.
    bool Enter(const char* name, double round, double share)
    {
        RecordStageTime(timer, name);
        return !progress || progress(name, static_cast<float>((round + share) / rounds));
    }
};

enum class RoundEnd { done, stopped, refused };

std::vector<Vec3> ComputeReferenceNormals(const TriangleMesh& mesh)
{
    std::vector<Vec3> normals(mesh.indices.size() / 3);
    ParallelFor(normals.size(), [&](std::size_t t) { normals[t] = mesh.FaceNormal(t); });
    return normals;
}

// Split passes until no edge is long (or the safety cap); the callback is asked after each.
RoundEnd SplitUntilShort(IsotropicWork& work, RemeshStages& stages, int round)
{
    for (int pass = 0; pass < kMaxSplitPasses; ++pass) {
        bool refused = false;
        const std::uint64_t splits = SplitLongEdges(work.topology, work.thresholds.splitLength,
            work.triangleLimit, &refused, &work.referenceNormals);
        if (refused)
            return RoundEnd::refused;
        work.report.splits += splits;
        if (splits == 0)
            break;
        if (!stages.Enter("Splitting long edges", round, 0.25))
            return RoundEnd::stopped;
    }
    return RoundEnd::done;
}

void CollapseRound(IsotropicWork& work)
{
    RebuildVertexFaceLists(work.topology);
    const std::vector<TopologyEdge> edges = BuildTopologyEdges(work.topology);
    work.report.featureEdges =
        MarkFeatureVertices(work.topology, edges, work.thresholds.featureCosine, work.flags);
    work.report.collapses +=
        CollapseShortEdges(work.topology, edges, work.thresholds, work.flags, work.referenceNormals);
}

void FlipRound(IsotropicWork& work)
{
    RebuildVertexFaceLists(work.topology);
    const std::vector<TopologyEdge> edges = BuildTopologyEdges(work.topology);
    work.report.flips +=
        ImproveTriangleShape(work.topology, edges, work.thresholds, work.flags, work.referenceNormals);
}

void RelaxRound(IsotropicWork& work)
{
    RebuildVertexFaceLists(work.topology);
    const std::vector<TopologyEdge> edges = BuildTopologyEdges(work.topology);
    MarkFeatureVertices(work.topology, edges, work.thresholds.featureCosine, work.flags);
    RelaxVertices(work.topology, work.flags, work.thresholds.relaxationWeight, work.original, work.tree,
        work.settings.projectToOriginal, work.thresholds.targetEdge);
}

RoundEnd RunRound(IsotropicWork& work, RemeshStages& stages, int round)
{
    if (!stages.Enter("Splitting long edges", round, 0.0))
        return RoundEnd::stopped;
    if (const RoundEnd split = SplitUntilShort(work, stages, round); split != RoundEnd::done)
        return split;
    if (!stages.Enter("Collapsing short edges", round, 0.35))
        return RoundEnd::stopped;
    CollapseRound(work);
    if (!stages.Enter("Improving triangle shape", round, 0.6))
        return RoundEnd::stopped;
    FlipRound(work);
    if (work.settings.relaxation > 0.0f) {
        if (!stages.Enter("Relaxing", round, 0.8))
            return RoundEnd::stopped;
        RelaxRound(work);
    }
    return RoundEnd::done;
}

RoundEnd RunRounds(IsotropicWork& work, RemeshStages& stages)
{
    RoundEnd end = RoundEnd::done;
    for (int r = 0; r < stages.rounds && end == RoundEnd::done; ++r)
        end = RunRound(work, stages, r);
    return end;
}

RemeshReport& MarkTooFine(RemeshReport& report)
{
    report.failed = true;
    report.failure = RemeshFailure::targetTooFine;
    return report;
}

}  // namespace

RemeshThresholds MakeRemeshThresholds(const RemeshSettings& settings)
{
    RemeshThresholds t;
    const float l = std::max(0.0001f, settings.targetEdgeMillimetres);
    t.targetEdge = l;
    t.splitLength = 4.0f * l / 3.0f;
    t.collapseLength = 4.0f * l / 5.0f;
    t.areaFloor = l * l * 0.0001f;
    const float angle = std::clamp(settings.featureAngleDegrees, 0.0f, kLargestFeatureAngleDegrees);
    t.featureCosine = std::cos(angle * 3.1415927f / 180.0f);
    t.relaxationWeight = std::clamp(settings.relaxation, 0.0f, kLargestRelaxation);
    t.projectionReach = std::max(1e-6f, 0.5f * l);
    return t;
}

std::uint64_t RemeshTriangleLimit(std::uint64_t availableBytes)
{
    if (availableBytes == 0)
        return kMaxTopologyTriangles;
    return std::min(kMaxTopologyTriangles, availableBytes / kRemeshBytesPerTriangle);
}

std::uint64_t SplitLongEdges(RemeshTopology& topology, float splitLength, std::uint64_t triangleLimit,
    bool* refused, std::vector<Vec3>* referenceNormals)
{
    const std::vector<TopologyEdge> edges = BuildTopologyEdges(topology);
    const std::vector<std::uint8_t> longEdge = MarkLongEdges(topology, edges, splitLength);
    const SplitCount count = CountSplits(edges, longEdge);
    if (count.splits == 0)
        return 0;
    const std::uint64_t alive = CountAliveTriangles(topology);
    // Every split adds one triangle to each face it cuts; the vertex count must stay numbered
    // below the 32-bit end marker.
    if (alive + count.pieces > triangleLimit || topology.positions.size() + count.splits >= kNoVertex) {
        if (refused)
            *refused = true;
        return 0;
    }
    const std::vector<std::uint32_t> midpoints = AddMidpoints(topology, edges, longEdge);
    CutTriangles(topology, midpoints, alive + count.pieces, referenceNormals);
    return count.splits;
}

std::uint64_t CollapseShortEdges(RemeshTopology& topology, const std::vector<TopologyEdge>& edges,
    const RemeshThresholds& thresholds, const std::vector<std::uint8_t>& flags,
    const std::vector<Vec3>& referenceNormals)
{
    CollapsePass pass{topology, thresholds, flags, referenceNormals, {}, {}, edges.size(), 0};
    pass.state.normals = ComputeFaceNormals(topology);
    pass.state.pieces = MeasurePieceVolumes(topology, edges);
    for (const TopologyEdge& edge : edges)
        TryCollapse(pass, edge.key);
    CollapseNewEdges(pass);
    return pass.collapses;
}

std::uint64_t ImproveTriangleShape(RemeshTopology& topology, const std::vector<TopologyEdge>& edges,
    const RemeshThresholds& thresholds, const std::vector<std::uint8_t>& flags,
    const std::vector<Vec3>& referenceNormals)
{
    std::vector<std::int64_t> valence = CountValences(topology);
    std::uint64_t flips = 0;
    std::vector<std::uint32_t> faces;
    for (const TopologyEdge& edge : edges) {
        const FlipChoice flip = ChooseFlip(topology, edge, flags, thresholds.featureCosine, valence, faces);
        if (flip.f0 == kNoFace
            || !FlipKeepsFacesSound(topology, flip, thresholds.splitLength, referenceNormals))
            continue;
        ApplyFlip(topology, flip, valence);
        ++flips;
    }
    return flips;
}

void RelaxVertices(RemeshTopology& topology, const std::vector<std::uint8_t>& flags, float weight,
    const TriangleMesh& original, const AabbTree& tree, bool project, float targetEdge)
{
    std::vector<Vec3> moved = ComputeRelaxedPositions(topology, flags, weight);
    if (project)
        ProjectOntoOriginal(topology, flags, original, tree, targetEdge, moved);
    RevertTurningMoves(topology, moved);
    topology.positions = std::move(moved);
}

RemeshReport RemeshIsotropic(TriangleMesh& mesh, const RemeshSettings& settings,
    const ProgressCallback& progress)
{
    RemeshReport report = MeasureBefore(mesh);
    if (!mesh.IsConsistent() || mesh.indices.empty() || !HasOnlyFiniteCoordinates(mesh))
        return report;
    const RemeshThresholds thresholds = MakeRemeshThresholds(settings);
    // Refused before the topology exists, so nothing large is allocated.
    const std::uint64_t limit = RemeshTriangleLimit(platform::AvailableMemoryBytes());
    if (AsksForTooManyTriangles(mesh, thresholds, limit))
        return MarkTooFine(report);

    StageTimer timer(report);
    RecordStageTime(timer, "Building the search tree");
    const TriangleMesh original = mesh;
    AabbTree tree;
    tree.Build(original);
    // Every vertex is brought back to the original in every round.
    tree.FitBoxes(original);
    IsotropicWork work{settings, thresholds, limit, original, tree, report, BuildRemeshTopology(mesh),
        ComputeReferenceNormals(mesh), {}};
    RemeshStages stages{timer, progress, static_cast<double>(std::max(kFewestRemeshRounds, settings.rounds))};
    const RoundEnd end = RunRounds(work, stages);
    if (end == RoundEnd::refused) {
        // The pass that would not fit allocated nothing; the part stays as it was.
        RecordStageTime(timer, "");
        return MarkTooFine(report);
    }
    report.cancelled = end == RoundEnd::stopped;

    // Past the point of stopping: the answer is not used.
    (void)stages.Enter("Rebuilding", stages.rounds, 0.0);
    mesh = RebuildMeshFromTopology(work.topology);
    MeasureAfter(report, mesh);
    RecordStageTime(timer, "Measuring deviation");
    report.deviationMillimetres = LargestDeviation(mesh, original, tree, thresholds.targetEdge);
    RecordStageTime(timer, "");
    return report;
}

}  // namespace grainforge::mesh
