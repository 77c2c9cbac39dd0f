#include "engine/pipeline/pipeline_stages.h"

#include "engine/displacement/solid_displacement.h"
#include "engine/displacement/source_transfer.h"
#include "engine/displacement/vertex_displacement.h"
#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/export_cleanup.h"
#include "engine/mesh/large_pages.h"
#include "engine/mesh/mesh_simplify.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/repair/non_manifold_repair.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/report_text.h"
#include "engine/mesh/surface_folds.h"
#include "engine/mesh/welding.h"
#include "engine/remesh/far_pieces.h"
#include "engine/pipeline/pipeline_report_text.h"
#include "engine/pipeline/process_estimate.h"
#include "engine/pipeline/surface_distance.h"
#include "engine/remesh/contour_cells.h"
#include "engine/remesh/contour_clusters.h"
#include "engine/remesh/flat_simplify.h"
#include "engine/remesh/own_scale_remesh.h"
#include "engine/remesh/remesh.h"
#include "platform/memory_info.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>
#include <new>
#include <numeric>
#include <utility>

namespace grainforge::mesh {
namespace {

// Adds a problem the result holds, with its note beside it, and takes the verdict off Good: what
// the box names as wrong is never called good.
void AddWarning(ValidationReport& validation, std::string problem, std::string note)
{
    if (validation.verdict == Verdict::Good)
        validation.verdict = Verdict::UsableWithCare;
    const std::size_t at = std::min(validation.problems.size(), validation.notes.size());
    validation.problems.push_back(std::move(problem));
    validation.notes.insert(validation.notes.begin() + static_cast<std::ptrdiff_t>(at), std::move(note));
}

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool HasGeometry(const TriangleMesh& mesh)
{
    return !mesh.vertices.empty() && mesh.TriangleCount() != 0;
}

bool RemeshEqualsNormalised(const PipelineSettings& last, const PipelineSettings& next)
{
    return RemeshSettingsEquals(EffectiveRemeshSettings(last), EffectiveRemeshSettings(next));
}

bool FaceSettingsEqual(const PipelineSettings& last, const PipelineSettings& next)
{
    // The active layer only says which layer the user edits; the texture lies the same.
    Projection a = last.projection;
    Projection b = next.projection;
    a.activeLayer = b.activeLayer;
    if (!ProjectionEquals(a, b))
        return false;
    if (last.surfaceMode != next.surfaceMode || last.occupancyCells != next.occupancyCells
        || last.tileExtentOn != next.tileExtentOn || last.tileOffsetX != next.tileOffsetX
        || last.tileOffsetY != next.tileOffsetY
        || last.tileRotationDegrees != next.tileRotationDegrees
        || last.tileWidth != next.tileWidth || last.tileHeight != next.tileHeight)
        return false;
    if (last.masks.size() != next.masks.size())
        return false;
    for (std::size_t i = 0; i < last.masks.size(); ++i)
        if (!MaskVolumeEquals(last.masks[i], next.masks[i]))
            return false;
    // The bed face kept flat takes no texture.
    const BaseProtection& lastBase = last.displacement.base;
    const BaseProtection& nextBase = next.displacement.base;
    return last.displacement.outsideRule == next.displacement.outsideRule && lastBase.enabled == nextBase.enabled
        && lastBase.axis == nextBase.axis && lastBase.planeMillimetres == nextBase.planeMillimetres;
}

std::vector<std::uint32_t> Identity(std::size_t count)
{
    std::vector<std::uint32_t> map(count);
    std::iota(map.begin(), map.end(), 0u);
    return map;
}

// One flag per face: the projection's surface settings take in the face's class (outer or
// inner, as the weights were computed with).
std::vector<std::uint8_t> ChosenSurfaceFlags(const Projection& projection, const TextureWeights& weights)
{
    const bool takesOuter = TakesSurface(projection, true);
    const bool takesInner = TakesSurface(projection, false);
    std::vector<std::uint8_t> flags(weights.faceOuterMask.size());
    std::transform(weights.faceOuterMask.begin(), weights.faceOuterMask.end(), flags.begin(),
        [&](std::uint8_t outer) { return (outer != 0 ? takesOuter : takesInner) ? 1 : 0; });
    return flags;
}

// One flag per face: it lies on the bed kept flat, and the projection would texture it, judged
// as the weights judged it (`taken`, or each face by its own normal when empty).
std::vector<std::uint8_t> BedFacesTaken(const TriangleMesh& mesh, const PipelineSettings& settings,
    const TextureWeights& weights, const std::vector<std::uint8_t>& taken)
{
    std::vector<std::uint8_t> flags = FacesOnTheBed(mesh, settings.displacement.base);
    for (std::size_t t = 0; t < flags.size(); ++t) {
        if (flags[t] != 0) {
            const bool takes = taken.size() == flags.size()
                ? taken[t] != 0
                : ProjectionTakesFace(mesh, t, settings.projection, weights.faceOuterMask[t]);
            flags[t] = takes ? 1 : 0;
        }
    }
    return flags;
}

bool DisplacementWanted(const PipelineSettings& settings, const HeightMap& map)
{
    return settings.displacementOn != 0 && map.width >= 1 && map.height >= 1;
}

bool SolidReliefWanted(const PipelineSettings& settings, const HeightMap& map)
{
    return DisplacementWanted(settings, map) && HasSolidRelief(settings);
}

// A result keeping less than this share of its input's area lost most of the part.
constexpr double kSmallestKeptAreaShare = 0.5;

// Twice the volume over the area: the thickness of a plate, the wall of a hollow part, zero for
// faces lying on one another.
float MeanThickness(const TriangleMesh& mesh)
{
    const double area = mesh.SurfaceArea();
    const double volume = std::fabs(static_cast<double>(mesh.Volume()));
    return area > 0.0 && std::isfinite(volume) ? static_cast<float>(2.0 * volume / area) : 0.0f;
}

// The thickness half the part's surface reaches (MeasureWallThickness), never at or below the
// sheet thickness for a part with volume; the mean `thickness` where no wall was measured.
float WallsThickness(const TriangleMesh& part, float thickness)
{
    const WallThickness walls = MeasureWallThickness(part);
    if (!walls.measured || !(walls.half > kNoVolumeMillimetres))
        return thickness;
    return walls.half;
}

std::string Fixed2(double value) { return FormatFixed(value, 2); }

std::string FormatMillimetres(float value) { return FormatLength(value) + " mm"; }

std::string FormatMillimetres(Vec3 point)
{
    return Fixed2(point.x) + ", " + Fixed2(point.y) + ", " + Fixed2(point.z) + " mm";
}

// Why a stage's output cannot stand for its input: no surface at all, or most of it lost;
// empty when it can. A facet the input holds twice counts once (a part written twice over
// would otherwise read as having lost half its surface), and a refusal of such a part names
// the doubled facets. An open part encloses nothing, whatever its walls' thickness, so that is
// what a refusal of one names; a closed one was too thin for the triangles. `keptShare`, when
// given, receives the share of the surface kept (0 for none) with a refusal. `finest`: the
// triangle size was raised to the finest the part's size allows, so no smaller one is advised.
// `ownTriangles`: no remesh ran, the triangle size is the part's own, and turning Remesh on is
// what helps a closed part.
std::string LostPartText(const TriangleMesh& input, const TriangleMesh& output, float triangleSize, bool finest,
    double* keptShare = nullptr, bool ownTriangles = false)
{
    const double after = output.TriangleCount() != 0 ? output.SurfaceArea() : 0.0;
    if (after > 0.0 && !(after < kSmallestKeptAreaShare * input.SurfaceArea()))
        return {};
    const std::uint64_t repeats = CountDuplicateTriangles(input);
    TriangleMesh once;
    if (repeats != 0) {
        once = input;
        (void)RemoveDuplicateTriangles(once);
    }
    const TriangleMesh& part = repeats != 0 ? once : input;
    const double before = part.SurfaceArea();
    if (after > 0.0 && !(before > 0.0 && after < kSmallestKeptAreaShare * before))
        return {};
    const double kept = after > 0.0 ? after / before : 0.0;
    if (keptShare != nullptr)
        *keptShare = kept;
    const std::uint64_t open = CountEdges(part).boundary;
    // Copies of a closed part's facets, one winding against the other, cancel its inside.
    if (repeats != 0 && open == 0)
        return FormatDoubledFacetsText(repeats, kept);
    const float thickness = MeanThickness(part);
    // The thickness a text names is that of the walls: an open part's volume depends on where
    // its openings lie, and a tapering one's mean is about half its walls over most of it.
    const float walls = thickness > kNoVolumeMillimetres ? WallsThickness(part, thickness) : thickness;
    std::string text;
    if (open != 0 && (kept > 0.0 || thickness > kNoVolumeMillimetres)) {
        text = FormatOpenPartText(open, kept);
        if (walls > kNoVolumeMillimetres && walls < triangleSize)
            text += " " + FormatThinOnceClosedNote(walls, triangleSize, finest);
    } else if (ownTriangles && thickness > kNoVolumeMillimetres) {
        text = FormatOwnTrianglesLostText(kept, triangleSize, walls);
    } else if (kept > 0.0) {
        text = FormatLostMostText(kept, walls, triangleSize, finest);
    } else {
        text = FormatNoSurfaceText(walls, triangleSize, finest);
    }
    return repeats != 0 ? text + " " + FormatDoubledFacetsNote(repeats) : text;
}

// The part as the stages take it: a face written again the other way round would read as a
// wall to the remesh and the relief, so the copies go first, by the same mend Mesh > Repair and
// the Save STL check run. Only copies their neighbours disown are taken here; a body written
// double-sided, where the outside is a choice, is left to Mesh > Repair, which the refusal
// names. `part` holds a copy of `source` and keeps it unless copies were taken.
struct FlippedCopies {
    std::uint64_t taken = 0;
    std::uint64_t doubledLeft = 0;  // facets the part keeps in both windings
};

FlippedCopies TakeOutFlippedCopies(const TriangleMesh& source, TriangleMesh& part)
{
    const RepeatedFacesReport mend = RemoveRepeatedFaces(part);
    const bool choiceLeft = mend.doubleSkinnedPairsRemoved != 0 || mend.innerCopiesRemoved != 0 || mend.pairsLeft != 0;
    const bool reversed = mend.flippedCopiesRemoved != 0 || choiceLeft;
    if (reversed && !choiceLeft) {
        part.ComputeBounds();
        return {mend.flippedCopiesRemoved, 0};
    }
    // Copies wound alike only thicken a wall: the remesh reads them as one, as it always has.
    if (mend.Changed())
        part = source;
    return {0, reversed ? CountDuplicateTriangles(source) : 0};
}

// The triangle size of the remesh: its contour cell, or the isotropic target edge.
float RemeshTriangleSize(const TriangleMesh& source, const RemeshSettings& remesh)
{
    if (remesh.method != RemeshMethod::isotropic)
        return ContourCellSize(source, remesh);
    return remesh.targetEdgeMillimetres;
}

// The remesh keeps what is thicker than its triangles: up to two triangle sizes off.
float RemeshAllowance(float triangleSize) { return 2.0f * triangleSize; }

// A solid relief moves the surface by its depth on purpose, up to sqrt(3) x the depth from an
// inward corner to the corner of the moved surface, besides what its contour may round off.
float ReliefAllowance(float cell, float depth) { return 2.0f * cell + 2.0f * depth; }

bool HasFiniteCoordinates(const TriangleMesh& mesh)
{
    return std::all_of(mesh.vertices.begin(), mesh.vertices.end(),
        [](const MeshVertex& vertex) { return IsFinite(vertex.position); });
}

// The relief settings a run cannot use, worded for the user; empty when all can be used.
std::string UnusableReliefText(const DisplacementSettings& displacement)
{
    const char* setting = nullptr;
    if (!std::isfinite(displacement.strengthMillimetres))
        setting = "Strength";
    else if (displacement.midLevelMode == MidLevelMode::manual && !std::isfinite(displacement.midLevel))
        setting = "Midlevel";
    if (setting == nullptr)
        return {};
    return std::string("Process could not make the relief: its ") + setting
        + " is not a number. Nothing was changed; set " + setting + " to a value.";
}

}  // namespace

namespace {

// Why a higher triangle limit alone would not let the run start: the memory it would then meet.
std::string MemoryStillStops(ProcessLimit memoryToo)
{
    if (memoryToo == ProcessLimit::reliefMemory)
        return " A higher triangle limit alone would not: making the relief at this triangle size would need more "
               "memory than is safe.";
    if (memoryToo == ProcessLimit::memory)
        return " A higher triangle limit alone would not: at this triangle size Process would need more memory than "
               "this process may use.";
    return {};
}

}  // namespace

std::string TriangleLimitText(std::uint64_t estimatedTriangles, const CostliestPiece& piece, bool withoutRemesh,
    float advisedSize, ProcessLimit memoryToo)
{
    const std::string named = FormatCostliestPiece(piece);
    const std::string text = "About " + FormatCountGrouped(estimatedTriangles) + " triangles, which is over the limit"
        + named + ". Nothing was changed; ";
    const bool advised = advisedSize > 0.0f && std::isfinite(advisedSize);
    const std::string size = advised ? "a triangle size of at least " + FormatMillimetres(advisedSize) : std::string();
    const std::string still = MemoryStillStops(memoryToo);
    const bool limitHelps = still.empty();
    if (withoutRemesh)
        return text + "Remesh is off, so the relief is made at the part's own triangle size: turn Remesh on with "
            + (advised ? size : std::string("a larger triangle size"))
            + (limitHelps ? ", or raise the triangle limit." : "." + still);
    if (!named.empty() && piece.finest)
        return text + (advised ? size : "a triangle size above " + FormatMillimetres(piece.cellMillimetres))
            + (limitHelps ? ", a higher triangle limit, or the part without that piece lets it run."
                          : " or the part without that piece lets it run." + still);
    return text + (advised ? size : std::string("a larger triangle size"))
        + (limitHelps ? " or a higher triangle limit lets it run." : " lets it run." + still);
}

std::string TriangleLimitText(const PipelineReport& report)
{
    return TriangleLimitText(report.refusedTriangles, report.refusedPiece, report.refusedWithoutRemesh != 0,
        report.refusedAdvisedSize, static_cast<ProcessLimit>(report.refusedMemoryToo));
}

std::string TriangleLimitText(const ProcessEstimate& estimate)
{
    return TriangleLimitText(estimate.triangles, estimate.costliest, estimate.ownTriangles,
        estimate.advisedTriangleSize, estimate.alsoOver);
}

void RecordSolidFailure(PipelineReport& report, const SolidDisplacementReport& solid)
{
    if (solid.stopped) {
        report.stopped = 1;
    } else if (solid.refused) {
        report.refused = 1;
        report.refusedTriangles = solid.estimatedTriangles;
    } else if (solid.tooLarge) {
        report.message = kReliefTooLargeText;
    } else if (solid.contourHoles) {
        report.message = kContourHolesText;
    } else {
        // No flag: the input or its heights could not be used. Still no result.
        report.message = "Process could not build the relief of this part. Nothing was changed.";
    }
}

RemeshSettings EffectiveRemeshSettings(const PipelineSettings& settings)
{
    RemeshSettings remesh = settings.remesh;
    if (settings.displacementOn != 0 && settings.displacement.method == DisplacementMethod::solid)
        remesh.method = RemeshMethod::contour;
    return remesh;
}

StaleStage FirstStaleStage(const PipelineSettings& last, const PipelineSettings& next)
{
    if (last.remeshOn != next.remeshOn || last.maximumTriangles != next.maximumTriangles
        || (next.remeshOn != 0 && !RemeshEqualsNormalised(last, next)))
        return {kStageRemesh, true};
    if (!FaceSettingsEqual(last, next))
        return {kStageFaces, true};
    if (last.displacementOn != next.displacementOn
        || (next.displacementOn != 0
            && !DisplacementSettingsEquals(last.displacement, next.displacement)))
        return {kStageDisplacement, true};
    if (last.simplifyOn != next.simplifyOn
        || (next.simplifyOn != 0 && !SimplifySettingsEquals(last.simplify, next.simplify)))
        return {kStageSimplify, true};
    return {};
}

bool AfterStageSettingsEqual(const PipelineSettings& last, const PipelineSettings& next)
{
    return last.cleanup.weldCollapsedTriangles == next.cleanup.weldCollapsedTriangles
        && last.cleanup.fillHoles == next.cleanup.fillHoles
        && last.cleanup.maximumHoleMillimetres == next.cleanup.maximumHoleMillimetres
        && last.cleanup.maximumSlitWidthMillimetres == next.cleanup.maximumSlitWidthMillimetres
        && last.printCheckOn == next.printCheckOn
        && PrintabilitySettingsEquals(last.printability, next.printability)
        && last.wallLineWidth == next.wallLineWidth && last.wallThreshold == next.wallThreshold
        && last.wallMinimumInward == next.wallMinimumInward;
}

void PipelineStages::ResetStages()
{
    source = {};
    remeshed = {};
    faceInput = {};
    displaced = {};
    result = {};
    stageWeights = {};
    displacedWeights = {};
    pendingWeights_.reset();
    reliefInputTree_.reset();
    measuredSource_.reset();
    grid = {};
    gridResolution = 0;
    gridValid = false;
    report = {};
    stageDirty.fill(1);
}

void PipelineStages::InstallSource(TriangleMesh mesh)
{
    ResetStages();
    source = std::move(mesh);
    if (HasGeometry(source)) {
        source.ComputeBounds();
        result = source;
    }
}

void PipelineStages::InvalidateStages(const PipelineSettings& settings)
{
    const StaleStage stale = FirstStaleStage(lastSettings, settings);
    const bool afterEqual = AfterStageSettingsEqual(lastSettings, settings);
    const bool clean = std::none_of(stageDirty.begin(), stageDirty.end(),
        [](std::uint8_t flag) { return flag != 0; });
    lastSettings = settings;
    if (stale.any) {
        for (std::int32_t s = stale.stage; s < kStageCount; ++s)
            stageDirty[static_cast<std::size_t>(s)] = 1;
        checksOnly = false;
    } else if (!afterEqual) {
        stageDirty[kStageSimplify] = 1;
        if (clean)
            checksOnly = true;
    }
}

StaleStage PipelineStages::StageToRerun(const PipelineSettings& settings) const
{
    StaleStage rerun = FirstStaleStage(lastSettings, settings);
    if (!rerun.any && !AfterStageSettingsEqual(lastSettings, settings))
        rerun = {kStageSimplify, true};
    const bool on[kStageCount] = {settings.remeshOn != 0, true, settings.displacementOn != 0,
        true};
    for (std::int32_t s = 0; s < kStageCount; ++s) {
        if (stageDirty[static_cast<std::size_t>(s)] == 0 || !on[s])
            continue;
        if (!rerun.any || s < rerun.stage)
            rerun = {s, true};
        break;
    }
    return rerun;
}

const TriangleMesh& PipelineStages::CurrentResultMesh(const PipelineSettings& settings) const
{
    const StaleStage rerun = StageToRerun(settings);
    if (!rerun.any)
        return result;
    if (rerun.stage == kStageRemesh)
        return source;
    const bool simplifyOff = lastSettings.simplifyOn == 0 && settings.simplifyOn == 0;
    if (rerun.stage == kStageFaces || rerun.stage == kStageDisplacement) {
        const bool displacementOff =
            lastSettings.displacementOn == 0 && settings.displacementOn == 0;
        if (displacementOff && simplifyOff && !result.vertices.empty())
            return result;
        if (!faceInput.vertices.empty())
            return faceInput;
        if (!remeshed.vertices.empty())
            return remeshed;
        return source;
    }
    if (simplifyOff && !result.vertices.empty())
        return result;
    for (const TriangleMesh* mesh : {&displaced, &faceInput, &remeshed})
        if (!mesh->vertices.empty())
            return *mesh;
    return source;
}

bool PipelineStages::RunRemeshStage(const ProgressCallback& progress)
{
    const PipelineSettings& settings = lastSettings;
    report.remeshed = 0;
    report.refused = 0;
    report.refusedTriangles = 0;
    report.refusedPiece = {};
    report.refusedWithoutRemesh = 0;
    report.refusedAdvisedSize = 0.0f;
    report.refusedMemoryToo = 0;
    report.remeshReport = {};
    report.ownScalePieces.clear();
    report.remeshDistance = {};
    remeshDistanceDue_ = false;
    TriangleMesh part = source;
    const FlippedCopies copies = TakeOutFlippedCopies(source, part);
    report.flippedCopiesRemoved = copies.taken;
    report.doubledFacetsKept = copies.doubledLeft;
    report.nestedBodies = FindNestedBodies(part);
    // Without a remesh the solid relief is made at the part's own triangles, which the float
    // steps far out must allow as well.
    if (settings.remeshOn == 0 && SolidReliefWanted(settings, heightMap)
        && !RefusePieceTooFarOut(UnremeshedSolidCell(source)))
        return false;
    if (settings.remeshOn == 0) {
        TriangleMesh copy = part;
        TriangleMesh input = std::move(part);
        remeshed = std::move(copy);
        faceInput = std::move(input);
        report.remeshedTriangles = remeshed.TriangleCount();
        return true;
    }
    const RemeshSettings remesh = EffectiveRemeshSettings(settings);
    const float triangleSize = RemeshTriangleSize(source, remesh);
    if (!RefusePartBelowTriangleSize(triangleSize) || !RefusePieceTooFarOut(triangleSize))
        return false;
    if (RefuseOverTheLimit() || RefuseOverMemory())
        return false;
    // The remesh writes a partial result on a stop; it works on a copy that is dropped then.
    TriangleMesh mesh = part;
    // A piece far from the rest is remeshed at its own scale, or kept as it was.
    RemeshReport remeshReport = RemeshAtOwnScale(mesh, remesh, progress, report.ownScalePieces);
    report.remeshReport = std::move(remeshReport);
    if (report.remeshReport.cancelled) {
        report.stopped = 1;
        return false;
    }
    if (report.remeshReport.failed) {
        // The grids' own advice fits the memory the remesh found; the run's advice passes every
        // limit of the run besides. The larger passes both.
        float& advised = report.remeshReport.advisedCellMillimetres;
        if (report.remeshReport.failure == RemeshFailure::gridTooLarge && advised > 0.0f)
            advised = std::max(advised, AdviseProcessTriangleSize(source, settings, runAvailable_));
        report.message = "Process could not remesh the part: "
            + RemeshFailureText(report.remeshReport) + ". Nothing was changed.";
        return false;
    }
    // A contour that found no surface hands the part back unchanged, which must not pass for a
    // remesh that kept it.
    const bool noSurface = remesh.method != RemeshMethod::isotropic && report.remeshReport.trianglesAfter == 0;
    report.message = LostPartText(part, noSurface ? TriangleMesh{} : mesh, triangleSize,
        report.remeshReport.contour && report.remeshReport.cellCapped);
    if (!report.message.empty())
        return false;
    TriangleMesh copy = mesh;
    remeshed = std::move(mesh);
    faceInput = std::move(copy);
    report.remeshed = 1;
    report.remeshedTriangles = remeshed.TriangleCount();
    report.remeshDistance.triangleSize = triangleSize;
    report.remeshDistance.finest = report.remeshReport.contour && report.remeshReport.cellCapped;
    report.remeshDistance.allowed = RemeshAllowance(triangleSize);
    // A solid relief builds a tree over this mesh anyway and measures with it.
    remeshDistanceDue_ = true;
    if (!SolidReliefWanted(settings, heightMap)) {
        const Clock::time_point start = Clock::now();
        AabbTree tree;
        tree.Build(remeshed);
        MeasureRemeshDistance(tree);
        report.surfaceDistanceMilliseconds += MillisecondsSince(start);
    }
    return true;
}

bool PipelineStages::RefuseOverTheLimit()
{
    const ProcessEstimate estimate = EstimateProcessTriangles(source, lastSettings, runAvailable_);
    if (!estimate.overLimit)
        return false;
    report.refused = 1;
    report.refusedTriangles = estimate.triangles;
    report.refusedPiece = estimate.costliest;
    report.refusedWithoutRemesh = estimate.ownTriangles ? 1 : 0;
    report.refusedAdvisedSize = estimate.advisedTriangleSize;
    report.refusedMemoryToo = static_cast<std::uint8_t>(estimate.alsoOver);
    return true;
}

bool PipelineStages::RefuseOverMemory()
{
    const ProcessMemory memory = EstimateProcessMemory(source, lastSettings, runAvailable_);
    if (!memory.over)
        return false;
    report.message = FormatProcessMemoryText(memory);
    return true;
}

bool PipelineStages::RefusePartBelowTriangleSize(float triangleSize)
{
    if (!source.boundsValid)
        return true;
    const Vec3 extent = source.boundsMax - source.boundsMin;
    const float size = std::max({extent.x, extent.y, extent.z});
    if (!(size < triangleSize))
        return true;
    report.message = FormatPartTooSmallText(size, triangleSize);
    return false;
}

bool PipelineStages::RefusePieceTooFarOut(float triangleSize)
{
    const bool solid = SolidReliefWanted(lastSettings, heightMap);
    const FarPiece far = FindPieceTooFarOut(source, triangleSize, solid);
    if (!far.found)
        return true;
    if (far.reliefCell) {
        report.message = FormatReliefTooFarOutText(far, triangleSize,
            AdviseProcessTriangleSize(source, lastSettings, runAvailable_), lastSettings.remeshOn == 0);
        return false;
    }
    report.message = FormatPieceTooFarOutText(far, triangleSize,
        AdviseProcessTriangleSize(source, lastSettings, runAvailable_));
    return false;
}

namespace {

// Where the farthest lost sample of `distance` lies on a piece of `input` (a group of bodies
// apart from the rest) of which `output` kept no vertex, records that piece's box: the piece
// went whole, and the user is told so with its size and place.
void FindDroppedPiece(const TriangleMesh& input, const TriangleMesh& output, SurfaceDistanceReport& distance)
{
    if (!distance.Lost())
        return;
    const auto inside = [](Vec3 p, Vec3 low, Vec3 high, float margin) {
        return p.x >= low.x - margin && p.y >= low.y - margin && p.z >= low.z - margin && p.x <= high.x + margin
            && p.y <= high.y + margin && p.z <= high.z + margin;
    };
    const std::vector<MeshCluster> pieces = FindMeshClusters(input, distance.allowed);
    if (pieces.size() < 2)
        return;
    for (const MeshCluster& piece : pieces) {
        if (!inside(distance.where, piece.boundsMin, piece.boundsMax, 0.0f))
            continue;
        const bool kept = std::any_of(output.vertices.begin(), output.vertices.end(), [&](const MeshVertex& v) {
            return inside(v.position, piece.boundsMin, piece.boundsMax, distance.allowed);
        });
        if (kept)
            return;
        distance.pieceDropped = true;
        distance.droppedMin = piece.boundsMin;
        distance.droppedMax = piece.boundsMax;
        return;
    }
}

}  // namespace

void PipelineStages::MeasureRemeshDistance(const AabbTree& tree)
{
    if (!remeshDistanceDue_)
        return;
    const SurfaceDistanceReport limits = report.remeshDistance;
    report.remeshDistance = MeasureSurfaceDistance(source, faceInput, tree, limits.allowed);
    report.remeshDistance.triangleSize = limits.triangleSize;
    report.remeshDistance.finest = limits.finest;
    FindDroppedPiece(source, faceInput, report.remeshDistance);
    remeshDistanceDue_ = false;
}

void PipelineStages::MeasureReliefDistance()
{
    SurfaceDistanceReport& distance = report.reliefDistance;
    if (!(distance.allowed > 0.0f) || result.TriangleCount() == 0)
        return;
    AabbTree tree;
    tree.Build(result);
    std::unique_ptr<AabbTree> inputTree = std::move(reliefInputTree_);
    if (!inputTree) {
        inputTree = std::make_unique<AabbTree>();
        inputTree->Build(faceInput);
    }
    const SurfaceDistanceReport limits = distance;
    distance = MeasureSurfaceChange(faceInput, *inputTree, result, tree, limits.allowed);
    distance.triangleSize = limits.triangleSize;
    distance.finest = limits.finest;
    distance.ownTriangles = limits.ownTriangles;
    FindDroppedPiece(faceInput, result, distance);
}

const MeasuredPart& PipelineStages::MeasuredSource()
{
    if (!measuredSource_)
        measuredSource_ = std::make_unique<MeasuredPart>(MeasurePartAsMeant(source));
    return *measuredSource_;
}

namespace {

// The sides of the box round the corners the triangles use; zero without triangles.
Vec3 BoxSides(const TriangleMesh& mesh)
{
    if (mesh.TriangleCount() == 0)
        return {};
    Vec3 low = mesh.vertices[mesh.indices[0]].position, high = low;
    for (const std::uint32_t index : mesh.indices) {
        const Vec3& p = mesh.vertices[index].position;
        low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
    return high - low;
}

}  // namespace

void PipelineStages::MeasurePartChange()
{
    PartChangeReport& change = report.partChange;
    change = {};
    report.bodyChanges = {};
    const bool rebuilt = report.remeshed != 0 || report.solidReport.ok;
    if (result.TriangleCount() == 0 || (!rebuilt && lastSettings.simplifyOn == 0))
        return;
    const std::uint64_t open = CountEdges(source).boundary;
    // Every figure of the part is of the part as measured: a facet written twice once, a body
    // wound inside out by the volume it encloses.
    const MeasuredPart& part = MeasuredSource();
    // A simplification can also take a small body away. A body the run joined into its
    // neighbour lies within what the run may move of it.
    const float reach = std::max(report.remeshDistance.allowed, report.reliefDistance.allowed);
    report.bodyChanges = MeasureBodyChanges(part.mesh, result, reach, kVolumeLossWarningShare, open != 0);
    if (!rebuilt)
        return;
    change.measured = true;
    change.sizeBefore = BoxSides(part.mesh);
    change.sizeAfter = BoxSides(result);
    change.areaBefore = part.mesh.SurfaceArea();
    change.areaAfter = result.SurfaceArea();
    change.volumeBefore = part.mesh.Volume();
    change.volumeAfter = result.Volume();
    // Reversed copies the run took out are said of their own.
    change.doubledFacets = part.doubledFacets - std::min(part.doubledFacets, report.flippedCopiesRemoved);
    change.bodiesTurned = part.bodiesTurned;
    change.wholeTurned = part.wholeTurned;
    if (open != 0 && CountEdges(result).boundary == 0)
        change.openEdgesClosed = open;
    // A relief takes off up to its depth over the surface on purpose.
    const DisplacementReport& relief = report.displacementReport;
    const double depth = std::max(-relief.minimumOffset, relief.maximumOffset);
    change.reliefAllowance = std::max(depth, 0.0) * change.areaBefore;
    const SurfaceDistanceReport& built = report.solidReport.ok ? report.reliefDistance : report.remeshDistance;
    change.triangleSize = built.triangleSize;
    change.ownTriangles = report.remeshed == 0;
}

void PipelineStages::NoteLostSurface()
{
    if (!report.validated)
        return;
    // Facets written twice that the run kept read as walls: a smaller triangle size would not
    // help, Mesh > Repair would.
    const std::uint64_t repeats = report.doubledFacetsKept;
    for (const SurfaceDistanceReport* distance : {&report.remeshDistance, &report.reliefDistance}) {
        if (!distance->Exceeded())
            continue;
        const auto add = [this](std::string problem, std::string note) {
            AddWarning(report.validation, std::move(problem), std::move(note));
        };
        if (distance->Lost())
            add("Part of the surface was lost: the part reaches " + FormatMillimetres(distance->largest)
                    + " from the result at " + FormatMillimetres(distance->where) + ".",
                repeats != 0 ? FormatDoubledFacetsNote(repeats)
                             : FormatLostSurfaceNote(false, distance->finest, distance->ownTriangles));
        if (distance->Added())
            add("Surface was added: the result reaches " + FormatMillimetres(distance->added) + " from the part at "
                    + FormatMillimetres(distance->addedWhere) + ".",
                FormatLostSurfaceNote(true, distance->finest, distance->ownTriangles));
    }
}

void PipelineStages::NoteKeptFarPieces()
{
    if (!report.validated)
        return;
    for (const OwnScalePiece& piece : report.ownScalePieces)
        if (piece.kept)
            AddWarning(report.validation, FormatOwnScalePieceText(piece),
                "A coordinate steps there by about as much as the piece is large. The piece moved nearer the part "
                "in the program that made it is remeshed and textured with the rest.");
}

namespace {

// Whether a nested body of the result's validation is the body a change names (the same mesh,
// so the same box).
bool IsSameBody(const NestedBody& nested, const CrumbRecord& body)
{
    const float tolerance = 1e-4f * std::max(1.0f, Length(body.boxMax - body.boxMin));
    return Length(nested.boxMin - body.boxMin) <= tolerance && Length(nested.boxMax - body.boxMax) <= tolerance;
}

}  // namespace

void PipelineStages::NoteBodyChanges()
{
    const BodyChangeReport& bodies = report.bodyChanges;
    if (!report.validated || !bodies.measured || bodies.changes.empty())
        return;
    std::uint64_t taken = 0, filled = 0, cut = 0, voids = 0;
    double mostCut = 0.0;
    for (const BodyChange& c : bodies.changes) {
        const bool hollow = c.before.volume < 0.0;
        if (c.fate == BodyFate::vanished) {
            ++(hollow ? filled : taken);
        } else if (c.fate == BodyFate::shrunk) {
            ++cut;
            mostCut = std::max(mostCut, LostShare(c.before, c.after));
        } else if (c.fate == BodyFate::newVoid) {
            ++voids;
        }
    }
    if (taken + filled + cut + voids == 0)
        return;
    const auto add = [this](std::string problem, std::string note) {
        AddWarning(report.validation, std::move(problem), std::move(note));
    };
    const std::string named = "The run's warnings name each with its size, place and volume.";
    if (taken != 0)
        add("Process took away " + FormatCountOf(taken, "body", "bodies") + " of the part.", named);
    if (filled != 0)
        add("Process filled " + FormatCountOf(filled, "hollow", "hollows") + " of the part.", named);
    if (cut != 0)
        add("Process cut " + FormatCountOf(cut, "body", "bodies") + " of the part down, "
                + (cut == 1 ? "by " : "the most by ") + FormatFixed(100.0 * mostCut, 0) + "%.",
            named);
    if (voids == 0)
        return;
    add("Process made " + FormatCountOf(voids, "sealed void", "sealed voids") + " the part did not have.",
        std::string(voids == 1 ? "It is a closed space" : "They are closed spaces")
            + " inside what was solid, which a slicer prints hollow.");
    // The validation says the result's hollows are kept; those the run made were not the part's.
    ValidationReport& validation = report.validation;
    const std::string said = FormatNestedBodies(validation.nestedBodies, NestedBodyRole::hollow) + ".";
    const auto note = std::find(validation.notes.begin(), validation.notes.end(), said);
    if (note == validation.notes.end())
        return;
    std::vector<NestedBody> kept;
    for (const NestedBody& nested : validation.nestedBodies) {
        const bool made = nested.role == NestedBodyRole::hollow
            && std::any_of(bodies.changes.begin(), bodies.changes.end(), [&](const BodyChange& c) {
                   return c.fate == BodyFate::newVoid && IsSameBody(nested, c.after);
               });
        if (!made)
            kept.push_back(nested);
    }
    const std::string keptText = FormatNestedBodies(kept, NestedBodyRole::hollow);
    if (keptText.empty())
        validation.notes.erase(note);
    else
        *note = keptText + ".";
}

void PipelineStages::NoteMissedTexture(bool reliefWanted)
{
    report.textureMissed = reliefWanted && TextureMissed(report.textureFigures);
    if (!report.textureMissed || !report.validated)
        return;
    // A plain copy of the part is no textured success, however sound the mesh.
    AddWarning(report.validation, FormatTextureMissed(report.textureFigures, lastSettings, report.partChange),
        kTextureMissedAdvice);
}

void PipelineStages::NoteReliefFolds()
{
    const std::uint64_t folds = report.foldedTriangles;
    if (!report.validated || folds == 0)
        return;
    AddWarning(report.validation, FormatFoldsLeft(report), FoldsNote(report));
}

void PipelineStages::NoteTextureHeldBack()
{
    if (!report.validated || report.solidReport.ok)
        return;
    std::string note = FormatTextureHeldBack(report.displacementReport);
    if (!note.empty())
        report.validation.notes.push_back(std::move(note));
}

namespace {

// A far piece the remesh kept as it was takes no relief: its coordinates step too coarsely for
// one. Its triangles are those with every corner in its box (it lies apart from the rest).
void LeaveKeptPiecesPlain(const TriangleMesh& mesh, const std::vector<OwnScalePiece>& pieces, TextureWeights& weights)
{
    if (!weights.MatchesMesh(mesh))
        return;
    const auto inside = [](Vec3 p, const OwnScalePiece& piece) {
        return p.x >= piece.boundsMin.x && p.y >= piece.boundsMin.y && p.z >= piece.boundsMin.z
            && p.x <= piece.boundsMax.x && p.y <= piece.boundsMax.y && p.z <= piece.boundsMax.z;
    };
    for (const OwnScalePiece& piece : pieces) {
        if (!piece.kept)
            continue;
        for (std::size_t v = 0; v < mesh.vertices.size(); ++v)
            if (inside(mesh.vertices[v].position, piece))
                weights.vertexWeights[v] = 0.0f;
        for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
            const std::uint32_t* corner = &mesh.indices[3 * t];
            if (!inside(mesh.vertices[corner[0]].position, piece) || !inside(mesh.vertices[corner[1]].position, piece)
                || !inside(mesh.vertices[corner[2]].position, piece))
                continue;
            weights.faceTextured[t] = 0;
            for (int c = 0; c < 3; ++c)
                weights.cornerWeights[3 * t + c] = 0.0f;
        }
    }
}

}  // namespace

void PipelineStages::RunMaskStage()
{
    const PipelineSettings& settings = lastSettings;
    stageWeights = {};
    report.resultWeights = {};
    report.textureFigures = {};
    if (faceInput.vertices.empty())
        return;
    std::vector<std::uint8_t> outerMask;
    if (settings.surfaceMode != 1) {
        const std::int32_t resolution = settings.OccupancyResolution();
        if (!gridValid || gridResolution != resolution) {
            gridValid = false;
            BuildOccupancyGrid(grid, source, resolution);
            gridResolution = resolution;
            gridValid = !grid.cells.empty();
        }
        if (!grid.cells.empty() && faceInput.IsConsistent())
            outerMask = FaceFlagsToMask(ClassifyOuterSurface(grid, faceInput));
    }
    // The remesh only divides the part's faces: the projection judges those.
    std::vector<std::uint8_t> taken;
    if (settings.remeshOn != 0)
        taken = FacesTakenAsThePartsFaces(faceInput, source, settings.projection, outerMask);
    TextureWeights weights = ComputeTextureWeights(faceInput, settings.projection, outerMask,
        settings.displacement, settings.TileExtent(), settings.masks, taken);
    LeaveKeptPiecesPlain(faceInput, report.ownScalePieces, weights);
    if (settings.surfaceMode == 0 && weights.faceTextured.size() == faceInput.TriangleCount()) {
        const FlaggedArea area = FlaggedAreaShare(faceInput, weights.faceTextured);
        const FlaggedArea chosen = FlaggedAreaShare(faceInput, ChosenSurfaceFlags(settings.projection, weights));
        const FlaggedArea bed = FlaggedAreaShare(faceInput, BedFacesTaken(faceInput, settings, weights, taken));
        report.textureFigures = {
            area.faces, area.flaggedFaces, area.totalArea, area.flaggedArea, chosen.flaggedArea, bed.flaggedArea};
    }
    stageWeights = std::move(weights);
}

bool PipelineStages::RunDisplacementStage(const ProgressCallback& progress)
{
    const PipelineSettings& settings = lastSettings;
    report.displacementReport = {};
    report.solidReport = {};
    report.sampling = {};
    report.reliefDistance = {};
    pendingWeights_.reset();
    reliefInputTree_.reset();
    if (DisplacementWanted(settings, heightMap)) {
        report.message = UnusableReliefText(settings.displacement);
        if (!report.message.empty())
            return false;
    }
    if (!DisplacementWanted(settings, heightMap)) {
        TriangleMesh copy = faceInput;
        TextureWeights weights = stageWeights;
        displaced = std::move(copy);
        displacedWeights = std::move(weights);
        return true;
    }
    // Without a remesh the solid relief is the first stage the triangle limit applies to; its
    // field is judged again here, as a relief deeper than the last run's may not fit.
    if (settings.displacement.method != DisplacementMethod::mesh
        && ((settings.remeshOn == 0 && RefuseOverTheLimit()) || RefuseOverMemory()))
        return false;

    const Projection framed = BuildTileFrames(settings.projection, heightMap.settings);
    MeasureSampling(framed);
    if (settings.displacement.method == DisplacementMethod::mesh) {
        RunVertexRelief(framed);
        return true;
    }
    return RunSolidRelief(progress, framed);
}

void PipelineStages::MeasureSampling(const Projection& framed)
{
    // How finely the triangles carry the texture; detail finer than a triangle is blurred away.
    const float zoom = MinimumLayerZoom(framed);
    const float finestZoom = zoom > 0.0f ? zoom : 1.0f;
    const float textureWidth = heightMap.settings.widthMillimetres;
    SamplingReport& sampling = report.sampling;
    if (!faceInput.vertices.empty() && textureWidth > 0.0f) {
        const float edge = SampleMedianEdgeLength(faceInput);
        const float perPixel = finestZoom * textureWidth / static_cast<float>(heightMap.width);
        if (edge > 0.0f && perPixel > 0.0f) {
            sampling.measured = true;
            sampling.triangleSize = edge;
            sampling.millimetresPerPixel = perPixel;
            sampling.pixelsPerEdge = edge / perPixel;
            sampling.finestDetail = 2.0f * edge;
            sampling.advisedWidth = textureWidth * sampling.pixelsPerEdge * 0.5f;
            sampling.advisedTriangleSize = 2.0f * perPixel;
        }
    }
    const float blur =
        sampling.measured ? std::max(sampling.triangleSize / finestZoom, 0.0f) : 0.0f;
    if (blur != heightMap.filterMillimetres) {
        heightMap.filterMillimetres = blur;
        try {
            heightMap.Blur();
        } catch (...) {
            // A blur cut short must be redone by the next run, whatever radius it asks for.
            heightMap.filterMillimetres = -1.0f;
            throw;
        }
    }
    const float ownBlur = heightMap.settings.blurMillimetres;
    sampling.filterMillimetres = std::max({blur, 0.0f, ownBlur});
    sampling.filterRaised = sampling.filterMillimetres > ownBlur;
}

PipelineStages::ReliefPlacement PipelineStages::PlaceRelief() const
{
    ReliefPlacement place;
    place.weightsMatch = stageWeights.MatchesMesh(faceInput);
    place.outerMask = place.weightsMatch ? &stageWeights.faceOuterMask : nullptr;
    place.extent = lastSettings.TileExtent();
    return place;
}

void PipelineStages::RunVertexRelief(const Projection& framed)
{
    const PipelineSettings& settings = lastSettings;
    const SamplingReport& sampling = report.sampling;
    const ReliefPlacement place = PlaceRelief();
    const bool weightsMatch = place.weightsMatch;
    const std::vector<std::uint8_t>* outerMask = place.outerMask;
    const TileFrame& extent = place.extent;
    TriangleMesh mesh = faceInput;
    // Weights that do not fit the mesh read as unweighted: every vertex takes the relief.
    std::vector<float> ones;
    if (!weightsMatch)
        ones.assign(mesh.vertices.size(), 1.0f);
    const std::vector<float>& weights = weightsMatch ? stageWeights.vertexWeights : ones;
    // Faces the projection leaves plain stay in their planes up to their edges.
    const std::vector<std::uint8_t> plain = FacesKeptPlain(faceInput, stageWeights, settings.displacement.base);
    // A simplified result is another mesh: the check could not take the guard's search over.
    DisplacementReport displacementReport = ApplyDisplacement(
        mesh, framed, heightMap, weights, settings.displacement, outerMask, extent, &plain, settings.simplifyOn == 0);
    TextureWeights carried = stageWeights;
    // Measured after simplify as the solid relief is: the moved vertices may go as far as
    // the relief is deep, and the triangles between them round off as much again.
    const float edge = sampling.measured ? sampling.triangleSize : SampleMedianEdgeLength(faceInput);
    report.reliefDistance.triangleSize = edge;
    report.reliefDistance.allowed = ReliefAllowance(edge,
        std::max(-displacementReport.minimumOffset, displacementReport.maximumOffset));
    report.displacementReport = std::move(displacementReport);
    displaced = std::move(mesh);
    displacedWeights = std::move(carried);
}

bool PipelineStages::RunSolidRelief(const ProgressCallback& progress, const Projection& framed)
{
    const PipelineSettings& settings = lastSettings;
    const SamplingReport& sampling = report.sampling;
    const ReliefPlacement place = PlaceRelief();
    const bool weightsMatch = place.weightsMatch;
    const std::vector<std::uint8_t>* outerMask = place.outerMask;
    const TileFrame& extent = place.extent;

    // The solid: heights per vertex, scaled by the weights, then the displaced solid.
    std::vector<float> heights = SampleVertexHeights(faceInput, framed, heightMap,
        settings.displacement, outerMask, extent);
    if (weightsMatch)
        for (std::size_t v = 0; v < heights.size(); ++v)
            heights[v] *= stageWeights.vertexWeights[v];
    DisplacementReport& heightsReport = report.displacementReport;
    heightsReport.vertexCount = heights.size();
    heightsReport.midLevel = ResolveMidLevel(heightMap, settings.displacement);
    if (!heights.empty()) {
        const auto [low, high] = std::minmax_element(heights.begin(), heights.end());
        heightsReport.minimumOffset = std::min(*low, 0.0f);
        heightsReport.maximumOffset = std::max(*high, 0.0f);
        heightsReport.relief = heightsReport.maximumOffset - heightsReport.minimumOffset;
        heightsReport.displacedVertices = static_cast<std::uint64_t>(
            std::count_if(heights.begin(), heights.end(), [](float h) { return h != 0.0f; }));
    }

    TriangleMesh input = faceInput;
    input.ComputeBounds();
    SolidDisplacementSettings solid;
    bool cellCapped = false;
    if (settings.remeshOn != 0)
        solid.cellMillimetres = ContourCellSize(input, settings.remesh, &cellCapped);
    else
        solid.cellMillimetres = UnremeshedSolidCell(input);
    solid.clearanceCells = 2.0f;
    solid.baseEnabled = settings.displacement.base.enabled;
    solid.baseZ = input.boundsMin.z;
    // The shown count let this run start; the relief's own limit only stops a count that ran
    // far past it.
    solid.triangleLimit = StageTriangleLimit(settings.maximumTriangles);
    solid.lineWidthMillimetres = settings.printability.lineWidth;
    solid.directQueries = false;
    solid.clearanceRays = 3;
    solid.keepSlotsOpen = true;
    solid.smoothDisplacedCells = true;
    solid.verifyDistances = false;

    auto tree = std::make_unique<AabbTree>();
    tree->Build(input);
    // Millions of searches follow, over `input`, which stays as it is.
    tree->KeepCorners(input);
    const Clock::time_point measureStart = Clock::now();
    MeasureRemeshDistance(*tree);
    report.surfaceDistanceMilliseconds += MillisecondsSince(measureStart);
    const float depth = std::max(-heightsReport.minimumOffset, heightsReport.maximumOffset);
    TriangleMesh mesh;
    // Faces the projection leaves plain stay in their planes up to their edges.
    const std::vector<std::uint8_t> plain = FacesKeptPlain(faceInput, stageWeights, settings.displacement.base);
    if (ApplySolidDisplacement(input, std::move(heights), solid, progress, mesh,
            report.solidReport, tree.get(), runAvailable_, &plain, settings.masks)) {
        double kept = 0.0;
        report.message = LostPartText(input, mesh, solid.cellMillimetres, cellCapped, &kept, settings.remeshOn == 0);
        if (!report.message.empty()) {
            // Where the relief's own settings lost a sound part, they are what the refusal names:
            // a relief deeper than the part is thick, a texture tile narrower than a triangle. Without
            // a remesh the triangles are the part's own, and a wider texture would not mend them.
            if (CountEdges(input).boundary == 0 && CountDuplicateTriangles(input) == 0) {
                const float tile = sampling.measured && settings.remeshOn != 0
                    ? sampling.millimetresPerPixel * static_cast<float>(heightMap.width)
                    : 0.0f;
                const float thickness = MeanThickness(input);
                const std::string cause = FormatReliefLostText(kept, depth > thickness ? depth : 0.0f, thickness,
                    tile < sampling.triangleSize ? tile : 0.0f, sampling.triangleSize, sampling.advisedWidth);
                if (!cause.empty())
                    report.message = cause;
            }
            return false;
        }
        report.reliefDistance.triangleSize = solid.cellMillimetres;
        report.reliefDistance.finest = cellCapped;
        report.reliefDistance.ownTriangles = settings.remeshOn == 0;
        report.reliefDistance.allowed = ReliefAllowance(solid.cellMillimetres, depth);
        auto pending = std::make_unique<PendingWeights>();
        pending->weights = stageWeights;
        pending->source = std::move(input);
        pending->tree = std::move(tree);
        displaced = std::move(mesh);
        displacedWeights = {};
        pendingWeights_ = std::move(pending);
        return true;
    }
    RecordSolidFailure(report, report.solidReport);
    report.refusedWithoutRemesh = report.refused != 0 && settings.remeshOn == 0 ? 1 : 0;
    if (report.solidReport.tooLarge && ReliefDepthFillsTheField(input, solid.cellMillimetres, depth))
        report.message = FormatReliefTooDeepText(settings.displacement.strengthMillimetres, depth,
            std::max({input.boundsMax.x - input.boundsMin.x, input.boundsMax.y - input.boundsMin.y,
                input.boundsMax.z - input.boundsMin.z}));
    return false;
}

void PipelineStages::FinishDisplacedWeights()
{
    if (!pendingWeights_)
        return;
    const PendingWeights& pending = *pendingWeights_;
    TextureWeights carried = TransferSourceValues(pending.source, pending.weights, displaced, pending.tree.get());
    displacedWeights = std::move(carried);
    // The tree over the relief's input serves its distance from the result once more, for
    // few enough lookups that it can give back its copy of the corners meanwhile.
    reliefInputTree_ = std::move(pendingWeights_->tree);
    if (reliefInputTree_)
        std::vector<Vec3>().swap(reliefInputTree_->leafCorners);
    pendingWeights_.reset();
}

bool PipelineStages::RunSimplifyStage(const ProgressCallback& progress)
{
    const PipelineSettings& settings = lastSettings;
    report.flatSimplifyReport = {};
    report.meshSimplifyReport = {};
    report.flatSimplifyRan = 0;
    report.meshSimplifyRan = 0;
    if (settings.simplifyOn == 0 || displaced.vertices.empty()) {
        FinishDisplacedWeights();
        TriangleMesh copy = displaced;
        TextureWeights weights = displacedWeights;
        result = std::move(copy);
        report.resultWeights = std::move(weights);
        report.resultTriangles = result.TriangleCount();
        return true;
    }

    // The weights are carried over beside the simplification unless it needs them itself;
    // the two share nothing but `displaced`, which both only read.
    SimplifiedMesh simplified;
    if (pendingWeights_ && !settings.simplify.protectTexturedFaces) {
        ParallelInvoke([&] { FinishDisplacedWeights(); }, [&] { simplified = SimplifyDisplaced(progress); });
    } else {
        FinishDisplacedWeights();
        simplified = SimplifyDisplaced(progress);
    }
    if (simplified.stopped) {
        // A stop keeps the unsimplified mesh as the result; the stage stays dirty.
        TriangleMesh copy = displaced;
        TextureWeights weights = displacedWeights;
        result = std::move(copy);
        report.resultWeights = std::move(weights);
        report.resultTriangles = result.TriangleCount();
        report.stopped = 1;
        return false;
    }
    TextureWeights weights = RemapTextureWeights(
        displacedWeights, displaced, simplified.mesh, simplified.vertexMap, simplified.faceMap);
    result = std::move(simplified.mesh);
    report.resultWeights = std::move(weights);
    report.resultTriangles = result.TriangleCount();
    return true;
}

PipelineStages::SimplifiedMesh PipelineStages::SimplifyDisplaced(const ProgressCallback& progress)
{
    const PipelineSettings& settings = lastSettings;
    const SimplifySettings& simplify = settings.simplify;
    const std::size_t triangles = displaced.TriangleCount();
    const std::vector<std::uint8_t>* kept = nullptr;
    if (simplify.protectTexturedFaces && displacedWeights.faceTextured.size() == triangles)
        kept = &displacedWeights.faceTextured;

    SimplifiedMesh simplified;
    // The flat regions are grown over triangles all over the copy: on large pages.
    ReserveOnLargePages(simplified.mesh.vertices, displaced.vertices.size());
    ReserveOnLargePages(simplified.mesh.indices, displaced.indices.size());
    simplified.mesh = displaced;
    TriangleMesh& mesh = simplified.mesh;
    std::vector<std::uint32_t>& vertexMap = simplified.vertexMap;
    std::vector<std::uint32_t>& faceMap = simplified.faceMap;
    if (simplify.flatAreas) {
        report.flatSimplifyReport = SimplifyFlatAreas(mesh, kept, simplify, progress);
        report.flatSimplifyRan = 1;
        if (report.flatSimplifyReport.cancelled) {
            simplified.stopped = true;
            return simplified;
        }
        vertexMap = report.flatSimplifyReport.vertexSources;
        faceMap = report.flatSimplifyReport.triangleSources;
    } else {
        vertexMap = Identity(mesh.vertices.size());
        faceMap = Identity(mesh.TriangleCount());
    }

    if (simplify.wholeMesh) {
        MeshSimplifyOptions options;
        options.maximumError = simplify.meshDetailError;
        options.bedAxis = settings.displacement.base.enabled
            ? std::clamp(settings.displacement.base.axis, 0, 2) : 2;
        options.maximumNormalTurnDegrees = 78.0f;
        std::vector<std::uint8_t> carriedKept;
        if (kept != nullptr) {
            carriedKept.resize(faceMap.size(), 0);
            for (std::size_t t = 0; t < faceMap.size(); ++t)
                if (faceMap[t] < kept->size())
                    carriedKept[t] = (*kept)[faceMap[t]];
            options.protectedTriangles = &carriedKept;
        }
        report.meshSimplifyReport = SimplifyMesh(mesh, options, progress);
        report.meshSimplifyRan = 1;
        // The simplifier hands back the mesh as it was on a stop; taking that as simplified
        // would publish an unsimplified result as up to date.
        if (report.meshSimplifyReport.stopped) {
            simplified.stopped = true;
            return simplified;
        }
        const auto compose = [](const std::vector<std::uint32_t>& outer,
                                 const std::vector<std::uint32_t>& inner) {
            std::vector<std::uint32_t> composed(inner.size(), std::numeric_limits<std::uint32_t>::max());
            for (std::size_t i = 0; i < inner.size(); ++i)
                if (inner[i] < outer.size())
                    composed[i] = outer[inner[i]];
            return composed;
        };
        vertexMap = compose(vertexMap, report.meshSimplifyReport.vertexMap);
        faceMap = compose(faceMap, report.meshSimplifyReport.faceMap);
    }
    return simplified;
}

void PipelineStages::RunCleanupStage()
{
    report.cleanupReport = {};
    if (result.vertices.empty())
        return;
    TriangleMesh mesh = result;
    mesh.ComputeBounds();
    ExportCleanupReport cleanup = CleanupForExport(mesh, kAutomaticWeldTolerance, lastSettings.cleanup);
    const bool effect = cleanup.verticesMerged != 0 || cleanup.collapsedTrianglesDropped != 0
        || cleanup.trianglesAdded != 0 || cleanup.holesLeftOpen != 0
        || cleanup.collapsesRefused != 0 || cleanup.zeroAreaTrianglesLeft != 0;
    if (effect) {
        const std::vector<std::uint32_t> vertexMap =
            cleanup.vertexMap.empty() ? Identity(mesh.vertices.size()) : cleanup.vertexMap;
        const std::vector<std::uint32_t> faceMap =
            cleanup.faceMap.empty() ? Identity(mesh.TriangleCount()) : cleanup.faceMap;
        TextureWeights weights =
            RemapTextureWeights(report.resultWeights, result, mesh, vertexMap, faceMap);
        result = std::move(mesh);
        report.resultWeights = std::move(weights);
        report.resultTriangles = result.TriangleCount();
    }
    report.cleanupReport = std::move(cleanup);
}

bool PipelineStages::ReportPhase(const ProgressCallback& progress, const char* text)
{
    if (!progress || progress(text, -1.0f))
        return false;
    stageDirty[kStageSimplify] = 1;
    report.stopped = 1;
    return true;
}

bool PipelineStages::Run(const ProgressCallback& progress)
{
    report.stopped = 0;
    report.refused = 0;
    report.refusedTriangles = 0;
    report.refusedPiece = {};
    report.refusedWithoutRemesh = 0;
    report.refusedAdvisedSize = 0.0f;
    report.refusedMemoryToo = 0;
    report.message.clear();
    report.stageMilliseconds = {};
    runAvailable_ = memoryBudgetBytes != 0 ? memoryBudgetBytes : platform::AvailableMemoryBytes();
    std::int32_t current = kStageRemesh;
    try {
        return RunStages(progress, current);
    } catch (const std::bad_alloc&) {
        // The stages move their meshes in only when done, so the state is what the last
        // finished stage left; the stage at work (the checks count as stage 3) stays dirty.
        report.message = kOutOfMemoryText;
        stageDirty[static_cast<std::size_t>(std::min(current, kStageSimplify))] = 1;
        return false;
    } catch (...) {
        // Other errors end the run in the caller; the stage they hit must still run again.
        stageDirty[static_cast<std::size_t>(std::min(current, kStageSimplify))] = 1;
        throw;
    }
}

bool PipelineStages::RunStages(const ProgressCallback& progress, std::int32_t& current)
{
    if (!HasGeometry(source)) {
        stageDirty.fill(0);
        return true;
    }
    report.sourceTriangles = source.TriangleCount();
    const std::array<std::uint8_t, kStageCount> dirtyAtStart = stageDirty;
    if (!RunShapingStages(progress, current))
        return false;
    // From here on a failure or a stop redoes simplify, cleanup and the checks.
    current = kStageSimplify;
    if (!FinishResult(dirtyAtStart))
        return false;
    const bool reliefWanted = DisplacementWanted(lastSettings, heightMap);
    if (!ValidateResult(progress, dirtyAtStart, reliefWanted))
        return false;
    NoteLostSurface();
    NoteKeptFarPieces();
    NoteBodyChanges();
    NoteMissedTexture(reliefWanted);
    NoteReliefFolds();
    NoteTextureHeldBack();
    if (!MeasureWallsAfterRelief(progress, dirtyAtStart, reliefWanted))
        return false;
    return RunPrintCheck(progress, reliefWanted);
}

bool PipelineStages::RunShapingStages(const ProgressCallback& progress, std::int32_t& current)
{
    // A stop or failure after the remesh leaves the newest mesh before the relief as the result.
    const auto endAfterFaces = [&]() {
        const TriangleMesh& keep = !faceInput.vertices.empty() ? faceInput : remeshed;
        TriangleMesh copy = keep;
        result = std::move(copy);
        return false;
    };

    if (stageDirty[kStageRemesh] != 0) {
        current = kStageRemesh;
        const Clock::time_point start = Clock::now();
        const bool ok = RunRemeshStage(progress);
        report.stageMilliseconds.remesh = MillisecondsSince(start);
        if (!ok) {
            TriangleMesh copy = !remeshed.vertices.empty() ? remeshed : source;
            result = std::move(copy);
            return false;
        }
        stageDirty[kStageRemesh] = 0;
    }
    if (stageDirty[kStageFaces] != 0) {
        current = kStageFaces;
        if (progress && !progress(kFacesPhaseText, -1.0f)) {
            report.stopped = 1;
            return endAfterFaces();
        }
        const Clock::time_point start = Clock::now();
        RunMaskStage();
        report.stageMilliseconds.faces = MillisecondsSince(start);
        stageDirty[kStageFaces] = 0;
    }
    if (stageDirty[kStageDisplacement] != 0) {
        current = kStageDisplacement;
        if (progress && !progress(kDisplacingPhaseText, -1.0f)) {
            report.stopped = 1;
            return endAfterFaces();
        }
        const Clock::time_point start = Clock::now();
        const bool ok = RunDisplacementStage(progress);
        report.stageMilliseconds.displacement = MillisecondsSince(start);
        if (!ok)
            return endAfterFaces();
        stageDirty[kStageDisplacement] = 0;
    }
    if (stageDirty[kStageSimplify] != 0) {
        current = kStageSimplify;
        const Clock::time_point start = Clock::now();
        const bool ok = RunSimplifyStage(progress);
        report.stageMilliseconds.simplify = MillisecondsSince(start);
        if (!ok)
            return false;
        stageDirty[kStageSimplify] = 0;
    }
    return true;
}

bool PipelineStages::FinishResult(const std::array<std::uint8_t, kStageCount>& dirtyAtStart)
{
    {
        const Clock::time_point start = Clock::now();
        RunCleanupStage();
        report.cleanupMilliseconds = MillisecondsSince(start);
    }
    // A coordinate that is not a number would reach the view and the saved file; the chain
    // runs again from the start next time, and refuses again while the cause stays.
    if (!HasFiniteCoordinates(result)) {
        report.message = kNonFiniteResultText;
        stageDirty.fill(1);
        return false;
    }
    if (dirtyAtStart[kStageDisplacement] != 0 || dirtyAtStart[kStageSimplify] != 0) {
        const Clock::time_point start = Clock::now();
        MeasureReliefDistance();
        MeasurePartChange();
        report.surfaceDistanceMilliseconds += MillisecondsSince(start);
    }
    return true;
}

bool PipelineStages::ValidateResult(const ProgressCallback& progress,
    const std::array<std::uint8_t, kStageCount>& dirtyAtStart, bool reliefWanted)
{
    const PipelineSettings& settings = lastSettings;
    const bool changed = dirtyAtStart[kStageRemesh] != 0 || dirtyAtStart[kStageDisplacement] != 0
        || dirtyAtStart[kStageSimplify] != 0;
    const bool meaningful =
        settings.remeshOn != 0 || reliefWanted || settings.simplifyOn != 0;
    const ExportCleanupReport& cleanup = report.cleanupReport;
    const bool cleaned = cleanup.verticesMerged != 0 || cleanup.collapsedTrianglesDropped != 0
        || cleanup.trianglesAdded != 0;
    report.unchanged = !meaningful && !cleaned;
    const bool validate = (changed && meaningful && !checksOnly) || cleaned;
    checksOnly = false;
    report.validated = false;
    report.validation = {};
    report.foldedTriangles = 0;
    report.foldedBeforeRelief = 0;
    if (!validate)
        return true;
    if (ReportPhase(progress, kCheckingMeshPhaseText))
        return false;
    const Clock::time_point start = Clock::now();
    ValidationOptions options;
    options.sliverQualityLimit = 0.001f;
    // A relief can fold the surface through itself; the search costs a few per cent of the
    // run, and without it the verdict says "Good" on a result that crosses.
    options.checkSelfIntersections = true;
    options.displacedResult = true;
    options.maximumSelfIntersectionPairs = kSearchPairLimit;
    // The crossing guard searched the relief's result already: where nothing moved since, its
    // pairs stand, and the search looks again only round what moved.
    options.knownSelfIntersections = report.displacementReport.crossingSearch.get();
    // The verdict is about the file that will be written: bodies that touch through
    // distinct vertices at one place are one vertex there to a slicer.
    report.validation = ValidateAsWritten(result, options);
    // The record holds a copy of the relief's corners; kept past its one use it would hold
    // that memory until the next relief.
    report.displacementReport.crossingSearch.reset();
    // A fold near one of the part's own lies within the reach of the relief and a triangle.
    const float size = settings.remeshOn != 0 ? RemeshTriangleSize(source, EffectiveRemeshSettings(settings))
                                              : UnremeshedSolidCell(source);
    const float reach = (reliefWanted ? ReliefDepthBound(settings.displacement) : 0.0f) + std::max(size, 0.01f);
    report.foldedTriangles = FindFoldsMade(result, source, reach).size();
    // Which stage made them, where a relief moved a remesh's result: its text must not blame the
    // relief for the remesh's folds.
    const bool relief = report.solidReport.ok || report.displacementReport.vertexCount != 0;
    if (report.foldedTriangles != 0 && relief && report.remeshed != 0 && !remeshed.indices.empty())
        report.foldedBeforeRelief = FindFoldsMade(remeshed, source, reach).size();
    report.validated = true;
    report.checkMilliseconds = MillisecondsSince(start);
    return true;
}

bool PipelineStages::MeasureWallsAfterRelief(const ProgressCallback& progress,
    const std::array<std::uint8_t, kStageCount>& dirtyAtStart, bool reliefWanted)
{
    // Walls, after a vertex relief only.
    const PipelineSettings& settings = lastSettings;
    const WallSettings walls = settings.Walls();
    if (!(reliefWanted && settings.displacement.method == DisplacementMethod::mesh
            && settings.displacement.checkThinWalls && !faceInput.vertices.empty()
            && displaced.vertices.size() == faceInput.vertices.size())) {
        report.walls = {};
        wallsMeasured = false;
        return true;
    }
    const bool sameWalls = wallsMeasured
        && wallsMeasuredSettings.lineWidthMillimetres == walls.lineWidthMillimetres
        && wallsMeasuredSettings.thresholdMillimetres == walls.thresholdMillimetres
        && wallsMeasuredSettings.minimumInwardMillimetres == walls.minimumInwardMillimetres;
    if (dirtyAtStart[kStageDisplacement] == 0 && sameWalls)
        return true;
    if (ReportPhase(progress, kMeasuringWallsPhaseText))
        return false;
    const std::vector<float>& weights = stageWeights.vertexWeights;
    report.walls = MeasureWalls(faceInput, displaced, weights, report.displacementReport, walls);
    wallsMeasuredSettings = walls;
    wallsMeasured = true;
    return true;
}

bool PipelineStages::RunPrintCheck(const ProgressCallback& progress, bool reliefWanted)
{
    const PipelineSettings& settings = lastSettings;
    if (settings.printCheckOn == 0) {
        report.printability = {};
        report.beforeRelief = {};
        report.printabilityBeforeRelief = false;
        printChecked = false;
        return true;
    }
    if (!report.validated && printChecked
        && PrintabilitySettingsEquals(printCheckedSettings, settings.printability))
        return true;
    if (ReportPhase(progress, kPrintCheckPhaseText))
        return false;
    report.printability = CheckPrintability(result, settings.printability);
    report.beforeRelief = {};
    report.printabilityBeforeRelief = false;
    const PrintabilityReport& printability = report.printability;
    if (reliefWanted
        && (!printability.featuresInAir.empty() || !printability.farReaches.empty()
            || !printability.airPlaces.empty())
        && !faceInput.vertices.empty()) {
        report.beforeRelief = CheckPrintability(faceInput, settings.printability);
        report.printabilityBeforeRelief = true;
    }
    // The check cannot be stopped inside; a stop asked while it ran is honoured here.
    if (ReportPhase(progress, kPrintCheckPhaseText))
        return false;
    printCheckedSettings = settings.printability;
    printChecked = true;
    return true;
}

}  // namespace grainforge::mesh
