#include "engine/displacement/solid_displacement.h"

#include "engine/displacement/clearance_holding.h"
#include "engine/displacement/kept_surface.h"
#include "engine/displacement/parallel_blocks.h"
#include "engine/displacement/solid_field.h"
#include "engine/repair/crumb_removal.h"
#include "engine/mesh/report_text.h"
#include "engine/remesh/contour_clusters.h"
#include "engine/remesh/far_pieces.h"
#include "platform/memory_info.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <utility>

namespace grainforge::mesh {

namespace {

constexpr char kHoldingStage[] = "Displacing: keeping slots and walls open";
constexpr char kBuildingStage[] = "Displacing: building the solid";
constexpr char kContouringStage[] = "Displacing: contouring the solid";

// The input triangles grow by about this much in the result at the same cell size; an input
// already past the limit this way is refused before anything is built.
constexpr double kResultGrowth = 1.12;
// Bytes a result holds per triangle: its three indices and about half a vertex.
constexpr double kResultBytesPerTriangle = 24.0;
// Without a base, the floor lies far below anything a part can reach.
constexpr float kNoFloorDepth = 1000000.0f;
constexpr float kNoVertexFloor = -1e30f;
// The contour solves its vertices with sharp features kept.
constexpr double kContourSharpness = 1.0;

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Sets the phase text and asks the callback whether to go on.
bool ReportStage(JobProgressContext& job, const char* stage)
{
    job.stage = stage;
    job.spanFrom = job.spanTo = 0.0f;
    {
        const std::lock_guard lock(job.mutex);
        job.reported = -1.0f;
    }
    if (job.callback && !job.callback(job.stage, -1.0f))
        job.stopped.store(true, std::memory_order_release);
    return !job.stopped.load(std::memory_order_acquire);
}

std::uint64_t FieldBudget(std::uint64_t availableBytes)
{
    return SolidFieldBudget(availableBytes != 0 ? availableBytes : platform::AvailableMemoryBytes());
}

// The state of one solid displacement between its phases.
struct SolidJob {
    const TriangleMesh& input;
    const AabbTree& tree;
    std::vector<float>& heights;
    const SolidDisplacementSettings& settings;
    SolidDisplacementReport& report;
    JobProgressContext& context;
    double cell = 0.0;
    float floorZ = 0.0f;
    SolidField field;
    TriangleMesh mesh;
    const std::vector<std::uint8_t>* plainFaces = nullptr;
    std::span<const MaskVolume> masks;
};

void HoldHeights(SolidJob& job)
{
    const Clock::time_point start = Clock::now();
    if (job.settings.keepSlotsOpen) {
        const float clearance = static_cast<float>(job.cell) * job.settings.clearanceCells;
        ClearanceRaySettings rays{.rays = job.settings.clearanceRays};
        rays.reach = ClearanceRayReach(job.heights, clearance, rays);
        const OpenDistances open = MeasureClearanceRays(job.input, job.tree, job.heights, rays, &job.context);
        job.report.heightsHeld = HoldHeightsForClearance(job.input, open, clearance, job.heights);
    }
    job.report.clearanceMilliseconds = MillisecondsSince(start);
}

// From the vertices: the stored box may be stale.
float LowestZ(const TriangleMesh& mesh)
{
    float lowest = mesh.vertices.front().position.z;
    for (const MeshVertex& v : mesh.vertices)
        lowest = std::min(lowest, v.position.z);
    return lowest;
}

void CopyFieldStats(const SolidFieldStats& stats, SolidDisplacementReport& report)
{
    report.fieldEstimateBytes = stats.estimateBytes;
    report.fieldStoredEstimateBytes = stats.storedEstimateBytes;
    report.columnSeconds = stats.columnSeconds;
    report.blockSeconds = stats.blockSeconds;
    report.seedMilliseconds = stats.seedSeconds * 1000.0;
    report.propagateMilliseconds = stats.propagateSeconds * 1000.0;
    report.valueMilliseconds = stats.valueSeconds * 1000.0;
    report.propagationPasses = stats.propagationPasses;
    report.pointsDisplaced = stats.pointsDisplaced;
    report.oddColumns = stats.oddColumns;
    report.subCubesSkipped = stats.subCubesSkipped;
    report.verifyChecks = stats.verifyChecks;
    report.verifyMismatches = stats.verifyMismatches;
    report.verifyMisses = stats.verifyMisses;
    report.verifyMaxError = stats.verifyMaxError;
}

void CopyFieldSize(const SolidField& field, const SolidFieldStats& stats, SolidDisplacementReport& report)
{
    report.fieldPointsX = static_cast<std::uint64_t>(field.pointsX);
    report.fieldPointsY = static_cast<std::uint64_t>(field.pointsY);
    report.fieldPointsZ = static_cast<std::uint64_t>(field.pointsZ);
    report.blocksStored = field.values.size() / kFieldBlockPoints;
    report.candidateBlocks = stats.candidateBlocks;
    report.fieldBytes = 4 * (field.blockIndex.size() + field.values.size() + field.columnOffsets.size()
        + field.columnCrossings.size()) + field.displaced.size();
    report.pointsMeasured = stats.pointsMeasured;
    report.pointsRechecked = stats.pointsRechecked;
}

// False when the field would be too large (report.tooLarge).
bool BuildField(SolidJob& job, std::uint64_t memoryBudget)
{
    const Clock::time_point start = Clock::now();
    // The field is exact only near the surface, so a floor cutting through the inside of the
    // part would leave the cut face unclosed: the floor is never above the part's lowest point.
    const float lowest = LowestZ(job.input);
    job.floorZ = job.settings.baseEnabled ? std::min(job.settings.baseZ, lowest) : lowest - kNoFloorDepth;
    SolidFieldInput input;
    input.mesh = &job.input;
    input.tree = &job.tree;
    input.heights = &job.heights;
    input.plainFaces = job.plainFaces;
    input.masks = job.masks;
    input.floorZ = job.floorZ;
    input.cell = job.cell;
    input.measure = job.settings.directQueries ? FieldMeasure::direct : FieldMeasure::labels;
    input.verify = job.settings.verifyDistances;
    input.memoryBudgetBytes = memoryBudget;
    SolidFieldStats stats;
    const bool built = BuildSolidField(input, job.field, stats, &job.context);
    job.report.fieldMilliseconds = MillisecondsSince(start);
    CopyFieldStats(stats, job.report);
    if (!built) {
        job.report.tooLarge = stats.tooLarge;
        return false;
    }
    CopyFieldSize(job.field, stats, job.report);
    return true;
}

// Puts the contour's vertices over surface that takes no relief back onto the input
// (KeepSurfaceWithoutRelief), while the field's grid is known.
void KeepPlainSurface(SolidJob& job)
{
    KeptSurfaceInput kept;
    kept.part = &job.input;
    kept.tree = &job.tree;
    kept.plainFaces = job.plainFaces;
    kept.masks = job.masks;
    kept.originX = job.field.originX;
    kept.originY = job.field.originY;
    kept.originZ = job.field.originZ;
    kept.cell = job.field.cell;
    const KeptSurfaceReport report = KeepSurfaceWithoutRelief(job.mesh, kept);
    job.report.verticesKept = report.verticesKept;
    job.report.edgesTurned = report.edgesTurned;
}

// False when the contour was refused as over the limit.
bool ContourField(SolidJob& job)
{
    SolidContourContext contour;
    contour.triangleLimit = job.settings.triangleLimit;
    std::vector<PlainCrease> creases;
    if (job.plainFaces != nullptr)
        creases = FindPlainCreases(job.input, *job.plainFaces);
    contour.plainCreases = &creases;
    // The removals change the mesh; RunPhases computes the box and normals once they are done.
    contour.boxAndNormals = false;
    const float vertexFloor = job.settings.baseEnabled ? job.floorZ : kNoVertexFloor;
    ContourSolidField(job.mesh, job.field, vertexFloor, kContourSharpness, job.settings.smoothDisplacedCells,
        contour, &job.context);
    job.report.cellsContoured = contour.cellsContoured;
    job.report.flippedCells = contour.flippedCells;
    job.report.contourCrossings = contour.crossingPairs;
    job.report.contourCrossingsLeft = contour.crossingPairsLeft;
    job.report.contourHoles = contour.contourHoles;
    if (contour.refused) {
        job.report.refused = true;
        job.report.estimatedTriangles = contour.estimatedTriangles;
        return false;
    }
    KeepPlainSurface(job);
    // The field is not read again; its memory goes back before the removals run.
    job.field = SolidField{};
    return true;
}

// Whether box a, grown by `reach` on every side, holds box b.
bool HoldsBox(const RemovedPiece& a, const MeshCluster& b, float reach)
{
    return a.boxMin.x - reach <= b.boundsMin.x && a.boxMin.y - reach <= b.boundsMin.y
        && a.boxMin.z - reach <= b.boundsMin.z && a.boxMax.x + reach >= b.boundsMax.x
        && a.boxMax.y + reach >= b.boundsMax.y && a.boxMax.z + reach >= b.boundsMax.z;
}

// The removed pieces that hold a body of the input where it lay: the relief did not make them,
// it only failed to keep them printable.
std::uint64_t CountInputPieces(const SolidJob& job)
{
    const SolidDisplacementReport& report = job.report;
    if (report.voids.empty() && report.crumbs.empty() && report.thinBodies.empty())
        return 0;
    float largest = 0.0f;
    for (const float height : job.heights)
        largest = std::max(largest, std::fabs(height));
    const float reach = largest + 2.0f * static_cast<float>(job.cell);
    const std::vector<MeshCluster> bodies = FindMeshClusters(job.input, 0.0f);
    std::uint64_t count = 0;
    for (const std::vector<RemovedPiece>* list : {&report.voids, &report.crumbs, &report.thinBodies})
        for (const RemovedPiece& piece : *list)
            count += std::any_of(bodies.begin(), bodies.end(),
                         [&](const MeshCluster& body) { return HoldsBox(piece, body, reach); })
                ? 1
                : 0;
    return count;
}

// Voids and crumbs the relief set loose beside a body of the input, and bodies thinner than a
// line beside a larger one at the same body, are taken off; the largest body lying at a body
// of the input stays as that body whatever its size or thickness.
void RemovePieces(SolidJob& job)
{
    SolidDisplacementReport& report = job.report;
    const float line = std::max(0.05f, job.settings.lineWidthMillimetres);
    report.lineWidth = line;
    StrayBodyReport loose = RemoveLooseFragments(job.mesh, job.input, line * line * line, &job.tree);
    report.trianglesRemoved += loose.trianglesRemoved;
    for (const RemovedPiece& record : loose.removed)
        (record.volume < 0.0 ? report.voids : report.crumbs).push_back(record);
    report.voidsRemoved = report.voids.size();
    report.crumbsRemoved = report.crumbs.size();
    // Bodies joined through vertices are unions of those joined through edges: with one of
    // those left there is nothing beside it, and the search is not needed.
    report.thinBodiesRemoved = loose.bodiesLeft < 2
        ? 0
        : RemoveUnprintablePieces(job.mesh, job.input, &job.tree, line, &report.trianglesRemoved, &report.thinBodies);
    report.piecesRemoved = report.voidsRemoved + report.crumbsRemoved + report.thinBodiesRemoved;
    report.inputPiecesRemoved = CountInputPieces(job);
}

// The three phases; false with the report's reason when no result came.
bool RunPhases(SolidJob& job, std::uint64_t memoryBudget, TriangleMesh& result)
{
    if (!ReportStage(job.context, kHoldingStage))
        throw Stopped{};
    HoldHeights(job);

    if (!ReportStage(job.context, kBuildingStage))
        throw Stopped{};
    if (!BuildField(job, memoryBudget))
        return false;

    if (!ReportStage(job.context, kContouringStage))
        throw Stopped{};
    const Clock::time_point start = Clock::now();
    if (!ContourField(job))
        return false;
    // The contour's loops report up to here; the removals and normals take the rest.
    if (ReportPhaseFraction(job.context, 0.8f))
        throw Stopped{};
    RemovePieces(job);
    if (ReportPhaseFraction(job.context, 0.95f))
        throw Stopped{};
    job.mesh.ComputeBounds();
    job.mesh.ComputeVertexNormals();
    job.report.contourMilliseconds = MillisecondsSince(start);
    if (job.report.contourHoles)
        return false;
    if (job.mesh.TriangleCount() > job.settings.triangleLimit) {
        job.report.refused = true;
        job.report.estimatedTriangles = job.mesh.TriangleCount();
        return false;
    }
    result.vertices = std::move(job.mesh.vertices);
    result.indices = std::move(job.mesh.indices);
    result.boundsMin = job.mesh.boundsMin;
    result.boundsMax = job.mesh.boundsMax;
    result.boundsValid = job.mesh.boundsValid;
    job.report.ok = true;
    return true;
}

std::string Fixed(double value, int decimals) { return FormatFixed(value, decimals); }

// Adds one grid's figures to those of the grids before it.
void AddPieceReport(SolidDisplacementReport& total, const SolidDisplacementReport& piece)
{
    total.ok = piece.ok;
    total.stopped = total.stopped || piece.stopped;
    total.refused = total.refused || piece.refused;
    total.tooLarge = total.tooLarge || piece.tooLarge;
    total.contourHoles = total.contourHoles || piece.contourHoles;
    total.fieldEstimateBytes = std::max(total.fieldEstimateBytes, piece.fieldEstimateBytes);
    total.fieldStoredEstimateBytes = std::max(total.fieldStoredEstimateBytes, piece.fieldStoredEstimateBytes);
    total.estimatedTriangles = std::max(total.estimatedTriangles, piece.estimatedTriangles);
    total.lineWidth = piece.lineWidth;
    for (auto [to, from] : {std::pair{&total.heightsHeld, piece.heightsHeld}, {&total.fieldPointsX, piece.fieldPointsX},
             {&total.fieldPointsY, piece.fieldPointsY}, {&total.fieldPointsZ, piece.fieldPointsZ},
             {&total.blocksStored, piece.blocksStored}, {&total.candidateBlocks, piece.candidateBlocks},
             {&total.fieldBytes, piece.fieldBytes}, {&total.pointsMeasured, piece.pointsMeasured},
             {&total.pointsRechecked, piece.pointsRechecked}, {&total.cellsContoured, piece.cellsContoured},
             {&total.piecesRemoved, piece.piecesRemoved}, {&total.inputPiecesRemoved, piece.inputPiecesRemoved},
             {&total.trianglesRemoved, piece.trianglesRemoved},
             {&total.voidsRemoved, piece.voidsRemoved}, {&total.crumbsRemoved, piece.crumbsRemoved},
             {&total.thinBodiesRemoved, piece.thinBodiesRemoved}, {&total.pointsDisplaced, piece.pointsDisplaced},
             {&total.oddColumns, piece.oddColumns}, {&total.subCubesSkipped, piece.subCubesSkipped},
             {&total.verifyChecks, piece.verifyChecks}, {&total.verifyMismatches, piece.verifyMismatches},
             {&total.verifyMisses, piece.verifyMisses}, {&total.flippedCells, piece.flippedCells},
             {&total.contourCrossings, piece.contourCrossings}, {&total.verticesKept, piece.verticesKept}, {&total.edgesTurned, piece.edgesTurned}, {&total.contourCrossingsLeft, piece.contourCrossingsLeft}})
        *to += from;
    for (auto [to, from] : {std::pair{&total.clearanceMilliseconds, piece.clearanceMilliseconds},
             {&total.fieldMilliseconds, piece.fieldMilliseconds}, {&total.contourMilliseconds, piece.contourMilliseconds},
             {&total.columnSeconds, piece.columnSeconds}, {&total.blockSeconds, piece.blockSeconds},
             {&total.seedMilliseconds, piece.seedMilliseconds}, {&total.propagateMilliseconds, piece.propagateMilliseconds},
             {&total.valueMilliseconds, piece.valueMilliseconds}})
        *to += from;
    total.verifyMaxError = std::max(total.verifyMaxError, piece.verifyMaxError);
    total.propagationPasses = std::max(total.propagationPasses, piece.propagationPasses);
    total.voids.insert(total.voids.end(), piece.voids.begin(), piece.voids.end());
    total.crumbs.insert(total.crumbs.end(), piece.crumbs.begin(), piece.crumbs.end());
    total.thinBodies.insert(total.thinBodies.end(), piece.thinBodies.begin(), piece.thinBodies.end());
}

// The solid of each group of `input` that lies apart, in a field of its own at the cell asked
// for (raised where the group lies far out, OwnScaleReliefCell), joined; false with the first failing group's reason.
bool ApplyToEachGroup(const TriangleMesh& input, const std::vector<float>& heights,
    const std::vector<MeshCluster>& groups, const SolidDisplacementSettings& settings,
    const ProgressCallback& progress, TriangleMesh& result, SolidDisplacementReport& report,
    std::uint64_t availableBytes, const std::vector<std::uint8_t>* plainFaces, std::span<const MaskVolume> masks)
{
    // Every group's result is kept until all are joined, and the joined mesh may be copied as
    // it grows: all of them are held against the memory before any group runs, and each
    // group's field gets only what the results before it left.
    const std::uint64_t available = availableBytes != 0 ? availableBytes : platform::AvailableMemoryBytes();
    double results = 0.0;
    for (const MeshCluster& group : groups)
        results += 2.0 * kResultGrowth * kResultBytesPerTriangle * static_cast<double>(group.triangles.size());
    if (available != 0 && results > static_cast<double>(available)) {
        report.tooLarge = true;
        return false;
    }
    std::uint64_t held = 0;
    TriangleMesh joined;
    for (const MeshCluster& group : groups) {
        std::vector<std::uint32_t> sources;
        const TriangleMesh piece = ClusterMesh(input, group, &sources);
        std::vector<float> pieceHeights(sources.size());
        for (std::size_t v = 0; v < sources.size(); ++v)
            pieceHeights[v] = heights[sources[v]];
        std::vector<std::uint8_t> piecePlain;
        if (plainFaces != nullptr) {
            piecePlain.reserve(group.triangles.size());
            for (const std::uint32_t t : group.triangles)
                piecePlain.push_back((*plainFaces)[t]);
        }
        // A group far out takes the cell its own float steps need, not the part's.
        SolidDisplacementSettings own = settings;
        own.cellMillimetres = OwnScaleReliefCell(group.boundsMin, group.boundsMax, settings.cellMillimetres);
        TriangleMesh made;
        SolidDisplacementReport pieceReport;
        // A single byte left refuses any field just the same (0 would read the machine's).
        const std::uint64_t left = available == 0 ? 0 : std::max<std::uint64_t>(available - std::min(held, available), 1);
        const bool ok = ApplySolidDisplacement(piece, std::move(pieceHeights), own, progress, made, pieceReport,
            nullptr, left, plainFaces != nullptr ? &piecePlain : nullptr, masks);
        AddPieceReport(report, pieceReport);
        if (!ok)
            return false;
        AppendMesh(joined, made);
        held += static_cast<std::uint64_t>(2.0 * kResultBytesPerTriangle * static_cast<double>(made.TriangleCount()));
    }
    if (joined.TriangleCount() > settings.triangleLimit) {
        report.ok = false;
        report.refused = true;
        report.estimatedTriangles = joined.TriangleCount();
        return false;
    }
    joined.ComputeBounds();
    joined.ComputeVertexNormals();
    result = std::move(joined);
    return true;
}

}  // namespace

std::uint64_t SolidFieldBudget(std::uint64_t availableBytes)
{
    return static_cast<std::uint64_t>(static_cast<double>(availableBytes) * kSolidFieldMemoryShare);
}

bool ApplySolidDisplacement(const TriangleMesh& input, std::vector<float> heights,
    const SolidDisplacementSettings& settings, const ProgressCallback& progress, TriangleMesh& result,
    SolidDisplacementReport& report, const AabbTree* tree, std::uint64_t availableBytes,
    const std::vector<std::uint8_t>* plainFaces, std::span<const MaskVolume> masks)
{
    report = SolidDisplacementReport{};
    if (plainFaces != nullptr && plainFaces->size() != input.TriangleCount())
        plainFaces = nullptr;
    report.heightCount = heights.size();
    if (input.vertices.empty() || input.indices.empty() || heights.size() != input.vertices.size()
        || !input.IsConsistent() || !HasOnlyFiniteCoordinates(input))
        return false;
    const double cell = std::max(0.001, static_cast<double>(settings.cellMillimetres));
    if (!std::isfinite(cell))
        return false;
    // Bodies that lie far apart each get a field of their own at this cell, as the remesh lays
    // them in grids of their own: one field over them all would span the distance between them.
    if (const std::vector<MeshCluster> groups = ClustersNeedingOwnGrids(input, static_cast<float>(cell));
        groups.size() > 1) {
        const bool ok =
            ApplyToEachGroup(input, heights, groups, settings, progress, result, report, availableBytes, plainFaces, masks);
        report.heightCount = heights.size();
        return ok;
    }
    const double estimate = static_cast<double>(input.TriangleCount()) * kResultGrowth;
    report.estimatedTriangles = static_cast<std::uint64_t>(estimate);
    if (report.estimatedTriangles > settings.triangleLimit) {
        report.refused = true;
        return false;
    }

    std::unique_ptr<AabbTree> ownTree;
    if (!tree) {
        ownTree = std::make_unique<AabbTree>();
        ownTree->Build(input);
        tree = ownTree.get();
    }
    JobProgressContext context(progress);
    SolidJob job{input, *tree, heights, settings, report, context, 0.0, 0.0f, {}, {}, plainFaces, masks};
    job.cell = cell;
    try {
        return RunPhases(job, FieldBudget(availableBytes), result);
    } catch (const Stopped&) {
        report.stopped = true;
        return false;
    }
}

std::string FormatSolidDisplacementReport(const SolidDisplacementReport& r)
{
    if (r.refused)
        return "Solid displacement refused: about " + FormatCountGrouped(r.estimatedTriangles)
            + " triangles would be over the limit";
    std::string text = "Solid displacement: " + FormatCountGrouped(r.heightsHeld) + " of "
        + FormatCountGrouped(r.heightCount) + " heights held to keep slots and walls open; field "
        + FormatCountGrouped(r.fieldPointsX) + " x " + FormatCountGrouped(r.fieldPointsY) + " x "
        + FormatCountGrouped(r.fieldPointsZ) + ", " + FormatCountGrouped(r.blocksStored) + " blocks stored ("
        + std::to_string(r.fieldBytes / 1000000) + " MB), " + FormatCountGrouped(r.pointsMeasured)
        + " points measured; " + FormatCountGrouped(r.cellsContoured) + " cells contoured";
    if (r.contourCrossings != 0 && r.contourCrossingsLeft >= r.contourCrossings)
        text += "; " + FormatCountGrouped(r.contourCrossings)
            + " crossings of sharp vertices that easing could not part, left as they were";
    else if (r.contourCrossings != 0)
        text += "; " + FormatCountGrouped(r.contourCrossings) + " crossings of sharp vertices eased towards the surface between them, "
            + FormatCountGrouped(r.contourCrossingsLeft) + " left";
    if (r.piecesRemoved != 0) {
        text += "; taken off as unprintable (line " + Fixed(r.lineWidth, 2) + " mm): "
            + FormatCountGrouped(r.voidsRemoved) + " voids and " + FormatCountGrouped(r.crumbsRemoved)
            + " crumbs under a cube of one line, " + FormatCountGrouped(r.thinBodiesRemoved)
            + " bodies thinner than one line (" + FormatCountGrouped(r.trianglesRemoved) + " triangles)";
    }
    text += "\n  time: cap " + Fixed(r.clearanceMilliseconds, 0) + " ms; field " + Fixed(r.fieldMilliseconds, 0)
        + " ms; contour " + Fixed(r.contourMilliseconds, 0) + " ms";
    if (r.piecesRemoved != 0)
        text.append("\n").append(FormatUnprintablePieces(r));
    return text;
}

std::string FormatUnprintablePieces(const SolidDisplacementReport& r)
{
    std::string text;
    FormatUnprintablePiece(text, "void", r.voids);
    FormatUnprintablePiece(text, "crumb", r.crumbs);
    FormatUnprintablePiece(text, "thin body", r.thinBodies);
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

void FormatUnprintablePiece(std::string& text, const char* kind, const std::vector<RemovedPiece>& pieces)
{
    constexpr std::size_t kListed = 10;
    std::vector<RemovedPiece> sorted = pieces;
    std::stable_sort(sorted.begin(), sorted.end(),
        [](const RemovedPiece& a, const RemovedPiece& b) { return a.triangleCount > b.triangleCount; });
    for (std::size_t i = 0; i < std::min(kListed, sorted.size()); ++i) {
        const RemovedPiece& p = sorted[i];
        const Vec3 size = p.boxMax - p.boxMin;
        const Vec3 centre = (p.boxMin + p.boxMax) * 0.5f;
        text.append("  ").append(kind).append(" ");
        text.append(Fixed(size.x, 2)).append(" x ").append(Fixed(size.y, 2)).append(" x ").append(Fixed(size.z, 2));
        text.append(" mm at (").append(Fixed(centre.x, 2)).append(" ").append(Fixed(centre.y, 2)).append(" ");
        text.append(Fixed(centre.z, 2)).append("), ").append(FormatCountGrouped(p.triangleCount)).append(" triangles");
        if (p.volume != 0.0)
            text.append(", ").append(FormatVolume(std::abs(p.volume))).append(" mm3");
        text.append("\n");
    }
    if (sorted.size() > kListed)
        text.append("  and ").append(FormatCountGrouped(sorted.size() - kListed)).append(" more ").append(kind).append("s\n");
}

}  // namespace grainforge::mesh
