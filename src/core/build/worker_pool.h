#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class StackThread;

// Threads that take work in the order it is given, the caller's own among them: a pool of n
// workers starts n - 1 threads, and with one worker, work runs at once on the caller's thread,
// exactly as without a pool. When the queue is full, submit runs the work on the caller's
// thread rather than waiting, so a walk far ahead of its workers holds a bounded number of
// files, its thread is never idle, and no more threads are busy than were asked for. Workers
// take a few pieces at a time and are woken only when one is idle, so that handing work on
// costs no system call while they are busy. Work that throws all the same is kept from ending
// the program: its first failure is kept for failure().
class WorkerPool {
public:
    WorkerPool(unsigned workers, std::size_t stack_bytes);
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    // Finishes the work queued, then ends the threads.
    ~WorkerPool();

    void submit(std::function<void()> work);
    // Runs the oldest piece of work still queued on the caller's thread; false when none is.
    bool run_queued();
    // Returns once every piece of work given so far has ended.
    void wait();
    // What the first piece of work that threw on a worker threw, if any.
    std::exception_ptr failure();

    // How many pieces of work submit ran on the caller's thread, the queue being full.
    std::size_t run_by_caller() const noexcept { return run_by_caller_; }

private:
    void serve();
    // Runs work and lets it go; what it throws is kept for failure() if nothing threw before.
    void run(std::function<void()>& work);
    // With the lock held: count pieces of work have ended; wait() is told when all have.
    void ended(std::size_t count);
    bool all_done() const { return queue_.empty() && running_ == 0; }

    std::mutex mutex_;
    std::condition_variable work_ready_;  // queued work, or the end
    std::condition_variable done_;        // all done, for wait()
    std::deque<std::function<void()>> queue_;
    std::size_t capacity_;
    std::size_t workers_;  // how many threads take from the queue: each takes its share of it
    std::size_t running_ = 0;
    std::size_t idle_ = 0;        // workers waiting for work
    bool waiting_ = false;        // wait() is waiting
    bool ending_ = false;
    std::size_t run_by_caller_ = 0;  // changed by the caller's thread only
    std::exception_ptr failure_;
    std::vector<std::unique_ptr<StackThread>> threads_;
};
