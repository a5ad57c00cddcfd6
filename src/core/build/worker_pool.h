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

// Threads that take work in the order it is given. With one thread, work runs at once on the
// caller's thread instead, exactly as without a pool. submit waits while the queue is full, so
// a walk far ahead of its workers holds a bounded number of files. Work that throws all the
// same is kept from ending the program: its first failure is kept for failure().
class WorkerPool {
public:
    WorkerPool(unsigned threads, std::size_t stack_bytes);
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    // Finishes the work queued, then ends the threads.
    ~WorkerPool();

    void submit(std::function<void()> work);
    // Returns once every piece of work given so far has ended.
    void wait();
    // What the first piece of work that threw on a worker threw, if any.
    std::exception_ptr failure();

private:
    void serve();

    std::mutex mutex_;
    std::condition_variable work_ready_;  // queued work, or the end
    std::condition_variable room_;        // room in the queue, or all done
    std::deque<std::function<void()>> queue_;
    std::size_t capacity_;
    std::size_t running_ = 0;
    bool ending_ = false;
    std::exception_ptr failure_;
    std::vector<std::unique_ptr<StackThread>> threads_;
};
