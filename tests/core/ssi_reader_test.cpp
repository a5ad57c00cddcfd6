#include "recording_log.h"
#include "run_engine.h"
#include "site/convert.h"
#include "ssi/document_cache.h"
#include "ssi/preferences.h"
#include "temp_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
constexpr std::size_t window = 256 * 1024;

// A document read from disk through the sliding window must convert exactly as the same
// bytes converted in memory, wherever its directives fall against the window's edges.
void expect_same_as_in_memory(const std::string& document) {
    TempTree t;
    const std::string source = t.write("doc.shtml", document);
    RecordingLog log;
    SSIParser::State state;
    convert_file(source, t.path("out.shtml"), default_preferences(), state, log);
    const engine_result_t expected = run_engine(document, {}, t.path());
    EXPECT_EQ(read_file(t.path("out.shtml")), expected.output);
    EXPECT_EQ(log.texts(), expected.log);
}
}  // namespace

TEST(DocumentReading, DirectivesAcrossTheWindowEdgeConvertAsInMemory) {
    const std::string directive = R"(<!--#set var="x" value="v" --><!--#echo var="x" -->)";
    for (const std::size_t at : {window - 9, window - 4, window - 3, window - 1, window, window + 1, 2 * window - 5}) {
        SCOPED_TRACE(at);
        const std::string text = std::string(at, 'a') + directive + std::string(window / 2, 'b') + directive + "end";
        expect_same_as_in_memory(text);
        // In UTF-16 every unit is two bytes, so the edge falls at other places of the directive.
        expect_same_as_in_memory(as_utf16(text.substr(1), true));
    }
}

TEST(DocumentReading, LongDirectivesAndOddEndsConvertAsInMemory) {
    const std::string long_value = std::string(3 * window, 'v');
    const struct {
        const char* name;
        std::string document;
    } cases[] = {
        {"value longer than the window", "<!--#set var=\"x\" value=\"" + long_value + "\" -->[<!--#echo var=\"x\" -->]"},
        {"end of file inside a directive past the window", std::string(window + 7, 'a') + "<!--#echo var=\"x"},
        {"unquoted value that meets the closer at the edge",
         std::string(window - 13, 'a') + "<!--#echo var=x-->tail"},
        {"closer's first dash the window's last byte", std::string(window - 16, 'a') + "<!--#echo var=x-->tail"},
        {"opener split at the edge but not a directive", std::string(window - 2, 'a') + "<!-- #echo -->"},
        // An 8-bit opener shifted by one byte reads as an opener only at odd offsets.
        {"UTF-16 opener at an odd offset past the window",
         as_utf16(std::string(window / 2 + 3, 'a'), true) + std::string("x<\0!\0-\0-\0#\0e\0c\0h\0o\0 \0-\0-\0>\0", 27) +
             as_utf16("<!--#echo var=\"q\" -->zo", false)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expect_same_as_in_memory(c.document);
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

TEST(DocumentCache, EachRunReadsIncludesAfresh) {
    TempTree t;
    t.write("src/a.shtml", R"(<!--#include virtual="part.inc" -->)");
    for (const char* part : {"one", "second"}) {
        t.write("src/part.inc", part);
        RecordingLog log;
        convert_directory("", t.path("src"), t.path("dst"), default_preferences(), log);
        EXPECT_EQ(read_file(t.path("dst/a.shtml")), part);
    }
}
