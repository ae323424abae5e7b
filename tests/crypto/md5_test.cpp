// Md5Context against RFC 1321 and across the padding boundaries.
#include "kestrun/crypto/md5.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using kestrun::crypto::Md5Context;
using kestrun::crypto::Md5Hex;

TEST(Md5, Rfc1321TestSuite) {
    EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(Md5Hex("1234567890123456789012345678901234567890123456789012345678901234567890"
                     "1234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, LengthsAroundTheBlockAndPaddingBoundaries) {
    // Digests of that many "a" bytes.
    EXPECT_EQ(Md5Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(Md5Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(Md5Hex(std::string(63, 'a')), "b06521f39153d618550606be297466d5");
    EXPECT_EQ(Md5Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
    EXPECT_EQ(Md5Hex(std::string(65, 'a')), "c743a45e0d2e6a95cb859adae0248435");
}

TEST(Md5, PiecewiseUpdatesEqualOneUpdateOverMegabytes) {
    std::string data(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    }
    const std::string expected = "a9a3d18cac8c95d4bdeae2d821be2e00";
    Md5Context whole;
    whole.Update(reinterpret_cast<const uint8_t *>(data.data()),
                 static_cast<uint32_t>(data.size()));
    EXPECT_EQ(whole.HexDigest(), expected);

    Md5Context pieces;
    size_t at = 0;
    for (size_t step = 1; at < data.size(); step = step * 3 % 1000 + 1) {
        const size_t n = std::min(step, data.size() - at);
        pieces.Update(reinterpret_cast<const uint8_t *>(data.data() + at),
                      static_cast<uint32_t>(n));
        at += n;
    }
    EXPECT_EQ(pieces.HexDigest(), expected);
}

TEST(Md5, HexDigestFinalisesOnce) {
    Md5Context context;
    context.Update(reinterpret_cast<const uint8_t *>("abc"), 3);
    EXPECT_EQ(context.HexDigest(), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(context.HexDigest(), "900150983cd24fb0d6963f7d28e17f72");
    context.Update(nullptr, 0);
    EXPECT_EQ(context.HexDigest(), "900150983cd24fb0d6963f7d28e17f72");
}

} // namespace
