#include "cli.h"

#include "temp_tree.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {
struct cli_result_t {
    int code;
    std::string out;
    std::string err;
};

cli_result_t run(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = run_cli(args, out, err);
    return {code, out.str(), err.str()};
}

const std::string usage = "Usage: orrinfold [--virtual-root DIR] [--convert MASKS] [--skip MASKS] [-q] SOURCE DEST\n"
                          "       orrinfold --help | --version\n"
                          "Try 'orrinfold --help' for more.\n";
}  // namespace

TEST(Cli, GoodRunPrintsProgressAndFinished) {
    TempTree t;
    t.write("src/a.shtml", "<!--#echo var=\"SERVER_SOFTWARE\" -->");
    t.write("src/b.txt", "b");
    t.write("src/c.shtml", "<!--#bogus -->");
    const cli_result_t result = run({t.path("src"), t.path("dst")});
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.out, "Converting a.shtml...\nCopying b.txt...\nConverting c.shtml...\n"
                          "Unknown SSI command: bogus\nFinished!\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read_tree(t.path("dst")), (Tree{{"a.shtml", "Orrinfold 1.15"}, {"b.txt", "b"}, {"c.shtml", ""}}));
}

TEST(Cli, QuietKeepsOnlyErrorsAndWarnings) {
    TempTree t;
    t.write("src/a.shtml", "<!--#bogus --><!--#echo -->");
    t.write("src/b.txt", "b");
    for (const char* flag : {"-q", "--quiet"}) {
        SCOPED_TRACE(flag);
        const cli_result_t result = run({flag, t.path("src"), t.path("dst")});
        EXPECT_EQ(result.code, 0);
        EXPECT_EQ(result.out, "Unknown SSI command: bogus\nMissing required argument 'var' in command 'echo'\n");
        EXPECT_EQ(result.err, "");
    }
}

TEST(Cli, OptionsReachTheConversion) {
    TempTree t;
    t.write("site/inc/menu.txt", "M");
    t.write("site/pages/a.htm", "<!--#include virtual=\"/inc/menu.txt\" -->");
    t.write("site/pages/b.shtml", "b");
    const cli_result_t result = run({"--convert", "*.htm  *.txt", "--skip", "*.shtml inc", "--virtual-root",
                                     t.path("site"), t.path("site"), t.path("out/deep/er")});
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.out, "Converting pages/a.htm...\nFinished!\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read_tree(t.path("out")), (Tree{{"deep", "<dir>"},
                                              {"deep/er", "<dir>"},
                                              {"deep/er/pages", "<dir>"},
                                              {"deep/er/pages/a.htm", "M"}}));
}

TEST(Cli, FailedRunReportsOnErrorStream) {
    TempTree t;
    t.write("src/a.shtml", "before<!--#include virtual=\"missing.inc\" -->");
    t.write("src/b.txt", "b");
    const cli_result_t result = run({t.path("src"), t.path("dst")});
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.out, "Converting a.shtml...\n");
    EXPECT_EQ(result.err, "orrinfold: " + t.path("src/missing.inc") + ": No such file or directory\n");
    EXPECT_EQ(read_tree(t.path("dst")), (Tree{{"a.shtml", "before"}}));

    const cli_result_t overlap = run({t.path("src"), t.path()});
    EXPECT_EQ(overlap.code, 1);
    EXPECT_EQ(overlap.out, "");
    EXPECT_EQ(overlap.err, "orrinfold: Destination directory must not contain the source directory\n");

    const cli_result_t missing = run({"-q", t.path("none"), t.path("dst2")});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err, "orrinfold: " + t.path("none") + ": No such file or directory\n");
}

TEST(Cli, UsageErrorsExitWithTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {}, {"only-source"}, {"--bogus", "a", "b"}, {"a", "b", "c"}, {"--convert"}, {"-x", "a", "b"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.empty() ? "no arguments" : args.front());
        const cli_result_t result = run(args);
        EXPECT_EQ(result.code, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(result.err.starts_with("orrinfold: ")) << result.err;
        EXPECT_TRUE(result.err.ends_with(usage)) << result.err;
    }
}

TEST(Cli, HelpAndVersion) {
    const cli_result_t help = run({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.err, "");
    for (const char* text : {"--virtual-root", "--convert", "--skip", "-q", "SOURCE", "DEST", "Masks:",
                             "Virtual root:", "*.shtml *.shtm *.sht", "*.inc include"})
        EXPECT_NE(help.out.find(text), std::string::npos) << text;

    const cli_result_t version = run({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, "Orrinfold 1.15\n");
    EXPECT_EQ(version.err, "");
}
