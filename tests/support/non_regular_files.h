// Paths that name no regular file, for readers that must refuse them at once: a named pipe
// without a writer (opening it for reading the ordinary way waits for one), a folder and a
// device. CallWithin runs a reader on its own thread so that one that waits fails its test
// instead of hanging the whole suite.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace grainforge::test {

struct NonRegularFile {
    std::string kind;
    std::filesystem::path path;
};

// A named pipe, a folder and a link to /dev/zero (a device that never ends), each called
// `name`, in the subfolders "pipe", "folder" and "device" of `folder`.
std::vector<NonRegularFile> MakeNonRegularFiles(const std::filesystem::path& folder, const std::string& name);

// A Unix-domain socket's file at `path`, as a program's control socket sits among a user's
// files. False when none could be made.
bool MakeSocketFile(const std::filesystem::path& path);

// body() when it returns within a bound generous enough for any loaded machine; nothing when it
// does not (the thread is then left behind, blocked).
template <class Result>
std::optional<Result> CallWithin(std::function<Result()> body)
{
    constexpr auto kBound = std::chrono::seconds(60);
    auto promise = std::make_shared<std::promise<Result>>();
    std::future<Result> future = promise->get_future();
    std::thread([promise, body = std::move(body)] { promise->set_value(body()); }).detach();
    if (future.wait_for(kBound) != std::future_status::ready)
        return std::nullopt;
    return future.get();
}

}  // namespace grainforge::test
