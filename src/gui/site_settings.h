#pragma once

#include "ssi/preferences.h"

#include <optional>
#include <string>

// The settings a site keeps in its own orrinfold.toml, as the desktop program uses them: a
// source folder with one is converted with the program's options changed by the file; the
// named configurations serve folders without one.
namespace site_settings {

struct site_t {
    std::string path;                     // the file
    SSIDirectoryPreferences preferences;  // the program's, changed by the file
};

// The site's settings when source holds a settings file; a file that cannot be read or used
// throws nonfatal_error naming the place of the mistake.
std::optional<site_t> read(const std::string& source, const SSIDirectoryPreferences& base);

// The preferences a run of source uses: the site's when it has a file, else base.
SSIDirectoryPreferences for_source(const std::string& source, const SSIDirectoryPreferences& base);

// Writes preferences into source's orrinfold.toml, replacing what it held. Returns its path.
std::string save(const std::string& source, const SSIDirectoryPreferences& preferences);

}  // namespace site_settings
