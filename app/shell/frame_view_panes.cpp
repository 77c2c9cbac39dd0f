#include "app/shell/frame_view_panes.h"

#include "app/shell/info_pane.h"
#include "app/shell/main_frame.h"
#include "app/shell/startup_timer.h"
#include "app/shell/static_pane.h"

namespace grainforge::app {

void FrameViewPanes::SetToolPaneText(const std::wstring& text) {
  if (frame_ != nullptr) frame_->SetToolPaneText(text);
}

void FrameViewPanes::SetFramePaneText(const std::wstring& text) {
  if (frame_ != nullptr) frame_->SetFramePaneText(text);
}

void FrameViewPanes::SetStatusPaneTexts(const std::vector<std::wstring>& toolTexts,
                                        const std::vector<std::wstring>& frameTexts) {
  if (frame_ != nullptr) frame_->SetStatusPaneTexts(toolTexts, frameTexts);
}

void FrameViewPanes::SetReportText(const std::wstring& text) {
  if (frame_ != nullptr && frame_->RightPane() != nullptr) frame_->RightPane()->SetReportText(text);
}

std::wstring FrameViewPanes::InformationText() const {
  if (frame_ == nullptr || frame_->RightPane() == nullptr) return {};
  return frame_->RightPane()->Dialog()->InfoText();
}

void FrameViewPanes::ShowInformationPane() {
  if (frame_ == nullptr || frame_->RightHost() == nullptr) return;
  if (!frame_->RightHost()->IsShown()) {
    frame_->RightHost()->Show();
    frame_->Layout();
  }
  if (frame_->RightPane() != nullptr) frame_->RightPane()->SetFocus();
}

void FrameViewPanes::HideInformationPane() {
  if (frame_ == nullptr || frame_->RightHost() == nullptr || !frame_->RightHost()->IsShown()) return;
  frame_->RightHost()->Hide();
  frame_->Layout();
}

bool FrameViewPanes::IsInformationPaneShown() const {
  return frame_ != nullptr && frame_->RightHost() != nullptr && frame_->RightHost()->IsShown();
}

void FrameViewPanes::MarkStartupPhase(const char* name) { grainforge::app::MarkStartupPhase(name); }

}  // namespace grainforge::app
