// `orrinfold serve`: a run that watches SOURCE and serves DEST to a browser, with live reload
// and the last rebuild's diagnostics shown over each page.
#include "base/compile_log.h"
#include "help_text.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "run/watch.h"
#include "run_options.h"
#include "serve/live_reload.h"
#include "serve/server.h"
#include "serve/site_files.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <optional>
#include <ostream>

namespace {
// How quiet a site must stay after a save before it is rebuilt: short, since a person waits
// for the browser; an editor's save (write, rename) takes a few milliseconds.
constexpr int serve_quiet_ms = 25;

struct serve_options_t {
    options_t run;
    serve_settings_t listen;
    bool open = false;
};

// The destination of a site served without DEST: a folder of the user's cache named after the
// site's resolved path, the same on each start, so that its record makes the next start quick.
std::string default_destination(const std::string& source) {
    const std::string site = real_path(source);
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a: stable across builds and machines
    for (const char c : site) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    std::string name = site.substr(site.find_last_of("/\\") + 1);
    if (name.empty()) name = "site";
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
    return user_cache_folder() + "/serve/" + name + "-" + digits;
}

std::optional<int> parse_serve(const std::vector<std::string>& args, serve_options_t& options, std::ostream& out,
                               std::ostream& err) {
    prepare_preferences(options.run);
    CLI::App app("Orrinfold serve: builds SOURCE into DEST, rebuilds it on each change and serves it to a browser, "
                 "which reloads the pages that changed and shows the errors over the page.",
                 "orrinfold serve");
    app.footer(serve_help_footer);
    app.allow_windows_style_options(false);
    add_site_options(app, options.run);
    add_run_options(app, options.run);
    app.remove_option(app.get_option("--watch"));  // serving always watches
    app.remove_option(app.get_option("--check"));  // and needs a DEST to serve
    app.remove_option(app.get_option("--werror"));  // it ends with Ctrl-C, not with a status
    for (const char* name : {"--dry-run", "--log-format", "--sarif"})  // a terminal's program, writing DEST
        app.remove_option(app.get_option(name));
    app.get_option("DEST")->description("Folder that receives the static site (default: a folder in the user's cache)");
    app.get_option("--settle")
        ->description("How long SOURCE must stay unchanged after a change before the rebuild (default: " +
                      std::to_string(serve_quiet_ms) + ")");
    app.add_option("--port", options.listen.port, "Port to listen on; a taken one is an error (default: 8000, or the "
                                                  "next free one after it)")
        ->option_text("P")
        ->check(CLI::Range(1, 65535));
    app.add_option("--bind", options.listen.bind, "Address to listen on (default: 127.0.0.1, this machine only)")
        ->option_text("ADDR");
    app.add_flag("--open", options.open, "Open the site in the browser ($BROWSER, else the desktop's) once built");
    const std::vector<std::string> arguments = split_empty_values(args);
    std::vector<const char*> argv{"orrinfold serve"};
    for (const std::string& arg : arguments) argv.push_back(arg.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
        if (options.run.request.source.empty()) throw CLI::RequiredError("SOURCE");
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            out << app.help() << std::flush;
            return finish(0, out, err, 0);
        }
        err << "orrinfold serve: " << e.what() << "\n" << usage_text << "Try 'orrinfold serve --help' for more.\n";
        return 2;
    }
    options.listen.exact_port = app.count("--port") > 0;
    return apply_options(app, options.run, err);
}

// After each rebuild, tells the browsers what changed and what the rebuild reported; the
// terminal gets the same as in a watch.
class ServeReport : public StreamReport {
public:
    ServeReport(RunView& view, const std::string& source, const std::string& destination, DiagnosticsLog& log,
                LiveReload& live)
        : StreamReport(view, nullptr, "", source), tracker_(destination), log_(log), live_(live) {}

    void run_ended(const run_outcome_t& outcome) override {
        StreamReport::run_ended(outcome);
        std::vector<page_diagnostic_t> diagnostics = log_.take();
        if (outcome.end == run_end_t::cancelled) {
            tracker_.missed_run();
            return;
        }
        if (outcome.end == run_end_t::failed) diagnostics.push_back({severity_t::error, outcome.error, outcome.where});
        live_.publish(tracker_.update(outcome.outputs ? &*outcome.outputs : nullptr), diagnostics);
    }

    // The first build is done: the browser may come.
    void watching() override {
        StreamReport::watching();
        if (open_url_.empty()) return;
        if (!open_in_browser(open_url_)) log_.warning("Cannot start a browser for " + open_url_);
    }

    std::string open_url_;

private:
    OutputTracker tracker_;
    DiagnosticsLog& log_;
    LiveReload& live_;
};
}  // namespace

int run_serve(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const console_t& console) {
    serve_options_t options;
    if (const std::optional<int> code = parse_serve(args, options, out, err)) return *code;
    run_request_t& request = options.run.request;
    cli_log_settings_t settings = log_settings(options.run, console);
    settings.status_line = false;  // a watch prints its rebuilds' lines as they come
    CliLog terminal(out, err, settings);
    DiagnosticsLog log(terminal);
    try {
        if (request.destination.empty()) request.destination = default_destination(request.source);
        make_directories(request.destination);
    } catch (const std::exception& e) {
        err << "orrinfold: Cannot make the folder to serve: " << printable(e.what()) << "\n";
        return 1;
    }
    const std::string& extension = request.preferences.rename_pages;
    LiveReload live(extension.empty() ? std::vector<std::string>{} : std::vector<std::string>{extension});
    options.listen.root = request.destination;
    options.listen.index_names = directory_index(request.source, request.preferences);
    PreviewServer server(options.listen, live);
    try {
        server.start();
    } catch (const std::exception& e) {
        err << "orrinfold: " << printable(e.what()) << "\n";
        return 1;
    }
    err << "orrinfold: Serving " << printable(request.destination) << " at " << server.url() << "\n";
    if (!is_loopback_address(options.listen.bind))
        err << "orrinfold: warning: listening on " << printable(options.listen.bind)
            << ": other machines can read the site\n";

    ServeReport report(terminal, request.source, request.destination, log, live);
    if (options.open) report.open_url_ = server.url();
    request.stop_on_signals = true;  // Ctrl-C ends the watch and the serving
    if (request.quiet_ms == 0) request.quiet_ms = serve_quiet_ms;
    RunDriver driver(std::move(request), log, report);
    const watch_outcome_t watched = driver.watch();
    server.stop();
    if (!watched.failure.empty()) {
        err << "orrinfold: " << printable(watched.failure) << "\n";
        return finish(1, out, err, terminal.write_errno());
    }
    err << "orrinfold: Stopped serving\n";
    return finish(0, out, err, terminal.write_errno());
}
