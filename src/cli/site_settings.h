#pragma once

#include "base/compile_log.h"
#include "site/settings_file.h"

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

struct SSIDirectoryPreferences;

// orrinfold init [SOURCE] [options]: writes SOURCE/orrinfold.toml, never over one. Returns the
// exit status.
int run_init(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// When the site's own .htaccess turns Apache's includes on, the first directive that does, as
// "FILE:LINE: DIRECTIVE ...": such a site is converted in the Apache dialect unless told
// otherwise.
std::optional<std::string> apache_site_reason(const std::string& source);
