#include "platform/file_system.h"

#include "platform/file.h"
#include "platform/win32.h"

#include <aclapi.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

// Symbolic links and junctions (directory mount points) are reported as links, as POSIX
// systems report symbolic links; other reparse points (cloud placeholders, deduplicated
// files) are the files they stand for, and AF_UNIX sockets are "other".

namespace {
constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

struct handle_closer {
    void operator()(HANDLE handle) const noexcept { ::CloseHandle(handle); }
};
using unique_handle = std::unique_ptr<void, handle_closer>;

unsigned permissions_of(DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return 0777;
    return (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
}

file_kind_t kind_of(DWORD attributes, DWORD reparse_tag, bool own_entry) {
    if (own_entry && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if (reparse_tag == IO_REPARSE_TAG_SYMLINK || reparse_tag == IO_REPARSE_TAG_MOUNT_POINT) return file_kind_t::link;
        if (reparse_tag == IO_REPARSE_TAG_AF_UNIX) return file_kind_t::other;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? file_kind_t::directory : file_kind_t::regular;
}

// The status of an open handle; own_entry: the handle is the entry itself (a link not followed).
bool status_of(HANDLE handle, bool own_entry, file_status_t& status) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle, &info)) return false;
    DWORD tag = 0;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        FILE_ATTRIBUTE_TAG_INFO tag_info{};
        if (::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag_info, sizeof tag_info))
            tag = tag_info.ReparseTag;
    }
    status.kind = kind_of(info.dwFileAttributes, tag, own_entry);
    const DWORD type = ::GetFileType(handle);
    if (type != FILE_TYPE_DISK && type != FILE_TYPE_UNKNOWN) status.kind = file_kind_t::other;  // devices, pipes
    status.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (status.kind == file_kind_t::directory) status.size = 0;
    win32::from_filetime(info.ftLastWriteTime, status.modified, status.modified_nanoseconds);
    status.permissions = permissions_of(info.dwFileAttributes);
    status.identity = {info.dwVolumeSerialNumber,
                       (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return true;
}

// What can be read without opening the entry, for the few that cannot be opened even for
// their attributes (files locked by the system). Identity then comes from the path itself.
bool status_by_name(const std::wstring& native, file_status_t& status) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(native.c_str(), GetFileExInfoStandard, &data)) return false;
    status.kind = kind_of(data.dwFileAttributes, 0, false);
    status.size = status.kind == file_kind_t::directory
                      ? 0
                      : (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    win32::from_filetime(data.ftLastWriteTime, status.modified, status.modified_nanoseconds);
    status.permissions = permissions_of(data.dwFileAttributes);
    status.identity = {~std::uint64_t{0}, std::hash<std::wstring>{}(native)};
    return true;
}

// The status of a path; false with the error code when there is none.
bool try_status(const std::string& path, bool follow, file_status_t& status, DWORD& error) {
    const std::wstring native = win32::native_path(path);
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    const unique_handle handle(
        ::CreateFileW(native.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING, flags, nullptr));
    if (handle.get() != INVALID_HANDLE_VALUE) {
        if (status_of(handle.get(), !follow, status)) return true;
        error = ::GetLastError();
        return false;
    }
    error = ::GetLastError();
    if ((error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) && status_by_name(native, status)) return true;
    return false;
}

file_status_t status_or_throw(const std::string& path, bool follow) {
    file_status_t status;
    DWORD error = 0;
    if (!try_status(path, follow, status, error)) win32::throw_error(error, path);
    return status;
}
}  // namespace

file_status_t stat_file(const File& file) {
    file_status_t status;
    if (!status_of(file.native_handle(), false, status)) win32::throw_error(::GetLastError(), file.path());
    return status;
}

void require_regular_file(const file_status_t& status, const std::string& path) {
    if (status.kind == file_kind_t::directory) throw_os_error(EISDIR, path);
    if (status.kind != file_kind_t::regular) raise(std::runtime_error(path + ": not a regular file"));
}

file_status_t stat_path(const std::string& path) { return status_or_throw(path, true); }

file_status_t lstat_path(const std::string& path) { return status_or_throw(path, false); }

std::optional<file_status_t> try_stat_path(const std::string& path) {
    file_status_t status;
    DWORD error = 0;
    if (try_status(path, true, status, error)) return status;
    try {
        win32::throw_error(error, path);
    } catch (const os_exception& e) {
        if (e.code() == ENOENT) return std::nullopt;
        throw;
    }
}

std::string owner_name(const std::string& path) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::wstring native = win32::native_path(path);
    if (::GetNamedSecurityInfoW(native.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                nullptr, &descriptor) != ERROR_SUCCESS)
        return "<unknown>";
    const std::unique_ptr<void, decltype(&::LocalFree)> release(descriptor, &::LocalFree);
    wchar_t name[256], domain[256];
    DWORD name_size = 256, domain_size = 256;
    SID_NAME_USE use;
    if (!::LookupAccountSidW(nullptr, owner, name, &name_size, domain, &domain_size, &use)) return "<unknown>";
    return win32::narrow(name);
}

bool make_directory(const std::string& path) {
    const std::wstring native = win32::native_path(path);
    if (::CreateDirectoryW(native.c_str(), nullptr)) return true;
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS) return false;
    // A drive's root answers "access denied"; it exists all the same, as "/" does elsewhere.
    const DWORD attributes = ::GetFileAttributesW(native.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
    win32::throw_error(error, path);
}

void make_directories(const std::string& path) {
    // The root ("C:/", "//server/share/") is never created.
    std::size_t start = 1;
    if (path.size() >= 2 && path[1] == ':') {
        start = 3;
    } else if (path.size() >= 2 && (path[0] == '/' || path[0] == '\\') && (path[1] == '/' || path[1] == '\\')) {
        const std::size_t server = path.find_first_of("/\\", 2);
        start = server == std::string::npos ? path.size() : path.find_first_of("/\\", server + 1);
        if (start == std::string::npos) start = path.size();
        ++start;
    }
    for (std::size_t slash = path.find_first_of("/\\", start); slash != std::string::npos;
         slash = path.find_first_of("/\\", slash + 1))
        if (slash > 0 && path[slash - 1] != '/' && path[slash - 1] != '\\') make_directory(path.substr(0, slash));
    make_directory(path);
}

namespace {
// Last access and last write both take the time, as futimens gives them on POSIX systems.
void set_times(const File& file, std::int64_t seconds, long nanoseconds, const std::string& path) {
    const FILETIME time = win32::to_filetime(seconds, nanoseconds);
    if (!::SetFileTime(file.native_handle(), nullptr, &time, &time)) win32::throw_error(::GetLastError(), path);
}
}  // namespace

void write_copy(OutputFile& output, std::string_view content, const file_status_t& status) {
    const std::string& destination = output.file().path();
    output.file().write(content.data(), content.size());
    set_times(output.file(), status.modified, status.modified_nanoseconds, destination);
    output.set_permissions(status.permissions);
}

// CopyFileW copies the content (on the server, for a network share) into the temporary file,
// which then takes the target's place. It copies the last-write time and the read-only
// attribute too, but not every implementation does (Wine), so both are set again.
void copy_file(const std::string& source, const std::string& destination) {
    OutputFile output(destination);
    copy_file(source, output);
    output.commit();
}

void copy_file(const std::string& source, OutputFile& output) {
    const std::string& destination = output.file().path();
    File in(source, File::access_t::read);
    const file_status_t status = stat_file(in);
    if (status.kind != file_kind_t::regular) throw_os_error(status.kind == file_kind_t::directory ? EISDIR : EINVAL, source);

    output.file().close();
    const std::wstring temporary = win32::native_path(output.temporary_path());
    if (!::CopyFileW(win32::native_path(source).c_str(), temporary.c_str(), FALSE)) {
        const DWORD error = ::GetLastError();
        win32::throw_error(error, error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? source : destination);
    }
    const unique_handle copy(
        ::CreateFileW(temporary.c_str(), FILE_WRITE_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING, 0, nullptr));
    FILE_BASIC_INFO info{};
    const FILETIME modified = win32::to_filetime(status.modified, status.modified_nanoseconds);
    info.LastWriteTime.LowPart = info.LastAccessTime.LowPart = modified.dwLowDateTime;
    info.LastWriteTime.HighPart = info.LastAccessTime.HighPart = static_cast<LONG>(modified.dwHighDateTime);
    info.FileAttributes = (status.permissions & 0200) == 0 ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
    if (copy.get() == INVALID_HANDLE_VALUE || !::SetFileInformationByHandle(copy.get(), FileBasicInfo, &info, sizeof info))
        win32::throw_error(::GetLastError(), destination);
}

void rename_path(const std::string& from, const std::string& to) {
    if (!::MoveFileExW(win32::native_path(from).c_str(), win32::native_path(to).c_str(), 0)) {
        const DWORD error = ::GetLastError();
        win32::throw_error(error, error == ERROR_FILE_NOT_FOUND ? from : to);
    }
}

void replace_file(const std::string& from, const std::string& to) {
    if (!::MoveFileExW(win32::native_path(from).c_str(), win32::native_path(to).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD error = ::GetLastError();
        win32::throw_error(error, error == ERROR_FILE_NOT_FOUND ? from : to);
    }
}

std::string real_path(const std::string& path) {
    const unique_handle handle(::CreateFileW(win32::native_path(path).c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (handle.get() == INVALID_HANDLE_VALUE) win32::throw_error(::GetLastError(), path);
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetFinalPathNameByHandleW(handle.get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0 && ::GetLastError() == ERROR_MORE_DATA) {
            // Wine answers so for every path past MAX_PATH: the path, resolved by name, must do.
            if (buffer.size() > 32768) return win32::display_path(win32::native_path(path));
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (n == 0) win32::throw_error(::GetLastError(), path);
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(n);
    }
    std::string resolved = win32::display_path(buffer);
    if (resolved.size() > 3 && resolved.ends_with('/')) resolved.pop_back();
    return resolved;
}

void remove_file(const std::string& path) noexcept {
    try {
        const std::wstring native = win32::native_path(path);
        if (::DeleteFileW(native.c_str()) || ::GetLastError() != ERROR_ACCESS_DENIED) return;
        const DWORD attributes = ::GetFileAttributesW(native.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
            ::SetFileAttributesW(native.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
            ::DeleteFileW(native.c_str());
    } catch (...) {
        // nothing to take back
    }
}

bool remove_directory(const std::string& path) noexcept {
    try {
        return ::RemoveDirectoryW(win32::native_path(path).c_str()) != 0;
    } catch (...) {
        return false;
    }
}

// %LOCALAPPDATA%: the cache stays on this machine, not in a roaming profile.
std::string user_cache_folder() {
    const wchar_t* local = ::_wgetenv(L"LOCALAPPDATA");
    if (local == nullptr || local[0] == L'\0')
        raise(std::runtime_error("Cannot find a cache folder: LOCALAPPDATA is not set"));
    return win32::display_path(win32::native_path(win32::narrow(local) + "\\orrinfold"));
}

// Each folder on the way is opened as itself (FILE_FLAG_OPEN_REPARSE_POINT) and refused when it
// is a reparse point, a symbolic link or junction alike; the handles stay open without
// FILE_SHARE_DELETE until the end, so no folder on the way can be swapped for a link meanwhile.
removal_t remove_below(const std::string& root, const std::string& relative, bool folder,
                       const std::function<bool(const file_status_t&)>& wanted) {
    if (!is_plain_relative_path(relative)) return removal_t::failed;
    std::vector<unique_handle> held;
    std::string path = root;
    for (std::size_t start = 0, slash; (slash = relative.find('/', start)) != std::string::npos; start = slash + 1) {
        path += "/" + relative.substr(start, slash - start);
        unique_handle handle(::CreateFileW(win32::native_path(path).c_str(), FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (handle.get() == INVALID_HANDLE_VALUE) {
            handle.release();
            const DWORD error = ::GetLastError();
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? removal_t::missing
                                                                                  : removal_t::failed;
        }
        BY_HANDLE_FILE_INFORMATION info;
        if (!::GetFileInformationByHandle(handle.get(), &info)) return removal_t::failed;
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return removal_t::behind_link;
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return removal_t::missing;
        held.push_back(std::move(handle));
    }
    path = root + "/" + relative;
    file_status_t status;
    DWORD error = 0;
    if (!try_status(path, false, status, error))
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? removal_t::missing : removal_t::failed;
    if (folder) {
        if (status.kind != file_kind_t::directory) return removal_t::kept;
        return remove_directory(path) ? removal_t::removed : removal_t::kept;
    }
    if (status.kind != file_kind_t::regular || (wanted && !wanted(status))) return removal_t::kept;
    remove_file(path);
    return try_stat_path(path) ? removal_t::failed : removal_t::removed;
}
