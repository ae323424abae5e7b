// The AES file exports called as a Visual Basic host calls them, on files in a scratch folder.
#pragma once

#include "vbhost.h"

#include <cstddef>
#include <string>

namespace aesfiles {

inline constexpr const char *kKey = "file key text";
inline constexpr const char *kIv = "file iv text";

inline std::string Encrypt(const std::string &from, const std::string &to, int mode) {
    return vbhost::Take(AESEncryptTxtFile_GB(from.c_str(), to.c_str(), kKey, kIv, mode))
        .value_or("<null>");
}

inline std::string Decrypt(const std::string &from, const std::string &to, int mode) {
    return vbhost::Take(AESDecryptTxtFile_GB(from.c_str(), to.c_str(), kKey, kIv, mode))
        .value_or("<null>");
}

inline std::string TextOfLength(size_t n) {
    std::string text;
    text.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        text.push_back(static_cast<char>(i % 95 + 32));
    }
    return text;
}

} // namespace aesfiles
