// Decoders and encoders for the image file formats the imaging layer reads and writes. Every
// decoder takes the whole file content, refuses images larger than `maxPixels`, never reads
// outside the given bytes and reports failure instead of throwing (std::bad_alloc aside).
#pragma once

#include "kestrun/imaging/raster.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrun::imaging {

// PNG to 8-bit RGBA (components = 4) with LodePNG's verdict: LodePNG walks the chunks, the image
// data are inflated once and checked as LodePNG checks them (size, end, checksum), and libspng
// decodes the rows; a file refused on that way goes to LodePNG's full reading, whose verdict
// stands. `error` is LodePNG's error code for a file it rejects, or kPngTooLarge for a readable
// image over `maxPixels`; 0 means success.
struct PngDecodeResult {
    Raster raster;
    unsigned error = 0;
};
inline constexpr unsigned kPngTooLarge = 10000;
PngDecodeResult DecodePng(std::string_view file, uint64_t maxPixels = kMaxPixels);

// The largest PNG scanned for barcodes: the decoder keeps one luminance byte per pixel, so
// 16384 x 16384 takes 256 MiB.
inline constexpr uint64_t kMaxScanPixels = uint64_t{1} << 28;

// PNG straight to one luminance byte per pixel, rows from the top: grey is taken as it is,
// colour as (306 R + 601 G + 117 B + 512) >> 10 of its 8-bit RGBA form. Checked as DecodePng
// checks; a file refused on that way, or one over `maxPixels`, is given to LodePNG for its error
// code (with bounded memory), or for its pixels when LodePNG reads it and it is within kMaxPixels.
struct PngLuminanceResult {
    std::vector<uint8_t> luminance;
    uint32_t width = 0;
    uint32_t height = 0;
    unsigned error = 0;
};
PngLuminanceResult DecodePngLuminance(std::string_view file, uint64_t maxPixels = kMaxScanPixels);

// LodePNG's English text for an error code (kPngTooLarge: its text for a failed allocation).
std::string PngErrorText(unsigned error);

// JPEG through libjpeg-turbo: 4 bytes per pixel whatever the source; components is the file's
// own count (1 grey, 3 colour, 4 CMYK). Damaged entropy data decode as far as they go, as
// libjpeg does; a file without a usable header or frame fails.
std::optional<Raster> DecodeJpeg(std::string_view file, uint64_t maxPixels = kMaxPixels);
// Baseline JPEG of the colour channels (alpha is dropped) at `quality`, clamped to 0..100.
std::optional<std::string> EncodeJpeg(const Raster &image, int quality);

// The bytes of EncodeBmp24(*DecodeJpeg(file, maxPixels)) without the RGBA image in between: the
// decoder writes blue, green, red straight into the bitmap's rows. nullopt when DecodeJpeg fails.
std::optional<std::string> DecodeJpegToBmp24(std::string_view file,
                                             uint64_t maxPixels = kMaxPixels);

// Windows bitmaps: core and info headers (up to version 5), 1/4/8-bit palettes, RLE4, RLE8,
// 16 and 32 bits with or without bit fields, 24 bits; bottom-up and top-down rows.
std::optional<Raster> DecodeBmp(std::string_view file, uint64_t maxPixels = kMaxPixels);
// An uncompressed 24-bit bottom-up bitmap of the colour channels (alpha is dropped).
std::string EncodeBmp24(const Raster &image);

// The 24-bit bitmap's layout: a 54-byte header, then rows of `Bmp24Stride` bytes (zero padding
// after the pixels), bottom row first.
inline constexpr uint32_t kBmp24HeaderSize = 54;
uint64_t Bmp24Stride(uint32_t width);
void AppendBmp24Header(std::string &out, uint32_t width, uint32_t height);

// The rows of a bitmap whose pixels are stored as blue, green, red bytes (24 bits, or 32 bits
// with an unused fourth byte), uncompressed, as they lie in the file.
struct BmpRows {
    uint32_t width = 0;
    uint32_t height = 0;
    int bytesPerPixel = 3; // 3 or 4
    uint64_t stride = 0;
    bool topDown = false;
    uint64_t offset = 0;             // where the first stored row starts in the file
    const uint8_t *pixels = nullptr; // that row, inside the file's bytes (when they are read)

    const uint8_t *Row(uint32_t y) const { // y counted from the top
        return pixels + (topDown ? y : height - 1 - y) * stride;
    }
};
// Such a bitmap's rows, when DecodeBmp would read the file; nullopt for every other file.
std::optional<BmpRows> DirectBmpRows(std::string_view file, uint64_t maxPixels = kMaxPixels);
// The same from the file's first bytes (`head`, the headers at least) and its size; `pixels`
// stays null.
std::optional<BmpRows> DirectBmpLayout(std::string_view head, uint64_t fileSize,
                                       uint64_t maxPixels = kMaxPixels);
// The bytes of EncodeJpeg(*DecodeBmp(file), quality) for such a file, the rows read in place.
std::optional<std::string> EncodeJpegFromBmpRows(const BmpRows &rows, int quality);
// The same for a file that is not in memory: `readAt(offset, buffer, size)` reads exactly `size`
// bytes of the file at `offset` (false when it cannot, which fails the encoding). The rows are
// read a block at a time into a small buffer.
using FileReader = bool (*)(const void *context, uint64_t offset, char *buffer, size_t size);
std::optional<std::string> EncodeJpegFromBmpFile(const BmpRows &layout, int quality,
                                                 FileReader readAt, const void *context);

// The first frame of a GIF through giflib, placed on its logical screen (uncovered and
// transparent pixels are transparent black).
std::optional<Raster> DecodeGif(std::string_view file, uint64_t maxPixels = kMaxPixels);

// The file's format by its leading bytes.
enum class ImageFormat { Unknown, Png, Jpeg, Bmp, Gif };
ImageFormat SniffFormat(std::string_view file);

// Decodes a file of any of the formats above, chosen by its leading bytes.
std::optional<Raster> DecodeImage(std::string_view file, uint64_t maxPixels = kMaxPixels);

} // namespace kestrun::imaging
