#include "site/redirects.h"
#include "site_run.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {
SSIDirectoryPreferences apache_run(const TempTree& t, bool redirects) {
    SSIDirectoryPreferences preferences = rebuilding(t);
    preferences.dialect = dialect_t::apache;
    preferences.redirects = redirects;
    return preferences;
}

bool exists(const TempTree& t, const char* path) { return std::filesystem::exists(t.path(path)); }
}  // namespace

TEST(Redirects, WhichDirectivesAPageCanStandFor) {
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        const char* from;  // empty: no page, and why
        const char* to_or_reason;
    } rows[] = {
        {"Redirect", {"/old.html", "/new.html"}, "/old.html", "/new.html"},
        {"Redirect", {"permanent", "/a", "https://example.org/b"}, "/a", "https://example.org/b"},
        {"Redirect", {"301", "/a/", "/b/"}, "/a/", "/b/"},
        {"Redirect", {"gone", "/a"}, "", "sends no page on"},
        {"Redirect", {"410", "/a"}, "", "sends no page on"},
        {"Redirect", {"/a"}, "", "names no target"},
        {"RedirectPermanent", {"/x.shtml", "/y.html"}, "/x.shtml", "/y.html"},
        {"RedirectMatch", {"^/old\\.html$", "/new.html"}, "/old.html", "/new.html"},
        {"RedirectMatch", {"temp", "^/a/b\\.htm$", "/c.htm"}, "/a/b.htm", "/c.htm"},
        {"RedirectMatch", {"^/old/(.*)$", "/new/$1"}, "", "matches a pattern"},
        {"RedirectMatch", {"old\\.html", "/new.html"}, "", "matches a pattern"},
        {"RedirectMatch", {"^/a$", "/b$0"}, "", "takes back parts"},
        {"Redirect", {"old.html", "/new.html"}, "", "redirects no path"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " " + row.arguments.front());
        const auto result = static_redirect({row.name, row.arguments, 3}, ".htaccess:3");
        if (*row.from != '\0') {
            ASSERT_TRUE(std::holds_alternative<static_redirect_t>(result)) << std::get<std::string>(result);
            EXPECT_EQ(std::get<static_redirect_t>(result).from, row.from);
            EXPECT_EQ(std::get<static_redirect_t>(result).to, row.to_or_reason);
        } else {
            ASSERT_TRUE(std::holds_alternative<std::string>(result));
            EXPECT_NE(std::get<std::string>(result).find(row.to_or_reason), std::string::npos);
        }
    }
}

TEST(Redirects, WrittenAsPagesOnlyWhereTheSiteHasNoFile) {
    TempTree t;
    t.write("src/.htaccess", "Redirect /old.html /new.html\n"
                             "Redirect permanent /page.html /elsewhere.html\n"
                             "RedirectMatch ^/gone/$ https://example.org/\n"
                             "RedirectMatch ^/docs/(.*)$ /manual/$1\n"
                             "ErrorDocument 404 /missing.html\n");
    t.write("src/sub/.htaccess", "RedirectPermanent /sub/was.html /sub/is.html\n");
    t.write("src/new.html", "new");
    t.write("src/page.html", "page");
    t.write("src/sub/is.html", "is");

    const run_t off = convert(t, apache_run(t, false));
    ASSERT_EQ(off.error, "");
    EXPECT_FALSE(exists(t, "dst/old.html"));
    EXPECT_TRUE(logged(off, ".htaccess:1: note: Redirect /old.html /new.html is done by a live server only"));

    const run_t on = convert(t, apache_run(t, true));
    ASSERT_EQ(on.error, "");
    const Tree out = read_tree(t.path("dst"));
    EXPECT_NE(out.at("old.html").find("url=/new.html"), std::string::npos);
    EXPECT_NE(out.at("gone/index.html").find("url=https://example.org/"), std::string::npos);
    EXPECT_NE(out.at("sub/was.html").find("url=/sub/is.html"), std::string::npos);
    EXPECT_EQ(out.at("page.html"), "page");  // the site's own page stays
    EXPECT_TRUE(logged(on, ".htaccess:2: note: Redirect permanent /page.html /elsewhere.html is left out: "
                           "the site has a file at /page.html"));
    EXPECT_TRUE(logged(on, ".htaccess:4: note: RedirectMatch ^/docs/(.*)$ /manual/$1 matches a pattern"));
    EXPECT_TRUE(logged(on, ".htaccess:5: note: ErrorDocument 404 /missing.html is done by a live server only"));
    EXPECT_FALSE(exists(t, "dst/missing.html"));
}

TEST(Redirects, OnlyPathsUnderTheSiteAreWritten) {
    TempTree t;
    t.write("src/site/.htaccess", "Redirect /site/a.html /site/b.html\nRedirect /other/a.html /b.html\n");
    t.write("src/site/b.html", "b");
    SSIDirectoryPreferences preferences = apache_run(t, true);
    preferences.source_as_root = false;
    preferences.virtual_root = t.path("src");
    RecordingLog log;
    conversion_control_t control;
    convert_directory("", t.path("src/site"), t.path("dst"), preferences, log, &control);
    EXPECT_TRUE(exists(t, "dst/a.html"));
    EXPECT_FALSE(exists(t, "dst/other"));
    const Lines lines = log.texts(true);
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        ".htaccess:2: note: Redirect /other/a.html /b.html is left out: /other/a.html is no path of the site"),
              lines.end());
}

TEST(Redirects, LinkCheckFindsFoldersByTheirDirectoryIndex) {
    TempTree t;
    t.write("src/index.html", "<a href=\"home/\">h</a> <a href=\"plain/\">p</a> <a href=\"strict/\">s</a>");
    t.write("src/home/.htaccess", "DirectoryIndex start.html default.html\n");
    t.write("src/home/default.html", "home");
    t.write("src/plain/index.htm", "plain");  // no DirectoryIndex: the usual names
    t.write("src/strict/.htaccess", "DirectoryIndex main.html\n");
    t.write("src/strict/index.html", "not served by this folder");
    SSIDirectoryPreferences preferences = apache_run(t, false);
    preferences.check_links = true;
    const run_t run = convert(t, preferences);
    ASSERT_EQ(run.error, "");
    EXPECT_EQ(run.summary.broken_links, 1u);
    EXPECT_TRUE(logged(run, "broken link 'strict/'"));
    EXPECT_FALSE(logged(run, "broken link 'home/'"));
}
