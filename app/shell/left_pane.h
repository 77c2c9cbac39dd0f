#pragma once

// CLeftPane: the "Workflow" pane on the left of the main window. It hosts the workflow window
// above the footer and, every 150 ms, asks its driver to bring both up to date from the
// document: nothing pushes changes to the pane. The workflow library supplies the workflow
// window and the driver (see app/workflow/workflow_pane.h); the pane itself knows neither the
// document nor the sections.

#include <memory>
#include <optional>
#include <string>

#include <wx/timer.h>

#include "app/shell/footer_wnd.h"
#include "app/shell/static_pane.h"

namespace grainforge::app {

// What the pane asks of the workflow side.
class ILeftPaneDriver {
public:
  virtual ~ILeftPaneDriver() = default;
  // The periodic refresh: headers, bodies and the footer from the document.
  virtual void Refresh(CFooterWnd& footer) = 0;
  // The pane's DPI changed: the workflow window's headers and bodies follow.
  virtual void SetDpi(int dpi) = 0;
};

class CLeftPane final : public CStaticPane {
public:
  static constexpr int kPaneId = 133;
  static constexpr int kDesignWidth = 340;
  static constexpr int kRefreshMilliseconds = 150;
  static constexpr int kFooterId = 2;

  explicit CLeftPane(wxWindow* parent);
  ~CLeftPane() override;

  // The window the workflow window is to be created in (it fills the pane above the footer).
  wxWindow* ContentArea() const { return area_; }
  // Installs the workflow window (a child of ContentArea) and its driver, lays out and
  // refreshes once; the refresh timer runs from then on.
  void SetFlowWindow(wxWindow* flow, std::unique_ptr<ILeftPaneDriver> driver);
  wxWindow* FlowWindow() const { return flow_; }
  CFooterWnd* Footer() const { return footer_; }

  // The refresh the timer runs, for callers that changed the document and tests.
  void RefreshNow();
  void SetDpi(int dpi) override;
  void LayoutChildren();
  bool IsRefreshing() const { return timer_.IsRunning(); }
  // The run's stage and fraction as the status bar shows them: while a run is shown, the
  // footer takes them from this sample and not from a reading of its own, so both show one
  // number at the same moment.
  void ShowRunProgress(const std::wstring& stage, float fraction, bool fractionKnown);
  void ClearRunProgress();

private:
  void OnTimer(wxTimerEvent& event);
  void OnAreaSize(wxSizeEvent& event);
  void OnAreaFocus(wxFocusEvent& event);

  wxWindow* area_ = nullptr;
  wxWindow* flow_ = nullptr;
  CFooterWnd* footer_ = nullptr;
  std::unique_ptr<ILeftPaneDriver> driver_;
  struct RunSample {
    std::wstring stage;
    float fraction = 0.0f;
    bool fractionKnown = false;
  };
  std::optional<RunSample> run_;
  void ApplyRunSample();
  wxTimer timer_;
  int dpi_ = 96;
};

}  // namespace grainforge::app
