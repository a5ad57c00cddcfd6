#include "base/exceptions.h"
#include "recording_log.h"
#include "run_engine.h"
#include "site/convert.h"
#include "ssi/document_output.h"
#include "ssi/preferences.h"
#include "ssi/ssi_parser.h"
#include "temp_tree.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {
// An ASCII text as UTF-16 code units.
std::u16string widen_ascii(std::string_view text) { return {text.begin(), text.end()}; }

// Runs the engine over a document on disk, as the walk does, with the output kept in memory.
engine_result_t run_document(const std::string& path, const SSIParserPreferences& preferences = {}) {
    RecordingLog log;
    DocumentOutput output;
    SSIParser::State state;
    SSIParser parser(path, output, preferences, state, log);
    parser.process();
    return {output.text(), log.texts()};
}

void set_mtime(const std::string& path, std::int64_t seconds) {
    const struct timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// The text of the exception that ends a run over a document on disk.
std::string failure_of(const std::string& path, const SSIParserPreferences& preferences = {}) {
    try {
        run_document(path, preferences);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no failure";
}
}  // namespace

// Where `[<!--#include virtual="..." -->]` reads from, in an 8-bit and in a UTF-16 document.
TEST(Include, ResolvesVirtualPaths) {
    TempTree t;
    t.write("site/inc/a.inc", "A");
    t.write("site/news/a.inc", "news-a");
    t.write("site/news/inc/a.inc", "news-inc-a");
    t.write("site/news/sp.inc ", "spaced");
    t.write("site/news/deep/menu.inc",
            "M(<!--#include virtual=\"/inc/a.inc\" -->,<!--#include virtual=\"sub/x.inc\" -->)");
    t.write("site/news/deep/sub/x.inc", "X<!--#include virtual=\"/inc/a.inc\" -->");
    t.write("site/news/deep/inc/a.inc", "deep-a");
    t.write("site/news/deep/sub/inc/a.inc", "sub-a");
    t.write("site/common/c.inc", "C");
    const std::string site = t.path("site");
    const std::string news = t.path("site/news");

    struct row_t {
        const char* name;
        std::string root;
        const char* value;
        std::string inserted;
    };
    const row_t rows[] = {
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
    for (const row_t& row : rows) {
        SCOPED_TRACE(row.name);
        SSIParserPreferences preferences;
        preferences.virtual_root = row.root;
        const std::string directive = std::string("[<!--#set var=\"v\" value=\"a.inc\" -->") +
                                      "<!--#include virtual=\"" + row.value + "\" -->]";
        const engine_result_t narrow = run_engine(directive, preferences, news);
        EXPECT_EQ(narrow.output, "[" + row.inserted + "]");
        EXPECT_EQ(narrow.log, std::vector<std::string>{});

        const engine_result_t wide = run_engine(utf16le(widen_ascii(directive)), preferences, news);
        EXPECT_EQ(wide.output, utf16le(u"[") + row.inserted + utf16le(u"]", false));
        EXPECT_EQ(wide.log, std::vector<std::string>{});
    }
}

TEST(Include, ZeroWidthSpaceIsABlankInAUtf16Document) {
    TempTree t;
    t.write("a.inc", "A");
    const engine_result_t result = run_engine(utf16le(u"<!--#include virtual=\"\u200B a.inc\" -->"), {}, t.path());
    EXPECT_EQ(result.output, utf16le(u"") + "A");
    EXPECT_EQ(result.log, std::vector<std::string>{});
}

// include, fsize and flastmod name their file the same way, and reject the same arguments.
TEST(Include, ArgumentErrorsAreLoggedAndTheRunGoesOn) {
    TempTree t;
    t.write("a.inc", "A");
    struct row_t {
        const char* arguments;
        const char* message;
    };
    const row_t rows[] = {
        {"", "Missing 'file' or 'virtual' argument"},
        {" file=\"a.inc\" virtual=\"a.inc\"", "Both 'file' and 'virtual' arguments"},
        {" virtual=\"a.inc\" file=\"a.inc\"", "Both 'file' and 'virtual' arguments"},
        {" file=\"a.inc\"", "'file' argument is not supported (only 'virtual')"},
    };
    for (const std::string command : {"include", "fsize", "flastmod"}) {
        for (const row_t& row : rows) {
            SCOPED_TRACE(command + row.arguments);
            const engine_result_t result = run_engine("[<!--#" + command + row.arguments + " -->]", {}, t.path());
            EXPECT_EQ(result.output, "[]");
            EXPECT_EQ(result.log, std::vector<std::string>{row.message});
        }
    }
}

TEST(Include, IncludedDocumentsBehaveAsTheirOwnDocuments) {
    TempTree t;
    t.write("v1.inc", "<<!--#echo var=\"x\" --><!--#set var=\"y\" value=\"2\" --><!--#include virtual=\"v2.inc\" -->>");
    t.write("v2.inc", "{<!--#echo var=\"x\" --><!--#set var=\"z\" value=\"3\" -->}");
    set_mtime(t.write("k.bin", std::string(1536, 'k')), 984560707);  // 2001-03-14 09:05:07 UTC
    t.write("cfg.inc", "(<!--#fsize virtual=\"k.bin\" --> <!--#flastmod virtual=\"k.bin\" -->)"
                       "<!--#config sizefmt=\"abbrev\" timefmt=\"%H\" -->");
    t.write("brk.inc", "a<!--#break -->b");
    t.write("eof.inc", "a<!--#echo");
    t.write("empty.inc", "");
    t.write("a.inc", "A");
    t.write("twice.inc", "<!--#include virtual=\"a.inc\" --><!--#include virtual=\"a.inc\" -->");

    struct row_t {
        const char* name;
        std::string document;
        std::string output;
        std::vector<std::string> log;
    };
    const row_t rows[] = {
        {"variables shared both ways at any depth",
         "<!--#set var=\"x\" value=\"1\" --><!--#include virtual=\"v1.inc\" -->"
         "<!--#echo var=\"y\" --><!--#echo var=\"z\" -->",
         "<1{1}>23",
         {}},
        {"config is not shared",
         "<!--#config sizefmt=\"bytes\" timefmt=\"%Y\" --><!--#include virtual=\"cfg.inc\" -->"
         "<!--#fsize virtual=\"k.bin\" --> <!--#flastmod virtual=\"k.bin\" -->",
         "(1.5k Wed, 14-Mar-2001 09:05:07)1536 2001",
         {}},
        {"break ends only the included document", "[<!--#include virtual=\"brk.inc\" -->]after", "[a]after", {}},
        {"end of file ends only the included document",
         "[<!--#include virtual=\"eof.inc\" -->]after",
         "[a]after",
         {"Unexpected end of file"}},
        {"an empty document inserts nothing", "[<!--#include virtual=\"empty.inc\" -->]", "[]", {}},
        {"the same file twice in a row", "[<!--#include virtual=\"twice.inc\" --><!--#include virtual=\"a.inc\" -->]",
         "[AAA]", {}},
        {"an include sets SERVER_SOFTWARE again",
         "<!--#set var=\"SERVER_SOFTWARE\" value=\"x\" --><!--#echo var=\"SERVER_SOFTWARE\" -->|"
         "<!--#include virtual=\"empty.inc\" --><!--#echo var=\"SERVER_SOFTWARE\" -->",
         "x|Orrinfold 1.15",
         {}},
    };
    for (const row_t& row : rows) {
        SCOPED_TRACE(row.name);
        const engine_result_t result = run_engine(row.document, {}, t.path());
        EXPECT_EQ(result.output, row.output);
        EXPECT_EQ(result.log, row.log);
    }
}

TEST(Include, TextIsCopiedInTheIncludedDocumentsOwnEncoding) {
    TempTree t;
    t.write("wide.inc", utf16le(u"W<!--#echo var=\"x\" -->"));
    t.write("narrow.inc", "n\xC3\xA9<!--#echo var=\"x\" -->\xFF");

    // A UTF-16 document inside an 8-bit one: its byte order mark lands in the middle.
    const engine_result_t in_narrow =
        run_engine("[<!--#set var=\"x\" value=\"\xC3\xA9\" --><!--#include virtual=\"wide.inc\" -->]", {}, t.path());
    EXPECT_EQ(in_narrow.output, "[" + utf16le(u"W\u00E9") + "]");
    EXPECT_EQ(in_narrow.log, std::vector<std::string>{});

    // And the reverse: the 8-bit bytes go out as they are.
    const engine_result_t in_wide = run_engine(
        utf16le(u"[<!--#set var=\"x\" value=\"\u00E9\" --><!--#include virtual=\"narrow.inc\" -->]"), {}, t.path());
    EXPECT_EQ(in_wide.output, utf16le(u"[") + "n\xC3\xA9\xC3\xA9\xFF" + utf16le(u"]", false));
    EXPECT_EQ(in_wide.log, std::vector<std::string>{});
}

TEST(Include, CyclesEndTheRunNamingThePathAsResolved) {
    TempTree t;
    const std::string self = t.write("self.shtml", "x<!--#include virtual=\"self.shtml\" -->");
    const std::string dotted = t.write("dotted.shtml", "x<!--#include virtual=\"./dotted.shtml\" -->");
    const std::string a = t.write("a.shtml", "<!--#include virtual=\"sub/b.inc\" -->");
    t.write("sub/b.inc", "<!--#include virtual=\"../a.shtml\" -->");
    const std::string deep = t.write("deep.shtml", "<!--#include virtual=\"sub/c.inc\" -->");
    t.write("sub/c.inc", "<!--#include virtual=\"/sub/c.inc\" -->");

    SSIParserPreferences rooted;
    rooted.virtual_root = t.path();
    EXPECT_EQ(failure_of(self), "Include cycle: " + self + " is already being processed");
    EXPECT_EQ(failure_of(dotted), "Include cycle: " + t.path("./dotted.shtml") + " is already being processed");
    EXPECT_EQ(failure_of(a), "Include cycle: " + t.path("sub/../a.shtml") + " is already being processed");
    EXPECT_EQ(failure_of(deep, rooted), "Include cycle: " + t.path("sub/c.inc") + " is already being processed");
}

TEST(Include, FailureToOpenEndsTheRunAndKeepsTheOutputSoFar) {
    TempTree t;
    t.make_dir("src/folder");
    struct row_t {
        const char* name;
        std::string before;
        const char* value;
        std::string error;
    };
    const std::string long_text(200 * 1024, 'b');
    const std::string long_name(300, 'n');
    const std::string missing = t.path("src/missing.inc") + ": No such file or directory";
    const row_t rows[] = {
        {"missing", "before", "missing.inc", missing},
        {"missing after much text", long_text, "missing.inc", missing},
        {"missing in a nested include", "before", "nest.inc", missing},
        {"a folder", "before", "folder", t.path("src/folder") + ": Is a directory"},
        {"an empty value", "before", "", t.path("src") + "/: Is a directory"},
        {"a name over NAME_MAX", "before", long_name.c_str(), t.path("src/") + long_name + ": File name too long"},
    };
    t.write("src/nest.inc", "<!--#include virtual=\"missing.inc\" -->");
    for (const row_t& row : rows) {
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
