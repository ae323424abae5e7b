// UnicodeEncode, UnicodeDecode, HTMLEncode, HTMLDecode.
#include "kestrun.h"
#include "kestrun/codecs/escapes.h"
#include "kestrun/interop/frame.h"

using namespace kestrun::interop;
namespace codecs = kestrun::codecs;

KESTRUN_EXPORT BSTR KESTRUN_CALL UnicodeEncode(const char *text) {
    if (text == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return StringResult(codecs::UnicodeEscape(text)); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL UnicodeDecode(const char *escaped) {
    if (escaped == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return StringResult(codecs::UnicodeUnescape(escaped)); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL HTMLEncode(const char *text) {
    if (text == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return StringResult(codecs::HtmlEscape(text)); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL HTMLDecode(const char *text) {
    if (text == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return StringResult(codecs::HtmlUnescape(text)); });
}
