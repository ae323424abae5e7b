// A BSTR variable holding a text, as a host passes a ByRef String to an export.
#pragma once

#include "oleauto.h"

#include <string>

namespace bench {

struct BstrVariable {
    explicit BstrVariable(const std::string &text)
        : value(SysAllocStringByteLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~BstrVariable() { SysFreeString(value); }
    BstrVariable(const BstrVariable &) = delete;
    BstrVariable &operator=(const BstrVariable &) = delete;
    BSTR value;
};

} // namespace bench
