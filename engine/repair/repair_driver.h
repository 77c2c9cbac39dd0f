// The repair driver: turns a part a slicer would choke on into one it reads cleanly. In a
// fixed order, each phase behind a switch, it mends non-manifold edges, removes stray crumbs
// and triangles with no area, unfolds folded-over triangles, relaxes self-intersections apart
// within a movement limit and collapses what relaxing leaves. Works only near the trouble.
// Accepts any mesh; an inconsistent one is left untouched with an all-zero report.
#pragma once

#include "engine/repair/crumb_removal.h"
#include "engine/repair/fix_change.h"
#include "engine/files/json_settings.h"
#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace grainforge::mesh {

// Receives the text of each phase as it begins; called on the driver's thread.
using RepairProgress = std::function<void(const std::string& phase)>;

// The switches of RepairMesh. The defaults are those of the document and the export check.
// Relaxing runs at least this many rounds, whatever the options ask.
inline constexpr std::int32_t kFewestRepairRounds = 1;

struct RepairOptions {
    bool splitNonManifoldEdges = true;     // run the non-manifold edge passes
    bool unfoldTriangles = true;           // relax folded-over triangles open
    bool resolveSelfIntersections = true;  // relax, then collapse, self-intersections
    bool removeCrumbs = true;              // remove small stray bodies
    // Relaxing rounds per relaxing phase; values below 1 count as 1.
    std::int32_t maximumRounds = 40;
    // Furthest a vertex may end up from where it was before its first move, in millimetres;
    // negative counts as 0 (then relaxing moves nothing). A vertex moves no further than
    // kMoveShareOfBodySize of its body's size either, so a small body (a thin pin, a plate)
    // keeps its shape whatever this allows.
    float maximumMoveMillimetres = 1.0f;
    // The part as it was before the first of several fix rounds (the Save STL check's), which
    // must outlive the call: moves, put-backs and collapses are judged against it, so that
    // rounds cannot add up past what one may change. Null: against the part as this call
    // starts relaxing. Not a setting: never stored or compared.
    FixBaseline* judgeAgainst = nullptr;
};


// What RepairMesh found and did. Counts are triangles unless named otherwise.
struct RepairReport {
    bool nonManifoldChecked = false;
    std::uint64_t nonManifoldEdges = 0;      // before the passes
    std::uint64_t nonManifoldEdgesLeft = 0;  // after them; counted only when some were found
    std::uint64_t verticesSplit = 0;
    std::uint64_t doubleSkinnedPairsRemoved = 0;
    std::uint64_t flippedCopiesRemoved = 0;  // one face of a pair kept: its neighbours agree with it
    std::uint64_t innerCopiesRemoved = 0;    // of a body written double-sided, the copy facing in
    std::uint64_t duplicatesRemoved = 0;     // copies wound the same way
    bool crumbsChecked = false;
    std::uint64_t bodiesRemoved = 0;
    std::uint64_t bodyTrianglesRemoved = 0;
    std::vector<CrumbRecord> removedBodies{};  // each body removed, largest first: its box and volume
    bool unfoldChecked = false;
    std::uint64_t foldedTriangles = 0;       // taken into relaxing
    std::uint64_t foldedTrianglesLeft = 0;
    std::uint64_t sharpPlacesKept = 0;       // folded, but crossing nothing: left alone
    bool foldsLeftAsTheyAre = false;         // unfolding made self-intersections worse: undone
    std::int32_t unfoldRounds = 0;
    bool resolveChecked = false;
    std::uint64_t selfIntersectingTriangles = 0;
    std::uint64_t selfIntersectingTrianglesLeft = 0;
    std::int32_t resolveRounds = 0;
    std::int32_t collapsePasses = 0;
    std::uint64_t tinyTrianglesCollapsed = 0;  // by the collapse phase and the final no-area pass
    std::uint64_t noAreaTriangles = 0;
    std::uint64_t noAreaTrianglesLeft = 0;
    std::uint64_t noAreaTurned = 0;            // mended by turning an edge
    std::uint64_t verticesMoved = 0;           // moved by relaxing and not put back
    float furthestMoveMillimetres = 0.0f;
    // The largest move of a vertex as a share of the size of the body it belongs to (the
    // smallest side of the body's box): never above kMoveShareOfBodySize.
    float furthestMoveShare = 0.0f;
    // Relaxing (unfolding and resolving together) changed a body's volume or box by more than
    // kLargestFixChangeShare: every moved vertex was put back, and the crossings stay.
    bool movesUndone = false;
    // A collapse pass that would have changed a body by more than that share was not taken.
    bool collapseRefused = false;
    double elapsedMilliseconds = 0.0;
};

// Repairs `mesh` in place, phase by phase as `options` choose. Bodies go only by their size
// (RemoveStrayBodies): crumbs of the part when `removeCrumbs` is set, and after a non-manifold
// split the crumbs it set loose of a body it broke apart; a body that was a piece of the part
// before the split stays however few triangles it has. `bodiesBefore`, the part's body count
// before any repair, is no longer needed for that and is taken for the callers' sake. Runs on the calling thread (the self-intersection
// search and the simplifier parallelise inside); it cannot be stopped. Exceptions (allocation
// failure) reach the caller and may leave the mesh half-repaired, so callers pass a copy.
[[nodiscard]] RepairReport RepairMesh(TriangleMesh& mesh, const RepairOptions& options,
                                      const RepairProgress& progress, std::uint64_t bodiesBefore);

// Triangles whose face normal is the zero vector; none for an inconsistent mesh.
[[nodiscard]] std::uint64_t CountNoAreaTriangles(const TriangleMesh& mesh);
[[nodiscard]] std::vector<std::uint32_t> ListNoAreaTriangles(const TriangleMesh& mesh);

// The positions of all vertices, for putting them back later.
[[nodiscard]] std::vector<Vec3> CopyVertexPositions(const TriangleMesh& mesh);

// Writes the six switches into `node` (the project file's "exportFixes" object).
void WriteRepairOptions(const JsonNode& node, const RepairOptions& options);
// Reads them back; a key that is missing or of the wrong kind keeps the field's value, so
// "maximumRounds" must be a JSON integer (40.0 is refused) and the others their own kind.
void ReadRepairOptions(const JsonView& view, RepairOptions& options);

// Several lines, each opening with two spaces and ending in a line break.
[[nodiscard]] std::string FormatRepairDetails(const RepairReport& report);

// ---- Working operations of the driver, public for the pre-save report and for tests ----

// Median over the triangles of their longest edge; 0 without triangles or for an
// inconsistent mesh.
[[nodiscard]] float MedianLongestEdge(const TriangleMesh& mesh);

// One flag per vertex: both ends of every edge longer than 4 x MedianLongestEdge. Relaxing
// never moves a flagged vertex. No flag for an inconsistent mesh.
[[nodiscard]] std::vector<std::uint8_t> MarkLongEdgeVertices(const TriangleMesh& mesh);

// The distinct corners of `triangles` in order of first appearance, then `rings` rings of
// neighbours appended ring by ring. `adjacency` is that of `mesh`; empty for an inconsistent
// mesh.
[[nodiscard]] std::vector<std::uint32_t> GrowVertexRings(const TriangleMesh& mesh, const VertexAdjacency& adjacency,
                                                         std::span<const std::uint32_t> triangles,
                                                         std::int32_t rings);

// Moves every listed, unpinned vertex halfway to the mean of its neighbours, never further than
// `moveLimit` from its position before its first move in the call (kept in `saved`, with
// `moved` set on that first move). All targets are computed before any vertex moves.
void RelaxVerticesWithinLimit(TriangleMesh& mesh, const VertexAdjacency& adjacency,
                              std::span<const std::uint32_t> vertices, std::vector<Vec3>& saved,
                              std::vector<std::uint8_t>& moved, const std::vector<std::uint8_t>& pinned,
                              float moveLimit);
// The same with a limit of its own for every vertex (one entry per vertex of the mesh).
void RelaxVerticesWithinLimits(TriangleMesh& mesh, const VertexAdjacency& adjacency,
                               std::span<const std::uint32_t> vertices, std::vector<Vec3>& saved,
                               std::vector<std::uint8_t>& moved, const std::vector<std::uint8_t>& pinned,
                               std::span<const float> moveLimits);

// Per vertex, the smallest side of the box of its body (the triangles joined to it through
// shared vertices) that is not 0, so that a flat sheet is measured in its plane; 0 for a vertex
// no triangle uses and for a body at one point. Empty for an inconsistent mesh.
[[nodiscard]] std::vector<float> BodySizeAtVertices(const TriangleMesh& mesh);

// Per vertex, how far relaxing may move it: `moveLimit` (negative as 0), and no more than
// kMoveShareOfBodySize of `bodySizes`.
[[nodiscard]] std::vector<float> VertexMoveLimits(std::span<const float> bodySizes, float moveLimit);

// The triangle faces against the summed normals of the triangles round its corners. False
// when t is past the triangles or names a vertex the mesh lacks, or `adjacency` is not one of
// a mesh of this many vertices (only triangle t is checked; the adjacency is that of `mesh`).
[[nodiscard]] bool IsFoldedOver(const TriangleMesh& mesh, const VertexAdjacency& adjacency, std::uint32_t t);

// Across one of its edges the triangle's only neighbour faces the other way and lies folded
// back over it. False for a triangle IsFoldedOver cannot test.
[[nodiscard]] bool IsFoldedOntoNeighbour(const TriangleMesh& mesh, const VertexAdjacency& adjacency,
                                         std::uint32_t t);

// Per triangle, 1 where it uses a vertex within one ring of a triangle in `crossing` (those
// passing through others, ascending and distinct): where a fold meets a crossing. All 0 when
// `crossing` is empty or the mesh is inconsistent. `adjacency` is that of `mesh`.
[[nodiscard]] std::vector<std::uint8_t> MarkNearCrossings(const TriangleMesh& mesh, const VertexAdjacency& adjacency,
                                                          std::span<const std::uint32_t> crossing);

// How unfolding sees a triangle: not folded over; folded at a sharp place that crosses nothing,
// which it leaves exactly as it is; or folded where it meets a crossing (`near`, as
// MarkNearCrossings gives it) or lies folded back onto its neighbour, which it relaxes open.
enum class FoldKind : std::uint8_t { none, sharpPlace, toUnfold };
[[nodiscard]] FoldKind ClassifyFold(const TriangleMesh& mesh, const VertexAdjacency& adjacency, std::uint32_t t,
                                    std::span<const std::uint8_t> near);

// The folded-over triangles of a mesh by that rule, as RepairMesh counts them before it
// unfolds, for reports that must speak of the same triangles as the repair's count.
struct FoldCounts {
    std::uint64_t toUnfold = 0;
    std::uint64_t sharpPlaces = 0;
};
[[nodiscard]] FoldCounts CountFolds(const TriangleMesh& mesh, std::span<const std::uint32_t> crossing);

// The triangles of a flat pair list, ascending and distinct.
[[nodiscard]] std::vector<std::uint32_t> DistinctTrianglesOfPairs(std::vector<std::uint32_t> pairs);

}  // namespace grainforge::mesh
