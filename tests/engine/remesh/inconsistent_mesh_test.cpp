// Every public operation that takes a mesh, in engine/mesh and engine/remesh, on meshes that
// fail TriangleMesh::IsConsistent (and on the empty mesh): each must give its neutral result
// and, under the sanitizer build, read nothing out of bounds. A new operation belongs here.
#include "engine/mesh/aabb_tree.h"
#include "engine/repair/crumb_removal.h"
#include "engine/mesh/export_cleanup.h"
#include "engine/mesh/mesh_simplify.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/repair/non_manifold_repair.h"
#include "engine/mesh/placement.h"
#include "engine/repair/repair_driver.h"
#include "engine/repair/repair_job.h"
#include "engine/mesh/self_intersection.h"
#include "engine/files/stl_writer.h"
#include "engine/mesh/test_shapes.h"
#include "engine/repair/tidying.h"
#include "engine/mesh/welding.h"
#include "engine/repair/windows_repair.h"
#include "engine/remesh/contour_remesh.h"
#include "engine/remesh/flat_simplify.h"
#include "engine/remesh/isotropic_remesh.h"
#include "engine/remesh/remesh.h"
#include "engine/remesh/remesh_settings.h"
#include "tests/support/mesh_compare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

namespace grainforge::mesh {
namespace {

using M = TriangleMesh;

// The cube with one index changed or one added: work for every operation, yet inconsistent.
M CubeWith(std::size_t at, std::uint32_t index)
{
    M mesh = MakeTestCube(20.0f);
    if (at < mesh.indices.size())
        mesh.indices[at] = index;
    else
        mesh.indices.push_back(index);
    return mesh;
}

std::vector<std::uint32_t> AllVertices(const M& mesh)
{
    std::vector<std::uint32_t> all(mesh.vertices.size());
    std::iota(all.begin(), all.end(), 0u);
    return all;
}

// A remesh that changed nothing and says neither failure nor stop.
bool NeutralRemesh(const RemeshReport& r) { return r.trianglesAfter == 0 && !r.failed && !r.cancelled; }

bool NeutralSimplify(const FlatSimplifyReport& r) { return r.collapses == 0 && r.trianglesAfter == r.trianglesBefore; }

const RemeshSettings kIsotropic = [] {
    RemeshSettings settings;
    std::tie(settings.method, settings.targetEdgeMillimetres) = std::tuple(RemeshMethod::isotropic, 1.0f);
    return settings;
}();

ContourGrid Grid() { return SetUpContourGrid({-10, -10, -10}, {10, 10, 10}, 1.0); }

void EachTriangle(const M& m, const std::function<void(std::uint32_t)>& visit)
{
    for (std::uint32_t t = 0; t < m.TriangleCount(); ++t)
        visit(t);
}

bool NormalsZero(const M& m)
{
    return std::all_of(m.vertices.begin(), m.vertices.end(), [](const MeshVertex& v) { return v.normal == Vec3{}; });
}

// True when the test holds for no triangle.
bool NoTriangle(const M& m, bool (*test)(const M&, const VertexAdjacency&, std::uint32_t))
{
    const VertexAdjacency adjacency = BuildVertexAdjacency(m);
    bool none = true;
    EachTriangle(m, [&](std::uint32_t t) { none = none && !test(m, adjacency, t); });
    return none;
}

void RelaxAll(M& m)
{
    std::vector<Vec3> saved(m.vertices.size());
    std::vector<std::uint8_t> moved(m.vertices.size(), 0), pinned(m.vertices.size(), 0);
    RelaxVerticesWithinLimit(m, BuildVertexAdjacency(m), AllVertices(m), saved, moved, pinned, 1.0f);
}

struct Operation {
    const char* name;
    std::function<bool(M&)> isNeutral;
    bool keepsMesh = true;  // the mesh must come back bit for bit as it was given
};

// Read-only operations keep the mesh by their signature; checking them too costs nothing.
std::vector<Operation> Operations()
{
    return {
        {"IsConsistent", [](M& m) { return !m.IsConsistent() || m.indices.empty(); }},
        {"ComputeVertexNormals", [](M& m) { return m.ComputeVertexNormals(), m.indices.empty() || NormalsZero(m); }, false},
        {"FaceNormal", [](M& m) { return EachTriangle(m, [&](std::uint32_t t) { (void)m.FaceNormal(t); }), m.FaceNormal(m.TriangleCount()) == Vec3{}; }},
        {"SurfaceArea", [](M& m) { return m.SurfaceArea() == 0.0f; }},
        {"Volume", [](M& m) { return m.Volume() == 0.0f; }},
        {"SampleMedianEdgeLength", [](M& m) { return SampleMedianEdgeLength(m) >= 0.0f; }},
        {"CountBodies", [](M& m) { return CountBodies(m) == 0; }},
        {"BuildEdgeTable", [](M& m) { return BuildEdgeTable(m).size() == 3 * m.TriangleCount(); }},
        {"BuildVertexAdjacency", [](M& m) { return BuildVertexAdjacency(m).neighbours.empty(); }},
        {"CountEdges", [](M& m) { return CountEdges(m).edges == 0; }},
        {"AabbTree", [](M& m) { AabbTree t; t.Build(m); return t.nodes.empty() && !t.Nearest(m, {}, {}, {}, kNoDistanceLimit).found; }},
        {"AabbTree::Raycast", [](M& m) { AabbTree t; t.Build(m); return !t.Raycast({{0, 0, -50}, {0, 0, 1}}, m).hit; }},
        {"RemoveCrumbs", [](M& m) { return RemoveCrumbs(m, 1, nullptr, 1e9f) == 0; }},
        {"IsNoAreaTriangle", [](M& m) { return !IsNoAreaTriangle(m, 0); }},
        {"RemoveNoAreaTriangles", [](M& m) { return RemoveNoAreaTriangles(m) == 0; }},
        {"CleanupForExport", [](M& m) { const auto r = CleanupForExport(m, 0.01f, {}); return r.verticesMerged + r.collapsedTrianglesDropped + r.trianglesAdded == 0; }},
        {"IsCollapsedTriangle", [](M& m) { ExportCleanupState s{&m, AllVertices(m), 0.0f, {}}; return EachTriangle(m, [&](std::uint32_t t) { (void)IsCollapsedTriangle(s, t); }), true; }},
        {"FindBoundaryLoops", [](M& m) { std::uint64_t odd = 0; return FindBoundaryLoops(m, odd).empty() && odd == 0; }},
        // Runs once per hole, so it checks only the index count and the loop's own vertices.
        {"FillHoleLoop", [](M& m) { const bool whole = m.indices.size() % 3 == 0; return FillHoleLoop(m, BoundaryLoop{{0, 1, 2, 3}}) == 0 || whole; }, false},
        {"SimplifyMesh", [](M& m) { return SimplifyMesh(m, {.maximumError = 1e20f}, {}).collapses == 0; }},
        {"ValidateMesh", [](M& m) { return ValidateMesh(m, {.checkSelfIntersections = true}).verdict == Verdict::Unsuitable; }},
        {"RemoveDoubleSkinnedPairs", [](M& m) { return !RemoveDoubleSkinnedPairs(m).Changed(); }},
        {"CountNonManifoldEdges", [](M& m) { return CountNonManifoldEdges(m) == 0; }},
        {"SeparateNonManifoldEdges", [](M& m) { return SeparateNonManifoldEdges(m) == 0; }},
        {"FixNonManifoldEdges", [](M& m) { return FixNonManifoldEdges(m) == 0; }},
        {"FindRestingFaces", [](M& m) { return FindRestingFaces(m, {}).empty(); }},
        {"LayOnFaceTransform", [](M& m) { return std::isfinite(LayOnFaceTransform(m, {0, 0, 1}).m00); }},
        {"RepairMesh", [](M& m) { const RepairReport r = RepairMesh(m, {}, {}, 1); return r.verticesSplit + r.bodiesRemoved + r.verticesMoved == 0; }},
        {"CountNoAreaTriangles", [](M& m) { return CountNoAreaTriangles(m) == 0; }},
        {"ListNoAreaTriangles", [](M& m) { return ListNoAreaTriangles(m).empty(); }},
        {"CopyVertexPositions", [](M& m) { return CopyVertexPositions(m).size() == m.vertices.size(); }},
        {"MedianLongestEdge", [](M& m) { return MedianLongestEdge(m) == 0.0f; }},
        {"MarkLongEdgeVertices", [](M& m) { return MarkLongEdgeVertices(m) == std::vector<std::uint8_t>(m.vertices.size()); }},
        {"GrowVertexRings", [](M& m) { return GrowVertexRings(m, BuildVertexAdjacency(m), std::vector<std::uint32_t>(m.TriangleCount() == 0 ? 0 : 1, 0u), 2).empty(); }},
        {"RelaxVerticesWithinLimit", [](M& m) { return RelaxAll(m), true; }},
        {"IsFoldedOver", [](M& m) { return NoTriangle(m, IsFoldedOver); }},
        {"IsFoldedOntoNeighbour", [](M& m) { return NoTriangle(m, IsFoldedOntoNeighbour); }},
        {"RepairForPrint", [](M& m) { return !RepairForPrint(m, {}).repaired; }},
        {"ReadBackAsSlicer", [](M& m) { return !ReadBackAsSlicer(m).ok; }},
        {"CountOpenAndOverSharedEdges", [](M& m) { std::uint64_t a = 7, b = 7; CountOpenAndOverSharedEdges(m, a, b); return a + b == 0; }},
        {"FindSelfIntersections", [](M& m) { std::vector<std::uint32_t> p{1, 2}; bool s = true; FindSelfIntersections(m, {}, kNoPairLimit, p, s); return p.empty() && !s; }},
        {"ListSelfIntersectingTriangles", [](M& m) { return ListSelfIntersectingTriangles(m).empty(); }},
        {"CheckSelfIntersections", [](M& m) { ValidationReport r; CheckSelfIntersections(m, {}, r); return r.selfIntersectingTriangleCount == 0; }},
        {"WriteStlFile", [](M& m) { return !WriteStlFile("/nonexistent-folder/p.stl", m, {}).ok; }},
        {"EncodeBinaryStl", [](M& m) { return EncodeBinaryStl(m, "x").empty(); }},
        {"FormatAsciiStl", [](M& m) { return FormatAsciiStl(m, "x").empty(); }},
        {"CompareRoundTrip", [](M& m) { return CompareRoundTrip(m, m).dimensionsBefore == Vec3{}; }},
        {"TidyMesh", [](M& m) { return !TidyMesh(m, TidyOptions{}).changed; }},
        {"WeldIdenticalVertices", [](M& m) { return WeldIdenticalVertices(m) == 0; }},
        {"WeldVerticesWithin", [](M& m) { return WeldVerticesWithin(m, 100.0f) == 0; }},
        {"RemoveDegenerateTriangles", [](M& m) { return RemoveDegenerateTriangles(m, false) == 0; }},
        {"CountDuplicateTriangles", [](M& m) { return CountDuplicateTriangles(m) == 0; }},
        {"RemoveDuplicateTriangles", [](M& m) { return RemoveDuplicateTriangles(m) == 0; }},
        {"RemoveUnusedVertices", [](M& m) { return RemoveUnusedVertices(m) == 0; }},
        {"RepairWithWindows", [](M& m) { return !RepairWithWindows(m, nullptr).succeeded; }},
        {"RemeshByContour", [](M& m) { return NeutralRemesh(RemeshByContour(m, RemeshSettings{}, {})); }},
        {"Remesh", [](M& m) { return NeutralRemesh(Remesh(m, RemeshSettings{}, {})); }},
        {"RemeshIsotropic", [](M& m) { return NeutralRemesh(RemeshIsotropic(m, kIsotropic, {})); }},
        // Only the grid's share and the vertices' bytes remain.
        {"EstimateContourBytes", [](M& m) { return EstimateContourBytes(m, Grid()) <= EstimateContourBytes(M{}, Grid()) + 24 * m.vertices.size(); }},
        {"ContourMesh", [](M& m) { ContourResult r; return ContourMesh(m, Grid(), 0.5, {}, r) && r.triangles.empty() && !r.failed; }},
        {"CountMeshPieces", [](M& m) { return CountMeshPieces(m) <= m.vertices.size(); }},
        {"RemoveSmallBodies", [](M& m) { return RemoveSmallBodies(m, 1.0f), true; }},
        {"ContourCellSize", [](M& m) { return ContourCellSize(m, RemeshSettings{}) > 0.0f; }},
        {"EstimateRemeshResult", [](M& m) { return EstimateRemeshResult(m, RemeshSettings{}).countedTriangles == 0; }},
        {"MeasureMeshQuality", [](M& m) { return MeasureMeshQuality(m).triangles == 0; }},
        // Textured flags for every triangle must not lead the pass past the mesh either.
        {"SimplifyFlatAreas", [](M& m) { const std::vector<std::uint8_t> all(m.TriangleCount(), 1); return NeutralSimplify(SimplifyFlatAreas(m, &all, {}, {})); }},
    };
}

TEST(InconsistentMesh, EveryOperationGivesItsNeutralResultWithinBounds)
{
    M indicesOnly;
    indicesOnly.indices = {0, 1, 2};
    const std::pair<const char*, M> meshes[] = {
        {"index just past the end", CubeWith(4, 8)},
        {"largest index", CubeWith(35, std::numeric_limits<std::uint32_t>::max())},
        {"one index too many", CubeWith(36, 0)},
        {"indices without vertices", indicesOnly},
        {"empty", M{}},
    };
    for (const auto& [name, input] : meshes) {
        for (const Operation& operation : Operations()) {
            SCOPED_TRACE(std::string(name) + ", " + operation.name);
            M mesh = input;
            EXPECT_TRUE(operation.isNeutral(mesh));
            if (operation.keepsMesh) {
                EXPECT_TRUE(test::Identical(mesh, input));
            }
        }
    }
}

TEST(NonFiniteMesh, OperationsOnCoordinatesRefuseOrSkipNaNWithoutUndefinedBehaviour)
{
    // A sphere with NaN in every seventh vertex: enough values that a sort or selection over
    // NaN with a plain < would run past its ends, and enough that a skipped NaN would go unseen.
    M sphere = MakeTestSphere(10.0f);
    for (std::size_t v = 1; v < sphere.vertices.size(); v += 7)
        sphere.vertices[v].position.y = std::numeric_limits<float>::quiet_NaN();
    sphere.ComputeBounds();
    const std::pair<const char*, std::function<bool(M&)>> cases[] = {
        {"ComputeBounds", [](M& m) { return std::isnan(m.boundsMin.y) && std::isnan(m.boundsMax.y); }},
        {"RemeshByContour", [](M& m) { return RemeshByContour(m, {}, {}).failure == RemeshFailure::nonFiniteCoordinates; }},
        {"Remesh isotropic", [](M& m) { return NeutralRemesh(Remesh(m, kIsotropic, {})); }},
        {"SimplifyFlatAreas", [](M& m) { return NeutralSimplify(SimplifyFlatAreas(m, nullptr, {}, {})); }},
        {"EstimateRemeshResult", [](M& m) { return EstimateRemeshResult(m, RemeshSettings{}).estimatedTriangles == 0; }},
        {"MeasureMeshQuality", [](M& m) { const MeshQuality q = MeasureMeshQuality(m); return std::isfinite(q.edgeMax + q.aspectWorst) && q.edgeMin > 0.0f; }},
        {"MedianLongestEdge", [](M& m) { return std::isfinite(MedianLongestEdge(m)); }},
        {"MarkLongEdgeVertices", [](M& m) { return MarkLongEdgeVertices(m).size() == m.vertices.size(); }},
        {"ContourMesh", [](M& m) { ContourResult r; return ContourMesh(m, Grid(), 0.5, {}, r) && r.triangles.empty(); }},
        {"FindRestingFaces", [](M& m) { return FindRestingFaces(m, {}).size() <= m.TriangleCount(); }},
        {"WriteStlFile", [](M& m) { return !WriteStlFile("/nonexistent-folder/p.stl", m, {}).ok; }},
    };
    for (const auto& [name, isSound] : cases) {
        SCOPED_TRACE(name);
        M mesh = sphere;
        EXPECT_TRUE(isSound(mesh));
    }
}

}  // namespace
}  // namespace grainforge::mesh
