#include "app/shell/prompter.h"

#include "app/document/log_text.h"

#include <algorithm>
#include <cwctype>

namespace grainforge::app {
namespace {

std::wstring ChangeCase(std::wstring text, bool upper) {
  std::transform(text.begin(), text.end(), text.begin(), [upper](wchar_t c) {
    const auto wide = static_cast<std::wint_t>(c);
    return static_cast<wchar_t>(upper ? std::towupper(wide) : std::towlower(wide));
  });
  return text;
}

// The pattern in its own case, then lower and upper case when they differ, without repeats.
std::vector<std::wstring> CaseVariants(const std::vector<std::wstring>& patterns) {
  std::vector<std::wstring> variants;
  const auto add = [&variants](const std::wstring& pattern) {
    if (std::find(variants.begin(), variants.end(), pattern) == variants.end())
      variants.push_back(pattern);
  };
  for (const std::wstring& pattern : patterns) add(pattern);
  for (const std::wstring& pattern : patterns) add(ChangeCase(pattern, false));
  for (const std::wstring& pattern : patterns) add(ChangeCase(pattern, true));
  return variants;
}

std::wstring Join(const std::vector<std::wstring>& parts, const std::wstring& separator) {
  std::wstring joined;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) joined += separator;
    joined += parts[i];
  }
  return joined;
}

}  // namespace

std::wstring MakeDialogWildcard(const std::vector<FileFilter>& filters) {
  std::vector<std::wstring> entries;
  for (const FileFilter& filter : filters) {
    // GTK shows the description as it is: a description that names its patterns already
    // ("STL Files (*.stl)") gets them once, not twice.
    const bool namesPatterns = filter.description.find(L'(') != std::wstring::npos;
    const std::wstring shown =
        namesPatterns ? filter.description : filter.description + L" (" + Join(filter.patterns, L";") + L")";
    entries.push_back(shown + L"|" + Join(CaseVariants(filter.patterns), L";"));
  }
  return Join(entries, L"|");
}

std::filesystem::path WithFilterExtension(const std::filesystem::path& path,
                                          const FileFilter& filter) {
  if (path.empty() || path.has_extension() || filter.patterns.empty()) return path;
  const std::wstring& pattern = filter.patterns.front();
  if (pattern.size() < 3 || pattern.compare(0, 2, L"*.") != 0) return path;
  const std::wstring extension = pattern.substr(1);
  if (extension.find_first_of(L"*?") != std::wstring::npos) return path;
  std::filesystem::path withExtension = path;
  withExtension += PathFromWide(ChangeCase(extension, false)).native();
  return withExtension;
}

std::wstring WithLineBreaksInLongRuns(std::wstring_view text, std::size_t longest) {
  constexpr wchar_t kBreak = L'\u200b';
  const auto combining = [](wchar_t c) { return (c >= 0x300 && c <= 0x36f) || (c >= 0x1ab0 && c <= 0x1aff) ||
                                                (c >= 0x1dc0 && c <= 0x1dff) || (c >= 0x20d0 && c <= 0x20ff) ||
                                                (c >= 0xfe20 && c <= 0xfe2f); };
  std::wstring broken;
  broken.reserve(text.size() + text.size() / std::max<std::size_t>(longest, 1));
  std::size_t run = 0;
  for (const wchar_t c : text) {
    if (std::iswspace(static_cast<wint_t>(c)) || c == kBreak) {
      run = 0;
    } else if (longest > 0 && run >= longest && !combining(c)) {
      broken += kBreak;
      run = 0;
    }
    broken += c;
    if (!std::iswspace(static_cast<wint_t>(c)) && c != kBreak) ++run;
  }
  return broken;
}

std::wstring FileKindOf(const FilePrompt& prompt) {
  if (prompt.filters.empty() || prompt.filters.front().patterns.empty()) return {};
  return ChangeCase(prompt.filters.front().patterns.front(), false);
}

FolderRememberingPrompter::FolderRememberingPrompter(IPrompter& inner,
                                                     std::function<std::filesystem::path()> partFolder,
                                                     std::filesystem::path homeFolder, FileStamper stamper)
    : inner_(inner),
      partFolder_(std::move(partFolder)),
      homeFolder_(std::move(homeFolder)),
      stamper_(stamper ? std::move(stamper) : FileStamper(FileLeftAt)) {}

MessageAnswer FolderRememberingPrompter::ShowMessage(const MessagePrompt& prompt) {
  return inner_.ShowMessage(prompt);
}

std::optional<std::filesystem::path> FolderRememberingPrompter::AskOpenFile(const FilePrompt& prompt) {
  SettlePendingSaves();
  return Remember(prompt, inner_.AskOpenFile(WithFolder(prompt)));
}

std::optional<std::filesystem::path> FolderRememberingPrompter::AskSaveFile(const FilePrompt& prompt) {
  SettlePendingSaves();
  std::optional<std::filesystem::path> chosen = inner_.AskSaveFile(WithFolder(prompt));
  if (chosen && chosen->has_parent_path())
    pendingSaves_.push_back({FileKindOf(prompt), *chosen, stamper_(*chosen)});
  return chosen;
}

void FolderRememberingPrompter::SettlePendingSaves() {
  for (const PendingSave& save : pendingSaves_) {
    const FileLeft now = stamper_(save.file);
    if (now && now != save.before) lastFolders_[save.kind] = save.file.parent_path();
  }
  pendingSaves_.clear();
}

std::filesystem::path FolderRememberingPrompter::FolderFor(const FilePrompt& prompt) const {
  const auto used = lastFolders_.find(FileKindOf(prompt));
  if (used != lastFolders_.end()) return used->second;
  std::filesystem::path part = partFolder_ ? partFolder_() : std::filesystem::path();
  if (!part.empty()) return part;
  return homeFolder_;
}

FilePrompt FolderRememberingPrompter::WithFolder(const FilePrompt& prompt) const {
  FilePrompt placed = prompt;
  if (placed.folder.empty()) placed.folder = FolderFor(prompt);
  return placed;
}

std::optional<std::filesystem::path> FolderRememberingPrompter::Remember(
    const FilePrompt& prompt, std::optional<std::filesystem::path> chosen) {
  if (chosen && chosen->has_parent_path()) lastFolders_[FileKindOf(prompt)] = chosen->parent_path();
  return chosen;
}

}  // namespace grainforge::app
