#include "build/ordered_log.h"

#include <iterator>
#include <utility>

OrderedLog::Step OrderedLog::open() {
    auto step = std::make_shared<step_t>();
    const std::lock_guard lock(mutex_);
    step->index = opened_++;
    if (!failure_) steps_.push_back(step);
    return Step(*this, std::move(step));
}

void OrderedLog::close(Step& step, std::function<void()> finish, std::exception_ptr failure) {
    Lock lock(mutex_);
    if (failure_) return;  // after the end: finish goes, unrun, once the lock is released
    if (failure) {
        failing_ = true;
        if (step.step_->index < failing_at_.load()) failing_at_ = step.step_->index;
    }
    step.step_->finish = std::move(finish);
    step.step_->failure = std::move(failure);
    step.step_->closed = true;
    release(lock);
}

void OrderedLog::wait_for_room(std::size_t limit) {
    Lock lock(mutex_);
    if (room_for(limit)) return;
    // Once full, the caller waits until half the room is free: woken once for many steps,
    // not for each one.
    room_at_ = limit / 2;
    released_.wait(lock, [&] { return steps_.size() <= room_at_ || failure_; });
    room_at_ = no_waiter;
}

bool OrderedLog::has_room(std::size_t limit) const {
    const std::lock_guard lock(mutex_);
    return room_for(limit);
}

std::exception_ptr OrderedLog::failure() const {
    const std::lock_guard lock(mutex_);
    return failure_;
}

void OrderedLog::record(const std::shared_ptr<step_t>& step, event_t event) {
    Lock lock(mutex_);
    if (failure_) return;  // the log has ended: this step comes after the failure
    step->events.push_back(std::move(event));
    if (!steps_.empty() && steps_.front() == step) release(lock);
}

// Hands on the steps at the front that are closed, and the lines held by the first one still
// open, unless another thread already does: that one goes on until nothing is left to hand on.
void OrderedLog::release(Lock& lock) {
    if (releasing_) return;
    releasing_ = true;
    while (release_front(lock)) {
    }
    releasing_ = false;
}

// With the lock held on entry and on return: hands on what the front step holds, without the
// lock. False when there was nothing to hand on.
bool OrderedLog::release_front(Lock& lock) {
    if (steps_.empty() || failure_) return false;
    const std::shared_ptr<step_t> front = steps_.front();
    std::vector<event_t> events = std::exchange(front->events, {});
    const bool closed = front->closed;
    if (events.empty() && !closed) return false;
    std::function<void()> finish;
    std::vector<std::shared_ptr<step_t>> dropped;  // empty, and nothing allocated, but after a failure
    if (closed) {
        finish = std::move(front->finish);
        steps_.pop_front();
        if (front->failure) fail(front->failure, dropped);
        if (steps_.size() == room_at_) released_.notify_all();
    }
    lock.unlock();
    std::exception_ptr failed;
    try {
        for (const event_t& event : events) forward(event);
        if (finish) finish();
    } catch (...) {
        failed = std::current_exception();
    }
    finish = nullptr;
    dropped.clear();  // their outputs go with them, outside the lock
    lock.lock();
    if (failed && !failure_) {
        fail(failed, dropped);
        lock.unlock();
        dropped.clear();
        lock.lock();
    }
    return true;
}

// With the lock held: ends the log; the steps after it are handed to the caller to drop.
void OrderedLog::fail(std::exception_ptr failure, std::vector<std::shared_ptr<step_t>>& dropped) {
    failure_ = std::move(failure);
    failing_ = true;
    failing_at_ = 0;  // every step left comes after it
    dropped.insert(dropped.end(), std::make_move_iterator(steps_.begin()), std::make_move_iterator(steps_.end()));
    steps_.clear();
    released_.notify_all();
}
void OrderedLog::forward(const event_t& event) {
    switch (event.kind) {
        case event_t::kind_t::line: target_.output_line(event.text); break;
        case event_t::kind_t::message: target_.message(event.text); break;
        case event_t::kind_t::error: target_.error(event.text); break;
        case event_t::kind_t::warning: target_.warning(event.text); break;
        case event_t::kind_t::diagnostic: target_.diagnostic(event.severity, event.text, *event.where); break;
        case event_t::kind_t::request: target_.request_dependency(event.text, *event.where); break;
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

void OrderedLog::Step::request_dependency(const std::string& text, const diagnostic_location_t& where) {
    owner_.record(step_, {event_t::kind_t::request, text, severity_t::warning, where});
}

void OrderedLog::Step::diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) {
    ++diagnostics_;
    owner_.record(step_, {event_t::kind_t::diagnostic, text, severity, where});
}
