// Carrying the texture weights of a part over to a new mesh of the same shape that shares
// none of its vertices or triangles, as the solid displacement makes one. The stages after it
// still need to know which faces receive texture and how strongly each vertex is textured;
// the new mesh takes them from the nearest points of the old surface.
#pragma once

#include "engine/displacement/texture_weights.h"
#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/triangle_mesh.h"

namespace grainforge::mesh {

// The weights of `newMesh`, taken from `source` and its `sourceWeights`:
// - a new vertex takes the source vertex weights interpolated (barycentric, clamped onto the
//   triangle) at its nearest point of the source surface; a degenerate nearest triangle gives
//   its first vertex's weight;
// - a new triangle takes the textured and outer-mask bytes of the source triangle nearest to
//   its centroid; its corner weights are its vertices' new weights when that source triangle
//   is textured, else 0.
// Where no nearest point is found (a source without triangles, a new position that is not
// finite) the values stay 0. A source vertex weight that is not finite counts as 0, so it
// cannot spread to the new vertices around it.
// `sourceTree` is a tree built over `source`, or null: one is then built here.
// The empty weights (all four vectors empty) come back when `sourceWeights` does not match
// `source`, when either mesh is inconsistent, or when the new mesh has no vertices or no
// triangles; the later stages read them as weights that do not match. Runs as parallel blocks
// of kTransferVerticesBlock vertices and kTransferFacesBlock triangles, outside any job (it
// cannot be stopped); the result does not depend on the thread count.
[[nodiscard]] TextureWeights TransferSourceValues(const TriangleMesh& source, const TextureWeights& sourceWeights,
    const TriangleMesh& newMesh, const AabbTree* sourceTree);

}  // namespace grainforge::mesh
