#include "engine/remesh/remesh.h"

#include "engine/remesh/contour_remesh.h"
#include "engine/remesh/isotropic_remesh.h"

namespace grainforge::mesh {

RemeshReport Remesh(TriangleMesh& mesh, const RemeshSettings& settings,
    const ProgressCallback& progress)
{
    if (settings.method != RemeshMethod::isotropic)
        return RemeshByContour(mesh, settings, progress);
    return RemeshIsotropic(mesh, settings, progress);
}

}  // namespace grainforge::mesh
