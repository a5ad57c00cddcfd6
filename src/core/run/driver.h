#pragma once

#include "base/location.h"
#include "build/convert.h"
#include "ssi/preferences.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CompileLogBase;
class InterruptGuard;

// What a run, or a watch, is asked to do.
struct run_request_t {
    std::string source;
    std::string destination;  // may be empty for a check
    SSIDirectoryPreferences preferences;
    bool werror = false;           // warnings too make the status 1, as errors always do
    bool stop_on_signals = false;  // SIGINT and SIGTERM stop the run between two files
    bool count_files = false;      // count the files beside each run, for a progress bar
    int quiet_ms = 0;              // a watch's wait for quiet after a change (0: the usual)
};

enum class run_end_t { finished, cancelled, failed };

// How one run ended. The log already holds its summary, and "Finished!" after a good run;
// how the rest is shown (the error, the interruption) is up to the front end.
struct run_outcome_t {
    run_end_t end = run_end_t::finished;
    run_summary_t summary;  // a failed run counts the error that ended it
    // The error that ended a failed run, or the notice of a cancelled one.
    std::string error;
    std::optional<diagnostic_location_t> where;  // set when the error was met in a document
    int signal = 0;                              // the signal that stopped a cancelled run (0: none)
    // The outputs a finished run wrote or removed, or may have, when it can tell (see
    // conversion_control_t::outputs).
    std::optional<std::vector<std::string>> outputs;
    // 0; 1 for a failed run, files that failed, any error, or warnings with werror; 128 + signal
    // when stopped.
    int status = 0;
};

// How a watch ended: stopped between two runs, stopped during one, or unable to watch.
struct watch_outcome_t {
    run_outcome_t last;   // the last run; cancelled when the stop came during it
    std::string failure;  // "Cannot watch SOURCE: why"; empty when stopped
    // 1 when the folders could not be watched, the last run's status when stopped during it,
    // else 0.
    int status = 0;
};

// What a front end adds to a run: called on the thread that runs the driver.
class RunReport {
public:
    virtual ~RunReport() = default;
    // A run was interrupted or stopped at an error; called before its summary is logged, so
    // that the reason can come first, as a compiler prints its error before giving up.
    virtual void run_stopped(const run_outcome_t& outcome);
    // A run ended; its summary, and "Finished!" after a good run, are in the log.
    virtual void run_ended(const run_outcome_t& outcome);
    // The folders are watched and the first run ended without being stopped: changes are
    // rebuilt from now on.
    virtual void watching();
};

// Runs conversions or checks of one site for either front end: the walk on a stack deep
// enough for the engine, the summary line and how the run ended, the exit status, and the
// watch that rebuilds what changed. Borrows the log and the report.
class RunDriver {
public:
    RunDriver(run_request_t request, CompileLogBase& log, RunReport& report);
    RunDriver(const RunDriver&) = delete;
    RunDriver& operator=(const RunDriver&) = delete;
    ~RunDriver();

    // One run over the whole site.
    run_outcome_t run();
    // A first run once the folders are watched, then one for each change, only of what
    // changed, until cancelled; a failed rebuild is reported and the watch goes on.
    watch_outcome_t watch();

    // For other threads: cancel stops the run (or the watch); files_done counts its files.
    conversion_control_t& control() noexcept { return control_; }
    // How many files the current run will do, once counted (0 until then).
    std::uint64_t files_found() const noexcept { return files_found_; }

private:
    // With memory, a watch's run (see convert_directory).
    std::exception_ptr convert(run_memory_t* memory);
    run_outcome_t run(run_memory_t* memory);

    run_request_t request_;
    CompileLogBase& log_;
    RunReport& report_;
    conversion_control_t control_;
    std::atomic<std::uint64_t> files_found_{0};
    std::unique_ptr<InterruptGuard> interrupts_;
};
