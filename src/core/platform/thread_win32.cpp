#include "platform/thread.h"

#include "platform/win32.h"

#include <cerrno>
#include <exception>
#include <process.h>

namespace {
struct job_t {
    const std::function<void()>* work;
    std::exception_ptr error;
};

unsigned __stdcall run_job(void* argument) {
    auto* job = static_cast<job_t*>(argument);
    try {
        (*job->work)();
    } catch (...) {
        job->error = std::current_exception();
    }
    return 0;
}
}  // namespace

// std::thread cannot choose its stack; _beginthreadex reserves the size asked for.
void run_with_stack(std::size_t stack_bytes, const std::function<void()>& work) {
    job_t job{&work, nullptr};
    const auto thread = reinterpret_cast<HANDLE>(
        ::_beginthreadex(nullptr, static_cast<unsigned>(stack_bytes), run_job, &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (thread == nullptr) throw_os_error(errno != 0 ? errno : EAGAIN);
    ::WaitForSingleObject(thread, INFINITE);
    ::CloseHandle(thread);
    if (job.error) std::rethrow_exception(job.error);
}
