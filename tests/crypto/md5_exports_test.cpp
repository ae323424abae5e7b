// MD5 exports called as a Visual Basic host calls them.
#include "vbhost.h"

#include <gtest/gtest.h>

namespace {

using vbhost::Gbk;
using vbhost::Take;

TEST(Md5Exports, NullEmptyAndTheTwoLengths) {
    EXPECT_EQ(Take(MD532_GB(nullptr)), "");
    EXPECT_EQ(Take(MD516_GB(nullptr)), "");
    EXPECT_EQ(Take(MD532_UTF8(nullptr)), "");
    EXPECT_EQ(Take(MD516_UTF8(nullptr)), "");
    EXPECT_EQ(Take(MD532_GB("")), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Take(MD516_GB("")), "8f00b204e9800998");
    EXPECT_EQ(Take(MD532_UTF8("abc")), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Take(MD516_UTF8("abc")), "3cd24fb0d6963f7d");
}

TEST(Md5Exports, CodePageDecidesTheBytesOfChineseText) {
    const std::string text = Gbk("你好");
    // The GBK bytes C4 E3 BA C3 and the UTF-8 bytes E4 BD A0 E5 A5 BD.
    EXPECT_EQ(Take(MD532_GB(text.c_str())), "b94ae3c6d892b29cf48d9bea819b27b9");
    EXPECT_EQ(Take(MD532_UTF8(text.c_str())), "7eca689f0d3389d9dea66ae112e5cfd7");
    for (const char *t : {"", "a", "hello world", text.c_str()}) {
        const auto full = Take(MD532_GB(t));
        const auto half = Take(MD516_GB(t));
        ASSERT_TRUE(full && half);
        EXPECT_EQ(full->substr(8, 16), *half);
        const auto fullUtf8 = Take(MD532_UTF8(t));
        EXPECT_EQ(fullUtf8->substr(8, 16), Take(MD516_UTF8(t)));
    }
}

TEST(Md5Exports, MultiMegabyteText) {
    const std::string text(2 * 1024 * 1024, 'a');
    EXPECT_EQ(Take(MD532_GB(text.c_str())), "de89461b64701958984c95d1bfb0065a");
    EXPECT_EQ(Take(MD532_UTF8(text.c_str())), "de89461b64701958984c95d1bfb0065a");
}

} // namespace
