#include "app/shell/kit/icon_files.h"
#include "app/shell/kit/wx_file_names.h"
#include "app/document/log_text.h"

#include <cstdint>
#include <fstream>
#include <system_error>
#include <utility>
#include <vector>

#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/stdpaths.h>

namespace grainforge::app {
namespace {

constexpr std::uintmax_t kLargestIconFile = 0x7FFFFFFF;

void EnsurePngHandler() {
  if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) wxImage::AddHandler(new wxPNGHandler);
}

std::optional<std::vector<char>> ReadWholeFile(const std::filesystem::path& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error || size < 1 || size > kLargestIconFile) return std::nullopt;
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::vector<char> bytes(static_cast<std::size_t>(size));
  if (!file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return std::nullopt;
  return bytes;
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
  const auto bytes = ReadWholeFile(path);
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
