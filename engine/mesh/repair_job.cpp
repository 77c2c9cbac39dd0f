#include "engine/mesh/repair_job.h"
#include "engine/mesh/report_text.h"

#include "engine/mesh/export_cleanup.h"
#include "engine/mesh/non_manifold_repair.h"
#include "engine/mesh/stl_reader.h"
#include "engine/mesh/stl_writer.h"
#include "engine/mesh/tidying.h"
#include "engine/mesh/welding.h"

#include <algorithm>
#include <cmath>

namespace grainforge::mesh {
namespace {

constexpr std::int32_t kRepairRounds = 3;
const char* const kReadBackName = "read back";

void Say(const RepairProgress& progress, const char* phase)
{
    if (progress)
        progress(phase);
}

std::string N(std::uint64_t value) { return FormatCountGrouped(value); }

void RecordAfterCounts(const TriangleMesh& mesh, RepairForPrintReport& report)
{
    report.trianglesAfter = mesh.TriangleCount();
    CountOpenAndOverSharedEdges(mesh, report.openEdgesAfter, report.nonManifoldEdgesAfter);
    report.bodiesAfter = CountBodies(mesh);
}

// The listed triangles, with copies of their corners, taken out of `mesh` into a mesh of their
// own. Corners that no other triangle uses go with them, so that the tidy does not count them
// as unused vertices of the part; every other vertex stays, in order.
TriangleMesh TakeOutTriangles(TriangleMesh& mesh, const std::vector<std::uint32_t>& triangles)
{
    constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    TriangleMesh taken;
    std::vector<std::uint8_t> out(mesh.TriangleCount(), 0);
    std::vector<std::uint32_t> copyOf(mesh.vertices.size(), kNone);
    for (const std::uint32_t t : triangles) {
        out[t] = 1;
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t v = mesh.indices[3 * std::size_t{t} + k];
            if (copyOf[v] == kNone) {
                copyOf[v] = static_cast<std::uint32_t>(taken.vertices.size());
                taken.vertices.push_back(mesh.vertices[v]);
            }
            taken.indices.push_back(copyOf[v]);
        }
    }
    std::vector<std::uint8_t> usedByRest(mesh.vertices.size(), 0);
    std::vector<std::uint32_t> kept;
    kept.reserve(mesh.indices.size());
    for (std::size_t t = 0; t < out.size(); ++t) {
        if (out[t])
            continue;
        for (int k = 0; k < 3; ++k)
            usedByRest[mesh.indices[3 * t + k]] = 1;
        kept.insert(kept.end(), mesh.indices.begin() + 3 * t, mesh.indices.begin() + 3 * t + 3);
    }
    std::vector<std::uint32_t> renumbered(mesh.vertices.size(), kNone);
    std::vector<MeshVertex> vertices;
    vertices.reserve(mesh.vertices.size());
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
        if (copyOf[v] != kNone && !usedByRest[v])
            continue;
        renumbered[v] = static_cast<std::uint32_t>(vertices.size());
        vertices.push_back(mesh.vertices[v]);
    }
    for (std::uint32_t& i : kept)
        i = renumbered[i];
    mesh.vertices.swap(vertices);
    mesh.indices.swap(kept);
    return taken;
}

// Appends `part`'s vertices and triangles to `mesh`.
void PutBack(TriangleMesh& mesh, const TriangleMesh& part)
{
    const auto offset = static_cast<std::uint32_t>(mesh.vertices.size());
    mesh.vertices.insert(mesh.vertices.end(), part.vertices.begin(), part.vertices.end());
    for (const std::uint32_t i : part.indices)
        mesh.indices.push_back(offset + i);
}

// Removes double-skinned pairs and runs the full tidy; true when either changed something.
// The pairs on a sheet that encloses nothing go into `setAside`, as they are, so that nothing
// of the repair chooses between their copies.
bool TidyPart(TriangleMesh& mesh, TriangleMesh& setAside, RepairForPrintReport& report, std::string& log)
{
    const RepeatedFacesReport pairs = RemoveDoubleSkinnedPairs(mesh);
    report.pairsLeft = pairs.pairsLeft;
    if (!pairs.leftTriangles.empty())
        setAside = TakeOutTriangles(mesh, pairs.leftTriangles);
    report.doubleSkinnedPairsRemoved = pairs.doubleSkinnedPairsRemoved;
    report.flippedCopiesRemoved = pairs.flippedCopiesRemoved;
    report.innerCopiesRemoved = pairs.innerCopiesRemoved;
    if (report.doubleSkinnedPairsRemoved != 0)
        log += "  Double-skinned triangle pairs removed: " + N(report.doubleSkinnedPairsRemoved) + "\n";
    if (report.flippedCopiesRemoved != 0)
        log += "  Flipped copies of a face removed: " + N(report.flippedCopiesRemoved) + "\n";
    if (report.innerCopiesRemoved != 0)
        log += "  Inward copies of a double-sided body removed: " + N(report.innerCopiesRemoved) + "\n";
    if (mesh.indices.empty())
        return pairs.Changed();
    TidyOptions options;
    // A slicer joins corners whose coordinates are the same bits and no others: a tolerance
    // would join what the file keeps apart (the copies a repair split, a seam left open) and
    // count a part clean that the slicer does not.
    options.mergeVertices = true;
    options.weldTolerance = 0.0f;
    options.removeDegenerate = true;
    options.removeDuplicates = true;
    options.reorient = true;
    options.removeUnusedVertices = true;
    options.recomputeNormals = true;
    const TidyReport tidy = TidyMesh(mesh, options);
    if (tidy.changed) {
        const std::string text = FormatTidyReport(tidy);
        const std::size_t head = text.find('\n');
        log += head == std::string::npos ? std::string() : text.substr(head + 1);
    }
    return pairs.Changed() || tidy.changed;
}

using RoundResult = FixRound;

RoundResult RunRound(TriangleMesh& mesh, const RepairProgress& progress, std::uint64_t bodiesBefore,
                     RepairForPrintReport& report, std::string& log)
{
    mesh.ComputeBounds();
    Say(progress, "Welding and filling small holes");
    ExportCleanupOptions cleanup;
    cleanup.weldCollapsedTriangles = true;
    cleanup.fillHoles = true;
    cleanup.maximumHoleMillimetres = 5.0f;
    cleanup.maximumSlitWidthMillimetres = 0.5f;
    RepairOptions repair;
    repair.splitNonManifoldEdges = true;
    repair.unfoldTriangles = false;
    repair.resolveSelfIntersections = false;
    repair.removeCrumbs = true;
    repair.maximumRounds = 40;
    repair.maximumMoveMillimetres = 1.0f;
    const RoundResult round =
        RunFixRound(mesh, kAutomaticWeldTolerance, cleanup, &repair, progress, bodiesBefore);

    report.holesFilled += round.cleanup.holesFilled;
    report.holesLeftOpen = round.cleanup.holesLeftOpen;
    report.sheetHolesLeftOpen = round.cleanup.sheetHolesLeftOpen;
    report.largestOpenHoleMillimetres = round.cleanup.largestOpenHoleMillimetres;
    report.doubleSkinnedPairsRemoved += round.repair.doubleSkinnedPairsRemoved;
    report.flippedCopiesRemoved += round.repair.flippedCopiesRemoved;
    report.innerCopiesRemoved += round.repair.innerCopiesRemoved;
    report.verticesSplit += round.repair.verticesSplit;
    report.bodiesRemoved += round.repair.bodiesRemoved;
    report.removedBodies.insert(report.removedBodies.end(), round.repair.removedBodies.begin(),
                                round.repair.removedBodies.end());

    const ExportCleanupReport& c = round.cleanup;
    if (c.verticesMerged != 0 || c.collapsedTrianglesDropped != 0 || c.trianglesAdded != 0 || c.collapsesRefused != 0
        || c.zeroAreaTrianglesLeft != 0 || c.holesLeftOpen != 0)
        log += "  " + FormatExportCleanupReport(c) + "\n";
    if (round.repair.nonManifoldEdges != 0 || round.repair.bodiesRemoved != 0)
        log += FormatRepairDetails(round.repair);
    return round;
}

// Triangles mended by the driver's no-area phase alone do not count as a change.
bool RoundChangedSomething(const RoundResult& round)
{
    return round.cleanup.verticesMerged != 0 || round.cleanup.collapsedTrianglesDropped != 0
        || round.cleanup.trianglesAdded != 0 || round.repair.doubleSkinnedPairsRemoved != 0
        || round.repair.flippedCopiesRemoved != 0 || round.repair.innerCopiesRemoved != 0
        || round.repair.duplicatesRemoved != 0
        || round.repair.verticesSplit != 0 || round.repair.bodiesRemoved != 0;
}

// True when the part read back clean.
bool LogReadBack(TriangleMesh& mesh, const RepairProgress& progress, std::string& log)
{
    Say(progress, "Reading the part back as a slicer will");
    const ReadBackCounts counts = ReadBackAsSlicer(mesh);
    if (!counts.ok) {
        log += "  could not be read back: " + counts.error + "\n";
        return false;
    }
    log += "  read back as a slicer reads it: " + FormatCountOf(counts.overSharedEdges, "over-shared edge", "over-shared edges")
        + ", " + N(counts.openEdges) + " open, " + FormatCountOf(counts.facetsWithNoArea, "facet", "facets") + " with no area";
    if (counts.duplicateTriangles != 0)
        log += ", " + FormatCountOf(counts.duplicateTriangles, "duplicate triangle", "duplicate triangles");
    log += "\n";
    return IsCleanReadBack(counts);
}

}  // namespace

FixRound RunFixRound(TriangleMesh& mesh, float tolerance, const ExportCleanupOptions& cleanup,
                     const RepairOptions* fixes, const RepairProgress& progress, std::uint64_t bodiesBefore)
{
    FixRound round;
    round.cleanup = CleanupForExport(mesh, tolerance, cleanup);
    mesh.ComputeBounds();
    if (fixes != nullptr)
        round.repair = RepairMesh(mesh, *fixes, progress, bodiesBefore);
    return round;
}

bool CheckFixesWanted(const RepairOptions& fixes)
{
    return fixes.splitNonManifoldEdges || fixes.unfoldTriangles || fixes.resolveSelfIntersections || fixes.removeCrumbs;
}

bool IsCleanReadBack(const ReadBackCounts& counts)
{
    return counts.ok && counts.overSharedEdges == 0 && counts.openEdges == 0 && counts.facetsWithNoArea == 0
        && counts.duplicateTriangles == 0;
}

bool CheckRoundsEnd(const ReadBackCounts& counts, const RepairReport& repair, std::uint64_t& fewestLeft)
{
    const std::uint64_t left = repair.selfIntersectingTrianglesLeft;
    if (IsCleanReadBack(counts) && (!repair.resolveChecked || left == 0 || left >= fewestLeft))
        return true;
    if (repair.resolveChecked)
        fewestLeft = left;
    return false;
}

namespace {

RepairForPrintReport RunRepairSteps(TriangleMesh& mesh, const RepairProgress& progress)
{
    RepairForPrintReport report;
    if (!mesh.IsConsistent())
        return report;
    if (!mesh.boundsValid)
        mesh.ComputeBounds();
    report.trianglesBefore = mesh.TriangleCount();
    CountOpenAndOverSharedEdges(mesh, report.openEdgesBefore, report.nonManifoldEdgesBefore);
    report.bodiesBefore = CountBodies(mesh);
    report.trianglesAfter = report.trianglesBefore;
    report.nonManifoldEdgesAfter = report.nonManifoldEdgesBefore;
    report.openEdgesAfter = report.openEdgesBefore;
    report.bodiesAfter = report.bodiesBefore;
    const TriangleMesh kept = mesh;

    std::string log;
    Say(progress, "Tidying the part");
    TriangleMesh setAside;
    bool changedSoFar = TidyPart(mesh, setAside, report, log);
    // A part that is all undecidable sheet has nothing else to repair.
    if (mesh.indices.empty() && report.pairsLeft != 0) {
        mesh = kept;
        return report;
    }
    for (std::int32_t r = 1; r <= kRepairRounds; ++r) {
        const RoundResult round = RunRound(mesh, progress, report.bodiesBefore, report, log);
        if (!RoundChangedSomething(round)) {
            if (changedSoFar)
                break;
            mesh = kept;
            return report;
        }
        report.rounds = r;
        changedSoFar = true;
        if (LogReadBack(mesh, progress, log))
            break;
    }
    // A repair that took every triangle away made no part: the part stays as it was.
    if (mesh.indices.empty()) {
        mesh = kept;
        report.emptied = true;
        return report;
    }
    if (report.pairsLeft != 0) {
        PutBack(mesh, setAside);
        log += "  " + FormatLeftPairsText(report.pairsLeft) + "\n";
    }
    mesh.ComputeBounds();
    mesh.ComputeVertexNormals();
    RecordAfterCounts(mesh, report);
    report.repaired = true;
    if (report.openEdgesAfter == 0) {
        report.holesLeftOpen = 0;
        report.sheetHolesLeftOpen = 0;
        report.largestOpenHoleMillimetres = 0.0f;
    }
    report.details = std::move(log);
    return report;
}

}  // namespace

RepairForPrintReport RepairForPrint(TriangleMesh& mesh, const RepairProgress& progress)
{
    RepairForPrintReport report = RunRepairSteps(mesh, progress);
    report.nestedBodies = FindNestedBodies(mesh);
    return report;
}

ReadBackCounts ReadBackAsSlicer(TriangleMesh& mesh)
{
    ReadBackCounts counts;
    counts.trianglesWritten = mesh.TriangleCount();
    counts.facetsWithNoArea = CountNoAreaTriangles(mesh);
    const std::vector<std::uint8_t> bytes = EncodeBinaryStl(mesh, kReadBackName);
    StlReadOptions options;
    // A slicer joins corners whose coordinates are the same bits and no others: a tolerance
    // would join what the file keeps apart (the copies a repair split, a seam left open) and
    // count a part clean that the slicer does not.
    options.mergeVertices = true;
    options.weldTolerance = 0.0f;
    options.removeDegenerate = true;
    options.removeZeroArea = false;  // a slicer sees flat triangles too
    options.removeDuplicates = false;
    options.computeNormals = true;
    StlReadResult read = ParseStl(bytes, kReadBackName, options);
    if (!read.ok) {
        counts.error = read.error.empty() ? std::string("the reader gave no reason") : read.error;
        return counts;
    }
    mesh.vertices = std::move(read.mesh.vertices);
    mesh.indices = std::move(read.mesh.indices);
    mesh.ComputeBounds();
    mesh.ComputeVertexNormals();
    counts.ok = true;
    counts.trianglesRead = mesh.TriangleCount();
    CountOpenAndOverSharedEdges(mesh, counts.openEdges, counts.overSharedEdges);
    counts.duplicateTriangles = read.report.duplicateTriangles;
    return counts;
}

void CountOpenAndOverSharedEdges(const TriangleMesh& mesh, std::uint64_t& open, std::uint64_t& overShared)
{
    open = 0;
    overShared = 0;
    if (!mesh.IsConsistent())
        return;
    const std::vector<EdgeRecord> table = BuildEdgeTable(mesh);
    for (std::size_t i = 0; i < table.size();) {
        std::size_t j = i + 1;
        while (j < table.size() && table[j].key == table[i].key)
            ++j;
        if (j - i == 1)
            ++open;
        else if (j - i > 2)
            ++overShared;
        i = j;
    }
}

std::string FormatUnchosenPairsText(std::uint64_t pairsLeft)
{
    return FormatCountOf(pairsLeft, "facet is", "facets are")
        + " written in both windings on a sheet that encloses nothing, so neither copy can be kept as its "
          "outside. The part is as it was.";
}

std::string FormatLeftPairsText(std::uint64_t pairsLeft)
{
    return FormatCountOf(pairsLeft, "facet is", "facets are")
        + " written in both windings on a sheet that encloses nothing, so neither copy can be kept as its "
          "outside; they are left as they are.";
}

namespace {

// A part Repair left as it was needed nothing only when no edge of it is open or shared by more
// than two triangles: what stays of those is said.
std::string UnchangedSummary(const RepairForPrintReport& report)
{
    std::string left;
    if (report.nonManifoldEdgesBefore != 0)
        left += "; " + FormatCountOf(report.nonManifoldEdgesBefore, "non-manifold edge is", "non-manifold edges are")
            + " left, which no split could part";
    if (report.openEdgesBefore != 0)
        left += "; " + FormatCountOf(report.openEdgesBefore, "open edge is", "open edges are") + " left";
    return left.empty() ? "Repair: nothing needed changing.\n" : "Repair: nothing was changed" + left + ".\n";
}

std::string SummaryOfChanges(const RepairForPrintReport& report)
{
    if (report.emptied)
        return "Repair: " + std::string(kRepairEmptiedText) + "\n";
    if (report.pairsLeft != 0 && !report.repaired)
        return "Repair: " + FormatUnchosenPairsText(report.pairsLeft) + "\n";
    if (!report.repaired)
        return UnchangedSummary(report);
    return "Repair:\n" + report.details + "  triangles " + N(report.trianglesBefore) + " to " + N(report.trianglesAfter)
        + "; open edges " + N(report.openEdgesBefore) + " to " + N(report.openEdgesAfter) + "; non-manifold edges "
        + N(report.nonManifoldEdgesBefore) + " to " + N(report.nonManifoldEdgesAfter) + "; bodies "
        + N(report.bodiesBefore) + " to " + N(report.bodiesAfter) + "\n";
}

}  // namespace

std::string FormatRepairSummary(const RepairForPrintReport& report)
{
    std::string text = SummaryOfChanges(report);
    for (const NestedBodyRole role : {NestedBodyRole::insert, NestedBodyRole::hollow}) {
        const std::string line = FormatNestedBodies(report.nestedBodies, role);
        if (!line.empty())
            text += "  " + line + "\n";
    }
    return text;
}

}  // namespace grainforge::mesh
