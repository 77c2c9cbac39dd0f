#include "app/document/document_reports.h"
#include "app/document/log_text.h"

#include "app/document/grainforge_doc.h"

#include "engine/displacement/wall_measurement.h"
#include "engine/mesh/fnv_hash.h"
#include "engine/repair/repair_driver.h"
#include "engine/mesh/report_text.h"
#include "engine/mesh/self_intersection.h"
#include "engine/pipeline/pipeline_report_text.h"
#include "engine/pipeline/printability_check.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <new>

namespace grainforge::app {

namespace {

using grainforge::mesh::FormatCountGrouped;
using grainforge::mesh::FormatCountOf;
using grainforge::mesh::PluralWord;
using grainforge::mesh::Vec3;

// The document's number formatting (FormatText): the C locale's point, and no signed zeros.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::string text = FormatTextV(format, arguments);
    va_end(arguments);
    return text;
}

std::string Thousands(std::uint64_t count) { return FormatCountGrouped(count); }

std::string Vec3Text(Vec3 v) { return FormatVec3(v); }

constexpr const char* kEnd = "\r\n";

// The layer a plane projection takes its texture from (the top side's).
constexpr int kPlaneLayer = 4;

// ---- The checklist's steps ----

void AppendValidationLines(const grainforge::mesh::TriangleMesh& mesh, std::string& text, bool& allPassed)
{
    grainforge::mesh::ValidationOptions options;
    options.sliverQualityLimit = 0.001f;
    options.checkSelfIntersections = false;
    options.displacedResult = false;
    options.maximumSelfIntersectionPairs = grainforge::mesh::kSearchPairLimit;
    // The mesh about to be saved, counted as the file will hold it.
    const grainforge::mesh::ValidationReport report = grainforge::mesh::ValidateAsWritten(mesh, options);
    const std::uint64_t open = report.edgeCounts.boundary;
    const std::uint64_t nonManifold = report.edgeCounts.nonManifold;
    const std::uint64_t noArea = report.degenerateTriangleCount;
    const std::uint64_t reversed = grainforge::mesh::WrongWayTriangleCount(report);
    // A triangle twice over, or a sheet closed onto itself, holds nothing a slicer can fill:
    // the same counts that make the validation's verdict less than good.
    const std::uint64_t duplicates = report.duplicateTriangleCount;
    const std::uint64_t sheets = report.bodiesWithoutVolume;
    AppendCheckLine(text, allPassed, open == 0, FormatCountOf(open, "open edge", "open edges") + " (watertight when zero)");
    AppendCheckLine(text, allPassed, nonManifold == 0, FormatCountOf(nonManifold, "non-manifold edge", "non-manifold edges"));
    AppendCheckLine(text, allPassed, noArea == 0, FormatCountOf(noArea, "triangle", "triangles") + " with no area");
    AppendCheckLine(text, allPassed, reversed == 0, FormatCountOf(reversed, "triangle", "triangles") + " wound the wrong way");
    AppendCheckLine(text, allPassed, duplicates == 0, FormatCountOf(duplicates, "duplicate triangle", "duplicate triangles"));
    AppendCheckLine(text, allPassed, sheets == 0, FormatCountOf(sheets, "closed body without volume (a sheet, not a solid)",
            "closed bodies without volume (sheets, not solids)"));
    // A small solid far out, whose coordinates step as coarsely as it is thick, is named apart:
    // it is no sheet, yet nothing tells it from one there. Said only when there is one.
    if (report.bodiesTooFarOut != 0)
        AppendCheckLine(text, allPassed, false,
            FormatCountOf(report.bodiesTooFarOut, "closed body", "closed bodies") + " too far out to tell a solid from a sheet");
    // A failed line names what is wrong, as the headline quotes it.
    AppendCheckLine(text, allPassed, !report.insideOut,
        report.insideOut ? "the body is inside out" : "the body is the right way out");
    // A body inside another is saved as written, by the rule Repair and Process follow; the
    // note says which it is, so that an insert meant as a hollow is seen before printing.
    for (const auto role : {grainforge::mesh::NestedBodyRole::insert, grainforge::mesh::NestedBodyRole::hollow}) {
        const std::string line = grainforge::mesh::FormatNestedBodies(report.nestedBodies, role);
        if (!line.empty())
            text += "  note    " + line + kEnd;
    }
}

// The triangles passing through others, which the fold note needs too.
std::vector<std::uint32_t> AppendSelfIntersectionLine(const grainforge::mesh::TriangleMesh& mesh, std::string& text,
    bool& allPassed)
{
    bool stopped = false;
    std::vector<std::uint32_t> triangles = grainforge::mesh::DistinctTrianglesOfPairs(
        grainforge::mesh::ListSelfIntersectingTriangles(mesh, {}, &stopped));
    AppendCheckLine(text, allPassed, triangles.empty() && !stopped,
        FormatCountOf(triangles.size(), "triangle", "triangles") + " passing through others");
    return triangles;
}

// Folds by the repair's own rule, so that this note and the fixes' "left" count the same
// triangles: those that meet a crossing or fold back onto a neighbour. Folds at sharp places
// that cross nothing, which the fixes leave alone, are named as such: a note, which the
// headline counts with the others, never a line left under "no problems found" uncounted.
void AppendFoldNote(const grainforge::mesh::TriangleMesh& mesh, const std::vector<std::uint32_t>& crossing,
    std::string& text)
{
    const grainforge::mesh::FoldCounts folds = grainforge::mesh::CountFolds(mesh, crossing);
    if (folds.toUnfold != 0)
        text += "  note    " + FormatCountOf(folds.toUnfold, "triangle", "triangles") +
                " folded over where " + PluralWord(folds.toUnfold, "it crosses or folds", "they cross or fold").data() +
                " back onto a neighbour" + kEnd;
    if (folds.sharpPlaces != 0)
        text += "  note    " + FormatCountOf(folds.sharpPlaces, "triangle", "triangles") +
                " folded over at sharp places that cross nothing, left as " +
                PluralWord(folds.sharpPlaces, "it is", "they are").data() + kEnd;
}

void AppendBaseLine(const grainforge::mesh::TriangleMesh& mesh, const grainforge::mesh::BaseProtection& base,
    std::string& text, bool& allPassed)
{
    if (!base.enabled) {
        text += std::string("  -       base protection is off; nothing checked below the part") + kEnd;
        return;
    }
    const int axis = std::clamp(base.axis, 0, 2);
    std::uint64_t below = 0;
    float deepest = 0.0f;
    for (const grainforge::mesh::MeshVertex& vertex : mesh.vertices) {
        const float c = axis == 0 ? vertex.position.x : axis == 1 ? vertex.position.y : vertex.position.z;
        const float depth = base.protectBelow ? base.planeMillimetres - c : c - base.planeMillimetres;
        if (depth > 0.0001f) {
            ++below;
            deepest = std::max(deepest, depth);
        }
    }
    if (below != 0)
        AppendCheckLine(text, allPassed, false,
            Format("%s below the base plane, the deepest by %.4f mm",
                FormatCountOf(below, "vertex", "vertices").c_str(), deepest));
    else
        AppendCheckLine(text, allPassed, true, "nothing below the base plane");
}

void AppendSupportLines(const grainforge::mesh::TriangleMesh& mesh, const grainforge::mesh::BaseProtection& base,
    std::string& text, bool& allPassed)
{
    // The same settings as the check after a run and Check Printability, so that the three
    // never disagree about one mesh.
    const grainforge::mesh::PrintabilityReport report =
        grainforge::mesh::CheckPrintability(mesh, DocumentPrintability(base.axis, false));
    if (!report.checked)
        return;
    if (!report.featuresInAir.empty()) {
        const grainforge::mesh::PrintFinding& first = report.featuresInAir.front();
        text += "  note    " +
                Format("%s support: nothing beneath %s (the first at %.1f, %.1f, %.1f)",
                    FormatCountOf(report.featuresInAir.size(), "feature needs", "features need").c_str(),
                    PluralWord(report.featuresInAir.size(), "it", "them").data(), first.x, first.y, first.z) +
                kEnd;
    }
    if (!report.airPlaces.empty()) {
        // A region laid over nothing needs support as much as a feature that starts in the air.
        const grainforge::mesh::PrintFinding& first = report.airPlaces.front();
        text += "  note    " +
                Format("%s laid in the air: support needed (the first at %.1f, %.1f, %.1f)",
                    FormatCountOf(report.airPlaces.size(), "place", "places").c_str(), first.x, first.y, first.z) +
                kEnd;
    }
    if (report.featuresInAir.empty() && report.airPlaces.empty())
        AppendCheckLine(text, allPassed, true, "nothing needs support");
    if (!report.farReaches.empty())
        text += "  note    " +
                Format("%s up to %.1f mm past the layer below; support recommended",
                    FormatCountOf(report.farReaches.size(), "layer reaches", "layers reach").c_str(), report.longestReach) +
                kEnd;
}

// ---- The mesh information's sections ----

std::string PlacementBlock(const MeshInformationInputs& in)
{
    using grainforge::mesh::ProjectionKind;
    const grainforge::mesh::Projection& projection = in.projection;
    const int active = projection.activeLayer;
    std::string label = active < 0 ? std::string("All sides") : "Side " + std::string(grainforge::mesh::BoxSideName(active));
    int shown = std::clamp(active, 0, grainforge::mesh::kBoxSideCount - 1);
    if (projection.type == ProjectionKind::Plane) {
        // A plane has no sides to choose from: it reads the top side's layer whatever is chosen.
        label = "Plane projection";
        shown = kPlaneLayer;
    }
    const grainforge::mesh::ProjectionLayer& layer = projection.layers[shown];
    std::string block = "Texture placement\r\n" +
                        Format("  %s\r\n  Origin: %.2f, %.2f mm\r\n  Rotation: %.1f deg\r\n  Zoom: %.2f\r\n\r\n",
                            label.c_str(), layer.originMillimetres[0], layer.originMillimetres[1],
                            layer.rotationDegrees, layer.zoom);

    const bool cylinder = projection.type == ProjectionKind::Cylinder;
    const bool sphere = projection.type == ProjectionKind::Sphere;
    if (!cylinder && !sphere)
        return block;
    int side = 0;
    if (sphere) {
        side = 5;
        for (int s = 0; s <= 4; ++s)
            if (grainforge::mesh::SideFrame(s, projection.sphereAxis).alongUp == 0) {
                side = s;
                break;
            }
    }
    const grainforge::mesh::SideTiling tiling = grainforge::mesh::ComputeTileFrame(projection, in.textureSettings, side);
    const char* round = sphere ? "  Round the equator" : "  Round the wall";
    std::string line;
    if (tiling.wholeTiles) {
        const float change = std::fabs(tiling.fittedZoom / tiling.zoom - 1.0f) * 100.0f;
        line = Format("%s: %d whole tile%s, the image used %.1f%% %s (tile %.2f mm round, set %.2f)", round,
            tiling.tileCount, tiling.tileCount == 1 ? "" : "s", change,
            tiling.zoom <= tiling.fittedZoom ? "larger" : "smaller", tiling.fittedTileMillimetres,
            tiling.setTileMillimetres);
    } else if (tiling.active) {
        line = Format("%s: not fitted, the image is turned off its width and height", round);
    }
    if (!line.empty())
        block.insert(block.size() - 2, line + kEnd);
    return block;
}

std::string TextureDetail(const grainforge::mesh::SamplingReport& sampling)
{
    if (!sampling.measured)
        return {};
    const float pixels = sampling.pixelsPerEdge;
    const char* verdict = pixels <= grainforge::mesh::kFullDetailPixelsPerEdge ? "the mesh carries this map at full detail"
                          : pixels <= grainforge::mesh::kMostDetailPixelsPerEdge ? "the mesh carries most of this map"
                          : pixels <= grainforge::mesh::kFinestGrainPixelsPerEdge
                              ? "the finest grain of this map is being lost"
                              : "most of this map is too fine for these triangles";
    std::string detail = "Texture detail\r\n" +
                         Format("  Triangles: %.3f mm, texture %.4f mm/pixel\r\n  Sampling: %.1f image pixels per "
                                "edge\r\n  %s\r\n  Nothing finer than %.2f mm can appear on the surface.\r\n",
                             sampling.triangleSize, sampling.millimetresPerPixel, pixels, verdict,
                             sampling.finestDetail);
    if (sampling.filterRaised)
        detail += Format("  The map is softened to %.3f mm before it is read, so that\r\n  detail the triangles "
                         "cannot carry becomes smooth rather than\r\n  random. Without it the surface picks up "
                         "noise, not grain.\r\n",
            sampling.filterMillimetres);
    const std::string advice = grainforge::mesh::FormatSamplingAdvice(sampling);
    if (!advice.empty())
        detail += "  " + advice + kEnd;
    detail += kEnd;
    return detail;
}

}  // namespace

// ---- Notes after a run ---------------------------------------------------------------------

std::string ResultWarningText(const grainforge::mesh::PipelineReport& r, const grainforge::mesh::PipelineSettings& run)
{
    std::string text = grainforge::mesh::FormatRunSurfaceLoss(r);
    // Said whatever the body counts: a body the run split off can hide one it took away.
    if (const std::string removed = grainforge::mesh::FormatRemovedBodiesNote(r); !removed.empty())
        text += (text.empty() ? "" : "\n") + removed;
    if (r.textureMissed) {
        if (!text.empty())
            text += "\n";
        text += grainforge::mesh::FormatTextureMissed(r.textureFigures, run, r.partChange) + " "
            + grainforge::mesh::kTextureMissedAdvice;
    }
    const std::uint64_t open = r.validation.edgeCounts.boundary;
    if (r.validated && open != 0) {
        if (!text.empty())
            text += "\n";
        text += "The result is not a closed solid: " + FormatCountOf(open, "edge is", "edges are")
            + " open, so it will not print as it stands. Close the part's holes (Mesh > Repair closes small ones) "
              "and Process again.";
    }
    // An insert's material is kept, which a user who meant a hollow must hear of.
    if (grainforge::mesh::CountNestedBodies(r.nestedBodies, grainforge::mesh::NestedBodyRole::insert) != 0) {
        if (!text.empty())
            text += "\n";
        const std::string nested = grainforge::mesh::FormatNestedBodiesNote(r);
        text += nested.substr(0, nested.find('\n'))
            + " A slicer prints it solid too; a hollow is written facing against the body round it.";
    }
    return text;
}

Vec3 BoundsSize(const grainforge::mesh::TriangleMesh& mesh)
{
    if (!mesh.boundsValid)
        return Vec3{};
    return mesh.boundsMax - mesh.boundsMin;
}

ReliefNotes ReliefReportText(const grainforge::mesh::PipelineReport& r, Vec3 partSize, float wallThresholdMillimetres)
{
    ReliefNotes notes;
    std::string a;
    if (r.walls.measured && r.walls.thinnedPlaces != 0)
        a = "The relief thinned a wall: " + grainforge::mesh::FormatWallReport(r.walls) +
            ". The slicer lays no wall thinner than a line; less depth, or the texture moved off it, keeps the "
            "wall.";

    if (!r.solidReport.ok) {
        const std::uint64_t held = r.displacementReport.heldForWalls;
        if (held != 0) {
            if (!a.empty())
                a += "\n";
            a += Format("%s not displaced inward, to keep the wall under %s above %.2f mm.",
                FormatCountOf(held, "vertex was", "vertices were").c_str(), PluralWord(held, "it", "them").data(),
                wallThresholdMillimetres);
        }
    } else {
        if (r.solidReport.heightsHeld != 0)
            notes.logLines.push_back({"The relief was held back at " + Thousands(r.solidReport.heightsHeld) +
                                          " points to keep slots and walls open.",
                0});
        // Counted as the warnings count them: hollows filled apart from pieces removed. Pieces of
        // the part itself are not said to be the relief's.
        const std::uint64_t hollows = r.solidReport.voidsRemoved;
        const std::uint64_t removed = r.solidReport.piecesRemoved - std::min(hollows, r.solidReport.piecesRemoved);
        const std::uint64_t ofThePart = std::min(r.solidReport.inputPiecesRemoved, removed);
        const std::uint64_t pieces = removed - ofThePart;
        if (pieces != 0)
            notes.logLines.push_back(
                {Format("Removed %s small piece%s the relief made that %s too small or too thin to print (under "
                        "one %.2f mm line).",
                     Thousands(pieces).c_str(), pieces > 1 ? "s" : "", pieces > 1 ? "are" : "is",
                     r.solidReport.lineWidth),
                    0});
        if (hollows != 0)
            notes.logLines.push_back(
                {Format("Filled %s small hollow%s the relief left inside the part that %s too small or too thin to "
                        "print (under one %.2f mm line).",
                     Thousands(hollows).c_str(), hollows > 1 ? "s" : "", hollows > 1 ? "are" : "is",
                     r.solidReport.lineWidth),
                    0});
        if (ofThePart != 0)
            notes.logLines.push_back(
                {Format("Removed %s small piece%s of the part that %s too small or too thin to print after the "
                        "relief (under one %.2f mm line).",
                     Thousands(ofThePart).c_str(), ofThePart > 1 ? "s" : "", ofThePart > 1 ? "are" : "is",
                     r.solidReport.lineWidth),
                    0});
    }

    // Small part: the middle of the three sizes says how much room the relief has across.
    float sizes[3] = {partSize.x, partSize.y, partSize.z};
    std::sort(sizes, sizes + 3);
    const float m = sizes[1];
    const float relief = r.displacementReport.relief;
    if (m > 0.0f && relief > 0.0f) {
        const float share = relief / m;
        const float lines = m / 0.42f;
        if (m < kSmallPartMillimetres || share > kLargestReliefShare) {
            const std::string b = Format(
                "This part is small for a relief: %.1f mm across, with %.2f mm of relief (%.0f%% of its size) and "
                "room for about %.0f printed lines across it. The pattern is likely to print as a rough blob "
                "rather than a texture. A shallower relief, a larger tile, or the part printed larger reads "
                "better.",
                m, relief, share * 100.0f, lines);
            notes.logLines.push_back({b, 3});
            a = a.empty() ? b : b + "\n\n" + a;
        }
    }

    // What makes the result's verdict "Unsuitable" is named where the verdict is read.
    if (r.validated) {
        const std::string causes = grainforge::mesh::FormatUnsuitableCauses(r.validation);
        if (!causes.empty()) {
            const std::string u = "The result is unsuitable for printing: " + causes;
            notes.logLines.push_back({u, 3});
            a = a.empty() ? u : a + "\n\n" + u;
        }
    }

    // Crossings the check found in the result: a slicer may fill or drop what lies between them.
    if (r.validated && r.validation.selfIntersectingTriangleCount != 0) {
        const std::uint64_t crossing = r.validation.selfIntersectingTriangleCount;
        const std::string d = FormatCountOf(crossing, "triangle", "triangles") + " of the result " +
                              PluralWord(crossing, "passes", "pass").data() +
                              " through others, where the relief folded or met itself. "
                              "Save STL's \"Fix self-intersections\" resolves them when the file is written, and "
                              "its report says if any are left.";
        notes.logLines.push_back({d, 3});
        a = a.empty() ? d : a + "\n\n" + d;
    }

    // Folds the result holds where the part had none, counted on it with the check.
    if (r.validated && r.foldedTriangles != 0) {
        const std::string f = grainforge::mesh::FormatFoldsLeft(r) + " " + grainforge::mesh::FoldsNote(r);
        notes.logLines.push_back({f, 3});
        a = a.empty() ? f : a + "\n\n" + f;
    }

    // Each kind of finding is named only where the relief added to what the part had before it;
    // a region laid over nothing needs support as much as a feature that starts in the air.
    // The figure is the result's own count, the one the log's printability line gives, with
    // what the part had before the relief (the log's before-relief line) said apart.
    std::size_t f0 = 0;
    std::size_t r0 = 0;
    std::size_t p0 = 0;
    if (r.printabilityBeforeRelief) {
        f0 = r.beforeRelief.featuresInAir.size();
        r0 = r.beforeRelief.farReaches.size();
        p0 = r.beforeRelief.airPlaces.size();
    }
    const grainforge::mesh::PrintabilityReport& p = r.printability;
    const bool added = p.featuresInAir.size() > f0 || p.farReaches.size() > r0 || p.airPlaces.size() > p0;
    if (p.checked && added) {
        std::string c = "The relief needs support.";
        const auto before = [](std::size_t count) {
            return count == 0 ? std::string() : ", " + FormatCountGrouped(count) + " of them before the relief";
        };
        if (p.featuresInAir.size() > f0)
            c.append("\n")
                .append(FormatCountOf(p.featuresInAir.size(), "feature has nothing beneath it",
                    "features have nothing beneath them"))
                .append(before(f0))
                .append(".");
        if (p.airPlaces.size() > p0)
            c.append("\n")
                .append(FormatCountOf(p.airPlaces.size(), "place is laid in the air", "places are laid in the air"))
                .append(before(p0))
                .append(".");
        if (p.farReaches.size() > r0)
            c.append("\n")
                .append(FormatCountOf(p.farReaches.size(), "layer reaches", "layers reach"))
                .append(" more than 6 mm past the layer below")
                .append(before(r0))
                .append(".");
        c += "\nEnable support in the slicer, or move the texture or displace less and Process again. "
             "Mesh > Check Printability shows where.";
        if (!a.empty())
            c += "\n\n" + a;
        notes.showInformation = true;
        notes.informationText = std::move(c);
    } else if (!a.empty()) {
        notes.showInformation = true;
        notes.informationText = std::move(a);
    }
    notes.informationKind = 1;
    return notes;
}

// ---- Before saving -------------------------------------------------------------------------

void AppendCheckLine(std::string& text, bool& allPassed, bool passed, const std::string& line)
{
    text += passed ? "  ok      " : "  PROBLEM ";
    text += line;
    text += kEnd;
    if (!passed)
        allPassed = false;
}

bool BeforeSavingReport(const grainforge::mesh::TriangleMesh& mesh, const grainforge::mesh::BaseProtection& base,
    std::string& text, CheckedMesh checked)
{
    text = checked == CheckedMesh::afterFixes ? "Before saving, after the fixes above:\r\n" : "Before saving:\r\n";
    bool allPassed = true;
    // Every count below reads 0 for a mesh the checks cannot look at; such a mesh must not
    // pass as clean.
    if (!mesh.IsConsistent()) {
        AppendCheckLine(text, allPassed, false, "the mesh has corners that name no vertex; nothing else was checked");
        return false;
    }
    if (mesh.indices.empty()) {
        AppendCheckLine(text, allPassed, false, "the mesh has no triangles");
        return false;
    }
    try {
        AppendValidationLines(mesh, text, allPassed);
        const std::vector<std::uint32_t> crossing = AppendSelfIntersectionLine(mesh, text, allPassed);
        AppendFoldNote(mesh, crossing, text);
        AppendBaseLine(mesh, base, text, allPassed);
        AppendSupportLines(mesh, base, text, allPassed);
    } catch (const std::bad_alloc&) {
        // The check runs on the export dialog's thread: a part too large to check is reported,
        // not lost with the program.
        AppendCheckLine(text, allPassed, false, "the check ran out of memory before it was complete");
    }
    return allPassed;
}

std::uint64_t TriangleFingerprint(const grainforge::mesh::TriangleMesh& mesh)
{
    // The bits of every corner's position, triangle by triangle.
    const std::uint64_t count = mesh.indices.size();
    std::uint64_t hash = mesh::Fnv1a(mesh::kFnvOffsetBasis, &count, sizeof count);
    for (const std::uint32_t index : mesh.indices) {
        const Vec3 p = index < mesh.vertices.size() ? mesh.vertices[index].position : Vec3{};
        const float corner[3] = {p.x, p.y, p.z};
        hash = mesh::Fnv1a(hash, corner, sizeof corner);
    }
    return hash;
}

// ---- Mesh information ----------------------------------------------------------------------

MeshMeasurements MeasureMesh(const grainforge::mesh::TriangleMesh& mesh)
{
    MeshMeasurements measured;
    measured.edges = grainforge::mesh::CountEdges(mesh);
    measured.volume = std::fabs(mesh.Volume());
    measured.surfaceArea = mesh.SurfaceArea();
    measured.bodies = grainforge::mesh::CountBodies(mesh);
    return measured;
}

std::string MeshInformationReport(const MeshInformationInputs& in)
{
    if (!in.hasPart || in.displayMesh == nullptr)
        return "No mesh loaded.\r\n\r\nUse File > Open STL to load one.";
    const grainforge::mesh::TriangleMesh& m = *in.displayMesh;
    Vec3 size;
    Vec3 centre;
    Vec3 low;
    Vec3 high;
    if (m.boundsValid) {
        low = m.boundsMin;
        high = m.boundsMax;
        size = high - low;
        centre = (high + low) * 0.5f;
    }

    std::string text = in.partShownForResult ? "Verdict (part as loaded, not the result)\r\n" : "Verdict\r\n";
    if (in.validation != nullptr) {
        text += "  " + grainforge::mesh::VerdictHeadline(*in.validation) + kEnd;
        for (const std::string& problem : in.validation->problems)
            text += "  - " + problem + kEnd;
    }
    text += kEnd;

    text += Format("Part\r\n  %s\r\n  %.2f x %.2f x %.2f mm\r\n  %s triangles\r\n\r\n",
        PathToUtf8(in.partSourcePath.filename()).c_str(), size.x, size.y, size.z,
        Thousands(m.TriangleCount()).c_str());
    const std::size_t insertAt = text.size();

    if (in.surfaceGrid != nullptr && !in.surfaceGrid->cells.empty() && in.surfaceClasses != nullptr) {
        const grainforge::mesh::SurfaceClassReport& classes = *in.surfaceClasses;
        const double sum = classes.outerArea + classes.innerArea;
        const double outer = sum > 0.0 ? classes.outerArea / sum * 100.0 : 0.0;
        const double inner = sum > 0.0 ? classes.innerArea / sum * 100.0 : 0.0;
        text += Format("Surfaces (part as loaded)\r\n  outer %.1f%%, inner %.1f%% of the area\r\n", outer, inner);
        if (in.detailedLog)
            text += Format("  grid %d cells of %.2f mm, built in %.0f ms\r\n  %s marches in %.0f ms\r\n",
                in.surfaceGrid->resolution, in.surfaceGrid->cellSize, in.surfaceGrid->buildMilliseconds,
                Thousands(classes.triangles).c_str(), classes.milliseconds);
        text += kEnd;
    }

    const std::string format = !in.testShapeName.empty() ? "Test shape (" + in.testShapeName + ")"
                               : in.fileFormat == grainforge::mesh::StlFormat::Binary ? "Binary STL"
                               : in.fileFormat == grainforge::mesh::StlFormat::Ascii  ? "ASCII STL"
                                                                                      : "Unrecognised";
    text += std::string("File and counts\r\n") + "  Format: " + format + kEnd + "  Vertices: " +
            Thousands(m.vertices.size()) + kEnd + "  Bodies: " + Thousands(in.bodies) + kEnd + kEnd;

    text += std::string("Bounding box (mm)\r\n") + "  Min: " + Vec3Text(low) + kEnd + "  Max: " +
            Vec3Text(high) + kEnd + "  Centre: " + Vec3Text(centre) + kEnd + kEnd;

    text += "Measurements\r\n" + Format("  Volume: %.3f mm\u00b3\r\n  Surface area: %.3f mm\u00b2\r\n\r\n",
                                     in.measurements.volume, in.measurements.surfaceArea);

    if (in.hasProceduralTexture)
        text += "Procedural texture\r\n" + Format("  %s\r\n  Rendered %d x %d pixels, seamless by construction\r\n\r\n",
                                               in.proceduralDescription.c_str(), in.renderedWidth, in.renderedHeight);

    text += PlacementBlock(in);

    if (!in.masks.empty()) {
        const std::size_t off = static_cast<std::size_t>(
            std::count_if(in.masks.begin(), in.masks.end(), [](const auto& mask) { return mask.enabled == 0; }));
        if (off == 0)
            text += Format("Mask volumes\r\n  %zu, keeping the texture off what they cover\r\n", in.masks.size());
        else
            text += Format("Mask volumes\r\n  %zu (%zu off), keeping the texture off what they cover\r\n",
                in.masks.size(), off);
        // Two frames meet here: say how one reads in the other.
        text += Format("  Their Z is measured up from the bed, which is z = %.3f in the bounding box\r\n\r\n",
            in.bedHeight);
    }

    text.insert(insertAt, TextureDetail(in.sampling) + "Details\r\n-------\r\n");

    const grainforge::mesh::EdgeCounts& edges = in.measurements.edges;
    text += std::string("Topology\r\n") + "  Open boundary edges: " + Thousands(edges.boundary) + kEnd +
            "  Non-manifold edges: " + Thousands(edges.nonManifold) + kEnd + "  Edges shared twice: " +
            Thousands(edges.manifold) + kEnd;
    if (edges.boundary == 0 && edges.nonManifold == 0)
        text += std::string("  The mesh is closed.") + kEnd;

    if (!in.importWarnings.empty()) {
        // They describe the part as read; a job that changed it since makes them the file's.
        text += in.partChangedSinceRead ? "\r\nImport warnings (the file as read; the part has been changed since)\r\n"
                                        : "\r\nImport warnings\r\n";
        for (const std::string& warning : in.importWarnings)
            text += "  " + warning + kEnd;
    }
    return text;
}

}  // namespace grainforge::app
