#pragma once

// CMappingPicture: a small fixed-angle sketch of the current projection in the Mapping
// section: the cube, plane, cylinder or sphere with its projecting faces tinted in the side
// colours, and the three axis arrows with the projection's axis drawn long with a head (not for
// a box, which has none). Without a part everything is drawn pale. The geometry is
// mapping_model.h's.

#include <wx/window.h>

#include "engine/displacement/projection.h"

class wxGraphicsContext;

namespace grainforge::app {

class CMappingPicture final : public wxWindow {
public:
  CMappingPicture(wxWindow* parent, wxWindowID id, int dpi);

  // Stores what to draw and repaints when it differs from what is shown; the active layer is
  // not drawn and so never counts. True when it repainted.
  bool SetState(const grainforge::mesh::Projection& projection, int axis, bool hasPart);
  const grainforge::mesh::Projection& Projection() const { return projection_; }
  int Axis() const { return axis_; }
  bool HasPart() const { return hasPart_; }
  void SetDpi(int dpi);

private:
  void OnPaint(wxPaintEvent& event);
  void DrawSketch(wxGraphicsContext& gc, int width, int height) const;
  void DrawBox(wxGraphicsContext& gc, int width, int height) const;
  void DrawPlane(wxGraphicsContext& gc, int width, int height) const;
  void DrawCylinder(wxGraphicsContext& gc, int width, int height) const;
  void DrawSphere(wxGraphicsContext& gc, int width, int height) const;
  void DrawAxes(wxGraphicsContext& gc, int width, int height) const;
  double PenScale() const;

  grainforge::mesh::Projection projection_;
  int axis_ = 2;
  bool hasPart_ = false;
  int dpi_ = 96;
};

}  // namespace grainforge::app
