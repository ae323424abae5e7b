// AES-128 over texts and files: padding, the ciphertext as hexadecimal or Base64 text, and the
// block-by-block file passes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrun::crypto {

// Pads `plaintext` to the next whole block (always at least one byte of padding: PKCS#7 with
// padding 1, zero bytes otherwise), encrypts it with the key and IV texts in the numbered mode
// and writes the ciphertext as lowercase hexadecimal (encoding 1) or Base64 (any other value).
std::string AesEncryptText(std::string_view plaintext, std::string_view key, std::string_view iv,
                           int32_t mode, int32_t padding, int32_t encoding);

// Reverses AesEncryptText. The plaintext ends at its first zero byte; with padding 1 a trailing
// run of h bytes of value h (1 <= h <= 22) is removed, and a run broken before its end empties
// the whole result. Ciphertext that is not a whole number of blocks decrypts to "".
std::string AesDecryptText(std::string_view cipherText, std::string_view key, std::string_view iv,
                           int32_t mode, int32_t padding, int32_t encoding);

// The same two, writing into a caller's buffer (the export's result). AesEncryptText's text of a
// plaintext of `length` bytes has exactly AesEncryptedTextSize(length, encoding) characters;
// AesDecryptTextTo needs room for AesDecryptedBound(cipherText.size(), encoding) bytes and
// returns the plaintext's length (the bytes after it are not part of the result).
size_t AesEncryptedTextSize(size_t length, int32_t encoding);
void AesEncryptTextTo(std::string_view plaintext, std::string_view key, std::string_view iv,
                      int32_t mode, int32_t padding, int32_t encoding, char *out);
size_t AesDecryptedBound(size_t textSize, int32_t encoding);
size_t AesDecryptTextTo(std::string_view cipherText, std::string_view key, std::string_view iv,
                        int32_t mode, int32_t padding, int32_t encoding, char *out);

// The ciphertext text forms. Decoding Base64 stops at the first "=" or other character outside
// the alphabet; a last lone character gives nothing. Hex decoding reads pairs, counts a non-digit
// as 0 and gives a last odd digit a zero low nibble.
std::string CipherBase64Encode(std::string_view bytes);
std::string CipherBase64Decode(std::string_view text);
std::string CipherHexEncode(std::string_view bytes);
std::string CipherHexDecode(std::string_view text);

enum class FileCipherStatus { Ok, SourceNotOpened, TargetNotOpened };

// Encrypts the source file into the target file (paths in GBK bytes) in 16-byte blocks, read and
// written a megabyte at a time: each block is cut at its first zero byte and zero-filled, so the
// last block is always padding and an empty source gives one block. A read error ends the pass
// as the end of the file does. When source and target are one file (through any path) nothing
// is opened and SourceNotOpened is returned, so the data are never lost to the target's opening.
FileCipherStatus AesEncryptFile(std::string_view sourcePath, std::string_view targetPath,
                                std::string_view key, std::string_view iv, int32_t mode);

// Decrypts in 16-byte blocks (a last incomplete block zero-filled), writing each block's plaintext
// up to its first zero byte.
FileCipherStatus AesDecryptFile(std::string_view sourcePath, std::string_view targetPath,
                                std::string_view key, std::string_view iv, int32_t mode);

} // namespace kestrun::crypto
