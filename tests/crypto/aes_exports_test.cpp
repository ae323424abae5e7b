// AES string exports called as a Visual Basic host calls them. The expected ciphertexts were
// made with an independent AES implementation.
#include "vbhost.h"

#include <gtest/gtest.h>

namespace {

using vbhost::Gbk;
using vbhost::Take;

constexpr const char *kKey = "1234567890123456";
constexpr const char *kIv = "abcdefghijklmnop";

TEST(AesEncryptExports, KnownCiphertexts) {
    EXPECT_EQ(Take(AESEncrypt_GB("hello", kKey, kIv, 1, 1, 1)), "64ce95f8de13ac86e586ba4df857e463");
    EXPECT_EQ(Take(AESEncrypt_GB("hello", kKey, kIv, 1, 1, 0)), "ZM6V+N4TrIblhrpN+FfkYw==");
    EXPECT_EQ(Take(AESEncrypt_GB("hello", kKey, kIv, 2, 0, 1)), "94c81d37b83b5cb0488f840f3bad7889");
    // The empty text is one block of padding: sixteen bytes of 16.
    EXPECT_EQ(Take(AESEncrypt_GB("", kKey, kIv, 0, 1, 1)), "050187a0cde5a9872cbab091ab73e553");
    EXPECT_EQ(Take(AESEncrypt_GB("", kKey, kIv, 0, 1, 0))->size(), 24u);
    // A 16-byte text gets a whole extra block with either padding.
    EXPECT_EQ(Take(AESEncrypt_GB("0123456789abcdef", kKey, kIv, 1, 1, 1)),
              "a9d299f4f87e0fee88a1609953c5f92bad4b23be29abde1e7c5292be1933758f");
    EXPECT_EQ(Take(AESEncrypt_GB("0123456789abcdef", kKey, kIv, 1, 0, 1))->size(), 64u);
    // A short key text is zero-filled; a long one is cut after 16 bytes.
    EXPECT_EQ(Take(AESEncrypt_GB("abc", "key", kIv, 0, 1, 1)), "db5f149a7caf0cd275ca18c203a212c9");
    EXPECT_EQ(
        Take(AESEncrypt_GB("hello", "1234567890123456-and-more", "abcdefghijklmnopqrs", 1, 1, 1)),
        "64ce95f8de13ac86e586ba4df857e463");
}

TEST(AesEncryptExports, CodePageOfTheText) {
    const std::string text = Gbk("你好");
    EXPECT_EQ(Take(AESEncrypt_GB(text.c_str(), kKey, kIv, 1, 1, 1)),
              "ed5497310eb6a2e85effc34a65c2bc13");
    EXPECT_EQ(Take(AESEncrypt_UTF8(text.c_str(), kKey, kIv, 1, 1, 1)),
              "9864939c089e857980e518654aa8022f");
    EXPECT_EQ(Take(AESEncrypt_UTF8("hello", kKey, kIv, 1, 1, 1)),
              Take(AESEncrypt_GB("hello", kKey, kIv, 1, 1, 1)));
}

TEST(AesEncryptExports, IvMattersOnlyOutsideEcb) {
    EXPECT_EQ(Take(AESEncrypt_GB("text", kKey, "iv one", 0, 1, 1)),
              Take(AESEncrypt_GB("text", kKey, "iv two", 0, 1, 1)));
    for (const int mode : {1, 2}) {
        const auto a = Take(AESEncrypt_GB("text", kKey, "iv one", mode, 1, 1));
        const auto b = Take(AESEncrypt_GB("text", kKey, "iv two", mode, 1, 1));
        ASSERT_TRUE(a && b);
        EXPECT_NE(a->substr(0, 32), b->substr(0, 32));
    }
}

TEST(AesDecryptExports, RoundTripsAndTextForms) {
    const std::string text = Gbk("中文和 ASCII 混合的一段文字，长度超过一个分组。");
    for (const int mode : {0, 1, 2}) {
        for (const int padding : {0, 1}) {
            for (const int encoding : {0, 1}) {
                const auto gb =
                    Take(AESEncrypt_GB(text.c_str(), kKey, kIv, mode, padding, encoding));
                ASSERT_TRUE(gb);
                EXPECT_EQ(Take(AESDecrypt_GB(gb->c_str(), kKey, kIv, mode, padding, encoding)),
                          text);
                const auto u8 =
                    Take(AESEncrypt_UTF8(text.c_str(), kKey, kIv, mode, padding, encoding));
                ASSERT_TRUE(u8);
                EXPECT_NE(*u8, *gb);
                EXPECT_EQ(Take(AESDecrypt_UTF8(u8->c_str(), kKey, kIv, mode, padding, encoding)),
                          text);
            }
        }
    }
    // Uppercase hex decodes like lowercase.
    EXPECT_EQ(Take(AESDecrypt_GB("64CE95F8DE13AC86E586BA4DF857E463", kKey, kIv, 1, 1, 1)), "hello");
    // A line break ends the Base64 data: what is left is not a whole block.
    EXPECT_EQ(Take(AESDecrypt_GB("ZM6V+N4TrIblhrpN+FfkYw==", kKey, kIv, 1, 1, 0)), "hello");
    EXPECT_EQ(Take(AESDecrypt_GB("ZM6V+N4TrIbl\r\nhrpN+FfkYw==", kKey, kIv, 1, 1, 0)), "");
}

TEST(AesDecryptExports, PaddingMismatchesAndBadInput) {
    // Encrypted with zero padding, decrypted with PKCS#7: the last byte is 0, nothing examined.
    const auto zeroPadded = Take(AESEncrypt_GB("hello", kKey, kIv, 1, 0, 1));
    EXPECT_EQ(Take(AESDecrypt_GB(zeroPadded->c_str(), kKey, kIv, 1, 1, 1)), "hello");
    // Encrypted with PKCS#7, decrypted with zero padding: the padding bytes stay.
    EXPECT_EQ(Take(AESDecrypt_GB("64ce95f8de13ac86e586ba4df857e463", kKey, kIv, 1, 0, 1)),
              "hello" + std::string(11, '\x0b'));
    // 0 and 20 bytes of ciphertext decrypt to nothing.
    EXPECT_EQ(Take(AESDecrypt_GB("", kKey, kIv, 1, 1, 1)), "");
    EXPECT_EQ(Take(AESDecrypt_GB(std::string(40, 'a').c_str(), kKey, kIv, 1, 1, 1)), "");
    EXPECT_EQ(Take(AESDecrypt_GB("not base64 at all", kKey, kIv, 1, 1, 0)), "");
}

TEST(AesExports, NullArguments) {
    EXPECT_EQ(Take(AESEncrypt_GB(nullptr, kKey, kIv, 1, 1, 1)), "");
    EXPECT_EQ(Take(AESEncrypt_UTF8(nullptr, kKey, kIv, 1, 1, 1)), "");
    EXPECT_EQ(Take(AESDecrypt_GB(nullptr, kKey, kIv, 1, 1, 1)), "");
    EXPECT_EQ(Take(AESDecrypt_UTF8(nullptr, kKey, kIv, 1, 1, 1)), "");
    // A null key or IV reads as the empty text: sixteen zero bytes.
    EXPECT_EQ(Take(AESEncrypt_GB("x", nullptr, nullptr, 1, 1, 1)),
              Take(AESEncrypt_GB("x", "", "", 1, 1, 1)));
    const auto c = Take(AESEncrypt_GB("x", nullptr, nullptr, 1, 1, 1));
    EXPECT_EQ(Take(AESDecrypt_GB(c->c_str(), nullptr, nullptr, 1, 1, 1)), "x");
}

} // namespace
