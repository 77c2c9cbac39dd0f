#include "app/view/renderer/view_cube.h"

#include <cmath>
#include <numbers>

namespace grainforge::gl {

namespace {

constexpr float kDegrees = std::numbers::pi_v<float> / 180.0f;
constexpr float kVisibleThreshold = -0.0001f;
constexpr Rgba kHoverColour{0.94f, 0.63f, 0.38f, 0.7f};

Vec3 UnitOrZero(Vec3 v)
{
    const float length = mesh::Length(v);
    return length > 1e-12f ? v * (1.0f / length) : Vec3{};
}

Vec3 Axis(int m, float value)
{
    Vec3 v;
    (m == 0 ? v.x : m == 1 ? v.y : v.z) = value;
    return v;
}

float Get(Vec3 v, int m)
{
    return m == 0 ? v.x : m == 1 ? v.y : v.z;
}

ScreenPoint Project(const ViewCubeLayout& layout, Vec3 p)
{
    return {layout.centreX + layout.halfExtent * mesh::Dot(p, layout.right),
            layout.centreY - layout.halfExtent * mesh::Dot(p, layout.up)};
}

int FaceId(int axis, float sign)
{
    static constexpr int kPositive[3] = {3, 1, 4};
    static constexpr int kNegative[3] = {2, 0, 5};
    return sign > 0.0f ? kPositive[axis] : kNegative[axis];
}

ScreenPoint Along(ScreenPoint p, float dx, float dy, float k)
{
    return {p.x + dx * k, p.y + dy * k};
}

}  // namespace

const char* ViewCubeLabelText(int row)
{
    static constexpr const char* kTexts[kViewCubeAtlasRows] = {"Front", "Back", "Left", "Right", "Top",
                                                               "Bottom", "x", "y", "z"};
    return row >= 0 && row < kViewCubeAtlasRows ? kTexts[row] : "";
}

ViewCubeLayout BuildViewCubeLayout(int width, float scale, float yaw, float pitch)
{
    ViewCubeLayout layout;
    const float s = scale > 0.0f && std::isfinite(scale) ? scale : 1.0f;
    layout.scale = s;
    layout.squareSize = 128.0f * s;
    const float margin = 6.0f * s;
    layout.squareX = static_cast<float>(width) - layout.squareSize - margin;
    layout.squareY = margin;
    layout.centreX = layout.squareX + 64.0f * s;
    layout.centreY = margin + 64.0f * s;
    layout.halfExtent = 0.23f * layout.squareSize;

    const float cp = std::cos(pitch * kDegrees);
    const Vec3 f{-cp * std::cos(yaw * kDegrees), -cp * std::sin(yaw * kDegrees), -std::sin(pitch * kDegrees)};
    layout.right = UnitOrZero({f.y, -f.x, 0.0f});
    layout.up = UnitOrZero(mesh::Cross(layout.right, f));
    const Vec3 light = UnitOrZero(layout.up * 0.6f - layout.right * 0.35f - f * 0.7f);

    static constexpr float kLo[3] = {-1.0f, -0.5f, 0.5f};
    static constexpr float kHi[3] = {-0.5f, 0.5f, 1.0f};
    for (int m = 0; m < 3; ++m) {
        for (float sign : {1.0f, -1.0f}) {
            const Vec3 n = Axis(m, sign);
            if (!(mesh::Dot(n, f) < kVisibleThreshold))
                continue;
            const int a1 = (m + 1) % 3;
            const int a2 = (m + 2) % 3;
            auto point = [&](float p1, float p2) { return Project(layout, n + Axis(a1, p1) + Axis(a2, p2)); };
            ViewCubeFace face;
            face.id = FaceId(m, sign);
            face.atlasRow = face.id;
            face.outline = {point(-1, -1), point(1, -1), point(1, 1), point(-1, 1)};
            face.shade = 0.62f + 0.38f * std::max(0.0f, mesh::Dot(n, light));
            int c = 0;
            for (int i = -1; i <= 1; ++i) {
                for (int j = -1; j <= 1; ++j) {
                    ViewCubeCell& cell = face.cells[c++];
                    cell.quad = {point(kLo[i + 1], kLo[j + 1]), point(kHi[i + 1], kLo[j + 1]),
                                 point(kHi[i + 1], kHi[j + 1]), point(kLo[i + 1], kHi[j + 1])};
                    CellDirection d{0, 0, 0};
                    d[m] = static_cast<int>(sign);
                    d[a1] = i;
                    d[a2] = j;
                    cell.direction = d;
                }
            }
            Vec3 labelRight;
            Vec3 labelUp;
            if (m == 2) {
                labelRight = {1.0f, 0.0f, 0.0f};
                labelUp = {0.0f, sign > 0.0f ? 1.0f : -1.0f, 0.0f};
            } else {
                labelUp = {0.0f, 0.0f, 1.0f};
                labelRight = mesh::Cross(labelUp, n);
            }
            face.label = {Project(layout, n - labelRight * 0.86f + labelUp * 0.344f),
                          Project(layout, n + labelRight * 0.86f + labelUp * 0.344f),
                          Project(layout, n + labelRight * 0.86f - labelUp * 0.344f),
                          Project(layout, n - labelRight * 0.86f - labelUp * 0.344f)};
            layout.faces.push_back(face);
        }
    }

    const Vec3 corner{-1.0f, -1.0f, -1.0f};
    for (int m = 0; m < 3; ++m) {
        ViewCubeAxis& axis = layout.axes[static_cast<std::size_t>(m)];
        axis.lineStart = Project(layout, corner);
        axis.lineEnd = Project(layout, corner + Axis(m, 2.45f));
        axis.labelCentre = Project(layout, corner + Axis(m, 2.85f));
        axis.inFront = Get(f, (m + 1) % 3) > -kVisibleThreshold || Get(f, (m + 2) % 3) > -kVisibleThreshold;
    }
    return layout;
}

bool PointInQuad(const ScreenQuad& quad, float x, float y)
{
    int positive = 0;
    int negative = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const ScreenPoint a = quad[i];
        const ScreenPoint b = quad[(i + 1) % 4];
        const float cross = (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
        positive += cross > 0.0f ? 1 : 0;
        negative += cross < 0.0f ? 1 : 0;
    }
    return positive == 0 || negative == 0;
}

bool HomeButtonHit(const ViewCubeLayout& layout, float x, float y)
{
    if (!(layout.squareSize > 0.0f))
        return false;
    const float s = layout.scale;
    const float x0 = layout.squareX + 2.0f * s;
    const float y0 = layout.squareY + 2.0f * s;
    const float w = 22.0f * s;
    return PointInQuad({ScreenPoint{x0, y0}, {x0 + w, y0}, {x0 + w, y0 + w}, {x0, y0 + w}}, x, y);
}

bool PointInViewCubeSquare(const ViewCubeLayout& layout, float x, float y)
{
    return layout.squareSize > 0.0f && x >= layout.squareX && x < layout.squareX + layout.squareSize &&
           y >= layout.squareY && y < layout.squareY + layout.squareSize;
}

bool ViewCubeCellAt(const ViewCubeLayout& layout, float x, float y, CellDirection& direction)
{
    for (const ViewCubeFace& face : layout.faces) {
        if (!PointInQuad(face.outline, x, y))
            continue;
        for (const ViewCubeCell& cell : face.cells) {
            if (PointInQuad(cell.quad, x, y)) {
                direction = cell.direction;
                return true;
            }
        }
        return false;
    }
    return false;
}

void AddCubeTriangle(std::vector<CubeVertex>& list, ScreenPoint a, ScreenPoint b, ScreenPoint c, Rgba colour)
{
    for (ScreenPoint p : {a, b, c})
        list.push_back({p.x, p.y, -1.0f, -1.0f, colour.r, colour.g, colour.b, colour.a});
}

void AddCubeLabelQuad(std::vector<CubeVertex>& list, const ScreenQuad& quad, int row, Rgba colour)
{
    const float top = static_cast<float>(row) / kViewCubeAtlasRows;
    const float bottom = static_cast<float>(row + 1) / kViewCubeAtlasRows;
    const float uv[4][2] = {{0.0f, top}, {1.0f, top}, {1.0f, bottom}, {0.0f, bottom}};
    for (int i : {0, 1, 2, 0, 2, 3})
        list.push_back({quad[static_cast<std::size_t>(i)].x, quad[static_cast<std::size_t>(i)].y, uv[i][0], uv[i][1],
                        colour.r, colour.g, colour.b, colour.a});
}

void AddCubeThickLine(std::vector<CubeVertex>& list, ScreenPoint a, ScreenPoint b, float width, Rgba colour)
{
    const float dx = b.x - a.x;
    const float dy = b.y - a.y;
    const float length = std::sqrt(dx * dx + dy * dy);
    if (!(length > 0.0f))
        return;
    const float nx = -dy / length * width * 0.5f;
    const float ny = dx / length * width * 0.5f;
    const ScreenPoint a0{a.x + nx, a.y + ny}, a1{a.x - nx, a.y - ny};
    const ScreenPoint b0{b.x + nx, b.y + ny}, b1{b.x - nx, b.y - ny};
    AddCubeTriangle(list, a0, b0, b1, colour);
    AddCubeTriangle(list, a0, b1, a1, colour);
}

void AddCubeAxisIndicator(std::vector<CubeVertex>& list, const ViewCubeLayout& layout, int axis, float opacity)
{
    static constexpr Rgba kColours[3] = {{0.9f, 0.2f, 0.18f, 1.0f}, {0.25f, 0.85f, 0.28f, 1.0f}, {0.3f, 0.52f, 0.98f, 1.0f}};
    if (axis < 0 || axis > 2)
        return;
    Rgba colour = kColours[axis];
    colour.a *= opacity;
    const float s = layout.scale;
    const ViewCubeAxis& a = layout.axes[static_cast<std::size_t>(axis)];
    AddCubeThickLine(list, a.lineStart, a.lineEnd, 2.0f * s, colour);
    const float dx = a.lineEnd.x - a.lineStart.x;
    const float dy = a.lineEnd.y - a.lineStart.y;
    const float length = std::sqrt(dx * dx + dy * dy);
    if (length > 0.0f) {
        const float ux = dx / length;
        const float uy = dy / length;
        AddCubeTriangle(list, Along(a.lineEnd, ux, uy, 6.0f * s), Along(a.lineEnd, -uy, ux, 3.0f * s),
                        Along(a.lineEnd, uy, -ux, 3.0f * s), colour);
    }
    const ScreenPoint c = a.labelCentre;
    const float hw = 25.0f * s;
    const float hh = 10.0f * s;
    AddCubeLabelQuad(list, {ScreenPoint{c.x - hw, c.y - hh}, {c.x + hw, c.y - hh}, {c.x + hw, c.y + hh}, {c.x - hw, c.y + hh}},
                     6 + axis, colour);
}

std::vector<CubeVertex> BuildViewCubeVertices(const ViewCubeLayout& layout, bool hoverValid, CellDirection hovered,
                                              bool homeHovered)
{
    std::vector<CubeVertex> list;
    if (!(layout.squareSize > 0.0f))
        return list;
    for (int axis = 0; axis < 3; ++axis) {
        if (!layout.axes[static_cast<std::size_t>(axis)].inFront)
            AddCubeAxisIndicator(list, layout, axis, 0.3f);
    }
    const float s = layout.scale;
    for (const ViewCubeFace& face : layout.faces) {
        const Rgba fill{0.4f * face.shade, 0.42f * face.shade, 0.46f * face.shade, 0.92f};
        AddCubeTriangle(list, face.outline[0], face.outline[1], face.outline[2], fill);
        AddCubeTriangle(list, face.outline[0], face.outline[2], face.outline[3], fill);
        if (hoverValid) {
            for (const ViewCubeCell& cell : face.cells) {
                if (cell.direction == hovered) {
                    AddCubeTriangle(list, cell.quad[0], cell.quad[1], cell.quad[2], kHoverColour);
                    AddCubeTriangle(list, cell.quad[0], cell.quad[2], cell.quad[3], kHoverColour);
                }
            }
        }
        AddCubeLabelQuad(list, face.label, face.atlasRow, {0.93f, 0.94f, 0.96f, 1.0f});
        for (std::size_t i = 0; i < 4; ++i)
            AddCubeThickLine(list, face.outline[i], face.outline[(i + 1) % 4], 1.2f * s, {0.16f, 0.18f, 0.21f, 1.0f});
    }
    for (int axis = 0; axis < 3; ++axis) {
        if (layout.axes[static_cast<std::size_t>(axis)].inFront)
            AddCubeAxisIndicator(list, layout, axis, 1.0f);
    }
    const float w = 22.0f * s;
    const float x0 = layout.squareX + 2.0f * s;
    const float y0 = layout.squareY + 2.0f * s;
    const Rgba button = homeHovered ? kHoverColour : Rgba{0.2f, 0.22f, 0.26f, 0.85f};
    auto at = [&](float u, float v) { return ScreenPoint{x0 + u * w, y0 + v * w}; };
    AddCubeTriangle(list, at(0, 0), at(1, 0), at(1, 1), button);
    AddCubeTriangle(list, at(0, 0), at(1, 1), at(0, 1), button);
    const Rgba house{0.85f, 0.87f, 0.9f, 1.0f};
    AddCubeTriangle(list, at(0.5f, 0.18f), at(0.86f, 0.5f), at(0.14f, 0.5f), house);
    AddCubeTriangle(list, at(0.26f, 0.5f), at(0.74f, 0.5f), at(0.74f, 0.82f), house);
    AddCubeTriangle(list, at(0.26f, 0.5f), at(0.74f, 0.82f), at(0.26f, 0.82f), house);
    AddCubeTriangle(list, at(0.44f, 0.62f), at(0.56f, 0.62f), at(0.56f, 0.82f), button);
    AddCubeTriangle(list, at(0.44f, 0.62f), at(0.56f, 0.82f), at(0.44f, 0.82f), button);
    return list;
}

}  // namespace grainforge::gl
