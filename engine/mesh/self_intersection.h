// Finds the pairs of triangles of a mesh that cross or touch each other. Candidate pairs come
// from a hierarchical hash grid (eight levels, each triangle filed at the one level where its
// box covers few cells) and are decided by the exact predicates of exact_predicates.h, so the
// answer is exact for the mesh's float coordinates. Pairs without a common vertex index count
// when they cross or touch anywhere; coplanar ones only when they overlap in an area and belong
// to one piece (joined through shared vertices): a surface folded flat onto itself, in any
// plane and at any distance from the origin, while bodies laid against each other stay apart.
// Likewise two triangles of separate pieces that touch with one resting on the outer side of the
// other's plane (a boss standing on a plate) do not count: neither passes into the other.
// Neighbours count only where they meet beyond what they share: through one shared vertex,
// when an edge of one passes through or touches the other, or when both lie in one plane and
// overlap in an area (a flap folded flat through the corner); across a shared edge, when they
// lie folded flat onto each other (one plane, both on the same side of the edge). Triangles
// repeating all three vertices, or one of their own, are never reported.
//
// The search runs two parallel passes; the set of pairs it finds does not depend on the thread
// count, their order does. It takes no progress callback: it runs to its end or to its limit
// on the number of exact pair tests. A mesh that fails TriangleMesh::IsConsistent gives an
// empty list; triangles with a non-finite corner take part in no pair.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <limits>
#include <span>
#include <vector>

namespace grainforge::mesh {

struct ValidationOptions;
struct ValidationReport;

// maximumPairs value that sets no limit.
inline constexpr std::uint64_t kNoPairLimit = std::numeric_limits<std::uint64_t>::max();
// The candidate pairs a search over a whole part may test before it gives up: the validation's,
// Repair's and the reliefs' crossing guards' searches alike.
inline constexpr std::uint64_t kSearchPairLimit = 40000000;

// Searches the mesh and fills `pairs` with two triangle indices per intersecting pair (each
// pair once, in no defined order). `focus`, when it holds one byte per triangle, restricts the
// search to pairs with at least one flagged (non-zero) triangle, looking only near the flagged
// ones; a focus of any other length is ignored. `maximumPairs` limits the number of pairs
// without a common vertex that reach the exact test (neighbours are always tested: their
// number is bounded by the mesh's valences): the search stops, with `stopped` set, exactly
// when more pairs than that would reach it, and `pairs` then holds what was found by then
// (limits of 2^20 and more are counted in batches, so a few hundred tests per thread may run
// past the limit before the stop is seen). Both outputs are cleared first. Throws only on allocation failure.
void FindSelfIntersections(const TriangleMesh& mesh, std::span<const std::uint8_t> focus,
    std::uint64_t maximumPairs, std::vector<std::uint32_t>& pairs, bool& stopped);

// What one search found, kept with the mesh it looked at, so that a later search of the same
// mesh moved in a few places looks only where it changed (the crossing guard's first search,
// which the validation of its result can take over).
struct SelfIntersectionRecord {
    std::vector<Vec3> positions;         // each vertex's position when searched
    std::vector<std::uint32_t> indices;  // the triangles' corners when searched
    std::vector<std::uint8_t> focus;     // one byte per triangle: its pairs were searched
    std::vector<std::uint32_t> pairs;    // as FindSelfIntersections lists them
    std::uint64_t testedPairs = 0;       // pairs without a common vertex that reached the exact test
};

// FindSelfIntersections with its focus and limit, returning the search's record: its pairs
// (in `pairs` of the record), with the mesh and focus they hold for. Empty with `stopped` set
// when the search stopped.
[[nodiscard]] SelfIntersectionRecord RecordSelfIntersections(const TriangleMesh& mesh,
    std::span<const std::uint8_t> focus, std::uint64_t maximumPairs, bool& stopped);

// RecordSelfIntersections for a search that FindSelfIntersectionsSince is to take over later:
// the search covers the whole mesh whatever the focus, so that the later one looks only where
// the mesh changed since. Should the whole search stop on the limit, the focused one runs, as
// it might not. The record's pairs then hold pairs without a flagged member too: a caller that
// wants only the focus's keeps those with a flagged triangle, as the focused search lists them.
[[nodiscard]] SelfIntersectionRecord RecordSelfIntersectionsToTakeOver(const TriangleMesh& mesh,
    std::span<const std::uint8_t> focus, std::uint64_t maximumPairs, bool& stopped);

// The pairs FindSelfIntersections finds over the whole of `mesh` (no focus) with this limit,
// worked out from `record` of an earlier search of it: only the triangles that moved since, or
// lay outside the record's focus, are searched again. False, with both outputs cleared, when
// the record cannot say (other corners or vertex count, most of the mesh moved, or the pairs
// tested might pass the limit): the caller then searches afresh. On true, `pairs` holds the
// same pairs (in another order) and `stopped` the same flag as a fresh search; when stopped,
// `pairs` holds some of them.
[[nodiscard]] bool FindSelfIntersectionsSince(const TriangleMesh& mesh, const SelfIntersectionRecord& record,
    std::uint64_t maximumPairs, std::vector<std::uint32_t>& pairs, bool& stopped);

// The pair list of FindSelfIntersections with no limit. `stopped`, when given, receives the
// stopped flag.
std::vector<std::uint32_t> ListSelfIntersectingTriangles(const TriangleMesh& mesh,
    std::span<const std::uint8_t> focus = {}, bool* stopped = nullptr);

// Validation's search over the whole mesh, limited by the options' maximumSelfIntersectionPairs.
// When the search stops early only selfIntersectionSearchStopped is set; otherwise the report
// receives the pairs, the distinct triangles (ascending) and their count, and
// selfIntersectionsChecked is set. The options' knownSelfIntersections, when set, is taken
// over where it holds (FindSelfIntersectionsSince), with the same report as a fresh search.
void CheckSelfIntersections(const TriangleMesh& mesh, const ValidationOptions& options,
    ValidationReport& report);

}  // namespace grainforge::mesh
