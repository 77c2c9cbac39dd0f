#include "app/shell/info_pane.h"

#include <algorithm>

#include "app/shell/kit/compact_gtk_style.h"
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
    : wxScrolledCanvas(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                       wxBORDER_NONE | wxVSCROLL | wxFULL_REPAINT_ON_RESIZE) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
  // Its bar takes its own room: laid over the rows, shown only under the pointer, it left a long
  // warning cut at the box's foot with nothing to say there was more.
  ShowScrollBarsBesideContents(GetHandle());
  ShowScrollbars(wxSHOW_SB_NEVER, wxSHOW_SB_NEVER);
  Bind(wxEVT_PAINT, &CInfoBox::OnPaint, this);
  RepaintOnFocusChange(this);
  Hide();
}

void CInfoBox::SetMessages(std::vector<InformationMessage> messages) {
  newMessage_ = -1;
  for (std::size_t i = 0; i < messages.size() && newMessage_ < 0; ++i)
    if (std::find(messages_.begin(), messages_.end(), messages[i]) == messages_.end())
      newMessage_ = static_cast<int>(i);
  messages_ = std::move(messages);
  Scroll(0, 0);
  Refresh();
}

void CInfoBox::ScrollMessageIntoSight(std::size_t index) {
  const InfoContent content = Content();
  const int lineHeight = std::max(1, LineHeight());
  const int height = GetClientSize().y;
  if (index >= content.bands.size() || height <= 0) return;
  const InfoBand& band = content.bands[index];
  if (band.top + band.height <= height) return;
  // Its end at the box's foot where the box holds it whole, else its start at the top.
  const int endAtFoot = (band.top + band.height - height + lineHeight - 1) / lineHeight;
  Scroll(0, std::min(endAtFoot, band.top / lineHeight));
}

int CInfoBox::LineHeight() const {
  wxClientDC dc(const_cast<CInfoBox*>(this));
  dc.SetFont(GetFont());
  return WxTextMetrics(dc).LineHeight();
}

int CInfoBox::ContentHeight(int boxWidth) const {
  wxClientDC dc(const_cast<CInfoBox*>(this));
  dc.SetFont(GetFont());
  return LayoutInfoContent(WxTextMetrics(dc), messages_, boxWidth).height;
}

InfoContent CInfoBox::Content() const {
  wxClientDC dc(const_cast<CInfoBox*>(this));
  dc.SetFont(GetFont());
  return LayoutInfoContent(WxTextMetrics(dc), messages_, GetClientSize().x);
}

void CInfoBox::Place(const AreaRect& rect) {
  const bool scrolls = ContentHeight(rect.width) > rect.height;
  ShowScrollbars(wxSHOW_SB_NEVER, scrolls ? wxSHOW_SB_ALWAYS : wxSHOW_SB_NEVER);
  SetSize(rect.x, rect.y, rect.width, rect.height);
  // With the bar shown the rows wrap to the narrower client area.
  const int width = GetClientSize().x;
  const int lineHeight = std::max(1, LineHeight());
  SetScrollRate(0, scrolls ? lineHeight : 0);
  SetVirtualSize(width, scrolls ? ContentHeight(width) : rect.height);
  if (newMessage_ >= 0) {
    if (scrolls) ScrollMessageIntoSight(static_cast<std::size_t>(newMessage_));
    newMessage_ = -1;
  }
  Refresh();
}

void CInfoBox::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  DoPrepareDC(dc);
  const wxSize virtualSize = GetVirtualSize();
  const wxSize client = GetClientSize();
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(GetParent()->GetBackgroundColour()));
  dc.DrawRectangle(0, 0, std::max(virtualSize.x, client.x), std::max(virtualSize.y, client.y));
  dc.SetFont(GetFont());
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  const WxTextMetrics metrics(dc);
  const int lineHeight = metrics.LineHeight();
  const InfoContent content = LayoutInfoContent(metrics, messages_, client.x);
  for (std::size_t i = 0; i < content.bands.size(); ++i) {
    const InfoBand& band = content.bands[i];
    const InfoColours colours = InfoColoursOf(band.kind);
    // The last band reaches down to the box's bottom edge when the box is taller than them all.
    const int height = i + 1 == content.bands.size() ? std::max(band.height, client.y - band.top) : band.height;
    dc.SetBrush(wxBrush(ToWx(colours.background)));
    dc.DrawRectangle(0, band.top, client.x, height);
    dc.SetTextForeground(ToWx(colours.text));
    int y = band.top + kInfoBoxPadding;
    for (const std::wstring& row : band.rows) {
      dc.DrawText(wxString(row), kInfoBoxPadding, y);
      y += lineHeight;
    }
  }
  dc.SetDeviceOrigin(0, 0);  // the outline keeps to the box, wherever it is scrolled
  DrawFocusOutline(dc, *this);
}

CRightPaneDialog::CRightPaneDialog(wxWindow* parent) : wxPanel(parent, wxID_ANY) {
  SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
  report_ = new wxTextCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                           wxTE_MULTILINE | wxTE_READONLY | wxVSCROLL | wxBORDER_SIMPLE);
  reportFont_ = wxFont(wxFontInfo(kReportPoints).FaceName(kReportFace).Family(wxFONTFAMILY_TELETYPE));
  report_->SetFont(reportFont_);
  ShowScrollBarsBesideContents(report_->GetHandle());
  info_ = new CInfoBox(this);
  Bind(wxEVT_SIZE, &CRightPaneDialog::OnSize, this);
}

void CRightPaneDialog::SetInfoText(const std::wstring& text, int kind) {
  std::vector<InformationMessage> messages;
  if (!text.empty()) messages.push_back({text, kind});
  SetInfoMessages(messages);
}

void CRightPaneDialog::SetInfoMessages(const std::vector<InformationMessage>& messages) {
  infoText_.clear();
  for (const InformationMessage& message : messages)
    if (!message.text.empty()) infoText_ += (infoText_.empty() ? L"" : L"\n\n") + message.text;
  infoKind_ = messages.empty() ? kInfoOk : messages.front().kind;
  if (info_ == nullptr) return;
  info_->SetMessages(messages);
  info_->Show(!infoText_.empty());
  const wxSize size = GetClientSize();
  LayoutBoxes(size.x, size.y);
  info_->Refresh();
}

void CRightPaneDialog::SetReportText(const std::wstring& text) {
  reportText_ = text;
  if (report_ != nullptr) report_->ChangeValue(text);
}

void CRightPaneDialog::LayoutBoxes(int width, int height) {
  const int content = infoText_.empty() ? 0 : info_->ContentHeight(InfoBoxWidth(width));
  const InfoPaneLayout layout = LayoutInfoPaneForContent(width, height, content);
  report_->SetSize(layout.report.x, layout.report.y, layout.report.width, layout.report.height);
  if (layout.info.height > 0) info_->Place(layout.info);
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
