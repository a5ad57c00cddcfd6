#include "cli.h"
#include "run_cli_result.h"

#include "temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <unistd.h>

TEST(Cli, RunsPrintProgressAndEndWithFinishedOrTheError) {
    TempTree t;
    t.write("src/a.shtml", "<!--#bogus --><!--#echo var=\"SERVER_SOFTWARE\" -->");
    t.write("src/b.txt", "b");
    const std::string done = "1 document converted, 1 file copied, 0 skipped; 0 errors, 1 warning\n";
    const std::string warning = t.path("src") + "/a.shtml:1:1: warning: Unknown SSI command: bogus\n";
    const struct { std::vector<std::string> args; int code; std::string out, err; } rows[] = {
        {{t.path("src"), t.path("dst")}, 0, "Converting a.shtml...\nCopying b.txt...\n" + done + "Finished!\n", warning},
        // Run again: the copy is up to date, the page that warned is done again to warn again.
        {{"-q", t.path("src"), t.path("dst")}, 0,
         "1 document converted, 0 files copied, 0 skipped, 1 up to date; 0 errors, 1 warning\n", warning},
        // A SOURCE that is not there is named before anything runs: no summary.
        {{"--quiet", t.path("none"), t.path("dst2")}, 1, "",
         "orrinfold: error: " + t.path("none") + ": No such file or directory\n"},
        // ... and with JSON lines asked for, in one of them as well.
        {{"--log-format=json", t.path("none"), t.path("dst2")}, 1,
         "{\"event\":\"diagnostic\",\"severity\":\"error\",\"message\":\"" + t.path("none") +
             ": No such file or directory\",\"fatal\":true}\n",
         "orrinfold: error: " + t.path("none") + ": No such file or directory\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.front());
        const cli_result_t result = run(row.args);
        EXPECT_EQ(result.code, row.code);
        EXPECT_EQ(result.out, row.out);
        EXPECT_EQ(result.err, row.err);
    }
    EXPECT_EQ(read_tree(t.path("dst")), (Tree{{"a.shtml", "Orrinfold 1.15"}, {"b.txt", "b"}}));
    EXPECT_NE(::access(t.path("dst2").c_str(), F_OK), 0);  // no folder left behind
}

// Control characters in names are shown as C escapes, so that each file gives one line and a
// hostile name cannot forge lines of its own.
TEST(Cli, NamesWithControlCharactersStayOnOneLine) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows names cannot hold control characters";
#else
    TempTree t;
    t.write("src/a\nb.txt", "a");
    t.write("src/back\\n.txt", "b");
    t.write("src/esc\x1b[31m.txt", "c");
    t.write("src/tab\t.shtml", "<!--#bogus -->");
    t.write("src/z\r.shtml", "<!--#include virtual=\"gone\x7f.inc\" -->");
    const cli_result_t result = run({t.path("src"), t.path("dst")});
    EXPECT_EQ(result.code, 1);
    const std::string progress = "Copying a\\nb.txt...\nCopying back\\n.txt...\nCopying esc\\x1b[31m.txt...\n"
                                 "Converting tab\\t.shtml...\nConverting z\\r.shtml...\n";
    EXPECT_EQ(result.out.substr(0, progress.size()), progress);
    EXPECT_EQ(std::count(result.out.begin() + static_cast<std::ptrdiff_t>(progress.size()), result.out.end(), '\n'), 1)
        << "one summary line";
    const std::string src = t.path("src");
    EXPECT_EQ(result.err, src + "/tab\\t.shtml:1:1: warning: Unknown SSI command: bogus\n" + src +
                              "/z\\r.shtml:1:1: error: " + src + "/gone\\x7f.inc: No such file or directory\n");
#endif
}

// Mask options add up and may be empty; the virtual root is SOURCE unless given ('' for none).
TEST(Cli, OptionsReachTheConversion) {
    TempTree t;
    t.write("site/inc/menu.txt", "M");
    const std::string page = t.write("site/pages/a.htm", "<!--#include virtual=\"/inc/menu.txt\" -->");
    t.write("site/pages/b.shtml", "b");
    const std::string done = "Converting pages/a.htm...\n1 document converted, 0 files copied, 2 skipped; 0 errors, "
                             "0 warnings\nFinished!\n";
    const struct { std::vector<std::string> options; std::string out, a_htm; } rows[] = {
        {{"--convert", "*.htm", "--convert", "*.txt", "--skip", "*.shtml inc"}, done, "M"},
        {{"--convert", "*.htm  *.txt", "--skip=*.shtml", "--skip", "inc", "--virtual-root", t.path("site")}, done, "M"},
        {{"--convert=", "--skip", "", "--virtual-root="},
         "Copying inc/menu.txt...\nCopying pages/a.htm...\nCopying pages/b.shtml...\n0 documents converted, 3 files "
         "copied, 0 skipped; 0 errors, 0 warnings\nFinished!\n",
         read_file(page)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.options.front());
        std::vector<std::string> args = row.options;
        args.insert(args.end(), {t.path("site"), t.path("out/deep")});
        const cli_result_t result = run(args);
        EXPECT_EQ(result.code, 0);
        EXPECT_EQ(result.out, row.out);
        EXPECT_EQ(read_file(t.path("out/deep/pages/a.htm")), row.a_htm);
        std::filesystem::remove_all(t.path("out"));
    }
    // Without a root, a "/"-path that is not found says why and how to give one.
    const cli_result_t result = run({"--convert", "*.htm", "--virtual-root", "", t.path("site"), t.path("out")});
    EXPECT_EQ(result.err, t.path("site") + "/pages/a.htm:1:1: error: " + t.path("site/pages") +
                              "//inc/menu.txt: No such file or directory (no virtual root is set, so paths starting "
                              "with '/' are taken relative to the document; leave out --virtual-root '' to take "
                              "them from SOURCE, or give a root with --virtual-root DIR)\n");
}

// Diagnostics name the document under SOURCE, its line and column, and the includes that led
// there; -k goes on past a failed document, whose output is not written.
TEST(Cli, LocatedDiagnosticsKeepGoingWerrorAndCheck) {
    TempTree t;
    t.write("src/a.shtml", "x\n <!--#include virtual=\"inc/one.inc\" -->");
    t.write("src/inc/one.inc", "\n\xC3\xA9 <!--#echo vr=\"x\" -->");
    t.write("src/b.shtml", "before <!--#include virtual=\"missing.inc\" -->");
    t.write("src/c.txt", "c");
    const std::string missing = t.path("src/missing.inc") + ": No such file or directory";
    const std::string src = t.path("src") + "/";
    const std::string note = src + "a.shtml:2:2: note: included from here\n";

    cli_result_t result = run({t.path("src"), t.path("stop")});
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.err, src + "inc/one.inc:2:3: warning: Unsupported argument 'vr' in command 'echo'\n" + note +
                              src + "inc/one.inc:2:3: error: Missing required argument 'var' in command 'echo'\n" +
                              note + src + "b.shtml:1:8: error: " + missing + "\n");
    EXPECT_FALSE(read_tree(t.path("stop")).contains("b.shtml"));  // a failed page is not written

    result = run({"-k", "-q", t.path("src"), t.path("dst")});
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.out, "1 document converted, 1 file copied, 1 skipped; 2 errors, 1 warning, 1 document failed (b.shtml)\n");
    EXPECT_EQ(result.err, src + "inc/one.inc:2:3: warning: Unsupported argument 'vr' in command 'echo'\n" + note +
                              src + "inc/one.inc:2:3: error: Missing required argument 'var' in command 'echo'\n" +
                              note + src + "b.shtml:1:8: error: " + missing + "\n");
    EXPECT_EQ(read_tree(t.path("dst")), (Tree{{"a.shtml", "x\n \n\xC3\xA9 "}, {"c.txt", "c"}, {"inc", "<dir>"}}));

    // --werror reaches the run (the statuses it gives: run_driver_test).
    t.write("src/b.shtml", "b");
    t.write("src/a.shtml", "<!--#bogus -->");
    EXPECT_EQ(run({"-q", t.path("src"), t.path("dst")}).code, 0);
    EXPECT_EQ(run({"-q", "--werror", t.path("src"), t.path("dst")}).code, 1);
    t.write("src/a.shtml", "a");

    // A check writes nothing and warns about what silently gives wrong pages.
    t.write("src/b.shtml", "<!--#echo var=\"unset\" --><!--#set var=\"x\" value=\"1\" --><!--#echo var=\"x\" -->\n"
                           "<!--#include virtual=\"/c.txt\" --><!--#include virtual=\"logo.gif\" -->");
    t.write("src/logo.gif", std::string("GIF89a\0\0", 8));
    const Tree before = read_tree(t.path());
    result = run({"--check", "--virtual-root", "", t.path("src")});
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.err, src + "b.shtml:1:1: warning: Variable 'unset' is not set: echo prints (none)\n" + src +
                              "b.shtml:2:1: warning: Path '/c.txt' starts with '/' but no virtual root is set: it is "
                              "taken relative to the document\n" +
                              src + "b.shtml:2:34: warning: Included file is not text: " + t.path("src/logo.gif") + "\n");
    EXPECT_EQ(result.out, "2 documents checked, 2 files to copy, 1 skipped; 0 errors, 3 warnings, 0 documents failed\n");
    EXPECT_EQ(read_tree(t.path()), before);
}

TEST(Cli, UsageErrorsExitWithTwoHelpAndVersionWithZero) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{
             {}, {"only-source"}, {"--bogus", "a", "b"}, {"a", "b", "c"}, {"--dialect", "nginx", "a", "b"}}) {
        SCOPED_TRACE(args.empty() ? "no arguments" : args.front());
        const cli_result_t result = run(args);
        EXPECT_EQ(result.code, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(result.err.starts_with("orrinfold: error: ") && result.err.ends_with("Try 'orrinfold --help' for more.\n"))
            << result.err;
    }
    const cli_result_t help = run({"--help"});
    EXPECT_EQ(help.code, 0);
    for (const char* text :
         {"--virtual-root", "--convert", "--skip", "--quiet", "--dialect", "SOURCE", "DEST", "Dialects", "Exit status"})
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    for (const char* option : {"--version", "-V"}) {
        const cli_result_t version = run({option});
        EXPECT_EQ(std::to_string(version.code) + " " + version.out, "0 Orrinfold 1.15\n");
    }
    EXPECT_TRUE(run({"-qz", "a", "b"}).err.starts_with("orrinfold: error: unknown option '-z'\n"));
}

// Ctrl-C stops the run after the file in progress, which is written whole. One worker, so
// that no second file is already in progress when the signal comes.
TEST(Cli, InterruptStopsBetweenFiles) {
    TempTree t;
    t.write("src/a.txt", "a");
    t.write("src/b.txt", "b");
    // A terminal that sends SIGINT as the first progress line appears.
    struct interrupting_buffer : std::stringbuf {
        int sync() override {
            if (str().find("Copying") != std::string::npos && !sent) sent = ::raise(SIGINT) == 0;
            return 0;
        }
        bool sent = false;
    } buffer;
    std::ostream out(&buffer);
    std::ostringstream err;
    EXPECT_EQ(run_cli({"-j", "1", t.path("src"), t.path("dst")}, out, err), 130);
    EXPECT_EQ(buffer.str(), "Copying a.txt...\n0 documents converted, 1 file copied, 0 skipped; 0 errors, 0 warnings\n");
    EXPECT_EQ(err.str(), "orrinfold: Interrupted by SIGINT; every file written is complete\n");
    EXPECT_EQ(read_tree(t.path("dst")), (Tree{{"a.txt", "a"}}));
}

// A log that cannot be written fails the run, as in coreutils.
TEST(Cli, UnwritableOutputIsAWriteError) {
    std::ostream unwritable(nullptr);
    std::ostringstream err;
    EXPECT_EQ(run_cli({"--version"}, unwritable, err), 1);
    EXPECT_EQ(err.str(), "orrinfold: write error: Input/output error\n");
}
