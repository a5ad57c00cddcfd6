#include "cli.h"

#include "base/compile_log.h"
#include "platform/file_system.h"
#include "site/convert.h"
#include "ssi/preferences.h"
#include "ssi/ssi_parser.h"
#include "version.h"

#include <CLI/CLI.hpp>
#include <ostream>

namespace {
constexpr const char* usage_text =
    "Usage: orrinfold [--virtual-root DIR] [--convert MASKS] [--skip MASKS] [-q] SOURCE DEST\n"
    "       orrinfold --help | --version\n";

constexpr const char* help_footer = R"(
Orrinfold mirrors SOURCE into DEST. Documents whose names match a Convert mask go
through the SSI engine (include, echo, set, config, fsize, flastmod, break); entries
matching a Skip mask are left out, folders included; every other file is copied.
DEST is created when missing. Each file gets a progress line; errors in documents
are reported one line each and the run goes on; "Finished!" ends a good run.

Masks: a list separated by spaces, each matched against a whole file or folder name
(never a path), letters compared without regard to case. '*' matches any run of
characters, '?' exactly one; a dot is an ordinary character. Skip is tested first.
  --convert "*.shtml *.html"   converts both kinds of page
  --skip "*.inc include .git"  leaves out .inc files and folders named include or .git

Virtual root: where <!--#include virtual="/..." --> (and fsize, flastmod) paths that
start with "/" are looked up. Without it they, like all other paths, are taken
relative to the folder of the document that names them.
  orrinfold --virtual-root ~/site ~/site ~/public
  makes virtual="/inc/menu.inc" read ~/site/inc/menu.inc from every page.

Exit status: 0 when the run finished, 1 when it ended with an error (the error is
printed on standard error; work done before it stays), 2 for a usage error.
)";
}  // namespace

int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    SSIDirectoryPreferences preferences = default_preferences();
    std::string source, destination;
    bool quiet = false;

    CLI::App app("Orrinfold: turns a web site written with Server Side Includes into a static site.", "orrinfold");
    app.footer(help_footer);
    app.set_version_flag("--version", std::string(orrinfold::product_name));
    app.add_option("--virtual-root", preferences.virtual_root,
                   "Folder that virtual paths starting with \"/\" are taken from")
        ->option_text("DIR");
    app.add_option("--convert", preferences.convert_filter,
                   std::string("Masks of documents to convert (default \"") + default_convert_filter + "\")")
        ->option_text("MASKS");
    app.add_option("--skip", preferences.skip_filter,
                   std::string("Masks of files and folders to leave out (default \"") + default_skip_filter + "\")")
        ->option_text("MASKS");
    app.add_flag("-q,--quiet", quiet, "Print only errors and warnings, no progress lines");
    // Checked after parsing, so that a mistyped option is named before a missing folder.
    app.add_option("SOURCE", source, "Folder holding the site");
    app.add_option("DEST", destination, "Folder that receives the static site");

    std::vector<const char*> argv{"orrinfold"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
        if (source.empty() || destination.empty()) throw CLI::RequiredError(source.empty() ? "SOURCE" : "DEST");
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {  // --help or --version
            out << (e.get_name() == "CallForVersion" ? std::string(e.what()) + "\n" : app.help());
            return 0;
        }
        err << "orrinfold: " << e.what() << "\n" << usage_text << "Try 'orrinfold --help' for more.\n";
        return 2;
    }

    SSIParser::init_commands();
    StreamLog log(out, quiet);
    try {
        // A missing destination cannot hold the source, so creating it first is safe; a
        // source that is no folder is reported by the run without leaving a new folder behind.
        if (stat_path(source).kind == file_kind_t::directory && !try_stat_path(destination))
            make_directories(destination);
        convert_directory("", source, destination, preferences, log);
        log.message("Finished!");
        return 0;
    } catch (const std::exception& e) {
        out << std::flush;
        err << "orrinfold: " << e.what() << "\n";
        return 1;
    }
}
