#include "platform/system_error.h"

#include "platform/file_system.h"

#include <cstring>

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

}  // namespace grainforge::platform
