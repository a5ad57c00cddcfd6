#include "platform/directory.h"

#include "base/exceptions.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <memory>

namespace {
struct dir_closer {
    void operator()(DIR* d) const noexcept { ::closedir(d); }
};
}  // namespace

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
}
