#include "engine/displacement/corner_moves.h"

#include <algorithm>

namespace grainforge::mesh::detail {

void CornerMoves::Add(const DisplacementRun& run, std::uint32_t t)
{
    for (std::size_t k = 0; k < 3; ++k) {
        const std::uint32_t v = run.mesh.indices[3 * static_cast<std::size_t>(t) + k];
        const Vec3 offset = run.mesh.vertices[v].position - run.start[v];
        if (IsZero(offset) || std::find(vertices.begin(), vertices.begin() + count, v) != vertices.begin() + count
            || count == vertices.size())
            continue;
        vertices[count] = v;
        positions[count] = run.mesh.vertices[v].position;
        offsets[count++] = offset;
    }
}

CornerMoves CornerMoves::Only(std::uint32_t mask) const
{
    CornerMoves some;
    for (std::size_t i = 0; i < count; ++i) {
        if ((mask >> i & 1u) == 0)
            continue;
        some.vertices[some.count] = vertices[i];
        some.positions[some.count] = positions[i];
        some.offsets[some.count++] = offsets[i];
    }
    return some;
}

void CornerMoves::Keep(DisplacementRun& run, float share) const
{
    for (std::size_t i = 0; i < count; ++i)
        run.mesh.vertices[vertices[i]].position = run.start[vertices[i]] + offsets[i] * share;
}

void CornerMoves::Restore(DisplacementRun& run) const
{
    for (std::size_t i = 0; i < count; ++i)
        run.mesh.vertices[vertices[i]].position = positions[i];
}

float CornerMoves::Length() const
{
    float sum = 0.0f;
    for (std::size_t i = 0; i < count; ++i)
        sum += grainforge::mesh::Length(offsets[i]);
    return sum;
}

}  // namespace grainforge::mesh::detail
