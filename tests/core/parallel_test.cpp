// Runs on a pool of workers: a run that stops is exact, failures stay inside the run, and a
// stop is prompt.
#include "build/ordered_log.h"
#include "build/worker_pool.h"
#include "platform/file.h"
#include "run/driver.h"

#include "recording_log.h"
#include "temp_tree.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>

namespace {
using Lines = std::vector<std::string>;

// A log that calls act once, on the first line that starts with trigger.
struct TriggeringLog : RecordingLog {
    std::string trigger;
    std::function<void()> act;
    conversion_control_t* control = nullptr;  // the run's, which act stops after acting
    void message(const std::string& text) override {
        RecordingLog::message(text);
        if (act && text.starts_with(trigger)) std::exchange(act, nullptr)();
    }
};

struct run_t {
    run_outcome_t outcome;
    Lines log;
};

run_t run(const TempTree& t, const std::string& destination, const SSIDirectoryPreferences& preferences,
          TriggeringLog& log) {
    run_request_t request{t.path("src"), t.path(destination), preferences};
    RunReport report;
    RunDriver driver(request, log, report);
    log.control = &driver.control();
    if (log.act) log.act = [&log, act = log.act] {
        act();
        log.control->cancel = true;
    };
    run_t result{driver.run(), {}};
    result.log = log.texts(true);
    return result;
}

SSIDirectoryPreferences on_workers(unsigned jobs) {
    SSIDirectoryPreferences preferences = default_preferences();
    preferences.source_as_root = true;
    preferences.jobs = jobs;
    preferences.rebuild = SSIDirectoryPreferences::rebuild_t::off;
    return preferences;
}

// A page that fails late (a long text before a missing include), with files, folders and a page
// that includes and warns after it.
void write_failing_site(const TempTree& t) {
    t.write("src/a.txt", "a");
    t.write("src/b.shtml", std::string(300000, 'b') + "<!--#include virtual=\"/missing.inc\" -->");
    t.write("src/c.txt", "c");
    t.write("src/m/n.txt", "n");
    t.write("src/m/o.shtml", "<!--#include virtual=\"/c.txt\" --><!--#bogus -->");
    t.write("src/sub/deep/p.txt", "p");
    t.write("src/z.txt", "z");
}
}  // namespace

// A run that stops at an error, or goes on past it, leaves log line for log line, diagnostic
// for diagnostic and byte for byte what a run doing one file after the other leaves, whatever
// the workers did meanwhile.
TEST(Parallel, RunsLeaveTheLogAndDestinationOfOneWorker) {
    for (const bool keep_going : {false, true}) {
        TempTree t;
        write_failing_site(t);
        SSIDirectoryPreferences preferences = on_workers(1);
        preferences.keep_going = keep_going;
        TriggeringLog one_log;
        const run_t one = run(t, "one", preferences, one_log);
        ASSERT_EQ(one.outcome.status, 1);
        const Tree expected = read_tree(t.path("one"));
        if (!keep_going) {
            ASSERT_EQ(expected, (Tree{{"a.txt", "a"}}));
        }
        for (const unsigned jobs : {2u, 4u}) {
            for (int i = 0; i < 20; ++i) {
                SCOPED_TRACE(std::to_string(keep_going) + ", " + std::to_string(jobs) + " workers, run " + std::to_string(i));
                const std::string destination = "d" + std::to_string(jobs) + "-" + std::to_string(i);
                preferences.jobs = jobs;
                TriggeringLog log;
                const run_t many = run(t, destination, preferences, log);
                EXPECT_EQ(read_tree(t.path(destination)), expected);
                EXPECT_EQ(many.log, one.log);
                EXPECT_EQ(many.outcome.status, one.outcome.status);
                EXPECT_EQ(many.outcome.error, one.outcome.error);
                EXPECT_EQ(many.outcome.summary.errors, one.outcome.summary.errors);
                EXPECT_EQ(many.outcome.summary.documents, one.outcome.summary.documents);
            }
        }
    }
}

#ifndef _WIN32
// Files done and waiting for their turn hold a descriptor each: many workers under a low limit
// of open files still do every file, whatever the number of jobs asked for.
TEST(Parallel, ManyWorkersStayWithinTheLimitOfOpenFiles) {
    TempTree t;
    // In a folder the run makes, where outputs stay open until they are linked into place.
    t.write("src/in/a.shtml", "first");
    for (int i = 0; i < 300; ++i) t.write("src/in/f" + std::to_string(i) + (i % 3 == 0 ? ".txt" : ".shtml"), "x");
    // The first page is held until many after it are done and wait for it.
    std::mutex mutex;
    std::condition_variable written;
    int others = 0;
    set_write_hook([&](const std::string& path) {
        std::unique_lock lock(mutex);
        if (!path.ends_with("/a.shtml")) {
            ++others;
            written.notify_all();
            return;
        }
        written.wait_for(lock, std::chrono::seconds(5), [&] { return others >= 100; });
    });
    struct limit_t {
        rlimit before{};
        limit_t() {
            ::getrlimit(RLIMIT_NOFILE, &before);
            rlimit low = before;
            low.rlim_cur = std::min<rlim_t>(before.rlim_cur, 64);
            ::setrlimit(RLIMIT_NOFILE, &low);
        }
        ~limit_t() { ::setrlimit(RLIMIT_NOFILE, &before); }
    };
    TriggeringLog log;
    run_t result;
    {
        const limit_t low;
        result = run(t, "dst", on_workers(16), log);
    }
    set_write_hook(nullptr);
    EXPECT_EQ(result.outcome.status, 0) << result.outcome.error;
    EXPECT_EQ(result.outcome.summary.documents, 201u);
    EXPECT_EQ(result.outcome.summary.copies, 100u);
    // The walk did files queued behind the held one itself: the log and the tree are still
    // those of one worker.
    TriggeringLog one_log;
    const run_t one = run(t, "one", on_workers(1), one_log);
    EXPECT_EQ(result.log, one.log);
    EXPECT_EQ(read_tree(t.path("dst")), read_tree(t.path("one")));
}
#endif

// A file's output that cannot be put in place (a folder stands there) is that file's error
// when its turn comes: logged with keep_going, else the end of the run there.
TEST(Parallel, AnOutputThatCannotTakeItsPlaceIsItsFilesError) {
    for (const bool keep_going : {true, false}) {
        SCOPED_TRACE(keep_going ? "keep going" : "stop");
        TempTree t;
        t.write("src/a.txt", "a");
        t.write("src/b.txt", "b");
        t.write("src/c.txt", "c");
        t.write("dst/b.txt/inside", "x");
        SSIDirectoryPreferences preferences = on_workers(2);
        preferences.keep_going = keep_going;
        TriggeringLog log;
        const run_t result = run(t, "dst", preferences, log);
        EXPECT_EQ(result.outcome.status, 1);
        EXPECT_EQ(read_file(t.path("dst/a.txt")), "a");
        EXPECT_EQ(read_file(t.path("dst/b.txt/inside")), "x");
        EXPECT_EQ(read_tree(t.path("dst")).count("c.txt"), keep_going ? 1u : 0u);
        EXPECT_EQ(result.outcome.summary.failed_copies, keep_going ? 1u : 0u);
    }
}

// What the ordered log's closing actions and the pool's work throw stays in the run.
TEST(Parallel, ThrowingWorkAndClosingActionsEndTheRunNotTheProgram) {
    RecordingLog target;
    OrderedLog ordered(target);
    {
        WorkerPool pool(2, 1 << 20);
        OrderedLog::Step first = ordered.open();
        OrderedLog::Step second = ordered.open();
        pool.submit([&] { throw std::logic_error("lost"); });
        pool.submit([&] {
            second.message("second");
            ordered.close(second);
        });
        pool.submit([&] {
            first.message("first");
            ordered.close(first, [] { throw 42; });
        });
        pool.wait();
        ASSERT_NE(pool.failure(), nullptr);
        EXPECT_THROW(std::rethrow_exception(pool.failure()), std::logic_error);
    }
    ASSERT_NE(ordered.failure(), nullptr);
    EXPECT_THROW(std::rethrow_exception(ordered.failure()), int);
    EXPECT_EQ(target.texts(), Lines{"first"});
}

// A stop drops the files not started yet (at most one per worker is in progress then) and
// ends the run, also once every file has started, before the link check: never "Finished!".
TEST(Parallel, AStopIsPrompt) {
    // A stop early, and one when the last file has started: with the link check after it, and
    // without, where nothing but the run's own end can see it.
    const std::pair<const char*, bool> rows[] = {
        {"Converting p05", true}, {"Converting p39", true}, {"Converting p39", false}};
    for (const auto& [trigger, links] : rows) {
        SCOPED_TRACE(std::string(trigger) + (links ? " with the link check" : ""));
        TempTree t;
        for (int i = 0; i < 40; ++i) {
            const std::string n = (i < 10 ? "0" : "") + std::to_string(i);
            t.write("src/p" + n + ".shtml", std::string(20000, 'x') + "<a href=\"/gone" + n + ".html\">x</a>");
        }
        SSIDirectoryPreferences preferences = on_workers(4);
        preferences.check_links = links;
        TriggeringLog log;
        log.trigger = trigger;
        std::uint64_t done_before = 0;
        log.act = [&] { done_before = log.control->files_done.load(); };
        const run_t result = run(t, "dst", preferences, log);
        EXPECT_EQ(result.outcome.end, run_end_t::cancelled);
        EXPECT_EQ(result.outcome.status, 128);
        EXPECT_LE(result.outcome.summary.documents, done_before + 4);
        EXPECT_EQ(result.outcome.summary.broken_links, 0u);
        EXPECT_EQ(std::count(result.log.begin(), result.log.end(), "Finished!"), 0);
    }
}
