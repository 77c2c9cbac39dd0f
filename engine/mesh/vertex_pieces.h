// The pieces of a mesh as its vertices see them: vertices joined through the corners of the
// triangles they share. Two bodies that touch at one welded vertex are one piece here, unlike
// the bodies of LabelBodies (joined through edges). The crossing search asks whether two
// triangles lie in one piece; the repair measures each piece's size to bound its moves.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/mesh/triangle_mesh.h"

namespace grainforge::mesh {

// Per vertex, the piece it belongs to, named by one vertex of that piece (so two vertices lie
// in one piece exactly when their names are equal); a vertex no triangle uses is a piece of its
// own. A triangle with a corner that names no vertex joins nothing, so the answer is defined
// for any mesh. Serial; the names depend only on the mesh.
[[nodiscard]] std::vector<std::uint32_t> LabelVertexPieces(const TriangleMesh& mesh);

}  // namespace grainforge::mesh
