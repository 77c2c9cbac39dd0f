// File operations the engine needs from the operating system: regular files opened for reading
// without ever waiting on a pipe or device, size queries, whole-file reads, and the pieces of a durable replace (exclusive creation of a temporary file, complete write,
// flush to disk, rename over the target, flush of the folder). Errors are errno values; turn
// them into text with SystemErrorText. Nothing here throws except on allocation failure.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace grainforge::platform {

// Longest file name (one path element) most Linux file systems take, in bytes; a longer name
// fails with ENAMETOOLONG.
inline constexpr std::size_t kLongestFileNameBytes = 255;

// Why a file could not be opened for reading.
enum class OpenStatus {
    Ok,
    Unreachable,     // the path names no file (missing, a folder on the way that may not be searched, ...)
    NotRegularFile,  // a folder, named pipe, device or socket: refused before anything is read
    OpenFailed,      // a regular file that the system would not open for reading
};

struct OpenedFile;
OpenedFile OpenRegularFile(const std::filesystem::path& path);

// A regular file open for reading. Size and bytes come from the same descriptor, so the file
// that was checked is the file that is read. Closed when destroyed.
class [[nodiscard]] ReadableFile {
public:
    ReadableFile() = default;
    ReadableFile(ReadableFile&& other) noexcept;
    ReadableFile& operator=(ReadableFile&& other) noexcept;
    ReadableFile(const ReadableFile&) = delete;
    ReadableFile& operator=(const ReadableFile&) = delete;
    ~ReadableFile();

    bool IsOpen() const { return fd_ >= 0; }

    // The size when the file was opened.
    std::uint64_t Size() const { return size_; }

    // Reads up to `size` bytes from `offset`, retrying short and interrupted reads. Returns the
    // count read: less than asked only at the end of the file or on an error, which then goes
    // into `*error` (left alone at the end of the file).
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t size, int* error) const;

    // Hands the descriptor to the caller (for a stdio stream), leaving this object closed.
    int Release() noexcept;

private:
    friend OpenedFile OpenRegularFile(const std::filesystem::path& path);
    ReadableFile(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

struct OpenedFile {
    OpenStatus status = OpenStatus::Unreachable;
    // errno when not Ok; NotRegularFile gives EISDIR for a folder and EINVAL for anything else.
    int error = 0;
    ReadableFile file;  // open only when Ok
};

// Opens the file at `path` (symbolic links followed) for reading, without waiting: a named
// pipe, a device or a folder is refused at once with NotRegularFile, before any byte is read.
OpenedFile OpenRegularFile(const std::filesystem::path& path);

struct FileSizeResult {
    bool ok = false;
    std::uint64_t size = 0;
    int error = 0;  // errno when !ok; a folder or other non-regular file gives EISDIR or EINVAL
};

// Size of the regular file at `path` (symbolic links followed), which must open for reading.
FileSizeResult QueryFileSize(const std::filesystem::path& path);

// One written state of a file: which file it is (device and inode) and its size and last
// modification to the nanosecond. A rewrite through a rename gives another inode, an edit in
// place another size or time, and a copy another inode, so a stamp taken when the program
// wrote a file tells that file, unchanged, from any other file holding the same bytes.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedNanoseconds = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// The stamp of the regular file at `path` (symbolic links followed); nothing when no regular
// file is there or it cannot be looked at.
std::optional<FileStamp> StampRegularFile(const std::filesystem::path& path);

enum class ReadStatus {
    Ok,
    OpenFailed,      // the file could not be opened for reading
    ShortRead,       // fewer bytes arrived than expected
    NotRegularFile,  // a folder, pipe or device: refused without reading
    TooLarge,        // larger than the caller's limit: refused without reading
};

struct ReadResult {
    ReadStatus status = ReadStatus::OpenFailed;
    std::vector<std::uint8_t> bytes;  // exactly `expectedSize` bytes when Ok
    int error = 0;
    std::uint64_t size = 0;  // the file's size when it opened
};

// Reads the first `expectedSize` bytes of the regular file at `path` (normally its whole size).
ReadResult ReadFileBytes(const std::filesystem::path& path, std::uint64_t expectedSize);

// Reads the whole regular file at `path`, refusing one larger than `maxBytes` before reading.
// Ok, or ShortRead with the bytes that came when the file shrank or a read failed (`error`
// set only for a failed read).
ReadResult ReadWholeFile(const std::filesystem::path& path, std::uint64_t maxBytes);

// Where a write aimed at `target` must land: a symbolic link is followed to the file it names
// (also when that file does not exist yet), so that replacing it keeps the link. Other paths
// come back as they are.
std::filesystem::path ResolveWriteTarget(const std::filesystem::path& target);

// A file created exclusively (it must not exist) and written once. Closing without
// SyncAndClose leaves it on disk; the caller removes it on failure.
class [[nodiscard]] ExclusiveFile {
public:
    ExclusiveFile() = default;
    ExclusiveFile(ExclusiveFile&& other) noexcept;
    ExclusiveFile& operator=(ExclusiveFile&& other) noexcept;
    ExclusiveFile(const ExclusiveFile&) = delete;
    ExclusiveFile& operator=(const ExclusiveFile&) = delete;
    ~ExclusiveFile();

    // Creates `path` for writing; fails with EEXIST when it exists. The new file takes the
    // permission bits (rwx for user, group, others) of `permissionsFrom` when that file exists,
    // else the usual default (0666 less the umask).
    static ExclusiveFile Create(const std::filesystem::path& path,
                                const std::filesystem::path& permissionsFrom, int* error);

    // The same with the permission bits given: `permissionBits` (rwx only) when not negative,
    // else the usual default. The file is created readable by its owner alone and given its
    // bits before anything can be written into it.
    static ExclusiveFile CreateWithBits(const std::filesystem::path& path, int permissionBits, int* error);

    bool IsOpen() const { return fd_ >= 0; }

    // Writes every byte, retrying short and interrupted writes.
    bool WriteAll(const void* data, std::size_t size, int* error);

    // Flushes the data to disk (fsync) and closes; false when either fails.
    bool SyncAndClose(int* error);

private:
    explicit ExclusiveFile(int fd) : fd_(fd) {}
    void CloseQuietly() noexcept;
    int fd_ = -1;
};

// How a replace treats a symbolic link at the target's name.
enum class LinkHandling {
    // A file the user named (a project, a preset, an exported part): the link is followed and
    // the file it names is replaced, so the link stays as the user made it.
    WriteThrough,
    // A file the program makes for itself (a cache, an index, its own lists): the new file
    // takes the name and the link itself is replaced; whatever it named is never touched.
    ReplaceLink,
};

struct ReplacementOptions {
    LinkHandling links = LinkHandling::WriteThrough;
    // Ends the temporary file's name, after the target's name and "." plus eight random
    // hexadecimal digits.
    const char* suffix = ".tmp";
    // Whose permission bits the new file takes; empty for the file it replaces.
    std::filesystem::path permissionsFrom;
};

// How long a temporary file of a replace must have gone unchanged before a later replace of
// the same target takes it for the leftover of a save that was killed or lost its power. A
// save at work writes its file without pause and renames it straight after, so no running
// save, in this process or another copy of the program, leaves its file that long untouched.
inline constexpr std::chrono::seconds kStaleTemporaryFileAge{3600};

// Removes the leftovers of replaces of `target` that never finished: beside the target only,
// the regular files (not links, folders, pipes, ...) whose name is exactly the temporary name a
// FileReplacement gives (the target's name, "." and eight lower-case hexadecimal digits, then
// `suffix`) and whose last change is at least `age` old. A target whose name is too long to
// stand whole in a temporary name has none it can tell for its own (the shortened name may be
// another target's, or nothing at all), so nothing is removed for it. Returns how many were
// removed; any error only leaves files in place.
std::size_t RemoveStaleTemporaryFiles(const std::filesystem::path& target, const char* suffix,
                                      std::chrono::seconds age = kStaleTemporaryFileAge) noexcept;

// The error a replace gives for a target that is a named pipe or a device (a folder gives
// EISDIR). No errno has this value; SystemErrorText words it.
inline constexpr int kNotRegularFileError = 0x10000;
// The same for a socket, which SystemErrorText names as one.
inline constexpr int kSocketError = 0x10001;
// The error a replace gives for an existing file the user may not write: its mode takes write
// away from its owner (when the user owns it) or the system refuses the user write access.
// The folder may still allow the rename, so without this check a write-protected file would
// be replaced without a word.
inline constexpr int kWriteProtectedError = 0x10002;

// What the file at `path` (a link followed) is, for a message: "a folder", "a named pipe",
// "a device", "a socket", "a regular file", or "something other than a file" when it cannot
// be looked at.
const char* FileKindText(const std::filesystem::path& path);

// A new file that is to replace `target`, written in full before it is put in place. It is
// created exclusively beside the target under a random name of its own, so no file already
// there is ever truncated or removed, and it takes the permission bits (rwx for user, group,
// others) of the file it replaces before any byte is written; set-user-id, set-group-id and
// sticky are never carried over. Until Commit succeeds the temporary file is removed when the
// object goes away, and only that file: it is the one thing this object created. Begin first
// clears the stale temporary files of earlier replaces of the same target that were killed
// (RemoveStaleTemporaryFiles with the same suffix), so they do not pile up at full size.
class [[nodiscard]] FileReplacement {
public:
    FileReplacement() = default;
    FileReplacement(FileReplacement&& other) noexcept;
    FileReplacement& operator=(FileReplacement&& other) noexcept;
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;
    ~FileReplacement();

    // Creates the temporary file; not open, with `error` set, when no name could be made
    // (the folder is missing, read-only, full, ...), the target is a folder (EISDIR), a pipe
    // or device (kNotRegularFileError) or a socket (kSocketError), or it is a file the user
    // may not write (kWriteProtectedError); these are refused before anything is made.
    static FileReplacement Begin(const std::filesystem::path& target, const ReplacementOptions& options, int* error);

    bool IsOpen() const { return file_.IsOpen(); }
    // Where the bytes go; can be read back once Finish has succeeded.
    const std::filesystem::path& TemporaryPath() const { return temporary_; }
    // The name that Commit replaces: the target, or the file its link names.
    const std::filesystem::path& Target() const { return target_; }

    bool Write(const void* data, std::size_t size, int* error);
    // Flushes the data to disk and closes the temporary file.
    bool Finish(int* error);
    // Finishes when not yet done and renames the temporary file over the target. On failure
    // the temporary file is removed and the target is as it was.
    bool Commit(int* error);
    // Removes the temporary file, when there still is one.
    void Discard() noexcept;
    // Like Commit, but for a name chosen because it was free: the file is put in place with
    // PlaceNewFile, so a file that took the name in the meantime is never replaced; false
    // with EEXIST then. Begin the replacement with LinkHandling::ReplaceLink, so that the
    // name itself is the target and a link there counts as taken.
    bool CommitAsNewFile(int* error);

private:
    // Finishes and moves the temporary file to the target by `place` (ReplaceFile or
    // PlaceNewFile); on failure the temporary file is removed.
    bool PutInPlace(int (*place)(const std::filesystem::path&, const std::filesystem::path&), int* error);

    ExclusiveFile file_;
    std::filesystem::path temporary_;
    std::filesystem::path target_;
    bool finished_ = false;
};

// The refusal FileReplacement::Begin gives for `target` under `options` before it makes
// anything (EISDIR for a folder, kNotRegularFileError for a pipe or a device, kSocketError for
// a socket, kWriteProtectedError for a file the user may not write), or 0: for a save that
// writes other files first and must not begin what it cannot finish.
int CheckReplaceTarget(const std::filesystem::path& target, const ReplacementOptions& options);

// Replaces (or creates) `target` with `size` bytes through a FileReplacement. Returns 0 or the
// errno of the step that failed; the target is then as it was and no temporary file is left.
int ReplaceFileContents(const std::filesystem::path& target, const void* data, std::size_t size,
                        const ReplacementOptions& options);

// Renames `from` over `to` (atomic on one file system) and flushes the folder of `to` so the
// rename survives a power cut. Returns 0 or the errno of the rename; a move across file
// systems fails with EXDEV rather than copying.
int ReplaceFile(const std::filesystem::path& from, const std::filesystem::path& to);

// Puts the file `from` in place under the name `to` only while nothing has that name: a
// file, a link (dangling too), a folder or anything else there is never replaced, also when it
// came in the moment after a check found the name free. Returns 0; EEXIST when the name is
// taken; or the errno of the step that failed. On failure `from` stays where it was. The folder
// of `to` is flushed, as by ReplaceFile. Where the rename cannot refuse an existing name by
// itself (an older kernel, some network file systems), PlaceNewFileByLink does the work.
int PlaceNewFile(const std::filesystem::path& from, const std::filesystem::path& to);

// The same through a hard link: `to` is made as a second name of `from`, which the system
// refuses with EEXIST when the name is taken, and `from` is removed after. Regular files only;
// a file system without hard links answers EPERM or ENOTSUP.
int PlaceNewFileByLink(const std::filesystem::path& from, const std::filesystem::path& to);

// Removes a file, ignoring any error (used to clean up temporary files).
void RemoveFileQuietly(const std::filesystem::path& path) noexcept;

}  // namespace grainforge::platform
