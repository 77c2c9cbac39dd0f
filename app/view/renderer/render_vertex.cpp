#include "app/view/renderer/render_vertex.h"

#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <cmath>

namespace grainforge::gl {

namespace {

constexpr float kMinimumRadius = 0.0001f;
constexpr std::size_t kTrianglesPerBlock = 16384;

void Put(float* target, Vec3 v)
{
    target[0] = v.x;
    target[1] = v.y;
    target[2] = v.z;
}

CornerProjection ProjectionOfCorner(const RenderAttributes* attributes, std::size_t corner, std::uint32_t vertex)
{
    CornerProjection record;
    if (attributes == nullptr)
        return record;
    if (corner < attributes->cornerProjected.size()) {
        record.u = attributes->cornerProjected[corner][0];
        record.v = attributes->cornerProjected[corner][1];
    } else if (vertex < attributes->vertexProjected.size()) {
        record.u = attributes->vertexProjected[vertex][0];
        record.v = attributes->vertexProjected[vertex][1];
    }
    if (corner < attributes->cornerMask.size())
        record.mask = attributes->cornerMask[corner];
    else if (vertex < attributes->vertexMask.size())
        record.mask = attributes->vertexMask[vertex];
    return record;
}

Vec3 TriangleColour(const RenderAttributes* attributes, std::size_t triangle)
{
    if (attributes != nullptr && triangle < attributes->triangleColours.size())
        return attributes->triangleColours[triangle];
    return kDefaultPartColour;
}

}  // namespace

bool IsUploadableMesh(const mesh::TriangleMesh& mesh)
{
    return !mesh.vertices.empty() && !mesh.indices.empty() && mesh.IsConsistent();
}

RenderCorners ExpandCorners(const mesh::TriangleMesh& mesh, const RenderAttributes* attributes)
{
    RenderCorners corners;
    const std::size_t count = mesh.indices.size();
    corners.vertices.resize(count);
    corners.projection.resize(count);
    corners.indices.resize(count);
    // Each triangle writes its own three slots, so the result is the same on any number of
    // threads.
    mesh::ParallelForBlocks(mesh.TriangleCount(), kTrianglesPerBlock, [&](std::size_t begin, std::size_t end) {
        for (std::size_t t = begin; t < end; ++t) {
            const Vec3 face = mesh.FaceNormal(t);
            const Vec3 colour = TriangleColour(attributes, t);
            for (std::size_t k = 3 * t; k < 3 * t + 3; ++k) {
                const std::uint32_t v = mesh.indices[k];
                const mesh::MeshVertex& source = mesh.vertices[v];
                RenderVertex& corner = corners.vertices[k];
                Put(corner.position, source.position);
                Put(corner.faceNormal, face);
                Put(corner.smoothNormal, mesh::Length(source.normal) > 0.0f ? source.normal : face);
                Put(corner.colour, colour);
                corners.projection[k] = ProjectionOfCorner(attributes, k, v);
                corners.indices[k] = static_cast<std::uint32_t>(k);
            }
        }
    });
    return corners;
}

std::vector<CornerProjection> BuildCornerProjection(const mesh::TriangleMesh& mesh,
                                                    const RenderAttributes* attributes)
{
    std::vector<CornerProjection> records;
    records.reserve(mesh.indices.size());
    for (std::size_t k = 0; k < mesh.indices.size(); ++k)
        records.push_back(ProjectionOfCorner(attributes, k, mesh.indices[k]));
    return records;
}

std::optional<SceneBounds> ComputeSceneBounds(const mesh::TriangleMesh& mesh)
{
    if (mesh.vertices.empty())
        return std::nullopt;
    Vec3 lo = mesh.boundsMin;
    Vec3 hi = mesh.boundsMax;
    if (!mesh.boundsValid) {
        lo = hi = mesh.vertices.front().position;
        for (const mesh::MeshVertex& vertex : mesh.vertices) {
            const Vec3 p = vertex.position;
            // Written so that a NaN coordinate reaches the box instead of being skipped.
            lo = Vec3{p.x < lo.x || std::isnan(p.x) ? p.x : lo.x, p.y < lo.y || std::isnan(p.y) ? p.y : lo.y,
                      p.z < lo.z || std::isnan(p.z) ? p.z : lo.z};
            hi = Vec3{p.x > hi.x || std::isnan(p.x) ? p.x : hi.x, p.y > hi.y || std::isnan(p.y) ? p.y : hi.y,
                      p.z > hi.z || std::isnan(p.z) ? p.z : hi.z};
        }
    }
    const Vec3 extent = hi - lo;
    if (!mesh::IsFinite(lo) || !mesh::IsFinite(hi) || !mesh::IsFinite(extent))
        return std::nullopt;

    SceneBounds bounds;
    bounds.boxMin = lo;
    bounds.boxMax = hi;
    bounds.centre = (lo + hi) * 0.5f;
    bounds.radius = std::max(mesh::Length(extent) / 2.0f, kMinimumRadius);
    bounds.floorHalfExtent = std::max(bounds.radius * 0.5f, 0.75f * std::max(extent.x, extent.y));
    bounds.floorHeight = lo.z;
    bounds.floorCentre[0] = bounds.centre.x;
    bounds.floorCentre[1] = bounds.centre.y;
    // Finite corners can still be so far apart that the middle or the diagonal overflows.
    if (!mesh::IsFinite(bounds.centre) || !std::isfinite(bounds.radius) || !std::isfinite(bounds.floorHalfExtent))
        return std::nullopt;
    return bounds;
}

}  // namespace grainforge::gl
