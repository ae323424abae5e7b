// Decoders and encoders for the image file formats the imaging layer reads and writes. Every
// decoder takes the whole file content, refuses images larger than `maxPixels`, never reads
// outside the given bytes and reports failure instead of throwing (std::bad_alloc aside).
#pragma once

#include "kestrun/imaging/raster.h"

#include <optional>
#include <string>
#include <string_view>

namespace kestrun::imaging {

// PNG through LodePNG, always to 8-bit RGBA (components = 4). `error` is LodePNG's error code,
// or kPngTooLarge when the image is over the size limit; 0 means success.
struct PngDecodeResult {
    Raster raster;
    unsigned error = 0;
};
inline constexpr unsigned kPngTooLarge = 10000;
PngDecodeResult DecodePng(std::string_view file, uint64_t maxPixels = kMaxPixels);
// LodePNG's English text for an error code (or the size-limit text).
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
