// The renderer's one vertex format and the expansion of a triangle mesh into it. The part is
// drawn as unshared triangles: every triangle corner becomes its own RenderVertex, so each
// corner carries its triangle's face normal and colour, and a seam of the projection can split
// corners that share a mesh vertex. The projection (u, v in millimetres) and the mask of each
// corner travel in a second, smaller list so that projection edits replace only that.
//
// Also the scene bounds the camera, the clip range and the floor follow. Nothing here touches
// OpenGL, so all of it is tested without a context.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace grainforge::gl {

using mesh::Vec3;

// 60 bytes: the layout of every vertex buffer of the main program (attribute locations 0..5).
struct RenderVertex {
    float position[3];
    float faceNormal[3];
    float smoothNormal[3];
    float colour[3];      // linear 0..1
    float projected[2];   // millimetres in the projector's plane
    float mask;           // 0..1, 1 = textured
};
static_assert(sizeof(RenderVertex) == 60, "the vertex layout is fixed at 60 bytes");

// The projection and mask of one part corner (12 bytes), kept apart from RenderVertex.
struct CornerProjection {
    float u = 0.0f;
    float v = 0.0f;
    float mask = 0.0f;
};
static_assert(sizeof(CornerProjection) == 12, "the projection layout is fixed at 12 bytes");

// What the view adds to a mesh upload. Every list may be empty or shorter than needed; a
// corner missing from the corner lists falls back to its vertex's entry, then to 0.
struct RenderAttributes {
    std::vector<Vec3> triangleColours;                   // one per triangle
    std::vector<std::array<float, 2>> vertexProjected;   // one per mesh vertex, millimetres
    std::vector<std::array<float, 2>> cornerProjected;   // one per index
    std::vector<float> vertexMask;
    std::vector<float> cornerMask;
};

// The colour of a triangle the attributes give none for.
inline constexpr Vec3 kDefaultPartColour{0.7f, 0.73f, 0.78f};

// A mesh the renderer can draw: vertices, indices, the index count a multiple of three and
// every index below the vertex count.
bool IsUploadableMesh(const mesh::TriangleMesh& mesh);

// The corner lists of an uploadable mesh: vertices (the projection fields zero, since the part
// reads them from the projection list), the projection records and the draw indices 0, 1, 2...
// The smooth normal is the vertex normal, or the triangle's face normal where that is zero.
// Runs in parallel over the triangles. Throws std::bad_alloc when the lists cannot be allocated; the caller turns that into a
// failed upload.
struct RenderCorners {
    std::vector<RenderVertex> vertices;
    std::vector<CornerProjection> projection;
    std::vector<std::uint32_t> indices;
};
[[nodiscard]] RenderCorners ExpandCorners(const mesh::TriangleMesh& mesh, const RenderAttributes* attributes);

// Only the projection records, as ExpandCorners makes them.
std::vector<CornerProjection> BuildCornerProjection(const mesh::TriangleMesh& mesh,
                                                    const RenderAttributes* attributes);

// Host bytes ExpandCorners needs for `corners` corners (vertex, projection and index).
inline constexpr std::uint64_t kHostBytesPerCorner = sizeof(RenderVertex) + sizeof(CornerProjection) + 4;

// Where the scene lies, for the camera, the clip range and the floor. The defaults are those of
// the empty scene.
struct SceneBounds {
    Vec3 centre;
    float radius = 1.0f;
    float floorHalfExtent = 5.0f;
    float floorHeight = -1.001f;
    float floorCentre[2] = {0.0f, 0.0f};
    Vec3 boxMin;      // the box the bounds come from (for the bounding-box overlay)
    Vec3 boxMax;
};

// The bounds of a mesh: its box when the box is marked current, else the box of all vertices.
// None when the mesh has no vertices or a coordinate of the box is not finite: a NaN or
// infinite bound would make the floor and the camera fit meaningless, so the caller keeps the
// empty scene.
[[nodiscard]] std::optional<SceneBounds> ComputeSceneBounds(const mesh::TriangleMesh& mesh);

}  // namespace grainforge::gl
