#include "engine/pipeline/process_estimate.h"

#include "engine/displacement/solid_displacement.h"
#include "engine/displacement/solid_field.h"
#include "engine/mesh/report_text.h"
#include "engine/remesh/far_pieces.h"
#include "engine/pipeline/pipeline_stages.h"
#include "engine/remesh/contour_clusters.h"
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

bool HasSolidRelief(const PipelineSettings& settings)
{
    return settings.displacementOn != 0 && settings.displacement.method != DisplacementMethod::mesh;
}

namespace {

// The estimate without advice.
ProcessEstimate CountProcessTriangles(const TriangleMesh& source, const PipelineSettings& settings)
{
    RemeshSettings remesh = EffectiveRemeshSettings(settings);
    const bool solid = HasSolidRelief(settings);
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

bool GrowsWithTriangleSize(const PipelineSettings& settings)
{
    return settings.remeshOn != 0 || HasSolidRelief(settings);
}

std::uint64_t SaturatingBytes(double bytes)
{
    return bytes < 1.8e19 ? static_cast<std::uint64_t>(bytes) : std::numeric_limits<std::uint64_t>::max();
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
    return SaturatingBytes(bytes);
}

// The solid relief's cell: the contour cell of the remesh, else the part's own triangles.
float ReliefCell(const TriangleMesh& source, const PipelineSettings& settings)
{
    if (settings.remeshOn == 0)
        return UnremeshedSolidCell(source);
    return ContourCellSize(source, settings.remesh);
}

// The relief's field at its largest: bodies that lie apart each take a field of their own, one
// after the other at its own scale, as the relief lays them (ClustersNeedingOwnGrids,
// OwnScaleReliefCell).
SolidFieldNeed EstimateReliefField(const TriangleMesh& source, float cell, float depth)
{
    const std::vector<MeshCluster> groups = ClustersNeedingOwnGrids(source, cell);
    if (groups.size() < 2)
        return EstimateSolidFieldNeed(source, cell, depth);
    SolidFieldNeed largest;
    for (const MeshCluster& group : groups) {
        const SolidFieldNeed need = EstimateSolidFieldNeed(ClusterMesh(source, group),
            OwnScaleReliefCell(group.boundsMin, group.boundsMax, cell), depth);
        largest.fixedBytes = std::max(largest.fixedBytes, need.fixedBytes);
        largest.mostBytes = std::max(largest.mostBytes, need.mostBytes);
        largest.gridPoints = std::max(largest.gridPoints, need.gridPoints);
    }
    return largest;
}

// Every stage's need without advice: the triangles, the whole run's memory and the relief's
// field, each against what it may use.
struct ProcessNeed {
    ProcessEstimate counted;
    ProcessMemory memory;
    bool fieldFits = true;  // the relief's field passes its own guards
    // The size in use against the smallest the float steps at the part's farthest corner allow.
    float sizeInUse = 0.0f;
    float smallestFarOut = 0.0f;
    [[nodiscard]] bool TooFarOut() const { return sizeInUse < smallestFarOut; }
};

ProcessNeed MeasureProcessNeed(const TriangleMesh& source, const PipelineSettings& settings, std::uint64_t available)
{
    ProcessNeed need;
    need.counted = CountProcessTriangles(source, settings);
    ProcessMemory& memory = need.memory;
    memory.available = available;
    memory.ownTriangles = settings.remeshOn == 0;
    memory.bytes = CountProcessBytes(source, settings, need.counted);
    // A box that is not finite holds no grid: the remesh refuses such a part with its cause.
    const Vec3 extent = source.boundsMax - source.boundsMin;
    const bool finite = std::isfinite(extent.x) && std::isfinite(extent.y) && std::isfinite(extent.z);
    if (!finite || !GrowsWithTriangleSize(settings))
        return need;
    const bool runOver = available != 0 && memory.bytes > available;
    if (source.boundsValid) {
        const bool solid = HasSolidRelief(settings);
        need.sizeInUse = solid ? ReliefCell(source, settings) : EffectiveRemeshSettings(settings).targetEdgeMillimetres;
        // The run's own question: a piece far out gets a relief of its own scale and is not refused.
        const FarPiece far = FindPieceTooFarOut(source, need.sizeInUse, solid);
        need.smallestFarOut = far.found ? far.smallestSize : 0.0f;
    }
    if (HasSolidRelief(settings) && source.boundsValid) {
        const float cell = ReliefCell(source, settings);
        const float depth = ReliefDepthBound(settings.displacement);
        // A cell that is not a number is refused by the remesh with its own cause.
        if (cell > 0.0f && std::isfinite(cell) && !ReliefDepthFillsTheField(source, cell, depth)) {
            const SolidFieldNeed field = EstimateReliefField(source, cell, depth);
            memory.reliefBytes = SaturatingBytes(field.mostBytes);
            memory.reliefBudget = SolidFieldBudget(available);
            need.fieldFits = SolidFieldFits(field, memory.reliefBudget);
            // The field is built beside what the run holds by then.
            const double held = kReliefHeldBytesPerTriangle * static_cast<double>(need.counted.triangles);
            memory.bytes = std::max(memory.bytes, SaturatingBytes(held + field.mostBytes));
        }
    }
    const bool heldOver = runOver || (available != 0 && memory.bytes > available);
    memory.reliefOver = !heldOver && !need.fieldFits;
    memory.over = heldOver || !need.fieldFits;
    return need;
}

ProcessLimit FirstLimit(const ProcessNeed& need)
{
    if (need.counted.overLimit)
        return ProcessLimit::triangles;
    if (need.memory.over)
        return need.memory.reliefOver ? ProcessLimit::reliefMemory : ProcessLimit::memory;
    if (need.TooFarOut())
        return ProcessLimit::farOut;
    return ProcessLimit::none;
}

// How far over its limits the run is at its size: the first guess of the advice search.
double Excess(const ProcessNeed& need)
{
    double excess = 1.0;
    if (need.counted.overLimit)
        excess = static_cast<double>(need.counted.triangles) / static_cast<double>(need.counted.limit);
    const ProcessMemory& m = need.memory;
    if (m.available != 0)
        excess = std::max(excess, static_cast<double>(m.bytes) / static_cast<double>(m.available));
    if (m.reliefBudget != 0)
        excess = std::max(excess, static_cast<double>(m.reliefBytes) / static_cast<double>(m.reliefBudget));
    // Triangles grow with the square of the size, so this is squared as the counts are.
    if (need.TooFarOut())
        excess = std::max(excess, std::pow(static_cast<double>(need.smallestFarOut) / need.sizeInUse, 2.0));
    return excess;
}

float AdviseFrom(const TriangleMesh& source, const PipelineSettings& settings, std::uint64_t available,
    const ProcessNeed& need)
{
    PipelineSettings trial = settings;
    trial.remeshOn = 1;
    return SearchAdvisedLength(TriangleSizeInUse(source, settings, need.counted), Excess(need), [&](float size) {
        trial.remesh.targetEdgeMillimetres = size;
        return FirstLimit(MeasureProcessNeed(source, trial, available)) == ProcessLimit::none;
    });
}

}  // namespace

float ReliefDepthBound(const DisplacementSettings& displacement)
{
    float farthest = 1.0f;
    if (displacement.midLevelMode == MidLevelMode::manual && std::isfinite(displacement.midLevel))
        farthest = std::max({std::fabs(displacement.midLevel), std::fabs(1.0f - displacement.midLevel), 0.0f});
    const float depth = std::fabs(displacement.strengthMillimetres) * std::max(farthest, 1.0f);
    return std::isfinite(depth) ? depth : 0.0f;
}

bool ReliefDepthFillsTheField(const TriangleMesh& part, float cell, float depth)
{
    if (!part.boundsValid || !(depth > 0.0f))
        return false;
    const Vec3 extent = part.boundsMax - part.boundsMin;
    const double flat = 8.0 * cell;
    const double deep = 2.0 * static_cast<double>(depth) + flat;
    double growth = 1.0;
    for (const float side : {extent.x, extent.y, extent.z})
        growth *= (side + deep) / (side + flat);
    return !(growth < kDeepFieldShare);  // an infinite depth lands here as well
}

ProcessLimit FindProcessLimit(const TriangleMesh& source, const PipelineSettings& settings, std::uint64_t available)
{
    return FirstLimit(MeasureProcessNeed(source, settings, available));
}

float AdviseProcessTriangleSize(const TriangleMesh& source, const PipelineSettings& settings, std::uint64_t available)
{
    return AdviseFrom(source, settings, available, MeasureProcessNeed(source, settings, available));
}

ProcessMemory EstimateProcessMemory(const TriangleMesh& source, const PipelineSettings& settings, std::uint64_t available)
{
    const ProcessNeed need = MeasureProcessNeed(source, settings, available);
    ProcessMemory memory = need.memory;
    if (memory.over)
        memory.advisedTriangleSize = AdviseFrom(source, settings, available, need);
    return memory;
}

ProcessEstimate EstimateProcessTriangles(const TriangleMesh& source, const PipelineSettings& settings,
    std::uint64_t available)
{
    const ProcessNeed need = MeasureProcessNeed(source, settings, available);
    ProcessEstimate estimate = need.counted;
    if (!estimate.overLimit)
        return estimate;
    if (need.memory.over)
        estimate.alsoOver = need.memory.reliefOver ? ProcessLimit::reliefMemory : ProcessLimit::memory;
    estimate.advisedTriangleSize = AdviseFrom(source, settings, available, need);
    return estimate;
}

}  // namespace grainforge::mesh
