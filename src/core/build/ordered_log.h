#pragma once

#include "base/compile_log.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Puts the log of a run whose files are done at once back in walk order. The walk opens one
// step per file (and one for a stretch of its own lines) in its order; whatever a step logs
// reaches the target as soon as every earlier step is closed, at once for the first open
// step, so that the log reads, line for line, as the log of a run that did one file after
// the other. A step closed with a failure ends the log there: later steps are dropped, as if
// they had never started. Safe to use from any thread. One thread at a time hands lines and
// closing actions on, with the lock released, so that slow output or closing actions (files
// renamed into place, the record saved) never hold up the workers.
class OrderedLog {
    struct step_t;

public:
    explicit OrderedLog(CompileLogBase& target) : target_(target) {}

    // The log of one step, for the walk and then for the worker that does the step's work.
    class Step : public CompileLogBase {
    public:
        void output_line(const std::string& text) override;
        void message(const std::string& text) override;
        void error(const std::string& text) override;
        void warning(const std::string& text) override;
        void diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) override;
        void request_dependency(const std::string& text, const diagnostic_location_t& where) override;
        void summary(const std::string& text) override;

        // Errors and warnings logged in this step so far.
        std::uint64_t diagnostics() const noexcept { return diagnostics_; }

    private:
        friend class OrderedLog;
        Step(OrderedLog& owner, std::shared_ptr<step_t> step) : owner_(owner), step_(std::move(step)) {}
        OrderedLog& owner_;
        std::shared_ptr<step_t> step_;
        std::uint64_t diagnostics_ = 0;
    };

    // The next step in walk order.
    Step open();
    // Ends a step. finish runs once the step's lines are out, in walk order, one at a time
    // (it may change what the whole run holds); failure, when given, ends the log there, and
    // so does a finish that throws. A step's finish is dropped, never run, when the log has
    // ended before its turn.
    void close(Step& step, std::function<void()> finish = {}, std::exception_ptr failure = nullptr);
    // Waits while limit steps or more are open or waiting for an earlier one, so that a walk
    // far ahead of a slow file holds a bounded number of finished files; once it waits, it
    // waits until half of them are out. One thread at a time.
    void wait_for_room(std::size_t limit);
    // Whether fewer than limit steps are open or waiting for an earlier one.
    bool has_room(std::size_t limit) const;

    // Whether a step has been closed with a failure (work not started yet comes after it in
    // walk order and need not be done), and the first failure in walk order once every step
    // before it is closed.
    bool failing() const noexcept { return failing_.load(); }
    // Whether a step closed with a failure comes before this one in walk order.
    bool after_failure(const Step& step) const noexcept { return failing_at_.load() < step.step_->index; }
    std::exception_ptr failure() const;

private:
    struct event_t {
        enum class kind_t : unsigned char { line, message, error, warning, diagnostic, request, summary } kind;
        std::string text;
        severity_t severity = severity_t::error;
        std::optional<diagnostic_location_t> where;
    };
    struct step_t {
        std::vector<event_t> events;  // held while an earlier step is open
        std::function<void()> finish;
        std::exception_ptr failure;
        bool closed = false;
        std::uint64_t index = 0;  // in walk order
    };

    using Lock = std::unique_lock<std::mutex>;
    // With the lock held: see has_room.
    bool room_for(std::size_t limit) const { return steps_.size() < limit || failure_; }
    void record(const std::shared_ptr<step_t>& step, event_t event);
    void forward(const event_t& event);
    void release(Lock& lock);
    bool release_front(Lock& lock);
    void fail(std::exception_ptr failure, std::vector<std::shared_ptr<step_t>>& dropped);

    CompileLogBase& target_;
    mutable std::mutex mutex_;
    std::deque<std::shared_ptr<step_t>> steps_;  // open, or closed behind an open one
    std::exception_ptr failure_;
    std::atomic<bool> failing_{false};
    std::atomic<std::uint64_t> failing_at_{UINT64_MAX};  // the first step closed with a failure
    std::uint64_t opened_ = 0;
    bool releasing_ = false;            // a thread is handing lines on
    static constexpr std::size_t no_waiter = SIZE_MAX;
    std::size_t room_at_ = no_waiter;   // how few steps wait_for_room waits for
    std::condition_variable released_;  // that few steps are left, or the log ended
};
