#include "site/convert.h"

#include "base/exceptions.h"
#include "recording_log.h"
#include "ssi/preferences.h"
#include "temp_tree.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
using Log = std::vector<RecordingLog::line_t>;
using kind_t = RecordingLog::kind_t;

RecordingLog::line_t message(std::string text) { return {kind_t::message, std::move(text)}; }
RecordingLog::line_t warning(std::string text) { return {kind_t::warning, std::move(text)}; }

// One run of the walk: every log line, and the text of the exception that ended it (empty if none).
struct run_t {
    Log log;
    std::string error;
};

run_t convert(const std::string& source, const std::string& destination,
              const SSIDirectoryPreferences& preferences = default_preferences(), const std::string& relative = "") {
    RecordingLog log;
    std::string error;
    try {
        convert_directory(relative, source, destination, preferences, log);
    } catch (const std::exception& e) {
        error = e.what();
    }
    return {log.lines(), error};
}

void set_mtime(const std::string& path, std::int64_t seconds) {
    const struct timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

void make_link(const TempTree& t, const char* target, const char* at) {
    ASSERT_EQ(::symlink(target, t.path(at).c_str()), 0) << at;
}

struct stat stat_of(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}
}  // namespace

TEST(ConvertDirectory, MirrorsTheSiteInAFixedOrder) {
    TempTree t;
    t.write("src/index.shtml",
            "<!--#set var=\"x\" value=\"1\" --><!--#include virtual=\"include/head.inc\" -->[<!--#echo var=\"x\" -->]");
    t.write("src/include/head.inc", "H");
    t.write("src/INCLUDE/x.txt", "skipped folder");
    t.write("src/Include/x.txt", "skipped folder");
    t.write("src/header.inc", "skipped file");
    t.write("src/notes.txt", "notes");
    t.write("src/empty.shtml", "");
    t.write("src/img/logo.gif", "GIF");
    t.write("src/img/b.gif", "b");
    t.write("src/img/B.gif", "B");
    t.write("src/img/a.GIF", "a");
    t.write("src/old.shtml/page.txt", "<!--#echo var=\"x\" -->");
    t.write("src/old.shtml/p.shtml", "<!--#echo var=\"x\" -->");
    t.make_dir("src/empty");
    t.make_dir("src/img/none");

    const run_t run = convert(t.path("src"), t.path("dst"));
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(run.log, (Log{
                           message("Converting empty.shtml..."),
                           message("Copying img/a.GIF..."),
                           message("Copying img/B.gif..."),
                           message("Copying img/b.gif..."),
                           message("Copying img/logo.gif..."),
                           message("Converting index.shtml..."),
                           message("Copying notes.txt..."),
                           message("Converting old.shtml/p.shtml..."),
                           message("Copying old.shtml/page.txt..."),
                       }));
    EXPECT_EQ(read_tree(t.path("dst")), (Tree{
                                            {"empty", "<dir>"},
                                            {"empty.shtml", ""},
                                            {"img", "<dir>"},
                                            {"img/B.gif", "B"},
                                            {"img/a.GIF", "a"},
                                            {"img/b.gif", "b"},
                                            {"img/logo.gif", "GIF"},
                                            {"img/none", "<dir>"},
                                            {"index.shtml", "H[1]"},
                                            {"notes.txt", "notes"},
                                            {"old.shtml", "<dir>"},
                                            {"old.shtml/p.shtml", "(none)"},
                                            {"old.shtml/page.txt", "<!--#echo var=\"x\" -->"},
                                        }));
}

TEST(ConvertDirectory, RelativePrefixAndNamesWithSpacesAndOtherBytes) {
    TempTree t;
    t.write("src/my page.shtml", "<!--#include virtual=\"my inc/x y.txt\" -->");
    t.write("src/my inc/x y.txt", "xy");
    t.write("src/caf\xC3\xA9.txt", "e");
    t.write("src/\xFF raw.txt", "ff");
    const run_t run = convert(t.path("src"), t.path("dst"), default_preferences(), "site");
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(run.log, (Log{
                           message("Copying site/caf\xC3\xA9.txt..."),
                           message("Copying site/my inc/x y.txt..."),
                           message("Converting site/my page.shtml..."),
                           message("Copying site/\xFF raw.txt..."),
                       }));
    EXPECT_EQ(read_tree(t.path("dst")), (Tree{
                                            {"caf\xC3\xA9.txt", "e"},
                                            {"my inc", "<dir>"},
                                            {"my inc/x y.txt", "xy"},
                                            {"my page.shtml", "xy"},
                                            {"\xFF raw.txt", "ff"},
                                        }));
}

TEST(ConvertDirectory, MaskListsDecideBetweenSkipConvertAndCopy) {
    struct row_t {
        const char* name;
        const char* convert;
        const char* skip;
        Log log;
        Tree tree;
    };
    const std::string page = "<!--#echo var=\"SERVER_SOFTWARE\" -->";
    const row_t rows[] = {
        {"skip comes before convert", "*.shtml *.inc", "*.inc include",
         Log{message("Converting a.shtml...")}, Tree{{"a.shtml", "Orrinfold 1.15"}}},
        {"empty convert list copies everything", "", "include",
         Log{message("Copying a.shtml..."), message("Copying x.inc...")}, Tree{{"a.shtml", page}, {"x.inc", page}}},
        {"empty skip list walks everything", "*.shtml", "",
         Log{message("Converting a.shtml..."), message("Copying include/b.txt..."), message("Copying x.inc...")},
         Tree{{"a.shtml", "Orrinfold 1.15"}, {"include", "<dir>"}, {"include/b.txt", "b"}, {"x.inc", page}}},
        {"convert masks are not asked about folders", "include", "",
         Log{message("Copying a.shtml..."), message("Copying include/b.txt..."), message("Copying x.inc...")},
         Tree{{"a.shtml", page}, {"include", "<dir>"}, {"include/b.txt", "b"}, {"x.inc", page}}},
    };
    for (const row_t& row : rows) {
        SCOPED_TRACE(row.name);
        TempTree t;
        t.write("src/a.shtml", page);
        t.write("src/x.inc", page);
        t.write("src/include/b.txt", "b");
        SSIDirectoryPreferences preferences;
        preferences.convert_filter = row.convert;
        preferences.skip_filter = row.skip;
        const run_t run = convert(t.path("src"), t.path("dst"), preferences);
        EXPECT_EQ(run.error, "");
        EXPECT_EQ(run.log, row.log);
        EXPECT_EQ(read_tree(t.path("dst")), row.tree);
    }
}

TEST(ConvertDirectory, EachDocumentStartsFreshWithItsOwnTime) {
    TempTree t;
    set_mtime(t.write("src/a.shtml", "<!--#set var=\"x\" value=\"1\" --><!--#echo var=\"LAST_MODIFIED\" -->"),
              984560707);
    set_mtime(t.write("src/b.shtml", "<!--#echo var=\"x\" -->|<!--#echo var=\"LAST_MODIFIED\" -->"), -31536000);
    const run_t run = convert(t.path("src"), t.path("dst"));
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(read_tree(t.path("dst")), (Tree{{"a.shtml", "Wed, 14-Mar-2001 09:05:07"},
                                              {"b.shtml", "(none)|Wed, 01-Jan-1969 00:00:00"}}));
}

TEST(ConvertDirectory, CopiesKeepContentPermissionsAndTime) {
    TempTree t;
    std::string binary;
    for (int i = 0; i < 300000; ++i) binary.push_back(static_cast<char>(i * 31));
    const std::string tool = t.write("src/tool.bin", binary);
    const std::string page = t.write("src/readme.txt", "read me");
    ASSERT_EQ(::chmod(tool.c_str(), 0751), 0);
    ASSERT_EQ(::chmod(page.c_str(), 0604), 0);
    set_mtime(tool, 1000000000);
    set_mtime(page, 4102444800);

    const run_t run = convert(t.path("src"), t.path("dst"));
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(read_tree(t.path("dst")), (Tree{{"readme.txt", "read me"}, {"tool.bin", binary}}));
    for (const char* name : {"tool.bin", "readme.txt"}) {
        SCOPED_TRACE(name);
        const struct stat source = stat_of(t.path("src/") + name);
        const struct stat copy = stat_of(t.path("dst/") + name);
        EXPECT_EQ(copy.st_mode & 07777, source.st_mode & 07777);
        EXPECT_EQ(copy.st_mtim.tv_sec, source.st_mtim.tv_sec);
    }
}

TEST(ConvertDirectory, ReusesAnExistingDestination) {
    TempTree t;
    t.write("src/a.shtml", "new a");
    t.write("src/img/b.gif", "new b");
    t.write("dst/a.shtml", "a much longer old converted page");
    t.write("dst/img/b.gif", "a much longer old copied image");
    t.write("dst/extra.txt", "left alone");
    const run_t run = convert(t.path("src"), t.path("dst"));
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(run.log, (Log{message("Converting a.shtml..."), message("Copying img/b.gif...")}));
    EXPECT_EQ(read_tree(t.path("dst")), (Tree{{"a.shtml", "new a"},
                                              {"extra.txt", "left alone"},
                                              {"img", "<dir>"},
                                              {"img/b.gif", "new b"}}));
}

TEST(ConvertDirectory, FirstErrorEndsTheRunAndKeepsWhatWasDone) {
    TempTree t;
    t.write("src/a.txt", "a");
    t.write("src/m/b.shtml", "x<!--#include virtual=\"missing.inc\" -->y");
    t.write("src/m/c.txt", "c");
    t.write("src/z.shtml", "z");
    const run_t run = convert(t.path("src"), t.path("dst"));
    EXPECT_EQ(run.error, t.path("src/m/missing.inc") + ": No such file or directory");
    EXPECT_EQ(run.log, (Log{message("Copying a.txt..."), message("Converting m/b.shtml...")}));
    EXPECT_EQ(read_tree(t.path("dst")), (Tree{{"a.txt", "a"}, {"m", "<dir>"}, {"m/b.shtml", "x"}}));
}

TEST(ConvertDirectory, LinksAndSpecialFiles) {
    struct row_t {
        const char* name;
        void (*prepare)(const TempTree&);
        std::string error;  // relative to the tree; "" for a run that finishes
        Log log;
        Tree tree;
    };
    const row_t rows[] = {
        {"link to a folder is walked",
         [](const TempTree& t) {
             t.write("outside/o.txt", "o");
             make_link(t, "real", "src/link");
             make_link(t, "../outside", "src/out");
             make_link(t, "real/r.txt", "src/file");
         },
         "",
         Log{message("Copying file..."), message("Copying link/r.txt..."), message("Copying out/o.txt..."),
             message("Copying real/r.txt...")},
         Tree{{"file", "r"}, {"link", "<dir>"}, {"link/r.txt", "r"}, {"out", "<dir>"}, {"out/o.txt", "o"},
              {"real", "<dir>"}, {"real/r.txt", "r"}}},
        {"link back up the walk's path",
         [](const TempTree& t) { make_link(t, "..", "src/real/up"); },
         "Directory loop: @/src/real/up",
         Log{message("Copying real/r.txt...")},
         Tree{{"real", "<dir>"}, {"real/r.txt", "r"}}},
        {"link to the folder itself",
         [](const TempTree& t) { make_link(t, ".", "src/a"); },
         "Directory loop: @/src/a",
         Log{},
         Tree{}},
        {"links that lead to each other",
         [](const TempTree& t) {
             make_link(t, "b", "src/a");
             make_link(t, "a", "src/b");
         },
         "@/src/a: Too many levels of symbolic links",
         Log{},
         Tree{}},
        {"dangling link",
         [](const TempTree& t) { make_link(t, "nowhere", "src/real/dangling"); },
         "@/src/real/dangling: No such file or directory",
         Log{},
         Tree{{"real", "<dir>"}}},
        {"FIFO is left out with a warning",
         [](const TempTree& t) {
             ASSERT_EQ(::mkfifo(t.path("src/pipe").c_str(), 0644), 0);
             ASSERT_EQ(::mkfifo(t.path("src/real/pipe.shtml").c_str(), 0644), 0);
         },
         "",
         Log{warning("Skipping pipe (not a regular file)"), warning("Skipping real/pipe.shtml (not a regular file)"),
             message("Copying real/r.txt...")},
         Tree{{"real", "<dir>"}, {"real/r.txt", "r"}}},
        {"FIFO matching a skip mask is skipped quietly",
         [](const TempTree& t) { ASSERT_EQ(::mkfifo(t.path("src/pipe.inc").c_str(), 0644), 0); },
         "",
         Log{message("Copying real/r.txt...")},
         Tree{{"real", "<dir>"}, {"real/r.txt", "r"}}},
    };
    for (const row_t& row : rows) {
        SCOPED_TRACE(row.name);
        TempTree t;
        t.write("src/real/r.txt", "r");
        row.prepare(t);
        const run_t run = convert(t.path("src"), t.path("dst"));
        std::string error = row.error;
        if (const std::size_t at = error.find('@'); at != std::string::npos) error.replace(at, 1, t.path());
        EXPECT_EQ(run.error, error);
        EXPECT_EQ(run.log, row.log);
        EXPECT_EQ(read_tree(t.path("dst")), row.tree);
    }
}

TEST(ConvertDirectory, RefusesADestinationThatIsOrHoldsTheSource) {
    TempTree t;
    t.write("site/src/a.txt", "a");
    ASSERT_EQ(::symlink("site/src", t.path("link").c_str()), 0);
    const Tree before = read_tree(t.path());
    for (const std::string& destination :
         {t.path("site/src"), t.path("site/src/"), t.path("site/src/.."), t.path("site"), t.path(), t.path("link"),
          t.path("site/../site/src")}) {
        SCOPED_TRACE(destination);
        const run_t run = convert(t.path("site/src"), destination);
        EXPECT_EQ(run.error, "Destination directory must not contain the source directory");
        EXPECT_EQ(run.log, Log{});
        EXPECT_EQ(read_tree(t.path()), before);
    }
}

TEST(ConvertDirectory, LeavesADestinationInsideTheSourceOutOfTheWalk) {
    // A new destination, and an existing one holding a file of its own.
    for (const std::string destination : {"out", "pub"}) {
        SCOPED_TRACE(destination);
        TempTree t;
        t.write("src/a.txt", "a");
        Tree expected{{"a.txt", "a"}, {destination, "<dir>"}, {destination + "/a.txt", "a"}};
        if (destination == "pub") {
            t.write("src/pub/old.txt", "stays");
            expected["pub/old.txt"] = "stays";
        }
        for (int run_number = 0; run_number < 2; ++run_number) {
            const run_t run = convert(t.path("src"), t.path("src/") + destination);
            EXPECT_EQ(run.error, "");
            EXPECT_EQ(run.log, (Log{message("Copying a.txt...")}));
            EXPECT_EQ(read_tree(t.path("src")), expected);
        }
    }
}

TEST(ConvertDirectory, SourceAndDestinationProblemsNameThePath) {
    TempTree t;
    t.write("src/sub/x.txt", "x");
    t.write("src/b.shtml", "b");
    t.write("dst/sub", "a file where a folder should be");
    t.write("plain", "");
    struct row_t {
        const char* name;
        std::string source;
        std::string destination;
        std::string error;
        Log log;
    };
    const row_t rows[] = {
        {"missing source", t.path("none"), t.path("out1"), t.path("none") + ": No such file or directory", Log{}},
        {"source is a file", t.path("plain"), t.path("out2"), t.path("plain") + ": Not a directory", Log{}},
        {"destination under a file", t.path("src"), t.path("plain/out"), t.path("plain/out") + ": Not a directory",
         Log{}},
        {"destination is a file", t.path("src"), t.path("plain"), t.path("plain") + ": Not a directory", Log{}},
        {"a file where a folder should be", t.path("src"), t.path("dst"),
         t.path("dst/sub/x.txt") + ": Not a directory",
         Log{message("Converting b.shtml..."), message("Copying sub/x.txt...")}},
    };
    for (const row_t& row : rows) {
        SCOPED_TRACE(row.name);
        const run_t run = convert(row.source, row.destination);
        EXPECT_EQ(run.error, row.error);
        EXPECT_EQ(run.log, row.log);
    }
}

TEST(ConvertDirectory, RefusesADestinationFileThatIsTheSourceFile) {
    for (const char* name : {"a.shtml", "a.txt"}) {
        SCOPED_TRACE(name);
        TempTree t;
        const std::string source = t.write(std::string("src/") + name, "source text");
        t.make_dir("dst");
        ASSERT_EQ(::link(source.c_str(), t.path(std::string("dst/") + name).c_str()), 0);
        const run_t run = convert(t.path("src"), t.path("dst"));
        EXPECT_EQ(run.error, t.path(std::string("dst/") + name) + ": is the same file as " + source);
        EXPECT_EQ(read_file(source), "source text");
    }
}

TEST(ConvertDirectory, ControlCountsFilesAndCancelsBetweenThem) {
    TempTree t;
    t.write("src/a.txt", "a");
    t.write("src/b/c.shtml", "c");
    t.write("src/b/x.inc", "skipped");
    t.write("src/d.txt", "d");
    EXPECT_EQ(count_files(t.path("src"), t.path("dst"), default_preferences()), 3u);

    conversion_control_t control;
    RecordingLog log;
    convert_directory("", t.path("src"), t.path("dst"), default_preferences(), log, &control);
    EXPECT_EQ(control.files_done.load(), 3u);

    conversion_control_t cancelled;
    cancelled.cancel = true;
    RecordingLog quiet;
    EXPECT_THROW(convert_directory("", t.path("src"), t.path("dst2"), default_preferences(), quiet, &cancelled),
                 conversion_cancelled);
    EXPECT_EQ(quiet.lines(), Log{});
    EXPECT_EQ(read_tree(t.path("dst2")), Tree{});
}
