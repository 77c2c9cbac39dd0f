#pragma once

// CMainFrame: the main window. It owns the menu bar, the toolbar strip, the status bar with
// its progress bar, the three fixed panes ("Workflow" on the left, "Output" at the bottom,
// "Information" on the right) and the window in the centre where the document's view goes. It
// shows the pipeline's progress in the status bar, takes dropped files and keeps the lock
// indicators current. The panes keep their fixed sizes; nothing can be dragged.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <wx/frame.h>
#include <wx/timer.h>

#include "app/document/document_host.h"
#include "app/shell/command_routing.h"
#include "app/shell/frame_logic.h"
#include "app/shell/workflow_pane_seam.h"

class wxGauge;
class wxMenu;

namespace grainforge::app {

class CAppToolbarPane;
class COutputWnd;
class CRightPane;

struct MainFrameParts {
  CommandRouter* router = nullptr;
  WorkflowPaneFactory workflowPane;   // empty: the placeholder
  WorkflowPaneContext workflowContext;
  // Makes the window in the centre (the document's view); empty: a plain panel.
  std::function<wxWindow*(wxWindow* parent)> centreView;
};

class CMainFrame final : public wxFrame {
public:
  // The status bar's number: that of the command that shows and hides it (above wx's limit
  // for windows, so the bar itself gets one of wx's).
  static constexpr int kStatusBarId = 59393;

  explicit CMainFrame(const MainFrameParts& parts);
  ~CMainFrame() override;

  // The pipeline's progress in the status bar (idle handler); Hide also clears the text.
  void ShowPipelineProgress(const grainforge::mesh::PipelineStatus& status);
  void HidePipelineProgress();
  // Status panes 2 and 3, written only when the text changed; empty clears. A text wider than
  // its pane widens the pane.
  void SetToolPaneText(const std::wstring& text);
  void SetFramePaneText(const std::wstring& text);
  // Widens the "Tool" and "Frame" panes for the texts they will show (see IViewFrame).
  void SetStatusPaneTexts(const std::vector<std::wstring>& toolTexts, const std::vector<std::wstring>& frameTexts);
  const StatusPaneWidths& PaneWidths() const { return paneWidths_; }

  // The output log and the information pane: every report of the program goes through them.
  COutputWnd* OutputPane() const { return output_; }
  CRightPane* RightPane() const { return right_; }
  CStaticPane* LeftPane() const { return left_.pane; }
  CStaticPane* OutputHost() const { return outputHost_; }
  CStaticPane* RightHost() const { return rightHost_; }
  CAppToolbarPane* ToolbarPane() const { return toolbar_; }
  wxWindow* CentreView() const { return view_; }
  wxMenu* RecentFilesMenu() const { return recentMenu_; }
  CommandRouting& Routing() { return routing_; }
  const ProgressBarModel& Progress() const { return progress_; }
  wxGauge* ProgressGauge() const { return gauge_; }

  // Appends a line to the output log (level as COutputWnd takes it; 0 classifies).
  void Log(const std::wstring& text, int level);
  // Puts the information box's text (kind 0 ok, 1 warning, 2 error).
  void ShowInformation(const std::wstring& text, int kind);
  // The information box's messages, each in its own colours (see IInformationBox).
  void ShowInformationMessages(const std::vector<InformationMessage>& messages);

  // Dropped files go here (the application opens the part and loads the image).
  void SetDropHandler(std::function<void(const std::vector<std::filesystem::path>&)> handler) {
    dropHandler_ = std::move(handler);
  }
  void OpenDroppedFiles(const std::vector<std::filesystem::path>& paths);

  // Brings every pane and status pane to its size at the DPI.
  void ApplyDpi(int dpi);
  // The frame's key hook for a key pressed while `focus` has the keyboard: Escape stops a run
  // unless a text field has the focus, Ctrl+C copies the log's selection while the log has it.
  // True when the key was used; false passes it on to the focused window.
  bool HandleKeyHook(int keyCode, int modifiers, const wxWindow* focus);
  // The bare keys the key hook and the viewport handle (Escape; Home and F for the view).
  const std::vector<AcceleratorKey>& BareKeys() const { return bareKeys_; }

private:
  void FitToDisplay();
  void CreateMenuBar();
  void CreateStatusPanes();
  void CreatePanes(const MainFrameParts& parts);
  CommandTable FrameCommands();
  void SizeStatusPanes();
  // The text's width in the status bar's font, in pixels (0 without a bar).
  int StatusTextWidth(const std::wstring& text) const;
  void PlaceProgressBar();
  void ApplyProgressChange(const ProgressChange& change);
  void UpdateLockIndicators();
  void MoveFocusToPane(int step);

  void OnCharHook(wxKeyEvent& event);
  void OnDropFiles(wxDropFilesEvent& event);
  void OnStatusBarSize(wxSizeEvent& event);
  // Gives the side panes their widths for the frame's width (SidePaneWidthsFor).
  void FitSidePanes();
  void OnDpiChanged(wxDPIChangedEvent& event);

  CommandRouting routing_;
  std::vector<AcceleratorKey> bareKeys_;
  CAppToolbarPane* toolbar_ = nullptr;
  wxGauge* gauge_ = nullptr;
  wxTimer marqueeTimer_;
  wxTimer lockTimer_;
  WorkflowPane left_;
  CStaticPane* outputHost_ = nullptr;
  CStaticPane* rightHost_ = nullptr;
  COutputWnd* output_ = nullptr;
  CRightPane* right_ = nullptr;
  wxWindow* view_ = nullptr;
  wxMenu* recentMenu_ = nullptr;
  ProgressBarModel progress_;
  StatusPaneWidths paneWidths_;
  int widestToolText_ = 0;   // the widest text the "Tool" pane was given or told of, px
  int widestFrameText_ = 0;  // the same for the "Frame" pane
  LockIndicators locks_{L"-", L"-", L"-"};  // differs from every real state: the first tick writes
  std::wstring toolText_;
  std::wstring frameText_;
  std::function<void(const std::vector<std::filesystem::path>&)> dropHandler_;
};

}  // namespace grainforge::app
