#include "platform/interrupt.h"

#include "platform/win32.h"

#include <csignal>

// Ctrl-C and Ctrl-Break reach a console program through its control handler, on a thread of
// their own; both count as SIGINT, so a run they stop exits with 130 as on other systems. The
// C library's SIGINT and SIGTERM (raise) are caught too.
namespace {
std::atomic<bool>* stop_flag = nullptr;
std::atomic<int> received{0};
using handler_t = void (*)(int);
handler_t previous_int = SIG_DFL, previous_term = SIG_DFL;

void stop(int number) {
    received = number;
    if (stop_flag != nullptr) stop_flag->store(true);
}

extern "C" void on_signal(int number) { stop(number); }  // the C library resets the handler first

BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    if (received.load() != 0) return FALSE;  // the second one ends the program
    stop(SIGINT);
    return TRUE;
}
}  // namespace

InterruptGuard::InterruptGuard(std::atomic<bool>& stop) {
    stop_flag = &stop;
    received = 0;
    previous_int = std::signal(SIGINT, on_signal);
    previous_term = std::signal(SIGTERM, on_signal);
    ::SetConsoleCtrlHandler(on_console_event, TRUE);  // called before the C library's own
}

InterruptGuard::~InterruptGuard() {
    ::SetConsoleCtrlHandler(on_console_event, FALSE);
    std::signal(SIGINT, previous_int == SIG_ERR ? SIG_DFL : previous_int);
    std::signal(SIGTERM, previous_term == SIG_ERR ? SIG_DFL : previous_term);
    stop_flag = nullptr;
}

int InterruptGuard::signal_number() const noexcept { return received; }

const char* InterruptGuard::signal_name(int number) noexcept {
    return number == SIGINT ? "SIGINT" : number == SIGTERM ? "SIGTERM" : "a signal";
}
