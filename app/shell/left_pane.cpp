#include "app/shell/left_pane.h"

#include "app/shell/kit/ui_scale.h"
#include "app/shell/run_progress_seam.h"

namespace grainforge::app {

CLeftPane::CLeftPane(wxWindow* parent) {
  dpi_ = GetWindowDpi(parent);
  Create(parent, kPaneId, L"Workflow", L"pane_workflow", PaneDesignSize{kDesignWidth, 0});
  area_ = new wxWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                       wxBORDER_NONE | wxCLIP_CHILDREN);
  footer_ = new CFooterWnd(area_, kFooterId, dpi_);
  SetContent(area_);
  area_->Bind(wxEVT_SIZE, &CLeftPane::OnAreaSize, this);
  area_->Bind(wxEVT_SET_FOCUS, &CLeftPane::OnAreaFocus, this);
  timer_.SetOwner(this);
  Bind(wxEVT_TIMER, &CLeftPane::OnTimer, this, timer_.GetId());
}

CLeftPane::~CLeftPane() {
  // The driver refers to the workflow window; no tick may reach it once destruction starts.
  timer_.Stop();
  driver_.reset();
}

void CLeftPane::SetFlowWindow(wxWindow* flow, std::unique_ptr<ILeftPaneDriver> driver) {
  flow_ = flow;
  driver_ = std::move(driver);
  LayoutChildren();
  RefreshNow();
  timer_.Start(kRefreshMilliseconds);
}

void CLeftPane::RefreshNow() {
  if (driver_ && footer_ != nullptr) driver_->Refresh(*footer_);
  ApplyRunSample();
}

void CLeftPane::ShowRunProgress(const std::wstring& stage, float fraction, bool fractionKnown) {
  run_ = RunSample{stage, fraction, fractionKnown};
  ApplyRunSample();
}

void CLeftPane::ClearRunProgress() { run_.reset(); }

void CLeftPane::ApplyRunSample() {
  if (!run_ || footer_ == nullptr || footer_->Shown().state != FooterState::Processing) return;
  FooterShown shown = footer_->Shown();
  shown.stageText = run_->stage;
  shown.fraction = run_->fraction;
  shown.fractionKnown = run_->fractionKnown;
  footer_->SetShown(shown);
}

void CLeftPane::SetDpi(int dpi) {
  dpi_ = dpi;
  CStaticPane::SetDpi(dpi);
  if (driver_) driver_->SetDpi(dpi);
  if (footer_ != nullptr) footer_->SetDpi(dpi);
  LayoutChildren();
}

void CLeftPane::LayoutChildren() {
  if (area_ == nullptr || footer_ == nullptr) return;
  const wxSize size = area_->GetClientSize();
  const LeftPaneSplit split = SplitLeftPane(PixelRect{0, 0, size.x, size.y}, dpi_);
  footer_->SetSize(split.footer.left, split.footer.top, split.footer.Width(), split.footer.Height());
  if (flow_ != nullptr)
    flow_->SetSize(split.flow.left, split.flow.top, split.flow.Width(), split.flow.Height());
}

void CLeftPane::OnTimer(wxTimerEvent&) { RefreshNow(); }

void CLeftPane::OnAreaSize(wxSizeEvent& event) {
  LayoutChildren();
  event.Skip();
}

void CLeftPane::OnAreaFocus(wxFocusEvent& event) {
  if (flow_ != nullptr) flow_->SetFocus();
  event.Skip();
}

void ShowRunProgressIn(CStaticPane* pane, const std::wstring& stage, float fraction, bool fractionKnown) {
  if (auto* left = dynamic_cast<CLeftPane*>(pane)) left->ShowRunProgress(stage, fraction, fractionKnown);
}

void ClearRunProgressIn(CStaticPane* pane) {
  if (auto* left = dynamic_cast<CLeftPane*>(pane)) left->ClearRunProgress();
}

}  // namespace grainforge::app
