#include "run_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

// Warnings and errors are told apart here: the kind of each line matters.
void expect_cases(const std::vector<engine_case_t>& cases) { expect_engine_cases(cases, {}, ".", true); }

}  // namespace

TEST(CommandDispatch, UnknownCommandsAreSkipped) {
    expect_cases({
        {"name differs in case", R"(a<!--#Include virtual="a.inc" -->b)", "ab",
         {"warning: Unknown SSI command: Include"}},
        {"arguments of an unknown command are not checked", R"(<!--#exec cmd="ls" -->)", "",
         {"warning: Unknown SSI command: exec"}},
        {"name stops at the first non-letter", R"(<!--#echo2 var="x" -->)", "",
         {"error: Non-alpha symbol in argument name", "error: Expected identifier", "error: Expected '='",
          "warning: Unsupported argument '' in command 'echo'",
          "error: Missing required argument 'var' in command 'echo'"}},
    });
}

TEST(CommandDispatch, UnsupportedArgumentsWarnInNameOrderAndTheCommandRuns) {
    expect_cases({
        {"one unsupported argument", R"(<!--#set var="x" value="1" --><!--#echo var="x" encoding="none" -->)", "1",
         {"warning: Unsupported argument 'encoding' in command 'echo'"}},
        {"upper case sorts before lower case",
         R"(<!--#set var="x" value="1" --><!--#echo zeta="1" var="x" beta="2" Gamma="3" Alpha="4" -->)", "1",
         {"warning: Unsupported argument 'Alpha' in command 'echo'",
          "warning: Unsupported argument 'Gamma' in command 'echo'",
          "warning: Unsupported argument 'beta' in command 'echo'",
          "warning: Unsupported argument 'zeta' in command 'echo'"}},
        {"argument names are case-sensitive", R"(<!--#set var="y" value="2" --><!--#echo Var="x" var="y" -->)", "2",
         {"warning: Unsupported argument 'Var' in command 'echo'"}},
        {"config", R"(<!--#config errmsg="oops" -->)", "",
         {"warning: Unsupported argument 'errmsg' in command 'config'"}},
    });
}

TEST(CommandDispatch, MissingRequiredArgumentAbandonsTheDirective) {
    expect_cases({
        {"echo without var", "a<!--#echo -->b", "ab", {"error: Missing required argument 'var' in command 'echo'"}},
        {"set without value sets nothing", R"(<!--#set var="x" --><!--#echo var="x" -->)", "(none)",
         {"error: Missing required argument 'value' in command 'set'"}},
        {"set without var", R"(<!--#set value="1" -->)", "",
         {"error: Missing required argument 'var' in command 'set'"}},
        {"only the first missing name, in name order", "<!--#set -->", "",
         {"error: Missing required argument 'value' in command 'set'"}},
        {"warnings come before the error", R"(<!--#set x="1" Var="a" -->)", "",
         {"warning: Unsupported argument 'Var' in command 'set'",
          "warning: Unsupported argument 'x' in command 'set'",
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
        {"break", R"(a<!--#break -->b<!--#echo var="x" -->c<!--#bogus -->)", "a", {}},
        {"break with an argument still breaks", R"(a<!--#break now="1" -->b)", "a",
         {"warning: Unsupported argument 'now' in command 'break'"}},
        {"output before the break stays", R"(<!--#set var="x" value="1" -->[<!--#echo var="x" --><!--#break -->])",
         "[1", {}},
    });
}
