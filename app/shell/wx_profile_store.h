#pragma once

// The user profile in a wx configuration object (the program's wxFileConfig under the XDG
// configuration folder): section "Workflow", key "Collapsed2" is the entry "/Workflow/Collapsed2".

#include "app/shell/profile_store.h"

class wxConfigBase;

namespace grainforge::app {

class WxProfileStore final : public IProfileStore {
public:
  // The configuration object must outlive the store.
  explicit WxProfileStore(wxConfigBase& config) : config_(config) {}

  int ReadInt(const std::wstring& section, const std::wstring& key, int fallback) const override;
  // Writes and flushes, so a crash later in the run keeps the value.
  void WriteInt(const std::wstring& section, const std::wstring& key, int value) override;

private:
  wxConfigBase& config_;
};

}  // namespace grainforge::app
