// The built program, started as a person would start it: a child process on the test's display
// with its own HOME and XDG_CONFIG_HOME, stopped by SIGTERM as a desktop session stops it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"


namespace {

using namespace std::chrono_literals;

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// Waits for the condition, checking every 50 ms; a cap rather than a measure, so a slow
// (sanitizer) build only waits longer.
bool WaitFor(const std::function<bool()>& condition, std::chrono::seconds cap) {
  const auto end = std::chrono::steady_clock::now() + cap;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

class ProgramProcess {
public:
  // `program`: the executable to start; empty: the one built. `errors`: a file that takes its
  // standard error; empty: the test's own.
  ProgramProcess(const grainforge::test::TempFolder& folder, std::vector<std::string> args,
                 const std::vector<std::string>& extraEnvironment = {}, std::string program = {},
                 const std::filesystem::path& errors = {}) {
    std::vector<std::string> environment = grainforge::test::EnvironmentWithHome(folder.Path());
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    if (program.empty()) program = TESSARY_PROGRAM;
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!errors.empty())
      posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    started_ = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~ProgramProcess() {
    if (started_ && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool Started() const { return started_; }
  void Terminate() { kill(pid_, SIGTERM); }
  // The exit status once the process ended within the cap; -1 when it did not end or died by a
  // signal.
  int WaitForExit(std::chrono::seconds cap) {
    int status = 0;
    const bool ended = WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, cap);
    if (!ended) return -1;
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

private:
  pid_t pid_ = 0;
  bool started_ = false;
  bool exited_ = false;
};

TEST(ProgramProcess, StartsLogsItsReportAndEndsCleanlyOnTerminate) {
  grainforge::test::TempFolder folder;
  std::filesystem::create_directories(folder.Path() / "config" / "Brookvane");
  std::ofstream(folder.Path() / "config" / "Brookvane" / "Tessary.conf") << "[Log]\nDetailed=1\n";
  const std::filesystem::path log = folder.Path() / "log.txt";
  // A file on the command line that cannot be read must not stop the program from starting.
  ProgramProcess program(folder, {"--log-file", log.string(), (folder.Path() / "missing.stl").string()});
  ASSERT_TRUE(program.Started());
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(log); }, 60s)) << "the program did not start";
  program.Terminate();
  EXPECT_EQ(program.WaitForExit(60s), 0);

  const std::string text = ReadText(log);
  EXPECT_EQ(text.rfind("Output log ready.\nTessary ready.\n", 0), 0u) << text;
  EXPECT_NE(text.find("missing.stl"), std::string::npos) << text;
  EXPECT_NE(text.find("Start-up (ms since the process was created, and the phase's own share):"), std::string::npos);
  EXPECT_NE(text.find("  first idle: ready\n"), std::string::npos) << text;
  // The profile keeps the switch and gains the recent-file list.
  const std::string profile = ReadText(folder.Path() / "config" / "Brookvane" / "Tessary.conf");
  EXPECT_NE(profile.find("Detailed=1"), std::string::npos) << profile;
  EXPECT_NE(profile.find("file1="), std::string::npos) << profile;
}

// A settings file that cannot be kept (a folder at its name, or a file where its folder should
// be) once brought a modal box at start that held SIGTERM off for good, and a temporary file at
// every save. The program starts with its defaults, says why once, leaves nothing behind and
// ends on SIGTERM.
TEST(ProgramProcess, SettingsThatCannotBeKeptNeitherHoldTheStartNorLeaveFiles) {
  const struct {
    const char* name;
    bool folderIsAFile;
  } cases[] = {{"a folder at the settings file's name", false}, {"a file where the settings folder should be", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    grainforge::test::TempFolder folder;
    const std::filesystem::path brookvane = folder.Path() / "config" / "Brookvane";
    if (c.folderIsAFile) {
      std::filesystem::create_directories(brookvane.parent_path());
      std::ofstream(brookvane) << "not a folder\n";
    } else {
      std::filesystem::create_directories(brookvane / "Tessary.conf");
    }
    const std::filesystem::path log = folder.Path() / "log.txt";
    ProgramProcess program(folder, {"--log-file", log.string()});
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(log); }, 60s)) << "the program did not start";
    program.Terminate();
    EXPECT_EQ(program.WaitForExit(60s), 0);
    const std::string text = ReadText(log);
    std::size_t said = 0;
    for (std::size_t at = text.find("The settings cannot be kept"); at != std::string::npos;
         at = text.find("The settings cannot be kept", at + 1))
      ++said;
    EXPECT_EQ(said, 1u) << text;
    if (c.folderIsAFile) {
      EXPECT_EQ(ReadText(brookvane), "not a folder\n");
    } else {
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(brookvane), std::filesystem::directory_iterator()), 1)
          << "no temporary file beside the settings";
    }
  }
}

// The log's target with its reason on standard error, as the program says it once start-up is
// done.
std::string LogRefusalLine(const std::filesystem::path& target, const std::string& reason) {
  return "The log could not be written to " + target.string() + ": " + reason + ", which the log never replaces";
}

// The files `cmake --install` puts down under the prefix: every one outside the program's data
// folder (the program, its desktop entry and icons, whatever a new install rule adds), and one
// of each folder of its data, whose files are the program's by their folder (help pages,
// presets, resources, textures) or by name (the manual).
std::vector<std::filesystem::path> InstalledFilesToTry(const std::filesystem::path& prefix) {
  const std::filesystem::path data = prefix / "share" / "tessary";
  std::vector<std::filesystem::path> files, dataFolders;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(prefix)) {
    if (!entry.is_regular_file()) continue;
    const std::filesystem::path inData = entry.path().lexically_relative(data);
    if (inData.empty() || *inData.begin() == "..") {
      files.push_back(entry.path());
      continue;
    }
    const std::filesystem::path folder = *inData.begin();
    if (std::find(dataFolders.begin(), dataFolders.end(), folder) != dataFolders.end()) continue;
    dataFolders.push_back(folder);
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// An installed copy the user can write: `--log-file` onto the program itself left a text file and
// a program that no longer started, onto the desktop entry or the icon left the desktop without
// them, and onto a help page or the manual replaced them. Each file the install step writes is
// refused and stays as it was.
TEST(ProgramProcess, TheLogFileNeverReplacesTheInstalledProgramOrItsData) {
  grainforge::test::TempFolder folder;
  const std::filesystem::path prefix = folder.Path() / "prefix", program = prefix / "bin" / "tessary";
  const std::string install = std::string("\"") + TESSARY_CMAKE_COMMAND + "\" --install \"" + TESSARY_BUILD_FOLDER +
                              "\" --prefix \"" + prefix.string() + "\" > /dev/null";
  ASSERT_EQ(std::system(install.c_str()), 0) << install;
  const std::vector<std::filesystem::path> installed = InstalledFilesToTry(prefix);
  for (const char* expected : {"bin/tessary", "share/applications/tessary.desktop", "share/tessary/help"})
    EXPECT_TRUE(std::any_of(installed.begin(), installed.end(), [&](const std::filesystem::path& file) {
      return file.string().find(expected) != std::string::npos;
    })) << expected;
  const std::filesystem::path errors = folder.Path() / "errors.txt";
  for (const std::filesystem::path& target : installed) {
    SCOPED_TRACE(target);
    const std::string before = ReadText(target);
    ProgramProcess run(folder, {"--log-file", target.string()}, {}, program.string(), errors);
    ASSERT_TRUE(run.Started());
    // Refused as the program's own or, for a factory preset, as a preset.
    const std::string refused = "The log could not be written to " + target.string() + ": it is ";
    EXPECT_TRUE(WaitFor([&] {
      const std::string said = ReadText(errors);
      return said.find(refused) != std::string::npos && said.find(", which the log never replaces") != std::string::npos;
    }, 60s)) << ReadText(errors);
    run.Terminate();
    EXPECT_EQ(run.WaitForExit(60s), 0);
    EXPECT_TRUE(ReadText(target) == before);
  }
}

// A file in the program's settings folder is a log only when the program wrote it as one: a
// notes file that begins "Output log ready." was replaced. The log the program wrote there is
// replaced by the next run's, also after a restart, until the user edits it.
TEST(ProgramProcess, OnlyALogTheProgramWroteIsReplacedInItsFolders) {
  grainforge::test::TempFolder folder;
  const std::filesystem::path settings = folder.Path() / "config" / "Brookvane";
  std::filesystem::create_directories(settings);
  const std::filesystem::path notes = settings / "notes.txt", log = settings / "run.txt";
  std::ofstream(notes) << "Output log ready.\nmy notes\n";
  const std::filesystem::path errors = folder.Path() / "errors.txt";
  const auto inode = [](const std::filesystem::path& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 ? info.st_ino : ino_t{0};
  };
  // Said as it is: the user's notes are no file of the program's, but they lie in its folder.
  const std::string ownFile = "it is a file in the program's own folder " + settings.string();
  const struct {
    const char* name;
    std::filesystem::path target;
    std::function<void()> before;
    bool replaced;
  } runs[] = {
      {"a notes file that begins as a log", notes, [] {}, false},
      {"a new name", log, [] {}, true},
      {"the log the last run wrote", log, [] {}, true},
      {"that log once the user added to it", log, [&] { std::ofstream(log, std::ios::app) << "my own line\n"; }, false},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.name);
    run.before();
    const std::string before = ReadText(run.target);
    const ino_t inodeBefore = inode(run.target);
    std::filesystem::remove(errors);
    {
      ProgramProcess program(folder, {"--log-file", run.target.string()}, {}, {}, errors);
      ASSERT_TRUE(program.Started());
      const std::string refused = LogRefusalLine(run.target, ownFile);
      EXPECT_TRUE(WaitFor([&] {
        return run.replaced ? inode(run.target) != inodeBefore : ReadText(errors).find(refused) != std::string::npos;
      }, 60s)) << ReadText(errors);
      program.Terminate();
      EXPECT_EQ(program.WaitForExit(60s), 0);
    }
    if (run.replaced) {
      EXPECT_EQ(ReadText(run.target).rfind("Output log ready.\nTessary ready.\n", 0), 0u);
      EXPECT_EQ(ReadText(errors).find(ownFile), std::string::npos) << ReadText(errors);
    } else {
      EXPECT_TRUE(ReadText(run.target) == before);
    }
  }
}

// A project given on the command line whose member is nested 100,000 deep ended the program
// with a segmentation fault while the member was named; it is refused with its reason, and the
// program runs on and ends cleanly.
TEST(ProgramProcess, AProjectNestedDeeperThanAnyIsRefusedNotACrash) {
  grainforge::test::TempFolder folder;
  const std::filesystem::path project = folder.Path() / "deep.gfproj", log = folder.Path() / "log.txt";
  const std::size_t depth = 100000;
  std::ofstream(project) << R"({"application": "Grainforge project", "part": {"testShape": "cube"}, "remesh": {"rounds": )"
                         << std::string(depth, '[') << std::string(depth, ']') << "}}";
  ProgramProcess program(folder, {"--log-file", log.string(), project.string()});
  ASSERT_TRUE(program.Started());
  const std::string refused = "Project not opened: the file is not a project (its values are nested more than 256 deep)";
  EXPECT_TRUE(WaitFor([&] { return ReadText(log).find(refused) != std::string::npos; }, 60s)) << ReadText(log);
  program.Terminate();
  EXPECT_EQ(program.WaitForExit(60s), 0);
}

// Under a window manager the window used to be mapped at a few pixels while the manager's frame
// was awaited, and GTK logged three criticals at every start. With criticals made fatal the
// program must still start and end cleanly. (Needs a window manager: openbox, when installed.)
TEST(ProgramProcess, StartsUnderAWindowManagerWithoutGtkCriticals) {
  const char* openbox = "/usr/bin/openbox";
  if (access(openbox, X_OK) != 0) GTEST_SKIP() << "no window manager to start";
  pid_t manager = 0;
  char* managerArgs[] = {const_cast<char*>(openbox), nullptr};
  ASSERT_EQ(posix_spawn(&manager, openbox, nullptr, nullptr, managerArgs, environ), 0);
  std::this_thread::sleep_for(1s);  // lets it take the display before the program maps

  grainforge::test::TempFolder folder;
  const std::filesystem::path log = folder.Path() / "log.txt";
  {
    ProgramProcess program(folder, {"--log-file", log.string()}, {"G_DEBUG=fatal-criticals"});
    ASSERT_TRUE(program.Started());
    const bool started = WaitFor([&] { return std::filesystem::exists(log); }, 60s);
    program.Terminate();
    EXPECT_TRUE(started) << "the program did not start";
    EXPECT_EQ(program.WaitForExit(60s), 0);
  }
  kill(manager, SIGTERM);
  waitpid(manager, nullptr, 0);
}

}  // namespace
