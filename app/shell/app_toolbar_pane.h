#pragma once

// CAppToolbarPane: the fixed strip under the menu bar that carries the main toolbar. Its height
// follows the toolbar's bar height (42 px at 96 dpi) and drops to 0 when it is hidden, so the
// frame's client area grows at once.

#include <wx/panel.h>

namespace grainforge::app {

class CToolbarHostWnd;

class CAppToolbarPane : public wxPanel {
public:
  // The toolbar's id inside the pane.
  static constexpr int kToolbarId = 1;

  CAppToolbarPane() = default;
  // The strip's own number; it is above wx's limit, so the window gets one of wx's.
  static constexpr int kPaneId = 32884;

  // Creates the pane as a child of frame with the main toolbar in it; false on failure. An id
  // above wx's limit (kPaneId) is replaced by one wx chooses.
  bool Create(wxWindow* frame, wxWindowID id);

  // Shows or hides the pane and has the frame lay out again.
  void ShowPane(bool show);
  // The height the pane asks for now (ToolbarPaneHeight).
  int FixedHeight() const;

  CToolbarHostWnd* Toolbar() const { return toolbar_; }

private:
  void ApplyFixedHeight();
  void OnSize(wxSizeEvent& event);

  CToolbarHostWnd* toolbar_ = nullptr;
};

}  // namespace grainforge::app
