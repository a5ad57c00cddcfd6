#include "build/worker_pool.h"

#include "platform/thread.h"

#include <algorithm>
#include <vector>

namespace {
// A worker takes at most this many pieces of work at once: fewer trips through the lock,
// while the other workers still get their share of a short queue.
constexpr std::size_t batch = 4;

// The threads a pool of that many workers takes from its queue with: the caller is one of them.
std::size_t threads_for(unsigned workers) { return workers > 1 ? workers - 1 : 1; }
}  // namespace

WorkerPool::WorkerPool(unsigned workers, std::size_t stack_bytes)
    : capacity_(8 * threads_for(workers)), workers_(threads_for(workers)) {
    if (workers <= 1) return;
    try {
        for (unsigned i = 1; i < workers; ++i)
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
    if (queue_.size() >= capacity_) {
        // The workers are busy: the caller does this piece itself instead of waiting.
        lock.unlock();
        ++run_by_caller_;
        run(work);
        return;
    }
    queue_.push_back(std::move(work));
    // A queue that already held work has a worker on its way to it: whoever takes it wakes
    // another for what it leaves.
    const bool wake = idle_ > 0 && queue_.size() == 1;
    lock.unlock();
    if (wake) work_ready_.notify_one();
}

bool WorkerPool::run_queued() {
    std::unique_lock lock(mutex_);
    if (queue_.empty()) return false;
    std::function<void()> work = std::move(queue_.front());
    queue_.pop_front();
    ++running_;
    lock.unlock();
    run(work);
    lock.lock();
    ended(1);
    return true;
}

void WorkerPool::ended(std::size_t count) {
    running_ -= count;
    if (waiting_ && all_done()) done_.notify_all();
}

void WorkerPool::wait() {
    std::unique_lock lock(mutex_);
    waiting_ = true;
    done_.wait(lock, [this] { return all_done(); });
    waiting_ = false;
}

std::exception_ptr WorkerPool::failure() {
    const std::lock_guard lock(mutex_);
    return failure_;
}

void WorkerPool::run(std::function<void()>& work) {
    std::exception_ptr failure;
    try {
        work();
    } catch (...) {
        failure = std::current_exception();
    }
    work = nullptr;
    if (failure) {
        const std::lock_guard lock(mutex_);
        if (!failure_) failure_ = failure;
    }
}

void WorkerPool::serve() {
    std::vector<std::function<void()>> taken;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (queue_.empty() && !ending_) {
            ++idle_;
            work_ready_.wait(lock, [this] { return !queue_.empty() || ending_; });
            --idle_;
        }
        if (queue_.empty()) return;
        // A share of what waits: the other workers take the rest.
        const std::size_t take = std::min(batch, (queue_.size() + workers_ - 1) / workers_);
        for (std::size_t i = 0; i < take; ++i) {
            taken.push_back(std::move(queue_.front()));
            queue_.pop_front();
        }
        running_ += taken.size();
        // Work left over goes to an idle worker, if there is one.
        const bool wake = !queue_.empty() && idle_ > 0;
        lock.unlock();
        if (wake) work_ready_.notify_one();
        for (std::function<void()>& work : taken) run(work);
        lock.lock();
        ended(taken.size());
        taken.clear();
    }
}
