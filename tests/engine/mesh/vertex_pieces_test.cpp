#include "engine/mesh/vertex_pieces.h"

#include "tests/support/mesh_of.h"

#include <gtest/gtest.h>

namespace grainforge::mesh {
namespace {

// Triangles touching at one corner are one piece; an unused vertex, and the corners of a
// triangle that names no vertex, are pieces of their own.
TEST(LabelVertexPieces, VerticesJoinThroughTheTrianglesTheyShare)
{
    const TriangleMesh mesh = test::MeshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {2, 0, 0}, {2, 1, 0}, {5, 5, 5}, {6, 6, 6}},
        {0, 1, 2, 1, 3, 4, 5, 6, 99});
    const std::vector<std::uint32_t> p = LabelVertexPieces(mesh);
    ASSERT_EQ(p.size(), 7u);
    EXPECT_TRUE(p[0] == p[2] && p[2] == p[3] && p[3] == p[4]);
    EXPECT_TRUE(p[5] != p[6] && p[5] != p[0] && p[6] != p[0]);
}

}  // namespace
}  // namespace grainforge::mesh
