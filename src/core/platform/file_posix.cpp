#include "platform/file.h"

#include "base/exceptions.h"
#include "platform/file_system.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <string_view>
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
// The process's umask, read once without changing it (umask() itself would, for every thread);
// -1 where the system does not say, and modes are then set after creating.
int process_umask() {
    static const int mask = [] {
        const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
        if (fd < 0) return -1;
        char text[4096];
        const ssize_t n = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        if (n <= 0) return -1;
        text[n] = '\0';
        const char* at = std::strstr(text, "\nUmask:");
        if (at == nullptr) return -1;
        return static_cast<int>(std::strtol(at + 7, nullptr, 8)) & 0777;
    }();
    return mask;
}

// The mode to create a file with so that it has exactly mode at once, or -1 when it cannot
// (special bits, or an unknown umask) and the mode is set after creating.
int creation_mode(std::optional<unsigned> mode) {
    if (!mode) return -1;
    const int mask = process_umask();
    const auto bits = static_cast<int>(*mode & 07777);
    return mask < 0 || (bits & 07000) != 0 || (bits & mask) != 0 ? -1 : bits;
}

std::string folder_of(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    return slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
}

// A fresh file in target's folder. The name is this process's and a counter's; O_EXCL keeps
// it from taking over anything already there.
std::pair<std::string, int> make_temporary(const std::string& target, int mode = 0666) {
    static std::atomic<unsigned long> counter{0};
    static const auto process = static_cast<std::uint64_t>(::getpid());
    const std::string folder = folder_of(target);
    for (;;) {
        std::string name = folder + temporary_name(process, ++counter);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
        if (fd >= 0) return {name, fd};
        if (errno != EEXIST && errno != EINTR) throw_os_error(errno, target);
    }
}

// Whether this system's file systems gave an unnamed file once: after a refusal (an old kernel,
// a file system without them) every output takes a name, without asking again.
std::atomic<bool> unnamed_refused{false};

constexpr std::string_view descriptor_folder = "/proc/self/fd/";
std::string descriptor_path(int fd) { return std::string(descriptor_folder) + std::to_string(fd); }

// Linking an unnamed file goes through its descriptor's path, which needs /proc.
bool descriptors_have_paths() {
    static const bool usable = ::access(descriptor_folder.data(), X_OK) == 0;
    return usable;
}

// An unnamed file in target's folder, its descriptor path standing for its name; a descriptor
// of -1 when the system has none.
std::pair<std::string, int> make_unnamed(const std::string& target, int mode) {
#ifdef O_TMPFILE
    if (!unnamed_refused.load(std::memory_order_relaxed) && descriptors_have_paths()) {
        const std::string folder = folder_of(target);
        int fd;
        do {
            fd = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, static_cast<mode_t>(mode));
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0) return {descriptor_path(fd), fd};
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) throw_os_error(errno, target);
        if (errno != ENOENT) unnamed_refused = true;
    }
#endif
    (void)target;
    (void)mode;
    return {std::string(), -1};
}

// Whether linking a descriptor itself was refused once (a kernel before 6.10 lets only a
// privileged process do that): from then on the descriptor's path under /proc is linked.
std::atomic<bool> descriptor_link_refused{false};

// Links the unnamed file open as fd (descriptor_path its path under /proc) under name; errno
// says why not. Through the descriptor where the system allows it: looking up the path under
// /proc costs about as much as the link itself.
int link_unnamed(int fd, const std::string& descriptor_path, const std::string& name) {
#ifdef AT_EMPTY_PATH
    if (!descriptor_link_refused.load(std::memory_order_relaxed)) {
        if (::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
        if (errno != ENOENT) return -1;
        const int error = errno;
        if (::linkat(AT_FDCWD, descriptor_path.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            errno = error;
            return -1;
        }
        descriptor_link_refused = true;
        return 0;
    }
#else
    (void)fd;
#endif
    return ::linkat(AT_FDCWD, descriptor_path.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
}

std::pair<std::string, int> make_output(const std::string& target, std::optional<unsigned> mode, bool fresh) {
    const int created = creation_mode(mode);
    const int open_mode = created < 0 ? 0666 : created;
    if (fresh)
        if (std::pair<std::string, int> file = make_unnamed(target, open_mode); file.second >= 0) return file;
    return make_temporary(target, open_mode);
}
}  // namespace

OutputFile::OutputFile(const std::string& target) : OutputFile(target, make_temporary(target)) {}

OutputFile::OutputFile(const std::string& target, std::pair<std::string, int> temporary)
    : temporary_(std::move(temporary.first)), file_(target, temporary.second) {}

OutputFile::OutputFile(const std::string& target, std::optional<unsigned> mode, bool fresh)
    : OutputFile(target, make_output(target, mode, fresh)) {
    unnamed_ = temporary_.starts_with(descriptor_folder);
    const int created = creation_mode(mode);
    if (created >= 0)
        permissions_ = created;
    else if (mode)
        set_permissions(*mode);
}

OutputFile::~OutputFile() {
    if (!committed_ && !unnamed_) ::unlink(temporary_.c_str());
}

void OutputFile::set_permissions(unsigned mode) {
    if (permissions_ == static_cast<int>(mode & 07777)) return;  // created with them
    if (::fchmod(file_.native_handle(), static_cast<mode_t>(mode & 07777)) != 0) throw_os_error(errno, file_.path());
    permissions_ = static_cast<int>(mode & 07777);
}

namespace {
// The status of an output about to be put in place (a rename keeps all of it). A folder whose
// default access list stands for the umask may have made it with other bits than it was
// created with: those asked for are given now.
file_status_t settled_status(File& file, int permissions) {
    file_status_t status = stat_file(file);
    if (permissions >= 0 && status.permissions != static_cast<unsigned>(permissions)) {
        if (::fchmod(file.native_handle(), static_cast<mode_t>(permissions)) != 0) throw_os_error(errno, file.path());
        status.permissions = static_cast<unsigned>(permissions);
    }
    return status;
}
}  // namespace

void OutputFile::close() {
    if (unnamed_ || file_.native_handle() < 0) return;
    placed_ = settled_status(file_, permissions_);
    file_.close();
}

void OutputFile::commit() {
    const std::string& target = file_.path();
    if (unnamed_) {
        placed_ = settled_status(file_, permissions_);
        // Linked straight under the target's name; something that came there meanwhile is
        // replaced as a named temporary file would replace it.
        const int fd = file_.native_handle();
        if (link_unnamed(fd, temporary_, target) != 0) {
            if (errno != EEXIST) throw_os_error(errno, target);
            std::pair<std::string, int> named = make_temporary(target);
            ::close(named.second);
            ::unlink(named.first.c_str());
            if (link_unnamed(fd, temporary_, named.first) != 0)
                throw_os_error(errno, target);
            if (::rename(named.first.c_str(), target.c_str()) != 0) {
                const int error = errno;
                ::unlink(named.first.c_str());
                throw_os_error(error, target);
            }
        }
        committed_ = true;
        file_.close();
        return;
    }
    close();
    if (::rename(temporary_.c_str(), target.c_str()) != 0) throw_os_error(errno, target);
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
    close();
    const std::string& target = file_.path();
    // O_NOFOLLOW: a link at the target is replaced, never compared through. A target that is
    // missing or cannot be read is replaced too, and the rename reports what stands in the way.
    const int fd = ::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        File old_file(target, fd);
        if (same_content(old_file, temporary_) && keep_with_permissions(fd, permissions_, target)) {
            if (!unnamed_) ::unlink(temporary_.c_str());
            file_.close();
            placed_ = stat_file(old_file);
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
