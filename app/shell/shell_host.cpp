#include "app/shell/shell_host.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/utils.h>

#include "app/document/log_text.h"
#include "app/document/user_folders.h"
#include "app/shell/main_frame.h"
#include "app/shell/output_wnd.h"

namespace grainforge::app {

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
                    ParseDialogFilter(request.filter)};
}

ShellDocumentHost::ShellDocumentHost(CMainFrame& frame, IPrompter& prompter,
                                     std::function<bool()> detailedLog,
                                     std::function<void(const std::filesystem::path&)> addRecentFile)
    : frame_(frame),
      prompter_(prompter),
      detailedLog_(std::move(detailedLog)),
      addRecentFile_(std::move(addRecentFile)) {}

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
  return host;
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
  while (!done) {
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
    if (wxEventLoopBase* loop = wxEventLoopBase::GetActive()) loop->YieldFor(wxEVT_CATEGORY_UI);
    if (frame_.IsActive() && wxGetKeyState(WXK_ESCAPE)) cancel = true;
  }
  worker.join();
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

}  // namespace grainforge::app
