// Handing a file to the desktop's own handler for its type (the user's PDF reader for the
// manual), as a double click in the file manager would. The handler runs on its own: the
// program neither waits for it nor keeps it as a child, so a reader left open never holds the
// program up and a closed one leaves no zombie behind.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace grainforge::platform {

// Whether a program was started; when not, why (an errno value: ENOENT when it is not found,
// EACCES when it may not be run, or what fork or exec gave).
struct LaunchReport {
  bool started = false;
  int errorNumber = 0;
};

// Starts the program arguments[0] with the other entries as its arguments, each passed as it
// is (no shell, so spaces, quotes and bytes that are not UTF-8 reach it untouched). A name
// without a slash is looked up in PATH. Returns once the program has replaced the child, or
// has failed to; does not wait for it to end, and the program is not left as a child of this
// process. Standard input, output and error are shared; other open files are not passed on.
// An empty list is refused with EINVAL. Thread-safe.
[[nodiscard]] LaunchReport StartDetachedProgram(const std::vector<std::string>& arguments);

// "xdg-open <file>": the desktop's handler for the file's type, started as above. Started
// means only that xdg-open runs; a missing handler is for it to report.
[[nodiscard]] LaunchReport OpenWithDesktopHandler(const std::filesystem::path& file);

}  // namespace grainforge::platform
