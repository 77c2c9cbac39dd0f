#include "app/shell/recent_file_history.h"

#include "app/document/log_text.h"
#include "app/shell/kit/wx_file_names.h"

#include <wx/menu.h>

namespace grainforge::app {

std::wstring RecentFileLabel(std::size_t index, const std::filesystem::path& file) {
  std::wstring label = L"&" + std::to_wstring(index + 1) + L" ";
  for (const wchar_t c : PathToDisplay(file)) label += c == L'&' ? std::wstring(L"&&") : std::wstring(1, c);
  return label;
}

void CRecentFileHistory::AddFileToHistory(const wxString& file) {
  wxFileHistory::AddFileToHistory(file);
  LabelEntriesOfEveryMenu();
}

void CRecentFileHistory::RemoveFileFromHistory(std::size_t i) {
  wxFileHistory::RemoveFileFromHistory(i);
  LabelEntriesOfEveryMenu();
}

void CRecentFileHistory::AddFilesToMenu() {
  wxFileHistory::AddFilesToMenu();
  LabelEntriesOfEveryMenu();
}

void CRecentFileHistory::AddFilesToMenu(wxMenu* menu) {
  wxFileHistory::AddFilesToMenu(menu);
  if (menu != nullptr) LabelEntries(*menu);
}

void CRecentFileHistory::LabelEntries(wxMenu& menu) const {
  for (std::size_t i = 0; i < GetCount(); ++i) {
    const int id = GetBaseId() + static_cast<int>(i);
    if (menu.FindItem(id) != nullptr) menu.SetLabel(id, wxString(RecentFileLabel(i, PathFromWxString(GetHistoryFile(i)))));
  }
}

void CRecentFileHistory::LabelEntriesOfEveryMenu() const {
  for (wxList::compatibility_iterator node = GetMenus().GetFirst(); node != nullptr; node = node->GetNext())
    LabelEntries(*static_cast<wxMenu*>(node->GetData()));
}

}  // namespace grainforge::app
