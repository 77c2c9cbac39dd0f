// Handing a file to the desktop's own handler for its type (the user's PDF reader for the
// manual), as a double click in the file manager would. The handler runs on its own: the
// program never waits for it on the calling thread, so a reader left open never holds the
// program up. A thread of its own waits for the program and reports how it ended, so that a
// handler that fails ("no method available") can be told to the user, and no zombie is left.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace grainforge::platform {

// Whether a program was started; when not, why (an errno value: ENOENT when it is not found,
// EACCES when it may not be run, or what fork or exec gave).
struct LaunchReport {
  bool started = false;
  int errorNumber = 0;
};

// How a watched program ended: by exit with its status, or by a signal.
struct ProgramExit {
  bool exited = false;   // ended by exit; otherwise by signalNumber
  int status = 0;        // exit status, 0 to 255
  int signalNumber = 0;
  [[nodiscard]] bool Succeeded() const { return exited && status == 0; }
};
using ProgramExitHandler = std::function<void(const ProgramExit&)>;

// Starts the program arguments[0] with the other entries as its arguments, each passed as it
// is (no shell, so spaces, quotes and bytes that are not UTF-8 reach it untouched); a name
// without a slash is looked up in PATH. Standard input, output and error are shared; other
// open files are not passed on. An empty list is refused with EINVAL. Returns once the program
// runs or has failed to start, without waiting for it to end. A thread of its own then waits
// for it and calls onExit (when set), on that thread, when it has ended;
// onExit is not called when the program did not start. If no thread can be made, the caller
// waits instead. Thread-safe; nothing else in the process may wait for this child.
[[nodiscard]] LaunchReport StartWatchedProgram(const std::vector<std::string>& arguments, ProgramExitHandler onExit);

// "xdg-open <file>", watched: onExit learns whether xdg-open found a handler (status 0) or not
// (status 3 when the desktop has no program for the type).
[[nodiscard]] LaunchReport OpenWithDesktopHandlerWatched(const std::filesystem::path& file, ProgramExitHandler onExit);

}  // namespace grainforge::platform
