#include "base64.h"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

#if defined(__x86_64__)

bool HasAvx2() {
    static const bool avx2 = __builtin_cpu_supports("avx2") != 0;
    return avx2;
}

// 24 input bytes to 32 characters per step (the 6-bit fields are spread with one shuffle and
// two multiplies, then turned into characters by range). Reads 28 bytes per step. Returns the
// input bytes consumed; the output holds 4/3 as many characters.
__attribute__((target("avx2"))) size_t EncodeAvx2(const uint8_t *in, size_t n, char *out) {
    const __m256i spread = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, //
                                            1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
    const __m256i offsets =
        _mm256_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                         '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0,
                         'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                         '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
    size_t i = 0;
    for (; i + 28 <= n; i += 24, out += 32) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i + 12));
        const __m256i groups = _mm256_shuffle_epi8(_mm256_set_m128i(hi, lo), spread);
        const __m256i ac = _mm256_mulhi_epu16(
            _mm256_and_si256(groups, _mm256_set1_epi32(0x0FC0FC00)), _mm256_set1_epi32(0x04000040));
        const __m256i bd = _mm256_mullo_epi16(
            _mm256_and_si256(groups, _mm256_set1_epi32(0x003F03F0)), _mm256_set1_epi32(0x01000010));
        const __m256i values = _mm256_or_si256(ac, bd);
        // Range of each value: 0 for A-Z, 1 for a-z, 2..11 for the digits, 12 "+", 13 "/".
        __m256i range = _mm256_subs_epu8(values, _mm256_set1_epi8(51));
        const __m256i upper = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), values);
        range = _mm256_or_si256(range, _mm256_and_si256(upper, _mm256_set1_epi8(13)));
        const __m256i chars = _mm256_add_epi8(_mm256_shuffle_epi8(offsets, range), values);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), chars);
    }
    return i;
}

// 32 characters to 24 bytes per step while every character is in the alphabet and there is
// room for a 32-byte store. Returns the characters consumed (a multiple of 32); the output holds
// 3/4 as many bytes.
__attribute__((target("avx2"))) size_t DecodeAvx2(const uint8_t *in, size_t n, char *out,
                                                  size_t room) {
    const __m256i lowTable =
        _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A,
                         0x1B, 0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                         0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m256i highTable =
        _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10,
                         0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08,
                         0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    const __m256i shiftTable =
        _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4,
                         -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i pack = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2,
                                          1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    size_t i = 0;
    size_t written = 0;
    for (; i + 32 <= n && written + 32 <= room; i += 32, written += 24) {
        const __m256i chars = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + i));
        const __m256i high = _mm256_and_si256(_mm256_srli_epi32(chars, 4), nibble);
        const __m256i low = _mm256_and_si256(chars, nibble);
        const __m256i lowClass = _mm256_shuffle_epi8(lowTable, low);
        const __m256i highClass = _mm256_shuffle_epi8(highTable, high);
        if (!_mm256_testz_si256(lowClass, highClass)) {
            break; // a character outside the alphabet (or "=") in this block
        }
        const __m256i slash = _mm256_cmpeq_epi8(chars, _mm256_set1_epi8('/'));
        const __m256i shift = _mm256_shuffle_epi8(shiftTable, _mm256_add_epi8(slash, high));
        const __m256i values = _mm256_add_epi8(chars, shift);
        const __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
        const __m256i groups = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
        const __m256i bytes = _mm256_permutevar8x32_epi32(
            _mm256_shuffle_epi8(groups, pack), _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + written), bytes);
    }
    return i;
}

#endif

} // namespace

void Base64EncodeTo(std::string_view bytes, char *out) {
    const auto *p = reinterpret_cast<const uint8_t *>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0;
    char *dst = out;
#if defined(__x86_64__)
    if (HasAvx2()) {
        i = EncodeAvx2(p, n, dst);
        dst += i / 3 * 4;
    }
#endif
    const size_t whole = n / 3 * 3;
    // Two groups per step from one 8-byte load, where 8 bytes remain to be read.
    for (; i + 8 <= n && i + 6 <= whole; i += 6, dst += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        w = __builtin_bswap64(w);
        std::memcpy(dst, &kPairs[2 * ((w >> 52) & 0xFFF)], 2);
        std::memcpy(dst + 2, &kPairs[2 * ((w >> 40) & 0xFFF)], 2);
        std::memcpy(dst + 4, &kPairs[2 * ((w >> 28) & 0xFFF)], 2);
        std::memcpy(dst + 6, &kPairs[2 * ((w >> 16) & 0xFFF)], 2);
    }
    for (; i < whole; i += 3, dst += 4) {
        const uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8) | p[i + 2];
        std::memcpy(dst, &kPairs[2 * (v >> 12)], 2);
        std::memcpy(dst + 2, &kPairs[2 * (v & 0xFFF)], 2);
    }
    const size_t rest = n - whole;
    if (rest == 1) {
        const uint8_t b0 = p[whole];
        dst[0] = kAlphabet[b0 >> 2];
        dst[1] = kAlphabet[(b0 & 3) << 4];
        dst[2] = '=';
        dst[3] = '=';
    } else if (rest == 2) {
        const uint8_t b0 = p[whole];
        const uint8_t b1 = p[whole + 1];
        dst[0] = kAlphabet[b0 >> 2];
        dst[1] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        dst[2] = kAlphabet[(b1 & 15) << 2];
        dst[3] = '=';
    }
}

std::string Base64Encode(std::string_view bytes) {
    std::string out(Base64EncodedSize(bytes.size()), '\0');
    Base64EncodeTo(bytes, out.data());
    return out;
}

std::optional<size_t> Base64DecodeTo(std::string_view text, char *out) {
    const size_t zero = text.find('\0');
    if (zero != std::string_view::npos) {
        text = text.substr(0, zero);
    }
    const auto *s = reinterpret_cast<const uint8_t *>(text.data());
    const size_t n = text.size();
    [[maybe_unused]] const size_t room = Base64DecodedBound(n); // read by the vector path only
    char *dst = out;
    size_t count = 0;
    uint8_t partial = 0;
    size_t i = 0;
    while (i < n) {
        // Fast paths at a group boundary: blocks of 32 alphabet characters, then groups of four
        // alphabet characters giving three bytes each.
        if (count % 4 == 0) {
#if defined(__x86_64__)
            if (HasAvx2()) {
                const size_t used =
                    DecodeAvx2(s + i, n - i, dst, room - static_cast<size_t>(dst - out));
                i += used;
                dst += used / 4 * 3;
            }
#endif
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
            }
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
            *dst++ = static_cast<char>(partial | (v >> 4));
            partial = static_cast<uint8_t>((v & 15) << 4);
            break;
        case 2:
            *dst++ = static_cast<char>(partial | (v >> 2));
            partial = static_cast<uint8_t>((v & 3) << 6);
            break;
        default:
            *dst++ = static_cast<char>(partial | v);
            break;
        }
        ++count;
    }
    return static_cast<size_t>(dst - out);
}

size_t Base64DecodeRunTo(std::string_view text, char *out) {
    const auto *s = reinterpret_cast<const uint8_t *>(text.data());
    const size_t n = text.size();
    char *dst = out;
    size_t i = 0;
#if defined(__x86_64__)
    if (HasAvx2()) {
        i = DecodeAvx2(s, n, dst, Base64DecodedBound(n));
        dst += i / 4 * 3;
    }
#endif
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
    }
    // Fewer than four alphabet characters are left before the run ends.
    uint32_t bits = 0;
    int count = 0;
    for (; i < n && count < 3 && kDecode[s[i]] != kNotBase64; ++i, ++count) {
        bits = (bits << 6) | kDecode[s[i]];
    }
    if (count == 2) {
        *dst++ = static_cast<char>(bits >> 4);
    } else if (count == 3) {
        *dst++ = static_cast<char>(bits >> 10);
        *dst++ = static_cast<char>(bits >> 2);
    }
    return static_cast<size_t>(dst - out);
}

std::optional<std::string> Base64Decode(std::string_view text) {
    std::string out(Base64DecodedBound(text.size()), '\0');
    const auto used = Base64DecodeTo(text, out.data());
    if (!used) {
        return std::nullopt;
    }
    out.resize(*used);
    return out;
}

} // namespace kestrun::codecs
