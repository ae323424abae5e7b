// Text conversion through iconv.
#include "convert.h"

#include <cerrno>
#include <iconv.h>

namespace kestrun_cli {

namespace {

class Iconv {
public:
    Iconv(const char *to, const char *from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (valid()) {
            iconv_close(cd_);
        }
    }
    Iconv(const Iconv &) = delete;
    Iconv &operator=(const Iconv &) = delete;
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

} // namespace

std::string Convert(const char *to, const char *from, std::string_view in) {
    Iconv cd(to, from);
    if (!cd.valid()) {
        return std::string(in);
    }
    std::string out;
    char buffer[4096];
    char *src = const_cast<char *>(in.data());
    size_t srcLeft = in.size();
    while (srcLeft > 0) {
        char *dst = buffer;
        size_t dstLeft = sizeof buffer;
        const size_t rc = iconv(cd.get(), &src, &srcLeft, &dst, &dstLeft);
        out.append(buffer, dst);
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            out.push_back('?'); // not representable: show a placeholder and go on
            ++src;
            --srcLeft;
        }
    }
    return out;
}

} // namespace kestrun_cli
