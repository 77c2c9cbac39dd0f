#include "tests/support/non_regular_files.h"

#include <sys/stat.h>

namespace grainforge::test {

std::vector<NonRegularFile> MakeNonRegularFiles(const std::filesystem::path& folder, const std::string& name)
{
    std::filesystem::create_directories(folder / "pipe");
    const std::filesystem::path pipe = folder / "pipe" / name;
    ::mkfifo(pipe.c_str(), 0600);
    std::filesystem::create_directories(folder / "folder" / name);
    std::filesystem::create_directories(folder / "device");
    std::filesystem::create_symlink("/dev/zero", folder / "device" / name);
    return {{"named pipe", pipe}, {"folder", folder / "folder" / name}, {"device", folder / "device" / name}};
}

}  // namespace grainforge::test
