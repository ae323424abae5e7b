// Response text straight to code page 936: UTF-8 and UTF-16 decoded here, each character looked
// up in the code page's table, written over the bytes it came from. A character never takes more
// bytes in GBK than in the encoding it came in (at most two for two, three or four UTF-8 bytes,
// two for a UTF-16 unit, one "?" for a surrogate pair or an invalid byte), so the output never
// overtakes the input and one buffer serves for both.
#include "kestrun/automation/http/charset.h"
#include "kestrun/interop/codepage.h"
#include "kestrun/interop/codepage_seam.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

namespace kestrun::http {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Writes the GBK form of one character (never U+0000) at `out`; returns the byte count.
inline size_t PutGbk(const uint16_t *codes, char32_t c, char *out) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    const uint16_t code = c <= 0xFFFF ? codes[c] : 0; // beyond the BMP: a surrogate pair, "?"
    if (code == 0) {
        out[0] = '?';
        return 1;
    }
    if (code < 0x100) {
        out[0] = static_cast<char>(code);
        return 1;
    }
    out[0] = static_cast<char>(code >> 8);
    out[1] = static_cast<char>(code & 0xFF);
    return 2;
}

inline bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Eight bytes of ASCII without a zero byte.
inline bool PlainAscii8(const char *p) {
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    constexpr uint64_t kHigh = 0x8080808080808080ull;
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    return ((w | ((w - kOnes) & ~w)) & kHigh) == 0;
}

// The character that the valid UTF-8 sequence at p[0..n) starts with, and its length; length 0
// for an invalid or cut-off sequence. Overlong forms, surrogates and values past U+10FFFF are
// invalid.
inline size_t DecodeUtf8(const unsigned char *p, size_t n, char32_t &c) {
    const unsigned b = p[0];
    if (b >= 0xC2 && b <= 0xDF) {
        if (n < 2 || !IsContinuation(p[1])) {
            return 0;
        }
        c = ((b & 0x1F) << 6) | (p[1] & 0x3F);
        return 2;
    }
    if (b >= 0xE0 && b <= 0xEF) {
        if (n < 3 || !IsContinuation(p[1]) || !IsContinuation(p[2])) {
            return 0;
        }
        c = ((b & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
        return (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF)) ? 0 : 3;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        if (n < 4 || !IsContinuation(p[1]) || !IsContinuation(p[2]) || !IsContinuation(p[3])) {
            return 0;
        }
        c = ((b & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) | (p[3] & 0x3F);
        return (c < 0x10000 || c > 0x10FFFF) ? 0 : 4;
    }
    return 0;
}

} // namespace

size_t Utf8ToGbkInPlace(char *data, size_t size, size_t skip) {
    const uint16_t *codes = platform::GbkCodeTable();
    char *const base = data;
    const auto *in = reinterpret_cast<const unsigned char *>(base);
    const size_t n = size;
    size_t i = skip;
    size_t o = 0;
    while (i < n) {
        if (i + 8 <= n && PlainAscii8(base + i)) {
            if (o != i) {
                std::memmove(base + o, base + i, 8);
            }
            i += 8;
            o += 8;
            continue;
        }
        const unsigned b = in[i];
        if (b < 0x80) {
            if (b == 0) {
                break; // the text ends at U+0000
            }
            base[o++] = static_cast<char>(b);
            ++i;
            continue;
        }
        char32_t c = 0;
        const size_t length = DecodeUtf8(in + i, n - i, c);
        if (length == 0) {
            c = kReplacement;
            i += 1;
        } else {
            i += length;
        }
        o += PutGbk(codes, c, base + o);
    }
    return o;
}

size_t Utf16ToGbkInPlace(char *data, size_t size, bool bigEndian, size_t skip) {
    const uint16_t *codes = platform::GbkCodeTable();
    char *const base = data;
    const auto *in = reinterpret_cast<const unsigned char *>(base);
    const size_t n = size;
    const auto unitAt = [&](size_t at) -> char32_t {
        return bigEndian ? (char32_t(in[at]) << 8 | in[at + 1])
                         : (char32_t(in[at + 1]) << 8 | in[at]);
    };
    size_t i = skip;
    size_t o = 0;
    while (i < n) {
        // An invalid unit (a lone surrogate) or a cut-off one: one replacement for the whole
        // unit, so that the units after it stay aligned.
        char32_t c = kReplacement;
        size_t length = n - i < 2 ? n - i : 2;
        if (i + 2 <= n) {
            const char32_t u = unitAt(i);
            if (u < 0xD800 || u > 0xDFFF) {
                c = u;
                length = 2;
            } else if (u <= 0xDBFF && i + 4 <= n) {
                const char32_t low = unitAt(i + 2);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    c = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
                    length = 4;
                }
            }
        }
        if (c == 0) {
            break; // the text ends at U+0000
        }
        i += length;
        o += PutGbk(codes, c, base + o);
    }
    return o;
}

namespace {

// Decodes `size` bytes at `data` in place and returns the new length, or gives the text of a
// charset decoded through UTF-16 in `other` (then the bytes are left as they are).
size_t DecodeInPlace(char *data, size_t size, std::string_view declaredCharset,
                     std::optional<std::string> &other) {
    const std::string_view bytes(data, size);
    enum class Kind { Utf8, Utf16Le, Utf16Be, Other };
    Kind kind = Kind::Other;
    size_t mark = 0;
    std::string converter;
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        kind = Kind::Utf8;
        mark = 3;
    } else if (bytes.starts_with("\xFF\xFE")) {
        kind = Kind::Utf16Le;
        mark = 2;
    } else if (bytes.starts_with("\xFE\xFF")) {
        kind = Kind::Utf16Be;
        mark = 2;
    } else {
        converter = ConverterNameFor(declaredCharset);
        if (converter.empty() || converter == "UTF-8") {
            kind = Kind::Utf8;
        } else if (converter == "UTF-16LE") {
            kind = Kind::Utf16Le;
        } else if (converter == "UTF-16BE") {
            kind = Kind::Utf16Be;
        }
    }
    if (kind == Kind::Other) {
        // Another charset through the platform converter (a name it does not know is read as
        // UTF-8, as DecodeBody does).
        if (auto wide = ConvertToWide(bytes, converter)) {
            other = interop::WideToAnsi(*wide);
            return size;
        }
        kind = Kind::Utf8;
    }
    if (kind == Kind::Utf8) {
        return Utf8ToGbkInPlace(data, size, mark);
    }
    return Utf16ToGbkInPlace(data, size, kind == Kind::Utf16Be, mark);
}

} // namespace

std::string DecodeBodyToAnsi(std::string bytes, std::string_view declaredCharset) {
    std::optional<std::string> other;
    const size_t size = DecodeInPlace(bytes.data(), bytes.size(), declaredCharset, other);
    if (other) {
        return std::move(*other);
    }
    bytes.resize(size);
    return bytes;
}

void DecodeBodyToAnsi(interop::GrowingResult &body, std::string_view declaredCharset) {
    std::optional<std::string> other;
    const size_t size = DecodeInPlace(body.data(), body.size(), declaredCharset, other);
    if (other) {
        body.Assign(*other);
    } else {
        body.Truncate(size);
    }
}

} // namespace kestrun::http
