#pragma once

#include <functional>
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

struct SSIDirectoryPreferences;

// The settings file a run reads: the one --config names, else SOURCE/orrinfold.toml when
// there is one.
std::optional<std::string> settings_file_for(const std::string& config_option, const std::string& source);

// Sets each value the file gives and the command line did not (given tells whether a long
// option such as "--convert" was on the command line). Paths are taken from the file's folder.
void merge_settings(const settings_file_t& file, const std::function<bool(const char* option)>& given,
                    SSIDirectoryPreferences& preferences, std::string& destination);

// A path written in a settings file, as taken from the file's folder.
std::string from_settings_folder(const std::string& settings_path, const std::string& path);

// A commented settings file that sets what settings holds (the options given) and shows
// the rest commented out with their defaults. notes become comments at its top.
std::string settings_file_text(const settings_file_t& settings, const std::vector<std::string>& notes);

// The settings a run's preferences hold, every key set, for saving them into a site's file.
settings_file_t settings_of(const SSIDirectoryPreferences& preferences);
