#include "app/shell/user_manual.h"

#include "app/shell/frame_logic.h"

namespace grainforge::app {
namespace {

bool IsFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

}  // namespace

ManualLocation FindManual(const std::filesystem::path& programFolder) {
  if (programFolder.empty()) return {kManualFileName, false};
  const std::filesystem::path beside = programFolder / kManualFileName;
  if (IsFile(beside)) return {beside, true};
  const std::filesystem::path installed =
      (programFolder / ".." / "share" / "tessary" / kManualFileName).lexically_normal();
  if (IsFile(installed)) return {installed, true};
  return {beside, false};
}

std::wstring OpenUserManual(const std::filesystem::path& programFolder, const DesktopOpener& open) {
  const ManualLocation manual = FindManual(programFolder);
  if (manual.found && open && open(manual.path)) return {};
  return ManualFailureMessage(manual.path, manual.found);
}

}  // namespace grainforge::app
