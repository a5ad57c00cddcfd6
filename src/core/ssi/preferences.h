#pragma once

#include <string>

// The settings the SSI engine reads: the folder that "/"-paths of include, fsize and flastmod
// are taken from (empty: the site has no virtual root), and whether the run only checks the
// site, warning also about what would silently give wrong pages.
struct SSIParserPreferences {
    std::string virtual_root;
    bool check = false;
};

// The settings of a site conversion: the engine's, plus the Convert and Skip mask lists
// (masks separated by spaces), and whether a file that fails is reported and the run goes on.
struct SSIDirectoryPreferences : SSIParserPreferences {
    std::string convert_filter;
    std::string skip_filter;
    bool keep_going = false;
};

inline constexpr const char* default_convert_filter = "*.shtml *.shtm *.sht";
inline constexpr const char* default_skip_filter = "*.inc include";

// The program-wide preferences of the desktop program; the command-line program builds its own.
extern SSIDirectoryPreferences app_preferences;

// Gives app_preferences the default mask lists and an empty virtual root.
void init_preferences();

// Preferences with the default mask lists and no virtual root.
SSIDirectoryPreferences default_preferences();
