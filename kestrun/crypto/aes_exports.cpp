// AESEncrypt_GB, AESEncrypt_UTF8, AESDecrypt_GB, AESDecrypt_UTF8, AESEncryptTxtFile_GB,
// AESDecryptTxtFile_GB.
#include "kestrun.h"
#include "kestrun/crypto/aes_text.h"
#include "kestrun/interop/frame.h"

using namespace kestrun::interop;
namespace crypto = kestrun::crypto;

namespace {

constexpr char kMissingPath[] = // 文件参数不能为空！
    "\xCE\xC4\xBC\xFE\xB2\xCE\xCA\xFD\xB2\xBB\xC4\xDC\xCE\xAA\xBF\xD5\xA3\xA1";
constexpr char kEncryptSourceFailed[] = // 待加密文件打开失败！
    "\xB4\xFD\xBC\xD3\xC3\xDC\xCE\xC4\xBC\xFE\xB4\xF2\xBF\xAA\xCA\xA7\xB0\xDC\xA3\xA1";
constexpr char kEncryptTargetFailed[] = // 加密结果文件不存在！
    "\xBC\xD3\xC3\xDC\xBD\xE1\xB9\xFB\xCE\xC4\xBC\xFE\xB2\xBB\xB4\xE6\xD4\xDA\xA3\xA1";
constexpr char kDecryptSourceFailed[] = // 待解密文件打开失败！
    "\xB4\xFD\xBD\xE2\xC3\xDC\xCE\xC4\xBC\xFE\xB4\xF2\xBF\xAA\xCA\xA7\xB0\xDC\xA3\xA1";
constexpr char kDecryptTargetFailed[] = // 解密结果文件不存在！
    "\xBD\xE2\xC3\xDC\xBD\xE1\xB9\xFB\xCE\xC4\xBC\xFE\xB2\xBB\xB4\xE6\xD4\xDA\xA3\xA1";

const char *FileMessage(crypto::FileCipherStatus status, const char *sourceFailed,
                        const char *targetFailed) {
    switch (status) {
    case crypto::FileCipherStatus::Ok:
        return "OK";
    case crypto::FileCipherStatus::SourceNotOpened:
        return sourceFailed;
    case crypto::FileCipherStatus::TargetNotOpened:
        return targetFailed;
    }
    return targetFailed;
}

// The ciphertext text, written straight into the result.
BSTR EncryptedResult(std::string_view plaintext, const char *key, const char *iv, int32_t mode,
                     int32_t padding, int32_t encoding) {
    const size_t size = crypto::AesEncryptedTextSize(plaintext.size(), encoding);
    return WriteExactResult(size, [&](char *out) {
        crypto::AesEncryptTextTo(plaintext, InView(key), InView(iv), mode, padding, encoding, out);
    });
}

// The plaintext, decoded and decrypted in the result's own buffer.
BSTR DecryptedResult(std::string_view cipherText, const char *key, const char *iv, int32_t mode,
                     int32_t padding, int32_t encoding) {
    return WriteStringResult(
        crypto::AesDecryptedBound(cipherText.size(), encoding), [&](char *out) {
            return crypto::AesDecryptTextTo(cipherText, InView(key), InView(iv), mode, padding,
                                            encoding, out);
        });
}

} // namespace

KESTRUN_EXPORT BSTR KESTRUN_CALL AESEncrypt_GB(const char *text, const char *key, const char *iv,
                                               int32_t mode, int32_t padding, int32_t encoding) {
    if (text == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return EncryptedResult(text, key, iv, mode, padding, encoding); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL AESEncrypt_UTF8(const char *text, const char *key, const char *iv,
                                                 int32_t mode, int32_t padding, int32_t encoding) {
    if (text == nullptr) {
        return StringResult("");
    }
    return GuardString(
        [&] { return EncryptedResult(AnsiToUtf8(text), key, iv, mode, padding, encoding); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL AESDecrypt_GB(const char *cipherText, const char *key,
                                               const char *iv, int32_t mode, int32_t padding,
                                               int32_t encoding) {
    if (cipherText == nullptr) {
        return StringResult("");
    }
    return GuardString(
        [&] { return DecryptedResult(cipherText, key, iv, mode, padding, encoding); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL AESDecrypt_UTF8(const char *cipherText, const char *key,
                                                 const char *iv, int32_t mode, int32_t padding,
                                                 int32_t encoding) {
    if (cipherText == nullptr) {
        return StringResult("");
    }
    return GuardString([&] {
        return StringResult(Utf8ToAnsi(crypto::AesDecryptText(
            cipherText, InString(key), InString(iv), mode, padding, encoding)));
    });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL AESEncryptTxtFile_GB(const char *sourcePath,
                                                      const char *targetPath, const char *key,
                                                      const char *iv, int32_t mode) {
    if (sourcePath == nullptr || targetPath == nullptr) {
        return StringResult(kMissingPath);
    }
    return GuardString([&] {
        const auto status =
            crypto::AesEncryptFile(sourcePath, targetPath, InString(key), InString(iv), mode);
        return StringResult(FileMessage(status, kEncryptSourceFailed, kEncryptTargetFailed));
    });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL AESDecryptTxtFile_GB(const char *sourcePath,
                                                      const char *targetPath, const char *key,
                                                      const char *iv, int32_t mode) {
    if (sourcePath == nullptr || targetPath == nullptr) {
        return StringResult(kMissingPath);
    }
    return GuardString([&] {
        const auto status =
            crypto::AesDecryptFile(sourcePath, targetPath, InString(key), InString(iv), mode);
        return StringResult(FileMessage(status, kDecryptSourceFailed, kDecryptTargetFailed));
    });
}
