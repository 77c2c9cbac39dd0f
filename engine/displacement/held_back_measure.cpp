#include "engine/displacement/held_back_measure.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace grainforge::mesh::detail {

void MeasureHeldBack(DisplacementRun& run, const std::vector<Vec3>& before)
{
    DisplacementReport& report = run.report;
    const TriangleMesh& mesh = run.mesh;
    const BaseGuard base(run.settings);
    std::vector<float> asked(before.size(), 0.0f);
    float deepest = 0.0f;
    for (std::size_t v = 0; v < before.size(); ++v) {
        const float d = AskedMove(run, v);
        if (!std::isfinite(d) || (base.enabled && base.Above(before[v]) <= base.band + kBandTolerance)
            || (!run.rimSlots.empty() && run.rimSlots[v] != kNone))
            continue;
        asked[v] = d;
        deepest = std::max(deepest, std::fabs(d));
    }
    if (!(deepest > 0.0f))
        return;
    Vec3 low = before[0];
    Vec3 high = before[0];
    for (const Vec3& p : before) {
        low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
    const Vec3 middle = (low + high) * 0.5f;
    std::array<std::uint64_t, 8> count{};
    std::array<Vec3, 8> sum{};
    for (std::size_t v = 0; v < before.size(); ++v) {
        if (std::fabs(asked[v]) < kHeldBackFloorShare * deepest)
            continue;
        ++report.texturedVertices;
        const Vec3 direction = run.directions.empty() ? UnitNormal(mesh.vertices[v].normal) : run.directions[v];
        const float got = Dot(mesh.vertices[v].position - before[v], direction);
        if (got * std::copysign(1.0f, asked[v]) >= 0.5f * std::fabs(asked[v]))
            continue;
        ++report.heldBackVertices;
        const Vec3 p = before[v];
        const std::size_t cell = (p.x > middle.x ? 1u : 0u) | (p.y > middle.y ? 2u : 0u) | (p.z > middle.z ? 4u : 0u);
        ++count[cell];
        sum[cell] += p;
    }
    if (report.heldBackVertices == 0)
        return;
    const std::size_t most = static_cast<std::size_t>(std::max_element(count.begin(), count.end()) - count.begin());
    report.heldBackPlace = sum[most] * (1.0f / static_cast<float>(count[most]));
    report.heldBackPlaceShare = static_cast<float>(count[most]) / static_cast<float>(report.heldBackVertices);
}

}  // namespace grainforge::mesh::detail
