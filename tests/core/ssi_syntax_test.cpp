#include "run_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

// A character that cannot start an argument name costs three lines before the rest.
const std::string non_alpha_argument[] = {"Non-alpha symbol in argument name", "Expected identifier", "Expected '='"};

std::vector<std::string> after_non_alpha(std::vector<std::string> tail) {
    std::vector<std::string> log(std::begin(non_alpha_argument), std::end(non_alpha_argument));
    log.insert(log.end(), tail.begin(), tail.end());
    return log;
}

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
        {"names are case-sensitive", R"(a<!--#ECHO var="x" -->b)", "ab", {"Unknown SSI command: ECHO"}},
        {"white space allowed around the name", "<!--#  echo\t\n\f\rvar=\"x\"\t\n\f\r-->", "(none)", {}},
        {"vertical tab is not white space", "<!--#echo\vvar=\"x\" -->", "",
         after_non_alpha({"Unsupported argument '' in command 'echo'",
                          "Missing required argument 'var' in command 'echo'"})},
        {"empty directive has an empty name", "a<!--#-->b", "ab", {"Expected identifier", "Unknown SSI command: "}},
        {"opener inside a quoted value is part of it",
         R"(<!--#set var="x" value="<!--#echo var='y' -->" --><!--#echo var="x" -->)", "<!--#echo var='y' -->", {}},
    });
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
        {"empty quoted value", R"(<!--#set var="x" value="" -->[<!--#echo var="x" -->])", "[]", {}},
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
    const std::string set_ab = R"(<!--#set var="a" value="1" --><!--#set var="b" value="2" -->)";
    const std::string first_wins = set_ab + R"(<!--#echo var="a" var="b" -->)";
    expect_engine_cases({
        {"first duplicate wins", first_wins, "1", {"Duplicated arguments"}},
        {"bad end after two dashes", R"(<!--#echo var="x" -- >rest)", "(none)>rest", {"Bad end of command"}},
        {"bad end after one dash", R"(<!--#echo var="x" ->rest)", "(none)rest", {"Bad end of command"}},
        {"digit at an argument position", R"(<!--#echo 5="x" var="y" -->)", "(none)",
         after_non_alpha({"Unsupported argument '' in command 'echo'"})},
        // The > is not a closer: the text after it is read as one more argument up to the next "-->".
        {"closer of > alone", R"(<!--#echo var="x">text -->after)", "(none)after",
         after_non_alpha({"Unsupported argument '' in command 'echo'"})},
        {"later directives still run", R"(<!--#echo var="x" ->[<!--#echo var="SERVER_SOFTWARE" -->])",
         "(none)[Orrinfold 1.15]", {"Bad end of command"}},
    });
}

TEST(DirectiveSyntax, EndOfFileInsideADirectiveKeepsTheTextBeforeIt) {
    const std::vector<std::string> eof{"Unexpected end of file"};
    expect_engine_cases({
        {"right after the opener", "a<!--#", "a", eof},
        {"inside the name", "a<!--#ech", "a", eof},
        {"after the name", "a<!--#echo ", "a", eof},
        {"inside an argument name", "a<!--#echo va", "a", eof},
        {"after =", "a<!--#echo var=", "a", eof},
        {"inside a quoted value", "a<!--#echo var=\"x -->b", "a", eof},
        {"inside an unquoted value", "a<!--#echo var=x", "a", eof},
        {"unquoted value ending in a dash", "a<!--#echo var=x-", "a", eof},
        {"unquoted value ending in two dashes", "a<!--#echo var=x--", "a", eof},
        {"one dash of the closer", "a<!--#echo var=\"x\" -", "a", eof},
        {"two dashes of the closer", "a<!--#echo var=\"x\" --", "a", eof},
        {"after syntax errors", "a<!--#echo 5", "a", after_non_alpha({"Unexpected end of file"})},
        {"earlier directives keep their output", R"([<!--#echo var="SERVER_SOFTWARE" -->]<!--#echo)",
         "[Orrinfold 1.15]", eof},
    });
}
