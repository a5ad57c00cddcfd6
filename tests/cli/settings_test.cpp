#include "cli.h"
#include "run_cli_result.h"
#include "site/settings_file.h"

#include "temp_tree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

// The site's file fills in what the command line leaves out; the command line wins.
TEST(SettingsFileRun, FileGivesWhatTheCommandLineLeavesOut) {
    TempTree t;
    t.write("site/orrinfold.toml",
            "convert = [\"*.htm\"]\nskip = \"*.txt\"\nvirtual-root = \"root\"\n"
            "destination = \"../out\"\n");
    t.write("site/root/menu.inc", "M");
    t.write("site/a.htm", "<!--#include virtual=\"/menu.inc\" -->");
    t.write("site/b.shtml", "<!--#set var=\"b\" value=\"B\" --><!--#echo var=\"b\" -->");
    t.write("site/c.txt", "c");
    const struct {
        std::vector<std::string> options;
        Tree out;
    } rows[] = {
        {{},
         {{"a.htm", "M"},
          {"b.shtml", "<!--#set var=\"b\" value=\"B\" --><!--#echo var=\"b\" -->"},
          {"root", "<dir>"},
          {"root/menu.inc", "M"}}},
        {{"--convert", "*.shtml", "--skip", "root"},
         {{"a.htm", "<!--#include virtual=\"/menu.inc\" -->"}, {"b.shtml", "B"}, {"c.txt", "c"}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.options.size());
        std::vector<std::string> args = row.options;
        args.push_back(t.path("site"));  // DEST from the file, taken from its folder
        const cli_result_t result = run(args);
        EXPECT_EQ(result.code, 0) << result.err;
        EXPECT_EQ(read_tree(t.path("out")), row.out);
        std::filesystem::remove_all(t.path("out"));
    }
    // -v names the file; --config reads another one instead.
    t.write("other.toml", "convert = \"*.shtml\"\n");
    const cli_result_t verbose = run({"-v", "--config", t.path("other.toml"), t.path("site"), t.path("out")});
    EXPECT_TRUE(verbose.out.starts_with("Settings read from " + t.path("other.toml") + "\n")) << verbose.out;
    EXPECT_EQ(read_file(t.path("out/b.shtml")), "B");
    EXPECT_FALSE(read_tree(t.path("out")).contains("orrinfold.toml"));  // the site's own file is left out too
}

TEST(SettingsFileRun, MistakesInTheFileAreUsageErrorsWithTheirPlace) {
    TempTree t;
    t.write("site/orrinfold.toml", "dialect = \"apache\"\njobs = -1\n");
    const cli_result_t result = run({t.path("site"), t.path("out")});
    EXPECT_EQ(result.code, 2);
    EXPECT_EQ(result.err, t.path("site/orrinfold.toml") + ":2:8: error: 'jobs' takes a whole number from 1 to 1024\n");
    EXPECT_EQ(run({"--config", t.path("none.toml"), t.path("site"), t.path("out")}).code, 2);
}

// init writes what it was given and what the site's .htaccess says; a run then needs no option.
TEST(SettingsFileRun, InitWritesAFileThatARunThenReads) {
    TempTree t;
    t.write("site/.htaccess", "Options +Includes\nAddOutputFilter INCLUDES .html\n");
    t.write("site/a.html", "<!--#if expr=\"$DOCUMENT_NAME = /a/\" -->yes<!--#endif -->");
    cli_result_t result = run({"init", "--convert", "*.shtml", "--jobs", "2", t.path("site"), "../out"});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_TRUE(result.out.find(".htaccess:2: AddOutputFilter INCLUDES .html") != std::string::npos) << result.out;
    const std::string written = read_file(t.path("site/orrinfold.toml"));
    const settings_file_t read = parse_settings(written, "orrinfold.toml");
    EXPECT_EQ(read.dialect, "apache");
    EXPECT_EQ(read.convert, std::vector<std::string>{"*.shtml"});
    EXPECT_EQ(read.jobs, 2u);
    EXPECT_EQ(read.destination, "../out");

    result = run({t.path("site")});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(read_file(t.path("out/a.html")), "yes");

    // Never over an existing file.
    result = run({"init", t.path("site")});
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(read_file(t.path("site/orrinfold.toml")), written);
}

// A site whose own .htaccess turns Apache's includes on is converted as Apache serves it, with
// no option given, and says so; the command line or a settings file still decides.
TEST(SettingsFileRun, HtaccessTurningIncludesOnChoosesTheApacheDialect) {
    const struct {
        const char* htaccess;
        std::vector<std::string> options;
        bool apache;
    } rows[] = {
        {"AddOutputFilter INCLUDES .html\n", {}, true},
        {"XBitHack off\nAddOutputFilter DEFLATE .html\n", {}, false},
        {"AddOutputFilter INCLUDES .html\n", {"--dialect", "orrinfold"}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.htaccess);
        TempTree t;
        t.write("site/.htaccess", row.htaccess);
        t.write("site/a.html", "<!--#if expr=\"1\" -->yes<!--#endif -->");
        std::vector<std::string> args = row.options;
        args.push_back(t.path("site"));
        args.push_back(t.path("out"));
        const cli_result_t result = run(args);
        EXPECT_EQ(result.code, 0) << result.err;
        EXPECT_EQ(read_file(t.path("out/a.html")), row.apache ? "yes" : "<!--#if expr=\"1\" -->yes<!--#endif -->");
        EXPECT_EQ(result.err.find(".htaccess:1: AddOutputFilter INCLUDES .html turns Apache's") != std::string::npos,
                  row.apache)
            << result.err;
    }
}
