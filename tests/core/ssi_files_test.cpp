// The engine on files: include, fsize and flastmod, the reading window, and diagnostics' locations.
#include "build/convert.h"
#include "pinned_time.h"
#include "recording_log.h"
#include "run_engine.h"
#include "ssi/document_cache.h"
#include "temp_tree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr std::int64_t pi_day = 984560707;  // Wed, 14-Mar-2001 09:05:07 UTC

constexpr std::size_t window = 256 * 1024;

}  // namespace

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
    const std::string site = t.path("site");
    const struct { const char* name; std::string root, value, inserted; } rows[] = {
        {"root-relative", site, "/inc/a.inc", "A"},
        {"empty root: directory, slash, value", "", "/a.inc", "news-a"},
        {"relative", site, "a.inc", "news-a"},
        {"each document resolves against its own folder", site, "deep/menu.inc", "M(A,XA)"},
        {"and without a root too", "", "deep/menu.inc", "M(deep-a,Xsub-a)"},
        {"leading blanks stripped", site, " \t\n\r a.inc", "news-a"},
        {"trailing blank kept", site, "sp.inc ", "spaced"},
        {"backslashes are never root-relative", site, "\\inc\\a.inc", "news-inc-a"},
        {"backslashes separate folders", site, "deep\\sub\\x.inc", "XA"},
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

TEST(Include, CyclesAndChainsTooDeepEndTheRunNamingThePathAsResolved) {
    TempTree t;
    t.write("self.shtml", "x<!--#include virtual=\"./self.shtml\" -->");
    t.write("a.shtml", "<!--#include virtual=\"sub/b.inc\" -->");
    t.write("sub/b.inc", "<!--#include virtual=\"../a.shtml\" -->");
    t.write("deep.shtml", "<!--#include virtual=\"sub/c.inc\" -->");
    t.write("sub/c.inc", "<!--#include virtual=\"/sub/c.inc\" -->");
    const struct { const char* page; std::string cycle; } rows[] = {
        {"self.shtml", "./self.shtml"}, {"a.shtml", "sub/../a.shtml"}, {"deep.shtml", "sub/c.inc"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.page);
        const file_conversion_t run = convert_document(t.path(row.page), t.path("out"), t.path());
        EXPECT_EQ(run.error, "Include cycle: " + t.path(row.cycle) + " is already being processed");
        EXPECT_EQ(run.open_documents, std::vector<file_identity_t>{});
    }
    // c/1.inc includes c/2.inc and so on; c/256.inc is the bottom.
    for (int i = 1; i < 256; ++i)
        t.write("c/" + std::to_string(i) + ".inc", "<!--#include virtual=\"" + std::to_string(i + 1) + ".inc\" -->");
    t.write("c/256.inc", "bottom");
    t.write("at-limit.shtml", "<!--#include virtual=\"c/2.inc\" -->");
    t.write("past-limit.shtml", "<!--#include virtual=\"c/1.inc\" -->");
    EXPECT_EQ(convert_document(t.path("at-limit.shtml"), t.path("out"), t.path()).error, "no failure");
    EXPECT_EQ(read_file(t.path("out")), "bottom");
    EXPECT_EQ(convert_document(t.path("past-limit.shtml"), t.path("out"), t.path()).error,
              "Includes nested more than 256 documents deep: " + t.path("c/256.inc"));
}

// A file that include, fsize or flastmod cannot open ends the run, with nothing written.
TEST(Include, FailureToOpenEndsTheRunAndWritesNothing) {
    TempTree t;
    t.make_dir("src/folder");
    t.write("src/nest.inc", "<!--#include virtual=\"missing.inc\" -->");
    t.write("src/star1.txt", "x");
    const std::string long_name(300, 'n');
    const auto missing = [&t](const std::string& file) { return t.path("src/" + file) + ": No such file or directory"; };
    const struct { std::string directive, error; } rows[] = {
        {std::string(200 * 1024, 'b') + "<!--#include virtual=\"missing.inc\" -->", missing("missing.inc")},
        {"<!--#include virtual=\"nest.inc\" -->", missing("missing.inc")},
        {"<!--#include virtual=\"folder\" -->", t.path("src/folder") + ": Is a directory"},
        {"<!--#include virtual=\"\" -->", t.path("src") + "/: Is a directory"},
        {"<!--#include virtual=\"" + long_name + "\" -->", t.path("src/") + long_name + ": File name too long"},
        {"<!--#fsize virtual=\"star?.txt\" -->", missing("star?.txt")},  // no wildcards
        {"<!--#flastmod virtual=\"sub/../missing.html\" -->", missing("sub/../missing.html")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.directive.substr(0, 50));
        const std::string source = t.write("src/page.shtml", "before" + row.directive + "after");
        const file_conversion_t run = convert_document(source, t.path("out.shtml"));
        EXPECT_EQ(run.error, row.error);
        EXPECT_EQ(read_tree(t.path()).size(), 5U);  // src and its four entries: no output, no temporary file
        EXPECT_EQ(run.log, std::vector<std::string>{});
        EXPECT_EQ(run.open_documents, std::vector<file_identity_t>{});
    }
}

// fsize and flastmod read a file's status; the formats themselves are tested on their own.
TEST(FileInfo, SizeAndLocalTimeOfFiles) {
    TempTree t;
    set_mtime(t.write("k.bin", std::string(1536, 'k')), pi_day);
    set_mtime(t.write("old", "12"), -31536000);       // 1969-01-01
    set_mtime(t.write("future", "123"), 4102444800);  // 2100-01-01, past 32-bit seconds
#ifdef _WIN32
    ASSERT_EQ(::truncate64(t.write("sparse", "").c_str(), off64_t{5} << 30), 0);
#else
    ASSERT_EQ(::truncate(t.write("sparse", "").c_str(), off_t{5} << 30), 0);
#endif
    t.write("folder/inside", std::string(5000, 'i'));
    set_mtime(t.path("folder"), 1000000000);  // 2001-09-09 01:46:40 UTC
    struct stat folder {};
    ASSERT_EQ(::stat(t.path("folder").c_str(), &folder), 0);

    const zone_guard zone("EET-2");  // times are the machine's local time
    const std::string bytes = "<!--#config sizefmt=\"bytes\" -->";
    SSIParserPreferences rooted;
    rooted.virtual_root = t.path();
    expect_document_cases({
        {"size over four gigabytes",
         "<!--#fsize virtual=\"sparse\" -->|" + bytes + "<!--#fsize virtual=\"sparse\" -->", "5120M|5368709120"},
        {"times, before 1970 and after 2038",
         "<!--#flastmod virtual=\"k.bin\" -->|<!--#flastmod virtual=\"old\" -->|<!--#flastmod virtual=\"future\" -->",
         "Wed, 14-Mar-2001 11:05:07|Wed, 01-Jan-1969 02:00:00|Fri, 01-Jan-2100 02:00:00"},
        {"a folder's own size and time", bytes + "<!--#fsize virtual=\"folder\" -->|<!--#flastmod virtual=\"folder\" -->",
         to_decimal(static_cast<std::uint64_t>(folder.st_size)) + "|Sun, 09-Sep-2001 03:46:40"},
        {"root-relative and dot-dot", "<!--#fsize virtual=\"/k.bin\" -->|<!--#fsize virtual=\"folder/../k.bin\" -->",
         "1.5k|1.5k"},
    }, rooted, t.path());
}

// A document read from disk through the sliding window must convert exactly as the same
// bytes converted in memory, wherever its directives fall against the window's edges.
TEST(DocumentReading, DirectivesAcrossTheWindowEdgeConvertAsInMemory) {
    std::vector<std::string> documents{
        "<!--#set var=\"x\" value=\"" + std::string(3 * window, 'v') + "\" -->[<!--#echo var=\"x\" -->]",  // value > window
        std::string(window + 7, 'a') + "<!--#echo var=\"x",        // end of file in a directive past the window
        std::string(window - 13, 'a') + "<!--#echo var=x-->tail",  // unquoted value meets the closer at the edge
        std::string(window - 16, 'a') + "<!--#echo var=x-->tail",  // closer's first dash the window's last byte
        std::string(window - 2, 'a') + "<!-- #echo -->",           // opener split at the edge, not a directive
        // An 8-bit opener shifted by one byte in UTF-16 reads as an opener only at odd offsets.
        as_utf16(std::string(window / 2 + 3, 'a'), true) +
            std::string("x<\0!\0-\0-\0#\0e\0c\0h\0o\0 \0-\0-\0>\0", 27) + as_utf16("<!--#echo var=\"q\" -->zo", false)};
    const std::string directive = R"(<!--#set var="x" value="v" --><!--#echo var="x" -->)";
    for (const std::size_t at : {window - 9, window - 4, window - 3, window - 1, window, window + 1, 2 * window - 5}) {
        const std::string text = std::string(at, 'a') + directive + std::string(window / 2, 'b') + directive + "end";
        // In UTF-16 every unit is two bytes, so the edge falls at other places of the directive.
        documents.insert(documents.end(), {text, as_utf16(text.substr(1), true)});
    }
    TempTree t;
    for (std::size_t i = 0; i < documents.size(); ++i) {
        SCOPED_TRACE(i);
        const file_conversion_t run = convert_document(t.write("doc.shtml", documents[i]), t.path("out.shtml"));
        const engine_result_t expected = run_engine(documents[i], {}, t.path());
        EXPECT_EQ(read_file(t.path("out.shtml")), expected.output);
        EXPECT_EQ(run.log, expected.log);
    }
}

TEST(DocumentCache, KeepsADocumentOnlyWhileTheFileIsUnchanged) {
    DocumentCache cache;
    file_status_t status;
    status.identity = {1, 2};
    status.size = 3;
    status.modified = 100;
    cache.store("/site/a.inc", status, std::make_shared<const std::string>("abc"));
    ASSERT_NE(cache.find("/site/a.inc", status), nullptr);
    EXPECT_EQ(*cache.find("/site/a.inc", status), "abc");
    EXPECT_EQ(cache.find("/site/b.inc", status), nullptr);
    for (auto change : {+[](file_status_t& s) { s.size = 4; }, +[](file_status_t& s) { s.modified = 101; },
                        +[](file_status_t& s) { s.modified_nanoseconds = 1; },
                        +[](file_status_t& s) { s.identity.inode = 9; }}) {
        file_status_t changed = status;
        change(changed);
        EXPECT_EQ(cache.find("/site/a.inc", changed), nullptr);
    }
}

// Each diagnostic points at the opener of its directive, in characters of the document's
// encoding; the documents are read from disk, through the window, as a run reads them.
TEST(Diagnostics, PointAtTheDirectiveWhateverTheDocument) {
    const std::string foo = "<!--#foo -->";
    const std::string many_lines = "<!--#echo" + std::string(5000, '\n') + "vr=\"y\" -->\n" + foo;
    const struct { const char* name; std::string document; std::vector<std::string> locations; } rows[] = {
        {"lines and UTF-8 characters", "a\r\n  " + foo + "\n\xC3\xA9\xF0\x9F\x98\x80\xFF" + foo + foo, {"2:3", "3:4", "3:16"}},
        {"UTF-16, a pair is one character", utf16le(u"a\n  <!--#foo -->\n\u00E9\U0001F600<!--#foo -->"), {"2:3", "3:3"}},
        {"UTF-8 byte order mark", "\xEF\xBB\xBF" + foo, {"1:1"}},
        {"encoding messages point at line 1", "\xFE\xFF\n\n" + foo, {"1:1", "3:1"}},
        {"odd-sized UTF-16", utf16le(u"\n<!--#foo -->") + "x", {"1:1", "2:1"}},
        {"end of file at the opener", "x\n <!--#echo var=\"a", {"2:2"}},
        {"a directive over thousands of lines", many_lines, {"1:1", "1:1", "5002:1"}},
    };
    TempTree t;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
#ifdef _WIN32
        const std::string path = t.write("odd \xC3\xBF name.shtml", row.document);  // Wine keeps only UTF-8 names
#else
        const std::string path = t.write("odd \xFF name.shtml", row.document);
#endif
        const file_conversion_t run = convert_document(path, t.path("out"));
        std::vector<std::string> expected;
        for (const std::string& at : row.locations) expected.push_back(path + ":" + at);
        EXPECT_EQ(run.locations, expected);
    }
}

TEST(Diagnostics, NameDocumentsUnderTheSiteAndTheIncludesThatLedThere) {
    TempTree t;
    t.write("src/news/page.shtml", "<!--#include virtual=\"a.inc\" -->\n<!--#include virtual=\"/../outside.inc\" -->");
    t.write("src/news/a.inc", "\n\n  <!--#include virtual=\"sub/b.inc\" -->");
    t.write("src/news/sub/b.inc", "\n<!--#include virtual=\"../c.inc\" -->");
    t.write("src/news/c.inc", "x <!--#echo -->");
    t.write("outside.inc", "<!--#bad -->");
    SSIDirectoryPreferences preferences = default_preferences();
    preferences.virtual_root = t.path("src");
    preferences.allow_outside = {t.path()};
    RecordingLog log;
    convert_directory("site", t.path("src"), t.path("dst"), preferences, log);
    EXPECT_EQ(log.locations, (std::vector<std::string>{
                                 "site/news/sub/../c.inc:1:3 < site/news/sub/b.inc:2:1 < site/news/a.inc:3:3 < "
                                 "site/news/page.shtml:1:1",
                                 t.path("src/../outside.inc") + ":1:1 < site/news/page.shtml:2:1",
                             }));
}
