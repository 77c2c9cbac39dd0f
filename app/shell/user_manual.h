#pragma once

// Help > User Manual without a window system: where the manual is and what is said when it
// cannot be shown. The file is only handed to the desktop, which opens it in the user's reader.

#include <filesystem>
#include <functional>
#include <string>

namespace grainforge::app {

// Where the manual is looked for: beside the program (a build folder), then in the data
// folder of an installed program (<prefix>/share/tessary beside <prefix>/bin), where the
// program's other factory data lies. `found` false: in neither, and `path` is the file beside
// the program, the one the message names.
struct ManualLocation {
  std::filesystem::path path;
  bool found = false;
};
ManualLocation FindManual(const std::filesystem::path& programFolder);

// Hands a file to the desktop's handler; false when that could not be started.
using DesktopOpener = std::function<bool(const std::filesystem::path&)>;

// The command: finds the manual and hands it to `open`. Returns the message to log and show
// (ManualFailureMessage) when there is no manual or `open` fails; empty when it was handed on.
std::wstring OpenUserManual(const std::filesystem::path& programFolder, const DesktopOpener& open);

}  // namespace grainforge::app
