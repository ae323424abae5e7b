// The platform's charset converter for response text: glibc's iconv.
#include "kestrun/automation/http/charset.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>

#include "kestrun/interop/codepage_seam.h"

namespace kestrun::http {
namespace {

void AppendUtf16Le(std::u16string &out, const char *bytes, size_t count) {
    for (size_t i = 0; i + 1 < count; i += 2) {
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
}

// Bytes of one code unit of the encoding: an invalid or cut-off unit is skipped whole, so that a
// lone surrogate in UTF-16 does not shift every later unit by one byte.
size_t UnitBytes(const std::string &converterName) {
    std::string name;
    for (const char c : converterName) {
        if (c != '-' && c != '_') {
            name.push_back((c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c);
        }
    }
    const auto startsWith = [&](std::string_view prefix) { return name.starts_with(prefix); };
    if (startsWith("UTF16") || startsWith("UCS2") || startsWith("UNICODE")) {
        return 2;
    }
    if (startsWith("UTF32") || startsWith("UCS4") || startsWith("WCHART")) {
        return 4;
    }
    return 1;
}

} // namespace

std::optional<std::u16string> ConvertToWide(std::string_view bytes,
                                            const std::string &converterName) {
    const platform::IconvHandle cv("UTF-16LE", converterName.c_str());
    if (!cv.ok()) {
        return std::nullopt;
    }
    const size_t unit = UnitBytes(converterName);
    std::u16string out;
    out.reserve(bytes.size());
    char chunk[4096];
    char *in = const_cast<char *>(bytes.data());
    size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char *dst = chunk;
        size_t outLeft = sizeof chunk;
        const size_t rc = iconv(static_cast<iconv_t>(cv.get()), &in, &inLeft, &dst, &outLeft);
        AppendUtf16Le(out, chunk, static_cast<size_t>(dst - chunk));
        if (rc != static_cast<size_t>(-1)) {
            break;
        }
        if (errno == E2BIG) {
            continue;
        }
        // An invalid sequence (EILSEQ) or one cut off at the end (EINVAL): one replacement
        // character for its first byte (its first code unit in UTF-16 and UTF-32), then carry on
        // after it.
        out.push_back(u'\xFFFD');
        const size_t skip = std::min(unit, inLeft);
        in += skip;
        inLeft -= skip;
        iconv(static_cast<iconv_t>(cv.get()), nullptr, nullptr, nullptr, nullptr);
    }
    // Stateful encodings may hold back a shift sequence until told the input has ended.
    char *dst = chunk;
    size_t outLeft = sizeof chunk;
    iconv(static_cast<iconv_t>(cv.get()), nullptr, nullptr, &dst, &outLeft);
    AppendUtf16Le(out, chunk, static_cast<size_t>(dst - chunk));
    return out;
}

} // namespace kestrun::http
