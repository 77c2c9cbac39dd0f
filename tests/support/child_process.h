// Runs a piece of a test in a forked child process, for cases the test process itself must not
// go through: file permissions that root ignores, resource limits that would hit every later
// test. The body must stay single-threaded (a forked child has only the calling thread), so
// keep its inputs small enough that the parallel loops run serially.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace grainforge::test {

// Runs `body` in a forked child and returns the text it returned ("exception: ..." when it
// threw, "child failed" when the child died).
std::string RunInChild(const std::function<std::string()>& body);

// Like RunInChild, but the child first drops to user and group 65534 when the tests run as
// root, so that permission bits apply. Returns nullopt when it could not drop them.
std::optional<std::string> RunUnprivileged(const std::function<std::string()>& body);

// This process's environment for a program started by a test, with HOME set to `home` and
// XDG_CONFIG_HOME to its "config" folder, so that the program's settings stay the test's own.
std::vector<std::string> EnvironmentWithHome(const std::filesystem::path& home);

}  // namespace grainforge::test
