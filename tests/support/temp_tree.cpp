#include "temp_tree.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

std::string utf16le(std::u16string_view text, bool bom) {
    std::string bytes = bom ? std::string("\xFF\xFE", 2) : std::string();
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

#ifndef _WIN32
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

std::string current_user_name() {
    const struct passwd* entry = ::getpwuid(::getuid());
    return entry != nullptr ? entry->pw_name : "";
}

TempTree::TempTree() {
    std::string pattern = (fs::temp_directory_path() / "orrinfold-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
}

TempTree::~TempTree() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

std::string TempTree::path(std::string_view relative) const {
    return relative.empty() ? root_ : root_ + "/" + std::string(relative);
}

std::string TempTree::write(std::string_view relative, std::string_view content) const {
    const std::string full = path(relative);
    fs::create_directories(fs::path(full).parent_path());
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + full);
    return full;
}

std::string TempTree::make_dir(std::string_view relative) const {
    fs::create_directories(path(relative));
    return path(relative);
}

void set_mtime(const std::string& path, long long seconds) {
    const struct timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("cannot set the time of " + path);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Tree read_tree(const std::string& root) {
    Tree tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string relative = it->path().lexically_relative(root).generic_string();
        if (it->is_symlink()) {
            tree[relative] = "-> " + fs::read_symlink(it->path()).string();
            it.disable_recursion_pending();
        } else if (it->is_directory()) {
            tree[relative] = "<dir>";
        } else {
            tree[relative] = read_file(it->path().string());
        }
    }
    return tree;
}

void run_as_plain_user(const std::string& folder, const std::function<void()>& body) {
    if (::geteuid() != 0) {
        body();
        return;
    }
    constexpr uid_t nobody = 65534;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0) << "fork";
    if (child == 0) {
        bool dropped = ::lchown(folder.c_str(), nobody, nobody) == 0;
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            dropped = dropped && ::lchown(entry.path().c_str(), nobody, nobody) == 0;
        dropped = dropped && ::setgroups(0, nullptr) == 0 && ::setgid(nobody) == 0 && ::setuid(nobody) == 0;
        if (dropped) body();
        std::fflush(nullptr);
        ::_exit(!dropped ? 2 : ::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << (WIFEXITED(status) && WEXITSTATUS(status) == 2 ? "could not become a plain user"
                                                          : "failed as a plain user (see above)");
}

Tree snapshot_tree(const std::string& root, const std::string& skip) {
    Tree tree;
    std::error_code missing;
    if (!fs::is_directory(root, missing)) return tree;
    const auto options = fs::directory_options::skip_permission_denied;
    for (auto it = fs::recursive_directory_iterator(root, options); it != fs::recursive_directory_iterator(); ++it) {
        if (!skip.empty() && it->path() == skip) {
            it.disable_recursion_pending();
            continue;
        }
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0) throw std::runtime_error("lstat failed: " + it->path().string());
        std::string facts = std::to_string(st.st_mode) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                            std::to_string(st.st_mtim.tv_nsec);
        if (S_ISLNK(st.st_mode))
            facts += " -> " + fs::read_symlink(it->path()).string();
        else if (S_ISREG(st.st_mode))
            facts += " #" + std::to_string(std::hash<std::string>{}(read_file(it->path().string())));
        tree[it->path().lexically_relative(root).generic_string()] = facts;
    }
    return tree;
}

#else  // Windows: through the program's own platform layer, which takes any name as UTF-8.
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/win32.h"

#include <atomic>
#include <functional>

namespace {
void remove_tree(const std::wstring& native) {
    const DWORD attributes = ::GetFileAttributesW(native.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
        ::SetFileAttributesW(native.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::DeleteFileW(native.c_str());
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {  // a link to a folder goes alone
        WIN32_FIND_DATAW entry;
        const HANDLE search = ::FindFirstFileW((native + L"\\*").c_str(), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = entry.cFileName;
                if (name != L"." && name != L"..") remove_tree(native + L"\\" + name);
            } while (::FindNextFileW(search, &entry));
            ::FindClose(search);
        }
    }
    ::RemoveDirectoryW(native.c_str());
}

// Every entry below folder, depth first in the walk's order, by path relative to root.
void walk_tree(const std::string& folder, const std::string& relative, const std::string& skip,
               const std::function<void(const std::string&, const std::string&, const file_status_t&)>& visit) {
    Directory directory(folder);
    for (std::string name; directory.next(name);) {
        const std::string path = folder + "/" + name;
        if (!skip.empty() && path == skip) continue;
        const std::string child = relative.empty() ? name : relative + "/" + name;
        const file_status_t status = lstat_path(path);
        visit(child, path, status);
        if (status.kind == file_kind_t::directory) walk_tree(path, child, skip, visit);
    }
}
}  // namespace

std::string current_user_name() {
    wchar_t name[256];
    DWORD size = 256;
    return ::GetUserNameW(name, &size) ? win32::narrow(name) : std::string();
}

TempTree::TempTree() {
    wchar_t folder[MAX_PATH + 1];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, folder);
    static std::atomic<unsigned> counter{0};
    for (;;) {
        const std::string candidate = win32::narrow(std::wstring_view(folder, n)) + "orrinfold-test-" +
                                      std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
        if (make_directory(candidate)) {
            root_ = real_path(candidate);
            return;
        }
    }
}

TempTree::~TempTree() { remove_tree(win32::native_path(root_)); }

std::string TempTree::path(std::string_view relative) const {
    return relative.empty() ? root_ : root_ + "/" + std::string(relative);
}

std::string TempTree::write(std::string_view relative, std::string_view content) const {
    const std::string full = path(relative);
    make_directories(full.substr(0, full.rfind('/')));
    File out(full, File::access_t::write);
    out.write(content.data(), content.size());
    out.close();
    return full;
}

std::string TempTree::make_dir(std::string_view relative) const {
    make_directories(path(relative));
    return path(relative);
}

void set_mtime(const std::string& path, long long seconds) {
    const HANDLE handle = ::CreateFileW(win32::native_path(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const FILETIME time = win32::to_filetime(seconds, 0);
    const bool done = handle != INVALID_HANDLE_VALUE && ::SetFileTime(handle, nullptr, &time, &time);
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    if (!done) throw std::runtime_error("cannot set the time of " + path);
}

std::string read_file(const std::string& path) {
    File in(path, File::access_t::read);
    std::string content(static_cast<std::size_t>(in.size()), '\0');
    content.resize(in.read(content.data(), content.size()));
    return content;
}

Tree read_tree(const std::string& root) {
    Tree tree;
    walk_tree(root, "", "", [&tree](const std::string& relative, const std::string& path, const file_status_t& status) {
        tree[relative] = status.kind == file_kind_t::link        ? "-> ?"
                         : status.kind == file_kind_t::directory ? "<dir>"
                                                                 : read_file(path);
    });
    return tree;
}

Tree snapshot_tree(const std::string& root, const std::string& skip) {
    Tree tree;
    const std::optional<file_status_t> top = try_stat_path(root);
    if (!top || top->kind != file_kind_t::directory) return tree;
    walk_tree(root, "", skip, [&tree](const std::string& relative, const std::string& path, const file_status_t& status) {
        std::string facts = std::to_string(status.permissions) + " " + std::to_string(status.modified) + "." +
                            std::to_string(status.modified_nanoseconds);
        if (status.kind == file_kind_t::regular) facts += " #" + std::to_string(std::hash<std::string>{}(read_file(path)));
        tree[relative] = facts;
    });
    return tree;
}

// Windows gives an administrator no power over read-only files, and there is no other user to
// become here.
void run_as_plain_user(const std::string&, const std::function<void()>& body) { body(); }
#endif
