#include "tests/support/child_process.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>

namespace grainforge::test {

namespace {

constexpr int kDropFailedStatus = 3;
constexpr uid_t kNobody = 65534;

bool DropPrivileges()
{
    if (::geteuid() != 0)
        return true;  // already unprivileged: permission bits apply as they are
    return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

// The child writes its text to an unnamed temporary file the parent reads after it has ended,
// so neither side can block on a full pipe.
std::optional<std::string> Run(const std::function<std::string()>& body, bool dropPrivileges)
{
    std::FILE* file = std::tmpfile();
    const pid_t pid = file != nullptr ? ::fork() : -1;
    if (pid < 0) {
        if (file != nullptr)
            std::fclose(file);
        return std::string("child failed: fork");
    }
    if (pid == 0) {
        if (dropPrivileges && !DropPrivileges())
            ::_exit(kDropFailedStatus);
        std::string text;
        try {
            text = body();
        } catch (const std::exception& error) {
            text = std::string("exception: ") + error.what();
        } catch (...) {
            text = "exception";
        }
        // Plain writes: the body may have left the child without memory for a stdio buffer.
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t wrote = ::write(::fileno(file), text.data() + done, text.size() - done);
            if (wrote <= 0 && errno != EINTR)
                ::_exit(1);
            done += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
        }
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::string text;
    std::rewind(file);
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, got);
    std::fclose(file);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kDropFailedStatus)
        return std::nullopt;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::string("child failed");
    return text;
}

}  // namespace

std::string RunInChild(const std::function<std::string()>& body) { return *Run(body, false); }

std::optional<std::string> RunUnprivileged(const std::function<std::string()>& body) { return Run(body, true); }

}  // namespace grainforge::test
