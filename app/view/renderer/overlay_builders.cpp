#include "app/view/renderer/overlay_builders.h"

#include <algorithm>

namespace grainforge::gl {

RenderVertex MakeOverlayVertex(Vec3 point, Vec3 colour)
{
    RenderVertex vertex{};
    vertex.position[0] = point.x;
    vertex.position[1] = point.y;
    vertex.position[2] = point.z;
    vertex.faceNormal[2] = 1.0f;
    vertex.smoothNormal[2] = 1.0f;
    vertex.colour[0] = colour.x;
    vertex.colour[1] = colour.y;
    vertex.colour[2] = colour.z;
    return vertex;
}

std::vector<RenderVertex> MakeOverlayVertices(const std::vector<Vec3>& points, Vec3 colour)
{
    std::vector<RenderVertex> list;
    AppendOverlayVertices(points, colour, list);
    return list;
}

void AppendOverlayVertices(const std::vector<Vec3>& points, Vec3 colour, std::vector<RenderVertex>& list)
{
    list.reserve(list.size() + points.size());
    for (const Vec3& point : points)
        list.push_back(MakeOverlayVertex(point, colour));
}

std::vector<RenderVertex> MakeColouredVertices(const std::vector<Vec3>& points, const std::vector<Vec3>& colours,
                                               Vec3 fallback)
{
    std::vector<RenderVertex> list;
    list.reserve(points.size());
    for (std::size_t i = 0; i < points.size(); ++i)
        list.push_back(MakeOverlayVertex(points[i], i < colours.size() ? colours[i] : fallback));
    return list;
}

void AddOverlayLine(OverlayLineBuilder& builder, Vec3 a, Vec3 b)
{
    builder.vertices.push_back(MakeOverlayVertex(a, builder.colour));
    builder.vertices.push_back(MakeOverlayVertex(b, builder.colour));
}

std::vector<RenderVertex> BuildBoxEdgeVertices(Vec3 boxMin, Vec3 boxMax)
{
    const Vec3 bottom[4] = {{boxMin.x, boxMin.y, boxMin.z},
                            {boxMax.x, boxMin.y, boxMin.z},
                            {boxMax.x, boxMax.y, boxMin.z},
                            {boxMin.x, boxMax.y, boxMin.z}};
    OverlayLineBuilder builder{overlay_colour::kBoundingBox, {}};
    builder.vertices.reserve(24);
    for (int i = 0; i < 4; ++i) {
        const Vec3 a = bottom[i];
        const Vec3 b = bottom[(i + 1) % 4];
        AddOverlayLine(builder, a, b);
        AddOverlayLine(builder, Vec3{a.x, a.y, boxMax.z}, Vec3{b.x, b.y, boxMax.z});
        AddOverlayLine(builder, a, Vec3{a.x, a.y, boxMax.z});
    }
    return builder.vertices;
}

std::vector<RenderVertex> BuildNormalVertices(const std::vector<mesh::MeshVertex>& vertices, float length)
{
    OverlayLineBuilder builder{overlay_colour::kNormals, {}};
    builder.vertices.reserve(2 * vertices.size());
    for (const mesh::MeshVertex& vertex : vertices)
        AddOverlayLine(builder, vertex.position, vertex.position + vertex.normal * length);
    return builder.vertices;
}

float NormalLength(float sceneRadius)
{
    return std::max(sceneRadius * 0.04f, 0.0001f);
}

}  // namespace grainforge::gl
