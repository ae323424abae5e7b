// StrToHex_GB, StrToHex_UTF8, HexToStr_GB, HexToStr_UTF8.
#include "kestrun.h"
#include "kestrun/codecs/hex.h"
#include "kestrun/interop/frame.h"

using namespace kestrun::interop;
using kestrun::codecs::HexDecode;
using kestrun::codecs::HexDecodeTo;
using kestrun::codecs::HexEncodeTo;

namespace {

// Only the value 1 selects uppercase digits; 0 and -1 (True) both give lowercase.
bool UpperCaseFlag(int32_t flag) {
    return flag == 1;
}

BSTR HexResult(std::string_view bytes, int32_t upperCase) {
    const size_t size = bytes.size() * 2;
    return WriteExactResult(size,
                            [&](char *out) { HexEncodeTo(bytes, UpperCaseFlag(upperCase), out); });
}

} // namespace

KESTRUN_EXPORT BSTR KESTRUN_CALL StrToHex_GB(BSTR *text, int32_t upperCase) {
    return GuardString([&] { return HexResult(RefView(text), upperCase); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL StrToHex_UTF8(BSTR *text, int32_t upperCase) {
    return GuardString([&] { return HexResult(AnsiToUtf8(RefView(text)), upperCase); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL HexToStr_GB(BSTR *hex) {
    return GuardString([&] {
        const std::string_view text = RefView(hex);
        // Decoding stops before the first zero byte, so the result holds none.
        return WriteStringResult(
            text.size() / 2, [&](char *out) { return HexDecodeTo(text, out); },
            ZeroBytes::Impossible);
    });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL HexToStr_UTF8(BSTR *hex) {
    return GuardString([&] { return StringResult(Utf8ToAnsi(HexDecode(RefView(hex)))); });
}
