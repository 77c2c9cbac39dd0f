#include "app/workflow/mapping_model.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "app/document/grainforge_doc.h"
#include "app/shell/kit/ui_scale.h"

namespace grainforge::app {
namespace {

namespace mesh = grainforge::mesh;

constexpr int kMargin = 8;
constexpr int kGap = 6;
constexpr int kBarHeight = 40;
constexpr int kPictureSide = 108;
// The least side the picture gives way to for the list: its sketch still reads there.
constexpr int kLeastPictureSide = 80;
constexpr int kColumnHeight = 116;
constexpr int kLabelWidth = 62;

constexpr int kRowHeight = 22;
constexpr int kCheckBox = 14;
constexpr int kSwatch = 12;
constexpr int kRowInset = 6;
constexpr int kWheelNotch = 120;
constexpr int kSilhouetteSamples = 180;

int Scaled(int value, int dpi) { return ScaleForDpi(value, dpi); }

bool IsSide(int side) { return side >= 0 && side < mesh::kBoxSideCount; }

int ClampAxis(int axis) { return axis == 0 || axis == 1 ? axis : 2; }

double Cross(SketchPoint a, SketchPoint b) { return a.x * b.y - a.y * b.x; }

std::uint8_t UnitToByte(float value) {
  const float clamped = value > 0.0f ? std::min(value, 1.0f) : 0.0f;  // NaN lands on 0
  return static_cast<std::uint8_t>(clamped * 255.0f + 0.5f);
}

// The three axis components of the point placed on axis with the two others.
SketchPoint3 Placed(int axis, double along, double first, double second) {
  switch (ClampAxis(axis)) {
    case 0: return {along, first, second};
    case 1: return {first, along, second};
    default: return {first, second, along};
  }
}

}  // namespace

// ---- Colours -------------------------------------------------------------------------------

Rgb ColorFromUnitRgb(float red, float green, float blue) {
  return Rgb{UnitToByte(red), UnitToByte(green), UnitToByte(blue)};
}

Rgb SideColor(int side) {
  switch (side) {
    case 0:
    case 1: return ColorFromUnitRgb(0.88f, 0.28f, 0.25f);
    case 2:
    case 3: return ColorFromUnitRgb(0.32f, 0.78f, 0.36f);
    case 4:
    case 5: return ColorFromUnitRgb(0.30f, 0.52f, 0.92f);
    default: return ColorFromUnitRgb(0.45f, 0.47f, 0.50f);
  }
}

Argb WithAlpha(Rgb colour, int alpha) {
  return Argb{static_cast<std::uint8_t>(std::clamp(alpha, 0, 255)), colour.r, colour.g, colour.b};
}

Argb SideColorArgb(bool noPart, int side, int alpha) {
  const int limited = std::clamp(alpha, 0, 255);
  return WithAlpha(SideColor(side), noPart ? limited >> 1 : limited);
}

// ---- Buttons -------------------------------------------------------------------------------

std::vector<ToolbarItem> MappingTypeButtons() {
  return {
      MakeToolbarButton(kCmdProjectionBox, L"projection_cubic", L"Box", L"Project the texture from six sides."),
      MakeToolbarButton(kCmdProjectionPlane, L"projection_planar", L"Plane",
                        L"Project the texture from one direction."),
      MakeToolbarButton(kCmdProjectionCylinder, L"projection_cylindrical", L"Cylinder",
                        L"Wrap the texture around an axis."),
      MakeToolbarButton(kCmdProjectionSphere, L"projection_sphere", L"Sphere",
                        L"Wrap the texture around a centre, the same size all over a ball."),
  };
}

std::vector<ToolbarItem> MappingAxisButtons() {
  return {
      MakeToolbarButton(kCmdAxisX, L"axis_x", L"Along X", L"The texture comes along the X axis."),
      MakeToolbarButton(kCmdAxisX + 1, L"axis_y", L"Along Y", L"The texture comes along the Y axis."),
      MakeToolbarButton(kCmdAxisX + 2, L"axis_z", L"Along Z", L"The texture comes along the Z axis."),
  };
}

std::vector<ToolbarItem> MappingSurfacesButtons() {
  return {
      MakeToolbarButton(kCmdSurfacesAll, L"surfaces_all", L"All Surfaces",
                        L"Texture every surface of the part, inside and out."),
      MakeToolbarButton(kCmdSurfacesOuter, L"surfaces_outer", L"Outer Surfaces Only",
                        L"Texture the outside of the part and leave the inside plain: the bore of a tube, a slot, a "
                        L"pocket."),
      MakeToolbarButton(kCmdSurfacesInner, L"surfaces_inner", L"Inner Surfaces Only",
                        L"Texture only the inside of the part - the bore of a tube, a slot, a pocket - and leave the "
                        L"outside plain."),
  };
}

// ---- What the section shows ------------------------------------------------------------------

bool HasMappablePart(const CGrainforgeDoc* document) {
  return document != nullptr && !document->workingPart.vertices.empty() && document->workingPart.indices.size() >= 3;
}

int MappingAxis(const mesh::Projection& projection) {
  switch (projection.type) {
    case mesh::ProjectionKind::Plane: return ClampAxis(projection.planeAxis);
    case mesh::ProjectionKind::Sphere: return ClampAxis(projection.sphereAxis);
    default: return ClampAxis(projection.cylinderAxis);
  }
}

MappingState ReadMappingState(const CGrainforgeDoc* document) {
  MappingState state;
  if (document == nullptr) return state;
  state.projection = document->projection;
  state.axis = MappingAxis(state.projection);
  state.hasPart = HasMappablePart(document);
  return state;
}

std::wstring SideLabel(int side) {
  static constexpr std::array<const wchar_t*, mesh::kBoxSideCount> kLabels{
      L"Right (+X)", L"Left (\u2212X)", L"Back (+Y)", L"Front (\u2212Y)", L"Top (+Z)", L"Bottom (\u2212Z)"};
  return IsSide(side) ? kLabels[static_cast<std::size_t>(side)] : L"";
}

std::wstring AxisLetter(int axis) {
  static constexpr std::array<const wchar_t*, 3> kLetters{L"X", L"Y", L"Z"};
  return kLetters[static_cast<std::size_t>(ClampAxis(axis))];
}

std::wstring PlaneFacingName(const mesh::Projection& projection) {
  // The plane projects along its cage's local z: the side it faces is the world axis that one
  // lies nearest, with its sign, however the cage was turned.
  const mesh::Vec3 facing = mesh::CageToWorld(projection.cage, mesh::Vec3{0.0f, 0.0f, 1.0f});
  const float along[3] = {facing.x, facing.y, facing.z};
  int axis = 2;
  for (const int a : {1, 0}) {
    if (std::fabs(along[a]) > std::fabs(along[axis])) axis = a;
  }
  // A cage turned to no number faces nowhere: its axis setting names it.
  if (!std::isfinite(along[axis]) || along[axis] == 0.0f) return L"+" + AxisLetter(MappingAxis(projection));
  return std::wstring(along[axis] < 0.0f ? L"\u2212" : L"+") + AxisLetter(axis);
}

std::vector<ProjectorRow> BuildProjectorRows(const mesh::Projection& projection, int axis, bool hasPart) {
  std::vector<ProjectorRow> rows;
  const auto add = [&rows](int side, std::wstring label, bool enabled, bool toggleable) {
    rows.push_back(ProjectorRow{side, std::move(label), SideColor(side), enabled, toggleable});
  };
  const std::wstring letter = AxisLetter(axis);
  switch (projection.type) {
    case mesh::ProjectionKind::Box:
      for (int side = 0; side < mesh::kBoxSideCount; ++side)
        add(side, SideLabel(side), projection.boxSideEnabled[side] != 0, hasPart);
      break;
    case mesh::ProjectionKind::Plane:
      // The plane's only projector cannot be switched off.
      add(4, L"Plane (" + PlaneFacingName(projection) + L")", true, false);
      break;
    case mesh::ProjectionKind::Cylinder:
      add(0, L"Wall", projection.cylinderSideEnabled != 0, hasPart);
      add(4, L"Top cap (+" + letter + L")", projection.cylinderTopCapEnabled != 0, hasPart);
      add(5, L"Bottom cap (\u2212" + letter + L")", projection.cylinderBottomCapEnabled != 0, hasPart);
      break;
    case mesh::ProjectionKind::Sphere:
      for (int side = 0; side < mesh::kBoxSideCount; ++side) {
        const bool pole = mesh::SideFrame(side, projection.sphereAxis).alongUp != 0;
        add(side, SideLabel(side) + (pole ? L" pole" : L""), projection.boxSideEnabled[side] != 0, hasPart);
      }
      break;
    default:
      // A kind read from a newer file: no projectors to show.
      break;
  }
  return rows;
}

int SelectedProjectorRow(const std::vector<ProjectorRow>& rows, int activeLayer) {
  int selected = -1;
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (rows[i].side == activeLayer) selected = static_cast<int>(i);
  return selected;
}

ProjectorClickPlan PlanProjectorClick(const mesh::Projection& current, const ProjectorRow& row, bool onLabel) {
  ProjectorClickPlan plan;
  if (onLabel) {
    if (row.side != current.activeLayer && IsSide(row.side)) plan.activeLayer = row.side;
    else if (current.activeLayer != -1) plan.activeLayer = -1;
    return plan;
  }
  const std::uint8_t turnedOn = row.enabled ? 0 : 1;
  mesh::Projection edited = current;
  switch (current.type) {
    case mesh::ProjectionKind::Box:
    case mesh::ProjectionKind::Sphere:
      // Only a real side has a command: 32801 + side past 5 would be another command's id.
      if (IsSide(row.side)) plan.command = kCmdFirstBoxSide + static_cast<std::uint32_t>(row.side);
      return plan;
    case mesh::ProjectionKind::Cylinder:
      if (row.side == 0) edited.cylinderSideEnabled = turnedOn;
      else if (row.side == 4) edited.cylinderTopCapEnabled = turnedOn;
      else if (row.side == 5) edited.cylinderBottomCapEnabled = turnedOn;
      break;
    default:
      // The plane's projector stays on.
      return plan;
  }
  if (!mesh::ProjectionEquals(edited, current)) plan.projection = edited;
  return plan;
}

// ---- Body layout -----------------------------------------------------------------------------

MappingBodyLayout LayoutMappingBody(int clientWidth, int dpi, int listLeast) {
  const auto s = [dpi](int v) { return Scaled(v, dpi); };
  const int L = 0, T = 0, R = clientWidth;
  const int m = s(kMargin), g = s(kGap), bar = s(kBarHeight), column = s(kColumnHeight);
  const auto rect = [](int x, int y, int width, int height) {
    return PixelRect{x, y, x + std::max(width, 0), y + std::max(height, 0)};
  };
  MappingBodyLayout layout;
  layout.typeRow = rect(L + m, T + m, R - 2 * m - L, bar);
  const int y1 = T + m + bar + g;
  const int listShort = listLeast - std::max(R - (L + s(kPictureSide) + g + m + bar + g) - m, 0);
  const int side = s(kPictureSide) - std::clamp(listShort, 0, s(kPictureSide) - s(kLeastPictureSide));
  layout.picture = rect(L + m, y1, side, side);
  const int x2 = L + side + g + m;
  layout.axisColumn = rect(x2, y1, bar, column);
  const int x3 = x2 + bar + g;
  layout.list = rect(x3, y1, R - x3 - m, column);
  const int y2 = y1 + column + g;
  layout.label = rect(L + m, y2, s(kLabelWidth), bar);
  layout.surfacesRow = rect(L + s(kLabelWidth) + m, y2, R - 2 * m - s(kLabelWidth) - L, bar);
  return layout;
}

int MappingBodyContentHeight(int dpi) {
  const auto s = [dpi](int v) { return Scaled(v, dpi); };
  return s(kMargin) + s(kBarHeight) + s(kGap) + s(kColumnHeight) + s(kGap) + s(kBarHeight) + s(kMargin);
}

// ---- Projector list geometry ----------------------------------------------------------------

int ProjectorRowHeight(int dpi) { return Scaled(kRowHeight, dpi); }

int ProjectorContentHeight(int rowCount, int dpi) { return ProjectorRowHeight(dpi) * std::max(rowCount, 0) + 2; }

int ClampProjectorScroll(int offset, int rowCount, int dpi, int viewHeight) {
  const int maximum = std::max(ProjectorContentHeight(rowCount, dpi) - std::max(viewHeight, 0), 0);
  return std::clamp(offset, 0, maximum);
}

PixelRect ProjectorRowRect(const PixelRect& client, int index, int dpi, int offset) {
  const int height = ProjectorRowHeight(dpi);
  const int top = client.top + 1 + height * index - offset;
  return PixelRect{client.left + 1, top, client.right - 1, top + height};
}

int ProjectorListWidthFor(int labelWidth, int dpi) {
  const auto s = [dpi](int v) { return Scaled(v, dpi); };
  return 2 + 4 * s(kRowInset) + s(kCheckBox) + s(kSwatch) + std::max(labelWidth, 0);
}

ProjectorRowParts ProjectorRowLayout(const PixelRect& client, const PixelRect& row, int dpi) {
  const auto s = [dpi](int v) { return Scaled(v, dpi); };
  const int box = s(kCheckBox), swatch = s(kSwatch), inset = s(kRowInset);
  ProjectorRowParts parts;
  const int boxLeft = client.left + 1 + inset;
  const int boxTop = row.top + (row.Height() - box) / 2;
  parts.check = PixelRect{boxLeft, boxTop, boxLeft + box, boxTop + box};
  const int swatchLeft = parts.check.right + inset;
  const int swatchTop = row.top + (row.Height() - swatch) / 2;
  parts.swatch = PixelRect{swatchLeft, swatchTop, swatchLeft + swatch, swatchTop + swatch};
  parts.label = PixelRect{parts.swatch.right + inset, row.top, std::max(row.right - inset, parts.swatch.right + inset),
                          row.bottom};
  return parts;
}

int HitTestProjectorRow(const PixelRect& client, int rowCount, int dpi, int offset, PixelPoint point) {
  if (rowCount <= 0 || !client.Contains(point.x, point.y)) return -1;
  for (int i = 0; i < rowCount; ++i)
    if (ProjectorRowRect(client, i, dpi, offset).Contains(point.x, point.y)) return i;
  return -1;
}

std::optional<ProjectorClick> ProjectorClickAt(const PixelRect& client, const std::vector<ProjectorRow>& rows,
                                               int dpi, int offset, PixelPoint point) {
  const int row = HitTestProjectorRow(client, static_cast<int>(rows.size()), dpi, offset, point);
  if (row < 0) return std::nullopt;
  const PixelRect rect = ProjectorRowRect(client, row, dpi, offset);
  const bool inCheck = ProjectorRowLayout(client, rect, dpi).check.Contains(point.x, point.y);
  if (inCheck && !rows[static_cast<std::size_t>(row)].toggleable) return std::nullopt;
  return ProjectorClick{row, !inCheck};
}

int ProjectorWheelTarget(int offset, int wheelDelta, int dpi) {
  const long long step = static_cast<long long>(wheelDelta) * ProjectorRowHeight(dpi) / kWheelNotch;
  return static_cast<int>(std::clamp<long long>(offset - step, INT32_MIN, INT32_MAX));
}

// ---- Sketch geometry -------------------------------------------------------------------------

SketchFrame SketchFrameFor(int width, int height) {
  return SketchFrame{0.5 * width, 0.54 * height, 0.17 * width};
}

SketchPoint ProjectSketchPoint(const SketchFrame& frame, SketchPoint3 p) {
  // A right-handed view along (-1, 1, -1): the corner (-1, 1, -1) lies straight behind
  // (1, -1, 1), so the faces -X, +Y and -Z are the ones at the back.
  return SketchPoint{frame.cx + frame.scale * (0.866 * p.x + 0.866 * p.y),
                     frame.cy + frame.scale * (0.5 * p.x - 0.5 * p.y - p.z)};
}

std::array<SketchPoint3, 4> CubeFaceCorners(int side) {
  const int axis = IsSide(side) ? side / 2 : 2;
  const double along = IsSide(side) && side % 2 == 1 ? -1.0 : 1.0;
  return {Placed(axis, along, -1, -1), Placed(axis, along, 1, -1), Placed(axis, along, 1, 1),
          Placed(axis, along, -1, 1)};
}

std::array<SketchEdge, 12> CubeEdges() {
  std::array<SketchEdge, 12> edges;
  std::size_t n = 0;
  for (int axis = 0; axis < 3; ++axis)
    for (double first : {-1.0, 1.0})
      for (double second : {-1.0, 1.0}) {
        SketchEdge edge{Placed(axis, -1, first, second), Placed(axis, 1, first, second), false};
        const SketchPoint3 h = kSketchHiddenCorner;
        const auto isHidden = [h](SketchPoint3 p) { return p.x == h.x && p.y == h.y && p.z == h.z; };
        edge.hidden = isHidden(edge.a) || isHidden(edge.b);
        edges[n++] = edge;
      }
  return edges;
}

std::array<SketchPoint3, 4> PlaneSquareCorners(int axis) {
  return {Placed(axis, 0, -1, -1), Placed(axis, 0, 1, -1), Placed(axis, 0, 1, 1), Placed(axis, 0, -1, 1)};
}

SketchPoint3 SketchCirclePoint(int axis, double angle, double offset, double radius) {
  return Placed(axis, offset, radius * std::cos(angle), radius * std::sin(angle));
}

std::pair<double, double> CylinderSilhouetteAngles(const SketchFrame& frame, int axis) {
  const SketchPoint origin = ProjectSketchPoint(frame, {});
  const SketchPoint tip = ProjectSketchPoint(frame, Placed(axis, 1, 0, 0));
  const SketchPoint axisDir{tip.x - origin.x, tip.y - origin.y};
  double best = -1e300, worst = 1e300, bestAngle = 0, worstAngle = 0;
  for (int i = 0; i < kSilhouetteSamples; ++i) {
    const double angle = 2.0 * std::numbers::pi * i / kSilhouetteSamples;
    const SketchPoint p = ProjectSketchPoint(frame, SketchCirclePoint(axis, angle, 0, 1));
    const double cross = Cross(SketchPoint{p.x - origin.x, p.y - origin.y}, axisDir);
    if (cross > best) best = cross, bestAngle = angle;
    if (cross < worst) worst = cross, worstAngle = angle;
  }
  return {bestAngle, worstAngle};
}

std::array<SketchPoint, 3> ArrowHead(const SketchFrame& frame, SketchPoint3 end, double halfWidth) {
  const SketchPoint origin = ProjectSketchPoint(frame, {});
  const SketchPoint tip = ProjectSketchPoint(frame, end);
  const double dx = tip.x - origin.x, dy = tip.y - origin.y;
  const double length = std::hypot(dx, dy);
  if (length <= 0.0) return {tip, tip, tip};
  const SketchPoint base{origin.x + 0.8 * dx, origin.y + 0.8 * dy};
  const double nx = -dy / length * halfWidth, ny = dx / length * halfWidth;
  return {tip, SketchPoint{base.x + nx, base.y + ny}, SketchPoint{base.x - nx, base.y - ny}};
}

}  // namespace grainforge::app
