#pragma once

#include "base/compile_log.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// How the command line shows a run.
struct cli_log_settings_t {
    bool quiet = false;            // no progress lines
    bool color = false;            // diagnostics in gcc's colours
    bool status_line = false;      // progress as one line redrawn in place, for a terminal
    bool all_diagnostics = false;  // print a repeated diagnostic of an included document every time
    bool dialect_hint = false;     // the default dialect: suggest --dialect apache when Apache's directives show
};

// Files done and found so far, for the status line.
struct progress_t {
    std::uint64_t done = 0;
    std::uint64_t total = 0;  // 0 while still counting
};

// The command line's log, as a compiler's: progress lines (or one status line) on standard
// output, every diagnostic on standard error with the path as given on the command line, a
// diagnostic repeated by other pages through the same include printed once with a note at the
// end, and the summary on standard output.
class CliLog : public CompileLogBase {
public:
    CliLog(std::ostream& out, std::ostream& err, cli_log_settings_t settings);

    void output_line(const std::string& text) override;
    void message(const std::string& text) override;
    void error(const std::string& text) override;
    void warning(const std::string& text) override;
    void diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) override;
    void summary(const std::string& text) override;

    // The error that ended a run, as a compiler's fatal error.
    void fatal(const std::string& text, const std::optional<diagnostic_location_t>& where);
    // "orrinfold: text" on standard error: an interruption, the watch's notices.
    void notice(const std::string& text);
    // After the summary and any fatal error: the suggestion of --dialect apache, once.
    void end_of_run();
    void set_progress(std::function<progress_t()> probe) { progress_ = std::move(probe); }

    // The errno of the first line that could not be written to standard output (0: none).
    int write_errno() const noexcept { return write_errno_; }

private:
    struct repeat_t {
        std::string place;  // where the notes points: the included document's position
        severity_t severity;
        std::string first_page;
        std::set<std::string> other_pages;
    };

    void write_diagnostic(severity_t severity, const std::string& place, const std::string& text);
    void write_location(severity_t severity, const std::string& text, const diagnostic_location_t& where);
    bool repeated(severity_t severity, const std::string& text, const diagnostic_location_t& where);
    void watch_for_apache(const std::string& text);
    void write_out(const std::string& line);
    void before_err();
    void after_err();
    void clear_status();
    void draw_status(bool force);

    std::ostream& out_;
    std::ostream& err_;
    cli_log_settings_t settings_;
    int write_errno_ = 0;
    std::map<std::string, std::size_t> repeat_index_;
    std::vector<repeat_t> repeats_;
    bool apache_seen_ = false;
    std::function<progress_t()> progress_;
    bool status_shown_ = false;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point drawn_{};
};

// A position as the user opens it from the current folder: the path the document was read
// with (SOURCE as given, then the name in the site), else its name in the site.
std::string user_place(const source_position_t& position);
