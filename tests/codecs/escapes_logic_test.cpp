// The escape reader and the composition step behind UnicodeDecode.
#include "kestrun/codecs/cp936_composite.h"
#include "kestrun/codecs/escapes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using kestrun::codecs::ComposeForCp936;
using kestrun::codecs::ReadEscapeValue;
using kestrun::codecs::WideToCp936Composite;

// Every text of up to four characters over an alphabet that exercises white space, signs, the
// 0x prefix, digits of both cases and non-digits must read as the C library's "%4X" reads it.
TEST(ReadEscapeValue, MatchesScanfOnEveryShortText) {
    const std::string alphabet = " \t+-0xXaF9g\\u";
    std::string text;
    size_t checked = 0;
    for (size_t length = 0; length <= 4; ++length) {
        size_t combinations = 1;
        for (size_t i = 0; i < length; ++i) {
            combinations *= alphabet.size();
        }
        for (size_t n = 0; n < combinations; ++n) {
            text.clear();
            for (size_t i = 0, k = n; i < length; ++i, k /= alphabet.size()) {
                text.push_back(alphabet[k % alphabet.size()]);
            }
            unsigned int expected = 0;
            if (std::sscanf(text.c_str(), "%4X", &expected) != 1) {
                expected = 0;
            }
            ASSERT_EQ(ReadEscapeValue(text), expected) << "text [" << text << "]";
            ++checked;
        }
    }
    EXPECT_GT(checked, 30000u);
}

TEST(ComposeForCp936, ComposesPairsThatTheCodePageHolds) {
    EXPECT_EQ(ComposeForCp936(u"a\u0304"), u"\u0101");       // ā
    EXPECT_EQ(ComposeForCp936(u"u\u0308\u0301"), u"\u01D8"); // ü then ǘ
    EXPECT_EQ(ComposeForCp936(u"\u00FC\u030C"), u"\u01DA");  // ǚ from precomposed ü
    EXPECT_EQ(ComposeForCp936(u"\u0415\u0308"), u"\u0401");  // Ё
    EXPECT_EQ(ComposeForCp936(u"\u304B\u3099"), u"\u304C");  // が
    EXPECT_EQ(ComposeForCp936(u"=\u0338"), u"\u2260");       // ≠
    // No precomposed form in the code page (or no base at all): left as it is.
    EXPECT_EQ(ComposeForCp936(u"x\u0301"), u"x\u0301");
    EXPECT_EQ(ComposeForCp936(u"\u0301a"), u"\u0301a");
    EXPECT_EQ(ComposeForCp936(u"a\u0304\u0304"), u"\u0101\u0304");
}

TEST(WideToCp936Composite, ConvertsWithDefaultCharacters) {
    EXPECT_EQ(WideToCp936Composite(u"a\u030C"), "\xA8\xA3");              // ǎ
    EXPECT_EQ(WideToCp936Composite(u"\u4E2D\u00E9"), "\xD6\xD0\xA8\xA6"); // 中é
    EXPECT_EQ(WideToCp936Composite(u"x\u0301"), "x?");                    // mark left alone
    EXPECT_EQ(WideToCp936Composite(u"\u0E01A"), "?A");                    // Thai: not in GBK
    EXPECT_EQ(WideToCp936Composite(u"\xD83D\xDE00z"), "?z");              // one ? per pair
    EXPECT_EQ(WideToCp936Composite(u"\xD83Dz\xDC00"), "?z?");             // lone surrogates
    EXPECT_EQ(WideToCp936Composite(u""), "");
}

} // namespace
