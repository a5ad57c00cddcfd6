#pragma once

#include "cli_log.h"
#include "console.h"
#include "run/driver.h"
#include "sarif_log.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

// What the command line asks for: the run itself, and how to show it.
struct options_t {
    run_request_t request;
    bool quiet = false;
    bool watch = false;
    std::vector<std::string> convert_masks, skip_masks;
    std::string dialect = "orrinfold";
    unsigned jobs = 0;
    bool full = false;
    std::string config;  // --config: the settings file to read
    std::optional<std::string> settings_read;
    std::optional<std::string> apache_reason;  // why the Apache dialect was chosen for the site
    bool dry_run = false;
    std::string color = "auto";
    bool all_diagnostics = false;
    std::string log_format = "text";
    std::string sarif;
};

// The options a run and `orrinfold serve` share: what the site is and how its pages are read
// and written, then how the run goes and what it prints, with SOURCE and DEST.
void add_site_options(CLI::App& app, options_t& options);
void add_run_options(CLI::App& app, options_t& options);
// The arguments with "--convert=", "--skip=" and "--virtual-root=" (an empty list, or no
// root) split into the option and an empty argument, as the parser reads them.
std::vector<std::string> split_empty_values(const std::vector<std::string>& args);
// Sets the preferences' defaults before parsing. After it, maps the parsed options onto them
// and fills in what the site's settings file gives; returns the exit status when a settings
// file is wrong.
void prepare_preferences(options_t& options);
std::optional<int> apply_options(const CLI::App& app, options_t& options, std::ostream& err);
// How the terminal shows the run, from the options and what the streams are.
cli_log_settings_t log_settings(const options_t& options, const console_t& console);

// Ends the program's output: a log that could not be written is a failed run, as in coreutils.
int finish(int code, std::ostream& out, std::ostream& err, int write_errno);

// Shows how a run ended: the interruption, or the error with the includes that led to it
// (before the summary), then what the view noticed about the whole run; and writes the SARIF log when asked for.
class StreamReport : public RunReport {
public:
    StreamReport(RunView& view, SarifLog* sarif, std::string sarif_path, std::string source)
        : view_(view), sarif_(sarif), sarif_path_(std::move(sarif_path)), source_(std::move(source)) {}

    void run_stopped(const run_outcome_t& outcome) override;
    void run_ended(const run_outcome_t& outcome) override;
    void watching() override;

    bool sarif_failed = false;

private:
    RunView& view_;
    SarifLog* sarif_;
    std::string sarif_path_;
    std::string source_;
};

// `orrinfold serve [options] SOURCE [DEST]`; args are those after "serve".
int run_serve(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const console_t& console);
