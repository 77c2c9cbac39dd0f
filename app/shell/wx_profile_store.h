#pragma once

// The user profile in a wx configuration object (the program's wxFileConfig under the XDG
// configuration folder): section "Workflow", key "Collapsed2" is the entry "/Workflow/Collapsed2".

#include "app/shell/profile_store.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <wx/fileconf.h>

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

// The profile file itself (~/.config/Brookvane/Tessary.conf), read and written by the program
// rather than by wx, so that it is saved as every other file is: through a link to the file it
// names (the link stays), whole beside the old file and renamed over it, never leaving a
// temporary file behind, and never with a message box. When the settings cannot be kept (a
// folder at the file's name, a file where its folder should be, a file that cannot be read or
// is too large to be a profile) the program starts with its defaults, writes nothing, and the
// reason is reported once; so is the first save that fails. Lines that are not settings stay
// in the file as they were.
class WxProfileFile final : public wxFileConfig {
public:
  // Reads the profile at `path` (created with its folder on the first save when missing).
  static std::unique_ptr<WxProfileFile> Open(const std::filesystem::path& path);

  // Writes the settings when they changed since the last read or write. When another window
  // wrote the file in the meantime, its settings stay and only this program's changes are made
  // in it (MergeProfileText). False when the settings are not kept or the write failed.
  bool Flush(bool currentOnly = false) override;

  // Receives each reason once: at once the one from the read, later that of a failed save.
  void SetProblemReporter(std::function<void(const std::wstring&)> reporter);
  // Why the settings cannot be kept, or the first save failure; empty when none.
  const std::wstring& Problem() const { return problem_; }

  // Longest profile read, in bytes: a profile holds a few hundred.
  static constexpr std::uint64_t kMaxProfileBytes = std::uint64_t{1} << 20;

private:
  struct Loaded {
    std::string bytes;
    std::wstring problem;  // non-empty: the settings are not kept
  };
  WxProfileFile(const std::filesystem::path& path, Loaded loaded);
  static Loaded Load(const std::filesystem::path& path);
  void Report(std::wstring problem);

  std::filesystem::path path_;
  bool keep_ = true;
  std::string written_;  // the bytes the file holds as far as this program knows
  // The settings as this program last read or wrote them: what it changed since is told from
  // them when another window wrote the file in the meantime (MergeProfileText).
  std::string base_;
  std::wstring problem_;
  bool problemReported_ = false;
  std::function<void(const std::wstring&)> reporter_;
};

}  // namespace grainforge::app
