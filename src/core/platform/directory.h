#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Enumerates one directory's entries, leaving out only "." and "..". The entries come in a
// fixed order (ASCII letters folded to upper case, then plain bytes) so runs are reproducible.
class Directory {
public:
    explicit Directory(std::string path) : path_(std::move(path)) {}

    // The next entry's name; false when there is none. The first call reads the directory.
    bool next(std::string& name);

private:
    std::string path_;
    std::vector<std::string> names_;
    std::size_t position_ = 0;
    bool read_ = false;
};

// The order the entries of a directory are delivered in.
bool directory_order_less(const std::string& a, const std::string& b) noexcept;
