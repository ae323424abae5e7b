// URL encoding exports called as a Visual Basic host calls them.
#include "vbhost.h"

#include <gtest/gtest.h>

namespace {

using vbhost::Gbk;
using vbhost::Take;

TEST(UrlEncode, KeepsAlphanumericsAndMarksAndEscapesTheRest) {
    EXPECT_EQ(Take(UrlEncode_GB("a b&c")), "a+b%26c");
    EXPECT_EQ(Take(UrlEncode_GB("A-Z.y_~09")), "A-Z.y_~09");
    EXPECT_EQ(Take(UrlEncode_GB("*/%+\x7F")), "%2A%2F%25%2B%7F");
    EXPECT_EQ(Take(UrlEncode_GB("")), "");
    const std::string ni = Gbk("你");
    EXPECT_EQ(Take(UrlEncode_GB(ni.c_str())), "%C4%E3");
    EXPECT_EQ(Take(UrlEncode_UTF8(ni.c_str())), "%E4%BD%A0");
    EXPECT_EQ(Take(UrlEncode_UTF8("a b")), "a+b");
}

TEST(UrlDecode, EscapesPlusAndPlainBytes) {
    EXPECT_EQ(Take(UrlDecode_GB("%41%62c")), "Abc");
    EXPECT_EQ(Take(UrlDecode_GB("a+b")), "a b");
    EXPECT_EQ(Take(UrlDecode_GB("%e4%bd%a0")), "\xE4\xBD\xA0");
    EXPECT_EQ(Take(UrlDecode_UTF8("%e4%bd%a0")), Gbk("你"));
    EXPECT_EQ(Take(UrlDecode_UTF8("%C3(")), "?(");
    const std::string hao = Gbk("好");
    EXPECT_EQ(Take(UrlDecode_GB(hao.c_str())), hao); // bytes >= 128 pass unchanged
}

TEST(UrlDecode, OddEscapesNeverFail) {
    EXPECT_EQ(Take(UrlDecode_GB("%zz")), "S");    // 35 * 16 + 35 = 595, cut to 8 bits
    EXPECT_EQ(Take(UrlDecode_GB("%G1")), "\x01"); // 16 * 16 + 1 = 257 -> 1
    EXPECT_EQ(Take(UrlDecode_GB("%00abc")), "");
    EXPECT_EQ(Take(UrlDecode_GB("ab%00")), "ab");
    // A "%" at the end or followed by one character consumes the rest and adds one byte; an
    // absent digit counts as 0.
    EXPECT_EQ(Take(UrlDecode_GB("ab%4")), "ab\x40");
    EXPECT_EQ(Take(UrlDecode_GB("ab%")), "ab"); // the byte is 0, which ends the result
    EXPECT_EQ(Take(UrlDecode_GB("%4%41")), std::string("\x40") + "41");
    EXPECT_EQ(Take(UrlDecode_GB("%%%")), ""); // non-digits count as 0
}

TEST(UrlCodec, NullGivesEmptyAndRoundTripsHold) {
    EXPECT_EQ(Take(UrlEncode_GB(nullptr)), "");
    EXPECT_EQ(Take(UrlEncode_UTF8(nullptr)), "");
    EXPECT_EQ(Take(UrlDecode_GB(nullptr)), "");
    EXPECT_EQ(Take(UrlDecode_UTF8(nullptr)), "");
    std::string all;
    for (int c = 1; c < 256; ++c) {
        all.push_back(static_cast<char>(c));
    }
    const auto encoded = Take(UrlEncode_GB(all.c_str()));
    ASSERT_TRUE(encoded);
    EXPECT_EQ(Take(UrlDecode_GB(encoded->c_str())), all);
    const std::string text = Gbk("中文 text & 符号");
    const auto utf8 = Take(UrlEncode_UTF8(text.c_str()));
    ASSERT_TRUE(utf8);
    EXPECT_EQ(Take(UrlDecode_UTF8(utf8->c_str())), text);
}

} // namespace
