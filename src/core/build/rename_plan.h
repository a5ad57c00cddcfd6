#pragma once

#include "platform/file_system.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

class MyFileFilter;
struct SSIDirectoryPreferences;

// Before anything is written: the pages that get new names (by their path from the site's
// root, with the new name), walking the site as the run does. Two entries of a folder that
// would be written under one name end the run here, as a "Name clash".
std::map<std::string, std::string> plan_renames(const std::string& source, const file_identity_t& identity,
                                                const SSIDirectoryPreferences& preferences,
                                                const MyFileFilter& filter,
                                                const std::optional<file_identity_t>& destination,
                                                const std::vector<std::string>& site_folders);
