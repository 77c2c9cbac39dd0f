// A part with a piece lying far from the origin, where a coordinate steps more coarsely than the
// triangles asked, is remeshed piece by piece: the pieces near enough together at the size asked,
// each far piece at the finest size its own float steps allow (as the solid relief's field takes
// OwnScaleReliefCell), and a far piece too small for even that kept as it was. Neither the run is
// refused nor the whole part coarsened for one small piece.
#pragma once

#include "engine/mesh/progress.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/remesh/remesh_settings.h"

#include <vector>

namespace grainforge::mesh {

// A piece remeshed at a size of its own, or kept as it was.
struct OwnScalePiece {
    Vec3 boundsMin{};
    Vec3 boundsMax{};
    double step = 0.0;            // the float step where it lies (mm)
    float triangleSize = 0.0f;    // the size it was remeshed at; 0 when kept
    bool kept = false;            // kept as it was: its float step is coarser than the piece, or the
                                  // remesh at its own size did not keep it closed, manifold and uncrossed
};

// The smallest triangle size a piece lying in the box can be remeshed at (the float step at its
// farthest corner, times kTriangleFloatSteps), or 0 when even that is not smaller than the piece,
// which then cannot be remeshed soundly.
[[nodiscard]] float OwnScaleTriangleSize(Vec3 low, Vec3 high);

// Remeshes `mesh` as Remesh does when every piece of it (FindMeshClusters at the asked size) allows
// the asked size; otherwise the pieces that allow it together at that size and each other piece
// alone at OwnScaleTriangleSize or kept as it was, joined in that order. `farPieces` receives the
// pieces not remeshed at the asked size. On a stop or failure the mesh is left as the failing
// remesh left it and the report says so, as Remesh's does.
[[nodiscard]] RemeshReport RemeshAtOwnScale(TriangleMesh& mesh, const RemeshSettings& settings,
    const ProgressCallback& progress, std::vector<OwnScalePiece>& farPieces);

}  // namespace grainforge::mesh
