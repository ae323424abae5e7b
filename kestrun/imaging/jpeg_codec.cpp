// JPEG decoding and encoding through libjpeg-turbo.
//
// libjpeg reports fatal errors through a callback that must not return; it jumps back to the
// setjmp point of the function that drives the library. Those functions therefore hold only
// trivially destructible locals past their setjmp, and every C++ object they fill is declared
// before it, so the jump never skips a destructor.
#include "kestrun/imaging/image_codecs.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <jpeglib.h>

namespace kestrun::imaging {
namespace {

// A progressive file may hold any number of scans; each one costs a pass over the whole
// coefficient buffer, so a small hostile file could keep the decoder busy for minutes.
constexpr int kMaxScans = 500;
// Ceiling for libjpeg's own working memory (coefficient buffers of progressive files).
constexpr long kMaxJpegWorkingMemory = 1L << 30;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void JumpOnError(j_common_ptr cinfo) {
    auto *errors = reinterpret_cast<ErrorManager *>(cinfo->err);
    std::longjmp(errors->jump, 1);
}

// Warnings and traces are not printed: the library writes nothing to the console.
void IgnoreMessage(j_common_ptr) {}

void LimitScans(j_common_ptr cinfo) {
    if (cinfo->is_decompressor) {
        const auto *d = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (d->input_scan_number > kMaxScans) {
            JumpOnError(cinfo);
        }
    }
}

void InstallErrorManager(j_common_ptr cinfo, ErrorManager &errors) {
    cinfo->err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = JumpOnError;
    errors.pub.output_message = IgnoreMessage;
}

uint8_t Mul255(unsigned a, unsigned b) {
    return static_cast<uint8_t>((a * b + 127) / 255);
}

// Creates the decompressor over `file` and reads its header. False, with the decompressor
// destroyed, when the header is unusable or the image is larger than allowed. Errors inside
// libjpeg jump to the caller's setjmp, which must already be set.
bool ReadHeader(jpeg_decompress_struct &cinfo, jpeg_progress_mgr &progress, std::string_view file,
                uint64_t maxPixels) {
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = kMaxJpegWorkingMemory;
    progress.progress_monitor = LimitScans;
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char *>(file.data()),
                 static_cast<unsigned long>(file.size()));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK ||
        !DimensionsAllowed(cinfo.image_width, cinfo.image_height, maxPixels)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    return true;
}

// Drives the decompressor over `file` into `out` (and `scratch` for grey and CMYK rows).
bool Decompress(std::string_view file, uint64_t maxPixels, Raster &out,
                std::vector<uint8_t> &scratch) {
    jpeg_decompress_struct cinfo;
    ErrorManager errors;
    jpeg_progress_mgr progress;
    std::memset(&cinfo, 0, sizeof cinfo);
    InstallErrorManager(reinterpret_cast<j_common_ptr>(&cinfo), errors);
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    if (!ReadHeader(cinfo, progress, file, maxPixels))
        return false;
    const int components = cinfo.num_components;
    int bytesPerPixel = 4;
    if (components == 1) {
        cinfo.out_color_space = JCS_GRAYSCALE;
        bytesPerPixel = 1;
    } else if (components == 3) {
        cinfo.out_color_space = JCS_EXT_RGBA;
    } else if (components == 4) {
        cinfo.out_color_space = JCS_CMYK;
    } else {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_start_decompress(&cinfo);
    const uint32_t width = cinfo.output_width;
    const uint32_t height = cinfo.output_height;
    const bool adobeInverted = cinfo.saw_Adobe_marker != 0;
    try {
        out.rgba.resize(uint64_t{width} * height * 4);
        if (bytesPerPixel == 1 || components == 4) {
            scratch.resize(uint64_t{width} * bytesPerPixel);
        }
    } catch (...) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    while (cinfo.output_scanline < height) {
        const uint32_t y = cinfo.output_scanline;
        uint8_t *row = out.rgba.data() + uint64_t{y} * width * 4;
        JSAMPROW target = components == 3 ? row : scratch.data();
        if (jpeg_read_scanlines(&cinfo, &target, 1) != 1) {
            break; // nothing more to read: the rest of the image stays as allocated
        }
        if (components == 1) {
            for (uint32_t x = 0; x < width; ++x) {
                row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = scratch[x];
                row[4 * x + 3] = 255;
            }
        } else if (components == 4) {
            for (uint32_t x = 0; x < width; ++x) {
                unsigned c = scratch[4 * x];
                unsigned m = scratch[4 * x + 1];
                unsigned yl = scratch[4 * x + 2];
                unsigned k = scratch[4 * x + 3];
                if (!adobeInverted) {
                    c = 255 - c;
                    m = 255 - m;
                    yl = 255 - yl;
                    k = 255 - k;
                }
                row[4 * x] = Mul255(c, k);
                row[4 * x + 1] = Mul255(m, k);
                row[4 * x + 2] = Mul255(yl, k);
                row[4 * x + 3] = 255;
            }
        }
    }
    jpeg_abort_decompress(&cinfo); // a truncated or partly read file: no error, no more input
    jpeg_destroy_decompress(&cinfo);
    out.width = width;
    out.height = height;
    out.components = components;
    return true;
}

// Where the compressor takes its rows from: `rowAt(y)` gives row y from the top in the layout
// `colourSpace` with `components` bytes a pixel.
struct RowSource {
    uint32_t width = 0;
    uint32_t height = 0;
    int components = 4;
    J_COLOR_SPACE colourSpace = JCS_EXT_RGBX;
    // Null when the row cannot be had: the compression is abandoned.
    const uint8_t *(*rowAt)(const void *context, uint32_t y) = nullptr;
    const void *context = nullptr;
};

// Rows handed to libjpeg per call: its compressor consumes them a block row at a time.
constexpr uint32_t kRowsPerCall = 16;

// Drives the compressor; `buffer`/`size` receive libjpeg's malloc'ed output.
bool Compress(const RowSource &source, int quality, unsigned char *&buffer, unsigned long &size) {
    jpeg_compress_struct cinfo;
    ErrorManager errors;
    std::memset(&cinfo, 0, sizeof cinfo);
    InstallErrorManager(reinterpret_cast<j_common_ptr>(&cinfo), errors);
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = source.width;
    cinfo.image_height = source.height;
    cinfo.input_components = source.components;
    cinfo.in_color_space = source.colourSpace;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    JSAMPROW rows[kRowsPerCall];
    while (cinfo.next_scanline < cinfo.image_height) {
        const uint32_t first = cinfo.next_scanline;
        const uint32_t count = std::min(kRowsPerCall, cinfo.image_height - first);
        for (uint32_t i = 0; i < count; ++i) {
            // libjpeg takes non-const rows but only reads them.
            rows[i] = const_cast<uint8_t *>(source.rowAt(source.context, first + i));
            if (rows[i] == nullptr) { // the rows could not be read
                jpeg_destroy_compress(&cinfo);
                return false;
            }
        }
        jpeg_write_scanlines(&cinfo, rows, count);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

// Drives the decompressor over `file` straight into the rows of a 24-bit bitmap in `bmp` (sized
// and zeroed here, header included); `scratch` takes CMYK rows.
bool DecompressToBmp(std::string_view file, uint64_t maxPixels, std::string &bmp,
                     std::vector<uint8_t> &scratch) {
    jpeg_decompress_struct cinfo;
    ErrorManager errors;
    jpeg_progress_mgr progress;
    std::memset(&cinfo, 0, sizeof cinfo);
    InstallErrorManager(reinterpret_cast<j_common_ptr>(&cinfo), errors);
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    if (!ReadHeader(cinfo, progress, file, maxPixels))
        return false;
    const int components = cinfo.num_components;
    if (components == 1 || components == 3) {
        // Grey is widened to three equal channels by libjpeg itself.
        cinfo.out_color_space = JCS_EXT_BGR;
    } else if (components == 4) {
        cinfo.out_color_space = JCS_CMYK;
    } else {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_start_decompress(&cinfo);
    const uint32_t width = cinfo.output_width;
    const uint32_t height = cinfo.output_height;
    const bool adobeInverted = cinfo.saw_Adobe_marker != 0;
    const uint64_t stride = Bmp24Stride(width);
    try {
        bmp.clear();
        AppendBmp24Header(bmp, width, height);
        // Rows the data never reach, and the padding, stay zero (black).
        bmp.resize(kBmp24HeaderSize + stride * height);
        if (components == 4) {
            scratch.resize(uint64_t{width} * 4);
        }
    } catch (...) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    auto *base = reinterpret_cast<uint8_t *>(bmp.data()) + kBmp24HeaderSize;
    while (cinfo.output_scanline < height) {
        const uint32_t y = cinfo.output_scanline;
        uint8_t *row = base + uint64_t{height - 1 - y} * stride;
        JSAMPROW target = components == 4 ? scratch.data() : row;
        if (jpeg_read_scanlines(&cinfo, &target, 1) != 1) {
            break; // nothing more to read: the rest of the image stays black
        }
        if (components == 4) {
            for (uint32_t x = 0; x < width; ++x) {
                unsigned c = scratch[4 * x];
                unsigned m = scratch[4 * x + 1];
                unsigned yl = scratch[4 * x + 2];
                unsigned k = scratch[4 * x + 3];
                if (!adobeInverted) {
                    c = 255 - c;
                    m = 255 - m;
                    yl = 255 - yl;
                    k = 255 - k;
                }
                row[3 * x] = Mul255(yl, k);
                row[3 * x + 1] = Mul255(m, k);
                row[3 * x + 2] = Mul255(c, k);
            }
        }
    }
    jpeg_abort_decompress(&cinfo); // a truncated or partly read file: no error, no more input
    jpeg_destroy_decompress(&cinfo);
    return true;
}

struct FreeDeleter {
    void operator()(unsigned char *p) const { std::free(p); }
};

std::optional<std::string> CompressToString(const RowSource &source, int quality) {
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    const bool ok = Compress(source, std::clamp(quality, 0, 100), buffer, size);
    const std::unique_ptr<unsigned char, FreeDeleter> owned(buffer);
    if (!ok || owned == nullptr) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char *>(owned.get()), size);
}

} // namespace

std::optional<Raster> DecodeJpeg(std::string_view file, uint64_t maxPixels) {
    Raster out;
    std::vector<uint8_t> scratch;
    if (file.empty() || !Decompress(file, maxPixels, out, scratch)) {
        return std::nullopt;
    }
    return out;
}

std::optional<std::string> EncodeJpeg(const Raster &image, int quality) {
    if (image.width == 0 || image.height == 0 || image.width > JPEG_MAX_DIMENSION ||
        image.height > JPEG_MAX_DIMENSION ||
        image.rgba.size() != uint64_t{image.width} * image.height * 4) {
        return std::nullopt;
    }
    RowSource source;
    source.width = image.width;
    source.height = image.height;
    source.components = 4;
    source.colourSpace = JCS_EXT_RGBX;
    source.context = &image;
    source.rowAt = [](const void *context, uint32_t y) -> const uint8_t * {
        const auto *raster = static_cast<const Raster *>(context);
        return raster->rgba.data() + uint64_t{y} * raster->width * 4;
    };
    return CompressToString(source, quality);
}

std::optional<std::string> EncodeJpegFromBmpRows(const BmpRows &rows, int quality) {
    if (rows.width == 0 || rows.height == 0 || rows.width > JPEG_MAX_DIMENSION ||
        rows.height > JPEG_MAX_DIMENSION || rows.pixels == nullptr) {
        return std::nullopt;
    }
    RowSource source;
    source.width = rows.width;
    source.height = rows.height;
    source.components = rows.bytesPerPixel;
    source.colourSpace = rows.bytesPerPixel == 3 ? JCS_EXT_BGR : JCS_EXT_BGRX;
    source.context = &rows;
    source.rowAt = [](const void *context, uint32_t y) {
        return static_cast<const BmpRows *>(context)->Row(y);
    };
    return CompressToString(source, quality);
}

namespace {

// Bitmap rows read from a file a block at a time, in the order the compressor asks for them.
class BlockedRows {
public:
    // Rows per block: about a megabyte at most, so the buffer stays in the caches.
    BlockedRows(const BmpRows &layout, FileReader readAt, const void *context)
        : layout_(layout), readAt_(readAt), context_(context),
          rowsPerBlock_(static_cast<uint32_t>(
              std::clamp<uint64_t>((uint64_t{1} << 20) / layout.stride, 1, kRowsPerCall * 4))),
          buffer_(rowsPerBlock_ * layout.stride) {}

    const uint8_t *Row(uint32_t y) {
        if (y < first_ || y >= end_) {
            first_ = y - y % rowsPerBlock_;
            end_ = std::min(layout_.height, first_ + rowsPerBlock_);
            // The stored rows of [first_, end_) lie together: bottom-up files store them from
            // the last to the first.
            const uint64_t firstStored = layout_.topDown ? first_ : layout_.height - end_;
            if (!readAt_(context_, layout_.offset + firstStored * layout_.stride,
                         reinterpret_cast<char *>(buffer_.data()),
                         (end_ - first_) * layout_.stride)) {
                first_ = end_ = 0;
                return nullptr;
            }
        }
        const uint64_t index = layout_.topDown ? y - first_ : end_ - 1 - y;
        return buffer_.data() + index * layout_.stride;
    }

private:
    BmpRows layout_;
    FileReader readAt_;
    const void *context_;
    uint32_t rowsPerBlock_;
    std::vector<uint8_t> buffer_;
    uint32_t first_ = 0;
    uint32_t end_ = 0;
};

} // namespace

std::optional<std::string> EncodeJpegFromBmpFile(const BmpRows &layout, int quality,
                                                 FileReader readAt, const void *context) {
    if (layout.width == 0 || layout.height == 0 || layout.width > JPEG_MAX_DIMENSION ||
        layout.height > JPEG_MAX_DIMENSION || layout.stride == 0 || readAt == nullptr) {
        return std::nullopt;
    }
    BlockedRows rows(layout, readAt, context);
    RowSource source;
    source.width = layout.width;
    source.height = layout.height;
    source.components = layout.bytesPerPixel;
    source.colourSpace = layout.bytesPerPixel == 3 ? JCS_EXT_BGR : JCS_EXT_BGRX;
    source.context = &rows;
    source.rowAt = [](const void *context, uint32_t y) {
        return static_cast<BlockedRows *>(const_cast<void *>(context))->Row(y);
    };
    return CompressToString(source, quality);
}

std::optional<std::string> DecodeJpegToBmp24(std::string_view file, uint64_t maxPixels) {
    std::string bmp;
    std::vector<uint8_t> scratch;
    if (file.empty() || !DecompressToBmp(file, maxPixels, bmp, scratch)) {
        return std::nullopt;
    }
    return bmp;
}

} // namespace kestrun::imaging
