#pragma once

#include <cstddef>
#include <functional>

// Runs work on a new thread with a stack of the given size and waits for it to end; an
// exception thrown by work is thrown again here. A caller's own thread may have too small a
// stack for the deepest include chain the engine allows.
void run_with_stack(std::size_t stack_bytes, const std::function<void()>& work);
