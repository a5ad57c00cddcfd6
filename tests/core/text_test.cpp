// The small text helpers every layer shares: ASCII case, HTML escaping, and paths.
#include "base/compile_log.h"
#include "base/text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

TEST(Text, AsciiCaseChangesOnlyAsciiLetters) {
    // Bytes past ASCII (Latin-1, UTF-8 parts) and escaped bytes stay: case rules of the locale never apply.
    EXPECT_EQ(to_ascii_upper(u"abz AZ 09 _@[`{ \u00E9\u00FF\xDC61"), u"ABZ AZ 09 _@[`{ \u00E9\u00FF\xDC61");
    EXPECT_EQ(ascii_lower('A'), 'a');
    EXPECT_EQ(ascii_lower('@'), '@');
    EXPECT_EQ(ascii_lower('['), '[');
    EXPECT_EQ(ascii_lower(static_cast<char>(0xC9)), static_cast<char>(0xC9));
    EXPECT_EQ(ascii_upper(static_cast<unsigned char>('z')), 'Z');
    EXPECT_EQ(ascii_lower(U'\u00C9'), U'\u00C9');
    EXPECT_TRUE(is_ascii_alpha(u'q') && is_ascii_alpha('Q'));
    EXPECT_FALSE(is_ascii_alpha('1') || is_ascii_alpha(u'\u00E9') || is_ascii_alpha('_'));

    struct row_t {
        const char* text;
        const char* lower;
        bool equal;
        bool ends;
    };
    for (const row_t& row : {row_t{"INDEX.HTML", "index.html", true, true}, row_t{"a.Html", ".html", false, true},
                             row_t{"a.htm", ".html", false, false}, row_t{"", "", true, true},
                             row_t{"x", "", false, true}, row_t{"\xC9.css", "\xE9.css", false, false}}) {
        EXPECT_EQ(equals_folded(row.text, row.lower), row.equal) << row.text;
        EXPECT_EQ(ends_with_folded(row.text, row.lower), row.ends) << row.text;
    }
}

TEST(Text, HtmlEscapingCoversMarkupAndAttributes) {
    EXPECT_EQ(escape_html("<a href=\"x\">&'</a>"), "&lt;a href=&quot;x&quot;&gt;&amp;'&lt;/a&gt;");
    EXPECT_EQ(escape_html("plain \xE9"), "plain \xE9");
    EXPECT_EQ(escape_html("&amp;"), "&amp;amp;");
}

TEST(Text, PathPartsAndDotSegments) {
    struct parts_t {
        const char* path;
        const char* base;
        const char* folder;
    };
    for (const parts_t& row : {parts_t{"a/b/c.shtml", "c.shtml", "a/b/"}, parts_t{"/x", "x", "/"},
                               parts_t{"name", "name", ""}, parts_t{"dir/", "", "dir/"}, parts_t{"", "", ""}}) {
        EXPECT_EQ(base_name(row.path), row.base) << row.path;
        EXPECT_EQ(folder_of(row.path), row.folder) << row.path;
    }

    struct fold_t {
        const char* path;
        std::optional<std::string> folded;  // nullopt: climbs above the start
    };
    for (const fold_t& row : {fold_t{"a/b/../c", "a/c"}, fold_t{"./a//b/./", "a/b"}, fold_t{"/a/b/", "a/b"},
                              fold_t{"a/..", ""}, fold_t{"", ""}, fold_t{"..", std::nullopt},
                              fold_t{"a/../..", std::nullopt}, fold_t{"a/b/../../../c", std::nullopt},
                              fold_t{"...", "..."}, fold_t{"a/..b/.c", "a/..b/.c"}}) {
        std::string path = row.path;
        const bool inside = fold_dot_segments(path);
        EXPECT_EQ(inside ? std::optional(path) : std::nullopt, row.folded) << row.path;
    }
}

// Log lines show names with C escapes; a backslash is doubled only before what would read as one.
TEST(Text, PrintableEscapesControlCharactersOnly) {
    const std::pair<std::string, std::string> rows[] = {
        {"plain \xC3\xA9 / ok", "plain \xC3\xA9 / ok"},
        {"a\nb\rc\td", "a\\nb\\rc\\td"},
        {std::string("\x1b[31m\x7f\x01\0", 8), "\\x1b[31m\\x7f\\x01\\x00"},
        {"C:\\dir\\new\\x\\t", "C:\\dir\\new\\x\\t"},
        {"\\\n", "\\\\n"},
    };
    for (const auto& [text, shown] : rows) EXPECT_EQ(printable(text), shown) << text;
}

// Looking for the pivot byte first finds what a plain search finds, wherever the needle and
// its look-alikes stand.
TEST(Text, SearchAroundAPivotFindsTheFirstOccurrence) {
    const std::string needle = "<!--#";
    const std::string texts[] = {
        "",  "<!--", "<!--#", "x<!--#", "!<!--#", "<!<!--#", "<!--!--#<!--#", "a!b!c!d", "text <!-- -->!! <!--#e",
        "ends with <!--", "ends with !", std::string("\0<!--#", 6),
    };
    for (const std::string& text : texts)
        for (std::size_t pivot = 0; pivot <= needle.size(); ++pivot) {
            const void* plain = find_bytes(text.data(), text.size(), needle.data(), needle.size());
            EXPECT_EQ(find_bytes_around(text.data(), text.size(), needle.data(), needle.size(), pivot), plain)
                << '"' << text << "\" pivot " << pivot;
        }
}
