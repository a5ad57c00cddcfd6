#include "recording_log.h"
#include "run_engine.h"
#include "site/convert.h"
#include "ssi/preferences.h"
#include "temp_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Each diagnostic points at the opener of its directive, in characters of the document's
// encoding; the documents are read from disk, through the window, as a run reads them.
TEST(Diagnostics, PointAtTheDirectiveWhateverTheDocument) {
    const std::string foo = "<!--#foo -->";
    const std::string many_lines = "<!--#echo" + std::string(5000, '\n') + "vr=\"y\" -->\n" + foo;
    const std::string long_line = std::string(1000000, 'a') + foo;
    const std::string huge_line = "ab" + foo + std::string(100 << 20, 'a') + foo;
    const struct {
        const char* name;
        std::string document;
        std::vector<std::string> locations;
    } rows[] = {
        {"lines and UTF-8 characters", "a\r\n  " + foo + "\n\xC3\xA9\xF0\x9F\x98\x80\xFF" + foo + foo, {"2:3", "3:4", "3:16"}},
        {"UTF-16, a pair is one character", utf16le(u"a\n  <!--#foo -->\n\u00E9\U0001F600<!--#foo -->"), {"2:3", "3:3"}},
        {"UTF-8 byte order mark", "\xEF\xBB\xBF" + foo, {"1:1"}},
        {"encoding messages point at line 1", "\xFE\xFF\n\n" + foo, {"1:1", "3:1"}},
        {"odd-sized UTF-16", utf16le(u"\n<!--#foo -->") + "x", {"1:1", "2:1"}},
        {"end of file at the opener", "x\n <!--#echo var=\"a", {"2:2"}},
        {"a directive over thousands of lines", many_lines, {"1:1", "1:1", "5002:1"}},
        {"a long line past the window", long_line, {"1:1000001"}},
        {"a line of 100 MB", huge_line, {"1:3", "1:" + std::to_string(huge_line.size() - foo.size() + 1)}},
    };
    TempTree t;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = t.write("odd \xFF name.shtml", row.document);
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
    RecordingLog log;
    convert_directory("site", t.path("src"), t.path("dst"), preferences, log);
    EXPECT_EQ(log.locations, (std::vector<std::string>{
                                 "site/news/sub/../c.inc:1:3 < site/news/sub/b.inc:2:1 < site/news/a.inc:3:3 < "
                                 "site/news/page.shtml:1:1",
                                 t.path("src/../outside.inc") + ":1:1 < site/news/page.shtml:2:1",
                             }));
}
