// Display-only operations on plain meshes for what the viewport shows: the half-space clip of
// the clipping plane and the split view, the deviation of a shown mesh from the part as
// loaded, and the blue-green-yellow-red ramp that draws it. No document data changes here.
#pragma once

#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/triangle_mesh.h"

#include <cstddef>
#include <cstdint>
#include <string>
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

// The mesh a section mode and the clipping plane show. `shown` points at `made` or at one of
// the inputs, so the record is filled in place and not moved while it is used.
struct SectionedMesh {
    TriangleMesh made;
    const TriangleMesh* shown = nullptr;
    // Section mode 4 only: the sliced preview's text and, per preview triangle, its first layer.
    std::string slicedReport;
    std::vector<std::uint32_t> sliceFirstLayers;
    std::uint64_t sliceLayerStride = 1;
};

// Section modes: 0 and 3 the display mesh; 1 the part as loaded; 2 the display mesh on the +X
// side of the cage centre beside the part as loaded on the -X side; 4 the sliced preview of the
// display mesh (0.2 mm layers, 0.42 mm lines, across `upAxis`). With `clipping` the -X side of
// the cage centre is then cut away.
void BuildSectionedMesh(SectionedMesh& out, const TriangleMesh& display, const TriangleMesh& workingPart,
                        int sectionMode, bool clipping, Vec3 cageCentre, int upAxis);

}  // namespace grainforge::app
