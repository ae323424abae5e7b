// PNG decoding: libspng does the work; LodePNG is asked only when libspng refuses a file, so that
// every rejected file is described by LodePNG's own error text (and a file only LodePNG accepts is
// still read).
#include "kestrun/imaging/image_codecs.h"

#include <lodepng.h>
#include <spng.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace kestrun::imaging {
namespace {

// LodePNG's codes for a failed allocation and for a decompressed size over the given maximum.
constexpr unsigned kLodePngAllocationFailed = 83;
[[maybe_unused]] constexpr unsigned kLodePngOutputTooLarge = 109;

// LodePNG decodes a whole file itself (as the only decoder would) up to this many pixels, the
// same bound as the RGBA decoders; above it, only to find its error text with bounded memory.
constexpr uint64_t kLodePngFullPixels = kMaxPixels;
// The most decompressed image data LodePNG is given when it is asked for its text only.
constexpr size_t kLodePngTextBytes = size_t{256} << 20;

struct SpngFree {
    void operator()(spng_ctx *ctx) const { spng_ctx_free(ctx); }
};
using SpngContext = std::unique_ptr<spng_ctx, SpngFree>;

struct FreeDeleter {
    void operator()(unsigned char *p) const { std::free(p); }
};

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

// A libspng decoder over the file in memory, with the header read; null when libspng refuses the
// header. CRC errors of every chunk stop decoding, as they do in LodePNG.
SpngContext OpenSpng(std::string_view file, spng_ihdr &header) {
    SpngContext ctx(spng_ctx_new(0));
    if (!ctx || spng_set_png_buffer(ctx.get(), file.data(), file.size()) != 0 ||
        spng_set_crc_action(ctx.get(), SPNG_CRC_ERROR, SPNG_CRC_ERROR) != 0 ||
        spng_set_image_limits(ctx.get(), 0x7FFFFFFF, 0x7FFFFFFF) != 0 ||
        spng_get_ihdr(ctx.get(), &header) != 0) {
        return nullptr;
    }
    return ctx;
}

// Zlib decompression for LodePNG that never holds more than `limit` bytes of output: a stream
// that goes on past the limit is cut there and reported as over LodePNG's maximum output size.
unsigned BoundedInflate(unsigned char **out, size_t *outSize, const unsigned char *in,
                        size_t inSize, const LodePNGDecompressSettings *settings) {
    const size_t limit = *static_cast<const size_t *>(settings->custom_context);
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        return 1;
    }
    std::unique_ptr<unsigned char, FreeDeleter> buffer;
    size_t capacity = 0;
    size_t used = 0;
    int rc = Z_OK;
    stream.next_in = const_cast<Bytef *>(in);
    size_t inLeft = inSize;
    while (rc == Z_OK) {
        if (used == capacity) {
            if (capacity >= limit) {
                break;
            }
            const size_t grown = std::min(limit, capacity == 0 ? size_t{1} << 16 : capacity * 2);
            auto *bigger = static_cast<unsigned char *>(std::realloc(buffer.get(), grown));
            if (bigger == nullptr) {
                inflateEnd(&stream);
                return 1;
            }
            (void)buffer.release();
            buffer.reset(bigger);
            capacity = grown;
        }
        const auto inChunk = static_cast<uInt>(std::min<size_t>(inLeft, 1u << 30));
        const auto outChunk = static_cast<uInt>(std::min<size_t>(capacity - used, 1u << 30));
        stream.avail_in = inChunk;
        stream.next_out = buffer.get() + used;
        stream.avail_out = outChunk;
        rc = inflate(&stream, Z_NO_FLUSH);
        inLeft -= inChunk - stream.avail_in;
        used += outChunk - stream.avail_out;
        if (rc == Z_BUF_ERROR && stream.avail_out != 0) {
            break; // input ran out before the end of the stream
        }
        if (rc == Z_BUF_ERROR) {
            rc = Z_OK;
        }
    }
    inflateEnd(&stream);
    *out = buffer.release();
    *outSize = used;
    // Cut at the limit: reported as an error with the size over LodePNG's maximum.
    return rc == Z_STREAM_END ? 0 : 1;
}

// LodePNG's verdict on a file libspng refused (or one too large to decode): 0 and the RGBA
// pixels when LodePNG reads it within the full-decoding bound, otherwise LodePNG's error code.
PngDecodeResult LodePngVerdict(std::string_view file, uint64_t maxPixels) {
    PngDecodeResult result;
    const auto *data = reinterpret_cast<const unsigned char *>(file.data());
    PngState state;
    unsigned width = 0;
    unsigned height = 0;
    result.error = lodepng_inspect(&width, &height, state.get(), data, file.size());
    if (result.error != 0) {
        return result;
    }
    state.get()->decoder.read_text_chunks = 0;
    state.get()->decoder.remember_unknown_chunks = 0;
    const uint64_t pixels = uint64_t{width} * height;
    const bool full = pixels <= kLodePngFullPixels && pixels <= maxPixels;
    size_t limit = kLodePngTextBytes;
    if (full) {
        state.get()->info_raw.colortype = LCT_RGBA;
        state.get()->info_raw.bitdepth = 8;
    } else {
        // Text only: the data are decompressed into a bounded buffer and left in their own
        // format, so that neither step can allocate for the size the header claims.
        state.get()->decoder.color_convert = 0;
        state.get()->decoder.zlibsettings.custom_zlib = BoundedInflate;
        state.get()->decoder.zlibsettings.custom_context = &limit;
        state.get()->decoder.zlibsettings.max_output_size = limit - 1;
    }
    unsigned char *raw = nullptr;
    result.error = lodepng_decode(&raw, &width, &height, state.get(), data, file.size());
    const std::unique_ptr<unsigned char, FreeDeleter> owned(raw);
    if (result.error != 0) {
        return result;
    }
    if (!full || raw == nullptr) {
        result.error = kLodePngAllocationFailed; // readable, but more than we hold
        return result;
    }
    result.raster.width = width;
    result.raster.height = height;
    result.raster.components = 4;
    result.raster.rgba.assign(raw, raw + uint64_t{width} * height * 4);
    return result;
}

uint8_t Luminance(const uint8_t *rgb) {
    return static_cast<uint8_t>((306u * rgb[0] + 601u * rgb[1] + 117u * rgb[2] + 512u) >> 10);
}

// The luminance plane through libspng; false when libspng refuses the file.
bool SpngLuminance(std::string_view file, uint64_t maxPixels, PngLuminanceResult &result) {
    spng_ihdr header{};
    SpngContext ctx = OpenSpng(file, header);
    if (!ctx || !DimensionsAllowed(header.width, header.height, maxPixels)) {
        return false;
    }
    const size_t width = header.width;
    const size_t pixels = width * header.height;
    // Grey of up to 8 bits is the luminance itself; everything else goes through RGB.
    const bool grey = header.color_type == SPNG_COLOR_TYPE_GRAYSCALE && header.bit_depth <= 8;
    std::vector<uint8_t> plane;
    if (grey) {
        plane.resize(pixels);
        if (spng_decode_image(ctx.get(), plane.data(), plane.size(), SPNG_FMT_G8, 0) != 0) {
            return false;
        }
    } else if (header.interlace_method == SPNG_INTERLACE_NONE) {
        plane.resize(pixels);
        std::vector<uint8_t> row(width * 3);
        if (spng_decode_image(ctx.get(), nullptr, 0, SPNG_FMT_RGB8, SPNG_DECODE_PROGRESSIVE) != 0) {
            return false;
        }
        for (size_t y = 0; y < header.height; ++y) {
            const int rc = spng_decode_row(ctx.get(), row.data(), row.size());
            if (rc != 0 && !(rc == SPNG_EOI && y + 1 == header.height)) {
                return false;
            }
            uint8_t *lum = plane.data() + y * width;
            for (size_t x = 0; x < width; ++x) {
                lum[x] = Luminance(&row[3 * x]);
            }
        }
    } else {
        // Interlaced colour: the whole RGB image first (bounded like the RGBA decoders).
        if (pixels > kMaxPixels) {
            return false;
        }
        plane.resize(pixels * 3);
        if (spng_decode_image(ctx.get(), plane.data(), plane.size(), SPNG_FMT_RGB8, 0) != 0) {
            return false;
        }
        for (size_t i = 0; i < pixels; ++i) {
            plane[i] = Luminance(&plane[3 * i]);
        }
        plane.resize(pixels);
        plane.shrink_to_fit();
    }
    // The chunks after the image data must be whole too (up to IEND), as LodePNG requires.
    if (spng_decode_chunks(ctx.get()) != 0) {
        return false;
    }
    result.width = header.width;
    result.height = header.height;
    result.luminance = std::move(plane);
    result.error = 0;
    return true;
}

} // namespace

PngDecodeResult DecodePng(std::string_view file, uint64_t maxPixels) {
    PngDecodeResult result;
    spng_ihdr header{};
    SpngContext ctx = OpenSpng(file, header);
    if (ctx && DimensionsAllowed(header.width, header.height, maxPixels)) {
        std::vector<uint8_t> rgba(size_t{header.width} * header.height * 4);
        if (spng_decode_image(ctx.get(), rgba.data(), rgba.size(), SPNG_FMT_RGBA8,
                              SPNG_DECODE_TRNS) == 0 &&
            spng_decode_chunks(ctx.get()) == 0) {
            result.raster.width = header.width;
            result.raster.height = header.height;
            result.raster.components = 4;
            result.raster.rgba = std::move(rgba);
            return result;
        }
    }
    result = LodePngVerdict(file, maxPixels);
    if (result.error == kLodePngAllocationFailed && ctx &&
        !DimensionsAllowed(header.width, header.height, maxPixels)) {
        result.error = kPngTooLarge;
    }
    return result;
}

PngLuminanceResult DecodePngLuminance(std::string_view file, uint64_t maxPixels) {
    PngLuminanceResult result;
    if (SpngLuminance(file, maxPixels, result)) {
        return result;
    }
    PngDecodeResult verdict = LodePngVerdict(file, maxPixels);
    result.error = verdict.error;
    if (verdict.error == 0) {
        const Raster &r = verdict.raster;
        result.width = r.width;
        result.height = r.height;
        result.luminance.resize(size_t{r.width} * r.height);
        for (size_t i = 0; i < result.luminance.size(); ++i) {
            result.luminance[i] = Luminance(&r.rgba[4 * i]);
        }
    }
    return result;
}

std::string PngErrorText(unsigned error) {
    return lodepng_error_text(error == kPngTooLarge ? kLodePngAllocationFailed : error);
}

} // namespace kestrun::imaging
