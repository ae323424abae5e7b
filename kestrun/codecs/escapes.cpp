#include "kestrun/codecs/escapes.h"

#include "kestrun/codecs/cp936_composite.h"
#include "kestrun/interop/codepage.h"

#include <cstring>
#include <utility>

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

// The entity that stands for `c` in escaped HTML, or "" for a character written as it is.
std::string_view EntityOf(char c) {
    switch (c) {
    case '&':
        return "&amp;";
    case '"':
        return "&quot;";
    case '\'':
        return "&#39;";
    case '>':
        return "&gt;";
    case '<':
        return "&lt;";
    default:
        return {};
    }
}

} // namespace

void UnicodeEscapeTo(std::u16string_view wide, char *out) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (const char16_t unit : wide) {
        out[0] = '\\';
        out[1] = 'u';
        out[2] = kDigits[(unit >> 12) & 15];
        out[3] = kDigits[(unit >> 8) & 15];
        out[4] = kDigits[(unit >> 4) & 15];
        out[5] = kDigits[unit & 15];
        out += 6;
    }
}

std::string UnicodeEscape(std::string_view ansi) {
    const std::u16string wide = interop::AnsiToWide(ansi);
    std::string out(wide.size() * 6, '\0');
    UnicodeEscapeTo(wide, out.data());
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

// Every replacement of one pass below is made in a single scan. The sequence of whole-text
// replacements it stands for gives the same text: the escaping entities hold none of the
// characters that later steps replace, and the unescaping entities cannot overlap (each starts
// with "&" and holds no other "&"), while "&amp;" comes last so that its "&" is never read again.
size_t HtmlEscapedSize(std::string_view text) {
    size_t size = text.size();
    for (const char c : text) {
        size += EntityOf(c).size() - (EntityOf(c).empty() ? 0 : 1);
    }
    return size;
}

void HtmlEscapeTo(std::string_view text, char *out) {
    for (const char c : text) {
        const std::string_view entity = EntityOf(c);
        if (entity.empty()) {
            *out++ = c;
        } else {
            std::memcpy(out, entity.data(), entity.size());
            out += entity.size();
        }
    }
}

std::string HtmlEscape(std::string_view text) {
    std::string out(HtmlEscapedSize(text), '\0');
    HtmlEscapeTo(text, out.data());
    return out;
}

size_t HtmlUnescapeTo(std::string_view text, char *out) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&gt;", '>'}, {"&lt;", '<'}, {"&quot;", '"'}, {"&#39;", '\''}, {"&amp;", '&'}};
    size_t written = 0;
    size_t i = 0;
    while (i < text.size()) {
        const size_t amp = text.find('&', i);
        const size_t plain = (amp == std::string_view::npos ? text.size() : amp) - i;
        std::memcpy(out + written, text.data() + i, plain);
        written += plain;
        i += plain;
        if (i == text.size()) {
            break;
        }
        char replacement = '&';
        size_t consumed = 1;
        for (const auto &[entity, character] : kEntities) {
            if (text.substr(i).starts_with(entity)) {
                replacement = character;
                consumed = entity.size();
                break;
            }
        }
        out[written++] = replacement;
        i += consumed;
    }
    return written;
}

std::string HtmlUnescape(std::string_view text) {
    std::string out(text.size(), '\0');
    out.resize(HtmlUnescapeTo(text, out.data()));
    return out;
}

} // namespace kestrun::codecs
