#include "platform/clock.h"
#include "run_engine.h"
#include "ssi/ssi_parser.h"
#include "pinned_time.h"
#include "temp_tree.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Sun, 06-Dec-2026 01:24:53 UTC.
constexpr std::int64_t sample_time = 1796520293;

std::tm sample_tm() { return *universal_time(sample_time); }

}  // namespace

TEST(FormatSize, Abbreviated) {
    const struct {
        std::uint64_t size;
        std::u16string_view text;
    } cases[] = {
        {0, u"0.0k"},
        {102, u"0.0k"},
        {103, u"0.1k"},
        {500, u"0.4k"},
        {1023, u"0.9k"},
        {1024, u"1.0k"},
        {1536, u"1.5k"},
        {102399, u"99.9k"},
        {102400, u"100k"},
        {1048575, u"1023k"},
        {1048576, u"1.0M"},
        {1572864, u"1.5M"},
        {104857599, u"99.9M"},
        {104857600, u"100M"},
        {1073741824, u"1024M"},
        {4294967295, u"4095M"},
        {4294967296, u"4096M"},
        {5368709120, u"5120M"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        EXPECT_EQ(format_size(c.size, SSIParser::size_format_t::abbrev), c.text);
    }
}

TEST(FormatSize, Bytes) {
    const auto bytes = SSIParser::size_format_t::bytes;
    EXPECT_EQ(format_size(0, bytes), u"0");
    EXPECT_EQ(format_size(1536, bytes), u"1536");
    EXPECT_EQ(format_size(4294967295, bytes), u"4294967295");
    EXPECT_EQ(format_size(5368709120, bytes), u"5368709120");
}

TEST(FormatTime, Conversions) {
    const struct {
        std::u16string_view format, text;
    } cases[] = {
        {default_time_format, u"Sun, 06-Dec-2026 01:24:53"},
        {u"%c", u"12/06/26 01:24:53"},
        {u"%x", u"12/06/26"},
        {u"%X", u"01:24:53"},
        {u"%%c %%x", u"%c %x"},
        {u"%A %B %b %p %I %j %w %y %Z %%", u"Sunday December Dec AM 01 340 0 26 GMT %"},
        {u"at %H h, caf\u00E9", u"at 01 h, caf\u00E9"},
        {u"", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::u16string(c.format)));
        EXPECT_EQ(format_time(c.format, sample_tm()), c.text);
    }
    EXPECT_EQ(format_time(default_time_format, std::nullopt), u"");
}

TEST(FormatTime, CutTo511Bytes) {
    EXPECT_EQ(format_time(std::u16string(600, u'a'), sample_tm()), std::u16string(511, u'a'));
    std::u16string format, days;
    for (int i = 0; i < 100; ++i) {
        format += u"%A";
        days += u"Sunday";
    }
    EXPECT_EQ(format_time(format, sample_tm()), days.substr(0, 511));
    EXPECT_EQ(format_time(std::u16string(511, u'a'), sample_tm()), std::u16string(511, u'a'));
}

TEST(FormatTime, EnglishNamesWhateverTheLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    const char* chosen = nullptr;
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "es_ES.UTF-8", "de_DE", "fr_FR"})
        if ((chosen = std::setlocale(LC_ALL, name)) != nullptr) break;
    if (chosen == nullptr) GTEST_SKIP() << "no locale other than C is installed";
    const std::u16string text = format_time(u"%a %A %b %B %p %c", sample_tm());
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(text, u"Sun Sunday Dec December AM 12/06/26 01:24:53");
}

TEST(ConfigDirective, TimeFormat) {
    const pinned_clock clock(sample_time);
    expect_engine_cases({
        {"applies from the directive on",
         R"(<!--#echo var="DATE_GMT" -->|<!--#config timefmt="%Y" -->)"
         R"(<!--#echo var="DATE_GMT" -->|<!--#echo var="DATE_LOCAL" -->)",
         "Sun, 06-Dec-2026 01:24:53|2026|2026", {}},
        {"empty format prints empty dates", R"(<!--#config timefmt="" -->[<!--#echo var="DATE_GMT" -->])", "[]", {}},
        {"composite forms", R"(<!--#config timefmt="%c|%x|%X" --><!--#echo var="DATE_GMT" -->)",
         "12/06/26 01:24:53|12/06/26|01:24:53", {}},
        {"format from a variable",
         R"(<!--#set var="f" value="%d.%m." --><!--#config timefmt="${f}%Y" --><!--#echo var="DATE_GMT" -->)",
         "06.12.2026", {}},
        {"no arguments change nothing", R"(<!--#config --><!--#echo var="DATE_GMT" -->)", "Sun, 06-Dec-2026 01:24:53",
         {}},
        {"bad size format keeps the time format",
         R"(<!--#config timefmt="%Y" sizefmt="xx" --><!--#echo var="DATE_GMT" -->)", "2026",
         {"Incorrect size format"}},
    });
}

TEST(ConfigDirective, SizeFormat) {
    TempTree tree;
    tree.write("f", std::string(1536, 'x'));
    const std::string document = R"(<!--#fsize virtual="f" -->|)"
                                 R"(<!--#config sizefmt="bytes" --><!--#fsize virtual="f" -->|)"
                                 R"(<!--#config sizefmt="Bytes" --><!--#fsize virtual="f" -->|)"
                                 R"(<!--#config sizefmt="abbrev" --><!--#fsize virtual="f" -->|)"
                                 R"(<!--#config sizefmt="" --><!--#fsize virtual="f" -->)";
    expect_engine_cases({{"bytes, abbrev and rejected values", document, "1.5k|1536|1536|1.5k|1.5k",
                   {"Incorrect size format", "Incorrect size format"}}},
                 {}, tree.path());
}
