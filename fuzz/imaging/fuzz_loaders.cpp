// Fuzz entry over the image loaders: every decoder gets the input; what decodes is checked for a
// consistent size, turned into luminance, written back as a bitmap and read again, and small
// images go through the barcode decoder.
#include "fuzz_loaders.h"

#include "kestrun/imaging/barcode_decoder.h"
#include "kestrun/imaging/barcode_errors.h"
#include "kestrun/imaging/image_codecs.h"
#include "kestrun/imaging/image_reader_source.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string_view>

namespace {

using namespace kestrun::imaging;

// Small enough that every input decodes in milliseconds.
constexpr uint64_t kFuzzMaxPixels = uint64_t{1} << 16;
constexpr uint64_t kScanMaxPixels = 128 * 128;

[[noreturn]] void Fail(const char *what) {
    std::fprintf(stderr, "imaging fuzz check failed: %s\n", what);
    std::abort();
}

void Check(const Raster &r) {
    if (r.width == 0 || r.height == 0 || uint64_t{r.width} * r.height > kFuzzMaxPixels) {
        Fail("decoded size outside the limit");
    }
    if (r.rgba.size() != uint64_t{r.width} * r.height * 4) {
        Fail("pixel buffer does not match the size");
    }
    // A 24-bit bitmap of the image reads back as the same colours, fully opaque.
    const auto back = DecodeBmp(EncodeBmp24(r), kFuzzMaxPixels);
    if (!back || back->width != r.width || back->height != r.height) {
        Fail("bitmap round trip lost the image");
    }
    for (size_t i = 0; i < r.rgba.size(); i += 4) {
        if (back->rgba[i] != r.rgba[i] || back->rgba[i + 1] != r.rgba[i + 1] ||
            back->rgba[i + 2] != r.rgba[i + 2] || back->rgba[i + 3] != 255) {
            Fail("bitmap round trip changed a pixel");
        }
    }
    const auto image = std::make_shared<const std::vector<uint8_t>>(r.rgba);
    const barcode::ImageReaderSource source(int(r.width), int(r.height), image, r.components);
    std::vector<uint8_t> luminance;
    try {
        luminance = source.getMatrix();
        (void)source.getRow(int(r.height) - 1);
    } catch (const barcode::IllegalArgumentException &) {
        if (r.components >= 1 && r.components <= 4) {
            Fail("luminance refused a known component count");
        }
        return;
    }
    if (uint64_t{r.width} * r.height <= kScanMaxPixels) {
        try {
            (void)barcode::DecodeLuminance(luminance, int(r.width), int(r.height), true);
        } catch (const barcode::Exception &) {
            // nothing found, or a damaged symbol: expected for almost every input
        } catch (const std::exception &) {
            // the decoder's own failures (a range check in its Aztec detector on tiny images);
            // the scanning export reports them as "std::exception: ..."
        }
    }
}

} // namespace

void FuzzImageLoaders(std::string_view input) {
    const auto png = DecodePng(input, kFuzzMaxPixels);
    if (png.error == 0) {
        Check(png.raster);
    } else if (PngErrorText(png.error).empty()) {
        Fail("LodePNG error without text");
    }
    for (const auto &decoded : {DecodeJpeg(input, kFuzzMaxPixels), DecodeBmp(input, kFuzzMaxPixels),
                                DecodeGif(input, kFuzzMaxPixels)}) {
        if (decoded) {
            Check(*decoded);
        }
    }
    if (DecodeImage(input, kFuzzMaxPixels) && SniffFormat(input) == ImageFormat::Unknown) {
        Fail("an unknown format decoded");
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzImageLoaders(std::string_view(reinterpret_cast<const char *>(data), size));
    return 0;
}
