#include "platform/process.h"

#include <cerrno>
#include <csignal>
#include <limits>
#include <cstdlib>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <unistd.h>
#include <sys/wait.h>

extern char** environ;

std::vector<std::string> program_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

std::size_t open_files_limit() noexcept {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::numeric_limits<std::size_t>::max();
    return static_cast<std::size_t>(limit.rlim_cur);
}

// EPERM: it exists, but belongs to another user.
bool process_alive(std::uint64_t id) noexcept {
    if (id == 0 || id > static_cast<std::uint64_t>(std::numeric_limits<pid_t>::max())) return false;
    return ::kill(static_cast<pid_t>(id), 0) == 0 || errno != ESRCH;
}

bool is_terminal(standard_stream_t stream) noexcept {
    return ::isatty(stream == standard_stream_t::output ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

// The shell starts the opener in the background and ends at once, so it is reaped here and
// nothing is left waiting for the browser.
bool open_in_browser(const std::string& url) noexcept {
    try {
        const char* browser = std::getenv("BROWSER");
        const std::string command = (browser != nullptr && *browser != '\0' ? std::string(browser) : "xdg-open") +
                                    " \"$1\" >/dev/null 2>&1 &";
        const char* argv[] = {"sh", "-c", command.c_str(), "sh", url.c_str(), nullptr};
        pid_t child = 0;
        if (::posix_spawnp(&child, "sh", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) return false;
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    } catch (...) {
        return false;
    }
}
