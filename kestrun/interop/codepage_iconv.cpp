// Code page 936 conversions on glibc's iconv.
#include "codepage_seam.h"

#include <cerrno>
#include <iconv.h>

namespace kestrun::platform {
namespace {

class Converter {
public:
    Converter(const char *to, const char *from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) {
            iconv_close(cd_);
        }
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much as possible; returns false with errno set when iconv stops early.
    bool Run(const char **in, size_t *inLeft, char **out, size_t *outLeft) {
        char *src = const_cast<char *>(*in);
        const size_t rc = iconv(cd_, &src, inLeft, out, outLeft);
        *in = src;
        return rc != static_cast<size_t>(-1);
    }

private:
    iconv_t cd_;
};

constexpr char kAnsiCodePage[] = "CP936";

bool AllAscii(std::string_view text) {
    for (unsigned char c : text) {
        if (c >= 0x80) {
            return false;
        }
    }
    return true;
}

} // namespace

std::u16string GbkToWide(std::string_view gbk) {
    std::u16string out;
    if (gbk.empty()) {
        return out;
    }
    if (AllAscii(gbk)) {
        out.assign(gbk.begin(), gbk.end());
        return out;
    }
    Converter cv("UTF-16LE", kAnsiCodePage);
    if (!cv.ok()) {
        for (unsigned char c : gbk) {
            out.push_back(c < 0x80 ? c : u'?');
        }
        return out;
    }
    // Every GBK character takes at least one byte and yields one UTF-16 unit.
    out.resize(gbk.size());
    const char *in = gbk.data();
    size_t inLeft = gbk.size();
    char *dst = reinterpret_cast<char *>(out.data());
    size_t outLeft = out.size() * sizeof(char16_t);
    while (inLeft > 0) {
        if (cv.Run(&in, &inLeft, &dst, &outLeft)) {
            break;
        }
        if (errno == E2BIG) {
            break; // cannot happen: the output has room for one unit per byte
        }
        // Invalid or truncated sequence: one "?" for the offending byte, then go on.
        const char16_t q = u'?';
        *reinterpret_cast<char16_t *>(dst) = q;
        dst += sizeof(char16_t);
        outLeft -= sizeof(char16_t);
        ++in;
        --inLeft;
    }
    out.resize(out.size() - outLeft / sizeof(char16_t));
    return out;
}

std::string WideToGbk(std::u16string_view wide) {
    std::string out;
    if (wide.empty()) {
        return out;
    }
    bool ascii = true;
    for (char16_t c : wide) {
        if (c >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        out.assign(wide.begin(), wide.end());
        return out;
    }
    Converter cv(kAnsiCodePage, "UTF-16LE");
    if (!cv.ok()) {
        for (char16_t c : wide) {
            out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        return out;
    }
    // A GBK character takes at most two bytes per UTF-16 unit.
    out.resize(wide.size() * 2);
    const char *in = reinterpret_cast<const char *>(wide.data());
    size_t inLeft = wide.size() * sizeof(char16_t);
    char *dst = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0) {
        if (cv.Run(&in, &inLeft, &dst, &outLeft)) {
            break;
        }
        if (errno == E2BIG) {
            break;
        }
        // A character GBK lacks (or a lone surrogate): one "?" for the whole character.
        size_t skip = sizeof(char16_t);
        if (inLeft >= 2 * sizeof(char16_t)) {
            char16_t first;
            char16_t second;
            __builtin_memcpy(&first, in, sizeof first);
            __builtin_memcpy(&second, in + sizeof first, sizeof second);
            if (first >= 0xD800 && first <= 0xDBFF && second >= 0xDC00 && second <= 0xDFFF) {
                skip = 2 * sizeof(char16_t);
            }
        }
        if (skip > inLeft) {
            skip = inLeft;
        }
        *dst++ = '?';
        --outLeft;
        in += skip;
        inLeft -= skip;
    }
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace kestrun::platform
