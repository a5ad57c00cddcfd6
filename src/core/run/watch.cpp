#include "run/watch.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "platform/directory.h"
#include "platform/file_system.h"
#include "platform/watcher.h"
#include "ssi/preferences.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string_view>
#include <thread>

std::vector<std::string> watched_folders(const std::string& source, const SSIDirectoryPreferences& preferences) {
    std::vector<std::string> folders{source};
    if (!preferences.source_as_root && !preferences.virtual_root.empty()) folders.push_back(preferences.virtual_root);
    folders.insert(folders.end(), preferences.allow_outside.begin(), preferences.allow_outside.end());
    std::erase_if(folders, [](const std::string& folder) {
        const std::optional<file_status_t> status = try_stat_path(folder);
        return !status || status->kind != file_kind_t::directory;
    });
    return folders;
}

namespace {
constexpr int tick_ms = 100;

// A watched folder as it was when its watch began: a folder made again in its place has
// another identity and must be watched anew.
struct root_t {
    std::string path;
    file_identity_t identity;
};

// The identity of the folder at path; nullopt when none can be looked at there now.
std::optional<file_identity_t> folder_at(const std::string& path) {
    try {
        const std::optional<file_status_t> status = try_stat_path(path);
        if (status && status->kind == file_kind_t::directory) return status->identity;
    } catch (const os_exception&) {
        // Unreadable, or on its way out: not a folder to rebuild from.
    }
    return std::nullopt;
}

class Watch {
public:
    Watch(const std::vector<std::string>& folders, const std::vector<std::string>& excluded,
          const std::atomic<bool>& stop, CompileLogBase* log)
        : excluded_(excluded), stop_(stop), log_(log) {
        for (const std::string& folder : folders) roots_.push_back({folder, {}});
    }

    // Watches every folder anew; throws when one of them is not there.
    void start() {
        watcher_.reset();
        watcher_.emplace();
        for (root_t& root : roots_) {
            root.identity = stat_path(root.path).identity;
            watcher_->add_tree(root.path, excluded_);
        }
    }

    // The first watched folder that is gone, or was replaced, since the watch began; null when none.
    const root_t* gone() const {
        for (const root_t& root : roots_) {
            const std::optional<file_identity_t> now = folder_at(root.path);
            if (!now || *now != root.identity) return &root;
        }
        return watcher_ && watcher_->lost() ? &roots_.front() : nullptr;
    }

    // Waits up to timeout_ms for a change; true when there was one. A watcher that fails
    // because a folder went away reports none: the caller then finds the folder gone.
    bool wait(int timeout_ms) {
        try {
            return watcher_->wait(timeout_ms);
        } catch (const os_exception&) {
            if (gone() == nullptr) throw;
            return false;
        }
    }

    folder_changes_t take_changes() { return watcher_ ? watcher_->take_changes() : folder_changes_t{true, {}}; }

    // Says that root is gone, waits for every watched folder to be a folder again and watches
    // them anew; false when stopped first.
    bool wait_for_return(const root_t& gone_root) {
        const std::string path = gone_root.path;
        if (log_) log_->warning(path + " is gone; waiting for it to come back");
        watcher_.reset();
        for (;;) {
            for (int waited = 0; waited < return_poll_ms; waited += tick_ms) {
                if (stop_.load()) return false;
                std::this_thread::sleep_for(std::chrono::milliseconds(tick_ms));
            }
            if (std::any_of(roots_.begin(), roots_.end(), [](const root_t& root) { return !folder_at(root.path); }))
                continue;
            try {
                start();
            } catch (const os_exception&) {
                continue;  // gone again meanwhile
            }
            if (log_) log_->message(path + " is back; rebuilding");
            return true;
        }
    }

private:
    std::vector<root_t> roots_;
    const std::vector<std::string>& excluded_;
    const std::atomic<bool>& stop_;
    CompileLogBase* log_;
    std::optional<FolderWatcher> watcher_;
};
}  // namespace

void watch_folders(const std::vector<std::string>& folders, const std::vector<std::string>& excluded, int quiet_ms,
                   const std::atomic<bool>& stop, const std::function<void(const folder_changes_t&)>& rebuild,
                   const std::function<void()>& ready, CompileLogBase* log) {
    Watch watch(folders, excluded, stop, log);
    watch.start();
    if (ready) ready();
    while (!stop.load()) {
        if (const root_t* root = watch.gone()) {
            if (watch.wait_for_return(*root)) rebuild(folder_changes_t{true, {}});
            continue;
        }
        if (!watch.wait(tick_ms)) continue;
        // Changes keep coming while a save or a copy goes on: wait for the quiet after them.
        for (int quiet = 0; quiet < quiet_ms && !stop.load();) {
            const int slice = std::min(tick_ms, quiet_ms - quiet);
            quiet = watch.wait(slice) ? 0 : quiet + slice;
        }
        // A folder gone meanwhile is told of, and waited for, at the top of the loop.
        if (!stop.load() && watch.gone() == nullptr) rebuild(watch.take_changes());
    }
}

OutputTracker::OutputTracker(std::string destination) : destination_(std::move(destination)) {}

namespace {
// The order OutputTracker::scan lists files in: each folder's entries in the directory order,
// the files of a folder in its place among them.
bool scan_order_less(std::string_view a, std::string_view b) {
    for (;;) {
        const std::string_view x = a.substr(0, a.find('/'));
        const std::string_view y = b.substr(0, b.find('/'));
        if (x != y) return directory_order_less(x, y);
        if (x.size() == a.size() || y.size() == b.size()) return a.size() < b.size();
        a.remove_prefix(x.size() + 1);
        b.remove_prefix(y.size() + 1);
    }
}
}  // namespace

// Files below relative (a folder of the destination, "" for itself) into into; folders that
// cannot be read are passed over: a rebuild may be removing them meanwhile. Entries are looked
// up in their open folder: a large site's destination is tens of thousands of files.
void OutputTracker::scan(const std::string& relative, files_t& into) const {
    const std::string folder = relative.empty() ? destination_ : destination_ + "/" + relative;
    try {
        Directory listing(folder, true);
        std::string name;
        while (listing.next(name)) {
            if (is_temporary_name(name)) continue;
            const std::string path = relative.empty() ? name : relative + "/" + name;
            const file_status_t status = listing.lstat(name);
            if (status.kind == file_kind_t::directory)
                scan(path, into);
            else if (status.kind == file_kind_t::regular)
                into.emplace_back(path, stamp_of(status));
        }
    } catch (const os_exception&) {
        // Gone or unreadable: nothing of it is served either.
    }
}

bool OutputTracker::look_at(const std::vector<std::string>& outputs, output_changes_t& changes) {
    std::vector<std::optional<file_status_t>> statuses;
    statuses.reserve(outputs.size());
    for (const std::string& path : outputs) {
        std::optional<file_status_t> status;
        try {
            status = lstat_path(destination_ + "/" + path);
        } catch (const os_exception&) {
            // Gone, or unreadable: nothing of it is served either.
        }
        if (status && status->kind == file_kind_t::directory) return false;
        statuses.push_back(status);
    }
    const auto less = [](const auto& entry, const std::string& path) { return scan_order_less(entry.first, path); };
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const std::string& path = outputs[i];
        const std::optional<file_status_t>& status = statuses[i];
        const auto at = std::lower_bound(files_.begin(), files_.end(), path, less);
        const bool known = at != files_.end() && at->first == path;
        if (!status || status->kind != file_kind_t::regular) {
            if (!known) continue;
            files_.erase(at);
            changes.removed.push_back(path);
            continue;
        }
        const file_stamp_t stamp = stamp_of(*status);
        if (known && at->second == stamp) continue;
        if (known)
            at->second = stamp;
        else
            files_.emplace(at, path, stamp);
        changes.written.push_back(path);
    }
    return true;
}

output_changes_t OutputTracker::update(const std::vector<std::string>* outputs) {
    if (outputs != nullptr && in_step_) {
        std::vector<std::string> paths = *outputs;
        std::sort(paths.begin(), paths.end());
        paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
        output_changes_t changes;
        // A folder that stands where a file was is scanned with everything else.
        if (look_at(paths, changes)) return changes;
    }
    in_step_ = true;
    files_t now;
    now.reserve(files_.size());
    scan("", now);
    // Both lists are in the order scan lists files: one pass over the two tells what changed.
    output_changes_t changes;
    auto before = files_.cbegin();
    for (const auto& [path, stamp] : now) {
        while (before != files_.cend() && before->first != path && scan_order_less(before->first, path))
            changes.removed.push_back((before++)->first);
        if (before != files_.cend() && before->first == path) {
            if (!(before->second == stamp)) changes.written.push_back(path);
            ++before;
        } else {
            changes.written.push_back(path);
        }
    }
    for (; before != files_.cend(); ++before) changes.removed.push_back(before->first);
    files_ = std::move(now);
    std::sort(changes.written.begin(), changes.written.end());
    std::sort(changes.removed.begin(), changes.removed.end());
    return changes;
}
