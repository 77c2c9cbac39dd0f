#include "app/workflow/section_header.h"

#include <wx/control.h>
#include <wx/dcbuffer.h>

#include "app/shell/kit/kit_drawing.h"
#include "app/shell/kit/ui_fonts.h"
#include "app/shell/kit/ui_scale.h"
#include "app/shell/kit/window_ids.h"

namespace grainforge::app {
namespace {

constexpr int kGearHotGrowth = 3;

wxRect ToWxRect(const PixelRect& rect) {
  return wxRect(rect.left, rect.top, rect.Width(), rect.Height());
}


void DrawChevron(wxDC& dc, const PixelRect& rect, bool collapsed) {
  const auto corners = ChevronTriangle(rect, collapsed);
  wxPoint points[3];
  for (int i = 0; i < 3; ++i) points[i] = wxPoint(corners[i].x, corners[i].y);
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(ToWxColour(header_colours::kChevron)));
  dc.DrawPolygon(3, points);
}

void DrawBox(wxDC& dc, const PixelRect& box, bool on, int dpi) {
  if (box.IsEmpty()) return;
  if (on) {
    FillRect(dc, box, header_colours::kBoxOn);
    DrawCheckMark(dc, box, dpi);
    return;
  }
  dc.SetPen(wxPen(ToWxColour(header_colours::kBoxFrame), 1));
  dc.SetBrush(*wxWHITE_BRUSH);
  dc.DrawRectangle(ToWxRect(box));
}

void DrawTitle(wxDC& dc, const wxString& title, const PixelRect& rect, bool on, int dpi) {
  if (rect.IsEmpty()) return;
  dc.SetFont(GetUiFont(kUiFontHeading, dpi));
  dc.SetTextForeground(
      ToWxColour(on ? header_colours::kTitleOn : header_colours::kTitleOff));
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  const wxString shown = wxControl::Ellipsize(title, dc, wxELLIPSIZE_END, rect.Width());
  const wxSize extent = dc.GetTextExtent(shown);
  dc.SetClippingRegion(ToWxRect(rect));
  dc.DrawText(shown, rect.left, rect.top + (rect.Height() - extent.y) / 2);
  dc.DestroyClippingRegion();
}

}  // namespace

CSectionHeader::CSectionHeader(wxWindow* parent, int id, FlowStep step, int dpi)
    : wxWindow(parent, ToWindowId(id), wxDefaultPosition, wxSize(0, 0), wxBORDER_NONE),
      model_(step),
      dpi_(dpi) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  SetCursor(wxCursor(wxCURSOR_ARROW));
  blink_.SetOwner(this);
  Bind(wxEVT_PAINT, &CSectionHeader::OnPaint, this);
  RepaintOnFocusChange(this);
  Bind(wxEVT_SIZE, &CSectionHeader::OnSize, this);
  Bind(wxEVT_LEFT_DOWN, &CSectionHeader::OnLeftDown, this);
  Bind(wxEVT_MOTION, &CSectionHeader::OnMotion, this);
  Bind(wxEVT_LEAVE_WINDOW, &CSectionHeader::OnLeave, this);
  Bind(wxEVT_TIMER, &CSectionHeader::OnBlink, this, blink_.GetId());
  LayoutParts();
}

CSectionHeader::~CSectionHeader() { blink_.Stop(); }

void CSectionHeader::SetSwitch(bool on) {
  if (model_.SetSwitch(on)) Refresh(false);
}

void CSectionHeader::SetCollapsed(bool collapsed) {
  if (model_.SetCollapsed(collapsed)) Refresh(false);
}

void CSectionHeader::SetStatus(SectionStatus status) {
  switch (model_.SetStatus(status)) {
    case SectionHeaderModel::TimerChange::None:
      return;
    case SectionHeaderModel::TimerChange::Start:
      blink_.Start(kBlinkMilliseconds);
      break;
    case SectionHeaderModel::TimerChange::Stop:
      blink_.Stop();
      break;
  }
  Refresh(false);
}

void CSectionHeader::SetDpi(int dpi) {
  dpi_ = dpi;
  LayoutParts();
  Refresh(false);
}

void CSectionHeader::LayoutParts() {
  const wxSize size = GetClientSize();
  parts_ = LayoutHeaderParts(PixelRect{0, 0, size.x, size.y}, dpi_, model_.Section().hasSwitch);
}

int CSectionHeader::BarHeight() const { return ScaleForDpi(kHeaderHeight, dpi_); }

void CSectionHeader::OnSize(wxSizeEvent& event) {
  event.Skip();
  LayoutParts();
  Refresh(false);
}

void CSectionHeader::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  const wxSize size = GetClientSize();
  FillRect(dc, PixelRect{0, 0, size.x, size.y}, header_colours::kBackground);
  FillRect(dc, PixelRect{0, size.y - 1, size.x, size.y}, header_colours::kBottomLine);
  DrawChevron(dc, parts_.chevron, model_.IsCollapsed());
  DrawIcon(dc, model_.Section().iconName, parts_.icon);
  DrawBox(dc, parts_.box, model_.IsSwitchOn(), dpi_);
  DrawTitle(dc, model_.Section().title, parts_.title, model_.IsSwitchOn(), dpi_);
  const DotLook dot = model_.Dot();
  if (dot.draw) DrawCircle(dc, parts_.dot, dot.colour, dot.ring);
  if (model_.IsGearHot()) {
    const int grow = ScaleForDpi(kGearHotGrowth, dpi_);
    const PixelRect& g = parts_.gear;
    FillRect(dc, PixelRect{g.left - grow, g.top - grow, g.right + grow, g.bottom + grow},
             header_colours::kGearHot);
  }
  DrawIcon(dc, L"settings", parts_.gear);
  DrawFocusOutline(dc, *this);
}

void CSectionHeader::OnLeftDown(wxMouseEvent& event) {
  const wxPoint at = event.GetPosition();
  const HeaderCode code = model_.Click(parts_, at.x, at.y);
  if (code == HeaderCode::None) return;
  if (code != HeaderCode::Settings) Refresh(false);
  // The owner may destroy or rebuild windows in answer; nothing of this header is used after.
  if (notify_) notify_(model_.Step(), code, event.ControlDown());
}

void CSectionHeader::OnMotion(wxMouseEvent& event) {
  const wxPoint at = event.GetPosition();
  if (model_.SetGearHot(parts_.gear.Contains(at.x, at.y))) Refresh(false);
  event.Skip();
}

void CSectionHeader::OnLeave(wxMouseEvent& event) {
  if (model_.SetGearHot(false)) Refresh(false);
  event.Skip();
}

void CSectionHeader::OnBlink(wxTimerEvent&) {
  model_.Blink();
  RefreshDot();
}

void CSectionHeader::RefreshDot() {
  const wxRect dot = ToWxRect(parts_.dot);
  Refresh(false, &dot);
}

}  // namespace grainforge::app
