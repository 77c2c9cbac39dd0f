#include "app/workflow/projector_list.h"

#include <algorithm>

#include <wx/dcbuffer.h>

#include "app/shell/kit/kit_drawing.h"
#include "app/shell/kit/scroll_arithmetic.h"
#include "app/shell/kit/ui_colours.h"
#include "app/shell/kit/ui_fonts.h"
#include "app/workflow/browser_controls.h"

namespace grainforge::app {
namespace {

constexpr Rgb kWhite{255, 255, 255};
// Check boxes that cannot be clicked and swatches of projectors that are off.
constexpr Rgb kInactive{170, 176, 186};



}  // namespace

CProjectorList::CProjectorList(wxWindow* parent, wxWindowID id, int dpi)
    : wxWindow(parent, id, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE | wxVSCROLL | wxCLIP_SIBLINGS),
      dpi_(dpi) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  SetCursor(wxCursor(wxCURSOR_ARROW));
  Bind(wxEVT_PAINT, &CProjectorList::OnPaint, this);
  RepaintOnFocusChange(this);
  Bind(wxEVT_LEFT_DOWN, &CProjectorList::OnLeftDown, this);
  Bind(wxEVT_MOTION, &CProjectorList::OnMotion, this);
  Bind(wxEVT_LEAVE_WINDOW, &CProjectorList::OnLeave, this);
  Bind(wxEVT_MOUSEWHEEL, &CProjectorList::OnWheel, this);
  Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    event.Skip();
    UpdateScrollRange();
  });
  for (const auto& type : {wxEVT_SCROLLWIN_TOP, wxEVT_SCROLLWIN_BOTTOM, wxEVT_SCROLLWIN_LINEUP,
                           wxEVT_SCROLLWIN_LINEDOWN, wxEVT_SCROLLWIN_PAGEUP, wxEVT_SCROLLWIN_PAGEDOWN,
                           wxEVT_SCROLLWIN_THUMBTRACK, wxEVT_SCROLLWIN_THUMBRELEASE})
    Bind(type, &CProjectorList::OnScroll, this);
  UpdateScrollRange();
}

PixelRect CProjectorList::Client() const {
  const wxSize size = GetClientSize();
  return PixelRect{0, 0, size.x, size.y};
}

void CProjectorList::SetRows(std::vector<ProjectorRow> rows, int selected) {
  if (selected < -1 || selected >= static_cast<int>(rows.size())) selected = -1;
  if (rows == rows_ && selected == selected_) return;
  const bool countChanged = rows.size() != rows_.size();
  rows_ = std::move(rows);
  selected_ = selected;
  if (countChanged) {
    offset_ = 0;
    hover_ = -1;
    UpdateScrollRange();
  }
  Refresh(false);
}

void CProjectorList::UpdateScrollRange() {
  const int count = static_cast<int>(rows_.size());
  const int view = std::max(GetClientSize().y, 0);
  offset_ = ClampProjectorScroll(offset_, count, dpi_, view);
  SetVScrollInfo(this, ProjectorContentHeight(count, dpi_), view, offset_);
}

void CProjectorList::ScrollTo(int offset) {
  const int clamped = ClampProjectorScroll(offset, static_cast<int>(rows_.size()), dpi_, GetClientSize().y);
  if (clamped == offset_) return;
  offset_ = clamped;
  SetScrollPos(wxVERTICAL, offset_);
  Refresh(false);
}

void CProjectorList::SetDpi(int dpi) {
  dpi_ = dpi;
  UpdateScrollRange();
  Refresh(false);
}

int CProjectorList::LeastWidth() const {
  wxClientDC dc(const_cast<CProjectorList*>(this));
  dc.SetFont(GetUiFont(kUiFontNormal, dpi_));
  int widest = 0;
  for (const ProjectorRow& row : rows_) widest = std::max(widest, dc.GetTextExtent(wxString(row.label)).x);
  return ProjectorListWidthFor(widest, dpi_);
}

int CProjectorList::HitTestRow(PixelPoint point) const {
  return HitTestProjectorRow(Client(), static_cast<int>(rows_.size()), dpi_, offset_, point);
}

void CProjectorList::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  const PixelRect client = Client();
  FillRect(dc, client, kWhite);
  FrameRect(dc, client, colours::kLine);
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  dc.SetFont(GetUiFont(kUiFontNormal, dpi_));
  dc.SetClippingRegion(client.left + 1, client.top + 1, std::max(client.Width() - 2, 0),
                       std::max(client.Height() - 2, 0));
  for (int i = 0; i < static_cast<int>(rows_.size()); ++i) {
    const PixelRect row = RowRect(i);
    if (row.bottom > client.top && row.top < client.bottom) PaintRow(dc, i);
  }
  dc.DestroyClippingRegion();
  DrawFocusOutline(dc, *this);
}

void CProjectorList::PaintRow(wxDC& dc, int index) {
  const ProjectorRow& row = rows_[static_cast<std::size_t>(index)];
  const PixelRect rect = RowRect(index);
  if (index == selected_) FillRect(dc, rect, colours::kPaleAccent);
  else if (index == hover_) FillRect(dc, rect, colours::kPaneBackground);
  const ProjectorRowParts parts = ProjectorRowLayout(Client(), rect, dpi_);
  if (row.enabled) {
    FillRect(dc, parts.check, row.toggleable ? colours::kAccent : kInactive);
    DrawCheckMark(dc, parts.check, dpi_);
  } else {
    FillRect(dc, parts.check, kWhite);
    FrameRect(dc, parts.check, row.toggleable ? colours::kMutedText : kInactive);
  }
  FillRect(dc, parts.swatch, row.enabled ? row.colour : kInactive);
  dc.SetTextForeground(ToWxColour(row.enabled ? colours::kText : colours::kMutedText));
  DrawTextLine(dc, row.label, parts.label, TextAlign::Left);
}

void CProjectorList::OnLeftDown(wxMouseEvent& event) {
  const std::optional<ProjectorClick> click =
      ProjectorClickAt(Client(), rows_, dpi_, offset_, PixelPoint{event.GetX(), event.GetY()});
  if (click && onNotify) onNotify(click->row, click->onLabel);
}

void CProjectorList::OnMotion(wxMouseEvent& event) {
  const int hover = HitTestRow(PixelPoint{event.GetX(), event.GetY()});
  if (hover == hover_) return;
  hover_ = hover;
  UpdateHoverTip();
  Refresh(false);
}

void CProjectorList::OnLeave(wxMouseEvent& event) {
  event.Skip();
  if (hover_ == -1) return;
  hover_ = -1;
  UpdateHoverTip();
  Refresh(false);
}

void CProjectorList::UpdateHoverTip() {
  const bool over = hover_ >= 0 && hover_ < static_cast<int>(rows_.size());
  ShowCutNameTip(*this, GetUiFont(kUiFontNormal, dpi_), over ? rows_[static_cast<std::size_t>(hover_)].label : std::wstring(),
                 over ? ProjectorRowLayout(Client(), RowRect(hover_), dpi_).label.Width() : 0, hoverTip_);
}

void CProjectorList::OnWheel(wxMouseEvent& event) {
  if (event.GetWheelAxis() != wxMOUSE_WHEEL_VERTICAL) {
    event.Skip();
    return;
  }
  ScrollTo(ProjectorWheelTarget(offset_, event.GetWheelRotation(), dpi_));
}

void CProjectorList::OnScroll(wxScrollWinEvent& event) {
  const int count = static_cast<int>(rows_.size());
  ScrollTo(ScrollPosFromCode(ScrollCodeFromEventType(event.GetEventType()), offset_, ProjectorRowHeight(dpi_),
                             GetClientSize().y, ProjectorContentHeight(count, dpi_), event.GetPosition()));
}

}  // namespace grainforge::app
