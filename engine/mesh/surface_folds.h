// Folds of a surface: two triangles sharing an edge whose normals lie more than 120 degrees
// apart, the surface turned back over itself there. A part may have such edges of its own (a
// knife edge, a thin fin); the folds a run made are those lying away from every one of them.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <vector>

namespace grainforge::mesh {

// The cosine of the angle (120 degrees) beyond which two neighbouring triangles fold.
inline constexpr double kFoldedEdgeCosine = -0.5;

// The triangles of `mesh` on a folded edge (an edge of exactly two triangles, both with area,
// whose unit normals' dot product is below kFoldedEdgeCosine) that lies farther than `reach`
// (mm, above 0) from every folded edge of `part`: the folds made where the part had none.
// Ascending and distinct; empty for an inconsistent mesh.
[[nodiscard]] std::vector<std::uint32_t> FindFoldsMade(const TriangleMesh& mesh, const TriangleMesh& part, float reach);

}  // namespace grainforge::mesh
