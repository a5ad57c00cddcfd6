#include "cli.h"

#include "temp_tree.h"

#include <gtest/gtest.h>

#include <sstream>
#include <unistd.h>
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
}  // namespace

TEST(Cli, RunsPrintProgressAndEndWithFinishedOrTheError) {
    TempTree t;
    t.write("src/a.shtml", "<!--#bogus --><!--#echo var=\"SERVER_SOFTWARE\" -->");
    t.write("src/b.txt", "b");
    const struct {
        std::vector<std::string> args;
        int code;
        std::string out, err;
    } rows[] = {
        {{t.path("src"), t.path("dst")}, 0,
         "Converting a.shtml...\nUnknown SSI command: bogus\nCopying b.txt...\nFinished!\n", ""},
        {{"-q", t.path("src"), t.path("dst")}, 0, "Unknown SSI command: bogus\n", ""},
        {{"--quiet", t.path("src"), t.path()}, 1, "",
         "orrinfold: Destination directory must not contain the source directory\n"},
        {{t.path("none"), t.path("dst2")}, 1, "", "orrinfold: " + t.path("none") + ": No such file or directory\n"},
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

TEST(Cli, OptionsReachTheConversion) {
    TempTree t;
    t.write("site/inc/menu.txt", "M");
    t.write("site/pages/a.htm", "<!--#include virtual=\"/inc/menu.txt\" -->");
    t.write("site/pages/b.shtml", "b");
    const cli_result_t result = run({"--convert", "*.htm  *.txt", "--skip", "*.shtml inc", "--virtual-root",
                                     t.path("site"), t.path("site"), t.path("out/deep")});
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.out, "Converting pages/a.htm...\nFinished!\n");
    EXPECT_EQ(read_tree(t.path("out")), (Tree{{"deep", "<dir>"}, {"deep/pages", "<dir>"}, {"deep/pages/a.htm", "M"}}));
}

TEST(Cli, UsageErrorsExitWithTwoHelpAndVersionWithZero) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{}, {"only-source"}, {"--bogus", "a", "b"}, {"a", "b", "c"}}) {
        SCOPED_TRACE(args.empty() ? "no arguments" : args.front());
        const cli_result_t result = run(args);
        EXPECT_EQ(result.code, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(result.err.starts_with("orrinfold: ")) << result.err;
        EXPECT_TRUE(result.err.ends_with("Try 'orrinfold --help' for more.\n")) << result.err;
    }
    const cli_result_t help = run({"--help"});
    EXPECT_EQ(help.code, 0);
    for (const char* text : {"--virtual-root", "--convert", "--skip", "--quiet", "SOURCE", "DEST", "Masks:",
                             "Virtual root:", "*.shtml *.shtm *.sht", "*.inc include", "Exit status"})
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    const cli_result_t version = run({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, "Orrinfold 1.15\n");
}
