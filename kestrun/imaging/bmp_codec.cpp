// Windows bitmap files: a decoder for the common variants and a 24-bit encoder.
#include "kestrun/imaging/image_codecs.h"
#include "kestrun/imaging/le_bytes.h"

#include <array>

namespace kestrun::imaging {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kOs2InfoHeaderSize = 64;
constexpr uint32_t kMaxHeaderSize = 124;

enum Compression : uint32_t {
    kRgb = 0,
    kRle8 = 1,
    kRle4 = 2,
    kBitFields = 3,
    kAlphaBitFields = 6,
};

struct Colour {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
};

// One channel of a bit-field pixel: its mask, where it starts and its largest value.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;

    explicit Channel(uint32_t m) : mask(m) {
        if (mask != 0) {
            while (((mask >> shift) & 1) == 0) {
                ++shift;
            }
            max = mask >> shift;
        }
    }
    uint8_t Extract(uint32_t pixel) const {
        if (max == 0) {
            return 0;
        }
        const uint64_t v = (pixel & mask) >> shift;
        return static_cast<uint8_t>((v * 255 + max / 2) / max);
    }
};

struct Header {
    int64_t width = 0;
    int64_t height = 0; // always positive here; topDown says the row order
    bool topDown = false;
    uint16_t bitsPerPixel = 0;
    uint32_t compression = kRgb;
    uint32_t masks[3] = {0, 0, 0};
    std::vector<Colour> palette;
};

// Reads the headers and the palette; nullopt for anything this decoder does not accept.
std::optional<Header> ReadHeader(std::string_view file) {
    if (file.size() < kFileHeaderSize + 4 || file[0] != 'B' || file[1] != 'M') {
        return std::nullopt;
    }
    const uint32_t infoSize = le::U32(file, 14);
    const bool core = infoSize == kCoreHeaderSize;
    if (!core && (infoSize < kInfoHeaderSize || infoSize > kMaxHeaderSize)) {
        return std::nullopt;
    }
    if (file.size() < kFileHeaderSize + infoSize) {
        return std::nullopt;
    }
    Header h;
    uint32_t paletteUsed = 0;
    if (core) {
        h.width = le::U16(file, 18);
        h.height = le::U16(file, 20);
        h.bitsPerPixel = le::U16(file, 24);
    } else {
        h.width = le::I32(file, 18);
        const int64_t height = le::I32(file, 22);
        h.topDown = height < 0;
        h.height = height < 0 ? -height : height;
        h.bitsPerPixel = le::U16(file, 28);
        h.compression = le::U32(file, 30);
        paletteUsed = le::U32(file, 46);
    }
    if (h.width <= 0 || h.height <= 0) {
        return std::nullopt;
    }
    const uint16_t bpp = h.bitsPerPixel;
    size_t afterHeader = kFileHeaderSize + infoSize;
    switch (h.compression) {
    case kRgb:
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
            return std::nullopt;
        }
        if (bpp == 16) {
            h.masks[0] = 0x7C00;
            h.masks[1] = 0x03E0;
            h.masks[2] = 0x001F;
        } else if (bpp == 32) {
            h.masks[0] = 0x00FF0000;
            h.masks[1] = 0x0000FF00;
            h.masks[2] = 0x000000FF;
        }
        break;
    case kRle8:
    case kRle4:
        if (h.topDown || bpp != (h.compression == kRle8 ? 8 : 4)) {
            return std::nullopt;
        }
        break;
    case kBitFields:
    case kAlphaBitFields: {
        if ((bpp != 16 && bpp != 32) || infoSize == kOs2InfoHeaderSize) {
            return std::nullopt;
        }
        size_t at = kFileHeaderSize + kInfoHeaderSize;
        if (infoSize == kInfoHeaderSize) {
            // Masks follow a plain information header.
            const size_t maskBytes = h.compression == kAlphaBitFields ? 16 : 12;
            if (file.size() < at + maskBytes) {
                return std::nullopt;
            }
            afterHeader += maskBytes;
        } else if (infoSize < kInfoHeaderSize + 12) {
            return std::nullopt;
        }
        for (auto &mask : h.masks) {
            mask = le::U32(file, at);
            at += 4;
        }
        break;
    }
    default:
        return std::nullopt;
    }
    if (bpp <= 8) {
        const uint32_t full = 1u << bpp;
        const uint32_t wanted = paletteUsed == 0 || paletteUsed > full ? full : paletteUsed;
        const size_t entrySize = core ? 3 : 4;
        // A short palette keeps the entries that are there; missing ones read as black.
        const size_t available = file.size() > afterHeader ? (file.size() - afterHeader) : 0;
        const size_t count = std::min<size_t>(wanted, available / entrySize);
        h.palette.resize(full);
        for (size_t i = 0; i < count; ++i) {
            const size_t at = afterHeader + i * entrySize;
            h.palette[i] =
                Colour{static_cast<uint8_t>(file[at + 2]), static_cast<uint8_t>(file[at + 1]),
                       static_cast<uint8_t>(file[at])};
        }
    }
    return h;
}

void PutPixel(Raster &out, uint64_t x, uint64_t y, Colour c) {
    uint8_t *p = out.rgba.data() + (y * out.width + x) * 4;
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
    p[3] = 255;
}

uint64_t Stride(const Header &h) {
    return (uint64_t(h.width) * h.bitsPerPixel + 31) / 32 * 4;
}

void PutColour(uint8_t *dst, Colour c) {
    dst[0] = c.r;
    dst[1] = c.g;
    dst[2] = c.b;
    dst[3] = 255;
}

// One row of palette indices of `bits` bits each (1, 4 or 8), the leftmost in the high bits.
void PaletteRow(const uint8_t *src, uint64_t width, unsigned bits,
                const std::vector<Colour> &palette, uint8_t *dst) {
    const unsigned perByte = 8 / bits;
    const unsigned mask = (1u << bits) - 1;
    for (uint64_t x = 0; x < width; ++x) {
        const unsigned shift = bits * (perByte - 1 - unsigned(x % perByte));
        PutColour(dst + 4 * x, palette[(src[x / perByte] >> shift) & mask]);
    }
}

void Bgr24Row(const uint8_t *src, uint64_t width, uint8_t *dst) {
    for (uint64_t x = 0; x < width; ++x, src += 3, dst += 4) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
        dst[3] = 255;
    }
}

// 32-bit pixels with the usual layout (blue, green, red, unused): the channels are bytes.
void Bgrx32Row(const uint8_t *src, uint64_t width, uint8_t *dst) {
    for (uint64_t x = 0; x < width; ++x, src += 4, dst += 4) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
        dst[3] = 255;
    }
}

void BitFieldRow(const uint8_t *src, uint64_t width, unsigned bits, const Channel &red,
                 const Channel &green, const Channel &blue, uint8_t *dst) {
    for (uint64_t x = 0; x < width; ++x) {
        const uint32_t v = bits == 16 ? uint32_t(src[2 * x]) | (uint32_t(src[2 * x + 1]) << 8)
                                      : uint32_t(src[4 * x]) | (uint32_t(src[4 * x + 1]) << 8) |
                                            (uint32_t(src[4 * x + 2]) << 16) |
                                            (uint32_t(src[4 * x + 3]) << 24);
        PutColour(dst + 4 * x, Colour{red.Extract(v), green.Extract(v), blue.Extract(v)});
    }
}

bool StandardMasks(const Header &h) {
    return h.masks[0] == 0x00FF0000 && h.masks[1] == 0x0000FF00 && h.masks[2] == 0x000000FF;
}

// The pixel data of an uncompressed bitmap, converted a whole row at a time.
void DecodeUncompressed(std::string_view pixels, const Header &h, Raster &out) {
    const uint64_t stride = Stride(h);
    const uint64_t width = uint64_t(h.width);
    const Channel red(h.masks[0]);
    const Channel green(h.masks[1]);
    const Channel blue(h.masks[2]);
    const bool plain32 = h.bitsPerPixel == 32 && StandardMasks(h);
    const auto *base = reinterpret_cast<const uint8_t *>(pixels.data());
    for (uint64_t row = 0; row < uint64_t(h.height); ++row) {
        const uint8_t *src = base + row * stride;
        const uint64_t y = h.topDown ? row : uint64_t(h.height) - 1 - row;
        uint8_t *dst = out.rgba.data() + y * width * 4;
        switch (h.bitsPerPixel) {
        case 1:
        case 4:
        case 8:
            PaletteRow(src, width, h.bitsPerPixel, h.palette, dst);
            break;
        case 24:
            Bgr24Row(src, width, dst);
            break;
        default:
            if (plain32) {
                Bgrx32Row(src, width, dst);
            } else {
                BitFieldRow(src, width, h.bitsPerPixel, red, green, blue, dst);
            }
            break;
        }
    }
}

// RLE8 / RLE4: runs and absolute blocks, rows from the bottom. Pixels the stream never sets stay
// black; a stream that ends early leaves the rest black as well.
void DecodeRle(std::string_view pixels, const Header &h, Raster &out) {
    const bool four = h.compression == kRle4;
    const auto *p = reinterpret_cast<const uint8_t *>(pixels.data());
    const size_t n = pixels.size();
    const uint64_t width = uint64_t(h.width);
    const uint64_t height = uint64_t(h.height);
    uint64_t x = 0;
    uint64_t row = 0; // counted from the bottom
    auto put = [&](uint8_t index) {
        if (x < width && row < height) {
            PutPixel(out, x, height - 1 - row, h.palette[index]);
        }
        ++x;
    };
    size_t i = 0;
    while (i + 1 < n && row < height) {
        const uint8_t count = p[i];
        const uint8_t value = p[i + 1];
        i += 2;
        if (count > 0) {
            for (unsigned k = 0; k < count && x < width; ++k) {
                put(four ? ((k % 2 == 0) ? value >> 4 : value & 15) : value);
            }
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            ++row;
        } else if (value == 1) { // end of bitmap
            break;
        } else if (value == 2) { // delta
            if (i + 1 >= n) {
                break;
            }
            x += p[i];
            row += p[i + 1];
            i += 2;
        } else { // absolute block of `value` pixels, padded to a 16-bit boundary
            const size_t bytes = four ? (value + 1u) / 2 : value;
            if (i + bytes > n) {
                break;
            }
            for (unsigned k = 0; k < value; ++k) {
                const uint8_t b = p[i + (four ? k / 2 : k)];
                put(four ? ((k % 2 == 0) ? b >> 4 : b & 15) : b);
            }
            i += bytes + (bytes & 1);
        }
    }
}

} // namespace

std::optional<Raster> DecodeBmp(std::string_view file, uint64_t maxPixels) {
    const auto header = ReadHeader(file);
    if (!header ||
        !DimensionsAllowed(uint64_t(header->width), uint64_t(header->height), maxPixels)) {
        return std::nullopt;
    }
    const uint32_t offset = le::U32(file, 10);
    if (offset >= file.size()) {
        return std::nullopt;
    }
    const std::string_view pixels = file.substr(offset);
    const bool runLengths = header->compression == kRle8 || header->compression == kRle4;
    if (!runLengths && pixels.size() / Stride(*header) < uint64_t(header->height)) {
        return std::nullopt; // truncated pixel data
    }
    Raster out;
    out.width = static_cast<uint32_t>(header->width);
    out.height = static_cast<uint32_t>(header->height);
    out.components = 3;
    out.rgba.resize(uint64_t{out.width} * out.height * 4);
    if (runLengths) {
        for (size_t i = 3; i < out.rgba.size(); i += 4) {
            out.rgba[i] = 255; // opaque black until the runs draw the pixels
        }
        DecodeRle(pixels, *header, out);
    } else {
        DecodeUncompressed(pixels, *header, out);
    }
    return out;
}

uint64_t Bmp24Stride(uint32_t width) {
    return (uint64_t{width} * 3 + 3) / 4 * 4;
}

void AppendBmp24Header(std::string &out, uint32_t width, uint32_t height) {
    const uint64_t pixelBytes = Bmp24Stride(width) * height;
    out += "BM";
    le::PutU32(out, static_cast<uint32_t>(kBmp24HeaderSize + pixelBytes));
    le::PutU32(out, 0);                // reserved
    le::PutU32(out, kBmp24HeaderSize); // pixel data offset
    le::PutU32(out, kInfoHeaderSize);
    le::PutI32(out, static_cast<int32_t>(width));
    le::PutI32(out, static_cast<int32_t>(height)); // positive: bottom row first
    le::PutU16(out, 1);                            // planes
    le::PutU16(out, 24);
    le::PutU32(out, kRgb);
    le::PutU32(out, static_cast<uint32_t>(pixelBytes));
    le::PutU32(out, 3780); // 96 dots per inch, in pixels per metre
    le::PutU32(out, 3780);
    le::PutU32(out, 0); // colours used
    le::PutU32(out, 0); // important colours
}

std::string EncodeBmp24(const Raster &image) {
    const uint64_t stride = Bmp24Stride(image.width);
    std::string out;
    AppendBmp24Header(out, image.width, image.height);
    // Sized once (the row padding stays zero), then every row converted in place.
    out.resize(kBmp24HeaderSize + stride * image.height);
    auto *base = reinterpret_cast<uint8_t *>(out.data()) + kBmp24HeaderSize;
    for (uint64_t row = 0; row < image.height; ++row) {
        const uint8_t *src = image.rgba.data() + (image.height - 1 - row) * image.width * 4;
        uint8_t *dst = base + row * stride;
        for (uint32_t x = 0; x < image.width; ++x, src += 4, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
    }
    return out;
}

std::optional<BmpRows> DirectBmpLayout(std::string_view head, uint64_t fileSize,
                                       uint64_t maxPixels) {
    const auto header = ReadHeader(head);
    if (!header ||
        !DimensionsAllowed(uint64_t(header->width), uint64_t(header->height), maxPixels)) {
        return std::nullopt;
    }
    const bool bgr = header->compression == kRgb && header->bitsPerPixel == 24;
    const bool bgrx = header->bitsPerPixel == 32 && StandardMasks(*header) &&
                      (header->compression == kRgb || header->compression == kBitFields ||
                       header->compression == kAlphaBitFields);
    if (!bgr && !bgrx) {
        return std::nullopt;
    }
    const uint32_t offset = le::U32(head, 10);
    if (offset >= fileSize) {
        return std::nullopt;
    }
    const uint64_t stride = Stride(*header);
    if ((fileSize - offset) / stride < uint64_t(header->height)) {
        return std::nullopt;
    }
    BmpRows rows;
    rows.width = static_cast<uint32_t>(header->width);
    rows.height = static_cast<uint32_t>(header->height);
    rows.bytesPerPixel = bgr ? 3 : 4;
    rows.stride = stride;
    rows.topDown = header->topDown;
    rows.offset = offset;
    return rows;
}

std::optional<BmpRows> DirectBmpRows(std::string_view file, uint64_t maxPixels) {
    auto rows = DirectBmpLayout(file, file.size(), maxPixels);
    if (rows) {
        rows->pixels = reinterpret_cast<const uint8_t *>(file.data()) + rows->offset;
    }
    return rows;
}

} // namespace kestrun::imaging
