// The single-scan codecs against the whole-text replacements they stand for.
#include "kestrun/codecs/escapes.h"
#include "kestrun/codecs/url.h"
#include "kestrun/interop/strings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using namespace kestrun::codecs;
using kestrun::interop::ReplaceAll;

std::string SequentialEscape(std::string s) {
    ReplaceAll(s, "&", "&amp;");
    ReplaceAll(s, "\"", "&quot;");
    ReplaceAll(s, "'", "&#39;");
    ReplaceAll(s, ">", "&gt;");
    ReplaceAll(s, "<", "&lt;");
    return s;
}

std::string SequentialUnescape(std::string s) {
    ReplaceAll(s, "&gt;", ">");
    ReplaceAll(s, "&lt;", "<");
    ReplaceAll(s, "&quot;", "\"");
    ReplaceAll(s, "&#39;", "'");
    ReplaceAll(s, "&amp;", "&");
    return s;
}

// Random texts built from pieces of entities, so that partial, nested and adjacent entities
// occur often.
std::string RandomEntitySoup(uint32_t &seed) {
    static const char *const pieces[] = {"&",     "amp;", "gt;", "lt;", "quot;", "#39;",
                                         "&amp;", "&gt;", "<",   ">",   "\"",    "'",
                                         "x",     ";",    "#",   "a"};
    std::string text;
    seed = seed * 1103515245u + 12345u;
    const size_t count = (seed >> 8) % 24;
    for (size_t i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        text += pieces[(seed >> 8) % std::size(pieces)];
    }
    return text;
}

TEST(HtmlCodec, OneScanGivesWhatTheReplacementChainGives) {
    uint32_t seed = 4242;
    for (int round = 0; round < 20000; ++round) {
        const std::string text = RandomEntitySoup(seed);
        EXPECT_EQ(HtmlEscape(text), SequentialEscape(text)) << text;
        EXPECT_EQ(HtmlEscapedSize(text), SequentialEscape(text).size()) << text;
        EXPECT_EQ(HtmlUnescape(text), SequentialUnescape(text)) << text;
    }
    EXPECT_EQ(HtmlUnescape("&amp;lt;"), "&lt;");
    EXPECT_EQ(HtmlUnescape("&&gt;&amp"), "&>&amp");
}

TEST(UrlCodec, CountedSizeMatchesTheEncodingOfEveryByte) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
    }
    const std::string encoded = UrlEncodeBytes(all);
    EXPECT_EQ(UrlEncodedSize(all), encoded.size());
    // Everything but the 66 kept bytes and the space takes three characters.
    EXPECT_EQ(encoded.size(), 66 + 1 + 3 * (256 - 67));
    EXPECT_EQ(UrlDecodeBytes(encoded), ""); // the first byte decodes to zero
    EXPECT_EQ(UrlDecodeBytes(UrlEncodeBytes(all.substr(1))), all.substr(1));
    EXPECT_EQ(UrlDecodeBytes("a%00b"), "a");
}

} // namespace
