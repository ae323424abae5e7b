// Form-style percent encoding: space as "+", uppercase escapes, letters, digits and "-._~" kept.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrun::codecs {

// Encodes every byte of `bytes` (zero bytes included).
std::string UrlEncodeBytes(std::string_view bytes);
// The exact length of UrlEncodeBytes(bytes), and the encoding written into room for it.
size_t UrlEncodedSize(std::string_view bytes);
void UrlEncodeTo(std::string_view bytes, char *out);

// Decodes `text` up to its first zero byte. Every "%" consumes the two positions after it,
// whatever they hold, and yields one byte; the result is cut at the first decoded zero byte.
std::string UrlDecodeBytes(std::string_view text);
// UrlDecodeBytes into `out`, which has room for text.size() bytes; returns the count written.
size_t UrlDecodeTo(std::string_view text, char *out);

} // namespace kestrun::codecs
