#include "tests/support/non_regular_files.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

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

bool MakeSocketFile(const std::filesystem::path& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.native().size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.native().size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    const bool made = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    // The name stays in the folder after the descriptor is closed, which is all a test needs.
    ::close(fd);
    return made;
}

}  // namespace grainforge::test
