#include "site/file_filter.h"

#include "ssi/preferences.h"

#include <gtest/gtest.h>

TEST(MatchMask, WholeNameWithStarsQuestionMarksAndFoldedLetters) {
    const struct { const char* mask; const char* name; bool matches; } rows[] = {
        {"*.shtml", "INDEX.SHTML", true}, {"*.shtml", ".shtml", true},    {"*.shtml", "index.shtml.bak", false},
        {"*.sht", "index.shtml", false},  {"include", "includes", false}, {"*", "", true},
        {"a?c", "aXc", true},             {"a?c", "ac", false},           {"a?c", "abbc", false},
        {"?", "", false},                 {"*.*", "README", false},       {"**.inc", "menu.inc", true},
        {"*a*", "bAnana", true},          {"*a", "aaa", true},            {"a*b*c", "aXXbYYbc", true},
        {"a*b*c", "abcb", false},         {"", "", true},                 {"", "a", false},
        {"*.shtml", "shtml", false},      {"*X", "x", true},              {"*.inc", "a.INC", true},
        // A UTF-8 character is one character; only ASCII letters fold; other bytes are characters of their own.
        {"caf?", "caf\xC3\xA9", true},    {"caf\xC3\x89", "caf\xC3\xA9", false}, {"??", "\xC3\xA9", false},
        {"?", "\xFF", true},              {"a\xE9", "A\xE9", true},       {"\xC3", "\xC3\xA9", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.mask) + " vs " + row.name);
        EXPECT_EQ(match_mask(row.mask, row.name), row.matches);
    }
}

TEST(MyFileFilter, AddMasksSplitsAtSpacesOnly) {
    const struct { const char* text; MyFileFilter::mask_set_t masks; } rows[] = {
        {"    ", {}}, {"  *.inc    include  ", {"*.inc", "include"}}, {"a\tb c", {"a\tb", "c"}},
        {"x x Include include", {"Include", "include", "x"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        MyFileFilter::mask_set_t masks;
        MyFileFilter::add_masks(masks, row.text);
        EXPECT_EQ(masks, row.masks);
    }
}

TEST(MyFileFilter, DefaultAndEmptyMasks) {
    const MyFileFilter filter(default_preferences());
    const MyFileFilter empty(SSIDirectoryPreferences{});
    const struct { const char* name; bool skip, convert; } rows[] = {
        {"index.shtml", false, true}, {"a.SHTM", false, true},    {"b.sht", false, true},
        {"c.html", false, false},     {"header.inc", true, false}, {"INCLUDE", true, false},
        {"x.inc.shtml", false, true}, {"*", false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(filter.should_skip(row.name), row.skip);
        EXPECT_EQ(filter.should_convert(row.name), row.convert);
        EXPECT_FALSE(empty.should_skip(row.name) || empty.should_convert(row.name));
    }
}
