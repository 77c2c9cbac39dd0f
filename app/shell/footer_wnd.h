#pragma once

// CFooterWnd: the footer of the workflow pane (see footer_model.h). It only draws what it was
// last given and turns a click on its button into a command for the main window.

#include <wx/window.h>

#include "app/shell/footer_model.h"

namespace grainforge::app {

class CFooterWnd final : public wxWindow {
public:
  CFooterWnd(wxWindow* parent, wxWindowID id, int dpi);

  // Stores what to show; repaints and returns true only when it differs from what is shown.
  bool SetShown(const FooterShown& shown);
  const FooterShown& Shown() const { return shown_; }

  void SetDpi(int dpi);
  int Dpi() const { return dpi_; }
  // Lays the text line and the button out in the current client rectangle.
  void LayoutParts();
  const FooterLayout& Parts() const { return layout_; }
  bool IsHover() const { return hover_; }

private:
  void OnPaint(wxPaintEvent& event);
  void OnSize(wxSizeEvent& event);
  void OnLeftDown(wxMouseEvent& event);
  void OnMotion(wxMouseEvent& event);
  void OnLeave(wxMouseEvent& event);

  FooterShown shown_;
  int dpi_ = 96;
  bool hover_ = false;
  FooterLayout layout_;
};

}  // namespace grainforge::app
