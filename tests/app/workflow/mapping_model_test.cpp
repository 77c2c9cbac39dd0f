// The Mapping section without windows: side colours, the button rows, the projector rows of each
// projection kind and what clicks on them do, the body's layout, the projector list's geometry,
// hit tests and scrolling at several DPIs, and the projection sketch's geometry.
#include "app/workflow/mapping_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

namespace grainforge::app {
namespace {

namespace mesh = grainforge::mesh;
using mesh::ProjectionKind;

TEST(MappingColours, UnitChannelsRoundAndClamp) {
  struct Case {
    float r, g, b;
    Rgb expected;
  } cases[] = {
      {0.88f, 0.28f, 0.25f, {224, 71, 64}},
      {0.32f, 0.78f, 0.36f, {82, 199, 92}},
      {0.30f, 0.52f, 0.92f, {77, 133, 235}},
      {0.45f, 0.47f, 0.50f, {115, 120, 128}},
      {-1.0f, 2.0f, 1.0f, {0, 255, 255}},
      // A NaN channel (a broken file's colour) gives 0 rather than an undefined conversion.
      {std::numeric_limits<float>::quiet_NaN(), 0.0f, std::numeric_limits<float>::infinity(), {0, 0, 255}},
  };
  for (const Case& c : cases) EXPECT_EQ(ColorFromUnitRgb(c.r, c.g, c.b), c.expected) << c.r << " " << c.g;

  const Rgb bySide[] = {{224, 71, 64}, {224, 71, 64}, {82, 199, 92}, {82, 199, 92}, {77, 133, 235}, {77, 133, 235}};
  for (int side = 0; side < 6; ++side) EXPECT_EQ(SideColor(side), bySide[side]);
  EXPECT_EQ(SideColor(6), (Rgb{115, 120, 128}));
  EXPECT_EQ(SideColor(-1), (Rgb{115, 120, 128}));

  EXPECT_EQ(SideColorArgb(false, 0, 95), (Argb{95, 224, 71, 64}));
  EXPECT_EQ(SideColorArgb(true, 0, 95), (Argb{47, 224, 71, 64}));
  EXPECT_EQ(SideColorArgb(true, 4, 45), (Argb{22, 77, 133, 235}));
}

TEST(MappingButtons, RowsHoldTheirCommandsInOrder) {
  struct Expected {
    std::uint32_t id;
    const wchar_t* icon;
    const wchar_t* label;
  };
  const auto check = [](const std::vector<ToolbarItem>& items, std::vector<Expected> expected) {
    ASSERT_EQ(items.size(), expected.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].commandId, expected[i].id);
      EXPECT_EQ(items[i].iconName, expected[i].icon);
      EXPECT_EQ(items[i].tooltipTitle, expected[i].label);
      EXPECT_FALSE(items[i].tooltipBody.empty());
    }
  };
  check(MappingTypeButtons(), {{32796, L"projection_cubic", L"Box"},
                               {32797, L"projection_planar", L"Plane"},
                               {32798, L"projection_cylindrical", L"Cylinder"},
                               {32887, L"projection_sphere", L"Sphere"}});
  check(MappingAxisButtons(),
        {{32850, L"axis_x", L"Along X"}, {32851, L"axis_y", L"Along Y"}, {32852, L"axis_z", L"Along Z"}});
  check(MappingSurfacesButtons(), {{32919, L"surfaces_all", L"All Surfaces"},
                                   {32920, L"surfaces_outer", L"Outer Surfaces Only"},
                                   {32921, L"surfaces_inner", L"Inner Surfaces Only"}});
  EXPECT_EQ(MappingTypeButtons()[0].tooltipBody, L"Project the texture from six sides.");
  EXPECT_EQ(MappingSurfacesButtons()[1].tooltipBody,
            L"Texture the outside of the part and leave the inside plain: the bore of a tube, a slot, a pocket.");
}

mesh::Projection Kind(ProjectionKind type) {
  mesh::Projection p;
  p.type = type;
  return p;
}

TEST(ProjectorRows, EachKindShowsItsProjectors) {
  mesh::Projection box = Kind(ProjectionKind::Box);
  box.boxSideEnabled[3] = 0;
  mesh::Projection plane = Kind(ProjectionKind::Plane);
  plane.planeAxis = 0;
  mesh::Projection cylinder = Kind(ProjectionKind::Cylinder);
  cylinder.cylinderAxis = 1;
  cylinder.cylinderSideEnabled = 1;
  cylinder.cylinderTopCapEnabled = 0;
  cylinder.cylinderBottomCapEnabled = 1;
  mesh::Projection sphereZ = Kind(ProjectionKind::Sphere);
  sphereZ.boxSideEnabled[0] = 0;
  mesh::Projection sphereX = sphereZ;
  sphereX.sphereAxis = 0;
  mesh::Projection unknown = Kind(static_cast<ProjectionKind>(9));

  struct Case {
    const char* name;
    mesh::Projection projection;
    bool hasPart;
    std::vector<int> sides;
    std::vector<std::wstring> labels;
    std::vector<bool> enabled;
    bool toggleable;
  } cases[] = {
      {"box", box, true, {0, 1, 2, 3, 4, 5},
       {L"Right (+X)", L"Left (\u2212X)", L"Back (+Y)", L"Front (\u2212Y)", L"Top (+Z)", L"Bottom (\u2212Z)"},
       {true, true, true, false, true, true}, true},
      {"box without part", box, false, {0, 1, 2, 3, 4, 5},
       {L"Right (+X)", L"Left (\u2212X)", L"Back (+Y)", L"Front (\u2212Y)", L"Top (+Z)", L"Bottom (\u2212Z)"},
       {true, true, true, false, true, true}, false},
      // The plane's one projector is always on and cannot be switched, part or not.
      {"plane along X", plane, true, {4}, {L"Plane (+X)"}, {true}, false},
      {"cylinder along Y", cylinder, true, {0, 4, 5}, {L"Wall", L"Top cap (+Y)", L"Bottom cap (\u2212Y)"},
       {true, false, true}, true},
      {"sphere along Z", sphereZ, true, {0, 1, 2, 3, 4, 5},
       {L"Right (+X)", L"Left (\u2212X)", L"Back (+Y)", L"Front (\u2212Y)", L"Top (+Z) pole", L"Bottom (\u2212Z) pole"},
       {false, true, true, true, true, true}, true},
      {"sphere along X", sphereX, false, {0, 1, 2, 3, 4, 5},
       {L"Right (+X) pole", L"Left (\u2212X) pole", L"Back (+Y)", L"Front (\u2212Y)", L"Top (+Z)", L"Bottom (\u2212Z)"},
       {false, true, true, true, true, true}, false},
      {"unknown kind", unknown, true, {}, {}, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<ProjectorRow> rows = BuildProjectorRows(c.projection, MappingAxis(c.projection), c.hasPart);
    ASSERT_EQ(rows.size(), c.sides.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].side, c.sides[i]);
      EXPECT_EQ(rows[i].label, c.labels[i]);
      EXPECT_EQ(rows[i].colour, SideColor(c.sides[i]));
      EXPECT_EQ(rows[i].enabled, c.enabled[i]) << i;
      EXPECT_EQ(rows[i].toggleable, c.toggleable && c.projection.type != ProjectionKind::Plane) << i;
    }
  }
}

TEST(ProjectorRows, AxisOutsideItsRangeReadsAsZ) {
  // An axis from a damaged project file indexed past the letters before.
  mesh::Projection plane = Kind(ProjectionKind::Plane);
  for (int axis : {-1, 3, 1000}) {
    plane.planeAxis = axis;
    EXPECT_EQ(MappingAxis(plane), 2);
    EXPECT_EQ(BuildProjectorRows(plane, MappingAxis(plane), true)[0].label, L"Plane (+Z)");
    EXPECT_EQ(BuildProjectorRows(plane, axis, true)[0].label, L"Plane (+Z)");
  }
  mesh::Projection cylinder = Kind(ProjectionKind::Cylinder);
  cylinder.cylinderAxis = 1;
  EXPECT_EQ(MappingAxis(cylinder), 1);
  EXPECT_EQ(MappingAxis(Kind(ProjectionKind::Box)), 2);  // a box shows the cylinder's axis
  EXPECT_EQ(ReadMappingState(nullptr).axis, 2);
  EXPECT_FALSE(ReadMappingState(nullptr).hasPart);
}

TEST(ProjectorRows, SelectionIsTheLastRowOfTheActiveSide) {
  const std::vector<ProjectorRow> rows{{0, L"a", {}, true, true}, {4, L"b", {}, true, true}, {4, L"c", {}, true, true}};
  EXPECT_EQ(SelectedProjectorRow(rows, 4), 2);
  EXPECT_EQ(SelectedProjectorRow(rows, 0), 0);
  EXPECT_EQ(SelectedProjectorRow(rows, -1), -1);
  EXPECT_EQ(SelectedProjectorRow(rows, 5), -1);
}

TEST(ProjectorClicks, LabelsSelectLayersAndBoxesSwitchProjectors) {
  const ProjectorRow side2{2, L"Back (+Y)", SideColor(2), true, true};
  const ProjectorRow wall{0, L"Wall", SideColor(0), true, true};
  const ProjectorRow topCap{4, L"Top cap (+Z)", SideColor(4), false, true};
  const ProjectorRow stray{7, L"?", SideColor(7), true, true};
  mesh::Projection box = Kind(ProjectionKind::Box);
  mesh::Projection selected = box;
  selected.activeLayer = 2;
  mesh::Projection cylinder = Kind(ProjectionKind::Cylinder);
  cylinder.cylinderTopCapEnabled = 0;

  struct Case {
    const char* name;
    mesh::Projection projection;
    ProjectorRow row;
    bool onLabel;
    std::optional<int> layer;
    std::optional<std::uint32_t> command;
    bool edits;
  } cases[] = {
      {"label selects", box, side2, true, 2, {}, false},
      {"label again clears", selected, side2, true, -1, {}, false},
      {"stray side clears a selection", selected, stray, true, -1, {}, false},
      {"stray side without selection does nothing", box, stray, true, {}, {}, false},
      {"box check box sends the side command", box, side2, false, {}, 32803u, false},
      {"sphere check box sends the side command", Kind(ProjectionKind::Sphere), side2, false, {}, 32803u, false},
      // 32801 + 7 would be the id of another command.
      {"stray side sends nothing", box, stray, false, {}, {}, false},
      {"plane check box changes nothing", Kind(ProjectionKind::Plane), side2, false, {}, {}, false},
      {"cylinder wall switches off", cylinder, wall, false, {}, {}, true},
      {"cylinder top cap switches on", cylinder, topCap, false, {}, {}, true},
      {"cylinder side 2 has no switch", cylinder, side2, false, {}, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProjectorClickPlan plan = PlanProjectorClick(c.projection, c.row, c.onLabel);
    EXPECT_EQ(plan.activeLayer, c.layer);
    EXPECT_EQ(plan.command, c.command);
    EXPECT_EQ(plan.projection.has_value(), c.edits);
  }
  EXPECT_EQ(PlanProjectorClick(cylinder, wall, false).projection->cylinderSideEnabled, 0);
  EXPECT_EQ(PlanProjectorClick(cylinder, topCap, false).projection->cylinderTopCapEnabled, 1);
  // The row showed the wall off while the document already had it off: nothing to store.
  mesh::Projection wallOff = cylinder;
  wallOff.cylinderSideEnabled = 0;
  EXPECT_FALSE(PlanProjectorClick(wallOff, wall, false).projection.has_value());
}

TEST(MappingBodyLayout, ChildrenAtSeveralDpisAndNarrowWidths) {
  struct Case {
    int width, dpi;
    PixelRect typeRow, picture, axis, list, label, surfaces;
    int contentHeight;
  } cases[] = {
      {340, 96, {8, 8, 332, 48}, {8, 54, 116, 162}, {122, 54, 162, 170}, {168, 54, 332, 170}, {8, 176, 70, 216},
       {70, 176, 332, 216}, 224},
      {510, 144, {12, 12, 498, 72}, {12, 81, 174, 243}, {183, 81, 243, 255}, {252, 81, 498, 255},
       {12, 264, 105, 324}, {105, 264, 498, 324}, 336},
      // Narrower than 176: the list gets no width rather than a negative one.
      {150, 96, {8, 8, 142, 48}, {8, 54, 116, 162}, {122, 54, 162, 170}, {168, 54, 168, 170}, {8, 176, 70, 216},
       {70, 176, 142, 216}, 224},
      // Narrower than the margins: nothing negative either (wx takes -1 as "default size").
      {10, 96, {8, 8, 8, 48}, {8, 54, 116, 162}, {122, 54, 162, 170}, {168, 54, 168, 170}, {8, 176, 70, 216},
       {70, 176, 70, 216}, 224},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    const MappingBodyLayout l = LayoutMappingBody(c.width, c.dpi);
    EXPECT_EQ(l.typeRow, c.typeRow);
    EXPECT_EQ(l.picture, c.picture);
    EXPECT_EQ(l.axisColumn, c.axis);
    EXPECT_EQ(l.list, c.list);
    EXPECT_EQ(l.label, c.label);
    EXPECT_EQ(l.surfacesRow, c.surfaces);
    EXPECT_EQ(MappingBodyContentHeight(c.dpi), c.contentHeight);
  }
}

TEST(ProjectorListGeometry, RowsPartsAndHitsAtSeveralDpis) {
  struct Case {
    int dpi, offset;
    PixelRect row1, check1, swatch1, label1;
  } cases[] = {
      {96, 0, {1, 23, 163, 45}, {7, 27, 21, 41}, {27, 28, 39, 40}, {45, 23, 157, 45}},
      {96, 10, {1, 13, 163, 35}, {7, 17, 21, 31}, {27, 18, 39, 30}, {45, 13, 157, 35}},
      {144, 0, {1, 34, 163, 67}, {10, 40, 31, 61}, {40, 41, 58, 59}, {67, 34, 154, 67}},
  };
  const PixelRect client{0, 0, 164, 116};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    const PixelRect row = ProjectorRowRect(client, 1, c.dpi, c.offset);
    EXPECT_EQ(row, c.row1);
    const ProjectorRowParts parts = ProjectorRowLayout(client, row, c.dpi);
    EXPECT_EQ(parts.check, c.check1);
    EXPECT_EQ(parts.swatch, c.swatch1);
    EXPECT_EQ(parts.label, c.label1);
    EXPECT_EQ(HitTestProjectorRow(client, 6, c.dpi, c.offset, {50, row.top}), 1);
    EXPECT_EQ(HitTestProjectorRow(client, 6, c.dpi, c.offset, {50, row.bottom}), 2);
  }
  // The frame pixel, the left frame column, outside the window, below the last row, no rows.
  EXPECT_EQ(HitTestProjectorRow(client, 6, 96, 0, {50, 0}), -1);
  EXPECT_EQ(HitTestProjectorRow(client, 6, 96, 0, {0, 10}), -1);
  EXPECT_EQ(HitTestProjectorRow(client, 6, 96, 0, {50, 116}), -1);
  EXPECT_EQ(HitTestProjectorRow(client, 3, 96, 0, {50, 80}), -1);
  EXPECT_EQ(HitTestProjectorRow(client, 0, 96, 0, {50, 10}), -1);
  // A list narrower than the row's parts still gives the label no negative width.
  const PixelRect narrow{0, 0, 20, 116};
  const ProjectorRowParts tight = ProjectorRowLayout(narrow, ProjectorRowRect(narrow, 0, 96, 0), 96);
  EXPECT_GE(tight.label.Width(), 0);
}

TEST(ProjectorListGeometry, ClicksOnCheckBoxesAndLabels) {
  const PixelRect client{0, 0, 164, 116};
  const std::vector<ProjectorRow> rows{{4, L"Plane (+Z)", SideColor(4), true, false},
                                       {0, L"Wall", SideColor(0), true, true}};
  const PixelRect check0 = ProjectorRowLayout(client, ProjectorRowRect(client, 0, 96, 0), 96).check;
  const PixelRect check1 = ProjectorRowLayout(client, ProjectorRowRect(client, 1, 96, 0), 96).check;
  // The check box of a row that cannot toggle sends nothing; its label still does.
  EXPECT_FALSE(ProjectorClickAt(client, rows, 96, 0, {check0.left + 2, check0.top + 2}));
  const auto label0 = ProjectorClickAt(client, rows, 96, 0, {100, 10});
  ASSERT_TRUE(label0);
  EXPECT_EQ(label0->row, 0);
  EXPECT_TRUE(label0->onLabel);
  const auto box1 = ProjectorClickAt(client, rows, 96, 0, {check1.left, check1.bottom - 1});
  ASSERT_TRUE(box1);
  EXPECT_EQ(box1->row, 1);
  EXPECT_FALSE(box1->onLabel);
  EXPECT_FALSE(ProjectorClickAt(client, rows, 96, 0, {100, 100}));
}

TEST(ProjectorListGeometry, ScrollingIsClampedToTheRows) {
  struct Case {
    int rows, dpi, view, offset, expected;
  } cases[] = {
      {6, 96, 116, 100, 18},   // 6 rows of 22 and the frame: 134 tall
      {6, 96, 116, -5, 0},
      {3, 96, 116, 40, 0},     // the rows fit: no scrolling at all
      {0, 96, 116, 40, 0},
      {6, 144, 174, 100, 26},  // rows of 33: 200 tall
      {6, 96, 0, 500, 134},    // a window of no height scrolls to the end of the rows
      {6, 96, -3, 500, 134},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ClampProjectorScroll(c.offset, c.rows, c.dpi, c.view), c.expected) << c.rows << " " << c.dpi;
  EXPECT_EQ(ProjectorContentHeight(6, 96), 134);
  EXPECT_EQ(ProjectorContentHeight(6, 144), 200);
  EXPECT_EQ(ProjectorWheelTarget(0, -120, 96), 22);
  EXPECT_EQ(ProjectorWheelTarget(10, 120, 96), -12);
  EXPECT_EQ(ProjectorWheelTarget(0, -60, 144), 16);  // half a notch, truncated
  // A huge delta (a synthetic event) no longer overflows the multiplication.
  EXPECT_EQ(ProjectorWheelTarget(0, std::numeric_limits<int>::min(), 96), 393705335);
}

bool Near(SketchPoint a, SketchPoint b) { return std::abs(a.x - b.x) < 1e-9 && std::abs(a.y - b.y) < 1e-9; }

TEST(MappingSketch, FixedViewFromTheFrontRight) {
  const SketchFrame frame = SketchFrameFor(108, 108);
  EXPECT_DOUBLE_EQ(frame.scale, 0.17 * 108);
  EXPECT_TRUE(Near(ProjectSketchPoint(frame, {}), SketchPoint{54, 0.54 * 108}));
  const double s = frame.scale;
  EXPECT_TRUE(Near(ProjectSketchPoint(frame, {1, 0, 0}), SketchPoint{54 + 0.866 * s, 0.54 * 108 + 0.5 * s}));
  EXPECT_TRUE(Near(ProjectSketchPoint(frame, {0, 0, 1}), SketchPoint{54, 0.54 * 108 - s}));
  // The corner drawn with thin edges lies straight behind the front corner, so the three thin
  // edges fall inside the outline and the back faces -X, +Y, -Z lie under the front ones.
  EXPECT_TRUE(Near(ProjectSketchPoint(frame, kSketchHiddenCorner), ProjectSketchPoint(frame, {1, -1, 1})));
  // Right-handed as the viewport: seen from above, X turns counter-clockwise onto Y (screen y
  // grows downwards, so the cross product is negative).
  const SketchPoint o = ProjectSketchPoint(frame, {});
  const SketchPoint x = ProjectSketchPoint(frame, {1, 0, 0});
  const SketchPoint y = ProjectSketchPoint(frame, {0, 1, 0});
  EXPECT_LT((x.x - o.x) * (y.y - o.y) - (x.y - o.y) * (y.x - o.x), 0.0);

  int hidden = 0;
  for (const SketchEdge& e : CubeEdges()) hidden += e.hidden ? 1 : 0;
  EXPECT_EQ(hidden, 3);
  // Every front face holds the front corner; no back face does.
  const auto holds = [](int side, SketchPoint3 p) {
    for (const SketchPoint3& c : CubeFaceCorners(side))
      if (c.x == p.x && c.y == p.y && c.z == p.z) return true;
    return false;
  };
  for (int side : kSketchFrontFaces) EXPECT_TRUE(holds(side, {1, -1, 1})) << side;
  for (int side : kSketchBackFaces) EXPECT_TRUE(holds(side, kSketchHiddenCorner)) << side;
}

TEST(MappingSketch, CirclesPlanesSilhouettesAndArrowHeads) {
  EXPECT_NEAR(SketchCirclePoint(0, 0, 1, 1).y, 1, 1e-12);
  EXPECT_NEAR(SketchCirclePoint(0, 0, 1, 1).x, 1, 1e-12);
  EXPECT_NEAR(SketchCirclePoint(1, std::numbers::pi / 2, -1, 2).z, 2, 1e-12);
  EXPECT_NEAR(SketchCirclePoint(7, 0, 0.5, 1).z, 0.5, 1e-12);  // outside 0..2 counts as Z
  for (const SketchPoint3& c : PlaneSquareCorners(0)) EXPECT_EQ(c.x, 0);
  for (const SketchPoint3& c : PlaneSquareCorners(-4)) EXPECT_EQ(c.z, 0);

  // Around Z the silhouette lines stand at the circle's leftmost and rightmost points.
  const SketchFrame frame = SketchFrameFor(108, 108);
  const auto [first, second] = CylinderSilhouetteAngles(frame, 2);
  double left = 1e9, right = -1e9;
  for (int i = 0; i < 3600; ++i) {
    const double x = ProjectSketchPoint(frame, SketchCirclePoint(2, 2 * std::numbers::pi * i / 3600, 0, 1)).x;
    left = std::min(left, x);
    right = std::max(right, x);
  }
  const double a = ProjectSketchPoint(frame, SketchCirclePoint(2, first, 0, 1)).x;
  const double b = ProjectSketchPoint(frame, SketchCirclePoint(2, second, 0, 1)).x;
  EXPECT_NEAR(std::min(a, b), left, 0.01 * frame.scale);
  EXPECT_NEAR(std::max(a, b), right, 0.01 * frame.scale);
  // Around X and Y both silhouette points lie on opposite sides of the drawn axis.
  for (int axis : {0, 1}) {
    const auto [p, q] = CylinderSilhouetteAngles(frame, axis);
    EXPECT_NEAR(std::abs(std::remainder(p - q, 2 * std::numbers::pi)), std::numbers::pi, 0.04) << axis;
  }

  const std::array<SketchPoint, 3> head = ArrowHead(frame, {0, 0, 2}, 4.0);
  const SketchPoint tip = ProjectSketchPoint(frame, {0, 0, 2});
  EXPECT_TRUE(Near(head[0], tip));
  const SketchPoint base = ProjectSketchPoint(frame, {0, 0, 1.6});
  EXPECT_NEAR(head[1].y, base.y, 1e-9);
  EXPECT_NEAR(head[2].y, base.y, 1e-9);
  EXPECT_NEAR(std::abs(head[1].x - head[2].x), 8.0, 1e-9);
}

}  // namespace
}  // namespace grainforge::app
