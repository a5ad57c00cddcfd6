#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The SSI dialects: the engine's own, and Apache httpd's mod_include as a static site sees it.
enum class dialect_t { orrinfold, apache };

// The settings the SSI engine reads: the folder that "/"-paths of include, fsize and flastmod
// are taken from (empty: the site has no virtual root), and whether the run only checks the
// site, warning also about what would silently give wrong pages. root_remedy tells the user
// how to set a virtual root in the program at hand; it ends the error for a missing "/"-path
// when there is none.
struct SSIParserPreferences {
    std::string virtual_root;
    bool check = false;
    std::string root_remedy = "set a virtual root";
    // Folders, fully resolved, below which include, fsize and flastmod may read (the site, the
    // virtual root, places the user allowed); empty: anywhere. A site walk fills it.
    std::vector<std::string> readable_folders;
    dialect_t dialect = dialect_t::orrinfold;
    // Apache dialect: if and elif take Apache's newer expression syntax instead of the legacy one.
    bool ap_expressions = false;
    // Apache dialect: report each place where a page depends on the request or on server state
    // a static site cannot have (the command line sets it with --check and -v).
    bool report_request = false;
    // Apache dialect: whether an included document with this name is parsed for directives (as
    // pages are) rather than included as it is; unset: every one is.
    std::function<bool(std::string_view name)> parses_include;
    // Apache dialect: what a failed directive writes (SSIErrorMsg), what echo writes for an
    // unset variable (SSIUndefinedEcho) and the first timefmt (SSITimeFormat); unset: Apache's.
    std::optional<std::u16string> error_text, undefined_echo, time_format;
    // Apache dialect: what opens and closes a directive (SSIStartTag, SSIEndTag), neither empty;
    // the engine's own dialect always reads <!--# and -->.
    std::string start_tag = "<!--#", end_tag = "-->";
};

// The settings of a site conversion: the engine's, plus the Convert and Skip mask lists
// (masks separated by spaces), whether a file that fails is reported and the run goes on,
// whether the folder being converted serves as the virtual root (virtual_root is then unused),
// and where outside the site documents and links may also read.
struct SSIDirectoryPreferences : SSIParserPreferences {
    std::string convert_filter;
    std::string skip_filter;
    bool keep_going = false;
    bool source_as_root = false;
    std::vector<std::string> allow_outside;  // places outside the site that may be read too
    // Output for static hosts: converted pages written as NAME.rename_pages (empty: names kept)
    // with the links to them rewritten, a page under each old name that redirects to the new
    // one, and a report of local links that lead nowhere in the output.
    std::string rename_pages;
    bool redirects = false;
    bool check_links = false;
    // How many files are converted or copied at once; 0: one per processor. The log, the
    // outputs and the diagnostics are those of a run that does one file after the other.
    unsigned jobs = 1;
    // Rebuilds: off keeps no record and does every file; full does every file and records what
    // it wrote; changed does only what changed since the record, and removes the outputs it
    // wrote whose source is gone. The record is kept in state_folder (empty: the user's cache).
    enum class rebuild_t { off, full, changed };
    rebuild_t rebuild = rebuild_t::off;
    std::string state_folder;
    bool dry_run = false;  // with check: also read DEST's record, to tell what a run would do there
    bool verbose = false;  // a progress line also for each file that is up to date
    // Apache dialect: Apache's own configuration, besides each folder's .htaccess: a server or
    // virtual-host configuration file (empty: none), and directives given as text (as a
    // settings file holds them), read as if at the top of that configuration.
    std::string apache_config;
    std::string apache_directives;
    std::string settings_file;  // the settings file the run's options were read from, if any
};

inline constexpr const char* default_convert_filter = "*.shtml *.shtm *.sht";
inline constexpr const char* default_skip_filter = "*.inc include";

// Preferences with the default mask lists and no virtual root.
SSIDirectoryPreferences default_preferences();
