#include "build/ordered_log.h"

OrderedLog::Step OrderedLog::open() {
    auto step = std::make_shared<step_t>();
    const std::lock_guard lock(mutex_);
    if (!failure_) steps_.push_back(step);
    return Step(*this, std::move(step));
}

void OrderedLog::close(Step& step, std::function<void()> finish, std::exception_ptr failure) {
    const std::lock_guard lock(mutex_);
    step.step_->finish = std::move(finish);
    step.step_->failure = std::move(failure);
    step.step_->closed = true;
    if (step.step_->failure) failing_ = true;
    release();
}

std::exception_ptr OrderedLog::failure() const {
    const std::lock_guard lock(mutex_);
    return failure_;
}

void OrderedLog::record(const std::shared_ptr<step_t>& step, event_t event) {
    const std::lock_guard lock(mutex_);
    if (failure_) return;  // the log has ended: this step comes after the failure
    if (!steps_.empty() && steps_.front() == step)
        forward(event);
    else
        step->events.push_back(std::move(event));
}

// With the lock held: hands on the steps at the front that are closed, and the lines held by
// the first one still open.
void OrderedLog::release() {
    while (!steps_.empty() && !failure_) {
        step_t& front = *steps_.front();
        for (const event_t& event : front.events) forward(event);
        front.events.clear();
        if (!front.closed) return;
        if (front.finish) front.finish();
        failure_ = front.failure;
        steps_.pop_front();
    }
    if (failure_) steps_.clear();
}

void OrderedLog::forward(const event_t& event) {
    switch (event.kind) {
        case event_t::kind_t::line: target_.output_line(event.text); break;
        case event_t::kind_t::message: target_.message(event.text); break;
        case event_t::kind_t::error: target_.error(event.text); break;
        case event_t::kind_t::warning: target_.warning(event.text); break;
        case event_t::kind_t::diagnostic: target_.diagnostic(event.severity, event.text, *event.where); break;
        case event_t::kind_t::summary: target_.summary(event.text); break;
    }
}

void OrderedLog::Step::output_line(const std::string& text) { owner_.record(step_, {event_t::kind_t::line, text, severity_t::error, std::nullopt}); }
void OrderedLog::Step::message(const std::string& text) { owner_.record(step_, {event_t::kind_t::message, text, severity_t::error, std::nullopt}); }
void OrderedLog::Step::summary(const std::string& text) { owner_.record(step_, {event_t::kind_t::summary, text, severity_t::error, std::nullopt}); }

void OrderedLog::Step::error(const std::string& text) {
    ++diagnostics_;
    owner_.record(step_, {event_t::kind_t::error, text, severity_t::error, std::nullopt});
}

void OrderedLog::Step::warning(const std::string& text) {
    ++diagnostics_;
    owner_.record(step_, {event_t::kind_t::warning, text, severity_t::error, std::nullopt});
}

void OrderedLog::Step::diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) {
    ++diagnostics_;
    owner_.record(step_, {event_t::kind_t::diagnostic, text, severity, where});
}
