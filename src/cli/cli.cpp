#include "cli.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "help_text.h"
#include "run_options.h"
#include "platform/interrupt.h"
#include "run/driver.h"
#include "ssi/preferences.h"
#include "ssi/ssi_parser.h"
#include "version.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <optional>
#include <ostream>

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

namespace {
std::string joined(const std::vector<std::string>& masks) {
    std::string list;
    for (const std::string& mask : masks) list += (list.empty() ? "" : " ") + mask;
    return list;
}

}  // namespace

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
        ->check(CLI::IsMember({"orrinfold", "apache"}))
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
        ->check(CLI::Range(1u, 1024u));
    app.add_flag("--full", options.full, "Convert and copy every file, even those up to date since the last run");
    app.add_option("--state-dir", preferences.state_folder,
                   "Folder for the record of runs that rebuilds rely on (default: $XDG_CACHE_HOME/orrinfold)")
        ->option_text("DIR");
    app.add_flag("--watch", options.watch, "After the run, rebuild what changed whenever SOURCE changes, until Ctrl-C");
    app.add_flag("-v,--verbose", preferences.verbose, "Also print a line for each file that is up to date");
    app.add_flag("--werror", options.request.werror, "Exit with status 1 when any error or warning was reported");
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

void apply_options(const CLI::App& app, options_t& options) {
    SSIDirectoryPreferences& preferences = options.request.preferences;
    preferences.dialect = options.dialect == "apache" ? dialect_t::apache : dialect_t::orrinfold;
    if (app.count("--convert") > 0) preferences.convert_filter = joined(options.convert_masks);
    if (app.count("--skip") > 0) preferences.skip_filter = joined(options.skip_masks);
    // Like a web server, take "/"-paths from the folder being served unless told otherwise.
    preferences.source_as_root = app.count("--virtual-root") == 0;
    preferences.jobs = options.jobs;
    preferences.rebuild =
        options.full ? SSIDirectoryPreferences::rebuild_t::full : SSIDirectoryPreferences::rebuild_t::changed;
}

namespace {
// Reads the arguments into options. Returns the exit status when the program ends here: after
// --help or --version, or a usage error.
std::optional<int> parse(const std::vector<std::string>& args, options_t& options, std::ostream& out,
                         std::ostream& err) {
    run_request_t& request = options.request;
    SSIDirectoryPreferences& preferences = request.preferences;
    prepare_preferences(options);

    CLI::App app("Orrinfold: turns a web site written with Server Side Includes into a static site.", "orrinfold");
    app.footer(help_footer);
    app.allow_windows_style_options(false);  // "/x" is a path on Windows too, never an option
    app.set_version_flag("-V,--version", std::string(orrinfold::product_name));
    add_site_options(app, options);
    add_run_options(app, options);

    const std::vector<std::string> arguments = split_empty_values(args);
    std::vector<const char*> argv{"orrinfold"};
    for (const std::string& arg : arguments) argv.push_back(arg.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
        if (request.source.empty() || (request.destination.empty() && !preferences.check))
            throw CLI::RequiredError(request.source.empty() ? "SOURCE" : "DEST");
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {  // --help or --version
            errno = 0;
            out << (e.get_name() == "CallForVersion" ? std::string(e.what()) + "\n" : app.help()) << std::flush;
            return finish(0, out, err, out ? 0 : errno);
        }
        err << "orrinfold: " << e.what() << "\n" << usage_text << "Try 'orrinfold --help' for more.\n";
        return 2;
    }

    apply_options(app, options);
    if (options.watch && preferences.check) {
        err << "orrinfold: --watch rebuilds DEST and cannot be used with --check\n" << usage_text;
        return 2;
    }
    return std::nullopt;
}

}  // namespace

void StreamReport::run_ended(const run_outcome_t& outcome) {
    out_ << std::flush;
    if (outcome.end == run_end_t::cancelled) {
        err_ << "orrinfold: Interrupted by " << InterruptGuard::signal_name(outcome.signal)
             << "; every file written is complete\n";
    } else if (outcome.end == run_end_t::failed) {
        err_ << "orrinfold: " << (outcome.where ? to_string(outcome.where->at) + ": " : "")
             << printable(outcome.error) << "\n";
        if (outcome.where) write_include_notes(err_, *outcome.where);
    }
}

void StreamReport::watching() {
    err_ << "orrinfold: Watching " << printable(source_) << " for changes; Ctrl-C to stop\n";
}


int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (!args.empty() && args.front() == "serve") {
#ifdef ORRINFOLD_HAVE_SERVE
        return run_serve({args.begin() + 1, args.end()}, out, err);
#else
        err << "orrinfold: serve is not part of this build (it needs cpp-httplib, which it was built without)\n";
        return 2;
#endif
    }
    options_t options;
    if (const std::optional<int> code = parse(args, options, out, err)) return *code;

    StreamLog log(out, options.quiet || options.request.preferences.check);
    StreamReport report(out, err, options.request.source);
    options.request.stop_on_signals = true;  // Ctrl-C ends the run between two files
    RunDriver driver(std::move(options.request), log, report);
    if (!options.watch) {
        const int code = driver.run().status;  // before write_errno is asked
        return finish(code, out, err, log.write_errno());
    }
    // Watching: each change is rebuilt, a failed rebuild is reported and the watch goes on;
    // Ctrl-C between two rebuilds ends it.
    const watch_outcome_t watched = driver.watch();
    if (!watched.failure.empty())
        err << "orrinfold: " << printable(watched.failure) << "\n";
    else if (watched.last.end != run_end_t::cancelled) err << "orrinfold: Stopped watching\n";
    return finish(watched.status, out, err, log.write_errno());
}
