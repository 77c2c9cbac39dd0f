// The one entry of every remesh: the settings' method chooses the isotropic remesh (0) or the
// dual-contouring remesh (anything else). The pipeline's remesh stage and the remesh job call
// it on a working copy of the part.
#pragma once

#include "engine/mesh/progress.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/remesh/remesh_settings.h"

namespace grainforge::mesh {

// Method 0: RemeshIsotropic; any other: RemeshByContour. The mesh receives the result as the
// chosen remesh says; `progress` may be empty.
[[nodiscard]] RemeshReport Remesh(TriangleMesh& mesh, const RemeshSettings& settings,
    const ProgressCallback& progress);

}  // namespace grainforge::mesh
