#include "pinned_time.h"
#include "run_engine.h"
#include "ssi/ssi_parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {
// Sun, 06-Dec-2026 01:24:53 UTC.
constexpr std::int64_t sample_time = 1796520293;
}  // namespace

TEST(VariableExpansion, References) {
    const SSIParser::variables_t variables{{u"x", u"b"},      {u"b", u"bee"},     {u"ab", u"AB"},     {u"my_var", u"M"},
                                           {u"", u"EMPTY"},   {u"ref", u"$x"},    {u"a b", u"spaced"}};
    const struct {
        std::u16string_view value, expected;
    } cases[] = {
        {u"plain text", u"plain text"}, {u"[$x$x]", u"[bb]"},     {u"$x.y", u"b.y"},       {u"$xy", u"(none)"},
        {u"$my_var9", u"M9"},           {u"$-", u"EMPTY-"},       {u"$$x", u"EMPTYb"},     {u"\\$x", u"$x"},
        {u"\\${x}", u"${x}"},           {u"a\\b\\", u"a\\b\\"},   {u"\\\\$x", u"\\$x"},    {u"cost: $", u"cost: $"},
        {u"${x}y", u"by"},              {u"${a b}", u"spaced"},   {u"${}", u"EMPTY"},      {u"${x}}", u"b}"},
        {u"${a${x}}", u"AB"},           {u"${${x}}", u"bee"},     {u"a${x${x}", u"a${x${x}"}, {u"$ref", u"$x"},
        {u"$X", u"(none)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::u16string(c.value)));
        EXPECT_EQ(expand_variables(c.value, variables), c.expected);
    }
}

TEST(Variables, SetAndEcho) {
    const pinned_clock clock(sample_time);
    expect_engine_cases({
        {"unset variable", R"(<!--#echo var="NOTSET" -->|<!--#set var="y" value="[$NOTSET]" --><!--#echo var="y" -->)",
         "(none)|[(none)]"},
        {"empty value is not (none)", R"(<!--#set var="e" value="" -->[<!--#echo var="e" -->])", "[]"},
        {"value expanded when set",
         R"(<!--#set var="x" value="b" --><!--#set var="y" value="$x-$x" -->)"
         R"(<!--#set var="x" value="c" --><!--#echo var="y" --><!--#echo var="x" -->)",
         "b-bc"},
        {"name from expansion", R"(<!--#set var="n" value="x" --><!--#set var="$n" value="1" --><!--#echo var="x" -->)",
         "1"},
        {"names are case-sensitive", R"(<!--#set var="x" value="lower" --><!--#echo var="X" -->)", "(none)"},
        {"printed unescaped", R"(<!--#set var="h" value='<a href="x">&amp;</a>' --><!--#echo var="h" -->)",
         R"(<a href="x">&amp;</a>)"},
        {"server software can be read and replaced",
         R"(<!--#set var="s" value="$SERVER_SOFTWARE" --><!--#echo var="s" -->|)"
         R"(<!--#set var="SERVER_SOFTWARE" value="mine" --><!--#echo var="SERVER_SOFTWARE" -->)",
         "Orrinfold 1.15|mine"},
        {"dates come from the clock", R"(<!--#echo var="DATE_GMT" -->|<!--#echo var="DATE_LOCAL" -->)",
         "Sun, 06-Dec-2026 01:24:53|Sun, 06-Dec-2026 01:24:53"},
        {"special names are case-sensitive", R"(<!--#echo var="date_gmt" -->|<!--#echo var="Last_Modified" -->)",
         "(none)|(none)"},
        {"setting a date name hides nothing from echo",
         R"(<!--#set var="DATE_GMT" value="z" --><!--#echo var="DATE_GMT" -->|)"
         R"(<!--#set var="y" value="$DATE_LOCAL" --><!--#echo var="y" -->)",
         "Sun, 06-Dec-2026 01:24:53|(none)"},
        {"no modification time gives an empty date", R"([<!--#echo var="LAST_MODIFIED" -->])", "[]"},
    });
}

TEST(Variables, LocalDateFollowsTheZoneAndOutOfRangeIsEmpty) {
    {
        const pinned_clock clock(sample_time);
        const zone_guard zone("ABC-2");
        const auto result = run_engine(R"(<!--#echo var="DATE_LOCAL" -->|<!--#config timefmt="%H:%M %Z" -->)"
                                       R"(<!--#echo var="DATE_LOCAL" -->|<!--#echo var="DATE_GMT" -->)");
        EXPECT_EQ(result.output, "Sun, 06-Dec-2026 03:24:53|03:24 ABC|01:24 GMT");
    }
    const pinned_clock clock(std::numeric_limits<std::int64_t>::max());
    const auto result = run_engine(R"([<!--#echo var="DATE_GMT" -->|<!--#echo var="DATE_LOCAL" -->])");
    EXPECT_EQ(result.output, "[|]");
    EXPECT_EQ(result.log, std::vector<std::string>{});
}
