// Every public operation that takes a mesh, in engine/mesh and engine/remesh, on meshes that
// fail TriangleMesh::IsConsistent (and on the empty mesh): each must give its neutral result
// and, under the sanitizer build, read nothing out of bounds. A new operation belongs here.
#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/crumb_removal.h"
#include "engine/mesh/export_cleanup.h"
#include "engine/mesh/mesh_simplify.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/non_manifold_repair.h"
#include "engine/mesh/placement.h"
#include "engine/mesh/repair_driver.h"
#include "engine/mesh/repair_job.h"
#include "engine/mesh/self_intersection.h"
#include "engine/mesh/stl_writer.h"
#include "engine/mesh/test_shapes.h"
#include "engine/mesh/tidying.h"
#include "engine/mesh/welding.h"
#include "engine/mesh/windows_repair.h"
#include "engine/remesh/contour_remesh.h"
#include "engine/remesh/remesh_settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

namespace grainforge::mesh {
namespace {

// The cube with one index changed or one added: work for every operation, yet inconsistent.
TriangleMesh CubeWith(std::size_t at, std::uint32_t index)
{
    TriangleMesh mesh = MakeTestCube(20.0f);
    if (at < mesh.indices.size())
        mesh.indices[at] = index;
    else
        mesh.indices.push_back(index);
    return mesh;
}

bool SameMesh(const TriangleMesh& a, const TriangleMesh& b)
{
    return a.indices == b.indices && a.vertices.size() == b.vertices.size() &&
           std::memcmp(a.vertices.data(), b.vertices.data(), a.vertices.size() * sizeof(MeshVertex)) == 0;
}

std::vector<std::uint32_t> AllVertices(const TriangleMesh& mesh)
{
    std::vector<std::uint32_t> all(mesh.vertices.size());
    std::iota(all.begin(), all.end(), 0u);
    return all;
}

struct Operation {
    const char* name;
    bool keepsMesh;  // the mesh must come back bit for bit as it was given
    std::function<bool(TriangleMesh&)> isNeutral;
};

// Operations whose mesh argument is read only keep it by their signature; they are marked as
// keeping it all the same, which costs nothing and catches a const_cast.
std::vector<Operation> Operations()
{
    const RemeshSettings remesh;
    return {
        {"IsConsistent", true, [](TriangleMesh& m) { return !m.IsConsistent() || m.indices.empty(); }},
        {"ComputeVertexNormals", false, [](TriangleMesh& m) {
             m.ComputeVertexNormals();
             for (const MeshVertex& v : m.vertices)
                 if (!(v.normal == Vec3{}) && !m.IsConsistent())
                     return false;
             return true;
         }},
        {"FaceNormal", true, [](TriangleMesh& m) {
             for (std::uint64_t t = 0; t <= m.TriangleCount(); ++t)
                 (void)m.FaceNormal(t);
             return true;
         }},
        {"SurfaceArea", true, [](TriangleMesh& m) { return m.SurfaceArea() == 0.0f; }},
        {"Volume", true, [](TriangleMesh& m) { return m.Volume() == 0.0f; }},
        {"SampleMedianEdgeLength", true, [](TriangleMesh& m) { return SampleMedianEdgeLength(m) >= 0.0f; }},
        {"CountBodies", true, [](TriangleMesh& m) { return CountBodies(m) == 0; }},
        {"BuildEdgeTable", true, [](TriangleMesh& m) { return BuildEdgeTable(m).size() == 3 * m.TriangleCount(); }},
        {"BuildVertexAdjacency", true, [](TriangleMesh& m) {
             const VertexAdjacency a = BuildVertexAdjacency(m);
             return a.neighbours.empty() && a.triangles.empty();
         }},
        {"CountEdges", true, [](TriangleMesh& m) { return CountEdges(m).edges == 0; }},
        {"AabbTree", true, [](TriangleMesh& m) {
             AabbTree tree;
             tree.Build(m);
             const bool nearest = tree.Nearest(m, {0, 0, 0}, {}, {}, kNoDistanceLimit).found;
             const bool hit = tree.Raycast({{0, 0, -50}, {0, 0, 1}}, m).hit;
             return tree.nodes.empty() && !nearest && !hit;
         }},
        {"RemoveCrumbs", true, [](TriangleMesh& m) { return RemoveCrumbs(m, 1, nullptr, 1e9f) == 0; }},
        {"IsNoAreaTriangle", true, [](TriangleMesh& m) { return !IsNoAreaTriangle(m, 0); }},
        {"RemoveNoAreaTriangles", true, [](TriangleMesh& m) { return RemoveNoAreaTriangles(m) == 0; }},
        {"CleanupForExport", true, [](TriangleMesh& m) {
             const ExportCleanupReport r = CleanupForExport(m, 0.01f, ExportCleanupOptions{});
             return r.verticesMerged == 0 && r.collapsedTrianglesDropped == 0 && r.trianglesAdded == 0;
         }},
        {"IsCollapsedTriangle", true, [](TriangleMesh& m) {
             ExportCleanupState state;
             state.mesh = &m;
             state.parent = AllVertices(m);
             for (std::uint64_t t = 0; t < m.TriangleCount(); ++t)
                 (void)IsCollapsedTriangle(state, t);
             return true;
         }},
        {"FindBoundaryLoops", true, [](TriangleMesh& m) {
             std::uint64_t notSimple = 0;
             return FindBoundaryLoops(m, notSimple).empty() && notSimple == 0;
         }},
        {"FillHoleLoop", false, [](TriangleMesh& m) {
             // Runs once per hole, so it checks only the count and the loop's own vertices.
             const bool wholeTriangles = m.indices.size() % 3 == 0;
             BoundaryLoop loop;
             loop.vertices = {0, 1, 2, 3};
             return FillHoleLoop(m, loop) == 0 || wholeTriangles;
         }},
        {"SimplifyMesh", true, [](TriangleMesh& m) {
             MeshSimplifyOptions options;
             options.maximumError = 1e20f;
             return SimplifyMesh(m, options, {}).collapses == 0;
         }},
        {"ValidateMesh", true, [](TriangleMesh& m) {
             ValidationOptions options;
             options.checkSelfIntersections = true;
             return ValidateMesh(m, options).verdict == Verdict::Unsuitable;
         }},
        {"RemoveDoubleSkinnedPairs", true, [](TriangleMesh& m) { return RemoveDoubleSkinnedPairs(m) == 0; }},
        {"CountNonManifoldEdges", true, [](TriangleMesh& m) { return CountNonManifoldEdges(m) == 0; }},
        {"SeparateNonManifoldEdges", true, [](TriangleMesh& m) { return SeparateNonManifoldEdges(m) == 0; }},
        {"FixNonManifoldEdges", true, [](TriangleMesh& m) { return FixNonManifoldEdges(m) == 0; }},
        {"FindRestingFaces", true, [](TriangleMesh& m) { return FindRestingFaces(m, {}).empty(); }},
        {"LayOnFaceTransform", true, [](TriangleMesh& m) {
             (void)LayOnFaceTransform(m, {0, 0, 1});
             return true;
         }},
        {"RepairMesh", true, [](TriangleMesh& m) {
             const RepairReport r = RepairMesh(m, RepairOptions{}, {}, 1);
             return r.verticesSplit == 0 && r.bodiesRemoved == 0 && r.verticesMoved == 0;
         }},
        {"CountNoAreaTriangles", true, [](TriangleMesh& m) { return CountNoAreaTriangles(m) == 0; }},
        {"ListNoAreaTriangles", true, [](TriangleMesh& m) { return ListNoAreaTriangles(m).empty(); }},
        {"CopyVertexPositions", true, [](TriangleMesh& m) { return CopyVertexPositions(m).size() == m.vertices.size(); }},
        {"MedianLongestEdge", true, [](TriangleMesh& m) { return MedianLongestEdge(m) == 0.0f; }},
        {"MarkLongEdgeVertices", true, [](TriangleMesh& m) {
             const std::vector<std::uint8_t> pinned = MarkLongEdgeVertices(m);
             return pinned == std::vector<std::uint8_t>(m.vertices.size(), 0);
         }},
        {"GrowVertexRings", true, [](TriangleMesh& m) {
             const std::vector<std::uint32_t> triangles(m.TriangleCount() == 0 ? 0 : 1, 0u);
             return GrowVertexRings(m, BuildVertexAdjacency(m), triangles, 2).size() <= m.vertices.size();
         }},
        {"RelaxVerticesWithinLimit", true, [](TriangleMesh& m) {
             std::vector<Vec3> saved(m.vertices.size());
             std::vector<std::uint8_t> moved(m.vertices.size(), 0);
             const std::vector<std::uint8_t> pinned(m.vertices.size(), 0);
             RelaxVerticesWithinLimit(m, BuildVertexAdjacency(m), AllVertices(m), saved, moved, pinned, 1.0f);
             return true;
         }},
        {"IsFoldedOver", true, [](TriangleMesh& m) {
             const VertexAdjacency adjacency = BuildVertexAdjacency(m);
             for (std::uint32_t t = 0; t < m.TriangleCount(); ++t)
                 if (IsFoldedOver(m, adjacency, t))
                     return false;
             return true;
         }},
        {"IsFoldedOntoNeighbour", true, [](TriangleMesh& m) {
             const VertexAdjacency adjacency = BuildVertexAdjacency(m);
             for (std::uint32_t t = 0; t < m.TriangleCount(); ++t)
                 if (IsFoldedOntoNeighbour(m, adjacency, t))
                     return false;
             return true;
         }},
        {"RepairForPrint", true, [](TriangleMesh& m) { return !RepairForPrint(m, {}).repaired; }},
        {"ReadBackAsSlicer", true, [](TriangleMesh& m) { return !ReadBackAsSlicer(m).ok; }},
        {"CountOpenAndOverSharedEdges", true, [](TriangleMesh& m) {
             std::uint64_t open = 7, overShared = 7;
             CountOpenAndOverSharedEdges(m, open, overShared);
             return open == 0 && overShared == 0;
         }},
        {"FindSelfIntersections", true, [](TriangleMesh& m) {
             std::vector<std::uint32_t> pairs{1, 2};
             bool stopped = true;
             FindSelfIntersections(m, {}, kNoPairLimit, pairs, stopped);
             return pairs.empty() && !stopped && ListSelfIntersectingTriangles(m).empty();
         }},
        {"CheckSelfIntersections", true, [](TriangleMesh& m) {
             ValidationReport report;
             CheckSelfIntersections(m, ValidationOptions{}, report);
             return report.selfIntersectingTriangleCount == 0;
         }},
        {"WriteStlFile", true, [](TriangleMesh& m) {
             return !WriteStlFile("/nonexistent-folder/part.stl", m, StlWriteOptions{}).ok;
         }},
        {"EncodeBinaryStl", true, [](TriangleMesh& m) { return EncodeBinaryStl(m, "x").empty(); }},
        {"FormatAsciiStl", true, [](TriangleMesh& m) { return FormatAsciiStl(m, "x").empty(); }},
        {"CompareRoundTrip", true, [](TriangleMesh& m) {
             const RoundTripComparison c = CompareRoundTrip(m, m);
             return c.dimensionsBefore == Vec3{} && c.openEdgesBefore == 0;
         }},
        {"TidyMesh", true, [](TriangleMesh& m) { return !TidyMesh(m, TidyOptions{}).changed; }},
        {"WeldIdenticalVertices", true, [](TriangleMesh& m) { return WeldIdenticalVertices(m) == 0; }},
        {"WeldVerticesWithin", true, [](TriangleMesh& m) { return WeldVerticesWithin(m, 100.0f) == 0; }},
        {"RemoveDegenerateTriangles", true, [](TriangleMesh& m) { return RemoveDegenerateTriangles(m, false) == 0; }},
        {"CountDuplicateTriangles", true, [](TriangleMesh& m) { return CountDuplicateTriangles(m) == 0; }},
        {"RemoveDuplicateTriangles", true, [](TriangleMesh& m) { return RemoveDuplicateTriangles(m) == 0; }},
        {"RemoveUnusedVertices", true, [](TriangleMesh& m) { return RemoveUnusedVertices(m) == 0; }},
        {"RepairWithWindows", true, [](TriangleMesh& m) { return !RepairWithWindows(m, nullptr).succeeded; }},
        {"RemeshByContour", true, [remesh](TriangleMesh& m) {
             const RemeshReport r = RemeshByContour(m, remesh, {});
             return r.trianglesAfter == 0 && !r.failed;
         }},
        {"EstimateContourBytes", true, [](TriangleMesh& m) {
             const ContourGrid grid = SetUpContourGrid({-10, -10, -10}, {10, 10, 10}, true, 1.0);
             const TriangleMesh none;
             return EstimateContourBytes(m, grid) <= EstimateContourBytes(none, grid) + 24 * m.vertices.size();
         }},
        {"ContourMesh", true, [](TriangleMesh& m) {
             const ContourGrid grid = SetUpContourGrid({-10, -10, -10}, {10, 10, 10}, true, 1.0);
             ContourResult result;
             return ContourMesh(m, grid, 0.5, {}, result) && result.triangles.empty() && !result.failed;
         }},
        {"CountMeshPieces", true, [](TriangleMesh& m) { return CountMeshPieces(m) <= m.vertices.size(); }},
        {"RemoveSmallBodies", true, [](TriangleMesh& m) {
             RemoveSmallBodies(m, 1.0f);
             return true;
         }},
        {"ContourCellSize", true, [remesh](TriangleMesh& m) { return ContourCellSize(m, remesh) > 0.0f; }},
        {"EstimateRemeshResult", true, [remesh](TriangleMesh& m) {
             return EstimateRemeshResult(m, remesh).countedTriangles == 0;
         }},
        {"MeasureMeshQuality", true, [](TriangleMesh& m) { return MeasureMeshQuality(m).triangles == 0; }},
    };
}

TEST(InconsistentMesh, EveryOperationGivesItsNeutralResultWithinBounds)
{
    TriangleMesh indicesOnly;
    indicesOnly.indices = {0, 1, 2};
    const struct {
        const char* name;
        TriangleMesh mesh;
    } meshes[] = {
        {"index just past the end", CubeWith(4, 8)},
        {"largest index", CubeWith(35, std::numeric_limits<std::uint32_t>::max())},
        {"one index too many", CubeWith(36, 0)},
        {"indices without vertices", indicesOnly},
        {"empty", TriangleMesh{}},
    };
    for (const auto& input : meshes) {
        for (const Operation& operation : Operations()) {
            SCOPED_TRACE(std::string(input.name) + ", " + operation.name);
            TriangleMesh mesh = input.mesh;
            EXPECT_TRUE(operation.isNeutral(mesh));
            if (operation.keepsMesh) {
                EXPECT_TRUE(SameMesh(mesh, input.mesh));
            }
        }
    }
}

TEST(NonFiniteMesh, OperationsOnCoordinatesRefuseOrSkipNaNWithoutUndefinedBehaviour)
{
    // A sphere with NaN in every seventh vertex: enough values that a sort or selection over
    // NaN with a plain < would run past its ends, and enough that a skipped NaN would go unseen.
    TriangleMesh sphere = MakeTestSphere(10.0f);
    for (std::size_t v = 1; v < sphere.vertices.size(); v += 7)
        sphere.vertices[v].position.y = std::numeric_limits<float>::quiet_NaN();
    sphere.ComputeBounds();
    const struct {
        const char* name;
        std::function<bool(TriangleMesh&)> isSound;
    } cases[] = {
        {"ComputeBounds", [](TriangleMesh& m) { return std::isnan(m.boundsMin.y) && std::isnan(m.boundsMax.y); }},
        {"RemeshByContour", [](TriangleMesh& m) {
             const RemeshReport r = RemeshByContour(m, RemeshSettings{}, {});
             return r.failed && r.failure == RemeshFailure::nonFiniteCoordinates;
         }},
        {"EstimateRemeshResult", [](TriangleMesh& m) {
             return EstimateRemeshResult(m, RemeshSettings{}).estimatedTriangles == 0;
         }},
        {"MeasureMeshQuality", [](TriangleMesh& m) {
             const MeshQuality q = MeasureMeshQuality(m);
             return std::isfinite(q.edgeMax) && q.edgeMin > 0.0f && std::isfinite(q.aspectWorst);
         }},
        {"MedianLongestEdge", [](TriangleMesh& m) { return std::isfinite(MedianLongestEdge(m)); }},
        {"MarkLongEdgeVertices", [](TriangleMesh& m) { return MarkLongEdgeVertices(m).size() == m.vertices.size(); }},
        {"ContourMesh", [](TriangleMesh& m) {
             ContourResult result;
             const ContourGrid grid = SetUpContourGrid({-10, -10, -10}, {10, 10, 10}, true, 1.0);
             return ContourMesh(m, grid, 0.5, {}, result) && result.triangles.empty();
         }},
        {"FindRestingFaces", [](TriangleMesh& m) { return FindRestingFaces(m, {}).size() <= m.TriangleCount(); }},
        {"WriteStlFile", [](TriangleMesh& m) { return !WriteStlFile("/nonexistent-folder/p.stl", m, {}).ok; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TriangleMesh mesh = sphere;
        EXPECT_TRUE(c.isSound(mesh));
    }
}

}  // namespace
}  // namespace grainforge::mesh
