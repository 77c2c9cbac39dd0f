#include "engine/mesh/crumb_removal.h"

#include "engine/mesh/test_shapes.h"
#include "tests/support/mesh_of.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <limits>
#include <vector>

namespace grainforge::mesh {
namespace {

using test::MeshOf;

constexpr std::uint64_t kKeepAll = std::numeric_limits<std::uint64_t>::max();
constexpr float kCrumbLimit = 0.07408799f;

// A sheet of rows x columns quads far from the little cubes placed near the origin.
TriangleMesh Part(std::uint32_t rows, std::uint32_t columns)
{
    return test::Translated(test::MakeWavyGrid(rows, columns), {100.0f, 100.0f, 100.0f});
}

TEST(RemoveCrumbs, OneBodyIsLeftAloneHoweverSmall)
{
    TriangleMesh mesh = MakeTestCube(0.1f);
    std::uint64_t removed = 0;
    EXPECT_EQ(RemoveCrumbs(mesh, 1, &removed, 1000.0f) + RemoveCrumbs(mesh, kKeepAll, &removed, 1000.0f), 0u);
    EXPECT_EQ(std::tuple(removed, mesh.TriangleCount()), std::tuple(0u, 12u));
}

TEST(RemoveCrumbs, TinyCubeBesideALargePartIsRemovedAndRecorded)
{
    const TriangleMesh part = Part(100, 100);
    ASSERT_EQ(part.TriangleCount(), 20000u);
    TriangleMesh mesh = test::Combined(part, MakeTestCube(0.1f));
    std::uint64_t removed = 5;
    std::vector<CrumbRecord> records(1);  // appended to, not replaced
    EXPECT_EQ(RemoveCrumbs(mesh, kKeepAll, &removed, kCrumbLimit, &records), 1u);
    EXPECT_EQ(removed, 17u);
    EXPECT_TRUE(mesh.vertices.size() == part.vertices.size() && mesh.indices == part.indices);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(std::tuple(records[0].triangleCount, records[1].triangleCount, records[1].boxMin, records[1].boxMax),
              std::tuple(0u, 12u, Vec3{-0.05f, -0.05f, -0.05f}, Vec3{0.05f, 0.05f, 0.05f}));
    EXPECT_NEAR(records[1].volume, 0.001, 1e-6);
    // 12 x 100 is not below 1,000: beside a small part the cube is more than a hundredth of it.
    TriangleMesh small = test::Combined(Part(25, 20), MakeTestCube(0.1f));
    EXPECT_EQ(RemoveCrumbs(small, kKeepAll, nullptr, kCrumbLimit), 0u);
}

TEST(RemoveCrumbs, KeepLargestDecidesWithoutVolumeTest)
{
    // A large cube of 12 triangles beside a sheet of 2,000: removed by rank whatever its volume.
    struct Case { std::uint64_t keep; std::uint64_t removed; };
    for (const Case c : {Case{0, 2}, Case{1, 2}, Case{2, 1}, Case{3, 0}, Case{kKeepAll, 0}}) {
        TriangleMesh mesh = test::Combined(test::Combined(Part(50, 20), MakeTestCube(30.0f)),
                                           test::Translated(MakeTestCube(1.0f), {-60, 0, 0}));
        EXPECT_EQ(RemoveCrumbs(mesh, c.keep), c.removed) << c.keep;
        EXPECT_EQ(mesh.TriangleCount(), 2024u - 12u * c.removed) << c.keep;
    }
}

TEST(RemoveCrumbs, BodiesTouchingAtOneVertexAreSeparate)
{
    // The cube's first vertex is replaced by the grid's first: one shared vertex, no shared edge.
    const TriangleMesh part = Part(100, 100);
    TriangleMesh mesh = test::Combined(part, MakeTestCube(1.0f));
    const std::uint32_t firstCubeVertex = static_cast<std::uint32_t>(part.vertices.size());
    for (std::uint32_t& i : mesh.indices) {
        if (i == firstCubeVertex)
            i = 0;
    }
    std::vector<CrumbRecord> records;
    EXPECT_EQ(RemoveCrumbs(mesh, 1, nullptr, 0.0f, &records), 1u);
    EXPECT_EQ(mesh.TriangleCount(), 20000u);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].volume, 0.0);  // no volume test, no volume
}

// Flat triangle t = (a, b, c) with c on the middle of its longest edge a-b; neighbour
// u = (b, a, d) across a-b, properly wound.
TriangleMesh FlatPair(bool withNeighbour)
{
    return MeshOf({{0, 0, 0}, {2, 0, 0}, {1, 0, 0}, {1, -1, 0}},
                  withNeighbour ? std::vector<std::uint32_t>{0, 1, 2, 1, 0, 3}
                                : std::vector<std::uint32_t>{0, 1, 2});
}

TEST(RemoveNoAreaTriangles, FlatTriangleIsTurnedAway)
{
    TriangleMesh mesh = FlatPair(true);
    EXPECT_TRUE(IsNoAreaTriangle(mesh, 0));
    EXPECT_EQ(RemoveNoAreaTriangles(mesh), 1u);
    EXPECT_EQ(mesh.indices, (std::vector<std::uint32_t>{0, 3, 2, 3, 1, 2}));
    for (std::uint64_t t = 0; t < 2; ++t) {
        EXPECT_FALSE(IsNoAreaTriangle(mesh, t));
        EXPECT_GT(mesh.FaceNormal(t).z, 0.0f);  // same side as the neighbour was
    }
}

TEST(RemoveNoAreaTriangles, CasesLeftUnchanged)
{
    TriangleMesh open = FlatPair(false);
    TriangleMesh sameWound = FlatPair(true);
    sameWound.indices = {0, 1, 2, 0, 1, 3};  // neighbour runs a to b as well
    TriangleMesh coincident = MeshOf({{0, 0, 0}, {0, 0, 0}, {1, 0, 0}, {0, -1, 0}}, {0, 1, 2, 1, 0, 3});
    for (TriangleMesh* mesh : {&open, &sameWound, &coincident}) {
        const std::vector<std::uint32_t> before = mesh->indices;
        EXPECT_EQ(RemoveNoAreaTriangles(*mesh), 0u);
        EXPECT_EQ(mesh->indices, before) << before.size();
    }
    EXPECT_FALSE(IsNoAreaTriangle(coincident, 0));
    EXPECT_FALSE(IsNoAreaTriangle(coincident, 7));
}

}  // namespace
}  // namespace grainforge::mesh
