#include "base/exceptions.h"

// What base/exceptions.h declares about errors of the system: their texts come from the
// system (system_error_text, in os_error_posix.cpp or win32.cpp), so they are made here.

os_exception::os_exception(int code) : std::runtime_error(system_error_text(code)), code_(code) {}

os_exception::os_exception(int code, std::string path)
    : std::runtime_error(path.empty() ? system_error_text(code) : path + ": " + system_error_text(code)),
      code_(code),
      path_(std::move(path)) {}

void throw_os_error(int code, const std::string& path, const code_location_t& at) {
    raise(os_exception(code, path), at);
}
