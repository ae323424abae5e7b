// PNG decoding through LodePNG.
#include "kestrun/imaging/image_codecs.h"

#include <lodepng.h>

#include <cstdlib>
#include <memory>

namespace kestrun::imaging {
namespace {

// A LodePNG decoder state, cleaned up when it goes.
class PngState {
public:
    PngState() { lodepng_state_init(&state_); }
    ~PngState() { lodepng_state_cleanup(&state_); }
    PngState(const PngState &) = delete;
    PngState &operator=(const PngState &) = delete;
    LodePNGState *get() { return &state_; }

private:
    LodePNGState state_;
};

struct FreeDeleter {
    void operator()(unsigned char *p) const { std::free(p); }
};

} // namespace

PngDecodeResult DecodePng(std::string_view file, uint64_t maxPixels) {
    PngDecodeResult result;
    const auto *data = reinterpret_cast<const unsigned char *>(file.data());
    PngState state;
    unsigned width = 0;
    unsigned height = 0;
    result.error = lodepng_inspect(&width, &height, state.get(), data, file.size());
    if (result.error != 0) {
        return result;
    }
    if (!DimensionsAllowed(width, height, maxPixels)) {
        result.error = kPngTooLarge;
        return result;
    }
    state.get()->info_raw.colortype = LCT_RGBA;
    state.get()->info_raw.bitdepth = 8;
    // Only the pixels matter: skip text chunks and do not keep unknown ones.
    state.get()->decoder.read_text_chunks = 0;
    state.get()->decoder.remember_unknown_chunks = 0;
    unsigned char *raw = nullptr;
    result.error = lodepng_decode(&raw, &width, &height, state.get(), data, file.size());
    const std::unique_ptr<unsigned char, FreeDeleter> pixels(raw);
    if (result.error != 0) {
        return result;
    }
    if (pixels == nullptr || !DimensionsAllowed(width, height, maxPixels)) {
        result.error = kPngTooLarge;
        return result;
    }
    result.raster.width = width;
    result.raster.height = height;
    result.raster.components = 4;
    result.raster.rgba.assign(pixels.get(), pixels.get() + uint64_t{width} * height * 4);
    return result;
}

std::string PngErrorText(unsigned error) {
    if (error == kPngTooLarge) {
        return "image dimensions too large";
    }
    return lodepng_error_text(error);
}

} // namespace kestrun::imaging
