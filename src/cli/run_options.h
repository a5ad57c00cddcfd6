#pragma once

#include "run/driver.h"

#include <iosfwd>
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
};

// The options a run and `orrinfold serve` share: what the site is and how its pages are read
// and written, then how the run goes and what it prints, with SOURCE and DEST.
void add_site_options(CLI::App& app, options_t& options);
void add_run_options(CLI::App& app, options_t& options);
// The arguments with "--convert=", "--skip=" and "--virtual-root=" (an empty list, or no
// root) split into the option and an empty argument, as the parser reads them.
std::vector<std::string> split_empty_values(const std::vector<std::string>& args);
// Sets the preferences' defaults before parsing, and maps the parsed options onto them after.
void prepare_preferences(options_t& options);
void apply_options(const CLI::App& app, options_t& options);

// Ends the program's output: a log that could not be written is a failed run.
int finish(int code, std::ostream& out, std::ostream& err, int write_errno);

// Shows how a run ended on standard error: the interruption, or the error with the includes
// that led to it.
class StreamReport : public RunReport {
public:
    StreamReport(std::ostream& out, std::ostream& err, std::string source)
        : out_(out), err_(err), source_(std::move(source)) {}

    void run_ended(const run_outcome_t& outcome) override;
    void watching() override;

private:
    std::ostream& out_;
    std::ostream& err_;
    std::string source_;
};

// `orrinfold serve [options] SOURCE [DEST]`; args are those after "serve".
int run_serve(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
