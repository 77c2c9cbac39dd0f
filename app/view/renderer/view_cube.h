// The view cube: the small orientation cube in the viewport's top right corner, turned with the
// camera, with its face names, three axis arrows, the highlighted cell under the pointer and a
// home button. One layout, built from the camera angles alone, serves both drawing and hit
// testing, so what is drawn and what is hit always agree. Everything here is plain arithmetic;
// the renderer uploads the vertex list it gives.
#pragma once

#include "app/view/renderer/render_vertex.h"

#include <array>
#include <cstdint>
#include <vector>

namespace grainforge::gl {

struct ScreenPoint {
    float x = 0.0f;
    float y = 0.0f;
};
using ScreenQuad = std::array<ScreenPoint, 4>;
using CellDirection = std::array<int, 3>;  // each -1, 0 or 1

// Face ids (and label atlas rows): 0 Front (-Y), 1 Back (+Y), 2 Left (-X), 3 Right (+X),
// 4 Top (+Z), 5 Bottom (-Z); rows 6, 7, 8 hold the axis letters.
inline constexpr int kViewCubeAtlasRows = 9;
inline constexpr int kViewCubeAtlasWidth = 160;
inline constexpr int kViewCubeAtlasRowHeight = 64;
inline constexpr int kViewCubeAtlasBytes = kViewCubeAtlasWidth * kViewCubeAtlasRowHeight * kViewCubeAtlasRows;
const char* ViewCubeLabelText(int row);

struct ViewCubeCell {
    ScreenQuad quad;
    CellDirection direction{};
};

struct ViewCubeFace {
    int id = 0;
    ScreenQuad outline;
    std::array<ViewCubeCell, 9> cells;
    ScreenQuad label;
    int atlasRow = 0;
    float shade = 1.0f;
};

struct ViewCubeAxis {
    ScreenPoint lineStart;
    ScreenPoint lineEnd;
    ScreenPoint labelCentre;
    bool inFront = false;
};

struct ViewCubeLayout {
    std::vector<ViewCubeFace> faces;  // visible faces only
    std::array<ViewCubeAxis, 3> axes;
    float squareX = 0.0f;
    float squareY = 0.0f;
    float squareSize = 0.0f;
    float scale = 1.0f;
    float centreX = 0.0f;
    float centreY = 0.0f;
    float halfExtent = 0.0f;  // pixels per cube unit
    Vec3 right;
    Vec3 up;
};

// Width in pixels, DPI scale (1 when not positive), camera angles in degrees.
ViewCubeLayout BuildViewCubeLayout(int width, float scale, float yaw, float pitch);

// Inside for either winding; a point on an edge is inside.
bool PointInQuad(const ScreenQuad& quad, float x, float y);
bool HomeButtonHit(const ViewCubeLayout& layout, float x, float y);
// Inside the cube's square [x, x + size) x [y, y + size).
bool PointInViewCubeSquare(const ViewCubeLayout& layout, float x, float y);
// The first visible face containing the point and its first cell containing it; false when the
// point is on no cell.
bool ViewCubeCellAt(const ViewCubeLayout& layout, float x, float y, CellDirection& direction);

// One vertex of the cube's draw list: pixel position (y down), texture coordinates (u < 0: no
// label texture), colour.
struct CubeVertex {
    float x, y;
    float u, v;
    float r, g, b, a;
};
static_assert(sizeof(CubeVertex) == 32, "the cube vertex layout is fixed at 32 bytes");

struct Rgba {
    float r, g, b, a;
};

void AddCubeTriangle(std::vector<CubeVertex>& list, ScreenPoint a, ScreenPoint b, ScreenPoint c, Rgba colour);
void AddCubeLabelQuad(std::vector<CubeVertex>& list, const ScreenQuad& quad, int row, Rgba colour);
void AddCubeThickLine(std::vector<CubeVertex>& list, ScreenPoint a, ScreenPoint b, float width, Rgba colour);
void AddCubeAxisIndicator(std::vector<CubeVertex>& list, const ViewCubeLayout& layout, int axis, float opacity);

// What the cube draws for a layout: the hovered cell (when `hoverValid`) highlighted and the home
// button lit when hovered.
std::vector<CubeVertex> BuildViewCubeVertices(const ViewCubeLayout& layout, bool hoverValid, CellDirection hovered,
                                              bool homeHovered);

}  // namespace grainforge::gl
