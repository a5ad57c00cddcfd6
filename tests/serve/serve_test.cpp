#include "run/watch.h"
#include "serve/live_reload.h"
#include "serve/server.h"
#include "serve/site_files.h"
#include "ssi/preferences.h"

#include "cli.h"
#include "temp_tree.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

namespace {
constexpr const char* page_text = "<html><body><p>Hello</p></body></html>\n";

// A served folder with a page in each encoding, an index, a style sheet and a secret beside it.
struct site_t {
    TempTree tree;
    std::string root = tree.make_dir("out");
    site_t() {
        tree.write("out/index.shtml", page_text);
        tree.write("out/news/index.html", "<p>news</p></BODY>");
        tree.write("out/news/index.shtml", "not the index");
        tree.write("out/wide.shtml", utf16le(u"<html><body>wide</body></html>"));
        tree.write("out/latin.html", "<meta charset=\"iso-8859-1\"><p>caf\xe9</p>");
        tree.write("out/css/site.css", "body { color: red }");
        tree.write("out/img/a.png", "\x89PNG");
        tree.write("out/data.bin", "0123456789");
        tree.make_dir("out/empty");
        tree.write("secret.txt", "outside");
        std::filesystem::create_symlink(tree.path("secret.txt"), tree.path("out/link.txt"));
    }
};

struct serving_t {
    site_t site;
    LiveReload live;
    PreviewServer server{{site.root, "127.0.0.1", 18400, false, {}}, live};
    serving_t() { server.start(); }
    httplib::Client client() const {
        httplib::Client c("127.0.0.1", server.port());
        c.set_url_encode(false);  // send the paths exactly as written
        return c;
    }
};
}  // namespace

TEST(SiteFiles, PathsThatCouldLeaveTheFolderFindNothing) {
    site_t s;
    const std::string root = std::filesystem::canonical(s.root).string();
    const struct { std::string url; lookup_t::kind_t kind; std::string relative; } rows[] = {
        {"/", lookup_t::kind_t::file, "index.shtml"},
        {"/news/", lookup_t::kind_t::file, "news/index.html"},  // index.html before index.shtml
        {"/news", lookup_t::kind_t::redirect, ""},
        {"/css/site.css", lookup_t::kind_t::file, "css/site.css"},
        {"/empty/", lookup_t::kind_t::not_found, ""},  // no listings
        {"/missing.html", lookup_t::kind_t::not_found, ""},
        {"/index.shtml/", lookup_t::kind_t::not_found, ""},
        {"/../secret.txt", lookup_t::kind_t::not_found, ""},
        {"/news/../../secret.txt", lookup_t::kind_t::not_found, ""},
        {"/news/../index.shtml", lookup_t::kind_t::not_found, ""},  // even when it stays inside
        {"/./index.shtml", lookup_t::kind_t::not_found, ""},
        {"//index.shtml", lookup_t::kind_t::not_found, ""},
        {"/..\\secret.txt", lookup_t::kind_t::not_found, ""},
        {std::string("/index.shtml\0.png", 17), lookup_t::kind_t::not_found, ""},
        {"/C:/secret.txt", lookup_t::kind_t::not_found, ""},
        {"/link.txt", lookup_t::kind_t::not_found, ""},  // a link out of the folder
        {"index.shtml", lookup_t::kind_t::not_found, ""},
    };
    for (const auto& row : rows) {
        const lookup_t found = look_up(root, row.url);
        EXPECT_EQ(found.kind, row.kind) << row.url;
        EXPECT_EQ(found.relative, row.relative) << row.url;
    }
    EXPECT_EQ(look_up(root, "/a b").kind, lookup_t::kind_t::not_found);
    s.tree.make_dir("out/a b");
    EXPECT_EQ(look_up(root, "/a b").location, "/a%20b/");
}

// An Apache site's DirectoryIndex names a folder's index pages: inherited, from the root, or
// none; pages renamed by the run under their new names. Other sites keep the usual names.
TEST(SiteFiles, FoldersAreServedByTheirDirectoryIndex) {
    TempTree t;
    t.write("src/.htaccess", "DirectoryIndex home.shtml index.html\n");
    t.write("src/off/.htaccess", "DirectoryIndex disabled\n");
    t.write("src/top/.htaccess", "DirectoryIndex /main.html\n");
    t.make_dir("src/sub");
    for (const char* page : {"out/home.html", "out/index.html", "out/main.html", "out/off/index.html",
                             "out/top/index.html", "out/sub/index.html"})
        t.write(page, page);
    const std::string root = std::filesystem::canonical(t.path("out")).string();
    SSIDirectoryPreferences preferences;
    preferences.dialect = dialect_t::apache;
    preferences.rename_pages = "html";
    const index_names_for_t apache = directory_index(t.path("src"), preferences);
    const struct { std::string url, apache, usual; } rows[] = {
        {"/", "home.html", "index.html"},
        {"/sub/", "sub/index.html", "sub/index.html"},
        {"/off/", "", "off/index.html"},
        {"/top/", "main.html", "top/index.html"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(look_up(root, row.url, apache).relative, row.apache) << row.url;
        preferences.dialect = dialect_t::orrinfold;
        EXPECT_EQ(look_up(root, row.url, directory_index(t.path("src"), preferences)).relative, row.usual) << row.url;
        preferences.dialect = dialect_t::apache;
    }
}

TEST(SiteFiles, ContentTypesAndCharsets) {
    const struct { std::string name; bool page; std::string content, type; } rows[] = {
        {"a.shtml", true, "<p>plain</p>", "text/html; charset=utf-8"},
        {"a.shtml", true, "\xFF\xFE<\0", "text/html; charset=utf-16le"},
        {"a.shtml", true, "\xFE\xFF\0<", "text/html; charset=utf-16be"},
        {"a.html", true, "<META http-equiv=Content-Type content='text/html; charset=Windows-1252'>\xe9",
         "text/html; charset=windows-1252"},
        {"a.html", true, "caf\xe9", "text/html"},  // not UTF-8, nothing declared: the browser decides
        {"s.CSS", false, "", "text/css; charset=utf-8"},
        {"i.png", false, "", "image/png"},
        {"i.svg", false, "", "image/svg+xml; charset=utf-8"},
        {"archive.tar.gz", false, "", "application/octet-stream"},
        {"README", false, "", "application/octet-stream"},
    };
    for (const auto& row : rows) EXPECT_EQ(content_type(row.name, row.page, row.content), row.type) << row.name;
    EXPECT_TRUE(is_page_name("a/B.SHTML"));
    EXPECT_FALSE(is_page_name("a.shtml.txt"));
    EXPECT_TRUE(is_page_name("a.xhtm", {"xhtm"}));
}

TEST(SiteFiles, SnippetGoesBeforeTheLastBodyEndInThePagesEncoding) {
    EXPECT_EQ(inject_before_body_end("<body>a</body></BODY>x", "<s>"), "<body>a</body><s></BODY>x");
    EXPECT_EQ(inject_before_body_end("<p>no end", "<s>"), "<p>no end<s>");
    EXPECT_EQ(inject_before_body_end(utf16le(u"<p></body>"), "<s>"), utf16le(u"<p><s></body>"));
    std::string be = "\xFE\xFF";
    for (const char c : std::string("a</body>")) be += std::string{'\0', c};
    EXPECT_EQ(inject_before_body_end(be, "s"), std::string("\xFE\xFF\0a\0s\0<\0/\0b\0o\0d\0y\0>", 20));
}

TEST(SiteFiles, HttpDatesRoundTrip) {
    EXPECT_EQ(http_date(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(http_date(0), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(http_date(951782400), "Tue, 29 Feb 2000 00:00:00 GMT");
    for (const std::int64_t seconds : {0ll, 784111777ll, 951782400ll, 1796689443ll})
        EXPECT_EQ(parse_http_date(http_date(seconds)), seconds);
    EXPECT_EQ(parse_http_date("yesterday"), std::nullopt);
    EXPECT_EQ(parse_http_date("Sun, 06 Foo 1994 08:49:37 GMT"), std::nullopt);
}

TEST(PreviewServer, PagesGetTheSnippetOtherFilesAndTheDiskDoNot) {
    serving_t s;
    httplib::Client c = s.client();
    const auto home = c.Get("/");
    ASSERT_TRUE(home);
    EXPECT_EQ(home->status, 200);
    EXPECT_EQ(home->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(home->body.find(live_reload_snippet("index.shtml") + "</body>"), std::string::npos) << home->body;
    EXPECT_EQ(read_file(s.site.tree.path("out/index.shtml")), page_text);

    const auto wide = c.Get("/wide.shtml");
    EXPECT_EQ(wide->get_header_value("Content-Type"), "text/html; charset=utf-16le");
    EXPECT_NE(wide->body.find(utf16le(u"<script", false)), std::string::npos);

    const auto style = c.Get("/css/site.css");
    EXPECT_EQ(style->body, "body { color: red }");
    EXPECT_EQ(style->get_header_value("Content-Type"), "text/css; charset=utf-8");

    const auto head = c.Head("/data.bin");
    EXPECT_EQ(head->status, 200);
    EXPECT_EQ(head->get_header_value("Content-Length"), "10");
    EXPECT_TRUE(head->body.empty());

    const auto client = c.Get(live_client_path);
    EXPECT_EQ(client->get_header_value("Content-Type"), "text/javascript; charset=utf-8");
    EXPECT_NE(client->body.find("EventSource"), std::string::npos);
}

TEST(PreviewServer, RefusesEveryWayOutOfTheFolder) {
    serving_t s;
    httplib::Client c = s.client();
    for (const char* path : {"/../secret.txt", "/%2e%2e/secret.txt", "/%2E%2E%2Fsecret.txt", "/news/..%2f..%2fsecret.txt",
                             "/..%5csecret.txt", "/index.shtml%00.png", "/link.txt", "/empty/"}) {
        const auto res = c.Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, 404) << path;
        EXPECT_EQ(res->body.find("outside"), std::string::npos) << path;
    }
    const auto folder = c.Get("/news");
    EXPECT_EQ(folder->status, 301);
    EXPECT_EQ(folder->get_header_value("Location"), "/news/");
}

TEST(PreviewServer, ValidatorsAnswer304UntilTheFileChanges) {
    serving_t s;
    httplib::Client c = s.client();
    for (const char* path : {"/css/site.css", "/index.shtml"}) {
        const auto first = c.Get(path);
        const std::string etag = first->get_header_value("ETag");
        const std::string modified = first->get_header_value("Last-Modified");
        ASSERT_FALSE(etag.empty()) << path;
        EXPECT_EQ(c.Get(path, {{"If-None-Match", etag}})->status, 304) << path;
        EXPECT_EQ(c.Get(path, {{"If-Modified-Since", modified}})->status, 304) << path;
        EXPECT_EQ(c.Get(path, {{"If-Modified-Since", "Thu, 01 Jan 1970 00:00:00 GMT"}})->status, 200) << path;
    }
    const std::string etag = c.Get("/index.shtml")->get_header_value("ETag");
    s.site.tree.write("out/index.shtml.new", "<body>changed</body>");  // renamed into place, as a run does
    std::filesystem::rename(s.site.tree.path("out/index.shtml.new"), s.site.tree.path("out/index.shtml"));
    const auto changed = c.Get("/index.shtml", {{"If-None-Match", etag}});
    EXPECT_EQ(changed->status, 200);
    EXPECT_NE(changed->get_header_value("ETag"), etag);
}

TEST(PreviewServer, ByteRanges) {
    serving_t s;
    httplib::Client c = s.client();
    const auto part = c.Get("/data.bin", {{"Range", "bytes=2-5"}});
    EXPECT_EQ(part->status, 206);
    EXPECT_EQ(part->body, "2345");
    EXPECT_EQ(part->get_header_value("Content-Range"), "bytes 2-5/10");
    EXPECT_EQ(c.Get("/data.bin", {{"Range", "bytes=-3"}})->body, "789");
    EXPECT_EQ(c.Get("/data.bin", {{"Range", "bytes=20-30"}})->status, 416);
}

TEST(PreviewServer, ATakenPortIsTheNextOneOrAnErrorNamingIt) {
    serving_t s;
    LiveReload live;
    PreviewServer next({s.site.root, "127.0.0.1", s.server.port(), false, {}}, live);
    next.start();
    EXPECT_GT(next.port(), s.server.port());
    PreviewServer exact({s.site.root, "127.0.0.1", s.server.port(), true, {}}, live);
    try {
        exact.start();
        FAIL() << "a taken port was bound";
    } catch (const bind_failure& e) {
        EXPECT_NE(std::string(e.what()).find("127.0.0.1:" + std::to_string(s.server.port())), std::string::npos);
    }
    std::ostringstream out, err;
    TempTree t;
    t.write("src/a.shtml", "a");
    EXPECT_EQ(run_cli({"serve", "--port", std::to_string(s.server.port()), t.path("src"), t.path("dst")}, out, err), 1);
    EXPECT_NE(err.str().find(":" + std::to_string(s.server.port())), std::string::npos) << err.str();
}

TEST(LiveReload, EventsSortChangesAndCarryDiagnostics) {
    LiveReload live({"xhtm"});
    diagnostic_location_t where{{"inc/head.inc", 3, 7, "/site/inc/head.inc"}, {{"index.shtml", 1, 1, "/site/index.shtml"}}};
    live.publish({{"index.shtml", "a.xhtm", "css/site.css", "img/a.png"}, {"old.html"}},
                 {{severity_t::error, "Unknown SSI command: bogus", where}, {severity_t::warning, "plain", {}}});
    const auto event = live.next(1, std::chrono::milliseconds(0));
    ASSERT_TRUE(event);
    const nlohmann::json json = nlohmann::json::parse(event->second);
    EXPECT_EQ(json["pages"], nlohmann::json({"/index.shtml", "/a.xhtm", "/old.html"}));
    EXPECT_EQ(json["styles"], nlohmann::json({"/css/site.css"}));
    EXPECT_EQ(json["others"], nlohmann::json({"/img/a.png"}));
    EXPECT_EQ(json["diagnostics"][0]["location"]["at"], "inc/head.inc:3:7");
    EXPECT_EQ(json["diagnostics"][0]["location"]["file"], "/site/inc/head.inc");
    EXPECT_EQ(json["diagnostics"][0]["included_from"][0]["at"], "index.shtml:1:1");
    EXPECT_EQ(json["diagnostics"][1]["severity"], "warning");
    // Nothing newer: the wait times out. A browser that connects gets the diagnostics only.
    EXPECT_FALSE(live.next(event->first, std::chrono::milliseconds(10)));
    const nlohmann::json connect = nlohmann::json::parse(live.next(0, std::chrono::milliseconds(0))->second);
    EXPECT_TRUE(connect["pages"].empty());
    EXPECT_EQ(connect["diagnostics"].size(), 2u);
}

TEST(OutputTracker, ReportsFilesWrittenRewrittenAndRemoved) {
    TempTree t;
    t.write("out/a.html", "a");
    t.write("out/sub/b.css", "b");
    OutputTracker tracker(t.path("out"));
    EXPECT_EQ(tracker.update().written, (std::vector<std::string>{"a.html", "sub/b.css"}));
    EXPECT_TRUE(tracker.update().written.empty());
    t.write("out/a.html.tmp", "a");  // the same bytes, renamed into place
    std::filesystem::rename(t.path("out/a.html.tmp"), t.path("out/a.html"));
    std::filesystem::remove(t.path("out/sub/b.css"));
    const output_changes_t changes = tracker.update();
    EXPECT_EQ(changes.written, std::vector<std::string>{"a.html"});
    EXPECT_EQ(changes.removed, std::vector<std::string>{"sub/b.css"});
    // Names in the folded order of a listing, a new folder's files, and a file now a folder.
    t.write("out/B.html", "B");
    t.write("out/c/d.html", "d");
    std::filesystem::remove(t.path("out/a.html"));
    t.write("out/a.html/e.html", "e");
    const output_changes_t more = tracker.update();
    EXPECT_EQ(more.written, (std::vector<std::string>{"B.html", "a.html/e.html", "c/d.html"}));
    EXPECT_EQ(more.removed, std::vector<std::string>{"a.html"});
    EXPECT_TRUE(tracker.update().written.empty());

    // Given a run's outputs, only those are looked at (c/d.html changed unseen); one that is a
    // folder now, or a run that went by unseen, has the whole destination looked at again.
    t.write("out/c/d.html", "d2");
    t.write("out/n.html", "n");
    t.write("out/B.html", "B2");
    std::filesystem::remove(t.path("out/a.html/e.html"));
    const std::vector<std::string> outputs{"n.html", "a.html/e.html", "B.html", "gone.html", "n.html"};
    const output_changes_t given = tracker.update(&outputs);
    EXPECT_EQ(given.written, (std::vector<std::string>{"B.html", "n.html"}));
    EXPECT_EQ(given.removed, std::vector<std::string>{"a.html/e.html"});
    EXPECT_TRUE(tracker.update(&outputs).written.empty());
    std::filesystem::remove(t.path("out/n.html"));
    t.write("out/n.html/f.html", "f");
    const std::vector<std::string> folder{"n.html"};
    const output_changes_t scanned = tracker.update(&folder);
    EXPECT_EQ(scanned.written, (std::vector<std::string>{"c/d.html", "n.html/f.html"}));
    EXPECT_EQ(scanned.removed, std::vector<std::string>{"n.html"});
    t.write("out/B.html", "B3");
    tracker.missed_run();
    const std::vector<std::string> none;
    EXPECT_EQ(tracker.update(&none).written, std::vector<std::string>{"B.html"});
}

// Serving waits less for quiet than a watch does, and takes --settle as a watch does.
TEST(ServeCommand, SettleHasItsOwnDefault) {
    std::ostringstream out, err;
    EXPECT_EQ(run_cli({"serve", "--help"}, out, err), 0);
    EXPECT_NE(out.str().find("before the rebuild (default: 25)"), std::string::npos) << out.str();
    std::ostringstream out2, err2;
    EXPECT_EQ(run_cli({"serve", "--settle", "0", "site"}, out2, err2), 2);
    EXPECT_NE(err2.str().find("--settle: '0' is not a number of milliseconds from 1 to 60000"), std::string::npos)
        << err2.str();
}

// Without DEST the site goes to the user's cache, the same folder on each start; Ctrl-C ends
// serving with status 0.
TEST(ServeCommand, DefaultDestinationIsKeptInTheCacheAndCtrlCEndsWithZero) {
    TempTree t;
    t.write("site/index.shtml", "<body>home</body>");
    const char* saved = std::getenv("XDG_CACHE_HOME");
    const std::string before = saved != nullptr ? saved : "";
    const std::string cache = t.make_dir("cache");
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    std::string first_folder;
    for (int start = 0; start < 2; ++start) {
        // A terminal that sends SIGINT once the site is watched.
        struct stream_t : std::stringbuf {
            int sync() override {
                if (str().find("Watching") != std::string::npos && !sent) sent = ::raise(SIGINT) == 0;
                return 0;
            }
            bool sent = false;
        } err_buffer;
        std::ostringstream out;
        std::ostream err(&err_buffer);
        err.setf(std::ios::unitbuf);  // as standard error is
        EXPECT_EQ(run_cli({"serve", "-q", "--port", "18480", t.path("site")}, out, err), 0);
        const std::string text = err_buffer.str();
        EXPECT_NE(text.find("Stopped serving"), std::string::npos) << text;
        const std::size_t at = text.find("Serving "), end = text.find(" at http://");
        ASSERT_TRUE(at != std::string::npos && end != std::string::npos) << text;
        const std::string folder = text.substr(at + 8, end - at - 8);
        EXPECT_TRUE(folder.starts_with(cache + "/orrinfold/serve/site-")) << folder;
        EXPECT_EQ(read_file(folder + "/index.shtml"), "<body>home</body>");
        if (start == 0) first_folder = folder;
        EXPECT_EQ(folder, first_folder);
        if (start == 1) {
            EXPECT_NE(out.str().find("1 up to date"), std::string::npos) << out.str();
        }
    }
    if (saved != nullptr)
        ::setenv("XDG_CACHE_HOME", before.c_str(), 1);
    else
        ::unsetenv("XDG_CACHE_HOME");
}
