#include "engine/displacement/fold_guard.h"

#include "engine/displacement/corner_moves.h"
#include "engine/displacement/crossing_guard.h"
#include "engine/displacement/plain_rims.h"
#include "engine/displacement/vertex_displacement.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace grainforge::mesh::detail {
namespace {

// Neighbouring triangles whose normals lie further apart than this (120 degrees) meet at an edge
// sharper than 60 degrees: where the relief made one, one is folded onto the other.
constexpr float kFoldedEdgeCosine = -0.5f;
constexpr float kEasedTolerance = 1.01f;
constexpr float kEasedSlack = 0.00001f;

float TiltCosine(float maximumTiltDegrees)
{
    const float tilt = std::isnan(maximumTiltDegrees)
        ? DisplacementSettings{}.maximumTiltDegrees
        : std::clamp(maximumTiltDegrees, kMinimumFoldTiltDegrees, kMaximumFoldTiltDegrees);
    return static_cast<float>(std::cos(static_cast<double>(tilt) * 3.14159265358979323846 / 180.0));
}

Vec3 CurrentNormal(const DisplacementRun& run, std::uint32_t t)
{
    const std::uint32_t* corners = &run.mesh.indices[3 * static_cast<std::size_t>(t)];
    const Vec3 a = run.mesh.vertices[corners[0]].position;
    return Normalized(Cross(run.mesh.vertices[corners[1]].position - a, run.mesh.vertices[corners[2]].position - a));
}

// Whether the relief folded triangle t onto a neighbour: their normals, which started within
// 120 degrees of each other, now lie further apart. A sliver along a crease between two faces
// of the relief, or a small triangle beside a plain face held in its plane, folds so while it
// leans less than the tilt from where it faced.
bool FoldsOntoNeighbour(const DisplacementRun& run, const FoldGuard& guard, std::uint32_t t)
{
    const Vec3 start = guard.startNormals[t];
    if (IsZero(start))
        return false;
    Vec3 now;
    for (std::size_t k = 0; k < 3; ++k) {
        const std::uint32_t f = run.across[3 * static_cast<std::size_t>(t) + k];
        if (f == kNone || IsZero(guard.startNormals[f]) || Dot(start, guard.startNormals[f]) < kFoldedEdgeCosine)
            continue;
        if (IsZero(now))
            now = CurrentNormal(run, t);
        if (Dot(now, CurrentNormal(run, f)) < kFoldedEdgeCosine)
            return true;
    }
    return false;
}

// The eased offset of one vertex: halfway towards the mean offset of its neighbours, and never
// longer than its own move.
Vec3 EasedOffset(const DisplacementRun& run, const FoldGuard& guard, std::uint32_t v)
{
    const auto offsetOf = [&](std::uint32_t w) { return run.mesh.vertices[w].position - run.start[w]; };
    const Vec3 own = offsetOf(v);
    Vec3 sum;
    std::uint32_t count = 0;
    for (std::uint32_t j = guard.faces->triangleOffsets[v]; j < guard.faces->triangleOffsets[v + 1]; ++j) {
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint32_t w = run.mesh.indices[3 * static_cast<std::size_t>(guard.faces->triangles[j]) + k];
            if (w != v) {
                sum += offsetOf(w);
                ++count;
            }
        }
    }
    if (count == 0)
        return own;
    Vec3 eased = (sum * (1.0f / static_cast<float>(count)) + own) * 0.5f;
    const float length = Length(eased);
    if (length > guard.moveLengths[v] && length > 0.0f)
        eased = eased * (guard.moveLengths[v] / length);
    return eased;
}

// One round of scaling back: each triangle that still folds, in index order, gives up the least
// of its corners' moves that leaves it unfolded. Returns the triangles round the corners
// moved that fold now, and those that did not give way; `gaveWay` says whether any did.
std::vector<std::uint32_t> ScaleBackFoldRound(DisplacementRun& run, FoldGuard& guard,
    const std::vector<std::uint32_t>& folded, bool& gaveWay, std::vector<std::uint8_t>* focus)
{
    gaveWay = false;
    std::vector<std::uint32_t> touched;
    for (const std::uint32_t t : folded) {
        if (!Folds(run, guard, t))
            continue;  // a triangle before it in this round gave way for it
        const auto folds = [&] { return Folds(run, guard, t); };
        CornerMoves corners;
        corners.Add(run, t);
        if (!TakeBackLeast(run, corners, folds)) {
            // Folded onto a neighbour that moved: the two give way together.
            for (std::size_t k = 0; k < 3; ++k) {
                const std::uint32_t f = run.across[3 * static_cast<std::size_t>(t) + k];
                if (f != kNone)
                    corners.Add(run, f);
            }
            if (!TakeBackLeast(run, corners, folds))
                continue;
        }
        gaveWay = true;
        for (std::size_t i = 0; i < corners.count; ++i) {
            const std::uint32_t v = corners.vertices[i];
            guard.eased[v] = 1;
            touched.insert(touched.end(), guard.faces->triangles.begin() + guard.faces->triangleOffsets[v],
                guard.faces->triangles.begin() + guard.faces->triangleOffsets[v + 1]);
            if (focus != nullptr)
                FlagTrianglesRound(*guard.faces, v, *focus);
        }
    }
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    std::erase_if(touched, [&](std::uint32_t t) { return !Folds(run, guard, t); });
    // A triangle that even put back folds (onto a neighbour that folds it) is left to that
    // neighbour's round, or to the easing after these rounds.
    for (const std::uint32_t t : folded) {
        if (Folds(run, guard, t) && !std::binary_search(touched.begin(), touched.end(), t))
            touched.insert(std::upper_bound(touched.begin(), touched.end(), t), t);
    }
    return touched;
}

}  // namespace

GuardRound PlanFoldRound(std::uint32_t round)
{
    const TakeBack takeBack = round >= kFoldPutBackFromRound ? TakeBack::putBack
        : round >= kFoldHalvingFromRound                     ? TakeBack::halve
                                                             : TakeBack::easeTowardsNeighbours;
    return {.widen = round >= kWidenFromRound, .takeBack = takeBack};
}

FoldGuard StartFoldGuard(DisplacementRun& run)
{
    const TriangleMesh& mesh = run.mesh;
    FoldGuard guard;
    guard.cosineOfTilt = TiltCosine(run.settings.maximumTiltDegrees);
    guard.startNormals.resize(mesh.TriangleCount());
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const Vec3 a = run.start[mesh.indices[3 * t]];
        guard.startNormals[t] =
            Normalized(Cross(run.start[mesh.indices[3 * t + 1]] - a, run.start[mesh.indices[3 * t + 2]] - a));
    }
    if (run.across.size() != 3 * mesh.TriangleCount())
        BuildEdgeUses(run);
    if (run.vertexFaces.triangleOffsets.size() != mesh.vertices.size() + 1)
        run.vertexFaces = BuildVertexAdjacency(mesh);
    guard.faces = &run.vertexFaces;
    guard.moveLengths.resize(mesh.vertices.size());
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v)
        guard.moveLengths[v] = Length(mesh.vertices[v].position - run.start[v]);
    guard.eased.assign(mesh.vertices.size(), 0);
    guard.mark.assign(mesh.vertices.size(), 0);
    return guard;
}

bool Folds(const DisplacementRun& run, const FoldGuard& guard, std::uint32_t t)
{
    const std::uint32_t* corners = &run.mesh.indices[3 * static_cast<std::size_t>(t)];
    return TriangleFoldsOver(run.mesh.vertices[corners[0]].position, run.mesh.vertices[corners[1]].position,
               run.mesh.vertices[corners[2]].position, guard.startNormals[t], guard.cosineOfTilt)
        || FoldsOntoNeighbour(run, guard, t);
}

std::vector<std::uint32_t> FoldedTriangles(const DisplacementRun& run, const FoldGuard& guard)
{
    std::vector<std::uint32_t> folded;
    for (std::size_t t = 0; t < run.mesh.TriangleCount(); ++t) {
        if (Folds(run, guard, static_cast<std::uint32_t>(t)))
            folded.push_back(static_cast<std::uint32_t>(t));
    }
    return folded;
}

std::vector<std::uint32_t> EaseFoldRound(DisplacementRun& run, FoldGuard& guard,
    const std::vector<std::uint32_t>& folded, GuardRound plan)
{
    // Each round takes its work set under a stamp of its own, so no vertex counts as taken
    // already from an earlier round.
    const std::vector<std::uint32_t> work =
        GuardWorkSet(run.mesh, *guard.faces, folded, plan.widen, guard.mark, ++guard.lastStamp);
    std::vector<Vec3> offsets(work.size());
    for (std::size_t i = 0; i < work.size(); ++i) {
        const std::uint32_t v = work[i];
        offsets[i] = plan.takeBack == TakeBack::easeTowardsNeighbours
            ? EasedOffset(run, guard, v)
            : (run.mesh.vertices[v].position - run.start[v]) * KeptShare(plan.takeBack);
    }
    const BaseGuard base(run.settings);
    std::vector<std::uint32_t> touched;
    for (std::size_t i = 0; i < work.size(); ++i) {
        const std::uint32_t v = work[i];
        if (run.states[v] == kUntouched)
            continue;  // it had no move to ease
        // A levelled vertex eases within its level, so the base stays flat.
        if (run.states[v] == kLevelled)
            AxisSlot(offsets[i], base.axis) = 0.0f;
        offsets[i] = KeptInPlainPlanes(run, v, offsets[i]);
        run.mesh.vertices[v].position = run.start[v] + offsets[i];
        guard.eased[v] = 1;
        touched.insert(touched.end(), guard.faces->triangles.begin() + guard.faces->triangleOffsets[v],
            guard.faces->triangles.begin() + guard.faces->triangleOffsets[v + 1]);
    }
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    std::erase_if(touched, [&](std::uint32_t t) { return !Folds(run, guard, t); });
    return touched;
}

std::vector<std::uint32_t> ScaleBackFolds(DisplacementRun& run, FoldGuard& guard, std::vector<std::uint32_t> folded,
    std::vector<std::uint8_t>* focus)
{
    for (int round = 0; !folded.empty() && round < kFoldScaleBackRounds; ++round) {
        ++run.report.foldRounds;
        bool gaveWay = false;
        folded = ScaleBackFoldRound(run, guard, folded, gaveWay, focus);
        if (!gaveWay)
            break;
    }
    return folded;
}

void EaseFolds(DisplacementRun& run, FoldGuard& guard)
{
    std::vector<std::uint32_t> folded = FoldedTriangles(run, guard);
    run.report.foldedTriangles = folded.size();
    folded = ScaleBackFolds(run, guard, std::move(folded), nullptr);
    for (std::uint32_t round = 1; !folded.empty() && round <= kMaxFoldRounds; ++round) {
        ++run.report.foldRounds;
        folded = EaseFoldRound(run, guard, folded, PlanFoldRound(round));
    }
}

// A vertex put back beside neighbours that keep their moves can make a crossing of its own:
// the crossings round the vertices moved are counted before and after.
void PutBackFoldsLeft(DisplacementRun& run, FoldGuard& guard)
{
    std::vector<std::uint32_t> folded = FoldedTriangles(run, guard);
    if (folded.empty())
        return;
    TriangleMesh& mesh = run.mesh;
    std::vector<Vec3> before(mesh.vertices.size());
    for (std::size_t v = 0; v < before.size(); ++v)
        before[v] = mesh.vertices[v].position;
    const std::vector<std::uint8_t> easedBefore = guard.eased;
    const std::int32_t roundsBefore = run.report.foldRounds;
    folded = ScaleBackFolds(run, guard, std::move(folded), nullptr);
    for (int round = 1; !folded.empty() && round <= kFoldsLeftRounds; ++round) {
        ++run.report.foldRounds;
        folded = EaseFoldRound(run, guard, folded, kFoldLeftRound);
    }
    std::vector<std::uint8_t> focus(mesh.TriangleCount(), 0);
    std::vector<Vec3> after(before.size());
    for (std::size_t v = 0; v < before.size(); ++v) {
        after[v] = mesh.vertices[v].position;
        if (after[v] != before[v])
            FlagTrianglesRound(*guard.faces, static_cast<std::uint32_t>(v), focus);
    }
    bool stopped = false;
    const std::vector<std::array<std::uint32_t, 2>> madeAfter = MadeCrossings(run, focus, stopped);
    if (madeAfter.empty() && !stopped)
        return;
    for (std::size_t v = 0; v < before.size(); ++v)
        mesh.vertices[v].position = before[v];
    const std::vector<std::array<std::uint32_t, 2>> madeBefore = MadeCrossings(run, focus, stopped);
    if (!stopped && madeAfter.size() <= madeBefore.size()) {
        for (std::size_t v = 0; v < after.size(); ++v)
            mesh.vertices[v].position = after[v];
        return;
    }
    guard.eased = easedBefore;
    run.report.foldRounds = roundsBefore;
}

void CountEasedVertices(DisplacementRun& run, const FoldGuard& guard)
{
    for (std::size_t v = 0; v < run.mesh.vertices.size(); ++v) {
        if (guard.eased[v] == 0)
            continue;
        ++run.report.easedVertices;
        const float distance = Length(run.mesh.vertices[v].position - run.start[v]);
        if (distance > guard.moveLengths[v] * kEasedTolerance + kEasedSlack)
            ++run.report.easedFurther;
        if (!run.limit.empty() && std::isfinite(run.limit[v]) && distance > run.limit[v] * kEasedTolerance + kEasedSlack)
            ++run.report.easedPastClearance;
    }
}

}  // namespace grainforge::mesh::detail
