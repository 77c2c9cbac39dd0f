// The isotropic remesh: in rounds it splits long edges, collapses short ones, flips edges
// towards valence 6 and relaxes vertices tangentially, pulling them back onto the input
// surface, so that every edge comes close to the wanted length L while the surface stays
// where it was. Corners and edges sharper than the feature angle, borders and non-manifold
// edges hold their vertices in place.
#pragma once

#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/progress.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/remesh/remesh_settings.h"
#include "engine/remesh/remesh_topology.h"

#include <cstdint>
#include <vector>

namespace grainforge::mesh {

// Lengths and limits of one remesh, from L = max(0.0001, targetEdgeMillimetres).
struct RemeshThresholds {
    float targetEdge = 0.0f;
    float splitLength = 0.0f;     // 4L/3
    float collapseLength = 0.0f;  // 4L/5
    float areaFloor = 0.0f;       // L x L x 0.0001, against a face's cross product length
    float featureCosine = 0.0f;   // cos of the feature angle clamped to 0..180
    float relaxationWeight = 0.0f;  // relaxation clamped to 0..1
    float projectionReach = 0.0f;   // max(1e-6, L/2)
};

RemeshThresholds MakeRemeshThresholds(const RemeshSettings& settings);

// Peak bytes the remesh holds per triangle of its working topology (positions, lists, sorted
// edge records with the sort's buffer, the reference normals, the split's new arrays); the refusal before a split
// pass that would not fit in the available memory is based on it.
inline constexpr std::uint64_t kRemeshBytesPerTriangle = 256;

// Triangles the working topology may reach: what `availableBytes` holds at
// kRemeshBytesPerTriangle (no memory limit when 0, the figure being unknown), and never more
// than 1,000,000,000, so that 32-bit offsets can count every corner.
std::uint64_t RemeshTriangleLimit(std::uint64_t availableBytes);

// One split pass: every edge longer than `splitLength` gets a new vertex at its midpoint, in
// all of its faces however many they are, and every triangle is replaced by its pieces (dead
// triangles are dropped). Gives the number of new vertices. When the pieces would be more than
// `triangleLimit` triangles nothing changes and *refused (when given) is set. With
// `referenceNormals` (one per triangle), every piece takes its triangle's entry.
std::uint64_t SplitLongEdges(RemeshTopology& topology, float splitLength,
    std::uint64_t triangleLimit = ~std::uint64_t{0}, bool* refused = nullptr,
    std::vector<Vec3>* referenceNormals = nullptr);

// One collapse pass over `edges` (key order), then over the edges its collapses made, in the
// order made; `flags` marks the feature vertices and `referenceNormals` holds, per
// triangle, the normal of the input triangle it descends from. Two plain ends meet halfway or,
// where that is refused, at either end. A collapse that breaks the link condition (a
// tetrahedron is never flattened), turns a face over against its reference, folds the surface,
// leaves a closed piece without volume or makes a far worse shape is not made. Gives the number
// of collapses.
std::uint64_t CollapseShortEdges(RemeshTopology& topology, const std::vector<TopologyEdge>& edges,
    const RemeshThresholds& thresholds, const std::vector<std::uint8_t>& flags,
    const std::vector<Vec3>& referenceNormals);

// One flip pass over `edges` (key order) towards valence 6. The two new triangles keep the
// winding of the pair they replace and take the reference normals of the slots they fill; a
// flip that turns them too far, folds the surface or makes a far worse shape is not made.
// Gives the number of flips.
std::uint64_t ImproveTriangleShape(RemeshTopology& topology, const std::vector<TopologyEdge>& edges,
    const RemeshThresholds& thresholds, const std::vector<std::uint8_t>& flags,
    const std::vector<Vec3>& referenceNormals);

// Tangential relaxation of every alive vertex that is not a feature vertex (in parallel, all
// from the current positions), then, when `project` is set, projection onto `original`
// through `tree` within the reach max(1e-6, L/2) of the nearest triangle's plane. Moves that
// would leave a face without area, turn it too far or fold it against a neighbour are taken
// back (the face's moved corners stay where they were). The compressed face lists must be
// current.
void RelaxVertices(RemeshTopology& topology, const std::vector<std::uint8_t>& flags, float weight,
    const TriangleMesh& original, const AabbTree& tree, bool project, float targetEdge);

// The isotropic remesh of `mesh` (method 0 of Remesh).
// - Invalid mesh, no triangles or coordinates that are not finite numbers: the report holds
//   the before-figures; mesh unchanged.
// - Stopped through `progress`: the round ends at once, the mesh still receives the result so
//   far and `cancelled` is set.
// - Too fine for the available memory: `failed` with RemeshFailure::targetTooFine, refused
//   before the pass that would not fit allocates; mesh unchanged.
// The result does not depend on the number of threads.
[[nodiscard]] RemeshReport RemeshIsotropic(TriangleMesh& mesh, const RemeshSettings& settings,
    const ProgressCallback& progress);

}  // namespace grainforge::mesh
