#include "cli.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "build/convert.h"
#include "platform/file_system.h"
#include "platform/interrupt.h"
#include "platform/thread.h"
#include "site/watch.h"
#include "ssi/preferences.h"
#include "ssi/ssi_parser.h"
#include "version.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <ostream>

namespace {
constexpr const char* usage_text =
    "Usage: orrinfold [--virtual-root DIR] [--convert MASKS] [--skip MASKS] [--allow-outside PATH]\n"
    "                 [--dialect orrinfold|apache] [--ap-expr] [--rename-pages EXT [--redirects]]\n"
    "                 [--check-links] [-j N] [--full] [--state-dir DIR] [--watch]\n"
    "                 [-q] [-v] [-k] [--werror] SOURCE DEST\n"
    "       orrinfold --check [options] SOURCE\n"
    "       orrinfold --help | -V, --version\n";

constexpr const char* help_footer = R"(
Orrinfold mirrors SOURCE into DEST. Documents whose names match a Convert mask go
through the SSI engine (include, echo, set, config, fsize, flastmod, break); entries
matching a Skip mask are left out, folders included; every other file is copied.
DEST is created when missing. Each file gets a progress line; errors in documents
are reported one line each and the run goes on; "Finished!" ends a good run.

Masks: a list separated by spaces, each matched against a whole file or folder name
(never a path), letters compared without regard to case. '*' matches any run of
characters, '?' exactly one; a dot is an ordinary character. Skip is tested first.
A repeated option adds its masks to the list; an empty list ('') matches nothing.
  --convert "*.shtml *.html"   converts both kinds of page
  --skip "*.inc include .git"  leaves out .inc files and folders named include or .git
Folders named .git, .svn or .hg are copied like any other unless skipped; the run
warns about each one.

Virtual root: where <!--#include virtual="/..." --> (and fsize, flastmod) paths that
start with "/" are looked up. By default it is SOURCE, the folder a web server would
serve, so virtual="/inc/menu.inc" reads SOURCE/inc/menu.inc from every page.
  orrinfold --virtual-root ~/www ~/www/blog ~/public   a site within a larger root
  orrinfold --virtual-root '' site public             no root: every path, "/" ones
                                                      too, is taken relative to the
                                                      folder of its document

Dialects: --dialect orrinfold (the default) is Orrinfold's own SSI: the seven
commands above, every included file parsed, a missing include ends the run.
--dialect apache does what Apache httpd's mod_include does for a site served from
the virtual root with "Options +IncludesNOEXEC": if/elif/else/endif with Apache's
expressions (legacy syntax; --ap-expr for the newer one, like "SSILegacyExprParser
off"), include file= and virtual= (a URL: %XX escapes, ?query), echo encoding=, set,
config errmsg/echomsg/timefmt/sizefmt, printenv, comment, Apache's variables
(DOCUMENT_NAME, DOCUMENT_URI, LAST_MODIFIED, USER_NAME, ...) and formats. Only
included files that match a Convert mask are parsed; others are included as they
are. A directive that fails writes "[an error occurred while processing this
directive]" (or config errmsg) into the page, is reported, and the page goes on.
exec is always refused. Choose apache for a site written for Apache.

Static hosts: --rename-pages html writes each converted page as NAME.html
(index.shtml becomes index.html, which hosts serve for "/"), and rewrites the links
to renamed pages in converted pages and in copied .html, .htm and .css files (href,
src, srcset, action and the other URL attributes, meta refresh, url() in styles);
only the name in each such link changes, every other byte stays. Two entries that
would get one name are an error before anything is written. --redirects also
writes a small page under each old name that sends browsers to the new one.
--check-links reports every local link in the output that leads to nothing
(PATH:LINE:COL: warning: broken link 'x.html') and counts them in the summary.

Rebuilds: a run records what it wrote (outside DEST, in $XDG_CACHE_HOME/orrinfold
or ~/.cache/orrinfold, or in --state-dir DIR), and the next run into DEST converts
only the pages that changed or whose included files, fsize/flastmod targets or
options changed (pages that show DATE_LOCAL or DATE_GMT, or reported a problem,
every time), copies only changed files, and removes outputs whose source is gone
or now skipped, but only files it wrote itself and that nobody changed since.
The summary counts the files up to date (-v lists them). --full does every file.
A second run into the same DEST while one is going refuses to start.
Files are converted and copied on one worker per processor (-j N for N; -j 1 does
one after the other); the log, the outputs and the diagnostics are the same.
--watch, after the run, waits for changes in SOURCE (and the virtual root) and
rebuilds what changed each time, until Ctrl-C.

Diagnostics: an error or warning in a document is printed the way compilers print
them, with the document's path relative to SOURCE, the line and the column of the
directive, and one note per include that led there:
  news/a.shtml:12:5: warning: Unknown SSI command: foo
  inc/menu.inc:3:1: error: Missing required argument 'var' in command 'echo'
  news/a.shtml:2:1: note: included from here
Each run ends with a summary: N documents converted, N files copied, N skipped;
N errors, N warnings.

Safety: outputs are written beside their target and renamed over it when complete,
so a page is never seen half-written and a page that fails keeps its previous
output. Links in DEST are replaced, never written through. Pages read only within
SOURCE, the virtual root and places given with --allow-outside; links in SOURCE
that lead elsewhere, and broken links, are skipped with a warning. Ctrl-C (or
SIGTERM) stops the run after the file in progress.

Exit status: 0 when the run finished, 1 when it ended with an error (the error is
printed on standard error; work done before it stays), when -k let files fail,
with --werror when any error or warning was reported, or when standard output
could not be written; 2 for a usage error; 130 or 143 when interrupted (with
--watch, 0 when stopped between two rebuilds).
)";

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

std::string joined(const std::vector<std::string>& masks) {
    std::string list;
    for (const std::string& mask : masks) list += (list.empty() ? "" : " ") + mask;
    return list;
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
}  // namespace

int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    SSIDirectoryPreferences preferences = default_preferences();
    preferences.root_remedy = "leave out --virtual-root '' to take them from SOURCE, or give a root with --virtual-root DIR";
    std::string source, destination;
    std::vector<std::string> convert_masks, skip_masks;
    bool quiet = false;

    CLI::App app("Orrinfold: turns a web site written with Server Side Includes into a static site.", "orrinfold");
    app.footer(help_footer);
    app.allow_windows_style_options(false);  // "/x" is a path on Windows too, never an option
    app.set_version_flag("-V,--version", std::string(orrinfold::product_name));
    app.add_option("--virtual-root", preferences.virtual_root,
                   "Folder that virtual paths starting with \"/\" are taken from (default: SOURCE; '' for none, "
                   "so that every path is taken relative to its document)")
        ->option_text("DIR");
    app.add_option("--convert", convert_masks,
                   std::string("Masks of documents to convert (default \"") + default_convert_filter +
                       "\"; repeated options add up, '' converts nothing)")
        ->allow_extra_args(false)
        ->option_text("MASKS");
    app.add_option("--skip", skip_masks,
                   std::string("Masks of files and folders to leave out (default \"") + default_skip_filter +
                       "\"; repeated options add up, '' skips nothing)")
        ->allow_extra_args(false)
        ->option_text("MASKS");
    app.add_option("--allow-outside", preferences.allow_outside,
                   "A folder or file outside SOURCE and the virtual root that pages may read and links "
                   "may lead to (repeatable)")
        ->allow_extra_args(false)
        ->option_text("PATH");
    std::string dialect = "orrinfold";
    app.add_option("--dialect", dialect,
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
    app.add_flag("-q,--quiet", quiet, "Print only errors, warnings and the summary, no progress lines");
    app.add_flag("-k,--keep-going", preferences.keep_going,
                 "When a file cannot be converted or copied, report it, keep its previous output and go on");
    unsigned jobs = 0;
    app.add_option("-j,--jobs", jobs, "Files converted or copied at once (default: one per processor; 1: one after the other)")
        ->option_text("N")
        ->check(CLI::Range(1u, 1024u));
    bool full = false;
    app.add_flag("--full", full, "Convert and copy every file, even those up to date since the last run");
    app.add_option("--state-dir", preferences.state_folder,
                   "Folder for the record of runs that rebuilds rely on (default: $XDG_CACHE_HOME/orrinfold)")
        ->option_text("DIR");
    bool watch = false;
    app.add_flag("--watch", watch, "After the run, rebuild what changed whenever SOURCE changes, until Ctrl-C");
    app.add_flag("-v,--verbose", preferences.verbose, "Also print a line for each file that is up to date");
    bool werror = false;
    app.add_flag("--werror", werror, "Exit with status 1 when any error or warning was reported");
    app.add_flag("--check", preferences.check,
                 "Only check the site: convert into nothing, print diagnostics and the summary, and also "
                 "warn about echo of unset variables, \"/\" paths without a virtual root and includes "
                 "of files that are not text (DEST is not needed)");
    // Checked after parsing, so that a mistyped option is named before a missing folder.
    app.add_option("SOURCE", source, "Folder holding the site");
    app.add_option("DEST", destination, "Folder that receives the static site (with --check: left out of the walk)");

    const std::vector<std::string> arguments = split_empty_values(args);
    std::vector<const char*> argv{"orrinfold"};
    for (const std::string& arg : arguments) argv.push_back(arg.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
        if (source.empty() || (destination.empty() && !preferences.check))
            throw CLI::RequiredError(source.empty() ? "SOURCE" : "DEST");
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {  // --help or --version
            errno = 0;
            out << (e.get_name() == "CallForVersion" ? std::string(e.what()) + "\n" : app.help()) << std::flush;
            return finish(0, out, err, out ? 0 : errno);
        }
        err << "orrinfold: " << e.what() << "\n" << usage_text << "Try 'orrinfold --help' for more.\n";
        return 2;
    }

    preferences.dialect = dialect == "apache" ? dialect_t::apache : dialect_t::orrinfold;
    if (app.count("--convert") > 0) preferences.convert_filter = joined(convert_masks);
    if (app.count("--skip") > 0) preferences.skip_filter = joined(skip_masks);
    // Like a web server, take "/"-paths from the folder being served unless told otherwise.
    preferences.source_as_root = app.count("--virtual-root") == 0;
    preferences.jobs = jobs;
    preferences.rebuild = full ? SSIDirectoryPreferences::rebuild_t::full : SSIDirectoryPreferences::rebuild_t::changed;
    if (watch && preferences.check) {
        err << "orrinfold: --watch rebuilds DEST and cannot be used with --check\n" << usage_text;
        return 2;
    }

    // A check reports every broken document rather than stopping at the first.
    preferences.keep_going = preferences.keep_going || preferences.check;
    StreamLog log(out, quiet || preferences.check);
    conversion_control_t control;
    const InterruptGuard interrupts(control.cancel);
    // One run: its summary, then the error that ended it, if one did. Returns the exit status.
    const auto run = [&] {
        control.summary = {};
        try {
            run_with_stack(conversion_stack_bytes,
                           [&] { convert_directory("", source, destination, preferences, log, &control); });
        } catch (const conversion_cancelled&) {
            // Stopped between two files: every output written is complete.
            log.summary(summary_text(control.summary, preferences.keep_going, preferences.check, preferences.check_links));
            out << std::flush;
            const int number = interrupts.signal_number();
            err << "orrinfold: Interrupted by " << InterruptGuard::signal_name(number)
                << "; every file written is complete\n";
            return 128 + number;
        } catch (const std::exception& e) {
            run_summary_t summary = control.summary;
            ++summary.errors;  // the one that stopped the run
            log.summary(summary_text(summary, preferences.keep_going, preferences.check, preferences.check_links));
            out << std::flush;
            const auto* located = dynamic_cast<const located_error*>(&e);
            err << "orrinfold: " << (located != nullptr ? to_string(located->where().at) + ": " : "") << e.what() << "\n";
            if (located != nullptr) write_include_notes(err, located->where());
            return 1;
        }
        const run_summary_t& summary = control.summary;
        log.summary(summary_text(summary, preferences.keep_going, preferences.check, preferences.check_links));
        log.message("Finished!");
        const bool failed = summary.failed_documents + summary.failed_copies > 0;
        return failed || (werror && summary.errors + summary.warnings > 0) ? 1 : 0;
    };
    if (!watch) {
        const int code = run();  // before write_errno is asked
        return finish(code, out, err, log.write_errno());
    }

    // Watching: the folders are watched before the first run, so that no change made during it
    // is missed; each change is then rebuilt incrementally, a failed rebuild is reported and
    // the watch goes on. Ctrl-C between two rebuilds ends it.
    const std::vector<std::string> folders = watched_folders(source, preferences);
    int code = 0;
    try {
        // The destination is made first, so that it can be left out: its outputs must not wake the watch.
        make_directories(destination);
        watch_folders(folders, {real_path(destination)}, default_quiet_ms, control.cancel, [&] {
            code = run();
            out << std::flush;
        }, [&] {
            code = run();
            preferences.rebuild = SSIDirectoryPreferences::rebuild_t::changed;
            out << std::flush;
            if (code <= 128) err << "orrinfold: Watching " << source << " for changes; Ctrl-C to stop\n";
        });
    } catch (const std::exception& e) {
        err << "orrinfold: Cannot watch " << source << ": " << e.what() << "\n";
        return finish(1, out, err, log.write_errno());
    }
    if (code > 128) return finish(code, out, err, log.write_errno());
    err << "orrinfold: Stopped watching\n";
    return finish(0, out, err, log.write_errno());
}
