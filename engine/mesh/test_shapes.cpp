#include "engine/mesh/test_shapes.h"

#include <cmath>
#include <cstdint>
#include <initializer_list>

namespace grainforge::mesh {
namespace {

constexpr std::uint32_t kCylinderSegments = 64;
constexpr std::uint32_t kSphereBands = 48;
constexpr std::uint32_t kSphereSegments = 96;

// Sizes below zero (and NaN) collapse the shape to the origin.
float ClampSize(float size) { return size > 0.0f ? size : 0.0f; }

void AddVertex(TriangleMesh& mesh, float x, float y, float z) { mesh.vertices.push_back({{x, y, z}, {}}); }

void AddTriangle(TriangleMesh& mesh, std::uint32_t a, std::uint32_t b, std::uint32_t c)
{
    mesh.indices.insert(mesh.indices.end(), {a, b, c});
}

// Every shape ends with its box and vertex normals.
TriangleMesh Finish(TriangleMesh mesh)
{
    mesh.ComputeBounds();
    mesh.ComputeVertexNormals();
    return mesh;
}

}  // namespace

TriangleMesh MakeTestCube(float edge)
{
    const float h = ClampSize(edge) * 0.5f;
    TriangleMesh cube;
    cube.vertices.reserve(8);
    cube.indices.reserve(36);
    // Corners 0-3 run counter-clockwise round the bottom seen from above, 4-7 likewise the top.
    static constexpr float kCorners[8][3] = {
        {-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1},
        {-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, 1, 1},
    };
    for (const auto& c : kCorners)
        AddVertex(cube, c[0] * h, c[1] * h, c[2] * h);
    static constexpr std::uint32_t kTriangles[12][3] = {
        {0, 2, 1}, {0, 3, 2},  // bottom
        {4, 5, 6}, {4, 6, 7},  // top
        {0, 1, 5}, {0, 5, 4},  // front (y = -h)
        {3, 7, 6}, {3, 6, 2},  // back
        {0, 4, 7}, {0, 7, 3},  // left (x = -h)
        {1, 2, 6}, {1, 6, 5},  // right
    };
    for (const auto& t : kTriangles)
        AddTriangle(cube, t[0], t[1], t[2]);
    return Finish(std::move(cube));
}

TriangleMesh MakeTestCylinder(float radius, float height)
{
    const float r = ClampSize(radius);
    const float h = ClampSize(height) * 0.5f;
    TriangleMesh cylinder;
    cylinder.vertices.reserve(2 + 2 * kCylinderSegments);
    cylinder.indices.reserve(3 * 4 * kCylinderSegments);
    AddVertex(cylinder, 0.0f, 0.0f, -h);
    AddVertex(cylinder, 0.0f, 0.0f, h);
    for (std::uint32_t i = 0; i < kCylinderSegments; ++i) {
        const float angle = static_cast<float>(i) * 6.2831855f * 0.015625f;
        const float x = std::cos(angle) * r;
        const float y = std::sin(angle) * r;
        AddVertex(cylinder, x, y, -h);
        AddVertex(cylinder, x, y, h);
    }
    for (std::uint32_t i = 0; i < kCylinderSegments; ++i) {
        const std::uint32_t b0 = 2 + 2 * i;
        const std::uint32_t t0 = b0 + 1;
        const std::uint32_t b1 = 2 + 2 * ((i + 1) % kCylinderSegments);
        const std::uint32_t t1 = b1 + 1;
        AddTriangle(cylinder, 0, b1, b0);
        AddTriangle(cylinder, 1, t0, t1);
        AddTriangle(cylinder, b0, b1, t1);
        AddTriangle(cylinder, b0, t1, t0);
    }
    return Finish(std::move(cylinder));
}

TriangleMesh MakeTestSphere(float radius)
{
    const float r = ClampSize(radius);
    constexpr std::uint32_t rings = kSphereBands - 1;
    constexpr std::uint32_t north = 1 + rings * kSphereSegments;
    TriangleMesh sphere;
    sphere.vertices.reserve(north + 1);
    sphere.indices.reserve(3 * 2 * kSphereSegments * rings);
    AddVertex(sphere, 0.0f, 0.0f, -r);
    for (std::uint32_t j = 1; j <= rings; ++j) {
        const float latitude = static_cast<float>(j) * 3.1415927f / 48.0f - 1.5707964f;
        const float rho = std::cos(latitude) * r;
        const float z = std::sin(latitude) * r;
        for (std::uint32_t k = 0; k < kSphereSegments; ++k) {
            const float longitude = static_cast<float>(k) * 6.2831855f / 96.0f;
            AddVertex(sphere, std::cos(longitude) * rho, std::sin(longitude) * rho, z);
        }
    }
    AddVertex(sphere, 0.0f, 0.0f, r);

    auto ringVertex = [](std::uint32_t j, std::uint32_t k) { return 1 + kSphereSegments * (j - 1) + k % kSphereSegments; };
    for (std::uint32_t k = 0; k < kSphereSegments; ++k)
        AddTriangle(sphere, 0, ringVertex(1, k + 1), ringVertex(1, k));
    for (std::uint32_t j = 1; j < rings; ++j) {
        for (std::uint32_t k = 0; k < kSphereSegments; ++k) {
            const std::uint32_t a = ringVertex(j, k);
            const std::uint32_t b = ringVertex(j, k + 1);
            const std::uint32_t c = b + kSphereSegments;
            const std::uint32_t d = a + kSphereSegments;
            AddTriangle(sphere, a, b, c);
            AddTriangle(sphere, a, c, d);
        }
    }
    for (std::uint32_t k = 0; k < kSphereSegments; ++k)
        AddTriangle(sphere, ringVertex(rings, k), ringVertex(rings, k + 1), north);
    return Finish(std::move(sphere));
}

}  // namespace grainforge::mesh
