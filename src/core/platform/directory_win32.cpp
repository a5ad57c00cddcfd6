#include "platform/directory.h"

#include "platform/win32.h"

#include <algorithm>

Directory::~Directory() = default;

// Windows looks names up by path: the folder is not kept open.
file_status_t Directory::lstat(const std::string& name) const { return lstat_path(path_ + "/" + name); }

void Directory::read() {
    std::wstring pattern = win32::native_path(path_);
    if (!pattern.ends_with(L'\\')) pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW entry;
    const HANDLE search = ::FindFirstFileW(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) win32::throw_error(error, path_);  // not found: no entry at all
    } else {
        DWORD error = ERROR_NO_MORE_FILES;
        do {
            const std::wstring_view entry_name(entry.cFileName);
            if (entry_name == L"." || entry_name == L"..") continue;
            // Reparse points (links, junctions) are left for the file system to tell.
            const DWORD attributes = entry.dwFileAttributes;
            const kind_t kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? kind_t::unknown
                                : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0  ? kind_t::directory
                                                                                : kind_t::regular;
            entries_.push_back({win32::narrow(entry_name), kind});
        } while (::FindNextFileW(search, &entry) || (error = ::GetLastError()) != ERROR_NO_MORE_FILES);
        ::FindClose(search);
        if (error != ERROR_NO_MORE_FILES) win32::throw_error(error, path_);
    }
    // The file system's own order differs between NTFS, FAT and network shares; next() sorts.
}
