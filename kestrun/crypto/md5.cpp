#include "kestrun/crypto/md5.h"

#include <bit>
#include <cstring>

namespace kestrun::crypto {
namespace {

static_assert(std::endian::native == std::endian::little,
              "MD5 words are read with the host's little-endian byte order");

inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) {
    return z ^ (x & (y ^ z));
}
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) {
    return y ^ (z & (x ^ y));
}
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) {
    return x ^ y ^ z;
}
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) {
    return y ^ (x | ~z);
}

template <uint32_t (*Fn)(uint32_t, uint32_t, uint32_t), int S>
inline void Step(uint32_t &a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t) {
    a = std::rotl(a + Fn(b, c, d) + x + t, S) + b;
}

} // namespace

Md5Context::Md5Context()
    : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476}, count_{0, 0}, finalized_(false) {}

void Md5Context::Compress(const uint8_t *blocks, size_t count) {
    uint32_t a0 = state_[0];
    uint32_t b0 = state_[1];
    uint32_t c0 = state_[2];
    uint32_t d0 = state_[3];
    for (; count > 0; --count, blocks += 64) {
        uint32_t x[16];
        std::memcpy(x, blocks, 64);
        uint32_t a = a0;
        uint32_t b = b0;
        uint32_t c = c0;
        uint32_t d = d0;

        Step<F, 7>(a, b, c, d, x[0], 0xd76aa478);
        Step<F, 12>(d, a, b, c, x[1], 0xe8c7b756);
        Step<F, 17>(c, d, a, b, x[2], 0x242070db);
        Step<F, 22>(b, c, d, a, x[3], 0xc1bdceee);
        Step<F, 7>(a, b, c, d, x[4], 0xf57c0faf);
        Step<F, 12>(d, a, b, c, x[5], 0x4787c62a);
        Step<F, 17>(c, d, a, b, x[6], 0xa8304613);
        Step<F, 22>(b, c, d, a, x[7], 0xfd469501);
        Step<F, 7>(a, b, c, d, x[8], 0x698098d8);
        Step<F, 12>(d, a, b, c, x[9], 0x8b44f7af);
        Step<F, 17>(c, d, a, b, x[10], 0xffff5bb1);
        Step<F, 22>(b, c, d, a, x[11], 0x895cd7be);
        Step<F, 7>(a, b, c, d, x[12], 0x6b901122);
        Step<F, 12>(d, a, b, c, x[13], 0xfd987193);
        Step<F, 17>(c, d, a, b, x[14], 0xa679438e);
        Step<F, 22>(b, c, d, a, x[15], 0x49b40821);

        Step<G, 5>(a, b, c, d, x[1], 0xf61e2562);
        Step<G, 9>(d, a, b, c, x[6], 0xc040b340);
        Step<G, 14>(c, d, a, b, x[11], 0x265e5a51);
        Step<G, 20>(b, c, d, a, x[0], 0xe9b6c7aa);
        Step<G, 5>(a, b, c, d, x[5], 0xd62f105d);
        Step<G, 9>(d, a, b, c, x[10], 0x02441453);
        Step<G, 14>(c, d, a, b, x[15], 0xd8a1e681);
        Step<G, 20>(b, c, d, a, x[4], 0xe7d3fbc8);
        Step<G, 5>(a, b, c, d, x[9], 0x21e1cde6);
        Step<G, 9>(d, a, b, c, x[14], 0xc33707d6);
        Step<G, 14>(c, d, a, b, x[3], 0xf4d50d87);
        Step<G, 20>(b, c, d, a, x[8], 0x455a14ed);
        Step<G, 5>(a, b, c, d, x[13], 0xa9e3e905);
        Step<G, 9>(d, a, b, c, x[2], 0xfcefa3f8);
        Step<G, 14>(c, d, a, b, x[7], 0x676f02d9);
        Step<G, 20>(b, c, d, a, x[12], 0x8d2a4c8a);

        Step<H, 4>(a, b, c, d, x[5], 0xfffa3942);
        Step<H, 11>(d, a, b, c, x[8], 0x8771f681);
        Step<H, 16>(c, d, a, b, x[11], 0x6d9d6122);
        Step<H, 23>(b, c, d, a, x[14], 0xfde5380c);
        Step<H, 4>(a, b, c, d, x[1], 0xa4beea44);
        Step<H, 11>(d, a, b, c, x[4], 0x4bdecfa9);
        Step<H, 16>(c, d, a, b, x[7], 0xf6bb4b60);
        Step<H, 23>(b, c, d, a, x[10], 0xbebfbc70);
        Step<H, 4>(a, b, c, d, x[13], 0x289b7ec6);
        Step<H, 11>(d, a, b, c, x[0], 0xeaa127fa);
        Step<H, 16>(c, d, a, b, x[3], 0xd4ef3085);
        Step<H, 23>(b, c, d, a, x[6], 0x04881d05);
        Step<H, 4>(a, b, c, d, x[9], 0xd9d4d039);
        Step<H, 11>(d, a, b, c, x[12], 0xe6db99e5);
        Step<H, 16>(c, d, a, b, x[15], 0x1fa27cf8);
        Step<H, 23>(b, c, d, a, x[2], 0xc4ac5665);

        Step<I, 6>(a, b, c, d, x[0], 0xf4292244);
        Step<I, 10>(d, a, b, c, x[7], 0x432aff97);
        Step<I, 15>(c, d, a, b, x[14], 0xab9423a7);
        Step<I, 21>(b, c, d, a, x[5], 0xfc93a039);
        Step<I, 6>(a, b, c, d, x[12], 0x655b59c3);
        Step<I, 10>(d, a, b, c, x[3], 0x8f0ccc92);
        Step<I, 15>(c, d, a, b, x[10], 0xffeff47d);
        Step<I, 21>(b, c, d, a, x[1], 0x85845dd1);
        Step<I, 6>(a, b, c, d, x[8], 0x6fa87e4f);
        Step<I, 10>(d, a, b, c, x[15], 0xfe2ce6e0);
        Step<I, 15>(c, d, a, b, x[6], 0xa3014314);
        Step<I, 21>(b, c, d, a, x[13], 0x4e0811a1);
        Step<I, 6>(a, b, c, d, x[4], 0xf7537e82);
        Step<I, 10>(d, a, b, c, x[11], 0xbd3af235);
        Step<I, 15>(c, d, a, b, x[2], 0x2ad7d2bb);
        Step<I, 21>(b, c, d, a, x[9], 0xeb86d391);

        a0 += a;
        b0 += b;
        c0 += c;
        d0 += d;
    }
    state_[0] = a0;
    state_[1] = b0;
    state_[2] = c0;
    state_[3] = d0;
}

void Md5Context::Update(const uint8_t *bytes, uint32_t length) {
    if (finalized_ || length == 0) {
        return;
    }
    uint32_t index = (count_[0] >> 3) & 0x3F;
    count_[0] += length << 3;
    if (count_[0] < (length << 3)) {
        ++count_[1];
    }
    count_[1] += length >> 29;

    uint32_t used = 0;
    const uint32_t partLength = 64 - index;
    if (length >= partLength) {
        std::memcpy(&buffer_[index], bytes, partLength);
        Compress(buffer_, 1);
        used = partLength;
        const uint32_t wholeBlocks = (length - used) / 64;
        Compress(bytes + used, wholeBlocks);
        used += wholeBlocks * 64;
        index = 0;
    }
    std::memcpy(&buffer_[index], bytes + used, length - used);
}

void Md5Context::Update(std::string_view bytes) {
    constexpr size_t kPiece = size_t{1} << 30;
    const auto *p = reinterpret_cast<const uint8_t *>(bytes.data());
    size_t left = bytes.size();
    while (left > 0) {
        const size_t n = left < kPiece ? left : kPiece;
        Update(p, static_cast<uint32_t>(n));
        p += n;
        left -= n;
    }
}

std::string Md5Context::HexDigest() {
    if (!finalized_) {
        uint8_t bits[8];
        for (int i = 0; i < 4; ++i) {
            bits[i] = static_cast<uint8_t>(count_[0] >> (8 * i));
            bits[i + 4] = static_cast<uint8_t>(count_[1] >> (8 * i));
        }
        static constexpr uint8_t kPadding[64] = {0x80};
        const uint32_t index = (count_[0] >> 3) & 0x3F;
        const uint32_t padLength = index < 56 ? 56 - index : 120 - index;
        Update(kPadding, padLength);
        Update(bits, 8);
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) {
                digest_[4 * i + j] = static_cast<uint8_t>(state_[i] >> (8 * j));
            }
        }
        finalized_ = true;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex(32, '\0');
    for (int i = 0; i < 16; ++i) {
        hex[2 * i] = kDigits[digest_[i] >> 4];
        hex[2 * i + 1] = kDigits[digest_[i] & 15];
    }
    return hex;
}

std::string Md5Hex(std::string_view bytes) {
    Md5Context context;
    context.Update(bytes);
    return context.HexDigest();
}

} // namespace kestrun::crypto
