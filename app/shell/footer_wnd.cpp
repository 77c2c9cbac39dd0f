#include "app/shell/footer_wnd.h"

#include <wx/control.h>
#include <wx/dcbuffer.h>

#include "app/shell/kit/command_events.h"
#include "app/shell/kit/kit_drawing.h"
#include "app/shell/kit/ui_fonts.h"
#include "app/shell/kit/window_ids.h"

namespace grainforge::app {
namespace {

wxRect ToWxRect(const PixelRect& rect) {
  return wxRect(rect.left, rect.top, rect.Width(), rect.Height());
}


// One line in the rectangle, vertically centred, cut with an ellipsis when too long; "&" is
// drawn as it is.
void DrawLine(wxDC& dc, const wxString& text, const PixelRect& rect, bool centred) {
  if (rect.IsEmpty()) return;
  const wxString shown = wxControl::Ellipsize(text, dc, wxELLIPSIZE_END, rect.Width());
  const wxSize extent = dc.GetTextExtent(shown);
  const int x = centred ? rect.left + (rect.Width() - extent.x) / 2 : rect.left;
  const int y = rect.top + (rect.Height() - extent.y) / 2;
  dc.SetClippingRegion(ToWxRect(rect));
  dc.DrawText(shown, x, y);
  dc.DestroyClippingRegion();
}

}  // namespace

CFooterWnd::CFooterWnd(wxWindow* parent, wxWindowID id, int dpi)
    : wxWindow(parent, ToWindowId(id), wxDefaultPosition, wxDefaultSize, wxBORDER_NONE),
      dpi_(dpi) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  SetCursor(wxCursor(wxCURSOR_ARROW));
  Bind(wxEVT_PAINT, &CFooterWnd::OnPaint, this);
  RepaintOnFocusChange(this);
  Bind(wxEVT_SIZE, &CFooterWnd::OnSize, this);
  Bind(wxEVT_LEFT_DOWN, &CFooterWnd::OnLeftDown, this);
  Bind(wxEVT_MOTION, &CFooterWnd::OnMotion, this);
  Bind(wxEVT_LEAVE_WINDOW, &CFooterWnd::OnLeave, this);
  LayoutParts();
}

bool CFooterWnd::SetShown(const FooterShown& shown) {
  if (shown == shown_) return false;
  shown_ = shown;
  Refresh(false);
  return true;
}

void CFooterWnd::SetDpi(int dpi) {
  dpi_ = dpi;
  LayoutParts();
  Refresh(false);
}

void CFooterWnd::LayoutParts() {
  const wxSize size = GetClientSize();
  layout_ = LayoutFooter(PixelRect{0, 0, size.x, size.y}, dpi_);
}

void CFooterWnd::OnSize(wxSizeEvent& event) {
  LayoutParts();
  Refresh(false);
  event.Skip();
}

void CFooterWnd::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  const wxSize size = GetClientSize();
  FillRect(dc, PixelRect{0, 0, size.x, size.y}, footer_colours::kBackground);
  FillRect(dc, PixelRect{0, 0, size.x, 1}, footer_colours::kTopLine);

  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  dc.SetFont(GetUiFont(kUiFontSmall, dpi_));
  dc.SetTextForeground(ToWxColour(FooterTextColour(shown_.state)));
  DrawLine(dc, wxString(FooterLineText(shown_)), layout_.text, false);

  const FooterButtonLook look = FooterButtonLookFor(shown_.state, hover_);
  FillRect(dc, layout_.button, look.fill);
  const int progress = FooterProgressWidth(shown_, layout_.button.Width());
  if (progress > 0) {
    PixelRect filled = layout_.button;
    filled.right = filled.left + progress;
    FillRect(dc, filled, footer_colours::kProgressFill);
  }
  dc.SetFont(GetUiFont(kUiFontHeading, dpi_));
  dc.SetTextForeground(ToWxColour(look.labelColour));
  DrawLine(dc, wxString(look.label), layout_.button, true);
  DrawFocusOutline(dc, *this);
}

void CFooterWnd::OnLeftDown(wxMouseEvent& event) {
  const wxPoint at = event.GetPosition();
  const std::optional<int> command = FooterClickCommand(shown_.state, layout_, at.x, at.y);
  if (!command) return;
  wxCommandEvent commandEvent = MakeCommandEvent(static_cast<std::uint32_t>(*command), this);
  ProcessWindowEvent(commandEvent);
}

void CFooterWnd::OnMotion(wxMouseEvent& event) {
  const wxPoint at = event.GetPosition();
  const bool hover = layout_.button.Contains(at.x, at.y);
  if (hover != hover_) {
    hover_ = hover;
    Refresh(false);
  }
  event.Skip();
}

void CFooterWnd::OnLeave(wxMouseEvent& event) {
  if (hover_) {
    hover_ = false;
    Refresh(false);
  }
  event.Skip();
}

}  // namespace grainforge::app
