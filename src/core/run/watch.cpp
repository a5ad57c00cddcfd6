#include "run/watch.h"

#include "platform/file_system.h"
#include "platform/watcher.h"
#include "ssi/preferences.h"

#include <algorithm>
#include <optional>

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

void watch_folders(const std::vector<std::string>& folders, const std::vector<std::string>& excluded, int quiet_ms,
                   const std::atomic<bool>& stop, const std::function<void()>& rebuild,
                   const std::function<void()>& ready) {
    FolderWatcher watcher;
    for (const std::string& folder : folders) watcher.add_tree(folder, excluded);
    if (ready) ready();
    constexpr int tick_ms = 100;
    while (!stop.load()) {
        if (!watcher.wait(tick_ms)) continue;
        // Changes keep coming while a save or a copy goes on: wait for the quiet after them.
        for (int quiet = 0; quiet < quiet_ms && !stop.load();) {
            const int slice = std::min(tick_ms, quiet_ms - quiet);
            quiet = watcher.wait(slice) ? 0 : quiet + slice;
        }
        if (!stop.load()) rebuild();
    }
}
