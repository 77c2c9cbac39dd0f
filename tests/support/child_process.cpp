#include "tests/support/child_process.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>

extern char** environ;

namespace grainforge::test {

namespace {

constexpr int kDropFailedStatus = 3;
constexpr uid_t kNobody = 65534;

std::optional<std::string> Run(const std::function<std::string()>& body, bool dropPrivileges)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return std::string("child failed: pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        // Already unprivileged, permission bits apply as they are.
        if (dropPrivileges && ::geteuid() == 0
            && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            ::_exit(kDropFailedStatus);
        std::string text;
        try {
            text = body();
        } catch (const std::exception& error) {
            text = std::string("exception: ") + error.what();
        } catch (...) {
            text = "exception";
        }
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t wrote = ::write(pipeFds[1], text.data() + done, text.size() - done);
            if (wrote < 0 ? errno != EINTR : wrote == 0)
                break;
            done += static_cast<std::size_t>(std::max<ssize_t>(wrote, 0));
        }
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while (pid > 0 && ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)))
        text.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    ::close(pipeFds[0]);
    int status = 0;
    while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == kDropFailedStatus)
        return std::nullopt;
    if (pid < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::string(pid < 0 ? "child failed: fork" : "child failed");
    return text;
}

}  // namespace

std::string RunInChild(const std::function<std::string()>& body) { return *Run(body, false); }

std::optional<std::string> RunUnprivileged(const std::function<std::string()>& body) { return Run(body, true); }

std::vector<std::string> EnvironmentWithHome(const std::filesystem::path& home)
{
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (text.rfind("HOME=", 0) != 0 && text.rfind("XDG_CONFIG_HOME=", 0) != 0)
            environment.push_back(text);
    }
    environment.push_back("HOME=" + home.string());
    environment.push_back("XDG_CONFIG_HOME=" + (home / "config").string());
    return environment;
}

}  // namespace grainforge::test
