#include "app/view/renderer/floor_grid.h"

#include <algorithm>
#include <cmath>

namespace grainforge::gl {

namespace {

constexpr float kEmptySceneHalfExtent = 5.0f;
constexpr int kMaxLines = 200;           // a guard: the ladder never asks for more than 9
constexpr float kFillDrop = 0.0005f;     // fill this far below the lines (in E) so lines win
constexpr float kAxisLength = 0.33f;     // in E
constexpr Vec3 kCentreLineColour{0.34f, 0.37f, 0.42f};
constexpr Vec3 kLineColour{0.24f, 0.27f, 0.31f};
constexpr Vec3 kFillColour{0.17f, 0.19f, 0.22f};
constexpr Vec3 kAxisColours[3] = {{0.9f, 0.2f, 0.18f}, {0.25f, 0.85f, 0.28f}, {0.2f, 0.45f, 0.95f}};

RenderVertex FloorVertex(float x, float y, float z, Vec3 colour, Vec3 normal)
{
    RenderVertex vertex{};
    vertex.position[0] = x;
    vertex.position[1] = y;
    vertex.position[2] = z;
    for (float* n : {vertex.faceNormal, vertex.smoothNormal}) {
        n[0] = normal.x;
        n[1] = normal.y;
        n[2] = normal.z;
    }
    vertex.colour[0] = colour.x;
    vertex.colour[1] = colour.y;
    vertex.colour[2] = colour.z;
    return vertex;
}

bool HasFiniteFloor(const SceneBounds& bounds)
{
    return std::isfinite(bounds.floorHalfExtent) && std::isfinite(bounds.floorHeight) &&
           std::isfinite(bounds.floorCentre[0]) && std::isfinite(bounds.floorCentre[1]);
}

}  // namespace

FloorGridStep ChooseFloorGridStep(float halfExtent)
{
    const float h = std::isfinite(halfExtent) ? halfExtent : kEmptySceneHalfExtent;
    const float s = std::max(h, 0.0001f) / 5.0f;
    const float p = std::pow(10.0f, std::floor(std::log10(s)));
    const float v = s / p;
    FloorGridStep result;
    if (v < 1.5f)
        result.step = p;
    else if (v < 3.5f)
        result.step = 2.0f * p;
    else if (v < 7.5f)
        result.step = 5.0f * p;
    else
        result.step = 10.0f * p;
    // Compared before converting, so no value of h / step can overflow the conversion.
    const float n = std::ceil(h / result.step);
    result.lines = n < 1.0f ? 1 : n > static_cast<float>(kMaxLines) ? kMaxLines : static_cast<int>(n);
    result.extent = static_cast<float>(result.lines) * result.step;
    return result;
}

FloorGridVertices BuildFloorGridVertices(const SceneBounds& bounds)
{
    const SceneBounds floor = HasFiniteFloor(bounds) ? bounds : SceneBounds{};
    const FloorGridStep step = ChooseFloorGridStep(floor.floorHalfExtent);
    const float e = step.extent;
    const float z = floor.floorHeight;
    const float cx = floor.floorCentre[0];
    const float cy = floor.floorCentre[1];
    const Vec3 lineNormal{0.0f, 1.0f, 0.0f};

    FloorGridVertices result;
    result.extent = e;
    result.grid.reserve(static_cast<std::size_t>(4 * (2 * step.lines + 1) + 6));
    for (int i = -step.lines; i <= step.lines; ++i) {
        const Vec3 colour = i == 0 ? kCentreLineColour : kLineColour;
        const float offset = static_cast<float>(i) * step.step;
        result.grid.push_back(FloorVertex(cx - e, cy + offset, z, colour, lineNormal));
        result.grid.push_back(FloorVertex(cx + e, cy + offset, z, colour, lineNormal));
        result.grid.push_back(FloorVertex(cx + offset, cy - e, z, colour, lineNormal));
        result.grid.push_back(FloorVertex(cx + offset, cy + e, z, colour, lineNormal));
    }
    const float axis = kAxisLength * e;
    const float ox = cx - e;
    const float oy = cy - e;
    result.grid.push_back(FloorVertex(ox, oy, z, kAxisColours[0], lineNormal));
    result.grid.push_back(FloorVertex(ox + axis, oy, z, kAxisColours[0], lineNormal));
    result.grid.push_back(FloorVertex(ox, oy, z, kAxisColours[1], lineNormal));
    result.grid.push_back(FloorVertex(ox, oy + axis, z, kAxisColours[1], lineNormal));
    result.grid.push_back(FloorVertex(ox, oy, z, kAxisColours[2], lineNormal));
    result.grid.push_back(FloorVertex(ox, oy, z + axis, kAxisColours[2], lineNormal));

    const float fz = z - e * kFillDrop;
    const Vec3 up{0.0f, 0.0f, 1.0f};
    const float corners[6][2] = {{cx - e, cy - e}, {cx + e, cy - e}, {cx + e, cy + e},
                                 {cx - e, cy - e}, {cx + e, cy + e}, {cx - e, cy + e}};
    for (const auto& corner : corners)
        result.fill.push_back(FloorVertex(corner[0], corner[1], fz, kFillColour, up));
    return result;
}

}  // namespace grainforge::gl
