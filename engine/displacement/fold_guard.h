// The fold guard of the vertex relief: it takes back the moves of triangles the relief tilted
// past the limit (TriangleFoldsOver) or folded onto a neighbour (their normals, which started
// within 120 degrees, more than 120 degrees apart). It works on the run after the move, with
// every vertex's starting position and state kept (DisplacementRun::start and ::states); its
// rounds and how each takes moves back are fixed by the schedule below. The rounds run serially
// (only the crossing searches of its last step run in parallel), so the result is the same on
// any number of threads.
#pragma once

#include "engine/displacement/vertex_displacement_detail.h"

#include <cstdint>
#include <vector>

namespace grainforge::mesh::detail {

// The fold guard's schedule, in the order its rounds run:
// 1. up to kFoldScaleBackRounds rounds in which each triangle that folds gives up only the least
//    of its own corners' moves that unfolds it;
// 2. up to kMaxFoldRounds rounds over what still folds, each planned by PlanFoldRound;
// 3. once the crossing guard is done, the scale-back again, then up to kFoldsLeftRounds rounds
//    of kFoldLeftRound.
//
// Easing the neighbourhood at once flattened most of a relief on thin rims and walls
// (3DSMaxExport at 2 mm: 73% of the textured vertices under half their move against 50%),
// hence the scale-back rounds first.
inline constexpr int kFoldScaleBackRounds = 24;
inline constexpr std::uint32_t kMaxFoldRounds = 30;
// Rounds from this one on also ease the vertices round the folded corners: a fold that
// halving alone has not undone by then needs its neighbourhood to give.
inline constexpr std::uint32_t kWidenFromRound = 11;
// Rounds from this one on halve the moves round what still folds instead of easing them towards
// their neighbours', and from the next on put them back where they started: easing leaves the
// corners of a sliver along a crease as far apart as the neighbours they follow, more than the
// sliver is high, and it stays folded however many rounds run.
inline constexpr std::uint32_t kFoldHalvingFromRound = 21;
inline constexpr std::uint32_t kFoldPutBackFromRound = 27;
// Rounds that put back the moves round what still folds once the crossing guard is done,
// widening round by round as in the last rounds of step 2.
inline constexpr int kFoldsLeftRounds = 8;
inline constexpr GuardRound kFoldLeftRound{.widen = true, .takeBack = TakeBack::putBack};

// Round `round` (counted from 1) of step 2 of the schedule.
[[nodiscard]] GuardRound PlanFoldRound(std::uint32_t round);

// State of the fold guard across its rounds.
struct FoldGuard {
    float cosineOfTilt = 1.0f;
    std::vector<Vec3> startNormals;       // per triangle
    std::vector<float> moveLengths;       // L0: how far each vertex moved
    const VertexAdjacency* faces = nullptr;
    std::vector<std::uint8_t> eased;
    std::vector<std::uint32_t> mark;      // the stamp of the round that last put a vertex in the work set
    std::uint32_t lastStamp = 0;          // the stamp of the last round that took a work set
};

// The fold guard's measures of the moves as they came out: the starting normals, the move
// lengths, the triangles across each triangle's edges and round each vertex (built on the run
// when the clearance stage did not).
[[nodiscard]] FoldGuard StartFoldGuard(DisplacementRun& run);

// Whether triangle t, as it stands, is tilted past the limit or folded onto a neighbour.
[[nodiscard]] bool Folds(const DisplacementRun& run, const FoldGuard& guard, std::uint32_t t);

// The triangles that fold now, in index order.
[[nodiscard]] std::vector<std::uint32_t> FoldedTriangles(const DisplacementRun& run, const FoldGuard& guard);

// Steps 1 and 2 of the schedule over what folds when the guard starts; counts the folded
// triangles and the rounds in the report.
void EaseFolds(DisplacementRun& run, FoldGuard& guard);

// Scales back the folded triangles round after round (step 1) until none folds or none gives
// way; the triangles round the corners moved are flagged in `focus` when given. Returns what
// still folds. The crossing guard runs it on the folds its own rounds make.
std::vector<std::uint32_t> ScaleBackFolds(DisplacementRun& run, FoldGuard& guard, std::vector<std::uint32_t> folded,
    std::vector<std::uint8_t>* focus);

// One round over the moved vertices at the corners of `folded` (and round them when the round
// widens), taking their moves back as the round says; a levelled vertex keeps its level and a
// plain rim its planes. Returns the triangles round the vertices moved that still fold.
std::vector<std::uint32_t> EaseFoldRound(DisplacementRun& run, FoldGuard& guard,
    const std::vector<std::uint32_t>& folded, GuardRound plan);

// Step 3, after the crossing guard: it takes back moves without looking at the triangles round
// them and can fold one the fold guard left upright. When the triangles round the vertices put
// back meet more than before, they all stay where the guards left them, and the folds are left
// to be said.
void PutBackFoldsLeft(DisplacementRun& run, FoldGuard& guard);

// Counts in the report the vertices the guard moved back, and those left further from their
// start than their own move or their clearance limit.
void CountEasedVertices(DisplacementRun& run, const FoldGuard& guard);

}  // namespace grainforge::mesh::detail
