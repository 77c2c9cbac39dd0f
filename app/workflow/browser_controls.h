#pragma once

// The three owner-drawn controls the Texture section builds its library browser from:
// CSegmented (the tabs), CNameList (the categories) and CThumbnailGrid (the textures and
// presets). Each paints itself in the shared colours at its own DPI and tells its owner about
// clicks through a callback; none changes the document. The geometry is browser_geometry.h's.

#include <functional>
#include <string>
#include <vector>

#include <wx/window.h>

#include "app/workflow/browser_geometry.h"

class wxDC;
class wxFont;

namespace grainforge::app {

// Text drawing shared by the section bodies: one line, vertically centred, ended with "…"
// when too long; or wrapped from the top, the last row ended with "…" when cut.
enum class TextAlign { Left, Centre };
void DrawTextLine(wxDC& dc, const std::wstring& text, const PixelRect& rect, TextAlign align);
// Returns the height the wrapped text takes (at most the rectangle's).
int DrawWrappedText(wxDC& dc, const std::wstring& text, const PixelRect& rect, TextAlign align, bool draw = true);

// A name cut with "…" shows whole as the window's tooltip: sets text as the tooltip when it is
// wider than width in font, else takes the tooltip away. tip holds the tooltip shown (empty for
// none), so that an unchanged one is not set again.
void ShowCutNameTip(wxWindow& window, const wxFont& font, const std::wstring& text, int width, std::wstring& tip);

class CSegmented final : public wxWindow {
public:
  CSegmented(wxWindow* parent, wxWindowID id, std::vector<std::wstring> labels, int dpi);

  // Called after a click selected another segment.
  std::function<void(int)> onSelect;
  int Selected() const { return selected_; }
  // Selects without telling the owner.
  void SetSelected(int index);
  void SetDpi(int dpi) { dpi_ = dpi; Refresh(false); }
  PixelRect Client() const;

private:
  void OnPaint(wxPaintEvent& event);
  void OnLeftDown(wxMouseEvent& event);

  std::vector<std::wstring> labels_;
  int selected_ = 0;
  int dpi_ = 96;
};

class CNameList final : public wxWindow {
public:
  CNameList(wxWindow* parent, wxWindowID id, int dpi);

  // Called with the row on every click on a row, also the selected one.
  std::function<void(int)> onClick;
  void SetNames(std::vector<std::string> names);
  const std::vector<std::string>& Names() const { return names_; }
  // Ignored unless -1 <= index < count; scrolls the row into view.
  void SetSelected(int index);
  int Selected() const { return selected_; }
  // The first exact match, or -1.
  int IndexOf(const std::string& name) const;
  void UpdateScroll();
  void ScrollTo(int position);
  int ScrollPosition() const { return scroll_; }
  // The whole name of the row last pointed at when the list cuts it; empty otherwise.
  std::wstring HoverTip() const { return hoverTip_; }
  void SetDpi(int dpi) { dpi_ = dpi; UpdateScroll(); Refresh(false); }
  PixelRect Client() const;
  PixelRect RowRect(int index) const { return NameListRowRect(Client(), index, dpi_, scroll_); }

private:
  void OnPaint(wxPaintEvent& event);
  void OnLeftDown(wxMouseEvent& event);
  void OnMotion(wxMouseEvent& event);
  void OnWheel(wxMouseEvent& event);
  void OnScroll(wxScrollWinEvent& event);

  std::vector<std::string> names_;
  std::wstring hoverTip_;
  int selected_ = -1;
  int scroll_ = 0;
  int dpi_ = 96;
};

class CThumbnailGrid final : public wxWindow {
public:
  CThumbnailGrid(wxWindow* parent, wxWindowID id, int dpi);

  // Called with the item index and 0 for the left, 1 for the right button.
  std::function<void(int, int)> onClick;

  // The owner writes these and repaints.
  std::string highlightedKey;
  std::wstring emptyText;
  int columns = 4;

  // Replaces the items; the same keys in the same order keep the scroll position.
  void SetItems(std::vector<ThumbnailItem> items);
  const std::vector<ThumbnailItem>& Items() const { return items_; }
  void UpdateScroll();
  void ScrollTo(int position);
  int ScrollPosition() const { return scroll_; }
  int HitTest(PixelPoint point) const;
  GridMetrics Metrics() const;
  PixelRect CellRect(int index) const { return GridCellRect(Metrics(), Client(), index, scroll_); }
  int ContentHeight() const { return GridContentHeight(Metrics(), static_cast<int>(items_.size())); }
  void SetDpi(int dpi) { dpi_ = dpi; UpdateScroll(); Refresh(false); }
  PixelRect Client() const;
  // The whole name of the item the pointer is over while its label under the picture is cut
  // short; empty otherwise. It is the grid's tool tip.
  std::wstring HoverTip() const { return hoverTip_; }

private:
  void OnPaint(wxPaintEvent& event);
  void PaintCell(wxDC& dc, int index, const GridMetrics& metrics);
  PixelRect LabelRect(int index) const;
  // Shows the hovered item's whole name as the tool tip when its label does not fit.
  void UpdateHoverTip();
  void OnButton(wxMouseEvent& event);
  void OnMotion(wxMouseEvent& event);
  void OnLeave(wxMouseEvent& event);
  void OnWheel(wxMouseEvent& event);
  void OnScroll(wxScrollWinEvent& event);

  std::vector<ThumbnailItem> items_;
  int scroll_ = 0;
  int hover_ = -1;
  int dpi_ = 96;
  std::wstring hoverTip_;
};

}  // namespace grainforge::app
