#include "tests/support/child_process.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

namespace grainforge::test {

namespace {

constexpr int kDropFailedStatus = 3;
constexpr uid_t kNobody = 65534;

void WriteAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return;
        done += static_cast<std::size_t>(wrote);
    }
}

bool DropPrivileges()
{
    if (::geteuid() != 0)
        return true;  // already unprivileged: permission bits apply as they are
    return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

std::optional<std::string> Run(const std::function<std::string()>& body, bool dropPrivileges)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return std::string("child failed: pipe");
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return std::string("child failed: fork");
    }
    if (pid == 0) {
        ::close(pipeFds[0]);
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
        WriteAll(pipeFds[1], text);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
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
