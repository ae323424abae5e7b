// Text to hexadecimal digits and back, two digits per byte, no separators.
#pragma once

#include <string>
#include <string_view>

namespace kestrun::codecs {

// Two digits per byte, high nibble first; uppercase digits when `upperCase` is true.
std::string HexEncode(std::string_view bytes, bool upperCase);

// Reads `text` up to its first zero byte in pairs of characters. A character that is not a
// hexadecimal digit counts as 0 and an odd last character is ignored. The result is cut at the
// first decoded zero byte.
std::string HexDecode(std::string_view text);

} // namespace kestrun::codecs
