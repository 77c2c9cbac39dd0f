#include "engine/displacement/crossing_guard.h"

#include "engine/displacement/corner_moves.h"
#include "engine/mesh/self_intersection.h"
#include "engine/mesh/triangle_contact.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace grainforge::mesh::detail {
namespace {

// Whether triangles t and u, with their corners at `position(vertex)`, meet beyond their shared
// vertices; one without area counts as meeting.
template <typename Position>
bool PairMeets(const DisplacementRun& run, std::uint32_t t, std::uint32_t u, const Position& position)
{
    std::array<ContactTriangle, 2> pair;
    const std::array<std::uint32_t, 2> triangles{t, u};
    for (std::size_t i = 0; i < 2; ++i) {
        ContactTriangle& c = pair[i];
        for (std::size_t k = 0; k < 3; ++k) {
            c.index[k] = run.mesh.indices[3 * static_cast<std::size_t>(triangles[i]) + k];
            const Vec3 p = position(c.index[k]);
            c.point[k] = {p.x, p.y, p.z};
        }
        if (PointsCollinear(c.point[0], c.point[1], c.point[2]))
            return true;
        PrepareContact(c);
    }
    return TrianglesMeetBeyondSharedVertices(pair[0], pair[1]);
}

// Whether triangles t and u met where their vertices started: a crossing of the input, which
// the relief did not make and is not the guard's to undo. A triangle that started without area
// counts as meeting, so nothing is undone for it.
bool MetAtStart(const DisplacementRun& run, std::uint32_t t, std::uint32_t u)
{
    return PairMeets(run, t, u, [&](std::uint32_t v) { return run.start[v]; });
}

// Of the pairs a search found meeting now, those that did not meet where they started, sorted.
std::vector<std::array<std::uint32_t, 2>> PairsMade(const DisplacementRun& run, const std::vector<std::uint32_t>& found)
{
    std::vector<std::array<std::uint32_t, 2>> made;
    for (std::size_t i = 0; i + 1 < found.size(); i += 2) {
        const std::uint32_t t = std::min(found[i], found[i + 1]);
        const std::uint32_t u = std::max(found[i], found[i + 1]);
        if (!MetAtStart(run, t, u))
            made.push_back({t, u});
    }
    std::sort(made.begin(), made.end());
    return made;
}

// MadeCrossings over the moved triangles, the guard's first search: its record goes with the
// report, so that the check of the result searches again only where the guard moved anything.
// The search covers the whole part for the check's sake; the guard still takes only the pairs
// with a moved triangle, as a search of those alone lists them: two that did not move meet as
// they did at the start, and are not its business.
std::vector<std::array<std::uint32_t, 2>> FirstMadeCrossings(DisplacementRun& run,
    std::span<const std::uint8_t> moved, bool& stopped)
{
    SelfIntersectionRecord record = run.searchForTheCheck
        ? RecordSelfIntersectionsToTakeOver(run.mesh, moved, kSearchPairLimit, stopped)
        : RecordSelfIntersections(run.mesh, moved, kSearchPairLimit, stopped);
    if (stopped)
        return {};
    std::vector<std::uint32_t> found;
    found.reserve(record.pairs.size());
    for (std::size_t i = 0; i + 1 < record.pairs.size(); i += 2) {
        if (moved[record.pairs[i]] != 0 || moved[record.pairs[i + 1]] != 0)
            found.insert(found.end(), {record.pairs[i], record.pairs[i + 1]});
    }
    std::vector<std::array<std::uint32_t, 2>> made = PairsMade(run, found);
    if (run.searchForTheCheck)
        run.report.crossingSearch = std::make_shared<const SelfIntersectionRecord>(std::move(record));
    return made;
}

// Whether triangles t and u, as they stand, meet beyond their shared vertices; one without area
// counts as meeting, so its moves are taken back.
bool MeetNow(const DisplacementRun& run, std::uint32_t t, std::uint32_t u)
{
    return PairMeets(run, t, u, [&](std::uint32_t v) { return run.mesh.vertices[v].position; });
}

// One round of scaling back: each pair the relief made meet, in order, gives up the least of its
// corners' moves that parts it; where they started the two did not meet. The triangles
// round the corners moved are flagged in `focus`; false when no pair gave way.
bool ScaleBackCrossingRound(DisplacementRun& run, const VertexAdjacency& faces,
    const std::vector<std::array<std::uint32_t, 2>>& made, std::vector<std::uint8_t>& eased,
    std::vector<std::uint8_t>& focus)
{
    bool gaveWay = false;
    for (const std::array<std::uint32_t, 2>& pair : made) {
        const std::uint32_t t = pair[0];
        const std::uint32_t u = pair[1];
        if (!MeetNow(run, t, u))
            continue;
        CornerMoves corners;
        corners.Add(run, t);
        corners.Add(run, u);
        if (!TakeBackLeast(run, corners, [&] { return MeetNow(run, t, u); }))
            continue;
        gaveWay = true;
        for (std::size_t i = 0; i < corners.count; ++i) {
            eased[corners.vertices[i]] = 1;
            FlagTrianglesRound(faces, corners.vertices[i], focus);
        }
    }
    return gaveWay;
}

}  // namespace

GuardRound PlanCrossingRound(std::uint32_t round)
{
    return {.widen = round >= kCrossingWidenFromRound,
        .takeBack = round <= kCrossingHalvingRounds ? TakeBack::halve : TakeBack::putBack};
}

std::vector<std::array<std::uint32_t, 2>> MadeCrossings(const DisplacementRun& run,
    std::span<const std::uint8_t> focus, bool& stopped)
{
    std::vector<std::uint32_t> found;
    FindSelfIntersections(run.mesh, focus, kSearchPairLimit, found, stopped);
    if (stopped)
        return {};
    return PairsMade(run, found);
}

// Vertex relief moves each vertex on its own, so on a curved or crowded surface the relief of
// one place can pass through another's, or a triangle the fold guard left upright can cut its
// neighbour: crossings the relief made, which no printer can read. Each pair first gives up only
// the share of its own corners' moves that makes it meet, round after round; round what still
// meets the moves are then halved, round after round, then put back where they started, widened
// by the triangles round them when halving alone does not part them, until the relief meets
// itself nowhere it did not before. Only the crossings the relief made are undone; the input's
// own stay as they were.
void EaseCrossings(DisplacementRun& run, FoldGuard& guard)
{
    TriangleMesh& mesh = run.mesh;
    // Two triangles that did not move meet as they did at the start: only pairs with a moved
    // triangle are looked for.
    std::vector<std::uint8_t> moved(mesh.TriangleCount(), 0);
    bool anyMoved = false;
    for (std::size_t t = 0; t < moved.size(); ++t)
        for (std::size_t k = 0; k < 3 && moved[t] == 0; ++k) {
            const std::uint32_t v = mesh.indices[3 * t + k];
            moved[t] = IsZero(mesh.vertices[v].position - run.start[v]) ? 0 : 1;
            anyMoved = anyMoved || moved[t] != 0;
        }
    if (!anyMoved)
        return;
    bool stopped = false;
    std::vector<std::array<std::uint32_t, 2>> made = FirstMadeCrossings(run, moved, stopped);
    run.report.crossingPairsMade = made.size();
    if (made.empty())
        return;
    VertexAdjacency ownFaces;
    if (run.vertexFaces.triangleOffsets.size() != mesh.vertices.size() + 1)
        ownFaces = BuildVertexAdjacency(mesh);
    const VertexAdjacency& faces = ownFaces.triangleOffsets.empty() ? run.vertexFaces : ownFaces;
    std::vector<std::uint8_t> eased(mesh.vertices.size(), 0);
    std::vector<std::uint32_t> mark(mesh.vertices.size(), 0);
    std::vector<std::uint8_t> focus(mesh.TriangleCount(), 0);
    for (int round = 0; !made.empty() && round < kCrossingScaleBackRounds; ++round) {
        std::fill(focus.begin(), focus.end(), 0);
        if (!ScaleBackCrossingRound(run, faces, made, eased, focus))
            break;
        ++run.report.crossingRounds;
        // A pair scaled back beside neighbours that keep their moves can fold one of them: it
        // gives way in turn, so the guards end with neither a fold nor a crossing made.
        std::vector<std::uint32_t> folded;
        for (std::size_t t = 0; t < focus.size(); ++t) {
            if (focus[t] != 0 && Folds(run, guard, static_cast<std::uint32_t>(t)))
                folded.push_back(static_cast<std::uint32_t>(t));
        }
        ScaleBackFolds(run, guard, std::move(folded), &focus);
        // Pairs left meeting keep their triangles in the search.
        for (const auto& pair : made)
            focus[pair[0]] = focus[pair[1]] = 1;
        made = MadeCrossings(run, focus, stopped);
        if (stopped)
            break;
    }
    for (std::uint32_t round = 1; !made.empty() && !stopped && round <= kMaxCrossingRounds; ++round) {
        ++run.report.crossingRounds;
        std::vector<std::uint32_t> pairs;
        pairs.reserve(2 * made.size());
        for (const auto& pair : made)
            pairs.insert(pairs.end(), pair.begin(), pair.end());
        const GuardRound plan = PlanCrossingRound(round);
        const std::vector<std::uint32_t> work = GuardWorkSet(mesh, faces, pairs, plan.widen, mark, round);
        const float share = KeptShare(plan.takeBack);
        std::fill(focus.begin(), focus.end(), 0);
        for (const std::uint32_t v : work) {
            const Vec3 offset = mesh.vertices[v].position - run.start[v];
            if (IsZero(offset))
                continue;
            mesh.vertices[v].position = run.start[v] + offset * share;
            eased[v] = 1;
            FlagTrianglesRound(faces, v, focus);
        }
        made = MadeCrossings(run, focus, stopped);
        if (stopped)
            break;
    }
    run.report.crossingPairsLeft = stopped ? run.report.crossingPairsMade : made.size();
    run.report.crossingVerticesEased =
        static_cast<std::uint64_t>(std::count(eased.begin(), eased.end(), std::uint8_t{1}));
}

}  // namespace grainforge::mesh::detail
