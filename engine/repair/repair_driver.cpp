#include "engine/repair/repair_driver.h"
#include "engine/mesh/report_text.h"

#include "engine/repair/crumb_removal.h"
#include "engine/repair/fix_change.h"
#include "engine/mesh/mesh_simplify.h"
#include "engine/mesh/near_points.h"
#include "engine/repair/non_manifold_repair.h"
#include "engine/mesh/self_intersection.h"
#include "engine/mesh/vertex_pieces.h"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <numeric>

namespace grainforge::mesh {
namespace {

constexpr std::int32_t kStallLimit = 12;
constexpr std::int32_t kCollapsePasses = 3;
constexpr float kNoErrorLimit = 1e20f;
constexpr float kRepairTurnDegrees = 90.0f;

// Whether a step leaves the part changed beyond the rule by more than it was before the step
// (`prior`, measured against the same part): a change another fix made earlier, such as crumbs
// taken away, is no reason to put back this step's own.
bool GoesFurther(const FixChangeReport& prior, const FixChangeReport& now)
{
    if (!IsLargeFixChange(now))
        return false;
    if (!IsLargeFixChange(prior))
        return true;
    return now.largestVolumeShare > prior.largestVolumeShare || now.largestBoxShare > prior.largestBoxShare
        || now.largestLossShare > prior.largestLossShare || now.bodiesLost > prior.bodiesLost;
}

void Say(const RepairProgress& progress, const char* phase)
{
    if (progress)
        progress(phase);
}

// The same position to the bit.
bool SamePosition(Vec3 a, Vec3 b)
{
    return std::bit_cast<std::array<std::uint32_t, 3>>(a) == std::bit_cast<std::array<std::uint32_t, 3>>(b);
}

double LengthOf(Vec3 v) { return std::sqrt(static_cast<double>(v.x) * v.x + static_cast<double>(v.y) * v.y + static_cast<double>(v.z) * v.z); }

std::vector<std::uint32_t> SearchIntersections(const TriangleMesh& mesh, std::span<const std::uint8_t> focus)
{
    std::vector<std::uint32_t> pairs;
    bool stopped = false;
    FindSelfIntersections(mesh, focus, kNoPairLimit, pairs, stopped);
    return DistinctTrianglesOfPairs(std::move(pairs));
}

// Per triangle: 1 when one of its corners is listed.
std::vector<std::uint8_t> TrianglesUsing(const TriangleMesh& mesh, std::span<const std::uint32_t> vertices)
{
    std::vector<std::uint8_t> listed(mesh.vertices.size(), 0);
    for (const std::uint32_t v : vertices)
        listed[v] = 1;
    std::vector<std::uint8_t> flags(mesh.TriangleCount(), 0);
    for (std::size_t t = 0; t < flags.size(); ++t)
        flags[t] = static_cast<std::uint8_t>(listed[mesh.indices[3 * t]] | listed[mesh.indices[3 * t + 1]]
                                             | listed[mesh.indices[3 * t + 2]]);
    return flags;
}

std::uint64_t CountFlags(const std::vector<std::uint8_t>& flags)
{
    return static_cast<std::uint64_t>(std::count(flags.begin(), flags.end(), std::uint8_t{1}));
}

// The state shared by the phases of one RepairMesh call.
class RepairRun {
public:
    RepairRun(TriangleMesh& mesh, const RepairOptions& options, const RepairProgress& progress,
              RepairReport& report)
        : mesh_(mesh), options_(options), progress_(progress), report_(report)
    {
    }

    void FixNonManifold();
    void RemoveStrayCrumbs();
    void MendNoAreaTriangles();
    void Prepare();
    void Unfold();
    void Resolve();
    void UndoMovesThatChangeThePart();
    void TallyMovement();
    void CollapseLeftovers();
    void FinalNoAreaPass();

private:
    FixBaseline& Baseline();
    std::vector<std::uint8_t> FoldedIn(const std::vector<std::uint8_t>& region,
                                       const std::vector<std::uint8_t>& near) const;
    void PutBackMovedVertices();
    std::vector<std::uint32_t> SearchSinceLast(std::span<const std::uint8_t> fallback);

    TriangleMesh& mesh_;
    const RepairOptions& options_;
    const RepairProgress& progress_;
    RepairReport& report_;

    VertexAdjacency adjacency_;
    std::vector<std::uint8_t> moved_;
    std::vector<Vec3> saved_;
    std::vector<std::uint8_t> pinned_;
    std::int32_t rounds_ = 1;
    // The part this call judges against when the caller gives none: the mesh as relaxing starts.
    std::unique_ptr<TriangleMesh> start_;
    std::unique_ptr<FixBaseline> ownBaseline_;
    std::vector<float> bodySizes_;  // before any move: the size of the body each vertex belongs to
    std::vector<float> moveLimits_;
    std::vector<std::uint32_t> intersecting_;
    std::vector<std::uint32_t> intersectingBefore_;  // as found before anything moved
    std::vector<std::uint32_t> bodyBeforeSplit_;  // per triangle, once non-manifold edges were split
    // The last crossing search while vertices only move: every pair it found, with the
    // positions and corners they hold for.
    SelfIntersectionRecord lastSearch_;
};

void RepairRun::FixNonManifold()
{
    Say(progress_, "Fixing non-manifold edges");
    report_.nonManifoldChecked = true;
    report_.nonManifoldEdges = CountNonManifoldEdges(mesh_);
    if (report_.nonManifoldEdges == 0)
        return;
    // Faces written twice share every edge with their copy: taken away before the split, which
    // would otherwise pull each copy off as a sheet of its own and leave nothing.
    const RepeatedFacesReport repeated = RemoveRepeatedFaces(mesh_);
    report_.doubleSkinnedPairsRemoved = repeated.doubleSkinnedPairsRemoved;
    report_.flippedCopiesRemoved = repeated.flippedCopiesRemoved;
    report_.innerCopiesRemoved = repeated.innerCopiesRemoved;
    report_.duplicatesRemoved = repeated.duplicatesRemoved;
    // Which body each triangle was part of before the split, so that what the split sets loose
    // can be told from the part's own bodies. The split keeps the triangles in order; the
    // fallback says where each of its triangles came from.
    std::uint32_t bodies = 0;
    bodyBeforeSplit_ = LabelBodies(mesh_, bodies);
    report_.verticesSplit = SeparateNonManifoldEdges(mesh_);
    std::vector<std::uint32_t> faceMap;
    (void)FixNonManifoldEdges(mesh_, &faceMap);
    if (!faceMap.empty() && !bodyBeforeSplit_.empty()) {
        std::vector<std::uint32_t> carried(faceMap.size());
        for (std::size_t t = 0; t < faceMap.size(); ++t)
            carried[t] = bodyBeforeSplit_[faceMap[t]];
        bodyBeforeSplit_ = std::move(carried);
    }
}

// Union-find over a few numbers, joined to the lower root so that labels follow the input.
class Groups {
public:
    explicit Groups(std::uint32_t count) : parent_(count) { std::iota(parent_.begin(), parent_.end(), 0u); }
    std::uint32_t Root(std::uint32_t x)
    {
        while (parent_[x] != x)
            x = parent_[x] = parent_[parent_[x]];
        return x;
    }
    bool Join(std::uint32_t a, std::uint32_t b)
    {
        a = Root(a);
        b = Root(b);
        if (a == b)
            return false;
        parent_[std::max(a, b)] = std::min(a, b);
        return true;
    }

private:
    std::vector<std::uint32_t> parent_;
};

// Joins each body that `asks` to the bodies it shares a corner with or has a corner within
// `reach` of; true when any two were joined.
bool JoinTouchingBodies(const TriangleMesh& mesh, std::span<const std::uint32_t> bodyOf,
                        const std::vector<std::uint8_t>& asks, float reach, Groups& groups)
{
    constexpr std::uint32_t kNoBody = 0xFFFFFFFFu;
    std::vector<std::uint32_t> bodyAt(mesh.vertices.size(), kNoBody);
    bool joined = false;
    for (std::size_t t = 0; t < bodyOf.size(); ++t)
        for (int k = 0; k < 3; ++k) {
            std::uint32_t& at = bodyAt[mesh.indices[3 * t + k]];
            if (at != kNoBody && at != bodyOf[t] && (asks[at] != 0 || asks[bodyOf[t]] != 0))
                joined |= groups.Join(at, bodyOf[t]);
            at = bodyOf[t];
        }
    constexpr float kUnused = std::numeric_limits<float>::quiet_NaN();  // never found
    std::vector<Vec3> corners(mesh.vertices.size(), Vec3{kUnused, kUnused, kUnused});
    for (std::size_t v = 0; v < corners.size(); ++v)
        if (bodyAt[v] != kNoBody)
            corners[v] = mesh.vertices[v].position;
    const detail::NearPoints near(corners, reach);
    for (std::uint32_t v = 0; v < corners.size(); ++v) {
        if (bodyAt[v] == kNoBody || asks[bodyAt[v]] == 0)
            continue;
        near.ForEachWithin(corners[v], [&](std::uint32_t u, double) { joined |= groups.Join(bodyAt[u], bodyAt[v]); });
    }
    return joined;
}

// Per triangle, the group of bodies its body lies with: those one body before the split
// (`bodyBeforeSplit`, when not empty), and each body small enough to be a crumb with those it
// touches, within the step a split parts them by. A body parted from another, in this repair or
// an earlier one, is thus judged by the bodies it lies against, and a second repair judges it
// as the first did (no more strictly: its group is no larger). Empty when no two bodies lie
// together and nothing was split.
std::vector<std::uint32_t> GroupBodiesLyingTogether(const TriangleMesh& mesh,
                                                    std::span<const std::uint32_t> bodyBeforeSplit, float volumeLimit)
{
    std::uint32_t count = 0;
    const std::vector<std::uint32_t> bodyOf = LabelBodies(mesh, count);
    if (count < 2 || (!bodyBeforeSplit.empty() && bodyBeforeSplit.size() != bodyOf.size()))
        return {bodyBeforeSplit.begin(), bodyBeforeSplit.end()};
    Groups groups(count);
    bool joined = false;
    if (!bodyBeforeSplit.empty()) {
        std::vector<std::uint32_t> firstOf(*std::max_element(bodyBeforeSplit.begin(), bodyBeforeSplit.end()) + 1u, count);
        for (std::size_t t = 0; t < bodyOf.size(); ++t) {
            std::uint32_t& first = firstOf[bodyBeforeSplit[t]];
            if (first == count)
                first = bodyOf[t];
            else
                joined |= groups.Join(first, bodyOf[t]);
        }
    }
    // Only a body holding less than a crumb can go, so only such bodies need their neighbours.
    const std::vector<CrumbRecord> bodies = MeasureBodies(mesh, bodyOf, count);
    std::vector<std::uint8_t> small(count, 0);
    for (std::uint32_t b = 0; b < count; ++b)
        small[b] = std::fabs(bodies[b].volume) < volumeLimit ? 1 : 0;
    if (std::find(small.begin(), small.end(), std::uint8_t{1}) != small.end())
        joined |= JoinTouchingBodies(mesh, bodyOf, small, LargestSplitStep(mesh), groups);
    if (!joined && bodyBeforeSplit.empty())
        return {};
    std::vector<std::uint32_t> labels(bodyOf.size());
    for (std::size_t t = 0; t < bodyOf.size(); ++t)
        labels[t] = groups.Root(bodyOf[t]);
    return labels;
}

// With crumb removal off the pass still runs after a split, to take away the crumbs it set
// loose; the part's own bodies it keeps, whatever their size. With it on, a body lying against
// another is judged by the group it lies in, split in this repair or not.
void RepairRun::RemoveStrayCrumbs()
{
    report_.crumbsChecked = options_.removeCrumbs;
    const bool afterSplit = report_.nonManifoldEdges != 0 && !bodyBeforeSplit_.empty();
    if (options_.removeCrumbs || afterSplit) {
        if (options_.removeCrumbs)
            Say(progress_, "Removing stray crumbs");
        const std::span<const std::uint32_t> split =
            afterSplit ? std::span<const std::uint32_t>(bodyBeforeSplit_) : std::span<const std::uint32_t>();
        const std::vector<std::uint32_t> together =
            options_.removeCrumbs ? GroupBodiesLyingTogether(mesh_, split, kCrumbVolumeLimit)
                                  : std::vector<std::uint32_t>(split.begin(), split.end());
        StrayBodyReport removed = RemoveStrayBodies(
            mesh_, {.removeCrumbs = options_.removeCrumbs, .bodyBeforeSplit = together});
        report_.bodiesRemoved = removed.bodiesRemoved;
        report_.bodyTrianglesRemoved = removed.trianglesRemoved;
        report_.removedBodies = std::move(removed.removed);
    }
    if (report_.nonManifoldEdges != 0)
        report_.nonManifoldEdgesLeft = CountNonManifoldEdges(mesh_);
}

void RepairRun::MendNoAreaTriangles()
{
    report_.noAreaTriangles = CountNoAreaTriangles(mesh_);
    if (report_.noAreaTriangles != 0) {
        Say(progress_, "Removing triangles with no area");
        report_.noAreaTurned = RemoveNoAreaTriangles(mesh_);
    }
    report_.noAreaTrianglesLeft = report_.noAreaTurned != 0 ? CountNoAreaTriangles(mesh_) : report_.noAreaTriangles;
}

void RepairRun::Prepare()
{
    adjacency_ = BuildVertexAdjacency(mesh_);
    moved_.assign(mesh_.vertices.size(), 0);
    saved_.assign(mesh_.vertices.size(), Vec3{});
    rounds_ = std::max(kFewestRepairRounds, options_.maximumRounds);
    bodySizes_ = BodySizeAtVertices(mesh_);
    moveLimits_ = VertexMoveLimits(bodySizes_, options_.maximumMoveMillimetres);
    pinned_ = MarkLongEdgeVertices(mesh_);
    Say(progress_, "Looking for self-intersections");
    intersecting_ = SearchSinceLast({});
    intersectingBefore_ = intersecting_;
}

// The caller's part before any fix, or this call's start: the mesh with every move put back,
// copied the first time it is needed.
FixBaseline& RepairRun::Baseline()
{
    if (options_.judgeAgainst != nullptr)
        return *options_.judgeAgainst;
    if (!ownBaseline_) {
        start_ = std::make_unique<TriangleMesh>(mesh_);
        for (std::size_t v = 0; v < moved_.size(); ++v)
            if (moved_[v] != 0)
                start_->vertices[v].position = saved_[v];
        ownBaseline_ = std::make_unique<FixBaseline>(*start_);
    }
    return *ownBaseline_;
}

// Relaxing is there to part a surface from itself, not to reshape the part: when what it moved
// leaves the part changed by the rules of the save's check, every move is put back.
void RepairRun::UndoMovesThatChangeThePart()
{
    if (std::find(moved_.begin(), moved_.end(), std::uint8_t{1}) == moved_.end())
        return;
    // Judged on its own, and where the caller gives the part before any fix, against that too
    // (a body the part as given leaves open has no volume to hold a change against).
    bool large = false;
    if (options_.judgeAgainst != nullptr) {
        TriangleMesh unmoved = mesh_;
        for (std::size_t v = 0; v < moved_.size(); ++v)
            if (moved_[v] != 0)
                unmoved.vertices[v].position = saved_[v];
        FixBaseline own(unmoved);
        large = IsLargeFixChange(MeasureFixChange(own, mesh_, false))
            || GoesFurther(MeasureFixChange(*options_.judgeAgainst, unmoved, false),
                           MeasureFixChange(*options_.judgeAgainst, mesh_, false));
    } else {
        large = IsLargeFixChange(MeasureFixChange(Baseline(), mesh_, false));
    }
    if (!large)
        return;
    PutBackMovedVertices();
    report_.movesUndone = true;
    intersecting_ = intersectingBefore_;
    if (report_.resolveChecked)
        report_.selfIntersectingTrianglesLeft = intersecting_.size();
    if (report_.unfoldChecked)
        report_.foldedTrianglesLeft = report_.foldedTriangles;
}

// The folded triangles among the flagged region, in index order.
std::vector<std::uint8_t> RepairRun::FoldedIn(const std::vector<std::uint8_t>& region,
                                              const std::vector<std::uint8_t>& near) const
{
    std::vector<std::uint8_t> folded(region.size(), 0);
    for (std::size_t t = 0; t < region.size(); ++t)
        folded[t] = static_cast<std::uint8_t>(
            region[t] != 0 && ClassifyFold(mesh_, adjacency_, static_cast<std::uint32_t>(t), near) == FoldKind::toUnfold);
    return folded;
}

// The triangles in crossing pairs. Only the triangles that moved since the last search are
// searched again where its record holds; otherwise those flagged in `fallback` (every triangle
// when it is empty), which must hold every pair that could have changed since. The answer is
// the whole mesh's either way.
std::vector<std::uint32_t> RepairRun::SearchSinceLast(std::span<const std::uint8_t> fallback)
{
    std::vector<std::uint32_t> pairs;
    bool stopped = false;
    if (!FindSelfIntersectionsSince(mesh_, lastSearch_, kNoPairLimit, pairs, stopped))
        FindSelfIntersections(mesh_, fallback, kNoPairLimit, pairs, stopped);
    lastSearch_.positions = CopyVertexPositions(mesh_);
    if (lastSearch_.indices != mesh_.indices)
        lastSearch_.indices = mesh_.indices;
    lastSearch_.focus.assign(mesh_.TriangleCount(), 1);
    lastSearch_.pairs = pairs;
    lastSearch_.testedPairs = 0;  // searched without a limit
    return DistinctTrianglesOfPairs(std::move(pairs));
}

void RepairRun::PutBackMovedVertices()
{
    for (std::size_t v = 0; v < moved_.size(); ++v) {
        if (moved_[v] != 0) {
            mesh_.vertices[v].position = saved_[v];
            moved_[v] = 0;
        }
    }
}

std::vector<std::uint32_t> ListFlagged(const std::vector<std::uint8_t>& flags)
{
    std::vector<std::uint32_t> list;
    for (std::size_t t = 0; t < flags.size(); ++t)
        if (flags[t] != 0)
            list.push_back(static_cast<std::uint32_t>(t));
    return list;
}

void RepairRun::Unfold()
{
    Say(progress_, "Unfolding folded-over triangles");
    report_.unfoldChecked = true;
    std::vector<std::uint8_t> near = MarkNearCrossings(mesh_, adjacency_, intersecting_);
    std::vector<std::uint32_t> folded;
    for (std::size_t t = 0; t < near.size(); ++t) {
        const auto tri = static_cast<std::uint32_t>(t);
        const FoldKind kind = ClassifyFold(mesh_, adjacency_, tri, near);
        if (kind == FoldKind::sharpPlace)
            ++report_.sharpPlacesKept;
        else if (kind == FoldKind::toUnfold)
            folded.push_back(tri);
    }
    // A fold taken in stays counted while relaxing works round it, crossing or not.
    for (const std::uint32_t tri : folded)
        near[tri] = 1;
    report_.foldedTriangles = folded.size();
    while (!folded.empty() && report_.unfoldRounds < rounds_) {
        ++report_.unfoldRounds;
        const std::vector<std::uint32_t> ring =
            GrowVertexRings(mesh_, adjacency_, folded, report_.unfoldRounds / 10 + 1);
        RelaxVerticesWithinLimits(mesh_, adjacency_, ring, saved_, moved_, pinned_, moveLimits_);
        folded = ListFlagged(FoldedIn(TrianglesUsing(mesh_, ring), near));
    }
    report_.foldedTrianglesLeft = folded.size();
    if (report_.unfoldRounds == 0)
        return;
    std::vector<std::uint32_t> after = SearchSinceLast({});
    if (after.size() > intersecting_.size()) {
        PutBackMovedVertices();
        report_.foldedTrianglesLeft = report_.foldedTriangles;
        report_.foldsLeftAsTheyAre = true;
    } else {
        intersecting_ = std::move(after);
    }
}

// Relaxes round the intersecting triangles, keeping the best state seen; gives up after the
// round limit or kStallLimit rounds without fewer intersecting triangles.
void RepairRun::Resolve()
{
    Say(progress_, "Resolving self-intersections");
    report_.resolveChecked = true;
    report_.selfIntersectingTriangles = intersecting_.size();
    std::vector<Vec3> bestPositions = CopyVertexPositions(mesh_);
    std::vector<std::uint8_t> bestMoved = moved_;
    std::vector<std::uint32_t> best = intersecting_;
    std::int32_t stall = 0;
    while (!intersecting_.empty() && report_.resolveRounds < rounds_ && stall < kStallLimit) {
        ++report_.resolveRounds;
        const std::int32_t depth = report_.resolveRounds / 10 + 1;
        const std::vector<std::uint32_t> ring = GrowVertexRings(mesh_, adjacency_, intersecting_, depth);
        std::vector<Vec3> before(ring.size());
        for (std::size_t i = 0; i < ring.size(); ++i)
            before[i] = mesh_.vertices[ring[i]].position;
        RelaxVerticesWithinLimits(mesh_, adjacency_, ring, saved_, moved_, pinned_, moveLimits_);
        bool still = true;
        for (std::size_t i = 0; i < ring.size() && still; ++i)
            still = SamePosition(before[i], mesh_.vertices[ring[i]].position);
        // A round that moved nothing leaves the crossings as they were. Every later round of
        // the same depth grows the same ring from them and relaxes it to the same places
        // again, so each changes nothing either: they are counted as the loop would run them,
        // not run (a part whose bodies pass through each other held still for a dozen rounds,
        // each a search of tens of thousands of pairs).
        if (!still)
            intersecting_ = SearchSinceLast(TrianglesUsing(mesh_, ring));
        if (intersecting_.size() < best.size()) {
            bestPositions = CopyVertexPositions(mesh_);
            bestMoved = moved_;
            best = intersecting_;
            stall = 0;
        } else {
            ++stall;
        }
        while (still && report_.resolveRounds < rounds_ && stall < kStallLimit
               && (report_.resolveRounds + 1) / 10 + 1 == depth) {
            ++report_.resolveRounds;
            ++stall;
        }
    }
    if (best.size() < intersecting_.size()
        || (!intersecting_.empty() && intersecting_.size() == best.size() && stall != 0)) {
        for (std::size_t v = 0; v < bestPositions.size(); ++v)
            mesh_.vertices[v].position = bestPositions[v];
        moved_ = std::move(bestMoved);
        intersecting_ = std::move(best);
    }
    report_.selfIntersectingTrianglesLeft = intersecting_.size();
}

void RepairRun::TallyMovement()
{
    for (std::size_t v = 0; v < moved_.size(); ++v) {
        if (moved_[v] == 0)
            continue;
        ++report_.verticesMoved;
        const float distance = static_cast<float>(LengthOf(mesh_.vertices[v].position - saved_[v]));
        report_.furthestMoveMillimetres = std::max(report_.furthestMoveMillimetres, distance);
        if (bodySizes_[v] > 0.0f)
            report_.furthestMoveShare = std::max(report_.furthestMoveShare, distance / bodySizes_[v]);
    }
}

// A local simplification of the triangles round `region` only, on a copy. The target is
// `subtract` triangles fewer than now; false (nothing run) when that would leave none, since
// a target of 0 means "no target" and would let the collapse run through the whole region.
bool SimplifyRegion(const TriangleMesh& mesh, const std::vector<std::uint8_t>& region, std::uint64_t subtract,
                    std::int32_t bedAxis, float edgeLimit, TriangleMesh& copy, MeshSimplifyReport& result)
{
    const std::uint64_t triangles = mesh.TriangleCount();
    if (subtract >= triangles)
        return false;
    std::vector<std::uint8_t> outside(region.size(), 0);
    for (std::size_t t = 0; t < region.size(); ++t)
        outside[t] = static_cast<std::uint8_t>(region[t] == 0);
    MeshSimplifyOptions options;
    options.maximumError = kNoErrorLimit;
    options.targetTriangles = triangles - subtract;
    options.bedAxis = bedAxis;
    options.maximumNormalTurnDegrees = kRepairTurnDegrees;
    options.measureMovement = false;
    options.protectedTriangles = &outside;
    options.maximumEdgeMillimetres = edgeLimit;
    // These collapses are there to take crossings away, which a fold on the way may serve.
    options.refuseFolds = false;
    copy = mesh;
    result = SimplifyMesh(copy, options, {});
    return true;
}

void RepairRun::CollapseLeftovers()
{
    Say(progress_, "Collapsing what relaxing left");
    const float edgeLimit = 3.0f * MedianLongestEdge(mesh_);
    const std::uint64_t before = mesh_.TriangleCount();
    // A collapse is judged against what relaxing left, and where the caller gives the part
    // before any fix, against that too, as relaxing is.
    const TriangleMesh start = mesh_;
    FixBaseline ownStart(start);
    const FixChangeReport prior = options_.judgeAgainst != nullptr
        ? MeasureFixChange(*options_.judgeAgainst, mesh_, false) : FixChangeReport{};
    for (std::int32_t k = 1; k <= kCollapsePasses && !intersecting_.empty(); ++k) {
        adjacency_ = BuildVertexAdjacency(mesh_);
        const std::vector<std::uint8_t> region =
            TrianglesUsing(mesh_, GrowVertexRings(mesh_, adjacency_, intersecting_, k));
        const std::uint64_t regionSize = CountFlags(region);
        if (regionSize == 0)
            break;
        TriangleMesh copy;
        MeshSimplifyReport result;
        if (!SimplifyRegion(mesh_, region, std::max<std::uint64_t>(2, regionSize / 2), 2, edgeLimit, copy, result))
            continue;
        ++report_.collapsePasses;
        if (result.trianglesAfter >= result.trianglesBefore)
            continue;
        std::vector<std::uint8_t> focus(result.faceMap.size(), 0);
        for (std::size_t t = 0; t < focus.size(); ++t)
            focus[t] = region[result.faceMap[t]];
        std::vector<std::uint32_t> after = SearchIntersections(copy, focus);
        if (after.size() >= intersecting_.size())
            break;
        // A collapse that takes a body's shape with it mends nothing the user wants mended.
        if (IsLargeFixChange(MeasureFixChange(ownStart, copy, false))
            || (options_.judgeAgainst != nullptr
                && GoesFurther(prior, MeasureFixChange(*options_.judgeAgainst, copy, false)))) {
            report_.collapseRefused = true;
            break;
        }
        mesh_ = std::move(copy);
        intersecting_ = std::move(after);
    }
    report_.tinyTrianglesCollapsed = before - mesh_.TriangleCount();
    report_.selfIntersectingTrianglesLeft = intersecting_.size();
}

void RepairRun::FinalNoAreaPass()
{
    std::vector<std::uint32_t> noArea = ListNoAreaTriangles(mesh_);
    if (noArea.size() > report_.noAreaTrianglesLeft)
        report_.noAreaTriangles += noArea.size() - report_.noAreaTrianglesLeft;
    if (!noArea.empty()) {
        const std::uint64_t turned = RemoveNoAreaTriangles(mesh_);
        if (turned != 0) {
            report_.noAreaTurned += turned;
            noArea = ListNoAreaTriangles(mesh_);
        }
    }
    const std::uint64_t before = mesh_.TriangleCount();
    for (std::int32_t k = 1; k <= kCollapsePasses && !noArea.empty(); ++k) {
        Say(progress_, "Removing triangles with no area");
        adjacency_ = BuildVertexAdjacency(mesh_);
        const std::vector<std::uint8_t> region =
            TrianglesUsing(mesh_, GrowVertexRings(mesh_, adjacency_, noArea, k - 1));
        TriangleMesh copy;
        MeshSimplifyReport result;
        if (!SimplifyRegion(mesh_, region, 2 * static_cast<std::uint64_t>(noArea.size()), -1,
                            3.0f * MedianLongestEdge(mesh_), copy, result))
            continue;
        if (result.trianglesAfter >= result.trianglesBefore)
            continue;
        std::vector<std::uint32_t> left = ListNoAreaTriangles(copy);
        if (left.size() < noArea.size()) {
            mesh_ = std::move(copy);
            noArea = std::move(left);
        }
    }
    report_.noAreaTrianglesLeft = noArea.size();
    report_.tinyTrianglesCollapsed += before - mesh_.TriangleCount();
}

std::string Fixed(double value, int decimals)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

std::string N(std::uint64_t value) { return FormatCountGrouped(value); }

// The adjacency has the offsets of a mesh with this many vertices.
bool FitsAdjacency(const TriangleMesh& mesh, const VertexAdjacency& adjacency)
{
    return adjacency.neighbourOffsets.size() == mesh.vertices.size() + 1 &&
           adjacency.triangleOffsets.size() == mesh.vertices.size() + 1;
}

// Triangle t exists and names only vertices the mesh has. The per-triangle tests check this
// much rather than the whole mesh, since they are asked once per triangle; the adjacency,
// built from the same mesh, lists no triangle of an inconsistent one.
bool IsUsableTriangle(const TriangleMesh& mesh, const VertexAdjacency& adjacency, std::uint32_t t)
{
    if (t >= mesh.TriangleCount() || !FitsAdjacency(mesh, adjacency))
        return false;
    for (int k = 0; k < 3; ++k)
        if (mesh.indices[3 * std::size_t{t} + k] >= mesh.vertices.size())
            return false;
    return true;
}

}  // namespace

RepairReport RepairMesh(TriangleMesh& mesh, const RepairOptions& options, const RepairProgress& progress,
                        [[maybe_unused]] std::uint64_t bodiesBefore)
{
    const auto start = std::chrono::steady_clock::now();
    RepairReport report;
    if (!mesh.IsConsistent())
        return report;
    RepairRun run(mesh, options, progress, report);
    if (options.splitNonManifoldEdges)
        run.FixNonManifold();
    run.RemoveStrayCrumbs();
    run.MendNoAreaTriangles();
    if (options.unfoldTriangles || options.resolveSelfIntersections) {
        run.Prepare();
        if (options.unfoldTriangles)
            run.Unfold();
        if (options.resolveSelfIntersections)
            run.Resolve();
        run.UndoMovesThatChangeThePart();
        run.TallyMovement();
        if (options.resolveSelfIntersections && report.selfIntersectingTrianglesLeft != 0)
            run.CollapseLeftovers();
        run.FinalNoAreaPass();
        if (report.verticesMoved != 0 || report.tinyTrianglesCollapsed != 0) {
            mesh.ComputeBounds();
            mesh.ComputeVertexNormals();
        }
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    report.elapsedMilliseconds =
        static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()) / 1000000.0;
    return report;
}

std::uint64_t CountNoAreaTriangles(const TriangleMesh& mesh)
{
    std::uint64_t count = 0;
    if (!mesh.IsConsistent())
        return count;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t)
        if (mesh.FaceNormal(t) == Vec3{})
            ++count;
    return count;
}

std::vector<std::uint32_t> ListNoAreaTriangles(const TriangleMesh& mesh)
{
    std::vector<std::uint32_t> list;
    if (!mesh.IsConsistent())
        return list;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t)
        if (mesh.FaceNormal(t) == Vec3{})
            list.push_back(static_cast<std::uint32_t>(t));
    return list;
}

std::vector<Vec3> CopyVertexPositions(const TriangleMesh& mesh)
{
    std::vector<Vec3> positions;
    positions.reserve(mesh.vertices.size());
    for (const MeshVertex& v : mesh.vertices)
        positions.push_back(v.position);
    return positions;
}

void WriteRepairOptions(const JsonNode& node, const RepairOptions& options)
{
    node.PutBool("splitNonManifoldEdges", options.splitNonManifoldEdges);
    node.PutBool("unfoldTriangles", options.unfoldTriangles);
    node.PutBool("resolveSelfIntersections", options.resolveSelfIntersections);
    node.PutBool("removeCrumbs", options.removeCrumbs);
    node.PutInt("maximumRounds", options.maximumRounds);
    node.PutFloat("maximumMoveMillimetres", options.maximumMoveMillimetres);
}

void ReadRepairOptions(const JsonView& view, RepairOptions& options)
{
    (void)GetJsonPathBool(view, "splitNonManifoldEdges", options.splitNonManifoldEdges);
    (void)GetJsonPathBool(view, "unfoldTriangles", options.unfoldTriangles);
    (void)GetJsonPathBool(view, "resolveSelfIntersections", options.resolveSelfIntersections);
    (void)GetJsonPathBool(view, "removeCrumbs", options.removeCrumbs);
    (void)view.FindMember("maximumRounds").TakeInt32(options.maximumRounds);
    (void)view.FindMember("maximumMoveMillimetres").TakeFloat(options.maximumMoveMillimetres);
}

namespace {

// The size and place of what a repair removed, to follow its count.
std::string RemovedBodiesText(std::span<const CrumbRecord> removed)
{
    if (removed.empty())
        return {};
    const RemovedBodiesSummary summary = SummariseRemovedBodies(removed);
    return std::string(removed.size() == 1 ? "; " : "; the largest ") + FormatBodySizeAndPlace(summary.largest);
}

}  // namespace

std::string FormatRepairDetails(const RepairReport& r)
{
    std::string text;
    if (r.nonManifoldChecked) {
        if (r.nonManifoldEdges == 0) {
            text += "  non-manifold edges: none\n";
        } else {
            text += "  non-manifold edges: " + N(r.nonManifoldEdges);
            if (!r.crumbsChecked && r.bodiesRemoved != 0)
                text += ", " + FormatCountOf(r.bodiesRemoved, "stray body", "stray bodies") + " it freed removed ("
                    + FormatCountOf(r.bodyTrianglesRemoved, "triangle", "triangles") + RemovedBodiesText(r.removedBodies) + ")";
            if (r.doubleSkinnedPairsRemoved != 0)
                text += ", " + N(r.doubleSkinnedPairsRemoved) + " double-skinned triangle "
                    + std::string(PluralWord(r.doubleSkinnedPairsRemoved, "pair", "pairs")) + " removed";
            if (r.flippedCopiesRemoved != 0)
                text += ", " + FormatCountOf(r.flippedCopiesRemoved, "flipped copy", "flipped copies") + " of a face removed";
            if (r.innerCopiesRemoved != 0)
                text += ", " + FormatCountOf(r.innerCopiesRemoved, "inward copy", "inward copies") + " of a double-sided body removed";
            if (r.duplicatesRemoved != 0)
                text += ", " + FormatCountOf(r.duplicatesRemoved, "duplicate triangle", "duplicate triangles") + " removed";
            text += ", " + FormatCountOf(r.verticesSplit, "vertex", "vertices") + " split, " + N(r.nonManifoldEdgesLeft) + " left\n";
        }
    }
    if (r.crumbsChecked) {
        if (r.bodiesRemoved == 0)
            text += "  stray crumbs: none\n";
        else
            text += "  stray crumbs: " + FormatCountOf(r.bodiesRemoved, "small body", "small bodies") + " removed ("
                + FormatCountOf(r.bodyTrianglesRemoved, "triangle", "triangles") + RemovedBodiesText(r.removedBodies) + ")\n";
    }
    if (r.unfoldChecked) {
        // Folds at sharp places are never among those relaxed or left: said apart, so that a "0
        // left" does not read against the check's own count of them below.
        const std::string sharp = r.sharpPlacesKept == 0 ? std::string()
            : "; " + N(r.sharpPlacesKept) + " more at sharp places that cross nothing, left exactly as "
                + std::string(PluralWord(r.sharpPlacesKept, "it is", "they are"));
        if (r.foldedTriangles != 0 && r.foldsLeftAsTheyAre)
            text += "  folded triangles: " + N(r.foldedTriangles)
                + " left as they are (relaxing them put more of the surface through itself)" + sharp + "\n";
        else if (r.foldedTriangles != 0)
            text += "  folded triangles: " + N(r.foldedTriangles) + " relaxed in "
                + FormatCountOf(r.unfoldRounds, "round", "rounds") + ", " + N(r.foldedTrianglesLeft) + " left where they crossed or folded back" + sharp + "\n";
        else if (r.sharpPlacesKept != 0)
            text += "  folded triangles: none that cross anything ("
                + FormatCountOf(r.sharpPlacesKept, "sharp place left exactly as it is", "sharp places left exactly as they are")
                + ")\n";
        else
            text += "  folded triangles: none\n";
    }
    if (r.resolveChecked) {
        if (r.selfIntersectingTriangles != 0) {
            text += "  self-intersecting triangles: " + N(r.selfIntersectingTriangles) + " relaxed in "
                + FormatCountOf(r.resolveRounds, "round", "rounds");
            if (r.collapsePasses != 0)
                text += ", then " + FormatCountOf(r.tinyTrianglesCollapsed, "tiny triangle", "tiny triangles")
                    + " collapsed where relaxing could not part them";
            text += ", " + N(r.selfIntersectingTrianglesLeft) + " left\n";
        } else {
            text += "  self-intersections: none\n";
        }
    }
    // The rule IsLargeFixChange applies, as the check states it.
    const std::string rules = "a body by more than " + FormatFixed(100.0 * kLargestFixChangeShare, 0)
        + "% of its volume or size, or left its corners more than " + FormatFixed(100.0 * kMoveShareOfBodySize, 0)
        + "% of its size off";
    if (r.movesUndone)
        text += "  relaxing put back: it changed " + rules + "\n";
    if (r.collapseRefused)
        text += "  collapsing stopped: it would have changed " + rules + "\n";
    if (r.noAreaTriangles != 0) {
        text += "  triangles with no area: " + N(r.noAreaTriangles);
        if (r.noAreaTurned != 0)
            text += ", " + N(r.noAreaTurned) + " removed by turning an edge";
        const std::uint64_t gone = r.noAreaTriangles > r.noAreaTrianglesLeft ? r.noAreaTriangles - r.noAreaTrianglesLeft : 0;
        if (gone > r.noAreaTurned)
            text += ", " + N(gone - r.noAreaTurned) + " collapsed away";
        text += ", " + N(r.noAreaTrianglesLeft) + " left\n";
    }
    if (r.verticesMoved != 0)
        text += "  " + FormatCountOf(r.verticesMoved, "vertex", "vertices") + " moved, the furthest by " + Fixed(r.furthestMoveMillimetres, 3)
            + " mm\n";
    text += "  in " + Fixed(r.elapsedMilliseconds, 0) + " ms\n";
    return text;
}

float MedianLongestEdge(const TriangleMesh& mesh)
{
    const std::size_t count = mesh.TriangleCount();
    if (count == 0 || !mesh.IsConsistent())
        return 0.0f;
    std::vector<float> longest(count);
    for (std::size_t t = 0; t < count; ++t) {
        const Vec3 p0 = mesh.vertices[mesh.indices[3 * t]].position;
        const Vec3 p1 = mesh.vertices[mesh.indices[3 * t + 1]].position;
        const Vec3 p2 = mesh.vertices[mesh.indices[3 * t + 2]].position;
        longest[t] = static_cast<float>(std::max({LengthOf(p1 - p0), LengthOf(p2 - p1), LengthOf(p0 - p2)}));
    }
    // NaN (from a NaN coordinate) sorts after every number: with plain < the order would not
    // be strict and nth_element could run past the ends.
    std::nth_element(longest.begin(), longest.begin() + static_cast<std::ptrdiff_t>(count / 2), longest.end(),
                     [](float a, float b) { return a == a && (b != b || a < b); });
    return longest[count / 2];
}

std::vector<std::uint8_t> MarkLongEdgeVertices(const TriangleMesh& mesh)
{
    std::vector<std::uint8_t> pinned(mesh.vertices.size(), 0);
    if (!mesh.IsConsistent())
        return pinned;
    const double threshold = 4.0 * static_cast<double>(MedianLongestEdge(mesh));
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t a = mesh.indices[3 * t + k];
            const std::uint32_t b = mesh.indices[3 * t + (k + 1) % 3];
            if (LengthOf(mesh.vertices[b].position - mesh.vertices[a].position) > threshold) {
                pinned[a] = 1;
                pinned[b] = 1;
            }
        }
    }
    return pinned;
}

std::vector<std::uint32_t> GrowVertexRings(const TriangleMesh& mesh, const VertexAdjacency& adjacency,
                                           std::span<const std::uint32_t> triangles, std::int32_t rings)
{
    std::vector<std::uint8_t> listed(mesh.vertices.size(), 0);
    std::vector<std::uint32_t> list;
    if (!mesh.IsConsistent() || !FitsAdjacency(mesh, adjacency))
        return list;
    for (const std::uint32_t t : triangles) {
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t v = mesh.indices[3 * std::size_t{t} + k];
            if (listed[v] == 0) {
                listed[v] = 1;
                list.push_back(v);
            }
        }
    }
    // A vertex listed before the previous ring has all its neighbours listed already, so each
    // ring only needs to look at the vertices the previous ring added.
    std::size_t ringStart = 0;
    for (std::int32_t ring = 0; ring < rings; ++ring) {
        const std::size_t ringEnd = list.size();
        for (std::size_t i = ringStart; i < ringEnd; ++i) {
            const std::uint32_t v = list[i];
            for (std::uint32_t n = adjacency.neighbourOffsets[v]; n < adjacency.neighbourOffsets[v + 1]; ++n) {
                const std::uint32_t w = adjacency.neighbours[n];
                if (listed[w] == 0) {
                    listed[w] = 1;
                    list.push_back(w);
                }
            }
        }
        ringStart = ringEnd;
    }
    return list;
}

void RelaxVerticesWithinLimit(TriangleMesh& mesh, const VertexAdjacency& adjacency,
                              std::span<const std::uint32_t> vertices, std::vector<Vec3>& saved,
                              std::vector<std::uint8_t>& moved, const std::vector<std::uint8_t>& pinned,
                              float moveLimit)
{
    const std::vector<float> limits(mesh.vertices.size(), moveLimit);
    RelaxVerticesWithinLimits(mesh, adjacency, vertices, saved, moved, pinned, limits);
}

std::vector<float> BodySizeAtVertices(const TriangleMesh& mesh)
{
    std::vector<float> sizes;
    if (!mesh.IsConsistent())
        return sizes;
    const std::vector<std::uint32_t> piece = LabelVertexPieces(mesh);
    constexpr float kHuge = std::numeric_limits<float>::max();
    std::vector<Vec3> low(piece.size(), Vec3{kHuge, kHuge, kHuge});
    std::vector<Vec3> high(piece.size(), Vec3{-kHuge, -kHuge, -kHuge});
    for (const std::uint32_t v : mesh.indices) {
        const std::uint32_t r = piece[v];
        const Vec3 p = mesh.vertices[v].position;
        low[r] = {std::min(low[r].x, p.x), std::min(low[r].y, p.y), std::min(low[r].z, p.z)};
        high[r] = {std::max(high[r].x, p.x), std::max(high[r].y, p.y), std::max(high[r].z, p.z)};
    }
    sizes.assign(piece.size(), 0.0f);
    for (std::uint32_t v = 0; v < piece.size(); ++v) {
        const std::uint32_t r = piece[v];
        if (low[r].x > high[r].x)
            continue;
        // A flat body (a sheet in one plane) is measured by its smallest side in that plane.
        for (const float side : {high[r].x - low[r].x, high[r].y - low[r].y, high[r].z - low[r].z})
            if (side > 0.0f && (sizes[v] == 0.0f || side < sizes[v]))
                sizes[v] = side;
    }
    return sizes;
}

std::vector<float> VertexMoveLimits(std::span<const float> bodySizes, float moveLimit)
{
    const float limit = std::max(0.0f, moveLimit);
    std::vector<float> limits(bodySizes.size());
    for (std::size_t v = 0; v < limits.size(); ++v)
        limits[v] = std::min(limit, kMoveShareOfBodySize * bodySizes[v]);
    return limits;
}

void RelaxVerticesWithinLimits(TriangleMesh& mesh, const VertexAdjacency& adjacency,
                               std::span<const std::uint32_t> vertices, std::vector<Vec3>& saved,
                               std::vector<std::uint8_t>& moved, const std::vector<std::uint8_t>& pinned,
                               std::span<const float> moveLimits)
{
    std::vector<Vec3> target(vertices.size());
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const std::uint32_t v = vertices[i];
        const Vec3 current = mesh.vertices[v].position;
        const std::uint32_t first = adjacency.neighbourOffsets[v];
        const std::uint32_t last = adjacency.neighbourOffsets[v + 1];
        if (first == last) {
            target[i] = current;
            continue;
        }
        Vec3 sum;
        for (std::uint32_t n = first; n < last; ++n)
            sum += mesh.vertices[adjacency.neighbours[n]].position;
        const Vec3 mean = sum * (1.0f / static_cast<float>(last - first));
        target[i] = current + (mean - current) * 0.5f;
    }
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const std::uint32_t v = vertices[i];
        if (pinned[v] != 0)
            continue;
        if (moved[v] == 0) {
            saved[v] = mesh.vertices[v].position;
            moved[v] = 1;
        }
        const double moveLimit = v < moveLimits.size() ? std::max(0.0f, moveLimits[v]) : 0.0;
        Vec3 d = target[i] - saved[v];
        const double length = LengthOf(d);
        if (length > moveLimit && length > 0.0)
            d = d * static_cast<float>(moveLimit / length);
        mesh.vertices[v].position = saved[v] + d;
    }
}

bool IsFoldedOver(const TriangleMesh& mesh, const VertexAdjacency& adjacency, std::uint32_t t)
{
    if (!IsUsableTriangle(mesh, adjacency, t))
        return false;
    auto crossOf = [&mesh](std::uint32_t tri) {
        const Vec3 p0 = mesh.vertices[mesh.indices[3 * std::size_t{tri}]].position;
        return Cross(mesh.vertices[mesh.indices[3 * std::size_t{tri} + 1]].position - p0,
                     mesh.vertices[mesh.indices[3 * std::size_t{tri} + 2]].position - p0);
    };
    const Vec3 n = crossOf(t);
    Vec3 sum;
    for (int k = 0; k < 3; ++k) {
        const std::uint32_t v = mesh.indices[3 * std::size_t{t} + k];
        for (std::uint32_t i = adjacency.triangleOffsets[v]; i < adjacency.triangleOffsets[v + 1]; ++i)
            sum += crossOf(adjacency.triangles[i]);
    }
    const double nLength = LengthOf(n);
    const double sLength = LengthOf(sum);
    if (nLength == 0.0 || sLength == 0.0)
        return false;
    return static_cast<double>(Dot(n, sum)) < -0.3 * nLength * sLength;
}

std::vector<std::uint8_t> MarkNearCrossings(const TriangleMesh& mesh, const VertexAdjacency& adjacency,
                                            std::span<const std::uint32_t> crossing)
{
    if (crossing.empty() || !mesh.IsConsistent() || !FitsAdjacency(mesh, adjacency))
        return std::vector<std::uint8_t>(mesh.TriangleCount(), 0);
    return TrianglesUsing(mesh, GrowVertexRings(mesh, adjacency, crossing, 1));
}

FoldKind ClassifyFold(const TriangleMesh& mesh, const VertexAdjacency& adjacency, std::uint32_t t,
                      std::span<const std::uint8_t> near)
{
    if (!IsFoldedOver(mesh, adjacency, t))
        return FoldKind::none;
    if ((t < near.size() && near[t] != 0) || IsFoldedOntoNeighbour(mesh, adjacency, t))
        return FoldKind::toUnfold;
    return FoldKind::sharpPlace;
}

FoldCounts CountFolds(const TriangleMesh& mesh, std::span<const std::uint32_t> crossing)
{
    FoldCounts counts;
    if (!mesh.IsConsistent())
        return counts;
    const VertexAdjacency adjacency = BuildVertexAdjacency(mesh);
    const std::vector<std::uint8_t> near = MarkNearCrossings(mesh, adjacency, crossing);
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const FoldKind kind = ClassifyFold(mesh, adjacency, static_cast<std::uint32_t>(t), near);
        counts.toUnfold += kind == FoldKind::toUnfold ? 1 : 0;
        counts.sharpPlaces += kind == FoldKind::sharpPlace ? 1 : 0;
    }
    return counts;
}

bool IsFoldedOntoNeighbour(const TriangleMesh& mesh, const VertexAdjacency& adjacency, std::uint32_t t)
{
    if (!IsUsableTriangle(mesh, adjacency, t))
        return false;
    const std::uint32_t* c = &mesh.indices[3 * std::size_t{t}];
    auto position = [&mesh](std::uint32_t v) { return mesh.vertices[v].position; };
    const Vec3 n = Cross(position(c[1]) - position(c[0]), position(c[2]) - position(c[0]));
    const double nLength = LengthOf(n);
    if (nLength == 0.0)
        return false;
    for (int k = 0; k < 3; ++k) {
        const std::uint32_t a = c[k];
        const std::uint32_t b = c[(k + 1) % 3];
        std::uint32_t other = 0;
        int found = 0;
        for (std::uint32_t i = adjacency.triangleOffsets[a]; i < adjacency.triangleOffsets[a + 1]; ++i) {
            const std::uint32_t u = adjacency.triangles[i];
            const std::uint32_t* uc = &mesh.indices[3 * std::size_t{u}];
            if (u != t && (uc[0] == b || uc[1] == b || uc[2] == b)) {
                other = u;
                ++found;
            }
        }
        if (found != 1)
            continue;
        const std::uint32_t* uc = &mesh.indices[3 * std::size_t{other}];
        const Vec3 m = Cross(position(uc[1]) - position(uc[0]), position(uc[2]) - position(uc[0]));
        const double mLength = LengthOf(m);
        if (mLength == 0.0 || static_cast<double>(Dot(n, m)) > -0.9 * nLength * mLength)
            continue;
        std::uint32_t q = uc[0];
        for (int j = 0; j < 3; ++j)
            if (uc[j] != a && uc[j] != b)
                q = uc[j];
        const Vec3 toQ = position(q) - position(a);
        if (static_cast<double>(Dot(n, toQ)) / nLength >= -0.0001 * LengthOf(toQ))
            return true;
    }
    return false;
}

std::vector<std::uint32_t> DistinctTrianglesOfPairs(std::vector<std::uint32_t> pairs)
{
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    return pairs;
}

}  // namespace grainforge::mesh
