#include "app/shell/kit/icon_files.h"
#include "app/shell/kit/wx_file_names.h"
#include "app/document/log_text.h"

#include <cstdint>
#include <system_error>
#include <utility>
#include <vector>

#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/stdpaths.h>

#include "platform/file_system.h"

namespace grainforge::app {
namespace {

constexpr std::uintmax_t kLargestIconFile = 0x7FFFFFFF;

void EnsurePngHandler() {
  if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) wxImage::AddHandler(new wxPNGHandler);
}

// The bytes of a regular file; a pipe or device is refused without waiting on it.
std::optional<std::vector<std::uint8_t>> ReadIconBytes(const std::filesystem::path& path) {
  platform::ReadResult read = platform::ReadWholeFile(path, kLargestIconFile);
  if (read.status != platform::ReadStatus::Ok || read.bytes.empty()) return std::nullopt;
  return std::move(read.bytes);
}

std::wstring TrimSpace(const std::wstring& text) {
  const auto first = text.find_first_not_of(L" \t\r\n");
  if (first == std::wstring::npos) return std::wstring();
  const auto last = text.find_last_not_of(L" \t\r\n");
  return text.substr(first, last - first + 1);
}

}  // namespace

std::filesystem::path ProgramFolder() {
  const wxString executable = wxStandardPaths::Get().GetExecutablePath();
  return PathFromWxString(executable).parent_path();
}

std::filesystem::path ResourcesFolder() {
  // Beside the program in a build folder; under share/tessary once installed.
  const std::filesystem::path beside = ProgramFolder() / "resources";
  const std::filesystem::path installed = ProgramFolder().parent_path() / "share" / "tessary" / "resources";
  std::error_code error;
  if (!std::filesystem::is_directory(beside, error) && std::filesystem::is_directory(installed, error))
    return installed;
  return beside;
}

std::optional<wxImage> LoadPngFromFile(const std::filesystem::path& path) {
  const auto bytes = ReadIconBytes(path);
  if (!bytes) return std::nullopt;
  EnsurePngHandler();
  // A broken file would otherwise end in a message box from wx's log.
  wxLogNull quiet;
  wxMemoryInputStream stream(bytes->data(), bytes->size());
  wxImage image;
  if (!image.LoadFile(stream, wxBITMAP_TYPE_PNG) || !image.IsOk()) return std::nullopt;
  return image;
}

std::filesystem::path IconFilePath(const std::filesystem::path& folder, const std::wstring& name) {
  return folder / PathFromWide(name + L".png");
}

std::filesystem::path ToolbarIconFilePath(const std::filesystem::path& folder,
                                          const std::wstring& name) {
  const std::wstring trimmed = TrimSpace(name);
  if (trimmed.empty()) return std::filesystem::path();
  if (trimmed.find(L'.') != std::wstring::npos) return folder / PathFromWide(trimmed);
  return folder / PathFromWide(trimmed + L".png");
}

IconFileCache::IconFileCache(std::filesystem::path folder, Misses misses, PathForName pathForName)
    : folder_(std::move(folder)), misses_(misses), pathForName_(std::move(pathForName)) {}

const wxImage* IconFileCache::Find(const std::wstring& name) {
  const auto found = entries_.find(name);
  if (found != entries_.end()) {
    if (found->second) return &*found->second;
    if (misses_ == Misses::Remember) return nullptr;
  }
  const std::filesystem::path path = pathForName_(folder_, name);
  std::optional<wxImage> image = path.empty() ? std::nullopt : LoadPngFromFile(path);
  if (!image && misses_ == Misses::Retry) return nullptr;
  auto& slot = entries_[name];
  slot = std::move(image);
  return slot ? &*slot : nullptr;
}

const wxImage* GetIconImage(const std::wstring& name) {
  // Kept until the process ends; images are plain memory, but the toolkit may be gone by then.
  static auto& cache = *new IconFileCache(ResourcesFolder(), IconFileCache::Misses::Remember);
  return cache.Find(name);
}

}  // namespace grainforge::app
