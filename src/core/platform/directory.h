#pragma once

#include "platform/file_system.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Enumerates one directory's entries, leaving out only "." and "..". The entries come in a
// fixed order (ASCII letters folded to upper case, then plain bytes) so runs are reproducible.
class Directory {
public:
    // What the listing itself tells of an entry, where the system says; a link, and anything
    // the listing does not tell, is unknown (ask the file system).
    enum class kind_t { unknown, regular, directory };

    // With stay_open, the folder is kept open after it is read, so that lstat looks names up
    // in it rather than along the whole path (each open folder holds a descriptor).
    explicit Directory(std::string path, bool stay_open = false) : path_(std::move(path)), stay_open_(stay_open) {}
    // The folder name listed in parent, opened through parent when that is kept open (its
    // path is parent's, "/", name). parent must outlive the first call of next.
    Directory(const Directory& parent, const std::string& name, bool stay_open = false)
        : path_(parent.path_ + "/" + name), stay_open_(stay_open), parent_(&parent), name_(name) {}
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    ~Directory();

    // The next entry's name; false when there is none. The first call reads the directory.
    bool next(std::string& name) {
        kind_t kind;
        return next(name, kind);
    }
    bool next(std::string& name, kind_t& kind);

    // lstat_path of the entry name (read already), looked up in the open folder when it is
    // kept open; errors name the whole path.
    file_status_t lstat(const std::string& name) const;

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
    bool stay_open_ = false;
    const Directory* parent_ = nullptr;  // the folder listing it, and its name there
    std::string name_;
    int descriptor_ = -1;  // the open folder, when it stays open (where the system has descriptors)
};

// The order the entries of a directory are delivered in.
bool directory_order_less(std::string_view a, std::string_view b) noexcept;
