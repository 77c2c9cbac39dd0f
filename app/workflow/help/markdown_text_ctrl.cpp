#include "app/workflow/help/markdown_text_ctrl.h"

#include <algorithm>
#include <optional>

#include <wx/clipbrd.h>
#include <wx/dcbuffer.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/dialog.h>
#include <wx/menu.h>
#include <wx/settings.h>
#include <wx/sizer.h>

#include "app/shell/kit/access_keys.h"
#include "app/shell/kit/dialog_fit.h"
#include "app/shell/kit/compact_gtk_style.h"
#include "app/shell/kit/scroll_arithmetic.h"
#include "app/shell/kit/ui_fonts.h"
#include "app/shell/kit/ui_scale.h"
#include "app/shell/text_layout.h"
#include "app/shell/wx_text_metrics.h"

namespace grainforge::app {
namespace {

const wxColour kSelectionColour(204, 228, 247);
const wxColour kCodeColour(100, 200, 255);
const wxColour kQuoteBarColour(99, 138, 196);
const wxColour kTableLineColour(200, 200, 200);
const wxColour kHeaderRowColour(240, 240, 240);

// The help pages' font sizes are given as cell heights in pixels; a font's em is about three
// quarters of its cell, and a point is 4/3 pixel at 96 dpi.
constexpr double kPointsPerCellPixel = 0.75 * 0.75;

struct FontStyle {
  double factor;
  int weight;
  bool italic;
  bool code;
};
constexpr std::array<FontStyle, kMarkdownFontCount> kFontStyles{{
    {1.0, 400, false, false},   // normal
    {1.0, 700, false, false},   // bold
    {1.0, 400, true, false},    // italic
    {1.0, 700, true, false},    // bold italic
    {0.9, 400, false, true},    // code
    {1.75, 700, false, false},  // heading 1
    {1.5, 700, false, false},   // heading 2
    {1.2, 700, false, false},   // heading 3
}};

// Measures in one of the pane's fonts through one device context.
class FontMetrics final : public ITextMetrics {
public:
  FontMetrics(wxDC& dc, const wxFont& font) : dc_(&dc), font_(&font) {}
  std::vector<int> PartialExtents(std::wstring_view text) const override {
    Select();
    return WxTextMetrics(*dc_).PartialExtents(text);
  }
  int Width(std::wstring_view text) const override {
    Select();
    return WxTextMetrics(*dc_).Width(text);
  }
  int LineHeight() const override {
    Select();
    return WxTextMetrics(*dc_).LineHeight();
  }

private:
  void Select() const {
    if (!dc_->GetFont().IsSameAs(*font_)) dc_->SetFont(*font_);
  }
  wxDC* dc_;
  const wxFont* font_;
};

class PaneFonts final : public IMarkdownFonts {
public:
  PaneFonts(wxDC& dc, const std::array<wxFont, kMarkdownFontCount>& fonts)
      : metrics_{{{dc, fonts[0]}, {dc, fonts[1]}, {dc, fonts[2]}, {dc, fonts[3]},
                  {dc, fonts[4]}, {dc, fonts[5]}, {dc, fonts[6]}, {dc, fonts[7]}}} {}
  const ITextMetrics& Metrics(MarkdownFont font) const override {
    return metrics_[static_cast<std::size_t>(font)];
  }

private:
  std::array<FontMetrics, kMarkdownFontCount> metrics_;
};

wxString ToWx(std::wstring_view text) { return wxString(text.data(), text.size()); }

std::optional<MarkdownScrollKey> ScrollKeyFor(int keyCode) {
  switch (keyCode) {
    case WXK_PAGEUP: return MarkdownScrollKey::PageUp;
    case WXK_PAGEDOWN: return MarkdownScrollKey::PageDown;
    case WXK_HOME: return MarkdownScrollKey::Home;
    case WXK_END: return MarkdownScrollKey::End;
    case WXK_UP: return MarkdownScrollKey::Up;
    case WXK_DOWN: return MarkdownScrollKey::Down;
    default: return std::nullopt;  // Left, Right and the rest go to the default handling
  }
}

// A table cell's text wrapped at spaces within the box, each row placed by the column's
// alignment (0 left, 1 centre, 2 right); what does not fit in the box is cut off.
void DrawCellText(wxDC& dc, const ITextMetrics& metrics, const std::wstring& cell, const wxRect& box,
                  int alignment) {
  wxDCClipper clip(dc, box);
  const int rowHeight = metrics.LineHeight();
  int y = box.y;
  for (const TextRow& row : WrapText(metrics, cell, box.width, box.width)) {
    if (y >= box.GetBottom() + 1) break;
    const std::wstring_view piece = std::wstring_view(cell).substr(static_cast<std::size_t>(row.start),
                                                                   static_cast<std::size_t>(row.end - row.start));
    const int spare = box.width - metrics.Width(piece);
    const int offset = alignment == 1 ? spare / 2 : alignment == 2 ? spare : 0;
    dc.DrawText(ToWx(piece), box.x + std::max(0, offset), y);
    y += rowHeight;
  }
}

}  // namespace

MarkdownSpacing MarkdownSpacingAt(int dpi) {
  const MarkdownSpacing d;
  auto s = [dpi](int v) { return ScaleForDpi(v, dpi); };
  return MarkdownSpacing{.indent = s(d.indent), .ruleExtra = s(d.ruleExtra), .lineGap = s(d.lineGap),
                         .fallbackLineHeight = s(d.fallbackLineHeight), .tableSlack = s(d.tableSlack),
                         .columnPadding = s(d.columnPadding), .minColumnWidth = s(d.minColumnWidth),
                         .cellInset = s(d.cellInset), .cellTop = s(d.cellTop), .cellBottom = s(d.cellBottom),
                         .minCellTextWidth = s(d.minCellTextWidth), .rowExtra = s(d.rowExtra),
                         .quoteBarLeft = s(d.quoteBarLeft), .quoteBarWidth = s(d.quoteBarWidth)};
}

int MarkdownFontPixelSize(MarkdownFont font, int baseFontSize, int dpi) {
  const double factor = kFontStyles[static_cast<std::size_t>(font)].factor;
  return ScaleForDpi(static_cast<int>(baseFontSize * factor), dpi);
}

CMarkdownTextCtrl::CMarkdownTextCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxWindow(parent, id, pos, size, wxWANTS_CHARS | wxVSCROLL | wxALWAYS_SHOW_SB | wxFULL_REPAINT_ON_RESIZE),
      autoScrollTimer_(this, kAutoScrollTimerId) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  SetCursor(wxCursor(wxCURSOR_IBEAM));
  // A bar shown only under the pointer left a page cut mid-sentence with nothing to say so.
  ShowScrollBarsBesideContents(GetHandle());
  dpi_ = GetWindowDpi(this);
  CreateFonts();
  ComputeLineHeight();
  UpdateGeometry();
  Bind(wxEVT_PAINT, &CMarkdownTextCtrl::OnPaint, this);
  Bind(wxEVT_SIZE, &CMarkdownTextCtrl::OnSize, this);
  Bind(wxEVT_DPI_CHANGED, &CMarkdownTextCtrl::OnDpiChanged, this);
  for (const auto& type : {wxEVT_SCROLLWIN_TOP, wxEVT_SCROLLWIN_BOTTOM, wxEVT_SCROLLWIN_LINEUP,
                           wxEVT_SCROLLWIN_LINEDOWN, wxEVT_SCROLLWIN_PAGEUP, wxEVT_SCROLLWIN_PAGEDOWN,
                           wxEVT_SCROLLWIN_THUMBTRACK, wxEVT_SCROLLWIN_THUMBRELEASE})
    Bind(type, &CMarkdownTextCtrl::OnScroll, this);
  Bind(wxEVT_MOUSEWHEEL, &CMarkdownTextCtrl::OnWheel, this);
  Bind(wxEVT_KEY_DOWN, &CMarkdownTextCtrl::OnKeyDown, this);
  Bind(wxEVT_LEFT_DOWN, &CMarkdownTextCtrl::OnLeftDown, this);
  Bind(wxEVT_LEFT_DCLICK, &CMarkdownTextCtrl::OnLeftDoubleClick, this);
  Bind(wxEVT_MOTION, &CMarkdownTextCtrl::OnMotion, this);
  Bind(wxEVT_LEFT_UP, &CMarkdownTextCtrl::OnLeftUp, this);
  Bind(wxEVT_MOUSE_CAPTURE_LOST, &CMarkdownTextCtrl::OnCaptureLost, this);
  Bind(wxEVT_TIMER, &CMarkdownTextCtrl::OnTimer, this, kAutoScrollTimerId);
  Bind(wxEVT_CONTEXT_MENU, &CMarkdownTextCtrl::OnContextMenu, this);
}

CMarkdownTextCtrl::~CMarkdownTextCtrl() {
  autoScrollTimer_.Stop();
  if (HasCapture()) ReleaseMouse();
}

void CMarkdownTextCtrl::SetPageText(std::wstring text) {
  view_.SetText(std::move(text));
  Refresh(false);
}

void CMarkdownTextCtrl::SetColours(const wxColour& text, const wxColour& background) {
  textColour_ = text;
  backgroundColour_ = background;
  Refresh(false);
}

void CMarkdownTextCtrl::SetMargins(const MarkdownMargins& margins) {
  margins_ = margins;
  UpdateGeometry();
  Refresh(false);
}

void CMarkdownTextCtrl::CreateFonts() {
  for (std::size_t i = 0; i < fonts_.size(); ++i) {
    const FontStyle& style = kFontStyles[i];
    const double points =
        MarkdownFontPixelSize(static_cast<MarkdownFont>(i), kBaseFontSize, dpi_) * kPointsPerCellPixel;
    fonts_[i] = style.code ? MakeReportFont(points, style.weight)
                           : MakeInterfaceFont(points, style.weight, style.italic);
  }
}

void CMarkdownTextCtrl::ComputeLineHeight() {
  wxMemoryDC dc;
  dc.SetFont(fonts_[0]);
  lineHeight_ = WxTextMetrics(dc).LineHeight();
}

// Hands the model the current box; a changed box re-lays the page and clears the selection.
void CMarkdownTextCtrl::UpdateGeometry() {
  const wxSize client = GetClientSize();
  MarkdownGeometry geometry;
  geometry.clientWidth = client.x;
  geometry.clientHeight = client.y;
  // The scroll bar's width stays free on the right whether the bar takes room or not. GTK gives
  // the bar its room only once the page is taller than the pane, which narrows the client area
  // without a size event: a page laid out for the wider area would run under the bar and be
  // cut off there, and its height (and so the scroll range) would be that of the wider layout.
  const int taken = std::max(0, GetSize().x - client.x);
  reservedBarWidth_ = std::max({reservedBarWidth_, taken, wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, this)});
  geometry.scrollBarWidth = reservedBarWidth_ - taken;
  geometry.marginLeft = ScaleForDpi(margins_.left, dpi_);
  geometry.marginTop = ScaleForDpi(margins_.top, dpi_);
  geometry.marginRight = ScaleForDpi(margins_.right, dpi_);
  geometry.marginBottom = ScaleForDpi(margins_.bottom, dpi_);
  geometry.lineHeight = lineHeight_;
  geometry.spacing = MarkdownSpacingAt(dpi_);
  view_.SetGeometry(geometry);
}

void CMarkdownTextCtrl::EnsureLayout() {
  UpdateGeometry();
  if (!view_.IsLayoutDirty()) return;
  wxMemoryDC dc;
  const PaneFonts fonts(dc, fonts_);
  view_.EnsureLayout(fonts);
  UpdateScrollBar();
}

void CMarkdownTextCtrl::UpdateScrollBar() {
  const int page = view_.Geometry().clientHeight;
  if (view_.ContentFits()) {
    SetVScrollInfo(this, 0, page, 0);
  } else {
    SetVScrollInfo(this, view_.Layout().contentHeight, page, view_.ScrollPos());
  }
}

void CMarkdownTextCtrl::ApplyScroll(bool changed) {
  if (!changed) return;
  UpdateScrollBar();
  Refresh(false);
}

bool CMarkdownTextCtrl::ScrollTo(int y) {
  EnsureLayout();
  const bool changed = view_.ScrollTo(y);
  ApplyScroll(changed);
  return changed;
}

TextPosition CMarkdownTextCtrl::HitTest(const wxPoint& point) {
  EnsureLayout();
  wxMemoryDC dc;
  const PaneFonts fonts(dc, fonts_);
  return view_.HitTest(fonts, PixelPoint{point.x, point.y});
}

void CMarkdownTextCtrl::SelectAll() {
  EnsureLayout();
  if (view_.SelectAll()) Refresh(false);
}

void CMarkdownTextCtrl::ClearSelection() {
  if (view_.ClearSelection()) Refresh(false);
}

bool CMarkdownTextCtrl::CopySelection() {
  EnsureLayout();
  const std::wstring text = view_.SelectedText();
  if (text.empty()) return false;
  wxClipboardLocker locker(wxTheClipboard);
  if (!locker) return false;
  // wxTheClipboard takes ownership of the data object.
  return wxTheClipboard->SetData(new wxTextDataObject(ToWx(text)));
}

void CMarkdownTextCtrl::StopAutoScroll() { autoScrollTimer_.Stop(); }

void CMarkdownTextCtrl::EndDrag() {
  StopAutoScroll();
  dragging_ = false;
  if (HasCapture()) ReleaseMouse();
}

// ---- Painting ----------------------------------------------------------------------------

void CMarkdownTextCtrl::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  EnsureLayout();
  dc.SetBackground(wxBrush(backgroundColour_));
  dc.Clear();
  const PixelRect textRect = view_.TextRect();
  wxDCClipper clip(dc, wxRect(textRect.left, textRect.top, textRect.Width(), textRect.Height()));
  const MarkdownLayout& layout = view_.Layout();
  const int clientHeight = view_.Geometry().clientHeight;
  const int origin = view_.Geometry().marginTop - view_.ScrollPos();
  for (std::size_t i = static_cast<std::size_t>(view_.FirstVisibleLine()); i < layout.lines.size(); ++i) {
    const FormattedLine& line = layout.lines[i];
    const int top = origin + layout.lineTops[i];
    if (top >= clientHeight) break;
    if (top + line.height < 1) continue;
    if (line.isTableRow) PaintTableRow(dc, static_cast<int>(i), line, top);
    else if (line.isRule) PaintRule(dc, static_cast<int>(i), line, top);
    else PaintTextLine(dc, static_cast<int>(i), line, top);
  }
}

void CMarkdownTextCtrl::PaintTextLine(wxDC& dc, int index, const FormattedLine& line, int top) {
  wxMemoryDC measure;
  const PaneFonts fonts(measure, fonts_);
  dc.SetPen(*wxTRANSPARENT_PEN);
  if (const std::optional<HighlightSpan> span = view_.Highlight(fonts, index)) {
    dc.SetBrush(wxBrush(kSelectionColour));
    dc.DrawRectangle(span->left, top, span->right - span->left, line.height);
  }
  const MarkdownSpacing& spacing = view_.Geometry().spacing;
  if (line.isQuote) {
    dc.SetBrush(wxBrush(kQuoteBarColour));
    dc.DrawRectangle(view_.Geometry().marginLeft + spacing.quoteBarLeft, top + 1, spacing.quoteBarWidth,
                     line.height - 2);
  }
  const std::vector<int> x = view_.SegmentPositions(fonts, line);
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  for (std::size_t k = 0; k < line.segments.size(); ++k) {
    const TextSegment& segment = line.segments[k];
    dc.SetFont(fonts_[static_cast<std::size_t>(SegmentFont(segment))]);
    dc.SetTextForeground(segment.code ? kCodeColour : textColour_);
    dc.DrawText(ToWx(segment.text), x[k], top);
  }
}

void CMarkdownTextCtrl::PaintTableRow(wxDC& dc, int index, const FormattedLine& line, int top) {
  const MarkdownGeometry& g = view_.Geometry();
  const int x0 = g.marginLeft + g.spacing.indent * line.indent;
  int right = x0;
  for (int w : line.columnWidths) right += w;
  dc.SetPen(*wxTRANSPARENT_PEN);
  if (line.isHeaderRow) {
    dc.SetBrush(wxBrush(kHeaderRowColour));
    dc.DrawRectangle(x0, top, right - x0, line.height);
  }
  wxMemoryDC measure;
  const PaneFonts fonts(measure, fonts_);
  if (view_.Highlight(fonts, index)) {
    dc.SetBrush(wxBrush(kSelectionColour));
    dc.DrawRectangle(x0, top, right - x0, line.height);
  }
  dc.SetPen(wxPen(kTableLineColour, 1));
  if (line.isFirstRow) dc.DrawLine(x0, top, right, top);
  dc.DrawLine(x0, top + line.height, right, top + line.height);
  dc.DrawLine(x0, top, x0, top + line.height);
  const wxFont& font = fonts_[static_cast<std::size_t>(line.isHeaderRow ? MarkdownFont::Bold : MarkdownFont::Normal)];
  dc.SetFont(font);
  dc.SetTextForeground(textColour_);
  const WxTextMetrics metrics(dc);
  int x = x0;
  for (std::size_t c = 0; c < line.columnWidths.size(); ++c) {
    const int width = line.columnWidths[c];
    dc.DrawLine(x + width, top, x + width, top + line.height);
    const wxRect box(x + g.spacing.cellInset, top + g.spacing.cellTop,
                     std::max(g.spacing.minCellTextWidth, width - 2 * g.spacing.cellInset),
                     line.height - g.spacing.cellTop - g.spacing.cellBottom);
    const int alignment = c < line.columnAlignments.size() ? line.columnAlignments[c] : 0;
    if (c < line.cells.size()) DrawCellText(dc, metrics, line.cells[c], box, alignment);
    x += width;
  }
}

void CMarkdownTextCtrl::PaintRule(wxDC& dc, int index, const FormattedLine& line, int top) {
  const MarkdownGeometry& g = view_.Geometry();
  wxMemoryDC measure;
  const PaneFonts fonts(measure, fonts_);
  if (view_.Highlight(fonts, index)) {
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(kSelectionColour));
    dc.DrawRectangle(g.marginLeft, top, g.AvailableRight() - g.marginLeft, line.height);
  }
  dc.SetPen(wxPen(kTableLineColour, 1));
  const int y = top + line.height / 2;
  dc.DrawLine(g.marginLeft, y, g.AvailableRight(), y);
}

// ---- Window events -----------------------------------------------------------------------

void CMarkdownTextCtrl::OnSize(wxSizeEvent& event) {
  event.Skip();
  UpdateGeometry();
  Refresh(false);
}

void CMarkdownTextCtrl::OnDpiChanged(wxDPIChangedEvent& event) {
  event.Skip();
  dpi_ = GetWindowDpi(this);
  CreateFonts();
  ComputeLineHeight();
  UpdateGeometry();
  Refresh(false);
}

void CMarkdownTextCtrl::OnScroll(wxScrollWinEvent& event) {
  if (event.GetOrientation() != wxVERTICAL) return;
  EnsureLayout();
  const int code = ScrollCodeFromEventType(event.GetEventType());
  const int line = lineHeight_ >= 1 ? lineHeight_ : view_.Geometry().spacing.fallbackLineHeight;
  const int target = ScrollPosFromCode(code, view_.ScrollPos(), line, view_.Geometry().clientHeight,
                                       view_.Layout().contentHeight, event.GetPosition());
  ApplyScroll(view_.ScrollTo(target));
}

void CMarkdownTextCtrl::OnWheel(wxMouseEvent& event) {
  if (event.GetWheelAxis() != wxMOUSE_WHEEL_VERTICAL) return;
  EnsureLayout();
  ApplyScroll(view_.Wheel(event.GetWheelRotation()));
}

void CMarkdownTextCtrl::OnKeyDown(wxKeyEvent& event) {
  const int key = event.GetKeyCode();
  if (event.ControlDown()) {
    if (key == 'C' || key == WXK_INSERT) {
      CopySelection();
      return;
    }
    if (key == 'A') {
      SelectAll();
      return;
    }
  }
  EnsureLayout();
  const std::optional<MarkdownScrollKey> scrollKey = ScrollKeyFor(key);
  if (!view_.ContentFits() && scrollKey) {
    ApplyScroll(view_.ScrollByKey(*scrollKey));
    return;
  }
  event.Skip();
}

// ---- Mouse selection ---------------------------------------------------------------------

void CMarkdownTextCtrl::OnLeftDown(wxMouseEvent& event) {
  SetFocus();
  const TextPosition at = HitTest(event.GetPosition());
  const bool had = view_.HasSelection();
  view_.BeginSelection(at);
  dragging_ = true;
  if (!HasCapture()) CaptureMouse();
  if (had) Refresh(false);
  event.Skip();
}

void CMarkdownTextCtrl::OnLeftDoubleClick(wxMouseEvent& event) {
  SetFocus();
  // The toolkit reports the second press of a double click as a press first; the word
  // selection replaces that press's empty drag.
  EndDrag();
  if (view_.SelectWordAt(HitTest(event.GetPosition()))) Refresh(false);
  event.Skip();
}

void CMarkdownTextCtrl::OnMotion(wxMouseEvent& event) {
  if (!dragging_) return;
  if (!event.LeftIsDown()) {
    EndDrag();
    return;
  }
  lastMousePoint_ = event.GetPosition();
  const PixelRect r = view_.TextRect();
  const bool outside = lastMousePoint_.y < r.top || lastMousePoint_.y > r.bottom;
  if (!view_.ContentFits() && outside) {
    if (!autoScrollTimer_.IsRunning()) autoScrollTimer_.Start(kAutoScrollIntervalMs);
  } else {
    StopAutoScroll();
  }
  if (view_.ExtendSelection(HitTest(lastMousePoint_))) Refresh(false);
}

void CMarkdownTextCtrl::OnLeftUp(wxMouseEvent& event) {
  if (dragging_) EndDrag();
  event.Skip();
}

void CMarkdownTextCtrl::OnCaptureLost(wxMouseCaptureLostEvent&) {
  StopAutoScroll();
  dragging_ = false;
}

void CMarkdownTextCtrl::OnTimer(wxTimerEvent&) {
  EnsureLayout();
  const int step = dragging_ ? view_.AutoScrollStep(lastMousePoint_.y) : 0;
  if (step == 0 || !view_.ScrollTo(view_.ScrollPos() + step)) {
    StopAutoScroll();
    return;
  }
  UpdateScrollBar();
  view_.ExtendSelection(HitTest(lastMousePoint_));
  Refresh(false);
}

void CMarkdownTextCtrl::OnContextMenu(wxContextMenuEvent& event) {
  EnsureLayout();
  wxPoint at = event.GetPosition();
  // From the keyboard the menu opens at the centre of the pane.
  at = at == wxDefaultPosition ? wxPoint(GetClientSize().x / 2, GetClientSize().y / 2) : ScreenToClient(at);
  wxMenu menu;
  menu.Append(kIdCopy, wxS("&Copy\tCtrl+C"));
  menu.Enable(kIdCopy, view_.HasSelection());
  menu.AppendSeparator();
  menu.Append(kIdSelectAll, wxS("Select &All\tCtrl+A"));
  const int chosen = GetPopupMenuSelectionFromUser(menu, at);
  if (chosen == kIdCopy) CopySelection();
  else if (chosen == kIdSelectAll) SelectAll();
}

// ---- Help pane in a dialog ---------------------------------------------------------------

CMarkdownTextCtrl* AttachHelpPane(wxDialog* dialog, const std::wstring& text) {
  if (dialog == nullptr) return nullptr;
  const wxSize strip = dialog->ConvertDialogToPixels(wxSize(190, 8));
  const int width = strip.x;
  const int margin = strip.y;
  // A short dialog (one field and a note) would leave the page a few lines: the pane gets
  // enough height for a paragraph and its heading, and the dialog grows to hold it.
  const int leastHeight = dialog->ConvertDialogToPixels(wxSize(0, kHelpPaneLeastHeight)).y;
  const wxSize client(dialog->GetClientSize().x, std::max(dialog->GetClientSize().y, leastHeight + 2 * margin));
  auto* pane = new CMarkdownTextCtrl(dialog, kHelpPaneId, wxPoint(margin, margin),
                                     wxSize(width, std::max(1, client.y - 2 * margin)));
  pane->SetColours(wxColour(28, 32, 38), wxColour(255, 255, 255));
  pane->SetMargins(MarkdownMargins{10, 8, 10, 8});
  pane->SetPageText(text);
  if (wxSizer* contents = dialog->GetSizer()) {
    // A dialog laid out by a sizer gets the pane as a new first column of an outer sizer.
    auto* outer = new wxBoxSizer(wxHORIZONTAL);
    pane->SetMinSize(wxSize(width, leastHeight));
    outer->Add(pane, 0, wxEXPAND | wxLEFT | wxTOP | wxBOTTOM, margin);
    outer->Add(contents, 1, wxEXPAND);
    dialog->SetSizer(outer, false);
  } else {
    for (wxWindow* child : dialog->GetChildren())
      if (child != pane) child->Move(child->GetPosition() + wxPoint(margin + width, 0));
  }
  dialog->SetClientSize(client.x + margin + width, client.y);
  dialog->Layout();
  dialog->CentreOnParent();
  AssignAccessKeys(dialog);
  // On a small screen the pane gives way first, then the dialog's contents scroll.
  if (dialog->GetSizer() != nullptr) FitDialogToDisplay(dialog, pane);
  pane->Raise();
  pane->Refresh(false);
  pane->Update();
  return pane;
}

}  // namespace grainforge::app
