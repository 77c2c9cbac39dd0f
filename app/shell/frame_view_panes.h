#pragma once

// The main window's panes as the document's view sees them (IViewFrame): the status panes
// "Tool" and "Frame", the information pane's report and box, and the start-up phases. Made
// before the frame (the view is built inside the frame's constructor) and bound to it after.

#include "app/shell/document_view_seam.h"

namespace grainforge::app {

class CMainFrame;

class FrameViewPanes final : public IViewFrame {
public:
  void Bind(CMainFrame* frame) { frame_ = frame; }

  void SetToolPaneText(const std::wstring& text) override;
  void SetFramePaneText(const std::wstring& text) override;
  void SetStatusPaneTexts(const std::vector<std::wstring>& toolTexts,
                          const std::vector<std::wstring>& frameTexts) override;
  void SetReportText(const std::wstring& text) override;
  std::wstring InformationText() const override;
  void ShowInformationPane() override;
  void HideInformationPane() override;
  bool IsInformationPaneShown() const override;
  void MarkStartupPhase(const char* name) override;

private:
  CMainFrame* frame_ = nullptr;
};

}  // namespace grainforge::app
