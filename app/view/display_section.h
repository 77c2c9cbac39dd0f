// Display-only operations on plain meshes for what the viewport shows: the half-space clip of
// the clipping plane and the split view, the deviation of a shown mesh from the part as
// loaded, and the blue-green-yellow-red ramp that draws it. No document data changes here.
#pragma once

#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/triangle_mesh.h"

#include <cstddef>
#include <vector>

namespace grainforge::app {

using mesh::TriangleMesh;
using mesh::Vec3;

// The part of the mesh where (p - point) . normal >= 0. Every output triangle has three
// vertices of its own; the cut is left open. An inconsistent mesh gives an empty mesh, a zero
// normal a copy of the whole mesh.
[[nodiscard]] TriangleMesh ClipMeshByPlane(const TriangleMesh& mesh, Vec3 point, Vec3 normal);

// Appends one triangle with three unshared vertices (positions and normals copied).
void AppendTriangleCopy(TriangleMesh& out, const mesh::MeshVertex& a, const mesh::MeshVertex& b,
                        const mesh::MeshVertex& c);

// For triangles [first, last) of `shown`: the largest distance from its corners and centroid
// to the reference surface (0 when the tree finds nothing). `values` holds one slot per
// triangle of `shown`; only the range is written.
void MeasureDisplayDeviation(std::size_t first, std::size_t last, const TriangleMesh& shown,
                             const mesh::AabbTree& tree, const TriangleMesh& reference,
                             std::vector<float>& values);

// The same over every triangle, in parallel blocks writing disjoint slots. Returns the values;
// `scale` receives the largest (0 for none).
[[nodiscard]] std::vector<float> MeasureDisplayDeviationParallel(const TriangleMesh& shown,
                                                                 const mesh::AabbTree& tree,
                                                                 const TriangleMesh& reference,
                                                                 float& scale);

// One colour per value on the ramp dark blue, blue, green, yellow, red. The scale is the given
// one when above 0, else the largest value when above 0, else 1.
[[nodiscard]] std::vector<Vec3> HeatMapColours(const std::vector<float>& values, float scale);
[[nodiscard]] Vec3 HeatMapColour(float t);

}  // namespace grainforge::app
