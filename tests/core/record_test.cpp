// What a run does with the record of earlier runs when the record, the destination or the
// state folder are not what the run left: nothing outside the destination is ever touched,
// outputs no run produces any more go, and a record that cannot be kept is only a note.
#include "build/manifest.h"

#include "base/exceptions.h"
#include "platform/file.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"
#include "site_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {
namespace fs = std::filesystem;

std::string record_in(const TempTree& t, const char* state = "state") {
    for (const auto& entry : fs::directory_iterator(t.path(state)))
        if (entry.path().extension() == ".manifest") return entry.path().string();
    return {};
}

std::string stamp_text(const std::string& path) {
    const file_stamp_t stamp = stamp_of(lstat_path(path));
    return std::to_string(stamp.identity.device) + " " + std::to_string(stamp.identity.inode) + " " +
           std::to_string(stamp.size) + " " + std::to_string(stamp.seconds) + " " + std::to_string(stamp.nanoseconds);
}

// Adds entries in front of the record's last line, with the count it names raised to match.
void add_to_record(const std::string& record, const std::string& entries, int count) {
    std::string text = read_file(record);
    const std::size_t end = text.rfind("end\t");
    const int recorded = std::stoi(text.substr(end + 4));
    text = text.substr(0, end) + entries + "end\t" + std::to_string(recorded + count) + "\n";
    File(record, File::access_t::write).write(text.data(), text.size());
}
}  // namespace

// A record naming paths that lead out of the destination (restored from elsewhere, or made to
// harm) removes nothing there: it is not read, and the run does every file.
TEST(Record, HostilePathsRemoveNothingOutsideTheDestination) {
    // Each row is a source entry that is gone and its output: "" for the target's own path.
    const struct { const char *name, *entry, *source, *output, *target; } rows[] = {
        {"output up and out", "f\tgone.txt", "src/a.txt", "../v/victim.txt", "v/victim.txt"},
        {"absolute output", "f\tgone.txt", "src/a.txt", "", "v/victim.txt"},
        {"folder outside", "d\tgone", "src", "../v/empty", "v/empty"},
        {"dot and empty names", "f\tgone.txt", "src/a.txt", "sub/./..//x", "v/victim.txt"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempTree t;
        t.write("src/a.txt", "a");
        t.write("v/victim.txt", "not ours");
        t.make_dir("v/empty");
        run_as_plain_user(t.path(), [&] {
            ASSERT_EQ(convert(t, rebuilding(t)).error, "");
            const std::string output = *row.output ? row.output : t.path(row.target);
            add_to_record(record_in(t), std::string(row.entry) + "\t" + stamp_text(t.path(row.source)) + "\t0\no\t" +
                                            output + "\t" + stamp_text(t.path(row.target)) + "\n", 1);
            const run_t run = convert(t, rebuilding(t));
            EXPECT_EQ(run.error, "");
            EXPECT_TRUE(logged(run, "warning: Cannot read the record of the last run")) << run.log.size();
            EXPECT_EQ(run.summary.removed, 0u);
            EXPECT_EQ(read_tree(t.path("v")), (Tree{{"empty", "<dir>"}, {"victim.txt", "not ours"}}));
        });
    }
}

#ifndef _WIN32
// A folder of the destination moved elsewhere and linked back is not entered by removal: the
// outputs behind it stay, with a warning.
TEST(Record, RemovalNeverFollowsALinkedFolder) {
    TempTree t;
    t.write("src/docs/a.txt", "a");
    t.write("src/b.txt", "b");
    run_as_plain_user(t.path(), [&] {
        ASSERT_EQ(convert(t, rebuilding(t)).error, "");
        fs::rename(t.path("dst/docs"), t.path("elsewhere"));
        fs::create_directory_symlink(t.path("elsewhere"), t.path("dst/docs"));
        fs::remove_all(t.path("src/docs"));
        const run_t run = convert(t, rebuilding(t));
        EXPECT_EQ(run.error, "");
        EXPECT_TRUE(logged(run, "warning: Left docs/a.txt as it is")) << run.log.size();
        EXPECT_EQ(run.summary.removed, 0u);
        EXPECT_EQ(read_tree(t.path("elsewhere")), (Tree{{"a.txt", "a"}}));
        EXPECT_TRUE(fs::is_symlink(t.path("dst/docs")));
    });
}
#endif

// Outputs under the names of an earlier run go whatever options changed: pages renamed, redirect
// pages no longer asked for, files now skipped. Files the user put in the destination stay.
TEST(Record, OutputsUnderEarlierNamesAreRemoved) {
    TempTree t;
    t.write("src/about.shtml", "about");
    t.write("src/notes.txt", "notes");
    SSIDirectoryPreferences preferences = rebuilding(t);
    ASSERT_EQ(convert(t, preferences).error, "");
    t.write("dst/mine.shtml", "the user's");
    preferences.rename_pages = "html";
    preferences.redirects = true;
    run_t run = convert(t, preferences);
    EXPECT_EQ(names_in(t.path("dst")), (std::vector<std::string>{"about.html", "about.shtml", "mine.shtml", "notes.txt"}));
    EXPECT_NE(read_file(t.path("dst/about.shtml")), "about");  // the redirect page

    preferences.redirects = false;
    preferences.skip_filter += " *.txt";
    run = convert(t, preferences);
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(names_in(t.path("dst")), (std::vector<std::string>{"about.html", "mine.shtml"}));
    EXPECT_EQ(run.summary.removed, 2u);

    preferences.rename_pages.clear();
    run = convert(t, preferences);
    EXPECT_EQ(names_in(t.path("dst")), (std::vector<std::string>{"about.shtml", "mine.shtml"}));
}

// A run that stops half-way after renaming a page still knows the page's earlier output, which
// the next whole run removes.
TEST(Record, OutputsUnderEarlierNamesSurviveAStoppedRun) {
    TempTree t;
    t.write("src/about.shtml", "about");
    t.write("src/z.shtml", "z");
    SSIDirectoryPreferences preferences = rebuilding(t);
    ASSERT_EQ(convert(t, preferences).error, "");
    t.write("src/z.shtml", "<!--#include virtual=\"/nowhere.inc\" -->");
    preferences.rename_pages = "html";
    EXPECT_NE(convert(t, preferences).error, "");
    EXPECT_TRUE(fs::exists(t.path("dst/about.html")));
    t.write("src/z.shtml", "z again");
    const run_t run = convert(t, preferences);
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(names_in(t.path("dst")), (std::vector<std::string>{"about.html", "z.html"}));
}

// A record that cannot be saved during the run or at its end (a full disk here) is a note:
// every file is done, and no temporary file stays in the state folder.
TEST(Record, ASaveThatFailsIsANote) {
    TempTree t;
    for (int i = 0; i < 510; ++i) t.write("src/p" + std::to_string(i) + ".shtml", "page");
    std::atomic<bool> slowed{false};
    // The first page is slow, so that the run is due to save its record on the way.
    set_write_hook([&slowed](const std::string& path) {
        if (path.ends_with(".manifest") || path.ends_with(".journal")) throw_os_error(ENOSPC, path);
        if (!slowed.exchange(true)) std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    });
    const run_t run = convert(t, rebuilding(t, 2));
    set_write_hook({});
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(run.summary.documents, 510u);
    EXPECT_TRUE(logged(run, "Note: the record of this run could not be saved")) << run.log.size();
    EXPECT_EQ(names_in(t.path("state")).size(), 1u);  // the lock; nothing of the record
}

// A record far larger than any this site could have (a sparse file of a terabyte) is a
// warning and a full run, never read whole.
TEST(Record, AHugeRecordIsAWarningAndAFullRun) {
#ifdef _WIN32
    GTEST_SKIP() << "Wine cannot make the sparse record of a terabyte this test needs";
#endif
    TempTree t;
    t.write("src/a.shtml", "a");
    ASSERT_EQ(convert(t, rebuilding(t)).error, "");
    fs::resize_file(record_in(t), std::uint64_t{1} << 40);
    const run_t run = convert(t, rebuilding(t));
    EXPECT_EQ(run.error, "");
    EXPECT_TRUE(logged(run, "is larger than any record of this site; every file is done again"));
    EXPECT_EQ(run.summary.documents, 1u);
    EXPECT_LT(fs::file_size(record_in(t)), 4096u);
}

// Temporary files of a run that was killed are removed from the folders a run writes, unless
// their process still lives, and the walk never publishes one found in the source.
TEST(Record, LeftoverTemporaryFilesAreRemovedAndNeverPublished) {
    TempTree t;
    const std::string alive = ".orrinfold-" + std::to_string(::getpid()) + "-7";
    t.write("src/a.txt", "a");
    t.write("src/sub/.orrinfold-999999999-2", "left in the source");
    t.write("dst/.orrinfold-999999999-1", "killed");
    t.write("dst/sub/" + alive, "a run going");
    t.write("dst/.orrinfold-x-1", "not ours: no process id");
    SSIDirectoryPreferences preferences = default_preferences();
    const run_t run = convert(t, preferences);
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(names_in(t.path("dst")), (std::vector<std::string>{".orrinfold-x-1", "a.txt", "sub"}));
    EXPECT_EQ(names_in(t.path("dst/sub")), (std::vector<std::string>{alive}));
    EXPECT_EQ(run.summary.copies, 1u);
}

// One run at a time per destination, whatever state folder each keeps its record in; a state
// folder inside the source or the destination is refused before anything is written; the
// records of destinations that are gone are dropped.
TEST(Record, OneLockPerDestinationAndAStateFolderOutsideTheSite) {
    TempTree t;
    t.write("src/a.txt", "a");
    ASSERT_EQ(convert(t, rebuilding(t)).error, "");
    {
        std::string lock;
        for (const auto& entry : fs::directory_iterator(t.path("state")))
            if (entry.path().extension() == ".lock") lock = entry.path().string();
        const std::optional<FileLock> held = FileLock::try_lock(lock);
        ASSERT_TRUE(held);
        const run_t run = convert(t, rebuilding(t));
        EXPECT_NE(run.error.find("Another run is writing to " + t.path("dst")), std::string::npos) << run.error;
        EXPECT_EQ(run.log, Lines{});
    }
#ifndef _WIN32
    {
        const int held = ::open(t.path("dst").c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
        const run_t run = convert(t, rebuilding(t, 1, "other-state"));
        ::close(held);
        EXPECT_NE(run.error.find("Another run is writing to " + t.path("dst")), std::string::npos) << run.error;
    }
#endif
    for (const char* inside : {"src/state", "dst/state", "dst/new/state"}) {
        const run_t run = convert(t, rebuilding(t, 1, inside));
        EXPECT_NE(run.error.find("must not lie inside"), std::string::npos) << inside << ": " << run.error;
        EXPECT_FALSE(fs::exists(t.path(inside)));
    }
    fs::remove_all(t.path("dst"));
    convert(t, rebuilding(t), "other");
    const std::vector<std::string> state = names_in(t.path("state"));
    EXPECT_EQ(std::count_if(state.begin(), state.end(), [](const std::string& n) { return n.ends_with(".manifest"); }), 1);
}

// A destination moved since its record was written: a note naming both, and nothing removed;
// the run after it removes what is stale.
TEST(Record, AMovedDestinationRemovesNothingAndSaysSo) {
    TempTree t;
    t.write("src/a.txt", "a");
    t.write("src/b.txt", "b");
    ASSERT_EQ(convert(t, rebuilding(t)).error, "");
    fs::rename(t.path("dst"), t.path("moved"));
    fs::remove(t.path("src/b.txt"));
    run_t run = convert(t, rebuilding(t), "moved");
    EXPECT_TRUE(logged(run, "Note: the record of the last run into this folder names " + real_path(t.path()) +
                                "/dst as its destination, now " + real_path(t.path("moved"))));
    EXPECT_EQ(run.summary.removed, 0u);
    EXPECT_TRUE(fs::exists(t.path("moved/b.txt")));
    run = convert(t, rebuilding(t), "moved");
    EXPECT_EQ(run.summary.removed, 1u);
    EXPECT_FALSE(fs::exists(t.path("moved/b.txt")));
}
