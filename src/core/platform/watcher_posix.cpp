#include "platform/watcher.h"

#include "base/exceptions.h"
#include "platform/directory.h"
#include "platform/file_system.h"

#include <cerrno>
#include <memory>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>

// One inotify watch per folder. Every path kept here is a real path: links are never
// followed, so a folder's real path is its parent's plus its name, and the excluded folders
// (real paths too) compare as text.

namespace {
constexpr std::uint32_t watch_mask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO |
                                     IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;

std::string join(const std::string& folder, const std::string& name) {
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

// Watched folders disappear, or stop being folders, while a tree is walked: such a folder is
// simply not watched (its parent's watch reports the change).
bool gone_or_unreadable(int error) noexcept {
    return error == ENOENT || error == ENOTDIR || error == EACCES || error == EPERM || error == ELOOP;
}
// Whether the entry itself is a folder (a link to one is not); false when it is gone.
bool is_folder(const std::string& path) {
    try {
        return lstat_path(path).kind == file_kind_t::directory;
    } catch (const os_exception&) {
        return false;
    }
}
}  // namespace

struct FolderWatcher::impl_t {
    struct folder_t {
        std::string path;
        std::shared_ptr<const std::vector<std::string>> excluded;  // of the tree it belongs to
        bool root = false;                                         // a tree's own root
    };

    int fd = -1;
    std::unordered_map<int, folder_t> folders;  // by watch descriptor
    bool lost = false;                          // a root's watch has ended
    folder_changes_t changes;                   // since the last take_changes

    ~impl_t() {
        if (fd >= 0) ::close(fd);
    }

    // Watches path and the folders below it. A tree's own root must be watchable; below it,
    // what cannot be read is left out.
    void watch_tree(const std::string& path, const std::shared_ptr<const std::vector<std::string>>& excluded,
                    bool root) {
        if (within_any(path, *excluded)) return;
        const int wd = ::inotify_add_watch(fd, path.c_str(), watch_mask);
        if (wd < 0) {
            if (!root && gone_or_unreadable(errno)) return;
            throw_os_error(errno, path);
        }
        // A folder in two trees has one watch: it stays a root if it was one.
        const auto known = folders.find(wd);
        const bool was_root = known != folders.end() && known->second.root;
        folders[wd] = {path, excluded, root || was_root};

        // The listing is read whole before going down, so that only its own failures are
        // taken for an unreadable folder.
        std::vector<std::pair<std::string, Directory::kind_t>> entries;
        try {
            Directory directory(path);
            std::string name;
            Directory::kind_t kind;
            while (directory.next(name, kind))
                if (kind != Directory::kind_t::regular) entries.emplace_back(join(path, name), kind);
        } catch (const os_exception&) {
            if (root) throw;
            return;
        }
        for (const auto& [child, kind] : entries)
            if (kind == Directory::kind_t::directory || is_folder(child)) watch_tree(child, excluded, false);
    }

    // Stops watching a folder moved away and everything below it: its watches would report
    // under its old name.
    void forget_tree(const std::string& path) {
        for (auto it = folders.begin(); it != folders.end();) {
            if (path_within(it->second.path, path)) {
                if (it->second.root) lost = true;  // a root inside another tree, moved with it
                ::inotify_rm_watch(fd, it->first);
                it = folders.erase(it);
            } else {
                ++it;
            }
        }
    }

    // True when the event tells of a change (not just of a watch that ended).
    bool take(const inotify_event& event) {
        if ((event.mask & IN_Q_OVERFLOW) != 0) {  // changes were lost: something changed
            changes.everything = true;
            return true;
        }
        const auto found = folders.find(event.wd);
        const bool root = found != folders.end() && found->second.root;
        if ((event.mask & IN_IGNORED) != 0) {
            if (root) lost = true;  // removed, or its file system unmounted
            folders.erase(event.wd);
            return false;
        }
        // A root moved away would go on reporting under its old name.
        if ((event.mask & IN_MOVE_SELF) != 0 && root) lost = true;
        if (found == folders.end()) {
            changes.everything = true;  // of a folder no longer known: where is not told
            return true;
        }
        if (event.len == 0) {  // the watched folder itself
            changes.paths.push_back(found->second.path);
            return true;
        }
        const folder_t parent = found->second;  // the map may change below
        const std::string child = join(parent.path, event.name);
        // An excluded folder itself coming or going (a destination made by a run) is no change.
        if (within_any(child, *parent.excluded)) return false;
        changes.paths.push_back(child);
        if ((event.mask & IN_ISDIR) != 0) {
            if ((event.mask & IN_MOVED_FROM) != 0) forget_tree(child);
            if ((event.mask & (IN_CREATE | IN_MOVED_TO)) != 0) watch_tree(child, parent.excluded, false);
        }
        return true;
    }
};

FolderWatcher::FolderWatcher() : impl_(std::make_unique<impl_t>()) {
    impl_->fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (impl_->fd < 0) throw_os_error(errno);
}

FolderWatcher::~FolderWatcher() = default;

void FolderWatcher::add_tree(const std::string& folder, const std::vector<std::string>& excluded) {
    impl_->watch_tree(real_path(folder), std::make_shared<const std::vector<std::string>>(excluded), true);
}

bool FolderWatcher::wait(int timeout_ms) {
    pollfd ready{impl_->fd, POLLIN, 0};
    const int n = ::poll(&ready, 1, timeout_ms);
    if (n < 0) {
        if (errno == EINTR) return false;
        throw_os_error(errno);
    }
    if (n == 0) return false;

    bool changed = false;
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t length = ::read(impl_->fd, buffer, sizeof buffer);
        if (length < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;
            throw_os_error(errno);
        }
        if (length == 0) break;
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (impl_->take(*event)) changed = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return changed;
}

folder_changes_t FolderWatcher::take_changes() { return std::exchange(impl_->changes, {}); }

bool FolderWatcher::lost() const noexcept { return impl_->lost; }
