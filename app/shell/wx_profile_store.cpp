#include "app/shell/wx_profile_store.h"

#include <climits>

#include <wx/config.h>

namespace grainforge::app {
namespace {

wxString EntryPath(const std::wstring& section, const std::wstring& key) {
  return wxString(L"/") + wxString(section) + L"/" + wxString(key);
}

}  // namespace

int WxProfileStore::ReadInt(const std::wstring& section, const std::wstring& key,
                            int fallback) const {
  long value = 0;
  if (!config_.Read(EntryPath(section, key), &value)) return fallback;
  // A hand-edited file may hold any number; one that int cannot hold counts as missing.
  if (value < INT_MIN || value > INT_MAX) return fallback;
  return static_cast<int>(value);
}

void WxProfileStore::WriteInt(const std::wstring& section, const std::wstring& key, int value) {
  config_.Write(EntryPath(section, key), static_cast<long>(value));
  config_.Flush();
}

}  // namespace grainforge::app
