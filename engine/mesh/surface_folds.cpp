#include "engine/mesh/surface_folds.h"

#include "engine/mesh/near_points.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>

namespace grainforge::mesh {

namespace {

struct Normal {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// The unit normal of triangle t, worked in double; zero without area.
Normal UnitNormal(const TriangleMesh& mesh, std::size_t t)
{
    const Vec3 a = mesh.vertices[mesh.indices[3 * t]].position;
    const Vec3 b = mesh.vertices[mesh.indices[3 * t + 1]].position;
    const Vec3 c = mesh.vertices[mesh.indices[3 * t + 2]].position;
    const double ux = static_cast<double>(b.x) - a.x, uy = static_cast<double>(b.y) - a.y,
                 uz = static_cast<double>(b.z) - a.z;
    const double vx = static_cast<double>(c.x) - a.x, vy = static_cast<double>(c.y) - a.y,
                 vz = static_cast<double>(c.z) - a.z;
    const Normal n{uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx};
    const double length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
    if (!(length > 0.0) || !std::isfinite(length))
        return {};
    return {n.x / length, n.y / length, n.z / length};
}

struct FoldedEdge {
    std::uint32_t a;
    std::uint32_t b;
    std::uint32_t first;
    std::uint32_t second;
};

// Every folded edge of the mesh, by its two vertices and its two triangles.
std::vector<FoldedEdge> FoldedEdges(const TriangleMesh& mesh)
{
    std::vector<std::array<std::uint32_t, 3>> edges;  // low vertex, high vertex, triangle
    edges.reserve(mesh.indices.size());
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t)
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t u = mesh.indices[3 * t + static_cast<std::size_t>(k)];
            const std::uint32_t v = mesh.indices[3 * t + static_cast<std::size_t>((k + 1) % 3)];
            if (u != v)
                edges.push_back({std::min(u, v), std::max(u, v), static_cast<std::uint32_t>(t)});
        }
    std::sort(edges.begin(), edges.end());
    std::vector<FoldedEdge> folded;
    for (std::size_t i = 0; i < edges.size();) {
        std::size_t j = i + 1;
        while (j < edges.size() && edges[j][0] == edges[i][0] && edges[j][1] == edges[i][1])
            ++j;
        if (j - i == 2) {
            const Normal p = UnitNormal(mesh, edges[i][2]);
            const Normal q = UnitNormal(mesh, edges[i + 1][2]);
            const bool bothHaveArea = (p.x != 0.0 || p.y != 0.0 || p.z != 0.0) && (q.x != 0.0 || q.y != 0.0 || q.z != 0.0);
            if (bothHaveArea && p.x * q.x + p.y * q.y + p.z * q.z < kFoldedEdgeCosine)
                folded.push_back({edges[i][0], edges[i][1], edges[i][2], edges[i + 1][2]});
        }
        i = j;
    }
    return folded;
}

// Points along the part's folded edges, no further apart than `spacing`, each edge's ends among
// them; a long edge is sampled at most this often, which a reach that short has no use for.
constexpr int kMostSamplesPerEdge = 4096;

std::vector<Vec3> SampleEdges(const TriangleMesh& part, const std::vector<FoldedEdge>& edges, float spacing)
{
    std::vector<Vec3> points;
    for (const FoldedEdge& e : edges) {
        const Vec3 a = part.vertices[e.a].position;
        const Vec3 b = part.vertices[e.b].position;
        const float length = Length(b - a);
        const int steps = std::isfinite(length) ? std::clamp(static_cast<int>(std::ceil(length / spacing)), 1, kMostSamplesPerEdge) : 1;
        for (int s = 0; s <= steps; ++s) {
            const float w = static_cast<float>(s) / static_cast<float>(steps);
            points.push_back(a + (b - a) * w);
        }
    }
    return points;
}

}  // namespace

std::vector<std::uint32_t> FindFoldsMade(const TriangleMesh& mesh, const TriangleMesh& part, float reach)
{
    if (!mesh.IsConsistent() || !(reach > 0.0f) || !std::isfinite(reach))
        return {};
    const std::vector<FoldedEdge> made = FoldedEdges(mesh);
    if (made.empty())
        return {};
    // A point within `reach` of an edge lies within 1.5 `reach` of a sample taken every `reach`.
    const std::vector<Vec3> own = part.IsConsistent() ? SampleEdges(part, FoldedEdges(part), reach) : std::vector<Vec3>{};
    const detail::NearPoints near(own, 1.5f * reach);
    const auto nearOwn = [&](Vec3 p) {
        bool found = false;
        near.ForEachWithin(p, [&](std::uint32_t, double) { found = true; });
        return found;
    };
    std::vector<std::uint32_t> triangles;
    for (const FoldedEdge& e : made) {
        const Vec3 a = mesh.vertices[e.a].position;
        const Vec3 b = mesh.vertices[e.b].position;
        if (!own.empty() && (nearOwn(a) || nearOwn(b) || nearOwn((a + b) * 0.5f)))
            continue;
        triangles.push_back(e.first);
        triangles.push_back(e.second);
    }
    std::sort(triangles.begin(), triangles.end());
    triangles.erase(std::unique(triangles.begin(), triangles.end()), triangles.end());
    return triangles;
}

}  // namespace grainforge::mesh
