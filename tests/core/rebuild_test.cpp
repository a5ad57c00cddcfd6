// Rebuilds that do only what changed.
#include "build/incremental.h"
#include "platform/file_system.h"
#include "site_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {
// The files of a tree with their bytes, modes and times (folders' times change with their entries).
Tree files_of(const std::string& root) {
    Tree files = snapshot_tree(root);
    std::erase_if(files, [](const auto& entry) { return entry.second.find('#') == std::string::npos; });
    return files;
}

// A site with includes, a shared include used by one page, copies, and documents that fail.
void write_site(const TempTree& t) {
    t.write("src/include/head.inc", "<h1><!--#echo var=\"title\" --></h1>");
    t.write("src/include/rare.inc", "rare");
    for (int i = 0; i < 12; ++i) {
        const std::string n = std::to_string(i);
        t.write("src/p" + n + ".shtml", "<!--#set var=\"title\" value=\"" + n + "\" --><!--#include virtual=\"/include/head.inc\" -->" +
                                            (i == 3 ? "<!--#include virtual=\"/include/rare.inc\" -->" : "") + "body " + n);
        t.write("src/sub" + std::to_string(i % 3) + "/f" + n + ".txt", std::string(1000 * i, 'x'));
    }
    t.write("src/sub1/broken.shtml", "<!--#include virtual=\"/nowhere.inc\" -->");
    t.write("src/sub2/warns.shtml", "<!--#bogus -->ok");
}
}  // namespace

// The second run does only what changed; outputs that nobody changed keep their bytes and times.
TEST(Rebuild, DoesOnlyWhatChangedSinceTheLastRun) {
    TempTree t;
    write_site(t);
    SSIDirectoryPreferences preferences = rebuilding(t, 2);
    preferences.keep_going = true;
    const run_t first = convert(t, preferences);
    ASSERT_EQ(first.summary.documents, 13u);
    const Tree written = files_of(t.path("dst"));

    // Nothing changed: only the pages that reported something are done again, to report it again.
    const run_t same = convert(t, preferences);
    EXPECT_EQ(work_of(same), (Lines{"Converting sub1/broken.shtml...", "Converting sub2/warns.shtml..."}));
    EXPECT_EQ(same.summary.up_to_date, 24u);
    EXPECT_EQ(same.summary.failed_documents, 1u);
    EXPECT_EQ(files_of(t.path("dst")), written);

    // An include used by one page; a copy's source; a page deleted in the destination.
    t.write("src/include/rare.inc", "RARE");
    t.write("src/sub1/f4.txt", "new");
    std::filesystem::remove(t.path("dst/p7.shtml"));
    const run_t changed = convert(t, preferences);
    EXPECT_EQ(work_of(changed), (Lines{"Converting p3.shtml...", "Converting p7.shtml...", "Converting sub1/broken.shtml...",
                                       "Copying sub1/f4.txt...", "Converting sub2/warns.shtml..."}));
    EXPECT_EQ(read_file(t.path("dst/p3.shtml")), "<h1>3</h1>RAREbody 3");
    EXPECT_EQ(read_file(t.path("dst/p7.shtml")), "<h1>7</h1>body 7");

    // A run with other masks, and --full, do every file.
    preferences.rebuild = SSIDirectoryPreferences::rebuild_t::full;
    EXPECT_EQ(convert(t, preferences).summary.up_to_date, 0u);
    preferences.rebuild = SSIDirectoryPreferences::rebuild_t::changed;
    preferences.skip_filter += " f1*";
    const run_t masks = convert(t, preferences);
    EXPECT_EQ(masks.summary.up_to_date, 0u);
    EXPECT_EQ(masks.summary.removed, 3u);  // f1.txt, f10.txt and f11.txt, now skipped
}

// With two workers the record's files are looked at from both ends of the walk at once: every
// change is found, wherever the two looks meet.
TEST(Rebuild, ChangesAreFoundWhereverTheTwoLooksMeet) {
    TempTree t;
    const auto name = [](int i) { return "d" + std::to_string(i % 7) + "/f" + std::to_string(i) + ".txt"; };
    for (int i = 0; i < 400; ++i) t.write("src/" + name(i), std::to_string(i));
    const SSIDirectoryPreferences preferences = rebuilding(t, 2);
    ASSERT_EQ(convert(t, preferences).summary.copies, 400u);
    Lines expected;
    for (int i = 0; i < 400; ++i) {
        if (i % 37 == 0)
            t.write("src/" + name(i), "changed " + std::to_string(i));
        else if (i % 53 == 0)
            std::filesystem::remove(t.path("dst/" + name(i)));
        else
            continue;
        expected.push_back("Copying " + name(i) + "...");
    }
    for (int round = 0; round < 2; ++round) {
        const run_t run = convert(t, preferences);
        Lines work = work_of(run);
        std::sort(work.begin(), work.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(work, expected) << "round " << round;
        EXPECT_EQ(run.summary.up_to_date, 400u - expected.size());
        expected.clear();  // the second round has nothing to do
    }
    EXPECT_EQ(read_file(t.path("dst/" + name(37))), "changed 37");
    EXPECT_EQ(read_file(t.path("dst/" + name(53))), "53");
}

// An output of ours whose source is gone, or now skipped, is removed; a file the user put in
// the destination or changed there never is.
TEST(Rebuild, RemovesOnlyItsOwnUnchangedOutputs) {
    TempTree t;
    t.write("src/a.shtml", "a");
    t.write("src/b.txt", "b");
    t.write("src/c.txt", "c");
    t.write("src/old/d.txt", "d");
    t.write("src/100% sure.txt", "named with the record's escape character");
    t.write("src/e.shtml", "<!--#echo var=\"DATE_GMT\" -->");
    const SSIDirectoryPreferences preferences = rebuilding(t);
    convert(t, preferences);
    t.write("dst/mine.txt", "the user's");
    t.write("dst/c.txt", "edited in the destination");
    for (const char* gone : {"src/a.shtml", "src/b.txt", "src/c.txt", "src/old", "src/100% sure.txt"})
        std::filesystem::remove_all(t.path(gone));
    const run_t run = convert(t, preferences);
    EXPECT_EQ(work_of(run), (Lines{"Converting e.shtml...", "Removing 100% sure.txt...", "Removing a.shtml...",
                                   "Removing b.txt...", "Removing old/d.txt..."}));
    EXPECT_EQ(run.summary.removed, 4u);
    Tree left = read_tree(t.path("dst"));
    left.erase("e.shtml");
    EXPECT_EQ(left, (Tree{{"c.txt", "edited in the destination"}, {"mine.txt", "the user's"}}));
}

// Whatever happened to the destination, the sources or the record since, the site comes out right.
TEST(Rebuild, SurvivesWhatHappensBetweenRuns) {
    const struct {
        const char* name;
        std::function<void(const TempTree&)> change;
        Lines work;
        const char* warning = nullptr;
    } rows[] = {
        {"clock went back", [](const TempTree& t) { set_mtime(t.path("src/a.shtml"), 1000); }, {"Converting a.shtml..."}},
        {"file became a folder",
         [](const TempTree& t) {
             std::filesystem::remove(t.path("src/b.txt"));
             t.write("src/b.txt/in.txt", "in");
         },
         {"Copying b.txt/in.txt..."}},
        {"folder became a file",
         [](const TempTree& t) {
             std::filesystem::remove_all(t.path("src/d"));
             t.write("src/d", "now a file");
         },
         {"Copying d..."}},
        {"record damaged",
         [](const TempTree& t) {
             for (const auto& entry : std::filesystem::directory_iterator(t.path("state")))
                 if (entry.path().extension() == ".manifest") std::filesystem::resize_file(entry.path(), 60);
         },
         {"Converting a.shtml...", "Copying b.txt...", "Copying d/e.txt..."},
         "Cannot read the record of the last run"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempTree t;
        t.write("src/a.shtml", "a");
        t.write("src/b.txt", "b");
        t.write("src/d/e.txt", "e");
        const SSIDirectoryPreferences preferences = rebuilding(t);
        convert(t, preferences);
        row.change(t);
        const run_t run = convert(t, preferences);
        EXPECT_EQ(run.error, "");
        EXPECT_EQ(work_of(run), row.work);
        EXPECT_EQ(logged(run, row.warning ? row.warning : "\n"), row.warning != nullptr);
        // A full run into a fresh folder gives the same site.
        SSIDirectoryPreferences fresh = default_preferences();
        fresh.source_as_root = true;
        RecordingLog ignored;
        convert_directory("", t.path("src"), t.path("full"), fresh, ignored);
        EXPECT_EQ(read_tree(t.path("dst")), read_tree(t.path("full")));
    }
}

// A rebuild told what changed (by a watch) looks at those sources, at everything below a
// folder among them, at what pages read, and at files reached through links; other sources
// and outputs are taken to be as recorded. The next run that looks at everything puts right
// what such a rebuild was not told of.
TEST(Rebuild, ToldWhatChangedLooksOnlyThere) {
    const struct {
        const char* name;
        std::function<void(const TempTree&)> change;
        Lines changed;  // below src; "" for src itself
        Lines work;
        const char* error = "";
    } rows[] = {
        {"include edited", [](const TempTree& t) { t.write("src/include/x.inc", "X2"); }, {},
         {"Converting a.shtml...", "Converting d/g.shtml..."}},
        {"page reported", [](const TempTree& t) { t.write("src/a.shtml", "new"); }, {"a.shtml"}, {"Converting a.shtml..."}},
        {"copy not reported", [](const TempTree& t) { t.write("src/b.txt", "unseen"); }, {}, {}},
        {"new folder reported", [](const TempTree& t) { t.write("src/n/m.txt", "m"); }, {"n"}, {"Copying n/m.txt..."}},
        {"file removed", [](const TempTree& t) { std::filesystem::remove(t.path("src/d/e.txt")); }, {"d/e.txt"},
         {"Removing d/e.txt..."}},
        {"site folder reported", [](const TempTree& t) { t.write("src/b.txt", "seen"); }, {""}, {"Copying b.txt..."}},
#ifndef _WIN32
        {"file behind a linked folder", [](const TempTree& t) { t.write("src/real/p.txt", "p2"); }, {"real/p.txt"},
         {"Copying alias/p.txt...", "Copying real/p.txt..."}},
        {"destination folder now a link out",
         [](const TempTree& t) {
             t.write("src/include/x.inc", "X2");
             std::filesystem::remove_all(t.path("dst/d"));
             std::filesystem::create_directory_symlink(t.make_dir("elsewhere"), t.path("dst/d"));
         },
         {},
         {"Converting a.shtml..."},
         "is a link out of the destination folder"},
#endif
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempTree t;
        t.write("src/include/x.inc", "X");
        t.write("src/a.shtml", "<!--#include virtual=\"/include/x.inc\" -->");
        t.write("src/include/y.inc", "Y");  // numbered after x.inc, before it once a.shtml no longer reads that
        t.write("src/c.shtml", "<!--#include virtual=\"/include/y.inc\" -->");
        t.write("src/b.txt", "b");
        t.write("src/d/e.txt", "e");
        t.write("src/d/g.shtml", "<!--#include virtual=\"/include/x.inc\" -->");
        t.write("src/real/p.txt", "p");
#ifndef _WIN32
        ::chmod(t.path("src/a.shtml").c_str(), 0640);
        std::filesystem::create_directory_symlink("real", t.path("src/alias"));
#endif
        const SSIDirectoryPreferences preferences = rebuilding(t, 2);
        run_memory_t memory;
        convert(t, preferences, "dst", nullptr, &memory);
        row.change(t);
        memory.changed.emplace();
        const std::string root = real_path(t.path("src"));
        for (const std::string& path : row.changed) memory.changed->push_back(path.empty() ? root : root + "/" + path);
        const run_t told = convert(t, preferences, "dst", nullptr, &memory);
        EXPECT_NE(told.error.find(row.error), std::string::npos) << told.error;
        EXPECT_EQ(told.error.empty(), *row.error == 0) << told.error;
        EXPECT_EQ(work_of(told), row.work);
        if (!told.error.empty()) {
            EXPECT_TRUE(std::filesystem::is_empty(t.path("elsewhere")));
            continue;
        }
        // The record kept in memory for the next run is the one written, once saved.
        if (memory.saving.joinable()) memory.saving.join();
        EXPECT_EQ(memory.saving_failure, "");
        ASSERT_TRUE(memory.record);
        const auto rewritten = [&](const Manifest& record, const char* name) {
            record.write(t.path(name));
            return read_file(t.path(name));
        };
        EXPECT_EQ(rewritten(memory.record->record, "kept"), rewritten(*Manifest::read(memory.record->path, 1 << 20), "read"));
        EXPECT_EQ(work_of(told), row.work);
        // What a preview server looks at afterwards: the outputs of the files done and removed.
        Lines outputs;
        for (const std::string& line : row.work) outputs.push_back(line.substr(line.find(' ') + 1, line.size() - line.find(' ') - 4));
        std::sort(outputs.begin(), outputs.end());
        EXPECT_EQ(told.outputs, outputs);
#ifndef _WIN32
        EXPECT_EQ(stat_path(t.path("dst/a.shtml")).permissions, 0640u) << "a page done again keeps its source's mode";
#endif
        // A run that looks at everything then gives the site a full run into a fresh folder gives.
        convert(t, preferences);
        SSIDirectoryPreferences fresh = default_preferences();
        fresh.source_as_root = true;
        RecordingLog ignored;
        convert_directory("", t.path("src"), t.path("full"), fresh, ignored);
        EXPECT_EQ(read_tree(t.path("dst")), read_tree(t.path("full")));
    }
}

// A source changed while it is converted is done again next time; pages keep their source's
// permission bits; an output whose bytes come out the same is not rewritten.
TEST(Rebuild, ChangesDuringARunAndOutputsThatSyncWell) {
    TempTree t;
    const std::string page = t.write("src/a.shtml", "first");
#ifndef _WIN32
    ::chmod(page.c_str(), 0600);
#endif
    struct editing_log : RecordingLog {
        std::string page;
        void message(const std::string& text) override {
            if (text == "Converting a.shtml..." && !page.empty()) {
                std::filesystem::last_write_time(page, std::filesystem::last_write_time(page) + std::chrono::seconds(5));
                page.clear();
            }
        }
    } editing;
    editing.page = page;
    const SSIDirectoryPreferences preferences = rebuilding(t);
    convert(t, preferences, "dst", &editing);
    EXPECT_EQ(work_of(convert(t, preferences)), (Lines{"Converting a.shtml..."}));
    EXPECT_EQ(work_of(convert(t, preferences)), Lines{});
#ifndef _WIN32
    EXPECT_EQ(stat_path(t.path("dst/a.shtml")).permissions, 0600u);
#endif
    set_mtime(t.path("dst/a.shtml"), 1000000000);
    SSIDirectoryPreferences full = preferences;
    full.rebuild = SSIDirectoryPreferences::rebuild_t::full;
    EXPECT_EQ(work_of(convert(t, full)), (Lines{"Converting a.shtml..."}));
    EXPECT_EQ(stat_path(t.path("dst/a.shtml")).modified, 1000000000);
}
