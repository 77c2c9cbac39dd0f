// The operating system's own text for an error number, as shown to the user after a failed
// file operation.
#pragma once

#include <filesystem>
#include <string>

namespace grainforge::platform {

// Text of the error number `code` (an errno value), e.g. "Permission denied". Thread-safe.
std::string SystemErrorText(int code);

// What a failed open or write of `path` was about to do.
enum class FileUse { read, write };

// Why `path` could not be used, as the file system stands now, naming what is in the way: "it
// is a link that leads nowhere: <target> is not there", "the folder <folder> is not there", "<name> on
// its way is not a folder", "nothing of that name is in its folder" (for a write: "no file of that
// name could be made in its folder (No such file or directory)"), "its folder <folder>
// cannot be written (Permission denied)" for a write the system refused (a new file and a
// replace are made in the folder), else SystemErrorText(code).
// Every message about a file the user named takes its cause from here. Names are UTF-8 text as
// the system gives them. Never throws except on allocation failure.
std::string FileErrorCauseText(const std::filesystem::path& path, int code, FileUse use);

}  // namespace grainforge::platform
