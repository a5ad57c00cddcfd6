// The Apache dialect on what Apache computes from the page itself, and the report of the places
// that only a request could fill.
#include "build/convert.h"
#include "build/summary.h"
#include "pinned_time.h"
#include "recording_log.h"
#include "run_engine.h"
#include "ssi/expr/digest.h"
#include "ssi/preferences.h"
#include "temp_tree.h"

#include <gtest/gtest.h>

namespace {
const std::string E = "[an error occurred while processing this directive]";

SSIParserPreferences apache(bool ap_expressions) {
    SSIParserPreferences preferences;
    preferences.dialect = dialect_t::apache;
    preferences.ap_expressions = ap_expressions;
    return preferences;
}

std::string branch(const std::string& expression) {
    return "<!--#if expr=\"" + expression + "\" -->T<!--#else -->F<!--#endif -->";
}
}  // namespace

TEST(ApacheStatic, RequestConstantsEncodingsAndTimes) {
    const pinned_clock clock(1796520293);  // Sun, 06-Dec-2026 01:24:53 UTC
    const std::string year200 = [] {
        std::string text;
        for (int i = 0; i < 200; ++i) text += "%Y";
        return text;
    }();
    std::string years;
    for (int i = 0; i < 200; ++i) years += "2026";
    expect_engine_cases(
        {
            {"request", R"(<!--#echo var="REQUEST_URI" -->|<!--#echo var="SCRIPT_NAME" -->|<!--#echo var="REQUEST_METHOD" -->|)"
                        R"(<!--#echo var="SERVER_PROTOCOL" -->|<!--#echo var="GATEWAY_INTERFACE" -->)",
             "/|/|GET|HTTP/1.1|CGI/1.1"},
            {"encodings in turn", R"(<!--#set var="u" value="a b<&" --><!--#echo encoding="url,entity" var="u" -->|)"
                                  R"(<!--#echo encoding="entity, url" var="u" -->|<!--#echo encoding="url,rot13" var="u" -->)",
             "a%20b%3c&amp;|a%20b&lt;&amp;|" + E,
             {"Unknown value 'url,rot13' of 'encoding' in command 'echo'"}},
            {"long time format", "<!--#config timefmt=\"" + year200 + "\" --><!--#echo var=\"DATE_GMT\" -->", years},
        },
        apache(false));
}

TEST(ApacheStatic, NewerSyntaxFunctionsAndOperators) {
    const pinned_clock clock(1796520293);
    std::vector<engine_case_t> cases;
    const std::string set = R"(<!--#set var="s" value="Hello" --><!--#set var="n" value=" 5" -->)";
    struct row_t {
        std::string expression, result, error = {};
    };
    for (const auto& [expression, result, error] : std::vector<row_t>{
             {"escape('a b/<c>?&') == 'a%20b/%3cc%3e%3f&'", "T"},
             {"unescape('a%20b%2fc') == 'a b%2fc' && unescape('%zz') == '' && unescape('%00') == ''", "T"},
             {"base64('hello') == 'aGVsbG8=' && unbase64('aGVsbG8=') == 'hello'", "T"},
             {"md5('abc') == '900150983cd24fb0d6963f7d28e17f72'", "T"},
             {"SHA1('abc') == 'a9993e364706816aba3e25717850c26c9cd0d89d' && TOLOWER('aB') == 'ab'", "T"},
             {"strlen('abc') == '3'", E, "Unknown function 'strlen'"},  // Apache has no such function
             {"%{ENV:s} == 'Hello' && %{toupper:ab} == 'AB' && %{request_method} == 'GET'", "T"},
             {"%{nosuch:x} == ''", E, "Unknown function 'nosuch'"},
             {"%{TIME_YEAR} == '2026' && %{TIME_WDAY} == '0' && %{TIME_SEC} == '53'", "T"},
             {"%{TIME} =~ /^202612060[0-9]2453$/", "T"},
             {"'a\\tb' == 'a\tb' && '\\101\\x' == 'Ax' && '\\n' == '\n'", "T"},
             {"'\\400' == 'x'", E, "Escape sequence out of range"},
             {"'a/b' -fnmatch 'a*'", "F"},
             {"'a/b' -fnmatch 'a/*' && 'ab' -fnmatch 'a?' && 'a/b' -strmatch 'a*'", "T"},
             {"'abc' -eq 0 && '' -eq 0 && ' 5' -eq 5 && v('n') -eq 5 && '5abc' -eq 5 && '1e3' -lt 2", "T"},
             {"-A '/nope.html' && -U 'sub/x.shtml'", "T"},
             {"-A '/%zz' || -U '/a%2fb' || -A '/../x' || -A 'a/../../x'", "F"},
             {"-R '127.0.0.1' || -x '/bin/sh'", E, "-x is not available in pages"},
             {"-R '127.0.0.1'", "F"},
         })
        cases.push_back({expression, set + branch(expression), result,
                         error.empty() ? std::vector<std::string>{}
                                       : std::vector<std::string>{error + " in expression \"" + expression + "\""}});
    expect_document_cases(cases, apache(true));
}

// Apache's pages served from a site: what an include sees, and paths of documents without a URL.
TEST(ApacheStatic, IncludesSeeTheirOwnRequest) {
    TempTree t;
    t.write("site/b.inc", "ROOT");
    t.write("site/sub/a.shtml", R"(<!--#include virtual="b.inc" -->|<!--#include virtual="nob.inc" -->)");
    t.write("site/sub/in.shtml", branch("%{QUERY_STRING} == 'x=1' && %{REQUEST_URI} == '/sub/in.shtml'") +
                                     R"(<!--#echo var="REQUEST_URI" --><!--#echo var="QUERY_STRING" -->)");
    t.write("site/page.shtml", R"([<!--#include file="sub/a.shtml" -->][<!--#include virtual="b.inc#top" -->])" +
                                   std::string("[<!--#include virtual=\"sub/in.shtml?x=1\" -->]") +
                                   branch("%{QUERY_STRING} == '' && -F 'b.inc' && -F 'sub/a.shtml' && !-F 'no.inc'"));
    SSIDirectoryPreferences preferences = default_preferences();
    preferences.dialect = dialect_t::apache;
    preferences.ap_expressions = true;
    preferences.source_as_root = true;
    RecordingLog log;
    convert_directory("", t.path("site"), t.path("out"), preferences, log);
    EXPECT_EQ(read_file(t.path("out/page.shtml")), "[ROOT|" + E + "][ROOT][T/page.shtmlx=1]T");
}

// Each form a static page cannot know is reported once per place, with what the page shows,
// and only when asked for; the summary counts the places.
TEST(ApacheStatic, ReportsWhatDependsOnTheRequest) {
    TempTree t;
    // A page of its own, and included by two others: reported once.
    t.write("site/shared.shtml", R"(<!--#echo var="HTTP_USER_AGENT" -->)");
    const std::string uses = R"(<!--#include virtual="/shared.shtml" -->)";
    t.write("site/a.shtml", uses + R"(<!--#echo var="REMOTE_ADDR" --><!--#set var="r" value="$HTTP_REFERER" -->)"
                                   R"(<!--#exec cmd="ls" --><!--#set var="SERVER_NAME" value="x" -->)"
                                   R"(<!--#echo var="SERVER_NAME" --><!--#if expr="req('Host') == '' && !-R '10.0.0.0/8'" -->)"
                                   R"(<!--#endif --><!--#if expr="%{REMOTE_ADDR} == ''" --><!--#endif -->)"
                                   // An elif is reported; a side left unevaluated is not.
                                   R"(<!--#if expr="false" --><!--#elif expr="%{HTTP_ACCEPT} == 'x' && req('X') == ''" -->)"
                                   R"(<!--#endif -->)");
    t.write("site/b.shtml", uses);
    SSIDirectoryPreferences preferences = default_preferences();
    preferences.dialect = dialect_t::apache;
    preferences.ap_expressions = true;
    preferences.source_as_root = true;
    preferences.check = true;
    for (const bool asked : {false, true}) {
        preferences.report_request = asked;
        RecordingLog log;
        CountingLog counting(log);
        conversion_control_t control;
        convert_directory("", t.path("site"), "", preferences, counting, &control);
        std::vector<std::string> reported;
        for (std::size_t i = 0, d = 0; i < log.lines.size(); ++i) {
            if (log.lines[i].kind.empty()) continue;
            const std::string& located = log.locations[d++];
            const std::string place = located.substr(0, located.find(' '));
            if (log.lines[i].text.find("depends on the request") != std::string::npos)
                reported.push_back(place.substr(place.rfind('/') + 1) + ": " + log.lines[i].text);
        }
        const auto says = [](const std::string& place, const std::string& what, const std::string& shows) {
            return place + ": '" + what + "' depends on the request; the static page shows '" + shows + "'";
        };
        const std::vector<std::string> expected =
            asked ? std::vector<std::string>{says("shared.shtml:1:1", "HTTP_USER_AGENT", "(none)"),
                                             says("a.shtml:1:41", "REMOTE_ADDR", "(none)"),
                                             says("a.shtml:1:72", "HTTP_REFERER", ""),
                                             says("a.shtml:1:114", "exec", E),
                                             says("a.shtml:1:207", "req('Host')", ""),
                                             says("a.shtml:1:207", "-R '10.0.0.0/8'", "false"),
                                             says("a.shtml:1:277", "%{REMOTE_ADDR}", ""),
                                             says("a.shtml:1:354", "%{HTTP_ACCEPT}", "")}
                  : std::vector<std::string>{};
        EXPECT_EQ(reported, expected) << asked;
        EXPECT_EQ(counting.request_dependent, expected.size());
        EXPECT_EQ(control.summary.request_dependent, expected.size());
        EXPECT_EQ(counting.warnings, 0u);
    }
    run_summary_t summary;
    summary.request_dependent = 12;
    EXPECT_EQ(summary_text(summary, false), "0 documents converted, 0 files copied, 0 skipped; 0 errors, 0 warnings, "
                                            "12 places depend on the request");
}

TEST(ApacheStatic, DigestsOverManyBlocks) {
    const std::string fox = "The quick brown fox jumps over the lazy dog", million(1000000, 'a');
    EXPECT_EQ(md5_hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5_hex(fox), "9e107d9d372bb6826bd81d3542a419d6");
    EXPECT_EQ(md5_hex(million), "7707d6ae4e027c70eea2a935c2296f21");
    EXPECT_EQ(sha1_hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(sha1_hex(fox), "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12");
    EXPECT_EQ(sha1_hex(million), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}
