#pragma once

// CStaticPane: the base of the main window's three side panes (the workflow pane on the left,
// the output log at the bottom, the information pane on the right). A pane keeps a fixed size
// that follows the DPI and cannot be dragged larger or smaller: the frame lays the panes out
// in fixed sizers, with no sash between them. Each pane has a caption strip with its icon and
// title above its content.

#include <string>

#include <wx/panel.h>

namespace grainforge::app {

// A pane's size in pixels at 96 dpi; 0 leaves that direction to the frame's layout.
struct PaneDesignSize {
  int width = 0;
  int height = 0;
};
// The size at a DPI, each term scaled on its own; 0 stays 0.
PaneDesignSize StaticPaneSize(PaneDesignSize design, int dpi);

class CStaticPane : public wxPanel {
public:
  // Height of the caption strip at 96 dpi.
  static constexpr int kCaptionHeight = 22;

  CStaticPane() = default;
  // Creates the pane with its caption (and the icon resources/<iconName>.png beside it).
  bool Create(wxWindow* parent, wxWindowID id, const std::wstring& caption,
              const std::wstring& iconName, PaneDesignSize design);

  // Puts the pane's content (a child of this pane) under the caption, filling the rest.
  void SetContent(wxWindow* content);
  wxWindow* Content() const { return content_; }

  // Brings the pane to its size at dpi and has the frame lay out again. Panes with DPI-
  // dependent contents override it and call this first.
  virtual void SetDpi(int dpi);

  // Narrows (or widens back) a pane of fixed width to `width`, as the frame gives way to the view
  // in a narrow window; SetDpi brings back the designed width. The frame lays out after.
  void SetFixedWidth(int width);

  PaneDesignSize Design() const { return design_; }
  const std::wstring& Caption() const { return caption_; }
  wxWindow* CaptionStrip() const { return captionStrip_; }

private:
  void OnPaintCaption(wxPaintEvent& event);

  std::wstring caption_;
  std::wstring iconName_;
  PaneDesignSize design_;
  wxWindow* captionStrip_ = nullptr;
  wxWindow* content_ = nullptr;
};

}  // namespace grainforge::app
