#include "platform/file.h"

#include "base/exceptions.h"
#include "platform/file_system.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

File::File(const std::string& path, access_t access) : path_(path) {
    // O_NONBLOCK keeps a FIFO opened by mistake from hanging the run; regular files ignore it.
    const int flags = access == access_t::read         ? O_RDONLY | O_NONBLOCK | O_CLOEXEC
                      : access == access_t::create_new ? O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC
                                                       : O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
    do {
        fd_ = ::open(path.c_str(), flags, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) throw_os_error(errno, path_);
}

namespace {
// A fresh file in target's folder, with the mode a new file gets. The name is this process's
// and a counter's; O_EXCL keeps it from taking over anything already there.
std::pair<std::string, int> make_temporary(const std::string& target) {
    static std::atomic<unsigned long> counter{0};
    static const auto process = static_cast<std::uint64_t>(::getpid());
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    for (;;) {
        std::string name = folder + temporary_name(process, ++counter);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return {name, fd};
        if (errno != EEXIST && errno != EINTR) throw_os_error(errno, target);
    }
}
}  // namespace

OutputFile::OutputFile(const std::string& target) : OutputFile(target, make_temporary(target)) {}

OutputFile::OutputFile(const std::string& target, std::pair<std::string, int> temporary)
    : temporary_(std::move(temporary.first)), file_(target, temporary.second) {}

OutputFile::~OutputFile() {
    if (!committed_) ::unlink(temporary_.c_str());
}

void OutputFile::set_permissions(unsigned mode) {
    if (::fchmod(file_.native_handle(), static_cast<mode_t>(mode & 07777)) != 0) throw_os_error(errno, file_.path());
    permissions_ = static_cast<int>(mode & 07777);
}

void OutputFile::commit() {
    file_.close();
    if (::rename(temporary_.c_str(), file_.path().c_str()) != 0) throw_os_error(errno, file_.path());
    committed_ = true;
}

namespace {
// Whether target, open as old_file, holds exactly the bytes of the temporary file.
// Read failures name the target.
bool same_content(File& old_file, const std::string& temporary) {
    struct stat old_status, new_status;
    if (::fstat(old_file.native_handle(), &old_status) != 0 || !S_ISREG(old_status.st_mode)) return false;
    if (::stat(temporary.c_str(), &new_status) != 0) throw_os_error(errno, old_file.path());
    if (old_status.st_size != new_status.st_size) return false;

    const int fd = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) return false;  // permissions without read access: just replace
    if (fd < 0) throw_os_error(errno, old_file.path());
    File new_file(old_file.path(), fd);
    return same_bytes(old_file, new_file);
}

// Gives the kept target (open as fd) the permission bits asked for (-1: none). A target of
// another owner cannot take them (EPERM): false, and it is replaced as commit would replace it.
bool keep_with_permissions(int fd, int permissions, const std::string& target) {
    if (permissions < 0) return true;
    struct stat st;
    if (::fstat(fd, &st) != 0) throw_os_error(errno, target);
    if (static_cast<int>(st.st_mode & 07777) == permissions) return true;
    if (::fchmod(fd, static_cast<mode_t>(permissions)) == 0) return true;
    if (errno == EPERM) return false;
    throw_os_error(errno, target);
}
}  // namespace

bool OutputFile::commit_if_changed() {
    file_.close();
    const std::string& target = file_.path();
    // O_NOFOLLOW: a link at the target is replaced, never compared through. A target that is
    // missing or cannot be read is replaced too, and the rename reports what stands in the way.
    const int fd = ::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        File old_file(target, fd);
        if (same_content(old_file, temporary_) && keep_with_permissions(fd, permissions_, target)) {
            ::unlink(temporary_.c_str());
            committed_ = true;
            return false;
        }
    }
    commit();
    return true;
}

File::~File() {
    if (fd_ >= 0) ::close(fd_);
}

std::size_t File::read(void* data, std::size_t size) {
    auto* p = static_cast<char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd_, p + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw_os_error(errno, path_);
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void File::seek(std::uint64_t offset) {
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) throw_os_error(errno, path_);
}

void File::write(const void* data, std::size_t size) {
    call_write_hook(path_);
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd_, p, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            throw_os_error(errno, path_);
        }
        p += written;
        size -= static_cast<std::size_t>(written);
    }
}

std::uint64_t File::size() const {
    struct stat st;
    if (::fstat(fd_, &st) != 0) throw_os_error(errno, path_);
    return static_cast<std::uint64_t>(st.st_size);
}

void File::close() {
    if (fd_ < 0) return;
    const int fd = fd_;
    fd_ = -1;
    // After a failed close the descriptor is gone on Linux; retrying could close another file.
    if (::close(fd) != 0 && errno != EINTR) throw_os_error(errno, path_);
}
