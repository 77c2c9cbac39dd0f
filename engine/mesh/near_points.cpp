#include "engine/mesh/near_points.h"

#include <cmath>

namespace grainforge::mesh::detail {

NearPoints::NearPoints(std::span<const Vec3> points, float reach) : points_(points), reach_(reach)
{
    cells_.reserve(points.size());
    for (std::size_t i = 0; i < points.size(); ++i)
        if (IsFinite(points[i]))
            cells_.emplace_back(CellOf(points[i]), static_cast<std::uint32_t>(i));
    std::sort(cells_.begin(), cells_.end());
}

NearPoints::Cell NearPoints::CellOf(Vec3 p) const
{
    // Far beyond any coordinate over a reach, yet clear of the ends of a 64-bit cell number.
    constexpr double kFarthestCell = 4e18;
    const auto axis = [&](float value) {
        return static_cast<std::int64_t>(std::clamp(std::floor(value / static_cast<double>(reach_)), -kFarthestCell, kFarthestCell));
    };
    return {axis(p.x), axis(p.y), axis(p.z)};
}

}  // namespace grainforge::mesh::detail
