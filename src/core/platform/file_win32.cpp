#include "platform/file.h"

#include "platform/file_system.h"
#include "platform/win32.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

namespace {
// Readers let everyone else read, write and delete: a page open in an editor, or a log being
// written, must not stop a run. What another program holds without sharing fails with a
// message that says so (ERROR_SHARING_VIOLATION).
constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
}  // namespace

File::File(const std::string& path, access_t access) : path_(path) {
    const std::wstring native = win32::native_path(path);
    // Folders open too (backup semantics), so that callers see "Is a directory" from the status.
    const HANDLE handle =
        access == access_t::read
            ? ::CreateFileW(native.c_str(), GENERIC_READ, share_all, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)
            : ::CreateFileW(native.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                            access == access_t::create_new ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) win32::throw_error(::GetLastError(), path_);
    fd_ = handle;
}

namespace {
// A fresh file in target's folder. The name is this process's and a counter's; CREATE_NEW
// keeps it from taking over anything already there.
std::pair<std::string, File::native_handle_t> make_temporary(const std::string& target) {
    static std::atomic<unsigned long> counter{0};
    static const std::uint64_t process = ::GetCurrentProcessId();
    const std::size_t slash = target.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    for (;;) {
        std::string name = folder + temporary_name(process, ++counter);
        const HANDLE handle = ::CreateFileW(win32::native_path(name).c_str(), GENERIC_WRITE | DELETE,
                                            FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) return {name, handle};
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) win32::throw_error(error, target);
    }
}

// Deletes a file, read-only or not.
void delete_file(const std::wstring& native) {
    if (::DeleteFileW(native.c_str()) || ::GetLastError() != ERROR_ACCESS_DENIED) return;
    const DWORD attributes = ::GetFileAttributesW(native.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        ::SetFileAttributesW(native.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
        ::DeleteFileW(native.c_str());
}
}  // namespace

OutputFile::OutputFile(const std::string& target) : OutputFile(target, make_temporary(target)) {}

// Windows has no unnamed files to link into place: every output has a temporary name.
OutputFile::OutputFile(const std::string& target, std::optional<unsigned> mode, bool)
    : OutputFile(target, make_temporary(target)) {
    if (mode) set_permissions(*mode);
}

void OutputFile::close() { file_.close(); }

OutputFile::OutputFile(const std::string& target, std::pair<std::string, File::native_handle_t> temporary)
    : temporary_(std::move(temporary.first)), file_(target, temporary.second) {}

OutputFile::~OutputFile() {
    if (committed_) return;
    try {
        file_.close();
    } catch (...) {
        // the file goes all the same
    }
    delete_file(win32::native_path(temporary_));
}

// Windows has one permission bit of its own: read-only. A mode without the owner's write bit
// sets it; the rename below takes a read-only file into place all the same.
void OutputFile::set_permissions(unsigned mode) {
    FILE_BASIC_INFO info{};
    if (!::GetFileInformationByHandleEx(file_.native_handle(), FileBasicInfo, &info, sizeof info))
        win32::throw_error(::GetLastError(), file_.path());
    if ((mode & 0200) == 0)
        info.FileAttributes |= FILE_ATTRIBUTE_READONLY;
    else
        info.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (info.FileAttributes == 0) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    // Zero times leave the times as they are.
    info.CreationTime.QuadPart = info.LastAccessTime.QuadPart = info.LastWriteTime.QuadPart = info.ChangeTime.QuadPart = 0;
    if (!::SetFileInformationByHandle(file_.native_handle(), FileBasicInfo, &info, sizeof info))
        win32::throw_error(::GetLastError(), file_.path());
    permissions_ = static_cast<int>(mode & 07777);
}

void OutputFile::commit() {
    file_.close();
    const std::wstring target = win32::native_path(file_.path());
    const std::wstring temporary = win32::native_path(temporary_);
    // A read-only target is replaced as on POSIX systems, where the folder's permission decides.
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    const bool read_only = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                           (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (read_only) ::SetFileAttributesW(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD error = ::GetLastError();
        if (read_only) ::SetFileAttributesW(target.c_str(), attributes);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            throw_os_error(EISDIR, file_.path());
        win32::throw_error(error, file_.path());
    }
    committed_ = true;
    try {
        placed_ = lstat_path(file_.path());
    } catch (const std::runtime_error&) {
    }
}

namespace {
// Whether target (the entry itself: a link or junction is never the same) holds exactly the
// bytes of the temporary file. A target that cannot be opened is replaced, and the rename
// reports what stands in the way. Read failures name the target.
bool same_content(const std::string& target, const std::string& temporary) {
    const HANDLE old_handle =
        ::CreateFileW(win32::native_path(target).c_str(), GENERIC_READ, share_all, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (old_handle == INVALID_HANDLE_VALUE) return false;
    File old_file(target, old_handle);
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(old_handle, &info) || ::GetFileType(old_handle) != FILE_TYPE_DISK ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return false;
    const HANDLE new_handle = ::CreateFileW(win32::native_path(temporary).c_str(), GENERIC_READ, share_all, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (new_handle == INVALID_HANDLE_VALUE) win32::throw_error(::GetLastError(), target);
    File new_file(target, new_handle);
    if (old_file.size() != new_file.size()) return false;

    return same_bytes(old_file, new_file);
}
}  // namespace

bool OutputFile::commit_if_changed() {
    file_.close();
    const std::string& target = file_.path();
    if (!same_content(target, temporary_)) {
        commit();
        return true;
    }
    // The kept file takes the read-only attribute asked for, as set_permissions gives it.
    if (permissions_ >= 0) {
        const std::wstring native = win32::native_path(target);
        const DWORD attributes = ::GetFileAttributesW(native.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) win32::throw_error(::GetLastError(), target);
        DWORD wanted = (permissions_ & 0200) == 0 ? attributes | FILE_ATTRIBUTE_READONLY
                                                  : attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
        if (wanted != attributes && !::SetFileAttributesW(native.c_str(), wanted))
            win32::throw_error(::GetLastError(), target);
    }
    delete_file(win32::native_path(temporary_));
    committed_ = true;
    try {
        placed_ = lstat_path(target);
    } catch (const std::runtime_error&) {
    }
    return false;
}

File::~File() {
    if (fd_ != no_handle) ::CloseHandle(fd_);
}

std::size_t File::read(void* data, std::size_t size) {
    auto* p = static_cast<char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
        DWORD n = 0;
        if (!::ReadFile(fd_, p + done, chunk, &n, nullptr)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) break;
            win32::throw_error(error, path_);
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

void File::seek(std::uint64_t offset) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(fd_, position, nullptr, FILE_BEGIN)) win32::throw_error(::GetLastError(), path_);
}

void File::write(const void* data, std::size_t size) {
    call_write_hook(path_);
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(fd_, p, chunk, &written, nullptr)) win32::throw_error(::GetLastError(), path_);
        if (written == 0) throw_os_error(EIO, path_);
        p += written;
        size -= written;
    }
}

std::uint64_t File::size() const {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(fd_, &size)) win32::throw_error(::GetLastError(), path_);
    return static_cast<std::uint64_t>(size.QuadPart);
}

void File::close() {
    if (fd_ == no_handle) return;
    const HANDLE handle = fd_;
    fd_ = no_handle;
    if (!::CloseHandle(handle)) win32::throw_error(::GetLastError(), path_);
}
