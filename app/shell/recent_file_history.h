// The recent-file list of the File menu: wx's own list and menu items, each labelled with its
// file's name as every other place of the program shows a name (PathToDisplay). wx would put
// the name in raw, so a name holding a line feed or an escape broke the menu's line and a tab
// started a shortcut there.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include <wx/filehistory.h>

namespace grainforge::app {

// The label of entry `index` (from 0): "&1 " and the whole name as people see it, with "&"
// doubled so that no letter of the name becomes the entry's mnemonic.
[[nodiscard]] std::wstring RecentFileLabel(std::size_t index, const std::filesystem::path& file);

class CRecentFileHistory final : public wxFileHistory {
public:
  explicit CRecentFileHistory(std::size_t maxFiles) : wxFileHistory(maxFiles) {}

  // Each does wx's work, then labels the entries of every menu the list uses.
  void AddFileToHistory(const wxString& file) override;
  void RemoveFileFromHistory(std::size_t i) override;
  void AddFilesToMenu() override;
  void AddFilesToMenu(wxMenu* menu) override;

private:
  void LabelEntries(wxMenu& menu) const;
  void LabelEntriesOfEveryMenu() const;
};

}  // namespace grainforge::app
