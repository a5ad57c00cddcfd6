#include "base/exceptions.h"

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
