#include "app/document/durable_file.h"

#include "platform/file_system.h"
#include "platform/random_source.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace grainforge::app {
namespace {

// Random names keep two writers of the same target (two thumbnail loaders, say) from
// sharing a temporary file; a name that exists is only a collision and worth another try.
constexpr int kTemporaryNameAttempts = 8;
constexpr std::size_t kCopyChunkBytes = std::size_t{1} << 20;

platform::ExclusiveFile CreateTemporaryBeside(const std::filesystem::path& target,
                                              const std::filesystem::path& permissionsFrom,
                                              std::filesystem::path& temporary)
{
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(platform::RandomU32()));
        temporary = target;
        temporary += suffix;
        int error = 0;
        platform::ExclusiveFile file = platform::ExclusiveFile::Create(temporary, permissionsFrom, &error);
        if (file.IsOpen())
            return file;
        if (error != EEXIST)
            break;
    }
    temporary.clear();
    return platform::ExclusiveFile();
}

// Flushes and closes the written temporary file and renames it over the target; on any
// failure the temporary file is removed.
bool PutInPlace(platform::ExclusiveFile& file, bool written, const std::filesystem::path& temporary,
                const std::filesystem::path& target)
{
    int error = 0;
    if (!written || !file.SyncAndClose(&error) || platform::ReplaceFile(temporary, target) != 0) {
        platform::RemoveFileQuietly(temporary);
        return false;
    }
    return true;
}

}  // namespace

bool WriteFileDurably(const std::filesystem::path& target, std::span<const std::uint8_t> bytes)
{
    const std::filesystem::path realTarget = platform::ResolveWriteTarget(target);
    std::filesystem::path temporary;
    platform::ExclusiveFile file = CreateTemporaryBeside(realTarget, realTarget, temporary);
    if (!file.IsOpen())
        return false;
    int error = 0;
    const bool written = bytes.empty() || file.WriteAll(bytes.data(), bytes.size(), &error);
    return PutInPlace(file, written, temporary, realTarget);
}

bool CopyFileDurably(const std::filesystem::path& source, const std::filesystem::path& target)
{
    std::error_code status;
    if (!std::filesystem::is_regular_file(source, status))
        return false;
    std::ifstream in(source, std::ios::binary);
    if (!in)
        return false;
    const std::filesystem::path realTarget = platform::ResolveWriteTarget(target);
    std::filesystem::path temporary;
    platform::ExclusiveFile file = CreateTemporaryBeside(realTarget, source, temporary);
    if (!file.IsOpen())
        return false;
    std::vector<char> chunk(kCopyChunkBytes);
    bool written = true;
    int error = 0;
    while (written && in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const auto count = static_cast<std::size_t>(in.gcount());
        written = count == 0 || file.WriteAll(chunk.data(), count, &error);
    }
    // A read that stopped before the end (an I/O error) sets badbit, or failbit without eof.
    written = written && in.eof() && !in.bad();
    return PutInPlace(file, written, temporary, realTarget);
}

}  // namespace grainforge::app
