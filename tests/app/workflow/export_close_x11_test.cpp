// A "Save STL" check of a million-triangle part cancelled mid-run, then the main window closed:
// the program (export_close_driver, the real program with a scripted user) must end cleanly,
// with no sanitizer report from a worker outliving its dialog, within its 5 s exit wait.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_meshes.h"
#include "engine/files/stl_writer.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"


namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The driver with its own HOME and profile, standard output on a pipe, standard error in a file.
class DriverProcess {
public:
  DriverProcess(const grainforge::test::TempFolder& folder, const std::filesystem::path& part) {
    std::vector<std::string> environment = grainforge::test::EnvironmentWithHome(folder.Path());
    std::vector<std::string> args{EXPORT_CLOSE_DRIVER, part.string()};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    int out[2];
    if (pipe(out) != 0) return;
    const std::string errors = (folder / "stderr.txt").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    started_ = posix_spawn(&pid_, EXPORT_CLOSE_DRIVER, &actions, nullptr, argv.data(), envp.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
  }
  ~DriverProcess() {
    if (started_ && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  bool Started() const { return started_; }

  // Reads standard output until a line starting with `prefix`; the line, or empty after `cap`
  // or at the end of the output.
  std::string WaitForLine(const std::string& prefix, std::chrono::seconds cap) {
    const auto end = Clock::now() + cap;
    while (true) {
      for (std::size_t at; (at = pending_.find('\n')) != std::string::npos;) {
        const std::string line = pending_.substr(0, at);
        pending_.erase(0, at + 1);
        if (line.rfind(prefix, 0) == 0) return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
      if (left <= 0) return {};
      pollfd ready{out_, POLLIN, 0};
      if (poll(&ready, 1, static_cast<int>(left)) <= 0) continue;
      char buffer[256];
      const ssize_t got = read(out_, buffer, sizeof buffer);
      if (got <= 0) return {};
      pending_.append(buffer, static_cast<std::size_t>(got));
    }
  }
  // The wait status once the process ended within the cap; nothing when it still runs.
  std::optional<int> WaitForExit(std::chrono::seconds cap) {
    const auto end = Clock::now() + cap;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) != pid_) {
      if (Clock::now() > end) return std::nullopt;
      usleep(5000);
    }
    exited_ = true;
    return status;
  }

private:
  pid_t pid_ = 0;
  bool started_ = false;
  bool exited_ = false;
  int out_ = -1;
  std::string pending_;
};

TEST(ExportCloseX11Test, ClosingTheDialogMidCheckOnAMillionTrianglesEndsTheProgramCleanlyWithinTheExitWait) {
  grainforge::test::TempFolder folder;
  const std::filesystem::path part = folder / "bumpy.stl";
  {
    const grainforge::mesh::TriangleMesh mesh = grainforge::bench::MakeBumpySphere1M();
    ASSERT_GE(mesh.TriangleCount(), 1000000u);
    grainforge::mesh::StlWriteOptions options;
    options.readBack = false;
    ASSERT_TRUE(grainforge::mesh::WriteStlFile(part, mesh, options).ok);
  }

  DriverProcess program(folder, part);
  ASSERT_TRUE(program.Started());
  // Caps, not measures: a sanitizer build loads and copies the part slowly.
  ASSERT_FALSE(program.WaitForLine("closing the dialog", 600s).empty()) << "the check never ran";
  const std::string closed = program.WaitForLine("dialog closed, checks running: ", 120s);
  ASSERT_FALSE(closed.empty());
  ASSERT_FALSE(program.WaitForLine("closing the main window", 60s).empty());
  const auto closing = Clock::now();
  const std::optional<int> status = program.WaitForExit(60s);
  const double seconds = std::chrono::duration<double>(Clock::now() - closing).count();

  std::ifstream file(folder / "stderr.txt", std::ios::binary);
  const std::string errors((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_TRUE(status.has_value()) << "the program did not end\n" << errors;
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "wait status " << *status << "\n" << errors;
  EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
  EXPECT_EQ(errors.find("runtime error"), std::string::npos) << errors;
  // The exit waits at most 5 s for a check; the rest is room for a slow (sanitizer) teardown.
  EXPECT_LT(seconds, 5.0 + 10.0) << closed;
}

}  // namespace
