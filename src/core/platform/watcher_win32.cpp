#include "platform/watcher.h"

#include "platform/file_system.h"
#include "platform/win32.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

// One ReadDirectoryChangesW on each tree's root, watching the whole subtree: Windows reports
// folders created later by itself, and does not go through junctions or links. Changes are
// reported by name relative to the root, so those inside excluded folders are told apart by
// their path.

namespace {
constexpr DWORD notify_filter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_SIZE |
                                FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_ATTRIBUTES;
// Network shares refuse buffers past 64 KiB.
constexpr DWORD buffer_bytes = 64 * 1024;

struct tree_t {
    std::string root;  // a real path, '/' between components
    std::vector<std::string> excluded;
    HANDLE folder = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
    OVERLAPPED overlapped{};
    std::unique_ptr<DWORD[]> buffer = std::make_unique<DWORD[]>(buffer_bytes / sizeof(DWORD));  // DWORD-aligned
    bool pending = false;
    bool lost = false;  // the root is gone: no call is pending and none is started again
    folder_changes_t changes;  // since the last take_changes

    tree_t() = default;
    tree_t(const tree_t&) = delete;
    tree_t& operator=(const tree_t&) = delete;

    ~tree_t() {
        if (pending) {
            // The system writes into the buffer until the cancelled call has completed.
            ::CancelIoEx(folder, &overlapped);
            DWORD ignored = 0;
            ::GetOverlappedResult(folder, &overlapped, &ignored, TRUE);
        }
        if (folder != INVALID_HANDLE_VALUE) ::CloseHandle(folder);
        if (event != nullptr) ::CloseHandle(event);
    }

    // Whether the root is still a folder at its path.
    bool still_there() const {
        try {
            const std::optional<file_status_t> status = try_stat_path(root);
            return status && status->kind == file_kind_t::directory;
        } catch (const std::exception&) {
            return false;  // a folder pending deletion cannot be opened any more
        }
    }

    void start() {
        ::ResetEvent(event);
        overlapped = OVERLAPPED{};
        overlapped.hEvent = event;
        if (!::ReadDirectoryChangesW(folder, buffer.get(), buffer_bytes, TRUE, notify_filter, nullptr, &overlapped,
                                     nullptr)) {
            const DWORD error = ::GetLastError();
            if (still_there()) win32::throw_error(error, root);
            lost = true;  // removed since the last call
            return;
        }
        pending = true;
    }

    // Takes the changes of a completed call and starts the next; true when one of them lies
    // outside the excluded folders.
    bool take() {
        pending = false;
        DWORD bytes = 0;
        bool changed = false;
        if (!::GetOverlappedResult(folder, &overlapped, &bytes, FALSE)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_NOTIFY_ENUM_DIR) {
                // The call ends with an error when the root itself is removed or moved.
                if (!still_there()) {
                    lost = true;
                    changes.everything = true;
                    return true;
                }
                win32::throw_error(error, root);
            }
            bytes = 0;
        }
        if (bytes == 0) {
            changed = true;  // more changes than the buffer holds: they are lost, but there were some
            changes.everything = true;
        } else {
            const char* at = reinterpret_cast<const char*>(buffer.get());
            for (;;) {
                const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(at);
                std::string path = root + "/" +
                                   win32::narrow(std::wstring_view(info->FileName, info->FileNameLength / sizeof(WCHAR)));
                std::replace(path.begin() + static_cast<std::ptrdiff_t>(root.size()), path.end(), '\\', '/');
                if (!within_any(path, excluded)) {
                    changed = true;
                    changes.paths.push_back(std::move(path));
                }
                if (info->NextEntryOffset == 0) break;
                at += info->NextEntryOffset;
            }
        }
        start();
        return changed;
    }
};
}  // namespace

struct FolderWatcher::impl_t {
    std::vector<std::unique_ptr<tree_t>> trees;
};

FolderWatcher::FolderWatcher() : impl_(std::make_unique<impl_t>()) {}

FolderWatcher::~FolderWatcher() = default;

void FolderWatcher::add_tree(const std::string& folder, const std::vector<std::string>& excluded) {
    std::string root = real_path(folder);
    if (within_any(root, excluded)) return;
    if (root.ends_with('/')) root.pop_back();  // a drive's root: names are added after a '/'
    if (impl_->trees.size() == MAXIMUM_WAIT_OBJECTS)
        raise(std::runtime_error(folder + ": too many folders to watch"));
    auto tree = std::make_unique<tree_t>();
    tree->root = std::move(root);
    tree->excluded = excluded;
    tree->folder = ::CreateFileW(win32::native_path(folder).c_str(), FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (tree->folder == INVALID_HANDLE_VALUE) win32::throw_error(::GetLastError(), folder);
    tree->event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (tree->event == nullptr) win32::throw_error(::GetLastError(), folder);
    tree->start();
    impl_->trees.push_back(std::move(tree));
}

// Ctrl-C does not cut the wait short here (the console's handler runs on a thread of its
// own): callers that must notice it wait in short steps.
bool FolderWatcher::wait(int timeout_ms) {
    const DWORD timeout = timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms);
    if (impl_->trees.empty()) {
        ::Sleep(timeout);
        return false;
    }
    std::vector<HANDLE> events;
    for (const auto& tree : impl_->trees)
        if (!tree->lost) events.push_back(tree->event);  // a lost tree's event stays set
    if (events.empty()) {
        ::Sleep(timeout);
        return false;
    }
    const DWORD result = ::WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE, timeout);
    if (result == WAIT_TIMEOUT) return false;
    if (result == WAIT_FAILED) win32::throw_error(::GetLastError(), impl_->trees.front()->root);

    // Takes what every tree has reported, until none has more.
    bool changed = false;
    for (bool any = true; any;) {
        any = false;
        for (const auto& tree : impl_->trees) {
            if (tree->lost || ::WaitForSingleObject(tree->event, 0) != WAIT_OBJECT_0) continue;
            any = true;
            if (tree->take()) changed = true;
        }
    }
    return changed;
}

folder_changes_t FolderWatcher::take_changes() {
    folder_changes_t changes;
    for (const auto& tree : impl_->trees) changes.add(std::exchange(tree->changes, {}));
    return changes;
}

bool FolderWatcher::lost() const noexcept {
    return std::any_of(impl_->trees.begin(), impl_->trees.end(), [](const auto& tree) { return tree->lost; });
}
