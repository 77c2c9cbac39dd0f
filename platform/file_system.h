// File operations the engine needs from the operating system: size queries, whole-file reads,
// and the pieces of a durable replace (exclusive creation of a temporary file, complete write,
// flush to disk, rename over the target, flush of the folder). Errors are errno values; turn
// them into text with SystemErrorText. Nothing here throws except on allocation failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace grainforge::platform {

struct FileSizeResult {
    bool ok = false;
    std::uint64_t size = 0;
    int error = 0;  // errno when !ok; a folder or other non-regular file gives EISDIR or EINVAL
};

// Size of the regular file at `path` (symbolic links followed).
FileSizeResult QueryFileSize(const std::filesystem::path& path);

enum class ReadStatus {
    Ok,
    OpenFailed,  // the file could not be opened for reading
    ShortRead,   // fewer bytes arrived than expected
};

struct ReadResult {
    ReadStatus status = ReadStatus::OpenFailed;
    std::vector<std::uint8_t> bytes;  // exactly `expectedSize` bytes when Ok
    int error = 0;
};

// Reads the first `expectedSize` bytes of the file at `path` (normally its whole size).
ReadResult ReadFileBytes(const std::filesystem::path& path, std::uint64_t expectedSize);

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

// Renames `from` over `to` (atomic on one file system) and flushes the folder of `to` so the
// rename survives a power cut. Returns 0 or the errno of the rename; a move across file
// systems fails with EXDEV rather than copying.
int ReplaceFile(const std::filesystem::path& from, const std::filesystem::path& to);

// Removes a file, ignoring any error (used to clean up temporary files).
void RemoveFileQuietly(const std::filesystem::path& path) noexcept;

}  // namespace grainforge::platform
