#include "kestrun/crypto/aes_text.h"

#include "kestrun/crypto/aes.h"
#include "kestrun/crypto/file_access.h"

#include <array>
#include <cstring>

namespace kestrun::crypto {
namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kNotBase64 = 0xFF;

constexpr std::array<uint8_t, 256> MakeBase64Values() {
    std::array<uint8_t, 256> values{};
    for (auto &v : values) {
        v = kNotBase64;
    }
    for (uint8_t i = 0; i < 64; ++i) {
        values[static_cast<uint8_t>(kBase64Alphabet[i])] = i;
    }
    return values;
}

constexpr std::array<uint8_t, 256> kBase64Values = MakeBase64Values();

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

uint8_t *Bytes(std::string &s) {
    return reinterpret_cast<uint8_t *>(s.data());
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

} // namespace

std::string CipherBase64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    const auto *p = reinterpret_cast<const uint8_t *>(bytes.data());
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t v = (uint32_t{p[i]} << 16) | (uint32_t{p[i + 1]} << 8) | p[i + 2];
        out.push_back(kBase64Alphabet[v >> 18]);
        out.push_back(kBase64Alphabet[(v >> 12) & 63]);
        out.push_back(kBase64Alphabet[(v >> 6) & 63]);
        out.push_back(kBase64Alphabet[v & 63]);
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        const uint32_t v = (uint32_t{p[i]} << 16) | (rest == 2 ? uint32_t{p[i + 1]} << 8 : 0);
        out.push_back(kBase64Alphabet[v >> 18]);
        out.push_back(kBase64Alphabet[(v >> 12) & 63]);
        out.push_back(rest == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

std::string CipherBase64Decode(std::string_view text) {
    size_t length = 0;
    while (length < text.size() &&
           kBase64Values[static_cast<uint8_t>(text[length])] != kNotBase64) {
        ++length;
    }
    std::string out;
    out.reserve(length / 4 * 3 + 2);
    uint32_t bits = 0;
    int count = 0;
    for (size_t i = 0; i < length; ++i) {
        bits = (bits << 6) | kBase64Values[static_cast<uint8_t>(text[i])];
        if (++count == 4) {
            out.push_back(static_cast<char>(bits >> 16));
            out.push_back(static_cast<char>(bits >> 8));
            out.push_back(static_cast<char>(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count == 2) {
        out.push_back(static_cast<char>(bits >> 4));
    } else if (count == 3) {
        out.push_back(static_cast<char>(bits >> 10));
        out.push_back(static_cast<char>(bits >> 2));
    }
    return out;
}

std::string CipherHexEncode(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(bytes.size() * 2, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<uint8_t>(bytes[i]);
        out[2 * i] = kDigits[b >> 4];
        out[2 * i + 1] = kDigits[b & 15];
    }
    return out;
}

std::string CipherHexDecode(std::string_view text) {
    std::string out((text.size() + 1) / 2, '\0');
    for (size_t i = 0; i < text.size(); i += 2) {
        const uint8_t low = i + 1 < text.size() ? HexValue(text[i + 1]) : 0;
        out[i / 2] = static_cast<char>((HexValue(text[i]) << 4) | low);
    }
    return out;
}

std::string AesEncryptText(std::string_view plaintext, std::string_view key, std::string_view iv,
                           int32_t mode, int32_t padding, int32_t encoding) {
    plaintext = UpToZero(plaintext);
    const size_t length = plaintext.size();
    const size_t padded = (length / 16 + 1) * 16;
    const char fill = padding == 1 ? static_cast<char>(padded - length) : '\0';
    std::string buffer(plaintext);
    buffer.resize(padded, fill);

    AES aes = KeyedAes(key, iv);
    aes.Encrypt(Bytes(buffer), Bytes(buffer), buffer.size(), mode);
    return encoding == 1 ? CipherHexEncode(buffer) : CipherBase64Encode(buffer);
}

std::string AesDecryptText(std::string_view cipherText, std::string_view key, std::string_view iv,
                           int32_t mode, int32_t padding, int32_t encoding) {
    cipherText = UpToZero(cipherText);
    const std::string cipher =
        encoding == 1 ? CipherHexDecode(cipherText) : CipherBase64Decode(cipherText);
    const size_t n = cipher.size();
    std::string plain(n, '\0');
    AES aes = KeyedAes(key, iv);
    aes.Decrypt(reinterpret_cast<const uint8_t *>(cipher.data()), Bytes(plain), n, mode);

    if (padding == 1 && n > 0) {
        const auto h = static_cast<uint8_t>(plain[n - 1]);
        if (h >= 1 && h <= 22) {
            if (h > n) {
                return {};
            }
            for (size_t k = 1; k <= h; ++k) {
                char &byte = plain[n - k];
                if (static_cast<uint8_t>(byte) != h) {
                    std::memset(plain.data(), 0, n);
                    break;
                }
                byte = '\0';
            }
        }
    }
    plain.resize(UpToZero(plain).size());
    return plain;
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
    // The end of the file shows only after a read comes up short, so a source whose length is a
    // multiple of 16 (an empty one too) ends with a block of zeros. A read error also ends the
    // loop, since the end would never be reached.
    do {
        uint8_t block[16] = {};
        const size_t got = std::fread(block, 1, sizeof block, source.get());
        if (void *zero = std::memchr(block, 0, got)) {
            std::memset(zero, 0,
                        sizeof block - static_cast<size_t>(static_cast<uint8_t *>(zero) - block));
        }
        uint8_t out[16];
        aes.Encrypt(block, out, sizeof block, mode);
        std::fwrite(out, 1, sizeof out, target.get());
    } while (!std::feof(source.get()) && !std::ferror(source.get()));
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
    while (!std::feof(source.get()) && !std::ferror(source.get())) {
        uint8_t block[16] = {};
        if (std::fread(block, 1, sizeof block, source.get()) == 0) {
            continue;
        }
        uint8_t out[16];
        aes.Decrypt(block, out, sizeof block, mode);
        const auto *zero = static_cast<const uint8_t *>(std::memchr(out, 0, sizeof out));
        std::fwrite(out, 1, zero == nullptr ? sizeof out : static_cast<size_t>(zero - out),
                    target.get());
    }
    return FileCipherStatus::Ok;
}

} // namespace kestrun::crypto
