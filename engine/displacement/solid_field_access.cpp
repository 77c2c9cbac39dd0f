// Reading the solid field: index arithmetic over its stored blocks and its column crossings.
// Every read checks its indices, so a point beyond the grid, or a field whose vectors do not
// match its counts, reads as the far value outside instead of out of range.
#include "engine/displacement/solid_field.h"

#include <algorithm>

namespace grainforge::mesh {
namespace {

bool InsideGrid(const SolidField& field, std::int64_t x, std::int64_t y, std::int64_t z)
{
    return x >= 0 && y >= 0 && z >= 0 && x < field.pointsX && y < field.pointsY && z < field.pointsZ;
}

}  // namespace

std::int64_t SolidField::PointSlot(std::int64_t x, std::int64_t y, std::int64_t z) const
{
    if (!InsideGrid(*this, x, y, z))
        return -1;
    const std::int64_t bx = x / kFieldBlockSide;
    const std::int64_t by = y / kFieldBlockSide;
    const std::int64_t bz = z / kFieldBlockSide;
    if (bx >= blocksX || by >= blocksY || bz >= blocksZ)
        return -1;
    const std::int64_t block = (bz * blocksY + by) * blocksX + bx;
    if (block >= static_cast<std::int64_t>(blockIndex.size()) || blockIndex[block] < 0)
        return -1;
    const std::int64_t slot = std::int64_t{blockIndex[block]} * kFieldBlockPoints
        + (z % kFieldBlockSide) * kFieldBlockSide * kFieldBlockSide
        + (y % kFieldBlockSide) * kFieldBlockSide + x % kFieldBlockSide;
    return slot < static_cast<std::int64_t>(values.size()) ? slot : -1;
}

float SolidField::ValueAt(std::int64_t x, std::int64_t y, std::int64_t z) const
{
    const std::int64_t slot = PointSlot(x, y, z);
    if (slot >= 0)
        return values[static_cast<std::size_t>(slot)];
    // Beyond the grid there is no column; the grid's margin keeps the solid well inside it.
    if (!InsideGrid(*this, x, y, z))
        return farValue;
    const std::size_t column = static_cast<std::size_t>(y * pointsX + x);
    if (column + 1 >= columnOffsets.size())
        return farValue;
    const std::size_t first = columnOffsets[column];
    const std::size_t last = std::min<std::size_t>(columnOffsets[column + 1], columnCrossings.size());
    if (first >= last)
        return farValue;
    const double pointZ = originZ + static_cast<double>(z) * cell;
    const auto begin = columnCrossings.begin() + static_cast<std::ptrdiff_t>(first);
    const auto below = std::lower_bound(begin, columnCrossings.begin() + static_cast<std::ptrdiff_t>(last),
        pointZ, [](float crossing, double at) { return static_cast<double>(crossing) < at; });
    return (below - begin) % 2 != 0 ? -farValue : farValue;
}

std::array<double, 3> SolidField::Gradient(std::int64_t x, std::int64_t y, std::int64_t z) const
{
    const std::int64_t at[3] = {x, y, z};
    const std::int64_t points[3] = {pointsX, pointsY, pointsZ};
    std::array<double, 3> gradient{0.0, 0.0, 0.0};
    for (int k = 0; k < 3; ++k) {
        const std::int64_t hi = std::min(at[k] + 1, points[k] - 1);
        const std::int64_t lo = std::max<std::int64_t>(at[k] - 1, 0);
        if (hi <= lo)
            continue;
        std::int64_t high[3] = {x, y, z};
        std::int64_t low[3] = {x, y, z};
        high[k] = hi;
        low[k] = lo;
        const double difference = static_cast<double>(ValueAt(high[0], high[1], high[2]))
            - static_cast<double>(ValueAt(low[0], low[1], low[2]));
        gradient[k] = difference / (static_cast<double>(hi - lo) * cell);
    }
    return gradient;
}

}  // namespace grainforge::mesh
