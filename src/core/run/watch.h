#pragma once

#include "build/manifest.h"
#include "platform/file_system.h"
#include "platform/watcher.h"

#include <atomic>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class CompileLogBase;
struct SSIDirectoryPreferences;

// How long a site must stay quiet after a change before it is rebuilt: an editor's save, or a
// copy of many files, is one rebuild rather than one per file.
inline constexpr int default_quiet_ms = 200;
// How often a watch looks whether a watched folder that went away is back.
inline constexpr int return_poll_ms = 500;

// What a watch of the site in source looks at: the site itself, and the other folders its
// pages may read (the virtual root, the places allowed outside), those that are folders.
std::vector<std::string> watched_folders(const std::string& source, const SSIDirectoryPreferences& preferences);

// Keeps a destination in step with its sources while they are edited: watches the folders
// (and every folder below them, leaving out the subtrees in excluded, such as a destination
// inside the source) and calls rebuild once quiet_ms have passed without a change after one,
// with the changes seen since the last call (everything, after a watched folder came back).
// ready is called once the folders are watched: a change after it is never missed. Returns
// when stop is set (checked at least ten times a second).
// A watched folder that goes away (removed, moved, replaced) is not rebuilt from: the watch
// says so on log, as a warning, looks every return_poll_ms for it to be back, says so, watches
// it again and rebuilds. Only a folder missing at the start is an error (os_exception).
void watch_folders(const std::vector<std::string>& folders, const std::vector<std::string>& excluded, int quiet_ms,
                   const std::atomic<bool>& stop, const std::function<void(const folder_changes_t&)>& rebuild,
                   const std::function<void()>& ready = {}, CompileLogBase* log = nullptr);

// The outputs one rebuild wrote or removed, as paths relative to the destination ("a/b.html").
struct output_changes_t {
    std::vector<std::string> written;
    std::vector<std::string> removed;
};

// Tells, after each rebuild, which outputs in a destination changed since the last look: a
// file renamed into place has a new identity, so a rewrite is seen even within one clock tick.
// Links and folders are not outputs. For front ends that follow a watch (a preview server).
class OutputTracker {
public:
    explicit OutputTracker(std::string destination);
    // Looks at the destination again; the first call reports every file as written. With
    // outputs (paths from the destination's root: every output the rebuild may have written or
    // removed, as a run reports them), only those are looked at, unless one is now a folder.
    output_changes_t update(const std::vector<std::string>* outputs = nullptr);
    // A run went by without update (one stopped): the next update looks at the whole
    // destination again.
    void missed_run() noexcept { in_step_ = false; }

private:
    using files_t = std::vector<std::pair<std::string, file_stamp_t>>;  // in the order scan lists them
    void scan(const std::string& relative, files_t& into) const;
    // Looks at the given outputs only; false when one of them is a folder now.
    bool look_at(const std::vector<std::string>& outputs, output_changes_t& changes);

    std::string destination_;
    files_t files_;
    bool in_step_ = false;  // files_ is what the destination holds but for outputs given to update
};
