#include "kestrun/codecs/hex.h"

#include <array>
#include <cstdint>
#include <cstring>

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

// Both digits of every byte value, so that one look-up writes two characters.
struct DigitPairs {
    std::array<char, 512> lower{};
    std::array<char, 512> upper{};
};

constexpr DigitPairs MakeDigitPairs() {
    DigitPairs pairs;
    for (int b = 0; b < 256; ++b) {
        pairs.lower[2 * b] = "0123456789abcdef"[b >> 4];
        pairs.lower[2 * b + 1] = "0123456789abcdef"[b & 15];
        pairs.upper[2 * b] = "0123456789ABCDEF"[b >> 4];
        pairs.upper[2 * b + 1] = "0123456789ABCDEF"[b & 15];
    }
    return pairs;
}

constexpr DigitPairs kDigitPairs = MakeDigitPairs();

} // namespace

void HexEncodeTo(std::string_view bytes, bool upperCase, char *out) {
    const char *pairs = upperCase ? kDigitPairs.upper.data() : kDigitPairs.lower.data();
    const auto *p = reinterpret_cast<const uint8_t *>(bytes.data());
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::memcpy(out + 2 * i, pairs + 2 * p[i], 2);
    }
}

std::string HexEncode(std::string_view bytes, bool upperCase) {
    std::string out(bytes.size() * 2, '\0');
    HexEncodeTo(bytes, upperCase, out.data());
    return out;
}

size_t HexDecodeTo(std::string_view text, char *out) {
    text = text.substr(0, text.find('\0'));
    size_t written = 0;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        const auto value = static_cast<uint8_t>(16 * kDigitValue[static_cast<uint8_t>(text[i])] +
                                                kDigitValue[static_cast<uint8_t>(text[i + 1])]);
        if (value == 0) {
            break;
        }
        out[written++] = static_cast<char>(value);
    }
    return written;
}

std::string HexDecode(std::string_view text) {
    std::string out(text.size() / 2, '\0');
    out.resize(HexDecodeTo(text, out.data()));
    return out;
}

} // namespace kestrun::codecs
