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
    const std::wstring shown = Join(filter.patterns, L";");
    entries.push_back(filter.description + L" (" + shown + L")|" +
                      Join(CaseVariants(filter.patterns), L";"));
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

}  // namespace grainforge::app
