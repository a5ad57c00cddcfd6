// What keeps a run's cost to what changed: the journal of finished files that a killed run
// leaves, each include looked at once per run, outputs made with their mode and without a
// temporary name, and a pool that never leaves its caller waiting.
#include "base/compile_log.h"
#include "build/journal.h"
#include "build/manifest.h"
#include "build/worker_pool.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "recording_log.h"
#include "site_run.h"
#include "ssi/document_cache.h"
#include "ssi/document_output.h"
#include "ssi/ssi_parser.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#ifndef _WIN32
namespace {
std::string page_name(int i) { return (i < 10 ? "p0" : "p") + std::to_string(i) + ".shtml"; }

Lines conversions(const run_t& run) {
    Lines lines;
    for (const std::string& line : work_of(run))
        if (line.starts_with("Converting ")) lines.push_back(line);
    return lines;
}
}  // namespace

// A run killed half-way has written what it finished to its journal: the next run folds it into
// the record and does only the files after the last ones written there.
TEST(Journal, AKilledRunKeepsWhatItFinished) {
    TempTree t;
    t.write("src/inc/head.inc", "head");
    for (int i = 0; i < 20; ++i) t.write("src/" + page_name(i), "<!--#include virtual=\"/inc/head.inc\" -->" + std::to_string(i));
    const SSIDirectoryPreferences preferences = rebuilding(t);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // p05 takes over a second, so the journal is written once it is done; p12 never ends.
        set_write_hook([](const std::string& path) {
            if (path.ends_with("/p05.shtml")) std::this_thread::sleep_for(std::chrono::milliseconds(1100));
            if (path.ends_with("/p12.shtml")) ::_exit(0);
        });
        convert(t, preferences);
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    const run_t next = convert(t, preferences);
    EXPECT_EQ(next.error, "");
    Lines expected;
    for (int i = 6; i < 20; ++i) expected.push_back("Converting " + page_name(i) + "...");
    EXPECT_EQ(conversions(next), expected);
    EXPECT_EQ(read_file(t.path("dst/p03.shtml")), "head3");
    // Folded once: the state folder holds the record and its lock, no journal.
    for (const std::string& name : names_in(t.path("state"))) EXPECT_FALSE(name.ends_with(".journal")) << name;
    EXPECT_EQ(conversions(convert(t, preferences)), Lines{});
}
#else
TEST(Journal, AKilledRunKeepsWhatItFinished) { GTEST_SKIP() << "the run is killed from a forked process"; }
#endif

// Only whole entries of a journal count: one cut off by a kill (no closing line) is left out,
// as is a last line without its end; the journal's options replace the record's.
TEST(Journal, FoldsOnlyWholeEntries) {
    TempTree t;
    const std::string whole = "f\ta.txt\t1 2 3 4 5\t0\no\ta.txt\t1 7 3 4 5\n.\n";
    const struct {
        const char* name;
        std::string tail;
        std::vector<std::string> sources;
    } cases[] = {
        {"whole", "", {"a.txt"}},
        {"cut before its end", "t\tinc/x.inc\t1 9 3 4 5\nc\tb.shtml\t1 2 3 4 5\t0\ni\t0\n", {"a.txt"}},
        {"cut inside a line", "c\tb.shtml\t1 2 3 4 5\t0\n.\nf\tc.txt\t1 2", {"a.txt", "b.shtml"}},
        {"with its dependency", "t\tinc/x.inc\t1 9 3 4 5\nc\td.shtml\t1 2 3 4 5\t1\ni\t0\n.\n", {"a.txt", "d.shtml"}},
    };
    for (const auto& row : cases) {
        const std::string path = t.write("journal", "orrinfold-manifest 3\ndestination\t/d\noptions\tnew\n" + whole + row.tail);
        Manifest record;
        record.options = "old";
        ASSERT_TRUE(Journal::fold(path, record)) << row.name;
        std::vector<std::string> sources;
        for (const auto& [source, entry] : record.entries) sources.push_back(source);
        std::sort(sources.begin(), sources.end());
        EXPECT_EQ(sources, row.sources) << row.name;
        EXPECT_EQ(record.options, "new") << row.name;
        if (record.entries.contains("d.shtml")) {
            const manifest_entry_t& page = record.entries.at("d.shtml");
            ASSERT_EQ(page.dependencies.size(), 1u);
            EXPECT_EQ(record.dependencies[page.dependencies[0]].path, "inc/x.inc");
            EXPECT_TRUE(page.rebuild);
        }
    }
    Manifest record;
    EXPECT_FALSE(Journal::fold(t.write("other", "orrinfold-manifest 2\n"), record));
    EXPECT_FALSE(Journal::fold(t.path("missing"), record));
}

// The record lists its entries in the walk's order, whichever entries a rebuild kept and which
// it did again, so that the next run finds each where it looks next.
TEST(Record, KeepsTheWalksOrder) {
    TempTree t;
    for (const char* name : {"b/z.shtml", "b/a.txt", "B.txt", "a/c.shtml", "a/b/x.txt", "index.shtml"})
        t.write(std::string("src/") + name, name);
    const SSIDirectoryPreferences preferences = rebuilding(t, 2);
    const auto recorded = [&] {
        std::vector<std::string> sources;
        for (const std::string& name : names_in(t.path("state")))
            if (name.ends_with(".manifest")) {
                const Manifest record = Manifest::read(t.path("state/" + name), 1 << 20).value();
                sources.resize(record.entries.size());
                for (const auto& [source, entry] : record.entries) sources.at(entry.position) = source;
            }
        return sources;
    };
    ASSERT_EQ(convert(t, preferences).error, "");
    const std::vector<std::string> walk = recorded();
    EXPECT_EQ(walk, (std::vector<std::string>{"a", "a/b", "a/b/x.txt", "a/c.shtml", "b", "b/a.txt", "b/z.shtml",
                                              "B.txt", "index.shtml"}));
    t.write("src/a/c.shtml", "edited");
    t.write("src/b/z.shtml", "edited");
    ASSERT_EQ(convert(t, preferences).error, "");
    EXPECT_EQ(recorded(), walk);
}

// However many pages and workers read an include or ask for its size and time, the file
// system is asked about it once per run.
TEST(StatOnce, EachIncludedFileIsLookedAtOncePerRun) {
    TempTree t;
    t.write("site/inc/a.inc", "A");
    t.write("site/inc/b.inc", "BB");
    const std::string page = t.write(
        "site/page.shtml",
        "<!--#include virtual=\"/inc/a.inc\" --><!--#include virtual=\"/inc/a.inc\" -->"
        "<!--#fsize virtual=\"/inc/b.inc\" --><!--#flastmod virtual=\"/inc/b.inc\" --><!--#include virtual=\"/inc/b.inc\" -->");
    SSIParserPreferences preferences;
    preferences.virtual_root = t.path("site");
    DocumentCache cache;
    std::atomic<int> right{0};
    const auto convert_pages = [&] {
        for (int i = 0; i < 25; ++i) {
            SSIParser::State state;
            state.cache = &cache;
            RecordingLog log;
            DocumentOutput output;
            SSIParser(page, output, preferences, state, log).process();
            if (output.text().starts_with("AA") && output.text().ends_with("BB") && log.lines.empty())
                ++right;
            else
                ADD_FAILURE() << output.text() << " " << (log.lines.empty() ? "" : log.lines[0].text);
        }
    };
    std::thread other(convert_pages);
    convert_pages();
    other.join();
    EXPECT_EQ(right.load(), 50);
    EXPECT_EQ(cache.status_lookups(), 2u);
}

#ifndef _WIN32
// An output is made with the mode asked for, whatever the umask; a fresh one has no name in
// its folder until it is committed, a replacing one a temporary name; both report the status
// of what they put in place.
TEST(Outputs, MadeWithTheirModeAndPutInPlace) {
    TempTree t;
    const struct {
        unsigned mode;
        bool fresh;
    } cases[] = {{0640, true}, {0640, false}, {0777, true}, {0604, false}, {0755, true}};
    const mode_t old_mask = ::umask(022);
    for (const auto& row : cases) {
        const std::string folder = t.make_dir("out" + std::to_string(row.mode) + (row.fresh ? "f" : "n"));
        const std::string target = folder + "/page.html";
        if (!row.fresh) t.write(folder.substr(t.path().size() + 1) + "/page.html", "old");
        OutputFile output(target, row.mode, row.fresh);
        output.file().write("new", 3);
        output.close();
        const std::vector<std::string> waiting = names_in(folder);
        EXPECT_EQ(waiting.size(), row.fresh ? 0u : 2u) << row.mode;
        output.commit();
        EXPECT_EQ(names_in(folder), std::vector<std::string>{"page.html"}) << row.mode;
        EXPECT_EQ(read_file(target), "new");
        const file_status_t placed = lstat_path(target);
        EXPECT_EQ(placed.permissions, row.mode) << row.mode << " " << row.fresh;
        ASSERT_TRUE(output.placed_status()) << row.mode;
        EXPECT_EQ(stamp_of(*output.placed_status()), stamp_of(placed)) << row.mode;
    }
    ::umask(old_mask);
}
#endif

// With its workers busy and its queue full, the pool has the caller do the work rather than
// wait; every piece is done once, whoever does it.
TEST(WorkerPool, TheCallerWorksWhenTheQueueIsFull) {
    std::mutex mutex;
    std::condition_variable released;
    bool go = false;
    std::atomic<int> done{0};
    std::atomic<int> by_caller{0};
    const std::thread::id caller = std::this_thread::get_id();
    {
        WorkerPool pool(2, 1 << 20);
        for (int i = 0; i < 200; ++i)
            pool.submit([&, i] {
                if (std::this_thread::get_id() == caller) {
                    ++by_caller;
                    if (i > 100) {
                        const std::lock_guard lock(mutex);
                        go = true;
                        released.notify_all();
                    }
                } else {
                    std::unique_lock lock(mutex);
                    released.wait(lock, [&] { return go; });
                }
                ++done;
            });
        pool.wait();
        EXPECT_EQ(static_cast<int>(pool.run_by_caller()), by_caller.load());
    }
    EXPECT_EQ(done.load(), 200);
    EXPECT_GT(by_caller.load(), 0);
}
