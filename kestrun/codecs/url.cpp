#include "kestrun/codecs/url.h"

#include <cstdint>

namespace kestrun::codecs {
namespace {

constexpr char kUpperDigits[] = "0123456789ABCDEF";

bool IsAsciiAlnum(uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Letters count on past "F" (up to 35 for "Z"); anything else, including a position past the end
// of the text, counts as 0.
unsigned EscapeDigit(std::string_view text, size_t pos) {
    if (pos >= text.size()) {
        return 0;
    }
    const auto c = static_cast<uint8_t>(text[pos]);
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 10;
    }
    return 0;
}

} // namespace

std::string UrlEncodeBytes(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char ch : bytes) {
        const auto c = static_cast<uint8_t>(ch);
        if (IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(ch);
        } else if (c == ' ') {
            out.push_back('+');
        } else {
            out.push_back('%');
            out.push_back(kUpperDigits[c >> 4]);
            out.push_back(kUpperDigits[c & 15]);
        }
    }
    return out;
}

std::string UrlDecodeBytes(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c == '%') {
            const unsigned value = 16 * EscapeDigit(text, i + 1) + EscapeDigit(text, i + 2);
            out.push_back(static_cast<char>(value & 0xFF));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out.substr(0, out.find('\0'));
}

} // namespace kestrun::codecs
