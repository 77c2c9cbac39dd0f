#include "tests/support/shapes.h"

#include "engine/mesh/test_shapes.h"

#include <cmath>
#include <random>
#include <utility>

namespace grainforge::test {

mesh::TriangleMesh MakeCubeSoup(float edge) { return ToSoup(mesh::MakeTestCube(edge)); }

mesh::TriangleMesh MakeTwoCubes()
{
    return Combined(mesh::MakeTestCube(20.0f), Translated(mesh::MakeTestCube(20.0f), {50.0f, 0.0f, 0.0f}));
}

mesh::TriangleMesh MakeOpenBox()
{
    mesh::TriangleMesh box = mesh::MakeTestCube(20.0f);
    // Triangles 2 and 3 are the top face.
    box.indices.erase(box.indices.begin() + 6, box.indices.begin() + 12);
    box.ComputeVertexNormals();
    return box;
}

mesh::TriangleMesh MakeWavyGrid(std::uint32_t rows, std::uint32_t columns)
{
    mesh::TriangleMesh grid;
    for (std::uint32_t r = 0; r <= rows; ++r) {
        for (std::uint32_t c = 0; c <= columns; ++c) {
            const float x = static_cast<float>(c) * 0.5f;
            const float y = static_cast<float>(r) * 0.5f;
            grid.vertices.push_back({{x, y, std::sin(x * 0.37f) * std::cos(y * 0.23f) * 3.0f}, {}});
        }
    }
    for (std::uint32_t r = 0; r < rows; ++r) {
        for (std::uint32_t c = 0; c < columns; ++c) {
            const std::uint32_t a = r * (columns + 1) + c, b = a + 1, d = a + columns + 1, e = d + 1;
            grid.indices.insert(grid.indices.end(), {a, b, e, a, e, d});
        }
    }
    grid.ComputeBounds();
    grid.ComputeVertexNormals();
    return grid;
}

mesh::TriangleMesh MakeFan(std::uint32_t spokes)
{
    mesh::TriangleMesh fan;
    fan.vertices.push_back({{0, 0, 1}, {}});
    for (std::uint32_t i = 0; i < spokes; ++i) {
        const float angle = static_cast<float>(i) * 6.2831855f / static_cast<float>(spokes);
        fan.vertices.push_back({{std::cos(angle) * 10.0f, std::sin(angle) * 10.0f, 0}, {}});
        fan.indices.insert(fan.indices.end(), {0, 1 + i, 1 + (i + 1) % spokes});
    }
    fan.ComputeBounds();
    return fan;
}

mesh::TriangleMesh Flipped(mesh::TriangleMesh mesh)
{
    for (std::size_t t = 0; t + 2 < mesh.indices.size(); t += 3)
        std::swap(mesh.indices[t + 1], mesh.indices[t + 2]);
    return mesh;
}

mesh::TriangleMesh Translated(mesh::TriangleMesh mesh, mesh::Vec3 offset)
{
    for (mesh::MeshVertex& vertex : mesh.vertices)
        vertex.position += offset;
    if (mesh.boundsValid)
        mesh.ComputeBounds();
    return mesh;
}

mesh::TriangleMesh Combined(mesh::TriangleMesh a, const mesh::TriangleMesh& b)
{
    const auto shift = static_cast<std::uint32_t>(a.vertices.size());
    a.vertices.insert(a.vertices.end(), b.vertices.begin(), b.vertices.end());
    for (std::uint32_t index : b.indices)
        a.indices.push_back(index + shift);
    if (a.boundsValid || b.boundsValid)
        a.ComputeBounds();
    return a;
}

mesh::TriangleMesh ToSoup(const mesh::TriangleMesh& mesh)
{
    mesh::TriangleMesh soup;
    soup.vertices.reserve(mesh.indices.size());
    soup.indices.reserve(mesh.indices.size());
    for (std::uint32_t index : mesh.indices) {
        soup.indices.push_back(static_cast<std::uint32_t>(soup.vertices.size()));
        soup.vertices.push_back(mesh.vertices[index]);
    }
    soup.ComputeBounds();
    return soup;
}

mesh::TriangleMesh MakeNoisySphereWithHoles(std::uint32_t seed, float noise, std::uint32_t holeEvery,
                                            std::uint32_t finEvery)
{
    mesh::TriangleMesh sphere = mesh::MakeTestSphere(10.0f);
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> jitter(-noise, noise);
    for (mesh::MeshVertex& v : sphere.vertices)
        v.position = v.position + mesh::Vec3{jitter(random), jitter(random), jitter(random)};
    std::vector<std::uint32_t> kept;
    for (std::size_t t = 0; t < sphere.TriangleCount(); ++t) {
        if (holeEvery != 0 && t % holeEvery == 0)
            continue;
        const std::uint32_t* c = &sphere.indices[3 * t];
        kept.insert(kept.end(), c, c + 3);
        if (finEvery != 0 && t % finEvery == 1) {
            const mesh::Vec3 tip = sphere.vertices[c[2]].position * 1.1f;
            const auto fin = static_cast<std::uint32_t>(sphere.vertices.size());
            sphere.vertices.push_back({tip, sphere.vertices[c[2]].normal});
            kept.insert(kept.end(), {c[1], c[0], fin});
        }
    }
    sphere.indices = std::move(kept);
    sphere.ComputeBounds();
    return sphere;
}

mesh::TriangleMesh MakeCubeWithFlatTriangle()
{
    mesh::TriangleMesh result = mesh::MakeTestCube(20);
    const std::uint32_t a = result.indices[0], b = result.indices[1], c = result.indices[2];
    const auto m = static_cast<std::uint32_t>(result.vertices.size());
    result.vertices.push_back({(result.vertices[a].position + result.vertices[b].position) * 0.5f, {}});
    result.indices[1] = m;
    result.indices.insert(result.indices.end(), {m, b, c, a, b, m});
    result.ComputeBounds();
    result.ComputeVertexNormals();
    return result;
}

}  // namespace grainforge::test
