#pragma once

#include "platform/file_system.h"
#include "platform/shared_mutex.h"
#include "ssi/expr/regex.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

// Included documents kept for one run: a site's pages include the same few fragments
// thousands of times. An entry is used only while the file keeps its identity, size and
// modification time, so the output is the same as reading the file afresh. Workers converting
// pages at once share one cache; every call is safe from any thread.
class DocumentCache {
public:
    // Documents larger than this are read each time rather than kept.
    static constexpr std::size_t max_document = 256 * 1024;

    // The status of a file an include, fsize or flastmod reads, looked at once per run and
    // shared by every page and worker: a site's pages name the same few files thousands of
    // times. An edit made during the run is found by the next run, whose record holds the
    // status seen here. Failures (a missing file) are not kept: each throws as stat_path does.
    file_status_t status(const std::string& path);
    // How many times status looked at the file system.
    std::size_t status_lookups() const noexcept { return lookups_.load(std::memory_order_relaxed); }

    std::shared_ptr<const std::string> find(const std::string& path, const file_status_t& status) const;
    void store(const std::string& path, const file_status_t& status, std::shared_ptr<const std::string> text);

    // Paths already found to lead within the site, so that each is resolved once per run.
    bool known_readable(const std::string& path) const {
        const std::shared_lock lock(mutex_);
        return readable_.contains(path);
    }
    void add_readable(const std::string& path) {
        const std::unique_lock lock(mutex_);
        readable_.insert(path);
    }
    // Folders with every link, "." and ".." resolved, so that each is resolved once per run.
    std::optional<std::string> resolved_folder(const std::string& folder) const {
        const std::shared_lock lock(mutex_);
        const auto found = folders_.find(folder);
        return found == folders_.end() ? std::nullopt : std::optional(found->second);
    }
    void add_resolved_folder(const std::string& folder, const std::string& resolved) {
        const std::unique_lock lock(mutex_);
        folders_.emplace(folder, resolved);
    }
    // The regular expressions of the Apache dialect's if and elif, compiled once per run.
    RegexCache& regexes() { return regexes_; }

private:
    struct entry_t {
        file_status_t status;
        std::shared_ptr<const std::string> text;
    };
    static constexpr std::size_t max_total = 64 * 1024 * 1024;

    mutable SharedMutex mutex_;
    std::unordered_map<std::string, entry_t> entries_;
    std::unordered_map<std::string, file_status_t> statuses_;
    std::atomic<std::size_t> lookups_{0};
    std::unordered_set<std::string> readable_;
    std::unordered_map<std::string, std::string> folders_;
    std::size_t total_ = 0;
    RegexCache regexes_;
};
