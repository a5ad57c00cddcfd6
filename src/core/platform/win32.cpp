#include "platform/win32.h"

#include "base/text.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace win32 {
namespace {
bool is_letter(wchar_t c) noexcept { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

std::wstring current_directory() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (n == 0) return L".";
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.resize(n);
    }
}

// "C:x": the folder Windows keeps as current for that drive.
std::wstring drive_directory(wchar_t drive) {
    const wchar_t here[] = {drive, L':', L'.', L'\0'};
    std::wstring buffer(MAX_PATH, L'\0');
    const DWORD n = ::GetFullPathNameW(here, static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (n == 0 || n >= buffer.size()) return std::wstring{drive, L':', L'\\'};
    buffer.resize(n);
    return buffer;
}

std::wstring without_prefix(std::wstring path) {
    if (path.starts_with(L"\\\\?\\UNC\\")) return L"\\\\" + path.substr(8);
    if (path.starts_with(L"\\\\?\\")) return path.substr(4);
    return path;
}

// Splits an absolute path (separators already '\') into its root, as the "\\?\" form writes it,
// and the position where the components start.
bool split_root(const std::wstring& w, std::wstring& root, std::size_t& rest) {
    if (w.size() >= 2 && w[0] == L'\\' && w[1] == L'\\') {  // \\server\share
        std::size_t server_end = w.find(L'\\', 2);
        std::size_t share_end = server_end == std::wstring::npos ? w.size() : w.find(L'\\', server_end + 1);
        if (share_end == std::wstring::npos) share_end = w.size();
        root = L"\\\\?\\UNC\\" + w.substr(2, share_end - 2);
        rest = share_end;
        return true;
    }
    if (w.size() >= 3 && is_letter(w[0]) && w[1] == L':' && w[2] == L'\\') {
        root = L"\\\\?\\" + w.substr(0, 2);
        rest = 2;
        return true;
    }
    return false;
}

// The components below the root, "." dropped and ".." taking back the one before.
std::vector<std::wstring> components(const std::wstring& w, std::size_t from) {
    std::vector<std::wstring> parts;
    for (std::size_t i = from; i < w.size();) {
        while (i < w.size() && w[i] == L'\\') ++i;
        const std::size_t end = std::min(w.find(L'\\', i), w.size());
        const std::wstring part = w.substr(i, end - i);
        if (part == L"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        i = end;
    }
    return parts;
}

std::wstring absolute(std::wstring w) {
    std::wstring root;
    std::size_t rest = 0;
    if (split_root(w, root, rest)) return w;
    if (w.size() >= 2 && is_letter(w[0]) && w[1] == L':') return without_prefix(drive_directory(w[0])) + L"\\" + w.substr(2);
    const std::wstring here = without_prefix(current_directory());
    if (!w.empty() && w[0] == L'\\') {  // "\x": the root of the current drive or share
        std::wstring base_root;
        if (split_root(here, base_root, rest)) return here.substr(0, rest) + w;
        return w;
    }
    return here + L"\\" + w;
}

int errno_for(DWORD error) noexcept {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_NAME:  // no file can have the name (wildcards, ':' ...)
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_PRIVILEGE_NOT_HELD:
        case ERROR_CANNOT_MAKE:
            return EACCES;
        case ERROR_WRITE_PROTECT: return EROFS;
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS:
            return EEXIST;
        case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
        case ERROR_DIRECTORY: return ENOTDIR;
        case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_NOT_SAME_DEVICE: return EXDEV;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
        case ERROR_INVALID_PARAMETER: return EINVAL;
        case ERROR_INVALID_HANDLE: return EBADF;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
            return EPIPE;
        case ERROR_CANT_RESOLVE_FILENAME: return ELOOP;
        case ERROR_READ_FAULT:
        case ERROR_WRITE_FAULT:
        case ERROR_CRC:
        case ERROR_IO_DEVICE:
            return EIO;
        default: return -static_cast<int>(error);
    }
}
}  // namespace

std::wstring widen(std::string_view utf8) {
    const std::u16string wide = to_wide(utf8);
    return std::wstring(wide.begin(), wide.end());
}

std::string narrow(std::wstring_view utf16) {
    return to_narrow(std::u16string_view(reinterpret_cast<const char16_t*>(utf16.data()), utf16.size()));
}

std::wstring native_path(const std::string& path) {
    std::wstring w = widen(path);
    for (wchar_t& c : w)
        if (c == L'/') c = L'\\';
    if (w.empty() || w.starts_with(L"\\\\?\\") || w.starts_with(L"\\\\.\\")) return w;
    w = absolute(std::move(w));
    std::wstring root;
    std::size_t rest = 0;
    if (!split_root(w, root, rest)) return w;
    std::wstring native = root;
    for (const std::wstring& part : components(w, rest)) native += L"\\" + part;
    if (native.size() == root.size()) native += L"\\";
    return native;
}

std::string display_path(std::wstring_view native) {
    std::string path = narrow(without_prefix(std::wstring(native)));
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

int error_code(DWORD error) { return errno_for(error); }

namespace {
// POSIX tells "a component is no folder" and "a name is too long" from "nothing there"; the
// program's messages and its checks (ENOENT, ENOTDIR) rely on that.
int path_error(DWORD error, const std::string& path) {
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_INVALID_NAME &&
        error != ERROR_DIRECTORY && error != ERROR_BAD_PATHNAME)
        return errno_for(error);
    const std::wstring native = native_path(path);
    std::wstring root;
    std::size_t rest = 0;
    if (!split_root(without_prefix(native), root, rest)) return errno_for(error);
    const std::vector<std::wstring> parts = components(without_prefix(native), rest);
    for (const std::wstring& part : parts)
        if (part.size() > 255) return ENAMETOOLONG;
    std::wstring prefix = root;
    for (const std::wstring& part : parts) {
        prefix += L"\\" + part;
        const DWORD attributes = ::GetFileAttributesW(prefix.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) break;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ENOTDIR;
    }
    return error == ERROR_DIRECTORY ? ENOTDIR : ENOENT;
}
}  // namespace

void throw_error(DWORD error, const std::string& path, const code_location_t& at) {
    throw_os_error(path.empty() ? errno_for(error) : path_error(error, path), path, at);
}

namespace {
constexpr std::int64_t ticks_per_second = 10'000'000;
constexpr std::int64_t epoch_difference = 11'644'473'600;  // seconds from 1601 to 1970
}  // namespace

void from_filetime(const FILETIME& time, std::int64_t& seconds, long& nanoseconds) {
    const std::int64_t ticks =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    seconds = ticks / ticks_per_second - epoch_difference;
    nanoseconds = static_cast<long>(ticks % ticks_per_second) * 100;
}

FILETIME to_filetime(std::int64_t seconds, long nanoseconds) {
    const auto ticks =
        static_cast<std::uint64_t>((seconds + epoch_difference) * ticks_per_second + nanoseconds / 100);
    return {static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace win32

// The texts of the errno values the program meets are those of the GNU C library, so that
// messages read the same on every system; Win32 codes without an errno counterpart (negative
// values) take the system's own text.
std::string system_error_text(int code) {
    switch (code) {
        case EPERM: return "Operation not permitted";
        case ENOENT: return "No such file or directory";
        case EINTR: return "Interrupted system call";
        case EIO: return "Input/output error";
        case EBADF: return "Bad file descriptor";
        case EAGAIN: return "Resource temporarily unavailable";
        case ENOMEM: return "Cannot allocate memory";
        case EACCES: return "Permission denied";
        case EBUSY: return "Device or resource busy";
        case EEXIST: return "File exists";
        case EXDEV: return "Invalid cross-device link";
        case ENOTDIR: return "Not a directory";
        case EISDIR: return "Is a directory";
        case EINVAL: return "Invalid argument";
        case EMFILE: return "Too many open files";
        case EFBIG: return "File too large";
        case ENOSPC: return "No space left on device";
        case EROFS: return "Read-only file system";
        case EPIPE: return "Broken pipe";
        case ENAMETOOLONG: return "File name too long";
        case ENOSYS: return "Function not implemented";
        case ENOTEMPTY: return "Directory not empty";
        case ELOOP: return "Too many levels of symbolic links";
        default: break;
    }
    if (code >= 0) {
        const char* text = std::strerror(code);
        return text != nullptr ? std::string(text) : "Unknown error " + std::to_string(code);
    }
    const auto error = static_cast<DWORD>(-code);
    if (error == ERROR_SHARING_VIOLATION) return "The file is in use by another program (sharing violation)";
    if (error == ERROR_LOCK_VIOLATION) return "Part of the file is locked by another program";
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n > 0 && buffer != nullptr ? std::wstring(buffer, n) : std::wstring();
    if (buffer != nullptr) ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' || text.back() == L'.'))
        text.pop_back();
    if (text.empty()) return "Windows error " + std::to_string(error);
    return win32::narrow(text);
}
