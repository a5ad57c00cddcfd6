#include "platform/file_lock.h"

#include "platform/file_system.h"
#include "platform/win32.h"

#include <cinttypes>
#include <cstdio>

// The lock is a byte-range lock on the first byte, which Windows drops with the handle (or
// the process). Others may still open, read and write the file: the lock is all that matters.
namespace {
HANDLE to_handle(long long handle) noexcept { return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(handle)); }
}  // namespace

std::optional<FileLock> FileLock::try_lock(const std::string& path) {
    const HANDLE handle = ::CreateFileW(win32::native_path(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) win32::throw_error(::GetLastError(), path);
    OVERLAPPED at{};
    if (!::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(handle);
        if (error == ERROR_LOCK_VIOLATION) return std::nullopt;
        win32::throw_error(error, path);
    }
    return FileLock(path, static_cast<long long>(reinterpret_cast<INT_PTR>(handle)));
}

// A folder cannot take a byte-range lock: the lock file stands for it, named after the folder's
// identity (so a folder moved keeps its lock) in the user's cache folder.
std::optional<FileLock> FileLock::try_lock_folder(const std::string& path) {
    const file_identity_t identity = stat_path(path).identity;
    const std::string folder = user_cache_folder() + "/locks";
    make_directories(folder);
    char name[64];
    std::snprintf(name, sizeof name, "/%" PRIx64 "-%" PRIx64 ".lock", identity.device, identity.inode);
    std::optional<FileLock> lock = try_lock(folder + name);
    if (lock) lock->path_ = path;
    return lock;
}

FileLock::FileLock(FileLock&& other) noexcept : path_(std::move(other.path_)), handle_(other.handle_) {
    other.handle_ = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        if (handle_ != -1) ::CloseHandle(to_handle(handle_));
        path_ = std::move(other.path_);
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

FileLock::~FileLock() {
    if (handle_ != -1) ::CloseHandle(to_handle(handle_));
}
