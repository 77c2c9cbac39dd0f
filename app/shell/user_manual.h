#pragma once

// Help > User Manual without a window system: where the manual is and what is said when it
// cannot be shown. The file is only handed to the desktop, which opens it in the user's reader;
// when the desktop's handler ends without showing it (no PDF reader), the user is told where
// the file is, so that it can be opened by hand.

#include <filesystem>
#include <functional>
#include <string>

#include "platform/desktop_open.h"

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

// How the desktop's handler ended; called on the user-interface thread.
using DesktopOpenEnded = std::function<void(const grainforge::platform::ProgramExit&)>;
// Hands a file to the desktop's handler; false when that could not be started. Once the
// handler has ended, `ended` is called on the user-interface thread (never, while it runs).
using DesktopOpener = std::function<bool(const std::filesystem::path&, DesktopOpenEnded ended)>;
// Receives a message to log and show, on the user-interface thread.
using ManualMessageSink = std::function<void(const std::wstring&)>;

// The command: finds the manual and hands it to `open`. Returns the message to log and show
// (ManualFailureMessage) when there is no manual or `open` fails to start; empty when it was
// handed on. When the handler later ends without showing it, `failedLater` receives
// ManualHandlerFailedMessage.
std::wstring OpenUserManual(const std::filesystem::path& programFolder, const DesktopOpener& open,
                            ManualMessageSink failedLater = {});

// What is said when the desktop's handler ended without showing the manual: why, as far as its
// exit tells (status 3: no program for the file's type), and the manual's full path to open it
// by hand. Empty for a handler that succeeded.
std::wstring ManualHandlerFailedMessage(const std::filesystem::path& manual,
                                        const grainforge::platform::ProgramExit& exit);

}  // namespace grainforge::app
