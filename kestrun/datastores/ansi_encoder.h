// Many UTF-8 texts to the ANSI code page (GBK) with one converter, for the cells of a query
// result. The result is byte for byte that of interop::Utf8ToAnsi: invalid UTF-8 becomes U+FFFD,
// and every character GBK lacks (an unpaired surrogate or a pair included) becomes one "?".
#pragma once

#include "kestrun/interop/codepage_seam.h"

#include <string>
#include <string_view>

namespace kestrun::platform {

class AnsiEncoder {
public:
    // Appends the GBK form of `utf8` (up to its first zero byte) to `out`.
    void Append(std::string &out, std::string_view utf8);

private:
    GbkEncoder gbk_;
};

} // namespace kestrun::platform
