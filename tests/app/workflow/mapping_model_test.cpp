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

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(MappingColours, UnitChannelsRoundAndClamp) {
  EXPECT_EQ(SideColor(0), (Rgb{224, 71, 64}));
  EXPECT_EQ(SideColor(3), (Rgb{82, 199, 92}));
  EXPECT_EQ(SideColor(5), (Rgb{77, 133, 235}));
  EXPECT_EQ(SideColor(6), (Rgb{115, 120, 128}));
  EXPECT_EQ(SideColor(-1), (Rgb{115, 120, 128}));
  EXPECT_EQ(ColorFromUnitRgb(-1.0f, 2.0f, std::numeric_limits<float>::infinity()), (Rgb{0, 255, 255}));
  // A NaN channel gives 0 rather than an undefined conversion.
  EXPECT_EQ(ColorFromUnitRgb(kNaN, 0.5f, kNaN), (Rgb{0, 128, 0}));
  EXPECT_EQ(SideColorArgb(false, 0, 95), (Argb{95, 224, 71, 64}));
  EXPECT_EQ(SideColorArgb(true, 4, 45), (Argb{22, 77, 133, 235}));  // halved without a part
}

TEST(MappingButtons, RowsHoldTheirCommandsInOrder) {
  std::vector<ToolbarItem> all = MappingTypeButtons();
  for (const auto& row : {MappingAxisButtons(), MappingSurfacesButtons()}) all.insert(all.end(), row.begin(), row.end());
  const std::uint32_t ids[] = {32796, 32797, 32798, 32887, 32850, 32851, 32852, 32919, 32920, 32921};
  const wchar_t* labels[] = {L"Box",     L"Plane",   L"Cylinder",     L"Sphere",
                             L"Along X", L"Along Y", L"Along Z",      L"All Surfaces",
                             L"Outer Surfaces Only", L"Inner Surfaces Only"};
  ASSERT_EQ(all.size(), 10u);
  for (std::size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i].commandId, ids[i]);
    EXPECT_EQ(all[i].tooltipTitle, labels[i]);
    EXPECT_FALSE(all[i].tooltipBody.empty());
  }
  EXPECT_EQ(all[0].iconName, L"projection_cubic");
  EXPECT_EQ(all[8].tooltipBody,
            L"Texture the outside of the part and leave the inside plain: the bore of a tube, a slot, a pocket.");
}

mesh::Projection Kind(ProjectionKind type) {
  mesh::Projection p;
  p.type = type;
  return p;
}

const std::vector<std::wstring> kSides{L"Right (+X)", L"Left (\u2212X)",  L"Back (+Y)",
                                       L"Front (\u2212Y)", L"Top (+Z)", L"Bottom (\u2212Z)"};

TEST(ProjectorRows, EachKindShowsItsProjectors) {
  mesh::Projection box = Kind(ProjectionKind::Box);
  box.boxSideEnabled[3] = 0;
  mesh::Projection plane = Kind(ProjectionKind::Plane);
  plane.planeAxis = 0;
  plane.cage.rotationDegrees = {0.0f, 90.0f, 0.0f};  // turned to X, as Fit to Model turns it
  mesh::Projection planeDown = Kind(ProjectionKind::Plane), planeBack = planeDown;
  planeDown.cage.rotationDegrees = {180.0f, 0.0f, 0.0f};
  planeBack.planeAxis = 1;
  planeBack.cage.rotationDegrees = {90.0f, 0.0f, 0.0f};
  mesh::Projection cylinder = Kind(ProjectionKind::Cylinder);
  cylinder.cylinderAxis = 1;
  cylinder.cylinderTopCapEnabled = 0;
  cylinder.cylinderBottomCapEnabled = 1;
  mesh::Projection sphereX = Kind(ProjectionKind::Sphere);
  sphereX.sphereAxis = 0;
  std::vector<std::wstring> poleZ = kSides, poleX = kSides;
  poleZ[4] += L" pole", poleZ[5] += L" pole", poleX[0] += L" pole", poleX[1] += L" pole";

  struct Case {
    const char* name;
    mesh::Projection projection;
    bool hasPart;
    std::vector<int> sides;
    std::vector<std::wstring> labels;
    std::vector<bool> enabled;
    bool toggleable;
  } cases[] = {
      {"box", box, true, {0, 1, 2, 3, 4, 5}, kSides, {true, true, true, false, true, true}, true},
      // The plane's one projector is always on and cannot be switched, part or not.
      {"plane along X", plane, true, {4}, {L"Plane (+X)"}, {true}, false},
      // The side the plane faces, from its cage however it was turned.
      {"plane turned to face -Z", planeDown, true, {4}, {L"Plane (\u2212Z)"}, {true}, false},
      {"plane along Y turned to face -Y", planeBack, true, {4}, {L"Plane (\u2212Y)"}, {true}, false},
      {"cylinder along Y", cylinder, true, {0, 4, 5}, {L"Wall", L"Top cap (+Y)", L"Bottom cap (\u2212Y)"},
       {true, false, true}, true},
      {"sphere along Z", Kind(ProjectionKind::Sphere), true, {0, 1, 2, 3, 4, 5}, poleZ, std::vector<bool>(6, true),
       true},
      {"sphere along X, no part", sphereX, false, {0, 1, 2, 3, 4, 5}, poleX, std::vector<bool>(6, true), false},
      {"unknown kind", Kind(static_cast<ProjectionKind>(9)), true, {}, {}, {}, true},
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
      EXPECT_EQ(rows[i].toggleable, c.toggleable) << i;
    }
  }
}

TEST(ProjectorRows, AxisOutsideItsRangeReadsAsZ) {
  // An axis from a damaged project file indexed past the axis letters.
  mesh::Projection plane = Kind(ProjectionKind::Plane);
  plane.planeAxis = 1000;
  EXPECT_EQ(MappingAxis(plane), 2);
  EXPECT_EQ(BuildProjectorRows(plane, -1, true)[0].label, L"Plane (+Z)");
  EXPECT_EQ(BuildProjectorRows(plane, 3, true)[0].label, L"Plane (+Z)");
  EXPECT_EQ(ReadMappingState(nullptr).axis, 2);
  EXPECT_FALSE(ReadMappingState(nullptr).hasPart);
}

TEST(ProjectorRows, SelectionIsTheLastRowOfTheActiveSide) {
  const std::vector<ProjectorRow> rows{{0, L"a", {}, true, true}, {4, L"b", {}, true, true}, {4, L"c", {}, true, true}};
  EXPECT_EQ(SelectedProjectorRow(rows, 4), 2);
  EXPECT_EQ(SelectedProjectorRow(rows, 0), 0);
  EXPECT_EQ(SelectedProjectorRow(rows, -1), -1);
}

TEST(ProjectorClicks, LabelsSelectLayersAndCheckBoxesSwitchProjectors) {
  const ProjectorRow side2{2, L"Back (+Y)", SideColor(2), true, true};
  const ProjectorRow wall{0, L"Wall", SideColor(0), true, true};
  const ProjectorRow topCap{4, L"Top cap (+Z)", SideColor(4), false, true};
  const ProjectorRow stray{7, L"?", SideColor(7), true, true};
  mesh::Projection box = Kind(ProjectionKind::Box);
  mesh::Projection selected = box;
  selected.activeLayer = 2;
  mesh::Projection cylinder = Kind(ProjectionKind::Cylinder);
  mesh::Projection wallOff = cylinder;
  wallOff.cylinderSideEnabled = 0;

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
      // 32801 + 7 is another command's id.
      {"stray side sends nothing", box, stray, false, {}, {}, false},
      {"plane check box changes nothing", Kind(ProjectionKind::Plane), side2, false, {}, {}, false},
      {"cylinder wall switches", cylinder, wall, false, {}, {}, true},
      {"cylinder top cap switches", cylinder, topCap, false, {}, {}, true},
      {"shown state already stored", wallOff, wall, false, {}, {}, false},
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
}

TEST(MappingBodyLayout, ChildrenAtSeveralDpisAndNarrowWidths) {
  struct Case {
    int width, dpi, listLeast;
    PixelRect typeRow, axis, list, surfaces;
    int contentHeight;
  } cases[] = {
      {340, 96, 0, {8, 8, 332, 48}, {122, 54, 162, 170}, {168, 54, 332, 170}, {70, 176, 332, 216}, 224},
      {510, 144, 0, {12, 12, 498, 72}, {183, 81, 243, 255}, {252, 81, 498, 255}, {105, 264, 498, 324}, 336},
      // Narrower than 176: the list gets no width rather than a negative one.
      {150, 96, 0, {8, 8, 142, 48}, {122, 54, 162, 170}, {168, 54, 168, 170}, {70, 176, 142, 216}, 224},
      // Narrower than the margins: nothing negative either (wx takes -1 as "default size").
      {10, 96, 0, {8, 8, 8, 48}, {122, 54, 162, 170}, {168, 54, 168, 170}, {70, 176, 70, 216}, 224},
      // A list that needs 170 of its 164: the picture gives 6 (a cylinder's "Bottom cap" lost its end).
      {340, 96, 170, {8, 8, 332, 48}, {116, 54, 156, 170}, {162, 54, 332, 170}, {70, 176, 332, 216}, 224},
      // One that needs more than the picture can give: the picture stops at 80 and the list takes 28.
      {340, 96, 400, {8, 8, 332, 48}, {94, 54, 134, 170}, {140, 54, 332, 170}, {70, 176, 332, 216}, 224},
      // One that has room to spare takes nothing from the picture.
      {510, 144, 200, {12, 12, 498, 72}, {183, 81, 243, 255}, {252, 81, 498, 255}, {105, 264, 498, 324}, 336},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    SCOPED_TRACE(c.listLeast);
    const MappingBodyLayout l = LayoutMappingBody(c.width, c.dpi, c.listLeast);
    // The picture stays square and ends where the axis column's gap begins.
    EXPECT_EQ(l.picture.Width(), l.picture.Height());
    EXPECT_EQ(l.axisColumn.left - l.picture.right, c.dpi * 6 / 96);
    EXPECT_EQ(l.typeRow, c.typeRow);
    EXPECT_EQ(l.axisColumn, c.axis);
    EXPECT_EQ(l.list, c.list);
    EXPECT_EQ(l.surfacesRow, c.surfaces);
    EXPECT_EQ(MappingBodyContentHeight(c.dpi), c.contentHeight);
  }
  EXPECT_EQ(LayoutMappingBody(340, 96).picture, (PixelRect{8, 54, 116, 162}));
  EXPECT_EQ(LayoutMappingBody(340, 96).label, (PixelRect{8, 176, 70, 216}));
}

TEST(ProjectorListGeometry, RowsPartsHitsAndClicksAtSeveralDpis) {
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
  // The frame, outside the window, below the last row, no rows.
  for (PixelPoint p : {PixelPoint{50, 0}, PixelPoint{0, 10}, PixelPoint{50, 116}})
    EXPECT_EQ(HitTestProjectorRow(client, 6, 96, 0, p), -1);
  EXPECT_EQ(HitTestProjectorRow(client, 3, 96, 0, {50, 80}), -1);
  EXPECT_EQ(HitTestProjectorRow(client, 0, 96, 0, {50, 10}), -1);

  // The check box of a row that cannot toggle sends nothing; its label still does.
  const std::vector<ProjectorRow> rows{{4, L"Plane (+Z)", SideColor(4), true, false},
                                       {0, L"Wall", SideColor(0), true, true}};
  EXPECT_FALSE(ProjectorClickAt(client, rows, 96, 0, {9, 7}));
  const auto label0 = ProjectorClickAt(client, rows, 96, 0, {100, 10});
  ASSERT_TRUE(label0);
  EXPECT_EQ(label0->row, 0);
  EXPECT_TRUE(label0->onLabel);
  const auto box1 = ProjectorClickAt(client, rows, 96, 0, {7, 40});
  ASSERT_TRUE(box1);
  EXPECT_EQ(box1->row, 1);
  EXPECT_FALSE(box1->onLabel);
}

TEST(ProjectorListGeometry, ScrollingIsClampedToTheRows) {
  struct Case {
    int rows, dpi, view, offset, expected;
  } cases[] = {
      {6, 96, 116, 100, 18},   // 6 rows of 22 and the frame: 134 tall
      {6, 96, 116, -5, 0},
      {3, 96, 116, 40, 0},     // the rows fit: no scrolling at all
      {6, 144, 174, 100, 26},  // rows of 33: 200 tall
      {6, 96, -3, 500, 134},   // a window of no height scrolls to the end of the rows
  };
  for (const Case& c : cases)
    EXPECT_EQ(ClampProjectorScroll(c.offset, c.rows, c.dpi, c.view), c.expected) << c.rows << " " << c.dpi;
  EXPECT_EQ(ProjectorWheelTarget(0, -120, 96), 22);
  EXPECT_EQ(ProjectorWheelTarget(10, 120, 96), -12);
  EXPECT_EQ(ProjectorWheelTarget(0, -60, 144), 16);  // half a notch, truncated
  // A huge delta (a synthetic event) does not overflow the multiplication.
  EXPECT_EQ(ProjectorWheelTarget(0, std::numeric_limits<int>::min(), 96), 393705335);
}

bool Near(SketchPoint a, SketchPoint b) { return std::abs(a.x - b.x) < 1e-9 && std::abs(a.y - b.y) < 1e-9; }

TEST(MappingSketch, FixedViewFromTheFrontRight) {
  const SketchFrame frame = SketchFrameFor(108, 108);
  const double s = 0.17 * 108, cy = 0.54 * 108;
  EXPECT_TRUE(Near(ProjectSketchPoint(frame, {}), SketchPoint{54, cy}));
  EXPECT_TRUE(Near(ProjectSketchPoint(frame, {1, 0, 0}), SketchPoint{54 + 0.866 * s, cy + 0.5 * s}));
  EXPECT_TRUE(Near(ProjectSketchPoint(frame, {0, 0, 1}), SketchPoint{54, cy - s}));
  // The corner drawn with thin edges lies straight behind the front corner, so the thin edges
  // fall inside the outline and the back faces -X, +Y, -Z lie under the front ones.
  EXPECT_TRUE(Near(ProjectSketchPoint(frame, kSketchHiddenCorner), ProjectSketchPoint(frame, {1, -1, 1})));
  // Right-handed like the viewport: seen from above, X turns counter-clockwise onto Y (screen y
  // grows downwards, so the cross product is negative).
  const SketchPoint o = ProjectSketchPoint(frame, {});
  const SketchPoint x = ProjectSketchPoint(frame, {1, 0, 0});
  const SketchPoint y = ProjectSketchPoint(frame, {0, 1, 0});
  EXPECT_LT((x.x - o.x) * (y.y - o.y) - (x.y - o.y) * (y.x - o.x), 0.0);
  int hidden = 0;
  for (const SketchEdge& e : CubeEdges()) hidden += e.hidden ? 1 : 0;
  EXPECT_EQ(hidden, 3);
}

TEST(MappingSketch, CylinderSilhouetteAndArrowHead) {
  // Around Z the silhouette lines stand at the circle's leftmost and rightmost points.
  const SketchFrame frame = SketchFrameFor(108, 108);
  const auto [first, second] = CylinderSilhouetteAngles(frame, 2);
  const double a = ProjectSketchPoint(frame, SketchCirclePoint(2, first, 0, 1)).x;
  const double b = ProjectSketchPoint(frame, SketchCirclePoint(2, second, 0, 1)).x;
  const double reach = 0.866 * std::numbers::sqrt2 * frame.scale;  // of x' = 0.866 (cos + sin)
  EXPECT_NEAR(std::max(a, b), 54 + reach, 0.01 * frame.scale);
  EXPECT_NEAR(std::min(a, b), 54 - reach, 0.01 * frame.scale);

  const std::array<SketchPoint, 3> head = ArrowHead(frame, {0, 0, 2}, 4.0);
  EXPECT_TRUE(Near(head[0], ProjectSketchPoint(frame, {0, 0, 2})));
  const SketchPoint base = ProjectSketchPoint(frame, {0, 0, 1.6});
  EXPECT_NEAR(head[1].y, base.y, 1e-9);
  EXPECT_NEAR(std::abs(head[1].x - head[2].x), 8.0, 1e-9);
}

}  // namespace
}  // namespace grainforge::app
