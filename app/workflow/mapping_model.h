#pragma once

// The window-free half of the Mapping section: the side colours, the three button rows, the
// projector rows built from the projection, what a click on a row does, the body's layout, the
// projector list's row geometry and scrolling, and the geometry of the projection sketch. The
// windows (mapping_body.h, mapping_picture.h, projector_list.h) only draw and route what these
// functions work out.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/shell/kit/pixel_rect.h"
#include "app/shell/kit/toolbar_item.h"
#include "app/shell/kit/ui_colours.h"
#include "engine/displacement/projection.h"

namespace grainforge::app {

class CGrainforgeDoc;

// ---- Colours -------------------------------------------------------------------------------

// Each channel clamped to 0..1, scaled to 255 and rounded half up; NaN counts as 0.
Rgb ColorFromUnitRgb(float red, float green, float blue);
// X sides red, Y sides green, Z sides blue, anything else grey.
Rgb SideColor(int side);

struct Argb {
  std::uint8_t a = 255;
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  friend constexpr bool operator==(Argb, Argb) = default;
};
// The colour with an alpha limited to 0..255.
Argb WithAlpha(Rgb colour, int alpha);
// The side's colour with that alpha, halved when there is no part.
Argb SideColorArgb(bool noPart, int side, int alpha);

// ---- Buttons -------------------------------------------------------------------------------

inline constexpr std::uint32_t kCmdProjectionBox = 32796;
inline constexpr std::uint32_t kCmdProjectionPlane = 32797;
inline constexpr std::uint32_t kCmdProjectionCylinder = 32798;
inline constexpr std::uint32_t kCmdProjectionSphere = 32887;
inline constexpr std::uint32_t kCmdFirstBoxSide = 32801;  // + side, 0..5
inline constexpr std::uint32_t kCmdAxisX = 32850;         // + axis, 0..2
inline constexpr std::uint32_t kCmdSurfacesAll = 32919;
inline constexpr std::uint32_t kCmdSurfacesOuter = 32920;
inline constexpr std::uint32_t kCmdSurfacesInner = 32921;

// Box, Plane, Cylinder, Sphere.
std::vector<ToolbarItem> MappingTypeButtons();
// Along X, Y, Z.
std::vector<ToolbarItem> MappingAxisButtons();
// All, Outer only, Inner only.
std::vector<ToolbarItem> MappingSurfacesButtons();

// ---- What the section shows ------------------------------------------------------------------

struct MappingState {
  grainforge::mesh::Projection projection;
  int axis = 2;  // 0 X, 1 Y, 2 Z
  bool hasPart = false;
};

// True when the document's working part has a vertex and a whole triangle.
bool HasMappablePart(const CGrainforgeDoc* document);
// The projection kind's axis (the plane's, the sphere's, else the cylinder's), 0..2: a stored
// value outside that range counts as Z, as the projection itself reads it.
int MappingAxis(const grainforge::mesh::Projection& projection);
// The document's projection, axis and part flag; a default projection, Z and no part without one.
MappingState ReadMappingState(const CGrainforgeDoc* document);

// One row of the projector list.
struct ProjectorRow {
  std::int32_t side = 0;
  std::wstring label;
  Rgb colour;
  bool enabled = false;     // the projector is on
  bool toggleable = false;  // its check box may be clicked
  friend bool operator==(const ProjectorRow&, const ProjectorRow&) = default;
};

// "Right (+X)" ... "Bottom (−Z)"; empty outside 0..5.
std::wstring SideLabel(int side);
// "X", "Y" or "Z" (Z for anything outside 0..2).
std::wstring AxisLetter(int axis);
// The side the plane faces, "+Z" or "−Z" and so on: the world axis nearest its cage's local z,
// with its sign. The plane's row reads "Plane (" this ")".
std::wstring PlaneFacingName(const grainforge::mesh::Projection& projection);
std::vector<ProjectorRow> BuildProjectorRows(const grainforge::mesh::Projection& projection, int axis,
                                             bool hasPart);
// The last row of that side, or -1.
int SelectedProjectorRow(const std::vector<ProjectorRow>& rows, int activeLayer);

// What a click on a row does. At most one of the three is set; none for a click that changes
// nothing.
struct ProjectorClickPlan {
  std::optional<int> activeLayer;               // the new active layer (-1 none)
  std::optional<std::uint32_t> command;         // the box-side command to send up
  std::optional<grainforge::mesh::Projection> projection;  // the edited projection to store
};
ProjectorClickPlan PlanProjectorClick(const grainforge::mesh::Projection& current, const ProjectorRow& row,
                                      bool onLabel);

// ---- Body layout -----------------------------------------------------------------------------

struct MappingBodyLayout {
  PixelRect typeRow, picture, axisColumn, list, label, surfacesRow;
};
// The children in a body of that client width (left and top 0) at the DPI; no width is negative.
// listLeast is the width the projector list needs for its longest label (ProjectorListWidthFor):
// where the list is narrower the picture gives way, down to a side it still reads at, rather
// than a label losing its end.
MappingBodyLayout LayoutMappingBody(int clientWidth, int dpi, int listLeast = 0);
int MappingBodyContentHeight(int dpi);

// ---- Projector list geometry ----------------------------------------------------------------

int ProjectorRowHeight(int dpi);
// Rows plus the two frame pixels.
int ProjectorContentHeight(int rowCount, int dpi);
int ClampProjectorScroll(int offset, int rowCount, int dpi, int viewHeight);
PixelRect ProjectorRowRect(const PixelRect& client, int index, int dpi, int offset);
struct ProjectorRowParts {
  PixelRect check, swatch, label;
};
// The width of a list whose rows show a label labelWidth pixels wide whole (frame, check box,
// swatch and insets included).
int ProjectorListWidthFor(int labelWidth, int dpi);
ProjectorRowParts ProjectorRowLayout(const PixelRect& client, const PixelRect& row, int dpi);
// The first row under the point, -1 outside the client area or any row.
int HitTestProjectorRow(const PixelRect& client, int rowCount, int dpi, int offset, PixelPoint point);
struct ProjectorClick {
  int row = -1;
  bool onLabel = false;  // outside the check box
};
// The click the list reports, none on no row or on the check box of a row that cannot toggle.
std::optional<ProjectorClick> ProjectorClickAt(const PixelRect& client, const std::vector<ProjectorRow>& rows,
                                               int dpi, int offset, PixelPoint point);
// The unclamped offset after a wheel turn (120 units a notch, one row a notch).
int ProjectorWheelTarget(int offset, int wheelDelta, int dpi);

// ---- Sketch geometry -------------------------------------------------------------------------

struct SketchPoint3 {
  double x = 0, y = 0, z = 0;
};
struct SketchPoint {
  double x = 0, y = 0;
};
struct SketchFrame {
  double cx = 0, cy = 0, scale = 0;
};
SketchFrame SketchFrameFor(int width, int height);
// The fixed view from the front right, above: +X towards the viewer and right, +Y away and
// right, +Z up.
SketchPoint ProjectSketchPoint(const SketchFrame& frame, SketchPoint3 point);
// The corners of a side of the cube [-1, 1]^3 in drawing order.
std::array<SketchPoint3, 4> CubeFaceCorners(int side);
// Back faces (drawn first, pale) and front faces.
inline constexpr std::array<int, 3> kSketchBackFaces{1, 2, 5};   // -X, +Y, -Z
inline constexpr std::array<int, 3> kSketchFrontFaces{4, 0, 3};  // +Z, +X, -Y
inline constexpr SketchPoint3 kSketchHiddenCorner{-1, 1, -1};
struct SketchEdge {
  SketchPoint3 a, b;
  bool hidden = false;  // meets the hidden corner
};
std::array<SketchEdge, 12> CubeEdges();
// The square of the plane across the axis (Z for anything outside 0..2).
std::array<SketchPoint3, 4> PlaneSquareCorners(int axis);
// A point of the circle of that radius around the axis at that angle, offset along the axis.
SketchPoint3 SketchCirclePoint(int axis, double angle, double offset, double radius);
inline constexpr int kSketchCirclePoints = 48;
// The angles on the unit circle around the axis whose projections lie farthest either side of
// the projected axis (largest, smallest signed cross product), from 180 samples.
std::pair<double, double> CylinderSilhouetteAngles(const SketchFrame& frame, int axis);
// The head of an arrow from the origin to the end: tip, and the two base corners at 0.8 of the
// length, halfWidth either side across the drawn direction.
std::array<SketchPoint, 3> ArrowHead(const SketchFrame& frame, SketchPoint3 end, double halfWidth);

}  // namespace grainforge::app
