// Base64 exports called as a Visual Basic host calls them.
#include "vbhost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

namespace {

using vbhost::Gbk;
using vbhost::Take;
using vbhost::TakeText;

TEST(Base64Encode, PaddingAndTheTwoTextForms) {
    EXPECT_EQ(TakeText(Base64Encode_GB("abc")), "YWJj");
    EXPECT_EQ(TakeText(Base64Encode_GB("ab")), "YWI=");
    EXPECT_EQ(TakeText(Base64Encode_GB("a")), "YQ==");
    EXPECT_EQ(Take(Base64Encode_GB("")), "");
    const std::string ni = Gbk("你");
    EXPECT_EQ(TakeText(Base64Encode_UTF8(ni.c_str())), "5L2g");
    EXPECT_EQ(TakeText(Base64Encode_GB(ni.c_str())), "xOM=");
    EXPECT_EQ(TakeText(Base64Encode_UTF8(Gbk("你好").c_str())), "5L2g5aW9");
}

TEST(Base64, NullArgumentsGiveAnEmptyString) {
    EXPECT_EQ(Take(Base64Encode_GB(nullptr)), "");
    EXPECT_EQ(Take(Base64Encode_UTF8(nullptr)), "");
    EXPECT_EQ(Take(Base64Decode_GB(nullptr)), "");
    EXPECT_EQ(Take(Base64Decode_UTF8(nullptr)), "");
}

TEST(Base64Decode, SkipsWhatIsNotInTheAlphabet) {
    EXPECT_EQ(TakeText(Base64Decode_GB("YWJj")), "abc");
    EXPECT_EQ(TakeText(Base64Decode_GB("YW Jj")), "abc");
    EXPECT_EQ(TakeText(Base64Decode_GB("YW\r\nJ\tj")), "abc");
    EXPECT_EQ(TakeText(Base64Decode_GB("YWJ")), "ab");
    EXPECT_EQ(TakeText(Base64Decode_GB(("YW" + Gbk("中文") + "Jj").c_str())), "abc");
    EXPECT_EQ(TakeText(Base64Decode_GB("\x80\xFFYWJj\xFE")), "abc");
}

TEST(Base64Decode, PaddingRules) {
    EXPECT_EQ(Take(Base64Decode_GB("Q=")), std::nullopt);
    EXPECT_EQ(Take(Base64Decode_GB("Q==")), std::nullopt);
    EXPECT_EQ(Take(Base64Decode_UTF8("Q=")), std::nullopt);
    EXPECT_EQ(TakeText(Base64Decode_GB("QQ=")), "A");
    EXPECT_EQ(Take(Base64Decode_GB("Q")), "");
    EXPECT_EQ(Take(Base64Decode_GB("=")), "");
    // Text after padding continues the same bit stream.
    EXPECT_EQ(Take(Base64Decode_GB("QQ==QQ==")), std::string("\x41\x04\x10", 3));
}

TEST(Base64Decode, ResultsEndAtTheFirstZeroByte) {
    EXPECT_EQ(Take(Base64Decode_GB("QQBC")), "A");
    EXPECT_EQ(Take(Base64Decode_GB("AEI=")), ""); // 00 42
}

TEST(Base64Decode, Utf8FormConvertsToGbk) {
    EXPECT_EQ(Take(Base64Decode_UTF8("5L2g")), Gbk("你"));
    EXPECT_EQ(Take(Base64Decode_UTF8("wyg=")), "?("); // C3 28: invalid UTF-8
    EXPECT_EQ(Take(Base64Decode_UTF8("4LiB")), "?");  // U+0E01, not in code page 936
}

TEST(Base64, LargeInputsRoundTrip) {
    std::string bytes(3 * 1024 * 1024 + 1, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(1 + i % 255);
    }
    const std::string encoded = TakeText(Base64Encode_GB(bytes.c_str()));
    EXPECT_EQ(encoded.size(), (bytes.size() + 2) / 3 * 4);
    EXPECT_EQ(TakeText(Base64Decode_GB(encoded.c_str())), bytes);
}

} // namespace

namespace {

// The decoding rules written out one byte at a time, to check the library's grouped fast path.
std::optional<std::string> ReferenceDecode(const std::string &text) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t count = 0;
    unsigned partial = 0;
    for (size_t i = 0; i < text.size() && text[i] != '\0'; ++i) {
        if (text[i] == '=') {
            if (!(i + 1 < text.size() && text[i + 1] == '=') && count % 4 == 1) {
                return std::nullopt;
            }
            continue;
        }
        const size_t v = alphabet.find(text[i]);
        if (v == std::string::npos) {
            continue;
        }
        switch (count++ % 4) {
        case 0:
            partial = (v << 2) & 0xFF;
            break;
        case 1:
            out.push_back(static_cast<char>(partial | (v >> 4)));
            partial = (v & 15) << 4;
            break;
        case 2:
            out.push_back(static_cast<char>(partial | (v >> 2)));
            partial = (v & 3) << 6;
            break;
        default:
            out.push_back(static_cast<char>(partial | v));
        }
    }
    const size_t zero = out.find('\0');
    return zero == std::string::npos ? out : out.substr(0, zero);
}

TEST(Base64Decode, AgreesWithTheByteByByteRulesOnRandomText) {
    const std::string pool = "QUJDabc+/09=== \n\x80\xC4\xE3-_AAAA";
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    for (int round = 0; round < 20000; ++round) {
        std::string text(next() % 40, ' ');
        for (auto &c : text) {
            c = pool[next() % pool.size()];
        }
        EXPECT_EQ(Take(Base64Decode_GB(text.c_str())), ReferenceDecode(text)) << text;
    }
}

} // namespace

namespace {

// Long texts, mostly alphabet characters, so that whole blocks take the vectorised paths and
// the odd line break, "=" or foreign byte sends them back to the byte-by-byte rules.
TEST(Base64Decode, AgreesWithTheByteByByteRulesOnLongText) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string rare = "=\n \x80\xC4-";
    uint32_t seed = 777;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    for (int round = 0; round < 3000; ++round) {
        std::string text(next() % 400, 'A');
        const uint32_t junkEvery = 8 + next() % 200;
        for (auto &c : text) {
            c = next() % junkEvery == 0 ? rare[next() % rare.size()]
                                        : alphabet[next() % alphabet.size()];
        }
        EXPECT_EQ(Take(Base64Decode_GB(text.c_str())), ReferenceDecode(text)) << text;
    }
}

// The encoding written out bit by bit.
std::string ReferenceEncode(const std::string &bytes) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        if (n > 1) {
            v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        }
        if (n > 2) {
            v |= static_cast<uint8_t>(bytes[i + 2]);
        }
        for (size_t k = 0; k < 4; ++k) {
            out.push_back(k <= n ? alphabet[(v >> (18 - 6 * k)) & 63] : '=');
        }
    }
    return out;
}

TEST(Base64Encode, AgreesWithTheBitByBitEncodingAtEveryLength) {
    uint32_t seed = 99;
    std::string bytes;
    for (size_t length = 0; length < 400; ++length) {
        EXPECT_EQ(TakeText(Base64Encode_GB(bytes.c_str())), ReferenceEncode(bytes)) << length;
        seed = seed * 1103515245u + 12345u;
        bytes.push_back(static_cast<char>(1 + (seed >> 8) % 255));
    }
}

} // namespace
