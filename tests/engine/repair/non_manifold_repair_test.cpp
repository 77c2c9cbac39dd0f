#include "engine/repair/non_manifold_repair.h"

#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/self_intersection.h"
#include "engine/mesh/test_shapes.h"
#include "engine/mesh/welding.h"
#include "tests/support/checksum.h"
#include "tests/support/mesh_of.h"
#include "tests/support/shapes.h"
#include "tests/support/validation_shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>

namespace grainforge::mesh {
namespace {

using test::MeshOf;

// Two closed boxes of the given edge that share one edge: the second sits diagonally above the
// first, so the edge x = edge, z = edge carries four triangles.
TriangleMesh BoxesSharingAnEdge(float edge)
{
    const Vec3 half{edge / 2, edge / 2, edge / 2};
    TriangleMesh mesh = test::Combined(test::Translated(MakeTestCube(edge), half),
                                       test::Translated(MakeTestCube(edge), half + Vec3{edge, 0, edge}));
    WeldIdenticalVertices(mesh);
    mesh.ComputeBounds();
    return mesh;
}


// A sheet standing alone encloses nothing, so neither winding is its outside: pairs on it are
// counted and the mesh stays as it was.
TEST(RemoveDoubleSkinnedPairs, OppositeWindingsPairUp)
{
    struct Case { std::vector<std::uint32_t> indices; std::uint64_t pairsLeft; std::size_t left; };
    const Case cases[] = {
        {{0, 1, 2, 0, 2, 1}, 1, 2},
        {{0, 1, 2, 1, 2, 0, 2, 1, 0}, 1, 3},           // same-wound copies beside the pair
        {{0, 1, 2, 1, 2, 0}, 0, 2},                    // same winding only
        {{0, 1, 2, 2, 1, 0, 1, 2, 0, 0, 2, 1}, 2, 4},  // two pairs
        {{0, 0, 1, 0, 1, 0, 1, 0, 0}, 0, 3},           // a repeated corner is no opposite winding
        {{0, 1, 2, 1, 2, 3}, 0, 2},
    };
    for (const Case& c : cases) {
        TriangleMesh mesh = MeshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, c.indices);
        const RepeatedFacesReport report = RemoveDoubleSkinnedPairs(mesh);
        EXPECT_EQ(report.pairsLeft, c.pairsLeft) << c.indices.size();
        EXPECT_FALSE(report.Changed());
        EXPECT_EQ(std::pair(mesh.TriangleCount(), mesh.vertices.size()), std::pair(c.left, std::size_t{4}));
        EXPECT_EQ(mesh.indices, c.indices);
    }
}

// Every facet of `mesh` also written the other way round; the copies first when `copiesFirst`.
TriangleMesh DoubleSided(TriangleMesh mesh, bool copiesFirst)
{
    std::vector<std::uint32_t> copies;
    for (std::size_t i = 0; i < mesh.indices.size(); i += 3)
        copies.insert(copies.end(), {mesh.indices[i], mesh.indices[i + 2], mesh.indices[i + 1]});
    mesh.indices.insert(copiesFirst ? mesh.indices.begin() : mesh.indices.end(), copies.begin(), copies.end());
    return mesh;
}

// A face of a closed body with a copy wound the other way: only the copy goes, wherever it
// stands in the file, and the body stays closed; so too for copies of neighbouring faces,
// which disown each other. A body written double-sided keeps the copies that face outward,
// whichever comes first. A pair whose both faces have agreeing neighbours (two bodies pressed
// together face to face) still goes whole; a lone pair with no neighbours stays as it is.
TEST(RemoveDoubleSkinnedPairs, FlippedCopyOfAClosedBodysFaceLeavesItClosed)
{
    const auto withCopies = [](std::vector<std::size_t> faces, bool copyFirst) {
        TriangleMesh cube = MakeTestCube(10.0f);
        std::vector<std::uint32_t> copies;
        for (const std::size_t face : faces)
            copies.insert(copies.end(), {cube.indices[3 * face], cube.indices[3 * face + 2], cube.indices[3 * face + 1]});
        cube.indices.insert(copyFirst ? cube.indices.begin() : cube.indices.end(), copies.begin(), copies.end());
        return cube;
    };
    struct Case {
        const char* name;
        TriangleMesh mesh;
        std::uint64_t pairs, flipped, inner, pairsLeft;
        std::size_t left;
        bool closed;
        float volume = 999.0f;
    };
    Case cases[] = {
        {"copy after the face", withCopies({0}, false), 0, 1, 0, 0, 12, true},
        {"copy before the face", withCopies({5}, true), 0, 1, 0, 0, 12, true},
        {"copies of three neighbouring faces", withCopies({0, 1, 2}, false), 0, 3, 0, 0, 12, true},
        {"copies of half the faces", withCopies({0, 1, 2, 3, 4, 5}, true), 0, 6, 0, 0, 12, true},
        {"double-sided cube", DoubleSided(MakeTestCube(10.0f), false), 0, 0, 12, 0, 12, true},
        {"double-sided cube, copies first", DoubleSided(MakeTestCube(10.0f), true), 0, 0, 12, 0, 12, true},
        {"double-sided sphere", DoubleSided(MakeTestSphere(10.0f), true), 0, 0, 9024, 0, 9024, true, 4000.0f},
        {"two cubes pressed face to face", test::MakeWeldedCubePair({10.0f, 0.0f, 0.0f}), 2, 0, 0, 0, 20, true, 1999.0f},
        {"a lone pair with no neighbours", MeshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2, 0, 2, 1}), 0, 0, 0, 1,
            2, false},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RepeatedFacesReport report = RemoveDoubleSkinnedPairs(c.mesh);
        EXPECT_EQ(std::tuple(report.doubleSkinnedPairsRemoved, report.flippedCopiesRemoved, report.innerCopiesRemoved,
                      report.pairsLeft),
            std::tuple(c.pairs, c.flipped, c.inner, c.pairsLeft));
        EXPECT_EQ(c.mesh.TriangleCount(), c.left);
        if (c.closed) {
            const EdgeCounts edges = CountEdges(c.mesh);
            EXPECT_EQ(std::pair(edges.boundary, edges.nonManifold), std::pair(std::uint64_t{0}, std::uint64_t{0}));
            EXPECT_GT(c.mesh.Volume(), c.volume);
        }
    }
}

// Faces written twice, in the same winding or flipped, come away before anything judges the
// edges, so the non-manifold passes meet the closed body beneath.
TEST(RemoveRepeatedFaces, EveryFaceTwiceLeavesTheBodyOnce)
{
    TriangleMesh doubled = MakeTestSphere(10.0f);
    const std::size_t once = doubled.TriangleCount();
    const std::vector<std::uint32_t> again = doubled.indices;
    doubled.indices.insert(doubled.indices.end(), again.begin(), again.end());
    const RepeatedFacesReport report = RemoveRepeatedFaces(doubled);
    EXPECT_EQ(report.duplicatesRemoved, once);
    EXPECT_EQ(report.doubleSkinnedPairsRemoved, 0u);
    EXPECT_EQ(doubled.indices, again);
    EXPECT_EQ(CountNonManifoldEdges(doubled), 0u);
}

TEST(SeparateNonManifoldEdges, WingWithARepeatedCornerIsSkipped)
{
    // A degenerate triangle (a, b, a) on the shared edge has no third corner.
    TriangleMesh mesh = BoxesSharingAnEdge(10.0f);
    const std::vector<EdgeRecord> table = BuildEdgeTable(mesh);
    EdgeKey shared = 0;
    for (std::size_t i = 0; i + 3 < table.size(); ++i) {
        if (table[i].key == table[i + 3].key)
            shared = table[i].key;
    }
    const std::uint32_t a = static_cast<std::uint32_t>(shared >> 32), b = static_cast<std::uint32_t>(shared);
    mesh.indices.insert(mesh.indices.end(), {a, b, a});
    SeparateNonManifoldEdges(mesh);
    EXPECT_TRUE(mesh.IsConsistent());
    // The boxes still came apart; only the empty triangle is left on the old edge.
    std::uint64_t full = 0;
    for (std::size_t t = 0; t + 1 < mesh.TriangleCount(); ++t) {
        const std::uint32_t* c = &mesh.indices[3 * t];
        full += (c[0] == a || c[1] == a || c[2] == a) && (c[0] == b || c[1] == b || c[2] == b) ? 1 : 0;
    }
    EXPECT_LE(full, 2u);
}

TEST(FixNonManifoldEdges, RefillsSmallHolesOnlyAndLeavesCleanMeshesAlone)
{
    // 2 mm boxes: each hole the removal makes is 3.46 mm across, under the 5 mm limit.
    TriangleMesh mesh = BoxesSharingAnEdge(2.0f);
    ASSERT_EQ(CountNonManifoldEdges(mesh), 1u);
    EXPECT_EQ(FixNonManifoldEdges(mesh), 0u);
    EXPECT_EQ(std::tuple(CountNonManifoldEdges(mesh), CountEdges(mesh).boundary, mesh.TriangleCount(), CountBodies(mesh), mesh.boundsValid),
              std::tuple(0u, 0u, 24u, 2u, true));
    // 10 mm boxes: the holes are too large and too wide to refill; a cube has nothing to do.
    for (const auto& [before, left] : {std::pair{BoxesSharingAnEdge(10.0f), 1u}, std::pair{MakeTestCube(10.0f), 0u}}) {
        TriangleMesh mesh = before;
        EXPECT_EQ(FixNonManifoldEdges(mesh), left);
        EXPECT_EQ(std::pair(mesh.indices, mesh.vertices.size()), std::pair(before.indices, before.vertices.size()));
    }
    TriangleMesh cube = MakeTestCube(10.0f);
    EXPECT_EQ(SeparateNonManifoldEdges(cube), 0u);
}

// The output of varied inputs, pinned to the bit: reorganising the pass must change nothing.
// Random triangles over a small vertex pool give edges of three to many wings; the noisy
// sphere has holes beside its fins.
TEST(SeparateNonManifoldEdges, OutputOfVariedInputsIsPinned)
{
    struct Case { const char* name; TriangleMesh mesh; std::uint64_t checksum; };
    TriangleMesh noisyBoxes = BoxesSharingAnEdge(10.0f);
    std::mt19937 random(8);
    std::uniform_real_distribution<float> jitter(-0.05f, 0.05f);
    for (MeshVertex& v : noisyBoxes.vertices)
        v.position = v.position + Vec3{jitter(random), jitter(random), jitter(random)};
    noisyBoxes.indices.erase(noisyBoxes.indices.begin() + 9, noisyBoxes.indices.begin() + 12);  // a hole
    const Case cases[] = {
        {"pooled soup 60", test::MakeRandomTriangles(1, 400, 10.0f, 2.0f, 60), 0x2a2349224167a958},
        {"pooled soup 200", test::MakeRandomTriangles(2, 900, 20.0f, 3.0f, 200), 0x3fc47c1881e461e0},
        {"boxes sharing an edge", BoxesSharingAnEdge(10.0f), 0x5205afc7bc8a92d6},
        {"noisy boxes with a hole", noisyBoxes, 0x9bd246f5db4a7ea5},
        {"noisy sphere, holes and fins", test::MakeNoisySphereWithHoles(3, 0.05f, 37, 11), 0xd5471cc77bcf5a07},
        {"noisy sphere, fins only", test::MakeNoisySphereWithHoles(4, 0.2f, 0, 5), 0x4f35b51926af31cc},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TriangleMesh mesh = c.mesh;
        const std::uint64_t added = SeparateNonManifoldEdges(mesh);
        test::Fnv1a sum;
        test::AddMesh(sum, mesh).AddValue(added);
        EXPECT_EQ(sum.Value(), c.checksum) << std::hex << sum.Value() << std::dec << " after " << added << " copies";
    }
}

}  // namespace
}  // namespace grainforge::mesh
