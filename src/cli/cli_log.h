#pragma once

#include "run_view.h"

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
    bool itemize = false;          // a dry run: "convert a.shtml", "copy b.txt", "remove c", "up to date d"
    // Standard output is no terminal (a file, a pipe): progress lines go out in batches, at
    // least ten times a second, rather than one write each; diagnostics and the summary still
    // come in order.
    bool batched = false;
};

// The command line's log, as a compiler's: progress lines (or one status line) on standard
// output, every diagnostic on standard error with the path as given on the command line, a
// diagnostic repeated by other pages through the same include printed once with a note at the
// end, and the summary on standard output.
class CliLog : public RunView {
public:
    CliLog(std::ostream& out, std::ostream& err, cli_log_settings_t settings);

    void output_line(const std::string& text) override;
    void message(const std::string& text) override;
    void error(const std::string& text) override;
    void warning(const std::string& text) override;
    void diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) override;
    void summary(const std::string& text) override;

    // As a compiler's fatal error.
    void fatal(const std::string& text, const std::optional<diagnostic_location_t>& where) override;
    // "orrinfold: text" on standard error.
    void notice(const std::string& text) override;
    // The suggestion of --dialect apache, once.
    void end_of_run(const run_outcome_t& outcome) override;
    void set_progress(std::function<progress_t()> probe) override { progress_ = std::move(probe); }
    int write_errno() const noexcept override { return write_errno_; }

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
    void write_out(const std::string& line, bool now = false);
    void flush_out();
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
    bool run_started_ = false;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point drawn_{};
    std::chrono::steady_clock::time_point flushed_{};  // standard output's last flush
};

// A position as the user opens it from the current folder: the path the document was read
// with (SOURCE as given, then the name in the site), else its name in the site; with its line
// and column ("path:line:column") or alone.
std::string user_place(const source_position_t& position);
std::string user_path(const source_position_t& position);

// Whether a diagnostic is one the default dialect gives for a directive of Apache's, and the
// note a run ends with when it met one.
bool is_apache_only(const std::string& text);
inline constexpr const char* apache_hint =
    "the site uses Apache's directives (if/elif/else/endif, include file): if it was written for Apache httpd, "
    "convert it with --dialect apache ('orrinfold init --dialect apache' keeps that in orrinfold.toml)";
