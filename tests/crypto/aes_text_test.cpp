// Padding, ciphertext text forms and the padding examination of decryption.
#include "kestrun/crypto/aes.h"
#include "kestrun/crypto/aes_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace kestrun::crypto;

const std::string kKey = "1234567890123456";
const std::string kIv = "abcdefghijklmnop";

// Encrypts raw bytes (a whole number of blocks) without padding, as hex.
std::string RawEncryptHex(std::string plain, int mode) {
    const auto key = KeyBytesFromText(kKey);
    const auto iv = KeyBytesFromText(kIv);
    AES aes;
    aes.SetKey(key.data(), iv.data(), 16, 16);
    auto *p = reinterpret_cast<uint8_t *>(plain.data());
    aes.Encrypt(p, p, plain.size(), mode);
    return CipherHexEncode(plain);
}

TEST(CipherText, Base64StopsAtTheFirstCharacterOutsideTheAlphabet) {
    EXPECT_EQ(CipherBase64Encode(""), "");
    EXPECT_EQ(CipherBase64Encode("a"), "YQ==");
    EXPECT_EQ(CipherBase64Encode("ab"), "YWI=");
    EXPECT_EQ(CipherBase64Encode("abc"), "YWJj");
    EXPECT_EQ(CipherBase64Decode("YWJj"), "abc");
    EXPECT_EQ(CipherBase64Decode("YWI="), "ab");
    EXPECT_EQ(CipherBase64Decode("YQ=="), "a");
    EXPECT_EQ(CipherBase64Decode("YWJjY"), "abc"); // a last lone character gives nothing
    EXPECT_EQ(CipherBase64Decode("YWJj\r\nYWJj"), "abc");
    EXPECT_EQ(CipherBase64Decode("YW Jj"), "a");
    EXPECT_EQ(CipherBase64Decode("YQ==YWJj"), "a");
    EXPECT_EQ(CipherBase64Decode("-YWJj"), "");
    std::string all;
    for (int c = 0; c < 256; ++c) {
        all.push_back(static_cast<char>(c));
    }
    EXPECT_EQ(CipherBase64Decode(CipherBase64Encode(all)), all);
}

TEST(CipherText, HexPairsWithNonDigitsAsZero) {
    EXPECT_EQ(CipherHexEncode(std::string("\x00\xAB\xFF", 3)), "00abff");
    EXPECT_EQ(CipherHexDecode("00abFF"), std::string("\x00\xAB\xFF", 3));
    EXPECT_EQ(CipherHexDecode("4"), "\x40"); // odd last digit: low nibble 0
    EXPECT_EQ(CipherHexDecode("zz41"), std::string("\x00\x41", 2));
    EXPECT_EQ(CipherHexDecode(""), "");
}

TEST(AesText, PaddingExaminationOfDecryption) {
    // Blocks whose plaintext ends in five bytes of 5 lose them.
    const std::string body = "0123456789a";
    const std::string good = RawEncryptHex(body + std::string(5, '\5'), 1);
    EXPECT_EQ(AesDecryptText(good, kKey, kIv, 1, 1, 1), body);
    // Padding 0 keeps the padding bytes.
    EXPECT_EQ(AesDecryptText(good, kKey, kIv, 1, 0, 1), body + std::string(5, '\5'));
    // One of the run's bytes differs: the whole result is empty.
    const std::string broken = RawEncryptHex("0123456789a\5\5\4\5\5", 1);
    EXPECT_EQ(AesDecryptText(broken, kKey, kIv, 1, 1, 1), "");
    // h = 22 over two blocks: the last 22 bytes are all 22, so they go.
    const std::string longRun = RawEncryptHex("0123456789" + std::string(22, '\x16'), 1);
    EXPECT_EQ(AesDecryptText(longRun, kKey, kIv, 1, 1, 1), "0123456789");
    // h = 20 in a single block is longer than the data: empty.
    const std::string tooLong = RawEncryptHex(std::string(15, 'x') + "\x14", 0);
    EXPECT_EQ(AesDecryptText(tooLong, kKey, kIv, 0, 1, 1), "");
    // h = 23 and above is left as it is.
    const std::string high = RawEncryptHex(std::string(15, 'x') + "\x17", 0);
    EXPECT_EQ(AesDecryptText(high, kKey, kIv, 0, 1, 1), std::string(15, 'x') + "\x17");
}

TEST(AesText, WholeBlocksOnlyAndRoundTrips) {
    // 20 bytes (not whole blocks) and 0 bytes decrypt to "".
    EXPECT_EQ(AesDecryptText(std::string(40, 'a'), kKey, kIv, 1, 1, 1), "");
    EXPECT_EQ(AesDecryptText("", kKey, kIv, 1, 1, 1), "");
    for (const int mode : {0, 1, 2}) {
        for (const int padding : {0, 1}) {
            for (const int encoding : {0, 1}) {
                for (size_t length : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{33}}) {
                    const std::string plain(length, 'p');
                    const std::string cipher =
                        AesEncryptText(plain, kKey, kIv, mode, padding, encoding);
                    EXPECT_EQ(cipher.size(), encoding == 1 ? (length / 16 + 1) * 32
                                                           : ((length / 16 + 1) * 16 + 2) / 3 * 4);
                    EXPECT_EQ(AesDecryptText(cipher, kKey, kIv, mode, padding, encoding), plain);
                }
            }
        }
    }
}

} // namespace
