#pragma once

// CFlowWnd: the content of the "Workflow" pane, a vertically scrolling column of the four
// sections Mapping, Texture, Relief and Simplify, each a header over a body. It stacks and
// scrolls them, opens and closes them (remembered in the user profile), and reports what the
// user did in a header to its owner through the FlowCallback.

#include <array>
#include <memory>

#include <wx/window.h>

class wxScrollBar;
class wxScrollEvent;

#include "app/shell/profile_store.h"
#include "app/workflow/flow_layout.h"
#include "app/workflow/flow_types.h"
#include "app/workflow/pane_wheel.h"
#include "app/workflow/section_body.h"
#include "app/workflow/section_header.h"

namespace grainforge::app {

class CFlowWnd final : public wxWindow {
public:
  struct Section {
    CSectionHeader* header = nullptr;
    CSectionBody* body = nullptr;
  };

  // Creates the four sections (a placeholder body each) and applies the collapsed sections
  // stored in the profile, which must outlive the window (null keeps nothing).
  CFlowWnd(wxWindow* parent, wxWindowID id, int dpi, IProfileStore* profile);

  void SetFlowCallback(FlowCallback callback) { onFlowEvent_ = std::move(callback); }

  // Replaces a section's body (a child of this window, made with CreateSectionBody); the old
  // one is destroyed.
  void ReplaceBody(FlowStep step, CSectionBody* body);

  CSectionHeader& Header(FlowStep step) const { return *sections_[StepIndex(step)].header; }
  CSectionBody& Body(FlowStep step) const { return *sections_[StepIndex(step)].body; }

  // Opens or closes a section; the mask is saved unless a whole mask is being applied.
  void SetSectionCollapsed(FlowStep step, bool collapsed);
  void SetCollapsedMask(int mask);
  int CollapsedMask() const { return collapse_.Mask(); }

  void RelayoutSections();
  void ScrollFlowTo(int position);
  // Opens the section that holds `child` (a window in one of the bodies) and scrolls it into
  // sight.
  void BringIntoSight(wxWindow* child);
  int ScrollPosition() const { return scrollPos_; }
  int ContentHeight() const { return contentHeight_; }
  // Shown only while the sections are taller than the window.
  wxScrollBar* ScrollBar() const { return scrollBar_; }

  int Dpi() const { return dpi_; }
  // Headers, bodies and the window take the DPI, then the column is laid out again.
  void SetDpi(int dpi);

private:
  void ApplyCollapsedFlags();
  void OnHeader(FlowStep step, HeaderCode code, bool ctrlHeld);
  void OnScroll(wxScrollEvent& event);
  void OnWheel(wxMouseEvent& event);
  void OnSize(wxSizeEvent& event);
  void OnPaint(wxPaintEvent& event);

  FlowCollapseModel collapse_;
  std::array<Section, kFlowStepCount> sections_;
  FlowCallback onFlowEvent_;
  wxScrollBar* scrollBar_ = nullptr;
  // Wheels over unfocused combo boxes and fields in any section scroll the column instead.
  std::unique_ptr<PaneWheelRedirect> wheelRedirect_;
  int dpi_;
  int scrollPos_ = 0;
  int contentHeight_ = 0;
};

}  // namespace grainforge::app
