#include "app/shell/application_core.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

#include <wx/app.h>
#include <wx/filehistory.h>
#include <wx/fileconf.h>
#include <wx/menu.h>
#include <wx/utils.h>

#include "app/document/file_identity.h"
#include "app/document/grainforge_doc.h"
#include "app/document/log_text.h"
#include "app/document/preset_files.h"
#include "app/document/user_folders.h"
#include "app/shell/frame_logic.h"
#include "app/shell/frame_view_panes.h"
#include "app/shell/info_pane.h"
#include "app/shell/main_frame.h"
#include "app/shell/menu_ids.h"
#include "app/shell/open_dialogs.h"
#include "app/shell/output_wnd.h"
#include "app/shell/profile_merge.h"
#include "app/shell/recent_file_history.h"
#include "app/shell/shell_host.h"
#include "app/shell/splash_layout.h"
#include "app/shell/wx_profile_store.h"
#include "app/shell/splash_window.h"
#include "app/shell/startup_timer.h"
#include "app/shell/view_placeholder.h"
#include "app/shell/wx_prompter.h"
#include "app/shell/kit/compact_gtk_style.h"
#include "app/shell/kit/wx_file_names.h"
#include "platform/desktop_open.h"

namespace grainforge::app {
namespace {

constexpr int kRecentFileCount = static_cast<int>(kRecentFilesKept);
constexpr int kPollWhileRunningMs = 50;
// How soon an end asked for is tried again, once a cancelled dialog had time to close.
constexpr int kEndRetryMs = 50;
constexpr const wchar_t* kRecentFilesGroup = L"/Recent File List";
constexpr const wchar_t* kDetailedLogKey = L"/Log/Detailed";
// The logs the program wrote, one mark per numbered key (FormatWrittenLog).
constexpr const wchar_t* kWrittenLogsGroup = L"/Log/Written";
constexpr int kWarningLevel = 3;
constexpr int kErrorLevel = 4;
constexpr int kInfoWarningKind = 1;

// A question asked during start-up (a project's part that is missing) would come behind the
// splash, which stays on top: the splash gives way to it, as it gives way at the first idle pass.
class SplashClosingPrompter final : public IPrompter {
public:
  SplashClosingPrompter(IPrompter& inner, std::function<void()> closeSplash)
      : inner_(inner), closeSplash_(std::move(closeSplash)) {}
  MessageAnswer ShowMessage(const MessagePrompt& prompt) override {
    closeSplash_();
    return inner_.ShowMessage(prompt);
  }
  std::optional<std::filesystem::path> AskOpenFile(const FilePrompt& prompt) override {
    closeSplash_();
    return inner_.AskOpenFile(prompt);
  }
  std::optional<std::filesystem::path> AskSaveFile(const FilePrompt& prompt) override {
    closeSplash_();
    return inner_.AskSaveFile(prompt);
  }

private:
  IPrompter& inner_;
  std::function<void()> closeSplash_;
};

}  // namespace

// Work handed from other threads to the user-interface thread for as long as the application
// core runs. Closing it (Shutdown) drops what is still queued: the frame and the document it
// would reach may be gone by then.
class UiThreadMailbox final : public std::enable_shared_from_this<UiThreadMailbox> {
public:
  // Thread-safe.
  void Post(std::function<void()> work) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (closed_ || wxTheApp == nullptr) return;
    wxTheApp->CallAfter([self = shared_from_this(), work = std::move(work)] {
      if (self->IsOpen()) work();
    });
  }
  void Close() {
    const std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  bool IsOpen() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return !closed_;
  }

private:
  std::mutex mutex_;
  bool closed_ = false;
};

std::atomic<int>& RunningExportChecks() {
  static std::atomic<int> running{0};
  return running;
}

CApplicationCore::CApplicationCore() : mailbox_(std::make_shared<UiThreadMailbox>()) {}

CApplicationCore::~CApplicationCore() {
  mailbox_->Close();
  pollTimer_.Stop();
  endTimer_.Stop();
  CloseSplash(splash_);
}

bool CApplicationCore::Start(const StartOptions& options) {
  MarkStartupPhase("InitInstance entered (the DLLs loaded)");
  if (options.showSplash && ShowSplash(splash_, SplashImagePath())) MarkStartupPhase("the splash shown");
  ApplyCompactGtkStyle();
  // GTK's overlay bars showed only under the pointer: help pages and reports looked whole,
  // cut mid-sentence.
  ShowScrollBarsBesideContentsEverywhere();
  MarkStartupPhase("GDI+, common controls, CWinAppEx");
  OpenDialogs::Watch();

  profilePath_ = options.profilePath.empty()
                     ? ProfileFilePath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"))
                     : options.profilePath;
  config_ = WxProfileFile::Open(profilePath_);
  history_ = std::make_unique<CRecentFileHistory>(kRecentFileCount);
  // Every entry with its folder: by default only those in the first entry's folder lose theirs,
  // so the list mixed bare names and whole paths.
  history_->SetMenuPathStyle(wxFH_PATH_SHOW_ALWAYS);
  config_->SetPath(kRecentFilesGroup);
  history_->Load(*config_);
  config_->SetPath(wxS("/"));
  profile_ = std::make_unique<WxProfileStore>(*config_);
  logFile_ = options.logFile;
  MarkStartupPhase("OLE, profile, menus, tooltips, the document template");

  detailedLog_ = config_->ReadLong(kDetailedLogKey, 0) != 0;
  LoadWrittenLogs();
  const std::string migration = MigrateUserFolder(GetDocumentsFolder());

  document_ = std::make_unique<CGrainforgeDoc>();
  MainFrameParts parts;
  parts.router = &router_;
  parts.workflowPane = options.workflowPane;
  parts.workflowContext = WorkflowPaneContext{document_.get(), &router_, profile_.get()};
  viewPanes_ = std::make_unique<FrameViewPanes>();
  parts.centreView = [this, &options](wxWindow* parent) -> wxWindow* {
    if (options.documentView) {
      DocumentView view = options.documentView(
          parent, DocumentViewContext{document_.get(), &router_, profile_.get(), viewPanes_.get()});
      if (view.window != nullptr && view.views != nullptr) {
        viewWindow_ = view.window;
        views_ = view.views;
        viewCommands_ = std::move(view.commands);
        viewInitialUpdate_ = std::move(view.initialUpdate);
        return viewWindow_;
      }
    }
    placeholder_ = new CViewPlaceholder(parent, *document_, router_);
    viewWindow_ = placeholder_;
    views_ = placeholder_;
    viewCommands_ = [this] { return placeholder_->Commands(); };
    return viewWindow_;
  };
  frame_ = new CMainFrame(parts);
  viewPanes_->Bind(frame_);
  if (options.prompter == nullptr) ownPrompter_ = std::make_unique<WxPrompter>(frame_);
  splashClosingPrompter_ = std::make_unique<SplashClosingPrompter>(
      options.prompter != nullptr ? *options.prompter : *ownPrompter_, [this] {
        if (splash_ == nullptr) return;
        CloseSplash(splash_);
        if (frame_ != nullptr) frame_->Raise();
      });
  folderPrompter_ = std::make_unique<FolderRememberingPrompter>(
      *splashClosingPrompter_, [this] { return PartFolder(); },
      PathFromWxString(wxGetHomeDir()));
  prompter_ = folderPrompter_.get();
  openWithDesktop_ = options.openWithDesktop
                         ? options.openWithDesktop
                         : [mailbox = mailbox_](const std::filesystem::path& file, DesktopOpenEnded ended) {
                             // xdg-open is waited for on a thread of its own; how it ended comes
                             // back here, so the window never waits on the desktop.
                             return grainforge::platform::OpenWithDesktopHandlerWatched(
                                        file, [mailbox, ended](const grainforge::platform::ProgramExit& exit) {
                                          mailbox->Post([ended, exit] {
                                            if (ended) ended(exit);
                                          });
                                        })
                                 .started;
                           };
  host_ = std::make_unique<ShellDocumentHost>(
      *frame_, *prompter_, [this] { return detailedLog_; },
      [this](const std::filesystem::path& path) { AddRecentFile(path); }, profilePath_,
      [this] { return writtenLogs_; });
  DocumentHost bundle = host_->Bundle(views_);
  if (options.documentDialogs) {
    dialogs_ = options.documentDialogs(frame_, [this] { return detailedLog_; });
    bundle.dialogs = dialogs_.get();
  }
  document_->SetHost(bundle);
  router_.SetFailureHandler([this](int, const std::string& what) {
    if (frame_ != nullptr) frame_->Log(L"The command could not be completed: " + Utf8ToWide(what), kErrorLevel);
  });
  router_.SetTable(CommandLayer::View, viewCommands_ ? viewCommands_() : CommandTable{});
  router_.SetTable(CommandLayer::Document, document_->Commands());
  router_.SetTable(CommandLayer::Application, ApplicationCommands());
  if (wxMenu* recent = frame_->RecentFilesMenu()) {
    history_->UseMenu(recent);
    history_->AddFilesToMenu(recent);
  }
  frame_->Bind(wxEVT_MENU, [this](wxCommandEvent& event) { OnOpenRecent(event.GetId() - wxID_FILE1); },
               wxID_FILE1, wxID_FILE1 + kRecentFileCount - 1);
  if (COutputWnd* output = frame_->OutputPane()) {
    output->SetTargetRefusal([this](const std::filesystem::path& path) { return LogRefusal(path); });
    output->SetWrittenListener([this](const std::filesystem::path& path) { RememberLog(path); });
  }
  frame_->SetDropHandler([this](const std::vector<std::filesystem::path>& paths) { OnDroppedFiles(paths); });
  frame_->Bind(wxEVT_IDLE, &CApplicationCore::OnIdle, this);
  frame_->Bind(wxEVT_CLOSE_WINDOW, &CApplicationCore::OnClose, this);
  pollTimer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { PollPipeline(); });
  endTimer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { EndOnRequest(); });
  if (viewInitialUpdate_) viewInitialUpdate_();
  views_->DocumentStateChanged();
  MarkStartupPhase("the main window, its panes and the view made (ProcessShellCommand)");

  frame_->Show();
  frame_->Update();
  // A file that cannot be opened leaves the empty document and the reader's message in the log;
  // the program still starts. It is opened once the main window is up, so that whatever it asks
  // (a project's missing part) is asked over that window, as it is later: over the hidden window
  // the box took the splash for its parent, and the splash closed under it.
  if (options.openFile) OpenDocumentFile(*options.openFile);
  started_ = true;
  if (endRequested_) endTimer_.StartOnce(kEndRetryMs);
  if (!migration.empty()) frame_->Log(Utf8ToWide(migration), 0);
  // Said once: why the settings are not kept, or the first save of them that failed.
  config_->SetProblemReporter([this](const std::wstring& problem) {
    if (frame_ != nullptr) frame_->Log(problem, kWarningLevel);
  });
  MarkStartupPhase("shown and painted once");
  return true;
}

void CApplicationCore::OnIdle(wxIdleEvent& event) {
  event.Skip();
  // Not inside a question asked while starting: its loop's idle passes came before start-up
  // was done.
  if (!firstIdleDone_ && OpenDialogs::Count() == 0) OnFirstIdle();
  PollPipeline();
}

void CApplicationCore::OnFirstIdle() {
  firstIdleDone_ = true;
  if (splash_ != nullptr) {
    CloseSplash(splash_);
    frame_->Raise();
  }
  MarkStartupPhase("first idle: ready");
  if (detailedLog_) frame_->Log(Utf8ToWide(FormatStartupReport(StartupPhases())), 0);
  WriteLogFile();
}

std::wstring CApplicationCore::LogRefusal(const std::filesystem::path& logFile) const {
  OpenDocumentFiles open;
  if (document_ != nullptr) {
    open.part = PathFromWide(document_->partSourcePath);
    open.project = PathFromWide(document_->projectPath);
    open.textureImage = PathFromWide(document_->textureImagePath);
    open.presets = AllPresetFiles(document_->LibraryRootsOfHost());
    open.program = document_->ProgramPlacesOfHost();
  }
  return LogFileRefusal(logFile, open);
}

void CApplicationCore::WriteLogFile() {
  if (logFile_.empty() || frame_ == nullptr || frame_->OutputPane() == nullptr) return;
  if (!logLeftKnown_) {
    logLeft_ = FileLeftAt(logFile_);
    logLeftKnown_ = true;
  }
  std::wstring error = LogRefusal(logFile_);
  // An STL or project saved under the log's name during the session is the user's file now, and
  // so is a file put where the first write failed (its folder made later): the log replaces
  // only what it wrote, or what was there when it was first written.
  std::error_code existsError;
  if (error.empty() && std::filesystem::exists(logFile_, existsError) && WrittenOverSince(logFile_, logLeft_))
    error = logWritten_
                ? L"it was written over by another save after the log was written there, which the log never replaces"
                : L"it was put there after the log's first write failed, which the log never replaces";
  if (error.empty() && frame_->OutputPane()->WriteLogFile(PathToWide(logFile_), error)) {
    logLeft_ = FileLeftAt(logFile_);
    logWritten_ = true;
    return;
  }
  const std::wstring message = L"The log could not be written to " + PathToDisplay(logFile_) + L": " + error;
  // Also on standard error: at the end of the run the log pane is no longer seen.
  std::fprintf(stderr, "%s\n", WideToUtf8(message).c_str());
  frame_->Log(message, kWarningLevel);
}

void CApplicationCore::PollPipeline() {
  if (document_ == nullptr || frame_ == nullptr) return;
  document_->PollPipeline();
  if (document_->pipeline.IsRunning()) {
    frame_->ShowPipelineProgress(document_->pipeline.GetStatus());
    if (!pollTimer_.IsRunning()) pollTimer_.Start(kPollWhileRunningMs);
  } else {
    frame_->HidePipelineProgress();
    pollTimer_.Stop();
  }
}

void CApplicationCore::EndOnRequest() {
  // Asked before the window is up, it is acted on once start-up is done.
  endRequested_ = true;
  if (frame_ == nullptr) return;
  // The window is not destroyed under an open dialog: each is cancelled, innermost first, and
  // once its code has run on (which may ask something more, cancelled in turn) the window
  // closes as it would without them.
  if (OpenDialogs::CancelInnermost()) {
    if (!endTimer_.IsRunning()) endTimer_.StartOnce(kEndRetryMs);
    return;
  }
  if (started_) frame_->Close(true);
}

void CApplicationCore::OnClose(wxCloseEvent& event) {
  if (event.CanVeto() && !SaveModified()) {
    event.Veto();
    return;
  }
  pollTimer_.Stop();
  // A window closed before the first idle pass (a command or a signal during a slow start)
  // would leave the splash up, and with it a shown window that keeps the program running.
  CloseSplash(splash_);
  // The worker sees the flag at its next progress report; Shutdown joins it.
  if (document_ != nullptr) document_->pipeline.Cancel();
  WriteLogFile();
  SaveProfile();
  router_.ClearTable(CommandLayer::View);
  router_.ClearTable(CommandLayer::Document);
  if (document_ != nullptr) document_->SetHost({});
  viewPanes_->Bind(nullptr);
  frame_->Destroy();
  frame_ = nullptr;
  placeholder_ = nullptr;
  viewWindow_ = nullptr;
  views_ = nullptr;
}

void CApplicationCore::Shutdown() {
  mailbox_->Close();
  const auto start = std::chrono::steady_clock::now();
  while (true) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (!KeepWaitingAtExit(RunningExportChecks().load(), elapsed.count())) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pollTimer_.Stop();
  SaveProfile();
  document_.reset();
}

void CApplicationCore::LoadWrittenLogs() {
  config_->SetPath(kWrittenLogsGroup);
  for (std::size_t key = 1; key <= kRememberedLogs; ++key) {
    wxString line;
    if (!config_->Read(wxString::Format(wxS("%zu"), key), &line)) continue;
    if (std::optional<WrittenLog> log = ParseWrittenLog(line.utf8_string())) writtenLogs_.push_back(std::move(*log));
  }
  config_->SetPath(wxS("/"));
}

void CApplicationCore::RememberLog(const std::filesystem::path& path) {
  // Elsewhere any log is replaced by name, and the settings are left alone.
  if (document_ == nullptr || !LiesInProgramFolders(path, document_->ProgramPlacesOfHost())) return;
  std::optional<WrittenLog> log = StampWrittenLog(path);
  if (!log) return;
  RememberWrittenLog(writtenLogs_, std::move(*log));
  config_->DeleteGroup(kWrittenLogsGroup);
  config_->SetPath(kWrittenLogsGroup);
  for (std::size_t i = 0; i < writtenLogs_.size(); ++i)
    config_->Write(wxString::Format(wxS("%zu"), i + 1), wxString::FromUTF8(FormatWrittenLog(writtenLogs_[i])));
  config_->SetPath(wxS("/"));
  SaveProfile();
}

void CApplicationCore::SaveProfile() {
  if (config_ == nullptr) return;
  std::error_code error;
  std::filesystem::create_directories(profilePath_.parent_path(), error);
  config_->SetPath(kRecentFilesGroup);
  history_->Save(*config_);
  config_->SetPath(wxS("/"));
  config_->Flush();
}

CommandTable CApplicationCore::ApplicationCommands() {
  CommandTable table;
  table.push_back({menu_ids::kNew, [this] { OnFileNew(); }, {}});
  table.push_back({menu_ids::kOpenStl, [this] { OnFileOpen(); }, {}});
  table.push_back({menu_ids::kAbout, [this] { ShowAbout(); }, {}});
  table.push_back({menu_ids::kUserManual, [this] { OpenUserManual(); }, {}});
  table.push_back({menu_ids::kDetailedLog, [this] { ToggleDetailedLog(); },
                   [this](CommandState& state) { state.checked = detailedLog_; }});
  return table;
}

bool CApplicationCore::SaveModified() {
  // The document's own question: it offers to save the project, which keeps the part, the
  // texture and its placement, rather than a bare "save changes" that reads as overwriting the
  // part's file.
  return document_ == nullptr || document_->SaveModified();
}

std::filesystem::path CApplicationCore::PartFolder() const {
  if (document_ == nullptr) return {};
  const std::filesystem::path part = PathFromWide(document_->partSourcePath);
  // A made test shape carries a name, not a path.
  return part.is_absolute() ? part.parent_path() : std::filesystem::path();
}

void CApplicationCore::OnFileNew() {
  if (!SaveModified()) return;
  document_->OnNewDocument();
  document_->SetModifiedFlag(false);
  document_->UpdateAllViews(0);
}

void CApplicationCore::OnFileOpen() {
  // The file first, as Open Project does: a cancelled dialog asks nothing more.
  const std::optional<std::filesystem::path> path = prompter_->AskOpenFile(
      FilePrompt{L"Open STL", {}, {}, {{L"STL Files (*.stl)", {L"*.stl"}}, {L"All Files (*.*)", {L"*"}}}});
  if (path && SaveModified()) OpenDocumentFile(*path);
}

bool CApplicationCore::OpenDocumentFile(const std::filesystem::path& path) {
  if (document_ == nullptr) return false;
  return document_->OpenDocument(path);
}

void CApplicationCore::OnOpenRecent(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= history_->GetCount()) return;
  const wxString file = history_->GetHistoryFile(static_cast<std::size_t>(index));
  if (!SaveModified()) return;
  // A file that has gone is taken off the list, as the recent list of any desktop program does;
  // one that failed for another reason (its part missing, a file that will not open) stays,
  // to be reached again once that is mended.
  const std::filesystem::path path = PathFromWxString(file);
  if (!OpenDocumentFile(path) && FileIsGone(path))
    history_->RemoveFileFromHistory(static_cast<std::size_t>(index));
}

void CApplicationCore::OnDroppedFiles(const std::vector<std::filesystem::path>& paths) {
  const DroppedFiles dropped = ClassifyDroppedFiles(paths);
  if (dropped.part && SaveModified()) OpenDocumentFile(*dropped.part);
  // After the part, so that a part and its texture dropped together end up together; the load
  // asks about a normal map itself.
  if (dropped.image && document_ != nullptr) (void)document_->LoadHeightMap(*dropped.image);
  const std::wstring leftAlone = LeftAloneMessage(dropped.leftAlone);
  if (!leftAlone.empty()) {
    frame_->Log(leftAlone, kWarningLevel);
    ShowNote(leftAlone, kInfoWarningKind);
  }
}

void CApplicationCore::ToggleDetailedLog() {
  detailedLog_ = !detailedLog_;
  config_->Write(kDetailedLogKey, detailedLog_ ? 1L : 0L);
  SaveProfile();
  frame_->Log(DetailedLogMessage(detailedLog_), 0);
}

void CApplicationCore::OpenUserManual() {
  const std::wstring message = grainforge::app::OpenUserManual(
      GetExecutableFolder(), openWithDesktop_, [this](const std::wstring& later) { ReportManualMessage(later); });
  ReportManualMessage(message);
}

void CApplicationCore::ReportManualMessage(const std::wstring& message) {
  if (message.empty() || frame_ == nullptr) return;
  frame_->Log(message, kWarningLevel);
  ShowNote(message, kInfoWarningKind);
}

void CApplicationCore::ShowNote(const std::wstring& text, int kind) {
  // Through the document, which keeps a warning about the work in view beside it.
  if (document_ != nullptr)
    document_->ShowInformation(text, kind, InfoEvent::note);
  else
    frame_->ShowInformation(text, kind);
}

void CApplicationCore::ShowAbout() {
  prompter_->ShowMessage({L"About Tessary", L"Tessary, Version 1.0", PromptButtons::Ok, PromptIcon::Information});
}

void CApplicationCore::AddRecentFile(const std::filesystem::path& path) {
  history_->AddFileToHistory(WxStringFromPath(path));
  SaveProfile();
}

}  // namespace grainforge::app
