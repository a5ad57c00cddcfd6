#pragma once

#include <string>

// The settings the SSI engine reads: the folder that "/"-paths of include, fsize and flastmod
// are taken from. Empty means the site has no virtual root.
struct SSIParserPreferences {
    std::string virtual_root;
};

// The settings of a site conversion: the engine's, plus the Convert and Skip mask lists
// (masks separated by spaces).
struct SSIDirectoryPreferences : SSIParserPreferences {
    std::string convert_filter;
    std::string skip_filter;
};

inline constexpr const char* default_convert_filter = "*.shtml *.shtm *.sht";
inline constexpr const char* default_skip_filter = "*.inc include";

// The program-wide preferences of the desktop program; the command-line program builds its own.
extern SSIDirectoryPreferences app_preferences;

// Gives app_preferences the default mask lists and an empty virtual root.
void init_preferences();

// Preferences with the default mask lists and no virtual root.
SSIDirectoryPreferences default_preferences();
