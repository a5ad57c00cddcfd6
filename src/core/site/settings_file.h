#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A site's settings kept with it, in orrinfold.toml: the run options as keys named as the
// long options, each unset when the file leaves it out. Paths are as written; the caller
// takes them relative to the file's folder.
struct settings_file_t {
    std::string path;  // the file read, as given
    std::optional<std::vector<std::string>> convert, skip, allow_outside;
    std::optional<std::string> dialect, virtual_root, rename_pages, destination, state_dir;
    std::optional<std::string> apache_config;  // a server configuration to read
    std::optional<std::string> apache;         // Apache directives, as in a configuration file
    std::optional<bool> ap_expr, redirects, check_links, keep_going;
    std::optional<unsigned> jobs;
};

// The name a site's settings file has in its folder.
inline constexpr const char* settings_file_name = "orrinfold.toml";

// A settings file that cannot be used; what() reads "PATH:LINE:COL: error: ...".
struct settings_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reads settings from a file's text; path names it in errors. Unknown keys, values of the
// wrong type and bad values are settings_error.
settings_file_t parse_settings(std::string_view text, const std::string& path);
// Reads the file (failures of the file system are os_exception).
settings_file_t read_settings_file(const std::string& path);

// A commented settings file that sets what settings holds (the options given) and shows
// the rest commented out with their defaults. notes become comments at its top.
std::string settings_file_text(const settings_file_t& settings, const std::vector<std::string>& notes);
