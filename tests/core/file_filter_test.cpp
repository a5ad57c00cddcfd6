#include "site/file_filter.h"

#include "ssi/preferences.h"

#include <gtest/gtest.h>

#include <string>

TEST(MatchMask, WholeNameWithStarsQuestionMarksAndFoldedLetters) {
    struct row_t {
        const char* mask;
        const char* name;
        bool matches;
    };
    const row_t rows[] = {
        {"*.shtml", "index.shtml", true},
        {"*.shtml", "INDEX.SHTML", true},
        {"*.shtml", ".shtml", true},
        {"*.shtml", "index.shtml.bak", false},
        {"*.shtml", "index.shtm", false},
        {"*.sht", "index.shtml", false},
        {"include", "Include", true},
        {"include", "includes", false},
        {"*", "README", true},
        {"*", "", true},
        {"a?c", "aXc", true},
        {"a?c", "ac", false},
        {"a?c", "abbc", false},
        {"?", "x", true},
        {"?", "xy", false},
        {"?", "", false},
        {"*.*", "README", false},
        {"*.*", "a.b", true},
        {"**", "anything", true},
        {"**.inc", "menu.inc", true},
        {"*a*", "bAnana", true},
        {"*a*", "xyz", false},
        {"*a", "aaa", true},
        {"a*b*c", "aXXbYYbc", true},
        {"a*b*c", "abcb", false},
        {"", "", true},
        {"", "a", false},
        // A UTF-8 character is one character; only ASCII letters fold.
        {"caf?", "caf\xC3\xA9", true},
        {"caf\xC3\x89", "caf\xC3\xA9", false},
        {"CAF\xC3\xA9", "caf\xC3\xA9", true},
        {"??", "\xC3\xA9", false},
        // A byte outside valid UTF-8 is a character of its own.
        {"?", "\xFF", true},
        {"a\xE9", "A\xE9", true},
        {"\xC3", "\xC3\xA9", false},
    };
    for (const row_t& row : rows) {
        SCOPED_TRACE(std::string(row.mask) + " vs " + row.name);
        EXPECT_EQ(match_mask(row.mask, row.name), row.matches);
    }
}

TEST(MatchMask, ManyStarsAgainstALongNameAnswerWithoutBacktrackingForever) {
    EXPECT_FALSE(match_mask("*a*a*a*a*a*a*a*a*a*a*b", std::string(250, 'a')));
    EXPECT_TRUE(match_mask("*a*a*a*a*a*a*a*a*a*a*b", std::string(250, 'a') + "b"));
}

TEST(MyFileFilter, AddMasksSplitsAtSpacesOnly) {
    struct row_t {
        const char* name;
        const char* text;
        MyFileFilter::mask_set_t masks;
    };
    const row_t rows[] = {
        {"empty", "", {}},
        {"only spaces", "    ", {}},
        {"several spaces, leading and trailing", "  *.inc    include  ", {"*.inc", "include"}},
        {"tab is part of the mask", "a\tb c", {"a\tb", "c"}},
        {"exact duplicates collapse", "x x", {"x"}},
        {"case-different duplicates stay", "Include include", {"Include", "include"}},
    };
    for (const row_t& row : rows) {
        SCOPED_TRACE(row.name);
        MyFileFilter::mask_set_t masks;
        MyFileFilter::add_masks(masks, row.text);
        EXPECT_EQ(masks, row.masks);
    }
}

TEST(MyFileFilter, BuildsBothSetsFromThePreferences) {
    SSIDirectoryPreferences preferences;
    preferences.convert_filter = "*.shtml  *.HTM";
    preferences.skip_filter = "a\tb";
    const MyFileFilter filter(preferences);
    EXPECT_EQ(filter.convert_masks, (MyFileFilter::mask_set_t{"*.HTM", "*.shtml"}));
    EXPECT_EQ(filter.skip_masks, (MyFileFilter::mask_set_t{"a\tb"}));
    EXPECT_TRUE(filter.should_convert("page.htm"));
    EXPECT_FALSE(filter.should_convert("page.html"));
    EXPECT_FALSE(filter.should_skip("a"));
    EXPECT_FALSE(filter.should_skip("b"));
    EXPECT_TRUE(filter.should_skip("A\tB"));
}

TEST(MyFileFilter, EmptySetMatchesNothing) {
    const MyFileFilter filter(SSIDirectoryPreferences{});
    for (const char* name : {"", "x", "*", "index.shtml"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(filter.should_convert(name));
        EXPECT_FALSE(filter.should_skip(name));
    }
}

TEST(MyFileFilter, DefaultMasks) {
    const MyFileFilter filter(default_preferences());
    struct row_t {
        const char* name;
        bool skip;
        bool convert;
    };
    const row_t rows[] = {
        {"index.shtml", false, true}, {"a.SHTM", false, true},     {"b.sht", false, true},
        {"c.html", false, false},     {"header.inc", true, false}, {"INCLUDE", true, false},
        {"includes", false, false},   {"x.inc.shtml", false, true},
    };
    for (const row_t& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(filter.should_skip(row.name), row.skip);
        EXPECT_EQ(filter.should_convert(row.name), row.convert);
    }
}
