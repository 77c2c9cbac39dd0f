#include "engine/pipeline/process_estimate.h"

#include "engine/mesh/report_text.h"
#include "engine/pipeline/pipeline_stages.h"
#include "engine/remesh/contour_remesh.h"
#include "engine/remesh/remesh_settings.h"

#include <algorithm>
#include <cmath>
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

bool UnderRemeshFloor(const RemeshEstimate& estimate)
{
    const bool measured = estimate.meshTriangles != 0 && estimate.countedTriangles == estimate.meshTriangles &&
                          std::isfinite(estimate.areaSquareMillimetres);
    return measured && estimate.totalTriangles < kFewestRemeshTriangles;
}

float AdviseCoarsestRemeshSize(const TriangleMesh& mesh, const RemeshSettings& settings)
{
    const std::uint64_t asked = EstimateRemeshResult(mesh, settings).totalTriangles;
    const double shortfall = asked == 0 ? std::numeric_limits<double>::infinity()
                                        : static_cast<double>(kFewestRemeshTriangles) / static_cast<double>(asked);
    RemeshSettings trial = settings;
    return SearchAdvisedLengthDown(settings.targetEdgeMillimetres, shortfall, [&](float size) {
        trial.targetEdgeMillimetres = size;
        return !UnderRemeshFloor(EstimateRemeshResult(mesh, trial));
    });
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

// The triangle size in use, where an advice's search starts: the part's own triangles without a
// remesh, else the asked size or, where the part's size raised it, the cell it was raised to.
float TriangleSizeInUse(const TriangleMesh& source, const PipelineSettings& settings, const ProcessEstimate& counted)
{
    float start = std::max(EffectiveRemeshSettings(settings).targetEdgeMillimetres, 0.0001f);
    if (settings.remeshOn == 0)
        start = UnremeshedSolidCell(source);
    return std::max(
        {start, counted.cappedCellMillimetres, counted.costliest.finest ? counted.costliest.cellMillimetres : 0.0f});
}

// The triangle size, with Remesh on, at which the same estimate of the whole part is within
// the limit.
float AdviseTriangleSize(const TriangleMesh& source, const PipelineSettings& settings, const ProcessEstimate& over)
{
    const float start = TriangleSizeInUse(source, settings, over);
    PipelineSettings trial = settings;
    trial.remeshOn = 1;
    const double excess = static_cast<double>(over.triangles) / static_cast<double>(over.limit);
    return SearchAdvisedLength(start, excess, [&](float size) {
        trial.remesh.targetEdgeMillimetres = size;
        return !CountProcessTriangles(source, trial).overLimit;
    });
}

bool GrowsWithTriangleSize(const PipelineSettings& settings)
{
    const bool solid = settings.displacementOn != 0 && settings.displacement.method != DisplacementMethod::mesh;
    return settings.remeshOn != 0 || solid;
}

// The whole run's peak without advice: the stages' triangles, or the contour grids with the
// part beside them when those need more.
std::uint64_t CountProcessBytes(const TriangleMesh& source, const PipelineSettings& settings, const ProcessEstimate& counted)
{
    double bytes = static_cast<double>(counted.triangles) * kRunBytesPerTriangle;
    const RemeshSettings remesh = EffectiveRemeshSettings(settings);
    if (settings.remeshOn != 0 && remesh.method != RemeshMethod::isotropic && source.boundsValid) {
        const double part = static_cast<double>(source.vertices.size() * sizeof(MeshVertex)
            + source.indices.size() * sizeof(std::uint32_t));
        bytes = std::max(bytes, static_cast<double>(EstimateContourRunBytes(source, remesh)) + 2.0 * part);
    }
    return bytes < 1.8e19 ? static_cast<std::uint64_t>(bytes) : std::numeric_limits<std::uint64_t>::max();
}

}  // namespace

ProcessMemory EstimateProcessMemory(const TriangleMesh& source, const PipelineSettings& settings, std::uint64_t available)
{
    ProcessMemory memory;
    memory.available = available;
    memory.ownTriangles = settings.remeshOn == 0;
    const ProcessEstimate counted = CountProcessTriangles(source, settings);
    memory.bytes = CountProcessBytes(source, settings, counted);
    // A box that is not finite holds no grid: the remesh refuses such a part with its cause.
    const Vec3 extent = source.boundsMax - source.boundsMin;
    const bool finite = std::isfinite(extent.x) && std::isfinite(extent.y) && std::isfinite(extent.z);
    memory.over = available != 0 && finite && GrowsWithTriangleSize(settings) && memory.bytes > available;
    if (!memory.over)
        return memory;
    PipelineSettings trial = settings;
    trial.remeshOn = 1;
    const double excess = static_cast<double>(memory.bytes) / static_cast<double>(available);
    memory.advisedTriangleSize = SearchAdvisedLength(TriangleSizeInUse(source, settings, counted), excess,
        [&](float size) {
            trial.remesh.targetEdgeMillimetres = size;
            return !(CountProcessBytes(source, trial, CountProcessTriangles(source, trial)) > available);
        });
    return memory;
}

ProcessEstimate EstimateProcessTriangles(const TriangleMesh& source, const PipelineSettings& settings)
{
    ProcessEstimate estimate = CountProcessTriangles(source, settings);
    if (estimate.overLimit)
        estimate.advisedTriangleSize = AdviseTriangleSize(source, settings, estimate);
    return estimate;
}

}  // namespace grainforge::mesh
