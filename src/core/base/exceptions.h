#pragma once

#include "base/location.h"

#include <source_location>
#include <stdexcept>
#include <string>
#include <utility>

// Where a call was written. Compilers whose library lacks std::source_location (clang 14 with
// libstdc++, used for fuzzing) get the same from their builtins.
#ifdef __cpp_lib_source_location
using code_location_t = std::source_location;
#else
struct code_location_t {
    static constexpr code_location_t current(const char* file = __builtin_FILE(),
                                             unsigned line = __builtin_LINE()) noexcept {
        return {file, line};
    }
    constexpr const char* file_name() const noexcept { return file_; }
    constexpr unsigned line() const noexcept { return line_; }
    const char* file_;
    unsigned line_;
};
#endif

// Where the most recent throw on this thread happened: the source file's base name and the line.
// The fatal report shows it; it is not part of any exception object.
struct throw_location_t {
    const char* file = "";
    unsigned line = 0;
};

const throw_location_t& last_throw_location() noexcept;
void record_throw_location(const code_location_t& at) noexcept;

// Every throw in the program goes through here so that the location is always recorded.
template <class E>
[[noreturn]] void raise(E&& error, const code_location_t& at = code_location_t::current()) {
    record_throw_location(at);
    throw std::forward<E>(error);
}

// A failed system call: the errno value and, when the call concerned a path, that path.
// The text is "path: message" (or the message alone), the usual POSIX form. Its texts come
// from the system, so this and system_error_text are defined in the platform layer.
class os_exception : public std::runtime_error {
public:
    explicit os_exception(int code);
    os_exception(int code, std::string path);

    int code() const noexcept { return code_; }
    const std::string& path() const noexcept { return path_; }

private:
    int code_;
    std::string path_;
};

[[noreturn]] void throw_os_error(int code, const std::string& path = {},
                                 const code_location_t& at = code_location_t::current());

// An error shown to the user in the error box, after which the program goes on.
class nonfatal_error : public std::runtime_error {
public:
    explicit nonfatal_error(const std::string& text) : std::runtime_error(text) {}
    explicit nonfatal_error(const std::runtime_error& cause) : std::runtime_error(cause.what()) {}
};

// The system's message for an errno value, without a trailing line break.
std::string system_error_text(int code);

// A failure met inside a document (a missing or unreadable include, an include cycle, a
// missing file for fsize or flastmod), with the location of the directive that met it.
// The text is the failure's own.
class located_error : public std::runtime_error {
public:
    located_error(const std::string& text, diagnostic_location_t where)
        : std::runtime_error(text), where_(std::move(where)) {}
    const diagnostic_location_t& where() const noexcept { return where_; }

private:
    diagnostic_location_t where_;
};
