#include "tests/support/shapes.h"

#include "engine/mesh/test_shapes.h"
#include "engine/mesh/welding.h"

#include <cmath>
#include <random>
#include <utility>
#include <vector>

namespace grainforge::test {

namespace {

// A grid of rows x columns squares of side `step` from the origin, vertices row by row, each
// square two triangles; with `alternating` the diagonals alternate. Bounds only, no normals.
template <typename Height>
mesh::TriangleMesh Grid(std::uint32_t rows, std::uint32_t columns, float step, bool alternating, const Height& height)
{
    mesh::TriangleMesh grid;
    for (std::uint32_t r = 0; r <= rows; ++r)
        for (std::uint32_t c = 0; c <= columns; ++c) {
            const float x = static_cast<float>(c) * step, y = static_cast<float>(r) * step;
            grid.vertices.push_back({{x, y, height(x, y)}, {}});
        }
    for (std::uint32_t r = 0; r < rows; ++r)
        for (std::uint32_t c = 0; c < columns; ++c) {
            const std::uint32_t a = r * (columns + 1) + c, b = a + 1, d = a + columns + 1, e = d + 1;
            if (alternating && (r + c) % 2 == 1)
                grid.indices.insert(grid.indices.end(), {a, b, d, b, e, d});
            else
                grid.indices.insert(grid.indices.end(), {a, b, e, a, e, d});
        }
    grid.ComputeBounds();
    return grid;
}

}  // namespace

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
    mesh::TriangleMesh grid = Grid(rows, columns, 0.5f, false,
                                   [](float x, float y) { return std::sin(x * 0.37f) * std::cos(y * 0.23f) * 3.0f; });
    grid.ComputeVertexNormals();
    return grid;
}

mesh::TriangleMesh MakeTwoLayerSheet(std::uint32_t rows, float gap)
{
    mesh::TriangleMesh sheet = MakeWavyGrid(rows, rows);
    const std::size_t top = sheet.indices.size();
    const auto layer = static_cast<std::uint32_t>(sheet.vertices.size());
    for (std::uint32_t v = 0; v < layer; ++v)
        sheet.vertices.push_back({sheet.vertices[v].position - mesh::Vec3{0.0f, 0.0f, gap}, {}});
    for (std::size_t i = 0; i < top; i += 3)
        sheet.indices.insert(sheet.indices.end(), {sheet.indices[i] + layer, sheet.indices[i + 2] + layer, sheet.indices[i + 1] + layer});
    sheet.ComputeBounds();
    sheet.ComputeVertexNormals();
    return sheet;
}

mesh::TriangleMesh WithZeroAreaFacet(mesh::TriangleMesh mesh, std::size_t triangle, int edge, float share)
{
    std::uint32_t* corner = &mesh.indices[3 * triangle];
    const std::uint32_t a = corner[edge], b = corner[(edge + 1) % 3], x = corner[(edge + 2) % 3];
    const mesh::Vec3 pa = mesh.vertices[a].position, pb = mesh.vertices[b].position;
    const auto c = static_cast<std::uint32_t>(mesh.vertices.size());
    mesh.vertices.push_back({pa + (pb - pa) * share, {}});
    corner[0] = a;
    corner[1] = c;
    corner[2] = x;
    mesh.indices.insert(mesh.indices.end(), {c, b, x, a, b, c});
    mesh.ComputeBounds();
    return mesh;
}

mesh::TriangleMesh MakeBumpySphere(float radius, float relief, std::uint32_t bands, std::uint32_t segments)
{
    const double pi = 3.14159265358979323846;
    auto at = [&](double latitude, double longitude) -> mesh::MeshVertex {
        const double r = radius
            + relief * (0.7 * std::sin(7 * latitude) * std::cos(5 * longitude) + 0.3 * std::sin(23 * longitude + 1));
        return {{static_cast<float>(r * std::cos(latitude) * std::cos(longitude)),
                 static_cast<float>(r * std::cos(latitude) * std::sin(longitude)),
                 static_cast<float>(r * std::sin(latitude))},
                {}};
    };
    mesh::TriangleMesh sphere;
    const std::uint32_t rings = bands - 1;
    sphere.vertices.push_back(at(-pi / 2, 0));
    for (std::uint32_t j = 1; j <= rings; ++j)
        for (std::uint32_t k = 0; k < segments; ++k)
            sphere.vertices.push_back(at(j * pi / bands - pi / 2, k * 2 * pi / segments));
    const auto north = static_cast<std::uint32_t>(sphere.vertices.size());
    sphere.vertices.push_back(at(pi / 2, 0));
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

mesh::TriangleMesh MakeNoisyBox(std::uint32_t cells, float noise)
{
    const std::uint32_t n = cells;
    const std::uint32_t side = n + 1;
    std::vector<std::uint32_t> number(std::size_t{side} * side * side, 0);
    auto slot = [&](const std::uint32_t (&p)[3]) -> std::uint32_t& { return number[(std::size_t{p[2]} * side + p[1]) * side + p[0]]; };
    // A small integer hash mapped to [-1, 1): the same noise on every platform.
    auto jitter = [&](std::uint32_t v, std::uint32_t axis) {
        std::uint32_t h = v * 0x9E3779B1u + axis * 0x85EBCA77u;
        h ^= h >> 15;
        h *= 0x2C1B3C6Du;
        h ^= h >> 12;
        return static_cast<float>(static_cast<double>(h) / 2147483648.0 - 1.0) * noise;
    };
    mesh::TriangleMesh box;
    auto vertex = [&](const std::uint32_t (&p)[3]) {
        std::uint32_t& s = slot(p);
        if (s == 0) {
            const auto v = static_cast<std::uint32_t>(box.vertices.size());
            mesh::Vec3 position{static_cast<float>(p[0]) + jitter(v, 0), static_cast<float>(p[1]) + jitter(v, 1),
                                static_cast<float>(p[2]) + (p[2] == 0 ? 0.0f : jitter(v, 2))};
            box.vertices.push_back({position, {}});
            s = v + 1;
        }
        return s - 1;
    };
    for (std::uint32_t axis = 0; axis < 3; ++axis) {
        const std::uint32_t u = (axis + 1) % 3, w = (axis + 2) % 3;
        for (const std::uint32_t level : {0u, n}) {
            for (std::uint32_t i = 0; i < n; ++i) {
                for (std::uint32_t j = 0; j < n; ++j) {
                    std::uint32_t corner[4][3];
                    const std::uint32_t du[4] = {0, 1, 1, 0}, dw[4] = {0, 0, 1, 1};
                    for (int c = 0; c < 4; ++c) {
                        corner[c][axis] = level;
                        corner[c][u] = i + du[c];
                        corner[c][w] = j + dw[c];
                    }
                    std::uint32_t q[4];
                    for (int c = 0; c < 4; ++c)
                        q[c] = vertex(corner[c]);
                    // u x w points along +axis: keep that order on the far side, reverse it on the near.
                    if (level == n)
                        box.indices.insert(box.indices.end(), {q[0], q[1], q[2], q[0], q[2], q[3]});
                    else
                        box.indices.insert(box.indices.end(), {q[0], q[2], q[1], q[0], q[3], q[2]});
                }
            }
        }
    }
    box.ComputeBounds();
    box.ComputeVertexNormals();
    return box;
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

mesh::TriangleMesh MakeCone(float diameter, float height, std::uint32_t segments)
{
    mesh::TriangleMesh cone;
    cone.vertices.push_back({{0, 0, height}, {}});
    cone.vertices.push_back({{0, 0, 0}, {}});
    for (std::uint32_t i = 0; i < segments; ++i) {
        const double angle = 6.283185307179586 * i / segments;
        cone.vertices.push_back({{static_cast<float>(0.5 * diameter * std::cos(angle)),
                                  static_cast<float>(0.5 * diameter * std::sin(angle)), 0}, {}});
        const std::uint32_t rim = 2 + i;
        const std::uint32_t next = 2 + (i + 1) % segments;
        cone.indices.insert(cone.indices.end(), {0, rim, next, 1, next, rim});
    }
    cone.ComputeBounds();
    return cone;
}

mesh::TriangleMesh MakeFlatGrid(std::uint32_t n, float step, float z, bool alternating)
{
    return Grid(n, n, step, alternating, [z](float, float) { return z; });
}

mesh::TriangleMesh MakeGridTopBox(std::uint32_t n, float size)
{
    mesh::TriangleMesh box = MakeFlatGrid(n, size / static_cast<float>(n), size);
    const auto bottom = static_cast<std::uint32_t>(box.vertices.size());
    for (mesh::Vec3 p : {mesh::Vec3{0, 0, 0}, mesh::Vec3{size, 0, 0}, mesh::Vec3{size, size, 0}, mesh::Vec3{0, size, 0}})
        box.vertices.push_back({p, {}});
    // Vertex i along the top border of a side, walking round the top anticlockwise from above.
    const auto border = [n](std::uint32_t side, std::uint32_t i) {
        const std::uint32_t rc[4][2] = {{0, i}, {i, n}, {n, n - i}, {n - i, 0}};
        return rc[side][0] * (n + 1) + rc[side][1];
    };
    for (std::uint32_t side = 0; side < 4; ++side) {
        const std::uint32_t b0 = bottom + side, b1 = bottom + (side + 1) % 4;
        for (std::uint32_t i = 0; i < n; ++i)
            box.indices.insert(box.indices.end(), {i < n / 2 ? b0 : b1, border(side, i + 1), border(side, i)});
        box.indices.insert(box.indices.end(), {b0, b1, border(side, n / 2)});
    }
    box.indices.insert(box.indices.end(), {bottom, bottom + 2, bottom + 1, bottom, bottom + 3, bottom + 2});
    box.ComputeBounds();
    box.ComputeVertexNormals();
    return box;
}

mesh::TriangleMesh MakeBox(mesh::Vec3 low, mesh::Vec3 high)
{
    mesh::TriangleMesh box = mesh::MakeTestCube(1.0f);
    for (mesh::MeshVertex& v : box.vertices)
        v.position = {v.position.x < 0.0f ? low.x : high.x, v.position.y < 0.0f ? low.y : high.y,
                      v.position.z < 0.0f ? low.z : high.z};
    box.ComputeBounds();
    return box;
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

mesh::TriangleMesh MakeOpenSphereWithStrayFacet(mesh::Vec3 stray)
{
    mesh::TriangleMesh part = mesh::MakeTestSphere(10.0f);
    part.indices.erase(part.indices.begin(), part.indices.begin() + 3);
    const auto first = static_cast<std::uint32_t>(part.vertices.size());
    for (int k = 0; k < 3; ++k)
        part.vertices.push_back({stray, {}});
    part.indices.insert(part.indices.end(), {first, first + 1, first + 2});
    part.ComputeBounds();
    return part;
}

mesh::TriangleMesh MakeSphereAndFarCube(mesh::Vec3 cubeAt)
{
    mesh::TriangleMesh part = Combined(mesh::MakeTestSphere(10.0f), Translated(mesh::MakeTestCube(5.0f), cubeAt));
    part.ComputeBounds();
    return part;
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

mesh::TriangleMesh MakeTorus(float majorRadius, float minorRadius, std::uint32_t rings, std::uint32_t segments)
{
    const double pi = 3.14159265358979323846;
    mesh::TriangleMesh torus;
    for (std::uint32_t i = 0; i < rings; ++i) {
        const double around = 2 * pi * i / rings;
        for (std::uint32_t j = 0; j < segments; ++j) {
            const double tube = 2 * pi * j / segments;
            const double rho = majorRadius + minorRadius * std::cos(tube);
            const mesh::Vec3 p{static_cast<float>(rho * std::cos(around)), static_cast<float>(rho * std::sin(around)),
                               static_cast<float>(minorRadius * std::sin(tube))};
            torus.vertices.push_back({p, {}});
        }
    }
    const auto at = [&](std::uint32_t i, std::uint32_t j) { return (i % rings) * segments + j % segments; };
    // Round the axis (u) then round the tube (v): u x v points away from the tube's centre line.
    for (std::uint32_t i = 0; i < rings; ++i)
        for (std::uint32_t j = 0; j < segments; ++j) {
            const std::uint32_t a = at(i, j), b = at(i + 1, j), c = at(i + 1, j + 1), d = at(i, j + 1);
            torus.indices.insert(torus.indices.end(), {a, b, c, a, c, d});
        }
    torus.ComputeBounds();
    torus.ComputeVertexNormals();
    return torus;
}

mesh::TriangleMesh MakeReliefTube(float diameter, float wall, float height, std::uint32_t segments, std::uint32_t rows,
                                  float relief)
{
    const double pi = 3.14159265358979323846;
    const double outer = diameter * 0.5;
    const double inner = outer - wall;
    const std::uint32_t sides = segments / 2;
    mesh::TriangleMesh tube;
    // Row by row, the outside ring then the bore ring, each counter-clockwise seen from above.
    for (std::uint32_t r = 0; r <= rows; ++r) {
        const double z = static_cast<double>(height) * r / rows;
        const double lift = (r == 0 || r == rows) ? 0.0 : relief;
        for (std::uint32_t s = 0; s < segments; ++s) {
            const double angle = 2 * pi * s / segments;
            const double radius = outer + lift * (0.5 * std::sin(7 * angle) * std::cos(0.9 * z) + 0.5 * std::sin(23 * angle + 1.3 * z));
            tube.vertices.push_back({{static_cast<float>(radius * std::cos(angle)), static_cast<float>(radius * std::sin(angle)),
                                      static_cast<float>(z)}, {}});
        }
        for (std::uint32_t s = 0; s < segments; ++s) {
            // Corner s / 2 of the polygon, or halfway along its side to the next.
            const double a0 = 2 * pi * (s / 2) / sides;
            const double a1 = 2 * pi * (s / 2 + 1) / sides;
            const double t = (s % 2) * 0.5;
            const double x = inner * ((1 - t) * std::cos(a0) + t * std::cos(a1));
            const double y = inner * ((1 - t) * std::sin(a0) + t * std::sin(a1));
            tube.vertices.push_back({{static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)}, {}});
        }
    }
    const auto outside = [segments](std::uint32_t r, std::uint32_t s) { return 2 * segments * r + s % segments; };
    const auto bore = [segments](std::uint32_t r, std::uint32_t s) { return 2 * segments * r + segments + s % segments; };
    for (std::uint32_t s = 0; s < segments; ++s) {
        for (std::uint32_t r = 0; r < rows; ++r) {
            const std::uint32_t o = outside(r, s), p = outside(r, s + 1), O = outside(r + 1, s), P = outside(r + 1, s + 1);
            const std::uint32_t n = bore(r, s), m = bore(r, s + 1), N = bore(r + 1, s), M = bore(r + 1, s + 1);
            tube.indices.insert(tube.indices.end(), {o, p, P, o, P, O, n, M, m, n, N, M});
        }
        const std::uint32_t o = outside(0, s), p = outside(0, s + 1), n = bore(0, s), m = bore(0, s + 1);
        const std::uint32_t O = outside(rows, s), P = outside(rows, s + 1), N = bore(rows, s), M = bore(rows, s + 1);
        tube.indices.insert(tube.indices.end(), {O, P, M, O, M, N, o, m, p, o, n, m});
    }
    tube.ComputeBounds();
    tube.ComputeVertexNormals();
    return tube;
}

mesh::TriangleMesh MakeWeldedCubePair(mesh::Vec3 offset)
{
    mesh::TriangleMesh pair = Combined(MakeBox({0.0f, 0.0f, 0.0f}, {10.0f, 10.0f, 10.0f}),
                                       MakeBox(offset, offset + mesh::Vec3{10.0f, 10.0f, 10.0f}));
    mesh::WeldIdenticalVertices(pair);
    pair.ComputeBounds();
    pair.ComputeVertexNormals();
    return pair;
}

mesh::TriangleMesh MakeBoxWithInnerWall()
{
    // The upper half without its floor: the lower half's top is the wall between them.
    const mesh::TriangleMesh upper = MakeBox({0.0f, 0.0f, 5.0f}, {10.0f, 10.0f, 10.0f});
    mesh::TriangleMesh box = MakeBox({0.0f, 0.0f, 0.0f}, {10.0f, 10.0f, 5.0f});
    const auto offset = static_cast<std::uint32_t>(box.vertices.size());
    box.vertices.insert(box.vertices.end(), upper.vertices.begin(), upper.vertices.end());
    for (std::size_t t = 0; t < upper.TriangleCount(); ++t) {
        const std::uint32_t* c = &upper.indices[3 * t];
        if (upper.vertices[c[0]].position.z + upper.vertices[c[1]].position.z + upper.vertices[c[2]].position.z > 15.0f)
            box.indices.insert(box.indices.end(), {offset + c[0], offset + c[1], offset + c[2]});
    }
    mesh::WeldIdenticalVertices(box);
    box.ComputeBounds();
    box.ComputeVertexNormals();
    return box;
}

mesh::TriangleMesh MakeCubesPinchedAtAnEdge(float degrees)
{
    const float angle = degrees * 3.14159265f / 180.0f;
    mesh::TriangleMesh turned = MakeBox({0.0f, 0.0f, 0.0f}, {10.0f, 10.0f, 10.0f});
    for (mesh::MeshVertex& v : turned.vertices) {
        const mesh::Vec3 p = v.position;
        v.position = {10.0f + std::cos(angle) * p.x - std::sin(angle) * p.z, p.y,
            10.0f + std::sin(angle) * p.x + std::cos(angle) * p.z};
    }
    mesh::TriangleMesh pair = Combined(MakeBox({0.0f, 0.0f, 0.0f}, {10.0f, 10.0f, 10.0f}), turned);
    mesh::WeldIdenticalVertices(pair);
    pair.ComputeBounds();
    pair.ComputeVertexNormals();
    return pair;
}

mesh::TriangleMesh MakeWedge(float length, float width, float rootThickness, float edgeThickness)
{
    mesh::TriangleMesh wedge = mesh::MakeTestCube(1.0f);
    for (mesh::MeshVertex& v : wedge.vertices) {
        const bool atEdge = v.position.x > 0.0f;
        const float half = 0.5f * (atEdge ? edgeThickness : rootThickness);
        v.position = {atEdge ? length : 0.0f, v.position.y < 0.0f ? 0.0f : width, v.position.z < 0.0f ? -half : half};
    }
    wedge.ComputeBounds();
    wedge.ComputeVertexNormals();
    return wedge;
}

mesh::TriangleMesh MakeNoisySphere(std::uint32_t seed, float radius, float noise, std::uint32_t bands,
                                   std::uint32_t segments)
{
    mesh::TriangleMesh sphere = MakeBumpySphere(radius, 0.0f, bands, segments);
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> offset(-noise, noise);
    for (mesh::MeshVertex& v : sphere.vertices) {
        const float length = mesh::Length(v.position);
        v.position = v.position * ((length + offset(random)) / length);
    }
    sphere.ComputeBounds();
    sphere.ComputeVertexNormals();
    return sphere;
}

mesh::TriangleMesh TurnedAboutXThenZ(mesh::TriangleMesh mesh, float xDegrees, float zDegrees)
{
    const float x = xDegrees * 3.14159265f / 180.0f;
    const float z = zDegrees * 3.14159265f / 180.0f;
    for (mesh::MeshVertex& v : mesh.vertices) {
        const mesh::Vec3 p = v.position;
        const mesh::Vec3 q{p.x, std::cos(x) * p.y - std::sin(x) * p.z, std::sin(x) * p.y + std::cos(x) * p.z};
        v.position = {std::cos(z) * q.x - std::sin(z) * q.y, std::sin(z) * q.x + std::cos(z) * q.y, q.z};
    }
    mesh.ComputeBounds();
    mesh.ComputeVertexNormals();
    return mesh;
}

mesh::TriangleMesh MakeLPrism()
{
    const float corners[6][2] = {{0, 0}, {40, 0}, {40, 20}, {20, 20}, {20, 40}, {0, 40}};
    mesh::TriangleMesh prism;
    for (const float z : {0.0f, 10.0f})
        for (const auto& c : corners)
            prism.vertices.push_back({{c[0], c[1], z}, {}});
    for (std::uint32_t i = 0; i < 6; ++i) {
        const std::uint32_t j = (i + 1) % 6;
        prism.indices.insert(prism.indices.end(), {i, j, j + 6, i, j + 6, i + 6});
    }
    for (std::uint32_t a = 4; a < 8; ++a)
        prism.indices.insert(prism.indices.end(), {3 + 6, a % 6 + 6, (a + 1) % 6 + 6, 3, (a + 1) % 6, a % 6});
    prism.ComputeBounds();
    prism.ComputeVertexNormals();
    return prism;
}

mesh::TriangleMesh MakeSphereWithSpecksAndPlate()
{
    mesh::TriangleMesh part = mesh::MakeTestSphere(10.0f);
    for (int i = 0; i < 10; ++i) {
        const float x = 14.0f + 2.0f * static_cast<float>(i);
        part = Combined(part, MakeBox({x, 0.0f, 0.0f}, {x + 0.3f, 0.3f, 0.3f}));
        part = Combined(part, MakeBox({x, 4.0f, 0.0f}, {x + 0.15f, 4.15f, 0.15f}));
    }
    part = Combined(part, MakeBox({-10.0f, -10.0f, -14.0f}, {10.0f, 10.0f, -13.8f}));
    part.ComputeBounds();
    return part;
}

mesh::TriangleMesh MakeCubeWithTwoSmallCubes()
{
    mesh::TriangleMesh part = Combined(MakeBox({0, 0, 0}, {20, 20, 20}), MakeBox({23, 0, 0}, {24, 1, 1}));
    part = Combined(part, MakeBox({23, 5, 0}, {23.5f, 5.5f, 0.5f}));
    part.ComputeBounds();
    return part;
}

mesh::TriangleMesh MakeBoxWithSlottedHollow(float slot)
{
    const float half = slot / 2.0f;
    mesh::TriangleMesh part = MakeBox({0, 0, 0}, {10, 10, 1});
    for (const auto& [low, high] : {std::pair<mesh::Vec3, mesh::Vec3>{{0, 0, 0}, {1, 10, 10}},
             {{9, 0, 0}, {10, 10, 10}}, {{0, 0, 0}, {10, 1, 10}}, {{0, 9, 0}, {10, 10, 10}},
             {{0, 0, 9}, {5.0f - half, 10, 10}}, {{5.0f + half, 0, 9}, {10, 10, 10}}})
        part = Combined(part, MakeBox(low, high));
    part.ComputeBounds();
    return part;
}

}  // namespace grainforge::test
