#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Enumerates one directory's entries, leaving out only "." and "..". The entries come in a
// fixed order (ASCII letters folded to upper case, then plain bytes) so runs are reproducible.
class Directory {
public:
    // What the listing itself tells of an entry, where the system says; a link, and anything
    // the listing does not tell, is unknown (ask the file system).
    enum class kind_t { unknown, regular, directory };

    explicit Directory(std::string path) : path_(std::move(path)) {}

    // The next entry's name; false when there is none. The first call reads the directory.
    bool next(std::string& name) {
        kind_t kind;
        return next(name, kind);
    }
    bool next(std::string& name, kind_t& kind);

private:
    struct entry_t {
        std::string name;
        kind_t kind = kind_t::unknown;
    };
    // Reads and sorts the entries.
    void read();

    std::string path_;
    std::vector<entry_t> entries_;
    std::size_t position_ = 0;
    bool read_ = false;
};

// The order the entries of a directory are delivered in.
bool directory_order_less(const std::string& a, const std::string& b) noexcept;
