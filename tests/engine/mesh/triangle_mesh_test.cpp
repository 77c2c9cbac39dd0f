#include "engine/mesh/triangle_mesh.h"

#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/test_shapes.h"
#include "tests/support/mesh_of.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <random>
#include <set>

namespace grainforge::mesh {
namespace {

bool SameBits(Vec3 a, Vec3 b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::array<std::uint64_t, 4> Counts(const EdgeCounts& c) { return {c.edges, c.boundary, c.manifold, c.nonManifold}; }

// A mesh of random triangles over a small vertex pool: many shared, repeated and degenerate
// corners, big enough to spread over many hash and vertex buckets.
TriangleMesh MakeRandomMesh(std::size_t triangles, std::uint32_t vertices, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> coordinate(-50.0f, 50.0f);
    std::uniform_int_distribution<std::uint32_t> vertex(0, vertices - 1);
    TriangleMesh mesh;
    for (std::uint32_t v = 0; v < vertices; ++v)
        mesh.vertices.push_back({{coordinate(random), coordinate(random), coordinate(random)}, {}});
    for (std::size_t i = 0; i < 3 * triangles; ++i)
        mesh.indices.push_back(vertex(random));
    return mesh;
}

TEST(TriangleMesh, CubeVolumeAreaEdgesAndBoxAlsoInsideOutFarAwayAndWithAStrayVertex)
{
    const TriangleMesh cube = MakeTestCube(20.0f);
    EXPECT_EQ(std::tuple(cube.Volume(), cube.SurfaceArea(), test::Flipped(cube).Volume(), Counts(CountEdges(cube))),
              std::tuple(8000.0f, 2400.0f, -8000.0f, std::array<std::uint64_t, 4>{18, 0, 18, 0}));
    // Far from the origin the float products lose the cube: only a 64-bit accumulation keeps it.
    EXPECT_NEAR(test::Translated(cube, {1.0e5f, 1.0e5f, 1.0e5f}).Volume(), 8000.0f, 1.0f);
    // A float sum stalled at a third of a fine 800 mm2 plate's area (67 million triangles), and
    // Process called the plate lost: a 1,000 mm2 triangle and 100,000 of 1e-5 mm2 sum to 1,001.
    TriangleMesh fine = test::MeshOf({{0, 0, 0}, {50, 0, 0}, {0, 40, 0}, {0, 0, 1}, {0.002f, 0, 1}, {0, 0.01f, 1}}, {0, 1, 2});
    for (int t = 0; t < 100000; ++t)
        fine.indices.insert(fine.indices.end(), {3, 4, 5});
    EXPECT_NEAR(fine.SurfaceArea(), 1001.0f, 0.01f);
    TriangleMesh withUnused = cube;
    withUnused.vertices.push_back({{-30, 0, 40}, {}});
    withUnused.ComputeBounds();
    EXPECT_EQ(std::tuple(withUnused.boundsMin, withUnused.boundsMax), std::tuple(Vec3{-30, -10, -10}, Vec3{10, 10, 40}));
}

TEST(TriangleMesh, VertexNormalsMatchTheSerialSumBitForBitOnAnyThreadCount)
{
    // Float sums depend on their order: each vertex must add its triangles in triangle order.
    // A row-by-row grid takes the vertex-chunk path, scattered random triangles the hash path.
    for (TriangleMesh mesh : {test::MakeWavyGrid(500, 700), MakeRandomMesh(300000, 40000, 7)}) {
        std::vector<Vec3> expected(mesh.vertices.size());
        for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
            const Vec3 p0 = mesh.vertices[mesh.indices[3 * t]].position;
            const Vec3 n = Cross(mesh.vertices[mesh.indices[3 * t + 1]].position - p0,
                mesh.vertices[mesh.indices[3 * t + 2]].position - p0);
            for (int k = 0; k < 3; ++k)
                expected[mesh.indices[3 * t + k]] += n;
        }
        for (const bool serial : {true, false}) {
            std::optional<ThreadLimit> limit;
            if (serial)
                limit.emplace(1);
            mesh.ComputeVertexNormals();
            for (std::size_t v = 0; v < mesh.vertices.size(); ++v)
                ASSERT_TRUE(SameBits(mesh.vertices[v].normal, Normalized(expected[v]))) << "vertex " << v;
        }
    }
}

TEST(SampleMedianEdgeLength, SamplesEverySecondTriangleFrom80002Triangles)
{
    // Even triangles have edges of 1, odd ones edges of 2. With an even triangle count, sampling
    // all gives as many 2s as 1s, so the upper middle is 2; every second triangle gives 1s only.
    auto make = [](std::size_t triangles) {
        TriangleMesh mesh = test::MeshOf({{0, 0, 0}, {1, 0, 0}, {0.5f, std::sqrt(0.75f), 0}, {0, 0, 0}, {2, 0, 0},
                                          {1, std::sqrt(3.0f), 0}}, {});
        for (std::size_t t = 0; t < triangles; ++t) {
            const std::uint32_t base = t % 2 == 0 ? 0 : 3;
            mesh.indices.insert(mesh.indices.end(), {base, base + 1, base + 2});
        }
        return mesh;
    };
    EXPECT_NEAR(SampleMedianEdgeLength(make(80000)), 2.0f, 1e-5f);
    EXPECT_NEAR(SampleMedianEdgeLength(make(80002)), 1.0f, 1e-5f);
}

TEST(CountBodies, CountsComponentsOfUsedVerticesJoinedByIndex)
{
    // Touching through distinct vertices at the same place: two bodies; through one index: one.
    const TriangleMesh bowtie = test::MeshOf({{}, {}, {}, {}, {}}, {0, 1, 2, 0, 3, 4});
    EXPECT_EQ(std::tuple(CountBodies(test::MakeTwoCubes()), CountBodies(test::MakeCubeSoup()), CountBodies(bowtie)),
              std::tuple(2u, 12u, 1u));
}

TEST(BuildVertexAdjacency, ListsCornersInOrderAndDistinctNeighbours)
{
    // Triangle 2 names vertex 3 twice; 4 is unused.
    const TriangleMesh mesh = test::MeshOf({{}, {}, {}, {}, {}}, {0, 1, 2, 2, 1, 3, 3, 3, 0});
    const VertexAdjacency adjacency = BuildVertexAdjacency(mesh);
    EXPECT_EQ(adjacency.triangleOffsets, (std::vector<std::uint32_t>{0, 2, 4, 6, 9, 9}));
    EXPECT_EQ(adjacency.triangles, (std::vector<std::uint32_t>{0, 2, 0, 1, 0, 1, 1, 2, 2}));
    EXPECT_EQ(adjacency.neighbourOffsets, (std::vector<std::uint32_t>{0, 3, 6, 9, 12, 12}));
    EXPECT_EQ(adjacency.neighbours, (std::vector<std::uint32_t>{1, 2, 3, 0, 2, 3, 0, 1, 3, 0, 1, 2}));
}

// Edge counts by sorting every use's key.
EdgeCounts ReferenceEdgeCounts(const TriangleMesh& mesh)
{
    std::vector<EdgeKey> keys;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const std::uint32_t* c = &mesh.indices[3 * t];
        keys.insert(keys.end(), {MakeEdgeKey(c[0], c[1]), MakeEdgeKey(c[1], c[2]), MakeEdgeKey(c[0], c[2])});
    }
    std::sort(keys.begin(), keys.end());
    EdgeCounts expected;
    for (std::size_t i = 0, j = 0; i < keys.size(); i = j) {
        while (j < keys.size() && keys[j] == keys[i])
            ++j;
        ++expected.edges;
        ++(j - i == 1 ? expected.boundary : j - i == 2 ? expected.manifold : expected.nonManifold);
    }
    return expected;
}

TEST(CountEdges, MatchesSortedUsesOnLargeMeshes)
{
    // Random triangles over few vertices fill all three categories (and take the hash path);
    // the grid with fins takes the vertex-chunk path; the fan's centre has 200,000 edges.
    TriangleMesh gridWithFins = test::MakeWavyGrid(400, 600);
    for (std::uint32_t t = 0; t < gridWithFins.TriangleCount(); t += 97)
        gridWithFins.indices.insert(gridWithFins.indices.end(), gridWithFins.indices.begin() + 3 * t,
            gridWithFins.indices.begin() + 3 * t + 3);
    const std::pair<const char*, TriangleMesh> meshes[] = {
        {"random", MakeRandomMesh(300000, 1500, 5)},
        {"grid with fins", gridWithFins},
        {"fan", test::MakeFan(200000)},
    };
    for (const auto& [name, mesh] : meshes)
        EXPECT_EQ(Counts(CountEdges(mesh)), Counts(ReferenceEdgeCounts(mesh))) << name;
    EXPECT_GT(ReferenceEdgeCounts(meshes[0].second).nonManifold, 0u);
    EXPECT_GT(ReferenceEdgeCounts(meshes[1].second).nonManifold, 0u);
}

}  // namespace
}  // namespace grainforge::mesh
