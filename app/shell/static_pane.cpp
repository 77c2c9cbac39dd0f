#include "app/shell/static_pane.h"

#include <wx/control.h>
#include <wx/dcbuffer.h>
#include <wx/sizer.h>
#include <wx/toplevel.h>

#include "app/shell/kit/kit_drawing.h"
#include "app/shell/kit/ui_colours.h"
#include "app/shell/kit/ui_fonts.h"
#include "app/shell/kit/ui_scale.h"
#include "app/shell/kit/window_ids.h"

namespace grainforge::app {
namespace {

constexpr int kCaptionIconSize = 16;
constexpr int kCaptionPadding = 4;

}  // namespace

PaneDesignSize StaticPaneSize(PaneDesignSize design, int dpi) {
  return PaneDesignSize{ScaleForDpi(design.width, dpi), ScaleForDpi(design.height, dpi)};
}

bool CStaticPane::Create(wxWindow* parent, wxWindowID id, const std::wstring& caption,
                         const std::wstring& iconName, PaneDesignSize design) {
  if (!wxPanel::Create(parent, ToWindowId(id), wxDefaultPosition, wxDefaultSize, wxBORDER_NONE | wxTAB_TRAVERSAL,
                       wxString(caption)))
    return false;
  caption_ = caption;
  iconName_ = iconName;
  design_ = design;
  const int dpi = GetWindowDpi(this);
  captionStrip_ = new wxWindow(this, wxID_ANY, wxDefaultPosition,
                               wxSize(-1, ScaleForDpi(kCaptionHeight, dpi)), wxBORDER_NONE);
  captionStrip_->SetBackgroundStyle(wxBG_STYLE_PAINT);
  captionStrip_->SetMinSize(wxSize(-1, ScaleForDpi(kCaptionHeight, dpi)));
  captionStrip_->Bind(wxEVT_PAINT, &CStaticPane::OnPaintCaption, this);
  RepaintOnFocusChange(captionStrip_);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(captionStrip_, 0, wxEXPAND);
  SetSizer(sizer);
  SetDpi(dpi);
  return true;
}

void CStaticPane::SetContent(wxWindow* content) {
  if (content_ != nullptr) GetSizer()->Detach(content_);
  content_ = content;
  if (content_ != nullptr) GetSizer()->Add(content_, 1, wxEXPAND);
  Layout();
}

void CStaticPane::SetDpi(int dpi) {
  const PaneDesignSize size = StaticPaneSize(design_, dpi);
  // A fixed direction is both the least and the most the frame's sizer may give the pane.
  const wxSize fixed(size.width > 0 ? size.width : -1, size.height > 0 ? size.height : -1);
  SetMinSize(fixed);
  SetMaxSize(fixed);
  captionStrip_->SetMinSize(wxSize(-1, ScaleForDpi(kCaptionHeight, dpi)));
  if (wxWindow* parent = GetParent()) parent->Layout();
}

void CStaticPane::SetFixedWidth(int width) {
  if (design_.width <= 0 || GetMinSize().x == width) return;
  SetMinSize(wxSize(width, GetMinSize().y));
  SetMaxSize(wxSize(width, GetMaxSize().y));
}

void CStaticPane::OnPaintCaption(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(captionStrip_);
  const int dpi = GetWindowDpi(captionStrip_);
  const wxSize size = captionStrip_->GetClientSize();
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(ToWxColour(colours::kHeaderBackground)));
  dc.DrawRectangle(0, 0, size.x, size.y);
  dc.SetBrush(wxBrush(ToWxColour(colours::kLine)));
  dc.DrawRectangle(0, size.y - 1, size.x, 1);

  const int padding = ScaleForDpi(kCaptionPadding, dpi);
  const int icon = ScaleForDpi(kCaptionIconSize, dpi);
  const int iconTop = (size.y - icon) / 2;
  DrawIcon(dc, iconName_, PixelRect{padding, iconTop, padding + icon, iconTop + icon});
  dc.SetFont(GetUiFont(kUiFontHeading, dpi));
  dc.SetTextForeground(ToWxColour(colours::kText));
  const wxRect textArea(2 * padding + icon, 0, std::max(0, size.x - 3 * padding - icon), size.y);
  dc.DrawLabel(wxControl::Ellipsize(wxString(caption_), dc, wxELLIPSIZE_END, textArea.width),
               textArea, wxALIGN_LEFT | wxALIGN_CENTER_VERTICAL);
  DrawFocusOutline(dc, *captionStrip_);
}

}  // namespace grainforge::app
