#include "app/shell/kit/kit_drawing.h"

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

#include <wx/bitmap.h>
#include <wx/dc.h>
#include <wx/graphics.h>
#include <wx/image.h>
#include <wx/window.h>

#include "app/shell/kit/icon_files.h"
#include "app/shell/kit/kit_geometry.h"
#include "app/shell/kit/ui_scale.h"

namespace grainforge::app {
namespace {

std::unique_ptr<wxGraphicsContext> MakeSmoothContext(wxDC& dc) {
  std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::CreateFromUnknownDC(dc));
  if (gc) {
    gc->SetAntialiasMode(wxANTIALIAS_DEFAULT);
    gc->SetInterpolationQuality(wxINTERPOLATION_BEST);
  }
  return gc;
}

}  // namespace

// Bitmaps of the decoded icons, made once per name: converting on every paint would cost more
// than the drawing.
const wxBitmap* GetIconBitmap(const std::wstring& name) {
  static auto& bitmaps = *new std::map<std::wstring, wxBitmap>;
  const auto found = bitmaps.find(name);
  if (found != bitmaps.end()) return &found->second;
  const wxImage* image = GetIconImage(name);
  if (image == nullptr) return nullptr;
  return &bitmaps.emplace(name, wxBitmap(*image)).first->second;
}

wxColour ToWxColour(Rgb colour) {
  return wxColour(colour.r, colour.g, colour.b);
}

void FillRect(wxDC& dc, const PixelRect& rect, Rgb colour) {
  if (rect.IsEmpty()) return;
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(ToWxColour(colour)));
  dc.DrawRectangle(rect.left, rect.top, rect.Width(), rect.Height());
}

void FrameRect(wxDC& dc, const PixelRect& rect, Rgb colour) {
  dc.SetPen(wxPen(ToWxColour(colour), 1));
  dc.SetBrush(*wxTRANSPARENT_BRUSH);
  dc.DrawRectangle(rect.left, rect.top, rect.Width(), rect.Height());
}

void DrawIconPlaceholder(wxDC& dc, const PixelRect& rect) {
  const auto gc = MakeSmoothContext(dc);
  if (!gc || rect.IsEmpty()) return;
  const PlaceholderShape shape = IconPlaceholderShape(rect);
  gc->SetPen(gc->CreatePen(
      wxGraphicsPenInfo(ToWxColour(colours::kIconPlaceholder)).Width(kPlaceholderPenWidth)));
  gc->SetBrush(*wxTRANSPARENT_BRUSH);
  gc->DrawRoundedRectangle(shape.x, shape.y, shape.width, shape.height,
                           shape.cornerDiameter / 2);
}

void DrawIcon(wxDC& dc, const std::wstring& name, const PixelRect& rect) {
  if (rect.IsEmpty()) return;
  const wxBitmap* bitmap = GetIconBitmap(name);
  if (bitmap == nullptr || !bitmap->IsOk()) {
    DrawIconPlaceholder(dc, rect);
    return;
  }
  const auto gc = MakeSmoothContext(dc);
  if (!gc) return;
  gc->DrawBitmap(*bitmap, rect.left, rect.top, rect.Width(), rect.Height());
}

void DrawCircle(wxDC& dc, const PixelRect& rect, Rgb colour, bool outline) {
  const auto gc = MakeSmoothContext(dc);
  if (!gc || rect.IsEmpty()) return;
  if (outline) {
    gc->SetPen(gc->CreatePen(wxGraphicsPenInfo(ToWxColour(colour)).Width(1.5)));
    gc->SetBrush(*wxTRANSPARENT_BRUSH);
    gc->DrawEllipse(rect.left + 1.0, rect.top + 1.0, rect.Width() - 2.0, rect.Height() - 2.0);
  } else {
    gc->SetPen(*wxTRANSPARENT_PEN);
    gc->SetBrush(wxBrush(ToWxColour(colour)));
    gc->DrawEllipse(rect.left, rect.top, rect.Width(), rect.Height());
  }
}

void DrawCheckMark(wxDC& dc, const PixelRect& rect, int dpi) {
  const auto corners = CheckMarkPoints(rect);
  wxPoint points[3];
  for (int i = 0; i < 3; ++i) points[i] = wxPoint(corners[i].x, corners[i].y);
  dc.SetPen(wxPen(*wxWHITE, CheckMarkPenWidth(dpi)));
  dc.DrawLines(3, points);
}

void StretchPixelsToRect(wxDC& dc, const PixelRect& rect, std::span<const std::uint32_t> pixels,
                         int width, int height, int rowLimit) {
  if (pixels.empty() || width <= 0 || height <= 0 || rect.IsEmpty()) return;
  const int rows = RowsToShow(height, rowLimit);
  std::vector<std::uint8_t> rgb = PixelsToRgb(pixels, width, rows);
  if (rgb.empty()) return;
  // wxImage frees what it is given with free(), so it gets a copy it may own.
  wxImage image(width, rows, false);
  std::copy(rgb.begin(), rgb.end(), image.GetData());
  image.Rescale(rect.Width(), rect.Height(), wxIMAGE_QUALITY_BOX_AVERAGE);
  dc.DrawBitmap(wxBitmap(image), rect.left, rect.top, false);
}

void RepaintOnFocusChange(wxWindow* window) {
  if (window == nullptr) return;
  const auto repaint = [window](wxFocusEvent& event) {
    window->Refresh(false);
    event.Skip();
  };
  window->Bind(wxEVT_SET_FOCUS, repaint);
  window->Bind(wxEVT_KILL_FOCUS, repaint);
}

void DrawFocusOutline(wxDC& dc, const wxWindow& window) {
  if (!window.HasFocus()) return;
  const wxSize size = window.GetClientSize();
  const int width = std::max(1, ScaleForDpi(2, window.GetDPI().y > 0 ? window.GetDPI().y : 96));
  dc.SetBrush(*wxTRANSPARENT_BRUSH);
  dc.SetPen(wxPen(ToWxColour(colours::kAccent), width));
  // A pen of width w centred on the rectangle's edge: inset by half of it so all of it shows.
  const int inset = width / 2;
  dc.DrawRectangle(inset, inset, std::max(0, size.x - width + 1), std::max(0, size.y - width + 1));
}

}  // namespace grainforge::app
