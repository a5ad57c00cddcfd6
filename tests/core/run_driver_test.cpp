// The run driver both front ends share: how a run ends, its status, and the watch.
#include "build/summary.h"
#include "run/driver.h"

#include "recording_log.h"
#include "temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

namespace {
using Lines = std::vector<std::string>;

// Keeps every outcome reported, and lets a test act when a run ends or a watch begins.
struct RecordingReport : RunReport {
    std::vector<run_outcome_t> outcomes;
    int watching_calls = 0;
    std::function<void()> on_run_ended;
    std::function<void()> on_watching;

    void run_ended(const run_outcome_t& outcome) override {
        outcomes.push_back(outcome);
        if (on_run_ended) on_run_ended();
    }
    void watching() override {
        ++watching_calls;
        if (on_watching) on_watching();
    }
};

run_request_t request_for(const TempTree& t) {
    run_request_t request{t.path("src"), t.path("dst"), default_preferences()};
    request.preferences.source_as_root = true;
    request.preferences.jobs = 1;
    request.preferences.state_folder = t.path("state");
    return request;
}
}  // namespace

// Each way a single run ends: its last log lines, the outcome the front end gets, the status.
TEST(RunDriver, OutcomeAndStatusOfOneRun) {
    const struct {
        const char* name;
        std::string page;  // src/a.shtml
        bool werror, keep_going, check, cancel;
        run_end_t end;
        std::string error;  // relative to the tree
        std::string where;  // path:line:column of a located error
        int status;
        Lines last_lines;
    } rows[] = {
        {"good run", "a", false, false, false, false, run_end_t::finished, "", "", 0,
         {"1 document converted, 0 files copied, 0 skipped; 0 errors, 0 warnings", "Finished!"}},
        {"warning, no werror", "<!--#bogus -->", false, false, false, false, run_end_t::finished, "", "", 0,
         {"1 document converted, 0 files copied, 0 skipped; 0 errors, 1 warning", "Finished!"}},
        {"warning with werror", "<!--#bogus -->", true, false, false, false, run_end_t::finished, "", "", 1,
         {"1 document converted, 0 files copied, 0 skipped; 0 errors, 1 warning", "Finished!"}},
        {"an error in a page that is still written", "<!--#echo -->", false, false, false, false,
         run_end_t::finished, "", "", 1,
         {"1 document converted, 0 files copied, 0 skipped; 1 error, 0 warnings", "Finished!"}},
        {"located failure counts as an error", "x\n <!--#include virtual=\"gone.inc\" -->", false, false, false, false,
         run_end_t::failed, "src/gone.inc: No such file or directory", "a.shtml:2:2", 1,
         {"Converting a.shtml...", "0 documents converted, 0 files copied, 0 skipped; 1 error, 0 warnings"}},
        {"failed file kept going", "<!--#include virtual=\"gone.inc\" -->", false, true, false, false,
         run_end_t::finished, "", "", 1,
         {"0 documents converted, 0 files copied, 0 skipped; 1 error, 0 warnings, 1 document failed (a.shtml)", "Finished!"}},
        {"a check keeps going and finishes", "<!--#include virtual=\"gone.inc\" -->", false, false, true, false,
         run_end_t::finished, "", "", 1,
         {"0 documents checked, 0 files to copy, 0 skipped; 1 error, 0 warnings, 1 document failed (a.shtml)", "Finished!"}},
        {"cancelled before the first file", "a", true, false, false, true, run_end_t::cancelled,
         "Conversion cancelled", "", 128, {"0 documents converted, 0 files copied, 0 skipped; 0 errors, 0 warnings"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempTree t;
        t.write("src/a.shtml", row.page);
        run_request_t request = request_for(t);
        request.werror = row.werror;
        request.preferences.keep_going = row.keep_going;
        request.preferences.check = row.check;
        RecordingLog log;
        RecordingReport report;
        RunDriver driver(request, log, report);
        driver.control().cancel = row.cancel;
        const run_outcome_t outcome = driver.run();

        EXPECT_EQ(outcome.end, row.end);
        EXPECT_EQ(outcome.error, row.error.empty() || row.cancel ? row.error : t.path(row.error));
        EXPECT_EQ(outcome.where ? to_string(outcome.where->at) : "", row.where);
        EXPECT_EQ(outcome.status, row.status);
        const Lines lines = log.texts();
        ASSERT_GE(lines.size(), row.last_lines.size());
        EXPECT_EQ(Lines(lines.end() - static_cast<std::ptrdiff_t>(row.last_lines.size()), lines.end()), row.last_lines);
        ASSERT_EQ(report.outcomes.size(), 1u);
        EXPECT_EQ(report.outcomes.front().status, outcome.status);
        EXPECT_EQ(report.outcomes.front().summary.errors, outcome.summary.errors);
    }
}

// A failure that is not in a document has no location, and the walk's count of files is
// there for a progress bar when asked for.
// A long list of failures names the first few; the diagnostics before it name every one.
TEST(RunDriver, SummaryNamesTheFirstFailedFiles) {
    run_summary_t summary;
    summary.failed_documents = 6;
    summary.failed_copies = 1;
    summary.failed = {"a.shtml", "b.shtml", "c.shtml", "d/e.shtml", "f.shtml", "g.shtml", "h.png"};
    EXPECT_EQ(summary_text(summary, true), "0 documents converted, 0 files copied, 0 skipped; 0 errors, 0 warnings, "
                                           "6 documents failed, 1 copy failed (a.shtml, b.shtml, c.shtml, d/e.shtml, "
                                           "f.shtml and 2 more)");
}

TEST(RunDriver, UnlocatedFailureAndFileCount) {
    TempTree t;
    t.write("src/a.txt", "a");
    t.write("src/b/c.txt", "c");
    RecordingLog log;
    RecordingReport report;
    run_request_t counted = request_for(t);
    counted.count_files = true;
    RunDriver driver(counted, log, report);
    EXPECT_EQ(driver.run().status, 0);
    EXPECT_EQ(driver.files_found(), 2u);
    EXPECT_EQ(driver.control().files_done, 2u);

    run_request_t missing = request_for(t);
    missing.source = t.path("none");
    RunDriver failing(missing, log, report);
    const run_outcome_t outcome = failing.run();
    EXPECT_EQ(outcome.end, run_end_t::failed);
    EXPECT_EQ(outcome.error, t.path("none") + ": No such file or directory");
    EXPECT_FALSE(outcome.where.has_value());
    EXPECT_EQ(outcome.summary.errors, 1u);
}

// After a first full run the watch rebuilds only what changed; a rebuild that fails is
// reported and the watch goes on; a stop between two runs ends it with status 0. A rebuild
// after a good run looks only at what the watch saw change (an output removed by hand stays
// gone); one after a failed run looks at everything (and puts it back).
TEST(RunDriver, WatchGoesOnAfterAFailedRebuildUntilStopped) {
    TempTree t;
    t.write("src/a.shtml", "a");
    t.write("src/b.shtml", "b");
    run_request_t request = request_for(t);
    request.preferences.rebuild = SSIDirectoryPreferences::rebuild_t::full;
    RecordingLog log;
    RecordingReport report;
    RunDriver driver(request, log, report);
    std::atomic<bool> done{false};
    std::thread watchdog([&] {  // a watch that misses a change must not hang the tests
        for (int i = 0; i < 200 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        driver.control().cancel = true;
    });
    const char* const edits[] = {"A", "<!--#include virtual=\"gone.inc\" -->", "fixed"};
    report.on_watching = [&] {
        std::filesystem::remove(t.path("dst/b.shtml"));
        t.write("src/a.shtml", edits[0]);
    };
    report.on_run_ended = [&] {
        const std::size_t runs = report.outcomes.size();
        if (runs >= 2 && runs <= 3) t.write("src/a.shtml", edits[runs - 1]);
        if (runs == 4) driver.control().cancel = true;
    };
    const watch_outcome_t outcome = driver.watch();
    done = true;
    watchdog.join();

    ASSERT_EQ(report.outcomes.size(), 4u);
    EXPECT_EQ(report.watching_calls, 1);
    std::vector<run_end_t> ends;
    for (const run_outcome_t& run : report.outcomes) ends.push_back(run.end);
    EXPECT_EQ(ends, (std::vector{run_end_t::finished, run_end_t::finished, run_end_t::failed, run_end_t::finished}));
    EXPECT_EQ(report.outcomes[0].summary.documents, 2u);
    EXPECT_EQ(report.outcomes[1].summary.documents, 1u);  // only the page that changed
    EXPECT_EQ(report.outcomes[1].summary.up_to_date, 1u);
    EXPECT_EQ(report.outcomes[3].summary.documents, 2u);  // and b.shtml, put back
    EXPECT_EQ(outcome.last.end, run_end_t::finished);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.failure, "");
    EXPECT_EQ(read_file(t.path("dst/a.shtml")), "fixed");
    EXPECT_EQ(read_file(t.path("dst/b.shtml")), "b");
}

// A destination that cannot be made ends the watch before any run, with status 1.
TEST(RunDriver, WatchThatCannotStartFails) {
    TempTree t;
    t.write("src/a.shtml", "a");
    t.write("file", "x");
    run_request_t request = request_for(t);
    request.destination = t.path("file/dst");
    RecordingLog log;
    RecordingReport report;
    RunDriver driver(request, log, report);
    const watch_outcome_t outcome = driver.watch();
    EXPECT_EQ(outcome.failure, "Cannot watch " + t.path("src") + ": " + t.path("file/dst") + ": Not a directory");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(report.outcomes.empty());
}

// A source folder that goes away is told of once and waited for, not rebuilt from; once it
// is back the watch says so and rebuilds. A stop while it is away ends the watch at once.
TEST(RunDriver, WatchWaitsForASourceThatGoesAwayAndRebuildsWhenItIsBack) {
#ifdef _WIN32
    GTEST_SKIP() << "Wine's change notifications do not tell that a watched folder itself was removed";
#endif
    struct ActingLog : RecordingLog {
        std::function<void()> on_warning;
        void warning(const std::string& text) override {
            RecordingLog::warning(text);
            if (on_warning) on_warning();
        }
    };
    const struct {
        const char* name;
        bool back_at_once;  // made again right after it was removed, before the watch looks
        bool stop_while_away;
    } rows[] = {{"removed, then made again", false, false},
                {"replaced by a new folder", true, false},
                {"stopped while away", false, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempTree t;
        t.write("src/a.shtml", "a");
        ActingLog log;
        RecordingReport report;
        RunDriver driver(request_for(t), log, report);
        std::atomic<bool> done{false};
        std::thread watchdog([&] {  // a watch that misses the return must not hang the tests
            for (int i = 0; i < 200 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            driver.control().cancel = true;
        });
        const auto make_again = [&] { t.write("src/b.shtml", "b"); };
        report.on_watching = [&] {
            std::filesystem::remove_all(t.path("src"));
            if (row.back_at_once) make_again();
        };
        log.on_warning = [&] {
            if (row.stop_while_away) driver.control().cancel = true;
            else if (!row.back_at_once) make_again();
        };
        report.on_run_ended = [&] {
            if (report.outcomes.size() == 2) driver.control().cancel = true;
        };
        const watch_outcome_t outcome = driver.watch();
        done = true;
        watchdog.join();

        const Lines lines = log.texts(true);
        const auto first_end = std::find(lines.begin(), lines.end(), "Finished!");
        ASSERT_NE(first_end, lines.end());
        Lines after(first_end + 1, lines.end());
        Lines expected{"warning: " + t.path("src") + " is gone; waiting for it to come back"};
        if (!row.stop_while_away)
            expected.insert(expected.end(), {t.path("src") + " is back; rebuilding", "Converting b.shtml...",
                                             "1 document converted, 0 files copied, 0 skipped; 0 errors, 0 warnings",
                                             "Finished!"});
        EXPECT_EQ(after, expected);
        EXPECT_EQ(report.outcomes.size(), row.stop_while_away ? 1u : 2u);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.failure, "");
        if (!row.stop_while_away) {
            EXPECT_EQ(read_file(t.path("dst/b.shtml")), "b");
        }
    }
}
