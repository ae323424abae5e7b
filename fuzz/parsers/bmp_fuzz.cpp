// The bitmap reader of the image converter, over every header it reads (core, information
// headers of 40 to 124 bytes), every depth and compression: a decoded image has the size its
// header declares, holds exactly its pixels, decodes the same through the format sniffer, is
// refused just below its pixel count and accepted at it, and reads back unchanged from the
// 24-bit bitmap the converter writes.
#include "fuzz_input.h"

#include "kestrun/imaging/image_codecs.h"
#include "kestrun/imaging/le_bytes.h"

#include <cstdlib>

namespace {

using fuzzing::Fail;
using namespace kestrun::imaging;

constexpr const char *kTarget = "bmp";
// Small enough that every input decodes in milliseconds.
constexpr uint64_t kFuzzMaxPixels = uint64_t{1} << 18;

bool SamePixels(const Raster &a, const Raster &b) {
    return a.width == b.width && a.height == b.height && a.rgba == b.rgba;
}

// The size the header declares: 16-bit fields in a core header, 32-bit signed ones (negative
// height for top-down rows) in the others.
void DeclaredSize(std::string_view file, uint64_t &width, uint64_t &height) {
    if (le::U32(file, 14) == 12) {
        width = le::U16(file, 18);
        height = le::U16(file, 20);
    } else {
        width = static_cast<uint64_t>(std::llabs(le::I32(file, 18)));
        height = static_cast<uint64_t>(std::llabs(le::I32(file, 22)));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view file(reinterpret_cast<const char *>(data), size);
    const auto image = DecodeBmp(file, kFuzzMaxPixels);
    const auto sniffed = DecodeImage(file, kFuzzMaxPixels);
    if (!image) {
        if (sniffed && SniffFormat(file) == ImageFormat::Bmp) {
            Fail(kTarget, "the sniffer decoded a bitmap the reader refused");
        }
        return 0;
    }
    if (SniffFormat(file) != ImageFormat::Bmp || !sniffed || !SamePixels(*image, *sniffed)) {
        Fail(kTarget, "the sniffer does not decode the bitmap the same way");
    }
    if (file.size() < 26) {
        Fail(kTarget, "a file shorter than its headers decoded");
    }
    uint64_t width = 0;
    uint64_t height = 0;
    DeclaredSize(file, width, height);
    if (image->width != width || image->height != height) {
        Fail(kTarget, "decoded size differs from the header's");
    }
    const uint64_t pixels = width * height;
    if (pixels == 0 || pixels > kFuzzMaxPixels || image->rgba.size() != pixels * 4) {
        Fail(kTarget, "pixel buffer does not match the size");
    }
    if (image->components != 3 && image->components != 4) {
        Fail(kTarget, "a bitmap with an odd component count");
    }
    const auto atLimit = DecodeBmp(file, pixels);
    if (!atLimit || !SamePixels(*atLimit, *image)) {
        Fail(kTarget, "the same file decoded differently at its own pixel count");
    }
    if (DecodeBmp(file, pixels - 1)) {
        Fail(kTarget, "a bitmap over the pixel limit decoded");
    }
    const auto back = DecodeBmp(EncodeBmp24(*image), kFuzzMaxPixels);
    if (!back || back->width != image->width || back->height != image->height) {
        Fail(kTarget, "the written bitmap lost the image");
    }
    for (size_t i = 0; i < image->rgba.size(); i += 4) {
        if (back->rgba[i] != image->rgba[i] || back->rgba[i + 1] != image->rgba[i + 1] ||
            back->rgba[i + 2] != image->rgba[i + 2] || back->rgba[i + 3] != 255) {
            Fail(kTarget, "the written bitmap changed a pixel");
        }
    }
    return 0;
}
