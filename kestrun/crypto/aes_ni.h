// AES-128 with the processor's AES instructions (x86 and x86-64), used by AES when the processor
// has them. Round keys are kept as 11 blocks of 16 bytes in the order the instructions take them;
// no buffer needs any particular alignment.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrun::crypto::aesni {

inline constexpr size_t kScheduleBytes = 11 * 16;

// Whether this processor has the AES instructions (and the SSE2/SSSE3 they are used with).
bool Available();

// Expands a 16-byte key into the encryption schedule and the schedule of the equivalent inverse
// cipher. Call only when Available().
void ExpandKey128(const uint8_t *key, uint8_t *encryptKeys, uint8_t *decryptKeys);

// `blocks` 16-byte blocks from `in` to `out` (which may be the same buffer). The chained modes
// read and update the 16-byte `chain` register. Call only when Available().
void EncryptEcb(const uint8_t *encryptKeys, const uint8_t *in, uint8_t *out, size_t blocks);
void DecryptEcb(const uint8_t *decryptKeys, const uint8_t *in, uint8_t *out, size_t blocks);
void EncryptCbc(const uint8_t *encryptKeys, uint8_t *chain, const uint8_t *in, uint8_t *out,
                size_t blocks);
void DecryptCbc(const uint8_t *decryptKeys, uint8_t *chain, const uint8_t *in, uint8_t *out,
                size_t blocks);
void EncryptCfb(const uint8_t *encryptKeys, uint8_t *chain, const uint8_t *in, uint8_t *out,
                size_t blocks);
void DecryptCfb(const uint8_t *encryptKeys, uint8_t *chain, const uint8_t *in, uint8_t *out,
                size_t blocks);

} // namespace kestrun::crypto::aesni
