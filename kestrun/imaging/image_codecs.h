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

// Windows bitmaps: core and info headers (up to version 5), 1/4/8-bit palettes, RLE4, RLE8,
// 16 and 32 bits with or without bit fields, 24 bits; bottom-up and top-down rows.
std::optional<Raster> DecodeBmp(std::string_view file, uint64_t maxPixels = kMaxPixels);
// An uncompressed 24-bit bottom-up bitmap of the colour channels (alpha is dropped).
std::string EncodeBmp24(const Raster &image);

// The first frame of a GIF through giflib, placed on its logical screen (uncovered and
// transparent pixels are transparent black).
std::optional<Raster> DecodeGif(std::string_view file, uint64_t maxPixels = kMaxPixels);

// The file's format by its leading bytes.
enum class ImageFormat { Unknown, Png, Jpeg, Bmp, Gif };
ImageFormat SniffFormat(std::string_view file);

// Decodes a file of any of the formats above, chosen by its leading bytes.
std::optional<Raster> DecodeImage(std::string_view file, uint64_t maxPixels = kMaxPixels);

} // namespace kestrun::imaging
