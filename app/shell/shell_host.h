#pragma once

// The document's channels (DocumentHost) carried out by the main window: the output log pane,
// the information box, the prompter's dialogs, the wait cursor, the modal mesh jobs, the recent
// files and the data folders. The frame and the prompter must outlive this object.

#include <functional>
#include <string>
#include <vector>

#include "app/document/document_host.h"
#include "app/shell/prompter.h"

#include <wx/event.h>

class wxWindow;

namespace grainforge::app {

class CMainFrame;

// A dialog filter in the document's "Text|*.a;*.b|Text|*.c||" form as the prompter's filters;
// an empty or odd trailing part is dropped.
std::vector<FileFilter> ParseDialogFilter(std::wstring_view filter);
// The prompter's file question for the document's request: the initial name split into folder
// and file name.
FilePrompt ToFilePrompt(const FileDialogRequest& request);

// Whether an event of this type is thrown away while a modal mesh job runs: keys, clicks, the
// wheel, moves, menu commands, dropped files and the window's close button. What was typed or
// clicked while waiting must not act on the part the job then replaces (a click on Process, a
// key of a text field, a part dropped on the window). Paints, sizes and timers go on.
bool IsDiscardedDuringModalJob(wxEventType type);

class ShellDocumentHost final : public IOutputLog,
                                public IInformationBox,
                                public IPrompts,
                                public IBusyIndicator,
                                public IModalJobRunner,
                                public IRecentFiles,
                                public IFolders,
                                public ITypedEntries {
public:
  // `settingsFile`: the profile, one of the program's own files. `writtenLogs`: the logs the
  // program wrote, which the next log may replace in its folders.
  ShellDocumentHost(CMainFrame& frame, IPrompter& prompter, std::function<bool()> detailedLog,
                    std::function<void(const std::filesystem::path&)> addRecentFile,
                    std::filesystem::path settingsFile = {},
                    std::function<std::vector<WrittenLog>()> writtenLogs = {});

  // The bundle for the document; `views` is the document's view.
  DocumentHost Bundle(IDocumentViews* views);

  void AppendLine(const std::string& utf8Line, int level) override;
  void Clear() override;
  bool IsDetailedLogOn() const override;

  void ShowInformation(const std::wstring& text, int kind) override;
  void ShowMessages(const std::vector<InformationMessage>& messages) override;

  bool AskYesNo(const std::wstring& question) override;
  PromptAnswer AskYesNoCancel(const std::wstring& question, const std::wstring& yesLabel,
                              const std::wstring& noLabel, const std::wstring& cancelLabel) override;
  std::optional<std::filesystem::path> AskOpenFile(const FileDialogRequest& request) override;
  std::optional<std::filesystem::path> AskSaveFile(const FileDialogRequest& request) override;

  void BeginBusy() override;
  void EndBusy() override;

  // Runs the job on one extra thread; meanwhile only paint and size events are handled, input
  // is thrown away (also what is still queued when the job ends), and Escape held while the
  // main window is active sets the cancel flag.
  bool RunModalJob(const ModalJob& job) override;

  void AddRecentFile(const std::filesystem::path& path) override;

  std::filesystem::path ProgramFolder() const override;
  std::filesystem::path UserFolder() const override;
  // The settings file and its folder, the cache folder (beside the thumbnails), the running
  // executable and the logs the program wrote.
  ProgramPlaces OwnPlaces() const override;

  // Asks the main window's fields (TakeTypedEntriesUnder).
  bool TakeTypedEntries(const std::wstring& consequence) override;
  // The main window's fields' (HeldRefusalsUnder).
  std::vector<HeldRefusal> HeldRefusals() const override;

private:
  CMainFrame& frame_;
  IPrompter& prompter_;
  std::function<bool()> detailedLog_;
  std::function<void(const std::filesystem::path&)> addRecentFile_;
  std::filesystem::path settingsFile_;
  std::function<std::vector<WrittenLog>()> writtenLogs_;
};

}  // namespace grainforge::app
