// The Apache dialect: what a page written for Apache's mod_include gives, as Apache serves it.
#include "base/compile_log.h"
#include "build/convert.h"
#include "pinned_time.h"
#include "recording_log.h"
#include "run_engine.h"
#include "ssi/expr/expression.h"
#include "ssi/preferences.h"
#include "temp_tree.h"
#include "version.h"

#include <gtest/gtest.h>

#include <map>

namespace {
const std::string E = "[an error occurred while processing this directive]";

SSIParserPreferences apache(bool ap_expressions = false) {
    SSIParserPreferences preferences;
    preferences.dialect = dialect_t::apache;
    preferences.ap_expressions = ap_expressions;
    return preferences;
}

// Each document, as an 8-bit and as a UTF-16 one, must give its output.
void expect_outputs(const std::vector<std::pair<std::string, std::string>>& cases,
                    const SSIParserPreferences& preferences = apache()) {
    for (const auto& [document, output] : cases) {
        EXPECT_EQ(run_engine(document, preferences).output, output) << document;
        EXPECT_EQ(run_engine(as_utf16(document), preferences).output, as_utf16(output)) << "UTF-16: " << document;
    }
}

std::string branch(const std::string& expression) {
    return "<!--#if expr=\"" + expression + "\" -->T<!--#else -->F<!--#endif -->";
}
}  // namespace

TEST(ApacheSyntax, NamesQuotingAndBrokenDirectives) {
    expect_outputs({
        {R"(<!--#SET VAR="a" Value='1' --><!--#ECHO var=`a` --><!--#echo var=a -->)", "11"},
        {R"(<!--#set var="a" value="x\"y\z\\w" --><!--#echo encoding="none" var="a" -->)", R"(x"y\z\\w)"},
        {R"(a<!--#printenv x --><!--#bogus --><!--# echo var="a" --><!--#echo "a" -->b)", "a" + E + E + E + E + "b"},
        {"<!--#echo var=\"a\" var -->|<!--#echo var=\"x\"", "(none)|" + E},
        {R"(<!--#comment text="gone" -->|<!--#exec cmd="ls" -->)", "|" + E},
        // An argument name runs past a closer: the directive never ends.
        {R"(<!--#echo var="a" -- >b-->c)", E},
    });
}

// SSIStartTag and SSIEndTag: the name follows the start tag directly and ends at the end tag.
TEST(ApacheSyntax, CustomTagsOpenAndCloseDirectives) {
    SSIParserPreferences percent = apache();
    percent.start_tag = "<%";
    percent.end_tag = "%>";
    expect_outputs({
        {R"(<%set var="a" value="1" %><%ECHO var="a"%>|<!--#echo var="a" -->)", R"(1|<!--#echo var="a" -->)"},
        {R"(<%set var="a" value="x%>y"%><%echo var=a %>)", "x%&gt;y"},
        {"a<% echo var=\"a\" %>b<%%>c", "a" + E + "b" + E + "c"},
        // A partial end tag belongs to the name; a lone start tag's bytes stay text.
        {"<%echo%x%>|<", E + "|<"},
        {"<%echo var=\"a\" ", E},
    },
                   percent);
    SSIParserPreferences braces = apache();
    braces.start_tag = "{{#";
    braces.end_tag = "}}";
    expect_outputs({{"{{{#set var=\"a\" value=\"}\"}}}{{#echo var=\"a\"}}}}", "{}}}}"}}, braces);
    // The engine's own dialect always reads <!--# and -->.
    SSIParserPreferences own = percent;
    own.dialect = dialect_t::orrinfold;
    EXPECT_EQ(run_engine("<%echo var=\"a\" %>", own).output, "<%echo var=\"a\" %>");
}

TEST(ApacheFlow, BranchesNestAndFailAsApacheDoes) {
    const std::string if_ = "<!--#if expr=", elif = "<!--#elif expr=", else_ = "<!--#else -->", endif = "<!--#endif -->";
    expect_outputs({
        {if_ + "\"a\" -->1" + elif + "\"b\" -->2" + else_ + "3" + endif, "1"},
        {if_ + "\"\" -->1" + elif + "\"b\" -->2" + else_ + "3" + endif, "2"},
        {if_ + "\"\" -->1" + elif + "\"\" -->2" + else_ + "3" + endif, "3"},
        {if_ + "\"\" -->" + if_ + "\"a\" -->1" + else_ + "2" + endif + else_ + if_ + "\"\" -->3" + else_ + "4" + endif +
             endif,
         "4"},
        // A bad expression skips its branch; a later elif is still tried and the next else is ignored.
        {if_ + "\"(a\" -->1" + elif + "\"x\" -->2" + else_ + "3" + endif + "4", E + "234"},
        {if_ + "\"(a\" -->1" + else_ + "3" + endif + "4", E + "4"},
        {if_ + "\"(a\" -->1" + elif + "\"x\" -->2" + elif + "\"x\" -->5" + else_ + "3" + endif, E + "2"},
        {else_ + "3" + endif + "4" + endif + "5", "45"},
        // A malformed directive in a branch not taken leaves the rest of the document out.
        {if_ + "\"\" -->1<!--#set \"x\" -->" + elif + "\"x\" -->2" + endif + "3", ""},
        {"<!--#endif a=\"b\" -->x", E + "x"},
    });
    // Deep nesting is only slow to write, never a crash.
    std::string deep;
    for (int i = 0; i < 20000; ++i) deep += if_ + "\"a\" -->";
    deep += "x";
    for (int i = 0; i < 20000; ++i) deep += endif;
    EXPECT_EQ(run_engine(deep, apache()).output, "x");
    for (const bool newer : {false, true})
        EXPECT_EQ(run_engine(if_ + "\"" + std::string(100000, '(') + "a\" -->x" + endif, apache(newer)).output, E)
            << newer;
    std::string calls;
    for (int i = 0; i < 100000; ++i) calls += "v(";
    EXPECT_EQ(run_engine(if_ + "\"" + calls + "\" -->x" + endif, apache(true)).output, E);
    // A value that doubles with each set stops at the limit, with the error text.
    std::string doubling = "<!--#set var=\"x\" value=\"0123456789abcdef\" -->";
    for (int i = 0; i < 17; ++i) doubling += "<!--#set var=\"x\" value=\"$x$x\" -->";
    EXPECT_EQ(run_engine(doubling + "<!--#if expr=\"$x$x = a\" -->1" + endif + "2", apache()).output, E + E + "2");
    const engine_result_t unbalanced = run_engine("a<!--#if expr=\"x\" -->b<!--#else -->", apache(), ".", true);
    EXPECT_EQ(unbalanced.output, "ab");
    EXPECT_EQ(unbalanced.log, std::vector<std::string>{"error: 'if' without 'endif' before the end of the document"});
}

TEST(ApacheExpressions, LegacySyntaxAsApacheEvaluatesIt) {
    std::map<std::string, std::string> variables{{"S", "abc"}, {"N", "ab\n"}, {"X", "xv"}};
    std::optional<regex_captures_t> captures;
    std::vector<std::string> warnings;
    expression_host_t host;
    host.expand = [&](std::string_view text) {
        std::string out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '$') {
                out += text[++i];
            } else if (text[i] == '$') {
                std::size_t j = i + 1;
                while (j < text.size() && std::isalnum(static_cast<unsigned char>(text[j]))) ++j;
                const std::string name(text.substr(i + 1, j - i - 1));
                if (name.empty())
                    out += '$';
                else if (name.size() == 1 && std::isdigit(static_cast<unsigned char>(name[0])) && captures)
                    out += captures->echoed(static_cast<std::size_t>(name[0] - '0')).value_or("");
                else if (const auto found = variables.find(name); found != variables.end())
                    out += found->second;
                i = j - 1;
            } else {
                out += text[i];
            }
        }
        return out;
    };
    host.warn = [&](const std::string& text) { warnings.push_back(text); };
    host.captures = &captures;
    const std::vector<std::pair<std::string, std::string>> cases{
        {"'' && '' || x", "F"},  // same rank, grouped from the right
        {"a = a || b = c && d = e", "T"},
        {"\"\"", "T"},  // only ' quotes
        {"$S = /\\\\w+/", "T"},
        {"$S = /\\w+/", "F"},  // one backslash is dropped
        {"\\$X = xv", "T"},
        {"$unset a = ' a'", "T"},
        {"'' a = a", "T"},
        {"!(a = b)", "T"},
        {"$N = /b.$/", "T"},
        {"$N = /b$/", "F"},
        {"$S = /(/", "T"},  // a pattern that does not compile matches
        {"$S != /(/", "F"},
        {"a < b", "T"},
        {"b <= a", "F"},
        {"$S = 'a'bc", "F"},
        {"x == x", "T"},
        {"'a", "F"},
        {"!a = b", "error"},
        {"(a", "error"},
        {"a)", "error"},
        {"/a/", "error"},
        {"x = /a/ = b", "error"},
    };
    for (const auto& [expression, expected] : cases) {
        std::string error;
        const std::optional<bool> value = evaluate_legacy_expression(expression, host, error);
        EXPECT_EQ(value ? (*value ? "T" : "F") : "error", expected) << expression;
        EXPECT_EQ(error.empty(), value.has_value()) << expression;
    }
    EXPECT_EQ(warnings.size(), 2u);  // the two patterns that do not compile

    // $1 comes from the last pattern evaluated, a failed one too.
    std::string error;
    EXPECT_EQ(evaluate_legacy_expression("$S = /(c)/ || $S = /(z)/", host, error), true);
    EXPECT_FALSE(captures->echoed(1));
    EXPECT_EQ(evaluate_legacy_expression("$S = /a(b)(c)/", host, error), true);
    EXPECT_EQ(captures->echoed(2), "c");
#ifdef _WIN32
    GTEST_SKIP() << "Windows builds match with std::regex, which has no match limit";
#endif
    // A pattern that would backtrack for ever stops at PCRE2's limits.
    variables["S"] = std::string(40, 'a') + "!";
    EXPECT_EQ(evaluate_legacy_expression("$S = /^(a+)+$/", host, error), true);
    EXPECT_EQ(warnings.size(), 3u);
}

TEST(ApacheExpressions, NewerSyntax) {
    const std::string set = R"(<!--#set var="x" value="xv" --><!--#set var="s" value="abc" -->)";
    std::vector<std::pair<std::string, std::string>> cases;
    for (const auto& [expression, result] : std::vector<std::pair<std::string, std::string>>{
             {"v('x') == 'xv' && env('x') = 'xv' && note('x') == ''", "T"},
             {"'abc' -strmatch 'a*' && 'ABC' -strcmatch 'a?c' && !('abc' -strmatch 'b*')", "T"},
             {"1 -lt 2 && 'a' < 'b' && -n 'a' && -z ''", "T"},
             {"v('s') =~ m#B#i && v('s') !~ /z/", "T"},
             {"(true || false) && false", "F"},
             {"'10' in {'hello', '10'} && '1.2.3.4' -ipmatch '1.2.0.0/16'", "T"},
             {"%{REQUEST_URI} == '/'", "T"},
             {"%{x} == 'xv'", E},  // not a request variable
             {"-e '/a'", E},       // file tests are refused
             {"v('x')", E},
         })
        cases.push_back({set + branch(expression), result});
    // The groups are read inside the expression; pages see $0 only; a pattern without a group
    // leaves them as they were.
    cases.push_back({set + branch("v('s') =~ /(b)(c)/ && '$2' == 'c'") + branch("v('s') =~ /a/") +
                         R"(<!--#echo var="0" --><!--#echo var="1" -->)",
                     "TTbc(none)"});
    expect_outputs(cases, apache(true));
}

TEST(ApacheCommands, EchoSetConfigAndFormats) {
    expect_outputs({
        {R"(<!--#set var="v" value="<a b>&'" --><!--#echo var="v" --><!--#echo encoding="none" var="v" var="v" -->)"
         R"(<!--#echo encoding="url" var="v" --><!--#echo encoding="base64" var="v" -->)",
         "&lt;a b&gt;&amp;'<a b>&'<a b>&'%3ca%20b%3e&'PGEgYj4mJw=="},
        {R"(<!--#echo encoding="rot13" var="unset" --><!--#set var="v" value="x" --><!--#echo encoding="rot13" var="v" -->)",
         "(none)" + E},
        {R"(<!--#set var="v" value="a&amp;b" --><!--#echo var="V" encoding="none" -->|)"
         R"(<!--#set var="v" encoding="urlencoded" value="<a b>" --><!--#echo var="v" -->|)"
         R"(<!--#set var="v" decoding="base64" value="aGVsbG8=" --><!--#echo var="v" -->|)"
         R"(<!--#set var="v" decoding="url" value="%41+b" --><!--#echo var="v" -->|)"
         R"(<!--#set value="x" var="v" -->|<!--#set var="v" value="a${b" --><!--#echo var="v" -->)",
         "a&amp;amp;b|%3ca+b%3e|hello|A+b|" + E + "|a"},
        {R"(<!--#config errmsg="E!" echomsg="U" --><!--#bogus --><!--#echo var="nope" -->)"
         R"(<!--#config sizefmt="Bytes" --><!--#config foo="1" -->)",
         "E!UE!E!"},
    });
}

TEST(ApacheSite, PathsVariablesIncludesAndFormats) {
    TempTree t;
    for (const auto& [size, name] : std::vector<std::pair<std::size_t, std::string>>{
             {0, "z0"}, {999, "z999"}, {1500, "z1500"}, {10188, "z10188"}, {1500000, "z1500000"}})
        t.write("site/data/" + name, std::string(size, 'x'));
    t.write("site/my inc/a b.inc", "spaced");
    t.write("site/\xC3\xBC" "ber.inc", "raw <!--#echo var=\"x\" -->");
    t.write("site/sub/q.shtml", R"([<!--#echo var="QUERY_STRING" -->|<!--#echo var="QUERY_STRING_UNESCAPED" -->)"
                                R"(|<!--#echo var="DOCUMENT_NAME" -->|<!--#set var="from" value="q" -->)"
                                R"(<!--#config errmsg="inner" --><!--#config timefmt="%Y" -->])");
    t.write("site/sub/rel.shtml", R"(<!--#include virtual="q.shtml" -->)");
    t.write("site/page.shtml",
            R"(<!--#echo var="DOCUMENT_NAME" -->|<!--#echo var="DOCUMENT_URI" -->|<!--#echo var="DOCUMENT_ARGS" -->|)"
            R"(<!--#echo var="DOCUMENT_PATH_INFO" -->|<!--#echo var="LAST_MODIFIED" -->|<!--#echo var="USER_NAME" -->|)"
            R"(<!--#include virtual="/my%20inc/a%20b.inc" -->|<!--#include virtual="/%C3%BCber.inc" -->|)"
            R"(<!--#include virtual="sub/q.shtml?a=1&amp;b=%41" -->|<!--#echo var="from" --><!--#bogus -->|)"
            R"(<!--#echo var="LAST_MODIFIED" -->|<!--#include file="sub/rel.shtml" -->|)"
            R"(<!--#include file="../x" -->|<!--#include virtual="/../x" -->|<!--#include virtual="missing" -->|)"
            R"(<!--#fsize file="data/z0" file="data/z999" virtual="/data/z1500" virtual="data/z10188?x" )"
            R"(file="data/z1500000" --><!--#config sizefmt="bytes" --><!--#fsize file="data/z1500000" -->|)"
            R"(<!--#config timefmt="%c" --><!--#flastmod file="data/z0" -->)");
    set_mtime(t.path("site/page.shtml"), 1009843200);    // 2002-01-01 00:00:00 UTC
    set_mtime(t.path("site/data/z0"), 1014460730);       // Sat Feb 23 10:38:50 2002
    SSIDirectoryPreferences preferences = default_preferences();
    preferences.dialect = dialect_t::apache;
    preferences.source_as_root = true;
    RecordingLog log;
    convert_directory("", t.path("site"), t.path("out"), preferences, log);
    EXPECT_EQ(read_file(t.path("out/page.shtml")),
              "page.shtml|/page.shtml||(none)|Tuesday, 01-Jan-2002 00:00:00 UTC|" + current_user_name() +
                  "|spaced|raw <!--#echo var=\"x\" -->|"
              "[a=1&amp;b=%41|a=1\\&amp;b=A|page.shtml|]|q" + E + "|2002|" + E + "|" + E + "|" + E + "|" + E +
                  "|  0 1.0K1.5K9.9K1.4M1,500,000|Sat Feb 23 10:38:50 2002");
}

TEST(ApacheCommands, TimesAndPrintenv) {
    const pinned_clock clock(1796520293);  // Sun, 06-Dec-2026 01:24:53 UTC
    expect_outputs({
        {R"(<!--#echo var="DATE_GMT" -->|<!--#config timefmt="%Y %Z" --><!--#echo var="DATE_LOCAL" -->|)"
         R"(<!--#echo var="date_gmt" -->|<!--#echo var="SERVER_SOFTWARE" -->)",
         "Sunday, 06-Dec-2026 01:24:53 GMT|2026 UTC|2026 GMT|" + std::string(orrinfold::product_name)},
    });
    // Names as first spelled, in the order first set; a later spelling changes only the value.
    const std::string listed =
        run_engine(R"(<!--#set var="b" value="<1>" --><!--#set var="a" value="2" --><!--#set var="B" value="3" -->)"
                   R"(<!--#printenv -->)",
                   apache())
            .output;
    const std::string set_by_page = "b=3\na=2\n";
    EXPECT_TRUE(listed.ends_with("DOCUMENT_NAME=\n" + set_by_page)) << listed;
    for (const char* line : {"DATE_GMT=Sunday, 06-Dec-2026 01:24:53 GMT\n", "DOCUMENT_URI=/\n", "QUERY_STRING=\n",
                             "REQUEST_METHOD=GET\n", "SERVER_PROTOCOL=HTTP/1.1\n", "GATEWAY_INTERFACE=CGI/1.1\n"})
        EXPECT_NE(listed.find(line), std::string::npos) << line;
}
