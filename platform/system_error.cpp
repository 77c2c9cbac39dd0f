#include "platform/system_error.h"

#include "platform/file_system.h"
#include "platform/shown_text.h"

#include <cerrno>
#include <cstring>
#include <system_error>

namespace grainforge::platform {

std::string SystemErrorText(int code)
{
    if (code == kNotRegularFileError)
        return "it is not a regular file (it is a folder, a pipe or a device)";
    if (code == kSocketError)
        return "it is not a regular file (it is a socket)";
    if (code == kWriteProtectedError)
        return "it is write-protected (you may not write to it)";
    char buffer[256] = {};
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return text ? std::string(text) : std::string("Unknown error ") + std::to_string(code);
}

namespace {

namespace fs = std::filesystem;

bool IsThere(const fs::path& path)
{
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    return !error && fs::exists(status);
}

// The cause of a name that reaches nothing: a link to nowhere, a missing folder or a file
// where a folder should be on the way, or nothing of that name (for a write, which makes the
// name, that it could not be made there).
std::string MissingCause(const fs::path& path, FileUse use)
{
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(path, error)) && !error) {
        const fs::path target = fs::read_symlink(path, error);
        return "it is a link that leads nowhere" + (error ? std::string() : ": " + ShownName(target) + " is not there");
    }
    // The outermost folder on the way that is not there, or that is no folder.
    const fs::path absolute = path.is_absolute() ? path : fs::absolute(path, error);
    fs::path reached;
    for (const fs::path& element : absolute.parent_path()) {
        reached /= element;
        if (!IsThere(reached))
            return "the folder " + ShownName(reached) + " is not there";
        if (!fs::is_directory(reached, error))
            return ShownName(reached) + " on its way is not a folder";
    }
    if (use == FileUse::write)
        return "no file of that name could be made in its folder (" + SystemErrorText(ENOENT) + ")";
    return "nothing of that name is in its folder";
}

}  // namespace

std::string FileErrorCauseText(const fs::path& path, int code, FileUse use)
{
    if (code == ENOENT || code == ENOTDIR)
        return MissingCause(path, use);
    if (use == FileUse::write && (code == EACCES || code == EPERM || code == EROFS)) {
        // A new file, and the replace of an old one, is made in the folder (a file the user
        // may not write is kWriteProtectedError): what the system refused is the folder.
        std::error_code error;
        const fs::path absolute = path.is_absolute() ? path : fs::absolute(path, error);
        return "its folder " + ShownName(absolute.parent_path()) + " cannot be written (" + SystemErrorText(code) + ")";
    }
    return SystemErrorText(code);
}

}  // namespace grainforge::platform
