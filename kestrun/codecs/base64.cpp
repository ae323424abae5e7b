#include "base64.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace kestrun::codecs {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kNotBase64 = 0xFF;

constexpr std::array<uint8_t, 256> MakeDecodeTable() {
    std::array<uint8_t, 256> table{};
    for (auto &entry : table) {
        entry = kNotBase64;
    }
    for (uint8_t i = 0; i < 64; ++i) {
        table[static_cast<uint8_t>(kAlphabet[i])] = i;
    }
    return table;
}

constexpr std::array<uint8_t, 256> kDecode = MakeDecodeTable();

// Two alphabet characters for every 12-bit value, so that one look-up writes two characters.
constexpr std::array<char, 8192> MakePairTable() {
    std::array<char, 8192> table{};
    for (int v = 0; v < 4096; ++v) {
        table[2 * v] = kAlphabet[v >> 6];
        table[2 * v + 1] = kAlphabet[v & 63];
    }
    return table;
}

constexpr std::array<char, 8192> kPairs = MakePairTable();

// The value of a character already moved to its place in a 24-bit group, one table per position;
// a character outside the alphabet sets bit 31.
constexpr std::array<uint32_t, 256> MakeShiftedTable(int shift) {
    std::array<uint32_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        const uint8_t v = MakeDecodeTable()[c];
        table[c] = v == kNotBase64 ? 0x80000000u : uint32_t{v} << shift;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kAt18 = MakeShiftedTable(18);
constexpr std::array<uint32_t, 256> kAt12 = MakeShiftedTable(12);
constexpr std::array<uint32_t, 256> kAt6 = MakeShiftedTable(6);
constexpr std::array<uint32_t, 256> kAt0 = MakeShiftedTable(0);

} // namespace

std::string Base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    const auto *p = reinterpret_cast<const uint8_t *>(bytes.data());
    const size_t whole = bytes.size() / 3 * 3;
    // Whole groups are written through a small buffer that stays in the cache and appended, so
    // the result is written once rather than cleared first.
    char chunk[4096];
    size_t i = 0;
    while (i < whole) {
        const size_t end = std::min(whole, i + sizeof chunk / 4 * 3);
        char *dst = chunk;
        // Two groups per step from one 8-byte load, where 8 bytes remain to be read.
        for (; i + 6 <= end && i + 8 <= bytes.size(); i += 6, dst += 8) {
            uint64_t w;
            std::memcpy(&w, p + i, 8);
            w = __builtin_bswap64(w);
            char out8[8];
            std::memcpy(out8, &kPairs[2 * ((w >> 52) & 0xFFF)], 2);
            std::memcpy(out8 + 2, &kPairs[2 * ((w >> 40) & 0xFFF)], 2);
            std::memcpy(out8 + 4, &kPairs[2 * ((w >> 28) & 0xFFF)], 2);
            std::memcpy(out8 + 6, &kPairs[2 * ((w >> 16) & 0xFFF)], 2);
            std::memcpy(dst, out8, 8);
        }
        for (; i < end; i += 3, dst += 4) {
            const uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8) | p[i + 2];
            std::memcpy(dst, &kPairs[2 * (v >> 12)], 2);
            std::memcpy(dst + 2, &kPairs[2 * (v & 0xFFF)], 2);
        }
        out.append(chunk, static_cast<size_t>(dst - chunk));
    }
    const size_t rest = bytes.size() - whole;
    if (rest == 1) {
        const uint8_t b0 = p[whole];
        out.push_back(kAlphabet[b0 >> 2]);
        out.push_back(kAlphabet[(b0 & 3) << 4]);
        out.append("==");
    } else if (rest == 2) {
        const uint8_t b0 = p[whole];
        const uint8_t b1 = p[whole + 1];
        out.push_back(kAlphabet[b0 >> 2]);
        out.push_back(kAlphabet[((b0 & 3) << 4) | (b1 >> 4)]);
        out.push_back(kAlphabet[(b1 & 15) << 2]);
        out.push_back('=');
    }
    return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
    const size_t zero = text.find('\0');
    if (zero != std::string_view::npos) {
        text = text.substr(0, zero);
    }
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    const auto *s = reinterpret_cast<const uint8_t *>(text.data());
    const size_t n = text.size();
    size_t count = 0;
    uint8_t partial = 0;
    size_t i = 0;
    char chunk[3072];
    while (i < n) {
        // Fast path: four alphabet characters at a group boundary give three bytes at once. The
        // bytes collect in a small buffer so that the result is written only once.
        if (count % 4 == 0) {
            char *dst = chunk;
            while (i + 4 <= n) {
                const uint32_t v = kAt18[s[i]] | kAt12[s[i + 1]] | kAt6[s[i + 2]] | kAt0[s[i + 3]];
                if ((v & 0x80000000u) != 0) {
                    break;
                }
                dst[0] = static_cast<char>(v >> 16);
                dst[1] = static_cast<char>(v >> 8);
                dst[2] = static_cast<char>(v);
                dst += 3;
                i += 4;
                if (dst == chunk + sizeof chunk) {
                    out.append(chunk, sizeof chunk);
                    dst = chunk;
                }
            }
            out.append(chunk, static_cast<size_t>(dst - chunk));
            if (i >= n) {
                break;
            }
        }
        const uint8_t ch = s[i];
        if (ch == '=') {
            const bool nextIsPad = i + 1 < n && s[i + 1] == '=';
            if (!nextIsPad && count % 4 == 1) {
                return std::nullopt;
            }
            ++i;
            continue;
        }
        const uint8_t v = kDecode[ch];
        ++i;
        if (v == kNotBase64) {
            continue;
        }
        switch (count % 4) {
        case 0:
            partial = static_cast<uint8_t>(v << 2);
            break;
        case 1:
            out.push_back(static_cast<char>(partial | (v >> 4)));
            partial = static_cast<uint8_t>((v & 15) << 4);
            break;
        case 2:
            out.push_back(static_cast<char>(partial | (v >> 2)));
            partial = static_cast<uint8_t>((v & 3) << 6);
            break;
        default:
            out.push_back(static_cast<char>(partial | v));
            break;
        }
        ++count;
    }
    return out;
}

} // namespace kestrun::codecs
