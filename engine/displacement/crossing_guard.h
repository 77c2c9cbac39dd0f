// The crossing guard of the vertex relief. Vertex relief moves each vertex on its own, so on a
// curved or crowded surface the relief of one place can pass through another's, or a triangle
// the fold guard left upright can cut its neighbour: crossings the relief made, which no printer
// can read. The guard undoes only those (pairs of triangles that meet now and did not where
// their corners started); the input's own crossings stay as they were. It runs after the fold
// guard, on the run's starting positions, and folds nothing the fold guard unfolded. The
// searches run in parallel; the result is the same on any number of threads.
#pragma once

#include "engine/displacement/fold_guard.h"
#include "engine/displacement/vertex_displacement_detail.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace grainforge::mesh::detail {

// The crossing guard's schedule, in the order its rounds run:
// 1. up to kCrossingScaleBackRounds rounds in which each pair the relief made meet gives up only
//    the share of its own corners' moves that makes it meet (what that folds is scaled back by
//    the fold guard in the same round);
// 2. up to kMaxCrossingRounds rounds round what still meets, each planned by PlanCrossingRound:
//    the moves are halved for kCrossingHalvingRounds rounds, then put back where they started;
//    from round kCrossingWidenFromRound on the triangles round a crossing give way too, since
//    halving its own corners has not parted it, so its neighbours hold it there.
inline constexpr int kCrossingScaleBackRounds = 8;
inline constexpr std::uint32_t kCrossingHalvingRounds = 6;
inline constexpr std::uint32_t kMaxCrossingRounds = 16;
inline constexpr std::uint32_t kCrossingWidenFromRound = 4;

// Round `round` (counted from 1) of step 2 of the schedule.
[[nodiscard]] GuardRound PlanCrossingRound(std::uint32_t round);

// The pairs of triangles among `focus` (all when empty) that meet now but did not where they
// started, sorted; `stopped` when the search gave up on its pair limit (nothing is then known).
[[nodiscard]] std::vector<std::array<std::uint32_t, 2>> MadeCrossings(const DisplacementRun& run,
    std::span<const std::uint8_t> focus, bool& stopped);

// Runs the schedule over the crossings the relief made, and counts in the report the pairs made
// and left, the rounds run and the vertices moved back. With `run.searchForTheCheck` the first
// search covers the whole mesh and goes with the report (`crossingSearch`).
void EaseCrossings(DisplacementRun& run, FoldGuard& guard);

}  // namespace grainforge::mesh::detail
