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

bool Directory::next(std::string& name) {
    if (!read_) {
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
            names_.emplace_back(entry->d_name);
        }
        std::sort(names_.begin(), names_.end(), directory_order_less);
        read_ = true;
    }
    if (position_ == names_.size()) return false;
    name = std::move(names_[position_++]);
    return true;
}
