#pragma once

// The popup that shows a HoverTooltipModel's tooltips over one window: a bold title above a body
// wrapped to 420 px, in the desktop's tooltip colours. The owner window forwards its mouse
// events; the popup never takes the focus or the mouse.

#include <memory>
#include <vector>

#include <wx/event.h>
#include <wx/timer.h>

#include "app/shell/kit/hover_tooltip.h"

class wxPopupWindow;
class wxStaticText;
class wxWindow;

namespace grainforge::app {

class CRectTooltip : public wxEvtHandler {
public:
  // Widest a tooltip gets before its body wraps, px at 96 dpi.
  static constexpr int kMaximumWidth = 420;

  explicit CRectTooltip(wxWindow* owner,
                        std::chrono::milliseconds delay = HoverTooltipModel::kDefaultDelay);
  ~CRectTooltip() override;
  CRectTooltip(const CRectTooltip&) = delete;
  CRectTooltip& operator=(const CRectTooltip&) = delete;

  void SetRegions(std::vector<TooltipRegion> regions);
  // Client coordinates of the owner.
  void OnMouseMove(int x, int y);
  void OnMouseLeave();
  void OnButtonDown();

  // The popup while it is shown (tests read its texts); null otherwise.
  wxWindow* ShownPopup() const;
  // The texts on the popup (empty title for a tooltip of one text).
  wxStaticText* TitleText() const { return title_; }
  wxStaticText* BodyText() const { return body_; }

private:
  void Apply(HoverTooltipModel::Change change);
  void OnTimer(wxTimerEvent& event);
  void Show(const TooltipRegion& region);
  void Hide();
  void CreatePopup();

  wxWindow* owner_;
  HoverTooltipModel model_;
  wxTimer timer_;
  wxPopupWindow* popup_ = nullptr;
  wxStaticText* title_ = nullptr;
  wxStaticText* body_ = nullptr;
};

}  // namespace grainforge::app
