#include "engine/mesh/test_shapes.h"

#include "engine/mesh/welding.h"

#include <gtest/gtest.h>

#include <cmath>

namespace grainforge::mesh {
namespace {

struct Shape { const char* name; TriangleMesh mesh; std::size_t vertices; std::size_t triangles; };

TEST(TestShapes, AreClosedOutwardSingleBodiesWithTheirCounts)
{
    const Shape shapes[] = {
        {"cube", MakeTestCube(20.0f), 8, 12},
        {"cylinder", MakeTestCylinder(10.0f, 20.0f), 130, 256},
        {"sphere", MakeTestSphere(10.0f), 4514, 9024},
    };
    for (const Shape& shape : shapes) {
        const TriangleMesh& mesh = shape.mesh;
        SCOPED_TRACE(shape.name);
        EXPECT_EQ(mesh.vertices.size(), shape.vertices);
        EXPECT_EQ(mesh.TriangleCount(), shape.triangles);
        const EdgeCounts edges = CountEdges(mesh);
        EXPECT_EQ(edges.boundary + edges.nonManifold, 0u);
        EXPECT_EQ(CountBodies(mesh), 1u);
        TriangleMesh copy = mesh;
        EXPECT_EQ(CountDuplicateTriangles(copy) + RemoveDegenerateTriangles(copy, false) + WeldIdenticalVertices(copy), 0u);
        // Convex and centred on the origin: every face's normal points away from it.
        for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
            const Vec3 centroid = (mesh.vertices[mesh.indices[3 * t]].position + mesh.vertices[mesh.indices[3 * t + 1]].position +
                mesh.vertices[mesh.indices[3 * t + 2]].position) * (1.0f / 3.0f);
            ASSERT_GT(Dot(mesh.FaceNormal(t), centroid), 0.0f) << "triangle " << t;
        }
        EXPECT_TRUE(mesh.boundsValid);
        for (const MeshVertex& vertex : mesh.vertices)
            ASSERT_NEAR(Dot(vertex.normal, vertex.normal), 1.0f, 1e-5f);
    }
    for (const MeshVertex& vertex : MakeTestSphere(10.0f).vertices)
        ASSERT_NEAR(Dot(vertex.position, vertex.position), 100.0f, 1e-3f);
}

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
