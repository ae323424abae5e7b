// Padding, ciphertext text forms and the padding examination of decryption.
#include "kestrun/crypto/aes.h"
#include "kestrun/crypto/aes_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
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

// References built on the table engine and the rules written out plainly, for the fast paths
// (AES instructions, slices, whole-buffer codecs, megabyte file chunks) to be compared against.
namespace reference {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(const std::string &bytes) {
    std::string out;
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t v = (uint32_t{static_cast<uint8_t>(bytes[i])} << 16) |
                           (uint32_t{static_cast<uint8_t>(bytes[i + 1])} << 8) |
                           static_cast<uint8_t>(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6) {
            out.push_back(kAlphabet[(v >> shift) & 63]);
        }
    }
    if (i < bytes.size()) {
        const bool two = i + 2 == bytes.size();
        const uint32_t v = (uint32_t{static_cast<uint8_t>(bytes[i])} << 16) |
                           (two ? uint32_t{static_cast<uint8_t>(bytes[i + 1])} << 8 : 0);
        out.push_back(kAlphabet[v >> 18]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(two ? kAlphabet[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

// Characters up to the first one outside the alphabet, 4 to 3 bytes.
std::string Base64Decode(const std::string &text) {
    const std::string alphabet = kAlphabet;
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        const size_t v = c == '\0' ? std::string::npos : alphabet.find(c);
        if (v == std::string::npos) {
            break;
        }
        bits = (bits << 6) | static_cast<uint32_t>(v);
        if (++count == 4) {
            out += {static_cast<char>(bits >> 16), static_cast<char>(bits >> 8),
                    static_cast<char>(bits)};
            bits = 0;
            count = 0;
        }
    }
    if (count == 2) {
        out.push_back(static_cast<char>(bits >> 4));
    } else if (count == 3) {
        out += {static_cast<char>(bits >> 10), static_cast<char>(bits >> 2)};
    }
    return out;
}

AES Tables() {
    const auto key = KeyBytesFromText(kKey);
    const auto iv = KeyBytesFromText(kIv);
    AES aes(AesEngine::Tables);
    aes.SetKey(key.data(), iv.data(), 16, 16);
    return aes;
}

std::string EncryptText(const std::string &plain, int mode, int padding, int encoding) {
    const size_t padded = (plain.size() / 16 + 1) * 16;
    std::string buffer = plain;
    buffer.resize(padded, padding == 1 ? static_cast<char>(padded - plain.size()) : '\0');
    AES aes = Tables();
    auto *p = reinterpret_cast<uint8_t *>(buffer.data());
    for (size_t at = 0; at < padded; at += 16) {
        aes.Encrypt(p + at, p + at, 16, mode);
    }
    return encoding == 1 ? CipherHexEncode(buffer) : Base64(buffer);
}

// The file passes block by block: a block cut at its first zero byte, the last block padding.
std::string EncryptFile(const std::string &source, int mode) {
    AES aes = Tables();
    std::string out;
    for (size_t at = 0; at <= source.size(); at += 16) {
        std::string block = source.substr(at, 16);
        block.resize(block.find('\0') == std::string::npos ? block.size() : block.find('\0'));
        block.resize(16, '\0');
        auto *p = reinterpret_cast<uint8_t *>(block.data());
        aes.Encrypt(p, p, 16, mode);
        out += block;
    }
    return out;
}

std::string DecryptFile(const std::string &source, int mode) {
    AES aes = Tables();
    std::string out;
    for (size_t at = 0; at < source.size(); at += 16) {
        std::string block = source.substr(at, 16);
        block.resize(16, '\0');
        auto *p = reinterpret_cast<uint8_t *>(block.data());
        aes.Decrypt(p, p, 16, mode);
        out += block.substr(0, block.find('\0'));
    }
    return out;
}

} // namespace reference

std::string RandomText(std::mt19937 &random, size_t n, bool zeros) {
    std::string text(n, '\0');
    for (auto &c : text) {
        c = static_cast<char>(zeros && random() % 500 == 0 ? 0 : 1 + random() % 255);
    }
    return text;
}

TEST(CipherText, Base64DecodingMatchesTheRulesOnRandomText) {
    std::mt19937 random(1);
    const std::string stops = "=\r\n -.\x80\xFF";
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        const size_t n = random() % 300;
        for (size_t i = 0; i < n; ++i) {
            text.push_back(reference::kAlphabet[random() % 64]);
        }
        if (n > 0 && round % 3 != 0) {
            text[random() % n] = stops[random() % stops.size()];
        }
        ASSERT_EQ(CipherBase64Decode(text), reference::Base64Decode(text)) << text;
    }
}

TEST(AesText, EveryModePaddingAndEncodingMatchesTheTableReference) {
    std::mt19937 random(2);
    // Lengths around the 48 KiB slices in which text is encrypted and encoded, and random ones.
    std::vector<size_t> lengths = {
        0, 1, 15, 16, 17, 48 * 1024 - 16, 48 * 1024 - 1, 48 * 1024, 48 * 1024 + 15, 96 * 1024 + 3};
    for (int i = 0; i < 6; ++i) {
        lengths.push_back(random() % 300);
    }
    for (const size_t length : lengths) {
        const std::string plain = RandomText(random, length, false);
        for (const int mode : {0, 1, 2}) {
            for (const int padding : {0, 1}) {
                for (const int encoding : {0, 1}) {
                    const std::string cipher =
                        AesEncryptText(plain, kKey, kIv, mode, padding, encoding);
                    ASSERT_EQ(cipher, reference::EncryptText(plain, mode, padding, encoding))
                        << length << " " << mode << " " << padding << " " << encoding;
                    ASSERT_EQ(AesDecryptText(cipher, kKey, kIv, mode, padding, encoding), plain)
                        << length << " " << mode << " " << padding << " " << encoding;
                }
            }
        }
    }
}

class ScratchFolder {
public:
    ScratchFolder()
        : path_(std::filesystem::temp_directory_path() /
                ("kestrun-aes-" + std::to_string(std::random_device{}()))) {
        std::filesystem::create_directory(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string operator/(const char *name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

std::string Read(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Write(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The file passes read a megabyte at a time: sizes at and around that boundary, with zero bytes
// scattered through the text, give the bytes of the block-by-block passes.
TEST(AesFile, MegabyteChunksGiveTheBlockByBlockBytes) {
    ScratchFolder dir;
    std::mt19937 random(3);
    const size_t mib = size_t{1} << 20;
    const size_t sizes[] = {0, 5, 16, mib - 1, mib, mib + 16, 2 * mib + 7};
    int turn = 0;
    for (const size_t size : sizes) {
        const int mode = turn++ % 3;
        const std::string source = RandomText(random, size, true);
        Write(dir / "plain", source);
        ASSERT_EQ(AesEncryptFile(dir / "plain", dir / "cipher", kKey, kIv, mode),
                  FileCipherStatus::Ok);
        const std::string cipher = Read(dir / "cipher");
        ASSERT_EQ(cipher.size(), (size / 16 + 1) * 16);
        ASSERT_TRUE(cipher == reference::EncryptFile(source, mode)) << size << " " << mode;

        ASSERT_EQ(AesDecryptFile(dir / "cipher", dir / "back", kKey, kIv, mode),
                  FileCipherStatus::Ok);
        ASSERT_TRUE(Read(dir / "back") == reference::DecryptFile(cipher, mode))
            << size << " " << mode;

        // A source that is not whole blocks: the last block is zero-filled.
        const std::string cut = cipher.substr(0, cipher.size() - 5);
        Write(dir / "cut", cut);
        ASSERT_EQ(AesDecryptFile(dir / "cut", dir / "back", kKey, kIv, mode), FileCipherStatus::Ok);
        ASSERT_TRUE(Read(dir / "back") == reference::DecryptFile(cut, mode)) << size << " " << mode;
    }
}

} // namespace
