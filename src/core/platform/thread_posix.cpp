#include "platform/thread.h"

#include "base/exceptions.h"

#include <exception>
#include <pthread.h>
#include <unistd.h>

namespace {
struct job_t {
    const std::function<void()>* work;
    std::exception_ptr error;
};

void* run_job(void* argument) {
    auto* job = static_cast<job_t*>(argument);
    try {
        (*job->work)();
    } catch (...) {
        job->error = std::current_exception();
    }
    return nullptr;
}
}  // namespace

void run_with_stack(std::size_t stack_bytes, const std::function<void()>& work) {
    pthread_attr_t attributes;
    if (const int code = pthread_attr_init(&attributes); code != 0) throw_os_error(code);
    job_t job{&work, nullptr};
    pthread_t thread;
    int code = pthread_attr_setstacksize(&attributes, stack_bytes);
    if (code == 0) code = pthread_create(&thread, &attributes, run_job, &job);
    pthread_attr_destroy(&attributes);
    if (code != 0) throw_os_error(code);
    pthread_join(thread, nullptr);
    if (job.error) std::rethrow_exception(job.error);
}

struct StackThread::impl_t {
    std::function<void()> work;
    pthread_t thread;
};

namespace {
void* run_work(void* argument) {
    (*static_cast<std::function<void()>*>(argument))();
    return nullptr;
}
}  // namespace

StackThread::StackThread(std::size_t stack_bytes, std::function<void()> work) : impl_(new impl_t{std::move(work), {}}) {
    pthread_attr_t attributes;
    int code = pthread_attr_init(&attributes);
    if (code == 0) {
        code = pthread_attr_setstacksize(&attributes, stack_bytes);
        if (code == 0) code = pthread_create(&impl_->thread, &attributes, run_work, &impl_->work);
        pthread_attr_destroy(&attributes);
    }
    if (code != 0) {
        delete impl_;
        throw_os_error(code);
    }
}

StackThread::~StackThread() {
    pthread_join(impl_->thread, nullptr);
    delete impl_;
}

unsigned hardware_threads() noexcept {
    const long count = ::sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? static_cast<unsigned>(count) : 1u;
}
