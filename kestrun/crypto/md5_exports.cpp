// MD516_GB, MD532_GB, MD516_UTF8, MD532_UTF8.
#include "kestrun.h"
#include "kestrun/crypto/md5.h"
#include "kestrun/interop/frame.h"

using namespace kestrun::interop;
using kestrun::crypto::Md5Hex;

namespace {

// The 16 middle digits (zero-based offset 8) of the 32-digit digest.
std::string Middle16(const std::string &hex32) {
    return hex32.substr(8, 16);
}

} // namespace

KESTRUN_EXPORT BSTR KESTRUN_CALL MD532_GB(const char *text) {
    if (text == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return StringResult(Md5Hex(text)); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL MD516_GB(const char *text) {
    if (text == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return StringResult(Middle16(Md5Hex(text))); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL MD532_UTF8(const char *text) {
    if (text == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return StringResult(Md5Hex(AnsiToUtf8(text))); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL MD516_UTF8(const char *text) {
    if (text == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return StringResult(Middle16(Md5Hex(AnsiToUtf8(text)))); });
}
