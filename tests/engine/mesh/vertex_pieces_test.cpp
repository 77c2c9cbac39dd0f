#include "engine/mesh/vertex_pieces.h"

#include "tests/support/mesh_of.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace grainforge::mesh {
namespace {

// Two vertices share a piece exactly when their names are equal; the expected partition is
// written as one group number per vertex.
TEST(LabelVertexPieces, VerticesJoinThroughTheTrianglesTheyShare)
{
    const std::vector<Vec3> points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 0, 0}, {2, 1, 0}, {5, 5, 5}};
    const struct {
        const char* name;
        std::vector<std::uint32_t> indices;
        std::vector<int> group;
    } cases[] = {
        {"two triangles apart, an unused vertex alone", {0, 1, 2, 3, 4, 5}, {0, 0, 0, 1, 1, 1, 2}},
        {"two triangles touching at one corner are one piece", {0, 1, 2, 1, 4, 5}, {0, 0, 0, 1, 0, 0, 2}},
        {"a chain joined in the last triangle", {0, 1, 2, 3, 4, 5, 2, 6, 3}, {0, 0, 0, 0, 0, 0, 0}},
        {"a corner naming no vertex joins nothing", {0, 1, 2, 3, 4, 99}, {0, 0, 0, 1, 2, 3, 4}},
        {"no triangles", {}, {0, 1, 2, 3, 4, 5, 6}},
    };
    for (const auto& c : cases) {
        const TriangleMesh mesh = test::MeshOf(points, c.indices);
        const std::vector<std::uint32_t> piece = LabelVertexPieces(mesh);
        ASSERT_EQ(piece.size(), points.size()) << c.name;
        for (std::size_t a = 0; a < points.size(); ++a)
            for (std::size_t b = 0; b < points.size(); ++b)
                EXPECT_EQ(piece[a] == piece[b], c.group[a] == c.group[b]) << c.name << ": vertices " << a << ", " << b;
    }
}

}  // namespace
}  // namespace grainforge::mesh
