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

#include <algorithm>
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
           (a.vertices.empty() ||
            std::memcmp(a.vertices.data(), b.vertices.data(), a.vertices.size() * sizeof(MeshVertex)) == 0);
}

std::vector<std::uint32_t> AllVertices(const TriangleMesh& mesh)
{
    std::vector<std::uint32_t> all(mesh.vertices.size());
    std::iota(all.begin(), all.end(), 0u);
    return all;
}

using Check = std::function<bool(TriangleMesh&)>;

struct Operation {
    const char* name;
    bool keepsMesh;  // the mesh must come back bit for bit as it was given
    Check isNeutral;
};

// Read-only operations keep the mesh by their signature; checking them too costs nothing.
std::vector<Operation> Operations()
{
    using M = TriangleMesh;
    const RemeshSettings remesh;
    const ContourGrid grid = SetUpContourGrid({-10, -10, -10}, {10, 10, 10}, true, 1.0);
    const auto adjacencyTest = [](bool (*test)(const M&, const VertexAdjacency&, std::uint32_t)) {
        return [test](M& m) {
            const VertexAdjacency adjacency = BuildVertexAdjacency(m);
            for (std::uint32_t t = 0; t < m.TriangleCount(); ++t)
                if (test(m, adjacency, t))
                    return false;
            return true;
        };
    };
    return {
        {"IsConsistent", true, [](M& m) { return !m.IsConsistent() || m.indices.empty(); }},
        {"ComputeVertexNormals", false, [](M& m) {
             m.ComputeVertexNormals();
             return m.indices.empty() || std::all_of(m.vertices.begin(), m.vertices.end(),
                                                     [](const MeshVertex& v) { return v.normal == Vec3{}; });
         }},
        {"FaceNormal", true, [](M& m) {
             for (std::uint64_t t = 0; t <= m.TriangleCount(); ++t)
                 (void)m.FaceNormal(t);  // checks only its own triangle
             return m.FaceNormal(m.TriangleCount()) == Vec3{};
         }},
        {"SurfaceArea", true, [](M& m) { return m.SurfaceArea() == 0.0f; }},
        {"Volume", true, [](M& m) { return m.Volume() == 0.0f; }},
        {"SampleMedianEdgeLength", true, [](M& m) { return SampleMedianEdgeLength(m) >= 0.0f; }},
        {"CountBodies", true, [](M& m) { return CountBodies(m) == 0; }},
        {"BuildEdgeTable", true, [](M& m) { return BuildEdgeTable(m).size() == 3 * m.TriangleCount(); }},
        {"BuildVertexAdjacency", true, [](M& m) { return BuildVertexAdjacency(m).neighbours.empty(); }},
        {"CountEdges", true, [](M& m) { return CountEdges(m).edges == 0; }},
        {"AabbTree", true, [](M& m) {
             AabbTree tree;
             tree.Build(m);
             return tree.nodes.empty() && !tree.Nearest(m, {}, {}, {}, kNoDistanceLimit).found &&
                    !tree.Raycast({{0, 0, -50}, {0, 0, 1}}, m).hit;
         }},
        {"RemoveCrumbs", true, [](M& m) { return RemoveCrumbs(m, 1, nullptr, 1e9f) == 0; }},
        {"IsNoAreaTriangle", true, [](M& m) { return !IsNoAreaTriangle(m, 0); }},
        {"RemoveNoAreaTriangles", true, [](M& m) { return RemoveNoAreaTriangles(m) == 0; }},
        {"CleanupForExport", true, [](M& m) {
             const ExportCleanupReport r = CleanupForExport(m, 0.01f, ExportCleanupOptions{});
             return r.verticesMerged == 0 && r.collapsedTrianglesDropped == 0 && r.trianglesAdded == 0;
         }},
        {"IsCollapsedTriangle", true, [](M& m) {
             ExportCleanupState state{&m, AllVertices(m), 0.0f};
             for (std::uint64_t t = 0; t < m.TriangleCount(); ++t)
                 (void)IsCollapsedTriangle(state, t);
             return true;
         }},
        {"FindBoundaryLoops", true, [](M& m) {
             std::uint64_t notSimple = 0;
             return FindBoundaryLoops(m, notSimple).empty() && notSimple == 0;
         }},
        // Runs once per hole, so it checks only the index count and the loop's own vertices.
        {"FillHoleLoop", false, [](M& m) {
             const bool wholeTriangles = m.indices.size() % 3 == 0;
             return FillHoleLoop(m, BoundaryLoop{{0, 1, 2, 3}}) == 0 || wholeTriangles;
         }},
        {"SimplifyMesh", true, [](M& m) { return SimplifyMesh(m, {.maximumError = 1e20f}, {}).collapses == 0; }},
        {"ValidateMesh", true, [](M& m) {
             return ValidateMesh(m, {.checkSelfIntersections = true}).verdict == Verdict::Unsuitable;
         }},
        {"RemoveDoubleSkinnedPairs", true, [](M& m) { return RemoveDoubleSkinnedPairs(m) == 0; }},
        {"CountNonManifoldEdges", true, [](M& m) { return CountNonManifoldEdges(m) == 0; }},
        {"SeparateNonManifoldEdges", true, [](M& m) { return SeparateNonManifoldEdges(m) == 0; }},
        {"FixNonManifoldEdges", true, [](M& m) { return FixNonManifoldEdges(m) == 0; }},
        {"FindRestingFaces", true, [](M& m) { return FindRestingFaces(m, {}).empty(); }},
        {"LayOnFaceTransform", true, [](M& m) { return std::isfinite(LayOnFaceTransform(m, {0, 0, 1}).m00); }},
        {"RepairMesh", true, [](M& m) {
             const RepairReport r = RepairMesh(m, RepairOptions{}, {}, 1);
             return r.verticesSplit == 0 && r.bodiesRemoved == 0 && r.verticesMoved == 0;
         }},
        {"CountNoAreaTriangles", true, [](M& m) { return CountNoAreaTriangles(m) == 0; }},
        {"ListNoAreaTriangles", true, [](M& m) { return ListNoAreaTriangles(m).empty(); }},
        {"CopyVertexPositions", true, [](M& m) { return CopyVertexPositions(m).size() == m.vertices.size(); }},
        {"MedianLongestEdge", true, [](M& m) { return MedianLongestEdge(m) == 0.0f; }},
        {"MarkLongEdgeVertices", true, [](M& m) {
             return MarkLongEdgeVertices(m) == std::vector<std::uint8_t>(m.vertices.size(), 0);
         }},
        {"GrowVertexRings", true, [](M& m) {
             const std::vector<std::uint32_t> first(m.TriangleCount() == 0 ? 0 : 1, 0u);
             return GrowVertexRings(m, BuildVertexAdjacency(m), first, 2).empty();
         }},
        {"RelaxVerticesWithinLimit", true, [](M& m) {
             std::vector<Vec3> saved(m.vertices.size());
             std::vector<std::uint8_t> moved(m.vertices.size(), 0), pinned(m.vertices.size(), 0);
             RelaxVerticesWithinLimit(m, BuildVertexAdjacency(m), AllVertices(m), saved, moved, pinned, 1.0f);
             return true;
         }},
        {"IsFoldedOver", true, adjacencyTest(IsFoldedOver)},
        {"IsFoldedOntoNeighbour", true, adjacencyTest(IsFoldedOntoNeighbour)},
        {"RepairForPrint", true, [](M& m) { return !RepairForPrint(m, {}).repaired; }},
        {"ReadBackAsSlicer", true, [](M& m) { return !ReadBackAsSlicer(m).ok; }},
        {"CountOpenAndOverSharedEdges", true, [](M& m) {
             std::uint64_t open = 7, overShared = 7;
             CountOpenAndOverSharedEdges(m, open, overShared);
             return open == 0 && overShared == 0;
         }},
        {"FindSelfIntersections", true, [](M& m) {
             std::vector<std::uint32_t> pairs{1, 2};
             bool stopped = true;
             FindSelfIntersections(m, {}, kNoPairLimit, pairs, stopped);
             return pairs.empty() && !stopped && ListSelfIntersectingTriangles(m).empty();
         }},
        {"CheckSelfIntersections", true, [](M& m) {
             ValidationReport report;
             CheckSelfIntersections(m, ValidationOptions{}, report);
             return report.selfIntersectingTriangleCount == 0;
         }},
        {"WriteStlFile", true, [](M& m) { return !WriteStlFile("/nonexistent-folder/p.stl", m, {}).ok; }},
        {"EncodeBinaryStl", true, [](M& m) { return EncodeBinaryStl(m, "x").empty(); }},
        {"FormatAsciiStl", true, [](M& m) { return FormatAsciiStl(m, "x").empty(); }},
        {"CompareRoundTrip", true, [](M& m) { return CompareRoundTrip(m, m).dimensionsBefore == Vec3{}; }},
        {"TidyMesh", true, [](M& m) { return !TidyMesh(m, TidyOptions{}).changed; }},
        {"WeldIdenticalVertices", true, [](M& m) { return WeldIdenticalVertices(m) == 0; }},
        {"WeldVerticesWithin", true, [](M& m) { return WeldVerticesWithin(m, 100.0f) == 0; }},
        {"RemoveDegenerateTriangles", true, [](M& m) { return RemoveDegenerateTriangles(m, false) == 0; }},
        {"CountDuplicateTriangles", true, [](M& m) { return CountDuplicateTriangles(m) == 0; }},
        {"RemoveDuplicateTriangles", true, [](M& m) { return RemoveDuplicateTriangles(m) == 0; }},
        {"RemoveUnusedVertices", true, [](M& m) { return RemoveUnusedVertices(m) == 0; }},
        {"RepairWithWindows", true, [](M& m) { return !RepairWithWindows(m, nullptr).succeeded; }},
        {"RemeshByContour", true, [remesh](M& m) {
             const RemeshReport r = RemeshByContour(m, remesh, {});
             return r.trianglesAfter == 0 && !r.failed;
         }},
        // Only the grid's share and the vertices' bytes remain.
        {"EstimateContourBytes", true, [grid](M& m) {
             return EstimateContourBytes(m, grid) <= EstimateContourBytes(M{}, grid) + 24 * m.vertices.size();
         }},
        {"ContourMesh", true, [grid](M& m) {
             ContourResult result;
             return ContourMesh(m, grid, 0.5, {}, result) && result.triangles.empty() && !result.failed;
         }},
        {"CountMeshPieces", true, [](M& m) { return CountMeshPieces(m) <= m.vertices.size(); }},
        {"RemoveSmallBodies", true, [](M& m) {
             RemoveSmallBodies(m, 1.0f);
             return true;
         }},
        {"ContourCellSize", true, [remesh](M& m) { return ContourCellSize(m, remesh) > 0.0f; }},
        {"EstimateRemeshResult", true, [remesh](M& m) { return EstimateRemeshResult(m, remesh).countedTriangles == 0; }},
        {"MeasureMeshQuality", true, [](M& m) { return MeasureMeshQuality(m).triangles == 0; }},
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
