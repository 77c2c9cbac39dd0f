#include "app/document/file_identity.h"

#include <system_error>

namespace grainforge::app {

namespace fs = std::filesystem;

bool IsSameFile(const fs::path& a, const fs::path& b)
{
    if (a.empty() || b.empty())
        return false;
    std::error_code error;
    if (fs::equivalent(a, b, error) && !error)
        return true;
    // Names at which nothing is found yet (a file about to be written) are told by their text.
    return AbsoluteFileName(a).lexically_normal() == AbsoluteFileName(b).lexically_normal();
}

fs::path AbsoluteFileName(const fs::path& path)
{
    if (path.empty())
        return path;
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (error)
        return path;
    fs::path name = absolute.root_path();
    for (const fs::path& element : absolute.relative_path())
        if (!element.empty() && element != ".")
            name /= element;
    return name;
}

const KeptFile* FindKeptFile(const fs::path& target, std::span<const KeptFile> kept)
{
    for (const KeptFile& file : kept)
        if (IsSameFile(target, file.file))
            return &file;
    return nullptr;
}

bool FileIsGone(const std::filesystem::path& path)
{
    if (path.empty())
        return true;
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error)
        return error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory;
    return status.type() == std::filesystem::file_type::not_found;
}

FileLeft FileLeftAt(const std::filesystem::path& path)
{
    return platform::StampRegularFile(path);
}

bool WrittenOverSince(const std::filesystem::path& path, const FileLeft& left)
{
    return FileLeftAt(path) != left;
}

bool RegularFileAt(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && !error;
}

}  // namespace grainforge::app
