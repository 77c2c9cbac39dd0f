#pragma once

// Every modal question the program asks (message boxes, file dialogs) goes through one
// interface: the program shows real dialogs (WxPrompter), tests answer from a script
// (ScriptedPrompter), so no test ever blocks on a window.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/document/file_identity.h"

namespace grainforge::app {

enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class PromptIcon { Information, Warning, Error, Question };
enum class MessageAnswer { Ok, Cancel, Yes, No };

struct MessagePrompt {
  std::wstring caption;
  std::wstring text;
  PromptButtons buttons = PromptButtons::Ok;
  PromptIcon icon = PromptIcon::Information;
};

// One line of a file dialog's type list: "STL files" with patterns {"*.stl"}.
struct FileFilter {
  std::wstring description;
  std::vector<std::wstring> patterns;
};

struct FilePrompt {
  std::wstring title;
  std::filesystem::path folder;
  std::wstring fileName;
  std::vector<FileFilter> filters;
  // A save dialog's: why the chosen file must not be written (shown, then the dialog comes
  // again), or empty; asked before the question whether to replace an existing file.
  std::function<std::wstring(const std::filesystem::path&)> refusal = {};
};

class IPrompter {
public:
  virtual ~IPrompter() = default;
  // The button the user chose; closing the box counts as Cancel (or No when there is no Cancel).
  virtual MessageAnswer ShowMessage(const MessagePrompt& prompt) = 0;
  // An existing file the user chose; empty when cancelled.
  virtual std::optional<std::filesystem::path> AskOpenFile(const FilePrompt& prompt) = 0;
  // The file to write, after the user agreed to replace an existing one; empty when cancelled.
  virtual std::optional<std::filesystem::path> AskSaveFile(const FilePrompt& prompt) = 0;
};

// The wildcard of a wx file dialog for the filters: "Description (*.stl)|*.stl;*.STL|...". GTK
// matches patterns case-sensitively, so each pattern is given in lower and upper case too.
std::wstring MakeDialogWildcard(const std::vector<FileFilter>& filters);

// The path with the chosen filter's extension added when the user typed none (GTK's save dialog
// adds none itself): "part" becomes "part.stl" for "*.stl". A path that has an extension, or a
// filter whose first pattern names none ("*" or "*.*"), is left as it is.
std::filesystem::path WithFilterExtension(const std::filesystem::path& path,
                                          const FileFilter& filter);

// The text of a question with a place to break the line (a zero-width space) after every
// `longest` characters of a run without a blank: a box wraps a 255-byte file name instead of
// growing past the screen with its buttons out of sight. Combining marks stay with their letter.
std::wstring WithLineBreaksInLongRuns(std::wstring_view text, std::size_t longest = 32);

// The kind of file a dialog is for: its first filter's first pattern in lower case ("*.stl"),
// so that opening and saving parts share a folder, and images another. Empty without filters.
std::wstring FileKindOf(const FilePrompt& prompt);

// What a file looked like (FileLeft: which file, its size and its last change, or nothing
// there). A save that succeeded makes the file or replaces it, so what is left there changes; a
// failed save leaves the file as it was (the writers replace a file only once the new one is
// whole).
using FileStamper = std::function<FileLeft(const std::filesystem::path&)>;

// File dialogs that open where the user last was: the folder of the last file chosen for that
// kind of file in this run, else the part's folder, else the home folder; never the folder the
// program happened to be started from. A prompt that names its own folder keeps it.
//
// An open dialog remembers its folder at once (the file is there). A save dialog's folder is
// remembered only once the save succeeded there: when the next dialog opens, the file chosen
// for saving must have been made or replaced since the dialog closed. A save that failed (a
// folder without write permission, a full disk) leaves the folder remembered before.
class FolderRememberingPrompter final : public IPrompter {
public:
  // `partFolder` gives the folder of the part on show (empty when it has none); `stamper`
  // tells what is left at a name (empty: FileLeftAt).
  FolderRememberingPrompter(IPrompter& inner, std::function<std::filesystem::path()> partFolder,
                            std::filesystem::path homeFolder, FileStamper stamper = {});
  MessageAnswer ShowMessage(const MessagePrompt& prompt) override;
  std::optional<std::filesystem::path> AskOpenFile(const FilePrompt& prompt) override;
  std::optional<std::filesystem::path> AskSaveFile(const FilePrompt& prompt) override;

private:
  // A file chosen in a save dialog, with its stamp when the dialog closed.
  struct PendingSave {
    std::wstring kind;
    std::filesystem::path file;
    FileLeft before;
  };

  std::filesystem::path FolderFor(const FilePrompt& prompt) const;
  FilePrompt WithFolder(const FilePrompt& prompt) const;
  std::optional<std::filesystem::path> Remember(const FilePrompt& prompt,
                                                std::optional<std::filesystem::path> chosen);
  // Remembers the folder of each pending save that changed its file; forgets the rest.
  void SettlePendingSaves();

  IPrompter& inner_;
  std::function<std::filesystem::path()> partFolder_;
  std::filesystem::path homeFolder_;
  FileStamper stamper_;
  std::map<std::wstring, std::filesystem::path> lastFolders_;
  std::vector<PendingSave> pendingSaves_;
};

}  // namespace grainforge::app
