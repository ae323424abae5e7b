// Hex string exports called as a Visual Basic host calls them.
#include "vbhost.h"

#include <gtest/gtest.h>

namespace {

using vbhost::Gbk;
using vbhost::String;
using vbhost::Take;

std::optional<std::string> ToHex(bool utf8, std::string_view text, int32_t flag) {
    String s(text);
    return Take(utf8 ? StrToHex_UTF8(s.ref(), flag) : StrToHex_GB(s.ref(), flag));
}

std::optional<std::string> FromHex(bool utf8, std::string_view hex) {
    String s(hex);
    return Take(utf8 ? HexToStr_UTF8(s.ref()) : HexToStr_GB(s.ref()));
}

TEST(StrToHex, CaseFlagAndTextForms) {
    const std::string ni = Gbk("你");
    EXPECT_EQ(ToHex(false, "AB", 1), "4142");
    EXPECT_EQ(ToHex(false, ni, 1), "C4E3");
    EXPECT_EQ(ToHex(false, ni, 0), "c4e3");
    EXPECT_EQ(ToHex(false, ni, -1), "c4e3");
    EXPECT_EQ(ToHex(false, ni, 2), "c4e3");
    EXPECT_EQ(ToHex(true, ni, 1), "E4BDA0");
    EXPECT_EQ(ToHex(false, "", 1), "");
    EXPECT_EQ(ToHex(true, "", 1), "");
    EXPECT_EQ(ToHex(false, std::string("ab\0cd", 5), 1), "6162"); // read up to the zero byte
}

TEST(HexToStr, EveryCharacterIsADigit) {
    EXPECT_EQ(FromHex(false, "4142"), "AB");
    EXPECT_EQ(FromHex(false, "4a4B"), "JK");
    EXPECT_EQ(FromHex(false, "414"), "A");
    EXPECT_EQ(FromHex(false, "41 42"), "\x41\x04");
    EXPECT_EQ(FromHex(false, "4100 42"), "A");
    EXPECT_EQ(FromHex(false, "zz"), "");
    EXPECT_EQ(FromHex(false, "g1"), "\x01");
    EXPECT_EQ(FromHex(false, ""), "");
    EXPECT_EQ(FromHex(true, "E4BDA0"), Gbk("你"));
    EXPECT_EQ(FromHex(true, "C4E3"), "??");
    EXPECT_EQ(FromHex(true, ""), "");
}

TEST(HexStrings, UnsetVariablesAndNullPointersReadAsEmpty) {
    String unset;
    EXPECT_EQ(Take(StrToHex_GB(unset.ref(), 1)), "");
    EXPECT_EQ(Take(StrToHex_UTF8(nullptr, 1)), "");
    EXPECT_EQ(Take(HexToStr_GB(unset.ref())), "");
    EXPECT_EQ(Take(HexToStr_UTF8(nullptr)), "");
}

TEST(HexStrings, RoundTripOfEveryByte) {
    std::string all;
    for (int c = 1; c < 256; ++c) {
        all.push_back(static_cast<char>(c));
    }
    const auto upper = ToHex(false, all, 1);
    const auto lower = ToHex(false, all, 0);
    ASSERT_TRUE(upper && lower);
    EXPECT_EQ(upper->size(), 510u);
    EXPECT_EQ(FromHex(false, *upper), all);
    EXPECT_EQ(FromHex(false, *lower), all);
}

} // namespace
