#include "run_engine.h"
#include "ssi/preferences.h"
#include "temp_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Where `[<!--#include virtual="..." -->]` reads from, in an 8-bit and in a UTF-16 document.
TEST(Include, ResolvesVirtualPaths) {
    TempTree t;
    t.write("site/inc/a.inc", "A");
    t.write("site/news/a.inc", "news-a");
    t.write("site/news/inc/a.inc", "news-inc-a");
    t.write("site/news/sp.inc ", "spaced");
    t.write("site/news/deep/menu.inc", "M(<!--#include virtual=\"/inc/a.inc\" -->,<!--#include virtual=\"sub/x.inc\" -->)");
    t.write("site/news/deep/sub/x.inc", "X<!--#include virtual=\"/inc/a.inc\" -->");
    t.write("site/news/deep/inc/a.inc", "deep-a");
    t.write("site/news/deep/sub/inc/a.inc", "sub-a");
    t.write("site/common/c.inc", "C");
    const std::string site = t.path("site");
    const struct {
        const char* name;
        std::string root, value, inserted;
    } rows[] = {
        {"root-relative", site, "/inc/a.inc", "A"},
        {"root ending in a slash", site + "/", "/inc/a.inc", "A"},
        {"empty root: directory, slash, value", "", "/a.inc", "news-a"},
        {"relative", site, "a.inc", "news-a"},
        {"each document resolves against its own folder", site, "deep/menu.inc", "M(A,XA)"},
        {"and without a root too", "", "deep/menu.inc", "M(deep-a,Xsub-a)"},
        {"leading blanks stripped", site, " \t\n\r a.inc", "news-a"},
        {"blanks before a root-relative path", site, "  /inc/a.inc", "A"},
        {"trailing blank kept", site, "sp.inc ", "spaced"},
        {"backslashes are never root-relative", site, "\\inc\\a.inc", "news-inc-a"},
        {"backslashes separate folders", site, "deep\\sub\\x.inc", "XA"},
        {"dot-dot is not resolved away", site, "../common/c.inc", "C"},
        {"variables expanded", site, "$v", "news-a"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SSIParserPreferences preferences;
        preferences.virtual_root = row.root;
        const std::string directive = "[<!--#set var=\"v\" value=\"a.inc\" --><!--#include virtual=\"" + row.value + "\" -->]";
        const engine_result_t narrow = run_engine(directive, preferences, site + "/news");
        EXPECT_EQ(narrow.output, "[" + row.inserted + "]");
        EXPECT_EQ(narrow.log, std::vector<std::string>{});
        // The fragments are 8-bit: their bytes go out as they are inside the UTF-16 page.
        const engine_result_t wide = run_engine(as_utf16(directive), preferences, site + "/news");
        EXPECT_EQ(wide.output, utf16le(u"[") + row.inserted + utf16le(u"]", false));
    }
    // In a UTF-16 document the zero width space is a blank too.
    EXPECT_EQ(run_engine(utf16le(u"<!--#include virtual=\"\u200B a.inc\" -->"), {}, site + "/news").output,
              utf16le(u"") + "news-a");
}

TEST(Include, IncludedDocumentsBehaveAsTheirOwnDocuments) {
    TempTree t;
    t.write("v1.inc", "<<!--#echo var=\"x\" --><!--#set var=\"y\" value=\"2\" --><!--#include virtual=\"v2.inc\" -->>");
    t.write("v2.inc", "{<!--#echo var=\"x\" --><!--#set var=\"z\" value=\"3\" -->}");
    t.write("k.bin", std::string(1536, 'k'));
    t.write("cfg.inc", "(<!--#fsize virtual=\"k.bin\" -->)<!--#config sizefmt=\"abbrev\" -->");
    t.write("brk.inc", "a<!--#break -->b");
    t.write("eof.inc", "a<!--#echo");
    t.write("empty.inc", "");
    t.write("a.inc", "A");
    t.write("twice.inc", "<!--#include virtual=\"a.inc\" --><!--#include virtual=\"a.inc\" -->");
    t.write("wide.inc", utf16le(u"W<!--#echo var=\"x\" -->"));
    t.write("narrow.inc", "n\xC3\xA9<!--#echo var=\"x\" -->\xFF");

    expect_document_cases({
        {"variables shared both ways at any depth",
         "<!--#set var=\"x\" value=\"1\" --><!--#include virtual=\"v1.inc\" --><!--#echo var=\"y\" --><!--#echo var=\"z\" -->",
         "<1{1}>23"},
        {"config is not shared",
         "<!--#config sizefmt=\"bytes\" --><!--#include virtual=\"cfg.inc\" --><!--#fsize virtual=\"k.bin\" -->",
         "(1.5k)1536"},
        {"break ends only the included document", "[<!--#include virtual=\"brk.inc\" -->]after", "[a]after"},
        {"end of file ends only the included document", "[<!--#include virtual=\"eof.inc\" -->]after", "[a]after",
         {"Unexpected end of file"}},
        {"an empty document inserts nothing", "[<!--#include virtual=\"empty.inc\" -->]", "[]"},
        {"the same file twice in a row", "[<!--#include virtual=\"twice.inc\" --><!--#include virtual=\"a.inc\" -->]",
         "[AAA]"},
        {"an include sets SERVER_SOFTWARE again",
         "<!--#set var=\"SERVER_SOFTWARE\" value=\"x\" --><!--#echo var=\"SERVER_SOFTWARE\" -->|"
         "<!--#include virtual=\"empty.inc\" --><!--#echo var=\"SERVER_SOFTWARE\" -->",
         "x|Orrinfold 1.15"},
        // Each document keeps its own encoding: a UTF-16 fragment's byte order mark lands in the middle.
        {"UTF-16 inside 8-bit", "[<!--#set var=\"x\" value=\"\xC3\xA9\" --><!--#include virtual=\"wide.inc\" -->]",
         "[" + utf16le(u"W\u00E9") + "]"},
    }, {}, t.path());
    const engine_result_t in_wide = run_engine(
        utf16le(u"[<!--#set var=\"x\" value=\"\u00E9\" --><!--#include virtual=\"narrow.inc\" -->]"), {}, t.path());
    EXPECT_EQ(in_wide.output, utf16le(u"[") + "n\xC3\xA9\xC3\xA9\xFF" + utf16le(u"]", false));
}

TEST(Include, CyclesEndTheRunNamingThePathAsResolved) {
    TempTree t;
    t.write("self.shtml", "x<!--#include virtual=\"./self.shtml\" -->");
    t.write("a.shtml", "<!--#include virtual=\"sub/b.inc\" -->");
    t.write("sub/b.inc", "<!--#include virtual=\"../a.shtml\" -->");
    t.write("deep.shtml", "<!--#include virtual=\"sub/c.inc\" -->");
    t.write("sub/c.inc", "<!--#include virtual=\"/sub/c.inc\" -->");
    const struct {
        const char* page;
        std::string cycle;
    } rows[] = {{"self.shtml", "./self.shtml"}, {"a.shtml", "sub/../a.shtml"}, {"deep.shtml", "sub/c.inc"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.page);
        const file_conversion_t run = convert_document(t.path(row.page), t.path("out"), t.path());
        EXPECT_EQ(run.error, "Include cycle: " + t.path(row.cycle) + " is already being processed");
        EXPECT_EQ(run.open_documents, std::vector<file_identity_t>{});
    }
}

TEST(Include, FailureToOpenEndsTheRunAndKeepsTheOutputSoFar) {
    TempTree t;
    t.make_dir("src/folder");
    t.write("src/nest.inc", "<!--#include virtual=\"missing.inc\" -->");
    const std::string long_text(200 * 1024, 'b');
    const std::string long_name(300, 'n');
    const std::string missing = t.path("src/missing.inc") + ": No such file or directory";
    const struct {
        const char* name;
        std::string before, value, error;
    } rows[] = {
        {"missing after much text", long_text, "missing.inc", missing},
        {"missing in a nested include", "before", "nest.inc", missing},
        {"a folder", "before", "folder", t.path("src/folder") + ": Is a directory"},
        {"an empty value", "before", "", t.path("src") + "/: Is a directory"},
        {"a name over NAME_MAX", "before", long_name, t.path("src/") + long_name + ": File name too long"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string source =
            t.write("src/page.shtml", row.before + "<!--#include virtual=\"" + row.value + "\" -->after");
        const file_conversion_t run = convert_document(source, t.path("out.shtml"));
        EXPECT_EQ(run.error, row.error);
        EXPECT_EQ(read_file(t.path("out.shtml")), row.before);
        EXPECT_EQ(run.log, std::vector<std::string>{});
        EXPECT_EQ(run.open_documents, std::vector<file_identity_t>{});
    }
}
