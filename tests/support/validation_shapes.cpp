#include "tests/support/validation_shapes.h"

#include <cmath>
#include <random>

namespace grainforge::test {

mesh::TriangleMesh MakeTetrahedron()
{
    mesh::TriangleMesh mesh;
    for (mesh::Vec3 p : {mesh::Vec3{0, 0, 0}, mesh::Vec3{10, 0, 0}, mesh::Vec3{0, 10, 0}, mesh::Vec3{0, 0, 10}})
        mesh.vertices.push_back({p, {}});
    mesh.indices = {0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3};
    mesh.ComputeBounds();
    mesh.ComputeVertexNormals();
    return mesh;
}

mesh::TriangleMesh MakeMoebiusStrip(std::uint32_t segments)
{
    mesh::TriangleMesh mesh;
    const double pi = 3.14159265358979323846;
    for (std::uint32_t k = 0; k < segments; ++k) {
        const double angle = 2 * pi * k / segments;
        const double twist = angle / 2;
        for (double side : {-2.0, 2.0}) {
            const double radius = 10 + side * std::cos(twist);
            mesh.vertices.push_back({{static_cast<float>(radius * std::cos(angle)),
                                         static_cast<float>(radius * std::sin(angle)),
                                         static_cast<float>(side * std::sin(twist))},
                {}});
        }
    }
    for (std::uint32_t k = 0; k < segments; ++k) {
        const std::uint32_t a = 2 * k, b = 2 * k + 1;
        // The last quad joins the first with its sides exchanged: the half twist.
        const bool last = k + 1 == segments;
        const std::uint32_t c = last ? 1 : 2 * (k + 1);
        const std::uint32_t d = last ? 0 : 2 * (k + 1) + 1;
        mesh.indices.insert(mesh.indices.end(), {a, c, b, b, c, d});
    }
    mesh.ComputeBounds();
    return mesh;
}

mesh::TriangleMesh MakeRandomTriangles(std::uint32_t seed, std::uint32_t count, float extent, float size,
    std::uint32_t vertexPool)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> position(0.0f, extent);
    std::uniform_real_distribution<float> offset(-1.0f, 1.0f);
    mesh::TriangleMesh mesh;
    auto randomPoint = [&] { return mesh::Vec3{position(random), position(random), position(random)}; };
    if (vertexPool > 0) {
        for (std::uint32_t v = 0; v < vertexPool; ++v)
            mesh.vertices.push_back({randomPoint(), {}});
        std::uniform_int_distribution<std::uint32_t> pick(0, vertexPool - 1);
        for (std::uint32_t t = 0; t < count; ++t) {
            const std::uint32_t a = pick(random);
            std::uint32_t b = pick(random), c = pick(random);
            while (b == a)
                b = pick(random);
            while (c == a || c == b)
                c = pick(random);
            mesh.indices.insert(mesh.indices.end(), {a, b, c});
        }
    } else {
        for (std::uint32_t t = 0; t < count; ++t) {
            const float scale = t % 20 == 19 ? size * 10 : size;
            const mesh::Vec3 centre = randomPoint();
            for (int k = 0; k < 3; ++k) {
                mesh.indices.push_back(static_cast<std::uint32_t>(mesh.vertices.size()));
                mesh.vertices.push_back(
                    {centre + mesh::Vec3{offset(random), offset(random), offset(random)} * scale, {}});
            }
        }
    }
    mesh.ComputeBounds();
    return mesh;
}

}  // namespace grainforge::test
