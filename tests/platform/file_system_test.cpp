#include "platform/file_system.h"

#include "platform/random_source.h"
#include "platform/system_error.h"
#include "tests/support/non_regular_files.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>

#include <cerrno>
#include <tuple>
#include <functional>

namespace grainforge::platform {
namespace {

using test::TempFolder;

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(QueryFileSize, GivesTheSizeOrTheReasonItCannot)
{
    TempFolder folder;
    test::WriteAllText(folder / "five", "12345");
    std::filesystem::create_directory(folder / "dir");
    std::filesystem::create_symlink("five", folder / "link");

    EXPECT_TRUE(QueryFileSize(folder / "five").ok && QueryFileSize(folder / "five").size == 5u);
    EXPECT_EQ(QueryFileSize(folder / "link").size, 5u) << "links are followed";
    EXPECT_EQ(QueryFileSize(folder / "missing").error, ENOENT);
    EXPECT_EQ(QueryFileSize(folder / "dir").error, EISDIR);
    EXPECT_EQ(QueryFileSize("/dev/null").error, EINVAL) << "a device has no file size";
    EXPECT_FALSE(QueryFileSize(folder / "five" / "below").ok);
}

TEST(ReadFileBytes, ReadsExactlyTheExpectedBytesOrSaysWhyNot)
{
    TempFolder folder;
    test::WriteAllText(folder / "data", "abcdef");
    EXPECT_EQ(ReadFileBytes(folder / "data", 3).bytes, Bytes("abc"));
    EXPECT_EQ(ReadFileBytes(folder / "data", 0).status, ReadStatus::Ok);
    const ReadResult shorter = ReadFileBytes(folder / "data", 10);
    EXPECT_EQ(shorter.status, ReadStatus::ShortRead);
    EXPECT_EQ(shorter.bytes, Bytes("abcdef"));
    const ReadResult missing = ReadFileBytes(folder / "missing", 1);
    EXPECT_TRUE(missing.status == ReadStatus::OpenFailed && missing.error == ENOENT);
}

// Each way of reading a file refuses a pipe, a folder or a device at once, before reading.
TEST(OpenRegularFile, NamedPipeFolderAndDeviceAreRefusedAtOnce)
{
    TempFolder folder;
    using Outcome = std::tuple<int, int>;  // status, error
    const std::pair<const char*, std::function<Outcome(const std::filesystem::path&)>> readers[] = {
        {"OpenRegularFile", [](const std::filesystem::path& p) {
             const OpenedFile opened = OpenRegularFile(p);
             return Outcome(opened.status == OpenStatus::NotRegularFile, opened.error);
         }},
        {"QueryFileSize", [](const std::filesystem::path& p) {
             const FileSizeResult size = QueryFileSize(p);
             return Outcome(!size.ok, size.error);
         }},
        {"ReadFileBytes", [](const std::filesystem::path& p) {
             const ReadResult read = ReadFileBytes(p, 10);
             return Outcome(read.status == ReadStatus::NotRegularFile && read.bytes.empty(), read.error);
         }},
        {"ReadWholeFile", [](const std::filesystem::path& p) {
             const ReadResult read = ReadWholeFile(p, 10);
             return Outcome(read.status == ReadStatus::NotRegularFile && read.bytes.empty(), read.error);
         }},
    };
    for (const test::NonRegularFile& file : test::MakeNonRegularFiles(folder.Path(), "input")) {
        for (const auto& [name, read] : readers) {
            SCOPED_TRACE(std::string(name) + " on a " + file.kind);
            const auto outcome = test::CallWithin<Outcome>([read = read, path = file.path] { return read(path); });
            ASSERT_TRUE(outcome) << "still waiting";
            EXPECT_EQ(*outcome, Outcome(1, file.kind == "folder" ? EISDIR : EINVAL));
        }
    }
}

TEST(ReadWholeFile, ReadsTheFileOrRefusesOneAboveTheLimitBeforeReading)
{
    TempFolder folder;
    test::WriteAllText(folder / "data", "abcdef");
    const ReadResult whole = ReadWholeFile(folder / "data", 6);
    EXPECT_EQ(std::tuple(whole.status, whole.bytes, whole.size), std::tuple(ReadStatus::Ok, Bytes("abcdef"), 6u));
    const ReadResult large = ReadWholeFile(folder / "data", 5);
    EXPECT_EQ(std::tuple(large.status, large.bytes.size(), large.size), std::tuple(ReadStatus::TooLarge, 0u, 6u));
    EXPECT_EQ(ReadWholeFile(folder / "missing", 5).status, ReadStatus::OpenFailed);
    const OpenedFile missing = OpenRegularFile(folder / "missing");
    EXPECT_EQ(std::tuple(missing.status, missing.error), std::tuple(OpenStatus::Unreachable, ENOENT));
}

TEST(ResolveWriteTarget, FollowsLinksToTheFileTheyName)
{
    TempFolder folder;
    std::filesystem::create_directory(folder / "a");
    test::WriteAllText(folder / "a" / "real.stl", "x");
    std::filesystem::create_symlink("a/real.stl", folder / "relative");
    std::filesystem::create_symlink(folder / "relative", folder / "chain");
    std::filesystem::create_symlink("a/not-yet.stl", folder / "dangling");
    std::filesystem::create_symlink("loop2", folder / "loop1");
    std::filesystem::create_symlink("loop1", folder / "loop2");

    const std::pair<const char*, const char*> links[] = {{"a/real.stl", "a/real.stl"}, {"relative", "a/real.stl"},
        {"chain", "a/real.stl"}, {"dangling", "a/not-yet.stl"}, {"new.stl", "new.stl"}};
    for (const auto& [name, target] : links)
        EXPECT_EQ(ResolveWriteTarget(folder / name), folder / target) << name;
    const std::filesystem::path loop = ResolveWriteTarget(folder / "loop1");  // ends; must not hang
    EXPECT_TRUE(loop == folder / "loop1" || loop == folder / "loop2");
}

TEST(ExclusiveFile, CreatesOnlyNewFilesWithTheGivenPermissionBits)
{
    TempFolder folder;
    test::WriteAllText(folder / "target", "old");
    ::chmod((folder / "target").c_str(), 04640);  // set-user-id must not be copied to a new file
    int error = 0;
    ExclusiveFile file = ExclusiveFile::Create(folder / "new", folder / "target", &error);
    ASSERT_TRUE(file.IsOpen()) << error;
    ASSERT_TRUE(file.WriteAll("hello", 5, &error));
    ASSERT_TRUE(file.SyncAndClose(&error));  // and closed: a later write fails below
    EXPECT_EQ(test::ReadAllBytes(folder / "new"), Bytes("hello"));
    struct stat info {};
    ASSERT_EQ(::stat((folder / "new").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    error = 0;
    EXPECT_FALSE(ExclusiveFile::Create(folder / "new", {}, &error).IsOpen());
    EXPECT_EQ(error, EEXIST);
    EXPECT_EQ(test::ReadAllBytes(folder / "new"), Bytes("hello")) << "an existing file is never truncated";

    EXPECT_FALSE(file.WriteAll("x", 1, &error) || file.SyncAndClose(&error));  // closed
    EXPECT_EQ(error, EBADF);

    // Without a target file the new one gets the default bits under the umask.
    const mode_t mask = ::umask(022);
    ExclusiveFile plain = ExclusiveFile::Create(folder / "plain", folder / "missing", &error);
    const bool created = plain.IsOpen() && plain.SyncAndClose(&error);
    ::umask(mask);
    ASSERT_TRUE(created) << error;
    ASSERT_EQ(::stat((folder / "plain").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST(ReplaceFile, RenamesOverTheTargetOrFailsWithTheSystemError)
{
    TempFolder folder;
    test::WriteAllText(folder / "from", "new");
    test::WriteAllText(folder / "to", "old");
    EXPECT_EQ(ReplaceFile(folder / "from", folder / "to"), 0);
    EXPECT_EQ(test::ReadAllBytes(folder / "to"), Bytes("new"));
    EXPECT_FALSE(std::filesystem::exists(folder / "from"));

    EXPECT_EQ(ReplaceFile(folder / "missing", folder / "to"), ENOENT);
    std::filesystem::create_directory(folder / "dir");
    EXPECT_EQ(ReplaceFile(folder / "to", folder / "dir"), EISDIR);
    EXPECT_EQ(test::ReadAllBytes(folder / "to"), Bytes("new"));

    for (int twice = 0; twice < 2; ++twice)
        RemoveFileQuietly(folder / "to");  // the second time already gone: nothing to report
    EXPECT_EQ(folder.List(), std::vector<std::string>{"dir"});
}

// A new name is never taken from what holds it (a file, a dangling link, a folder), also when
// it came after a check found the name free; the refusing rename and the hard link act alike.
TEST(PlaceNewFile, NeverReplacesWhatHoldsTheName)
{
    for (const auto place : {PlaceNewFile, PlaceNewFileByLink}) {
        TempFolder folder;
        test::WriteAllText(folder / "new", "new");
        test::WriteAllText(folder / "file", "theirs");
        std::filesystem::create_symlink("missing", folder / "link");
        std::filesystem::create_directory(folder / "folder");
        for (const char* taken : {"file", "link", "folder"})
            EXPECT_EQ(place(folder / "new", folder / taken), EEXIST) << taken;
        EXPECT_EQ(test::ReadAllBytes(folder / "file"), Bytes("theirs"));
        EXPECT_EQ(place(folder / "new", folder / "free"), 0);
        EXPECT_EQ(test::ReadAllBytes(folder / "free"), Bytes("new"));
        EXPECT_EQ(folder.List(), (std::vector<std::string>{"file", "folder", "free", "link"}));
    }
}

// A move to another file system fails instead of copying: the copy would not be atomic.
TEST(ReplaceFile, MoveAcrossFileSystemsFailsInsteadOfCopying)
{
    TempFolder folder;
    const std::filesystem::path other = "/dev/shm";
    struct stat here {}, there {};
    if (::stat(folder.Path().c_str(), &here) != 0 || ::stat(other.c_str(), &there) != 0 || here.st_dev == there.st_dev)
        GTEST_SKIP() << "no second file system at " << other;
    const std::filesystem::path source = other / ("tessary-replace-" + std::to_string(RandomU32()));
    test::WriteAllText(source, "new");
    test::WriteAllText(folder / "to", "old");
    const int error = ReplaceFile(source, folder / "to");
    RemoveFileQuietly(source);
    EXPECT_EQ(error, EXDEV);
    EXPECT_EQ(test::ReadAllBytes(folder / "to"), Bytes("old"));
}

// The temporary file has its final bits before any data is in it, and only it is removed when
// the replacement is given up.
TEST(FileReplacement, TakesTheBitsAtCreationAndRemovesOnlyItsOwnFile)
{
    TempFolder folder;
    test::WriteAllText(folder / "target", "old");
    test::WriteAllText(folder / "target.tmp", "the user's");
    ::chmod((folder / "target").c_str(), 06600);
    int error = 0;
    {
        FileReplacement file = FileReplacement::Begin(folder / "target", ReplacementOptions{}, &error);
        ASSERT_TRUE(file.IsOpen()) << error;
        struct stat info {};
        ASSERT_EQ(::stat(file.TemporaryPath().c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        EXPECT_EQ(info.st_size, 0);
        EXPECT_EQ(file.TemporaryPath().parent_path(), folder.Path());
        ASSERT_TRUE(file.Write("new", 3, &error));
    }
    EXPECT_EQ(folder.List(), (std::vector<std::string>{"target", "target.tmp"}));
    EXPECT_EQ(test::ReadAllBytes(folder / "target"), Bytes("old"));

    FileReplacement file = FileReplacement::Begin(folder / "target", ReplacementOptions{}, &error);
    ASSERT_TRUE(file.Write("new", 3, &error) && file.Commit(&error)) << error;
    EXPECT_FALSE(file.Commit(&error)) << "committed once";
    EXPECT_EQ(test::ReadAllBytes(folder / "target"), Bytes("new"));
    EXPECT_EQ(test::ReadAllBytes(folder / "target.tmp"), Bytes("the user's"));
    EXPECT_EQ(std::filesystem::status(folder / "target").permissions(), std::filesystem::perms(0600));

    error = 0;
    EXPECT_FALSE(FileReplacement::Begin(folder / "missing" / "t", ReplacementOptions{}, &error).IsOpen());
    EXPECT_EQ(error, ENOENT);
}

// A save over a pipe, a device (through a link) or a folder is refused before anything is
// made: a rename would take the pipe or device from its owner.
TEST(FileReplacement, RefusesTargetsThatAreNoRegularFile)
{
    TempFolder folder;
    for (const test::NonRegularFile& file : test::MakeNonRegularFiles(folder.Path(), "target")) {
        SCOPED_TRACE(file.kind);
        int error = 0;
        EXPECT_EQ(ReplaceFileContents(file.path, "new", 3, ReplacementOptions{}), file.kind == "folder" ? EISDIR : kNotRegularFileError);
        EXPECT_FALSE(FileReplacement::Begin(file.path, ReplacementOptions{}, &error).IsOpen());
        EXPECT_EQ(CheckReplaceTarget(file.path, ReplacementOptions{}), error) << "the check before differs from Begin's";
        EXPECT_EQ(std::filesystem::directory_iterator(file.path.parent_path())->path(), file.path) << "nothing beside it";
        std::error_code code;
        EXPECT_EQ(std::filesystem::status(file.path, code).type(), file.kind == "named pipe" ? std::filesystem::file_type::fifo
                  : file.kind == "folder" ? std::filesystem::file_type::directory : std::filesystem::file_type::character);
    }
    EXPECT_EQ(SystemErrorText(kNotRegularFileError), "it is not a regular file (it is a folder, a pipe or a device)");
}

// A save clears what earlier saves of the same target left when they were killed: only regular
// files of exactly its own temporary name, beside the target, untouched for longer than any
// running save leaves its file.
TEST(FileReplacement, ClearsOnlyStaleTemporaryFilesOfItsOwnTarget)
{
    enum class Kind { File, Link, Folder, Pipe };
    // Temporary names keep only the first 242 bytes of this one, which another name may share;
    // 248 bytes that are not UTF-8 characters' starts shorten to nothing.
    const std::string longTarget = std::string(243, 'n').append(".gfproj");
    const std::string noStemTarget = std::string(248, '\xB0').append(".gfproj");
    const struct {
        std::string target, suffix, name;
        Kind kind;
        int ageSeconds;
        bool removed;
    } cases[] = {
        {"p.gfproj", ".tmp", "p.gfproj.0123abcd.tmp", Kind::File, 7200, true},
        {"p part 2.stl", ".part", "p part 2.stl.89efcdab.part", Kind::File, 7200, true},
        {longTarget, ".tmp", std::string(242, 'n').append(".0123abcd.tmp"), Kind::File, 7200, false},
        {noStemTarget, ".tmp", ".0123abcd.tmp", Kind::File, 7200, false},
        {"p.gfproj", ".tmp", "p.gfproj.0123abcd.tmp", Kind::File, 60, false},  // a save may be writing it
        {"p.gfproj", ".tmp", "p.gfproj.1234567.tmp", Kind::File, 7200, false},
        {"p.gfproj", ".tmp", "p.gfproj.0123abcd.tmp.bak", Kind::File, 7200, false},
        {"p.gfproj", ".tmp", "p.gfproj.0123ABCD.tmp", Kind::File, 7200, false},
        {"p.gfproj", ".tmp", "p.gfproj.0123abcd.part", Kind::File, 7200, false},
        {"p.gfproj", ".tmp", "q.gfproj.0123abcd.tmp", Kind::File, 7200, false},
        {"p.gfproj", ".tmp", "sub/p.gfproj.0123abcd.tmp", Kind::File, 7200, false},
        {"p.gfproj", ".tmp", "p.gfproj.0123abcd.tmp", Kind::Link, 7200, false},
        {"p.gfproj", ".tmp", "p.gfproj.0123abcd.tmp", Kind::Folder, 7200, false},
        {"p.gfproj", ".tmp", "p.gfproj.0123abcd.tmp", Kind::Pipe, 7200, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const std::filesystem::path path = folder / c.name;
        std::filesystem::create_directories(path.parent_path());
        test::WriteAllText(folder / "theirs", "the user's");
        if (c.kind == Kind::File)
            test::WriteAllText(path, "left by a killed save");
        if (c.kind == Kind::Link)
            std::filesystem::create_symlink(folder / "theirs", path);
        if (c.kind == Kind::Folder)
            std::filesystem::create_directory(path);
        if (c.kind == Kind::Pipe)
            ::mkfifo(path.c_str(), 0600);
        const timespec age = {::time(nullptr) - c.ageSeconds, 0};
        const timespec times[2] = {age, age};
        ::utimensat(AT_FDCWD, (folder / "theirs").c_str(), times, 0);
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);

        ReplacementOptions options;
        options.suffix = c.suffix.c_str();
        int error = 0;
        FileReplacement file = FileReplacement::Begin(folder / c.target, options, &error);
        ASSERT_TRUE(file.Write("new", 3, &error) && file.Commit(&error)) << error;
        std::error_code status;
        EXPECT_EQ(std::filesystem::exists(std::filesystem::symlink_status(path, status)), !c.removed);
        EXPECT_EQ(test::ReadAllBytes(folder / "theirs"), Bytes("the user's"));
    }
}

// A save over a file the user may not write is refused before anything is made, on every
// way a replace is asked for; the owner's write bit decides for the owner, also for root.
TEST(FileReplacement, RefusesAFileTheUserMayNotWrite)
{
    const struct {
        const char* name;
        int bits;
        LinkHandling links;
        bool throughLink;
        int error;
    } cases[] = {
        {"read-only", 0444, LinkHandling::WriteThrough, false, kWriteProtectedError},
        {"owner read-only, others writable", 0466, LinkHandling::WriteThrough, false, kWriteProtectedError},
        {"read-only, named by a link", 0444, LinkHandling::WriteThrough, true, kWriteProtectedError},
        {"read-only, the program's own file", 0400, LinkHandling::ReplaceLink, false, kWriteProtectedError},
        {"writable", 0644, LinkHandling::WriteThrough, false, 0},
        {"writable by its owner only", 0200, LinkHandling::ReplaceLink, false, 0},
        // The link's own name is what a replace of the program's own file takes.
        {"read-only behind a link that is replaced", 0444, LinkHandling::ReplaceLink, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        test::WriteAllText(folder / "kept", "old");
        ::chmod((folder / "kept").c_str(), static_cast<mode_t>(c.bits));
        if (c.throughLink)
            std::filesystem::create_symlink("kept", folder / "link");
        const std::filesystem::path target = folder / (c.throughLink ? "link" : "kept");
        ReplacementOptions options;
        options.links = c.links;
        EXPECT_EQ(ReplaceFileContents(target, "new", 3, options), c.error);
        if (c.error != 0) {
            EXPECT_EQ(test::ReadAllBytes(folder / "kept"), Bytes("old"));
            EXPECT_EQ(std::filesystem::symlink_status(target).type(),
                      c.throughLink ? std::filesystem::file_type::symlink : std::filesystem::file_type::regular);
            EXPECT_EQ(folder.List().size(), c.throughLink ? 2u : 1u) << "nothing made beside it";
        }
    }
    EXPECT_EQ(SystemErrorText(kWriteProtectedError), "it is write-protected (you may not write to it)");
}

// Each kind of file that is not a regular one is named for what it is.
TEST(FileKindText, NamesWhatIsThere)
{
    TempFolder folder;
    test::WriteAllText(folder / "file", "x");
    ASSERT_TRUE(test::MakeSocketFile(folder / "socket"));
    ::mkfifo((folder / "pipe").c_str(), 0600);
    const std::pair<std::filesystem::path, std::string> cases[] = {
        {folder / "file", "a regular file"}, {folder.Path(), "a folder"},
        {folder / "socket", "a socket"},     {folder / "pipe", "a named pipe"},
        {"/dev/null", "a device"},           {folder / "missing", "something other than a file"},
    };
    for (const auto& [path, kind] : cases)
        EXPECT_EQ(FileKindText(path), kind) << path;
    int error = 0;
    EXPECT_EQ(ReplaceFileContents(folder / "socket", "x", 1, ReplacementOptions{}), kSocketError);
    EXPECT_FALSE(FileReplacement::Begin(folder / "socket", ReplacementOptions{}, &error).IsOpen());
    EXPECT_EQ(error, kSocketError);
    EXPECT_EQ(SystemErrorText(kSocketError), "it is not a regular file (it is a socket)");
}

// The cause names what stands in the way as it stands: a link to nowhere is no missing file,
// and a folder renamed or one that may not be written is named rather than the file.
TEST(FileErrorCauseText, NamesWhatIsInTheWay)
{
    test::TempFolder folder;
    const std::string at = folder.Path().string();
    test::WriteAllText(folder / "file", "");
    std::filesystem::create_symlink(folder / "gone", folder / "link");
    const struct {
        std::filesystem::path path;
        int code;
        FileUse use;
        std::string cause;
    } cases[] = {
        {folder / "link", ENOENT, FileUse::read, "it is a link that leads nowhere: " + at + "/gone is not there"},
        {folder / "renamed" / "inner" / "p.gfproj", ENOENT, FileUse::read, "the folder " + at + "/renamed is not there"},
        {folder / "file" / "p.gfproj", ENOTDIR, FileUse::write, at + "/file on its way is not a folder"},
        {folder / "missing", ENOENT, FileUse::read, "nothing of that name is in its folder"},
        // A write makes the name: nothing being there is no cause of its failing.
        {folder / "missing", ENOENT, FileUse::write,
            "no file of that name could be made in its folder (No such file or directory)"},
        {folder / "p.gfproj", EACCES, FileUse::write, "its folder " + at + " cannot be written (Permission denied)"},
        {folder / "p.gfproj", EROFS, FileUse::write, "its folder " + at + " cannot be written (Read-only file system)"},
        {folder / "file", EACCES, FileUse::read, "Permission denied"},
        {folder / "file", ENOSPC, FileUse::write, "No space left on device"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.string());
        EXPECT_EQ(FileErrorCauseText(c.path, c.code, c.use), c.cause);
    }
}

TEST(SystemErrorText, GivesTheSystemsWording)
{
    EXPECT_EQ(SystemErrorText(ENOENT), "No such file or directory");
    EXPECT_FALSE(SystemErrorText(99999).empty());
}

}  // namespace
}  // namespace grainforge::platform
