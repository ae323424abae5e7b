// The direct decoders of response text into GBK against the way through UTF-16 (glibc's iconv,
// then the code page table): the same bytes for every charset label, on edge cases, every short
// byte sequence and random text.
#include "kestrun/automation/http/charset.h"
#include "kestrun/interop/codepage.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using kestrun::http::DecodeBody;
using kestrun::http::DecodeBodyToAnsi;

namespace {

const std::vector<const char *> kAllLabels = {
    "",       "utf-8",  "UTF8",    "utf-16",    "utf-16le",  "utf-16be",
    "gbk",    "gb2312", "latin1",  "shift_jis", "big5",      "euc-kr",
    "koi8-r", "utf-32", "no-such", "../../etc", "utf-8//ig", "windows-1252"};

std::string ThroughWide(const std::string &bytes, std::string_view label) {
    return kestrun::interop::WideToAnsi(DecodeBody(bytes, label));
}

// The labels decoded here rather than through UTF-16 (and one that is not).
const std::vector<const char *> kDirectLabels = {"", "utf-16le", "utf-16be", "gbk"};

// Checks one body under each label; reports the first label that differs.
void ExpectSame(const std::string &bytes, const std::string &what,
                const std::vector<const char *> &labels) {
    for (const char *label : labels) {
        const std::string direct = DecodeBodyToAnsi(bytes, label);
        const std::string expected = ThroughWide(bytes, label);
        ASSERT_EQ(direct, expected)
            << what << " as \"" << label << "\", " << bytes.size() << " bytes";
    }
}

// UTF-8 of a code point, without checking that it is a character (surrogates and values past
// U+10FFFF are encoded too, to test their refusal).
std::string Utf8Of(uint32_t c) {
    std::string s;
    if (c < 0x80) {
        s += char(c);
    } else if (c < 0x800) {
        s += char(0xC0 | (c >> 6));
        s += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += char(0xE0 | (c >> 12));
        s += char(0x80 | ((c >> 6) & 0x3F));
        s += char(0x80 | (c & 0x3F));
    } else {
        s += char(0xF0 | (c >> 18));
        s += char(0x80 | ((c >> 12) & 0x3F));
        s += char(0x80 | ((c >> 6) & 0x3F));
        s += char(0x80 | (c & 0x3F));
    }
    return s;
}

} // namespace

TEST(CharsetToGbk, EdgeCasesGiveTheBytesOfTheWayThroughUtf16) {
    const std::vector<std::string> cases = {
        "",
        "plain ASCII text that is longer than eight bytes",
        "\xE4\xBD\xA0\xE5\xA5\xBD\xEF\xBC\x8C\xE4\xB8\x96\xE7\x95\x8C", // 你好，世界
        "\xC3(",
        "\xE4\xBD",
        "\xE4\xBD(",
        "\xC0\x80\xC1\xBF\xE0\x80\x80\xE0\x9F\xBF\xF0\x80\x80\x80\xF0\x8F\xBF\xBF", // overlong
        "\xED\xA0\x80\xED\xBF\xBF\xED\x9F\xBF",                                     // surrogates
        "\xF4\x8F\xBF\xBF\xF4\x90\x80\x80\xF5\x80\x80\x80\xF8\x88\x80\x80\x80",     // the top
        "\xF0\x9F\x98\x80 emoji, \xE0\xB8\x81 Thai, \xE2\x82\xAC euro, \xC2\xB7 middle dot",
        std::string("before\0after", 12),
        std::string("\xE4\xBD\xA0\0\xE5\xA5\xBD", 7),
        "\xEF\xBB\xBF\xE4\xBD\xA0 with a UTF-8 mark",
        std::string("\xFF\xFE\x60\x4F\x3D\xD8\x00\xDE\x00\xD8\x41\x00\x00\xDC\x41", 15),
        std::string("\xFE\xFF\x4F\x60\xD8\x3D\xDE\x00\xDC\x00\x00\x41\xD8", 13),
        std::string("\xFF\xFE", 2),
        "\x80\x81\xFE\xFF\xBF\xC2",
        "caf\xE9 \x80\x81\x8D\x8F\x90\x9D\xFF",
        "\xC4\xE3\xBA\xC3\xA3\xAC\xCA\xC0\xBD\xE7 \x81\x30\x81\x30 \xA1\xA4\xA1\xAA",
        std::string(1000, '\x80'),
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        ExpectSame(cases[i], "case " + std::to_string(i), kAllLabels);
    }
}

TEST(CharsetToGbk, EveryShortSequenceAndEveryCodePoint) {
    // Every byte pair, and every lead byte with every second byte and a choice of third and
    // fourth bytes, each between ASCII letters; many of them to one body.
    const unsigned char tails[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90,
                                   0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
    std::string body;
    auto flush = [&](const std::string &what) {
        ExpectSame(body, what, kDirectLabels);
        body.clear();
    };
    for (unsigned a = 0x80; a <= 0xFF; ++a) {
        for (unsigned b = 0; b <= 0xFF; ++b) {
            body += 'A';
            body += char(a);
            body += char(b == 0 ? 1 : b);
            for (unsigned char c : tails) {
                body += 'B';
                body += char(a);
                body += char(b);
                body += char(c);
                body += char(0x80 | (b & 0x3F));
            }
        }
        flush("lead byte " + std::to_string(a));
        if (HasFatalFailure()) {
            return;
        }
    }
    // Every code point (surrogates and the first values past U+10FFFF too) in UTF-8.
    for (uint32_t c = 1; c < 0x110100; ++c) {
        body += Utf8Of(c);
        if (body.size() > (1 << 16)) {
            flush("code points up to " + std::to_string(c));
            if (HasFatalFailure()) {
                return;
            }
        }
    }
    flush("the last code points");
}

TEST(CharsetToGbk, RandomText) {
    std::mt19937 random(20261209);
    const std::vector<std::string> pieces = {
        "\xE4\xBD\xA0", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xC2\xB7",    "a",
        "\xE0\xB8\x81", "\xEF\xBF\xBD", "\xEF\xBB\xBF",     "\xED\xA0\x80"};
    for (int round = 0; round < 200; ++round) {
        std::string body;
        const int length = int(random() % 3000);
        for (int i = 0; i < length; ++i) {
            const unsigned kind = random() % 10;
            if (kind < 6) {
                body += pieces[random() % pieces.size()];
            } else if (kind < 9) {
                body += char(random() % 0x7F + 1);
            } else {
                body += char(random() % 0x100); // anything, zero bytes and broken sequences too
            }
        }
        if (round % 7 == 0) {
            body.insert(0, round % 2 ? "\xFF\xFE" : "\xFE\xFF");
        }
        if (round % 5 == 0 && !body.empty()) {
            body.resize(random() % body.size()); // cut anywhere
        }
        ExpectSame(body, "round " + std::to_string(round),
                   round % 10 == 0 ? kAllLabels : kDirectLabels);
        if (HasFatalFailure()) {
            return;
        }
    }
}
