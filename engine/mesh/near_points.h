// Finds the points of a set that lie within a reach of a position, through a grid of cells the
// size of the reach, sorted once. Repair uses it to find a corner again after a split moved its
// copies by at most that much, and to tell which bodies touch. Points with a non-finite
// coordinate are left out and never found. Read only once built; no parallel work.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace grainforge::mesh::detail {

class NearPoints {
public:
    // `points` must outlive the search; `reach` in millimetres, above 0.
    NearPoints(std::span<const Vec3> points, float reach);

    // Calls visit(index, squared distance) for every point within `reach` of `p` (the distance
    // measured in double), cell by cell; nothing for a non-finite `p`.
    template <class Visit>
    void ForEachWithin(Vec3 p, Visit&& visit) const
    {
        if (!IsFinite(p))
            return;
        const Cell at = CellOf(p);
        const double reachSquared = static_cast<double>(reach_) * reach_;
        for (std::int64_t dx = -1; dx <= 1; ++dx)
            for (std::int64_t dy = -1; dy <= 1; ++dy)
                for (std::int64_t dz = -1; dz <= 1; ++dz) {
                    const Cell cell{at[0] + dx, at[1] + dy, at[2] + dz};
                    auto it = std::lower_bound(cells_.begin(), cells_.end(), std::pair(cell, std::uint32_t{0}));
                    for (; it != cells_.end() && it->first == cell; ++it) {
                        const Vec3 d = points_[it->second] - p;
                        const double distance = static_cast<double>(d.x) * d.x + static_cast<double>(d.y) * d.y
                            + static_cast<double>(d.z) * d.z;
                        if (distance <= reachSquared)
                            visit(it->second, distance);
                    }
                }
    }

private:
    using Cell = std::array<std::int64_t, 3>;

    [[nodiscard]] Cell CellOf(Vec3 p) const;

    std::span<const Vec3> points_;
    float reach_;
    std::vector<std::pair<Cell, std::uint32_t>> cells_;  // sorted
};

}  // namespace grainforge::mesh::detail
