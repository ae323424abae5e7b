#include "kestrun/automation/scripting/text_codec.h"

#include "kestrun/interop/codepage.h"
#include "vbscript/value.h"

namespace kestrun::scripting {

namespace {

// The code page conversions stop at the first zero unit: convert the pieces between zeros and
// keep the zeros themselves.
template <class Out, class In, class Convert> Out ConvertAroundZeros(In text, Convert convert) {
    Out out;
    out.reserve(text.size());
    size_t start = 0;
    while (start <= text.size()) {
        size_t zero = text.find(typename In::value_type(0), start);
        if (zero == In::npos)
            zero = text.size();
        if (zero > start)
            out += convert(text.substr(start, zero - start));
        if (zero == text.size())
            break;
        out.push_back(typename Out::value_type(0));
        start = zero + 1;
    }
    return out;
}

// Windows-1252 characters of bytes 80 to 9F (0 where the byte has none and stands for itself).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char EncodeCp1252(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (int i = 0; i < 32; ++i)
        if (kCp1252High[i] == c || (kCp1252High[i] == 0 && c == 0x80 + i))
            return static_cast<char>(0x80 + i);
    return '?';
}

} // namespace

std::optional<Charset> CharsetNamed(std::u16string_view name) {
    const std::u16string n = vbscript::lowerAscii(name);
    if (n == u"utf-8")
        return Charset::Utf8;
    if (n == u"unicode" || n == u"utf-16" || n == u"utf-16le")
        return Charset::Utf16Le;
    if (n == u"gb2312" || n == u"gbk" || n == u"gb18030" || n == u"x-gbk" || n == u"cp936")
        return Charset::Gbk;
    if (n == u"us-ascii" || n == u"ascii")
        return Charset::Ascii;
    if (n == u"iso-8859-1" || n == u"latin1")
        return Charset::Latin1;
    if (n == u"windows-1252")
        return Charset::Windows1252;
    return std::nullopt;
}

std::string_view ByteOrderMark(Charset set) {
    switch (set) {
    case Charset::Utf8:
        return "\xEF\xBB\xBF";
    case Charset::Utf16Le:
        return std::string_view("\xFF\xFE", 2);
    default:
        return {};
    }
}

std::string EncodeText(Charset set, std::u16string_view text) {
    switch (set) {
    case Charset::Utf8:
        return ConvertAroundZeros<std::string>(
            text, [](std::u16string_view t) { return interop::WideToUtf8(t); });
    case Charset::Gbk:
        return ConvertAroundZeros<std::string>(
            text, [](std::u16string_view t) { return interop::WideToAnsi(t); });
    case Charset::Utf16Le: {
        std::string out;
        out.reserve(text.size() * 2);
        for (const char16_t c : text) {
            out.push_back(static_cast<char>(c & 0xFF));
            out.push_back(static_cast<char>(c >> 8));
        }
        return out;
    }
    case Charset::Ascii:
    case Charset::Latin1:
    case Charset::Windows1252: {
        std::string out;
        out.reserve(text.size());
        const char16_t limit = set == Charset::Ascii ? 0x80 : 0x100;
        for (const char16_t c : text) {
            if (set == Charset::Windows1252)
                out.push_back(EncodeCp1252(c));
            else
                out.push_back(c < limit ? static_cast<char>(c) : '?');
        }
        return out;
    }
    }
    return {};
}

std::u16string DecodeText(Charset set, std::string_view bytes) {
    switch (set) {
    case Charset::Utf8:
        return ConvertAroundZeros<std::u16string>(
            bytes, [](std::string_view b) { return interop::Utf8ToWide(b); });
    case Charset::Gbk:
        return ConvertAroundZeros<std::u16string>(
            bytes, [](std::string_view b) { return interop::AnsiToWide(b); });
    case Charset::Utf16Le: {
        std::u16string out;
        out.reserve(bytes.size() / 2 + 1);
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        if (bytes.size() % 2)
            out.push_back(u'\xFFFD'); // half a unit at the end
        return out;
    }
    case Charset::Ascii:
    case Charset::Latin1:
    case Charset::Windows1252: {
        std::u16string out;
        out.reserve(bytes.size());
        for (const char b : bytes) {
            const auto u = static_cast<unsigned char>(b);
            if (set == Charset::Ascii && u >= 0x80)
                out.push_back(u'?');
            else if (set == Charset::Windows1252 && u >= 0x80 && u < 0xA0 && kCp1252High[u - 0x80])
                out.push_back(kCp1252High[u - 0x80]);
            else
                out.push_back(static_cast<char16_t>(u));
        }
        return out;
    }
    }
    return {};
}

size_t BytesOfChars(Charset set, std::string_view bytes, size_t chars) {
    const size_t size = bytes.size();
    switch (set) {
    case Charset::Utf16Le:
        return chars >= size / 2 ? size : chars * 2;
    case Charset::Utf8: {
        size_t at = 0;
        for (size_t n = 0; n < chars && at < size;) {
            const auto lead = static_cast<unsigned char>(bytes[at]);
            size_t len = lead >= 0xF0 && lead <= 0xF4   ? 4
                         : lead >= 0xE0 && lead <= 0xEF ? 3
                         : lead >= 0xC2 && lead <= 0xDF ? 2
                                                        : 1;
            size_t got = 1;
            while (got < len && at + got < size &&
                   (static_cast<unsigned char>(bytes[at + got]) & 0xC0) == 0x80)
                ++got;
            if (got < len)
                got = 1; // an invalid or cut-off sequence: one character per byte
            n += got == 4 ? 2 : 1;
            at += got;
        }
        return at;
    }
    case Charset::Gbk: {
        size_t at = 0;
        for (size_t n = 0; n < chars && at < size; ++n) {
            const auto lead = static_cast<unsigned char>(bytes[at]);
            const auto trail = at + 1 < size ? static_cast<unsigned char>(bytes[at + 1]) : 0;
            at += lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE && trail != 0x7F
                      ? 2
                      : 1;
        }
        return at;
    }
    default:
        return chars >= size ? size : chars;
    }
}

std::string LineSeparatorBytes(Charset set, int separator) {
    const std::u16string text = separator == 13 ? u"\r" : separator == 10 ? u"\n" : u"\r\n";
    return EncodeText(set, text);
}

} // namespace kestrun::scripting
