#include "app/workflow/browser_controls.h"

#include <algorithm>

#include <wx/dcbuffer.h>
#include <wx/dcclient.h>

#include "app/document/log_text.h"
#include "app/shell/kit/kit_drawing.h"
#include "app/shell/kit/scroll_arithmetic.h"
#include "app/shell/kit/ui_colours.h"
#include "app/shell/kit/ui_fonts.h"
#include "app/shell/kit/ui_scale.h"
#include "app/shell/text_layout.h"
#include "app/shell/wx_text_metrics.h"

namespace grainforge::app {
namespace {

constexpr int kListInset = 4;
constexpr int kLabelInset = 2;
constexpr int kBadge = 14;
constexpr int kEmptyInset = 8;
constexpr Rgb kUserItemFill{255, 247, 228};



PixelRect ClientOf(const wxWindow& window) {
  const wxSize size = window.GetClientSize();
  return PixelRect{0, 0, size.x, size.y};
}

void BindCommon(wxWindow* window) {
  window->SetBackgroundStyle(wxBG_STYLE_PAINT);
}

}  // namespace

void ShowCutNameTip(wxWindow& window, const wxFont& font, const std::wstring& text, int width, std::wstring& tip) {
  std::wstring wanted;
  if (!text.empty()) {
    wxClientDC dc(&window);
    dc.SetFont(font);
    if (dc.GetTextExtent(wxString(text)).x > width) wanted = text;
  }
  if (wanted == tip) return;
  tip = wanted;
  if (tip.empty())
    window.UnsetToolTip();
  else
    window.SetToolTip(wxString(tip));
}

void DrawTextLine(wxDC& dc, const std::wstring& text, const PixelRect& rect, TextAlign align) {
  if (rect.IsEmpty() || text.empty()) return;
  const WxTextMetrics metrics(dc);
  const std::wstring shown = EllipsizeEnd(metrics, text, rect.Width());
  const wxSize extent = dc.GetTextExtent(wxString(shown));
  const int x = align == TextAlign::Centre ? rect.left + (rect.Width() - extent.x) / 2 : rect.left;
  dc.SetClippingRegion(rect.left, rect.top, rect.Width(), rect.Height());
  dc.DrawText(wxString(shown), x, rect.top + (rect.Height() - extent.y) / 2);
  dc.DestroyClippingRegion();
}

int DrawWrappedText(wxDC& dc, const std::wstring& text, const PixelRect& rect, TextAlign align, bool draw) {
  if (rect.Width() <= 0 || text.empty()) return 0;
  const WxTextMetrics metrics(dc);
  const int lineHeight = std::max(metrics.LineHeight(), 1);
  const std::vector<TextRow> rows = WrapText(metrics, text, rect.Width(), rect.Width());
  const int fitting = std::max(rect.Height() / lineHeight, draw ? 0 : static_cast<int>(rows.size()));
  const int count = std::min(static_cast<int>(rows.size()), fitting);
  if (draw) {
    for (int i = 0; i < count; ++i) {
      const TextRow& row = rows[static_cast<std::size_t>(i)];
      std::wstring line = text.substr(static_cast<std::size_t>(row.start), static_cast<std::size_t>(row.end - row.start));
      if (i == count - 1 && count < static_cast<int>(rows.size()))
        line = CutWithEllipsis(metrics, text.substr(static_cast<std::size_t>(row.start)), rect.Width());
      const int width = metrics.Width(line);
      const int x = align == TextAlign::Centre ? rect.left + (rect.Width() - width) / 2 : rect.left;
      dc.DrawText(wxString(line), x, rect.top + i * lineHeight);
    }
  }
  return count * lineHeight;
}

// ---- CSegmented ------------------------------------------------------------------------------

CSegmented::CSegmented(wxWindow* parent, wxWindowID id, std::vector<std::wstring> labels, int dpi)
    : wxWindow(parent, id, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE), labels_(std::move(labels)), dpi_(dpi) {
  BindCommon(this);
  SetCursor(wxCursor(wxCURSOR_ARROW));
  Bind(wxEVT_PAINT, &CSegmented::OnPaint, this);
  RepaintOnFocusChange(this);
  Bind(wxEVT_LEFT_DOWN, &CSegmented::OnLeftDown, this);
}

PixelRect CSegmented::Client() const { return ClientOf(*this); }

void CSegmented::SetSelected(int index) {
  if (index < 0 || index >= static_cast<int>(labels_.size()) || index == selected_) return;
  selected_ = index;
  Refresh(false);
}

void CSegmented::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  const PixelRect client = Client();
  FillRect(dc, client, colours::kPaneBackground);
  dc.SetFont(GetUiFont(kUiFontNormal, dpi_));
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  const bool enabled = IsThisEnabled();
  const int count = static_cast<int>(labels_.size());
  for (int i = 0; i < count; ++i) {
    const PixelRect r = SegmentRect(i, count, client);
    const bool selected = i == selected_;
    const Rgb fill = selected ? (enabled ? colours::kAccent : colours::kPaleAccent)
                              : (enabled ? Rgb{255, 255, 255} : colours::kHeaderBackground);
    FillRect(dc, r, fill);
    FrameRect(dc, r, colours::kLine);
    dc.SetTextForeground(ToWxColour(!enabled ? colours::kMutedText : selected ? Rgb{255, 255, 255} : colours::kText));
    DrawTextLine(dc, labels_[static_cast<std::size_t>(i)], r, TextAlign::Centre);
  }
  DrawFocusOutline(dc, *this);
}

void CSegmented::OnLeftDown(wxMouseEvent& event) {
  if (!IsThisEnabled()) return;
  const int hit = SegmentHitTest(event.GetX(), event.GetY(), static_cast<int>(labels_.size()), Client());
  if (hit < 0 || hit == selected_) return;
  selected_ = hit;
  Refresh(false);
  if (onSelect) onSelect(hit);
}

// ---- CNameList -------------------------------------------------------------------------------

CNameList::CNameList(wxWindow* parent, wxWindowID id, int dpi)
    : wxWindow(parent, id, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE | wxVSCROLL), dpi_(dpi) {
  BindCommon(this);
  Bind(wxEVT_PAINT, &CNameList::OnPaint, this);
  RepaintOnFocusChange(this);
  Bind(wxEVT_LEFT_DOWN, &CNameList::OnLeftDown, this);
  Bind(wxEVT_MOTION, &CNameList::OnMotion, this);
  Bind(wxEVT_LEAVE_WINDOW, [this](wxMouseEvent& event) {
    event.Skip();
    ShowCutNameTip(*this, GetFont(), std::wstring(), 0, hoverTip_);
  });
  Bind(wxEVT_MOUSEWHEEL, &CNameList::OnWheel, this);
  Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    event.Skip();
    UpdateScroll();
  });
  for (const auto& type : {wxEVT_SCROLLWIN_TOP, wxEVT_SCROLLWIN_BOTTOM, wxEVT_SCROLLWIN_LINEUP,
                           wxEVT_SCROLLWIN_LINEDOWN, wxEVT_SCROLLWIN_PAGEUP, wxEVT_SCROLLWIN_PAGEDOWN,
                           wxEVT_SCROLLWIN_THUMBTRACK, wxEVT_SCROLLWIN_THUMBRELEASE})
    Bind(type, &CNameList::OnScroll, this);
}

PixelRect CNameList::Client() const { return ClientOf(*this); }

void CNameList::SetNames(std::vector<std::string> names) {
  names_ = std::move(names);
  selected_ = SelectionAfterNames(selected_, static_cast<int>(names_.size()));
  UpdateScroll();
  Refresh(false);
}

void CNameList::SetSelected(int index) {
  if (index < -1 || index >= static_cast<int>(names_.size())) return;
  selected_ = index;
  const int height = GetClientSize().y;
  if (index >= 0 && height > 0) ScrollTo(NameListScrollToShow(index, scroll_, height, dpi_));
  Refresh(false);
}

int CNameList::IndexOf(const std::string& name) const {
  const auto it = std::find(names_.begin(), names_.end(), name);
  return it == names_.end() ? -1 : static_cast<int>(it - names_.begin());
}

void CNameList::UpdateScroll() {
  const int content = NameListContentHeight(static_cast<int>(names_.size()), dpi_);
  const int view = GetClientSize().y;
  scroll_ = ClampScrollPosition(scroll_, content, view);
  SetVScrollInfo(this, content, view, scroll_);
}

void CNameList::ScrollTo(int position) {
  const int content = NameListContentHeight(static_cast<int>(names_.size()), dpi_);
  const int clamped = ClampScrollPosition(position, content, GetClientSize().y);
  if (clamped == scroll_) return;
  scroll_ = clamped;
  SetScrollPos(wxVERTICAL, scroll_);
  Refresh(false);
}

void CNameList::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  const PixelRect client = Client();
  FillRect(dc, client, Rgb{255, 255, 255});
  FrameRect(dc, client, colours::kLine);
  dc.SetFont(GetUiFont(kUiFontSmall, dpi_));
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  dc.SetTextForeground(ToWxColour(colours::kText));
  const int inset = ScaleForDpi(kListInset, dpi_);
  for (int i = 0; i < static_cast<int>(names_.size()); ++i) {
    const PixelRect row = RowRect(i);
    if (row.bottom <= client.top || row.top >= client.bottom) continue;
    if (i == selected_) FillRect(dc, row, colours::kPaleAccent);
    DrawTextLine(dc, Utf8ToWide(names_[static_cast<std::size_t>(i)]),
                 PixelRect{row.left + inset, row.top, row.right - inset, row.bottom}, TextAlign::Left);
  }
  DrawFocusOutline(dc, *this);
}

void CNameList::OnLeftDown(wxMouseEvent& event) {
  const int row = NameListHitTest(Client(), static_cast<int>(names_.size()), dpi_, scroll_,
                                  PixelPoint{event.GetX(), event.GetY()});
  if (row < 0) return;
  SetSelected(row);
  if (onClick) onClick(row);
}

void CNameList::OnMotion(wxMouseEvent& event) {
  const int row = NameListHitTest(Client(), static_cast<int>(names_.size()), dpi_, scroll_,
                                  PixelPoint{event.GetX(), event.GetY()});
  const int inset = ScaleForDpi(kListInset, dpi_);
  ShowCutNameTip(*this, GetUiFont(kUiFontSmall, dpi_),
                 row >= 0 ? Utf8ToWide(names_[static_cast<std::size_t>(row)]) : std::wstring(),
                 row >= 0 ? RowRect(row).Width() - 2 * inset : 0, hoverTip_);
}

void CNameList::OnWheel(wxMouseEvent& event) {
  ScrollTo(scroll_ - static_cast<int>(static_cast<long long>(event.GetWheelRotation()) * NameListRowHeight(dpi_) / 120));
}

void CNameList::OnScroll(wxScrollWinEvent& event) {
  const int content = NameListContentHeight(static_cast<int>(names_.size()), dpi_);
  ScrollTo(ScrollPosFromCode(ScrollCodeFromEventType(event.GetEventType()), scroll_, NameListRowHeight(dpi_),
                             GetClientSize().y, content, event.GetPosition()));
}

// ---- CThumbnailGrid --------------------------------------------------------------------------

CThumbnailGrid::CThumbnailGrid(wxWindow* parent, wxWindowID id, int dpi)
    : wxWindow(parent, id, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE | wxVSCROLL), dpi_(dpi) {
  BindCommon(this);
  Bind(wxEVT_PAINT, &CThumbnailGrid::OnPaint, this);
  RepaintOnFocusChange(this);
  Bind(wxEVT_LEFT_DOWN, &CThumbnailGrid::OnButton, this);
  Bind(wxEVT_RIGHT_DOWN, &CThumbnailGrid::OnButton, this);
  Bind(wxEVT_MOTION, &CThumbnailGrid::OnMotion, this);
  Bind(wxEVT_LEAVE_WINDOW, &CThumbnailGrid::OnLeave, this);
  Bind(wxEVT_MOUSEWHEEL, &CThumbnailGrid::OnWheel, this);
  Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    event.Skip();
    UpdateScroll();
    Refresh(false);
  });
  for (const auto& type : {wxEVT_SCROLLWIN_TOP, wxEVT_SCROLLWIN_BOTTOM, wxEVT_SCROLLWIN_LINEUP,
                           wxEVT_SCROLLWIN_LINEDOWN, wxEVT_SCROLLWIN_PAGEUP, wxEVT_SCROLLWIN_PAGEDOWN,
                           wxEVT_SCROLLWIN_THUMBTRACK, wxEVT_SCROLLWIN_THUMBRELEASE})
    Bind(type, &CThumbnailGrid::OnScroll, this);
}

PixelRect CThumbnailGrid::Client() const { return ClientOf(*this); }

GridMetrics CThumbnailGrid::Metrics() const { return MakeGridMetrics(GetClientSize().x, columns, dpi_); }

void CThumbnailGrid::SetItems(std::vector<ThumbnailItem> items) {
  if (!SameItemKeys(items, items_)) scroll_ = 0;
  items_ = std::move(items);
  hover_ = -1;
  UpdateHoverTip();
  UpdateScroll();
  Refresh(false);
}

void CThumbnailGrid::UpdateScroll() {
  const int view = GetClientSize().y;
  scroll_ = ClampScrollPosition(scroll_, ContentHeight(), view);
  SetVScrollInfo(this, ContentHeight(), view, scroll_);
}

void CThumbnailGrid::ScrollTo(int position) {
  const int clamped = ClampScrollPosition(position, ContentHeight(), GetClientSize().y);
  if (clamped == scroll_) return;
  scroll_ = clamped;
  SetScrollPos(wxVERTICAL, scroll_);
  Refresh(false);
}

int CThumbnailGrid::HitTest(PixelPoint point) const {
  return GridHitTest(Metrics(), Client(), static_cast<int>(items_.size()), scroll_, point);
}

void CThumbnailGrid::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  const PixelRect client = Client();
  FillRect(dc, client, Rgb{255, 255, 255});
  FrameRect(dc, client, colours::kLine);
  dc.SetFont(GetUiFont(kUiFontSmall, dpi_));
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  if (items_.empty()) {
    const int inset = ScaleForDpi(kEmptyInset, dpi_);
    dc.SetTextForeground(ToWxColour(colours::kMutedText));
    DrawWrappedText(dc, emptyText,
                    PixelRect{client.left + inset, client.top + inset, client.right - inset, client.bottom - inset},
                    TextAlign::Centre);
    DrawFocusOutline(dc, *this);
    return;
  }
  const GridMetrics metrics = Metrics();
  for (int i = 0; i < static_cast<int>(items_.size()); ++i) {
    const PixelRect cell = GridCellRect(metrics, client, i, scroll_);
    if (cell.bottom <= client.top || cell.top >= client.bottom) continue;
    PaintCell(dc, i, metrics);
  }
  DrawFocusOutline(dc, *this);
}

void CThumbnailGrid::PaintCell(wxDC& dc, int index, const GridMetrics& metrics) {
  const ThumbnailItem& item = items_[static_cast<std::size_t>(index)];
  const PixelRect cell = GridCellRect(metrics, Client(), index, scroll_);
  const bool selected = !highlightedKey.empty() && highlightedKey == item.key;
  if (item.highlight) FillRect(dc, cell, kUserItemFill);
  const PixelRect picture{cell.left, cell.top, cell.right, cell.bottom - metrics.labelHeight};
  if (!item.pixels.empty() && item.size > 0)
    StretchPixelsToRect(dc, picture, item.pixels, item.size, item.size,
                        GridPictureRows(picture.Width(), picture.Height(), item.size));
  else
    FillRect(dc, picture, colours::kHeaderBackground);
  dc.SetTextForeground(ToWxColour(colours::kText));
  DrawTextLine(dc, Utf8ToWide(item.label), LabelRect(index), TextAlign::Centre);
  const int t = std::max(1, ScaleForDpi(2, dpi_));
  if (selected || index == hover_) {
    const Rgb frame = selected ? colours::kAccent : colours::kPaleAccent;
    for (int k = 0; k < t; ++k)
      FrameRect(dc, PixelRect{cell.left + k, cell.top + k, cell.right - k, cell.bottom - k}, frame);
  }
  if (selected) {
    const int b = ScaleForDpi(kBadge, dpi_);
    const PixelRect badge{cell.right - b - t, cell.top + t, cell.right - t, cell.top + b + t};
    FillRect(dc, badge, colours::kAccent);
    DrawCheckMark(dc, badge, dpi_);
  }
}

PixelRect CThumbnailGrid::LabelRect(int index) const {
  const GridMetrics metrics = Metrics();
  const PixelRect cell = GridCellRect(metrics, Client(), index, scroll_);
  const int inset = ScaleForDpi(kLabelInset, dpi_);
  return PixelRect{cell.left + inset, cell.bottom - metrics.labelHeight, cell.right - inset, cell.bottom};
}

void CThumbnailGrid::UpdateHoverTip() {
  const bool over = hover_ >= 0 && hover_ < static_cast<int>(items_.size());
  ShowCutNameTip(*this, GetUiFont(kUiFontSmall, dpi_),
                 over ? Utf8ToWide(items_[static_cast<std::size_t>(hover_)].label) : std::wstring(),
                 over ? LabelRect(hover_).Width() : 0, hoverTip_);
}

void CThumbnailGrid::OnButton(wxMouseEvent& event) {
  const int hit = HitTest(PixelPoint{event.GetX(), event.GetY()});
  if (hit < 0) return;
  if (onClick) onClick(hit, event.GetEventType() == wxEVT_RIGHT_DOWN ? 1 : 0);
}

void CThumbnailGrid::OnMotion(wxMouseEvent& event) {
  const int hit = HitTest(PixelPoint{event.GetX(), event.GetY()});
  if (hit == hover_) return;
  hover_ = hit;
  UpdateHoverTip();
  Refresh(false);
}

void CThumbnailGrid::OnLeave(wxMouseEvent&) {
  if (hover_ < 0) return;
  hover_ = -1;
  UpdateHoverTip();
  Refresh(false);
}

void CThumbnailGrid::OnWheel(wxMouseEvent& event) {
  ScrollTo(GridWheelTarget(scroll_, event.GetWheelRotation(), Metrics().cellHeight));
}

void CThumbnailGrid::OnScroll(wxScrollWinEvent& event) {
  ScrollTo(ScrollPosFromCode(ScrollCodeFromEventType(event.GetEventType()), scroll_, Metrics().cellHeight / 2,
                             GetClientSize().y, ContentHeight(), event.GetPosition()));
}

}  // namespace grainforge::app
