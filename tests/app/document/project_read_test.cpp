// Why a project did not open, and a reader that runs out of memory answering rather than
// ending the program.
#include "app/document/project_file.h"
#include "app/document/project_values.h"

#include "engine/files/json_settings.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <tuple>

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

std::string ReadError(const fs::path& path)
{
    ProjectData data;
    std::string error;
    return ReadProject(path, data, error) ? std::string("read") : error;
}

TEST(ReadProject, SaysWhyAFileCouldNotBeReadAsAProject)
{
    enum class Make { Nothing, FileOnTheWay, Folder, Pipe, Sparse, Padded, Text, Deep, Locked };
    const std::string tooLarge = "the file is too large to be a project: it holds ";
    const struct {
        const char* name;
        Make make;
        std::uint64_t size;
        std::string error;
    } cases[] = {
        // "@" stands for the temporary folder: what is in the way is named.
        {"none/p.gfproj", Make::Nothing, 0, "the file was not found: @/none/p.gfproj (the folder @/none is not there)"},
        {"file/p.gfproj", Make::FileOnTheWay, 0,
            "the file was not found: @/file/p.gfproj (@/file on its way is not a folder)"},
        {"p.gfproj", Make::Folder, 0, "the file is not a regular file: it is a folder"},
        {"p.gfproj", Make::Pipe, 0, "the file is not a regular file: it is a named pipe"},
        {"/dev/zero", Make::Nothing, 0, "the file is not a regular file: it is a device"},
        {"p.gfproj", Make::Sparse, 5000000000ull, tooLarge + "5,000,000,000 bytes, and a project is at most 16 MiB"},
        {"p.gfproj", Make::Sparse, mesh::kMaxJsonFileBytes + 1, tooLarge + "16,777,217 bytes, and a project is at most 16 MiB"},
        {"p.gfproj", Make::Padded, mesh::kMaxJsonFileBytes, "read"},
        {"p.gfproj", Make::Text, 0, "the file is not a project (it could not be read as one)"},
        // A member nested 100,000 deep once ended the program while its value was named.
        {"p.gfproj", Make::Deep, 0, "the file is not a project (its values are nested more than 256 deep)"},
        {"p.gfproj", Make::Locked, 0, "the file could not be opened: Permission denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        TempFolder folder;
        fs::permissions(folder.Path(), fs::perms(0755));
        const fs::path path = folder / c.name;
        if (c.make == Make::FileOnTheWay)
            test::WriteAllText(folder / "file", "");
        if (c.make == Make::Folder)
            fs::create_directory(path);
        if (c.make == Make::Pipe) {
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        }
        if (c.make == Make::Sparse)
            test::WriteAllText(path, "{}");
        if (c.make == Make::Padded || c.make == Make::Locked)
            test::WriteAllText(path, std::string(kProjectHead).append("}").append(c.size ? c.size - 67 : 0, ' '));
        if (c.make == Make::Text)
            test::WriteAllText(path, "{ not json");
        if (c.make == Make::Deep) {
            const std::size_t depth = 100000;
            std::string text = kProjectHead;
            text += R"(, "remesh": {"rounds": )" + std::string(depth, '[') + std::string(depth, ']') + "}}";
            test::WriteAllText(path, text);
        }
        if (c.size != 0) {
            ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(c.size)), 0);
        }
        if (c.make != Make::Locked) {
            std::string expected = c.error;
            for (std::size_t at = expected.find('@'); at != std::string::npos; at = expected.find('@'))
                expected.replace(at, 1, folder.Path().string());
            EXPECT_EQ(ReadError(path), expected);
            continue;
        }
        // Root reads whatever the permission bits say: the row runs as nobody.
        fs::permissions(path, fs::perms::none);
        const std::optional<std::string> error = test::RunUnprivileged([&] { return ReadError(path); });
        if (error) {
            EXPECT_EQ(*error, c.error);
        } else {
            std::printf("skipped the permission row: could not drop root privileges\n");
        }
    }
}

// Set for a copy of this program started to read one project under a memory limit:
// "<headroom in bytes>:<project path>".
constexpr const char* kLimitedReadRequest = "TESSARY_TEST_READ_PROJECT_WITHIN";

// In such a copy, before any test: limits the address space to what is mapped now and the
// headroom, reads the project, prints the reader's answer and ends. A reader that lets an
// exception escape ends the copy without an answer.
[[maybe_unused]] const bool kLimitedReadDone = [] {
    const char* request = std::getenv(kLimitedReadRequest);
    if (request == nullptr)
        return false;
    char* path = nullptr;
    const std::uint64_t headroom = std::strtoull(request, &path, 10);
    std::ifstream status("/proc/self/status");
    std::uint64_t virtualKiB = 0;
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmSize:", 0) == 0)
            virtualKiB = std::stoull(line.substr(7));
    const rlimit limit{(virtualKiB << 10) + headroom, RLIM_INFINITY};
    if (virtualKiB == 0 || ::setrlimit(RLIMIT_AS, &limit) != 0)
        std::_Exit(2);
    std::printf("%s\n", ReadError(path + 1).c_str());
    std::fflush(stdout);
    std::_Exit(0);
}();

// The reader's answer from a new copy of this program whose address space may grow by
// `headroom` bytes. A new process rather than a forked one: memory this process freed but
// still holds would be drawn on beyond the limit.
std::string ReadWithin(const fs::path& path, std::uint64_t headroom)
{
    const std::string request = std::to_string(headroom) + ":" + path.string();
    ::setenv(kLimitedReadRequest, request.c_str(), 1);
    const std::string command = std::string("'").append(fs::read_symlink("/proc/self/exe").string()).append("'");
    FILE* copy = ::popen(command.c_str(), "r");
    ::unsetenv(kLimitedReadRequest);
    char answer[256] = "no answer";
    if (copy == nullptr || std::fgets(answer, sizeof answer, copy) == nullptr)
        std::snprintf(answer, sizeof answer, "no answer");
    if (copy != nullptr)
        ::pclose(copy);
    return std::string(answer).substr(0, std::string_view(answer).find('\n'));
}

std::string Repeated(std::string text, std::string_view piece, std::size_t count, std::string_view close)
{
    for (std::size_t i = 0; i < count; ++i)
        text.append(piece);
    return text.append(close);
}

// Projects under the size limit whose documents need far more memory than the copy has: the
// reader must say so, whatever the document's shape (a half-built document used to be freed
// by a destructor that itself allocates, and that ended the program).
// A volume the program placed round a part far out keeps the place it was given, past the
// fields' range; the check of what a project holds judges it by the rule it was held to, not
// by the field's (it called a mask of 1e30 mm, read as placed, out of range).
TEST(ReadProject, ValuesPlacedPastTheFieldsHoldAsTheyStand)
{
    const struct {
        const char* member;
        const char* key;
        int element;
        double kept;  // what is read back, or NaN for a value the reader moves
    } cases[] = {
        {R"("maskCount": 1, "mask0": {"size": [1, 1e30, 1]})", "mask0.size", 1, 1e30},
        {R"("maskCount": 1, "mask0": {"center": [-1e30, 0, 0]})", "mask0.center", 0, -1e30},
        {R"("maskCount": 1, "mask0": {"size": [1, 1e39, 1]})", "mask0.size", 1, std::nan("")},
        {R"("maskCount": 1, "mask0": {"size": [1, -4, 1]})", "mask0.size", 1, std::nan("")},
        {R"("projection": {"cage": {"center": [1e30, 0, 0]}})", "projection.cage.center", 0, 1e30},
        {R"("projection": {"cage": {"size": [1, 1e30, 1]}})", "projection.cage.size", 1, 1e30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.member);
        TempFolder folder;
        const fs::path path = folder / "p.gfproj";
        std::ofstream(path) << kProjectHead << ", " << c.member << "}";
        ProjectData data;
        std::string error;
        ASSERT_TRUE(ReadProject(path, data, error)) << error;
        bool found = false;
        for (const ProjectNumber& number : ListProjectNumbers(data)) {
            EXPECT_TRUE(HoldsAsItStands(number)) << number.name << " " << ShownValue(number);
            if (number.key == c.key && number.element == c.element) {
                found = true;
                if (std::isnan(c.kept))
                    EXPECT_TRUE(std::isfinite(ShownValue(number)));
                else
                    EXPECT_EQ(ShownValue(number), static_cast<double>(static_cast<float>(c.kept)));
            }
        }
        EXPECT_TRUE(found);
    }
}

TEST(ReadProject, RunningOutOfMemoryIsAnAnswerNotAnAbort)
{
#ifdef TESSARY_ADDRESS_SANITIZER
    GTEST_SKIP() << "the address sanitizer's allocator ends the process when memory runs out";
#endif
    const std::string list = Repeated("[", "0,", 1000, "0],");
    std::string objectOfLists = "{";
    for (int i = 0; i < 7000; ++i)
        objectOfLists.append("\"k").append(std::to_string(i)).append("\": ").append(list);
    const std::string tooDeep = "the file is not a project (its values are nested more than 256 deep)";
    const std::tuple<const char*, std::string, std::string> cases[] = {
        {"a long flat list", Repeated("[", "0,", 7000000, "0]"), kProjectMemoryError},
        {"an object of lists", objectOfLists.append("\"z\": 0}"), kProjectMemoryError},
        {"many short lists", Repeated("[", Repeated("[", "0,", 100, "0],"), 40000, "0]"), kProjectMemoryError},
        // Refused for its depth before it can take the memory.
        {"deep nesting", Repeated("", "[", 6000000, std::string(6000000, ']')), tooDeep},
    };
    TempFolder folder;
    for (const auto& [name, value, answer] : cases) {
        SCOPED_TRACE(name);
        test::WriteAllText(folder / "p.gfproj", std::string(kProjectHead).append(", \"x\": ").append(value).append("}"));
        ASSERT_LE(fs::file_size(folder / "p.gfproj"), mesh::kMaxJsonFileBytes);
        EXPECT_EQ(ReadWithin(folder / "p.gfproj", std::uint64_t{48} << 20), answer);
    }
}

}  // namespace
}  // namespace grainforge::app
