#pragma once

// Shared by the Win32 implementations of the platform layer (and the Windows branches of the
// tests' support code); never included on other systems.
#ifndef _WIN32
#error "platform/win32.h is for Windows builds only"
#endif

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "base/exceptions.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace win32 {

// UTF-8 <-> UTF-16. Bytes that are not valid UTF-8 travel as the lone surrogates U+DC80..U+DCFF
// (as everywhere in the program), so a name read from a folder and handed back is the same name;
// for valid UTF-8 this is exactly what MultiByteToWideChar(CP_UTF8) gives.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

// A path as the wide Win32 calls take it: '/' and '\' both separate, "." and ".." are resolved
// by name (as Windows itself resolves them), and the result is absolute with the "\\?\" prefix,
// so that names ending in a dot or a space, reserved names such as CON, and paths past
// MAX_PATH all reach the file system as written. A path that already starts with "\\?\" or
// "\\.\" is left as it is.
std::wstring native_path(const std::string& path);

// The path without the "\\?\" prefix, with '/' between components: the form real_path returns.
std::string display_path(std::wstring_view native);

// The errno value the rest of the program tests for a Win32 error code, or a negative value
// (-code) for a code with no errno counterpart; system_error_text gives the text of both.
int error_code(DWORD error);

// Throws os_exception for a failed call on path. "Not found" and "invalid name" errors are
// looked at more closely, as POSIX tells them apart: a component that is a file gives ENOTDIR,
// a component longer than the file system takes ENAMETOOLONG.
[[noreturn]] void throw_error(DWORD error, const std::string& path,
                              const code_location_t& at = code_location_t::current());

// 100-nanosecond units since 1601 <-> seconds and nanoseconds since 1970.
void from_filetime(const FILETIME& time, std::int64_t& seconds, long& nanoseconds);
FILETIME to_filetime(std::int64_t seconds, long nanoseconds);

}  // namespace win32
