#pragma once

#include "run/driver.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

class GUICompileLog;
class QThread;

// One run of the desktop program: the driver on a worker thread, and how the run ended for
// the window to show. The window starts it and reads the results once the thread has
// finished; destroying it stops the run and waits for it. Borrows the log.
class ConversionRun {
public:
    // With watch, the run goes on after the first conversion, converting what changed.
    ConversionRun(run_request_t request, bool watch, GUICompileLog& log);
    ConversionRun(const ConversionRun&) = delete;
    ConversionRun& operator=(const ConversionRun&) = delete;
    ~ConversionRun();

    QThread* thread() const { return thread_; }
    void start();
    bool watching() const { return watch_; }
    // Stops the run between two files.
    void cancel() { driver_.control().cancel = true; }
    void wait();

    std::uint64_t files_found() const { return driver_.files_found(); }
    std::uint64_t files_done() { return driver_.control().files_done; }

    // Once the thread has finished: whether a single run finished well, and the error to show
    // (a failed run's, or why the folders could not be watched; empty: none). An exception
    // that escaped the driver is thrown again.
    bool finished_well() const { return !watch_ && outcome_.end == run_end_t::finished; }
    std::string failure() const;
    // How the (last) run ended.
    run_end_t end() const { return watch_ ? watch_outcome_.last.end : outcome_.end; }

private:
    // Logs how each run ended where "Finished!" would be, and when a watch begins.
    class LogReport : public RunReport {
    public:
        LogReport(GUICompileLog& log, std::string source) : log_(log), source_(std::move(source)) {}
        void run_ended(const run_outcome_t& outcome) override;
        void watching() override;

    private:
        GUICompileLog& log_;
        std::string source_;
    };

    bool watch_;
    LogReport report_;
    RunDriver driver_;
    run_outcome_t outcome_;
    watch_outcome_t watch_outcome_;
    std::exception_ptr escaped_;
    QThread* thread_;
};
