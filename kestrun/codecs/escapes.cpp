#include "kestrun/codecs/escapes.h"

#include "kestrun/codecs/cp936_composite.h"
#include "kestrun/interop/codepage.h"
#include "kestrun/interop/strings.h"

namespace kestrun::codecs {
namespace {

bool IsScanfSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

} // namespace

std::string UnicodeEscape(std::string_view ansi) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const std::u16string wide = interop::AnsiToWide(ansi);
    std::string out;
    out.reserve(wide.size() * 6);
    for (const char16_t unit : wide) {
        out += "\\u";
        out.push_back(kDigits[(unit >> 12) & 15]);
        out.push_back(kDigits[(unit >> 8) & 15]);
        out.push_back(kDigits[(unit >> 4) & 15]);
        out.push_back(kDigits[unit & 15]);
    }
    return out;
}

uint32_t ReadEscapeValue(std::string_view digits) {
    size_t i = 0;
    while (i < digits.size() && IsScanfSpace(digits[i])) {
        ++i;
    }
    bool negative = false;
    if (i < digits.size() && (digits[i] == '+' || digits[i] == '-')) {
        negative = digits[i] == '-';
        ++i;
    }
    if (i + 1 < digits.size() && digits[i] == '0' &&
        (digits[i + 1] == 'x' || digits[i + 1] == 'X')) {
        i += 2; // "0x" alone still reads as the number 0
    }
    uint32_t value = 0;
    for (; i < digits.size(); ++i) {
        const int d = HexDigitValue(digits[i]);
        if (d < 0) {
            break;
        }
        value = value * 16 + static_cast<uint32_t>(d);
    }
    return negative ? 0u - value : value;
}

std::string UnicodeUnescape(std::string_view text) {
    text = interop::UpToZero(text);
    if (text.size() < 6) {
        return {};
    }
    std::u16string units;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '\\' || text[i + 1] != 'u') {
            continue;
        }
        const auto unit = static_cast<char16_t>(ReadEscapeValue(text.substr(i + 2, 4)) & 0xFFFF);
        if (unit == 0) {
            break; // the text ends at the first unit 0; later escapes cannot reach the result
        }
        units.push_back(unit);
    }
    return std::string(interop::UpToZero(WideToCp936Composite(units)));
}

std::string HtmlEscape(std::string_view text) {
    std::string s(text);
    interop::ReplaceAll(s, "&", "&amp;");
    interop::ReplaceAll(s, "\"", "&quot;");
    interop::ReplaceAll(s, "'", "&#39;");
    interop::ReplaceAll(s, ">", "&gt;");
    interop::ReplaceAll(s, "<", "&lt;");
    return s;
}

std::string HtmlUnescape(std::string_view text) {
    std::string s(text);
    interop::ReplaceAll(s, "&gt;", ">");
    interop::ReplaceAll(s, "&lt;", "<");
    interop::ReplaceAll(s, "&quot;", "\"");
    interop::ReplaceAll(s, "&#39;", "'");
    interop::ReplaceAll(s, "&amp;", "&");
    return s;
}

} // namespace kestrun::codecs
