#pragma once

#include <cstddef>
#include <functional>

// Runs work on a new thread with a stack of the given size and waits for it to end; an
// exception thrown by work is thrown again here. A caller's own thread may have too small a
// stack for the deepest include chain the engine allows.
void run_with_stack(std::size_t stack_bytes, const std::function<void()>& work);

// A thread with a stack of the given size, started at once and joined when the object is
// destroyed. work must not throw.
class StackThread {
public:
    StackThread(std::size_t stack_bytes, std::function<void()> work);
    StackThread(const StackThread&) = delete;
    StackThread& operator=(const StackThread&) = delete;
    ~StackThread();

private:
    struct impl_t;
    impl_t* impl_;
};

// How many threads the machine runs at once (at least 1).
unsigned hardware_threads() noexcept;
