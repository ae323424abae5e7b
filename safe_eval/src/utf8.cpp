#include "utf8.h"

#include <cstdint>
#include <cstring>

namespace safe_eval {

namespace {

bool is_continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

} // namespace

bool is_well_formed_utf8(std::string_view bytes) {
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        // Skip runs of ASCII eight bytes at a time; literals are mostly ASCII.
        while (n - i >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p + i, sizeof word);
            if ((word & 0x8080808080808080ULL) != 0) {
                break;
            }
            i += 8;
        }
        if (i == n) {
            break;
        }
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        // Allowed range of the byte after the lead byte; the later ones are plain continuations.
        unsigned char lo = 0x80;
        unsigned char hi = 0xBF;
        std::size_t len;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) {
                lo = 0xA0; // below is overlong
            } else if (c == 0xED) {
                hi = 0x9F; // above are the surrogates
            }
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) {
                lo = 0x90; // below is overlong
            } else if (c == 0xF4) {
                hi = 0x8F; // above is beyond U+10FFFF
            }
        } else {
            return false; // stray continuation, overlong two-byte lead, or 0xF5..0xFF
        }
        if (n - i < len) {
            return false;
        }
        if (p[i + 1] < lo || p[i + 1] > hi) {
            return false;
        }
        for (std::size_t k = 2; k < len; ++k) {
            if (!is_continuation(p[i + k])) {
                return false;
            }
        }
        i += len;
    }
    return true;
}

} // namespace safe_eval
