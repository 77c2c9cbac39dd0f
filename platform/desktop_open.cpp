#include "platform/desktop_open.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <thread>

extern char** environ;

namespace grainforge::platform {
namespace {

bool IsRunnableFile(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The file the program name stands for, found before forking (a search after fork would
// allocate, which a child of a threaded process must not). Empty when none; `error` says why.
std::string ResolveProgram(const std::string& name, int& error) {
  if (name.find('/') != std::string::npos) {
    error = ::access(name.c_str(), F_OK) != 0 ? ENOENT : (IsRunnableFile(name) ? 0 : EACCES);
    return error == 0 ? name : std::string();
  }
  const char* path = std::getenv("PATH");
  const std::string folders = path != nullptr && *path != '\0' ? path : "/usr/local/bin:/usr/bin:/bin";
  error = ENOENT;
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = end > start ? folders.substr(start, end - start) : ".";
    const std::string candidate = folder + "/" + name;
    if (IsRunnableFile(candidate)) {
      error = 0;
      return candidate;
    }
    if (::access(candidate.c_str(), F_OK) == 0) error = EACCES;
    start = end + 1;
  }
  return {};
}

// Writes errno to the report pipe and ends the child; only async-signal-safe calls.
[[noreturn]] void ReportAndExit(int pipeEnd, int error) {
  [[maybe_unused]] const ssize_t written = ::write(pipeEnd, &error, sizeof error);
  ::_exit(127);
}

// The grandchild: a fresh signal state, no inherited files but the standard three (the report
// pipe closes itself on exec), its own session so that a terminal's Ctrl+C for the program
// does not reach the reader, then the program.
[[noreturn]] void RunProgram(const char* path, char* const* argv, int pipeEnd) {
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::signal(SIGPIPE, SIG_DFL);
  ::setsid();
  if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
    for (int fd = 3; fd < 1024; ++fd)  // a kernel before 5.11: close them one by one
      if (fd != pipeEnd) ::close(fd);
  }
  ::execve(path, argv, environ);
  ReportAndExit(pipeEnd, errno);
}

// Reads the grandchild's errno from the pipe: nothing (end of file once exec has closed it)
// means it started.
int ReadLaunchError(int pipeEnd) {
  int error = 0;
  ssize_t got = 0;
  do {
    got = ::read(pipeEnd, &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

// argv for execve: the arguments' own strings, then the null that ends the list.
std::vector<char*> ArgumentVector(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// Waits for the child to end, through interruptions by signals.
ProgramExit WaitForChild(pid_t child) {
  int status = 0;
  pid_t waited = 0;
  do {
    waited = ::waitpid(child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  ProgramExit exit;
  if (waited == child && WIFEXITED(status)) {
    exit.exited = true;
    exit.status = WEXITSTATUS(status);
  } else if (waited == child && WIFSIGNALED(status)) {
    exit.signalNumber = WTERMSIG(status);
  } else {
    exit.exited = true;  // reaped by someone else: its end cannot be known, so no failure is claimed
  }
  return exit;
}

}  // namespace

LaunchReport StartWatchedProgram(const std::vector<std::string>& arguments, ProgramExitHandler onExit) {
  if (arguments.empty() || arguments.front().empty()) return {false, EINVAL};
  int error = 0;
  const std::string path = ResolveProgram(arguments.front(), error);
  if (path.empty()) return {false, error};
  std::vector<char*> argv = ArgumentVector(arguments);

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return {false, errno};
  const pid_t program = ::fork();
  if (program < 0) {
    const int forkError = errno;
    ::close(report[0]);
    ::close(report[1]);
    return {false, forkError};
  }
  if (program == 0) {
    ::close(report[0]);
    RunProgram(path.c_str(), argv.data(), report[1]);
  }
  ::close(report[1]);
  const int launchError = ReadLaunchError(report[0]);
  ::close(report[0]);
  if (launchError != 0) {
    (void)WaitForChild(program);  // it ended in exec's failure: reap it
    return {false, launchError};
  }
  const auto watch = [program, onExit = std::move(onExit)] {
    const ProgramExit exit = WaitForChild(program);
    if (onExit) onExit(exit);
  };
  try {
    std::thread(watch).detach();
  } catch (const std::system_error&) {
    watch();  // no thread to wait with: wait here rather than leave a zombie
  }
  return {true, 0};
}

LaunchReport OpenWithDesktopHandlerWatched(const std::filesystem::path& file, ProgramExitHandler onExit) {
  return StartWatchedProgram({"xdg-open", file.string()}, std::move(onExit));
}

}  // namespace grainforge::platform
