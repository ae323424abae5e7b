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
    return GuardString([&] {
        const std::u16string wide = AnsiToWide(text);
        return WriteExactResult(wide.size() * 6,
                                [&](char *out) { codecs::UnicodeEscapeTo(wide, out); });
    });
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
    return GuardString([&] {
        const std::string_view in = text;
        const size_t size = codecs::HtmlEscapedSize(in);
        return WriteExactResult(size, [&](char *out) { codecs::HtmlEscapeTo(in, out); });
    });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL HTMLDecode(const char *text) {
    if (text == nullptr) {
        return StringResult("");
    }
    return GuardString([&] {
        const std::string_view in = text;
        return WriteStringResult(
            in.size(), [&](char *out) { return codecs::HtmlUnescapeTo(in, out); },
            ZeroBytes::Impossible);
    });
}
