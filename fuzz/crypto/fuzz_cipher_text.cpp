#include "fuzz_cipher_text.h"

#include "kestrun/crypto/aes.h"
#include "kestrun/crypto/aes_text.h"

#include <cstdlib>
#include <string>

namespace {

using namespace kestrun::crypto;

constexpr char kKey[] = "fuzzing key 0123";
constexpr char kIv[] = "fuzzing iv 45678";

// Base64 characters up to the first one outside the alphabet, 4 to 3 bytes.
std::string ReferenceBase64(std::string_view text) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        const size_t v = c == '\0' ? std::string::npos : alphabet.find(c);
        if (v == std::string::npos) {
            break;
        }
        bits = (bits << 6) | static_cast<uint32_t>(v);
        if (++count == 4) {
            out += {static_cast<char>(bits >> 16), static_cast<char>(bits >> 8),
                    static_cast<char>(bits)};
            bits = 0;
            count = 0;
        }
    }
    if (count == 2) {
        out.push_back(static_cast<char>(bits >> 4));
    } else if (count == 3) {
        out += {static_cast<char>(bits >> 10), static_cast<char>(bits >> 2)};
    }
    return out;
}

// Decryption block by block on the table engine, then the padding rules and the cut at the
// first zero byte.
std::string ReferenceDecrypt(std::string cipher, int mode, int padding) {
    if (cipher.empty() || cipher.size() % 16 != 0) {
        return {};
    }
    const auto key = KeyBytesFromText(kKey);
    const auto iv = KeyBytesFromText(kIv);
    AES aes(AesEngine::Tables);
    aes.SetKey(key.data(), iv.data(), 16, 16);
    auto *p = reinterpret_cast<uint8_t *>(cipher.data());
    for (size_t at = 0; at < cipher.size(); at += 16) {
        aes.Decrypt(p + at, p + at, 16, mode);
    }
    const size_t n = cipher.size();
    if (padding == 1) {
        const auto h = static_cast<uint8_t>(cipher[n - 1]);
        if (h >= 1 && h <= 22) {
            if (h > n) {
                return {};
            }
            for (size_t k = 1; k <= h; ++k) {
                if (static_cast<uint8_t>(cipher[n - k]) != h) {
                    return {};
                }
                cipher[n - k] = '\0';
            }
        }
    }
    return cipher.substr(0, cipher.find('\0'));
}

} // namespace

void FuzzCipherText(std::string_view input) {
    if (input.empty()) {
        return;
    }
    const auto choice = static_cast<uint8_t>(input[0]);
    const int mode = choice % 4;            // 3 is ECB like 0
    const int padding = (choice >> 2) % 2;  // 1 = PKCS#7
    const int encoding = (choice >> 3) % 2; // 1 = hexadecimal
    const std::string_view text = input.substr(1, input.substr(1).find('\0'));

    const std::string cipher = encoding == 1 ? CipherHexDecode(text) : CipherBase64Decode(text);
    if (encoding != 1 && cipher != ReferenceBase64(text)) {
        std::abort();
    }
    const std::string plain = AesDecryptText(text, kKey, kIv, mode, padding, encoding);
    if (plain != ReferenceDecrypt(cipher, mode, padding)) {
        std::abort();
    }
    // What decrypts must encrypt back to a text that decrypts to it again.
    const std::string again = AesEncryptText(plain, kKey, kIv, mode, padding, encoding);
    if (AesDecryptText(again, kKey, kIv, mode, padding, encoding) != plain) {
        std::abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzCipherText(std::string_view(reinterpret_cast<const char *>(data), size));
    return 0;
}
