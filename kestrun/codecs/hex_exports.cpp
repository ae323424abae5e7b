// StrToHex_GB, StrToHex_UTF8, HexToStr_GB, HexToStr_UTF8.
#include "kestrun.h"
#include "kestrun/codecs/hex.h"
#include "kestrun/interop/frame.h"

using namespace kestrun::interop;
using kestrun::codecs::HexDecode;
using kestrun::codecs::HexEncode;

// Only the value 1 selects uppercase digits; 0 and -1 (True) both give lowercase.
static bool UpperCaseFlag(int32_t flag) {
    return flag == 1;
}

KESTRUN_EXPORT BSTR KESTRUN_CALL StrToHex_GB(BSTR *text, int32_t upperCase) {
    return GuardString(
        [&] { return StringResult(HexEncode(RefString(text), UpperCaseFlag(upperCase))); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL StrToHex_UTF8(BSTR *text, int32_t upperCase) {
    return GuardString([&] {
        return StringResult(HexEncode(AnsiToUtf8(RefString(text)), UpperCaseFlag(upperCase)));
    });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL HexToStr_GB(BSTR *hex) {
    return GuardString([&] { return StringResult(HexDecode(RefString(hex))); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL HexToStr_UTF8(BSTR *hex) {
    return GuardString([&] { return StringResult(Utf8ToAnsi(HexDecode(RefString(hex)))); });
}
