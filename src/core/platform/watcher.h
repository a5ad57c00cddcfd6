#pragma once

#include <iterator>
#include <memory>
#include <string>
#include <vector>

// What a watcher saw change: the real paths of the entries written, created, removed,
// renamed or given new permissions (a folder's path stands for everything below it), or
// everything, when the system lost count (its queue of changes overflowed).
struct folder_changes_t {
    bool everything = false;
    std::vector<std::string> paths;

    void add(folder_changes_t more) {
        everything = everything || more.everything;
        paths.insert(paths.end(), std::make_move_iterator(more.paths.begin()), std::make_move_iterator(more.paths.end()));
    }
};

// Tells a rebuild loop that something changed below the folders it watches: a file written,
// created, removed, renamed or given new permissions, at any depth. Folders created later
// below a watched one are watched too. inotify on Linux; another system brings its own.
class FolderWatcher {
public:
    FolderWatcher();  // throws os_exception when the system has no watcher to give
    FolderWatcher(const FolderWatcher&) = delete;
    FolderWatcher& operator=(const FolderWatcher&) = delete;
    ~FolderWatcher();

    // Watches folder and every folder below it, leaving out the subtrees in excluded (real
    // paths: a destination inside the source must not wake the loop with its own outputs, nor
    // by being created). Links to folders are not followed. A folder below that cannot be read
    // is left out; folder itself must be there (os_exception naming it otherwise).
    void add_tree(const std::string& folder, const std::vector<std::string>& excluded = {});

    // Waits up to timeout_ms (0: just looks) for changes and takes every change already
    // reported; true when there was at least one. Returns early, false, when interrupted.
    bool wait(int timeout_ms);

    // The changes wait took since the last call, which it gathers until they are taken.
    folder_changes_t take_changes();

    // True once the root of a tree is no longer watched: removed, moved away, or its file
    // system gone. Nothing below it is reported from then on; a new watcher must be made
    // once the folder is back.
    bool lost() const noexcept;

private:
    struct impl_t;
    std::unique_ptr<impl_t> impl_;
};
