#include "conversion_run.h"

#include "error_report.h"
#include "gui_compile_log.h"

#include <QThread>

ConversionRun::ConversionRun(run_request_t request, bool watch, GUICompileLog& log)
    : watch_(watch), report_(log, request.source), driver_(std::move(request), log, report_) {
    thread_ = QThread::create([this] {
        try {
            if (watch_)
                watch_outcome_ = driver_.watch();
            else
                outcome_ = driver_.run();
        } catch (...) {
            escaped_ = std::current_exception();
        }
    });
}

ConversionRun::~ConversionRun() {
    cancel();
    wait();
    delete thread_;
}

void ConversionRun::start() { thread_->start(); }

void ConversionRun::wait() { thread_->wait(); }

std::string ConversionRun::failure() const {
    if (escaped_) std::rethrow_exception(escaped_);
    if (watch_) return watch_outcome_.failure;  // each run has logged its own end
    return outcome_.end == run_end_t::failed ? outcome_.error : std::string();
}

void ConversionRun::LogReport::run_ended(const run_outcome_t& outcome) {
    if (outcome.end == run_end_t::cancelled)
        log_.message(outcome.error);
    else if (outcome.end == run_end_t::failed && outcome.where)
        log_.diagnostic(severity_t::error, tidy_failure(outcome.error), *outcome.where);
    else if (outcome.end == run_end_t::failed)
        log_.error(tidy_failure(outcome.error));
}

void ConversionRun::LogReport::watching() { log_.message("Watching " + source_ + " for changes"); }
