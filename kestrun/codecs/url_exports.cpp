// UrlEncode_GB, UrlDecode_GB, UrlEncode_UTF8, UrlDecode_UTF8.
#include "kestrun.h"
#include "kestrun/codecs/url.h"
#include "kestrun/interop/frame.h"

using namespace kestrun::interop;
namespace codecs = kestrun::codecs;

namespace {

BSTR EncodedResult(std::string_view bytes) {
    const size_t size = codecs::UrlEncodedSize(bytes);
    return WriteExactResult(size, [&](char *out) { codecs::UrlEncodeTo(bytes, out); });
}

} // namespace

KESTRUN_EXPORT BSTR KESTRUN_CALL UrlEncode_GB(const char *text) {
    if (text == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return EncodedResult(text); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL UrlEncode_UTF8(const char *text) {
    if (text == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return EncodedResult(AnsiToUtf8(text)); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL UrlDecode_GB(const char *encoded) {
    if (encoded == nullptr) {
        return StringResult("");
    }
    return GuardString([&] {
        const std::string_view text = encoded;
        // Decoding stops before the first zero byte, so the result holds none.
        return WriteStringResult(
            text.size(), [&](char *out) { return codecs::UrlDecodeTo(text, out); },
            ZeroBytes::Impossible);
    });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL UrlDecode_UTF8(const char *encoded) {
    if (encoded == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return StringResult(Utf8ToAnsi(codecs::UrlDecodeBytes(encoded))); });
}
