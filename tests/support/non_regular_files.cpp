#include "tests/support/non_regular_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

PipeReleaser::PipeReleaser(std::filesystem::path pipe) : pipe_(std::move(pipe)), thread_([this] { StandBy(); }) {}

PipeReleaser::~PipeReleaser()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    stop_.notify_all();
    thread_.join();
}

void PipeReleaser::StandBy()
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (stop_.wait_for(lock, std::chrono::seconds(60), [this] { return stopping_; }))
        return;
    released_ = true;
    // Held open until the end, so that every later writer finds a reader at once.
    const int fd = ::open(pipe_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    char buffer[4096];
    while (!stop_.wait_for(lock, std::chrono::milliseconds(10), [this] { return stopping_; }))
        while (fd >= 0 && ::read(fd, buffer, sizeof buffer) > 0) {
        }
    if (fd >= 0)
        ::close(fd);
}

}  // namespace grainforge::test
