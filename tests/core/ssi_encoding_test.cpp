#include "run_engine.h"
#include "temp_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

const std::string echo_x = utf16le(u"<!--#echo var=\"x\" -->", false);

}  // namespace

TEST(DocumentEncoding, Utf16WithByteOrderMark) {
    expect_document_cases({
        {"directives work and echo writes code units",
         utf16le(u"a\u00E9<!--#set var=\"x\" value=\"\u20AC\U0001F600\" -->[<!--#echo var=\"x\" -->]"),
         utf16le(u"a\u00E9[\u20AC\U0001F600]"),
         {}},
        {"zero width space separates arguments", utf16le(u"<!--#echo\u200Bvar=\"x\"\u200B-->"), utf16le(u"(none)"), {}},
        {"non-ASCII variable names", utf16le(u"<!--#set var=\"\u00E9\" value=\"1\" --><!--#echo var=\"\u00E9\" -->"),
         utf16le(u"1"), {}},
        {"byte order mark alone", "\xFF\xFE", "\xFF\xFE", {}},
        {"odd size keeps the last byte", utf16le(u"a<!--#echo var=\"SERVER_SOFTWARE\" -->b") + "Z",
         utf16le(u"aOrrinfold 1.15b") + "Z", {"Odd sized Unicode file"}},
        {"odd size, byte order mark and one byte", "\xFF\xFE<", "\xFF\xFE<", {"Odd sized Unicode file"}},
        // The lone last byte reads as a code unit with a zero high byte, here the > of the closer.
        {"odd size, last byte closes a directive", utf16le(u"a<!--#echo var=\"x\" --") + ">", utf16le(u"a(none)"),
         {"Odd sized Unicode file"}},
        {"odd size, end of file in a directive", utf16le(u"a<!--#echo var=\"x") + "\"",
         utf16le(u"a"), {"Odd sized Unicode file", "Unexpected end of file"}},
        // Only whole code units count: the first opener starts at byte 3.
        {"opener at an odd offset", "\xFF\xFE" "A"s + echo_x + "B"s + echo_x,
         "\xFF\xFE" "A"s + echo_x + "B"s + utf16le(u"(none)", false), {}},
        {"8-bit opener in a UTF-16 document", "\xFF\xFE<!--#echo var=\"x\" -->\n",
         "\xFF\xFE<!--#echo var=\"x\" -->\n", {}},
    });
}

TEST(DocumentEncoding, EverythingElseIsEightBit) {
    expect_document_cases({
        {"empty document", "", "", {}},
        {"one byte", "<", "<", {}},
        {"one high byte", "\xFF", "\xFF", {}},
        {"UTF-8 byte order mark", "\xEF\xBB\xBF<!--#echo var=\"x\" -->", "\xEF\xBB\xBF(none)", {}},
        {"UTF-16 without byte order mark", echo_x, echo_x, {}},
        {"reversed byte order mark, UTF-16 text", "\xFE\xFF"s + echo_x, "\xFE\xFF"s + echo_x, {"Unicode is reversed"}},
        {"reversed byte order mark, 8-bit text", "\xFE\xFF<!--#echo var=\"x\" -->", "\xFE\xFF(none)",
         {"Unicode is reversed"}},
        {"zero width space in UTF-8 is not white space", "<!--#echo\xE2\x80\x8Bvar=\"x\" -->", "",
         {"Non-alpha symbol in argument name", "Expected identifier", "Expected '='",
          "Unsupported argument '' in command 'echo'", "Missing required argument 'var' in command 'echo'"}},
    });
}

TEST(DocumentEncoding, HighBytesRoundTripThroughVariables) {
    std::string high;
    for (int b = 0x80; b < 0x100; ++b) high.push_back(static_cast<char>(b));
    const std::string name = "caf\xC3\xA9\xE9";
    expect_document_cases({
        {"every high byte", "<!--#set var=\"x\" value=\"" + high + "\" -->[<!--#echo var=\"x\" -->]", "[" + high + "]",
         {}},
        {"through expansion", "<!--#set var=\"" + name + "\" value=\"\xE9\xFF\" --><!--#set var=\"y\" value=\"${" +
                                  name + "}-$x\" --><!--#echo var=\"y\" -->",
         "\xE9\xFF-(none)", {}},
        {"UTF-8 text", "<!--#set var=\"x\" value=\"\xE2\x82\xAC \xF0\x9F\x98\x80\" --><!--#echo var=\"x\" -->",
         "\xE2\x82\xAC \xF0\x9F\x98\x80", {}},
    });
}
