#pragma once

#include "run_view.h"

#include <iosfwd>

// --log-format=json: one JSON object per line on standard output for every event of a run,
// for CI and editors. Each has "event": "file" (a file started: "action" convert, copy,
// remove or up-to-date, "path" in the site), "message", "diagnostic" (severity, message,
// path, line, column, included_from, fatal), "notice" and "summary" (the counts, how the run
// ended and its exit status). The README holds the schema.
class JsonLog : public RunView {
public:
    // dialect_hint: the default dialect, which suggests --dialect apache when Apache's directives show.
    JsonLog(std::ostream& out, bool dialect_hint) : out_(out), dialect_hint_(dialect_hint) {}

    void output_line(const std::string& text) override;
    void message(const std::string& text) override;
    void error(const std::string& text) override;
    void warning(const std::string& text) override;
    void diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) override;
    void summary(const std::string& text) override { summary_ = text; }

    void fatal(const std::string& text, const std::optional<diagnostic_location_t>& where) override;
    void notice(const std::string& text) override;
    void end_of_run(const run_outcome_t& outcome) override;
    int write_errno() const noexcept override { return write_errno_; }

private:
    void unlocated(severity_t severity, const std::string& text);
    void write(const std::string& line);

    std::ostream& out_;
    bool dialect_hint_;
    bool apache_seen_ = false;
    std::string summary_;
    int write_errno_ = 0;
};
