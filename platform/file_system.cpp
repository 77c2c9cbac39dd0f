#include "platform/file_system.h"

#include "platform/random_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace grainforge::platform {

namespace {

// Closes fd, keeping errno-style error reporting; EINTR on close still closed the descriptor.
int CloseDescriptor(int fd)
{
    if (::close(fd) != 0 && errno != EINTR)
        return errno;
    return 0;
}

int OpenNoInterrupt(const char* path, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The rwx bits of the regular file at `path`, or -1 when there is none. Only those bits:
// copying set-user-id or set-group-id onto a file that the writer owns would hand the
// writer's rights to whoever runs it.
int RegularFileBits(const std::filesystem::path& path, bool followLinks)
{
    struct stat info {};
    const int status = followLinks ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
    if (status != 0 || !S_ISREG(info.st_mode))
        return -1;
    return static_cast<int>(info.st_mode & 0777);
}

// Random names keep two writers of one target from sharing a temporary file; a name that
// exists is only a collision and worth another try, any other error ends the tries.
constexpr int kTemporaryNameAttempts = 16;

// "." and eight hexadecimal digits: the random part of a temporary file's name.
constexpr std::size_t kRandomPartLength = 9;

// Whether the temporary names for a target called `name` hold the whole of it.
bool IsWholeTemporaryStem(const std::string& name, const char* suffix)
{
    return name.size() + kRandomPartLength + std::strlen(suffix) <= kLongestFileNameBytes;
}

// The start of the temporary names for `target`: the target's name, shortened (at a UTF-8
// character's start) when the random part and `suffix` would grow the name past the longest
// file name, or a target with a long name, easily reached in a script of three-byte
// characters, could never be saved.
std::string TemporaryStem(const std::filesystem::path& target, const char* suffix)
{
    std::string name = target.filename().native();
    if (!IsWholeTemporaryStem(name, suffix)) {
        const std::size_t added = kRandomPartLength + std::strlen(suffix);
        std::size_t keep = kLongestFileNameBytes > added ? kLongestFileNameBytes - added : 0;
        while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
            --keep;
        name.resize(keep);
    }
    return name;
}

// The target's name, "." and eight random hexadecimal digits, then `suffix`.
std::filesystem::path TemporaryNameBeside(const std::filesystem::path& target, const char* suffix)
{
    char random[16];
    std::snprintf(random, sizeof random, ".%08x", static_cast<unsigned>(RandomU32()));
    return target.parent_path() / (TemporaryStem(target, suffix) + random + suffix);
}

// Whether `name` is exactly `stem` + "." + eight lower-case hexadecimal digits + `suffix`, as
// TemporaryNameBeside makes them.
bool IsTemporaryName(std::string_view name, std::string_view stem, std::string_view suffix)
{
    if (name.size() != stem.size() + kRandomPartLength + suffix.size() || !name.starts_with(stem) ||
        !name.ends_with(suffix) || name[stem.size()] != '.')
        return false;
    const std::string_view digits = name.substr(stem.size() + 1, kRandomPartLength - 1);
    return std::all_of(digits.begin(), digits.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace

ReadableFile::ReadableFile(ReadableFile&& other) noexcept : fd_(other.fd_), size_(other.size_) { other.fd_ = -1; }

ReadableFile& ReadableFile::operator=(ReadableFile&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            CloseDescriptor(fd_);
        fd_ = other.fd_;
        size_ = other.size_;
        other.fd_ = -1;
    }
    return *this;
}

ReadableFile::~ReadableFile()
{
    if (fd_ >= 0)
        CloseDescriptor(fd_);
}

std::size_t ReadableFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t size, int* error) const
{
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const std::size_t chunk = std::min<std::size_t>(size - done, std::size_t{1} << 30);
        const ssize_t got = ::pread(fd_, bytes + done, chunk, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got < 0 && error)
                *error = errno;
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

int ReadableFile::Release() noexcept
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

OpenedFile OpenRegularFile(const std::filesystem::path& path)
{
    OpenedFile opened;
    // Opening a named pipe for reading waits for a writer unless it is non-blocking; the type
    // is then checked on the descriptor itself, so nothing can swap the file in between.
    const int fd = OpenNoInterrupt(path.c_str(), O_RDONLY | O_NONBLOCK);
    struct stat info {};
    if (fd < 0) {
        opened.error = errno;
        // Tell a missing file from one that exists but refuses to open (a socket always does).
        if (::stat(path.c_str(), &info) != 0) {
            opened.status = OpenStatus::Unreachable;
        } else if (!S_ISREG(info.st_mode)) {
            opened.status = OpenStatus::NotRegularFile;
            opened.error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        } else {
            opened.status = OpenStatus::OpenFailed;
        }
        return opened;
    }
    if (::fstat(fd, &info) != 0) {
        opened.status = OpenStatus::OpenFailed;
        opened.error = errno;
        CloseDescriptor(fd);
        return opened;
    }
    if (!S_ISREG(info.st_mode)) {
        opened.status = OpenStatus::NotRegularFile;
        opened.error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        CloseDescriptor(fd);
        return opened;
    }
    // Reads from a regular file never wait anyway; clearing the flag keeps a file system that
    // honours it from answering EAGAIN.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    opened.status = OpenStatus::Ok;
    opened.file = ReadableFile(fd, static_cast<std::uint64_t>(info.st_size));
    return opened;
}

FileSizeResult QueryFileSize(const std::filesystem::path& path)
{
    FileSizeResult result;
    const OpenedFile opened = OpenRegularFile(path);
    if (opened.status != OpenStatus::Ok) {
        result.error = opened.error;
        return result;
    }
    result.ok = true;
    result.size = opened.file.Size();
    return result;
}

std::optional<FileStamp> StampRegularFile(const std::filesystem::path& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
    return FileStamp{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
                     static_cast<std::uint64_t>(info.st_size),
                     static_cast<std::int64_t>(info.st_mtim.tv_sec) * kNanosecondsPerSecond + info.st_mtim.tv_nsec};
}

namespace {

ReadStatus ReadStatusFor(OpenStatus status)
{
    return status == OpenStatus::NotRegularFile ? ReadStatus::NotRegularFile : ReadStatus::OpenFailed;
}

// Reads `expectedSize` bytes from the start of the open file into `result`.
void ReadInto(const ReadableFile& file, std::uint64_t expectedSize, ReadResult& result)
{
    result.bytes.resize(static_cast<std::size_t>(expectedSize));
    const std::size_t done = file.ReadAt(0, result.bytes.data(), result.bytes.size(), &result.error);
    if (done < result.bytes.size()) {
        result.status = ReadStatus::ShortRead;
        result.bytes.resize(done);
        return;
    }
    result.status = ReadStatus::Ok;
}

}  // namespace

namespace {

// Opens `path` for the reads below and notes its size in `result`; nothing when it cannot be
// read, with `result`'s status and error saying why.
std::optional<ReadableFile> OpenForReading(const std::filesystem::path& path, ReadResult& result)
{
    OpenedFile opened = OpenRegularFile(path);
    if (opened.status != OpenStatus::Ok) {
        result.status = ReadStatusFor(opened.status);
        result.error = opened.error;
        return std::nullopt;
    }
    result.size = opened.file.Size();
    return std::move(opened.file);
}

}  // namespace

ReadResult ReadFileBytes(const std::filesystem::path& path, std::uint64_t expectedSize)
{
    ReadResult result;
    if (const std::optional<ReadableFile> file = OpenForReading(path, result))
        ReadInto(*file, expectedSize, result);
    return result;
}

ReadResult ReadWholeFile(const std::filesystem::path& path, std::uint64_t maxBytes)
{
    ReadResult result;
    const std::optional<ReadableFile> file = OpenForReading(path, result);
    if (!file)
        return result;
    if (result.size > maxBytes) {
        result.status = ReadStatus::TooLarge;
        result.error = EFBIG;
        return result;
    }
    ReadInto(*file, result.size, result);
    return result;
}

std::filesystem::path ResolveWriteTarget(const std::filesystem::path& target)
{
    std::filesystem::path current = target;
    // A bounded walk: a link loop simply ends at the last link, whose replace then fails.
    for (int depth = 0; depth < 40; ++depth) {
        std::error_code error;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(current, error)))
            return current;
        const std::filesystem::path next = std::filesystem::read_symlink(current, error);
        if (error)
            return current;
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return current;
}

ExclusiveFile::ExclusiveFile(ExclusiveFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

ExclusiveFile& ExclusiveFile::operator=(ExclusiveFile&& other) noexcept
{
    if (this != &other) {
        CloseQuietly();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

ExclusiveFile::~ExclusiveFile() { CloseQuietly(); }

void ExclusiveFile::CloseQuietly() noexcept
{
    if (fd_ >= 0)
        CloseDescriptor(fd_);
    fd_ = -1;
}

ExclusiveFile ExclusiveFile::Create(const std::filesystem::path& path,
                                    const std::filesystem::path& permissionsFrom, int* error)
{
    return CreateWithBits(path, permissionsFrom.empty() ? -1 : RegularFileBits(permissionsFrom, true), error);
}

ExclusiveFile ExclusiveFile::CreateWithBits(const std::filesystem::path& path, int permissionBits, int* error)
{
    // With bits to copy, the file starts as the owner's alone, so the data of a private file
    // is never readable by others, not even between creation and the change of mode.
    const mode_t initial = permissionBits < 0 ? 0666 : 0600;
    const int fd = OpenNoInterrupt(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, initial);
    if (fd < 0) {
        if (error)
            *error = errno;
        return ExclusiveFile();
    }
    // Set explicitly, since the umask applied at creation may have taken bits away. A
    // failure keeps the owner-only mode, which errs on the safe side.
    if (permissionBits >= 0)
        ::fchmod(fd, static_cast<mode_t>(permissionBits) & 0777);
    return ExclusiveFile(fd);
}

bool ExclusiveFile::WriteAll(const void* data, std::size_t size, int* error)
{
    if (fd_ < 0) {
        if (error)
            *error = EBADF;
        return false;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < size) {
        const std::size_t chunk = std::min<std::size_t>(size - done, std::size_t{1} << 30);
        const ssize_t wrote = ::write(fd_, bytes + done, chunk);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            if (error)
                *error = wrote < 0 ? errno : EIO;
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

bool ExclusiveFile::SyncAndClose(int* error)
{
    if (fd_ < 0) {
        if (error)
            *error = EBADF;
        return false;
    }
    int failure = 0;
    if (::fsync(fd_) != 0)
        failure = errno;
    const int closeFailure = CloseDescriptor(fd_);
    fd_ = -1;
    if (failure == 0)
        failure = closeFailure;
    if (failure != 0 && error)
        *error = failure;
    return failure == 0;
}

namespace {

// Makes a rename or a new link durable: the folder entry must reach the disk too. A failure
// here does not undo the change, so it is not reported.
void FlushFolderOf(const std::filesystem::path& path)
{
    std::filesystem::path folder = path.parent_path();
    if (folder.empty())
        folder = ".";
    const int dirFd = OpenNoInterrupt(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        CloseDescriptor(dirFd);
    }
}

}  // namespace

int PlaceNewFile(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        const int failure = errno;
        // EINVAL, ENOSYS, ENOTSUP: the kernel or the file system has no refusing rename.
        if (failure != EINVAL && failure != ENOSYS && failure != ENOTSUP)
            return failure;
        return PlaceNewFileByLink(from, to);
    }
    FlushFolderOf(to);
    return 0;
}

int PlaceNewFileByLink(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    // The new name holds the file now; the old one is only a second name of it.
    ::unlink(from.c_str());
    FlushFolderOf(to);
    return 0;
}

int ReplaceFile(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (::rename(from.c_str(), to.c_str()) != 0)
        return errno;
    FlushFolderOf(to);
    return 0;
}

std::size_t RemoveStaleTemporaryFiles(const std::filesystem::path& target, const char* suffix,
                                      std::chrono::seconds age) noexcept
{
    std::size_t removed = 0;
    DIR* folder = nullptr;
    try {
        if (!IsWholeTemporaryStem(target.filename().native(), suffix))
            return 0;
        const std::string stem = TemporaryStem(target, suffix);
        const std::filesystem::path parent = target.parent_path();
        const int folderFd = OpenNoInterrupt(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY);
        if (folderFd < 0)
            return 0;
        folder = ::fdopendir(folderFd);
        if (folder == nullptr) {
            CloseDescriptor(folderFd);
            return 0;
        }
        // Names first, removals after, so the walk never meets a folder it changed.
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(folder))
            if (IsTemporaryName(entry->d_name, stem, suffix))
                names.emplace_back(entry->d_name);
        const std::time_t newest = std::time(nullptr) - static_cast<std::time_t>(age.count());
        for (const std::string& name : names) {
            // Looked at without following a link: a link of that name is removed by nobody,
            // and neither is what it names. A time in the future is no leftover either.
            struct stat info {};
            if (::fstatat(::dirfd(folder), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISREG(info.st_mode) && info.st_mtime <= newest && ::unlinkat(::dirfd(folder), name.c_str(), 0) == 0)
                ++removed;
        }
    } catch (...) {
        // Out of memory for the names: the leftovers wait for the next save.
    }
    if (folder != nullptr)
        ::closedir(folder);
    return removed;
}

FileReplacement::FileReplacement(FileReplacement&& other) noexcept
    : file_(std::move(other.file_)), temporary_(std::move(other.temporary_)), target_(std::move(other.target_)),
      finished_(other.finished_)
{
    other.temporary_.clear();
}

FileReplacement& FileReplacement::operator=(FileReplacement&& other) noexcept
{
    if (this != &other) {
        Discard();
        file_ = std::move(other.file_);
        temporary_ = std::move(other.temporary_);
        target_ = std::move(other.target_);
        finished_ = other.finished_;
        other.temporary_.clear();
    }
    return *this;
}

FileReplacement::~FileReplacement() { Discard(); }

namespace {

// Whether the user may write the regular file `path` described by `info`. For the file's
// owner its owner write bit decides, as it does for any editor: the superuser passes every
// access test, so a file its owner has made read-only would otherwise be replaced when the
// program runs as root. For anyone else the system's own test (effective ids) decides.
bool MayWriteFile(const std::filesystem::path& path, const struct stat& info)
{
    if (info.st_uid == ::geteuid())
        return (info.st_mode & S_IWUSR) != 0;
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

// The error a replace of `target` gives before it makes anything: EISDIR for a folder,
// kNotRegularFileError for a named pipe or device and kSocketError for a socket, whose rename
// would take it from its owner (and whose temporary file would be made in /dev for a link to a
// device); kWriteProtectedError for a regular file the user may not write; else 0. The target
// is looked at without being opened, so a pipe is never waited on; a link is looked through
// when the replace follows it, and is itself the target when the replace takes its name.
int RefusedTargetError(const std::filesystem::path& target, LinkHandling links)
{
    struct stat info {};
    const bool follow = links == LinkHandling::WriteThrough;
    // A name that cannot be looked at (missing, a dangling link) is for the later steps to meet.
    if ((follow ? ::stat(target.c_str(), &info) : ::lstat(target.c_str(), &info)) != 0)
        return 0;
    if (S_ISREG(info.st_mode))
        return MayWriteFile(target, info) ? 0 : kWriteProtectedError;
    if (!follow && S_ISLNK(info.st_mode))
        return 0;
    if (S_ISDIR(info.st_mode))
        return EISDIR;
    return S_ISSOCK(info.st_mode) ? kSocketError : kNotRegularFileError;
}

}  // namespace

FileReplacement FileReplacement::Begin(const std::filesystem::path& target, const ReplacementOptions& options,
                                       int* error)
{
    FileReplacement replacement;
    const bool follow = options.links == LinkHandling::WriteThrough;
    // Followed, the temporary file also lands on the file system of the file it replaces.
    replacement.target_ = follow ? ResolveWriteTarget(target) : target;
    if (const int refused = RefusedTargetError(replacement.target_, options.links); refused != 0) {
        if (error)
            *error = refused;
        return FileReplacement();
    }
    RemoveStaleTemporaryFiles(replacement.target_, options.suffix);
    const int bits = options.permissionsFrom.empty() ? RegularFileBits(replacement.target_, follow)
                                                     : RegularFileBits(options.permissionsFrom, true);
    int failure = EEXIST;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && failure == EEXIST; ++attempt) {
        const std::filesystem::path name = TemporaryNameBeside(replacement.target_, options.suffix);
        failure = 0;
        ExclusiveFile file = ExclusiveFile::CreateWithBits(name, bits, &failure);
        if (file.IsOpen()) {
            replacement.file_ = std::move(file);
            replacement.temporary_ = name;
            return replacement;
        }
    }
    if (error)
        *error = failure;
    return FileReplacement();
}

bool FileReplacement::Write(const void* data, std::size_t size, int* error)
{
    return size == 0 || file_.WriteAll(data, size, error);
}

bool FileReplacement::Finish(int* error)
{
    if (finished_)
        return true;
    finished_ = file_.SyncAndClose(error);
    return finished_;
}

bool FileReplacement::Commit(int* error) { return PutInPlace(ReplaceFile, error); }

bool FileReplacement::CommitAsNewFile(int* error) { return PutInPlace(PlaceNewFile, error); }

bool FileReplacement::PutInPlace(int (*place)(const std::filesystem::path&, const std::filesystem::path&), int* error)
{
    if (temporary_.empty()) {
        if (error)
            *error = EBADF;
        return false;
    }
    if (!Finish(error)) {
        Discard();
        return false;
    }
    const int failure = place(temporary_, target_);
    if (failure != 0) {
        if (error)
            *error = failure;
        Discard();
        return false;
    }
    temporary_.clear();
    return true;
}

void FileReplacement::Discard() noexcept
{
    file_ = ExclusiveFile();
    if (!temporary_.empty())
        RemoveFileQuietly(temporary_);
    temporary_.clear();
}

int CheckReplaceTarget(const std::filesystem::path& target, const ReplacementOptions& options)
{
    const bool follow = options.links == LinkHandling::WriteThrough;
    return RefusedTargetError(follow ? ResolveWriteTarget(target) : target, options.links);
}

int ReplaceFileContents(const std::filesystem::path& target, const void* data, std::size_t size,
                        const ReplacementOptions& options)
{
    int error = 0;
    FileReplacement replacement = FileReplacement::Begin(target, options, &error);
    if (!replacement.IsOpen())
        return error != 0 ? error : EIO;
    if (!replacement.Write(data, size, &error) || !replacement.Commit(&error))
        return error != 0 ? error : EIO;
    return 0;
}

const char* FileKindText(const std::filesystem::path& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return "something other than a file";
    if (S_ISREG(info.st_mode))
        return "a regular file";
    if (S_ISDIR(info.st_mode))
        return "a folder";
    if (S_ISFIFO(info.st_mode))
        return "a named pipe";
    if (S_ISSOCK(info.st_mode))
        return "a socket";
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))
        return "a device";
    return "something other than a file";
}

void RemoveFileQuietly(const std::filesystem::path& path) noexcept
{
    ::unlink(path.c_str());
}


}  // namespace grainforge::platform
