#pragma once

#include <atomic>

// While it lives, SIGINT and SIGTERM no longer end the program at once: they set stop, so that a
// run ends between two files with every output complete. A second signal acts as usual.
class InterruptGuard {
public:
    explicit InterruptGuard(std::atomic<bool>& stop);
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
    ~InterruptGuard();

    // The signal that arrived (0: none), and its name.
    int signal_number() const noexcept;
    static const char* signal_name(int number) noexcept;
};
