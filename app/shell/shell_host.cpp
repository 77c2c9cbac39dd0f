#include "app/shell/shell_host.h"

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/utils.h>

#include "app/document/log_text.h"
#include "app/document/user_folders.h"
#include "app/shell/kit/typed_entries.h"
#include "app/shell/main_frame.h"
#include "app/shell/output_wnd.h"

namespace grainforge::app {
namespace {

// Swallows the input that reaches any window while it lives; one lives for each modal job.
// A plain yield is no way to drop input in wxGTK: the events it does not dispatch are put back
// in GTK's queue and run once the job has ended.
class ModalJobInputFilter final : public wxEventFilter {
public:
  ModalJobInputFilter() { wxEvtHandler::AddFilter(this); }
  ~ModalJobInputFilter() override { wxEvtHandler::RemoveFilter(this); }
  ModalJobInputFilter(const ModalJobInputFilter&) = delete;
  ModalJobInputFilter& operator=(const ModalJobInputFilter&) = delete;

  int FilterEvent(wxEvent& event) override {
    return IsDiscardedDuringModalJob(event.GetEventType()) ? Event_Processed : Event_Skip;
  }
};

// Dispatches what GTK holds, input included (the filter drops it), so that nothing is kept
// for later.
void DispatchPendingEvents() {
  if (wxEventLoopBase* loop = wxEventLoopBase::GetActive())
    loop->YieldFor(wxEVT_CATEGORY_UI | wxEVT_CATEGORY_USER_INPUT);
}

// A round trip to the display server, so that input it sent before now is in GTK's queue.
// GTK's own call, found in the running process (wx has loaded GTK); nothing without it.
void SyncWithDisplayServer() {
  using DefaultDisplay = void* (*)();
  using Sync = void (*)(void*);
  static const auto defaultDisplay =
      reinterpret_cast<DefaultDisplay>(dlsym(RTLD_DEFAULT, "gdk_display_get_default"));
  static const auto sync = reinterpret_cast<Sync>(dlsym(RTLD_DEFAULT, "gdk_display_sync"));
  if (defaultDisplay == nullptr || sync == nullptr) return;
  if (void* display = defaultDisplay()) sync(display);
}

}  // namespace

bool IsDiscardedDuringModalJob(wxEventType type) {
  static const wxEventType discarded[] = {
      wxEVT_KEY_DOWN, wxEVT_KEY_UP, wxEVT_CHAR, wxEVT_CHAR_HOOK,
      wxEVT_LEFT_DOWN, wxEVT_LEFT_UP, wxEVT_LEFT_DCLICK,
      wxEVT_MIDDLE_DOWN, wxEVT_MIDDLE_UP, wxEVT_MIDDLE_DCLICK,
      wxEVT_RIGHT_DOWN, wxEVT_RIGHT_UP, wxEVT_RIGHT_DCLICK,
      wxEVT_AUX1_DOWN, wxEVT_AUX1_UP, wxEVT_AUX1_DCLICK,
      wxEVT_AUX2_DOWN, wxEVT_AUX2_UP, wxEVT_AUX2_DCLICK,
      wxEVT_MOUSEWHEEL, wxEVT_MOTION, wxEVT_CONTEXT_MENU,
      wxEVT_MENU, wxEVT_DROP_FILES, wxEVT_CLOSE_WINDOW,
  };
  for (const wxEventType candidate : discarded) {
    if (candidate == type) return true;
  }
  return false;
}

std::vector<FileFilter> ParseDialogFilter(std::wstring_view filter) {
  std::vector<std::wstring> parts;
  std::size_t start = 0;
  while (start <= filter.size()) {
    const std::size_t bar = filter.find(L'|', start);
    const std::size_t end = bar == std::wstring_view::npos ? filter.size() : bar;
    parts.emplace_back(filter.substr(start, end - start));
    if (bar == std::wstring_view::npos) break;
    start = bar + 1;
  }
  std::vector<FileFilter> filters;
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].empty() || parts[i + 1].empty()) continue;
    FileFilter entry{parts[i], {}};
    std::wstring_view patterns = parts[i + 1];
    std::size_t from = 0;
    while (from < patterns.size()) {
      const std::size_t semicolon = patterns.find(L';', from);
      const std::size_t to = semicolon == std::wstring_view::npos ? patterns.size() : semicolon;
      if (to > from) entry.patterns.emplace_back(patterns.substr(from, to - from));
      from = to + 1;
    }
    filters.push_back(std::move(entry));
  }
  return filters;
}

FilePrompt ToFilePrompt(const FileDialogRequest& request) {
  const std::filesystem::path initial = PathFromWide(request.initialName);
  return FilePrompt{request.title, initial.parent_path(), PathToWide(initial.filename()),
                    ParseDialogFilter(request.filter), request.refusal};
}

ShellDocumentHost::ShellDocumentHost(CMainFrame& frame, IPrompter& prompter,
                                     std::function<bool()> detailedLog,
                                     std::function<void(const std::filesystem::path&)> addRecentFile,
                                     std::filesystem::path settingsFile,
                                     std::function<std::vector<WrittenLog>()> writtenLogs)
    : frame_(frame),
      prompter_(prompter),
      detailedLog_(std::move(detailedLog)),
      addRecentFile_(std::move(addRecentFile)),
      settingsFile_(std::move(settingsFile)),
      writtenLogs_(std::move(writtenLogs)) {}

DocumentHost ShellDocumentHost::Bundle(IDocumentViews* views) {
  DocumentHost host;
  host.log = this;
  host.information = this;
  host.views = views;
  host.prompts = this;
  host.busy = this;
  host.jobs = this;
  host.recentFiles = this;
  host.folders = this;
  host.entries = this;
  return host;
}

bool ShellDocumentHost::TakeTypedEntries(const std::wstring& consequence) {
  return TakeTypedEntriesUnder(&frame_, consequence);
}

std::vector<HeldRefusal> ShellDocumentHost::HeldRefusals() const {
  std::vector<HeldRefusal> held;
  for (HeldEntryRefusal& entry : HeldRefusalsUnder(&frame_)) held.push_back({std::move(entry.text), entry.step});
  return held;
}

void ShellDocumentHost::AppendLine(const std::string& utf8Line, int level) {
  frame_.Log(Utf8ToWide(utf8Line), level);
}

void ShellDocumentHost::Clear() {
  if (COutputWnd* output = frame_.OutputPane()) output->ClearOutput();
}

bool ShellDocumentHost::IsDetailedLogOn() const { return detailedLog_ && detailedLog_(); }

void ShellDocumentHost::ShowInformation(const std::wstring& text, int kind) {
  frame_.ShowInformation(text, kind);
}

void ShellDocumentHost::ShowMessages(const std::vector<InformationMessage>& messages) {
  frame_.ShowInformationMessages(messages);
}

bool ShellDocumentHost::AskYesNo(const std::wstring& question) {
  return prompter_.ShowMessage({L"Tessary", question, PromptButtons::YesNo, PromptIcon::Question}) ==
         MessageAnswer::Yes;
}

PromptAnswer ShellDocumentHost::AskYesNoCancel(const std::wstring& question, const std::wstring&,
                                               const std::wstring&, const std::wstring&) {
  switch (prompter_.ShowMessage({L"Tessary", question, PromptButtons::YesNoCancel, PromptIcon::Question})) {
    case MessageAnswer::Yes: return PromptAnswer::yes;
    case MessageAnswer::No: return PromptAnswer::no;
    case MessageAnswer::Ok:
    case MessageAnswer::Cancel: break;
  }
  return PromptAnswer::cancel;
}

std::optional<std::filesystem::path> ShellDocumentHost::AskOpenFile(const FileDialogRequest& request) {
  return prompter_.AskOpenFile(ToFilePrompt(request));
}

std::optional<std::filesystem::path> ShellDocumentHost::AskSaveFile(const FileDialogRequest& request) {
  return prompter_.AskSaveFile(ToFilePrompt(request));
}

void ShellDocumentHost::BeginBusy() { wxBeginBusyCursor(); }
void ShellDocumentHost::EndBusy() { wxEndBusyCursor(); }

bool ShellDocumentHost::RunModalJob(const ModalJob& job) {
  std::atomic<bool> cancel{false};
  std::atomic<bool> done{false};
  const BusyScope busy(this);
  std::thread worker;
  try {
    worker = std::thread([&] {
      job(cancel);
      done = true;
    });
  } catch (const std::system_error&) {
    return false;
  }
  {
    // A job started outside the main loop (before it runs, or from a test) still waits in one.
    const wxEventLoopGuarantor loop;
    const ModalJobInputFilter discarding;
    while (!done) {
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
      DispatchPendingEvents();
      // Read from the keyboard itself: the key's events are thrown away with the rest.
      if (frame_.IsActive() && wxGetKeyState(WXK_ESCAPE)) cancel = true;
    }
    worker.join();
    // Input made in the job's last moments may still be on its way: fetch it and drop it too.
    SyncWithDisplayServer();
    DispatchPendingEvents();
  }
  return !cancel;
}

void ShellDocumentHost::AddRecentFile(const std::filesystem::path& path) {
  if (addRecentFile_) addRecentFile_(path);
}

std::filesystem::path ShellDocumentHost::ProgramFolder() const { return GetExecutableFolder(); }

std::filesystem::path ShellDocumentHost::UserFolder() const {
  const std::filesystem::path documents = GetDocumentsFolder();
  return documents.empty() ? documents : documents / kUserFolderName;
}

ProgramPlaces ShellDocumentHost::OwnPlaces() const {
  ProgramPlaces places;
  places.files = {settingsFile_, GetExecutableFile()};
  for (std::filesystem::path& installed : InstalledDesktopFiles(GetExecutableFile())) places.files.push_back(std::move(installed));
  // The settings folder is shared with the maker's other programs, whose files are kept too.
  if (!settingsFile_.empty()) places.folders.push_back(settingsFile_.parent_path());
  if (const std::filesystem::path thumbnails = ThumbnailCacheFolder(); !thumbnails.empty())
    places.folders.push_back(thumbnails.parent_path());
  std::erase_if(places.files, [](const std::filesystem::path& file) { return file.empty(); });
  if (writtenLogs_) places.logs = writtenLogs_();
  return places;
}

}  // namespace grainforge::app
