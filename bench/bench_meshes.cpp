#include "bench/bench_meshes.h"

#include <cmath>

namespace grainforge::bench {

namespace {

// A UV sphere whose radius at a latitude and longitude is radiusAt(latitude, longitude).
template <typename Radius>
mesh::TriangleMesh MakeUvSphere(std::uint32_t bands, std::uint32_t segments, Radius radiusAt)
{
    mesh::TriangleMesh sphere;
    const std::uint32_t rings = bands - 1;
    sphere.vertices.reserve(std::size_t{rings} * segments + 2);
    sphere.indices.reserve(std::size_t{6} * segments * rings);
    const double pi = 3.14159265358979323846;
    sphere.vertices.push_back({{0, 0, static_cast<float>(-radiusAt(-pi / 2, 0.0))}, {}});
    for (std::uint32_t j = 1; j <= rings; ++j) {
        const double latitude = j * pi / bands - pi / 2;
        for (std::uint32_t k = 0; k < segments; ++k) {
            const double longitude = k * 2 * pi / segments;
            const double radius = radiusAt(latitude, longitude);
            const double rho = std::cos(latitude) * radius;
            sphere.vertices.push_back({{static_cast<float>(std::cos(longitude) * rho),
                                        static_cast<float>(std::sin(longitude) * rho),
                                        static_cast<float>(std::sin(latitude) * radius)},
                                       {}});
        }
    }
    const auto north = static_cast<std::uint32_t>(sphere.vertices.size());
    sphere.vertices.push_back({{0, 0, static_cast<float>(radiusAt(pi / 2, 0.0))}, {}});
    auto ring = [&](std::uint32_t j, std::uint32_t k) { return 1 + (j - 1) * segments + k % segments; };
    for (std::uint32_t k = 0; k < segments; ++k)
        sphere.indices.insert(sphere.indices.end(), {0, ring(1, k + 1), ring(1, k)});
    for (std::uint32_t j = 1; j < rings; ++j) {
        for (std::uint32_t k = 0; k < segments; ++k) {
            const std::uint32_t a = ring(j, k), b = ring(j, k + 1), c = ring(j + 1, k + 1), d = ring(j + 1, k);
            sphere.indices.insert(sphere.indices.end(), {a, b, c, a, c, d});
        }
    }
    for (std::uint32_t k = 0; k < segments; ++k)
        sphere.indices.insert(sphere.indices.end(), {ring(rings, k), ring(rings, k + 1), north});
    sphere.ComputeBounds();
    sphere.ComputeVertexNormals();
    return sphere;
}

}  // namespace

mesh::TriangleMesh MakeSphereGrid(float radius, std::uint32_t bands, std::uint32_t segments)
{
    return MakeUvSphere(bands, segments, [radius](double, double) { return static_cast<double>(radius); });
}

mesh::TriangleMesh MakeBumpySphereGrid(float radius, float relief, std::uint32_t bands, std::uint32_t segments)
{
    return MakeUvSphere(bands, segments, [=](double latitude, double longitude) {
        return radius
            + relief * (0.5 * std::sin(7 * latitude) * std::cos(5 * longitude) + 0.2 * std::sin(23 * longitude + 1)
                        + 0.3 * std::sin(61 * latitude) * std::sin(59 * longitude));
    });
}

mesh::TriangleMesh MakeSphere200k() { return MakeSphereGrid(40.0f, 250, 400); }

mesh::TriangleMesh MakeSphere1M() { return MakeSphereGrid(75.0f, 500, 1000); }

mesh::TriangleMesh MakeBumpySphere1M() { return MakeBumpySphereGrid(75.0f, 1.2f, 708, 708); }

mesh::TriangleMesh MakeRoundTube(float diameter, float wall, float height, std::uint32_t segments)
{
    mesh::TriangleMesh tube;
    const double pi = 3.14159265358979323846;
    const double outer = diameter * 0.5;
    const double inner = outer - wall;
    const float top = height * 0.5f;
    // Four rings of `segments` vertices, counter-clockwise seen from above: the outside and the
    // bore at the bottom, then the same at the top.
    for (const float z : {-top, top}) {
        for (const double radius : {outer, inner}) {
            for (std::uint32_t k = 0; k < segments; ++k) {
                const double angle = 2 * pi * k / segments;
                tube.vertices.push_back(
                    {{static_cast<float>(radius * std::cos(angle)), static_cast<float>(radius * std::sin(angle)), z}, {}});
            }
        }
    }
    const auto at = [segments](std::uint32_t ring, std::uint32_t k) { return ring * segments + k % segments; };
    for (std::uint32_t k = 0; k < segments; ++k) {
        const std::uint32_t o = at(0, k), p = at(0, k + 1), n = at(1, k), m = at(1, k + 1);  // bottom
        const std::uint32_t O = at(2, k), P = at(2, k + 1), N = at(3, k), M = at(3, k + 1);  // top
        tube.indices.insert(tube.indices.end(), {o, p, P, o, P, O});  // outside wall
        tube.indices.insert(tube.indices.end(), {n, M, m, n, N, M});  // bore wall
        tube.indices.insert(tube.indices.end(), {O, P, M, O, M, N});  // top ring
        tube.indices.insert(tube.indices.end(), {o, m, p, o, n, m});  // bottom ring
    }
    tube.ComputeBounds();
    tube.ComputeVertexNormals();
    return tube;
}

mesh::TriangleMesh MakeCone(float diameter, float height, std::uint32_t segments)
{
    mesh::TriangleMesh cone;
    const double pi = 3.14159265358979323846;
    cone.vertices.push_back({{0, 0, height}, {}});
    cone.vertices.push_back({{0, 0, 0}, {}});
    for (std::uint32_t k = 0; k < segments; ++k) {
        const double angle = 2 * pi * k / segments;
        cone.vertices.push_back({{static_cast<float>(0.5 * diameter * std::cos(angle)),
                                  static_cast<float>(0.5 * diameter * std::sin(angle)), 0}, {}});
        const std::uint32_t rim = 2 + k;
        const std::uint32_t next = 2 + (k + 1) % segments;
        cone.indices.insert(cone.indices.end(), {0, rim, next, 1, next, rim});
    }
    cone.ComputeBounds();
    cone.ComputeVertexNormals();
    return cone;
}

mesh::TriangleMesh MakeSoup(const mesh::TriangleMesh& mesh)
{
    mesh::TriangleMesh soup;
    soup.vertices.reserve(mesh.indices.size());
    soup.indices.reserve(mesh.indices.size());
    for (std::uint32_t index : mesh.indices) {
        soup.indices.push_back(static_cast<std::uint32_t>(soup.vertices.size()));
        soup.vertices.push_back({mesh.vertices[index].position, {}});
    }
    soup.ComputeBounds();
    return soup;
}

mesh::TriangleMesh OnTheBed(mesh::TriangleMesh part)
{
    part.ComputeBounds();
    const float lift = -part.boundsMin.z;
    for (mesh::MeshVertex& v : part.vertices)
        v.position.z += lift;
    part.ComputeBounds();
    return part;
}

}  // namespace grainforge::bench
