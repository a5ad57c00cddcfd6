#pragma once

#include "site/settings_file.h"

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

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

// orrinfold init [SOURCE] [options]: writes SOURCE/orrinfold.toml, never over one. Returns the
// exit status.
int run_init(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
