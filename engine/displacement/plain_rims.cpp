#include "engine/displacement/plain_rims.h"

#include <algorithm>
#include <cmath>

namespace grainforge::mesh::detail {
namespace {

// Adds a face normal to the first cluster within the crease angle, or opens one; false when a
// fourth would be needed.
bool AddToClusters(Crease& crease, Vec3 normal)
{
    std::int32_t c = 0;
    while (c < crease.count && Dot(Normalized(crease.sums[c]), normal) < kClusterCosine)
        ++c;
    if (c < crease.count)
        crease.sums[c] += normal;
    else if (crease.count < kMaxCreaseClusters)
        crease.sums[crease.count++] = normal;
    else
        return false;
    return true;
}

// The rim of one vertex: the plain clusters that no textured face round it continues
// (within the crease angle), made orthonormal; a third independent one leaves no direction.
PlainRim RimOf(const Crease& plain, const Crease& textured)
{
    PlainRim rim;
    for (std::int32_t c = 0; c < plain.count; ++c) {
        Vec3 n = Normalized(plain.sums[c]);
        bool smooth = false;
        for (std::int32_t k = 0; k < textured.count; ++k)
            smooth = smooth || Dot(Normalized(textured.sums[k]), n) >= kClusterCosine;
        if (smooth)
            continue;
        for (std::int32_t k = 0; k < rim.count; ++k)
            n = n - rim.normals[k] * Dot(n, rim.normals[k]);
        const float length = Length(n);
        if (!(length > 1.0f - kClusterCosine))
            continue;  // within the planes already kept
        if (rim.count == 2) {
            rim.frozen = true;
            break;
        }
        rim.normals[rim.count++] = n * (1.0f / length);
    }
    return rim;
}

// Where each rim vertex starts, and the plain triangles whose rim corners can lay them over a
// plain neighbour: those with a rim corner across from an edge shared with another plain
// triangle. Past an edge whose other side is textured a triangle only turns under faces that
// move away with the relief (a plain strip one triangle wide along a thin rim, all three corners
// moving): holding those pinned the rim while its textured neighbours moved on, and those then
// crossed it.
void GatherRimTriangles(DisplacementRun& run, const std::vector<std::uint8_t>& plainFaces)
{
    const TriangleMesh& mesh = run.mesh;
    for (std::size_t v = 0; v < run.rimSlots.size(); ++v) {
        if (run.rimSlots[v] != kNone)
            run.rims[run.rimSlots[v]].start = mesh.vertices[v].position;
    }
    std::vector<EdgeKey> plainEdges;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        for (std::size_t k = 0; plainFaces[t] != 0 && k < 3; ++k)
            plainEdges.push_back(MakeEdgeKey(mesh.indices[3 * t + k], mesh.indices[3 * t + (k + 1) % 3]));
    }
    std::sort(plainEdges.begin(), plainEdges.end());
    const auto sharedByPlain = [&](std::uint32_t a, std::uint32_t b) {
        const auto range = std::equal_range(plainEdges.begin(), plainEdges.end(), MakeEdgeKey(a, b));
        return range.second - range.first >= 2;
    };
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        if (plainFaces[t] == 0)
            continue;
        const std::uint32_t* c = &mesh.indices[3 * t];
        bool laysOver = false;
        for (std::size_t k = 0; k < 3; ++k)
            laysOver = laysOver || (run.rimSlots[c[k]] != kNone && sharedByPlain(c[(k + 1) % 3], c[(k + 2) % 3]));
        if (laysOver)
            run.rimTriangles.push_back(static_cast<std::uint32_t>(t));
    }
}

// The far edges of the plain triangles round every rim vertex that keeps no plane (a textured
// face runs on from its plain face within the crease angle), from the starting positions. Such
// a vertex leaves the plane with the relief and is held on its own short of each far edge: left
// to its triangles' areas like the rims that slide within the plane, it let the relief beside it
// cross more on the corpus (a turbine's blades: 50 crossing triangles against 41).
void GatherRimEdges(DisplacementRun& run, const std::vector<std::uint8_t>& plainFaces)
{
    const TriangleMesh& mesh = run.mesh;
    std::vector<std::vector<RimEdge>> edges(run.rims.size());
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        if (plainFaces[t] == 0)
            continue;
        const Vec3 normal = mesh.FaceNormal(t);
        if (IsZero(normal) || !IsFinite(normal))
            continue;
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint32_t slot = run.rimSlots[mesh.indices[3 * t + k]];
            if (slot == kNone || run.rims[slot].count != 0 || run.rims[slot].frozen)
                continue;
            const Vec3 at = mesh.vertices[mesh.indices[3 * t + k]].position;
            const Vec3 a = mesh.vertices[mesh.indices[3 * t + (k + 1) % 3]].position;
            const Vec3 b = mesh.vertices[mesh.indices[3 * t + (k + 2) % 3]].position;
            // In the plane, across the edge a-b, on the vertex's side.
            const Vec3 across = Normalized(Cross(normal, b - a));
            const float height = Dot(at - a, across);
            if (!IsFinite(across) || !(height > 0.0f))
                continue;
            edges[slot].push_back({across * -1.0f, height * kRimReachShare});
        }
    }
    for (std::size_t slot = 0; slot < edges.size(); ++slot) {
        run.rims[slot].firstEdge = static_cast<std::uint32_t>(run.rimEdges.size());
        run.rims[slot].edgeCount = static_cast<std::uint32_t>(edges[slot].size());
        run.rimEdges.insert(run.rimEdges.end(), edges[slot].begin(), edges[slot].end());
    }
}

// The cross product of a triangle's edges at the vertices' present positions, or where its rim
// corners started.
Vec3 PlainTriangleCross(const DisplacementRun& run, std::uint32_t t, bool atStart)
{
    Vec3 p[3];
    for (std::size_t k = 0; k < 3; ++k) {
        const std::uint32_t v = run.mesh.indices[3 * static_cast<std::size_t>(t) + k];
        const std::uint32_t slot = run.rimSlots[v];
        p[k] = atStart && slot != kNone ? run.rims[slot].start : run.mesh.vertices[v].position;
    }
    return Cross(p[1] - p[0], p[2] - p[0]);
}

// A plain triangle whose moved rim corners left it less than its share of the starting area,
// measured along the starting normal: turned over, laid across a neighbour, or near it.
bool PlainTriangleShrank(const DisplacementRun& run, std::uint32_t t)
{
    const Vec3 before = PlainTriangleCross(run, t, true);
    const float area = Length(before);
    if (!(area > 0.0f) || !std::isfinite(area))
        return false;  // a triangle without area has no side to turn to
    return Dot(PlainTriangleCross(run, t, false), before) < kPlainAreaShare * area * area;
}

}  // namespace

TakeBack PlanRimRound(std::int32_t round)
{
    return round < kRimHalvingRounds ? TakeBack::halve : TakeBack::putBack;
}

void FindPlainRims(DisplacementRun& run, const std::vector<std::uint8_t>& plainFaces)
{
    const TriangleMesh& mesh = run.mesh;
    std::vector<std::uint32_t> slots(mesh.vertices.size(), kNone);
    std::uint32_t count = 0;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        if (plainFaces[t] == 0)
            continue;
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint32_t v = mesh.indices[3 * t + k];
            if (slots[v] == kNone && WeightOf(run, v) > 0.0f)
                slots[v] = count++;
        }
    }
    if (count == 0)
        return;
    std::vector<Crease> plain(count);
    std::vector<Crease> textured(count);
    std::vector<std::uint8_t> overflow(count, 0);
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const Vec3 n = mesh.FaceNormal(t);
        if (IsZero(n) || !IsFinite(n))
            continue;
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint32_t slot = slots[mesh.indices[3 * t + k]];
            if (slot != kNone && !AddToClusters(plainFaces[t] != 0 ? plain[slot] : textured[slot], n))
                overflow[slot] = 1;
        }
    }
    run.rims.resize(count);
    for (std::uint32_t slot = 0; slot < count; ++slot) {
        run.rims[slot] = RimOf(plain[slot], textured[slot]);
        // Faces in more directions than can be told apart: the vertex keeps its place.
        run.rims[slot].frozen = run.rims[slot].frozen || overflow[slot] != 0;
    }
    run.rimSlots = std::move(slots);
    GatherRimTriangles(run, plainFaces);
    GatherRimEdges(run, plainFaces);
}

Vec3 KeptInPlainPlanes(const DisplacementRun& run, std::size_t v, Vec3 move)
{
    if (run.rimSlots.empty() || run.rimSlots[v] == kNone)
        return move;
    const PlainRim& rim = run.rims[run.rimSlots[v]];
    if (rim.frozen)
        return {};
    for (std::int32_t k = 0; k < rim.count; ++k)
        move = move - rim.normals[k] * Dot(move, rim.normals[k]);
    float share = 1.0f;
    for (std::uint32_t e = rim.firstEdge; e < rim.firstEdge + rim.edgeCount; ++e) {
        const RimEdge& edge = run.rimEdges[e];
        const float towards = Dot(move, edge.towardsEdge);
        if (towards > edge.reach)
            share = std::min(share, edge.reach / towards);
    }
    return move * share;
}

// Rim vertices move within the plain face's plane, so a move into the face can carry a rim
// vertex over the far edge of a plain triangle round it and lay that triangle over its
// neighbours, a crossing no fold guard sees coming (the plain corners do not move to ease it),
// as cylinder caps left untextured showed at their rims. Each plain triangle is measured as it
// came out, with every corner's real move: rim corners that move together along a thin rim
// leave its triangles as they were and keep their moves. The rim corners of a triangle that
// lost too much give up half of their moves, round after round, and go back to where they
// started if that is not enough; with its rim corners back a triangle is as it was, so this
// ends with every triangle measured turned as it was.
void KeepPlainTrianglesTurned(DisplacementRun& run)
{
    for (std::int32_t round = 0;; ++round) {
        const float keep = KeptShare(PlanRimRound(round));
        std::vector<std::uint32_t> changed;
        for (const std::uint32_t t : run.rimTriangles) {
            if (!PlainTriangleShrank(run, t))
                continue;
            for (std::size_t k = 0; k < 3; ++k) {
                const std::uint32_t v = run.mesh.indices[3 * static_cast<std::size_t>(t) + k];
                const std::uint32_t slot = run.rimSlots[v];
                if (slot != kNone && run.mesh.vertices[v].position != run.rims[slot].start)
                    changed.push_back(v);
            }
        }
        if (changed.empty())
            return;
        std::sort(changed.begin(), changed.end());
        changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
        for (const std::uint32_t v : changed) {
            const Vec3 start = run.rims[run.rimSlots[v]].start;
            run.mesh.vertices[v].position = start + (run.mesh.vertices[v].position - start) * keep;
        }
    }
}

}  // namespace grainforge::mesh::detail
