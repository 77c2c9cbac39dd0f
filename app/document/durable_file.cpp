#include "app/document/durable_file.h"

#include "platform/file_system.h"

#include <cerrno>
#include <vector>

namespace grainforge::app {
namespace {

constexpr std::size_t kCopyChunkBytes = std::size_t{1} << 20;

}  // namespace

bool WriteFileDurably(const std::filesystem::path& target, std::span<const std::uint8_t> bytes)
{
    platform::ReplacementOptions options;
    options.links = platform::LinkHandling::ReplaceLink;
    return platform::ReplaceFileContents(target, bytes.data(), bytes.size(), options) == 0;
}

int CopyFileToFreeName(const std::filesystem::path& source, const std::filesystem::path& target)
{
    // A name taken already costs no copy.
    std::error_code status;
    if (std::filesystem::symlink_status(target, status).type() != std::filesystem::file_type::not_found)
        return EEXIST;
    const platform::OpenedFile opened = platform::OpenRegularFile(source);
    if (opened.status != platform::OpenStatus::Ok)
        return opened.error != 0 ? opened.error : EIO;
    // The name itself is the target: a link that takes it meanwhile counts as taken.
    platform::ReplacementOptions options;
    options.links = platform::LinkHandling::ReplaceLink;
    options.permissionsFrom = source;
    int error = 0;
    platform::FileReplacement file = platform::FileReplacement::Begin(target, options, &error);
    if (!file.IsOpen())
        return error != 0 ? error : EIO;
    std::vector<char> chunk(kCopyChunkBytes);
    for (std::uint64_t offset = 0;;) {
        int readError = 0;
        const std::size_t count = opened.file.ReadAt(offset, chunk.data(), chunk.size(), &readError);
        if (readError != 0)
            return readError;  // the temporary file goes with `file`
        if (count == 0)
            break;
        if (!file.Write(chunk.data(), count, &error))
            return error != 0 ? error : EIO;
        offset += count;
    }
    return file.CommitAsNewFile(&error) ? 0 : (error != 0 ? error : EIO);
}

}  // namespace grainforge::app
