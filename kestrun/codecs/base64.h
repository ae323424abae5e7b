// Base64 with padding and no line breaks; lenient decoding.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrun::codecs {

// Bytes of the Base64 text of `n` bytes.
constexpr size_t Base64EncodedSize(size_t n) {
    return (n + 2) / 3 * 4;
}

// Writes the Base64 text of `bytes`, exactly Base64EncodedSize(bytes.size()) bytes, to `out`.
void Base64EncodeTo(std::string_view bytes, char *out);
std::string Base64Encode(std::string_view bytes);

// An upper bound of the bytes that decoding `textSize` characters gives.
constexpr size_t Base64DecodedBound(size_t textSize) {
    return textSize / 4 * 3 + 3;
}

// Decodes up to the first zero byte of `text`, skipping every byte outside the alphabet and
// treating "=" as filler. Returns nullopt for the one malformed pattern: a single "=" (not
// followed by another "=") after a group's first character. Text after padding continues the
// same bit stream.
std::optional<std::string> Base64Decode(std::string_view text);

// Base64Decode into `out`, which has room for Base64DecodedBound(text.size()) bytes; the count
// of bytes written, or nullopt for the malformed pattern. The bytes are not cut at a zero byte.
std::optional<size_t> Base64DecodeTo(std::string_view text, char *out);

// Decodes the leading run of alphabet characters of `text`, which ends at the first byte outside
// the alphabet ("=", a line break, a zero byte, ...) or at the end; nothing after it is read. A
// last group of 2 or 3 characters gives 1 or 2 bytes, a last single character nothing. `out` has
// room for Base64DecodedBound(text.size()) bytes; returns the count of bytes written.
size_t Base64DecodeRunTo(std::string_view text, char *out);

} // namespace kestrun::codecs
