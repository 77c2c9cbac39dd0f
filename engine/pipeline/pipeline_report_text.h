// The texts of a finished run: the multi-line run report the document writes to the output log
// after every run, and the sampling texts it also shows in its mesh information.
//
// Numbers are written in fixed notation with a per-value number of decimals, whatever the
// process locale; counts are plain unsigned integers without grouping. The words of each
// stage's own report come from that stage's formatter.
#pragma once

#include "engine/mesh/mesh_validation.h"
#include "engine/remesh/far_pieces.h"
#include "engine/pipeline/pipeline_records.h"
#include "engine/pipeline/process_estimate.h"

#include <string>

namespace grainforge::mesh {

// Pixels per edge up to which the mesh carries the map at full detail, carries most of it, and
// loses only its finest grain; above the last, most of the map is too fine for the triangles.
// Advice is given above the middle band.
inline constexpr float kFullDetailPixelsPerEdge = 2.0f;
inline constexpr float kMostDetailPixelsPerEdge = 4.0f;
inline constexpr float kFinestGrainPixelsPerEdge = 10.0f;

// What the run report says when the solid displacement's contour came out with holes: the
// result was rejected and the part left as it was.
inline constexpr const char* kContourHolesText =
    "Process could not build the surface (the contour has holes). Nothing was changed; a "
    "different triangle size may help.";

// The run report, lines ended by "\n": the source, the stage times, what each stage that ran
// did, the result's triangle count, then the walls and printability blocks when they ran.
// A run that failed (the remesh failed, the solid's contour had holes, a stage left a failure
// text) or was refused is never worded as cancelled.
[[nodiscard]] std::string FormatPipelineReport(const PipelineReport& report);

// The run's note on the reversed copies of `flippedCopies` facets it left out.
[[nodiscard]] std::string FormatFlippedCopiesNote(std::uint64_t flippedCopies);

// What the run made of the part's bodies inside others: a sentence for the inserts kept solid
// (made one solid with the body round them when the remesh contoured) and one for the hollows
// kept, on lines of their own; empty when the part has none.
[[nodiscard]] std::string FormatNestedBodiesNote(const PipelineReport& report);

// "triangles 0.200 mm, texture 0.050 mm/pixel (4.0 pixels per edge) - " and the verdict, the
// finest detail, the filter and the advice on further lines; "sampling: not measured" for a
// sampling that was not measured or whose figures are not positive finite numbers.
[[nodiscard]] std::string FormatSamplingReport(const SamplingReport& sampling);

// How to carry the whole map when more than kMostDetailPixelsPerEdge pixels fall on an edge;
// empty otherwise.
[[nodiscard]] std::string FormatSamplingAdvice(const SamplingReport& sampling);

// Why a run was refused for a part too small or too thin for its triangles; each names the
// part's measure and the triangle size in mm with two decimals and ends "Nothing was changed".
// `thickness` is the part's mean thickness (twice its volume over its area): at most
// kNoVolumeMillimetres, the thickness below which validation calls a body a sheet, it is worded
// as a part that encloses no volume.
inline constexpr float kNoVolumeMillimetres = static_cast<float>(kSheetThicknessMillimetres);
[[nodiscard]] std::string FormatPartTooSmallText(float size, float triangleSize);

// Why a run was refused for a part, or a piece of one, lying so far out that its coordinates step
// by more than the triangle size: names it by its box's centre (mm, no decimals) and size, the
// step there and the triangle size, and ends "Nothing was changed" with the advice below.
[[nodiscard]] std::string FormatPieceTooFarOutText(const FarPiece& far, float triangleSize, float advisedSize);

// Why a solid relief was refused for a part, or a piece of one, lying so far out that its
// coordinates step too coarsely for the relief's cell (SmallestTriangleSizeFarOut): names the part or
// piece by its box's centre and size, the step there, the cell needed and the cell in use, and
// ends "Nothing was changed" with the triangle size that lets it run (`advisedSize`, which
// passes every limit of the run; "a larger triangle size" when 0), with Remesh turned on where
// `withoutRemesh`, or the part moved nearer the origin (the piece nearer the part, or deleted) in
// the program that made it: no command here moves one piece.
[[nodiscard]] std::string FormatReliefTooFarOutText(const FarPiece& far, float cell, float advisedSize,
    bool withoutRemesh);

// What the remesh did with a piece far from the rest of its part (RemeshAtOwnScale): named as the
// far-out refusals name it, with the step there, and the size it was remeshed at, or that it was
// kept as it was, untextured.
[[nodiscard]] std::string FormatOwnScalePieceText(const OwnScalePiece& piece, bool forRelief = true);
// `finest`: the triangles were already raised to the finest the part's size allows, so the
// advice names no smaller triangle size.
[[nodiscard]] std::string FormatNoSurfaceText(float thickness, float triangleSize, bool finest = false);
[[nodiscard]] std::string FormatLostMostText(double keptShare, float thickness, float triangleSize,
    bool finest = false);
// The refusal for a closed part that a solid relief made without a remesh lost (kept
// `keptShare`, 0 for none): the relief was built at the part's own `triangleSize`, too coarse
// for it, and no triangle size of the remesh was in use; says to turn Remesh on with triangles
// well below that size and the part's walls, `thickness` mm thick (the smaller, when above 0).
[[nodiscard]] std::string FormatOwnTrianglesLostText(double keptShare, float triangleSize, float thickness);
// The refusal for an open part (`openEdges` edges used by one triangle) of which a contour
// found nothing, or kept only `keptShare` (above 0) of the surface: its walls enclose no
// inside, whatever their thickness; says what would help.
[[nodiscard]] std::string FormatOpenPartText(std::uint64_t openEdges, double keptShare = 0.0);
// What follows that refusal when the part's walls (`thickness` mm, above 0) are thinner than the
// `triangleSize` mm triangles as well: closing the openings alone would not let the run keep the
// part, so the size that would (or, at the finest the part's size allows, a thicker part) is
// named beside it.
[[nodiscard]] std::string FormatThinOnceClosedNote(float thickness, float triangleSize, bool finest);
// The same refusal for a closed part holding `doubledFacets` facets twice (either winding),
// which hide its inside from a contour: names them and Mesh > Repair, which removes them.
[[nodiscard]] std::string FormatDoubledFacetsText(std::uint64_t doubledFacets, double keptShare = 0.0);
// The sentence another refusal of such a part ends with.
[[nodiscard]] std::string FormatDoubledFacetsNote(std::uint64_t doubledFacets);

// The warning for surface a stage lost, and then for surface it added (each the largest
// distance, where, and what was allowed), a line each; empty when the distances were not
// measured or stay within what is allowed. `relief` words it for the relief, otherwise for the
// remesh. `finest`: the triangles were already the finest the part's own size allows, so a
// smaller triangle size is not advised. With `doubledFacets` (facets the run kept twice, which
// read as walls), those are named as the cause and Mesh > Repair instead of any triangle size.
[[nodiscard]] std::string FormatSurfaceLossText(const SurfaceDistanceReport& distance, bool relief,
    bool finest = false, std::uint64_t doubledFacets = 0);

// The refusal for a relief that lost most of the part (kept `keptShare` of its surface, 0 for
// none) where its settings are the cause: `depth` mm (above 0) deeper than the part's
// `thickness`, or a texture tile `tileWidth` mm wide (above 0) narrower than the
// `triangleSize` mm triangles; says which setting helps (Strength, the texture's width, about
// `advisedWidth`). Empty when neither is given.
[[nodiscard]] std::string FormatReliefLostText(double keptShare, float depth, float thickness, float tileWidth,
    float triangleSize, float advisedWidth);

// The refusal for a run whose estimate needs more memory than the process may use: the bytes
// needed and available, "Nothing was changed;" and the triangle size at which every limit
// passes (with Remesh off, turning Remesh on at that size), or a larger one when none was found.
// Where the relief's field alone is over its share (reliefOver), it names the relief and the
// share instead, as the relief's own refusal does.
[[nodiscard]] std::string FormatProcessMemoryText(const ProcessMemory& memory);

// The refusal for a solid relief whose field would need more memory than is safe because the
// relief is `depth` mm deep on a part `partSize` mm across at its widest: names the Strength
// (`strength` mm) as the cause, not the triangle size, and ends "Nothing was changed."
[[nodiscard]] std::string FormatReliefTooDeepText(float strength, float depth, float partSize);

// The validation's note on surface a stage lost (or, with `added`, added): what the triangles
// did and, unless they were already the `finest` the part's size allows, that smaller ones help;
// with `ownTriangles` (no remesh ran) that Remesh, off, makes them smaller.
[[nodiscard]] std::string FormatLostSurfaceNote(bool added, bool finest, bool ownTriangles = false);

// What a run did to the part as a whole, a line each; empty when nothing is worth telling: the
// openings it closed (the open edges, the surface added, the volume before and after) and the
// volume lost past kVolumeLossWarningShare, with the triangle size that cut it and what keeps
// more (Remesh, when the triangles were the part's own).
[[nodiscard]] std::string FormatPartChangeText(const PartChangeReport& change);

// The losses of a run, each as FormatSurfaceLossText gives it, remesh first, then
// FormatPartChangeText and FormatBodyChangesText, "\n" between.
[[nodiscard]] std::string FormatRunSurfaceLoss(const PipelineReport& report);

// The bodies a run removed, a line per cause, each with the size, place and volume of the
// largest of its own group: crumbs the remesh set loose, pieces the relief set loose and hollows
// it filled (voids), each split by the size rule its bodies met (ClassifyRemovedBody: under a
// cube of one line, thinner than one, or small beside the body they broke from), then bodies
// thinner than a line (size and place only, and how many were pieces of the part). Empty when
// nothing was removed.
[[nodiscard]] std::string FormatRemovedBodiesNote(const PipelineReport& report);

// Share of the chosen surface's area (TextureFigures::chosenArea) under which the texture
// counts as missing the part: a sliver of it textured reads as nothing textured.
inline constexpr double kTextureSliverShare = 0.01;

// True when the face stage measured the part (faces not 0) and no face, or less than
// kTextureSliverShare of the chosen surface's area or of the part's, received texture.
[[nodiscard]] bool TextureMissed(const TextureFigures& figures);

// The warning for a texture that missed the part: how little was textured, then the cause in
// the projection's terms (its kind, its surface setting, sides or wall and caps switched off,
// no surface of the chosen kind on the part, what the kind reaches), the masks and the single
// tile when the run had them. One line, without advice.
// With no face textured it ends in FormatResultWithoutRelief of `change`.
[[nodiscard]] std::string FormatTextureMissed(const TextureFigures& figures, const PipelineSettings& settings,
    const PartChangeReport& change);
// What a run that textured no face made: "The result is the part without relief." when its box
// reads as the part's, else the two sizes (a remesh rounds a thin part's edges outward).
[[nodiscard]] std::string FormatResultWithoutRelief(const PartChangeReport& change);

// "  before this displacement: n feature(s) in the air, n layer(s) past the warning distance",
// ending in " - the relief made the difference" when the part before the relief had no finding
// and the result has one; empty unless the run checked the part before its relief. No line break.
[[nodiscard]] std::string FormatBeforeReliefLine(const PipelineReport& report);

// The warning for triangles a relief left folded: "The relief left n triangle(s) folded over."
[[nodiscard]] std::string FormatReliefFoldsLeft(std::uint64_t foldedLeft);
// The warning for the folds of a checked result (PipelineReport::foldedTriangles, not 0): the
// relief's, or "Processing left n triangle(s) folded over." for a run without one or where the
// remesh before the relief made folds of its own (foldedBeforeRelief).
[[nodiscard]] std::string FormatFoldsLeft(const PipelineReport& report);

// A share of the textured surface held under half its depth from which the box says so.
inline constexpr double kNoticeableHeldBackShare = 0.05;

// The note for texture the vertex relief's guards took away (DisplacementReport's
// heldBackVertices against texturedVertices), when that share is at least
// kNoticeableHeldBackShare: how much, and where the largest share of it lies. Empty below it.
[[nodiscard]] std::string FormatTextureHeldBack(const DisplacementReport& report);

// What the folds are, the note beside that warning.
inline constexpr const char* kReliefFoldsNote =
    "There the relief turned a triangle over, or folded it onto a neighbour, and the fold guard could not "
    "ease it back.";

// What folds are where no fold guard ran (a solid relief, a remesh, a simplify).
inline constexpr const char* kFoldsMadeNote =
    "There two neighbouring triangles face more than 120 degrees apart, the surface folded back over "
    "itself where the part had no such edge.";
// The note beside FormatFoldsLeft: kReliefFoldsNote where it blames the vertex relief, else
// kFoldsMadeNote.
[[nodiscard]] const char* FoldsNote(const PipelineReport& report);

// What to do about it, the note beside the warning.
inline constexpr const char* kTextureMissedAdvice =
    "Choose other surfaces or sides, turn the projection towards the part or take another "
    "projection, then Process again.";

}  // namespace grainforge::mesh
