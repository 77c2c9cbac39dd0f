#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

ReadResult ReadFileBytes(const std::filesystem::path& path, std::uint64_t expectedSize)
{
    ReadResult result;
    OpenedFile opened = OpenRegularFile(path);
    if (opened.status != OpenStatus::Ok) {
        result.status = ReadStatusFor(opened.status);
        result.error = opened.error;
        return result;
    }
    result.size = opened.file.Size();
    ReadInto(opened.file, expectedSize, result);
    return result;
}

ReadResult ReadWholeFile(const std::filesystem::path& path, std::uint64_t maxBytes)
{
    ReadResult result;
    OpenedFile opened = OpenRegularFile(path);
    if (opened.status != OpenStatus::Ok) {
        result.status = ReadStatusFor(opened.status);
        result.error = opened.error;
        return result;
    }
    result.size = opened.file.Size();
    if (result.size > maxBytes) {
        result.status = ReadStatus::TooLarge;
        result.error = EFBIG;
        return result;
    }
    ReadInto(opened.file, result.size, result);
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
    const int fd = OpenNoInterrupt(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
        if (error)
            *error = errno;
        return ExclusiveFile();
    }
    struct stat info {};
    // Only the read, write and execute bits: copying set-user-id or set-group-id onto a file
    // that the writer owns would hand the writer's rights to whoever runs it.
    if (!permissionsFrom.empty() && ::stat(permissionsFrom.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        ::fchmod(fd, info.st_mode & 0777);
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

int ReplaceFile(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (::rename(from.c_str(), to.c_str()) != 0)
        return errno;
    // The rename is durable only once the folder entry reaches the disk; a failure here does
    // not undo the replace, so it is not reported.
    std::filesystem::path folder = to.parent_path();
    if (folder.empty())
        folder = ".";
    const int dirFd = OpenNoInterrupt(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        CloseDescriptor(dirFd);
    }
    return 0;
}

void RemoveFileQuietly(const std::filesystem::path& path) noexcept
{
    ::unlink(path.c_str());
}

}  // namespace grainforge::platform
