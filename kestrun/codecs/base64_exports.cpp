// Base64Encode_GB, Base64Decode_GB, Base64Encode_UTF8, Base64Decode_UTF8.
#include "kestrun.h"
#include "kestrun/codecs/base64.h"
#include "kestrun/interop/frame.h"

using namespace kestrun::interop;
namespace codecs = kestrun::codecs;

namespace {

// The Base64 text of `bytes`, written straight into the result.
BSTR EncodedResult(std::string_view bytes) {
    const size_t size = codecs::Base64EncodedSize(bytes.size());
    return WriteExactResult(size, [&](char *out) { codecs::Base64EncodeTo(bytes, out); });
}

} // namespace

KESTRUN_EXPORT BSTR KESTRUN_CALL Base64Encode_GB(const char *text) {
    if (text == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return EncodedResult(text); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL Base64Encode_UTF8(const char *text) {
    if (text == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return EncodedResult(AnsiToUtf8(text)); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL Base64Decode_GB(const char *base64) {
    if (base64 == nullptr) {
        return StringResult("");
    }
    return GuardString([&]() -> BSTR {
        const std::string_view text = base64;
        ResultBuffer result(codecs::Base64DecodedBound(text.size()));
        const auto used = codecs::Base64DecodeTo(text, result.data());
        return used ? result.Finish(*used) : nullptr;
    });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL Base64Decode_UTF8(const char *base64) {
    if (base64 == nullptr) {
        return StringResult("");
    }
    return GuardString([&]() -> BSTR {
        const auto bytes = codecs::Base64Decode(base64);
        return bytes ? StringResult(Utf8ToAnsi(UpToZero(*bytes))) : nullptr;
    });
}
