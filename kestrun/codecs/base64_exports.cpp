// Base64Encode_GB, Base64Decode_GB, Base64Encode_UTF8, Base64Decode_UTF8.
#include "kestrun.h"
#include "kestrun/codecs/base64.h"
#include "kestrun/interop/frame.h"

using namespace kestrun::interop;
using kestrun::codecs::Base64Decode;
using kestrun::codecs::Base64Encode;

KESTRUN_EXPORT BSTR KESTRUN_CALL Base64Encode_GB(const char *text) {
    if (text == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return StringResult(Base64Encode(text)); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL Base64Encode_UTF8(const char *text) {
    if (text == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return StringResult(Base64Encode(AnsiToUtf8(text))); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL Base64Decode_GB(const char *base64) {
    if (base64 == nullptr) {
        return StringResult("");
    }
    return GuardString([&]() -> BSTR {
        const auto bytes = Base64Decode(base64);
        return bytes ? StringResult(*bytes) : nullptr;
    });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL Base64Decode_UTF8(const char *base64) {
    if (base64 == nullptr) {
        return StringResult("");
    }
    return GuardString([&]() -> BSTR {
        const auto bytes = Base64Decode(base64);
        return bytes ? StringResult(Utf8ToAnsi(UpToZero(*bytes))) : nullptr;
    });
}
