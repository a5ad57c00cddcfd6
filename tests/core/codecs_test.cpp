// The encodings and size formats that directives apply to values.
#include "base/text.h"
#include "ssi/codecs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
struct text_case_t {
    std::string input;
    std::string expected;
};
}  // namespace

TEST(Codecs, EntitiesDecodeAsApacheDecodesThem) {
    const std::vector<text_case_t> cases{
        {"a&lt;b&gt;&amp;&quot;", "a<b>&\""},
        {"&eacute;&THORN;&yuml;", "\xE9\xDE\xFF"},  // Latin-1 names give their byte
        {"&#65;&#0066;&#255;", "AB\xFF"},
        {"[&#8;&#9;&#10;&#31;&#127;&#160;&#161;&#256;&#1000000;]", "[\t\n\xA1]"},  // unused numbers are dropped
        {"&nbsp;&bogus;", "&nbsp;&bogus;"},  // unknown names stay
        {"&#x41;", ""},  // no hexadecimal form: dropped as an unused number
        {"a & b; &amp", "a & b; &amp"},
        {"&&amp;", "&&"},
    };
    for (const auto& [input, expected] : cases) {
        SCOPED_TRACE(input);
        EXPECT_EQ(to_narrow(decode_entities(to_wide(input))), expected);
    }
}

TEST(Codecs, ShellEscapes) {
    EXPECT_EQ(escape_shell("a b&c;d|e`f'g\"h*?~<>^()[]{}$\\\ni\xFFj"),
              "a b\\&c\\;d\\|e\\`f\\'g\\\"h\\*\\?\\~\\<\\>\\^\\(\\)\\[\\]\\{\\}\\$\\\\\\\ni\\\xFFj");
}

TEST(Codecs, UrlEscapesAsPathOrFormValue) {
    struct case_t {
        std::string input;
        std::string path;
        std::string form;
    };
    const std::vector<case_t> cases{
        {"az09", "az09", "az09"},
        {"$-_.+!*'(),:;@&=/~", "$-_.+!*'(),:;@&=/~", "%24-_.%2b%21*%27%28%29%2c%3a%3b%40%26%3d%2f%7e"},
        {"a b?c#d%", "a%20b%3fc%23d%25", "a+b%3fc%23d%25"},
        {"\xC3\xBC\x01", "%c3%bc%01", "%c3%bc%01"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(escape_url(c.input, false), c.path);
        EXPECT_EQ(escape_url(c.input, true), c.form);
    }
}

TEST(Codecs, UrlUnescapeKeepsMalformedEscapes) {
    struct case_t {
        std::string input;
        bool form;
        std::string expected;
        bool valid;
    };
    const std::vector<case_t> cases{
        {"a%20b%2Fc", false, "a b/c", true},
        {"a+b", false, "a+b", true},
        {"a+b", true, "a b", true},
        {"%zz%4", false, "%zz%4", false},
        {"%41%", false, "A%", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        std::string text = c.input;
        EXPECT_EQ(unescape_url(text, c.form), c.valid);
        EXPECT_EQ(text, c.expected);
    }
}

TEST(Codecs, Base64BothWays) {
    const std::vector<text_case_t> cases{
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {std::string("\xFF\xFE\0", 3), "//4A"},
    };
    for (const auto& [plain, encoded] : cases) {
        SCOPED_TRACE(encoded);
        EXPECT_EQ(encode_base64(plain), encoded);
        EXPECT_EQ(decode_base64(encoded), plain);
    }
    // Decoding stops at the first character that is no digit.
    EXPECT_EQ(decode_base64("Zm9v!Zm9v"), "foo");
    EXPECT_EQ(decode_base64(std::string("Zg\0==", 5)), "f");
}

TEST(Codecs, SizesAbbreviatedGroupedAndInTheDefaultDialect) {
    struct case_t {
        std::uint64_t size;
        std::string apache;   // abbreviated as Apache does
        std::string grouped;
        std::string orrinfold;  // the default dialect's abbreviation
    };
    const std::vector<case_t> cases{
        {0, "  0 ", "0", "0.0k"},
        {102, "102 ", "102", "0.0k"},
        {103, "103 ", "103", "0.1k"},
        {972, "972 ", "972", "0.9k"},
        {973, "1.0K", "973", "0.9k"},
        {1536, "1.5K", "1,536", "1.5k"},
        {10000, "9.8K", "10,000", "9.7k"},
        {100000, " 98K", "100,000", "97.6k"},
        {102400, "100K", "102,400", "100k"},
        {1048575, "1.0M", "1,048,575", "1023k"},
        {1048576, "1.0M", "1,048,576", "1.0M"},
        {1500000, "1.4M", "1,500,000", "1.4M"},
        {11534336, " 11M", "11,534,336", "11.0M"},
        {104857599, "100M", "104,857,599", "99.9M"},
        {104857600, "100M", "104,857,600", "100M"},
        {1234567890123, "1.1T", "1,234,567,890,123", "1177375M"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        EXPECT_EQ(abbreviated_size(c.size), c.apache);
        EXPECT_EQ(grouped_size(c.size), c.grouped);
        EXPECT_EQ(to_narrow(format_size(c.size, size_format_t::abbrev)), c.orrinfold);
        EXPECT_EQ(to_narrow(format_size(c.size, size_format_t::bytes)), std::to_string(c.size));
    }
}
