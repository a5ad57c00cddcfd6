#include "platform/directory.h"

#include "base/exceptions.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <memory>

namespace {
unsigned char fold(unsigned char c) noexcept { return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c; }

struct dir_closer {
    void operator()(DIR* d) const noexcept { ::closedir(d); }
};
}  // namespace

bool directory_order_less(const std::string& a, const std::string& b) noexcept {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = fold(static_cast<unsigned char>(a[i]));
        const unsigned char y = fold(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;  // names that differ only in case: plain byte order
}

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
