#pragma once

// CSectionHeader: a workflow section's header bar (see section_header_model.h): chevron, icon,
// on/off box for the optional steps, title, status dot and settings gear. Clicks go to its
// owner as header codes; a running step's dot blinks on a 450 ms timer.

#include <functional>

#include <wx/timer.h>
#include <wx/window.h>

#include "app/workflow/section_header_model.h"

namespace grainforge::app {

class CSectionHeader final : public wxWindow {
public:
  // (step, code, Ctrl held at the click)
  using Notify = std::function<void(FlowStep, HeaderCode, bool)>;

  CSectionHeader(wxWindow* parent, int id, FlowStep step, int dpi);
  ~CSectionHeader() override;

  void SetNotify(Notify notify) { notify_ = std::move(notify); }

  const SectionHeaderModel& Model() const { return model_; }
  FlowStep Step() const { return model_.Step(); }
  void SetSwitch(bool on);
  void SetCollapsed(bool collapsed);
  void SetStatus(SectionStatus status);
  bool IsBlinking() const { return blink_.IsRunning(); }

  int Dpi() const { return dpi_; }
  void SetDpi(int dpi);
  void LayoutParts();
  const HeaderParts& Parts() const { return parts_; }
  // The header's height at its DPI.
  int BarHeight() const;

private:
  void OnPaint(wxPaintEvent& event);
  void OnSize(wxSizeEvent& event);
  void OnLeftDown(wxMouseEvent& event);
  void OnMotion(wxMouseEvent& event);
  void OnLeave(wxMouseEvent& event);
  void OnBlink(wxTimerEvent& event);
  void RefreshDot();

  SectionHeaderModel model_;
  int dpi_;
  HeaderParts parts_;
  wxTimer blink_;
  Notify notify_;
};

}  // namespace grainforge::app
