// Taking back the least of a few corners' moves: the step the fold guard and the crossing guard
// both start with. A failing test (a triangle folds, two triangles meet) is judged on the mesh
// as it stands; the corners of the triangles it concerns give up the smallest share of their
// moves, found by bisection, that leaves it passing, and every other vertex keeps its move.
// Serial; it works on the run's mesh in place and leaves it as it stood when nothing helps.
#pragma once

#include "engine/displacement/vertex_displacement_detail.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace grainforge::mesh::detail {

// Halvings in the search for the share of its corners' moves a folded triangle may keep: the
// share is then known within 1/4096 of the move.
inline constexpr int kScaleBackSteps = 12;
// Up to this many corners every choice of them is tried; a triangle has three.
inline constexpr std::size_t kEveryChoiceUpTo = 3;

// The moved corners of a few triangles (a triangle with the triangles across its edges at most)
// with where they stand and their offsets from where they started, so that a share of each
// offset can be tried, and the corners put back exactly as they stood.
struct CornerMoves {
    std::array<std::uint32_t, 6> vertices{};
    std::array<Vec3, 6> positions{};
    std::array<Vec3, 6> offsets{};
    std::size_t count = 0;

    // Takes in the corners of triangle t that moved and are not in yet, while there is room.
    void Add(const DisplacementRun& run, std::uint32_t t);

    // The corners whose bits are set in `mask`.
    [[nodiscard]] CornerMoves Only(std::uint32_t mask) const;

    // A share of an offset stays within the base level and the plain planes it was kept in.
    void Keep(DisplacementRun& run, float share) const;

    void Restore(DisplacementRun& run) const;

    // The summed lengths of the offsets.
    [[nodiscard]] float Length() const;
};

// The greatest share of the corners' moves that `fails` (judged on the mesh as it stands) does
// not hold against, found by bisection between none of them (where the corners started and
// nothing failed) and all; -1 when even none fails. The corners are left as they stood.
template <typename Fails>
float GreatestSafeShare(DisplacementRun& run, const CornerMoves& corners, Fails fails);

// Takes back the least length of move that `fails` does not hold against: a share of the moves
// of some of the corners, the others keeping theirs (a spike's tip alone, so the corners round
// it keep their relief, or the two high corners of a triangle beside one held low), whichever
// choice loses least. Three corners are tried in every choice, more one at a time and all
// together. `corners` is left holding the corners moved; false when no choice helps, and
// nothing moves.
template <typename Fails>
bool TakeBackLeast(DisplacementRun& run, CornerMoves& corners, Fails fails);

// ---------------------------------------------------------------------------------------------

template <typename Fails>
float GreatestSafeShare(DisplacementRun& run, const CornerMoves& corners, Fails fails)
{
    corners.Keep(run, 0.0f);
    float safe = -1.0f;
    if (!fails()) {
        safe = 0.0f;
        float failing = 1.0f;
        for (int step = 0; step < kScaleBackSteps; ++step) {
            const float middle = 0.5f * (safe + failing);
            corners.Keep(run, middle);
            (fails() ? failing : safe) = middle;
        }
    }
    corners.Restore(run);
    return safe;
}

template <typename Fails>
bool TakeBackLeast(DisplacementRun& run, CornerMoves& corners, Fails fails)
{
    if (corners.count == 0)
        return false;
    CornerMoves best;
    float bestShare = 0.0f;
    float bestLoss = kInfinity;
    const auto consider = [&](const CornerMoves& choice) {
        const float share = GreatestSafeShare(run, choice, fails);
        const float loss = (1.0f - share) * choice.Length();
        if (share >= 0.0f && loss < bestLoss) {
            best = choice;
            bestShare = share;
            bestLoss = loss;
        }
    };
    consider(corners);
    if (corners.count <= kEveryChoiceUpTo) {
        for (std::uint32_t mask = 1; mask + 1 < (1u << corners.count); ++mask)
            consider(corners.Only(mask));
    } else {
        for (std::size_t i = 0; i < corners.count; ++i)
            consider(corners.Only(1u << i));
    }
    if (best.count == 0)
        return false;
    best.Keep(run, bestShare);
    corners = best;
    return true;
}

}  // namespace grainforge::mesh::detail
