#include "kestrun/automation/http/charset.h"

#include <array>
#include <utility>

namespace kestrun::http {
namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// Labels that browsers read as another encoding than their name says, or spell differently.
constexpr std::array<std::pair<std::string_view, std::string_view>, 43> kLabels{{
    {"utf-8", "UTF-8"},
    {"utf8", "UTF-8"},
    {"unicode-1-1-utf-8", "UTF-8"},
    {"x-unicode20utf8", "UTF-8"},
    {"gbk", "GB18030"},
    {"gb2312", "GB18030"},
    {"gb_2312", "GB18030"},
    {"gb_2312-80", "GB18030"},
    {"chinese", "GB18030"},
    {"csgb2312", "GB18030"},
    {"csiso58gb231280", "GB18030"},
    {"iso-ir-58", "GB18030"},
    {"x-gbk", "GB18030"},
    {"cp936", "GB18030"},
    {"ms936", "GB18030"},
    {"windows-936", "GB18030"},
    {"gb18030", "GB18030"},
    {"big5", "BIG5-HKSCS"},
    {"big5-hkscs", "BIG5-HKSCS"},
    {"cn-big5", "BIG5-HKSCS"},
    {"x-x-big5", "BIG5-HKSCS"},
    {"iso-8859-1", "CP1252"},
    {"iso8859-1", "CP1252"},
    {"iso_8859-1", "CP1252"},
    {"latin1", "CP1252"},
    {"l1", "CP1252"},
    {"us-ascii", "CP1252"},
    {"ascii", "CP1252"},
    {"windows-1252", "CP1252"},
    {"cp1252", "CP1252"},
    {"x-cp1252", "CP1252"},
    {"cp819", "CP1252"},
    {"utf-16", "UTF-16LE"},
    {"utf-16le", "UTF-16LE"},
    {"utf-16be", "UTF-16BE"},
    {"shift_jis", "CP932"},
    {"sjis", "CP932"},
    {"x-sjis", "CP932"},
    {"ms_kanji", "CP932"},
    {"windows-31j", "CP932"},
    {"euc-kr", "CP949"},
    {"ks_c_5601-1987", "CP949"},
    {"korean", "CP949"},
}};

bool PlausibleLabel(std::string_view label) {
    if (label.empty() || label.size() > 40) {
        return false;
    }
    for (char c : label) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                        c == '.' || c == ':';
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::u16string DecodeAs(std::string_view bytes, const std::string &converterName) {
    if (auto text = ConvertToWide(bytes, converterName)) {
        return std::move(*text);
    }
    return ConvertToWide(bytes, "UTF-8").value_or(std::u16string());
}

} // namespace

std::string CharsetOf(std::string_view contentType) {
    // Parameters follow the media type after ";": name=value or name="value".
    size_t pos = contentType.find(';');
    while (pos != std::string_view::npos) {
        std::string_view rest = contentType.substr(pos + 1);
        const size_t next = rest.find(';');
        std::string_view param = Trim(rest.substr(0, next));
        const size_t eq = param.find('=');
        if (eq != std::string_view::npos) {
            std::string name;
            for (char c : Trim(param.substr(0, eq))) {
                name.push_back(LowerAscii(c));
            }
            if (name == "charset") {
                std::string_view value = Trim(param.substr(eq + 1));
                if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                    value = value.substr(1, value.size() - 2);
                }
                std::string lowered;
                for (char c : Trim(value)) {
                    lowered.push_back(LowerAscii(c));
                }
                return lowered;
            }
        }
        pos = next == std::string_view::npos ? next : pos + 1 + next;
    }
    return {};
}

std::string ConverterNameFor(std::string_view label) {
    std::string lowered;
    for (char c : Trim(label)) {
        lowered.push_back(LowerAscii(c));
    }
    if (!PlausibleLabel(lowered)) {
        return {};
    }
    for (const auto &[name, converter] : kLabels) {
        if (name == lowered) {
            return std::string(converter);
        }
    }
    std::string upper;
    for (char c : lowered) {
        upper.push_back((c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c);
    }
    return upper;
}

std::u16string DecodeBody(std::string_view bytes, std::string_view declaredCharset) {
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        return DecodeAs(bytes.substr(3), "UTF-8");
    }
    if (bytes.starts_with("\xFF\xFE")) {
        return DecodeAs(bytes.substr(2), "UTF-16LE");
    }
    if (bytes.starts_with("\xFE\xFF")) {
        return DecodeAs(bytes.substr(2), "UTF-16BE");
    }
    std::string converter = ConverterNameFor(declaredCharset);
    return DecodeAs(bytes, converter.empty() ? std::string("UTF-8") : converter);
}

bool IsValidUtf8(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        size_t extra = 0;
        unsigned min = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            min = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            min = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            min = 0x10000;
        } else {
            return false;
        }
        if (bytes.size() - i <= extra) {
            return false; // cut off at the end
        }
        unsigned code = c & (0x3F >> extra);
        for (size_t k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(bytes[i + k]);
            if ((cc & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (cc & 0x3F);
        }
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

std::u16string DecodeHeaderText(std::string_view bytes) {
    return DecodeAs(bytes, IsValidUtf8(bytes) ? "UTF-8" : "CP936");
}

} // namespace kestrun::http
