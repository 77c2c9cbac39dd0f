#pragma once

// Every modal question the program asks (message boxes, file dialogs) goes through one
// interface: the program shows real dialogs (WxPrompter), tests answer from a script
// (ScriptedPrompter), so no test ever blocks on a window.

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

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

// The kind of file a dialog is for: its first filter's first pattern in lower case ("*.stl"),
// so that opening and saving parts share a folder, and images another. Empty without filters.
std::wstring FileKindOf(const FilePrompt& prompt);

// File dialogs that open where the user last was: the folder of the last file chosen for that
// kind of file in this run, else the part's folder, else the home folder; never the folder the
// program happened to be started from. A prompt that names its own folder keeps it.
class FolderRememberingPrompter final : public IPrompter {
public:
  // `partFolder` gives the folder of the part on show (empty when it has none).
  FolderRememberingPrompter(IPrompter& inner, std::function<std::filesystem::path()> partFolder,
                            std::filesystem::path homeFolder);
  MessageAnswer ShowMessage(const MessagePrompt& prompt) override;
  std::optional<std::filesystem::path> AskOpenFile(const FilePrompt& prompt) override;
  std::optional<std::filesystem::path> AskSaveFile(const FilePrompt& prompt) override;

private:
  std::filesystem::path FolderFor(const FilePrompt& prompt) const;
  FilePrompt WithFolder(const FilePrompt& prompt) const;
  std::optional<std::filesystem::path> Remember(const FilePrompt& prompt,
                                                std::optional<std::filesystem::path> chosen);

  IPrompter& inner_;
  std::function<std::filesystem::path()> partFolder_;
  std::filesystem::path homeFolder_;
  std::map<std::wstring, std::filesystem::path> lastFolders_;
};

}  // namespace grainforge::app
