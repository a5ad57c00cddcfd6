#include "platform/file_system.h"

#include <algorithm>

// The parts of the file-system helpers that are only string work, the same on every system.

bool path_within(const std::string& path, const std::string& folder) {
    if (path == folder) return true;
    const std::string prefix = folder.ends_with('/') ? folder : folder + "/";
    return path.starts_with(prefix);
}

bool within_any(const std::string& path, const std::vector<std::string>& folders) {
    return std::any_of(folders.begin(), folders.end(),
                       [&path](const std::string& folder) { return path_within(path, folder); });
}
