// Checks a mesh for everything that stops a part from being displaced and printed cleanly:
// open and non-manifold edges, windings that disagree, a surface without a consistent inside,
// inside-out parts, closed bodies that enclose no volume (sheets), duplicate, degenerate, sliver
// and self-intersecting triangles and unreferenced vertices. The report carries counts, flags, per-triangle lists and geometry for
// display, a list of problems in plain English with an explanation each, and a verdict.
//
// Validation changes nothing and keeps no state; it runs on the calling thread, apart from the
// optional self-intersection search, which uses parallel loops. A mesh with indices that do
// not refer to a vertex, or without triangles, gives a report with one problem and the verdict
// Unsuitable; nothing is thrown but allocation failure.
#pragma once

#include "engine/mesh/self_intersection.h"
#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace grainforge::mesh {

struct ValidationOptions {
    // A triangle whose shape quality (1 for equilateral, 0 for no area) is below this is a
    // sliver.
    float sliverQualityLimit = 0.001f;
    // Run the self-intersection search, the one costly check.
    bool checkSelfIntersections = false;
    // The mesh is a displacement result: slivers are counted but are no problem, and
    // self-intersections are worded as folds of the relief.
    bool displacedResult = false;
    // Limit on the pairs the search tests exactly; when it is reached the search stops and its
    // result is reported as unknown.
    std::uint64_t maximumSelfIntersectionPairs = kSearchPairLimit;
    // An earlier search of this mesh (a relief's crossing guard's), used by the search where it
    // still holds: the report is the same as without it, found in less time. Not owned.
    const SelfIntersectionRecord* knownSelfIntersections = nullptr;
    // How many of the mesh's non-manifold edges Mesh > Repair leaves (NonManifoldEdgesRepairLeaves
    // of the part Repair runs on), so that the note on them says what Repair does to this part.
    // Empty: the note states Repair's rule without a promise for this part.
    std::optional<std::uint64_t> nonManifoldEdgesRepairLeaves{};
    // How many open edges Mesh > Repair left when it last ran on this very part (its result, or
    // a part it left as it was): the note on them then no longer sends the user to Repair, which
    // closed what it could. Empty: Repair has not run on this part.
    std::optional<std::uint64_t> openEdgesRepairLeft{};
};

enum class Verdict : std::int32_t {
    Good = 0,
    UsableWithCare = 1,
    Unsuitable = 2,
};

// What a closed body inside another closed body is taken for. One rule serves validation, Mesh >
// Repair, Process and the check before saving, the winding-number rule by which the contour
// remesh and a slicer that unites overlapping volumes read a part: a place is solid where the
// bodies round it, each counted +1 facing outwards and -1 facing inwards, do not cancel. A
// nested body facing against the body round it is a hollow of it. One facing the same way adds
// solid to solid: an insert, as exports of overlapping parts write one, which prints solid, so
// nothing turns it into a hollow (that would take away material the user may have meant). A body
// inside a hollow, or inside nothing, is a solid and faces outwards; there one facing inwards is
// wound the wrong way.
enum class NestedBodyRole : std::uint8_t {
    hollow,  // solid round it, nothing inside it: faces inwards
    insert,  // solid round it and inside it: kept solid, faces outwards
};

// A nested body as the rule took it: its box and the volume it encloses (cubic millimetres,
// always positive).
struct NestedBody {
    NestedBodyRole role = NestedBodyRole::hollow;
    Vec3 boxMin{};
    Vec3 boxMax{};
    double volume = 0.0;
};

struct ValidationReport {
    std::uint64_t triangleCount = 0;
    std::uint64_t vertexCount = 0;
    EdgeCounts edgeCounts;                       // boundary: open edges; nonManifold: used 3+ times
    std::uint64_t windingConflicts = 0;          // two-triangle edges run the same way by both
    std::uint64_t componentCount = 0;            // triangles joined through two-triangle edges
    std::uint64_t duplicateTriangleCount = 0;
    std::uint64_t bodiesWithoutVolume = 0;       // closed components that are sheets (BodyVolume)
    // Closed components that hold a volume, yet lie so far out that their coordinates' rounding
    // could give a sheet as much (BodyVolume::IsTooCoarseToTell); not counted as sheets. The
    // farthest of them is named by its box and the float step there.
    std::uint64_t bodiesTooFarOut = 0;
    Vec3 farBodyMin{};
    Vec3 farBodyMax{};
    double farBodyStep = 0.0;
    std::uint64_t degenerateTriangleCount = 0;
    std::uint64_t sliverTriangleCount = 0;
    std::uint64_t unreferencedVertexCount = 0;
    std::uint64_t selfIntersectingTriangleCount = 0;
    bool selfIntersectionsChecked = false;       // the search ran to its end
    bool selfIntersectionSearchStopped = false;  // the search stopped at its pair limit
    std::vector<std::uint32_t> selfIntersectingTriangles;  // distinct, ascending
    std::vector<std::uint32_t> selfIntersectionPairs;      // two triangle indices per pair
    bool orientable = true;
    bool closed = false;                         // no open and no non-manifold edge
    bool insideOut = false;                      // closed, orientable, no conflicts, volume < 0
    float signedVolume = 0.0f;                   // cubic millimetres
    std::vector<Vec3> openEdgeSegments;          // two end positions per open edge
    std::vector<Vec3> nonManifoldEdgeSegments;   // two end positions per edge used 3+ times
    std::vector<Vec3> reversedTriangleCorners;   // three corners per reversed triangle
    std::vector<Vec3> degenerateTriangleCorners; // three corners per degenerate triangle
    std::vector<std::uint32_t> triangleComponents;  // component number of every triangle
    // Against the way their component should face, ascending: outwards, or inwards for a hollow
    // (NestedBodyRole).
    std::vector<std::uint32_t> reversedTriangles;
    // The hollows and inserts, in the order of their components; bodies inside a hollow, which
    // face outwards as any solid does, are not listed.
    std::vector<NestedBody> nestedBodies;
    Verdict verdict = Verdict::Good;
    std::vector<std::string> problems;           // one line per problem
    std::vector<std::string> notes;              // one explanation per problem, then other notes
};

// The volume and area of one body, summed triangle by triangle in double precision about the
// first corner added (not the origin, so that a part far out keeps its digits), and the
// judgement whether it encloses anything. Validation, the checklist before saving and the hole
// filling of the export cleanup all judge a body by it.
class BodyVolume {
public:
    void Add(Vec3 a, Vec3 b, Vec3 c);
    // Signed: positive for a closed body wound outwards.
    [[nodiscard]] double Volume() const { return sixfoldVolume_ / 6.0; }
    [[nodiscard]] double Area() const { return twiceArea_ / 2.0; }
    // The body, taken as closed, encloses (nearly) no volume: a sheet laid onto itself, not a
    // solid. Judged by its mean thickness, twice the volume over the area (the thickness of a
    // thin slab), against kSheetThicknessMillimetres or two float steps at the body's largest
    // coordinate, whichever is larger (below that a thickness is only the rounding of its
    // corners). A body without area counts as a sheet; one with a non-finite corner does not.
    [[nodiscard]] bool IsSheet() const;
    // A sheet only through the rounding clause, yet filling a tenth of its box or more, as a
    // solid does and a sheet rounded out of its plane does not: a small solid so far out that
    // its coordinates' steps are as coarse as it is thick. Validation says so rather than
    // calling it a sheet.
    [[nodiscard]] bool IsTooCoarseToTell() const;
    // The gap between floats at the body's largest coordinate.
    [[nodiscard]] double FloatStep() const;

private:
    bool started_ = false;
    Vec3 origin_{};
    double sixfoldVolume_ = 0.0;
    double twiceArea_ = 0.0;
    float reach_ = 0.0f;  // largest absolute coordinate added
    Vec3 low_{};          // the box of the corners added
    Vec3 high_{};
};

// No printer lays anything this thin (a resin layer is 0.025 mm, a filament line 0.4 mm), while
// a sheet closed onto itself measures zero up to rounding; every printable body lies far above.
inline constexpr double kSheetThicknessMillimetres = 0.01;

// Validates the mesh (read only) as the options ask.
[[nodiscard]] ValidationReport ValidateMesh(const TriangleMesh& mesh, const ValidationOptions& options);

// Validates the mesh as a file written from it holds it: a file keeps positions, not vertex
// numbers, so distinct vertices at one position (bitwise, -0 as +0) are taken as one vertex, as
// a slicer takes them. Bodies that touch through such vertices then show their non-manifold
// edges, and triangles over such vertices their duplicates. Triangle numbers are kept, so the
// report's lists of triangles name the mesh's own triangles; the vertex counts are those of the
// file. When no two vertices share a position this is ValidateMesh itself, at the cost of one
// hash pass.
[[nodiscard]] ValidationReport ValidateAsWritten(const TriangleMesh& mesh, const ValidationOptions& options);

// The triangles wound against the way their body should face, by windings that disagree or by a
// whole body turned: validation names them as a problem (unless the whole mesh is inside out,
// named as such) and the checklist before saving fails on them, so the two never disagree.
[[nodiscard]] std::uint64_t WrongWayTriangleCount(const ValidationReport& report);

// The orientation walk and the nesting test of validation, without its other checks (read
// only): a report with only `orientable`, `windingConflicts`, `componentCount`,
// `triangleComponents`, `reversedTriangles` (and their corners), the open and non-manifold
// segments and `nestedBodies` filled, as ValidateMesh fills them. Empty for an inconsistent
// mesh or one without triangles.
[[nodiscard]] ValidationReport FindWrongWayTriangles(const TriangleMesh& mesh);

// The nested bodies of the mesh by the one rule above (read only; FindWrongWayTriangles).
[[nodiscard]] std::vector<NestedBody> FindNestedBodies(const TriangleMesh& mesh);

// How many of `bodies` have the role.
[[nodiscard]] std::uint64_t CountNestedBodies(const std::vector<NestedBody>& bodies, NestedBodyRole role);

// What was made of the nested bodies of one role, for a report's line; empty when there are
// none: "1 body inside another is kept solid, as an insert: the 6.00 x 6.00 x 6.00 mm body at
// (0.00, 0.00, 0.00) mm, 216.00 cubic mm" (with several, their number and the largest).
[[nodiscard]] std::string FormatNestedBodies(const std::vector<NestedBody>& bodies, NestedBodyRole role);

// "Good", "Usable with care" or "Unsuitable"; "Unknown" for any other value.
[[nodiscard]] std::string VerdictText(Verdict verdict);

// The problem lines that make the verdict "Unsuitable", joined by a space: the edges shared by
// more than two triangles and the surface without an inside, or the one problem of a mesh with
// bad indices or no triangles. Empty for any other verdict.
[[nodiscard]] std::string FormatUnsuitableCauses(const ValidationReport& report);

// The verdict and the number of problems on one line, e.g. "Usable with care: 2 problems found."
[[nodiscard]] std::string VerdictHeadline(const ValidationReport& report);

// The full report as lines ending in a line feed: verdict, counts, flags, the self-intersection
// result, the signed volume, then the problems with their explanations (or the notes when
// there is no problem). Counts are grouped by thousands with ",".
[[nodiscard]] std::string FormatValidationReport(const ValidationReport& report);

// The self-intersecting triangles as the texts give their number: the count grouped, or
// "search stopped early" or "not checked" when the search did not give one (never a 0 that
// was not measured).
[[nodiscard]] std::string FormatSelfIntersectingCount(const ValidationReport& report);

}  // namespace grainforge::mesh
