#include "kestrun/codecs/hex.h"

#include <array>
#include <cstdint>

namespace kestrun::codecs {
namespace {

constexpr std::array<uint8_t, 256> MakeDigitTable() {
    std::array<uint8_t, 256> table{};
    for (int c = '0'; c <= '9'; ++c) {
        table[c] = static_cast<uint8_t>(c - '0');
    }
    for (int c = 'A'; c <= 'F'; ++c) {
        table[c] = static_cast<uint8_t>(c - 'A' + 10);
        table[c + ('a' - 'A')] = static_cast<uint8_t>(c - 'A' + 10);
    }
    return table;
}

constexpr std::array<uint8_t, 256> kDigitValue = MakeDigitTable();

} // namespace

std::string HexEncode(std::string_view bytes, bool upperCase) {
    const char *digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string out(bytes.size() * 2, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<uint8_t>(bytes[i]);
        out[2 * i] = digits[b >> 4];
        out[2 * i + 1] = digits[b & 15];
    }
    return out;
}

std::string HexDecode(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    std::string out;
    out.reserve(text.size() / 2);
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        const auto value = static_cast<uint8_t>(16 * kDigitValue[static_cast<uint8_t>(text[i])] +
                                                kDigitValue[static_cast<uint8_t>(text[i + 1])]);
        if (value == 0) {
            break;
        }
        out.push_back(static_cast<char>(value));
    }
    return out;
}

} // namespace kestrun::codecs
