#include "app/document/mesh_jobs.h"

#include "engine/repair/non_manifold_repair.h"
#include "engine/mesh/report_text.h"
#include "engine/pipeline/process_estimate.h"
#include "engine/remesh/remesh.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <new>

namespace grainforge::app {

namespace {

using grainforge::mesh::TriangleMesh;

// A progress callback that asks the engine to stop once the flag is set.
grainforge::mesh::ProgressCallback WatchCancel(const std::atomic<bool>& cancel)
{
    return [&cancel](const std::string&, float) { return !cancel.load(); };
}

// The part as it stands on the bed, for the operations that care where the bed is.
TriangleMesh PlacedCopy(const TriangleMesh& part, const grainforge::mesh::Transform3x4& placement)
{
    TriangleMesh copy = part;
    if (!grainforge::mesh::IsIdentityTransform(placement))
        grainforge::mesh::TransformMesh(copy, placement);
    return copy;
}

void BackToLoadedFrame(TriangleMesh& mesh, const grainforge::mesh::Transform3x4& placement)
{
    if (!grainforge::mesh::IsIdentityTransform(placement))
        grainforge::mesh::TransformMesh(mesh, grainforge::mesh::InvertTransform(placement));
}

std::string GeneralNumber(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

}  // namespace

void RecordCurrentException(MeshJobFailure& failure) noexcept
{
    try {
        throw;
    } catch (const std::bad_alloc&) {
        failure.outOfMemory = true;
    } catch (const std::exception& error) {
        failure.exception = true;
        try {
            failure.detail = error.what();
        } catch (...) {
            failure.detail.clear();
        }
    } catch (...) {
        failure.exception = true;
    }
}

grainforge::mesh::MeshSimplifyOptions InputSimplifyOptions(float detailLevel)
{
    grainforge::mesh::MeshSimplifyOptions options;
    options.maximumError = detailLevel;
    options.targetTriangles = 0;
    options.bedAxis = 2;
    options.maximumNormalTurnDegrees = 78.0f;
    options.measureMovement = true;
    options.protectedTriangles = nullptr;
    options.maximumEdgeMillimetres = 0.0f;
    return options;
}

SimplifyJobResult SimplifyInputMeshJob(const TriangleMesh& loadedPart, const grainforge::mesh::Transform3x4& placement,
    float detailLevel, const std::atomic<bool>& cancel) noexcept
{
    SimplifyJobResult result;
    const bool ran = RunMeshJobBody(
        [&] {
            TriangleMesh copy = PlacedCopy(loadedPart, placement);
            result.report = grainforge::mesh::SimplifyMesh(copy, InputSimplifyOptions(detailLevel), WatchCancel(cancel));
            if (result.report.stopped) {
                result.outcome = MeshJobOutcome::stopped;
                return;
            }
            if (result.report.trianglesAfter >= result.report.trianglesBefore) {
                result.outcome = MeshJobOutcome::unchanged;
                return;
            }
            BackToLoadedFrame(copy, placement);
            result.mesh = std::move(copy);
            result.outcome = MeshJobOutcome::replaced;
        },
        result.failure);
    if (!ran) {
        result.outcome = MeshJobOutcome::failed;
        result.mesh = TriangleMesh{};
    }
    return result;
}

namespace {

// The triangle size whose estimate, over every piece of the part, is within `limit`: searched
// from the size in use (the asked one, or the finest a piece's size allows) by the estimate that
// refused.
float AdviseRemeshTriangleSize(const TriangleMesh& part, const grainforge::mesh::RemeshSettings& settings,
    std::uint64_t limit, const grainforge::mesh::RemeshEstimate& over)
{
    float start = std::max({settings.targetEdgeMillimetres, 0.0001f, over.cappedCellMillimetres});
    if (over.costliest.finest)
        start = std::max(start, over.costliest.cellMillimetres);
    grainforge::mesh::RemeshSettings trial = settings;
    const double excess = static_cast<double>(over.totalTriangles) / static_cast<double>(limit);
    return grainforge::mesh::SearchAdvisedLength(start, excess, [&](float size) {
        trial.targetEdgeMillimetres = size;
        return !grainforge::mesh::OverTriangleLimit(grainforge::mesh::EstimateRemeshResult(part, trial).totalTriangles, limit);
    });
}

}  // namespace

RemeshJobResult RemeshInputMeshJob(const TriangleMesh& loadedPart, const grainforge::mesh::Transform3x4& placement,
    const grainforge::mesh::RemeshSettings& settings, std::uint64_t maximumTriangles,
    const std::atomic<bool>& cancel) noexcept
{
    RemeshJobResult result;
    const bool ran = RunMeshJobBody(
        [&] {
            TriangleMesh copy = PlacedCopy(loadedPart, placement);
            const grainforge::mesh::RemeshEstimate estimate = grainforge::mesh::EstimateRemeshResult(copy, settings);
            // A triangle size about as large as the part makes no surface, or leaves the part as
            // it was: neither is a remesh the part should be replaced by.
            if (grainforge::mesh::UnderRemeshFloor(estimate)) {
                result.estimatedTriangles = estimate.totalTriangles;
                result.tooCoarse = true;
                result.askedTriangleSize = settings.targetEdgeMillimetres;
                if (!copy.boundsValid)
                    copy.ComputeBounds();
                if (copy.boundsValid)
                    result.partSize = copy.boundsMax - copy.boundsMin;
                result.advisedTriangleSize = grainforge::mesh::AdviseCoarsestRemeshSize(copy, settings);
                result.outcome = MeshJobOutcome::refused;
                return;
            }
            // The same limit as the pipeline's remesh stage: a fine target on a large part would
            // otherwise make more triangles than anything after it can carry.
            if (maximumTriangles != 0) {
                if (grainforge::mesh::OverTriangleLimit(estimate.totalTriangles, maximumTriangles)) {
                    result.estimatedTriangles = estimate.totalTriangles;
                    result.costliest = estimate.costliest;
                    result.advisedTriangleSize = AdviseRemeshTriangleSize(copy, settings, maximumTriangles, estimate);
                    result.outcome = MeshJobOutcome::refused;
                    return;
                }
            }
            // As Process remeshes: a piece far out at its own scale, not the asked size its
            // coordinates cannot hold.
            result.report = grainforge::mesh::RemeshAtOwnScale(copy, settings, WatchCancel(cancel), result.farPieces);
            if (result.report.cancelled) {
                result.outcome = MeshJobOutcome::stopped;
                return;
            }
            // The remesh refuses a grid that would not fit in memory, and can fail on its own:
            // the copy is then the part unchanged, not a result.
            if (result.report.failed) {
                result.failure.detail = grainforge::mesh::RemeshFailureText(result.report);
                result.outcome = MeshJobOutcome::failed;
                return;
            }
            // Thin places narrower than the cell vanish from the grid: a remesh that kept none
            // of the surface is no result, whatever the estimate said.
            if (result.report.trianglesAfter == 0 || copy.indices.empty()) {
                result.failure.detail = "it made no triangles, as triangles of "
                    + grainforge::mesh::FormatLength(settings.targetEdgeMillimetres)
                    + " mm are wider than the part's thinnest places; a smaller triangle size keeps them";
                result.outcome = MeshJobOutcome::failed;
                return;
            }
            BackToLoadedFrame(copy, placement);
            result.mesh = std::move(copy);
            result.outcome = MeshJobOutcome::replaced;
        },
        result.failure);
    if (!ran) {
        result.outcome = MeshJobOutcome::failed;
        result.mesh = TriangleMesh{};
    }
    return result;
}

grainforge::mesh::ValidationOptions PartValidationOptions()
{
    grainforge::mesh::ValidationOptions options;
    options.sliverQualityLimit = 0.001f;
    options.checkSelfIntersections = true;
    options.displacedResult = false;
    options.maximumSelfIntersectionPairs = grainforge::mesh::kSearchPairLimit;
    return options;
}

grainforge::mesh::ValidationOptions PartValidationOptions(const TriangleMesh& loadedPart)
{
    grainforge::mesh::ValidationOptions options = PartValidationOptions();
    if (grainforge::mesh::CountNonManifoldEdges(loadedPart) != 0)
        options.nonManifoldEdgesRepairLeaves = grainforge::mesh::NonManifoldEdgesRepairLeaves(loadedPart);
    return options;
}

namespace {

// What the check does with the crossings of the part as Repair leaves it, placed as the check
// will be given it. A part Repair left as it was is validated here too, for the text that says
// what is wrong with it; its non-manifold edges are the ones Repair just could not part. The
// check's rounds cost about a save, so they run only on a part Repair changed: on a part left as
// it was, or whose crossings it left as many as it was given, the check says what it parts
// itself when the part is saved, and the box promises nothing of it.
void ForecastAfterRepair(const TriangleMesh& loadedPart, const RepairJobSettings& settings, RepairJobResult& result)
{
    const bool unchanged = result.outcome == MeshJobOutcome::unchanged;
    const TriangleMesh placed = PlacedCopy(unchanged ? loadedPart : result.mesh, settings.placement);
    if (unchanged) {
        grainforge::mesh::ValidationOptions options = PartValidationOptions();
        options.nonManifoldEdgesRepairLeaves = result.report.nonManifoldEdgesBefore;
        result.validation = grainforge::mesh::ValidateMesh(placed, options);
        // Left as it was, the part still has every fault it came with.
        result.report.faultLeft = grainforge::mesh::NamesFaultRepairMends(result.validation);
        result.crossings = {};
        if (!result.validation.selfIntersectionSearchStopped)
            result.crossings.before = result.validation.selfIntersectingTriangleCount;
        return;
    }
    // A forecast the memory cannot hold is no reason to lose the repair: it is then unknown.
    try {
        bool stopped = false;
        const std::uint64_t crossing = grainforge::mesh::CountCrossingTriangles(placed, stopped);
        if (stopped)
            return;
        result.crossings.before = crossing;
        if (crossing == 0)
            return;
        // Crossings Repair left as many as it was given are the check's to meet as they came:
        // the check says what it parts of them when the part is saved.
        bool givenStopped = false;
        const std::uint64_t given =
            grainforge::mesh::CountCrossingTriangles(PlacedCopy(loadedPart, settings.placement), givenStopped);
        if (!givenStopped && given == crossing)
            return;
        grainforge::mesh::CheckFixSettings check = settings.check;
        check.bodies = grainforge::mesh::CountBodies(placed);
        result.crossings = grainforge::mesh::ForecastCheckCrossings(placed, crossing, check);
        // A repair that leaves the check more to part than the part as given would is said; the
        // check's rounds on the part as given run only where the check would leave crossings.
        if (result.crossings.known && result.crossings.left != 0 && !givenStopped) {
            const TriangleMesh asGiven = PlacedCopy(loadedPart, settings.placement);
            check.bodies = grainforge::mesh::CountBodies(asGiven);
            result.crossingsAsGiven = grainforge::mesh::ForecastCheckCrossings(asGiven, given, check);
        }
    } catch (const std::bad_alloc&) {
        result.crossings = {};
        result.crossingsAsGiven = {};
    }
}

}  // namespace

// Whether the validation of a part Repair left as it was names anything wrong with it. A closed
// body inside another with solid on both sides is an insert the slicer fills as drawn: it is
// named for the user to know, not as a fault.
bool NamesSomethingWrong(const grainforge::mesh::ValidationReport& validation)
{
    const std::size_t inserts =
        grainforge::mesh::CountNestedBodies(validation.nestedBodies, grainforge::mesh::NestedBodyRole::insert) != 0 ? 1 : 0;
    return validation.problems.size() > inserts;
}

RepairJobResult RepairInputMeshJob(const TriangleMesh& loadedPart, const RepairJobSettings& settings) noexcept
{
    RepairJobResult result;
    const bool ran = RunMeshJobBody(
        [&] {
            TriangleMesh copy = loadedPart;
            result.report = grainforge::mesh::RepairForPrint(copy, {});
            if (!result.report.repaired) {
                result.outcome = MeshJobOutcome::unchanged;
            } else {
                result.mesh = std::move(copy);
                result.outcome = MeshJobOutcome::replaced;
            }
            ForecastAfterRepair(loadedPart, settings, result);
        },
        result.failure);
    if (!ran) {
        result.outcome = MeshJobOutcome::failed;
        result.mesh = TriangleMesh{};
    }
    return result;
}

std::string MeshJobFailureText(std::string_view jobName, const MeshJobFailure& failure)
{
    std::string text(jobName);
    if (failure.outOfMemory)
        text += " ran out of memory.";
    else if (!failure.detail.empty())
        text.append(" stopped on an error: ").append(failure.detail).append(".");
    else
        text += " stopped on an error.";
    text += " The part is as it was.";
    return text;
}

std::string RemeshJobProblemText(const RemeshJobResult& result)
{
    if (result.outcome == MeshJobOutcome::refused && result.tooCoarse) {
        std::string text(kRemeshJobName);
        text.append(" would make about ")
            .append(grainforge::mesh::FormatCountGrouped(result.estimatedTriangles))
            .append(" triangles, too few for the part's surface: triangles of ")
            .append(grainforge::mesh::FormatLength(result.askedTriangleSize))
            .append(" mm are too large for a part of ")
            .append(grainforge::mesh::FormatSize3(result.partSize.x, result.partSize.y, result.partSize.z))
            .append(". The part is as it was; ");
        if (result.advisedTriangleSize > 0.0f)
            return text + "a triangle size of at most " + grainforge::mesh::FormatLength(result.advisedTriangleSize)
                + " mm makes its surface.";
        return text + "a smaller triangle size makes its surface.";
    }
    if (result.outcome == MeshJobOutcome::refused) {
        std::string text(kRemeshJobName);
        text.append(" would make about ")
            .append(grainforge::mesh::FormatCountGrouped(result.estimatedTriangles))
            .append(" triangles, which is over the limit")
            .append(grainforge::mesh::FormatCostliestPiece(result.costliest))
            .append(". The part is as it was; ");
        const grainforge::mesh::CostliestPiece& piece = result.costliest;
        if (result.advisedTriangleSize > 0.0f) {
            const std::string size =
                "a triangle size of at least " + grainforge::mesh::FormatLength(result.advisedTriangleSize) + " mm";
            if (piece.triangles != 0 && piece.finest)
                return text + size + " or the part without that piece makes fewer, or a higher triangle limit lets it run.";
            return text + size + " makes fewer.";
        }
        // Below the finest a piece's size allows, a larger triangle size changes nothing there.
        if (piece.triangles != 0 && piece.finest)
            return text + "a triangle size above " + grainforge::mesh::FormatLength(piece.cellMillimetres)
                + " mm or the part without that piece makes fewer, or a higher triangle limit lets it run.";
        return text + "a larger triangle size makes fewer.";
    }
    if (result.outcome == MeshJobOutcome::failed && !result.failure.outOfMemory && !result.failure.exception) {
        std::string text(kRemeshJobName);
        text.append(" could not remesh the part: ").append(result.failure.detail).append(".");
        return text;
    }
    return MeshJobFailureText(kRemeshJobName, result.failure);
}

std::string SimplifyStartLine(std::uint64_t triangles, float detailLevel)
{
    std::string text = "Simplify Input Mesh: ";
    text.append(grainforge::mesh::FormatCountGrouped(triangles))
        .append(" triangles at detail level ")
        .append(GeneralNumber(detailLevel))
        .append(". Esc stops it.");
    return text;
}

std::string RemeshStartLine(std::uint64_t triangles, float targetEdgeMillimetres)
{
    std::string text = "Remesh Input Mesh: ";
    text.append(grainforge::mesh::FormatCountGrouped(triangles))
        .append(" triangles at ")
        .append(GeneralNumber(targetEdgeMillimetres))
        .append(" mm. Esc stops it.");
    return text;
}

std::string SimplifyQuestion(std::uint64_t triangles, float detailLevel)
{
    const char* name = grainforge::mesh::DetailLevelName(detailLevel);
    std::string level;
    if (name != nullptr && *name != '\0')
        level.append(name).append(" (").append(GeneralNumber(detailLevel)).append(")");
    else
        level = GeneralNumber(detailLevel);
    std::string text = "Simplify the loaded part?\n\nIt has ";
    text.append(grainforge::mesh::FormatCountGrouped(triangles))
        .append(" triangles. Its whole surface is simplified at detail level ")
        .append(level)
        .append(", the level set in Simplify Settings; the face on the bed stays as it is.\n\nThe simplified part "
                "replaces the part as loaded; open the file again to get the original back.");
    return text;
}

namespace {

// What becomes of the triangles the check leaves passing through others: where separate bodies
// overlap or touch a slicer fills them as one solid, and nothing needs mending; a body through
// itself is the slicer's to resolve.
std::string CrossingsLeftText(const grainforge::mesh::CheckCrossingForecast& f)
{
    using grainforge::mesh::FormatCountGrouped;
    using grainforge::mesh::PluralWord;
    const std::uint64_t within = std::min(f.leftWithinBodies, f.left);
    const std::uint64_t between = f.left - within;
    const std::string overlap = " where bodies overlap or touch, which a slicer fills as one solid";
    const std::string through = " through their own body, which the slicer must resolve";
    if (within == 0)
        return " The " + FormatCountGrouped(f.left) + std::string(PluralWord(f.left, " that stays lies", " that stay lie"))
            + overlap + ".";
    if (between == 0)
        return " The " + FormatCountGrouped(f.left) + std::string(PluralWord(f.left, " that stays passes", " that stay pass"))
            + through + ".";
    return " Of the " + FormatCountGrouped(f.left) + " that stay, " + FormatCountGrouped(between)
        + std::string(PluralWord(between, " lies", " lie")) + overlap + ", and " + FormatCountGrouped(within)
        + std::string(PluralWord(within, " passes", " pass")) + through + ".";
}

// Whether the check, run on what Repair made, would leave more triangles passing through others
// than it leaves of the part as given: both forecasts known, the first of this very count.
bool WorseForTheCheck(std::uint64_t crossing, const grainforge::mesh::CheckCrossingForecast* after,
    const grainforge::mesh::CheckCrossingForecast* asGiven)
{
    return after != nullptr && asGiven != nullptr && after->known && asGiven->known && after->before == crossing
        && after->left > asGiven->left;
}

// The line on the triangles passing through others: Repair leaves them, and what the check does
// with them is said only as the forecast measured it on this very count.
std::string CrossingsLine(std::uint64_t crossing, const grainforge::mesh::CheckCrossingForecast* f)
{
    std::string text = "\n";
    text.append(grainforge::mesh::FormatCountOf(crossing, "triangle passes", "triangles pass"))
        .append(" through others: Repair does not move the surface");
    if (f == nullptr || !f->known || f->before != crossing)
        return text + ".";
    const std::uint64_t parted = f->Parted();
    if (f->left == 0)
        return text + ", and Save STL's check parts " + std::string(crossing == 1 ? "it." : "them all.");
    if (parted == 0)
        text += ", and Save STL's check does not part " + std::string(crossing == 1 ? "it" : "them") + " either.";
    else
        text += ", and Save STL's check parts " + grainforge::mesh::FormatCountGrouped(parted) + " of them.";
    return text + CrossingsLeftText(*f);
}

}  // namespace

RepairInformation RepairInformationText(const grainforge::mesh::RepairForPrintReport& r, std::uint64_t selfIntersecting,
    const grainforge::mesh::CheckCrossingForecast* crossings, const grainforge::mesh::CheckCrossingForecast* asGiven)
{
    // A repair that would leave no part, or could not choose, changed nothing and says why.
    if (r.emptied)
        return {std::string(kRepairJobName) + ": " + grainforge::mesh::kRepairEmptiedText, 1};
    if (r.pairsLeft != 0 && !r.repaired)
        return {std::string(kRepairJobName) + ": " + grainforge::mesh::FormatUnchosenPairsText(r.pairsLeft), 1};
    char line[512];
    std::snprintf(line, sizeof line,
        "Repaired: open edges %s to %s, non-manifold edges %s to %s, bodies %s to %s.",
        grainforge::mesh::FormatCountGrouped(r.openEdgesBefore).c_str(), grainforge::mesh::FormatCountGrouped(r.openEdgesAfter).c_str(),
        grainforge::mesh::FormatCountGrouped(r.nonManifoldEdgesBefore).c_str(), grainforge::mesh::FormatCountGrouped(r.nonManifoldEdgesAfter).c_str(),
        grainforge::mesh::FormatCountGrouped(r.bodiesBefore).c_str(), grainforge::mesh::FormatCountGrouped(r.bodiesAfter).c_str());
    RepairInformation information;
    information.text = line;
    if (r.openEdgesAfter != 0) {
        // Each hole left is named under the reason it was left for, with the size of the
        // largest: only the holes too large and too wide are left for their size.
        const std::uint64_t largeHoles = grainforge::mesh::LargeHolesLeftOpen(r);
        std::snprintf(line, sizeof line, "\n%s open edges are left", grainforge::mesh::FormatCountGrouped(r.openEdgesAfter).c_str());
        information.text += line;
        const char* joint = ": ";
        const auto holes = [&](std::uint64_t count, float largest, const char* why) {
            if (count == 0)
                return;
            information.text.append(joint).append(grainforge::mesh::FormatCountOf(count, "hole", "holes"))
                .append(" up to ").append(grainforge::mesh::FormatLength(largest)).append(" mm across").append(why);
            joint = "; ";
        };
        if (largeHoles != 0) {
            std::snprintf(line, sizeof line, "%s%s up to %.1f mm across, too large to close by guessing", joint,
                grainforge::mesh::FormatCountOf(largeHoles, "hole", "holes").c_str(), r.largestOpenHoleMillimetres);
            information.text += line;
            joint = "; ";
        }
        holes(r.nonManifoldHolesLeftOpen, r.largestNonManifoldHoleMillimetres,
              " that a fill would close only by making edges non-manifold");
        holes(r.crossingHolesLeftOpen, r.largestCrossingHoleMillimetres,
              " that a fill would close only by passing through the surface");
        if (r.sheetHolesLeftOpen != 0) {
            std::snprintf(line, sizeof line,
                "%s%s round a sheet, which closing would lay onto itself, enclosing nothing", joint,
                grainforge::mesh::FormatCountOf(r.sheetHolesLeftOpen, "hole", "holes").c_str());
            information.text += line;
            joint = "; ";
        }
        if (r.unclosedBoundaries != 0)
            information.text.append(joint)
                .append(grainforge::mesh::FormatCountOf(r.unclosedBoundaries, "run", "runs"))
                .append(" of open edges closing no loop");
        information.text += ".";
    }
    if (r.nonManifoldEdgesAfter != 0 && !r.roundLimitReached) {
        std::snprintf(line, sizeof line, "\n%s left, which no split could part.",
            grainforge::mesh::FormatCountOf(r.nonManifoldEdgesAfter, "non-manifold edge is", "non-manifold edges are")
                .c_str());
        information.text += line;
    }
    // Stopped while it still changed the part: what is left is not what no split could part.
    if (r.roundLimitReached)
        information.text += "\nRepair stopped after " + grainforge::mesh::FormatCountGrouped(
            static_cast<std::uint64_t>(r.rounds)) + " rounds that each still changed the part; Repair again goes on "
            "from there.";
    if (selfIntersecting != 0)
        information.text += CrossingsLine(selfIntersecting, crossings);
    const bool moreCrossingsLeft = selfIntersecting != 0 && WorseForTheCheck(selfIntersecting, crossings, asGiven);
    if (moreCrossingsLeft)
        information.text += "\nSave STL's check leaves " + grainforge::mesh::FormatCountOf(crossings->left, "triangle",
            "triangles") + " passing through others in the repaired part, where it leaves "
            + grainforge::mesh::FormatCountGrouped(asGiven->left) + " in the part as it was: undo the repair to save "
            "it with fewer.";
    if (r.pairsLeft != 0)
        information.text.append("\n").append(grainforge::mesh::FormatLeftPairsText(r.pairsLeft));
    // Said whatever the body counts: a split that adds a body can hide one taken away.
    if (r.bodiesRemoved != 0) {
        information.text.append("\n")
            .append(grainforge::mesh::FormatCountOf(r.bodiesRemoved, "stray crumb", "stray crumbs"))
            .append(" too small to print ")
            .append(r.bodiesRemoved == 1 ? "was" : "were")
            .append(" removed");
        if (!r.removedBodies.empty()) {
            const grainforge::mesh::RemovedBodiesSummary removed = grainforge::mesh::SummariseRemovedBodies(r.removedBodies);
            information.text.append(r.removedBodies.size() == 1 ? ": " : ", the largest ")
                .append(grainforge::mesh::FormatBodySizeAndPlace(removed.largest));
        }
        information.text.append(".");
    }
    // Fewer bodies is no plain success: a piece of the part may be gone.
    if (r.bodiesAfter < r.bodiesBefore) {
        information.text += "\nThe part has " + grainforge::mesh::FormatCountOf(r.bodiesBefore - r.bodiesAfter,
            "body", "bodies") + " fewer: "
            + (r.bodiesRemoved != 0 ? grainforge::mesh::FormatCountOf(r.bodiesRemoved, "small stray body was",
                                          "small stray bodies were") + " removed"
                                    : std::string("bodies were joined where they met"))
            + "; check that no piece is missing.";
    }
    // Repair moves no surface on purpose; a change the Save STL check would name past its rule
    // is said with its size and place, never under a green box.
    const std::vector<std::string> changes = grainforge::mesh::FormatLargeFixChanges(r.change);
    if (!changes.empty()) {
        information.text += "\nRepair changed the part more than the fixes may: ";
        for (std::size_t i = 0; i < changes.size(); ++i)
            information.text.append(i == 0 ? "" : "; ").append(changes[i]);
        information.text += ". Check the part, or undo the repair.";
    }
    // Green only when validation of the result names nothing Repair was there to mend.
    information.kind = r.openEdgesAfter != 0 || r.nonManifoldEdgesAfter != 0 || r.bodiesAfter < r.bodiesBefore
            || r.bodiesRemoved != 0 || r.pairsLeft != 0 || r.faultLeft || r.roundLimitReached || !changes.empty()
            || moreCrossingsLeft
        ? 1
        : 0;
    return information;
}

RepairInformation RepairUnchangedText(const grainforge::mesh::RepairForPrintReport& report,
    const grainforge::mesh::CheckCrossingForecast& crossings, bool problemsFound)
{
    // The lines of what is left, as after a repair; only the headline differs.
    RepairInformation information = RepairInformationText(report, crossings.before, &crossings);
    const std::size_t lineEnd = information.text.find('\n');
    const std::string left = lineEnd == std::string::npos ? std::string() : information.text.substr(lineEnd);
    if (!problemsFound && left.empty())
        return {"Nothing was changed: this part needed no repair.", 0};
    information.text = "Nothing was changed: Repair mends none of what is wrong with this part." + left;
    return information;
}

}  // namespace grainforge::app
