#include "engine/pipeline/process_estimate.h"

#include "engine/pipeline/pipeline_stages.h"
#include "engine/remesh/remesh_settings.h"

#include <limits>

namespace grainforge::mesh {

std::uint64_t ShownTriangleEstimate(std::uint64_t remeshEstimate)
{
    const std::uint64_t extra = remeshEstimate / 12;
    const std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    return remeshEstimate > most - extra ? most : remeshEstimate + extra;
}

ProcessEstimate EstimateProcessTriangles(const TriangleMesh& source, const PipelineSettings& settings)
{
    const RemeshEstimate remesh = EstimateRemeshResult(source, EffectiveRemeshSettings(settings));
    ProcessEstimate estimate;
    estimate.triangles = ShownTriangleEstimate(remesh.totalTriangles);
    estimate.cappedCellMillimetres = remesh.cappedCellMillimetres;
    estimate.limit = settings.maximumTriangles;
    estimate.overLimit = settings.remeshOn != 0 && estimate.limit != 0 && estimate.triangles > estimate.limit;
    return estimate;
}

}  // namespace grainforge::mesh
