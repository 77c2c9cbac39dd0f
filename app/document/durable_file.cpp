#include "app/document/durable_file.h"

#include "platform/file_system.h"

#include <fstream>
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

bool CopyFileDurably(const std::filesystem::path& source, const std::filesystem::path& target)
{
    std::error_code status;
    if (!std::filesystem::is_regular_file(source, status))
        return false;
    std::ifstream in(source, std::ios::binary);
    if (!in)
        return false;
    platform::ReplacementOptions options;
    options.links = platform::LinkHandling::ReplaceLink;
    options.permissionsFrom = source;
    int error = 0;
    platform::FileReplacement file = platform::FileReplacement::Begin(target, options, &error);
    if (!file.IsOpen())
        return false;
    std::vector<char> chunk(kCopyChunkBytes);
    bool written = true;
    while (written && in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const auto count = static_cast<std::size_t>(in.gcount());
        written = file.Write(chunk.data(), count, &error);
    }
    // A read that stopped before the end (an I/O error) sets badbit, or failbit without eof.
    // Without the commit the temporary file is removed as `file` goes away.
    return written && in.eof() && !in.bad() && file.Commit(&error);
}

}  // namespace grainforge::app
