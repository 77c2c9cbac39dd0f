#include "app/workflow/section_body.h"

#include <wx/dcbuffer.h>

#include "app/shell/kit/kit_drawing.h"
#include "app/shell/kit/ui_colours.h"
#include "app/shell/kit/ui_fonts.h"
#include "app/shell/kit/ui_scale.h"
#include "app/shell/kit/window_ids.h"

namespace grainforge::app {
namespace {

constexpr int kPlaceholderInset = 8;

}  // namespace

bool CreateSectionBody(CSectionBody* body, wxWindow* parent, int id, FlowStep step) {
  if (body == nullptr || parent == nullptr) return false;
  body->step_ = step;
  body->dpi_ = GetWindowDpi(parent);
  if (!body->Create(parent, ToWindowId(id), wxDefaultPosition, wxSize(0, 0),
                    wxBORDER_NONE | wxCLIP_CHILDREN))
    return false;
  body->SetBackgroundStyle(wxBG_STYLE_PAINT);
  body->Bind(wxEVT_PAINT, &CSectionBody::OnPaint, body);
  body->Bind(wxEVT_SIZE, &CSectionBody::OnSize, body);
  return true;
}

void CSectionBody::SetDpi(int dpi) {
  dpi_ = dpi;
  LayoutChildren();
  Refresh(false);
}

int CSectionBody::GetContentHeight() const { return ScaleForDpi(kPlaceholderBodyHeight, dpi_); }

void CSectionBody::UpdateFromDocument(CGrainforgeDoc*) {
  // The placeholder shows nothing of the document.
}

void CSectionBody::LayoutChildren() {
  // The placeholder has no children.
}

std::wstring CSectionBody::GetPlaceholderText() const { return L"Not built yet."; }

void CSectionBody::OnSize(wxSizeEvent& event) {
  event.Skip();
  LayoutChildren();
}

void CSectionBody::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  PaintBody(dc);
}

void CSectionBody::PaintBody(wxDC& dc) {
  const wxSize size = GetClientSize();
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(ToWxColour(colours::kPaneBackground)));
  dc.DrawRectangle(0, 0, size.x, size.y);
  const std::wstring text = GetPlaceholderText();
  if (text.empty()) return;
  const int inset = ScaleForDpi(kPlaceholderInset, dpi_);
  dc.SetFont(GetUiFont(kUiFontSmall, dpi_));
  dc.SetTextForeground(ToWxColour(colours::kMutedText));
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  const wxRect area(inset, 0, std::max(0, size.x - 2 * inset), size.y);
  dc.SetClippingRegion(area);
  const wxSize extent = dc.GetTextExtent(wxString(text));
  dc.DrawText(wxString(text), area.x, (size.y - extent.y) / 2);
  dc.DestroyClippingRegion();
}

}  // namespace grainforge::app
