// A decoded image: 8-bit red, green, blue, alpha per pixel, rows from the top.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrun::imaging {

struct Raster {
    uint32_t width = 0;
    uint32_t height = 0;
    // width * height * 4 bytes: R, G, B, A.
    std::vector<uint8_t> rgba;
    // Colour components of the source: 1 grey, 2 grey + alpha, 3 colour, 4 colour + alpha (or
    // CMYK for JPEG).
    int components = 0;
};

// The largest image any decoder accepts (width * height), so that a small file declaring a huge
// canvas cannot make a decoder allocate gigabytes: 64 megapixels is 256 MiB of RGBA.
inline constexpr uint64_t kMaxPixels = uint64_t{1} << 26;

// The largest file read whole into memory for decoding.
inline constexpr size_t kMaxImageFileBytes = size_t{512} << 20;

// True when a width x height canvas is non-empty and within `maxPixels`.
inline bool DimensionsAllowed(uint64_t width, uint64_t height, uint64_t maxPixels) {
    return width > 0 && height > 0 && width <= maxPixels && height <= maxPixels &&
           width * height <= maxPixels;
}

} // namespace kestrun::imaging
