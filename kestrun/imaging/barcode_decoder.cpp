#include "kestrun/imaging/barcode_decoder.h"

#include "kestrun/imaging/barcode_errors.h"

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

namespace kestrun::imaging::barcode {
namespace {

// The symbologies scanned: the linear ones, then QR Code, Data Matrix, Aztec and PDF417.
constexpr ZXing::BarcodeFormats kFormats =
    ZXing::BarcodeFormat::UPCA | ZXing::BarcodeFormat::UPCE | ZXing::BarcodeFormat::EAN13 |
    ZXing::BarcodeFormat::EAN8 | ZXing::BarcodeFormat::DataBar | ZXing::BarcodeFormat::Code39 |
    ZXing::BarcodeFormat::Code93 | ZXing::BarcodeFormat::Code128 | ZXing::BarcodeFormat::ITF |
    ZXing::BarcodeFormat::Codabar | ZXing::BarcodeFormat::QRCode |
    ZXing::BarcodeFormat::DataMatrix | ZXing::BarcodeFormat::Aztec | ZXing::BarcodeFormat::PDF417;

ZXing::DecodeHints Hints(bool hybrid, bool returnErrors) {
    ZXing::DecodeHints hints;
    hints.setFormats(kFormats)
        .setTryHarder(false)
        .setTryRotate(false)
        .setTryDownscale(false)
        .setBinarizer(hybrid ? ZXing::Binarizer::LocalAverage : ZXing::Binarizer::GlobalHistogram)
        .setReturnErrors(returnErrors);
    return hints;
}

// The decoder's description of a failure, without its source location.
std::string Describe(const ZXing::Error &error) {
    std::string text;
    switch (error.type()) {
    case ZXing::Error::Format:
        text = "FormatError";
        break;
    case ZXing::Error::Checksum:
        text = "ChecksumError";
        break;
    case ZXing::Error::Unsupported:
        text = "Unsupported";
        break;
    case ZXing::Error::Type::None:
        break;
    }
    if (!error.msg().empty()) {
        text += " (" + error.msg() + ")";
    }
    return text;
}

} // namespace

std::string DecodeLuminance(const std::vector<uint8_t> &luminance, int width, int height,
                            bool hybrid) {
    if (width <= 0 || height <= 0 ||
        luminance.size() < static_cast<size_t>(width) * static_cast<size_t>(height)) {
        throw IllegalArgumentException("Luminance image has the wrong size");
    }
    const ZXing::ImageView view(luminance.data(), width, height, ZXing::ImageFormat::Lum);
    const ZXing::Result result = ZXing::ReadBarcode(view, Hints(hybrid, false));
    if (result.isValid()) {
        const ZXing::ByteArray &bytes = result.bytes();
        return std::string(bytes.begin(), bytes.end());
    }
    // Nothing decoded. Ask again for failed symbols, so that a damaged or malformed one is
    // reported as such rather than as nothing found.
    const ZXing::Result failed = ZXing::ReadBarcode(view, Hints(hybrid, true));
    switch (failed.error().type()) {
    case ZXing::Error::Format:
    case ZXing::Error::Checksum:
        throw ReaderException(Describe(failed.error()));
    case ZXing::Error::Unsupported:
        throw Exception(Describe(failed.error()));
    case ZXing::Error::Type::None:
        break;
    }
    throw ReaderException("No code detected");
}

} // namespace kestrun::imaging::barcode
