#pragma once

#include "platform/file_system.h"

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

// Included documents kept for one run: a site's pages include the same few fragments
// thousands of times. An entry is used only while the file keeps its identity, size and
// modification time, so the output is the same as reading the file afresh.
class DocumentCache {
public:
    // Documents larger than this are read each time rather than kept.
    static constexpr std::size_t max_document = 256 * 1024;

    std::shared_ptr<const std::string> find(const std::string& path, const file_status_t& status) const;
    void store(const std::string& path, const file_status_t& status, std::shared_ptr<const std::string> text);

    // Paths already found to lead within the site, so that each is resolved once per run.
    bool known_readable(const std::string& path) const { return readable_.contains(path); }
    void add_readable(const std::string& path) { readable_.insert(path); }

private:
    struct entry_t {
        file_status_t status;
        std::shared_ptr<const std::string> text;
    };
    static constexpr std::size_t max_total = 64 * 1024 * 1024;

    std::unordered_map<std::string, entry_t> entries_;
    std::unordered_set<std::string> readable_;
    std::size_t total_ = 0;
};
