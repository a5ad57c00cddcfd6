#include "platform/process.h"

#include <cerrno>
#include <csignal>
#include <limits>
#include <sys/types.h>
#include <unistd.h>

std::vector<std::string> program_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

// EPERM: it exists, but belongs to another user.
bool process_alive(std::uint64_t id) noexcept {
    if (id == 0 || id > static_cast<std::uint64_t>(std::numeric_limits<pid_t>::max())) return false;
    return ::kill(static_cast<pid_t>(id), 0) == 0 || errno != ESRCH;
}

bool is_terminal(standard_stream_t stream) noexcept {
    return ::isatty(stream == standard_stream_t::output ? STDOUT_FILENO : STDERR_FILENO) == 1;
}
