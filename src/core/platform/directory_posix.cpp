#include "platform/directory.h"

#include "base/exceptions.h"
#include "platform/posix_status.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <utility>
#include <sys/stat.h>

Directory::~Directory() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

file_status_t Directory::lstat(const std::string& name) const {
    if (descriptor_ < 0) return lstat_path(path_ + "/" + name);
    struct stat st;
    if (::fstatat(descriptor_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) throw_os_error(errno, path_ + "/" + name);
    return to_status(st);
}

namespace {
struct descriptor_t {
    int fd;
    ~descriptor_t() {
        if (fd >= 0) ::close(fd);
    }
};
}  // namespace

// Read with getdents64 straight into a buffer of our own: opendir would look at the folder
// once more (fstat) for nothing. A folder listed in one kept open is opened through it, not
// along the whole path.
void Directory::read() {
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    descriptor_t folder{parent_ != nullptr && parent_->descriptor_ >= 0 ? ::openat(parent_->descriptor_, name_.c_str(), flags)
                                                                         : ::open(path_.c_str(), flags)};
    if (folder.fd < 0) throw_os_error(errno, path_);
    alignas(dirent64) char buffer[32768];
    for (;;) {
        const ssize_t length = ::getdents64(folder.fd, buffer, sizeof buffer);
        if (length < 0) {
            if (errno == EINTR) continue;
            throw_os_error(errno, path_);
        }
        if (length == 0) break;
        for (ssize_t at = 0; at < length;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
            const kind_t kind = entry->d_type == DT_REG   ? kind_t::regular
                                : entry->d_type == DT_DIR ? kind_t::directory
                                                          : kind_t::unknown;
            entries_.push_back({name, kind});
        }
    }
    if (stay_open_) descriptor_ = std::exchange(folder.fd, -1);
}
