// UrlEncode_GB, UrlDecode_GB, UrlEncode_UTF8, UrlDecode_UTF8.
#include "kestrun.h"
#include "kestrun/codecs/url.h"
#include "kestrun/interop/frame.h"

using namespace kestrun::interop;
using kestrun::codecs::UrlDecodeBytes;
using kestrun::codecs::UrlEncodeBytes;

KESTRUN_EXPORT BSTR KESTRUN_CALL UrlEncode_GB(const char *text) {
    if (text == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return StringResult(UrlEncodeBytes(text)); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL UrlEncode_UTF8(const char *text) {
    if (text == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return StringResult(UrlEncodeBytes(AnsiToUtf8(text))); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL UrlDecode_GB(const char *encoded) {
    if (encoded == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return StringResult(UrlDecodeBytes(encoded)); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL UrlDecode_UTF8(const char *encoded) {
    if (encoded == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return StringResult(Utf8ToAnsi(UrlDecodeBytes(encoded))); });
}
