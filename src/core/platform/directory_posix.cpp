#include "platform/directory.h"

#include "base/exceptions.h"
#include "platform/posix_status.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace {
struct dir_closer {
    void operator()(DIR* d) const noexcept { ::closedir(d); }
};
}  // namespace

Directory::~Directory() {
    if (handle_ != nullptr) ::closedir(static_cast<DIR*>(handle_));
}

file_status_t Directory::lstat(const std::string& name) const {
    if (handle_ == nullptr) return lstat_path(path_ + "/" + name);
    struct stat st;
    if (::fstatat(::dirfd(static_cast<DIR*>(handle_)), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        throw_os_error(errno, path_ + "/" + name);
    return to_status(st);
}

void Directory::read() {
    std::unique_ptr<DIR, dir_closer> dir(::opendir(path_.c_str()));
    if (!dir) throw_os_error(errno, path_);
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0) throw_os_error(errno, path_);
            break;
        }
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        const kind_t kind = entry->d_type == DT_REG ? kind_t::regular : entry->d_type == DT_DIR ? kind_t::directory
                                                                                                : kind_t::unknown;
        entries_.push_back({entry->d_name, kind});
    }
    if (stay_open_) handle_ = dir.release();
}
