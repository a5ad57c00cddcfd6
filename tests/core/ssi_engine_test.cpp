// The engine's rules on documents in memory: syntax, dispatch, encodings, variables and formats.
#include "pinned_time.h"
#include "run_engine.h"
#include "ssi/ssi_parser.h"
#include "temp_tree.h"

#include <gtest/gtest.h>

#include <limits>

using namespace std::string_literals;

namespace {
// A character that cannot start an argument name costs three lines before the last one.
std::vector<std::string> after_non_alpha(const std::string& last) {
    return {"Non-alpha symbol in argument name", "Expected identifier", "Expected '='", last};
}

// Warnings and errors are told apart here: the kind of each line matters.
void expect_cases(const std::vector<engine_case_t>& cases) { expect_engine_cases(cases, {}, ".", true); }

const std::string echo_x = utf16le(u"<!--#echo var=\"x\" -->", false);

constexpr std::int64_t sample_time = 1796520293;  // Sun, 06-Dec-2026 01:24:53 UTC
}  // namespace

TEST(DirectiveSyntax, TextOutsideDirectivesIsCopiedByteForByte) {
    std::string all_bytes;
    for (int b = 1; b < 256; ++b) all_bytes.push_back(static_cast<char>(b));
    all_bytes.push_back('\0');
    const std::string document = all_bytes + "<!-- plain comment --> <!- #x <!--" + all_bytes;
    expect_engine_cases({{"every byte value", document, document, {}}});
}

TEST(DirectiveSyntax, OpenerAndCommandName) {
    expect_engine_cases({
        {"opener with a space is plain text", R"(<!-- #echo var="x" -->)", R"(<!-- #echo var="x" -->)", {}},
        {"partial opener at the end is text", "a <!--", "a <!--", {}},
        {"white space allowed around the name", "<!--#  echo\t\n\f\rvar=\"x\"\t\n\f\r-->", "(none)", {}},
        {"empty directive has an empty name", "a<!--#-->b", "ab", {"Expected identifier", "Unknown SSI command: "}},
        {"opener inside a quoted value is part of it",
         R"(<!--#set var="x" value="<!--#echo var='y' -->" --><!--#echo var="x" -->)", "<!--#echo var='y' -->", {}},
    });
}

// The name ends at the first byte that is no letter; what follows and is no ASCII blank starts
// an argument name that is no identifier. In a UTF-16 document the zero width space is a blank.
TEST(DirectiveSyntax, OnlyAsciiBlanksEndTheName) {
    std::vector<engine_case_t> cases;
    for (const char* after : {"2 ", "\v", "\xE2\x80\x8B"})
        cases.push_back({after, "<!--#echo"s + after + "var=\"x\" -->", "",
                         {"error: Non-alpha symbol in argument name", "error: Expected identifier",
                          "error: Expected '='", "warning: Unsupported argument '' in command 'echo'",
                          "error: Missing required argument 'var' in command 'echo'"}});
    expect_cases(cases);
    expect_document_cases({{"zero width space in UTF-16", utf16le(u"<!--#echo\u200Bvar=\"x\"\u200B-->"),
                            utf16le(u"(none)")}});
}

TEST(DirectiveSyntax, QuotedValues) {
    expect_engine_cases({
        {"spaces around = and single quotes keep inner spaces",
         R"(<!--#set var = 'a b'   value =   "1" --><!--#echo var="a b" -->)", "1", {}},
        {"each quote keeps the other",
         R"(<!--#set var="x" value='say "hi"' --><!--#set var="y" value="it's" -->)"
         R"(<!--#echo var="x" --><!--#echo var="y" -->)",
         R"(say "hi"it's)", {}},
        {"backslash does not escape the quote", R"(<!--#set var="x" value="a\" --><!--#echo var="x" -->)", R"(a\)", {}},
        {"line breaks are kept", "<!--#set var=\"x\" value=\"a\r\nb\" --><!--#echo var=\"x\" -->", "a\r\nb", {}},
        {"no space needed between arguments", R"(<!--#set var="x"value="y"--><!--#echo var="x" -->)", "y", {}},
    });
}

TEST(DirectiveSyntax, UnquotedValues) {
    expect_engine_cases({
        {"closer right after the value", "<!--#set var=x value=1--><!--#echo var=x-->", "1", {}},
        {"value ends at the first space",
         R"(<!--#set var=x value=a b="c" --><!--#echo var=x -->)", "a", {"Unsupported argument 'b' in command 'set'"}},
        {"text after the space read as a name", "<!--#include file=a b.inc -->", "",
         {"Expected '='", "Unsupported argument 'b' in command 'include'",
          "'file' argument is not supported (only 'virtual')"}},
        {"tab belongs to the value", "<!--#set var=x value=a\tb --><!--#echo var=x -->", "a\tb", {}},
        {"line break before the closer is kept", "<!--#set var=x value=a\r\n--><!--#echo var=x -->", "a\r\n", {}},
        {"quoted value before a line break is not", "<!--#set var=x value=\"a\"\r\n--><!--#echo var=x -->", "a", {}},
        {"single dash inside a value", "<!--#set var=x value=a-b->c --><!--#echo var=x -->", "a-b->c", {}},
        {"empty value swallows the closer", R"(<!--#echo var= -->text x="y" -->after)", "(none)after",
         {"Unsupported argument 'x' in command 'echo'"}},
    });
}

TEST(DirectiveSyntax, ErrorsAreLoggedAndTheDirectiveStillRuns) {
    const std::string unsupported = "Unsupported argument '' in command 'echo'";
    expect_engine_cases({
        {"first duplicate wins", R"(<!--#set var="a" value="1" --><!--#echo var="a" var="b" -->)", "1",
         {"Duplicated arguments"}},
        {"bad end after two dashes", R"(<!--#echo var="x" -- >rest)", "(none)>rest", {"Bad end of command"}},
        {"bad end after one dash, later directives still run",
         R"(<!--#echo var="x" ->[<!--#echo var="SERVER_SOFTWARE" -->])", "(none)[Orrinfold 1.15]",
         {"Bad end of command"}},
        {"digit at an argument position", R"(<!--#echo 5="x" var="y" -->)", "(none)", after_non_alpha(unsupported)},
        // The > is not a closer: the text after it is read as one more argument up to the next "-->".
        {"closer of > alone", R"(<!--#echo var="x">text -->after)", "(none)after", after_non_alpha(unsupported)},
    });
}

TEST(DirectiveSyntax, EndOfFileInsideADirectiveKeepsTheTextBeforeIt) {
    const std::vector<std::string> eof{"Unexpected end of file"};
    std::vector<engine_case_t> cases{
        {"after syntax errors", "a<!--#echo 5", "a", after_non_alpha(eof[0])},
        {"earlier directives keep their output", R"([<!--#echo var="SERVER_SOFTWARE" -->]<!--#echo)",
         "[Orrinfold 1.15]", eof}};
    // Cut in every part of a directive: the name, an argument's name, after =, values, the closer's dashes.
    for (const char* rest : {"", "ech", "echo ", "echo va", "echo var=", "echo var=\"x -->b", "echo var=x",
                             "echo var=x-", "echo var=x--", "echo var=\"x\" -", "echo var=\"x\" --"})
        cases.push_back({rest, "a<!--#"s + rest, "a", eof});
    expect_engine_cases(cases);
}

TEST(CommandDispatch, UnknownCommandsAreSkippedAndArgumentsWarnInNameOrder) {
    expect_cases({
        {"names are case-sensitive", R"(a<!--#Include virtual="a.inc" -->b)", "ab",
         {"warning: Unknown SSI command: Include"}},
        {"arguments of an unknown command are not checked", R"(<!--#exec cmd="ls" -->)", "",
         {"warning: Unknown SSI command: exec"}},
        // Upper case before lower case; argument names are case-sensitive.
        {"unsupported arguments", R"(<!--#set var="x" value="1" --><!--#echo var="x" beta="2" Gamma="3" Var="4" -->)",
         "1",
         {"warning: Unsupported argument 'Gamma' in command 'echo'",
          "warning: Unsupported argument 'Var' in command 'echo'",
          "warning: Unsupported argument 'beta' in command 'echo'"}},
    });
}

TEST(CommandDispatch, MissingRequiredArgumentAbandonsTheDirective) {
    expect_cases({
        {"echo without var", "a<!--#echo -->b", "ab", {"error: Missing required argument 'var' in command 'echo'"}},
        {"set without value sets nothing", R"(<!--#set var="x" --><!--#echo var="x" -->)", "(none)",
         {"error: Missing required argument 'value' in command 'set'"}},
        {"set without var", R"(<!--#set value="1" -->)", "",
         {"error: Missing required argument 'var' in command 'set'"}},
        {"only the first missing name, in name order, after the warnings", R"(<!--#set x="1" -->)", "",
         {"warning: Unsupported argument 'x' in command 'set'",
          "error: Missing required argument 'value' in command 'set'"}},
    });
}

// include, fsize and flastmod name their file the same way and reject the same arguments.
TEST(CommandDispatch, CommandsWithoutRequiredArguments) {
    std::vector<engine_case_t> cases{{"config without arguments", "a<!--#config -->b", "ab", {}}};
    for (const std::string command : {"include", "fsize", "flastmod"}) {
        cases.push_back({command, "a<!--#" + command + " -->b", "ab", {"error: Missing 'file' or 'virtual' argument"}});
        cases.push_back({command, "<!--#" + command + " virtual=\"b\" file=\"a\" -->", "",
                         {"error: Both 'file' and 'virtual' arguments"}});
        cases.push_back({command, "<!--#" + command + " file=\"a\" -->", "",
                         {"error: 'file' argument is not supported (only 'virtual')"}});
    }
    expect_cases(cases);
}

TEST(CommandDispatch, BreakDropsTheRestOfTheDocument) {
    expect_cases({
        {"output before the break stays",
         R"(<!--#set var="x" value="1" -->[<!--#echo var="x" --><!--#break -->]<!--#echo var="x" --><!--#bogus -->)",
         "[1", {}},
        {"break with an argument still breaks", R"(a<!--#break now="1" -->b)", "a",
         {"warning: Unsupported argument 'now' in command 'break'"}},
    });
}

TEST(DocumentEncoding, Utf16WithByteOrderMark) {
    const std::vector<std::string> odd{"Odd sized Unicode file"};
    expect_document_cases({
        {"directives work and echo writes code units",
         utf16le(u"a\u00E9<!--#set var=\"\u00E9\" value=\"\u20AC\U0001F600\" -->[<!--#echo var=\"\u00E9\" -->]"),
         utf16le(u"a\u00E9[\u20AC\U0001F600]")},
        {"byte order mark alone", "\xFF\xFE", "\xFF\xFE"},
        {"odd size keeps the last byte", utf16le(u"a<!--#echo var=\"SERVER_SOFTWARE\" -->b") + "Z",
         utf16le(u"aOrrinfold 1.15b") + "Z", odd},
        {"odd size, byte order mark and one byte", "\xFF\xFE<", "\xFF\xFE<", odd},
        // The lone last byte reads as a code unit with a zero high byte, here the > of the closer.
        {"odd size, last byte closes a directive", utf16le(u"a<!--#echo var=\"x\" --") + ">", utf16le(u"a(none)"), odd},
        {"odd size, end of file in a directive", utf16le(u"a<!--#echo var=\"x") + "\"", utf16le(u"a"),
         {odd[0], "Unexpected end of file"}},
        // Only whole code units count: the first opener starts at byte 3.
        {"opener at an odd offset", "\xFF\xFE" "A"s + echo_x + "B"s + echo_x,
         "\xFF\xFE" "A"s + echo_x + "B"s + utf16le(u"(none)", false)},
        {"8-bit opener in a UTF-16 document", "\xFF\xFE<!--#echo var=\"x\" -->\n", "\xFF\xFE<!--#echo var=\"x\" -->\n"},
    });
}

TEST(DocumentEncoding, EverythingElseIsEightBit) {
    expect_document_cases({
        {"empty document", "", ""},
        {"one high byte", "\xFF", "\xFF"},
        {"UTF-8 byte order mark", "\xEF\xBB\xBF<!--#echo var=\"x\" -->", "\xEF\xBB\xBF(none)"},
        {"UTF-16 without byte order mark", echo_x, echo_x},
        {"reversed byte order mark, UTF-16 text", "\xFE\xFF"s + echo_x, "\xFE\xFF"s + echo_x, {"Unicode is reversed"}},
        {"reversed byte order mark, 8-bit text", "\xFE\xFF<!--#echo var=\"x\" -->", "\xFE\xFF(none)",
         {"Unicode is reversed"}},
    });
}

TEST(VariableExpansion, References) {
    const SSIParser::variables_t variables{{u"x", u"b"},      {u"b", u"bee"},     {u"ab", u"AB"},     {u"my_var", u"M"},
                                           {u"", u"EMPTY"},   {u"ref", u"$x"},    {u"a b", u"spaced"}};
    const struct { std::u16string_view value, expected; } cases[] = {
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
        {"value expanded when set, name too",
         R"(<!--#set var="x" value="b" --><!--#set var="y" value="$x-$x" --><!--#set var="$x" value="c" -->)"
         R"(<!--#set var="x" value="c" --><!--#echo var="y" --><!--#echo var="x" --><!--#echo var="b" -->)",
         "b-bcc"},
        {"names are case-sensitive", R"(<!--#set var="x" value="lower" --><!--#echo var="X" -->)", "(none)"},
        {"printed unescaped", R"(<!--#set var="h" value='<a href="x">&amp;</a>' --><!--#echo var="h" -->)",
         R"(<a href="x">&amp;</a>)"},
        {"server software can be read and replaced",
         R"(<!--#set var="s" value="$SERVER_SOFTWARE" --><!--#echo var="s" -->|)"
         R"(<!--#set var="SERVER_SOFTWARE" value="mine" --><!--#echo var="SERVER_SOFTWARE" -->)",
         "Orrinfold 1.15|mine"},
        // Dates are for echo only: not stored, not expanded, case-sensitive, empty without a time.
        {"dates come from the clock",
         R"(<!--#set var="DATE_GMT" value="z" --><!--#echo var="DATE_GMT" -->|<!--#set var="y" value="$DATE_LOCAL" -->)"
         R"(<!--#echo var="y" -->|<!--#echo var="date_gmt" -->[<!--#echo var="LAST_MODIFIED" -->])",
         "Sun, 06-Dec-2026 01:24:53|(none)|(none)[]"},
    });
}

// Hostile documents stay within bounded memory: the directive that passes a limit is dropped.
TEST(Variables, ValuesNamesAndTheirSumAreBounded) {
    const std::string too_long =
        " is longer than " + std::to_string(max_value_length) + " characters; directive dropped";
    std::string doubling = "<!--#set var=\"x\" value=\"" + std::string(1024, 'k') + "\" -->";
    for (int i = 0; i < 11; ++i) doubling += "<!--#set var=\"x\" value=\"$x$x\" -->";  // the 11th passes 1 MiB
    std::string sum = doubling;
    for (char v = 'a'; v < 'a' + 15; ++v) sum += "<!--#set var=\""s + v + "\" value=\"$x\" -->";
    const struct { std::string document; std::size_t output_size; std::vector<std::string> log; } rows[] = {
        {doubling + "<!--#echo var=\"x\" -->", max_value_length, {"Argument 'value' of command 'set'" + too_long}},
        {"<!--#set var=\"y\" value=\"" + std::string(max_value_length + 1, 'v') + "\" --><!--#echo var=\"y\" -->", 6,
         {"Argument 'value' of command 'set'" + too_long}},
        {"<!--#" + std::string(max_value_length + 1, 'n') + " -->.", 1, {"A name" + too_long}},
        {sum, 0,
         {"Argument 'value' of command 'set'" + too_long,
          "Variables would hold more than " + std::to_string(max_variables_length) +
              " characters in all; 'set' dropped"}},
    };
    for (const auto& row : rows) {
        const engine_result_t result = run_engine(row.document);
        EXPECT_EQ(result.output.size(), row.output_size);
        EXPECT_EQ(result.log, row.log);
    }
}

TEST(Variables, LocalDateFollowsTheZoneAndOutOfRangeIsEmpty) {
    {
        const pinned_clock clock(sample_time);
        const zone_guard zone("ABC-2");
        EXPECT_EQ(run_engine(R"(<!--#echo var="DATE_LOCAL" -->|<!--#config timefmt="%H:%M %Z" -->)"
                             R"(<!--#echo var="DATE_LOCAL" -->|<!--#echo var="DATE_GMT" -->)")
                      .output,
                  "Sun, 06-Dec-2026 03:24:53|03:24 ABC|01:24 GMT");
    }
    const pinned_clock clock(std::numeric_limits<std::int64_t>::max());
    const auto result = run_engine(R"([<!--#echo var="DATE_GMT" -->|<!--#echo var="DATE_LOCAL" -->])");
    EXPECT_EQ(result.output, "[|]");
    EXPECT_EQ(result.log.size(), 0U);
}

TEST(FormatTime, FixedCompositeFormsAndTheCut) {
    const std::tm sample = *universal_time(sample_time);
    std::u16string days_format, days;
    for (int i = 0; i < 100; ++i) days_format += u"%A", days += u"Sunday";
    const struct { std::u16string format, text; } cases[] = {
        {std::u16string(default_time_format), u"Sun, 06-Dec-2026 01:24:53"},
        {u"%c|%x|%X|%%c %%x", u"12/06/26 01:24:53|12/06/26|01:24:53|%c %x"},
        {u"%A %B %b %p %I %j %w %y %Z %%, caf\u00E9", u"Sunday December Dec AM 01 340 0 26 GMT %, caf\u00E9"},
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
    expect_engine_cases({
        {"time format applies from the directive on",
         R"(<!--#echo var="DATE_GMT" -->|<!--#config timefmt="%Y" --><!--#echo var="DATE_GMT" -->|)"
         R"(<!--#echo var="DATE_LOCAL" -->)",
         "Sun, 06-Dec-2026 01:24:53|2026|2026"},
        {"empty time format prints empty dates", R"(<!--#config timefmt="" -->[<!--#echo var="DATE_GMT" -->])", "[]"},
        {"format from a variable",
         R"(<!--#set var="f" value="%d.%m." --><!--#config timefmt="${f}%Y" --><!--#echo var="DATE_GMT" -->)",
         "06.12.2026"},
        {"bad size format keeps the time format",
         R"(<!--#config timefmt="%Y" sizefmt="xx" --><!--#echo var="DATE_GMT" -->)", "2026", {"Incorrect size format"}},
        {"size formats, exact names only",
         R"(<!--#fsize virtual="f" -->|<!--#config sizefmt="bytes" --><!--#fsize virtual="f" -->|)"
         R"(<!--#config sizefmt="Bytes" --><!--#fsize virtual="f" -->|)"
         R"(<!--#config sizefmt="abbrev" --><!--#fsize virtual="f" -->)",
         "1.5k|1536|1536|1.5k", {"Incorrect size format"}},
    }, {}, tree.path());
}
