#include "run/driver.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "platform/file_system.h"
#include "platform/interrupt.h"
#include "platform/thread.h"
#include "run/watch.h"

#include <thread>

void RunReport::run_stopped(const run_outcome_t&) {}

void RunReport::run_ended(const run_outcome_t&) {}

void RunReport::watching() {}

RunDriver::RunDriver(run_request_t request, CompileLogBase& log, RunReport& report)
    : request_(std::move(request)), log_(log), report_(report) {
    // A check reports every broken document rather than stopping at the first.
    request_.preferences.keep_going = request_.preferences.keep_going || request_.preferences.check;
    if (request_.stop_on_signals) interrupts_ = std::make_unique<InterruptGuard>(control_.cancel);
}

RunDriver::~RunDriver() = default;

// The walk itself, with the count of its files beside it when asked for. Returns what ended
// it early, if anything did.
std::exception_ptr RunDriver::convert(run_memory_t* memory) {
    control_.summary = {};
    control_.outputs.reset();
    control_.files_done = 0;
    files_found_ = 0;
    std::thread counter;
    // A rebuild told what changed looks at little more: counting the site would take longer.
    if (request_.count_files && (memory == nullptr || !memory->changed))
        counter = std::thread(
            [this] { files_found_ = count_files(request_.source, request_.destination, request_.preferences, &control_.cancel); });
    std::exception_ptr error;
    try {
        run_with_stack(conversion_stack_bytes, [this, memory] {
            convert_directory("", request_.source, request_.destination, request_.preferences, log_, &control_, memory);
        });
    } catch (...) {
        error = std::current_exception();
    }
    if (counter.joinable()) counter.join();
    return error;
}

run_outcome_t RunDriver::run() { return run(nullptr); }

run_outcome_t RunDriver::run(run_memory_t* memory) {
    const std::exception_ptr error = convert(memory);
    run_outcome_t outcome;
    outcome.summary = control_.summary;
    try {
        if (error) std::rethrow_exception(error);
    } catch (const conversion_cancelled& e) {
        // Stopped between two files: every output written is complete.
        outcome.end = run_end_t::cancelled;
        outcome.error = e.what();
        outcome.signal = interrupts_ ? interrupts_->signal_number() : 0;
    } catch (const std::exception& e) {
        outcome.end = run_end_t::failed;
        ++outcome.summary.errors;  // the one that stopped the run
        outcome.error = e.what();
        if (const auto* located = dynamic_cast<const located_error*>(&e)) outcome.where = located->where();
    } catch (...) {
        outcome.end = run_end_t::failed;
        ++outcome.summary.errors;
        outcome.error = "failed with an unknown exception";
    }
    if (outcome.end != run_end_t::finished) report_.run_stopped(outcome);
    const SSIDirectoryPreferences& preferences = request_.preferences;
    log_.summary(summary_text(outcome.summary, preferences.keep_going, preferences.check, preferences.check_links,
                              preferences.dry_run));
    const run_summary_t& summary = outcome.summary;
    switch (outcome.end) {
        case run_end_t::finished: {
            log_.message("Finished!");
            outcome.outputs = std::move(control_.outputs);
            const bool failed_files = summary.failed_documents + summary.failed_copies > 0;
            const bool diagnostics = summary.errors + summary.warnings > 0;
            outcome.status = failed_files || summary.errors > 0 || (request_.werror && diagnostics) ? 1 : 0;
            break;
        }
        case run_end_t::cancelled:
            outcome.status = 128 + outcome.signal;
            break;
        case run_end_t::failed:
            outcome.status = 1;
            break;
    }
    report_.run_ended(outcome);
    return outcome;
}

// The folders are watched before the first run, so that no change made during it is missed.
watch_outcome_t RunDriver::watch() {
    watch_outcome_t outcome;
    // After a run that ended well, a rebuild looks only at what the watch saw change (and at
    // what pages read); after one that stopped, at everything, as it may not have reached all.
    run_memory_t memory;
    const auto rebuild = [&](const folder_changes_t& changes) {
        if (outcome.last.end == run_end_t::finished && !changes.everything)
            memory.changed = changes.paths;
        else
            memory.changed.reset();
        outcome.last = run(&memory);
    };
    try {
        const std::vector<std::string> folders = watched_folders(request_.source, request_.preferences);
        // The destination is made first, so that it can be left out: its outputs must not wake the watch.
        make_directories(request_.destination);
        watch_folders(
            folders, {real_path(request_.destination)}, request_.quiet_ms > 0 ? request_.quiet_ms : default_quiet_ms,
            control_.cancel, rebuild,
            [&] {
                outcome.last = run(&memory);
                request_.preferences.rebuild = SSIDirectoryPreferences::rebuild_t::changed;
                if (outcome.last.end != run_end_t::cancelled) report_.watching();
            },
            &log_);
    } catch (const std::exception& e) {
        outcome.failure = "Cannot watch " + request_.source + ": " + e.what();
        outcome.status = 1;
        return outcome;
    }
    outcome.status = outcome.last.end == run_end_t::cancelled ? outcome.last.status : 0;
    return outcome;
}
