#pragma once

// The program as a whole, apart from wx's application object: start-up in its named phases,
// the one document and its one view for the whole run, the profile, the recent files, the
// pipeline's polling and the orderly exit. CGrainforgeApp (grainforge_app.h) runs one of these;
// window tests run one inside their own wx application.
//
// Polling: the document is polled on every idle pass, and while a run goes on from a 50 ms
// timer as well, so the status bar's progress moves without any input and without idle events
// requested without end (which would keep a core busy for the length of the run).

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <wx/timer.h>

#include "app/document/file_identity.h"
#include "app/document/program_files.h"
#include "app/shell/command_router.h"
#include "app/shell/document_view_seam.h"
#include "app/shell/prompter.h"
#include "app/shell/user_manual.h"
#include "app/shell/workflow_pane_seam.h"

class wxFileConfig;
class wxFileHistory;
class wxFrame;
class wxCloseEvent;
class wxIdleEvent;

namespace grainforge::app {

class CGrainforgeDoc;
class CMainFrame;
class CViewPlaceholder;
class WxProfileFile;
class ShellDocumentHost;
class FrameViewPanes;
class UiThreadMailbox;

// The number of export checks whose worker still runs; exit waits for them (a bounded time).
// Raised and lowered by the export check dialog's workers.
std::atomic<int>& RunningExportChecks();

struct StartOptions {
  // A file named on the command line: a part or a project to open at start.
  std::optional<std::filesystem::path> openFile;
  // The profile file; empty: ProfileFilePath of the environment.
  std::filesystem::path profilePath;
  bool showSplash = true;
  // Where to write the output log once start-up is done and again when the main window
  // closes; empty: nowhere.
  std::filesystem::path logFile;
  // Questions to the user; null: real dialogs over the main window.
  IPrompter* prompter = nullptr;
  // The "Workflow" pane; empty: the placeholder.
  WorkflowPaneFactory workflowPane;
  // The dialogs the document opens (they live in the workflow area, above the shell); empty:
  // the document's dialog commands do nothing.
  DocumentDialogsFactory documentDialogs;
  // The document's view in the centre of the main window; empty: the placeholder.
  DocumentViewFactory documentView;
  // Hands the user manual to the desktop; empty: xdg-open, watched until it ends.
  DesktopOpener openWithDesktop;
};

class CApplicationCore {
public:
  CApplicationCore();
  ~CApplicationCore();
  CApplicationCore(const CApplicationCore&) = delete;
  CApplicationCore& operator=(const CApplicationCore&) = delete;

  // Start-up; false when the main window could not be made.
  bool Start(const StartOptions& options);
  // After the main window is gone: waits for export checks, saves the profile, ends the
  // document (and with it the pipeline's worker).
  void Shutdown();

  CMainFrame* Frame() const { return frame_; }
  // The centre window (the view, or the placeholder).
  wxWindow* CentreView() const { return viewWindow_; }
  CGrainforgeDoc* Document() const { return document_.get(); }
  CommandRouter& Router() { return router_; }
  bool IsDetailedLogOn() const { return detailedLog_; }
  bool IsPollTimerRunning() const { return pollTimer_.IsRunning(); }
  const std::filesystem::path& ProfilePath() const { return profilePath_; }

  // File > Open and the road of dropped parts, recent files and the command line.
  bool OpenDocumentFile(const std::filesystem::path& path);
  // Asks whether to save a modified document; false when the user cancelled.
  bool SaveModified();
  // One poll of the pipeline: publish and report a finished run, show or hide the progress.
  void PollPipeline();
  // Ends the run as a desktop ending its session asks (SIGTERM): closes the main window without
  // a question, after cancelling whatever dialog is open.
  void EndOnRequest();

private:
  void OnIdle(wxIdleEvent& event);
  void OnFirstIdle();
  void OnClose(wxCloseEvent& event);
  CommandTable ApplicationCommands();
  void OnFileNew();
  // The folder of the part on show, for the file dialogs; empty for a made test shape.
  std::filesystem::path PartFolder() const;
  void OnFileOpen();
  void OnOpenRecent(int index);
  void OnDroppedFiles(const std::vector<std::filesystem::path>& paths);
  void ToggleDetailedLog();
  void OpenUserManual();
  // The manual's message in the log (warning) and the information box (amber).
  void ReportManualMessage(const std::wstring& message);
  // A word on a shell command in the information box.
  void ShowNote(const std::wstring& text, int kind);
  void ShowAbout();
  void AddRecentFile(const std::filesystem::path& path);
  void SaveProfile();
  // The logs the program wrote in its own folders, as the profile keeps them; then each log
  // written there is stamped and kept too, so that the next run may replace it.
  void LoadWrittenLogs();
  void RememberLog(const std::filesystem::path& path);
  // Why the log must not be written at `logFile` (--log-file or the log's Save As): the open
  // part, project and image, every preset file, and names of those kinds; empty when it may.
  std::wstring LogRefusal(const std::filesystem::path& logFile) const;
  // The output log as it stands, to the --log-file file (after start-up and at the end).
  void WriteLogFile();

  CommandRouter router_;
  std::unique_ptr<CGrainforgeDoc> document_;
  std::unique_ptr<WxProfileFile> config_;
  std::unique_ptr<IProfileStore> profile_;
  std::unique_ptr<wxFileHistory> history_;
  std::unique_ptr<IPrompter> ownPrompter_;
  // Closes the splash before anything is asked (SplashClosingPrompter).
  std::unique_ptr<IPrompter> splashClosingPrompter_;
  std::unique_ptr<FolderRememberingPrompter> folderPrompter_;
  std::unique_ptr<ShellDocumentHost> host_;
  std::unique_ptr<IDocumentDialogs> dialogs_;
  IPrompter* prompter_ = nullptr;
  DesktopOpener openWithDesktop_;
  // Brings what other threads report (a desktop handler that ended) to this thread while the
  // core runs; closed by Shutdown.
  std::shared_ptr<UiThreadMailbox> mailbox_;
  CMainFrame* frame_ = nullptr;
  // The centre: the program's view from its factory, or the placeholder.
  std::unique_ptr<FrameViewPanes> viewPanes_;
  CViewPlaceholder* placeholder_ = nullptr;
  wxWindow* viewWindow_ = nullptr;
  IDocumentViews* views_ = nullptr;
  std::function<CommandTable()> viewCommands_;
  std::function<void()> viewInitialUpdate_;
  wxFrame* splash_ = nullptr;
  wxTimer pollTimer_;
  // Tries EndOnRequest again once a cancelled dialog has closed.
  wxTimer endTimer_;
  bool endRequested_ = false;
  // Start-up has opened the file it was given (and asked what that needed).
  bool started_ = false;
  std::filesystem::path profilePath_;
  std::filesystem::path logFile_;
  // The log file as this program last left it (once `logLeftKnown_`): as the first write found
  // it (what --log-file names is the log's to replace, or nothing), then as each write left it.
  // A file found there later that another save wrote over (WrittenOverSince) is no longer the
  // log's to replace, also when no write has succeeded yet.
  FileLeft logLeft_;
  bool logLeftKnown_ = false;
  std::vector<WrittenLog> writtenLogs_;
  bool logWritten_ = false;
  bool detailedLog_ = false;
  bool firstIdleDone_ = false;
};

}  // namespace grainforge::app
