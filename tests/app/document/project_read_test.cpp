// Why a project did not open, and a reader that runs out of memory answering rather than
// ending the program.
#include "app/document/project_file.h"

#include "engine/mesh/json_settings.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

#if defined(__SANITIZE_ADDRESS__)
#define TESSARY_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSARY_ADDRESS_SANITIZER 1
#endif
#endif

namespace grainforge::app {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;

const std::string kProjectHead = R"({"application": "Grainforge project", "part": {"testShape": "cube"})";
const std::string kProjectText = kProjectHead + "}";

std::string ReadError(const fs::path& path)
{
    ProjectData data;
    std::string error;
    return ReadProject(path, data, error) ? std::string("read") : error;
}

void MakeSparse(const fs::path& path, std::uint64_t size)
{
    test::WriteAllText(path, "{}");
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
}

TEST(ReadProject, SaysWhyAFileCouldNotBeReadAsAProject)
{
    const struct {
        const char* name;
        std::function<fs::path(const TempFolder&)> make;
        std::string error;
        bool unprivileged = false;
    } cases[] = {
        {"missing", [](const TempFolder& f) { return f / "none.gfproj"; }, "the file was not found"},
        {"missing folder", [](const TempFolder& f) { return f / "none" / "p.gfproj"; }, "the file was not found"},
        {"a file on the way",
         [](const TempFolder& f) {
             test::WriteAllText(f / "file", "");
             return f / "file" / "p.gfproj";
         },
         "the file was not found"},
        {"folder",
         [](const TempFolder& f) {
             fs::create_directory(f / "p.gfproj");
             return f / "p.gfproj";
         },
         "the file is not a regular file: it is a folder"},
        {"named pipe",
         [](const TempFolder& f) {
             ::mkfifo((f / "p.gfproj").c_str(), 0600);
             return f / "p.gfproj";
         },
         "the file is not a regular file: it is a named pipe"},
        {"device", [](const TempFolder&) { return fs::path("/dev/zero"); }, "the file is not a regular file: it is a device"},
        {"5 GB",
         [](const TempFolder& f) {
             MakeSparse(f / "p.gfproj", 5000000000ull);
             return f / "p.gfproj";
         },
         "the file is too large to be a project: it holds 5,000,000,000 bytes, and a project is at most 16 MiB"},
        {"a byte over the limit",
         [](const TempFolder& f) {
             MakeSparse(f / "p.gfproj", mesh::kMaxJsonFileBytes + 1);
             return f / "p.gfproj";
         },
         "the file is too large to be a project: it holds 16,777,217 bytes, and a project is at most 16 MiB"},
        {"at the limit",
         [](const TempFolder& f) {
             std::string text = kProjectText;
             text.resize(mesh::kMaxJsonFileBytes, ' ');
             test::WriteAllText(f / "p.gfproj", text);
             return f / "p.gfproj";
         },
         "read"},
        {"not JSON",
         [](const TempFolder& f) {
             test::WriteAllText(f / "p.gfproj", "{ not json");
             return f / "p.gfproj";
         },
         "the file is not a project (it could not be read as one)"},
        {"no permission",
         [](const TempFolder& f) {
             test::WriteAllText(f / "p.gfproj", kProjectText);
             fs::permissions(f / "p.gfproj", fs::perms::none);
             return f / "p.gfproj";
         },
         "the file could not be opened: Permission denied", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        fs::permissions(folder.Path(), fs::perms(0755));
        const fs::path path = c.make(folder);
        if (!c.unprivileged) {
            EXPECT_EQ(ReadError(path), c.error);
            continue;
        }
        // Root reads whatever the permission bits say: the row runs as nobody.
        const std::optional<std::string> error = test::RunUnprivileged([&] { return ReadError(path); });
        if (!error) {
            std::printf("skipped \"%s\": could not drop root privileges\n", c.name);
            continue;
        }
        EXPECT_EQ(*error, c.error);
    }
}

// Set for a copy of this program started to read one project under a memory limit:
// "<headroom in bytes>:<project path>".
constexpr const char* kLimitedReadRequest = "TESSARY_TEST_READ_PROJECT_WITHIN";

// In a copy started by ReadWithin, before the tests: limits the address space to what is mapped
// now and the headroom, reads the project, prints the reader's answer and ends. A copy whose
// reader lets an exception escape ends without an answer.
[[maybe_unused]] const bool kLimitedReadDone = [] {
    const char* request = std::getenv(kLimitedReadRequest);
    if (request == nullptr)
        return false;
    char* pathStart = nullptr;
    const std::uint64_t headroom = std::strtoull(request, &pathStart, 10);
    std::ifstream status("/proc/self/status");
    std::uint64_t virtualKiB = 0;
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmSize:", 0) == 0)
            virtualKiB = std::stoull(line.substr(7));
    const rlimit limit{(virtualKiB << 10) + headroom, RLIM_INFINITY};
    if (virtualKiB == 0 || ::setrlimit(RLIMIT_AS, &limit) != 0)
        std::_Exit(2);
    std::printf("answer: %s\n", ReadError(pathStart + 1).c_str());
    std::fflush(stdout);
    std::_Exit(0);
}();

// The reader's answer for `path` from a new copy of this program whose address space may grow
// by `headroom` bytes. A new process rather than a forked one: memory this process freed but
// still holds would be drawn on beyond the limit.
std::string ReadWithin(const fs::path& path, std::uint64_t headroom)
{
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry)
        environment.emplace_back(*entry);
    environment.push_back(std::string(kLimitedReadRequest) + "=" + std::to_string(headroom) + ":" + path.string());
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    char program[] = "/proc/self/exe";
    char* argv[] = {program, nullptr};
    int out[2];
    if (::pipe(out) != 0)
        return "no pipe";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid = 0;
    const bool started = ::posix_spawn(&pid, program, &actions, nullptr, argv, envp.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t got; started && (got = ::read(out[0], buffer, sizeof buffer)) != 0;)
        if (got > 0)
            text.append(buffer, static_cast<std::size_t>(got));
        else if (errno != EINTR)
            break;
    ::close(out[0]);
    int status = 0;
    while (started && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const std::size_t answer = text.find("answer: ");
    if (!started || answer == std::string::npos)
        return "no answer";
    return text.substr(answer + 8, text.find('\n', answer) - answer - 8);
}

// `middle` repeated `count` times between `open` and `close` (built by appending: GCC 12 warns
// falsely on long chains of + here).
std::string Repeated(std::string_view open, std::string_view middle, std::size_t count, std::string_view close)
{
    std::string text(open);
    text.reserve(open.size() + middle.size() * count + close.size());
    for (std::size_t i = 0; i < count; ++i)
        text.append(middle);
    text.append(close);
    return text;
}

// Projects under the size limit whose documents need far more memory than the child has:
// the reader must say so and the child go on, whatever the document's shape (a half-built
// document used to be freed by a destructor that itself allocates, ending the program).
TEST(ReadProject, RunningOutOfMemoryIsAnAnswerNotAnAbort)
{
#ifdef TESSARY_ADDRESS_SANITIZER
    GTEST_SKIP() << "the address sanitizer's allocator ends the process when memory runs out";
#endif
    const std::string shortList = Repeated("[", "0,", 100, "0],");
    const std::string longList = Repeated("[", "0,", 1000, "0]");
    const std::pair<const char*, std::string> cases[] = {
        {"a long flat list", Repeated("[", "0,", 7000000, "0]")},
        {"an object of lists", [&] {
             std::string members = "{";
             for (int i = 0; i < 7000; ++i)
                 members.append("\"k").append(std::to_string(i)).append("\": ").append(longList).append(",");
             return members.append("\"z\": 0}");
         }()},
        {"many short lists", Repeated("[", shortList, 40000, "0]")},
        {"deep nesting", Repeated("", "[", 6000000, std::string(6000000, ']'))},
    };
    TempFolder folder;
    for (const auto& [name, value] : cases) {
        SCOPED_TRACE(name);
        test::WriteAllText(folder / "p.gfproj", std::string(kProjectHead).append(", \"x\": ").append(value).append("}"));
        ASSERT_LE(fs::file_size(folder / "p.gfproj"), mesh::kMaxJsonFileBytes);
        EXPECT_EQ(ReadWithin(folder / "p.gfproj", std::uint64_t{48} << 20), kProjectMemoryError);
    }
}

}  // namespace
}  // namespace grainforge::app
