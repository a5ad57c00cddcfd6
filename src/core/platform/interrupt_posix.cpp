#include "platform/interrupt.h"

#include <csignal>

namespace {
std::atomic<bool>* stop_flag = nullptr;
volatile std::sig_atomic_t received = 0;
struct sigaction previous_int, previous_term;

extern "C" void on_signal(int number) {
    received = number;
    if (stop_flag != nullptr) stop_flag->store(true);
}
}  // namespace

InterruptGuard::InterruptGuard(std::atomic<bool>& stop) {
    static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
    stop_flag = &stop;
    received = 0;
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = static_cast<int>(SA_RESETHAND);  // the second signal ends the program
    sigaction(SIGINT, &action, &previous_int);
    sigaction(SIGTERM, &action, &previous_term);
}

InterruptGuard::~InterruptGuard() {
    sigaction(SIGINT, &previous_int, nullptr);
    sigaction(SIGTERM, &previous_term, nullptr);
    stop_flag = nullptr;
}

int InterruptGuard::signal_number() const noexcept { return received; }

const char* InterruptGuard::signal_name(int number) noexcept {
    return number == SIGINT ? "SIGINT" : number == SIGTERM ? "SIGTERM" : "a signal";
}
