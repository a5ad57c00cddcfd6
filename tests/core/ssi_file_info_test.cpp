#include "base/exceptions.h"
#include "platform/text.h"
#include "recording_log.h"
#include "run_engine.h"
#include "site/convert.h"
#include "ssi/document_output.h"
#include "ssi/preferences.h"
#include "ssi/ssi_parser.h"
#include "pinned_time.h"
#include "temp_tree.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr std::int64_t pi_day = 984560707;  // Wed, 14-Mar-2001 09:05:07 UTC

void set_mtime(const std::string& path, std::int64_t seconds) {
    const struct timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

}  // namespace

TEST(FileInfo, SizeAndTimeOfFiles) {
    TempTree t;
    set_mtime(t.write("k.bin", std::string(1536, 'k')), pi_day);
    set_mtime(t.write("empty", ""), 0);
    set_mtime(t.write("old", "12"), -31536000);          // 1969-01-01
    set_mtime(t.write("future", "123"), 4102444800);     // 2100-01-01, past 32-bit seconds
    set_mtime(t.write("star*.txt", std::string(10, 's')), pi_day);
    t.write("star1.txt", std::string(99999, 's'));
    t.write("q?.txt", std::string(20, 'q'));
    t.write("qa.txt", std::string(30, 'q'));
    t.write("folder/inside", std::string(5000, 'i'));
    set_mtime(t.path("folder"), 1000000000);            // 2001-09-09 01:46:40
    struct stat folder;
    ASSERT_EQ(::stat(t.path("folder").c_str(), &folder), 0);
    const std::string folder_size = to_decimal(static_cast<std::uint64_t>(folder.st_size));

    const std::string bytes = "<!--#config sizefmt=\"bytes\" -->";
    struct row_t {
        const char* name;
        std::string document;
        std::string output;
    };
    const row_t rows[] = {
        {"abbreviated size", "<!--#fsize virtual=\"k.bin\" -->", "1.5k"},
        {"size in bytes", bytes + "<!--#fsize virtual=\"k.bin\" -->", "1536"},
        {"empty file", "<!--#fsize virtual=\"empty\" -->|" + bytes + "<!--#fsize virtual=\"empty\" -->", "0.0k|0"},
        {"default time format", "<!--#flastmod virtual=\"k.bin\" -->", "Wed, 14-Mar-2001 09:05:07"},
        {"own time format", "<!--#config timefmt=\"%Y-%m-%d %Z\" --><!--#flastmod virtual=\"k.bin\" -->",
         "2001-03-14 UTC"},
        {"the epoch", "<!--#flastmod virtual=\"empty\" -->", "Thu, 01-Jan-1970 00:00:00"},
        {"before 1970", "<!--#flastmod virtual=\"old\" -->", "Wed, 01-Jan-1969 00:00:00"},
        {"after 2038", "<!--#flastmod virtual=\"future\" -->", "Fri, 01-Jan-2100 00:00:00"},
        {"star taken literally", bytes + "<!--#fsize virtual=\"star*.txt\" -->", "10"},
        {"question mark taken literally", bytes + "<!--#fsize virtual=\"q?.txt\" -->", "20"},
        {"a folder's own size", bytes + "<!--#fsize virtual=\"folder\" -->", folder_size},
        {"a folder's own time", "<!--#flastmod virtual=\"folder\" -->", "Sun, 09-Sep-2001 01:46:40"},
        {"root-relative and dot-dot", "<!--#fsize virtual=\"/k.bin\" -->|<!--#fsize virtual=\"folder/../k.bin\" -->",
         "1.5k|1.5k"},
    };
    SSIParserPreferences rooted;
    rooted.virtual_root = t.path();
    for (const row_t& row : rows) {
        SCOPED_TRACE(row.name);
        const engine_result_t result = run_engine(row.document, rooted, t.path());
        EXPECT_EQ(result.output, row.output);
        EXPECT_EQ(result.log, std::vector<std::string>{});
    }
}

TEST(FileInfo, SizeOfAFileOverFourGigabytes) {
    TempTree t;
    const std::string path = t.write("sparse", "");
    ASSERT_EQ(::truncate(path.c_str(), off_t{5} << 30), 0);
    const engine_result_t result = run_engine(
        "<!--#fsize virtual=\"sparse\" -->|<!--#config sizefmt=\"bytes\" --><!--#fsize virtual=\"sparse\" -->", {},
        t.path());
    EXPECT_EQ(result.output, "5120M|5368709120");
    EXPECT_EQ(result.log, std::vector<std::string>{});
}

TEST(FileInfo, TimeIsLocalToTheMachinesZone) {
    TempTree t;
    set_mtime(t.write("k.bin", "k"), pi_day);
    const zone_guard zone("EET-2");
    const engine_result_t result = run_engine(
        "<!--#flastmod virtual=\"k.bin\" -->|<!--#config timefmt=\"%H:%M %Z\" --><!--#flastmod virtual=\"k.bin\" -->",
        {}, t.path());
    EXPECT_EQ(result.output, "Wed, 14-Mar-2001 11:05:07|11:05 EET");
}

TEST(FileInfo, ResultInAUtf16Document) {
    TempTree t;
    set_mtime(t.write("k.bin", std::string(1536, 'k')), pi_day);
    const engine_result_t result =
        run_engine(utf16le(u"<!--#fsize virtual=\"k.bin\" -->|<!--#flastmod virtual=\"k.bin\" -->"), {}, t.path());
    EXPECT_EQ(result.output, utf16le(u"1.5k|Wed, 14-Mar-2001 09:05:07"));
}

TEST(FileInfo, WorksOnTheDocumentBeingProcessedAndItsIncluder) {
    TempTree t;
    const std::string page_text = "<!--#config sizefmt=\"bytes\" --><!--#fsize virtual=\"page.shtml\" -->|"
                                  "<!--#flastmod virtual=\"page.shtml\" -->|<!--#include virtual=\"part.inc\" -->";
    const std::string page = t.write("page.shtml", page_text);
    set_mtime(page, pi_day);
    t.write("part.inc", "<!--#fsize virtual=\"page.shtml\" -->");
    RecordingLog log;
    DocumentOutput output;
    SSIParser::State state;
    const SSIParserPreferences preferences;
    SSIParser parser(page, output, preferences, state, log);
    parser.process();
    EXPECT_EQ(output.text(), to_decimal(page_text.size()) + "|Wed, 14-Mar-2001 09:05:07|0.1k");
    EXPECT_EQ(log.texts(), std::vector<std::string>{});
}

TEST(FileInfo, MissingFileEndsTheRunAndKeepsTheOutputSoFar) {
    TempTree t;
    t.write("src/star1.txt", "x");
    for (const char* command : {"fsize", "flastmod"}) {
        for (const char* value : {"missing.html", "star?.txt", "sub/../missing.html"}) {
            SCOPED_TRACE(std::string(command) + " " + value);
            const std::string source =
                t.write("src/page.shtml", std::string("before<!--#") + command + " virtual=\"" + value + "\" -->after");
            const file_conversion_t run = convert_document(source, t.path("out.shtml"));
            EXPECT_EQ(run.error_path, t.path("src/") + value);
            EXPECT_EQ(run.error, t.path("src/") + value + ": No such file or directory");
            EXPECT_EQ(read_file(t.path("out.shtml")), "before");
            EXPECT_EQ(run.log, std::vector<std::string>{});
        }
    }
}
