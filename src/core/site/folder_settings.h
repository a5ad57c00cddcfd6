#pragma once

#include "site/apache_config.h"
#include "site/redirects.h"
#include "ssi/preferences.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// The settings of each folder of a site in the Apache dialect: the run's preferences changed
// by Apache's configuration (the --apache-config file, directives a settings file gives, and
// each folder's .htaccess), inherited down the folders as Apache does. Each folder's are
// worked out once, when the walk first asks, and shared by its files.
class FolderSettings {
public:
    struct folder_t {
        apache_settings_t apache;
        std::vector<apache_section_t> file_sections;  // <Files>/<FilesMatch> in force here
        std::shared_ptr<const SSIDirectoryPreferences> preferences;
    };

    // Reads the configuration the preferences name; its errors are std::runtime_error.
    FolderSettings(std::string source, const SSIDirectoryPreferences& preferences);

    // The settings of a folder of the site (its path as the walk names it: source, "/", ...).
    std::shared_ptr<const folder_t> folder(const std::string& path);
    // Whether a file of the folder is parsed: by the Convert masks, unless Apache's settings
    // say otherwise.
    bool converts(const folder_t& folder, std::string_view name, unsigned permissions, bool by_masks) const;
    // Notes on directives that change nothing here, each file's once, since the last call.
    std::vector<std::string> take_notes();
    // With redirect pages asked for: the redirects of the configuration read so far that a page
    // can stand for (the others are notes), each once.
    std::vector<static_redirect_t> take_redirects();
    // The names that serve a folder of the site (its path below the site, "" for the site
    // itself): DirectoryIndex's, or empty when none is given there.
    std::vector<std::string> index_names(const std::string& relative);

private:
    std::shared_ptr<const folder_t> resolve(const std::string& relative);
    // server_level: the directives stand outside any section of a configuration file.
    void apply(folder_t& folder, const std::vector<apache_directive_t>& directives, const std::string& file,
               bool server_level = false);

    std::string source_;
    SSIDirectoryPreferences base_;
    std::vector<apache_config_t> configs_;  // the file's and the settings file's directives
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<const folder_t>> folders_;  // by path from the root
    std::set<std::string> noted_;  // FILE:LINE of each directive noted, so that it is noted once
    std::vector<std::string> notes_;
    std::vector<static_redirect_t> redirects_;
};

// Where the index pages of a folder (its path below the site's root, "" for the root) may be,
// in the order they are tried, as paths below the root: names as DirectoryIndex gives them
// (a name starting with '/' is one place for every folder; "disabled" ends the list), or
// fallback when there are none.
std::vector<std::string> index_places(const std::string& folder, const std::vector<std::string>& names,
                                      const std::vector<std::string>& fallback);

// Reads a whole small text file (a configuration).
std::string read_text_file(const std::string& path);

// What of the site's Apache configuration shapes its pages, as one line for the record of
// runs, so that a changed .htaccess or configuration file rebuilds the pages: a digest of the
// configuration file and every .htaccess of the site (the Apache dialect only; else empty).
std::string settings_digest(const std::string& source, const SSIDirectoryPreferences& preferences);

// For a first run: the directives of the site's .htaccess files that turn includes on (the
// site then needs the Apache dialect), each as "FILE:LINE: DIRECTIVE ...".
std::vector<std::string> detect_apache_settings(const std::string& source);

// The directives of one Apache configuration file that turn includes on, the same way, with
// the file named as SHOWN. Throws when it cannot be read.
std::vector<std::string> includes_turned_on(const std::string& path, const std::string& shown);
