#pragma once

#include "base/compile_log.h"

#include <optional>
#include <string>
#include <vector>

// --sarif FILE: passes every line on to the log that shows the run, and keeps each
// diagnostic (every occurrence, also those the text view collapses) for a SARIF 2.1.0 log,
// the form code-scanning services read.
class SarifLog : public ForwardingLog {
public:
    explicit SarifLog(CompileLogBase& target) : ForwardingLog(target) {}

    void error(const std::string& text) override;
    void warning(const std::string& text) override;
    void diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) override;

    // The error that ended the run.
    void add(severity_t severity, const std::string& text, const std::optional<diagnostic_location_t>& where);
    // The SARIF log of every diagnostic so far, as text; successful says whether the run
    // completed (invocation's executionSuccessful).
    std::string sarif_text(bool successful) const;
    // Writes it to path, replacing the file whole.
    void write(const std::string& path, bool successful) const;

private:
    struct result_t {
        severity_t severity;
        std::string text;
        std::optional<diagnostic_location_t> where;
    };

    std::vector<result_t> results_;
};

// A path as a SARIF artifact URI: a relative reference for a relative path, a file: URI for
// an absolute one; bytes other than unreserved ones and '/' are %-escaped.
std::string artifact_uri(const std::string& path);
