#include "pinned_time.h"
#include "platform/clock.h"
#include "run_engine.h"
#include "ssi/ssi_parser.h"
#include "temp_tree.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace {
// Sun, 06-Dec-2026 01:24:53 UTC.
constexpr std::int64_t sample_time = 1796520293;
}  // namespace

TEST(FormatSize, AbbreviatedCutsOneDecimalBelowAHundredAndBytesArePlain) {
    const struct {
        std::uint64_t size;
        std::u16string_view abbreviated;
    } cases[] = {
        {0, u"0.0k"},         {102, u"0.0k"},        {103, u"0.1k"},          {1023, u"0.9k"},
        {1536, u"1.5k"},      {102399, u"99.9k"},    {102400, u"100k"},       {1048575, u"1023k"},
        {1048576, u"1.0M"},   {104857599, u"99.9M"}, {104857600, u"100M"},    {4294967296, u"4096M"},
        {5368709120, u"5120M"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        EXPECT_EQ(format_size(c.size, SSIParser::size_format_t::abbrev), c.abbreviated);
        EXPECT_EQ(format_size(c.size, SSIParser::size_format_t::bytes), to_decimal_w(c.size));
    }
}

TEST(FormatTime, FixedCompositeFormsAndTheCut) {
    const std::tm sample = *universal_time(sample_time);
    std::u16string days_format, days;
    for (int i = 0; i < 100; ++i) {
        days_format += u"%A";
        days += u"Sunday";
    }
    const struct {
        std::u16string format, text;
    } cases[] = {
        {std::u16string(default_time_format), u"Sun, 06-Dec-2026 01:24:53"},
        {u"%c|%x|%X", u"12/06/26 01:24:53|12/06/26|01:24:53"},
        {u"%%c %%x", u"%c %x"},
        {u"%A %B %b %p %I %j %w %y %Z %%", u"Sunday December Dec AM 01 340 0 26 GMT %"},
        {u"at %H h, caf\u00E9", u"at 01 h, caf\u00E9"},
        {u"", u""},
        {std::u16string(600, u'a'), std::u16string(511, u'a')},
        {days_format, days.substr(0, 511)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.format.substr(0, 40)));
        EXPECT_EQ(format_time(c.format, sample), c.text);
    }
    EXPECT_EQ(format_time(default_time_format, std::nullopt), u"");
}

TEST(ConfigDirective, TimeAndSizeFormats) {
    const pinned_clock clock(sample_time);
    TempTree tree;
    tree.write("f", std::string(1536, 'x'));
    expect_engine_cases(
        {
            {"time format applies from the directive on",
             R"(<!--#echo var="DATE_GMT" -->|<!--#config timefmt="%Y" -->)"
             R"(<!--#echo var="DATE_GMT" -->|<!--#echo var="DATE_LOCAL" -->)",
             "Sun, 06-Dec-2026 01:24:53|2026|2026"},
            {"empty time format prints empty dates", R"(<!--#config timefmt="" -->[<!--#echo var="DATE_GMT" -->])",
             "[]"},
            {"format from a variable",
             R"(<!--#set var="f" value="%d.%m." --><!--#config timefmt="${f}%Y" --><!--#echo var="DATE_GMT" -->)",
             "06.12.2026"},
            {"bad size format keeps the time format",
             R"(<!--#config timefmt="%Y" sizefmt="xx" --><!--#echo var="DATE_GMT" -->)", "2026",
             {"Incorrect size format"}},
            {"size formats, exact names only",
             R"(<!--#fsize virtual="f" -->|<!--#config sizefmt="bytes" --><!--#fsize virtual="f" -->|)"
             R"(<!--#config sizefmt="Bytes" --><!--#fsize virtual="f" -->|)"
             R"(<!--#config sizefmt="abbrev" --><!--#fsize virtual="f" -->)",
             "1.5k|1536|1536|1.5k", {"Incorrect size format"}},
        },
        {}, tree.path());
}
