#include "engine/pipeline/process_estimate.h"

#include "engine/pipeline/pipeline_stages.h"
#include "engine/remesh/remesh_settings.h"

#include <algorithm>
#include <limits>

namespace grainforge::mesh {

std::uint64_t ShownTriangleEstimate(std::uint64_t remeshEstimate)
{
    const std::uint64_t extra = remeshEstimate / 12;
    const std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    return remeshEstimate > most - extra ? most : remeshEstimate + extra;
}

bool OverTriangleLimit(std::uint64_t count, std::uint64_t limit)
{
    return limit != 0 && count > limit;
}

std::uint64_t StageTriangleLimit(std::uint64_t limit)
{
    const std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    if (limit == 0 || limit > most / kStageTriangleHeadroom)
        return most;
    return limit * kStageTriangleHeadroom;
}

float UnremeshedSolidCell(const TriangleMesh& mesh)
{
    return std::max(SampleMedianEdgeLength(mesh), 0.05f);
}

ProcessEstimate EstimateProcessTriangles(const TriangleMesh& source, const PipelineSettings& settings)
{
    RemeshSettings remesh = EffectiveRemeshSettings(settings);
    const bool solid = settings.displacementOn != 0 && settings.displacement.method != DisplacementMethod::mesh;
    if (settings.remeshOn == 0 && solid)
        remesh.targetEdgeMillimetres = UnremeshedSolidCell(source);
    const RemeshEstimate counted = EstimateRemeshResult(source, remesh);
    ProcessEstimate estimate;
    estimate.triangles = ShownTriangleEstimate(counted.totalTriangles);
    estimate.cappedCellMillimetres = counted.cappedCellMillimetres;
    estimate.limit = settings.maximumTriangles;
    estimate.overLimit = (settings.remeshOn != 0 || solid) && OverTriangleLimit(estimate.triangles, estimate.limit);
    estimate.costliest = counted.costliest;
    estimate.costliest.triangles = ShownTriangleEstimate(counted.costliest.triangles);
    estimate.ownTriangles = settings.remeshOn == 0;
    return estimate;
}

}  // namespace grainforge::mesh
