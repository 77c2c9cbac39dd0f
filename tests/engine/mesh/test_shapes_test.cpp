#include "engine/mesh/test_shapes.h"

#include <gtest/gtest.h>

#include <cmath>

namespace grainforge::mesh {
namespace {

struct Shape { const char* name; TriangleMesh mesh; std::size_t vertices; std::size_t triangles; };

TEST(TestShapes, NegativeSizesKeepTheCountsAndCollapse)
{
    const Shape collapsed[] = {
        {"cube", MakeTestCube(-5.0f), 8, 12},
        {"cube of NaN edge", MakeTestCube(std::nanf("")), 8, 12},
        {"cylinder", MakeTestCylinder(-1.0f, -1.0f), 130, 256},
        {"sphere", MakeTestSphere(-3.0f), 4514, 9024},
    };
    for (const Shape& shape : collapsed) {
        SCOPED_TRACE(shape.name);
        EXPECT_EQ(shape.mesh.vertices.size(), shape.vertices);
        EXPECT_EQ(shape.mesh.TriangleCount(), shape.triangles);
        for (const MeshVertex& vertex : shape.mesh.vertices) {
            ASSERT_EQ(vertex.position, Vec3{});
            ASSERT_EQ(vertex.normal, Vec3{});
        }
    }
}

}  // namespace
}  // namespace grainforge::mesh
