// MakeQRCode, ScanQRImage, ImageToJPG, ImageToBMP.
#include "kestrun.h"
#include "kestrun/imaging/barcode_scan.h"
#include "kestrun/imaging/convert.h"
#include "kestrun/imaging/qrcode.h"
#include "kestrun/interop/frame.h"

#include <optional>
#include <string>

using namespace kestrun::interop;

namespace {

// A ref-string that may be absent: a null variable pointer or a null BSTR.
std::optional<std::string> OptionalRefString(BSTR *variable) {
    if (variable == nullptr || *variable == nullptr) {
        return std::nullopt;
    }
    return BstrBytes(*variable);
}

} // namespace

KESTRUN_EXPORT BSTR KESTRUN_CALL MakeQRCode(BSTR *text, BSTR *fileName, int32_t size, int32_t level,
                                            int32_t quality) {
    return GuardString([&] {
        const auto textBytes = OptionalRefString(text);
        const auto nameBytes = OptionalRefString(fileName);
        return StringResult(kestrun::imaging::MakeQRCode(
            textBytes ? std::optional<std::string_view>(*textBytes) : std::nullopt,
            nameBytes ? std::optional<std::string_view>(*nameBytes) : std::nullopt, size, level,
            quality));
    });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL ScanQRImage(BSTR *fileName, int32_t hybrid, BSTR *errorText,
                                             int32_t utf8) {
    WriteOutString(errorText, "");
    return GuardString([&] {
        const bool useHybrid = (hybrid & 0xFF) != 0;
        const auto outcome = kestrun::imaging::ScanQRImage(RefString(fileName), useHybrid, utf8);
        if (!outcome.errorText.empty()) {
            WriteOutString(errorText, outcome.errorText);
        }
        return StringResult(outcome.text);
    });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL ImageToJPG(BSTR *sourceFile, BSTR *targetFile, int32_t quality) {
    return GuardString([&] {
        return StringResult(
            kestrun::imaging::ConvertToJpeg(RefString(sourceFile), RefString(targetFile), quality));
    });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL ImageToBMP(BSTR *sourceFile, BSTR *targetFile) {
    return GuardString([&] {
        return StringResult(
            kestrun::imaging::ConvertToBmp(RefString(sourceFile), RefString(targetFile)));
    });
}
