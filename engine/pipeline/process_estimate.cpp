#include "engine/pipeline/process_estimate.h"

#include "engine/mesh/report_text.h"
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

namespace {

// The estimate without advice.
ProcessEstimate CountProcessTriangles(const TriangleMesh& source, const PipelineSettings& settings)
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

// The triangle size, with Remesh on, at which the same estimate of the whole part is within
// the limit. The search starts at the size in use: the part's own triangles without a remesh,
// else the asked size or, where the part's size raised it, the cell it was raised to.
float AdviseTriangleSize(const TriangleMesh& source, const PipelineSettings& settings, const ProcessEstimate& over)
{
    float start = std::max(EffectiveRemeshSettings(settings).targetEdgeMillimetres, 0.0001f);
    if (settings.remeshOn == 0)
        start = UnremeshedSolidCell(source);
    start = std::max({start, over.cappedCellMillimetres, over.costliest.finest ? over.costliest.cellMillimetres : 0.0f});
    PipelineSettings trial = settings;
    trial.remeshOn = 1;
    const double excess = static_cast<double>(over.triangles) / static_cast<double>(over.limit);
    return SearchAdvisedLength(start, excess, [&](float size) {
        trial.remesh.targetEdgeMillimetres = size;
        return !CountProcessTriangles(source, trial).overLimit;
    });
}

}  // namespace

ProcessEstimate EstimateProcessTriangles(const TriangleMesh& source, const PipelineSettings& settings)
{
    ProcessEstimate estimate = CountProcessTriangles(source, settings);
    if (estimate.overLimit)
        estimate.advisedTriangleSize = AdviseTriangleSize(source, settings, estimate);
    return estimate;
}

}  // namespace grainforge::mesh
