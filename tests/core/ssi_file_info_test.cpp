#include "pinned_time.h"
#include "platform/text.h"
#include "run_engine.h"
#include "ssi/preferences.h"
#include "temp_tree.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fcntl.h>
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

// fsize and flastmod read a file's status; the formats themselves are tested on their own.
TEST(FileInfo, SizeAndLocalTimeOfFiles) {
    TempTree t;
    set_mtime(t.write("k.bin", std::string(1536, 'k')), pi_day);
    set_mtime(t.write("old", "12"), -31536000);       // 1969-01-01
    set_mtime(t.write("future", "123"), 4102444800);  // 2100-01-01, past 32-bit seconds
    t.write("star*.txt", std::string(10, 's'));
    t.write("star1.txt", std::string(99999, 's'));
    t.write("q?.txt", std::string(20, 'q'));
    t.write("qa.txt", std::string(30, 'q'));
    ASSERT_EQ(::truncate(t.write("sparse", "").c_str(), off_t{5} << 30), 0);
    t.write("folder/inside", std::string(5000, 'i'));
    set_mtime(t.path("folder"), 1000000000);  // 2001-09-09 01:46:40 UTC
    struct stat folder {};
    ASSERT_EQ(::stat(t.path("folder").c_str(), &folder), 0);

    const zone_guard zone("EET-2");  // times are the machine's local time
    const std::string bytes = "<!--#config sizefmt=\"bytes\" -->";
    SSIParserPreferences rooted;
    rooted.virtual_root = t.path();
    expect_document_cases({
        {"size", "<!--#fsize virtual=\"k.bin\" -->|" + bytes + "<!--#fsize virtual=\"k.bin\" -->", "1.5k|1536"},
        {"over four gigabytes", "<!--#fsize virtual=\"sparse\" -->|" + bytes + "<!--#fsize virtual=\"sparse\" -->",
         "5120M|5368709120"},
        {"time", "<!--#flastmod virtual=\"k.bin\" -->", "Wed, 14-Mar-2001 11:05:07"},
        {"before 1970 and after 2038", "<!--#flastmod virtual=\"old\" -->|<!--#flastmod virtual=\"future\" -->",
         "Wed, 01-Jan-1969 02:00:00|Fri, 01-Jan-2100 02:00:00"},
        {"star and question mark taken literally",
         bytes + "<!--#fsize virtual=\"star*.txt\" -->|<!--#fsize virtual=\"q?.txt\" -->", "10|20"},
        {"a folder's own size and time", bytes + "<!--#fsize virtual=\"folder\" -->|<!--#flastmod virtual=\"folder\" -->",
         to_decimal(static_cast<std::uint64_t>(folder.st_size)) + "|Sun, 09-Sep-2001 03:46:40"},
        {"root-relative and dot-dot", "<!--#fsize virtual=\"/k.bin\" -->|<!--#fsize virtual=\"folder/../k.bin\" -->",
         "1.5k|1.5k"},
    }, rooted, t.path());
}

TEST(FileInfo, WorksOnTheDocumentBeingProcessedAndItsIncluder) {
    TempTree t;
    const std::string page_text = "<!--#config sizefmt=\"bytes\" --><!--#fsize virtual=\"page.shtml\" -->|"
                                  "<!--#flastmod virtual=\"page.shtml\" -->|<!--#include virtual=\"part.inc\" -->";
    const std::string page = t.write("page.shtml", page_text);
    set_mtime(page, pi_day);
    t.write("part.inc", "<!--#fsize virtual=\"page.shtml\" -->");
    const file_conversion_t run = convert_document(page, t.path("out"));
    EXPECT_EQ(read_file(t.path("out")), to_decimal(page_text.size()) + "|Wed, 14-Mar-2001 09:05:07|0.1k");
    EXPECT_EQ(run.error, "no failure");
}

TEST(FileInfo, MissingFileEndsTheRunAndKeepsTheOutputSoFar) {
    TempTree t;
    t.write("src/star1.txt", "x");
    for (const char* command : {"fsize", "flastmod"}) {
        for (const char* value : {"star?.txt", "sub/../missing.html"}) {
            SCOPED_TRACE(std::string(command) + " " + value);
            const std::string source =
                t.write("src/page.shtml", std::string("before<!--#") + command + " virtual=\"" + value + "\" -->after");
            const file_conversion_t run = convert_document(source, t.path("out.shtml"));
            EXPECT_EQ(run.error, t.path("src/") + value + ": No such file or directory");
            EXPECT_EQ(read_file(t.path("out.shtml")), "before");
            EXPECT_EQ(run.log, std::vector<std::string>{});
        }
    }
}
