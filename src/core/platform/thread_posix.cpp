#include "platform/thread.h"

#include "base/exceptions.h"

#include <exception>
#include <pthread.h>

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
