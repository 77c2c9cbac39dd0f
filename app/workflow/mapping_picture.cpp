#include "app/workflow/mapping_picture.h"

#include <algorithm>
#include <memory>
#include <numbers>
#include <vector>

#include <wx/dcbuffer.h>
#include <wx/graphics.h>

#include "app/shell/kit/kit_drawing.h"
#include "app/shell/kit/ui_colours.h"
#include "app/shell/kit/ui_scale.h"
#include "app/workflow/mapping_model.h"

namespace grainforge::app {
namespace {

namespace mesh = grainforge::mesh;

constexpr double kEdgePen = 1.6;
constexpr double kThinPen = 1.0;
constexpr double kAxisPen = 2.2;
constexpr double kPlanePen = 1.4;
constexpr double kLongArrow = 2.0;
constexpr double kShortArrow = 1.55;
constexpr double kArrowHalfWidth = 0.16;
constexpr double kSphereRadius = 1.05;
constexpr int kBackAlpha = 45;
constexpr int kFrontAlpha = 95;

const Rgb kRed = ColorFromUnitRgb(0.88f, 0.28f, 0.25f);
const Rgb kBlue = ColorFromUnitRgb(0.30f, 0.52f, 0.92f);
constexpr Rgb kPale{150, 164, 190};

wxColour ToColour(Argb c) { return wxColour(c.r, c.g, c.b, c.a); }

// The first alpha with a part, the second without.
int PartAlpha(bool hasPart, int withPart, int withoutPart) { return hasPart ? withPart : withoutPart; }

wxGraphicsPath PolygonPath(wxGraphicsContext& gc, const std::vector<SketchPoint>& points) {
  wxGraphicsPath path = gc.CreatePath();
  if (points.empty()) return path;
  path.MoveToPoint(points.front().x, points.front().y);
  for (std::size_t i = 1; i < points.size(); ++i) path.AddLineToPoint(points[i].x, points[i].y);
  path.CloseSubpath();
  return path;
}

std::vector<SketchPoint> ProjectAll(const SketchFrame& frame, const std::array<SketchPoint3, 4>& corners) {
  std::vector<SketchPoint> points;
  for (const SketchPoint3& corner : corners) points.push_back(ProjectSketchPoint(frame, corner));
  return points;
}

std::vector<SketchPoint> CirclePoints(const SketchFrame& frame, int axis, double offset, double radius) {
  std::vector<SketchPoint> points;
  for (int i = 0; i < kSketchCirclePoints; ++i) {
    const double angle = 2.0 * std::numbers::pi * i / kSketchCirclePoints;
    points.push_back(ProjectSketchPoint(frame, SketchCirclePoint(axis, angle, offset, radius)));
  }
  return points;
}

void StrokeLine(wxGraphicsContext& gc, SketchPoint a, SketchPoint b) { gc.StrokeLine(a.x, a.y, b.x, b.y); }

}  // namespace

CMappingPicture::CMappingPicture(wxWindow* parent, wxWindowID id, int dpi)
    : wxWindow(parent, id, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE | wxCLIP_SIBLINGS),
      projection_(),
      dpi_(dpi) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  SetCursor(wxCursor(wxCURSOR_ARROW));
  Bind(wxEVT_PAINT, &CMappingPicture::OnPaint, this);
  RepaintOnFocusChange(this);
}

bool CMappingPicture::SetState(const mesh::Projection& projection, int axis, bool hasPart) {
  mesh::Projection shown = projection;
  shown.activeLayer = -1;
  if (mesh::ProjectionEquals(shown, projection_) && axis == axis_ && hasPart == hasPart_) return false;
  projection_ = shown;
  axis_ = axis;
  hasPart_ = hasPart;
  Refresh(false);
  return true;
}

void CMappingPicture::SetDpi(int dpi) {
  dpi_ = dpi;
  Refresh(false);
}

double CMappingPicture::PenScale() const { return dpi_ / static_cast<double>(kDesignDpi); }

void CMappingPicture::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  const wxSize size = GetClientSize();
  dc.SetPen(wxPen(ToWxColour(colours::kLine), 1));
  dc.SetBrush(*wxWHITE_BRUSH);
  dc.DrawRectangle(0, 0, size.x, size.y);
  if (size.x <= 2 || size.y <= 2) return;
  std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::CreateFromUnknownDC(dc));
  if (!gc) return;
  gc->SetAntialiasMode(wxANTIALIAS_DEFAULT);
  gc->Clip(1, 1, size.x - 2, size.y - 2);
  DrawSketch(*gc, size.x, size.y);
  gc.reset();  // the sketch is drawn out first, so that the outline lies over it
  DrawFocusOutline(dc, *this);
}

void CMappingPicture::DrawSketch(wxGraphicsContext& gc, int width, int height) const {
  switch (projection_.type) {
    case mesh::ProjectionKind::Box: DrawBox(gc, width, height); break;
    case mesh::ProjectionKind::Plane: DrawPlane(gc, width, height); break;
    case mesh::ProjectionKind::Cylinder: DrawCylinder(gc, width, height); break;
    case mesh::ProjectionKind::Sphere: DrawSphere(gc, width, height); break;
    default: break;  // an unknown kind has no shape, only the arrows
  }
  DrawAxes(gc, width, height);
}

void CMappingPicture::DrawBox(wxGraphicsContext& gc, int width, int height) const {
  const SketchFrame frame = SketchFrameFor(width, height);
  const auto fillFace = [&](int side, int alpha) {
    if (projection_.boxSideEnabled[side] == 0) return;
    gc.SetBrush(gc.CreateBrush(wxBrush(ToColour(SideColorArgb(!hasPart_, side, alpha)))));
    gc.FillPath(PolygonPath(gc, ProjectAll(frame, CubeFaceCorners(side))));
  };
  for (int side : kSketchBackFaces) fillFace(side, kBackAlpha);
  for (int side : kSketchFrontFaces) fillFace(side, kFrontAlpha);
  const wxGraphicsPen edge = gc.CreatePen(wxGraphicsPenInfo(
      hasPart_ ? wxColour(40, 60, 100) : wxColour(kPale.r, kPale.g, kPale.b), kEdgePen * PenScale()));
  const wxGraphicsPen thin =
      gc.CreatePen(wxGraphicsPenInfo(ToColour(WithAlpha(kPale, PartAlpha(hasPart_, 255, 120))), kThinPen * PenScale()));
  for (const SketchEdge& e : CubeEdges()) {
    gc.SetPen(e.hidden ? thin : edge);
    StrokeLine(gc, ProjectSketchPoint(frame, e.a), ProjectSketchPoint(frame, e.b));
  }
}

void CMappingPicture::DrawPlane(wxGraphicsContext& gc, int width, int height) const {
  const SketchFrame frame = SketchFrameFor(width, height);
  const wxGraphicsPath square = PolygonPath(gc, ProjectAll(frame, PlaneSquareCorners(axis_)));
  gc.SetBrush(gc.CreateBrush(wxBrush(ToColour(WithAlpha(kBlue, PartAlpha(hasPart_, 110, 55))))));
  gc.FillPath(square);
  gc.SetPen(gc.CreatePen(
      wxGraphicsPenInfo(ToColour(WithAlpha(kBlue, PartAlpha(hasPart_, 255, 127))), kPlanePen * PenScale())));
  gc.StrokePath(square);
}

void CMappingPicture::DrawCylinder(wxGraphicsContext& gc, int width, int height) const {
  const SketchFrame frame = SketchFrameFor(width, height);
  const wxGraphicsPen edge = gc.CreatePen(wxGraphicsPenInfo(
      hasPart_ ? wxColour(40, 60, 100) : wxColour(kPale.r, kPale.g, kPale.b), kEdgePen * PenScale()));
  const wxGraphicsPen thin =
      gc.CreatePen(wxGraphicsPenInfo(ToColour(WithAlpha(kPale, PartAlpha(hasPart_, 255, 120))), kThinPen * PenScale()));
  const wxGraphicsPath bottom = PolygonPath(gc, CirclePoints(frame, axis_, -1.0, 1.0));
  if (projection_.cylinderBottomCapEnabled != 0) {
    gc.SetBrush(gc.CreateBrush(wxBrush(ToColour(WithAlpha(kBlue, PartAlpha(hasPart_, 60, 30))))));
    gc.FillPath(bottom);
  }
  gc.SetPen(thin);
  gc.StrokePath(bottom);
  const auto [first, second] = CylinderSilhouetteAngles(frame, axis_);
  const auto at = [&](double angle, double offset) {
    return ProjectSketchPoint(frame, SketchCirclePoint(axis_, angle, offset, 1.0));
  };
  if (projection_.cylinderSideEnabled != 0) {
    gc.SetBrush(gc.CreateBrush(wxBrush(ToColour(WithAlpha(kRed, PartAlpha(hasPart_, 70, 35))))));
    gc.FillPath(PolygonPath(gc, {at(first, -1), at(first, 1), at(second, 1), at(second, -1)}));
  }
  gc.SetPen(edge);
  StrokeLine(gc, at(first, -1), at(first, 1));
  StrokeLine(gc, at(second, -1), at(second, 1));
  const wxGraphicsPath top = PolygonPath(gc, CirclePoints(frame, axis_, 1.0, 1.0));
  if (projection_.cylinderTopCapEnabled != 0) {
    gc.SetBrush(gc.CreateBrush(wxBrush(ToColour(WithAlpha(kBlue, PartAlpha(hasPart_, 100, 50))))));
    gc.FillPath(top);
  }
  gc.StrokePath(top);
}

void CMappingPicture::DrawSphere(wxGraphicsContext& gc, int width, int height) const {
  const SketchFrame frame = SketchFrameFor(width, height);
  const double radius = kSphereRadius * frame.scale;
  const SketchPoint centre = ProjectSketchPoint(frame, {});
  const bool anySide = std::any_of(std::begin(projection_.boxSideEnabled), std::end(projection_.boxSideEnabled),
                                   [](std::uint8_t on) { return on != 0; });
  if (anySide) {
    gc.SetBrush(gc.CreateBrush(wxBrush(ToColour(WithAlpha(kBlue, PartAlpha(hasPart_, 70, 35))))));
    gc.DrawEllipse(centre.x - radius, centre.y - radius, 2 * radius, 2 * radius);
  }
  gc.SetBrush(wxNullGraphicsBrush);
  gc.SetPen(gc.CreatePen(wxGraphicsPenInfo(
      hasPart_ ? wxColour(40, 60, 100) : wxColour(kPale.r, kPale.g, kPale.b), kEdgePen * PenScale())));
  wxGraphicsPath outline = gc.CreatePath();
  outline.AddCircle(centre.x, centre.y, radius);
  gc.StrokePath(outline);
  gc.SetPen(gc.CreatePen(
      wxGraphicsPenInfo(ToColour(WithAlpha(kPale, PartAlpha(hasPart_, 255, 120))), kThinPen * PenScale())));
  gc.StrokePath(PolygonPath(gc, CirclePoints(frame, axis_, 0.0, kSphereRadius)));
}

void CMappingPicture::DrawAxes(wxGraphicsContext& gc, int width, int height) const {
  const SketchFrame frame = SketchFrameFor(width, height);
  const SketchPoint origin = ProjectSketchPoint(frame, {});
  const wxColour axisColour = ToColour(WithAlpha(colours::kAccent, PartAlpha(hasPart_, 255, 120)));
  const wxGraphicsPen axisPen = gc.CreatePen(wxGraphicsPenInfo(axisColour, kAxisPen * PenScale()));
  const wxGraphicsPen thin =
      gc.CreatePen(wxGraphicsPenInfo(ToColour(WithAlpha(kPale, PartAlpha(hasPart_, 255, 120))), kThinPen * PenScale()));
  const bool highlight = projection_.type != mesh::ProjectionKind::Box;
  for (int axis = 0; axis < 3; ++axis) {
    const bool current = highlight && axis == axis_;
    const double length = current ? kLongArrow : kShortArrow;
    const SketchPoint3 end{axis == 0 ? length : 0.0, axis == 1 ? length : 0.0, axis == 2 ? length : 0.0};
    gc.SetPen(current ? axisPen : thin);
    StrokeLine(gc, origin, ProjectSketchPoint(frame, end));
    if (!current) continue;
    const std::array<SketchPoint, 3> head = ArrowHead(frame, end, kArrowHalfWidth * frame.scale);
    gc.SetBrush(gc.CreateBrush(wxBrush(axisColour)));
    gc.FillPath(PolygonPath(gc, {head[0], head[1], head[2]}));
  }
}

}  // namespace grainforge::app
