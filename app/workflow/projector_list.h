#pragma once

// CProjectorList: the Mapping section's list of the projection's projectors, one row per side
// with a check box, a colour swatch and a label. It scrolls when the rows do not fit and tells
// its owner about clicks: the row and whether the click fell outside the check box (selects the
// side's layer) or on it (switches the projector). A check box that cannot toggle ignores clicks.
// The geometry is mapping_model.h's.

#include <functional>
#include <vector>

#include <wx/window.h>

#include "app/workflow/mapping_model.h"

namespace grainforge::app {

class CProjectorList final : public wxWindow {
public:
  CProjectorList(wxWindow* parent, wxWindowID id, int dpi);

  // Called with the row index and true for a click outside the check box.
  std::function<void(int, bool)> onNotify;

  // Same rows and selection: nothing. Otherwise stores them; a new row count scrolls back to
  // the top. A selection outside the rows counts as none.
  void SetRows(std::vector<ProjectorRow> rows, int selected);
  const std::vector<ProjectorRow>& Rows() const { return rows_; }
  int Selected() const { return selected_; }
  int HoverRow() const { return hover_; }
  // The whole label of the row pointed at when the list cuts it; empty otherwise.
  std::wstring HoverTip() const { return hoverTip_; }
  int ScrollOffset() const { return offset_; }

  void UpdateScrollRange();
  void ScrollTo(int offset);
  void SetDpi(int dpi);
  // The width that shows every row's label whole.
  int LeastWidth() const;
  int Dpi() const { return dpi_; }
  PixelRect Client() const;
  PixelRect RowRect(int index) const { return ProjectorRowRect(Client(), index, dpi_, offset_); }
  int HitTestRow(PixelPoint point) const;

private:
  void OnPaint(wxPaintEvent& event);
  void PaintRow(wxDC& dc, int index);
  void OnLeftDown(wxMouseEvent& event);
  void OnMotion(wxMouseEvent& event);
  void OnLeave(wxMouseEvent& event);
  void OnWheel(wxMouseEvent& event);
  void OnScroll(wxScrollWinEvent& event);

  std::vector<ProjectorRow> rows_;
  int selected_ = -1;
  int offset_ = 0;
  int hover_ = -1;
  int dpi_ = 96;
  std::wstring hoverTip_;
  void UpdateHoverTip();
};

}  // namespace grainforge::app
