#include "engine/pipeline/far_pieces.h"

#include "engine/remesh/contour_cells.h"
#include "engine/remesh/contour_clusters.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace grainforge::mesh {

double FloatStepOfBox(Vec3 low, Vec3 high)
{
    return FloatStepAt(std::max({std::fabs(low.x), std::fabs(low.y), std::fabs(low.z), std::fabs(high.x),
        std::fabs(high.y), std::fabs(high.z)}));
}

float SmallestTriangleSizeFarOut(Vec3 low, Vec3 high, bool solidRelief)
{
    const double steps = solidRelief ? kSolidCellFloatSteps : kTriangleFloatSteps;
    return static_cast<float>(steps * FloatStepOfBox(low, high));
}

FarPiece FindPieceTooFarOut(const TriangleMesh& source, float triangleSize, bool solidRelief)
{
    FarPiece far;
    if (!source.boundsValid || !(triangleSize < SmallestTriangleSizeFarOut(source.boundsMin, source.boundsMax, solidRelief)))
        return far;
    const std::vector<MeshCluster> pieces = FindMeshClusters(source, triangleSize);
    for (const MeshCluster& piece : pieces) {
        const double step = FloatStepOfBox(piece.boundsMin, piece.boundsMax);
        const float smallest = SmallestTriangleSizeFarOut(piece.boundsMin, piece.boundsMax, solidRelief);
        if (!(triangleSize < smallest) || step <= far.step)
            continue;
        far = {true, pieces.size() == 1, piece.boundsMin, piece.boundsMax, step, smallest};
    }
    return far;
}

}  // namespace grainforge::mesh
