// The MD5 message digest (RFC 1321).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrun::crypto {

// One digest computation: construct, feed bytes with Update, read the digest with HexDigest.
class Md5Context {
public:
    Md5Context();

    // Absorbs `length` bytes. Whole 64-byte blocks are compressed straight from `bytes`; the
    // remainder waits in the buffer. Ignored once the digest has been produced.
    void Update(const uint8_t *bytes, uint32_t length);
    // Any length: fed in pieces that fit the 32-bit count.
    void Update(std::string_view bytes);

    // The 32 lowercase hexadecimal digits of the digest. The first call pads the message and
    // finishes the computation; later calls format the same digest again.
    std::string HexDigest();

private:
    void Compress(const uint8_t *blocks, size_t count);

    uint32_t state_[4];
    uint32_t count_[2]; // message length in bits, low word first
    uint8_t buffer_[64];
    uint8_t digest_[16];
    bool finalized_;
};

// MD5 of `bytes` as 32 lowercase hexadecimal digits.
std::string Md5Hex(std::string_view bytes);

} // namespace kestrun::crypto
