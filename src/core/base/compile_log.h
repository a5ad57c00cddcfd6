#pragma once

#include "base/location.h"

#include <cstdint>
#include <iosfwd>
#include <set>
#include <string>
#include <string_view>

// Notes add to an error or warning, and are not counted.
enum class severity_t { error, warning, note };

// Text made safe for one log line, whatever names it holds: control characters (C0 and DEL)
// become C escapes (\n, \r, \t, else \xHH with two lower-case hex digits). Every other byte,
// backslashes and UTF-8 included, stays as it is, so that paths and patterns read as written;
// a name that holds a backslash and an "n" reads like an escape, but never breaks a line.
std::string printable(std::string_view text);

// One "path:line:column: note: included from here" line per include that led to a diagnostic.
void write_include_notes(std::ostream& out, const diagnostic_location_t& where);

// The conversion log: one call, one line. The site walk and the SSI engine write to it.
// Progress, error and warning lines reach a plain log as the bare text; a diagnostic from a
// document also carries its location as data, for each front end to show its own way.
class CompileLogBase {
public:
    virtual ~CompileLogBase() = default;

    virtual void output_line(const std::string& text);
    virtual void message(const std::string& text);
    virtual void error(const std::string& text);
    virtual void warning(const std::string& text);
    // By default the text alone goes on to error or warning.
    virtual void diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where);
    // A place where a page depends on the request or on server state a static site cannot
    // have; by default a warning diagnostic.
    virtual void request_dependency(const std::string& text, const diagnostic_location_t& where);
    // The line that sums a run up; by default a message.
    virtual void summary(const std::string& text);
};

// Writes each line to a stream as it comes, followed by a line feed, and flushes it.
// Diagnostics take the compilers' form, "path:line:column: error: text", with one
// "note: included from here" line per include level. Quiet mode drops progress lines.
class StreamLog : public CompileLogBase {
public:
    explicit StreamLog(std::ostream& out, bool quiet = false) : out_(out), quiet_(quiet) {}

    void output_line(const std::string& text) override;
    void message(const std::string& text) override;
    void diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) override;
    void summary(const std::string& text) override { output_line(text); }

    // The errno of the first line that could not be written (0: none failed, or no errno).
    int write_errno() const noexcept { return write_errno_; }

private:
    void flush();

    std::ostream& out_;
    bool quiet_;
    int write_errno_ = 0;
};

// Passes every line on to another log; a log that watches what goes by overrides the kinds it
// looks at. A request dependency takes the default way, as a warning diagnostic.
class ForwardingLog : public CompileLogBase {
public:
    explicit ForwardingLog(CompileLogBase& target) : target_(target) {}

    void output_line(const std::string& text) override { target_.output_line(text); }
    void message(const std::string& text) override { target_.message(text); }
    void error(const std::string& text) override { target_.error(text); }
    void warning(const std::string& text) override { target_.warning(text); }
    void diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) override {
        target_.diagnostic(severity, text, where);
    }
    void summary(const std::string& text) override { target_.summary(text); }

protected:
    CompileLogBase& target_;
};

// Passes every line on to another log and counts the errors and warnings among them. A place
// that depends on the request is passed on and counted once, however many pages reach it (an
// include's place is the same for every page that includes it), and not among the warnings.
class CountingLog : public ForwardingLog {
public:
    explicit CountingLog(CompileLogBase& target) : ForwardingLog(target) {}

    void error(const std::string& text) override;
    void warning(const std::string& text) override;
    void diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) override;
    void request_dependency(const std::string& text, const diagnostic_location_t& where) override;

    std::uint64_t errors = 0;
    std::uint64_t warnings = 0;
    std::uint64_t request_dependent = 0;

private:
    std::set<std::string> places_;  // the request dependencies passed on, by place and text
};
