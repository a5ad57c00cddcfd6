#include "platform/text.h"

#include <gtest/gtest.h>

TEST(Text, NarrowWideRoundTripKeepsEveryByte) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    for (const std::string& s : {all, std::string("\xED\xA0\x80"), std::string("\xE0\x80\x80"),
                                 std::string("\xF4\x90\x80\x80"), std::string("a\xFFz")})
        EXPECT_EQ(to_narrow(to_wide(s)), s);
    EXPECT_EQ(to_wide("caf\xC3\xA9\xF0\x9F\x98\x80"), u"caf\u00E9\U0001F600");
    EXPECT_EQ(to_wide("a\xFF"), std::u16string(u"a") + char16_t(0xDCFF));
    // Lone surrogates that are no escaped byte cannot be written as UTF-8.
    EXPECT_EQ(to_narrow(std::u16string{char16_t(0xDC10), char16_t(0xDC80), char16_t(0xD800)}), "?\x80?");
    // "é" read from an 8-bit document byte by byte, then an invalid byte, decoded for UTF-16 output.
    EXPECT_EQ(decode_escaped_bytes(std::u16string{widen_byte(0xC3), widen_byte(0xA9), u'-', widen_byte(0xFF)}), u"\u00E9-\uFFFD");
    EXPECT_EQ(to_decimal(5368709120u), "5368709120");
}
