#pragma once

#include <optional>
#include <string>

// An exclusive advisory lock on a file (created when missing), held while the object lives.
// The system drops it when the process ends, however it ends, so a lock is never left stale.
class FileLock {
public:
    // nullopt when another process (or another FileLock of this one) holds the lock; other
    // failures throw os_exception naming the path.
    static std::optional<FileLock> try_lock(const std::string& path);
    // The same lock on a folder itself, which is left as it is (nothing is created in it), so
    // that every run into the folder meets it whatever else differs between them. On Windows,
    // where a folder cannot be locked, it is a lock file named after the folder's identity in
    // the user's cache folder: runs of other users into the folder are not kept out there.
    static std::optional<FileLock> try_lock_folder(const std::string& path);

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

    const std::string& path() const noexcept { return path_; }

private:
    FileLock(std::string path, long long handle) : path_(std::move(path)), handle_(handle) {}

    std::string path_;
    long long handle_ = -1;  // a descriptor, or a HANDLE on Windows
};
