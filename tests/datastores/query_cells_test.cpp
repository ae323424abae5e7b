// How query cells become texts, without a database.
#include "kestrun/datastores/ansi_encoder.h"
#include "kestrun/datastores/sqlite_store.h"
#include "kestrun/interop/codepage.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

TEST(QueryCells, FloatsTruncateTowardZeroWithin32Bits) {
    using kestrun::datastores::TruncateToInt32;
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(TruncateToInt32(2.75), 2);
    EXPECT_EQ(TruncateToInt32(-2.75), -2);
    EXPECT_EQ(TruncateToInt32(-0.5), 0);
    EXPECT_EQ(TruncateToInt32(2147483647.9), kMax);
    EXPECT_EQ(TruncateToInt32(-2147483648.9), kMin);
    EXPECT_EQ(TruncateToInt32(1e300), kMax);
    EXPECT_EQ(TruncateToInt32(-HUGE_VAL), kMin);
    EXPECT_EQ(TruncateToInt32(std::nan("")), 0);
}

TEST(QueryCells, OneEncoderForManyTextsMatchesTheSingleConversion) {
    kestrun::platform::AnsiEncoder encoder;
    const std::string texts[] = {
        "plain",
        "\xE4\xBD\xA0\xE5\xA5\xBD",           // 你好
        "\xC3\x28 after an invalid sequence", // C3 28
        "\xE0\xB8\x81 Thai",                  // not in GBK
        "\xF0\x9F\x98\x80 outside the BMP",   // one "?" for the pair
        "\xE2\x82\xAC euro",
        "\xE4\xBD", // cut short
        std::string("\xE4\xBD\xA0\0hidden", 9),
        "",
    };
    std::string joined;
    std::string expected;
    for (const std::string &text : texts) {
        std::string one;
        encoder.Append(one, text);
        EXPECT_EQ(one, kestrun::interop::Utf8ToAnsi(text)) << text;
        encoder.Append(joined, text);
        expected += kestrun::interop::Utf8ToAnsi(text);
    }
    EXPECT_EQ(joined, expected);
}
} // namespace
