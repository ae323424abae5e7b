// The AES engine against FIPS-197 and SP 800-38A, and its chain register and no-op rules.
#include "kestrun/crypto/aes.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using kestrun::crypto::AES;
using kestrun::crypto::AesEngine;
using kestrun::crypto::KeyBytesFromText;

std::vector<uint8_t> FromHex(std::string_view hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(
            static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

std::string ToHex(const std::vector<uint8_t> &bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const uint8_t b : bytes) {
        hex.push_back(kDigits[b >> 4]);
        hex.push_back(kDigits[b & 15]);
    }
    return hex;
}

const std::string kKey = "2b7e151628aed2a6abf7158809cf4f3c";
const std::string kIv = "000102030405060708090a0b0c0d0e0f";
const std::string kPlain = "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                           "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";

AES Keyed(const std::string &keyHex, const std::string &ivHex = kIv) {
    const auto key = FromHex(keyHex);
    const auto iv = FromHex(ivHex);
    AES aes;
    aes.SetKey(key.data(), iv.data(), static_cast<int>(key.size()), 16);
    return aes;
}

std::string Crypt(bool encrypt, const std::string &keyHex, const std::string &ivHex, int mode,
                  const std::string &inputHex) {
    AES aes = Keyed(keyHex, ivHex);
    const auto in = FromHex(inputHex);
    std::vector<uint8_t> out(in.size());
    if (encrypt) {
        aes.Encrypt(in.data(), out.data(), in.size(), mode);
    } else {
        aes.Decrypt(in.data(), out.data(), in.size(), mode);
    }
    return ToHex(out);
}

TEST(Aes, Fips197ExampleVectors) {
    const std::string plain = "00112233445566778899aabbccddeeff";
    const std::string key = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
    const struct {
        size_t keyBytes;
        const char *cipher;
    } cases[] = {{16, "69c4e0d86a7b0430d8cdb78070b4c55a"},
                 {24, "dda97ca4864cdfe06eaf70a0ec0d7191"},
                 {32, "8ea2b7ca516745bfeafc49904b496089"}};
    for (const auto &c : cases) {
        const std::string k = key.substr(0, 2 * c.keyBytes);
        EXPECT_EQ(Crypt(true, k, kIv, 0, plain), c.cipher) << c.keyBytes;
        EXPECT_EQ(Crypt(false, k, kIv, 0, c.cipher), plain) << c.keyBytes;
    }
}

TEST(Aes, Sp80038aVectorsInTheThreeModes) {
    const std::string ecb = "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf"
                            "43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4";
    const std::string cbc = "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                            "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7";
    const std::string cfb = "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
                            "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6";
    EXPECT_EQ(Crypt(true, kKey, kIv, 0, kPlain), ecb);
    EXPECT_EQ(Crypt(false, kKey, kIv, 0, ecb), kPlain);
    EXPECT_EQ(Crypt(true, kKey, kIv, 1, kPlain), cbc);
    EXPECT_EQ(Crypt(false, kKey, kIv, 1, cbc), kPlain);
    EXPECT_EQ(Crypt(true, kKey, kIv, 2, kPlain), cfb);
    EXPECT_EQ(Crypt(false, kKey, kIv, 2, cfb), kPlain);
    // Any other mode number is ECB.
    for (const int mode : {3, -1, 100}) {
        EXPECT_EQ(Crypt(true, kKey, kIv, mode, kPlain), ecb) << mode;
        EXPECT_EQ(Crypt(false, kKey, kIv, mode, ecb), kPlain) << mode;
    }
}

TEST(Aes, IncompleteLengthsAndUnsetKeysLeaveTheOutputAlone) {
    const auto in = FromHex(kPlain);
    for (const size_t n : {size_t{0}, size_t{15}, size_t{17}, size_t{63}}) {
        for (const int mode : {0, 1, 2}) {
            AES aes = Keyed(kKey);
            std::vector<uint8_t> out(64, 0xEE);
            aes.Encrypt(in.data(), out.data(), n, mode);
            EXPECT_EQ(out, std::vector<uint8_t>(64, 0xEE)) << n << " " << mode;
            aes.Decrypt(in.data(), out.data(), n, mode);
            EXPECT_EQ(out, std::vector<uint8_t>(64, 0xEE)) << n << " " << mode;
        }
    }
    AES unset;
    std::vector<uint8_t> out(64, 0xEE);
    unset.Encrypt(in.data(), out.data(), 64, 1);
    unset.Decrypt(in.data(), out.data(), 64, 1);
    unset.EncryptBlock(in.data(), out.data());
    EXPECT_EQ(out, std::vector<uint8_t>(64, 0xEE));
}

TEST(Aes, ChainRegisterCarriesOverBetweenCalls) {
    const auto in = FromHex(kPlain.substr(0, 96));
    for (const int mode : {1, 2}) {
        AES whole = Keyed(kKey);
        std::vector<uint8_t> expected(48);
        whole.Encrypt(in.data(), expected.data(), 48, mode);

        AES pieces = Keyed(kKey);
        std::vector<uint8_t> out(48);
        for (size_t at = 0; at < 48; at += 16) {
            pieces.Encrypt(in.data() + at, out.data() + at, 16, mode);
        }
        EXPECT_EQ(out, expected) << mode;

        AES back = Keyed(kKey);
        std::vector<uint8_t> plain(48);
        for (size_t at = 0; at < 48; at += 16) {
            back.Decrypt(expected.data() + at, plain.data() + at, 16, mode);
        }
        EXPECT_EQ(plain, in) << mode;
    }
}

TEST(Aes, InPlaceOperation) {
    for (const int mode : {0, 1, 2}) {
        AES enc = Keyed(kKey);
        auto buffer = FromHex(kPlain);
        enc.Encrypt(buffer.data(), buffer.data(), buffer.size(), mode);
        AES dec = Keyed(kKey);
        dec.Decrypt(buffer.data(), buffer.data(), buffer.size(), mode);
        EXPECT_EQ(ToHex(buffer), kPlain) << mode;
    }
}

TEST(Aes, TableEngineIsForcedAndHardwareUsedWhenPresent) {
    const auto key = FromHex(kKey);
    const auto iv = FromHex(kIv);
    AES tables(AesEngine::Tables);
    tables.SetKey(key.data(), iv.data(), 16, 16);
    EXPECT_FALSE(tables.UsesHardware());
    AES fastest;
    EXPECT_FALSE(fastest.UsesHardware()); // no key yet
    fastest.SetKey(key.data(), iv.data(), 16, 16);
    EXPECT_EQ(fastest.UsesHardware(), AES::HardwareAvailable());
    // Longer keys always run on the tables.
    const auto key32 = FromHex(kKey + kKey);
    fastest.SetKey(key32.data(), iv.data(), 32, 16);
    EXPECT_FALSE(fastest.UsesHardware());
}

// The AES instructions against the table code on random keys, IVs and lengths, in every mode
// and both directions, in one call and in pieces (the chain register carries between calls),
// out of place and in place.
TEST(Aes, HardwareMatchesTheTables) {
    if (!AES::HardwareAvailable()) {
        GTEST_SKIP() << "no AES instructions on this processor";
    }
    std::mt19937 random(27);
    auto randomBytes = [&](size_t n) {
        std::vector<uint8_t> bytes(n);
        for (auto &b : bytes) {
            b = static_cast<uint8_t>(random());
        }
        return bytes;
    };
    for (int round = 0; round < 200; ++round) {
        const auto key = randomBytes(16);
        const auto iv = randomBytes(16);
        // Mostly short runs around the eight-block stride, some long ones.
        const size_t blocks = round % 10 == 0 ? random() % 3000 : random() % 40;
        const auto plain = randomBytes(16 * blocks);
        const int mode = round % 4 == 3 ? 7 : round % 3;
        const bool inPlace = round % 2 == 0;

        std::vector<uint8_t> results[2][2]; // [hardware][0 = encrypted, 1 = decrypted]
        for (const bool hardware : {false, true}) {
            AES enc(hardware ? AesEngine::Fastest : AesEngine::Tables);
            AES dec(hardware ? AesEngine::Fastest : AesEngine::Tables);
            enc.SetKey(key.data(), iv.data(), 16, 16);
            dec.SetKey(key.data(), iv.data(), 16, 16);
            ASSERT_EQ(enc.UsesHardware(), hardware);
            std::vector<uint8_t> cipher(plain.size(), 0xEE);
            std::vector<uint8_t> back(plain.size(), 0xEE);
            if (inPlace) {
                cipher = plain;
            }
            // The same random split into pieces for both engines.
            std::mt19937 pieces(static_cast<unsigned>(round));
            for (size_t at = 0; at < blocks;) {
                const size_t n = std::min<size_t>(blocks - at, 1 + pieces() % 20);
                const uint8_t *in = inPlace ? cipher.data() + 16 * at : plain.data() + 16 * at;
                enc.Encrypt(in, cipher.data() + 16 * at, 16 * n, mode);
                at += n;
            }
            if (inPlace) {
                back = cipher;
            }
            for (size_t at = 0; at < blocks;) {
                const size_t n = std::min<size_t>(blocks - at, 1 + pieces() % 20);
                const uint8_t *in = inPlace ? back.data() + 16 * at : cipher.data() + 16 * at;
                dec.Decrypt(in, back.data() + 16 * at, 16 * n, mode);
                at += n;
            }
            results[hardware][0] = cipher;
            results[hardware][1] = back;
        }
        ASSERT_EQ(results[1][0], results[0][0]) << "round " << round << " mode " << mode;
        ASSERT_EQ(results[1][1], plain) << "round " << round << " mode " << mode;
        ASSERT_EQ(results[0][1], plain) << "round " << round << " mode " << mode;

        // Single blocks through EncryptBlock and DecryptBlock.
        AES tables(AesEngine::Tables);
        AES hardware;
        tables.SetKey(key.data(), iv.data(), 16, 16);
        hardware.SetKey(key.data(), iv.data(), 16, 16);
        uint8_t a[16];
        uint8_t b[16];
        tables.EncryptBlock(key.data(), a);
        hardware.EncryptBlock(key.data(), b);
        ASSERT_TRUE(std::equal(a, a + 16, b));
        tables.DecryptBlock(iv.data(), a);
        hardware.DecryptBlock(iv.data(), b);
        ASSERT_TRUE(std::equal(a, a + 16, b));
    }
}

TEST(KeyBytesFromText, FirstSixteenBytesZeroFilled) {
    const auto long_ = KeyBytesFromText("0123456789abcdefXYZ");
    EXPECT_EQ(std::string(long_.begin(), long_.end()), "0123456789abcdef");
    const auto short_ = KeyBytesFromText("hello");
    EXPECT_EQ(std::string(short_.begin(), short_.end()),
              std::string("hello") + std::string(11, '\0'));
    const auto empty = KeyBytesFromText("");
    EXPECT_EQ(std::string(empty.begin(), empty.end()), std::string(16, '\0'));
    const auto cut = KeyBytesFromText(std::string_view("ab\0cd", 5));
    EXPECT_EQ(std::string(cut.begin(), cut.end()), std::string("ab") + std::string(14, '\0'));
}

} // namespace
