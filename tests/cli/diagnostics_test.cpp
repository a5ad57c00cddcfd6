// The command line's contract with terminals and scripts: exit statuses, which stream gets
// what, colour, repeated diagnostics, and the wording of usage mistakes.
#include "cli.h"
#include "run_cli_result.h"
#include "console.h"
#include "suggest.h"

#include "temp_tree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }
}  // namespace

TEST(CliContract, ExitStatusTellsWhetherAnythingWentWrong) {
    TempTree t;
    t.write("clean/a.shtml", "a");
    t.write("warns/a.shtml", "<!--#bogus -->");
    t.write("errs/a.shtml", "<!--#echo --> the page is still written");
    const struct { std::vector<std::string> args; int code; } rows[] = {
        {{t.path("clean"), t.path("o1")}, 0},
        {{t.path("warns"), t.path("o2")}, 0},
        {{"--werror", t.path("warns"), t.path("o3")}, 1},
        {{t.path("errs"), t.path("o4")}, 1},
        {{"-k", t.path("errs"), t.path("o5")}, 1},
        {{"--check", t.path("errs")}, 1},
        {{"--check", t.path("warns")}, 0},
        {{"--check", "--werror", t.path("warns")}, 1},
        {{"--jobs", "0", t.path("clean"), t.path("o6")}, 2},
        {{t.path("clean"), t.path("clean")}, 2},
        {{t.path("gone"), t.path("o7")}, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args[row.args.size() - 2] + " " + row.args.back());
        const cli_result_t result = run(row.args);
        EXPECT_EQ(result.code, row.code) << result.err;
    }
    // An error is reported, the run completes and the page is written.
    const cli_result_t errs = run({"-q", t.path("errs"), t.path("o8")});
    EXPECT_EQ(errs.out, "1 document converted, 0 files copied, 0 skipped; 1 error, 0 warnings\n");
    EXPECT_EQ(read_tree(t.path("o8")), (Tree{{"a.shtml", " the page is still written"}}));
}

// A warning reached through the same include by many pages prints once, with a note that
// counts the other pages; the summary counts every one.
TEST(CliContract, RepeatedDiagnosticsOfAnIncludeCollapse) {
    TempTree t;
    t.write("src/inc/menu.inc", "x <!--#bogus -->");
    for (const char* page : {"src/a.shtml", "src/b.shtml", "src/c/d.shtml"})
        t.write(page, "<!--#include virtual=\"/inc/menu.inc\" -->");
    t.write("src/e.shtml", "<!--#include virtual=\"/inc/menu.inc\" --><!--#include virtual=\"/inc/menu.inc\" -->");
    const std::string src = t.path("src") + "/";
    const std::string warning = src + "inc/menu.inc:1:3: warning: Unknown SSI command: bogus\n";
    const std::string summary = "4 documents converted, 0 files copied, 1 skipped; 0 errors, 5 warnings\n";

    cli_result_t result = run({"-q", "--convert", "*.shtml", "--skip", "inc", t.path("src"), t.path("dst")});
    EXPECT_EQ(result.err, warning + src + "a.shtml:1:1: note: included from here\n" + src +
                              "inc/menu.inc:1:3: note: the same warning in 3 other pages\n");
    EXPECT_EQ(result.out, summary);

    result = run({"-q", "--all-diagnostics", "--skip", "inc", t.path("src"), t.path("dst")});
    EXPECT_EQ(result.err, warning + src + "a.shtml:1:1: note: included from here\n" + warning + src +
                              "b.shtml:1:1: note: included from here\n" + warning + src +
                              "c/d.shtml:1:1: note: included from here\n" + warning + src +
                              "e.shtml:1:1: note: included from here\n" + warning + src +
                              "e.shtml:1:41: note: included from here\n");
    EXPECT_EQ(result.out, summary);
}

TEST(CliContract, ColourFollowsTheOptionTheEnvironmentAndTheTerminal) {
    TempTree t;
    t.write("src/a.shtml", "<!--#bogus -->");
    const std::string coloured = "\x1b[1m" + t.path("src") + "/a.shtml:1:1:\x1b[0m \x1b[1;35mwarning:\x1b[0m Unknown "
                                 "SSI command: bogus\n";
    const std::string plain = t.path("src") + "/a.shtml:1:1: warning: Unknown SSI command: bogus\n";
    console_t terminal;
    terminal.err_terminal = true;
    console_t no_color = terminal;
    no_color.no_color = "1";
    console_t empty_no_color = terminal;
    empty_no_color.no_color = "";
    console_t forced;
    forced.clicolor_force = "1";
    console_t not_forced;
    not_forced.clicolor_force = "0";
    console_t dumb = terminal;
    dumb.term = "dumb";
    const struct { const char* name; std::string color; console_t console; bool colour; } rows[] = {
        {"pipe", "auto", {}, false},
        {"terminal", "auto", terminal, true},
        {"NO_COLOR", "auto", no_color, false},
        {"empty NO_COLOR", "auto", empty_no_color, true},
        {"CLICOLOR_FORCE", "auto", forced, true},
        {"CLICOLOR_FORCE=0", "auto", not_forced, false},
        {"dumb terminal", "auto", dumb, false},
        {"always beats a pipe", "always", {}, true},
        {"always beats NO_COLOR", "always", no_color, true},
        {"never beats a terminal", "never", terminal, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const cli_result_t result = run({"-q", "--color=" + row.color, "--check", t.path("src")}, row.console);
        EXPECT_EQ(result.err, row.colour ? coloured : plain);
        EXPECT_EQ(result.out.find('\x1b'), std::string::npos);
    }
}

// One message per mistake, in plain words, with the option that was probably meant.
TEST(CliContract, UsageMistakesAreNamedOnce) {
    TempTree t;
    t.make_dir("src");
    const struct { std::vector<std::string> args; std::string message; } rows[] = {
        {{"--chek", "src"}, "orrinfold: error: unknown option '--chek'; did you mean '--check'?"},
        {{"--rename-page", "html", "src", "x"},
         "orrinfold: error: unknown option '--rename-page'; did you mean '--rename-pages'?"},
        {{"--virtualroot=x", "src", "x"}, "orrinfold: error: unknown option '--virtualroot'; did you mean '--virtual-root'?"},
        {{"--werorr", "src", "x"}, "orrinfold: error: unknown option '--werorr'; did you mean '--werror'?"},
        {{"--frobnicate", "src", "x"}, "orrinfold: error: unknown option '--frobnicate'"},
        {{"--jobs", "abc", "src", "x"}, "orrinfold: error: --jobs: 'abc' is not a number of files from 1 to 1024"},
        {{"--watch", "--settle", "0", "src", "x"},
         "orrinfold: error: --settle: '0' is not a number of milliseconds from 1 to 60000"},
        {{"--settle", "50", "src", "x"}, "orrinfold: error: --settle requires --watch"},
        {{"--dialect", "nginx", "src", "x"}, "orrinfold: error: --dialect: 'nginx' is not a dialect: give orrinfold or apache"},
        {{"--color=sometimes", "src", "x"},
         "orrinfold: error: --color: 'sometimes' is not a colour choice: give auto, always or never"},
        {{"--skip", "--chek", "src", "x", "y"}, "orrinfold: error: The following argument was not expected: y"},
        {{"--", "--chek", "x"}, "orrinfold: error: --chek: No such file or directory"},
        {{t.path("src"), t.path("src/")},
         "orrinfold: error: SOURCE and DEST are the same folder (" + t.path("src/") +
             "); give another folder for the static site"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.front());
        const cli_result_t result = run(row.args);
        EXPECT_EQ(first_line(result.err), row.message);
        EXPECT_EQ(result.out, "") << "no summary before a start-up error";
    }
    EXPECT_EQ(edit_distance("--werorr", "--werror"), 1u);
}

// The default dialect meeting Apache's directives ends the run with one suggestion.
TEST(CliContract, ApacheDirectivesSuggestTheApacheDialect) {
    TempTree t;
    t.write("src/a.shtml", "<!--#if expr=\"1\" -->a<!--#else -->b<!--#endif -->");
    t.write("src/b.shtml", "<!--#include file=\"a.inc\" -->");
    t.write("src/a.inc", "a");
    const std::string hint = "orrinfold: note: the site uses Apache's directives (if/elif/else/endif, include file): "
                             "if it was written for Apache httpd, convert it with --dialect apache "
                             "('orrinfold init --dialect apache' keeps that in orrinfold.toml)\n";
    const cli_result_t orrinfold = run({"--check", t.path("src")});
    EXPECT_EQ(std::count(orrinfold.err.begin(), orrinfold.err.end(), '\n'), 5) << orrinfold.err;
    EXPECT_TRUE(orrinfold.err.ends_with(hint)) << orrinfold.err;
    // The same note ends the JSON lines.
    const cli_result_t json = run({"--check", "--log-format=json", t.path("src")});
    EXPECT_NE(json.out.find("{\"event\":\"diagnostic\",\"severity\":\"note\",\"message\":\"the site uses Apache's"),
              std::string::npos)
        << json.out;
    const cli_result_t apache = run({"--check", "--dialect", "apache", t.path("src")});
    EXPECT_EQ(apache.err, "");
    EXPECT_EQ(apache.code, 0);
}

// A dry run lists what a run would do, from the record of the last one, and writes nothing:
// not DEST, not the record.
TEST(CliContract, DryRunListsWhatARunWouldDoAndWritesNothing) {
    TempTree t;
    t.write("src/a.shtml", "a");
    t.write("src/b.txt", "b");
    t.write("src/c.txt", "c");
    const std::vector<std::string> dry = {"-n", "--state-dir", t.path("state"), t.path("src"), t.path("dst")};
    cli_result_t result = run(dry);
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.out, "convert a.shtml\ncopy b.txt\ncopy c.txt\ndry run: 1 document to convert, 2 files to copy, "
                          "0 skipped; 0 errors, 0 warnings, 0 documents failed\nFinished!\n");
    EXPECT_FALSE(read_tree(t.path()).contains("dst"));

    ASSERT_EQ(run({"-q", "--state-dir", t.path("state"), t.path("src"), t.path("dst")}).code, 0);
    Tree before = read_tree(t.path());
    result = run(dry);
    EXPECT_EQ(result.out, "up to date a.shtml\nup to date b.txt\nup to date c.txt\ndry run: 0 documents to convert, 0 "
                          "files to copy, 0 skipped, 3 up to date; 0 errors, 0 warnings, 0 documents failed\nFinished!\n");
    EXPECT_EQ(read_tree(t.path()), before);

    t.write("src/b.txt", "changed");
    std::filesystem::remove(t.path("src/c.txt"));
    t.write("src/d.txt", "d");
    before = read_tree(t.path());
    result = run(dry);
    EXPECT_EQ(result.out, "up to date a.shtml\ncopy b.txt\ncopy d.txt\nremove c.txt\ndry run: 0 documents to convert, 2 "
                          "files to copy, 0 skipped, 1 up to date, 1 to remove; 0 errors, 0 warnings, 0 documents "
                          "failed\nFinished!\n");
    EXPECT_EQ(read_tree(t.path()), before);
    // What it listed is what the run then does.
    result = run({"--state-dir", t.path("state"), t.path("src"), t.path("dst")});
    EXPECT_TRUE(result.out.starts_with("Copying b.txt...\nCopying d.txt...\nRemoving c.txt...\n")) << result.out;
}
