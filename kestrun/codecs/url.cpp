#include "kestrun/codecs/url.h"

#include <array>
#include <cstdint>

namespace kestrun::codecs {
namespace {

constexpr char kUpperDigits[] = "0123456789ABCDEF";

constexpr bool IsAsciiAlnum(uint8_t c) {
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

// Bytes written as "%XX": all but letters, digits, "-._~" and the space (written as "+").
constexpr std::array<bool, 256> MakeEscapedTable() {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c) {
        const auto b = static_cast<uint8_t>(c);
        table[c] = !(IsAsciiAlnum(b) || b == '-' || b == '.' || b == '_' || b == '~' || b == ' ');
    }
    return table;
}

constexpr std::array<bool, 256> kEscaped = MakeEscapedTable();

} // namespace

size_t UrlEncodedSize(std::string_view bytes) {
    size_t size = bytes.size();
    for (const char ch : bytes) {
        size += kEscaped[static_cast<uint8_t>(ch)] ? 2 : 0;
    }
    return size;
}

void UrlEncodeTo(std::string_view bytes, char *out) {
    for (const char ch : bytes) {
        const auto c = static_cast<uint8_t>(ch);
        if (!kEscaped[c]) {
            *out++ = c == ' ' ? '+' : ch;
        } else {
            out[0] = '%';
            out[1] = kUpperDigits[c >> 4];
            out[2] = kUpperDigits[c & 15];
            out += 3;
        }
    }
}

std::string UrlEncodeBytes(std::string_view bytes) {
    std::string out(UrlEncodedSize(bytes), '\0');
    UrlEncodeTo(bytes, out.data());
    return out;
}

size_t UrlDecodeTo(std::string_view text, char *out) {
    text = text.substr(0, text.find('\0'));
    size_t written = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            c = ' ';
        } else if (c == '%') {
            const unsigned value = 16 * EscapeDigit(text, i + 1) + EscapeDigit(text, i + 2);
            c = static_cast<char>(value & 0xFF);
            i += 2;
        }
        if (c == '\0') {
            break; // the result ends at its first zero byte
        }
        out[written++] = c;
    }
    return written;
}

std::string UrlDecodeBytes(std::string_view text) {
    std::string out(text.size(), '\0');
    out.resize(UrlDecodeTo(text, out.data()));
    return out;
}

} // namespace kestrun::codecs
