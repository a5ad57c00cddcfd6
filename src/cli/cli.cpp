#include "cli.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "cli_log.h"
#include "run_options.h"
#include "console.h"
#include "help_text.h"
#include "json_log.h"
#include "platform/file_system.h"
#include "platform/interrupt.h"
#include "run/driver.h"
#include "site/folder_settings.h"
#include "site_settings.h"
#include "ssi/preferences.h"
#include "ssi/ssi_parser.h"
#include "sarif_log.h"
#include "suggest.h"
#include "version.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>

namespace {
// Every option's names, and which of them take a value, for naming a mistyped one.
option_names_t option_names(const CLI::App& app) {
    option_names_t names{{"--help", "-h"}, {}};
    for (const CLI::Option* option : app.get_options()) {
        std::vector<std::string> spelled;
        for (const std::string& name : option->get_lnames()) spelled.push_back("--" + name);
        for (const std::string& name : option->get_snames()) spelled.push_back("-" + name);
        names.names.insert(names.names.end(), spelled.begin(), spelled.end());
        if (option->get_items_expected_min() > 0)
            names.with_values.insert(names.with_values.end(), spelled.begin(), spelled.end());
    }
    return names;
}

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
        if (const std::optional<std::string> unknown = unknown_option(arguments, option_names(app)))
            throw CLI::ParseError(*unknown, CLI::ExitCodes::ExtrasError);
        app.parse(static_cast<int>(argv.size()), argv.data());
        if (request.source.empty()) throw CLI::RequiredError("SOURCE");
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {  // --help or --version
            errno = 0;
            out << (e.get_name() == "CallForVersion" ? std::string(e.what()) + "\n" : app.help()) << std::flush;
            return finish(0, out, err, out ? 0 : errno);
        }
        err << "orrinfold: error: " << e.what() << "\n" << usage_text << "Try 'orrinfold --help' for more.\n";
        return 2;
    }

    if (const std::optional<int> code = apply_options(app, options, err)) return code;
    if (request.destination.empty() && (!preferences.check || options.dry_run)) {
        err << "orrinfold: error: DEST is required\n" << usage_text << "Try 'orrinfold --help' for more.\n";
        return 2;
    }
    if (options.dry_run) {
        preferences.check = preferences.dry_run = preferences.verbose = true;  // converts into nothing
        if (options.watch) {
            err << "orrinfold: error: --watch rebuilds DEST and cannot be used with --dry-run\n" << usage_text;
            return 2;
        }
    }
    if (options.watch && preferences.check) {
        err << "orrinfold: error: --watch rebuilds DEST and cannot be used with --check\n" << usage_text;
        return 2;
    }
    return std::nullopt;
}

// Mistakes seen before the run starts, which print no summary: a SOURCE that is not there,
// and a DEST that is SOURCE itself. Returns the exit status when the program ends here; with
// JSON lines asked for, the error is one of them too (a fatal diagnostic).
std::optional<int> refuse_folders(const options_t& options, std::ostream& out, std::ostream& err) {
    const run_request_t& request = options.request;
    const auto refuse = [&](int status, const std::string& text) {
        err << "orrinfold: error: " << text << "\n";
        if (options.log_format == "json") JsonLog(out, false).fatal(text, std::nullopt);
        return status;
    };
    const std::optional<file_status_t> source = try_stat_path(request.source);
    if (!source || source->kind != file_kind_t::directory)
        return refuse(1, printable(request.source) + ": " + system_error_text(source ? ENOTDIR : ENOENT));
    if (request.destination.empty()) return std::nullopt;
    const std::optional<file_status_t> destination = try_stat_path(request.destination);
    if (destination && destination->identity == source->identity)
        return refuse(2, "SOURCE and DEST are the same folder (" + printable(request.destination) +
                             "); give another folder for the static site");
    return std::nullopt;
}
}  // namespace

int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const console_t& console) {
    if (!args.empty() && args.front() == "init") return run_init({args.begin() + 1, args.end()}, out, err);
    if (!args.empty() && args.front() == "serve") {
#ifdef ORRINFOLD_HAVE_SERVE
        return run_serve({args.begin() + 1, args.end()}, out, err, console);
#else
        err << "orrinfold: error: serve is not part of this build (it needs cpp-httplib, which it was built without)\n";
        return 2;
#endif
    }
    options_t options;
    if (const std::optional<int> code = parse(args, options, out, err)) return *code;
    if (const std::optional<int> code = refuse_folders(options, out, err)) return *code;
    if (options.settings_read && options.request.preferences.verbose)
        out << "Settings read from " << printable(*options.settings_read) << "\n";
    if (options.apache_reason)
        err << "orrinfold: note: " << printable(*options.apache_reason)
            << " turns Apache's server-side includes on: converting in the Apache dialect (--dialect orrinfold "
               "for the default; 'orrinfold init' keeps the choice in orrinfold.toml)\n";

    const cli_log_settings_t settings = log_settings(options, console);
    const bool json = options.log_format == "json";
    std::unique_ptr<RunView> view;
    if (json)
        view = std::make_unique<JsonLog>(out, settings.dialect_hint);
    else
        view = std::make_unique<CliLog>(out, err, settings);
    std::optional<SarifLog> sarif;
    if (!options.sarif.empty()) sarif.emplace(*view);
    StreamReport report(*view, sarif ? &*sarif : nullptr, options.sarif, options.request.source);
    options.request.stop_on_signals = true;  // Ctrl-C ends the run between two files
    options.request.count_files = settings.status_line && !settings.quiet && !json;
    RunDriver driver(std::move(options.request), sarif ? static_cast<CompileLogBase&>(*sarif) : *view, report);
    view->set_progress([&driver] { return progress_t{driver.control().files_done, driver.files_found()}; });
    RunView& log = *view;
    if (!options.watch) {
        const int code = driver.run().status;  // before write_errno is asked
        return finish(report.sarif_failed && code == 0 ? 1 : code, out, err, log.write_errno());
    }
    // Watching: each change is rebuilt, a failed rebuild is reported and the watch goes on;
    // Ctrl-C between two rebuilds ends it.
    const watch_outcome_t watched = driver.watch();
    if (!watched.failure.empty())
        log.fatal(watched.failure, std::nullopt);
    else if (watched.last.end != run_end_t::cancelled)
        log.notice("Stopped watching");
    return finish(watched.status, out, err, log.write_errno());
}

