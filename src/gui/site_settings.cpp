#include "site_settings.h"

#include "base/exceptions.h"
#include "platform/file.h"
#include "site/settings_file.h"
#include "user_prompts.h"

#include <stdexcept>

namespace site_settings {

std::optional<site_t> read(const std::string& source, const SSIDirectoryPreferences& base) {
    const std::optional<std::string> path = source.empty() ? std::nullopt : settings_file_for({}, source);
    if (!path) return std::nullopt;
    site_t site{*path, base};
    try {
        std::string destination;  // the program has its own destination tree
        merge_settings(
            read_settings_file(*path), [](const char*) { return false; }, site.preferences, destination);
    } catch (const std::runtime_error& e) {
        ::raise(nonfatal_error(e.what()));
    }
    return site;
}

SSIDirectoryPreferences for_source(const std::string& source, const SSIDirectoryPreferences& base) {
    if (std::optional<site_t> site = read(source, base)) return std::move(site->preferences);
    return base;
}

std::string save(const std::string& source, const SSIDirectoryPreferences& preferences) {
    const std::string path = source + "/" + settings_file_name;
    try {
        const std::string text = settings_file_text(settings_of(preferences), {"Saved by the desktop program."});
        File file(path, File::access_t::write);
        file.write(text.data(), text.size());
        file.close();
    } catch (const std::runtime_error& e) {
        ::raise(nonfatal_error(e.what()));
    }
    return path;
}

}  // namespace site_settings
