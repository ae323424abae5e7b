// Form-style percent encoding: space as "+", uppercase escapes, letters, digits and "-._~" kept.
#pragma once

#include <string>
#include <string_view>

namespace kestrun::codecs {

// Encodes every byte of `bytes` (zero bytes included).
std::string UrlEncodeBytes(std::string_view bytes);

// Decodes `text` up to its first zero byte. Every "%" consumes the two positions after it,
// whatever they hold, and yields one byte; the result is cut at the first decoded zero byte.
std::string UrlDecodeBytes(std::string_view text);

} // namespace kestrun::codecs
