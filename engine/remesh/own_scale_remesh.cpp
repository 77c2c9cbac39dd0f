#include "engine/remesh/own_scale_remesh.h"

#include "engine/mesh/mesh_validation.h"
#include "engine/remesh/contour_clusters.h"
#include "engine/remesh/far_pieces.h"
#include "engine/remesh/remesh.h"

#include <algorithm>

namespace grainforge::mesh {

namespace {

// Closed, manifold, outward and uncrossed as a file holds it, as the run's own check asks.
bool Sound(const TriangleMesh& mesh)
{
    ValidationOptions options;
    options.checkSelfIntersections = true;
    const ValidationReport check = ValidateAsWritten(mesh, options);
    return check.closed && check.orientable && check.windingConflicts == 0 && !check.insideOut
        && check.selfIntersectionsChecked && check.selfIntersectingTriangleCount == 0
        && check.degenerateTriangleCount == 0;
}

float LongestSide(Vec3 low, Vec3 high)
{
    const Vec3 extent = high - low;
    return std::max({extent.x, extent.y, extent.z});
}

// Adds a far piece's remesh to the report of the pieces before it.
void AddPiece(RemeshReport& total, const RemeshReport& piece)
{
    total.trianglesBefore += piece.trianglesBefore;
    total.trianglesAfter += piece.trianglesAfter;
    total.verticesBefore += piece.verticesBefore;
    total.verticesAfter += piece.verticesAfter;
    total.splits += piece.splits;
    total.collapses += piece.collapses;
    total.flips += piece.flips;
    total.deviationMillimetres = std::max(total.deviationMillimetres, piece.deviationMillimetres);
}

}  // namespace

float OwnScaleTriangleSize(Vec3 low, Vec3 high)
{
    // A piece no more than one step across has no coordinate between its faces: a triangle of
    // that size is the piece's own, and a relief could only move it by the whole piece.
    const float size = SmallestTriangleSizeFarOut(low, high, false);
    return size < LongestSide(low, high) ? size : 0.0f;
}

RemeshReport RemeshAtOwnScale(TriangleMesh& mesh, const RemeshSettings& settings,
    const ProgressCallback& progress, std::vector<OwnScalePiece>& farPieces)
{
    farPieces.clear();
    const float size = settings.targetEdgeMillimetres;
    if (!mesh.boundsValid || !(size < SmallestTriangleSizeFarOut(mesh.boundsMin, mesh.boundsMax, false)))
        return Remesh(mesh, settings, progress);
    const std::vector<MeshCluster> pieces = FindMeshClusters(mesh, size);
    MeshCluster near;
    std::vector<const MeshCluster*> far;
    for (const MeshCluster& piece : pieces) {
        if (size < SmallestTriangleSizeFarOut(piece.boundsMin, piece.boundsMax, false)) {
            far.push_back(&piece);
            continue;
        }
        near.triangles.insert(near.triangles.end(), piece.triangles.begin(), piece.triangles.end());
    }
    if (far.empty() || near.triangles.empty())
        return Remesh(mesh, settings, progress);
    std::sort(near.triangles.begin(), near.triangles.end());
    TriangleMesh joined = ClusterMesh(mesh, near);
    RemeshReport report = Remesh(joined, settings, progress);
    if (report.cancelled || report.failed) {
        mesh = std::move(joined);
        return report;
    }
    for (const MeshCluster* piece : far) {
        OwnScalePiece own{piece->boundsMin, piece->boundsMax, FloatStepOfBox(piece->boundsMin, piece->boundsMax),
            OwnScaleTriangleSize(piece->boundsMin, piece->boundsMax), false};
        const TriangleMesh original = ClusterMesh(mesh, *piece);
        TriangleMesh made = original;
        own.kept = true;
        if (own.triangleSize > 0.0f) {
            RemeshSettings ownSettings = settings;
            ownSettings.targetEdgeMillimetres = own.triangleSize;
            const RemeshReport pieceReport = Remesh(made, ownSettings, progress);
            if (pieceReport.cancelled || pieceReport.failed) {
                mesh = std::move(joined);
                return pieceReport;
            }
            // Far out the remesh's corners round onto the float steps: a piece it did not keep
            // whole is kept as it was.
            made.ComputeBounds();
            own.kept = !Sound(made) && Sound(original);
            if (own.kept) {
                made = original;
                own.triangleSize = 0.0f;
            } else {
                AddPiece(report, pieceReport);
            }
        }
        AppendMesh(joined, made);
        farPieces.push_back(own);
    }
    joined.ComputeBounds();
    joined.ComputeVertexNormals();
    report.trianglesAfter = joined.TriangleCount();
    report.verticesAfter = joined.vertices.size();
    mesh = std::move(joined);
    return report;
}

}  // namespace grainforge::mesh
