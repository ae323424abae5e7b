#include "kestrun/imaging/icon_codec.h"

#include "kestrun/imaging/image_codecs.h"
#include "kestrun/imaging/le_bytes.h"

#include <optional>

namespace kestrun::imaging {
namespace {

constexpr size_t kDirectoryHeader = 6;
constexpr size_t kDirectoryEntry = 16;
constexpr uint32_t kMinInfoHeader = 40;

uint64_t RowBytes(uint64_t width, uint64_t bitsPerPixel) {
    return (width * bitsPerPixel + 31) / 32 * 4;
}

// One bitmap entry: an info header, a palette for up to 8 bits, the colour rows (bottom-up) and
// the 1-bit AND mask rows (bottom-up). The header's height counts both halves.
std::optional<Raster> DecodeBitmapEntry(std::string_view entry) {
    if (entry.size() < kMinInfoHeader) {
        return std::nullopt;
    }
    const uint32_t headerSize = le::U32(entry, 0);
    const int32_t width = le::I32(entry, 4);
    const int32_t doubledHeight = le::I32(entry, 8);
    const uint16_t bits = le::U16(entry, 14);
    const uint32_t compression = le::U32(entry, 16);
    const uint32_t coloursUsed = le::U32(entry, 32);
    if (headerSize < kMinInfoHeader || headerSize > entry.size() || width <= 0 ||
        doubledHeight <= 1 || compression != 0) {
        return std::nullopt;
    }
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) {
        return std::nullopt;
    }
    const uint32_t height = static_cast<uint32_t>(doubledHeight) / 2;
    if (!DimensionsAllowed(uint32_t(width), height, kMaxIconPixels)) {
        return std::nullopt;
    }
    uint64_t paletteSize = 0;
    if (bits <= 8) {
        paletteSize = coloursUsed == 0 || coloursUsed > (1u << bits) ? (1u << bits) : coloursUsed;
    }
    const uint64_t paletteAt = headerSize;
    const uint64_t colourAt = paletteAt + paletteSize * 4;
    const uint64_t colourRow = RowBytes(uint32_t(width), bits);
    const uint64_t maskAt = colourAt + colourRow * height;
    const uint64_t maskRow = RowBytes(uint32_t(width), 1);
    if (maskAt > entry.size()) {
        return std::nullopt;
    }
    // A file cut short inside the mask keeps its colours and is drawn opaque.
    const bool hasMask = maskAt + maskRow * height <= entry.size();

    Raster out;
    out.width = uint32_t(width);
    out.height = height;
    out.components = 4;
    out.rgba.assign(uint64_t(out.width) * height * 4, 0);
    bool anyAlpha = false;
    for (uint32_t y = 0; y < height; ++y) {
        const uint64_t row = colourAt + colourRow * (height - 1 - y);
        uint8_t *dst = &out.rgba[uint64_t(y) * out.width * 4];
        for (uint32_t x = 0; x < out.width; ++x, dst += 4) {
            uint8_t b = 0, g = 0, r = 0, a = 255;
            if (bits <= 8) {
                const uint64_t bit = uint64_t(x) * bits;
                const auto byte = static_cast<uint8_t>(entry[row + bit / 8]);
                const unsigned shift = 8 - bits - unsigned(bit % 8);
                const unsigned index = (byte >> shift) & ((1u << bits) - 1);
                if (index < paletteSize) {
                    const uint64_t p = paletteAt + uint64_t(index) * 4;
                    b = uint8_t(entry[p]);
                    g = uint8_t(entry[p + 1]);
                    r = uint8_t(entry[p + 2]);
                }
            } else {
                const uint64_t p = row + uint64_t(x) * (bits / 8);
                b = uint8_t(entry[p]);
                g = uint8_t(entry[p + 1]);
                r = uint8_t(entry[p + 2]);
                if (bits == 32) {
                    a = uint8_t(entry[p + 3]);
                    anyAlpha = anyAlpha || a != 0;
                }
            }
            dst[0] = r;
            dst[1] = g;
            dst[2] = b;
            dst[3] = a;
        }
    }
    // 32-bit images carry their own transparency; one whose alpha is all zero was made for the
    // mask alone, as older icon editors wrote them.
    const bool useMask = hasMask && (bits != 32 || !anyAlpha);
    if (useMask) {
        for (uint32_t y = 0; y < height; ++y) {
            const uint64_t row = maskAt + maskRow * (height - 1 - y);
            uint8_t *dst = &out.rgba[uint64_t(y) * out.width * 4];
            for (uint32_t x = 0; x < out.width; ++x, dst += 4) {
                const auto byte = static_cast<uint8_t>(entry[row + x / 8]);
                dst[3] = (byte >> (7 - x % 8)) & 1 ? 0 : 255;
            }
        }
    }
    return out;
}

} // namespace

std::vector<Raster> DecodeIcon(std::string_view file) {
    std::vector<Raster> images;
    if (file.size() < kDirectoryHeader || le::U16(file, 0) != 0 || le::U16(file, 2) != 1) {
        return images;
    }
    const uint16_t count = le::U16(file, 4);
    uint64_t totalPixels = 0;
    for (uint16_t i = 0; i < count; ++i) {
        const size_t at = kDirectoryHeader + size_t(i) * kDirectoryEntry;
        if (at + kDirectoryEntry > file.size()) {
            break;
        }
        const uint64_t size = le::U32(file, at + 8);
        const uint64_t offset = le::U32(file, at + 12);
        if (offset >= file.size() || size > file.size() - offset) {
            continue;
        }
        const std::string_view entry = file.substr(offset, size);
        std::optional<Raster> image;
        if (SniffFormat(entry) == ImageFormat::Png) {
            image = DecodeImage(entry, kMaxIconPixels);
        } else {
            image = DecodeBitmapEntry(entry);
        }
        if (!image) {
            continue;
        }
        const uint64_t pixels = uint64_t(image->width) * image->height;
        if (totalPixels + pixels > kMaxIconFilePixels) {
            continue;
        }
        totalPixels += pixels;
        images.push_back(std::move(*image));
    }
    return images;
}

} // namespace kestrun::imaging
