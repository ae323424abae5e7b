#include "kestrun/crypto/aes.h"

#include "kestrun/crypto/aes_ni.h"

#include <bit>
#include <cstring>

namespace kestrun::crypto {
namespace {

using Table = std::array<uint32_t, 256>;
using ByteTable = std::array<uint8_t, 256>;

constexpr uint8_t Times2(uint8_t x) {
    return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) != 0 ? 0x1b : 0));
}

constexpr uint8_t Multiply(uint8_t a, uint8_t b) {
    uint8_t product = 0;
    while (b != 0) {
        if ((b & 1) != 0) {
            product ^= a;
        }
        a = Times2(a);
        b >>= 1;
    }
    return product;
}

// The S-box: the multiplicative inverse in GF(2^8) followed by the affine transformation. The
// inverses come from walking the powers of the generator 3 and of its inverse 0xf6 together.
constexpr ByteTable MakeSBox() {
    ByteTable box{};
    uint8_t p = 1;
    uint8_t q = 1;
    do {
        p = static_cast<uint8_t>(p ^ Times2(p)); // p * 3
        q = Multiply(q, 0xf6);                   // q / 3, so q = 1 / p
        const uint8_t x = q;
        const uint8_t s = static_cast<uint8_t>(x ^ std::rotl(x, 1) ^ std::rotl(x, 2) ^
                                               std::rotl(x, 3) ^ std::rotl(x, 4) ^ 0x63);
        box[p] = s;
    } while (p != 1);
    box[0] = 0x63;
    return box;
}

constexpr ByteTable kSBox = MakeSBox();

constexpr ByteTable MakeInverseSBox() {
    ByteTable inverse{};
    for (int i = 0; i < 256; ++i) {
        inverse[kSBox[i]] = static_cast<uint8_t>(i);
    }
    return inverse;
}

constexpr ByteTable kInvSBox = MakeInverseSBox();

constexpr uint32_t Word(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
    return (uint32_t{b0} << 24) | (uint32_t{b1} << 16) | (uint32_t{b2} << 8) | b3;
}

// Round tables: SubBytes + ShiftRows + MixColumns of one byte position, rotated per position.
constexpr Table MakeEncryptTable(int rotation) {
    Table t{};
    for (int i = 0; i < 256; ++i) {
        const uint8_t s = kSBox[i];
        t[i] = std::rotr(Word(Multiply(s, 2), s, s, Multiply(s, 3)), 8 * rotation);
    }
    return t;
}

constexpr Table MakeDecryptTable(int rotation) {
    Table t{};
    for (int i = 0; i < 256; ++i) {
        const uint8_t s = kInvSBox[i];
        t[i] = std::rotr(Word(Multiply(s, 14), Multiply(s, 9), Multiply(s, 13), Multiply(s, 11)),
                         8 * rotation);
    }
    return t;
}

constexpr Table kTe0 = MakeEncryptTable(0);
constexpr Table kTe1 = MakeEncryptTable(1);
constexpr Table kTe2 = MakeEncryptTable(2);
constexpr Table kTe3 = MakeEncryptTable(3);
constexpr Table kTd0 = MakeDecryptTable(0);
constexpr Table kTd1 = MakeDecryptTable(1);
constexpr Table kTd2 = MakeDecryptTable(2);
constexpr Table kTd3 = MakeDecryptTable(3);

inline uint32_t LoadBigEndian(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return std::endian::native == std::endian::little ? __builtin_bswap32(v) : v;
}

inline void StoreBigEndian(uint8_t *p, uint32_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        v = __builtin_bswap32(v);
    }
    std::memcpy(p, &v, 4);
}

inline uint8_t Byte(uint32_t w, int index) {
    return static_cast<uint8_t>(w >> (24 - 8 * index));
}

uint32_t SubWord(uint32_t w) {
    return Word(kSBox[Byte(w, 0)], kSBox[Byte(w, 1)], kSBox[Byte(w, 2)], kSBox[Byte(w, 3)]);
}

// InvMixColumns of one word: the decryption tables applied to S-box outputs cancel InvSubBytes.
uint32_t InvMixColumn(uint32_t w) {
    return kTd0[kSBox[Byte(w, 0)]] ^ kTd1[kSBox[Byte(w, 1)]] ^ kTd2[kSBox[Byte(w, 2)]] ^
           kTd3[kSBox[Byte(w, 3)]];
}

struct State {
    uint32_t s0, s1, s2, s3;
};

inline State AddRoundKey(State s, const uint32_t *k) {
    return State{s.s0 ^ k[0], s.s1 ^ k[1], s.s2 ^ k[2], s.s3 ^ k[3]};
}

inline uint32_t EncryptColumn(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
    return kTe0[a >> 24] ^ kTe1[(b >> 16) & 0xff] ^ kTe2[(c >> 8) & 0xff] ^ kTe3[d & 0xff] ^ k;
}

inline uint32_t DecryptColumn(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
    return kTd0[a >> 24] ^ kTd1[(b >> 16) & 0xff] ^ kTd2[(c >> 8) & 0xff] ^ kTd3[d & 0xff] ^ k;
}

inline uint32_t LastColumn(const ByteTable &box, uint32_t a, uint32_t b, uint32_t c, uint32_t d,
                           uint32_t k) {
    return Word(box[a >> 24], box[(b >> 16) & 0xff], box[(c >> 8) & 0xff], box[d & 0xff]) ^ k;
}

// One full round of the cipher: SubBytes, ShiftRows, MixColumns and AddRoundKey by table.
inline State EncryptRound(State s, const uint32_t *k) {
    return State{
        EncryptColumn(s.s0, s.s1, s.s2, s.s3, k[0]), EncryptColumn(s.s1, s.s2, s.s3, s.s0, k[1]),
        EncryptColumn(s.s2, s.s3, s.s0, s.s1, k[2]), EncryptColumn(s.s3, s.s0, s.s1, s.s2, k[3])};
}

inline State EncryptLastRound(State s, const uint32_t *k) {
    return State{LastColumn(kSBox, s.s0, s.s1, s.s2, s.s3, k[0]),
                 LastColumn(kSBox, s.s1, s.s2, s.s3, s.s0, k[1]),
                 LastColumn(kSBox, s.s2, s.s3, s.s0, s.s1, k[2]),
                 LastColumn(kSBox, s.s3, s.s0, s.s1, s.s2, k[3])};
}

// One round of the equivalent inverse cipher (InvShiftRows takes the columns the other way).
inline State DecryptRound(State s, const uint32_t *k) {
    return State{
        DecryptColumn(s.s0, s.s3, s.s2, s.s1, k[0]), DecryptColumn(s.s1, s.s0, s.s3, s.s2, k[1]),
        DecryptColumn(s.s2, s.s1, s.s0, s.s3, k[2]), DecryptColumn(s.s3, s.s2, s.s1, s.s0, k[3])};
}

inline State DecryptLastRound(State s, const uint32_t *k) {
    return State{LastColumn(kInvSBox, s.s0, s.s3, s.s2, s.s1, k[0]),
                 LastColumn(kInvSBox, s.s1, s.s0, s.s3, s.s2, k[1]),
                 LastColumn(kInvSBox, s.s2, s.s1, s.s0, s.s3, k[2]),
                 LastColumn(kInvSBox, s.s3, s.s2, s.s1, s.s0, k[3])};
}

inline State Cipher(const uint32_t (*rk)[8], int rounds, State in) {
    State s = AddRoundKey(in, rk[0]);
    for (int r = 1; r < rounds; ++r) {
        s = EncryptRound(s, rk[r]);
    }
    return EncryptLastRound(s, rk[rounds]);
}

inline State InverseCipher(const uint32_t (*rk)[8], int rounds, State in) {
    State s = AddRoundKey(in, rk[0]);
    for (int r = 1; r < rounds; ++r) {
        s = DecryptRound(s, rk[r]);
    }
    return DecryptLastRound(s, rk[rounds]);
}

// Two independent blocks through the cipher at once: where the mode lets blocks be processed
// independently, the two chains of look-ups overlap in the processor.
inline void Cipher2(const uint32_t (*rk)[8], int rounds, State &x, State &y) {
    x = AddRoundKey(x, rk[0]);
    y = AddRoundKey(y, rk[0]);
    for (int r = 1; r < rounds; ++r) {
        x = EncryptRound(x, rk[r]);
        y = EncryptRound(y, rk[r]);
    }
    x = EncryptLastRound(x, rk[rounds]);
    y = EncryptLastRound(y, rk[rounds]);
}

// Two independent blocks through the inverse cipher at once: where the mode lets blocks be
// decrypted independently, the two chains of look-ups overlap in the processor.
inline void InverseCipher2(const uint32_t (*rk)[8], int rounds, State &x, State &y) {
    x = AddRoundKey(x, rk[0]);
    y = AddRoundKey(y, rk[0]);
    for (int r = 1; r < rounds; ++r) {
        x = DecryptRound(x, rk[r]);
        y = DecryptRound(y, rk[r]);
    }
    x = DecryptLastRound(x, rk[rounds]);
    y = DecryptLastRound(y, rk[rounds]);
}

inline State LoadState(const uint8_t *p) {
    return State{LoadBigEndian(p), LoadBigEndian(p + 4), LoadBigEndian(p + 8),
                 LoadBigEndian(p + 12)};
}

inline void StoreState(uint8_t *p, State s) {
    StoreBigEndian(p, s.s0);
    StoreBigEndian(p + 4, s.s1);
    StoreBigEndian(p + 8, s.s2);
    StoreBigEndian(p + 12, s.s3);
}

inline State Xor(State a, State b) {
    return State{a.s0 ^ b.s0, a.s1 ^ b.s1, a.s2 ^ b.s2, a.s3 ^ b.s3};
}

} // namespace

std::array<uint8_t, 16> KeyBytesFromText(std::string_view text) {
    std::array<uint8_t, 16> bytes{};
    for (size_t i = 0; i < text.size() && i < bytes.size() && text[i] != '\0'; ++i) {
        bytes[i] = static_cast<uint8_t>(text[i]);
    }
    return bytes;
}

void AES::SetKey(const uint8_t *key, const uint8_t *iv, int keyLength, int blockSize) {
    keyReady_ = false;
    if (key == nullptr || iv == nullptr || blockSize != 16 ||
        (keyLength != 16 && keyLength != 24 && keyLength != 32)) {
        return;
    }
    keyLength_ = keyLength;
    blockSize_ = blockSize;
    std::memcpy(initialChain_, iv, static_cast<size_t>(blockSize));
    std::memcpy(chain_, initialChain_, static_cast<size_t>(blockSize));
    rounds_ = keyLength == 16 ? 10 : keyLength == 24 ? 12 : 14;
    for (int r = 0; r <= rounds_; ++r) {
        std::memset(encryptKeys_[r], 0, sizeof encryptKeys_[r]);
        std::memset(decryptKeys_[r], 0, sizeof decryptKeys_[r]);
    }

    // FIPS-197 key expansion into 4 words per round key.
    const int nk = keyLength / 4;
    const int total = 4 * (rounds_ + 1);
    uint32_t w[4 * 15];
    for (int i = 0; i < nk; ++i) {
        w[i] = LoadBigEndian(key + 4 * i);
    }
    uint8_t rcon = 1;
    for (int i = nk; i < total; ++i) {
        uint32_t temp = w[i - 1];
        if (i % nk == 0) {
            temp = SubWord(std::rotl(temp, 8)) ^ (uint32_t{rcon} << 24);
            rcon = Times2(rcon);
        } else if (nk > 6 && i % nk == 4) {
            temp = SubWord(temp);
        }
        w[i] = w[i - nk] ^ temp;
    }
    for (int r = 0; r <= rounds_; ++r) {
        for (int j = 0; j < 4; ++j) {
            encryptKeys_[r][j] = w[4 * r + j];
            decryptKeys_[rounds_ - r][j] = w[4 * r + j];
        }
    }
    for (int r = 1; r < rounds_; ++r) {
        for (int j = 0; j < 4; ++j) {
            decryptKeys_[r][j] = InvMixColumn(decryptKeys_[r][j]);
        }
    }
    hardware_ = !tablesOnly_ && keyLength == 16 && aesni::Available();
    if (hardware_) {
        aesni::ExpandKey128(key, hardwareEncryptKeys_, hardwareDecryptKeys_);
    }
    keyReady_ = true;
}

bool AES::HardwareAvailable() {
    return aesni::Available();
}

void AES::EncryptBlock(const uint8_t *in, uint8_t *out) const {
    if (!keyReady_) {
        return;
    }
    if (hardware_) {
        aesni::EncryptEcb(hardwareEncryptKeys_, in, out, 1);
        return;
    }
    StoreState(out, Cipher(encryptKeys_, rounds_, LoadState(in)));
}

void AES::DecryptBlock(const uint8_t *in, uint8_t *out) const {
    if (!keyReady_) {
        return;
    }
    if (hardware_) {
        aesni::DecryptEcb(hardwareDecryptKeys_, in, out, 1);
        return;
    }
    StoreState(out, InverseCipher(decryptKeys_, rounds_, LoadState(in)));
}

void AES::Encrypt(const uint8_t *in, uint8_t *out, size_t n, int mode) {
    if (!keyReady_ || n == 0 || n % 16 != 0) {
        return;
    }
    size_t blocks = n / 16;
    if (hardware_) {
        if (mode == kModeCbc) {
            aesni::EncryptCbc(hardwareEncryptKeys_, chain_, in, out, blocks);
        } else if (mode == kModeCfb) {
            aesni::EncryptCfb(hardwareEncryptKeys_, chain_, in, out, blocks);
        } else {
            aesni::EncryptEcb(hardwareEncryptKeys_, in, out, blocks);
        }
        return;
    }
    if (mode == kModeCbc) {
        State chain = LoadState(chain_);
        for (size_t b = 0; b < blocks; ++b, in += 16, out += 16) {
            chain = Cipher(encryptKeys_, rounds_, Xor(chain, LoadState(in)));
            StoreState(out, chain);
        }
        StoreState(chain_, chain);
        return;
    }
    if (mode == kModeCfb) {
        State chain = LoadState(chain_);
        for (size_t b = 0; b < blocks; ++b, in += 16, out += 16) {
            chain = Xor(Cipher(encryptKeys_, rounds_, chain), LoadState(in));
            StoreState(out, chain);
        }
        StoreState(chain_, chain);
        return;
    }
    for (; blocks >= 2; blocks -= 2, in += 32, out += 32) {
        State x = LoadState(in);
        State y = LoadState(in + 16);
        Cipher2(encryptKeys_, rounds_, x, y);
        StoreState(out, x);
        StoreState(out + 16, y);
    }
    if (blocks == 1) {
        StoreState(out, Cipher(encryptKeys_, rounds_, LoadState(in)));
    }
}

void AES::Decrypt(const uint8_t *in, uint8_t *out, size_t n, int mode) {
    if (!keyReady_ || n == 0 || n % 16 != 0) {
        return;
    }
    size_t blocks = n / 16;
    if (hardware_) {
        if (mode == kModeCbc) {
            aesni::DecryptCbc(hardwareDecryptKeys_, chain_, in, out, blocks);
        } else if (mode == kModeCfb) {
            aesni::DecryptCfb(hardwareEncryptKeys_, chain_, in, out, blocks);
        } else {
            aesni::DecryptEcb(hardwareDecryptKeys_, in, out, blocks);
        }
        return;
    }
    if (mode == kModeCbc) {
        State chain = LoadState(chain_);
        for (; blocks >= 2; blocks -= 2, in += 32, out += 32) {
            const State first = LoadState(in);
            const State second = LoadState(in + 16);
            State x = first;
            State y = second;
            InverseCipher2(decryptKeys_, rounds_, x, y);
            StoreState(out, Xor(x, chain));
            StoreState(out + 16, Xor(y, first));
            chain = second;
        }
        if (blocks == 1) {
            const State cipher = LoadState(in);
            StoreState(out, Xor(InverseCipher(decryptKeys_, rounds_, cipher), chain));
            chain = cipher;
        }
        StoreState(chain_, chain);
        return;
    }
    if (mode == kModeCfb) {
        // The key stream of a block is the cipher of the ciphertext before it: known up front.
        State chain = LoadState(chain_);
        for (; blocks >= 2; blocks -= 2, in += 32, out += 32) {
            const State first = LoadState(in);
            const State second = LoadState(in + 16);
            State x = chain;
            State y = first;
            Cipher2(encryptKeys_, rounds_, x, y);
            StoreState(out, Xor(x, first));
            StoreState(out + 16, Xor(y, second));
            chain = second;
        }
        if (blocks == 1) {
            const State cipher = LoadState(in);
            StoreState(out, Xor(Cipher(encryptKeys_, rounds_, chain), cipher));
            chain = cipher;
        }
        StoreState(chain_, chain);
        return;
    }
    for (; blocks >= 2; blocks -= 2, in += 32, out += 32) {
        State x = LoadState(in);
        State y = LoadState(in + 16);
        InverseCipher2(decryptKeys_, rounds_, x, y);
        StoreState(out, x);
        StoreState(out + 16, y);
    }
    if (blocks == 1) {
        StoreState(out, InverseCipher(decryptKeys_, rounds_, LoadState(in)));
    }
}

} // namespace kestrun::crypto
