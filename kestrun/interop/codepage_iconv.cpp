// Code page 936 conversions on glibc's iconv.
#include "codepage_seam.h"

#include <cerrno>
#include <iconv.h>

namespace kestrun::platform {
namespace {

constexpr char kAnsiCodePage[] = "CP936";

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

// Converts as much as possible; false with errno set when iconv stops early.
bool Run(const IconvHandle &cd, const char **in, size_t *inLeft, char **out, size_t *outLeft) {
    char *src = const_cast<char *>(*in);
    const size_t rc = iconv(static_cast<iconv_t>(cd.get()), &src, inLeft, out, outLeft);
    *in = src;
    return rc != static_cast<size_t>(-1);
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

std::u16string GbkToWide(std::string_view gbk) {
    std::u16string out;
    if (gbk.empty()) {
        return out;
    }
    if (AllAscii(gbk)) {
        out.assign(gbk.begin(), gbk.end());
        return out;
    }
    IconvHandle cv("UTF-16LE", kAnsiCodePage);
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
        if (Run(cv, &in, &inLeft, &dst, &outLeft)) {
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

void GbkEncoder::Append(std::string &out, std::u16string_view wide) {
    if (AllAscii(wide)) {
        out.append(wide.begin(), wide.end());
        return;
    }
    if (!opened_) {
        cd_.Open(kAnsiCodePage, "UTF-16LE");
        opened_ = true;
    }
    if (!cd_.ok()) {
        for (char16_t c : wide) {
            out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        return;
    }
    iconv(static_cast<iconv_t>(cd_.get()), nullptr, nullptr, nullptr, nullptr); // fresh start
    // A GBK character takes at most two bytes per UTF-16 unit.
    const size_t start = out.size();
    out.resize(start + wide.size() * 2);
    const char *in = reinterpret_cast<const char *>(wide.data());
    size_t inLeft = wide.size() * sizeof(char16_t);
    char *dst = out.data() + start;
    size_t outLeft = wide.size() * 2;
    while (inLeft > 0) {
        if (Run(cd_, &in, &inLeft, &dst, &outLeft) || errno == E2BIG) {
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
}

std::string WideToGbk(std::u16string_view wide) {
    std::string out;
    GbkEncoder().Append(out, wide);
    return out;
}

} // namespace kestrun::platform
