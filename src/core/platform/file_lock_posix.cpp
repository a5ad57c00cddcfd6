#include "platform/file_lock.h"

#include "base/exceptions.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

// flock locks belong to the open file description, not to the process: a second descriptor
// opened here on the same file is refused like another process would be.
namespace {
std::optional<int> lock_descriptor(int fd, const std::string& path) {
    if (fd < 0) throw_os_error(errno, path);
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) return std::nullopt;
        throw_os_error(error, path);
    }
    return fd;
}
}  // namespace

std::optional<FileLock> FileLock::try_lock(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    const std::optional<int> locked = lock_descriptor(fd, path);
    if (!locked) return std::nullopt;
    return FileLock(path, *locked);
}

// flock works on a folder opened for reading, and takes nothing from what others may do in it.
std::optional<FileLock> FileLock::try_lock_folder(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    const std::optional<int> locked = lock_descriptor(fd, path);
    if (!locked) return std::nullopt;
    return FileLock(path, *locked);
}

FileLock::FileLock(FileLock&& other) noexcept : path_(std::move(other.path_)), handle_(other.handle_) {
    other.handle_ = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        if (handle_ >= 0) ::close(static_cast<int>(handle_));
        path_ = std::move(other.path_);
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

// Closing the last descriptor of the open file description releases the lock.
FileLock::~FileLock() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}
