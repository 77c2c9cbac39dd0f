#include "app/shell/user_manual.h"

#include "app/document/log_text.h"
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

std::wstring OpenUserManual(const std::filesystem::path& programFolder, const DesktopOpener& open,
                            ManualMessageSink failedLater) {
  const ManualLocation manual = FindManual(programFolder);
  const auto ended = [path = manual.path, failedLater = std::move(failedLater)](const platform::ProgramExit& exit) {
    const std::wstring message = ManualHandlerFailedMessage(path, exit);
    if (!message.empty() && failedLater) failedLater(message);
  };
  if (manual.found && open && open(manual.path, ended)) return {};
  return ManualFailureMessage(manual.path, manual.found);
}

std::wstring ManualHandlerFailedMessage(const std::filesystem::path& manual, const platform::ProgramExit& exit) {
  if (exit.Succeeded()) return {};
  constexpr int kNoProgramForTheType = 3;  // xdg-open's status when no handler takes the file
  std::wstring why;
  if (!exit.exited)
    why = L"the desktop's opener was stopped (signal " + std::to_wstring(exit.signalNumber) + L")";
  else if (exit.status == kNoProgramForTheType)
    why = L"the desktop has no program for PDF files (xdg-open ended with status 3)";
  else
    why = L"the desktop could not show it (xdg-open ended with status " + std::to_wstring(exit.status) + L")";
  return L"The manual could not be opened: " + why + L". Open it by hand: " + PathToDisplay(manual);
}

}  // namespace grainforge::app
