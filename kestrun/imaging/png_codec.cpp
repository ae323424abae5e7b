// PNG decoding with LodePNG's verdict and libspng's speed: LodePNG walks the chunks, zlib inflates
// the image data once (checked as LodePNG checks them), libspng unfilters and converts the rows.
// A file refused anywhere on that way goes to LodePNG's full reading, so that every rejected file
// is described by LodePNG's own error code (and a file only LodePNG accepts is still read).
#include "kestrun/imaging/image_codecs.h"

#include <lodepng.h>
#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

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

// What LodePNG's own reading establishes before it decompresses the image data: the header, every
// chunk up to IEND with its length and CRC, the chunks it reads (palette, transparency, the
// ancillary ones it checks) and a palette where one is needed. LodePNG itself walks the file; a
// decompression hook takes the concatenated IDAT data and stops it there.
struct PngLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    uint64_t dataSize = 0; // the size of the inflated image data LodePNG expects
    std::string_view head; // the file up to its first IDAT chunk
    std::string imageData; // the IDAT chunks' data, concatenated
};

struct WalkContext {
    const unsigned char *fileBegin = nullptr;
    const unsigned char *fileEnd = nullptr;
    bool reachedImageData = false;
    std::string imageData;
};

unsigned StopAtImageData(unsigned char **out, size_t *outSize, const unsigned char *in,
                         size_t inSize, const LodePNGDecompressSettings *settings) {
    // The context is the walk's own (non-const) record; LodePNG only passes it through.
    auto *walk =
        const_cast<WalkContext *>(static_cast<const WalkContext *>(settings->custom_context));
    if (in >= walk->fileBegin && in < walk->fileEnd) {
        // A compressed profile inside a chunk (iCCP): LodePNG's own decompression, as always.
        LodePNGDecompressSettings own = *settings;
        own.custom_zlib = nullptr;
        own.custom_context = nullptr;
        return lodepng_zlib_decompress(out, outSize, in, inSize, &own);
    }
    walk->reachedImageData = true;
    walk->imageData.assign(reinterpret_cast<const char *>(in), inSize);
    return 1; // stop: the image data are ours to check and inflate
}

// The inflated size LodePNG expects for an image of `bpp` bits per pixel: one filter byte and the
// packed samples for each row (of each of the seven passes, when interlaced).
uint64_t RawSize(uint64_t w, uint64_t h, uint64_t bpp) {
    return w == 0 ? 0 : h * ((w * bpp + 7) / 8 + 1);
}

uint64_t ExpectedDataSize(uint64_t w, uint64_t h, uint64_t bpp, bool interlaced) {
    if (!interlaced) {
        return RawSize(w, h, bpp);
    }
    // Adam7: the sizes of the seven reduced images.
    return RawSize((w + 7) >> 3, (h + 7) >> 3, bpp) + RawSize((w + 3) >> 3, (h + 7) >> 3, bpp) +
           RawSize((w + 3) >> 2, (h + 3) >> 3, bpp) + RawSize((w + 1) >> 2, (h + 3) >> 2, bpp) +
           RawSize((w + 1) >> 1, (h + 1) >> 2, bpp) + RawSize(w >> 1, (h + 1) >> 1, bpp) +
           RawSize(w, h >> 1, bpp);
}

uint32_t ReadBigEndian32(const char *p) {
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return uint32_t{u[0]} << 24 | uint32_t{u[1]} << 16 | uint32_t{u[2]} << 8 | u[3];
}

// nullopt when LodePNG refuses the file before its image data (or in a compressed profile, where
// the hook would change its error code): then LodePNG's full reading gives the verdict.
std::optional<PngLayout> WalkLikeLodePng(std::string_view file) {
    WalkContext walk;
    const auto *data = reinterpret_cast<const unsigned char *>(file.data());
    walk.fileBegin = data;
    walk.fileEnd = data + file.size();
    PngState state;
    // The settings of the full reading, so that every check before the data is the same.
    state.get()->info_raw.colortype = LCT_RGBA;
    state.get()->info_raw.bitdepth = 8;
    state.get()->decoder.read_text_chunks = 0;
    state.get()->decoder.remember_unknown_chunks = 0;
    state.get()->decoder.zlibsettings.custom_zlib = StopAtImageData;
    state.get()->decoder.zlibsettings.custom_context = &walk;
    unsigned char *pixels = nullptr;
    unsigned width = 0;
    unsigned height = 0;
    lodepng_decode(&pixels, &width, &height, state.get(), data, file.size());
    std::free(pixels);
    if (!walk.reachedImageData) {
        return std::nullopt;
    }
    const LodePNGInfo &info = state.get()->info_png;
    PngLayout layout;
    layout.width = width;
    layout.height = height;
    layout.dataSize =
        ExpectedDataSize(width, height, lodepng_get_bpp(&info.color), info.interlace_method != 0);
    // The first IDAT chunk; the walk above has checked every length up to IEND.
    size_t pos = 8;
    while (pos + 12 <= file.size()) {
        const uint32_t length = ReadBigEndian32(file.data() + pos);
        if (file.compare(pos + 4, 4, "IDAT") == 0) {
            layout.head = file.substr(0, pos);
            layout.imageData = std::move(walk.imageData);
            return layout;
        }
        if (length > file.size() - pos - 12) {
            break;
        }
        pos += size_t{length} + 12;
    }
    return std::nullopt;
}

// The image data inflated by zlib, accepted only as LodePNG accepts them: a zlib header, a
// deflate stream that ends, exactly the expected number of bytes, and the Adler-32 checksum in
// the last four bytes of the data. Anything else is reported as failed, and LodePNG's own
// reading then names the fault.
class ImageDataStream {
public:
    ImageDataStream(const std::string &data, uint64_t size) : left_(size) {
        stream_.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
        stream_.avail_in = static_cast<uInt>(std::min<size_t>(data.size(), 0xFFFFFFFFu));
        failed_ = data.size() > 0xFFFFFFFFu || inflateInit(&stream_) != Z_OK;
        open_ = !failed_;
    }
    ~ImageDataStream() {
        if (open_) {
            inflateEnd(&stream_);
        }
    }
    ImageDataStream(const ImageDataStream &) = delete;
    ImageDataStream &operator=(const ImageDataStream &) = delete;

    // Fills `out` with the next `size` inflated bytes (no more than are expected); false when the
    // stream cannot give them.
    bool Read(unsigned char *out, size_t size) {
        if (failed_ || size > left_) {
            return Fail();
        }
        while (size > 0) {
            const auto chunk = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
            stream_.next_out = out;
            stream_.avail_out = chunk;
            const int rc = inflate(&stream_, Z_NO_FLUSH);
            const size_t produced = chunk - stream_.avail_out;
            out += produced;
            size -= produced;
            left_ -= produced;
            if (size > 0 && rc != Z_OK) {
                return Fail(); // an error, a dictionary, or the end of the data too early
            }
        }
        return true;
    }

    // After all expected bytes: true when the stream ends right there, with its checksum, and the
    // data end with it.
    bool Finish() {
        if (failed_ || left_ != 0) {
            return false;
        }
        unsigned char extra = 0;
        int rc = Z_OK;
        while (rc == Z_OK) {
            stream_.next_out = &extra;
            stream_.avail_out = 1;
            rc = inflate(&stream_, Z_NO_FLUSH);
            if (stream_.avail_out == 0) {
                return false; // more data than the image holds
            }
        }
        return rc == Z_STREAM_END && stream_.avail_in == 0;
    }

    bool failed() const { return failed_; }

private:
    bool Fail() {
        failed_ = true;
        return false;
    }

    z_stream stream_{};
    uint64_t left_;
    bool failed_ = false;
    bool open_ = false;
};

// The PNG that libspng is given: the file's own chunks up to the first IDAT, then the image data,
// inflated by ImageDataStream, as stored deflate blocks of one IDAT chunk each, then IEND. So
// libspng unfilters and converts the rows of data that were checked as LodePNG checks them;
// CRCs and the checksum of this stream are not looked at (set to 0). The data are inflated
// straight into libspng's buffer; only the few bytes around each block are copied.
class CheckedPngStream {
public:
    CheckedPngStream(const PngLayout &layout, ImageDataStream &data)
        : data_(data), framing_(layout.head), left_(layout.dataSize) {}

    static int Read(spng_ctx *, void *user, void *dest, size_t length) {
        auto *self = static_cast<CheckedPngStream *>(user);
        auto *out = static_cast<unsigned char *>(dest);
        while (length > 0) {
            size_t n = 0;
            if (!self->framing_.empty()) {
                n = std::min(length, self->framing_.size());
                std::memcpy(out, self->framing_.data(), n);
                self->framing_.remove_prefix(n);
            } else if (self->blockLeft_ > 0) {
                n = std::min(length, self->blockLeft_);
                if (!self->data_.Read(out, n)) {
                    return SPNG_IO_ERROR;
                }
                self->blockLeft_ -= n;
                if (self->blockLeft_ == 0) {
                    self->framing_ = self->trailer_;
                }
            } else if (!self->Next()) {
                return SPNG_IO_EOF;
            }
            out += n;
            length -= n;
        }
        return 0;
    }

private:
    static constexpr size_t kBlock = 65535; // the largest stored block

    static void Put32(unsigned char *p, uint32_t v) {
        p[0] = static_cast<unsigned char>(v >> 24);
        p[1] = static_cast<unsigned char>(v >> 16);
        p[2] = static_cast<unsigned char>(v >> 8);
        p[3] = static_cast<unsigned char>(v);
    }

    static std::string_view View(const unsigned char *begin, const unsigned char *end) {
        return std::string_view(reinterpret_cast<const char *>(begin),
                                static_cast<size_t>(end - begin));
    }

    // Frames the next block: its IDAT chunk header and block header now, the checksum place and
    // the CRC after its data; IEND after the last block.
    bool Next() {
        if (left_ == 0) {
            if (ended_) {
                return false;
            }
            static constexpr char kIend[] = "\0\0\0\0IEND\xAE\x42\x60\x82";
            framing_ = std::string_view(kIend, 12);
            ended_ = true;
            return true;
        }
        const size_t n = static_cast<size_t>(std::min<uint64_t>(left_, kBlock));
        const bool last = n == left_;
        unsigned char *p = header_ + 8;
        if (first_) {
            *p++ = 0x08; // zlib header: deflate, 256-byte window (stored blocks look back at
            *p++ = 0x1D; // nothing), no dictionary
            first_ = false;
        }
        *p++ = last ? 1 : 0; // a stored block, the final one last
        p[0] = static_cast<unsigned char>(n);
        p[1] = static_cast<unsigned char>(n >> 8);
        p[2] = static_cast<unsigned char>(~n);
        p[3] = static_cast<unsigned char>(~n >> 8);
        p += 4;
        const size_t checksum = last ? 4 : 0;
        Put32(header_,
              static_cast<uint32_t>(static_cast<size_t>(p - (header_ + 8)) + n + checksum));
        std::memcpy(header_ + 4, "IDAT", 4);
        framing_ = View(header_, p);
        std::memset(trailerBytes_, 0, sizeof trailerBytes_); // checksum place and CRC
        trailer_ = View(trailerBytes_, trailerBytes_ + checksum + 4);
        blockLeft_ = n;
        left_ -= n;
        return true;
    }

    ImageDataStream &data_;
    std::string_view framing_; // bytes to give before the next inflated ones
    std::string_view trailer_; // bytes to give after the current block's data
    uint64_t left_;            // inflated bytes not yet framed in a block
    size_t blockLeft_ = 0;     // inflated bytes of the current block still to give
    unsigned char header_[8 + 2 + 5] = {};
    unsigned char trailerBytes_[8] = {};
    bool first_ = true;
    bool ended_ = false;
};

// The window of libspng's inflation of the checked stream: stored blocks need none, and zlib
// copies every inflated byte into a 32 KiB window (as much again as the image) but only 256 bytes
// a call into this one.
constexpr int kStreamWindowBits = 8;

// A libspng decoder reading the checked stream, with the header read; null when libspng refuses
// it. Adler-32 and CRCs of that stream are not checked: the data were checked on the way in.
SpngContext OpenSpng(CheckedPngStream &stream, spng_ihdr &header) {
    SpngContext ctx(spng_ctx_new(SPNG_CTX_IGNORE_ADLER32));
    if (!ctx || spng_set_png_stream(ctx.get(), &CheckedPngStream::Read, &stream) != 0 ||
        spng_set_crc_action(ctx.get(), SPNG_CRC_USE, SPNG_CRC_USE) != 0 ||
        spng_set_option(ctx.get(), SPNG_IMG_WINDOW_BITS, kStreamWindowBits) != 0 ||
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

// The luminance plane through libspng; false when libspng or the data check refuses the file.
bool SpngLuminance(const PngLayout &layout, PngLuminanceResult &result) {
    ImageDataStream data(layout.imageData, layout.dataSize);
    CheckedPngStream stream(layout, data);
    spng_ihdr header{};
    SpngContext ctx = OpenSpng(stream, header);
    if (!ctx || header.width != layout.width || header.height != layout.height) {
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
    // The data must end where the image does, as LodePNG requires.
    if (!data.Finish()) {
        return false;
    }
    result.width = header.width;
    result.height = header.height;
    result.luminance = std::move(plane);
    result.error = 0;
    return true;
}

// The RGBA pixels through libspng; false when libspng or the data check refuses the file.
bool SpngRgba(const PngLayout &layout, PngDecodeResult &result) {
    ImageDataStream data(layout.imageData, layout.dataSize);
    CheckedPngStream stream(layout, data);
    spng_ihdr header{};
    SpngContext ctx = OpenSpng(stream, header);
    if (!ctx || header.width != layout.width || header.height != layout.height) {
        return false;
    }
    std::vector<uint8_t> rgba(size_t{header.width} * header.height * 4);
    if (spng_decode_image(ctx.get(), rgba.data(), rgba.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) !=
            0 ||
        !data.Finish()) {
        return false;
    }
    result.raster.width = header.width;
    result.raster.height = header.height;
    result.raster.components = 4;
    result.raster.rgba = std::move(rgba);
    result.error = 0;
    return true;
}

} // namespace

// LodePNG walks the file first (header, chunks, CRCs); libspng then decodes the image data as
// checked on the way in. A file that either step refuses goes to LodePNG's full reading, whose
// verdict stands, so every file gets LodePNG's verdict and error code.
PngDecodeResult DecodePng(std::string_view file, uint64_t maxPixels) {
    PngDecodeResult result;
    const std::optional<PngLayout> layout = WalkLikeLodePng(file);
    const bool allowed = layout && DimensionsAllowed(layout->width, layout->height, maxPixels);
    if (allowed && SpngRgba(*layout, result)) {
        return result;
    }
    result = LodePngVerdict(file, maxPixels);
    if (result.error == kLodePngAllocationFailed && layout && !allowed) {
        result.error = kPngTooLarge;
    }
    return result;
}

PngLuminanceResult DecodePngLuminance(std::string_view file, uint64_t maxPixels) {
    PngLuminanceResult result;
    const std::optional<PngLayout> layout = WalkLikeLodePng(file);
    if (layout && DimensionsAllowed(layout->width, layout->height, maxPixels) &&
        SpngLuminance(*layout, result)) {
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
