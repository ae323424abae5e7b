// The HTTP charset decoder: the charset parameter of a Content-Type value, the label to converter
// mapping, and response bodies and header text decoded to UTF-16. UTF-8 and UTF-16 bodies are
// compared with a direct reading of those encodings (one U+FFFD for each byte that starts no
// valid sequence; one for each unpaired surrogate or odd last byte); any other label must still
// decode without fault and within a bound on the output. The decoder straight into GBK must give
// the bytes of the way through UTF-16 for every label.
#include "fuzz_input.h"

#include "kestrun/automation/http/charset.h"
#include "kestrun/interop/codepage.h"

#include <string>

namespace {

using fuzzing::Fail;
using namespace kestrun::http;

constexpr const char *kTarget = "charset";
constexpr char16_t kReplacement = u'\xFFFD';

// Length of the valid UTF-8 sequence at `i` and its code point, or 0.
size_t Utf8Sequence(std::string_view s, size_t i, char32_t &code) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t extra;
    char32_t min;
    if (c < 0x80) {
        code = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        extra = 1;
        min = 0x80;
        code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        extra = 2;
        min = 0x800;
        code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        extra = 3;
        min = 0x10000;
        code = c & 0x07;
    } else {
        return 0;
    }
    if (s.size() - i <= extra) {
        return 0;
    }
    for (size_t k = 1; k <= extra; ++k) {
        const auto cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (cc & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return extra + 1;
}

void AppendCodePoint(std::u16string &out, char32_t code) {
    if (code >= 0x10000) {
        code -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(code));
    }
}

std::u16string ExpectedUtf8(std::string_view s, bool &valid) {
    std::u16string out;
    valid = true;
    for (size_t i = 0; i < s.size();) {
        char32_t code = 0;
        const size_t n = Utf8Sequence(s, i, code);
        if (n == 0) {
            out.push_back(kReplacement);
            valid = false;
            ++i;
        } else {
            AppendCodePoint(out, code);
            i += n;
        }
    }
    return out;
}

std::u16string ExpectedUtf16(std::string_view s, bool bigEndian) {
    std::u16string units;
    for (size_t i = 0; i + 1 < s.size(); i += 2) {
        const auto a = static_cast<unsigned char>(s[i]);
        const auto b = static_cast<unsigned char>(s[i + 1]);
        units.push_back(static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a)));
    }
    std::u16string out;
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            out.push_back(u);
            out.push_back(units[++i]);
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out.push_back(kReplacement);
        } else {
            out.push_back(u);
        }
    }
    if (s.size() % 2 != 0) {
        out.push_back(kReplacement);
    }
    return out;
}

void CheckLabel(std::string_view contentType, std::string_view label) {
    const std::string charset = CharsetOf(contentType);
    if (charset.size() > contentType.size()) {
        Fail(kTarget, "charset parameter longer than the header");
    }
    for (const char c : charset) {
        if (c >= 'A' && c <= 'Z') {
            Fail(kTarget, "charset parameter not lower-cased");
        }
    }
    if (!charset.empty() && (charset.front() == ' ' || charset.back() == ' ')) {
        Fail(kTarget, "charset parameter not trimmed");
    }
    const std::string converter = ConverterNameFor(label);
    if (converter.size() > 40) {
        Fail(kTarget, "converter name longer than a plausible label");
    }
    for (const char c : converter) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                        c == '.' || c == ':';
        if (!ok) {
            Fail(kTarget, "converter name with a byte outside the label alphabet");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzzing::FuzzInput input(data, size);
    const std::string_view label = input.Field();
    const std::string_view body = input.Rest();
    CheckLabel(label, label);

    // Any label: no fault, and no more than a few units per byte (some encodings give a base
    // letter and combining marks for one byte).
    const std::u16string anyLabel = DecodeBody(body, CharsetOf(label));
    if (anyLabel.size() > 4 * body.size() + 4) {
        Fail(kTarget, "decoded body longer than its bound");
    }
    const std::u16string byLabel = DecodeBody(body, label);
    if (byLabel.size() > 4 * body.size() + 4) {
        Fail(kTarget, "decoded body longer than its bound");
    }

    // The decoder straight into GBK gives the bytes of the way through UTF-16.
    for (const std::string_view l : {label, std::string_view("utf-8"), std::string_view("utf-16le"),
                                     std::string_view("utf-16be")}) {
        if (DecodeBodyToAnsi(std::string(body), l) !=
            kestrun::interop::WideToAnsi(DecodeBody(body, l))) {
            Fail(kTarget, "GBK text differs from the text through UTF-16");
        }
    }

    bool valid = false;
    const std::u16string utf8 = ExpectedUtf8(body, valid);
    if (!body.starts_with("\xEF\xBB\xBF") && !body.starts_with("\xFF\xFE") &&
        !body.starts_with("\xFE\xFF")) {
        if (DecodeBody(body, "utf-8") != utf8 || DecodeBody(body, "") != utf8) {
            Fail(kTarget, "UTF-8 body differs from the reference");
        }
        if (DecodeBody(body, "utf-16le") != ExpectedUtf16(body, false)) {
            Fail(kTarget, "UTF-16LE body differs from the reference");
        }
        if (DecodeBody(body, "utf-16be") != ExpectedUtf16(body, true)) {
            Fail(kTarget, "UTF-16BE body differs from the reference");
        }
    } else {
        // A byte-order mark decides, whatever the label says.
        const std::string_view rest = body.substr(body.starts_with("\xEF\xBB\xBF") ? 3 : 2);
        bool ignored = false;
        const std::u16string want = body.starts_with("\xEF\xBB\xBF")
                                        ? ExpectedUtf8(rest, ignored)
                                        : ExpectedUtf16(rest, body.starts_with("\xFE\xFF"));
        if (byLabel != want) {
            Fail(kTarget, "body with a byte-order mark differs from the reference");
        }
    }
    if (IsValidUtf8(body) != valid) {
        Fail(kTarget, "IsValidUtf8 differs from the reference");
    }
    const std::u16string header = DecodeHeaderText(body);
    if (valid ? header != utf8 : header.size() > body.size()) {
        Fail(kTarget, "header text differs from the reference or is too long");
    }
    return 0;
}
