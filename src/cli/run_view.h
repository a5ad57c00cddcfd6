#pragma once

#include "base/compile_log.h"
#include "run/driver.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Files done and found so far, for the status line.
struct progress_t {
    std::uint64_t done = 0;
    std::uint64_t total = 0;  // 0 while still counting
};

// "error", "warning", "note".
const char* severity_name(severity_t severity);

// How the command line shows a run: the conversion's log lines, and what only the end of a
// run tells. Text for people (CliLog) and JSON lines for programs (JsonLog) are two views.
class RunView : public CompileLogBase {
public:
    // The error that ended a run.
    virtual void fatal(const std::string& text, const std::optional<diagnostic_location_t>& where) = 0;
    // An interruption, the watch's notices.
    virtual void notice(const std::string& text) = 0;
    // After the summary line and any fatal error: how the run ended, with its counts.
    virtual void end_of_run(const run_outcome_t& outcome) = 0;
    virtual void set_progress(std::function<progress_t()>) {}
    // The errno of the first line that could not be written to standard output (0: none).
    virtual int write_errno() const noexcept = 0;
};
