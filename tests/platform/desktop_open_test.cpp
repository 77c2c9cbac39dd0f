#include "platform/desktop_open.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <thread>
#include <tuple>

#include "tests/support/temp_folder.h"

namespace grainforge::platform {
namespace {

using grainforge::test::TempFolder;
using grainforge::test::WriteAllText;

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Waits for a detached program's output to appear; it is no child of ours, so there is
// nothing to wait on but the file. The bound only keeps a broken run from hanging.
bool WaitForFile(const std::filesystem::path& path) {
  for (int i = 0; i < 3000 && !std::filesystem::exists(path); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return std::filesystem::exists(path);
}

TEST(StartWatchedProgram, RefusesWhatCannotRunWithTheReason) {
  TempFolder folder;
  WriteAllText(folder / "not_runnable", "#!/bin/sh\n");
  ::chmod((folder / "not_runnable").c_str(), 0644);
  struct Case {
    std::vector<std::string> arguments;
    int error;
  };
  const Case cases[] = {
      {{}, EINVAL},
      {{""}, EINVAL},
      {{"tessary-no-such-program"}, ENOENT},
      {{(folder / "missing").string()}, ENOENT},
      {{(folder / "not_runnable").string()}, EACCES},
      {{folder.Path().string()}, EACCES},  // a folder is not a program
  };
  for (const Case& c : cases) {
    const LaunchReport report = StartWatchedProgram(c.arguments, nullptr);
    EXPECT_FALSE(report.started) << (c.arguments.empty() ? "-" : c.arguments.front());
    EXPECT_EQ(report.errorNumber, c.error) << (c.arguments.empty() ? "-" : c.arguments.front());
  }
}

TEST(StartWatchedProgram, ReportsAnExecThatFailsInTheChild) {
  // Runnable by its mode but not a program the kernel can load: only exec itself finds out.
  TempFolder folder;
  WriteAllText(folder / "garbage", "\x01\x02\x03 not an executable");
  ::chmod((folder / "garbage").c_str(), 0755);
  const LaunchReport report = StartWatchedProgram({(folder / "garbage").string()}, nullptr);
  EXPECT_FALSE(report.started);
  EXPECT_EQ(report.errorNumber, ENOEXEC);
}

TEST(StartWatchedProgram, PassesEachArgumentAsItIsWithoutAShell) {
  TempFolder folder;
  const std::filesystem::path out = folder / "out";
  const std::string tricky = "a b;touch " + (folder / "injected").string() + " $HOME \"q\" \xff\xfe";
  // printf through sh's own argument list: the tricky text is $2, never parsed as commands.
  const LaunchReport report =
      StartWatchedProgram({"sh", "-c", "printf '%s' \"$2\" > \"$1.tmp\" && mv \"$1.tmp\" \"$1\"", "sh", out.string(), tricky}, nullptr);
  ASSERT_TRUE(report.started);
  EXPECT_EQ(report.errorNumber, 0);
  ASSERT_TRUE(WaitForFile(out));
  EXPECT_EQ(ReadText(out), tricky);
  EXPECT_FALSE(std::filesystem::exists(folder / "injected"));
}

TEST(OpenWithDesktopHandler, StartsXdgOpenFromThePathWithTheFile) {
  // A stand-in xdg-open first in PATH records what it was given.
  TempFolder folder;
  const std::filesystem::path out = folder / "opened";
  WriteAllText(folder / "xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > \"" + out.string() + ".tmp\" && mv \"" +
                                        out.string() + ".tmp\" \"" + out.string() + "\"\n");
  ::chmod((folder / "xdg-open").c_str(), 0755);
  const std::string oldPath = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  ::setenv("PATH", (folder.Path().string() + ":" + oldPath).c_str(), 1);
  const std::filesystem::path manual = "/opt/some where/Tessary_Manual.pdf";
  const LaunchReport report = OpenWithDesktopHandlerWatched(manual, nullptr);
  ::setenv("PATH", oldPath.c_str(), 1);
  ASSERT_TRUE(report.started);
  ASSERT_TRUE(WaitForFile(out));
  EXPECT_EQ(ReadText(out), manual.string());
}

// How a watched program ended reaches its handler from the watching thread: the exit status
// or the signal. A program that cannot start reports at once and never calls the handler.
TEST(StartWatchedProgram, ReportsHowTheProgramEnded) {
  const struct {
    const char* script;
    bool exited;
    int status, signalNumber;
  } cases[] = {{"exit 0", true, 0, 0}, {"echo 'no method available' >&2; exit 3", true, 3, 0}, {"kill -9 $$", false, 0, 9}};
  for (const auto& c : cases) {
    // Shared with the watching thread, which may still be inside set_value when get returns.
    const auto ended = std::make_shared<std::promise<ProgramExit>>();
    std::future<ProgramExit> report = ended->get_future();
    ASSERT_TRUE(StartWatchedProgram({"sh", "-c", c.script}, [ended](const ProgramExit& e) { ended->set_value(e); }).started);
    const ProgramExit exit = report.get();
    EXPECT_EQ(std::tuple(exit.exited, exit.status, exit.signalNumber), std::tuple(c.exited, c.status, c.signalNumber))
        << c.script;
  }
  EXPECT_EQ(StartWatchedProgram({"tessary-no-such-program"}, [](const ProgramExit&) { FAIL(); }).errorNumber, ENOENT);
}

// The caller has control back while the program runs (a reader left open holds nothing up),
// and once it ended it is reaped: no zombie is left.
TEST(StartWatchedProgram, ReturnsWhileTheProgramRunsAndLeavesNoZombie) {
  TempFolder folder;
  const auto ended = std::make_shared<std::promise<int>>();
  std::future<int> status = ended->get_future();
  const std::string wait = "while [ ! -e \"$1\" ]; do sleep 0.01; done; exit 5";
  ASSERT_TRUE(StartWatchedProgram({"sh", "-c", wait, "sh", (folder / "go").string()},
                                  [ended](const ProgramExit& e) { ended->set_value(e.status); }).started);
  EXPECT_EQ(status.wait_for(std::chrono::seconds(0)), std::future_status::timeout) << "it waits for the file";
  WriteAllText(folder / "go", "");
  EXPECT_EQ(status.get(), 5);
  int ignored = 0;
  EXPECT_EQ(::waitpid(-1, &ignored, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

}  // namespace
}  // namespace grainforge::platform
