#include "site/apache_config.h"
#include "site/settings_file.h"
#include "site_run.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {
// An Apache-dialect run of src with src as the root, its record in state.
SSIDirectoryPreferences apache(const TempTree& t) {
    SSIDirectoryPreferences preferences = rebuilding(t);
    preferences.dialect = dialect_t::apache;
    return preferences;
}

// A page that says which expression syntax it was read in: to the legacy one "-z 'x'" is a
// string that is not empty, to the newer one a test that 'x' is empty.
constexpr const char* syntax_probe = "<!--#if expr=\"-z 'x'\" -->legacy<!--#else -->new<!--#endif -->";
}  // namespace

TEST(SettingsFile, EveryKeyIsRead) {
    const settings_file_t s = parse_settings(R"(convert = "*.htm *.shtml"
skip = ["*.inc", "tmp"]
allow-outside = "../shared"
dialect = "apache"
virtual-root = "."
ap-expr = true
rename-pages = "html"
redirects = true
check-links = true
keep-going = false
jobs = 3
destination = "../out"
state-dir = "state"
apache-config = "httpd.conf"
apache = "XBitHack on"
)",
                                             "orrinfold.toml");
    EXPECT_EQ(s.convert, (std::vector<std::string>{"*.htm", "*.shtml"}));
    EXPECT_EQ(s.skip, (std::vector<std::string>{"*.inc", "tmp"}));
    EXPECT_EQ(s.allow_outside, (std::vector<std::string>{"../shared"}));
    EXPECT_EQ(s.dialect, "apache");
    EXPECT_EQ(s.virtual_root, ".");
    EXPECT_EQ(s.ap_expr, true);
    EXPECT_EQ(s.rename_pages, "html");
    EXPECT_EQ(s.redirects, true);
    EXPECT_EQ(s.check_links, true);
    EXPECT_EQ(s.keep_going, false);
    EXPECT_EQ(s.jobs, 3u);
    EXPECT_EQ(s.destination, "../out");
    EXPECT_EQ(s.state_dir, "state");
    EXPECT_EQ(s.apache_config, "httpd.conf");
    EXPECT_EQ(s.apache, "XBitHack on");
    EXPECT_FALSE(parse_settings("", "x.toml").dialect.has_value());
}

TEST(SettingsFile, MistakesAreErrorsWithTheirPlace) {
    const struct {
        const char* text;
        const char* error;
    } rows[] = {
        {"dialect = \"apache\"\ncolour = 1\n", "site/orrinfold.toml:2:1: error: unknown key 'colour'"},
        {"jobs = \"4\"", "site/orrinfold.toml:1:8: error: 'jobs' takes a whole number from 1 to 1024"},
        {"jobs = 0", "site/orrinfold.toml:1:8: error: 'jobs' takes a whole number from 1 to 1024"},
        {"ap-expr = \"yes\"", "site/orrinfold.toml:1:11: error: 'ap-expr' takes true or false"},
        {"dialect = \"nginx\"",
         "site/orrinfold.toml:1:11: error: 'dialect' is \"orrinfold\" or \"apache\", not \"nginx\""},
        {"rename-pages = \".html\"", "site/orrinfold.toml:1:16: error: 'rename-pages' is a file name extension"},
        {"skip = [\"a\", 2]", "site/orrinfold.toml:1:14: error: 'skip' takes a string"},
        {"convert = ", "site/orrinfold.toml:1:"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        try {
            parse_settings(row.text, "site/orrinfold.toml");
            ADD_FAILURE() << "no error";
        } catch (const settings_error& e) {
            EXPECT_EQ(std::string(e.what()).substr(0, std::string(row.error).size()), row.error);
        }
    }
}

TEST(SettingsFile, WrittenFileReadsBackAsGiven) {
    settings_file_t given;
    given.dialect = "apache";
    given.convert = {"*.html", "*.shtml"};
    given.virtual_root = "";
    given.jobs = 2;
    given.apache = "SSILegacyExprParser on\nXBitHack full";
    const settings_file_t read = parse_settings(settings_file_text(given, {"a note"}), "orrinfold.toml");
    EXPECT_EQ(read.dialect, given.dialect);
    EXPECT_EQ(read.convert, given.convert);
    EXPECT_EQ(read.virtual_root, given.virtual_root);
    EXPECT_EQ(read.jobs, given.jobs);
    EXPECT_EQ(read.apache, given.apache);
    EXPECT_FALSE(read.skip || read.ap_expr || read.rename_pages || read.destination || read.apache_config);
}

TEST(ApacheConfig, DirectivesDecideWhichFilesAreParsed) {
    const struct {
        const char* directives;
        const char* name;
        unsigned mode;
        bool parsed;
    } rows[] = {
        {"AddOutputFilter INCLUDES .html", "a.html", 0644, true},
        {"AddOutputFilter INCLUDES;DEFLATE html", "a.HTML", 0644, true},
        {"AddOutputFilter DEFLATE .html", "a.html", 0644, false},
        {"AddHandler server-parsed .html .htm", "a.htm", 0644, true},
        {"AddType text/x-server-parsed-html .html", "a.html.en", 0644, true},
        {"AddType text/html .html", "a.html", 0644, false},
        {"SetOutputFilter INCLUDES", "a.txt", 0644, true},
        {"XBitHack on", "a.html", 0744, true},
        {"XBitHack full", "a.html", 0644, false},
        {"XBitHack off", "a.html", 0755, false},
        {"XBitHack on", "a.txt", 0755, false},
        {"AddOutputFilter INCLUDES .html\nOptions -Includes", "a.html", 0644, false},
        {"AddOutputFilter INCLUDES .html\nOptions FollowSymLinks", "a.html", 0644, false},
        {"AddOutputFilter INCLUDES .html\nOptions +FollowSymLinks", "a.html", 0644, true},
        {"AddOutputFilter INCLUDES .html\nOptions None\nOptions +IncludesNOEXEC", "a.html", 0644, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.directives);
        apache_settings_t settings;
        for (const apache_section_t& section : parse_apache_config(row.directives, "x").sections)
            for (const apache_directive_t& directive : section.directives) apply_directive(settings, directive);
        EXPECT_EQ(settings.parses(row.name, row.mode), row.parsed);
    }
}

TEST(ApacheConfig, SectionsAndNotesKeepTheirPlaces) {
    const apache_config_t config = parse_apache_config(
        "DocumentRoot \"/srv/www/\"\n"
        "<IfModule !mod_include.c>\nSSIErrorMsg no\n</IfModule>\n"
        "<Directory /srv/www/new>\n  SSILegacyExprParser off\n"
        "</Directory>\n<Location /x>\nSetOutputFilter INCLUDES\n"
        "</Location>\n<FilesMatch \"\\.html$\">\nXBitHack \\\n"
        "on\n</FilesMatch>\nFooBar 1\n",
        "site.conf");
    EXPECT_EQ(config.document_root, "/srv/www");
    ASSERT_EQ(config.sections.size(), 3u);
    EXPECT_EQ(config.sections[0].directives.size(), 2u);  // DocumentRoot, FooBar
    EXPECT_EQ(config.sections[0].directives[1].line, 15u);
    EXPECT_TRUE(section_applies_to_folder(config.sections[1], "/srv/www", "new/deep"));
    EXPECT_TRUE(section_applies_to_folder({apache_section_t::kind_t::directory, "new/", {}}, "/srv/www", "new"));
    EXPECT_FALSE(section_applies_to_folder(config.sections[1], "/srv/www", "newer"));
    EXPECT_TRUE(section_applies_to_file(config.sections[2], "a.html"));
    EXPECT_FALSE(section_applies_to_file(config.sections[2], "a.htm"));
    apache_settings_t settings;
    EXPECT_NE(apply_directive(settings, config.sections[0].directives[1]), std::nullopt);
    EXPECT_EQ(apply_directive(settings, {"Header", {"set", "X", "y"}, 1}), std::nullopt);
    EXPECT_THROW(parse_apache_config("<Directory />\n", "a.conf"), std::runtime_error);
}

// Apache's own test suite reads one folder in the newer syntax, the rest in the legacy one.
TEST(FolderSettings, ExpressionSyntaxAndMessagesFollowTheFolders) {
    TempTree t;
    t.write("src/.htaccess", "AddOutputFilter INCLUDES .html\nSSILegacyExprParser on\nSSIErrorMsg \"[err]\"\n");
    t.write("src/new/.htaccess", "SSILegacyExprParser off\n");
    for (const char* page : {"src/a.html", "src/new/a.html", "src/new/deep/a.html", "src/old/a.html"})
        t.write(page, std::string(syntax_probe) + "<!--#include virtual=\"/none\" -->");
    const run_t run = convert(t, apache(t));
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(read_file(t.path("dst/a.html")), "legacy[err]");
    EXPECT_EQ(read_file(t.path("dst/old/a.html")), "legacy[err]");
    EXPECT_EQ(read_file(t.path("dst/new/a.html")), "new[err]");
    EXPECT_EQ(read_file(t.path("dst/new/deep/a.html")), "new[err]");
}

TEST(FolderSettings, OneServerConfigurationServesTheWholeSite) {
    TempTree t;
    t.write("httpd.conf", "DocumentRoot " + t.path("src") + "\nAddOutputFilter INCLUDES .html\n<Directory " +
                              t.path("src/new") +
                              ">\nSSILegacyExprParser off\n</Directory>\n<Files plain.html>\nOptions -Includes\n"
                              "</Files>\nSSITimeFormat \"%Y\"\nSSIUndefinedEcho \"?\"\n");
    t.write("src/a.html", syntax_probe);
    t.write("src/new/a.html", std::string(syntax_probe) + "<!--#echo var=\"nothing\" -->");
    t.write("src/plain.html", syntax_probe);
    t.write("src/t.html", "<!--#flastmod file=\"t.html\" -->");
    set_mtime(t.path("src/t.html"), 1000000000);
    t.write("src/new/.htaccess", "SSILegacyExprParser on\n");  // AllowOverride None: never read
    t.write("httpd.conf", read_file(t.path("httpd.conf")) + "<Directory />\nAllowOverride None\n</Directory>\n");
    SSIDirectoryPreferences preferences = apache(t);
    preferences.apache_config = t.path("httpd.conf");
    EXPECT_EQ(convert(t, preferences).error, "");
    EXPECT_EQ(read_file(t.path("dst/a.html")), "legacy");
    EXPECT_EQ(read_file(t.path("dst/new/a.html")), "new?");
    EXPECT_EQ(read_file(t.path("dst/plain.html")), syntax_probe);
    EXPECT_EQ(read_file(t.path("dst/t.html")), "2001");
}

TEST(FolderSettings, IncludedFilesAreParsedAsTheFoldersPagesAre) {
    TempTree t;
    t.write("src/.htaccess", "AddHandler server-parsed .html\n");
    t.write("src/a.shtml", "<!--#include file=\"part.html\" -->|<!--#include file=\"part.txt\" -->");
    t.write("src/part.html", "<!--#echo var=\"DOCUMENT_NAME\" -->");
    t.write("src/part.txt", "<!--#echo var=\"DOCUMENT_NAME\" -->");
    EXPECT_EQ(convert(t, apache(t)).error, "");
    EXPECT_EQ(read_file(t.path("dst/a.shtml")), "a.shtml|<!--#echo var=\"DOCUMENT_NAME\" -->");
}

TEST(FolderSettings, XBitHackParsesExecutablePagesOnly) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows files have no execute bit";
#endif
    TempTree t;
    t.write("src/.htaccess", "XBitHack on\n");
    t.write("src/x.html", "<!--#echo var=\"DOCUMENT_NAME\" -->");
    t.write("src/y.html", "<!--#echo var=\"DOCUMENT_NAME\" -->");
    ::chmod(t.path("src/x.html").c_str(), 0755);
    EXPECT_EQ(convert(t, apache(t)).error, "");
    EXPECT_EQ(read_file(t.path("dst/x.html")), "x.html");
    EXPECT_EQ(read_file(t.path("dst/y.html")), "<!--#echo var=\"DOCUMENT_NAME\" -->");
}

TEST(FolderSettings, ChangedHtaccessRebuildsAndUnknownDirectivesAreNotedOnce) {
    TempTree t;
    t.write("src/.htaccess", "AddOutputFilter INCLUDES .html\nFrobnicate on\n");
    t.write("src/sub/a.html", "<!--#bogus -->");
    t.write("src/sub/b.html", "<!--#bogus -->");
    const run_t first = convert(t, apache(t));
    EXPECT_EQ(std::count_if(first.log.begin(), first.log.end(),
                            [](const std::string& line) { return line.find(".htaccess:2: note: Frobnicate") == 0; }),
              1);
    EXPECT_EQ(read_file(t.path("dst/sub/a.html")), "[an error occurred while processing this directive]");
    t.write("src/sub/.htaccess", "SSIErrorMsg \"\"\n");
    const run_t second = convert(t, apache(t));
    EXPECT_TRUE(logged(second, "Converting sub/a.html"));
    EXPECT_EQ(read_file(t.path("dst/sub/a.html")), "");
}

// Apache takes SSIStartTag and SSIEndTag from the server's configuration only.
TEST(FolderSettings, DirectiveTagsComeFromTheServerConfiguration) {
    TempTree t;
    t.write("httpd.conf", "AddOutputFilter INCLUDES .html\nSSIStartTag \"<%\"\nSSIEndTag %>\nSSIEndTag \"\"\n"
                          "<Directory sub>\nSSIEndTag \"}}\"\n</Directory>\n");
    t.write("src/sub/.htaccess", "SSIStartTag \"{{\"\n");
    const std::string page = "<!--#echo var=\"DOCUMENT_NAME\" -->|<%echo var=\"DOCUMENT_NAME\"%>";
    for (const char* name : {"src/a.html", "src/sub/a.html"}) t.write(name, page);
    SSIDirectoryPreferences preferences = apache(t);
    preferences.apache_config = t.path("httpd.conf");
    const run_t run = convert(t, preferences);
    EXPECT_EQ(run.error, "");
    for (const char* note : {"httpd.conf:4: note: SSIEndTag may not be empty", "httpd.conf:6: note: SSIEndTag is not allowed",
                             "sub/.htaccess:1: note: SSIStartTag is not allowed"})
        EXPECT_TRUE(logged(run, note)) << note;
    for (const char* name : {"dst/a.html", "dst/sub/a.html"})
        EXPECT_EQ(read_file(t.path(name)), "<!--#echo var=\"DOCUMENT_NAME\" -->|a.html") << name;
}

TEST(FolderSettings, DefaultDialectReadsNoApacheConfiguration) {
    TempTree t;
    t.write("src/.htaccess", "AddOutputFilter INCLUDES .html\n");
    t.write("src/a.html", "<!--#bogus -->");
    EXPECT_EQ(convert(t, rebuilding(t)).error, "");
    EXPECT_EQ(read_file(t.path("dst/a.html")), "<!--#bogus -->");
}
