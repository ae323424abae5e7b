// Unicode escape and HTML entity exports called as a Visual Basic host calls them.
#include "vbhost.h"

#include <gtest/gtest.h>

namespace {

using vbhost::Gbk;
using vbhost::Take;

TEST(UnicodeEncode, EscapesEveryUtf16Unit) {
    EXPECT_EQ(Take(UnicodeEncode("A\xD6\xD0")), "\\u0041\\u4e2d");
    EXPECT_EQ(Take(UnicodeEncode("")), "");
    EXPECT_EQ(Take(UnicodeEncode(nullptr)), "");
    EXPECT_EQ(Take(UnicodeEncode(Gbk("ǘ a1").c_str())), "\\u01d8\\u0020\\u0061\\u0031");
    // A GB18030-only character does not exist in code page 936: the invalid bytes read as "?".
    EXPECT_EQ(Take(UnicodeEncode("\x81")), "\\u003f");
}

TEST(UnicodeDecode, KeepsOnlyTheEscapedCharacters) {
    EXPECT_EQ(Take(UnicodeDecode("\\u0041\\u4e2d")), "A\xD6\xD0");
    EXPECT_EQ(Take(UnicodeDecode("x\\u4e2dy")), "\xD6\xD0");
    EXPECT_EQ(Take(UnicodeDecode("\\u41")), ""); // shorter than six bytes
    EXPECT_EQ(Take(UnicodeDecode("\\u00e9")), "\xA8\xA6");
    EXPECT_EQ(Take(UnicodeDecode("\\uZZZZ\\u0041")), "");
    EXPECT_EQ(Take(UnicodeDecode("\\u41\\u42")), "AB");
    EXPECT_EQ(Take(UnicodeDecode("\\U0041\\u0042")), "B");  // only a lowercase u starts one
    EXPECT_EQ(Take(UnicodeDecode("\\u0e01\\u0041")), "?A"); // not in the code page
    EXPECT_EQ(Take(UnicodeDecode(nullptr)), "");
    EXPECT_EQ(Take(UnicodeDecode("")), "");
}

TEST(UnicodeDecode, ScanfStyleDigitsAndOverlappingEscapes) {
    EXPECT_EQ(Take(UnicodeDecode("\\u 4a\\u0042")), "JB"); // leading space skipped
    EXPECT_EQ(Take(UnicodeDecode("\\u0x4a......")), "J");  // 0x prefix
    EXPECT_EQ(Take(UnicodeDecode("\\u+41\\u-1")), "A?");   // signs; -1 is U+FFFF
    // An escape whose digits hold another "\u" yields both: "\u\u0041" reads the first as 0.
    EXPECT_EQ(Take(UnicodeDecode("\\u\\u0041")), "");
    EXPECT_EQ(Take(UnicodeDecode("\\u0041\\u\\u0042")), "A");
    // Many overlapping escapes: one unit per "\u" pair, however many.
    std::string many;
    for (int i = 0; i < 100000; ++i) {
        many += "\\u41";
    }
    EXPECT_EQ(Take(UnicodeDecode(many.c_str())), std::string(100000, 'A'));
}

TEST(UnicodeDecode, ComposesBaseAndMarkWhereTheCodePageHasTheCharacter) {
    EXPECT_EQ(Take(UnicodeDecode("\\u0061\\u0304")), Gbk("ā"));
    EXPECT_EQ(Take(UnicodeDecode("\\u0075\\u0308\\u030c")), Gbk("ǚ"));
    EXPECT_EQ(Take(UnicodeDecode("\\u0065\\u0302")), Gbk("ê"));
    EXPECT_EQ(Take(UnicodeDecode("\\u0071\\u0304")), "q?");
    // Round trip of pinyin through the pair of exports.
    const std::string pinyin = Gbk("nǚ lǘ hǎo ní");
    const auto escaped = Take(UnicodeEncode(pinyin.c_str()));
    ASSERT_TRUE(escaped);
    EXPECT_EQ(Take(UnicodeDecode(escaped->c_str())), pinyin);
}

TEST(HtmlCodec, FiveEntitiesInFixedOrder) {
    EXPECT_EQ(Take(HTMLEncode("a<b & \"c\"")), "a&lt;b &amp; &quot;c&quot;");
    EXPECT_EQ(Take(HTMLEncode("it's >")), "it&#39;s &gt;");
    EXPECT_EQ(Take(HTMLDecode("&amp;lt;")), "&lt;");
    EXPECT_EQ(Take(HTMLDecode("&lt;p&gt;")), "<p>");
    EXPECT_EQ(Take(HTMLDecode("&nbsp;&apos;&#34;")), "&nbsp;&apos;&#34;");
    EXPECT_EQ(Take(HTMLDecode("&quot;&#39;&amp;amp;")), "\"'&amp;");
    const std::string text = Gbk("中<文>&\"'");
    const auto encoded = Take(HTMLEncode(text.c_str()));
    ASSERT_TRUE(encoded);
    EXPECT_EQ(Take(HTMLDecode(encoded->c_str())), text);
    EXPECT_EQ(Take(HTMLEncode(nullptr)), "");
    EXPECT_EQ(Take(HTMLDecode(nullptr)), "");
}

} // namespace
