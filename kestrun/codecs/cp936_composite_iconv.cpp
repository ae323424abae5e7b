// The conversion to code page 936 with the composite check, on glibc's iconv.
#include "kestrun/codecs/cp936_composite.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace kestrun::codecs {
namespace {

class Iconv {
public:
    Iconv(const char *to, const char *from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) {
            iconv_close(cd_);
        }
    }
    Iconv(const Iconv &) = delete;
    Iconv &operator=(const Iconv &) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

bool IsHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

} // namespace

std::string WideToCp936Composite(std::u16string_view wide) {
    const std::u16string composed = ComposeForCp936(wide);
    std::string out;
    if (composed.empty()) {
        return out;
    }
    Iconv cv("CP936", "UTF-16LE");
    if (!cv.ok()) {
        for (const char16_t u : composed) {
            out.push_back(u < 0x80 ? static_cast<char>(u) : '?');
        }
        return out;
    }
    // At most two bytes per UTF-16 unit.
    out.resize(composed.size() * 2);
    char *in = const_cast<char *>(reinterpret_cast<const char *>(composed.data()));
    size_t inLeft = composed.size() * sizeof(char16_t);
    char *dst = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cv.get(), &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1)) {
            break;
        }
        if (errno == E2BIG || outLeft == 0) {
            break;
        }
        // The character at `in` has no GBK form: one "?" for it (a surrogate pair counts once).
        size_t skip = sizeof(char16_t);
        if (inLeft >= 2 * sizeof(char16_t)) {
            char16_t first;
            char16_t second;
            std::memcpy(&first, in, sizeof first);
            std::memcpy(&second, in + sizeof first, sizeof second);
            if (IsHighSurrogate(first) && IsLowSurrogate(second)) {
                skip = 2 * sizeof(char16_t);
            }
        }
        skip = std::min(skip, inLeft);
        *dst++ = '?';
        --outLeft;
        in += skip;
        inLeft -= skip;
    }
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace kestrun::codecs
