// The UTF-16 to code page 936 step of AnsiEncoder on glibc's iconv, with one descriptor kept for
// all texts (opening one per text costs more than converting a short text).
#include "kestrun/datastores/ansi_encoder.h"

#include "kestrun/interop/codepage.h"

#include <cerrno>
#include <iconv.h>

namespace kestrun::platform {
namespace {

iconv_t Descriptor(void *converter) {
    return static_cast<iconv_t>(converter);
}

bool IsAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

} // namespace

AnsiEncoder::~AnsiEncoder() {
    if (opened_ && Descriptor(converter_) != reinterpret_cast<iconv_t>(-1)) {
        iconv_close(Descriptor(converter_));
    }
}

void AnsiEncoder::Append(std::string &out, std::string_view utf8) {
    utf8 = interop::UpToZero(utf8);
    if (IsAscii(utf8)) {
        out.append(utf8);
        return;
    }
    if (!opened_) {
        converter_ = iconv_open("CP936", "UTF-16LE");
        opened_ = true;
    }
    const iconv_t cd = Descriptor(converter_);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        out.append(interop::Utf8ToAnsi(utf8));
        return;
    }
    wide_ = interop::Utf8ToWide(utf8);
    iconv(cd, nullptr, nullptr, nullptr, nullptr); // a fresh start for every text
    // A GBK character takes at most two bytes per UTF-16 unit.
    const size_t start = out.size();
    out.resize(start + wide_.size() * 2);
    char *in = reinterpret_cast<char *>(wide_.data());
    size_t inLeft = wide_.size() * sizeof(char16_t);
    char *dst = out.data() + start;
    size_t outLeft = wide_.size() * 2;
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1) || errno == E2BIG) {
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

} // namespace kestrun::platform
