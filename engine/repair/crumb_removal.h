// Two repair passes: removal of stray crumbs (small bodies beside the part that a printer
// cannot print) and removal of flat triangles by turning the edge they lie on. Both run on the
// calling thread and change the mesh in place; a mesh they cannot improve stays as it was.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "engine/mesh/triangle_mesh.h"

namespace grainforge::mesh {

struct AabbTree;

// One removed body.
struct CrumbRecord {
    Vec3 boxMin{1e30f, 1e30f, 1e30f};
    Vec3 boxMax{-1e30f, -1e30f, -1e30f};
    std::uint64_t triangleCount = 0;
    double volume = 0.0;  // signed, cubic millimetres; 0 without a volume test
    double area = 0.0;    // square millimetres, from MeasureBodies
};

// Bodies are triangles joined through shared edges (also edges of three or more triangles).
// A body other than the largest is removed when it has fewer than a hundredth of the largest
// body's triangles and either ranks at or past `keepLargest` (0 counts as 1) or, when
// `volumeLimit` > 0, its absolute volume is below the limit. Adds the removed triangles to
// *removedTriangles and appends one record per removed body to *records when those are given.
// Returns the number of bodies removed; 0 (mesh untouched) for an inconsistent mesh.
// *bodiesLeft, when given, gets the number of bodies the mesh has afterwards once they were
// counted (it is left alone for a mesh without triangles, an inconsistent one or one of more
// than 2^32 - 1 triangles).
std::uint64_t RemoveCrumbs(TriangleMesh& mesh,
                           std::uint64_t keepLargest = std::numeric_limits<std::uint64_t>::max(),
                           std::uint64_t* removedTriangles = nullptr, float volumeLimit = 0.0f,
                           std::vector<CrumbRecord>* records = nullptr, std::uint64_t* bodiesLeft = nullptr);

// The body of every triangle (joined through shared edges, as RemoveCrumbs joins them), numbered
// densely in the order of each body's first triangle; `bodyCount` gets their number. Empty for
// a mesh without triangles, an inconsistent one or one of more than 2^32 - 1 triangles.
[[nodiscard]] std::vector<std::uint32_t> LabelBodies(const TriangleMesh& mesh, std::uint32_t& bodyCount);

// Each labelled body's box, triangle count and signed volume (measured about a corner of its
// own, in double), as a CrumbRecord; `bodyOf` and `bodyCount` as LabelBodies gives them.
[[nodiscard]] std::vector<CrumbRecord> MeasureBodies(const TriangleMesh& mesh, std::span<const std::uint32_t> bodyOf,
                                                     std::uint32_t bodyCount);

// 0.42 mm cubed: a body holding less than this is a crumb no printer lays down.
inline constexpr float kCrumbVolumeLimit = 0.07408799f;

// Small by its own size: the body holds less than `volumeLimit` and less than a hundredth of
// `largestVolume` (the volume of the part's largest body, so that a part drawn small is no heap
// of crumbs), and its box's diagonal is no longer than the larger of the diagonal of a cube of
// `volumeLimit` and a hundredth of `partDiagonal` (the whole part's box). An open sheet holds
// no volume whatever its size, so the reach keeps a large sheet or a long needle from counting
// as a crumb. False when `volumeLimit` is 0 or less.
[[nodiscard]] bool IsCrumbSized(const CrumbRecord& body, float volumeLimit, float partDiagonal, double largestVolume);

// Small by its own size for a closed fragment that a rebuild set loose from a body it kept: it
// holds less than a hundredth of `largestVolume`, and either less than the larger of
// `volumeLimit` and a cube of a hundredth of `partDiagonal`, or it is thinner than the side of
// a cube of `volumeLimit` (three times its volume over its area: a ball's radius, a slab's
// thickness and a half). Its reach is not asked: a closed sliver long but thinner than a line
// prints as nothing, and the relief only folds it into its neighbours.
[[nodiscard]] bool IsClosedFragmentSized(const CrumbRecord& body, float volumeLimit, float partDiagonal,
                                         double largestVolume);

// Thinner than the side of a cube of `volumeLimit`: three times its volume over its area (a
// ball's radius, a slab's thickness and a half) is below that side.
[[nodiscard]] bool IsThinnerThanCubeSide(const CrumbRecord& body, float volumeLimit);

// Which of the size rules above a removed body met, read off its own measures, so that a report
// names each body for what it is: it holds less than `volumeLimit`, or it is thinner than the
// side of a cube of it, or neither (it went as small beside the body it broke from).
enum class RemovedBodySize { underACube, thinnerThanALine, smallBesideItsBody };
[[nodiscard]] RemovedBodySize ClassifyRemovedBody(const CrumbRecord& body, float volumeLimit);

// Whether body `a` (number `ia`) is larger than body `b` (number `ib`): more volume, then the
// longer box diagonal, then more triangles; a tie goes to the lower number, so the choice
// depends on nothing but the mesh.
[[nodiscard]] bool IsLargerBody(const CrumbRecord& a, std::uint32_t ia, const CrumbRecord& b, std::uint32_t ib);

// What RemoveStrayBodies removes and why.
struct StrayBodyOptions {
    // Bodies of the part that are crumbs by size (IsCrumbSized at kCrumbVolumeLimit) go when
    // they also have under a hundredth of the most triangles a body has (a small body drawn
    // finely was drawn on purpose); the largest body never goes.
    bool removeCrumbs = true;
    // Per triangle, the body it belonged to before a split (LabelBodies then), or empty when
    // nothing was split. The repair driver also joins here the bodies that lie against each
    // other, parted by an earlier split or touching, so that a second repair judges as the first. Of each earlier body the split broke apart, the pieces besides its
    // largest are fragments the split set loose; those that are crumb-sized and have under a
    // hundredth of the most triangles a body has go, whatever `removeCrumbs` says. A body that
    // came through the split whole is never such a fragment.
    // A fragment is measured against the bodies of its own earlier body (the one it holds most
    // triangles of): their box's diagonal is the reach and their largest volume the share (at
    // least a crumb's volume, or the part's largest when that is smaller), so a large or far
    // body elsewhere does not make the pieces of a small one crumbs.
    std::span<const std::uint32_t> bodyBeforeSplit{};
    // Cubic millimetres below which a body may be a crumb (IsCrumbSized); the solid relief
    // passes the cube of its line width.
    float volumeLimit = kCrumbVolumeLimit;
    // The caller vouches that every body is closed (a remesh's or a relief's result): a fragment
    // the split set loose then has its volume for its size, and goes when it holds less than a
    // cube of a hundredth of its own earlier body's diagonal, however long it reaches
    // (IsClosedFragmentSized), whatever its triangle count: a rebuild's triangles follow its own
    // size, not the drawing.
    bool closedBodies = false;
};

struct StrayBodyReport {
    std::uint64_t bodiesLeft = 0;        // bodies joined through edges afterwards, once counted
    std::uint64_t bodiesRemoved = 0;
    std::uint64_t trianglesRemoved = 0;
    std::uint64_t fragmentsRemoved = 0;  // of those bodies, fragments a split set loose
    std::vector<CrumbRecord> removed{};  // one per body removed, largest volume first
};

// Removes stray bodies by size, never by rank: a body of the part that is larger than a crumb
// stays however few triangles it has, and a triangle count can only keep a body, never remove it. Runs on the calling thread; a mesh
// with nothing to remove (or inconsistent, or `bodyBeforeSplit` not one label per triangle)
// is left exactly as it was.
[[nodiscard]] StrayBodyReport RemoveStrayBodies(TriangleMesh& mesh, const StrayBodyOptions& options);

// Corners sampled per body when looking for the body of another mesh it lies at.
inline constexpr std::size_t kSourceSamplesPerBody = 16;

// Up to kSourceSamplesPerBody corners of each body (`bodyOf` and `bodyCount` as LabelBodies
// gives them): the first corner of evenly spaced triangles of it, in triangle order.
[[nodiscard]] std::vector<std::vector<Vec3>> SampleBodyCorners(const TriangleMesh& mesh,
    std::span<const std::uint32_t> bodyOf, std::uint32_t bodyCount);

// Per triangle of `result`, the body of `source` (numbered as LabelBodies numbers them) that
// the triangle's body lies at: of up to 16 of the body's corners, spread over its triangles,
// the source body nearest to most of them (a tie goes to the lower number). `resultBodyOf` and
// `resultBodyCount` are LabelBodies of `result`; `sourceTree` is a tree over `source`, or null
// to build one. Empty when either mesh has no bodies. Parallel over the bodies; the answer does
// not depend on the number of threads.
[[nodiscard]] std::vector<std::uint32_t> LabelSourceBodiesAt(const TriangleMesh& result,
    std::span<const std::uint32_t> resultBodyOf, std::uint32_t resultBodyCount, const TriangleMesh& source,
    const AabbTree* sourceTree);

// Removes what a rebuild of `source` (a remesh, a relief) set loose: of the bodies of `result`
// lying at one body of the source (LabelSourceBodiesAt), the largest goes on as that body
// whatever its size or triangle count; the others are fragments, removed when crumb-sized at
// `volumeLimit` against the bodies at that same source body (RemoveStrayBodies). So no body of
// the user's part is removed as a crumb. Looks
// for the source bodies only when some body is crumb-sized; a mesh with nothing to remove is
// left exactly as it was. Runs on the calling thread but for the nearest-point queries.
[[nodiscard]] StrayBodyReport RemoveLooseFragments(TriangleMesh& result, const TriangleMesh& source,
    float volumeLimit = kCrumbVolumeLimit, const AabbTree* sourceTree = nullptr);

// The box, triangle count and summed volume of the removed bodies, and the one among them
// holding the most volume; for report texts.
struct RemovedBodiesSummary {
    CrumbRecord largest;
    double totalVolume = 0.0;
};
[[nodiscard]] RemovedBodiesSummary SummariseRemovedBodies(std::span<const CrumbRecord> removed);

// "0.10 x 0.10 x 0.10 mm at (1.00, 1.00, 1.00), 0.0010 mm3": a removed body's size, the centre
// of its box and the volume it held (left out without `withVolume`, for records that measured
// none), for the report texts.
[[nodiscard]] std::string FormatBodySizeAndPlace(const CrumbRecord& body, bool withVolume = true);

// FormatBodySizeAndPlace of the one removed body, or "the largest " and that of the largest of
// several; empty for none.
[[nodiscard]] std::string FormatLargestRemovedBody(std::span<const CrumbRecord> removed, bool withVolume = true);

// Zero face normal and three edges longer than 0 (distinct corners on one line).
bool IsNoAreaTriangle(const TriangleMesh& mesh, std::uint64_t triangle);

// Turns the longest edge of each no-area triangle where the neighbour across it allows, in at
// most 8 sweeps; returns the number of edges turned. 0 for an inconsistent mesh.
std::uint64_t RemoveNoAreaTriangles(TriangleMesh& mesh);

}  // namespace grainforge::mesh
