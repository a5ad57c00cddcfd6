#pragma once

#include <atomic>
#include <functional>
#include <string>
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
// inside the source) and calls rebuild once quiet_ms have passed without a change after one.
// ready is called once the folders are watched: a change after it is never missed. Returns
// when stop is set (checked at least ten times a second).
// A watched folder that goes away (removed, moved, replaced) is not rebuilt from: the watch
// says so on log, as a warning, looks every return_poll_ms for it to be back, says so, watches
// it again and rebuilds. Only a folder missing at the start is an error (os_exception).
void watch_folders(const std::vector<std::string>& folders, const std::vector<std::string>& excluded, int quiet_ms,
                   const std::atomic<bool>& stop, const std::function<void()>& rebuild,
                   const std::function<void()>& ready = {}, CompileLogBase* log = nullptr);
