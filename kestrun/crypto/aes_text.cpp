#include "kestrun/crypto/aes_text.h"

#include "kestrun/codecs/base64.h"
#include "kestrun/crypto/aes.h"
#include "kestrun/crypto/file_access.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace kestrun::crypto {
namespace {

uint8_t HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<uint8_t>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<uint8_t>(c - 'A' + 10);
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<uint8_t>(c - 'a' + 10);
    }
    return 0;
}

// An AES object keyed with the 16 bytes of each text.
AES KeyedAes(std::string_view key, std::string_view iv) {
    const auto keyBytes = KeyBytesFromText(key);
    const auto ivBytes = KeyBytesFromText(iv);
    AES aes;
    aes.SetKey(keyBytes.data(), ivBytes.data(), 16, 16);
    return aes;
}

std::string_view UpToZero(std::string_view s) {
    return s.substr(0, s.find('\0'));
}

// Plaintext is encrypted and turned into text a slice at a time, so that the ciphertext never
// needs a buffer of its own: a slice stays in the processor's cache between the two steps. A
// multiple of 3 and of 16, so that every slice but the last gives whole Base64 groups.
constexpr size_t kTextSlice = 48 * 1024;

// The file exports read and write this much at a time (a multiple of 16).
constexpr size_t kFileChunk = size_t{1} << 20;

void HexEncodeTo(const uint8_t *bytes, size_t n, char *out) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 15];
    }
}

void HexDecodeTo(std::string_view text, char *out) {
    for (size_t i = 0; i < text.size(); i += 2) {
        const uint8_t low = i + 1 < text.size() ? HexValue(text[i + 1]) : 0;
        out[i / 2] = static_cast<char>((HexValue(text[i]) << 4) | low);
    }
}

// Cuts every 16-byte block of `data` (n a multiple of 16) at its first zero byte: the rest of
// that block becomes zeros.
void CutBlocksAtZero(uint8_t *data, size_t n) {
    size_t at = 0;
    while (at < n) {
        auto *zero = static_cast<uint8_t *>(std::memchr(data + at, 0, n - at));
        if (zero == nullptr) {
            return;
        }
        const auto offset = static_cast<size_t>(zero - data);
        const size_t blockEnd = (offset / 16 + 1) * 16;
        std::memset(zero, 0, blockEnd - offset);
        at = blockEnd;
    }
}

// Keeps of every 16-byte block of `data` (n a multiple of 16) the bytes before its first zero
// byte, moved together to the front; returns how many bytes are kept.
size_t KeepBlocksUpToZero(uint8_t *data, size_t n) {
    size_t kept = 0;
    size_t at = 0;
    while (at < n) {
        const auto *zero = static_cast<const uint8_t *>(std::memchr(data + at, 0, n - at));
        const size_t end = zero == nullptr ? n : static_cast<size_t>(zero - data);
        if (kept != at) {
            std::memmove(data + kept, data + at, end - at);
        }
        kept += end - at;
        at = zero == nullptr ? n : (end / 16 + 1) * 16;
    }
    return kept;
}

} // namespace

std::string CipherBase64Encode(std::string_view bytes) {
    return codecs::Base64Encode(bytes);
}

std::string CipherBase64Decode(std::string_view text) {
    std::string out(codecs::Base64DecodedBound(text.size()), '\0');
    out.resize(codecs::Base64DecodeRunTo(text, out.data()));
    return out;
}

std::string CipherHexEncode(std::string_view bytes) {
    std::string out(bytes.size() * 2, '\0');
    HexEncodeTo(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), out.data());
    return out;
}

std::string CipherHexDecode(std::string_view text) {
    std::string out((text.size() + 1) / 2, '\0');
    HexDecodeTo(text, out.data());
    return out;
}

size_t AesEncryptedTextSize(size_t length, int32_t encoding) {
    const size_t padded = (length / 16 + 1) * 16;
    return encoding == 1 ? 2 * padded : codecs::Base64EncodedSize(padded);
}

void AesEncryptTextTo(std::string_view plaintext, std::string_view key, std::string_view iv,
                      int32_t mode, int32_t padding, int32_t encoding, char *out) {
    plaintext = UpToZero(plaintext);
    const size_t length = plaintext.size();
    const size_t padded = (length / 16 + 1) * 16;
    const auto fill = static_cast<uint8_t>(padding == 1 ? padded - length : 0);
    const auto *plain = reinterpret_cast<const uint8_t *>(plaintext.data());

    AES aes = KeyedAes(key, iv);
    const auto slice = std::make_unique_for_overwrite<uint8_t[]>(std::min(padded, kTextSlice));
    for (size_t at = 0; at < padded; at += kTextSlice) {
        const size_t n = std::min(kTextSlice, padded - at);
        if (at + n <= length) {
            aes.Encrypt(plain + at, slice.get(), n, mode);
        } else {
            // The slice that holds the padding (and whatever text is left before it).
            const size_t text = length > at ? length - at : 0;
            std::memcpy(slice.get(), plain + at, text);
            std::memset(slice.get() + text, fill, n - text);
            aes.Encrypt(slice.get(), slice.get(), n, mode);
        }
        if (encoding == 1) {
            HexEncodeTo(slice.get(), n, out + 2 * at);
        } else {
            codecs::Base64EncodeTo(std::string_view(reinterpret_cast<const char *>(slice.get()), n),
                                   out + at / 3 * 4);
        }
    }
}

std::string AesEncryptText(std::string_view plaintext, std::string_view key, std::string_view iv,
                           int32_t mode, int32_t padding, int32_t encoding) {
    plaintext = UpToZero(plaintext);
    std::string out(AesEncryptedTextSize(plaintext.size(), encoding), '\0');
    AesEncryptTextTo(plaintext, key, iv, mode, padding, encoding, out.data());
    return out;
}

size_t AesDecryptedBound(size_t textSize, int32_t encoding) {
    return encoding == 1 ? (textSize + 1) / 2 : codecs::Base64DecodedBound(textSize);
}

size_t AesDecryptTextTo(std::string_view cipherText, std::string_view key, std::string_view iv,
                        int32_t mode, int32_t padding, int32_t encoding, char *out) {
    cipherText = UpToZero(cipherText);
    size_t n = 0;
    if (encoding == 1) {
        HexDecodeTo(cipherText, out);
        n = (cipherText.size() + 1) / 2;
    } else {
        n = codecs::Base64DecodeRunTo(cipherText, out);
    }
    // Ciphertext that is not a whole number of blocks decrypts to nothing.
    if (n == 0 || n % 16 != 0) {
        return 0;
    }
    auto *plain = reinterpret_cast<uint8_t *>(out);
    AES aes = KeyedAes(key, iv);
    aes.Decrypt(plain, plain, n, mode);

    if (padding == 1) {
        const uint8_t h = plain[n - 1];
        if (h >= 1 && h <= 22) {
            if (h > n) {
                return 0;
            }
            for (size_t k = 1; k <= h; ++k) {
                uint8_t &byte = plain[n - k];
                if (byte != h) {
                    return 0; // a broken run empties the whole result
                }
                byte = 0;
            }
        }
    }
    const void *zero = std::memchr(plain, 0, n);
    return zero == nullptr ? n : static_cast<size_t>(static_cast<const uint8_t *>(zero) - plain);
}

std::string AesDecryptText(std::string_view cipherText, std::string_view key, std::string_view iv,
                           int32_t mode, int32_t padding, int32_t encoding) {
    cipherText = UpToZero(cipherText);
    std::string out(AesDecryptedBound(cipherText.size(), encoding), '\0');
    out.resize(AesDecryptTextTo(cipherText, key, iv, mode, padding, encoding, out.data()));
    return out;
}

FileCipherStatus AesEncryptFile(std::string_view sourcePath, std::string_view targetPath,
                                std::string_view key, std::string_view iv, int32_t mode) {
    if (IsSameExistingFile(sourcePath, targetPath)) {
        return FileCipherStatus::SourceNotOpened;
    }
    // Both are opened before either is checked: the target is created or emptied even when the
    // source is missing.
    const UniqueFile source = OpenFile(sourcePath, "rb");
    const UniqueFile target = OpenFile(targetPath, "wb");
    if (!source) {
        return FileCipherStatus::SourceNotOpened;
    }
    if (!target) {
        return FileCipherStatus::TargetNotOpened;
    }
    AES aes = KeyedAes(key, iv);
    const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(kFileChunk);
    // A read comes up short only at the end of the file or at a read error: that chunk's last,
    // incomplete block (all zeros when nothing is left over, so that a source whose length is a
    // multiple of 16, an empty one too, ends with a block of zeros) is the last one.
    for (;;) {
        const size_t got = std::fread(buffer.get(), 1, kFileChunk, source.get());
        const bool last = got < kFileChunk;
        size_t n = got / 16 * 16;
        if (last) {
            std::memset(buffer.get() + got, 0, n + 16 - got);
            n += 16;
        }
        CutBlocksAtZero(buffer.get(), n);
        aes.Encrypt(buffer.get(), buffer.get(), n, mode);
        std::fwrite(buffer.get(), 1, n, target.get());
        if (last) {
            break;
        }
    }
    return FileCipherStatus::Ok;
}

FileCipherStatus AesDecryptFile(std::string_view sourcePath, std::string_view targetPath,
                                std::string_view key, std::string_view iv, int32_t mode) {
    if (IsSameExistingFile(sourcePath, targetPath)) {
        return FileCipherStatus::SourceNotOpened;
    }
    const UniqueFile source = OpenFile(sourcePath, "rb");
    const UniqueFile target = OpenFile(targetPath, "wb");
    if (!source) {
        return FileCipherStatus::SourceNotOpened;
    }
    if (!target) {
        return FileCipherStatus::TargetNotOpened;
    }
    AES aes = KeyedAes(key, iv);
    const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(kFileChunk);
    // A short read (the end of the file or a read error) ends the pass after its bytes, a last
    // incomplete block being zero-filled.
    for (;;) {
        const size_t got = std::fread(buffer.get(), 1, kFileChunk, source.get());
        if (got == 0) {
            break;
        }
        const size_t n = (got + 15) / 16 * 16;
        std::memset(buffer.get() + got, 0, n - got);
        aes.Decrypt(buffer.get(), buffer.get(), n, mode);
        std::fwrite(buffer.get(), 1, KeepBlocksUpToZero(buffer.get(), n), target.get());
        if (got < kFileChunk) {
            break;
        }
    }
    return FileCipherStatus::Ok;
}

} // namespace kestrun::crypto
