// The options a run and `orrinfold serve` share, and how a run's end is shown.
#include "run_options.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "platform/file_system.h"
#include "platform/interrupt.h"
#include "run/watch.h"
#include "site/folder_settings.h"
#include "site/settings_file.h"
#include "site_settings.h"
#include "ssi/preferences.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <functional>
#include <ostream>

namespace {
std::string joined(const std::vector<std::string>& masks) {
    std::string list;
    for (const std::string& mask : masks) list += (list.empty() ? "" : " ") + mask;
    return list;
}

// A value from a short list, refused in plain words: "'nginx' is not a dialect: give orrinfold
// or apache".
std::function<std::string(const std::string&)> one_of(const char* what, std::vector<std::string> values) {
    return [what, values = std::move(values)](const std::string& value) {
        if (std::find(values.begin(), values.end(), value) != values.end()) return std::string();
        std::string list;
        for (std::size_t i = 0; i < values.size(); ++i)
            list += (i == 0 ? "" : i + 1 == values.size() ? " or " : ", ") + values[i];
        return "'" + value + "' is not " + what + ": give " + list;
    };
}

// A whole number from 1 to most, refused in plain words: "'0' is not a number of files from 1
// to 1024".
std::function<std::string(const std::string&)> whole_number(const char* unit, unsigned long most) {
    return [unit, most](const std::string& value) {
        const bool digits = !value.empty() && value.size() <= std::to_string(most).size() &&
                            value.find_first_not_of("0123456789") == std::string::npos;
        return digits && std::stoul(value) >= 1 && std::stoul(value) <= most
                   ? std::string()
                   : "'" + value + "' is not a number of " + unit + " from 1 to " + std::to_string(most);
    };
}

// Reads the site's settings file, if any, into what the command line did not give.
std::optional<int> read_settings(const CLI::App& app, options_t& options, std::ostream& err) {
    run_request_t& request = options.request;
    options.settings_read = settings_file_for(options.config, request.source);
    if (!options.settings_read) return std::nullopt;
    try {
        merge_settings(
            read_settings_file(*options.settings_read),
            [&app](const char* option) { return app.count(option) > 0; }, request.preferences, request.destination);
    } catch (const std::runtime_error& e) {
        err << printable(e.what()) << "\n";
        return 2;
    }
    return std::nullopt;
}
}  // namespace

// "--convert=" is an empty list (no masks), which the parser would otherwise read as an option
// still waiting for its value; it is handed on as the option and an empty argument.
std::vector<std::string> split_empty_values(const std::vector<std::string>& args) {
    std::vector<std::string> split;
    bool options = true;
    for (const std::string& arg : args) {
        if (options && (arg == "--convert=" || arg == "--skip=" || arg == "--virtual-root=")) {
            split.push_back(arg.substr(0, arg.size() - 1));
            split.emplace_back();
            continue;
        }
        options = options && arg != "--";
        split.push_back(arg);
    }
    return split;
}


// Ends the program's output: a log that could not be written is a failed run, as in coreutils.
int finish(int code, std::ostream& out, std::ostream& err, int write_errno) {
    errno = 0;
    out.flush();
    if (!out) {
        err << "orrinfold: write error: " << system_error_text(write_errno != 0 ? write_errno : errno != 0 ? errno : EIO)
            << "\n";
        return 1;
    }
    return code;
}

// The options that say what the site is and how its pages are read and written.
void add_site_options(CLI::App& app, options_t& options) {
    SSIDirectoryPreferences& preferences = options.request.preferences;
    app.add_option("--virtual-root", preferences.virtual_root,
                   "Folder that virtual paths starting with \"/\" are taken from (default: SOURCE; '' for none, "
                   "so that every path is taken relative to its document)")
        ->option_text("DIR");
    app.add_option("--convert", options.convert_masks,
                   std::string("Masks of documents to convert (default \"") + default_convert_filter +
                       "\"; repeated options add up, '' converts nothing)")
        ->allow_extra_args(false)
        ->option_text("MASKS");
    app.add_option("--skip", options.skip_masks,
                   std::string("Masks of files and folders to leave out (default \"") + default_skip_filter +
                       "\"; repeated options add up, '' skips nothing)")
        ->allow_extra_args(false)
        ->option_text("MASKS");
    app.add_option("--allow-outside", preferences.allow_outside,
                   "A folder or file outside SOURCE and the virtual root that pages may read and links "
                   "may lead to (repeatable)")
        ->allow_extra_args(false)
        ->option_text("PATH");
    app.add_option("--dialect", options.dialect,
                   "SSI dialect: orrinfold (Orrinfold's own, the default) or apache (as Apache httpd's mod_include "
                   "serves the site)")
        ->check(one_of("a dialect", {"orrinfold", "apache"}))
        ->option_text("orrinfold|apache");
    app.add_flag("--ap-expr", preferences.ap_expressions,
                 "With --dialect apache: read if/elif expressions in Apache's newer syntax (as with "
                 "SSILegacyExprParser off)");
    CLI::Option* renames =
        app.add_option("--rename-pages", preferences.rename_pages,
                       "Write converted pages as NAME.EXT (e.g. html) and rewrite the links to them")
            ->option_text("EXT")
            ->check([](const std::string& extension) {
                return extension.empty() || extension.find_first_of("/.") != std::string::npos
                           ? std::string("EXT is a file name extension without a dot, such as html")
                           : std::string();
            });
    app.add_flag("--redirects", preferences.redirects,
                 "With --rename-pages: leave a page under each old name that redirects to the new one")
        ->needs(renames);
    app.add_flag("--check-links", preferences.check_links,
                 "After the run, report local links in the output that lead to nothing");
    app.add_option("--config", options.config,
                   "Settings file to read (default: SOURCE/orrinfold.toml when there is one); options given here win")
        ->option_text("FILE");
    app.add_option("--apache-config", preferences.apache_config,
                   "With --dialect apache: an Apache server or virtual-host configuration whose directives apply "
                   "(besides each folder's .htaccess)")
        ->option_text("FILE");
}

// The options that say how the run goes and what it prints, then the two folders.
void add_run_options(CLI::App& app, options_t& options) {
    SSIDirectoryPreferences& preferences = options.request.preferences;
    app.add_flag("-q,--quiet", options.quiet, "Print only errors, warnings and the summary, no progress lines");
    app.add_flag("-k,--keep-going", preferences.keep_going,
                 "When a file cannot be converted or copied, report it, keep its previous output and go on");
    app.add_option("-j,--jobs", options.jobs,
                   "Files converted or copied at once (default: one per processor; 1: one after the other)")
        ->option_text("N")
        ->check(whole_number("files", 1024));
    app.add_flag("-n,--dry-run", options.dry_run,
                 "Do everything but write: list what would be converted, copied, removed and left up to date "
                 "in DEST, from the record of the last run");
    app.add_flag("--full", options.full, "Convert and copy every file, even those up to date since the last run");
    app.add_option("--state-dir", preferences.state_folder,
                   "Folder for the record of runs that rebuilds rely on (default: $XDG_CACHE_HOME/orrinfold)")
        ->option_text("DIR");
    CLI::Option* watch =
        app.add_flag("--watch", options.watch, "After the run, rebuild what changed whenever SOURCE changes, until Ctrl-C");
    app.add_option("--settle", options.request.quiet_ms,
                   "With --watch: how long SOURCE must stay unchanged after a change before the rebuild (default: " +
                       std::to_string(default_quiet_ms) + ")")
        ->option_text("MS")
        ->check(whole_number("milliseconds", 60000))
        ->needs(watch);
    app.add_flag("-v,--verbose", preferences.verbose, "Also print a line for each file that is up to date");
    app.add_flag("--werror", options.request.werror, "Exit with status 1 when any warning was reported, too");
    app.add_option("--color", options.color,
                   "Colour diagnostics: auto (on a terminal, unless NO_COLOR is set or CLICOLOR_FORCE asks for "
                   "it), always or never")
        ->check(one_of("a colour choice", {"auto", "always", "never"}))
        ->option_text("WHEN");
    app.add_flag("--all-diagnostics", options.all_diagnostics,
                 "Print a diagnostic of an included document for every page that meets it, not once");
    app.add_option("--log-format", options.log_format,
                   "text (the default) or json: one JSON object per line on standard output for every event")
        ->check(one_of("a log format", {"text", "json"}))
        ->option_text("text|json");
    app.add_option("--sarif", options.sarif, "Also write the diagnostics to FILE as a SARIF 2.1.0 log")
        ->option_text("FILE");
    app.add_flag("--check", preferences.check,
                 "Only check the site: convert into nothing, print diagnostics and the summary, and also "
                 "warn about echo of unset variables, \"/\" paths without a virtual root and includes "
                 "of files that are not text (DEST is not needed)");
    // Checked after parsing, so that a mistyped option is named before a missing folder.
    app.add_option("SOURCE", options.request.source, "Folder holding the site");
    app.add_option("DEST", options.request.destination,
                   "Folder that receives the static site (with --check: left out of the walk)");
}

void prepare_preferences(options_t& options) {
    SSIDirectoryPreferences& preferences = options.request.preferences;
    preferences = default_preferences();
    preferences.root_remedy = "leave out --virtual-root '' to take them from SOURCE, or give a root with --virtual-root DIR";
}

std::optional<int> apply_options(const CLI::App& app, options_t& options, std::ostream& err) {
    run_request_t& request = options.request;
    SSIDirectoryPreferences& preferences = request.preferences;
    preferences.dialect = options.dialect == "apache" ? dialect_t::apache : dialect_t::orrinfold;
    if (app.count("--convert") > 0) preferences.convert_filter = joined(options.convert_masks);
    if (app.count("--skip") > 0) preferences.skip_filter = joined(options.skip_masks);
    // Like a web server, take "/"-paths from the folder being served unless told otherwise.
    preferences.source_as_root = app.count("--virtual-root") == 0;
    preferences.jobs = options.jobs;
    preferences.report_request = preferences.check || preferences.verbose;
    preferences.rebuild =
        options.full ? SSIDirectoryPreferences::rebuild_t::full : SSIDirectoryPreferences::rebuild_t::changed;
    if (const std::optional<int> code = read_settings(app, options, err)) return code;
    if (app.count("--dialect") == 0 && !options.settings_read && preferences.dialect == dialect_t::orrinfold) {
        options.apache_reason = apache_site_reason(request.source);
        if (options.apache_reason) preferences.dialect = dialect_t::apache;  // as Apache httpd serves it
    }
    return std::nullopt;
}

cli_log_settings_t log_settings(const options_t& options, const console_t& console) {
    const SSIDirectoryPreferences& preferences = options.request.preferences;
    cli_log_settings_t settings;
    settings.quiet = options.quiet || (preferences.check && !preferences.dry_run);
    settings.itemize = preferences.dry_run;
    const color_choice_t choice = options.color == "always"  ? color_choice_t::always
                                  : options.color == "never" ? color_choice_t::never
                                                             : color_choice_t::automatic;
    settings.color = use_color(choice, console);
    settings.status_line = console.out_terminal && !preferences.verbose;
    settings.batched = !console.out_terminal;
    settings.all_diagnostics = options.all_diagnostics;
    settings.dialect_hint = preferences.dialect == dialect_t::orrinfold && !options.settings_read;
    return settings;
}

void StreamReport::run_stopped(const run_outcome_t& outcome) {
    if (outcome.end == run_end_t::cancelled) {
        view_.notice(std::string("Interrupted by ") + InterruptGuard::signal_name(outcome.signal) +
                     "; every file written is complete");
    } else if (outcome.end == run_end_t::failed) {
        view_.fatal(outcome.error, outcome.where);
        if (sarif_ != nullptr) sarif_->add(severity_t::error, outcome.error, outcome.where);
    }
}

void StreamReport::run_ended(const run_outcome_t& outcome) {
    view_.end_of_run(outcome);
    if (sarif_ == nullptr) return;
    try {
        sarif_->write(sarif_path_, outcome.end == run_end_t::finished);
    } catch (const std::exception& e) {
        view_.error(std::string("Cannot write the SARIF log: ") + e.what());
        sarif_failed = true;
    }
}

void StreamReport::watching() {
    view_.notice("Watching " + source_ + " for changes; Ctrl-C to stop");
}
