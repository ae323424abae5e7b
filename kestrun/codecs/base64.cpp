#include "base64.h"

#include <array>
#include <cstdint>

namespace kestrun::codecs {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kNotBase64 = 0xFF;

constexpr std::array<uint8_t, 256> MakeDecodeTable() {
    std::array<uint8_t, 256> table{};
    for (auto &entry : table) {
        entry = kNotBase64;
    }
    for (uint8_t i = 0; i < 64; ++i) {
        table[static_cast<uint8_t>(kAlphabet[i])] = i;
    }
    return table;
}

constexpr std::array<uint8_t, 256> kDecode = MakeDecodeTable();

} // namespace

std::string Base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    const auto *p = reinterpret_cast<const uint8_t *>(bytes.data());
    const size_t whole = bytes.size() / 3 * 3;
    for (size_t i = 0; i < whole; i += 3) {
        const uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8) | p[i + 2];
        out.push_back(kAlphabet[v >> 18]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(kAlphabet[(v >> 6) & 63]);
        out.push_back(kAlphabet[v & 63]);
    }
    const size_t rest = bytes.size() - whole;
    if (rest == 1) {
        const uint8_t b0 = p[whole];
        out.push_back(kAlphabet[b0 >> 2]);
        out.push_back(kAlphabet[(b0 & 3) << 4]);
        out.append("==");
    } else if (rest == 2) {
        const uint8_t b0 = p[whole];
        const uint8_t b1 = p[whole + 1];
        out.push_back(kAlphabet[b0 >> 2]);
        out.push_back(kAlphabet[((b0 & 3) << 4) | (b1 >> 4)]);
        out.push_back(kAlphabet[(b1 & 15) << 2]);
        out.push_back('=');
    }
    return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
    const size_t zero = text.find('\0');
    if (zero != std::string_view::npos) {
        text = text.substr(0, zero);
    }
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    size_t count = 0;
    uint8_t partial = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<uint8_t>(text[i]);
        if (c == '=') {
            const bool nextIsPad = i + 1 < text.size() && text[i + 1] == '=';
            if (!nextIsPad && count % 4 == 1) {
                return std::nullopt;
            }
            continue;
        }
        const uint8_t v = kDecode[c];
        if (v == kNotBase64) {
            continue;
        }
        switch (count % 4) {
        case 0:
            partial = static_cast<uint8_t>(v << 2);
            break;
        case 1:
            out.push_back(static_cast<char>(partial | (v >> 4)));
            partial = static_cast<uint8_t>((v & 15) << 4);
            break;
        case 2:
            out.push_back(static_cast<char>(partial | (v >> 2)));
            partial = static_cast<uint8_t>((v & 3) << 6);
            break;
        default:
            out.push_back(static_cast<char>(partial | v));
            break;
        }
        ++count;
    }
    return out;
}

} // namespace kestrun::codecs
