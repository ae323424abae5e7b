// AES-128 through AESENC/AESDEC. Only the functions below are compiled for the AES instructions,
// so the rest of the library runs on any processor; Available() decides at run time.
//
// Modes whose blocks are independent (ECB both ways, CBC and CFB decryption) keep eight blocks in
// flight, so the AES unit works on one block while the previous ones are still in its pipeline.
// CBC and CFB encryption feed each block's result into the next and go one block at a time.
//
// Every memory access is unaligned, and on 32-bit x86 each entry point realigns its own stack:
// a 32-bit Windows host (Visual Basic 6 among them) may call with a stack aligned to 4 bytes
// only, while the compiler keeps SSE values on the stack with aligned moves.
#include "kestrun/crypto/aes_ni.h"

#if defined(__x86_64__) || defined(__i386__)
#define KESTRUN_HAVE_AESNI 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace kestrun::crypto::aesni {

#if defined(KESTRUN_HAVE_AESNI)

#if defined(__i386__)
#define KESTRUN_AESNI_ENTRY __attribute__((target("aes,sse2,ssse3"), force_align_arg_pointer))
#else
#define KESTRUN_AESNI_ENTRY __attribute__((target("aes,sse2,ssse3")))
#endif
#define KESTRUN_AESNI_INLINE __attribute__((target("aes,sse2,ssse3"), always_inline)) inline

namespace {

constexpr int kRounds = 10;
constexpr size_t kLanes = 8;

struct Schedule {
    __m128i k[kRounds + 1];
};

KESTRUN_AESNI_INLINE __m128i Load(const uint8_t *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

KESTRUN_AESNI_INLINE void Store(uint8_t *p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
}

KESTRUN_AESNI_INLINE void LoadSchedule(const uint8_t *bytes, Schedule &s) {
    for (int r = 0; r <= kRounds; ++r) {
        s.k[r] = Load(bytes + 16 * r);
    }
}

KESTRUN_AESNI_INLINE __m128i EncryptOne(const Schedule &s, __m128i x) {
    x = _mm_xor_si128(x, s.k[0]);
    for (int r = 1; r < kRounds; ++r) {
        x = _mm_aesenc_si128(x, s.k[r]);
    }
    return _mm_aesenclast_si128(x, s.k[kRounds]);
}

KESTRUN_AESNI_INLINE __m128i DecryptOne(const Schedule &s, __m128i x) {
    x = _mm_xor_si128(x, s.k[0]);
    for (int r = 1; r < kRounds; ++r) {
        x = _mm_aesdec_si128(x, s.k[r]);
    }
    return _mm_aesdeclast_si128(x, s.k[kRounds]);
}

// Eight blocks through the cipher, round by round across the blocks.
KESTRUN_AESNI_INLINE void EncryptLanes(const Schedule &s, __m128i (&x)[kLanes]) {
#pragma GCC unroll 8
    for (size_t j = 0; j < kLanes; ++j) {
        x[j] = _mm_xor_si128(x[j], s.k[0]);
    }
    for (int r = 1; r < kRounds; ++r) {
        const __m128i k = s.k[r];
#pragma GCC unroll 8
        for (size_t j = 0; j < kLanes; ++j) {
            x[j] = _mm_aesenc_si128(x[j], k);
        }
    }
#pragma GCC unroll 8
    for (size_t j = 0; j < kLanes; ++j) {
        x[j] = _mm_aesenclast_si128(x[j], s.k[kRounds]);
    }
}

KESTRUN_AESNI_INLINE void DecryptLanes(const Schedule &s, __m128i (&x)[kLanes]) {
#pragma GCC unroll 8
    for (size_t j = 0; j < kLanes; ++j) {
        x[j] = _mm_xor_si128(x[j], s.k[0]);
    }
    for (int r = 1; r < kRounds; ++r) {
        const __m128i k = s.k[r];
#pragma GCC unroll 8
        for (size_t j = 0; j < kLanes; ++j) {
            x[j] = _mm_aesdec_si128(x[j], k);
        }
    }
#pragma GCC unroll 8
    for (size_t j = 0; j < kLanes; ++j) {
        x[j] = _mm_aesdeclast_si128(x[j], s.k[kRounds]);
    }
}

// One step of the AES-128 key expansion: `assist` is AESKEYGENASSIST of the previous round key
// with the round constant.
KESTRUN_AESNI_INLINE __m128i NextRoundKey(__m128i key, __m128i assist) {
    assist = _mm_shuffle_epi32(assist, 0xff);
    key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
    key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
    key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
    return _mm_xor_si128(key, assist);
}

} // namespace

bool Available() {
    static const bool available = [] {
        unsigned eax = 0;
        unsigned ebx = 0;
        unsigned ecx = 0;
        unsigned edx = 0;
        if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
            return false;
        }
        const bool sse2 = (edx & bit_SSE2) != 0;
        const bool ssse3 = (ecx & bit_SSSE3) != 0;
        const bool aes = (ecx & bit_AES) != 0;
        return sse2 && ssse3 && aes;
    }();
    return available;
}

KESTRUN_AESNI_ENTRY void ExpandKey128(const uint8_t *key, uint8_t *encryptKeys,
                                      uint8_t *decryptKeys) {
    __m128i k[kRounds + 1];
    k[0] = Load(key);
    // The round constant must be an immediate operand.
    k[1] = NextRoundKey(k[0], _mm_aeskeygenassist_si128(k[0], 0x01));
    k[2] = NextRoundKey(k[1], _mm_aeskeygenassist_si128(k[1], 0x02));
    k[3] = NextRoundKey(k[2], _mm_aeskeygenassist_si128(k[2], 0x04));
    k[4] = NextRoundKey(k[3], _mm_aeskeygenassist_si128(k[3], 0x08));
    k[5] = NextRoundKey(k[4], _mm_aeskeygenassist_si128(k[4], 0x10));
    k[6] = NextRoundKey(k[5], _mm_aeskeygenassist_si128(k[5], 0x20));
    k[7] = NextRoundKey(k[6], _mm_aeskeygenassist_si128(k[6], 0x40));
    k[8] = NextRoundKey(k[7], _mm_aeskeygenassist_si128(k[7], 0x80));
    k[9] = NextRoundKey(k[8], _mm_aeskeygenassist_si128(k[8], 0x1b));
    k[10] = NextRoundKey(k[9], _mm_aeskeygenassist_si128(k[9], 0x36));
    for (int r = 0; r <= kRounds; ++r) {
        Store(encryptKeys + 16 * r, k[r]);
    }
    // The equivalent inverse cipher: the round keys in reverse order, InvMixColumns applied to
    // all but the first and the last.
    Store(decryptKeys, k[kRounds]);
    for (int r = 1; r < kRounds; ++r) {
        Store(decryptKeys + 16 * r, _mm_aesimc_si128(k[kRounds - r]));
    }
    Store(decryptKeys + 16 * kRounds, k[0]);
}

KESTRUN_AESNI_ENTRY void EncryptEcb(const uint8_t *encryptKeys, const uint8_t *in, uint8_t *out,
                                    size_t blocks) {
    Schedule s;
    LoadSchedule(encryptKeys, s);
    for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
        __m128i x[kLanes];
#pragma GCC unroll 8
        for (size_t j = 0; j < kLanes; ++j) {
            x[j] = Load(in + 16 * j);
        }
        EncryptLanes(s, x);
#pragma GCC unroll 8
        for (size_t j = 0; j < kLanes; ++j) {
            Store(out + 16 * j, x[j]);
        }
    }
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        Store(out, EncryptOne(s, Load(in)));
    }
}

KESTRUN_AESNI_ENTRY void DecryptEcb(const uint8_t *decryptKeys, const uint8_t *in, uint8_t *out,
                                    size_t blocks) {
    Schedule s;
    LoadSchedule(decryptKeys, s);
    for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
        __m128i x[kLanes];
#pragma GCC unroll 8
        for (size_t j = 0; j < kLanes; ++j) {
            x[j] = Load(in + 16 * j);
        }
        DecryptLanes(s, x);
#pragma GCC unroll 8
        for (size_t j = 0; j < kLanes; ++j) {
            Store(out + 16 * j, x[j]);
        }
    }
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        Store(out, DecryptOne(s, Load(in)));
    }
}

KESTRUN_AESNI_ENTRY void EncryptCbc(const uint8_t *encryptKeys, uint8_t *chain, const uint8_t *in,
                                    uint8_t *out, size_t blocks) {
    Schedule s;
    LoadSchedule(encryptKeys, s);
    __m128i c = Load(chain);
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        c = EncryptOne(s, _mm_xor_si128(c, Load(in)));
        Store(out, c);
    }
    Store(chain, c);
}

KESTRUN_AESNI_ENTRY void DecryptCbc(const uint8_t *decryptKeys, uint8_t *chain, const uint8_t *in,
                                    uint8_t *out, size_t blocks) {
    Schedule s;
    LoadSchedule(decryptKeys, s);
    __m128i c = Load(chain);
    for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
        __m128i x[kLanes];
#pragma GCC unroll 8
        for (size_t j = 0; j < kLanes; ++j) {
            x[j] = Load(in + 16 * j);
        }
        DecryptLanes(s, x);
        // Every ciphertext block is read again before the first store: `out` may be `in`.
        const __m128i next = Load(in + 16 * (kLanes - 1));
        x[0] = _mm_xor_si128(x[0], c);
#pragma GCC unroll 8
        for (size_t j = 1; j < kLanes; ++j) {
            x[j] = _mm_xor_si128(x[j], Load(in + 16 * (j - 1)));
        }
#pragma GCC unroll 8
        for (size_t j = 0; j < kLanes; ++j) {
            Store(out + 16 * j, x[j]);
        }
        c = next;
    }
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        const __m128i cipher = Load(in);
        Store(out, _mm_xor_si128(DecryptOne(s, cipher), c));
        c = cipher;
    }
    Store(chain, c);
}

KESTRUN_AESNI_ENTRY void EncryptCfb(const uint8_t *encryptKeys, uint8_t *chain, const uint8_t *in,
                                    uint8_t *out, size_t blocks) {
    Schedule s;
    LoadSchedule(encryptKeys, s);
    __m128i c = Load(chain);
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        c = _mm_xor_si128(EncryptOne(s, c), Load(in));
        Store(out, c);
    }
    Store(chain, c);
}

KESTRUN_AESNI_ENTRY void DecryptCfb(const uint8_t *encryptKeys, uint8_t *chain, const uint8_t *in,
                                    uint8_t *out, size_t blocks) {
    Schedule s;
    LoadSchedule(encryptKeys, s);
    __m128i c = Load(chain);
    for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
        // The key stream of each block is the cipher of the ciphertext block before it.
        __m128i x[kLanes];
        x[0] = c;
#pragma GCC unroll 8
        for (size_t j = 1; j < kLanes; ++j) {
            x[j] = Load(in + 16 * (j - 1));
        }
        EncryptLanes(s, x);
        const __m128i next = Load(in + 16 * (kLanes - 1));
#pragma GCC unroll 8
        for (size_t j = 0; j < kLanes; ++j) {
            x[j] = _mm_xor_si128(x[j], Load(in + 16 * j));
        }
#pragma GCC unroll 8
        for (size_t j = 0; j < kLanes; ++j) {
            Store(out + 16 * j, x[j]);
        }
        c = next;
    }
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        const __m128i cipher = Load(in);
        Store(out, _mm_xor_si128(EncryptOne(s, c), cipher));
        c = cipher;
    }
    Store(chain, c);
}

#else // no AES instructions on this processor family

bool Available() {
    return false;
}
void ExpandKey128(const uint8_t *, uint8_t *, uint8_t *) {}
void EncryptEcb(const uint8_t *, const uint8_t *, uint8_t *, size_t) {}
void DecryptEcb(const uint8_t *, const uint8_t *, uint8_t *, size_t) {}
void EncryptCbc(const uint8_t *, uint8_t *, const uint8_t *, uint8_t *, size_t) {}
void DecryptCbc(const uint8_t *, uint8_t *, const uint8_t *, uint8_t *, size_t) {}
void EncryptCfb(const uint8_t *, uint8_t *, const uint8_t *, uint8_t *, size_t) {}
void DecryptCfb(const uint8_t *, uint8_t *, const uint8_t *, uint8_t *, size_t) {}

#endif

} // namespace kestrun::crypto::aesni
