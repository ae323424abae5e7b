// Text to hexadecimal digits and back, two digits per byte, no separators.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrun::codecs {

// Two digits per byte, high nibble first; uppercase digits when `upperCase` is true.
std::string HexEncode(std::string_view bytes, bool upperCase);
// HexEncode into `out`, which has room for 2 * bytes.size() characters.
void HexEncodeTo(std::string_view bytes, bool upperCase, char *out);

// Reads `text` up to its first zero byte in pairs of characters. A character that is not a
// hexadecimal digit counts as 0 and an odd last character is ignored. The result is cut at the
// first decoded zero byte.
std::string HexDecode(std::string_view text);
// HexDecode into `out`, which has room for text.size() / 2 bytes; returns the count written.
size_t HexDecodeTo(std::string_view text, char *out);

} // namespace kestrun::codecs
