#include "engine/pipeline/pipeline_report_text.h"

#include "engine/repair/crumb_removal.h"
#include "engine/mesh/report_text.h"
#include "engine/pipeline/pipeline_stages.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace grainforge::mesh {

namespace {

std::string Fixed(double value, int decimals)
{
    char buffer[400];  // the largest double in fixed notation needs 310 characters
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc())
        return "?";
    return std::string(buffer, result.ptr);
}

// Sizes in refusals and warnings keep the digits they need: a 0.0049 mm triangle is no "0.00".
std::string Length(double millimetres) { return FormatLength(millimetres); }

std::string Milliseconds(double value)
{
    return Fixed(value, 0) + " ms";
}

// Appends "  " + prefix + body as one line of the report. A stage's text that already ends
// with a line break keeps only one, so the log shows no empty line.
void AppendLine(std::string& text, const std::string& prefix, std::string body)
{
    if (!body.empty() && body.back() == '\n')
        body.pop_back();
    text.append("  ").append(prefix).append(body).append("\n");
}

bool IsPositiveFinite(float value)
{
    return std::isfinite(value) && value > 0.0f;
}

// ---- A texture that missed the part --------------------------------------------------------

const char* KindName(ProjectionKind kind)
{
    switch (kind) {
    case ProjectionKind::Box: return "box";
    case ProjectionKind::Plane: return "plane";
    case ProjectionKind::Cylinder: return "cylinder";
    case ProjectionKind::Sphere: return "sphere";
    }
    return "chosen";
}

// The one surface setting of the sides the kind uses; empty when the plane (which takes every
// surface) or when no side is on, -1 when the box or sphere sides differ.
std::optional<std::int32_t> SurfaceSetting(const Projection& p)
{
    if (p.type == ProjectionKind::Plane)
        return std::nullopt;
    if (p.type == ProjectionKind::Cylinder)
        return static_cast<std::int32_t>(p.cylinderSurface);
    std::optional<std::int32_t> setting;
    for (std::int32_t side = 0; side < kBoxSideCount; ++side) {
        if (p.boxSideEnabled[side] == 0)
            continue;
        const auto surface = static_cast<std::int32_t>(p.boxSideSurface[side]);
        if (setting && *setting != surface)
            return -1;
        setting = surface;
    }
    return setting;
}

// The setting as its button reads.
std::string SurfaceButtonText(std::int32_t setting)
{
    switch (setting) {
    case 0: return "\"Outer Surfaces Only\"";
    case 1: return "\"Inner Surfaces Only\"";
    case 2: return "\"All Surfaces\"";
    default: return "surfaces chosen side by side";
    }
}

// "outer surface", "inner surface" or "surface" for the lead sentence.
std::string ChosenSurfaceWords(std::optional<std::int32_t> setting)
{
    if (setting && *setting == 0)
        return "outer surface";
    if (setting && *setting == 1)
        return "inner surface";
    return "surface";
}

// Why the projection reaches so little, in its own terms.
std::string MissedTextureCause(const TextureFigures& figures, const Projection& p)
{
    const std::string kind = KindName(p.type);
    if (!AnyProjectorOn(p))
        return p.type == ProjectionKind::Cylinder ? "the cylinder projection's wall and caps are switched off."
                                                  : "every side of the " + kind + " projection is switched off.";
    if (figures.bedArea > figures.texturedArea)
        return "the " + kind + " projection reaches the bed face, which \"Keep the bed face flat\" holds flat.";
    const std::optional<std::int32_t> setting = SurfaceSetting(p);
    const std::string with = setting ? " with " + SurfaceButtonText(*setting) : "";
    if (!(figures.chosenArea > 0.0))
        return "the part has no " + ChosenSurfaceWords(setting) + " for the " + kind + " projection" + with + ".";
    if (figures.chosenArea < kTextureSliverShare * figures.area)
        return "the part has next to no " + ChosenSurfaceWords(setting) + " for the " + kind + " projection" + with
            + ".";
    switch (p.type) {
    case ProjectionKind::Cylinder:
        return "the cylinder projection" + with + " textures only walls that face away from its axis, and its "
            "caps when they are on, so a wall that faces the axis, such as the bore of a tube, gets none.";
    case ProjectionKind::Plane:
        return "the plane projection textures only faces turned towards its direction and inside its cage's "
            "outline seen along it; it reaches through the whole part, whatever the cage's depth.";
    case ProjectionKind::Box:
    case ProjectionKind::Sphere:
        break;
    }
    return "the " + kind + " projection" + with + " textures only faces turned towards a side that is switched on.";
}


// Measured, and with figures the texts can divide and compare: a NaN would otherwise fall
// through every verdict band to the last and be printed as "nan".
bool HasSampling(const SamplingReport& s)
{
    return s.measured && IsPositiveFinite(s.triangleSize) && IsPositiveFinite(s.millimetresPerPixel)
        && IsPositiveFinite(s.pixelsPerEdge) && IsPositiveFinite(s.finestDetail);
}

const char* SamplingVerdict(float pixelsPerEdge)
{
    if (pixelsPerEdge <= kFullDetailPixelsPerEdge)
        return "the mesh carries this map at full detail";
    if (pixelsPerEdge <= kMostDetailPixelsPerEdge)
        return "the mesh carries most of this map";
    if (pixelsPerEdge <= kFinestGrainPixelsPerEdge)
        return "the finest grain of this map is being lost";
    return "most of this map is too fine for these triangles";
}

bool HasCleanupEffect(const ExportCleanupReport& c)
{
    return c.verticesMerged != 0 || c.collapsedTrianglesDropped != 0 || c.trianglesAdded != 0
        || c.holesLeftOpen != 0 || c.collapsesRefused != 0 || c.zeroAreaTrianglesLeft != 0;
}

// A run that ended on a failure of its own rather than on the user's stop.
bool RunFailed(const PipelineReport& r)
{
    return r.refused != 0 || r.remeshReport.failed || r.solidReport.contourHoles || !r.message.empty();
}

void AppendStageTimes(std::string& text, const PipelineReport& r)
{
    const StageMilliseconds& ms = r.stageMilliseconds;
    text += "  stages:";
    text += " Remesh " + Milliseconds(ms.remesh) + ";";
    text += " Mask " + Milliseconds(ms.faces) + ";";
    text += " Displacement " + Milliseconds(ms.displacement) + ";";
    text += " Simplify " + Milliseconds(ms.simplify) + ";";
    text += " Cleanup " + Milliseconds(r.cleanupMilliseconds) + ";";
    if (r.validated)
        text += " Check " + Milliseconds(r.checkMilliseconds) + ";";
    if (r.printability.checked)
        text += " Print check " + Milliseconds(r.printability.milliseconds) + ";";
    if (r.walls.measured)
        text += " Walls " + Milliseconds(r.walls.milliseconds) + ";";
    text += "\n";
}

// A failed remesh has no result to describe: its own failure text stands in its place.
void AppendRemesh(std::string& text, const PipelineReport& r)
{
    const RemeshReport& remesh = r.remeshReport;
    if (remesh.failed) {
        AppendLine(text, "", FormatRemeshReport(remesh));
        return;
    }
    if (!r.remeshed)
        return;
    text += "  remesh: " + FormatCountGrouped(r.sourceTriangles) + " -> " + FormatCountGrouped(r.remeshedTriangles)
        + " triangles in " + Milliseconds(r.stageMilliseconds.remesh) + "\n";
    text += "    " + FormatCountGrouped(remesh.splits) + " splits, " + FormatCountGrouped(remesh.collapses)
        + " collapses, " + FormatCountGrouped(remesh.flips) + " flips, " + FormatCountGrouped(remesh.featureEdges)
        + " feature edges\n";
    for (const OwnScalePiece& piece : r.ownScalePieces)
        text += "    " + FormatOwnScalePieceText(piece) + "\n";
    for (const StageTime& stage : remesh.stageTimes)
        text += "    " + stage.name + ": " + Milliseconds(stage.milliseconds) + "\n";
}

// The solid's statistics would read as a success when its contour was rejected for holes.
void AppendDisplacement(std::string& text, const PipelineReport& r)
{
    const SolidDisplacementReport& solid = r.solidReport;
    if (solid.contourHoles && !solid.ok)
        AppendLine(text, "", kContourHolesText);
    else if (solid.ok || solid.refused)
        AppendLine(text, "", FormatSolidDisplacementReport(solid));
    else if (r.displacementReport.displacedVertices != 0)
        AppendLine(text, "displacement: ", FormatDisplacementReport(r.displacementReport));
}

}  // namespace

// Only a before-report that was checked has counts to compare; and the relief made the
// difference only when the result has something the part before it did not.
std::string FormatBeforeReliefLine(const PipelineReport& r)
{
    const PrintabilityReport& before = r.beforeRelief;
    if (!r.printabilityBeforeRelief || !before.checked)
        return {};
    std::string text = "  before this displacement: " + FormatCountOf(before.featuresInAir.size(), "feature", "features")
        + " in the air, " + FormatCountOf(before.farReaches.size(), "layer", "layers") + " past the warning distance";
    // The information box counts the places the part had before the relief apart: the log
    // gives that figure too.
    if (!before.airPlaces.empty())
        text += ", " + FormatCountOf(before.airPlaces.size(), "place", "places") + " laid in the air";
    const PrintabilityReport& after = r.printability;
    const bool beforeClear = before.featuresInAir.empty() && before.farReaches.empty() && before.airPlaces.empty();
    const bool afterClear = after.featuresInAir.empty() && after.farReaches.empty() && after.airPlaces.empty();
    if (beforeClear && !afterClear)
        text += " - the relief made the difference";
    return text;
}

std::string FormatFlippedCopiesNote(std::uint64_t flippedCopies)
{
    return FormatCountOf(flippedCopies, "facet", "facets")
        + " also written the other way round: the reversed copies were left out of the run, as Mesh > Repair "
          "removes them from the part.";
}

std::string FormatNestedBodiesNote(const PipelineReport& r)
{
    std::string text;
    for (const NestedBodyRole role : {NestedBodyRole::insert, NestedBodyRole::hollow}) {
        std::string line = FormatNestedBodies(r.nestedBodies, role);
        if (line.empty())
            continue;
        // The contour keeps the material, not the surfaces inside it.
        if (role == NestedBodyRole::insert && r.remeshed != 0 && r.remeshReport.contour)
            line += CountNestedBodies(r.nestedBodies, role) == 1 ? "; the remesh made one solid of it and the body round it"
                                                                 : "; the remesh made one solid of each and the body round it";
        text += (text.empty() ? "" : "\n") + line + ".";
    }
    return text;
}

std::string FormatPipelineReport(const PipelineReport& r)
{
    std::string text = "Pipeline: " + FormatCountGrouped(r.sourceTriangles) + " source triangles\n";
    AppendStageTimes(text, r);
    if (r.flippedCopiesRemoved != 0)
        text += "  " + FormatFlippedCopiesNote(r.flippedCopiesRemoved) + "\n";
    const std::string nested = FormatNestedBodiesNote(r);
    for (std::string_view rest = nested; !rest.empty();) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        AppendLine(text, "", std::string(rest.substr(0, end)));
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    if (r.refused) {
        // The refusal as the run gave it: the costliest piece and a setting the run used.
        text += "  remesh REFUSED: " + TriangleLimitText(r) + "\n";
    }
    AppendRemesh(text, r);
    if (!r.resultWeights.vertexWeights.empty())
        AppendLine(text, "mask: ", FormatTextureWeights(r.resultWeights));
    if (HasSampling(r.sampling))
        AppendLine(text, "sampling: ", FormatSamplingReport(r.sampling));
    AppendDisplacement(text, r);
    if (r.flatSimplifyRan)
        AppendLine(text, "simplify: ", FormatFlatSimplifyReport(r.flatSimplifyReport));
    if (r.meshSimplifyRan)
        AppendLine(text, "", FormatMeshSimplifyReport(r.meshSimplifyReport));
    if (HasCleanupEffect(r.cleanupReport))
        AppendLine(text, "cleanup: ", FormatExportCleanupReport(r.cleanupReport));
    if (!r.message.empty() && r.message != kContourHolesText)
        AppendLine(text, "", r.message);
    const std::string loss = FormatRunSurfaceLoss(r);
    if (!loss.empty())
        AppendLine(text, "", loss);

    text += "  result: " + FormatCountGrouped(r.resultTriangles) + " triangles";
    if (r.stopped && !RunFailed(r))
        text += " (cancelled)";
    if (r.walls.measured)
        text.append("\n").append(FormatWallsLine(r.walls));
    if (r.printability.checked) {
        if (!r.walls.measured)
            text += "\n";
        text += FormatPrintabilityReport(r.printability);
        const std::string before = FormatBeforeReliefLine(r);
        if (!before.empty())
            text += before + "\n";
    }
    return text;
}

std::string FormatSamplingReport(const SamplingReport& s)
{
    if (!HasSampling(s))
        return "sampling: not measured";
    std::string text = "triangles " + Fixed(s.triangleSize, 3) + " mm, texture " + Fixed(s.millimetresPerPixel, 3)
        + " mm/pixel (" + Fixed(s.pixelsPerEdge, 1) + " pixels per edge) - " + SamplingVerdict(s.pixelsPerEdge)
        + "\n  nothing finer than " + Fixed(s.finestDetail, 2) + " mm can appear";
    if (s.filterMillimetres > 0.0f) {
        text += "; map filtered to " + Fixed(s.filterMillimetres, 3) + " mm"
            + (s.filterRaised ? " to stop it aliasing into noise" : " as asked");
    }
    const std::string advice = FormatSamplingAdvice(s);
    if (!advice.empty())
        text.append("\n  ").append(advice);
    return text;
}

std::string FormatSamplingAdvice(const SamplingReport& s)
{
    if (!HasSampling(s) || !(s.pixelsPerEdge > kMostDetailPixelsPerEdge))
        return {};
    if (!IsPositiveFinite(s.advisedWidth) || !IsPositiveFinite(s.advisedTriangleSize))
        return {};
    return "To carry it fully: spread the texture to about " + Fixed(s.advisedWidth, 1)
        + " mm wide, or ask for triangles of about " + Fixed(s.advisedTriangleSize, 3) + " mm.";
}

namespace {

// Where the triangles were raised to the finest the part's own size allows, a smaller triangle
// size changes nothing: the advice says so instead of asking for one. `rest` follows the reason.
std::string FinestAdvice(const char* rest)
{
    return std::string("the triangles are already the finest this part's size allows (4,088 across its longest "
                       "side), so a smaller triangle size would not ")
        + rest;
}

}  // namespace

std::string FormatPartTooSmallText(float size, float triangleSize)
{
    return "The part is " + Length(size) + " mm across, smaller than the " + Length(triangleSize)
        + " mm triangle size: Process would leave only a sliver of it. Nothing was changed; a triangle size "
          "below "
        + Length(size) + " mm keeps its shape.";
}

namespace {

// The box of the part or piece lying too far out, as the far-out refusals and notes name it.
std::string FarPlace(Vec3 low, Vec3 high, bool wholePart)
{
    const Vec3 size = high - low;
    const Vec3 centre = (low + high) * 0.5f;
    return FormatSize3(size.x, size.y, size.z) + (wholePart ? " part" : " piece") + " at (" + Fixed(centre.x, 0)
        + ", " + Fixed(centre.y, 0) + ", " + Fixed(centre.z, 0) + ") mm";
}

std::string FarPlace(const FarPiece& far) { return FarPlace(far.boundsMin, far.boundsMax, far.wholePart); }

// The far-out refusals' advice: the size (tried against every limit by its caller) and, since no
// command here moves or deletes one piece, what the program that made the part can do.
std::string FarAdvice(const FarPiece& far, float advisedSize, bool withoutRemesh)
{
    const bool advised = advisedSize > 0.0f && std::isfinite(advisedSize);
    const std::string sized = advised ? "a triangle size of at least " + Length(advisedSize) + " mm"
                                      : std::string("a larger triangle size");
    return "Nothing was changed; " + (withoutRemesh ? "Remesh on with " + sized : sized) + " lets it run, as does the "
        + (far.wholePart ? "part moved nearer the origin" : "piece moved nearer the part or deleted")
        + " in the program that made it.";
}

}  // namespace

std::string FormatPieceTooFarOutText(const FarPiece& far, float triangleSize, float advisedSize)
{
    return std::string(far.wholePart ? "The part lies" : "A piece lies") + " too far out for the triangle size: the "
        + FarPlace(far) + ", where a coordinate steps by " + Fixed(far.step, 2) + " mm, coarser than the "
        + Fixed(triangleSize, 2) + " mm triangle size. " + FarAdvice(far, advisedSize, false);
}

std::string FormatReliefTooFarOutText(const FarPiece& far, float cell, float advisedSize, bool withoutRemesh)
{
    return std::string(far.wholePart ? "The part lies" : "A piece lies")
        + " too far out for the solid relief at this triangle size: the " + FarPlace(far)
        + ", where a coordinate steps by " + Fixed(far.step, 4) + " mm, needs cells of at least "
        + Length(far.smallestSize) + " mm so that the relief's corners do not round onto one another, and they are "
        + Length(cell) + " mm. " + FarAdvice(far, advisedSize, withoutRemesh);
}

std::string FormatOwnScalePieceText(const OwnScalePiece& piece, bool forRelief)
{
    const std::string place = "the " + FarPlace(piece.boundsMin, piece.boundsMax, false)
        + ", where a coordinate steps by " + Fixed(piece.step, 4) + " mm";
    if (piece.kept)
        return std::string(forRelief ? "A piece far out was kept as it was, untextured: " : "A piece far out was kept as it was: ") + place
            + ", too coarsely to remesh it soundly.";
    return "A piece far out was remeshed at its own scale: " + place + ", at " + Length(piece.triangleSize)
        + " mm triangles.";
}

std::string FormatNoSurfaceText(float thickness, float triangleSize, bool finest)
{
    if (!(thickness > kNoVolumeMillimetres))
        return "Process made no surface: the part encloses no volume (its faces lie on one another), so there "
               "is nothing to build round. Nothing was changed.";
    const std::string opening = "Process made no surface: the part is " + Length(thickness)
        + " mm thick, thinner than the " + Length(triangleSize) + " mm triangle size. Nothing was changed; ";
    if (finest)
        return opening + FinestAdvice("help; a thicker part keeps it.");
    return opening + "a triangle size well below " + Length(thickness) + " mm, or a thicker part, keeps it.";
}

namespace {

// How a refusal for lost surface begins: none made, or the share kept, ending where its
// cause follows.
std::string LostSurfaceOpening(double keptShare)
{
    if (!(keptShare > 0.0))
        return "Process made no surface: ";
    return "Process lost most of the part: the result keeps only " + Fixed(keptShare * 100.0, 0)
        + "% of its surface, as ";
}

std::string DoubledFacets(std::uint64_t count)
{
    return FormatCountOf(count, "doubled facet", "doubled facets") + " (the same three corners written twice)";
}

// What a run that kept doubled facets says instead of advising a triangle size: they read as
// walls, whatever the size.
std::string DoubledFacetsCause(std::uint64_t count)
{
    return "The part has " + DoubledFacets(count) + ", which the run takes as walls; Mesh > Repair removes them, "
        "then Process again.";
}

}  // namespace

std::string FormatOpenPartText(std::uint64_t openEdges, double keptShare)
{
    return LostSurfaceOpening(keptShare) + "the part is open (" + FormatCountGrouped(openEdges)
        + " open edges), so its walls enclose no inside for the relief to be built round. Nothing was changed; "
          "close its openings first: Mesh > Repair closes small gaps, and a larger opening is closed in the "
          "program the part was made in.";
}

std::string FormatThinOnceClosedNote(float thickness, float triangleSize, bool finest)
{
    const std::string walls = "Closing it would not be enough: its walls are about " + Length(thickness)
        + " mm thick, thinner than the " + Length(triangleSize) + " mm triangle size";
    if (finest)
        return walls + ", and " + FinestAdvice("help; a thicker part keeps it.");
    return walls + ", so a triangle size well below " + Length(thickness) + " mm is needed as well.";
}

std::string FormatDoubledFacetsText(std::uint64_t doubledFacets, double keptShare)
{
    return LostSurfaceOpening(keptShare) + "the part has " + DoubledFacets(doubledFacets)
        + ", so its walls do not show which side is inside. Nothing was changed; Mesh > Repair removes the doubled "
          "facets, then Process again.";
}

std::string FormatDoubledFacetsNote(std::uint64_t doubledFacets)
{
    return "The part also has " + DoubledFacets(doubledFacets) + "; Mesh > Repair removes them.";
}

std::string FormatLostMostText(double keptShare, float thickness, float triangleSize, bool finest)
{
    return LostSurfaceOpening(keptShare) + "the part is " + Length(thickness) + " mm thick and the triangle size "
        + Length(triangleSize) + " mm. Nothing was changed; "
        + (finest ? FinestAdvice("help; a thicker part keeps more of it.")
                  : std::string("a smaller triangle size keeps more of it."));
}

std::string FormatOwnTrianglesLostText(double keptShare, float triangleSize, float thickness)
{
    const float advised = thickness > 0.0f ? std::min(thickness, triangleSize) : triangleSize;
    return LostSurfaceOpening(keptShare) + "Remesh is off, so the relief was built at the part's own triangle size, "
        + Length(triangleSize) + " mm, too coarse to hold its shape. Nothing was changed; turn Remesh on with a "
          "triangle size well below " + Length(advised) + " mm, then Process again.";
}

std::string FormatReliefLostText(double keptShare, float depth, float thickness, float tileWidth,
    float triangleSize, float advisedWidth)
{
    if (!(depth > 0.0f) && !(tileWidth > 0.0f))
        return {};
    std::string cause;
    std::string help;
    if (depth > 0.0f) {
        cause = "the relief is " + Length(depth) + " mm deep, the part only " + Length(thickness) + " mm thick";
        help = "a Strength below " + Length(thickness) + " mm";
    }
    if (tileWidth > 0.0f) {
        cause += std::string(cause.empty() ? "the" : ", and the") + " texture tile is "
            + (tileWidth < 0.005f ? std::string("under 0.01") : Fixed(tileWidth, 2)) + " mm wide, narrower than the "
            + Length(triangleSize) + " mm triangles";
        help += std::string(help.empty() ? "" : " and ") + "a texture about "
            + Fixed(std::max(advisedWidth, 2.0f * triangleSize), 1) + " mm wide";
    }
    const bool both = depth > 0.0f && tileWidth > 0.0f;
    return LostSurfaceOpening(keptShare) + cause + ". Nothing was changed; " + help + (both ? " keep" : " keeps")
        + " the part.";
}


namespace {

// Remesh was off, so no triangle size was in use to make smaller: the part's own triangles set
// the relief's grid.
std::string OwnTrianglesLossNote(bool added)
{
    return std::string(added ? "Crevices narrower than the part's own triangles are filled"
                             : "Pieces and features smaller than the part's own triangles are dropped")
        + "; Remesh is off, so turning it on with a smaller triangle size keeps them"
        + (added ? " open." : ".");
}

}  // namespace

std::string FormatSurfaceLossText(const SurfaceDistanceReport& d, bool relief, bool finest, std::uint64_t doubledFacets)
{
    const std::string stage = relief ? "The relief " : "The remesh ";
    const auto at = [](Vec3 p) { return Fixed(p.x, 2) + ", " + Fixed(p.y, 2) + ", " + Fixed(p.z, 2); };
    const std::string limit = ", more than the " + Length(d.allowed) + " mm allowed at "
        + (d.ownTriangles ? "the part's own triangle size of " : "a ") + Length(d.triangleSize)
        + (d.ownTriangles ? " mm. " : " mm triangle size. ");
    const auto cause = [&](bool added) {
        if (doubledFacets != 0)
            return DoubledFacetsCause(doubledFacets);
        if (d.ownTriangles)
            return OwnTrianglesLossNote(added);
        if (added)
            return "Crevices narrower than the triangles are filled; "
                + (finest ? FinestAdvice("keep them open.") : std::string("a smaller triangle size keeps them open."));
        return "Features thinner than the triangles are dropped; "
            + (finest ? FinestAdvice("keep them.") : std::string("a smaller triangle size keeps them."));
    };
    std::string text;
    if (d.Lost() && d.pieceDropped) {
        const Vec3 size = d.droppedMax - d.droppedMin;
        text = stage + "dropped a piece of the part: the piece of " + Fixed(size.x, 2) + " x " + Fixed(size.y, 2)
            + " x " + Fixed(size.z, 2) + " mm at (" + at((d.droppedMin + d.droppedMax) * 0.5f)
            + ") mm is gone from the result, made at "
            + (d.ownTriangles ? "the part's own triangle size of " + Length(d.triangleSize) + " mm. "
                              : "a " + Length(d.triangleSize) + " mm triangle size. ")
            + cause(false);
    } else if (d.Lost()) {
        text = stage + "lost part of the surface: the part reaches " + Length(d.largest) + " mm from the result at "
            + at(d.where) + " mm" + limit + cause(false);
    }
    if (d.Added())
        text += (text.empty() ? "" : "\n") + stage + "added surface the part does not have: the result reaches "
            + Length(d.added) + " mm from the part at " + at(d.addedWhere) + " mm" + limit + cause(true);
    return text;
}

std::string FormatLostSurfaceNote(bool added, bool finest, bool ownTriangles)
{
    if (ownTriangles)
        return OwnTrianglesLossNote(added);
    std::string advice = finest ? FinestAdvice(added ? "keep them open." : "keep them.")
                                : std::string(added ? "a smaller triangle size keeps them open."
                                                    : "a smaller triangle size keeps them.");
    advice.front() = static_cast<char>(std::toupper(static_cast<unsigned char>(advice.front())));
    return (added ? "Crevices narrower than the triangles were filled. "
                  : "Features thinner than the triangles were dropped. ") + advice;
}

namespace {

// "1.5 GB" for a byte count, "640 MB" below a gigabyte.
std::string MemoryAmount(std::uint64_t bytes)
{
    const double value = static_cast<double>(bytes);
    return value < 1e9 ? Fixed(value / 1e6, 0) + " MB" : Fixed(value / 1e9, 1) + " GB";
}

}  // namespace

std::string FormatProcessMemoryText(const ProcessMemory& memory)
{
    std::string text = "Process would need about " + MemoryAmount(memory.bytes) + " of memory, more than the "
        + MemoryAmount(memory.available) + " this process may use. Nothing was changed; ";
    if (memory.reliefOver)
        text = "The part is too large for this triangle size: making its relief would need "
            + (memory.reliefBudget != 0 ? "about " + MemoryAmount(memory.reliefBytes) + " of memory, more than the "
                      + MemoryAmount(memory.reliefBudget) + " that is safe. "
                                        : std::string("more memory than is safe. "))
            + "Nothing was changed; ";
    const float size = memory.advisedTriangleSize;
    const std::string advised = size > 0.0f && std::isfinite(size)
        ? "a triangle size of at least " + Length(size) + " mm"
        : std::string("a larger triangle size");
    if (memory.ownTriangles)
        return text + "Remesh is off, so the relief is made at the part's own triangle size: turn Remesh on with "
            + advised + ".";
    return text + advised + (size > 0.0f ? " fits." : " needs less.");
}

std::string FormatReliefTooDeepText(float strength, float depth, float partSize)
{
    return "The relief is too deep for this part: a Strength of " + FormatLength(strength) + " mm makes it "
        + FormatLength(depth) + " mm deep on a part " + FormatLength(partSize)
        + " mm across, and building it would need more memory than is safe. A smaller Strength needs less. "
          "Nothing was changed.";
}

namespace {

// A whole part's volume or area as a reader takes it in: two decimals, and a figure too small
// for them said as such rather than in a run of zeros.
std::string WholeFigure(double value)
{
    return std::fabs(value) < 0.005 ? std::string("under 0.01") : Fixed(value, 2);
}

}  // namespace

std::string FormatPartChangeText(const PartChangeReport& c)
{
    std::string text;
    const auto line = [&text](const std::string& more) { text += (text.empty() ? "" : "\n") + more; };
    // What the run read the part as, before any figure of it: those are measured so.
    if (c.measured && c.wholeTurned)
        line("The part is inside out (its faces point inwards): Process read it the right way out, and the result "
             "faces outwards.");
    else if (c.measured && c.bodiesTurned != 0)
        line(FormatCountOf(c.bodiesTurned, "body of the part is", "bodies of the part are")
            + " wound inside out: Process read " + PluralWord(c.bodiesTurned, "it", "them").data()
            + " the right way out.");
    if (c.measured && c.doubledFacets != 0)
        line("The part holds " + FormatCountOf(c.doubledFacets, "facet", "facets")
            + " written twice: Process read each once.");
    if (c.measured && c.openEdgesClosed != 0) {
        // An open part encloses no volume of its own; what the closed result holds is measured.
        line("The part is open (" + FormatCountOf(c.openEdgesClosed, "edge is", "edges are")
            + " used by one triangle): Process closed its openings; the result encloses "
            + WholeFigure(std::fabs(c.volumeAfter)) + " mm3 within " + WholeFigure(c.areaAfter)
            + " mm2 of surface, where the open part had " + WholeFigure(c.areaBefore) + " mm2.");
    }
    if (c.VolumeLostPastShare()) {
        std::string lost = "Process lost " + Fixed(100.0 * (c.volumeBefore - c.volumeAfter) / c.volumeBefore, 0)
            + "% of the part's volume (" + FormatVolume(c.volumeBefore) + " to " + FormatVolume(c.volumeAfter)
            + " mm3), more than the " + Fixed(100.0 * kVolumeLossWarningShare, 0) + "% a run may round off";
        if (c.triangleSize > 0.0f)
            lost += ": triangles of " + Length(c.triangleSize) + " mm cut its edges and corners";
        lost += c.ownTriangles ? ". Remesh is off, so turning it on with a smaller triangle size keeps more of it."
                               : ". A smaller triangle size keeps more of it.";
        line(lost);
    }
    return text;
}

std::string FormatRunSurfaceLoss(const PipelineReport& r)
{
    std::string text = FormatSurfaceLossText(r.remeshDistance, false, r.remeshDistance.finest, r.doubledFacetsKept);
    for (const std::string& more : {FormatSurfaceLossText(r.reliefDistance, true, r.reliefDistance.finest,
                                        r.doubledFacetsKept),
             FormatPartChangeText(r.partChange), FormatBodyChangesText(r.bodyChanges)}) {
        if (!more.empty())
            text += (text.empty() ? "" : "\n") + more;
    }
    return text;
}

bool TextureMissed(const TextureFigures& figures)
{
    if (figures.faces == 0)
        return false;
    // A sliver of the part is no texture, whatever share of the chosen surface it is: a part
    // with next to none of that surface gets its sliver textured in full.
    return figures.texturedFaces == 0 || figures.texturedArea < kTextureSliverShare * figures.chosenArea
        || figures.texturedArea < kTextureSliverShare * figures.area;
}

std::string FormatResultWithoutRelief(const PartChangeReport& change)
{
    const std::string before = FormatSize3(change.sizeBefore.x, change.sizeBefore.y, change.sizeBefore.z);
    const std::string after = FormatSize3(change.sizeAfter.x, change.sizeAfter.y, change.sizeAfter.z);
    if (!change.measured || before == after)
        return "The result is the part without relief.";
    return "The result is the part remeshed without relief, " + after + " where the part is " + before + ".";
}

std::string FormatTextureMissed(const TextureFigures& figures, const PipelineSettings& settings,
    const PartChangeReport& change)
{
    const Projection& p = settings.projection;
    std::string text;
    if (figures.texturedFaces == 0) {
        text = "No face received texture: ";
    } else {
        // The share that makes it a sliver: of the chosen surface, or else of the part's.
        const bool ofChosen = figures.texturedArea < kTextureSliverShare * figures.chosenArea;
        const double whole = ofChosen ? figures.chosenArea : figures.area;
        const double percent = whole > 0.0 ? figures.texturedArea / whole * 100.0 : 0.0;
        text = "Only " + (percent < 0.1 ? std::string("under 0.1") : Fixed(percent, 1)) + "% of the "
            + (ofChosen ? ChosenSurfaceWords(SurfaceSetting(p)) : std::string("part's surface")) + " received texture: ";
    }
    text += MissedTextureCause(figures, p);
    for (const MaskVolume& mask : settings.masks) {
        if (mask.enabled != 0) {
            text += " Mask volumes keep their regions plain as well.";
            break;
        }
    }
    if (settings.tileExtentOn != 0)
        text += " The texture covers a single tile and leaves the rest plain.";
    if (figures.texturedFaces == 0)
        text += " " + FormatResultWithoutRelief(change);
    return text;
}

std::string FormatReliefFoldsLeft(std::uint64_t foldedLeft)
{
    return "The relief left " + FormatCountOf(foldedLeft, "triangle", "triangles") + " folded over.";
}

namespace {

// The relief is named only where the remesh before it made no fold of its own.
bool ReliefMadeTheFolds(const PipelineReport& report)
{
    return (report.solidReport.ok || report.displacementReport.vertexCount != 0) && report.foldedBeforeRelief == 0;
}

}  // namespace

std::string FormatFoldsLeft(const PipelineReport& report)
{
    if (ReliefMadeTheFolds(report))
        return FormatReliefFoldsLeft(report.foldedTriangles);
    return "Processing left " + FormatCountOf(report.foldedTriangles, "triangle", "triangles") + " folded over.";
}

const char* FoldsNote(const PipelineReport& report)
{
    const bool guarded = !report.solidReport.ok && ReliefMadeTheFolds(report);
    return guarded ? kReliefFoldsNote : kFoldsMadeNote;
}

std::string FormatTextureHeldBack(const DisplacementReport& r)
{
    if (r.texturedVertices == 0)
        return {};
    const double share = static_cast<double>(r.heldBackVertices) / static_cast<double>(r.texturedVertices);
    if (share < kNoticeableHeldBackShare)
        return {};
    const Vec3 p = r.heldBackPlace;
    return "The relief's guards kept " + FormatFixed(100.0 * share, 0) + "% of the textured surface under half its "
        "depth, so that it would not fold, cross itself or close a gap; the largest share of it ("
        + FormatFixed(100.0 * static_cast<double>(r.heldBackPlaceShare), 0) + "%) lies round " + FormatFixed(p.x, 1)
        + ", " + FormatFixed(p.y, 1) + ", " + FormatFixed(p.z, 1) + " mm.";
}

namespace {

// The words for removed bodies that met one size rule at one line `width` (mm): under a cube of
// it, thinner than it, or small beside the body they broke from.
std::string SizeRuleWords(RemovedBodySize size, float width, bool crumbWords, std::size_t count)
{
    const std::string oneLine = "one " + Fixed(width, 2) + " mm line";
    switch (size) {
    case RemovedBodySize::underACube:
        return crumbWords ? "too small to print" : "under a cube of " + oneLine;
    case RemovedBodySize::thinnerThanALine:
        return "thinner than " + oneLine;
    case RemovedBodySize::smallBesideItsBody:
        break;
    }
    return count == 1 ? "under a hundredth of the body it broke from" : "under a hundredth of the body they broke from";
}

// Lines for the bodies one stage removed: filled hollows and loose pieces apart, each split by
// the size rule its bodies met, each line with the figures of its own largest.
void AddRemovedBodyLines(std::string& text, const std::string& stage, std::span<const CrumbRecord> removed,
    float volumeLimit, float width, bool crumbWords)
{
    constexpr RemovedBodySize kSizes[] = {RemovedBodySize::underACube, RemovedBodySize::thinnerThanALine,
        RemovedBodySize::smallBesideItsBody};
    for (const bool hollow : {false, true}) {
        for (const RemovedBodySize size : kSizes) {
            std::vector<CrumbRecord> group;
            for (const CrumbRecord& body : removed)
                if ((body.volume < 0.0) == hollow && ClassifyRemovedBody(body, volumeLimit) == size)
                    group.push_back(body);
            if (group.empty())
                continue;
            const std::string what = hollow
                ? "filled " + FormatCountOf(group.size(), "hollow", "hollows") + " it left inside the part"
                : "removed "
                    + FormatCountOf(group.size(), crumbWords ? "crumb" : "piece", crumbWords ? "crumbs" : "pieces")
                    + " it set loose beside the part";
            text += (text.empty() ? "" : "\n") + stage + what + ", " + SizeRuleWords(size, width, crumbWords, group.size()) + ": "
                + FormatLargestRemovedBody(group) + ".";
        }
    }
}

}  // namespace

std::string FormatRemovedBodiesNote(const PipelineReport& r)
{
    std::string text;
    const RemeshReport& remesh = r.remeshReport;
    if (r.remeshed != 0 && remesh.contour && !remesh.strayBodies.empty())
        AddRemovedBodyLines(text, "The remesh ", remesh.strayBodies, kCrumbVolumeLimit,
            static_cast<float>(std::cbrt(static_cast<double>(kCrumbVolumeLimit))), true);
    const SolidDisplacementReport& solid = r.solidReport;
    if (!solid.ok)
        return text;
    std::vector<CrumbRecord> loose = solid.voids;
    loose.insert(loose.end(), solid.crumbs.begin(), solid.crumbs.end());
    const float line = solid.lineWidth;
    AddRemovedBodyLines(text, "The relief ", loose, line * line * line, line, false);
    if (!solid.thinBodies.empty()) {
        const std::uint64_t ofThePart = std::min<std::uint64_t>(solid.inputPiecesRemoved, solid.thinBodies.size());
        text += std::string(text.empty() ? "" : "\n") + "The relief removed "
            + FormatCountOf(solid.thinBodies.size(), "body", "bodies") + " thinner than one " + Fixed(line, 2)
            + " mm line"
            + (ofThePart == 0 ? std::string()
                              : ", " + FormatCountOf(ofThePart, "piece", "pieces") + " of the part among them")
            + ": " + FormatLargestRemovedBody(solid.thinBodies, false) + ".";
    }
    return text;
}

}  // namespace grainforge::mesh
