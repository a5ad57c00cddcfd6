// Links in converted pages: which bytes are URLs, how links to renamed pages change, and the
// site-level rules (clashes, redirects, the link check).
#include "base/compile_log.h"
#include "build/convert.h"
#include "build/link_check.h"
#include "html/links.h"
#include "platform/file_system.h"
#include "recording_log.h"
#include "ssi/preferences.h"
#include "temp_tree.h"

#include <gtest/gtest.h>
#ifndef _WIN32  // Debian has no Gumbo for MinGW
#include <gumbo.h>
#endif

#include <chrono>
#include <set>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
// UTF-16 big-endian bytes of a text, with its byte order mark FE FF.
std::string utf16be(std::u16string_view text) {
    std::string bytes = utf16le(text);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
    return bytes;
}

const LinkRewriter rewriter({{"index.shtml", "index.html"}, {"news/a.shtml", "a.html"}, {"news/b c.shtml", "b c.html"}});

std::string rewritten(const std::string& text, text_kind_t kind = text_kind_t::html, const std::string& page = "news/p.shtml") {
    return rewriter.rewrite(text, kind, page).value_or(text);
}

#ifndef _WIN32
std::set<std::pair<std::size_t, std::size_t>> our_ranges(const std::string& text) {
    std::set<std::pair<std::size_t, std::size_t>> ranges;
    find_links(text, text_kind_t::html, [&](const link_t& link) { ranges.insert({link.begin, link.end}); });
    return ranges;
}

// The ranges of URL attribute values as Gumbo, a browser-grade HTML parser, sees them.
void gumbo_ranges(const GumboNode* node, const std::string& text, std::set<std::pair<std::size_t, std::size_t>>& ranges) {
    if (node->type == GUMBO_NODE_DOCUMENT) {
        const GumboVector& children = node->v.document.children;
        for (unsigned i = 0; i < children.length; ++i)
            gumbo_ranges(static_cast<const GumboNode*>(children.data[i]), text, ranges);
        return;
    }
    if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE) return;
    const GumboVector& attributes = node->v.element.attributes;
    for (unsigned i = 0; i < attributes.length; ++i) {
        const auto* attribute = static_cast<const GumboAttribute*>(attributes.data[i]);
        const std::string name = attribute->name;
        if (name != "href" && name != "src" && name != "action") continue;
        std::size_t begin = static_cast<std::size_t>(attribute->original_value.data - text.data());
        std::size_t end = begin + attribute->original_value.length;
        if (begin < end && (text[begin] == '"' || text[begin] == '\'')) ++begin, --end;
        while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
        while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
        if (begin < end) ranges.insert({begin, end});
    }
    const GumboVector& children = node->v.element.children;
    for (unsigned i = 0; i < children.length; ++i) gumbo_ranges(static_cast<const GumboNode*>(children.data[i]), text, ranges);
}
#endif
}  // namespace

TEST(Links, EachFormOfLinkFollowsTheRenamedPage) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {R"(<a href="a.shtml">)", R"(<a href="a.html">)"},
        {R"(<a href='/news/a.shtml?x=1&amp;y#top'>)", R"(<a href='/news/a.html?x=1&amp;y#top'>)"},
        {R"(<A HREF=../index.shtml>)", R"(<A HREF=../index.html>)"},
        {R"(<img src=" ./a.shtml ">)", R"(<img src=" ./a.html ">)"},
        {R"(<form action="b%20c.shtml"><a href="b c.shtml">)", R"(<form action="b%20c.html"><a href="b c.html">)"},
        {R"(<img srcset="a.shtml 1x, /index.shtml 2x">)", R"(<img srcset="a.html 1x, /index.html 2x">)"},
        {R"(<meta content="0; URL='a.shtml'" http-equiv="Refresh">)", R"(<meta content="0; URL='a.html'" http-equiv="Refresh">)"},
        {R"x(<div style="background: url('a.shtml')">)x", R"x(<div style="background: url('a.html')">)x"},
        {"<style>p { background: url(a.shtml) }</style>", "<style>p { background: url(a.html) }</style>"},
    };
    for (const auto& [before, after] : cases) EXPECT_EQ(rewritten(before), after) << before;
    EXPECT_EQ(rewritten("@import 'a.shtml'; p { background: url( \"/index.shtml\" ) }", text_kind_t::css),
              "@import 'a.html'; p { background: url( \"/index.html\" ) }");
}

// Only links to renamed pages change; anything that only looks like one stays byte for byte.
TEST(Links, EverythingElseStaysAsItWas) {
    for (const std::string page : {
             R"(<a href="a.shtml.bak"><a href="other.shtml"><a href="http://x.org/news/a.shtml"><a href="#a.shtml">)",
             R"(<a href="//x.org/a.shtml"><a href="../../index.shtml"><a href="/news/"><a href="a%2Eshtml">)",
             "<script>location = 'a.shtml'; if (a<b) x = \"<a href='a.shtml'>\";</script>",
             "<!-- <a href=\"a.shtml\"> --><title><a href=a.shtml></title><textarea><img src=a.shtml></textarea>",
             "Plain text a.shtml, a < b href=a.shtml and </a href=\"a.shtml\">",
             "<a title='href=a.shtml' data-x=\"a.shtml\">",
             "<a href=\"a.shtml", "<a href='a.shtml'", "<plaintext><a href=a.shtml>",
         })
        EXPECT_EQ(rewritten(page), page) << page;
    EXPECT_FALSE(rewriter.rewrite("no links at all", text_kind_t::html, "index.shtml").has_value());
}

// Malformed markup: the URLs found are the ones a browser-grade parser finds.
TEST(Links, AttributesAreFoundWhereAnHtmlParserFindsThem) {
#ifdef _WIN32
    GTEST_SKIP() << "Gumbo, the HTML parser compared with, is not built for Windows";
#else
    for (const std::string text : {
             R"(<!DOCTYPE html><p><a href="a" class=x HREF="dup">t</a><img src = 'b'/><form action=c>)",
             "<a href=a<b><a\nhref\n=\n\"c d\"\n>x</A><IMG SRC=e>",
             "<!-- <a href=x> --!> <a href=y><!--> <a href=z> <!---> <a href=w>",
             "<?php echo 1 ?><a href=q><!x <a href=r>><a =href=s href=t>",
             "<script><a href=x></script ><a href=y><style></styles><a href=z></style><a href=w>",
             "<title></title x><a href=k></title><textarea><a href=l></textarea><a href=m>",
             "<svg><a href=n/><image src=o></svg><math><mi href=p></mi></math>",
             "<a href='unclosed><a href=u>", "<a href=v", "<table><a href=w><tr><td><a href=x>",
             "<a href=\"&#x61;&amp;\">", "<a/href=y><a/ href=z>",
         }) {
        std::set<std::pair<std::size_t, std::size_t>> expected;
        GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, text.data(), text.size());
        gumbo_ranges(output->document, text, expected);
        gumbo_destroy_output(&kGumboDefaultOptions, output);
        EXPECT_EQ(our_ranges(text), expected) << text;
    }
#endif
}

TEST(Links, ResolveWithinTheSite) {
    EXPECT_EQ(resolve_local("../x/./y.html?q#f", "a/b/page.html")->path, "a/x/y.html");
    EXPECT_EQ(resolve_local("/%7Euser/", "a/page.html")->path, "~user");
    EXPECT_TRUE(resolve_local("/", "a/page.html")->folder);
    for (const char* outside : {"../../x", "mailto:a@b", "HTTPS://x", "//host/x", "#top", "?q", ""})
        EXPECT_FALSE(resolve_local(outside, "a/page.html")) << outside;
}

TEST(StaticHost, RenamedPagesRedirectsAndTheLinkCheck) {
    TempTree t;
    t.write("site/index.shtml", "<a href=\"news/\">News</a> <a href=\"news/a.shtml\">A</a> <a href=\"gone.shtml\">x</a>");
    t.write("site/news/index.shtml", "<a href=\"../index.shtml\">Home</a>\n<img src=\"/img/x.png\">");
    t.write("site/news/a.shtml", "<p>no links here</p>");
    t.write("site/plain.html", "<a href=\"news/a.shtml#x\">A</a>");
    t.write("site/style.css", "p { background: url(/news/a.shtml) }");
    // UTF-16 pages are rewritten and checked too, in their own byte order.
    t.write("site/wide.shtml", utf16le(u"<a href=\"index.shtml\">\n\u00E9\U0001F600 <a href=\"gone.html\">"));
    t.write("site/big.html", utf16be(u"<a href=\"/news/a.shtml\">"));
    // An unpaired surrogate could not be written back as it was: left as it is, with a warning.
    const std::string broken_utf16 = utf16le(u"<a href=\"index.shtml\">") + std::string("\x00\xD8", 2);
    t.write("site/bad.html", broken_utf16);
    SSIDirectoryPreferences preferences = default_preferences();
    preferences.rename_pages = "html";
    preferences.redirects = true;
    preferences.check_links = true;
    RecordingLog log;
    conversion_control_t control;
    convert_directory("", t.path("site"), t.path("out"), preferences, log, &control);
    const Tree out = read_tree(t.path("out"));
    EXPECT_EQ(out.at("index.html"), "<a href=\"news/\">News</a> <a href=\"news/a.html\">A</a> <a href=\"gone.shtml\">x</a>");
    EXPECT_EQ(out.at("news/a.html"), "<p>no links here</p>");  // byte for byte
    EXPECT_EQ(out.at("plain.html"), "<a href=\"news/a.html#x\">A</a>");
    EXPECT_EQ(out.at("style.css"), "p { background: url(/news/a.html) }");
    EXPECT_NE(out.at("news/a.shtml").find("url=a.html"), std::string::npos);
    EXPECT_EQ(out.at("wide.html"), utf16le(u"<a href=\"index.html\">\n\u00E9\U0001F600 <a href=\"gone.html\">"));
    EXPECT_EQ(out.at("big.html"), utf16be(u"<a href=\"/news/a.html\">"));
    EXPECT_EQ(out.at("bad.html"), broken_utf16);
    EXPECT_EQ(control.summary.broken_links, 3u);
    EXPECT_EQ(log.texts(true).back(), "warning: broken link 'gone.html'");
    EXPECT_EQ(log.locations,
              (std::vector<std::string>{"bad.html", "index.html:1:63", "news/index.html:2:11", "wide.html:2:13"}));
}

// A broken link is named where it was written: in the page's source or in the document it was
// included from (with the includes that led there), at that document's line and column, even
// when directives before it on its line made the output longer or shorter; text a directive
// produced is named by the directive. Pages copied as they are keep their own places.
TEST(StaticHost, TheLinkCheckNamesTheDocumentALinkWasWrittenIn) {
    TempTree t;
    t.write("site/index.shtml",
            "<p>\n  <a href=\"gone1.html\">\n<!--#include virtual=\"inc/part.inc\" -->"
            "<!--#set var=\"v\" value=\"a long value\" --><!--#echo var=\"v\" --> <a href=\"gone2.html\">\n"
            "<!--#set var=\"u\" value=\"<a href='gone3.html'>\" -->\n<b><!--#echo var=\"u\" --><img src=gone4.png>");
    t.write("site/inc/part.inc", "part\n<!--#include virtual=\"deep.inc\" --> <a href=gone5.html>");
    t.write("site/inc/deep.inc", "\u00E9\n\u00E9 <a href=\"gone6.html\">");
    t.write("site/plain.html", "<p>\n<a href=gone7.html>");
    // A UTF-16 page: offsets in its output are bytes, its columns characters.
    t.write("site/wide.shtml", utf16le(u"\u00E9\U0001F600<!--#echo var=\"DOCUMENT_NAME\" --> <a href=\"gone8.html\">"));
    SSIDirectoryPreferences preferences = default_preferences();
    preferences.check_links = true;
    RecordingLog log;
    conversion_control_t control;
    convert_directory("", t.path("site"), t.path("out"), preferences, log, &control);
    EXPECT_EQ(control.summary.broken_links, 8u);

    std::set<std::string> found(log.locations.begin(), log.locations.end());
    EXPECT_EQ(found, (std::set<std::string>{
                         "index.shtml:2:12",                                        // in the page
                         "inc/part.inc:2:45 < index.shtml:3:1",                     // after a nested include
                         "inc/deep.inc:2:12 < inc/part.inc:2:1 < index.shtml:3:1",  // two includes deep
                         "index.shtml:3:112",  // after an echo that made the line longer
                         "index.shtml:5:4",    // written by an echo
                         "index.shtml:5:34",   // after it
                         "plain.html:2:9",     // copied: the output is the source
                         "wide.shtml:1:46",
                     }));
    EXPECT_EQ(log.texts(true).back(), "warning: broken link 'gone8.html'");
}

// Lines and columns are counted as the check reads the page: a broken link is placed right
// wherever the finder reports it (a meta refresh comes after the other links of its tag, on
// its line or an earlier one), and a page full of broken links, on many lines or on one, takes
// time in proportion to its size.
TEST(StaticHost, TheLinkCheckPlacesEachBrokenLinkInOnePass) {
    TempTree t;
    t.write("out/a.html",
            "<p>\u00E9 <a href=x1>\n<meta content=\"0; url=x2\"\nhref=x3 http-equiv=refresh>"
            "<a href=x4><meta content='0;url=x5' href=x6 http-equiv=refresh>");
    std::string lines, one_line;
    while (lines.size() < (1 << 19)) lines += "<a href=x>\n<img src=y>";
    while (one_line.size() < (1 << 19)) one_line += "<meta content='0;url=y' href=z http-equiv=refresh>";
    t.write("out/lines.html", lines);
    t.write("out/one-line.html", one_line);
    RecordingLog log;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(check_links({"a.html", "lines.html", "one-line.html"}, t.path("out"), log),
              6u + lines.size() / 22 * 2 + one_line.size() / 50 * 2);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "not linear in the page's size";
    EXPECT_EQ(log.locations.back(), "one-line.html:1:" + std::to_string(one_line.size() - 50 + 22));
    log.locations.resize(6);
    EXPECT_EQ(log.locations, (std::vector<std::string>{"a.html:1:14", "a.html:3:6", "a.html:2:23", "a.html:3:36",
                                                       "a.html:3:69", "a.html:3:60"}));
}

TEST(StaticHost, ANameClashIsAnErrorBeforeAnythingIsWritten) {
    TempTree t;
    t.write("site/sub/a.shtml", "x");
    t.write("site/sub/a.html", "y");
    SSIDirectoryPreferences preferences = default_preferences();
    preferences.rename_pages = "html";
    RecordingLog log;
    try {
        convert_directory("", t.path("site"), t.path("out"), preferences, log);
        FAIL() << "no clash reported";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).substr(0, 12), "Name clash: ");
        EXPECT_NE(std::string(e.what()).find("sub/a.html"), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("sub/a.shtml"), std::string::npos);
    }
    EXPECT_FALSE(try_stat_path(t.path("out")));
}

// Entries the run leaves out write nothing, so they cannot clash with a renamed page.
TEST(StaticHost, EntriesLeftOutOfTheRunClaimNoName) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links need a privilege on Windows, and there are no FIFOs";
#else
    TempTree t;
    t.write("outside/a.html", "elsewhere");
    t.write("site/a.shtml", "a");
    t.write("site/b.shtml", "b");
    ASSERT_EQ(::symlink("../outside/a.html", t.path("site/a.html").c_str()), 0);
    ASSERT_EQ(::mkfifo(t.path("site/b.html").c_str(), 0644), 0);
    SSIDirectoryPreferences preferences = default_preferences();
    preferences.rename_pages = "html";
    RecordingLog log;
    convert_directory("", t.path("site"), t.path("out"), preferences, log);
    EXPECT_EQ(read_tree(t.path("out")), (Tree{{"a.html", "a"}, {"b.html", "b"}}));
#endif
}
