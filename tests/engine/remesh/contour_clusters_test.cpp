#include "engine/remesh/contour_clusters.h"

#include "engine/mesh/test_shapes.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace grainforge::mesh {
namespace {

TriangleMesh CubesAt(const std::vector<Vec3>& corners, float edge = 10.0f)
{
    TriangleMesh mesh;
    for (const Vec3& at : corners)
        mesh = test::Combined(std::move(mesh), test::Translated(MakeTestCube(edge), at));
    mesh.ComputeBounds();
    return mesh;
}

// Groups cut wherever a gap separates them along some axis, again within each part; boxes that
// overlap in every projection but one still part; triangles of one body never do.
TEST(FindMeshClusters, CutsAlongEveryAxisAndKeepsBodiesWhole)
{
    TriangleMesh withNaN = MakeTestCube(10.0f);
    withNaN.vertices[0].position.x = std::nanf("");
    const struct {
        const char* name;
        TriangleMesh mesh;
        float gap;
        std::vector<std::size_t> triangles;  // per group, in order
    } cases[] = {
        {"two cubes 10 mm apart, gap 5", CubesAt({{0, 0, 0}, {20, 0, 0}}), 5.0f, {12, 12}},
        {"two cubes 10 mm apart, gap 20", CubesAt({{0, 0, 0}, {20, 0, 0}}), 20.0f, {24}},
        {"an L of three cubes", CubesAt({{0, 0, 0}, {100, 0, 0}, {100, 100, 0}}), 5.0f, {12, 12, 12}},
        {"overlapping along x, apart along y", CubesAt({{0, 0, 0}, {5, 100, 0}}), 5.0f, {12, 12}},
        {"a cube whose corners are not shared", test::ToSoup(MakeTestCube(10.0f)), 0.0f, {12}},
        {"a cube and a small one 3 m away, listed first", CubesAt({{3000, 0, 0}, {0, 0, 0}}), 1.0f, {12, 12}},
        {"a coordinate that is not a number", withNaN, 1.0f, {}},
        {"no triangles", TriangleMesh{}, 1.0f, {}},
    };
    for (const auto& c : cases) {
        const std::vector<MeshCluster> groups = FindMeshClusters(c.mesh, c.gap);
        std::vector<std::size_t> sizes;
        std::uint32_t next = 0;
        for (const MeshCluster& group : groups) {
            sizes.push_back(group.triangles.size());
            // Each group's triangles ascend, and the groups follow their first triangles.
            EXPECT_TRUE(std::is_sorted(group.triangles.begin(), group.triangles.end())) << c.name;
            EXPECT_GE(group.triangles.front(), next) << c.name;
            next = group.triangles.front();
        }
        EXPECT_EQ(sizes, c.triangles) << c.name;
    }
}

// Only a part one grid cannot hold at the cell is laid in grids of its own.
TEST(ClustersNeedingOwnGrids, OnlyWhereOneGridWouldCoarsenThePart)
{
    EXPECT_TRUE(ClustersNeedingOwnGrids(CubesAt({{0, 0, 0}, {50, 0, 0}}), 0.3f).empty());
    EXPECT_TRUE(ClustersNeedingOwnGrids(MakeTestCube(8176.0f), 1.0f).empty());
    const std::vector<MeshCluster> far = ClustersNeedingOwnGrids(CubesAt({{0, 0, 0}, {3000, 0, 0}}), 0.3f);
    ASSERT_EQ(far.size(), 2u);
    EXPECT_EQ(GridCellFor(far[1].boundsMax - far[1].boundsMin, 0.3f), 0.3f);
}

}  // namespace
}  // namespace grainforge::mesh
