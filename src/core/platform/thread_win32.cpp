#include "platform/thread.h"

#include "platform/shared_mutex.h"
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

struct StackThread::impl_t {
    std::function<void()> work;
    HANDLE thread = nullptr;
};

namespace {
unsigned __stdcall run_work(void* argument) {
    (*static_cast<std::function<void()>*>(argument))();
    return 0;
}
}  // namespace

StackThread::StackThread(std::size_t stack_bytes, std::function<void()> work) : impl_(new impl_t{std::move(work)}) {
    impl_->thread = reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, static_cast<unsigned>(stack_bytes), run_work,
                                                              &impl_->work, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (impl_->thread == nullptr) {
        delete impl_;
        throw_os_error(errno != 0 ? errno : EAGAIN);
    }
}

StackThread::~StackThread() {
    ::WaitForSingleObject(impl_->thread, INFINITE);
    ::CloseHandle(impl_->thread);
    delete impl_;
}

unsigned hardware_threads() noexcept {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<unsigned>(info.dwNumberOfProcessors) : 1u;
}

// SRWLOCK is one pointer-sized field, zero when free.
static_assert(sizeof(SRWLOCK) == sizeof(void*));

void SharedMutex::lock() noexcept { AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&lock_)); }
bool SharedMutex::try_lock() noexcept { return TryAcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&lock_)) != 0; }
void SharedMutex::unlock() noexcept { ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&lock_)); }
void SharedMutex::lock_shared() noexcept { AcquireSRWLockShared(reinterpret_cast<PSRWLOCK>(&lock_)); }
bool SharedMutex::try_lock_shared() noexcept { return TryAcquireSRWLockShared(reinterpret_cast<PSRWLOCK>(&lock_)) != 0; }
void SharedMutex::unlock_shared() noexcept { ReleaseSRWLockShared(reinterpret_cast<PSRWLOCK>(&lock_)); }
