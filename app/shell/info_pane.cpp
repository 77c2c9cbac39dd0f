#include "app/shell/info_pane.h"

#include "app/shell/kit/kit_drawing.h"

#include <wx/dcbuffer.h>
#include <wx/dcclient.h>
#include <wx/settings.h>
#include <wx/sizer.h>

#include "app/shell/text_layout.h"
#include "app/shell/wx_text_metrics.h"

namespace grainforge::app {
namespace {

wxColour ToWx(Rgb colour) { return wxColour(colour.r, colour.g, colour.b); }

// A fixed-pitch face, so that the columns of the mesh information line up.
constexpr char kReportFace[] = "DejaVu Sans Mono";
constexpr int kReportPoints = 9;

}  // namespace

CInfoBox::CInfoBox(wxWindow* parent)
    : wxWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE | wxFULL_REPAINT_ON_RESIZE) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
  Bind(wxEVT_PAINT, &CInfoBox::OnPaint, this);
  RepaintOnFocusChange(this);
  Hide();
}

void CInfoBox::SetMessage(const std::wstring& text, int kind) {
  text_ = text;
  kind_ = kind;
  Refresh();
}

int CInfoBox::LineHeight() const {
  wxClientDC dc(const_cast<CInfoBox*>(this));
  dc.SetFont(GetFont());
  return WxTextMetrics(dc).LineHeight();
}

int CInfoBox::CountRows(int paneWidth) const {
  wxClientDC dc(const_cast<CInfoBox*>(this));
  dc.SetFont(GetFont());
  return CountInfoRows(WxTextMetrics(dc), text_, paneWidth);
}

void CInfoBox::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  const InfoColours colours = InfoColoursOf(kind_);
  const wxSize size = GetClientSize();
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(ToWx(colours.background)));
  dc.DrawRectangle(0, 0, size.x, size.y);
  dc.SetFont(GetFont());
  dc.SetTextForeground(ToWx(colours.text));
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  const WxTextMetrics metrics(dc);
  const int lineHeight = metrics.LineHeight();
  int y = kInfoBoxPadding;
  for (const std::wstring& row : InfoBoxRows(metrics, text_, size.x, size.y)) {
    dc.DrawText(wxString(row), kInfoBoxPadding, y);
    y += lineHeight;
  }
  DrawFocusOutline(dc, *this);
}

CRightPaneDialog::CRightPaneDialog(wxWindow* parent) : wxPanel(parent, wxID_ANY) {
  SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
  report_ = new wxTextCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                           wxTE_MULTILINE | wxTE_READONLY | wxVSCROLL | wxBORDER_SIMPLE);
  reportFont_ = wxFont(wxFontInfo(kReportPoints).FaceName(kReportFace).Family(wxFONTFAMILY_TELETYPE));
  report_->SetFont(reportFont_);
  info_ = new CInfoBox(this);
  Bind(wxEVT_SIZE, &CRightPaneDialog::OnSize, this);
}

void CRightPaneDialog::SetInfoText(const std::wstring& text, int kind) {
  infoText_ = text;
  infoKind_ = kind;
  if (info_ == nullptr) return;
  info_->SetMessage(text, kind);
  info_->Show(!text.empty());
  const wxSize size = GetClientSize();
  LayoutBoxes(size.x, size.y);
  info_->Refresh();
}

void CRightPaneDialog::SetReportText(const std::wstring& text) {
  reportText_ = text;
  if (report_ != nullptr) report_->ChangeValue(text);
}

void CRightPaneDialog::LayoutBoxes(int width, int height) {
  const int rows = infoText_.empty() ? 0 : std::max(1, info_->CountRows(width));
  const InfoPaneLayout layout = LayoutInfoPane(width, height, rows, info_->LineHeight());
  report_->SetSize(layout.report.x, layout.report.y, layout.report.width, layout.report.height);
  if (layout.info.height > 0) {
    info_->SetSize(layout.info.x, layout.info.y, layout.info.width, layout.info.height);
  }
}

void CRightPaneDialog::OnSize(wxSizeEvent& event) {
  event.Skip();
  const wxSize size = GetClientSize();
  LayoutBoxes(size.x, size.y);
}

CRightPane::CRightPane(wxWindow* parent) : wxPanel(parent, wxID_ANY) {
  dialog_ = new CRightPaneDialog(this);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(dialog_, 1, wxEXPAND);
  SetSizer(sizer);
  Bind(wxEVT_SET_FOCUS, [this](wxFocusEvent&) { dialog_->SetFocus(); });
}

}  // namespace grainforge::app
