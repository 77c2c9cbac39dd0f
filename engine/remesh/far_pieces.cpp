#include "engine/remesh/far_pieces.h"

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

float OwnScaleReliefCell(Vec3 low, Vec3 high, float cell)
{
    return std::max(cell, SmallestTriangleSizeFarOut(low, high, true));
}

FarPiece FindPieceTooFarOut(const TriangleMesh& source, float triangleSize, bool solidRelief)
{
    FarPiece far;
    if (!source.boundsValid || !(triangleSize < SmallestTriangleSizeFarOut(source.boundsMin, source.boundsMax, solidRelief)))
        return far;
    const std::vector<MeshCluster> pieces = FindMeshClusters(source, triangleSize);
    // The pieces the triangles themselves do not allow, and the nearest piece's need for the cell.
    std::size_t tooFar = 0;
    std::size_t reliefTooFine = 0;
    float nearestCell = 0.0f;
    double nearestStep = 0.0;
    for (const MeshCluster& piece : pieces) {
        const double step = FloatStepOfBox(piece.boundsMin, piece.boundsMax);
        const float smallest = SmallestTriangleSizeFarOut(piece.boundsMin, piece.boundsMax, false);
        const float cell = SmallestTriangleSizeFarOut(piece.boundsMin, piece.boundsMax, true);
        if (triangleSize < cell)
            ++reliefTooFine;
        if (nearestStep == 0.0 || step < nearestStep) {
            nearestStep = step;
            nearestCell = cell;
        }
        if (!(triangleSize < smallest))
            continue;
        ++tooFar;
        if (step <= far.step)
            continue;
        far = {true, false, false, piece.boundsMin, piece.boundsMax, step, smallest};
    }
    if (solidRelief && tooFar == 0 && !pieces.empty() && reliefTooFine == pieces.size())
        far = {true, true, true, source.boundsMin, source.boundsMax, nearestStep, nearestCell};
    else if (far.found && tooFar == pieces.size())
        far = {true, true, false, source.boundsMin, source.boundsMax, far.step, far.smallestSize};
    // Without a solid relief a piece far from the rest is remeshed at its own scale, or kept as
    // it was (RemeshAtOwnScale): only the part as a whole is refused.
    else if (!solidRelief && far.found)
        far = {};
    return far;
}

}  // namespace grainforge::mesh
