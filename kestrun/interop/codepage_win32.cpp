// The code-page converter on Windows: MultiByteToWideChar / WideCharToMultiByte with the ANSI code
// page (936 on a Chinese system). Windows needs no iconv, so IconvHandle never opens there.
#include "codepage_seam.h"

#include <windows.h>

#include <climits>

namespace kestrun::platform {
namespace {

template <class Char> bool AllAscii(std::basic_string_view<Char> text) {
    for (const Char c : text) {
        if (static_cast<uint32_t>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

constexpr char16_t kSingleFF = 0xF8F5;

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Converts the whole of `bytes`, or returns false when any of it is not valid in the code page.
bool StrictToWide(std::string_view bytes, std::u16string &out) {
    if (bytes.size() > static_cast<size_t>(INT_MAX)) {
        return false;
    }
    const int inCount = static_cast<int>(bytes.size());
    const int need =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), inCount, nullptr, 0);
    if (need <= 0) {
        return false;
    }
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(need));
    const int got = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), inCount,
                                        reinterpret_cast<wchar_t *>(out.data() + start), need);
    out.resize(start + static_cast<size_t>(got > 0 ? got : 0));
    return got > 0;
}

} // namespace

IconvHandle::~IconvHandle() = default;

bool IconvHandle::Open(const char *, const char *) {
    return false;
}

std::u16string GbkToWide(std::string_view gbk) {
    std::u16string out;
    if (gbk.empty()) {
        return out;
    }
    if (AllAscii(gbk)) {
        out.assign(gbk.begin(), gbk.end());
        return out;
    }
    // Byte FF is never part of a double-byte character; the code page maps it alone to U+F8F5,
    // which some systems' tables lack, so it is converted here on every system.
    const bool hasFF = gbk.find('\xFF') != std::string_view::npos;
    if (!hasFF && StrictToWide(gbk, out)) {
        return out;
    }
    // Some bytes are not valid: character by character, one "?" for each offending byte.
    out.clear();
    out.reserve(gbk.size());
    size_t i = 0;
    while (i < gbk.size()) {
        const auto byte = static_cast<unsigned char>(gbk[i]);
        if (byte < 0x80) {
            out.push_back(byte);
            ++i;
            continue;
        }
        if (byte == 0xFF) {
            out.push_back(kSingleFF);
            ++i;
            continue;
        }
        const size_t length = IsDBCSLeadByteEx(CP_ACP, byte) && i + 1 < gbk.size() ? 2 : 1;
        if (!StrictToWide(gbk.substr(i, length), out)) {
            out.push_back(u'?');
            ++i;
            continue;
        }
        i += length;
    }
    return out;
}

void GbkEncoder::Append(std::string &out, std::u16string_view wide) {
    if (AllAscii(wide)) {
        out.append(wide.begin(), wide.end());
        return;
    }
    // U+F8F5 is byte FF of the code page (see GbkToWide), whatever the system's table says.
    if (wide.find(kSingleFF) != std::u16string_view::npos) {
        size_t start = 0;
        for (;;) {
            const size_t ff = wide.find(kSingleFF, start);
            Append(out, wide.substr(start, ff == std::u16string_view::npos ? ff : ff - start));
            if (ff == std::u16string_view::npos) {
                return;
            }
            out.push_back('\xFF');
            start = ff + 1;
        }
    }
    // The ANSI code page holds no character outside the Basic Multilingual Plane: a surrogate
    // pair, or a lone surrogate, becomes one "?" before the conversion.
    std::wstring units;
    units.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        const char16_t c = wide[i];
        if (IsHighSurrogate(c) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1])) {
            units.push_back(L'?');
            ++i;
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            units.push_back(L'?');
        } else {
            units.push_back(static_cast<wchar_t>(c));
        }
    }
    if (units.size() > static_cast<size_t>(INT_MAX / 2)) {
        return;
    }
    // No best-fit look-alikes: a character the code page lacks becomes "?".
    const int inCount = static_cast<int>(units.size());
    const int need = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units.data(), inCount,
                                         nullptr, 0, nullptr, nullptr);
    if (need <= 0) {
        return;
    }
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(need));
    const int got = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units.data(), inCount,
                                        out.data() + start, need, nullptr, nullptr);
    out.resize(start + static_cast<size_t>(got > 0 ? got : 0));
}

std::string WideToGbk(std::u16string_view wide) {
    std::string out;
    GbkEncoder().Append(out, wide);
    return out;
}

} // namespace kestrun::platform
