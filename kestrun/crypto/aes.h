// AES (FIPS-197) with a 16-byte block and a chain register for the ECB, CBC and CFB-128 modes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestrun::crypto {

// The 16 key (or IV) bytes of a text: its bytes up to the first zero byte, the first 16 of them,
// zero-filled when there are fewer.
std::array<uint8_t, 16> KeyBytesFromText(std::string_view text);

// Mode numbers as callers pass them: 1 = CBC, 2 = CFB with 128-bit feedback, anything else = ECB.
inline constexpr int kModeCbc = 1;
inline constexpr int kModeCfb = 2;

// Which code runs the cipher: the processor's AES instructions for 16-byte keys when it has them
// (else the tables), or the tables always (the reference the instructions are checked against).
enum class AesEngine { Fastest, Tables };

class AES {
public:
    AES() = default;
    explicit AES(AesEngine engine) : tablesOnly_(engine == AesEngine::Tables) {}
    virtual ~AES() = default;

    // Whether this processor has the AES instructions.
    static bool HardwareAvailable();
    // Whether the key set last runs on the AES instructions.
    bool UsesHardware() const { return keyReady_ && hardware_; }

    // Expands `key` (16, 24 or 32 bytes) into the encryption and decryption schedules and loads
    // the first `blockSize` bytes of `iv` into the chain register. Only 16-byte blocks exist;
    // other sizes leave the key not ready.
    void SetKey(const uint8_t *key, const uint8_t *iv, int keyLength, int blockSize);

    // One 16-byte block; nothing happens while the key is not ready. `in` and `out` may be the
    // same buffer.
    void EncryptBlock(const uint8_t *in, uint8_t *out) const;
    void DecryptBlock(const uint8_t *in, uint8_t *out) const;

    // `n` bytes, block after block, in the mode given by its number. Nothing happens (the output
    // is not touched) when the key is not ready or `n` is not a positive multiple of 16. The chain
    // register carries over to the next call. `in` and `out` may be the same buffer.
    void Encrypt(const uint8_t *in, uint8_t *out, size_t n, int mode);
    void Decrypt(const uint8_t *in, uint8_t *out, size_t n, int mode);

private:
    bool keyReady_ = false;
    uint32_t encryptKeys_[15][8] = {};
    uint32_t decryptKeys_[15][8] = {};
    int keyLength_ = 0;
    int blockSize_ = 0;
    int rounds_ = 0;
    uint8_t initialChain_[32] = {};
    uint8_t chain_[32] = {};
    bool tablesOnly_ = false;
    bool hardware_ = false;
    // The AES-128 schedules in the byte order of the AES instructions (used when hardware_).
    uint8_t hardwareEncryptKeys_[176] = {};
    uint8_t hardwareDecryptKeys_[176] = {};
};

} // namespace kestrun::crypto
