#include "kestrun/imaging/barcode_scan.h"

#include "kestrun/imaging/barcode_decoder.h"
#include "kestrun/imaging/barcode_errors.h"
#include "kestrun/imaging/file_seam.h"
#include "kestrun/imaging/image_reader_source.h"
#include "kestrun/imaging/messages.h"
#include "kestrun/interop/codepage.h"

#include <memory>

namespace kestrun::imaging {

using barcode::ImageReaderSource;

ScanOutcome ScanQRImage(std::string_view fileName, bool hybrid, int32_t utf8) {
    ScanOutcome outcome;
    const std::string name(fileName);
    if (!files::Exists(name)) {
        outcome.errorText = messages::kFileMissingFullWidth;
        return outcome;
    }
    std::shared_ptr<ImageReaderSource> source;
    try {
        source = ImageReaderSource::loadFromFile(name);
    } catch (const barcode::IllegalArgumentException &e) {
        outcome.errorText = e.what();
        return outcome;
    } catch (const std::exception &e) {
        // Out of memory while loading: reported like the decoding step's failures.
        outcome.errorText = std::string("std::exception: ") + e.what();
        return outcome;
    }
    std::string text;
    try {
        const auto luminance = source->luminancePlane();
        text =
            barcode::DecodeLuminance(*luminance, source->getWidth(), source->getHeight(), hybrid);
    } catch (const barcode::ReaderException &e) {
        outcome.errorText = std::string("zxing::ReaderException: ") + e.what();
        return outcome;
    } catch (const barcode::IllegalArgumentException &e) {
        outcome.errorText = std::string("zxing::IllegalArgumentException: ") + e.what();
        return outcome;
    } catch (const barcode::Exception &e) {
        outcome.errorText = std::string("zxing::Exception: ") + e.what();
        return outcome;
    } catch (const std::exception &e) {
        outcome.errorText = std::string("std::exception: ") + e.what();
        return outcome;
    }
    if (utf8 == 1) {
        text = interop::Utf8ToAnsi(text);
        if (!text.empty() && text.front() == '?') {
            text.erase(0, 1);
        }
    }
    outcome.text = std::string(interop::UpToZero(text));
    return outcome;
}

} // namespace kestrun::imaging
