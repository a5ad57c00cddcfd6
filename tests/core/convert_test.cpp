#include "build/convert.h"

#include "recording_log.h"
#include "ssi/preferences.h"
#include "temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
using Lines = std::vector<std::string>;

// One run of the walk: every log line, warnings and errors marked with their kind, and the
// text of the exception that ended it (empty if none). The source must come out unchanged.
struct run_t {
    Lines log;
    std::string error;
};

run_t convert(const std::string& source, const std::string& destination,
              const SSIDirectoryPreferences& preferences = default_preferences(), const std::string& relative = "") {
    RecordingLog log;
    std::string error;
    const Tree before = snapshot_tree(source, destination);
    try {
        convert_directory(relative, source, destination, preferences, log);
    } catch (const std::exception& e) {
        error = e.what();
    }
    EXPECT_EQ(snapshot_tree(source, destination), before) << "the source was changed";
    return {log.texts(true), error};
}

#ifndef _WIN32
void make_link(const TempTree& t, const char* target, const char* at) {
    ASSERT_EQ(::symlink(target, t.path(at).c_str()), 0) << at;
}
#endif
}  // namespace

TEST(ConvertDirectory, MirrorsTheSiteInAFixedOrder) {
#ifdef _WIN32
    GTEST_SKIP() << "names that differ only in case share one folder here, and one name is not UTF-8";
#endif
    TempTree t;
    t.write("src/index.shtml",
            "<!--#set var=\"x\" value=\"1\" --><!--#include virtual=\"include/head.inc\" -->[<!--#echo var=\"x\" -->]");
    t.write("src/include/head.inc", "H");
    t.write("src/INCLUDE/x.txt", "skipped folder");
    t.write("src/header.inc", "skipped file");
    t.write("src/empty.shtml", "");
    t.write("src/img/b.gif", "b");
    t.write("src/img/B.gif", "B");
    t.write("src/img/a.GIF", "a");
    t.write("src/img/.git/HEAD", "ref");
    t.write("src/\xFF raw.txt", "ff");
    t.write("src/old.shtml/p.shtml", "<!--#echo var=\"x\" -->");
    t.write("dst/img/b.gif", "a much longer old copied image");
    t.write("dst/extra.txt", "left alone");
    t.make_dir("src/empty");

    const run_t run = convert(t.path("src"), t.path("dst"), default_preferences(), "site");
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(run.log, (Lines{"Converting site/empty.shtml...",
                              "warning: Version-control folder .git is published with the site; add .git to the Skip "
                              "masks to leave it out",
                              "Copying site/img/.git/HEAD...", "Copying site/img/a.GIF...", "Copying site/img/B.gif...",
                              "Copying site/img/b.gif...", "Converting site/index.shtml...",
                              "Converting site/old.shtml/p.shtml...", "Copying site/\xFF raw.txt..."}));
    EXPECT_EQ(read_tree(t.path("dst")),
              (Tree{{"empty", "<dir>"}, {"empty.shtml", ""}, {"extra.txt", "left alone"}, {"img", "<dir>"},
                    {"img/.git", "<dir>"}, {"img/.git/HEAD", "ref"}, {"img/B.gif", "B"}, {"img/a.GIF", "a"},
                    {"img/b.gif", "b"}, {"index.shtml", "H[1]"}, {"old.shtml", "<dir>"},
                    {"old.shtml/p.shtml", "(none)"}, {"\xFF raw.txt", "ff"}}));
}

// Skip wins over Convert; Convert masks are not asked about folders.
TEST(ConvertDirectory, MaskListsDecideBetweenSkipConvertAndCopy) {
    const std::string page = "<!--#echo var=\"SERVER_SOFTWARE\" -->";
    const struct { const char *convert, *skip; Tree tree; } rows[] = {
        {"*.shtml *.inc", "*.inc include", Tree{{"a.shtml", "Orrinfold 1.15"}}},
        {"include", "", Tree{{"a.shtml", page}, {"include", "<dir>"}, {"include/b.txt", "b"}, {"x.inc", page}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.convert) + " | " + row.skip);
        TempTree t;
        t.write("src/a.shtml", page);
        t.write("src/x.inc", page);
        t.write("src/include/b.txt", "b");
        SSIDirectoryPreferences preferences;
        preferences.convert_filter = row.convert;
        preferences.skip_filter = row.skip;
        convert(t.path("src"), t.path("dst"), preferences);
        EXPECT_EQ(read_tree(t.path("dst")), row.tree);
    }
}

TEST(ConvertDirectory, EachDocumentStartsFreshWithItsOwnTimeAndCopiesKeepModeAndTime) {
    TempTree t;
    set_mtime(t.write("src/a.shtml", "<!--#set var=\"x\" value=\"1\" --><!--#echo var=\"LAST_MODIFIED\" -->"),
              984560707);
    set_mtime(t.write("src/b.shtml", "<!--#echo var=\"x\" -->|<!--#echo var=\"LAST_MODIFIED\" -->"), -31536000);
    const std::string binary(300000, '\x9C');
    const std::string tool = t.write("src/tool.bin", binary);
#ifdef _WIN32
    set_mtime(tool, 4102444800);  // Windows keeps no mode bits; its read-only attribute: Win32 tests
#else
    ASSERT_EQ(::chmod(tool.c_str(), 0751), 0);
    const struct timespec times[2] = {{1000, 0}, {4102444800, 0}};  // access time, modification time
    ASSERT_EQ(::utimensat(AT_FDCWD, tool.c_str(), times, 0), 0);
#endif
    EXPECT_EQ(convert(t.path("src"), t.path("dst")).error, "");
    EXPECT_EQ(read_tree(t.path("dst")), (Tree{{"a.shtml", "Wed, 14-Mar-2001 09:05:07"},
                                              {"b.shtml", "(none)|Wed, 01-Jan-1969 00:00:00"},
                                              {"tool.bin", binary}}));
#ifdef _WIN32
    EXPECT_EQ(stat_path(t.path("dst/tool.bin")).modified, 4102444800);
#else
    struct stat copy {};
    ASSERT_EQ(::stat(t.path("dst/tool.bin").c_str(), &copy), 0);
    EXPECT_EQ(copy.st_mode & 07777, 0751u);
    EXPECT_EQ(copy.st_mtim.tv_sec, 4102444800);
#endif
}

TEST(ConvertDirectory, FirstErrorEndsTheRunAndKeepsWhatWasDone) {
    TempTree t;
    t.write("src/a.txt", "a");
    t.write("src/m/b.shtml", "x<!--#include virtual=\"missing.inc\" -->y");
    t.write("src/z.shtml", "z");
    t.write("dst/m/b.shtml", "the previous page");
    const run_t run = convert(t.path("src"), t.path("dst"));
    EXPECT_EQ(run.error, t.path("src/m/missing.inc") + ": No such file or directory");
    EXPECT_EQ(run.log, (Lines{"Copying a.txt...", "Converting m/b.shtml..."}));
    // The failed page is not replaced, and no temporary file is left.
    EXPECT_EQ(read_tree(t.path("dst")), (Tree{{"a.txt", "a"}, {"m", "<dir>"}, {"m/b.shtml", "the previous page"}}));
}

TEST(ConvertDirectory, LinksAndSpecialFiles) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links need a privilege on Windows (and Wine keeps none), and there are no FIFOs";
#else
    const struct {
        const char* name;
        void (*prepare)(const TempTree&);
        std::string error;  // '@' stands for the tree; "" for a run that finishes
        Lines log;
    } rows[] = {
        {"links within the site are followed, others left out",
         [](const TempTree& t) {
             t.write("outside/o.txt", "o");
             make_link(t, "../outside", "src/out");
             make_link(t, "real/r.txt", "src/file");
             make_link(t, "real", "src/same");
         },
         "",
         {"Copying file...", "warning: Skipping out (link to outside the site: @/outside)", "Copying real/r.txt...",
          "Copying same/r.txt..."}},
        {"link back up the walk's path", [](const TempTree& t) { make_link(t, "..", "src/real/up"); },
         "Directory loop: @/src/real/up", {"Copying real/r.txt..."}},
        {"broken links and FIFOs are left out with a warning, unless skipped",
         [](const TempTree& t) {
             make_link(t, "b", "src/a");
             make_link(t, "a", "src/b");
             make_link(t, "nothing", "src/dangling.html");
             ASSERT_EQ(::mkfifo(t.path("src/real/pipe.shtml").c_str(), 0644), 0);
             ASSERT_EQ(::mkfifo(t.path("src/pipe.inc").c_str(), 0644), 0);
         },
         "",
         {"warning: Skipping a (broken link)", "warning: Skipping b (broken link)",
          "warning: Skipping dangling.html (broken link)",
          "warning: Skipping real/pipe.shtml (not a regular file)", "Copying real/r.txt..."}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempTree t;
        t.write("src/real/r.txt", "r");
        row.prepare(t);
        const run_t run = convert(t.path("src"), t.path("dst"));
        const auto placed = [&t](std::string text) {
            if (const std::size_t at = text.find('@'); at != std::string::npos) text.replace(at, 1, t.path());
            return text;
        };
        EXPECT_EQ(run.error, placed(row.error));
        Lines log = row.log;
        for (std::string& line : log) line = placed(line);
        EXPECT_EQ(run.log, log);
        // The progress bar's count walks as the run does: every file it converts or copies.
        const auto done = std::count_if(log.begin(), log.end(), [](const std::string& line) {
            return line.starts_with("Copying ") || line.starts_with("Converting ");
        });
        EXPECT_EQ(count_files(t.path("src"), t.path("dst"), default_preferences()), static_cast<std::uint64_t>(done));
    }
#endif
}

// Page content cannot pull other files into the output: paths, after ".." and links, must
// lead into the site, the virtual root or a place the user allowed.
TEST(ConvertDirectory, DocumentsReadOnlyWithinTheSiteTheRootAndAllowedPlaces) {
#ifdef _WIN32
    GTEST_SKIP() << "one path leads out through a symbolic link, which needs a privilege on Windows";
#else
    TempTree t;
    t.write("secret.txt", "secret");
    t.write("root/r.txt", "R");
    t.write("src/p/a.shtml", "<!--#include virtual=\"/../secret.txt\" -->");
    t.write("src/p/b.shtml", "<!--#include virtual=\"../../secret.txt\" -->");
    t.write("src/p/c.shtml", "<!--#fsize virtual=\"leak.inc\" -->");
    t.write("src/p/d.shtml", "<!--#include virtual=\"/r.txt\" --><!--#include virtual=\"../p/./e.inc\" -->");
    t.write("src/p/e.inc", "E");
    make_link(t, "../../secret.txt", "src/p/leak.inc");
    SSIDirectoryPreferences preferences = default_preferences();
    preferences.virtual_root = t.path("root");
    preferences.keep_going = true;
    const std::string outside = "error: Path outside the site: " + t.path();
    EXPECT_EQ(convert(t.path("src"), t.path("dst"), preferences).log,
              (Lines{"Converting p/a.shtml...", outside + "/root/../secret.txt", "Converting p/b.shtml...",
                     outside + "/src/p/../../secret.txt", "Converting p/c.shtml...", outside + "/src/p/leak.inc",
                     "Converting p/d.shtml..."}));
    EXPECT_EQ(read_file(t.path("dst/p/d.shtml")), "RE");

    preferences.allow_outside = {t.path("nowhere"), t.path()};
    EXPECT_EQ(convert(t.path("src"), t.path("dst"), preferences).log.size(), 4U);  // progress lines only
    EXPECT_EQ(read_file(t.path("dst/p/c.shtml")), "0.0k");  // the size of secret.txt
#endif
}

TEST(ConvertDirectory, RefusesADestinationThatIsOrHoldsTheSourceAndLeavesOneInsideItOutOfTheWalk) {
    TempTree t;
    t.write("site/src/a.txt", "a");
    std::vector<std::string> destinations{t.path("site/src/"), t.path("site/src/.."), t.path(), t.path("site/../site/src")};
#ifndef _WIN32  // symbolic links need a privilege on Windows
    ASSERT_EQ(::symlink("site/src", t.path("link").c_str()), 0);
    destinations.push_back(t.path("link"));
#endif
    const Tree before = read_tree(t.path());
    for (const std::string& destination : destinations) {
        SCOPED_TRACE(destination);
        EXPECT_EQ(convert(t.path("site/src"), destination).error,
                  "Destination directory must not contain the source directory");
        EXPECT_EQ(read_tree(t.path()), before);
    }
    for (int run_number = 0; run_number < 2; ++run_number) {
        const run_t run = convert(t.path("site/src"), t.path("site/src/pub"));
        EXPECT_EQ(run.error, "");
        EXPECT_EQ(run.log, Lines{"Copying a.txt..."});
        EXPECT_EQ(read_tree(t.path("site/src")), (Tree{{"a.txt", "a"}, {"pub", "<dir>"}, {"pub/a.txt", "a"}}));
    }
}

// A missing source is named by the front ends' tests; here a file in the way of a folder.
TEST(ConvertDirectory, SourceAndDestinationProblemsNameThePath) {
    TempTree t;
    t.write("src/sub/x.txt", "x");
    t.write("dst/sub", "a file where a folder should be");
    const std::string plain = t.write("plain", "");
    EXPECT_EQ(convert(plain, t.path("out")).error, plain + ": Not a directory");
    EXPECT_EQ(convert(t.path("src"), plain).error, plain + ": Not a directory");
    EXPECT_EQ(convert(t.path("src"), t.path("dst")).error, t.path("dst/sub/x.txt") + ": Not a directory");
}

// Copies keep a read-only mode, and a second run replaces them all the same (as a plain user:
// root could write to them anyway).
TEST(ConvertDirectory, ReadOnlyOutputsAreReplacedOnTheNextRun) {
    TempTree t;
    t.write("src/ro.txt", "first");
    t.write("src/page.shtml", "page");
    ASSERT_EQ(::chmod(t.path("src/ro.txt").c_str(), 0444), 0);
    run_as_plain_user(t.path(), [&t] {
        EXPECT_EQ(convert(t.path("src"), t.path("dst")).error, "");
        ASSERT_EQ(::chmod(t.path("dst/page.shtml").c_str(), 0444), 0);
        ASSERT_EQ(::chmod(t.path("src/ro.txt").c_str(), 0644), 0);
        t.write("src/ro.txt", "second");
        ASSERT_EQ(::chmod(t.path("src/ro.txt").c_str(), 0444), 0);
        EXPECT_EQ(convert(t.path("src"), t.path("dst")).error, "");
        EXPECT_EQ(read_tree(t.path("dst")), (Tree{{"page.shtml", "page"}, {"ro.txt", "second"}}));
        struct stat st {};
        EXPECT_EQ(::stat(t.path("dst/ro.txt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0444U);
    });
}

// Outputs take the place of what stands at their name: a hard link to the source, a link to a
// file elsewhere. Nothing is written through them; a folder that is a link out is refused.
TEST(ConvertDirectory, OutputsReplaceLinksAndNeverWriteThroughThem) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links need a privilege on Windows (replacing a read-only output: Win32 tests)";
#else
    TempTree t;
    const std::string source = t.write("src/a.shtml", "source text");
    t.write("src/b.txt", "b");
    t.write("src/sub/c.txt", "c");
    t.write("victim.txt", "victim");
    t.make_dir("dst");
    ASSERT_EQ(::link(source.c_str(), t.path("dst/a.shtml").c_str()), 0);
    make_link(t, "../victim.txt", "dst/b.txt");
    make_link(t, "..", "dst/sub");
    EXPECT_EQ(convert(t.path("src"), t.path("dst")).error, t.path("dst/sub") + ": is a link out of the destination folder");
    EXPECT_EQ(read_tree(t.path("dst")), (Tree{{"a.shtml", "source text"}, {"b.txt", "b"}, {"sub", "-> .."}}));
    EXPECT_EQ(read_file(t.path("victim.txt")), "victim");
#endif
}

// A cancel before the first file ends the run with nothing logged and nothing written (the
// count of files is the driver's: run_driver_test).
// A stop asked before the run: nothing is logged or written, and the walk itself stops at the
// first file rather than going through the rest of the site (here: files up to date).
TEST(ConvertDirectory, CancelBeforeTheFirstFileWritesNothing) {
    TempTree t;
    t.write("src/a.txt", "a");
    t.write("src/b/c.shtml", "c");
    SSIDirectoryPreferences preferences = default_preferences();
    preferences.rebuild = SSIDirectoryPreferences::rebuild_t::changed;
    preferences.state_folder = t.path("state");
    RecordingLog first;
    convert_directory("", t.path("src"), t.path("done"), preferences, first);
    for (const char* destination : {"dst", "done"}) {
        conversion_control_t control;
        control.cancel = true;
        RecordingLog quiet;
        EXPECT_THROW(convert_directory("", t.path("src"), t.path(destination), preferences, quiet, &control),
                     conversion_cancelled);
        EXPECT_TRUE(quiet.lines.empty()) << destination;
        EXPECT_EQ(control.files_done, 0u) << destination;
    }
    EXPECT_EQ(read_tree(t.path("dst")), Tree{});
}
