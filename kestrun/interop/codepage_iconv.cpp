// Code page 936 conversions on glibc's iconv.
#include "codepage_seam.h"

#include <array>
#include <cerrno>
#include <iconv.h>
#include <memory>
#include <utility>

namespace kestrun::platform {
namespace {

constexpr char kAnsiCodePage[] = "CP936";

constexpr unsigned kFirstLead = 0x81;
constexpr unsigned kLeads = 0xFF - kFirstLead; // 0x81 to 0xFE
constexpr unsigned kFirstTrail = 0x40;
constexpr unsigned kTrails = 0x100 - kFirstTrail; // 0x40 to 0xFF

// The code page as iconv converts it, one character at a time. A zero entry means "not
// convertible" (U+0000 and the zero byte are ASCII and never looked up).
struct Cp936Tables {
    bool ok = false;                                          // iconv knows the code page
    std::array<char16_t, 0x80> single{};                      // bytes 0x80-0xFF on their own
    std::array<std::array<char16_t, kTrails>, kLeads> pair{}; // lead 0x81-0xFE, trail 0x40-0xFF
    std::array<uint16_t, 0x10000> encode{}; // BMP character: one byte or lead<<8|trail
};

// Converts `in` whole with a fresh shift state; false when iconv stops early.
bool ConvertOne(const IconvHandle &cd, const char *in, size_t inLeft, char *out, size_t &outLeft) {
    iconv(static_cast<iconv_t>(cd.get()), nullptr, nullptr, nullptr, nullptr);
    char *src = const_cast<char *>(in);
    return iconv(static_cast<iconv_t>(cd.get()), &src, &inLeft, &out, &outLeft) !=
               static_cast<size_t>(-1) &&
           inLeft == 0;
}

// The UTF-16 unit that `bytes` convert to, or 0 when they are not exactly one character.
char16_t DecodeOne(const IconvHandle &cd, const char *bytes, size_t count) {
    char16_t unit[2] = {};
    size_t outLeft = sizeof unit;
    if (!ConvertOne(cd, bytes, count, reinterpret_cast<char *>(unit), outLeft) ||
        outLeft != sizeof unit - sizeof(char16_t)) {
        return 0;
    }
    return unit[0];
}

// The GBK code of `unit` (one byte, or lead << 8 | trail), or 0 when it has none.
uint16_t EncodeOne(const IconvHandle &cd, char16_t unit) {
    char in[sizeof unit];
    __builtin_memcpy(in, &unit, sizeof unit);
    unsigned char out[4] = {};
    size_t outLeft = sizeof out;
    if (!ConvertOne(cd, in, sizeof in, reinterpret_cast<char *>(out), outLeft)) {
        return 0;
    }
    const size_t written = sizeof out - outLeft;
    if (written == 1) {
        return out[0];
    }
    return written == 2 ? static_cast<uint16_t>(out[0] << 8 | out[1]) : 0;
}

std::unique_ptr<const Cp936Tables> BuildTables() {
    auto tables = std::make_unique<Cp936Tables>();
    const IconvHandle decoder("UTF-16LE", kAnsiCodePage);
    const IconvHandle encoder(kAnsiCodePage, "UTF-16LE");
    if (!decoder.ok() || !encoder.ok()) {
        return tables;
    }
    tables->ok = true;
    for (unsigned b = 0x80; b <= 0xFF; ++b) {
        const char byte = static_cast<char>(b);
        tables->single[b - 0x80] = DecodeOne(decoder, &byte, 1);
        if (tables->single[b - 0x80] != 0) {
            tables->encode[tables->single[b - 0x80]] = static_cast<uint16_t>(b);
        }
    }
    // The encoding table is the decoding table turned round; a character that two codes decode
    // to is encoded as iconv encodes it.
    for (unsigned lead = kFirstLead; lead < kFirstLead + kLeads; ++lead) {
        for (unsigned trail = kFirstTrail; trail <= 0xFF; ++trail) {
            const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            const char16_t unit = DecodeOne(decoder, bytes, 2);
            tables->pair[lead - kFirstLead][trail - kFirstTrail] = unit;
            if (unit == 0) {
                continue;
            }
            uint16_t &code = tables->encode[unit];
            code = code == 0 ? static_cast<uint16_t>(lead << 8 | trail) : EncodeOne(encoder, unit);
        }
    }
    // The two single bytes outside GBK's lead range that the system's code page 936 still maps:
    // 0x80 is the euro sign and 0xFF a private-use character, so that every byte that is not a
    // lead byte survives a round trip through UTF-16.
    for (const auto &[byte, unit] : {std::pair<unsigned, char16_t>{0x80, u'\u20AC'},
                                     std::pair<unsigned, char16_t>{0xFF, u'\uF8F5'}}) {
        tables->single[byte - 0x80] = unit;
        tables->encode[unit] = static_cast<uint16_t>(byte);
    }
    return tables;
}

const Cp936Tables &Tables() {
    static const std::unique_ptr<const Cp936Tables> tables = BuildTables();
    return *tables;
}

bool AllAscii(std::string_view text) {
    for (unsigned char c : text) {
        if (c >= 0x80) {
            return false;
        }
    }
    return true;
}

bool AllAscii(std::u16string_view text) {
    for (char16_t c : text) {
        if (c >= 0x80) {
            return false;
        }
    }
    return true;
}

bool IsHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}

bool IsLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

} // namespace

IconvHandle::~IconvHandle() {
    if (ok()) {
        iconv_close(static_cast<iconv_t>(handle_));
    }
}

bool IconvHandle::Open(const char *to, const char *from) {
    if (ok()) {
        iconv_close(static_cast<iconv_t>(handle_));
    }
    handle_ = static_cast<void *>(iconv_open(to, from));
    return ok();
}

const uint16_t *GbkCodeTable() {
    return Tables().encode.data();
}

std::u16string GbkToWide(std::string_view gbk) {
    std::u16string out;
    if (AllAscii(gbk)) {
        out.assign(gbk.begin(), gbk.end());
        return out;
    }
    const Cp936Tables &tables = Tables();
    // Every GBK character takes at least one byte and yields one UTF-16 unit.
    out.resize(gbk.size());
    size_t written = 0;
    const auto *p = reinterpret_cast<const unsigned char *>(gbk.data());
    const size_t n = gbk.size();
    for (size_t i = 0; i < n;) {
        const unsigned b = p[i];
        char16_t unit = u'?';
        size_t used = 1;
        if (b < 0x80) {
            unit = static_cast<char16_t>(b);
        } else if (!tables.ok) {
            // no converter: every non-ASCII byte is a "?"
        } else if (tables.single[b - 0x80] != 0) {
            unit = tables.single[b - 0x80];
        } else if (b >= kFirstLead && b < kFirstLead + kLeads && i + 1 < n &&
                   p[i + 1] >= kFirstTrail &&
                   tables.pair[b - kFirstLead][p[i + 1] - kFirstTrail] != 0) {
            unit = tables.pair[b - kFirstLead][p[i + 1] - kFirstTrail];
            used = 2;
        }
        // Anything else (a byte that starts no character, a lead byte whose pair is not a
        // character, a lead byte at the end) is one "?" for that byte; the next byte is read
        // afresh.
        out[written++] = unit;
        i += used;
    }
    out.resize(written);
    return out;
}

void GbkEncoder::Append(std::string &out, std::u16string_view wide) {
    if (AllAscii(wide)) {
        out.append(wide.begin(), wide.end());
        return;
    }
    const Cp936Tables &tables = Tables();
    // A GBK character takes at most two bytes per UTF-16 unit.
    const size_t start = out.size();
    out.resize(start + wide.size() * 2);
    char *dst = out.data() + start;
    const size_t n = wide.size();
    for (size_t i = 0; i < n; ++i) {
        const char16_t u = wide[i];
        if (u < 0x80) {
            *dst++ = static_cast<char>(u);
            continue;
        }
        const uint16_t code = tables.encode[u];
        if (code == 0) {
            // A character GBK lacks, or a surrogate: one "?" for the whole character.
            if (IsHighSurrogate(u) && i + 1 < n && IsLowSurrogate(wide[i + 1])) {
                ++i;
            }
            *dst++ = '?';
        } else if (code < 0x100) {
            *dst++ = static_cast<char>(code);
        } else {
            *dst++ = static_cast<char>(code >> 8);
            *dst++ = static_cast<char>(code & 0xFF);
        }
    }
    out.resize(static_cast<size_t>(dst - out.data()));
}

std::string WideToGbk(std::u16string_view wide) {
    std::string out;
    GbkEncoder().Append(out, wide);
    return out;
}

} // namespace kestrun::platform
