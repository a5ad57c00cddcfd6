#include "platform/text.h"

#include <gtest/gtest.h>

TEST(Text, NarrowWideRoundTripKeepsEveryByte) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    const std::string samples[] = {"", "plain", "caf\xC3\xA9", "\xF0\x9F\x98\x80", all, "\xC3", "\xED\xA0\x80",
                                   "\xE0\x80\x80", "\xF4\x90\x80\x80", "a\xFFz"};
    for (const std::string& s : samples) EXPECT_EQ(to_narrow(to_wide(s)), s);
}

TEST(Text, WideDecodesUtf8AndEscapesInvalidBytes) {
    EXPECT_EQ(to_wide("caf\xC3\xA9"), u"caf\u00E9");
    EXPECT_EQ(to_wide("\xF0\x9F\x98\x80"), u"\U0001F600");
    EXPECT_EQ(to_wide("a\xFF"), std::u16string(u"a") + char16_t(0xDCFF));
    EXPECT_EQ(to_wide("\xC3"), std::u16string(1, char16_t(0xDCC3)));
}

TEST(Text, NarrowTurnsOtherLoneSurrogatesIntoQuestionMarks) {
    EXPECT_EQ(to_narrow(std::u16string(1, char16_t(0xD800))), "?");
    EXPECT_EQ(to_narrow(std::u16string(1, char16_t(0xDC10))), "?");
    EXPECT_EQ(to_narrow(std::u16string(1, char16_t(0xDC80))), "\x80");
}

TEST(Text, EscapedBytesDecodeAsUtf8ForUtf16Output) {
    // "é" read from an 8-bit document byte by byte, then an invalid byte.
    const std::u16string escaped{widen_byte(0xC3), widen_byte(0xA9), u'-', widen_byte(0xFF)};
    EXPECT_EQ(decode_escaped_bytes(escaped), u"\u00E9-\uFFFD");
}

TEST(Text, Decimal) {
    EXPECT_EQ(to_decimal(0), "0");
    EXPECT_EQ(to_decimal(4294967295u), "4294967295");
    EXPECT_EQ(to_decimal(5368709120u), "5368709120");
    EXPECT_EQ(to_decimal_w(1536), u"1536");
}
