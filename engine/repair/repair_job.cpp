#include "engine/repair/repair_job.h"
#include "engine/mesh/report_text.h"

#include "engine/mesh/export_cleanup.h"
#include "engine/mesh/near_points.h"
#include "engine/repair/non_manifold_repair.h"
#include "engine/files/stl_reader.h"
#include "engine/files/stl_writer.h"
#include "engine/repair/tidying.h"
#include "engine/mesh/welding.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

namespace grainforge::mesh {
namespace {

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

// What the tidy passes did over the whole job, summed over their runs.
struct TidyTotals {
    std::uint64_t doubleSkinnedPairsRemoved = 0;
    std::uint64_t flippedCopiesRemoved = 0;
    std::uint64_t innerCopiesRemoved = 0;
    TidyReport tidy;  // its trianglesReoriented is not shown: turns may undo turns
};

// Removes double-skinned pairs and runs the full tidy; true when either changed something.
// The pairs on a sheet that encloses nothing go into `setAside`, as they are, so that nothing
// of the repair chooses between their copies. With `outsideLater` the tidy only makes each
// body's windings agree, most as written: its outside is decided once the rounds have closed it.
bool TidyPart(TriangleMesh& mesh, TriangleMesh& setAside, RepairForPrintReport& report, TidyTotals& totals,
              bool outsideLater)
{
    const RepeatedFacesReport pairs = RemoveDoubleSkinnedPairs(mesh);
    report.pairsLeft += pairs.pairsLeft;
    if (!pairs.leftTriangles.empty())
        PutBack(setAside, TakeOutTriangles(mesh, pairs.leftTriangles));
    report.doubleSkinnedPairsRemoved += pairs.doubleSkinnedPairsRemoved;
    report.flippedCopiesRemoved += pairs.flippedCopiesRemoved;
    report.innerCopiesRemoved += pairs.innerCopiesRemoved;
    totals.doubleSkinnedPairsRemoved += pairs.doubleSkinnedPairsRemoved;
    totals.flippedCopiesRemoved += pairs.flippedCopiesRemoved;
    totals.innerCopiesRemoved += pairs.innerCopiesRemoved;
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
    options.keepMostWindings = outsideLater;
    options.removeUnusedVertices = true;
    options.recomputeNormals = true;
    const TidyReport tidy = TidyMesh(mesh, options);
    totals.tidy.verticesMerged += tidy.verticesMerged;
    totals.tidy.degenerateRemoved += tidy.degenerateRemoved;
    totals.tidy.duplicatesRemoved += tidy.duplicatesRemoved;
    totals.tidy.trianglesReoriented += tidy.trianglesReoriented;
    totals.tidy.unusedVerticesRemoved += tidy.unusedVerticesRemoved;
    return pairs.Changed() || tidy.changed;
}

// The lines the tidy passes add to the log, with the triangles reoriented as measured on the
// result against the part as given.
std::string TidyLines(const TidyTotals& totals, std::uint64_t turned)
{
    std::string lines;
    if (totals.doubleSkinnedPairsRemoved != 0)
        lines += "  Double-skinned triangle pairs removed: " + N(totals.doubleSkinnedPairsRemoved) + "\n";
    if (totals.flippedCopiesRemoved != 0)
        lines += "  Flipped copies of a face removed: " + N(totals.flippedCopiesRemoved) + "\n";
    if (totals.innerCopiesRemoved != 0)
        lines += "  Inward copies of a double-sided body removed: " + N(totals.innerCopiesRemoved) + "\n";
    TidyReport shown = totals.tidy;
    shown.trianglesReoriented = turned;
    shown.changed = shown.verticesMerged != 0 || shown.degenerateRemoved != 0 || shown.duplicatesRemoved != 0
        || shown.trianglesReoriented != 0 || shown.unusedVerticesRemoved != 0;
    if (shown.changed) {
        const std::string text = FormatTidyReport(shown);
        const std::size_t head = text.find('\n');
        lines += head == std::string::npos ? std::string() : text.substr(head + 1);
    }
    return lines;
}

// The distinct corner positions of the part as given, found again from a position that the
// job moved by at most `reach`: a split moves a vertex's copies that far from it, and a weld
// keeps the positions it keeps. The nearest wins, the lower number on a tie.
class CornerFinder {
public:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    CornerFinder(const TriangleMesh& mesh, float reach) : positions_(DistinctPositions(mesh)), near_(positions_, reach) {}

    [[nodiscard]] std::uint32_t Find(Vec3 p) const
    {
        // Most corners kept their place.
        const auto exact = std::lower_bound(positions_.begin(), positions_.end(), p, Before);
        if (exact != positions_.end() && Bits(*exact) == Bits(p))
            return static_cast<std::uint32_t>(exact - positions_.begin());
        std::uint32_t best = kNone;
        double bestDistance = 0.0;
        near_.ForEachWithin(p, [&](std::uint32_t i, double distance) {
            if (best == kNone || distance < bestDistance || (distance == bestDistance && i < best)) {
                best = i;
                bestDistance = distance;
            }
        });
        return best;
    }

private:
    static std::array<std::uint32_t, 3> Bits(Vec3 p)
    {
        return {std::bit_cast<std::uint32_t>(p.x), std::bit_cast<std::uint32_t>(p.y), std::bit_cast<std::uint32_t>(p.z)};
    }
    static bool Before(Vec3 a, Vec3 b) { return Bits(a) < Bits(b); }

    static std::vector<Vec3> DistinctPositions(const TriangleMesh& mesh)
    {
        std::vector<Vec3> positions;
        positions.reserve(mesh.vertices.size());
        for (const MeshVertex& v : mesh.vertices)
            if (IsFinite(v.position))
                positions.push_back(v.position);
        std::sort(positions.begin(), positions.end(), Before);
        positions.erase(std::unique(positions.begin(), positions.end(), [](Vec3 a, Vec3 b) { return Bits(a) == Bits(b); }),
            positions.end());
        return positions;
    }

    std::vector<Vec3> positions_;  // sorted by their bits
    detail::NearPoints near_;
};

// A triangle by the numbers of its corners, turned so that the least comes first, the other
// two in order (packed for a quick sort), and whether they came in that order: its winding.
struct TriangleKey {
    std::uint64_t firstTwo;
    std::uint32_t third;
    bool ascending;
    bool result;  // of the result, not of the part as given

    [[nodiscard]] bool SameCorners(const TriangleKey& other) const
    {
        return firstTwo == other.firstTwo && third == other.third;
    }
    [[nodiscard]] bool Before(const TriangleKey& other) const
    {
        return firstTwo != other.firstTwo ? firstTwo < other.firstTwo : third < other.third;
    }
};

bool TriangleKeyOf(std::array<std::uint32_t, 3> c, bool result, TriangleKey& key)
{
    if (c[0] == CornerFinder::kNone || c[1] == CornerFinder::kNone || c[2] == CornerFinder::kNone || c[0] == c[1]
        || c[1] == c[2] || c[2] == c[0])
        return false;  // a corner not found or repeated: no winding to compare
    const int first = static_cast<int>(std::min_element(c.begin(), c.end()) - c.begin());
    const std::uint32_t second = c[(first + 1) % 3];
    const std::uint32_t third = c[(first + 2) % 3];
    key = {(std::uint64_t{c[first]} << 32) | std::min(second, third), std::max(second, third), second < third, result};
    return true;
}

// Triangles of `result` over three corners of a triangle of `given` wound the other way, where
// `given` holds none over them wound the same way: the triangles the job turned, counted on
// what it gives back, so that a turn undone later in the job is not counted.
std::uint64_t CountTurnedTriangles(const TriangleMesh& given, const TriangleMesh& result)
{
    // A split moves the copies of a vertex, a weld keeps the positions it keeps.
    const CornerFinder finder(given, LargestSplitStep(given));
    std::vector<TriangleKey> keys;
    keys.reserve(given.TriangleCount() + result.TriangleCount());
    for (const TriangleMesh* mesh : {&given, &result}) {
        std::vector<std::uint32_t> cornerOf(mesh->vertices.size());
        for (std::size_t v = 0; v < cornerOf.size(); ++v)
            cornerOf[v] = finder.Find(mesh->vertices[v].position);
        TriangleKey key{};
        for (std::size_t t = 0; t < mesh->TriangleCount(); ++t) {
            const std::uint32_t* c = &mesh->indices[3 * t];
            if (TriangleKeyOf({cornerOf[c[0]], cornerOf[c[1]], cornerOf[c[2]]}, mesh == &result, key))
                keys.push_back(key);
        }
    }
    std::sort(keys.begin(), keys.end(), [](const TriangleKey& a, const TriangleKey& b) { return a.Before(b); });
    std::uint64_t turned = 0;
    for (std::size_t i = 0; i < keys.size();) {
        std::size_t j = i + 1;
        while (j < keys.size() && keys[j].SameCorners(keys[i]))
            ++j;
        bool givenWound[2] = {false, false};  // by `ascending`
        for (std::size_t k = i; k < j; ++k)
            if (!keys[k].result)
                givenWound[keys[k].ascending ? 1 : 0] = true;
        for (std::size_t k = i; k < j; ++k)
            if (keys[k].result && !givenWound[keys[k].ascending ? 1 : 0] && givenWound[keys[k].ascending ? 0 : 1])
                ++turned;
        i = j;
    }
    return turned;
}

// The last round's holes left open, each reason with its count and largest size.
void CopyHolesLeftOpen(const ExportCleanupReport& cleanup, RepairForPrintReport& report)
{
    report.holesLeftOpen = cleanup.holesLeftOpen;
    report.sheetHolesLeftOpen = cleanup.sheetHolesLeftOpen;
    report.largestOpenHoleMillimetres = cleanup.largestOpenHoleMillimetres;
    report.nonManifoldHolesLeftOpen = cleanup.nonManifoldHolesLeftOpen;
    report.largestNonManifoldHoleMillimetres = cleanup.largestNonManifoldHoleMillimetres;
    report.crossingHolesLeftOpen = cleanup.crossingHolesLeftOpen;
    report.largestCrossingHoleMillimetres = cleanup.largestCrossingHoleMillimetres;
    report.unclosedBoundaries = cleanup.unclosedBoundaries;
}

using RoundResult = FixRound;

RoundResult RunRound(TriangleMesh& mesh, const RepairProgress& progress, std::uint64_t bodiesBefore,
                     RepairForPrintReport& report)
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
    CopyHolesLeftOpen(round.cleanup, report);
    report.doubleSkinnedPairsRemoved += round.repair.doubleSkinnedPairsRemoved;
    report.flippedCopiesRemoved += round.repair.flippedCopiesRemoved;
    report.innerCopiesRemoved += round.repair.innerCopiesRemoved;
    report.verticesSplit += round.repair.verticesSplit;
    report.bodiesRemoved += round.repair.bodiesRemoved;
    report.removedBodies.insert(report.removedBodies.end(), round.repair.removedBodies.begin(),
                                round.repair.removedBodies.end());
    return round;
}

void LogRound(const RoundResult& round, std::string& log)
{
    const ExportCleanupReport& c = round.cleanup;
    if (c.verticesMerged != 0 || c.collapsedTrianglesDropped != 0 || c.trianglesAdded != 0 || c.collapsesRefused != 0
        || c.zeroAreaTrianglesLeft != 0 || c.holesLeftOpen != 0)
        log += "  " + FormatExportCleanupReport(c) + "\n";
    if (round.repair.nonManifoldEdges != 0 || round.repair.bodiesRemoved != 0)
        log += FormatRepairDetails(round.repair);
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

namespace {

// Positions, normals and corners alike, bit for bit: a NaN equals itself and -0 is not 0.
bool SameBits(const TriangleMesh& a, const TriangleMesh& b)
{
    static_assert(sizeof(MeshVertex) == 6 * sizeof(float), "vertices compared as bytes have no padding");
    return a.vertices.size() == b.vertices.size() && a.indices == b.indices
        && (a.vertices.empty()
            || std::memcmp(a.vertices.data(), b.vertices.data(), a.vertices.size() * sizeof(MeshVertex)) == 0);
}

}  // namespace

FixRound RunCheckFixRound(TriangleMesh& mesh, float tolerance, const ExportCleanupOptions& cleanup,
                          const RepairOptions* fixes, const RepairProgress& progress, std::uint64_t bodiesBefore,
                          CheckRoundMemo& memo)
{
    // Reused only when this round is given exactly what the last was given and left: anything
    // done to the part between rounds makes it another part.
    if (memo.partUnchanged && SameBits(memo.left, mesh)) {
        FixRound again = memo.last;
        again.repair.elapsedMilliseconds = 0.0;  // nothing ran
        return again;
    }
    memo.left.vertices = mesh.vertices;
    memo.left.indices = mesh.indices;
    memo.last = RunFixRound(mesh, tolerance, cleanup, fixes, progress, bodiesBefore);
    memo.partUnchanged = SameBits(memo.left, mesh);
    return memo.last;
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
    TidyTotals tidied;
    // A body open or sharing an edge with another is no body yet whose outside can be told: the
    // first tidy leaves which side is out as written (turning a body round its open hollow would
    // make the hollow, once closed, look like an insert), and the tidy after the first round
    // decides.
    const bool outsideLater = report.openEdgesBefore != 0 || report.nonManifoldEdgesBefore != 0;
    bool changedSoFar = TidyPart(mesh, setAside, report, tidied, outsideLater);
    // A part that is all undecidable sheet has nothing else to repair.
    if (mesh.indices.empty() && report.pairsLeft != 0) {
        mesh = kept;
        return report;
    }
    // Rounds run until one changes nothing, so that what a second Repair would do is done now:
    // a round's holes filled and edges split make bodies of what were sheets, and the tidy after
    // it decides their outside and takes away what the round left doubled or flat.
    for (std::int32_t r = 1; r <= kMostRepairRounds; ++r) {
        const RoundResult round = RunRound(mesh, progress, report.bodiesBefore, report);
        const bool roundChanged = RoundChangedSomething(round);
        if (roundChanged || r == 1)
            LogRound(round, log);
        // A round that changed nothing left the mesh as the last full tidy gave it, and the tidy
        // keeps what it gave; triangles turned for their lack of area are looked at again.
        const bool tidyDue = roundChanged || round.repair.noAreaTurned != 0 || (r == 1 && outsideLater);
        const bool tidyChanged = tidyDue && !mesh.indices.empty() && TidyPart(mesh, setAside, report, tidied, false);
        if (!roundChanged && !tidyChanged) {
            if (changedSoFar)
                break;
            mesh = kept;
            return report;
        }
        report.rounds = r;
        changedSoFar = true;
        if (mesh.indices.empty())
            break;
        (void)LogReadBack(mesh, progress, log);
        if (r == kMostRepairRounds) {
            report.roundLimitReached = true;
            log += "  stopped after " + N(static_cast<std::uint64_t>(r))
                + " rounds, the last of which still changed the part\n";
        }
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
    if (report.openEdgesAfter == 0)
        CopyHolesLeftOpen(ExportCleanupReport{}, report);
    // Only the tidy turns triangles; when it turned none there is nothing to measure.
    const std::uint64_t turned = tidied.tidy.trianglesReoriented != 0 ? CountTurnedTriangles(kept, mesh) : 0;
    report.details = TidyLines(tidied, turned) + log;
    FixBaseline given(kept);
    report.change = MeasureFixChange(given, mesh);
    return report;
}

}  // namespace

std::uint64_t LargeHolesLeftOpen(const RepairForPrintReport& report)
{
    ExportCleanupReport holes;
    holes.holesLeftOpen = report.holesLeftOpen;
    holes.sheetHolesLeftOpen = report.sheetHolesLeftOpen;
    holes.nonManifoldHolesLeftOpen = report.nonManifoldHolesLeftOpen;
    holes.crossingHolesLeftOpen = report.crossingHolesLeftOpen;
    holes.unclosedBoundaries = report.unclosedBoundaries;
    return LargeHolesLeftOpen(holes);
}

RepairForPrintReport RepairForPrint(TriangleMesh& mesh, const RepairProgress& progress)
{
    RepairForPrintReport report = RunRepairSteps(mesh, progress);
    if (!report.repaired) {
        report.nestedBodies = FindNestedBodies(mesh);
        return report;
    }
    ValidationOptions options;
    options.checkSelfIntersections = false;
    const ValidationReport result = ValidateMesh(mesh, options);
    report.nestedBodies = result.nestedBodies;
    report.faultLeft = NamesFaultRepairMends(result);
    return report;
}

bool NamesFaultRepairMends(const ValidationReport& report)
{
    return report.edgeCounts.boundary != 0 || report.edgeCounts.nonManifold != 0 || !report.orientable
        || WrongWayTriangleCount(report) != 0 || report.insideOut || report.degenerateTriangleCount != 0
        || report.duplicateTriangleCount != 0 || report.unreferencedVertexCount != 0;
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

// Repair moves no surface on purpose, yet a weld or a split moves corners: said, both ways,
// whenever a corner moved at all.
std::string MovesLine(const FixChangeReport& change)
{
    if (!change.measured || (change.cornersMoved == 0 && change.furthestMoveMillimetres == 0.0f))
        return {};
    return "  " + FormatFixChange(change) + "\n";
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
        + N(report.bodiesBefore) + " to " + N(report.bodiesAfter) + "\n" + MovesLine(report.change);
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
