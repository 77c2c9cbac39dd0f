#include "app/workflow/help/help_pages.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "app/document/log_text.h"
#include "platform/file_system.h"

namespace grainforge::app {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::wstring_view kCutNote =
    L"\n\n*This page is longer than the help pane shows; the rest of the file is left out.*\n";

// The file's bytes, at most one more than the page limit so that a longer file is noticed;
// nothing when it cannot be opened or is not a regular file (a pipe is refused, not waited on).
std::optional<std::string> ReadPageBytes(const std::filesystem::path& file) {
  const platform::OpenedFile opened = platform::OpenRegularFile(file);
  if (opened.status != platform::OpenStatus::Ok) return std::nullopt;
  const std::uint64_t wanted = std::min<std::uint64_t>(opened.file.Size(), kMaxHelpPageBytes + 1);
  std::string bytes(static_cast<std::size_t>(wanted), '\0');
  bytes.resize(opened.file.ReadAt(0, bytes.data(), bytes.size(), nullptr));
  return bytes;
}

std::filesystem::path FindPageFile(const LibraryRoots& roots, const std::string& fileName) {
  const std::filesystem::path asGiven(fileName);
  if (asGiven.is_absolute()) return asGiven;
  return ResolveLibraryItem(roots, std::filesystem::path(kHelpFolder), fileName);
}

}  // namespace

std::wstring MissingHelpPage(std::string_view fileName) {
  return L"# No help yet\n\nThe page `help/" + Utf8ToWide(fileName) + L"` was not found beside the program.";
}

std::wstring HelpPageText(std::string_view bytes) {
  if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) bytes.remove_prefix(kByteOrderMark.size());
  if (bytes.size() <= kMaxHelpPageBytes) return Utf8ToWide(bytes);
  std::string_view kept = bytes.substr(0, kMaxHelpPageBytes);
  // End at a line so that no character or Markdown marker is cut in half.
  const std::size_t lastFeed = kept.rfind('\n');
  if (lastFeed != std::string_view::npos) kept = kept.substr(0, lastFeed + 1);
  return Utf8ToWide(kept) + std::wstring(kCutNote);
}

std::wstring LoadHelpPageFrom(const LibraryRoots& roots, std::string_view page) {
  const std::string fileName = std::string(page) + ".md";
  const std::filesystem::path file = FindPageFile(roots, fileName);
  std::error_code error;
  if (file.empty() || !std::filesystem::is_regular_file(file, error)) return MissingHelpPage(fileName);
  const std::optional<std::string> bytes = ReadPageBytes(file);
  if (!bytes || bytes->empty()) return MissingHelpPage(fileName);
  std::wstring text = HelpPageText(*bytes);
  return text.empty() ? MissingHelpPage(fileName) : text;
}

std::wstring LoadHelpPage(std::string_view page) { return LoadHelpPageFrom(UserDataFolderCached(), page); }

}  // namespace grainforge::app
