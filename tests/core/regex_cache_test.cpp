// Regular expressions of the Apache dialect, compiled once per run and shared by the workers.
#include "recording_log.h"
#include "ssi/document_cache.h"
#include "ssi/document_output.h"
#include "ssi/expr/regex.h"
#include "ssi/preferences.h"
#include "ssi/ssi_parser.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {
struct match_case_t {
    std::string subject;
    std::string pattern;
    bool ignore_case;
    std::optional<bool> matched;
    std::string group1;  // "-" when the group took no part
};

const std::vector<match_case_t> match_cases{
    {"abbc", "^a(b+)c$", false, true, "bb"},
    {"ABBC", "^a(b+)c$", false, false, "-"},
    {"ABBC", "^a(b+)c$", true, true, "BB"},
    {"x", "(", false, std::nullopt, "-"},       // does not compile
    {"ac", "a(x)?c", false, true, "-"},
};

void expect_match(const match_case_t& c, RegexCache* cache) {
    std::optional<regex_captures_t> captures;
    std::string error;
    const std::optional<bool> matched = match_regex(c.subject, c.pattern, &captures, c.ignore_case, error, cache);
    EXPECT_EQ(matched, c.matched);
    if (!c.matched) {
        EXPECT_EQ(error.rfind("Regular expression /" + c.pattern + "/ does not compile: ", 0), 0u) << error;
        EXPECT_FALSE(captures);
        return;
    }
    ASSERT_TRUE(captures);
    EXPECT_EQ(captures->group(1).value_or("-"), c.group1);
}

std::string run_page(const std::string& document, SSIParser::State& state) {
    SSIParserPreferences preferences;
    preferences.dialect = dialect_t::apache;
    RecordingLog log;
    DocumentOutput output;
    SSIParser(document, ".", output, preferences, state, log).process();
    return output.text();
}
}  // namespace

TEST(RegexCache, MatchesAsWithoutItAndKeepsEachPatternOnce) {
    RegexCache cache;
    for (int round = 0; round < 2; ++round) {
        for (const match_case_t& c : match_cases) {
            SCOPED_TRACE(c.subject + " ~ " + c.pattern + " round " + std::to_string(round));
            expect_match(c, nullptr);
            expect_match(c, &cache);
        }
    }
    // The case flag is part of the key; a pattern that does not compile is remembered too.
    EXPECT_EQ(cache.size(), 4u);
    const pattern_t first = cache.compiled("^a(b+)c$", false);
    EXPECT_EQ(cache.compiled("^a(b+)c$", false).code, first.code);
    EXPECT_NE(cache.compiled("^a(b+)c$", true).code, first.code);
    EXPECT_EQ(cache.compiled("(", false).code, nullptr);
}

TEST(RegexCache, WorkersShareOneCache) {
    RegexCache cache;
    std::atomic<int> wrong{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&cache, &wrong, t] {
            for (int i = 0; i < 300; ++i) {
                const int n = (i + t) % 25;
                const std::string pattern = "^x" + std::to_string(n) + "(y*)$";
                std::optional<regex_captures_t> captures;
                std::string error;
                const std::string subject = "x" + std::to_string(n) + std::string(static_cast<std::size_t>(i % 3), 'y');
                const std::optional<bool> matched = match_regex(subject, pattern, &captures, false, error, &cache);
                if (matched != true || captures->group(1) != std::string(static_cast<std::size_t>(i % 3), 'y')) ++wrong;
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(cache.size(), 25u);
}

// The code that starts pages hands them the run's DocumentCache; the patterns come with it.
TEST(RegexCache, PagesOfARunReachItThroughTheDocumentCache) {
    DocumentCache cache;
    const std::string page = "<!--#set var=\"v\" value=\"abbc\" -->"
                             "<!--#if expr=\"$v = /^a(b+)c$/\" -->[$1=<!--#echo var=\"1\" -->]<!--#endif -->";
    for (int i = 0; i < 2; ++i) {
        SSIParser::State state;
        state.cache = &cache;
        EXPECT_EQ(run_page(page, state), "[$1=bb]");
    }
    EXPECT_EQ(cache.regexes().size(), 1u);
    SSIParser::State alone;
    EXPECT_EQ(run_page(page, alone), "[$1=bb]");
}
