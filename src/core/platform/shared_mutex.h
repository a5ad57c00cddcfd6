#pragma once

// A lock that many readers may hold at once, or one writer, for std::shared_lock and
// std::unique_lock. On Windows it is the system's slim reader/writer lock: MinGW's
// std::shared_mutex, built on its own POSIX threads layer, sometimes lets two writers in at
// once when a fresh lock is first taken by two threads together.
#ifdef _WIN32
class SharedMutex {
public:
    SharedMutex() noexcept = default;
    SharedMutex(const SharedMutex&) = delete;
    SharedMutex& operator=(const SharedMutex&) = delete;

    void lock() noexcept;
    bool try_lock() noexcept;
    void unlock() noexcept;
    void lock_shared() noexcept;
    bool try_lock_shared() noexcept;
    void unlock_shared() noexcept;

private:
    void* lock_ = nullptr;  // an SRWLOCK, whose initial state is all zero
};
#else
#include <shared_mutex>
using SharedMutex = std::shared_mutex;
#endif
