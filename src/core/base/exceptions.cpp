#include "base/exceptions.h"

#include <cstring>
#include <string_view>

namespace {
thread_local throw_location_t last_location;

const char* base_name(const char* path) noexcept {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    return name;
}
}  // namespace

const throw_location_t& last_throw_location() noexcept { return last_location; }

void record_throw_location(const code_location_t& at) noexcept {
    last_location.file = base_name(at.file_name());
    last_location.line = static_cast<unsigned>(at.line());
}

#ifndef _WIN32  // the Windows one lives in platform/win32.cpp
std::string system_error_text(int code) {
    char buffer[256];
    // The GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : "Unknown error " + std::to_string(code);
}
#endif

os_exception::os_exception(int code) : std::runtime_error(system_error_text(code)), code_(code) {}

os_exception::os_exception(int code, std::string path)
    : std::runtime_error(path.empty() ? system_error_text(code) : path + ": " + system_error_text(code)),
      code_(code),
      path_(std::move(path)) {}

void throw_os_error(int code, const std::string& path, const code_location_t& at) {
    raise(os_exception(code, path), at);
}
