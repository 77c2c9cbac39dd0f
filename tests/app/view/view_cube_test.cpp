#include "app/view/renderer/view_cube.h"

#include <gtest/gtest.h>

namespace grainforge::gl {
namespace {

ScreenPoint QuadCentre(const ScreenQuad& q)
{
    return {(q[0].x + q[1].x + q[2].x + q[3].x) / 4.0f, (q[0].y + q[1].y + q[2].y + q[3].y) / 4.0f};
}

TEST(ViewCubeLayout, SquareAndHomeButtonAt96And144Dpi)
{
    struct Case {
        float scale;
        float x, y, size;
        float homeX, homeY, homeSide;
    };
    const Case cases[] = {{1.0f, 866, 6, 128, 868, 8, 22}, {1.5f, 799, 9, 192, 802, 12, 33},
                          {0.0f, 866, 6, 128, 868, 8, 22}, {-2.0f, 866, 6, 128, 868, 8, 22}};
    for (const Case& c : cases) {
        const ViewCubeLayout layout = BuildViewCubeLayout(1000, c.scale, -135.0f, 45.0f);
        EXPECT_FLOAT_EQ(layout.squareX, c.x) << c.scale;
        EXPECT_FLOAT_EQ(layout.squareY, c.y) << c.scale;
        EXPECT_FLOAT_EQ(layout.squareSize, c.size) << c.scale;
        EXPECT_TRUE(HomeButtonHit(layout, c.homeX, c.homeY)) << c.scale;
        EXPECT_TRUE(HomeButtonHit(layout, c.homeX + c.homeSide, c.homeY + c.homeSide)) << "edge is inside";
        EXPECT_FALSE(HomeButtonHit(layout, c.homeX + c.homeSide + 0.5f, c.homeY + 1.0f));
        EXPECT_FALSE(HomeButtonHit(layout, c.homeX - 0.5f, c.homeY + 1.0f));
        EXPECT_TRUE(PointInViewCubeSquare(layout, c.x, c.y));
        EXPECT_FALSE(PointInViewCubeSquare(layout, c.x + c.size, c.y)) << "the square is half open";
        EXPECT_FLOAT_EQ(layout.centreX, c.x + c.size / 2.0f);
        EXPECT_FLOAT_EQ(layout.halfExtent, 0.23f * c.size);
    }
}

TEST(ViewCubeLayout, FrontViewShowsOnlyTheFrontFace)
{
    const ViewCubeLayout layout = BuildViewCubeLayout(1000, 1.0f, -90.0f, 0.0f);
    ASSERT_EQ(layout.faces.size(), 1u);
    EXPECT_EQ(layout.faces[0].id, 0);
    CellDirection d{};
    ASSERT_TRUE(ViewCubeCellAt(layout, layout.centreX, layout.centreY, d));
    EXPECT_EQ(d, (CellDirection{0, -1, 0}));
    // The Front label reads left to right: its first corner is its top left.
    const ScreenQuad& label = layout.faces[0].label;
    EXPECT_LT(label[0].x, label[1].x);
    EXPECT_LT(label[0].y, label[3].y);
}

TEST(ViewCubeLayout, HomeViewShowsFrontLeftTopAndTheirCorner)
{
    const ViewCubeLayout layout = BuildViewCubeLayout(1000, 1.0f, -135.0f, 45.0f);
    ASSERT_EQ(layout.faces.size(), 3u);
    EXPECT_EQ(layout.faces[0].id, 2);  // Left (-X) comes first: axis X before Y before Z
    EXPECT_EQ(layout.faces[1].id, 0);
    EXPECT_EQ(layout.faces[2].id, 4);
    // The shared corner (-1, -1, 1) projects to the cube's centre region; a point a little off it
    // towards each face lies in that face's corner cell.
    for (const ViewCubeFace& face : layout.faces) {
        const ViewCubeCell* corner = nullptr;
        for (const ViewCubeCell& cell : face.cells) {
            if (cell.direction == CellDirection{-1, -1, 1})
                corner = &cell;
        }
        ASSERT_NE(corner, nullptr) << face.id;
        const ScreenPoint p = QuadCentre(corner->quad);
        CellDirection d{};
        ASSERT_TRUE(ViewCubeCellAt(layout, p.x, p.y, d));
        EXPECT_EQ(d, (CellDirection{-1, -1, 1}));
    }
    // From the front left every axis runs along an edge of a visible face; from the back right
    // the corner (-1, -1, -1) they start from is hidden.
    for (const ViewCubeAxis& axis : layout.axes)
        EXPECT_TRUE(axis.inFront);
    for (const ViewCubeAxis& axis : BuildViewCubeLayout(1000, 1.0f, 45.0f, 45.0f).axes)
        EXPECT_FALSE(axis.inFront);
}

TEST(ViewCubeLayout, ABorderPointBelongsToTheFirstCellInStoredOrder)
{
    const ViewCubeLayout layout = BuildViewCubeLayout(1000, 1.0f, -90.0f, 0.0f);
    const ViewCubeFace& front = layout.faces[0];
    // The corner shared by the centre cell and three others.
    const ScreenPoint shared = front.cells[4].quad[0];
    int first = -1;
    for (int i = 0; i < 9 && first < 0; ++i) {
        if (PointInQuad(front.cells[static_cast<std::size_t>(i)].quad, shared.x, shared.y))
            first = i;
    }
    ASSERT_GE(first, 0);
    EXPECT_LT(first, 4);
    CellDirection d{};
    ASSERT_TRUE(ViewCubeCellAt(layout, shared.x, shared.y, d));
    EXPECT_EQ(d, front.cells[static_cast<std::size_t>(first)].direction);
}

TEST(PointInQuad, EitherWindingAndEdgesInside)
{
    const ScreenQuad clockwise{ScreenPoint{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    const ScreenQuad counter{ScreenPoint{0, 0}, {0, 10}, {10, 10}, {10, 0}};
    for (const ScreenQuad& q : {clockwise, counter}) {
        EXPECT_TRUE(PointInQuad(q, 5, 5));
        EXPECT_TRUE(PointInQuad(q, 10, 5));
        EXPECT_TRUE(PointInQuad(q, 0, 0));
        EXPECT_FALSE(PointInQuad(q, 10.01f, 5));
        EXPECT_FALSE(PointInQuad(q, -1, -1));
    }
}

TEST(ViewCubeVertices, TrianglesOnlyWithLabelsTexturedAndTheHoverDrawn)
{
    const ViewCubeLayout layout = BuildViewCubeLayout(800, 1.0f, -135.0f, 45.0f);
    const std::vector<CubeVertex> plain = BuildViewCubeVertices(layout, false, {}, false);
    ASSERT_FALSE(plain.empty());
    EXPECT_EQ(plain.size() % 3, 0u);
    int textured = 0;
    for (const CubeVertex& v : plain) {
        if (v.u >= 0.0f)
            ++textured;
        else
            EXPECT_EQ(v.v, -1.0f);
    }
    EXPECT_EQ(textured, 6 * (3 + 3));  // three face labels and three axis letters
    const std::vector<CubeVertex> hovered = BuildViewCubeVertices(layout, true, {-1, -1, 1}, false);
    EXPECT_EQ(hovered.size(), plain.size() + 3u * 6u) << "the corner cell is lit on all three faces";
    EXPECT_TRUE(BuildViewCubeVertices(ViewCubeLayout{}, false, {}, false).empty());
    std::vector<CubeVertex> line;
    AddCubeThickLine(line, {1, 1}, {1, 1}, 2.0f, {1, 1, 1, 1});
    EXPECT_TRUE(line.empty()) << "a zero-length line adds nothing";
}

}  // namespace
}  // namespace grainforge::gl
