#include "build/worker_pool.h"

#include "platform/thread.h"

WorkerPool::WorkerPool(unsigned threads, std::size_t stack_bytes) : capacity_(std::size_t{4} * threads) {
    if (threads <= 1) return;
    try {
        for (unsigned i = 0; i < threads; ++i)
            threads_.push_back(std::make_unique<StackThread>(stack_bytes, [this] { serve(); }));
    } catch (...) {
        // A pool of fewer threads still does the work.
        if (threads_.empty()) throw;
    }
}

WorkerPool::~WorkerPool() {
    {
        const std::lock_guard lock(mutex_);
        ending_ = true;
    }
    work_ready_.notify_all();
    threads_.clear();  // joins each thread once the queue is empty
}

void WorkerPool::submit(std::function<void()> work) {
    if (threads_.empty()) {
        work();
        return;
    }
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return queue_.size() < capacity_; });
    queue_.push_back(std::move(work));
    lock.unlock();
    work_ready_.notify_one();
}

void WorkerPool::wait() {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return queue_.empty() && running_ == 0; });
}

std::exception_ptr WorkerPool::failure() {
    const std::lock_guard lock(mutex_);
    return failure_;
}

void WorkerPool::serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_ready_.wait(lock, [this] { return !queue_.empty() || ending_; });
        if (queue_.empty()) return;
        std::function<void()> work = std::move(queue_.front());
        queue_.pop_front();
        ++running_;
        lock.unlock();
        room_.notify_all();
        std::exception_ptr failure;
        try {
            work();
            work = nullptr;
        } catch (...) {
            failure = std::current_exception();
            work = nullptr;
        }
        lock.lock();
        if (failure && !failure_) failure_ = failure;
        --running_;
        if (queue_.empty() && running_ == 0) room_.notify_all();
    }
}
