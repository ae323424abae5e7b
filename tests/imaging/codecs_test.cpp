// The decoders and encoders of the imaging layer, on images made here.
#include "kestrun/imaging/image_codecs.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <utility>

#include <jpeglib.h>

using namespace kestrun::imaging;
using imaging_test::BuildBmp;
using imaging_test::Picture;
using imaging_test::Quadrants;

namespace {

Raster ToRaster(const Picture &p) {
    return Raster{p.width, p.height, p.rgba, 4};
}

// Colour of pixel (x, y) as 0xRRGGBB.
uint32_t Rgb(const Raster &r, unsigned x, unsigned y) {
    const uint8_t *p = &r.rgba[(size_t(y) * r.width + x) * 4];
    return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
}

bool Near(const Raster &r, unsigned x, unsigned y, uint32_t rgb, int tolerance) {
    const uint8_t *p = &r.rgba[(size_t(y) * r.width + x) * 4];
    const int want[3] = {int(rgb >> 16), int((rgb >> 8) & 0xFF), int(rgb & 0xFF)};
    for (int i = 0; i < 3; ++i) {
        if (std::abs(int(p[i]) - want[i]) > tolerance) {
            return false;
        }
    }
    return true;
}

// Every prefix of `file` (and a few damaged copies) decodes or fails without crashing.
template <class Decode> void SurvivesDamage(const std::string &file, Decode decode) {
    for (size_t n = 0; n < file.size(); n += 1 + n / 8) {
        decode(std::string_view(file).substr(0, n));
    }
    for (size_t at = 0; at < file.size(); at += 1 + file.size() / 40) {
        std::string damaged = file;
        damaged[at] = char(damaged[at] ^ 0x5A);
        decode(damaged);
    }
}

} // namespace

TEST(Bmp, Encodes24BitBottomUpAndDecodesItBack) {
    const Picture p = Quadrants(10, 6); // 30 bytes a row: padded to 32
    const std::string bmp = EncodeBmp24(ToRaster(p));
    ASSERT_EQ(bmp.size(), 54u + 32 * 6);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(uint8_t(bmp[28]), 24);
    EXPECT_EQ(uint8_t(bmp[22]), 6); // positive height: bottom row first
    // The first stored pixel is the bottom-left one (blue), written blue, green, red.
    EXPECT_EQ(uint8_t(bmp[54]), 255);
    EXPECT_EQ(uint8_t(bmp[56]), 0);
    const auto back = DecodeBmp(bmp);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->width, 10u);
    EXPECT_EQ(back->height, 6u);
    EXPECT_EQ(Rgb(*back, 0, 0), 0xFF0000u);
    EXPECT_EQ(Rgb(*back, 9, 0), 0x00FF00u);
    EXPECT_EQ(Rgb(*back, 0, 5), 0x0000FFu);
    EXPECT_EQ(Rgb(*back, 9, 5), 0xFFFFFFu);
}

TEST(Bmp, DecodesPalettesBitFieldsTopDownAndRunLengths) {
    const std::vector<uint8_t> palette2 = {0, 0, 0, 0, 0x30, 0x20, 0x10, 0}; // BGRA quads
    // 1 bit, 3 x 2, bottom-up: bottom row 1 0 1, top row 0 1 0 (rows padded to 4 bytes).
    const std::string oneBit =
        BuildBmp(3, 2, 1, 0, palette2, {}, std::string("\xA0\0\0\0\x40\0\0\0", 8));
    auto r = DecodeBmp(oneBit);
    ASSERT_TRUE(r);
    EXPECT_EQ(Rgb(*r, 0, 1), 0x102030u);
    EXPECT_EQ(Rgb(*r, 1, 1), 0u);
    EXPECT_EQ(Rgb(*r, 1, 0), 0x102030u);

    // 4 bit, top-down: one row of 3 pixels with indices 1, 0, 1.
    r = DecodeBmp(BuildBmp(3, -1, 4, 0, palette2, {}, std::string("\x10\x10\0\0", 4)));
    ASSERT_TRUE(r);
    EXPECT_EQ(Rgb(*r, 0, 0), 0x102030u);
    EXPECT_EQ(Rgb(*r, 1, 0), 0u);

    // 8 bit with an index past a short palette: black.
    r = DecodeBmp(BuildBmp(2, 1, 8, 0, palette2, {}, std::string("\x01\x07\0\0", 4)));
    ASSERT_TRUE(r);
    EXPECT_EQ(Rgb(*r, 0, 0), 0x102030u);
    EXPECT_EQ(Rgb(*r, 1, 0), 0u);

    // 16 bit 5-5-5 without masks: pure red is 0x7C00.
    r = DecodeBmp(BuildBmp(1, 1, 16, 0, {}, {}, std::string("\x00\x7C\0\0", 4)));
    ASSERT_TRUE(r);
    EXPECT_EQ(Rgb(*r, 0, 0), 0xFF0000u);

    // 16 bit 5-6-5 bit fields: pure green is 0x07E0.
    r = DecodeBmp(
        BuildBmp(1, 1, 16, 3, {}, {0xF800, 0x07E0, 0x001F}, std::string("\xE0\x07\0\0", 4)));
    ASSERT_TRUE(r);
    EXPECT_EQ(Rgb(*r, 0, 0), 0x00FF00u);

    // 32 bit bit fields with red in the low byte.
    r = DecodeBmp(BuildBmp(1, 1, 32, 3, {}, {0x000000FF, 0x0000FF00, 0x00FF0000},
                           std::string("\x11\x22\x33\x00", 4)));
    ASSERT_TRUE(r);
    EXPECT_EQ(Rgb(*r, 0, 0), 0x112233u);

    // RLE8, 4 x 2: bottom row a run of 4 index 1; top row an absolute block 1 0 1 (padded), the
    // last pixel never set (black); end of bitmap.
    const std::string rle8("\x04\x01\x00\x00\x00\x03\x01\x00\x01\x00\x00\x01", 12);
    r = DecodeBmp(BuildBmp(4, 2, 8, 1, palette2, {}, rle8));
    ASSERT_TRUE(r);
    EXPECT_EQ(Rgb(*r, 3, 1), 0x102030u);
    EXPECT_EQ(Rgb(*r, 0, 0), 0x102030u);
    EXPECT_EQ(Rgb(*r, 1, 0), 0u);
    EXPECT_EQ(Rgb(*r, 3, 0), 0u);

    // RLE4: a run of 3 pixels alternating indices 1 and 0.
    r = DecodeBmp(BuildBmp(3, 1, 4, 2, palette2, {}, std::string("\x03\x10\x00\x01", 4)));
    ASSERT_TRUE(r);
    EXPECT_EQ(Rgb(*r, 0, 0), 0x102030u);
    EXPECT_EQ(Rgb(*r, 1, 0), 0u);
    EXPECT_EQ(Rgb(*r, 2, 0), 0x102030u);
}

TEST(Bmp, RefusesWhatItCannotRead) {
    const std::string good = EncodeBmp24(ToRaster(Quadrants(4, 4)));
    EXPECT_FALSE(DecodeBmp(""));
    EXPECT_FALSE(DecodeBmp("BM"));
    EXPECT_FALSE(DecodeBmp(good.substr(0, good.size() - 1))); // pixel data one byte short
    EXPECT_FALSE(DecodeBmp(BuildBmp(0, 4, 24, 0, {}, {}, std::string(64, '\0'))));
    EXPECT_FALSE(DecodeBmp(BuildBmp(1, 1, 7, 0, {}, {}, std::string(4, '\0'))));
    EXPECT_FALSE(DecodeBmp(BuildBmp(1, 1, 24, 4, {}, {}, std::string(4, '\0')))); // embedded JPEG
    // A huge canvas is refused before anything is allocated.
    EXPECT_FALSE(DecodeBmp(BuildBmp(100000, 100000, 24, 0, {}, {}, std::string(16, '\0'))));
    EXPECT_FALSE(DecodeBmp(BuildBmp(1000, 1000, 24, 0, {}, {}, ""), 1000));
    SurvivesDamage(good, [](std::string_view f) { (void)DecodeBmp(f); });
    SurvivesDamage(BuildBmp(4, 2, 8, 1, std::vector<uint8_t>(1024, 7), {},
                            std::string("\x04\x01\x00\x02\x05\x05\x00\x03\x01\x02\x03\x00", 12)),
                   [](std::string_view f) { (void)DecodeBmp(f); });
}

TEST(Jpeg, RoundTripsColourClampsQualityAndKeepsGreyComponents) {
    const Picture p = Quadrants(64, 48);
    const auto best = EncodeJpeg(ToRaster(p), 100);
    const auto worst = EncodeJpeg(ToRaster(p), 1);
    ASSERT_TRUE(best && worst);
    EXPECT_GT(best->size(), worst->size());
    EXPECT_EQ(EncodeJpeg(ToRaster(p), 1000), best); // clamped to 100
    EXPECT_EQ(EncodeJpeg(ToRaster(p), -20), EncodeJpeg(ToRaster(p), 0));
    EXPECT_TRUE(EncodeJpeg(ToRaster(p), -20));

    const auto colour = DecodeJpeg(*best);
    ASSERT_TRUE(colour);
    EXPECT_EQ(colour->components, 3);
    EXPECT_EQ(colour->width, 64u);
    EXPECT_TRUE(Near(*colour, 5, 5, 0xFF0000, 8));
    EXPECT_TRUE(Near(*colour, 60, 5, 0x00FF00, 8));
    EXPECT_TRUE(Near(*colour, 5, 44, 0x0000FF, 8));
    EXPECT_TRUE(Near(*colour, 60, 44, 0xFFFFFF, 8));

    const auto grey = DecodeJpeg(imaging_test::EncodeGreyJpeg(p, 95));
    ASSERT_TRUE(grey);
    EXPECT_EQ(grey->components, 1);
    EXPECT_TRUE(Near(*grey, 5, 5, 0xFFFFFF, 4)); // red channel 255 as grey
    EXPECT_TRUE(Near(*grey, 60, 5, 0x000000, 4));
    EXPECT_EQ(grey->rgba[3], 255);

    EXPECT_FALSE(EncodeJpeg(Raster{}, 75));
}

TEST(Jpeg, RefusesGarbageAndSurvivesTruncation) {
    EXPECT_FALSE(DecodeJpeg(""));
    EXPECT_FALSE(DecodeJpeg("\xFF\xD8"));
    EXPECT_FALSE(DecodeJpeg("not a jpeg at all"));
    const auto file = EncodeJpeg(ToRaster(Quadrants(40, 40)), 80);
    ASSERT_TRUE(file);
    EXPECT_FALSE(DecodeJpeg(*file, 100)); // over the pixel limit
    // Cut inside the entropy-coded data the decoder fills in what is missing.
    const auto cut = DecodeJpeg(std::string_view(*file).substr(0, file->size() * 3 / 4));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->height, 40u);
    SurvivesDamage(*file, [](std::string_view f) { (void)DecodeJpeg(f); });
}

TEST(Png, DecodesToRgbaAndReportsLodePngErrors) {
    Picture p = Quadrants(8, 8);
    p.rgba[3] = 0; // one transparent pixel keeps its colour bytes
    const auto decoded = DecodePng(imaging_test::EncodePng(p));
    ASSERT_EQ(decoded.error, 0u);
    EXPECT_EQ(decoded.raster.components, 4);
    EXPECT_EQ(decoded.raster.rgba, p.rgba);

    const auto empty = DecodePng("");
    EXPECT_NE(empty.error, 0u);
    EXPECT_FALSE(PngErrorText(empty.error).empty());
    EXPECT_EQ(DecodePng(imaging_test::EncodePng(p), 10).error, kPngTooLarge);
    EXPECT_EQ(PngErrorText(kPngTooLarge), "memory allocation failed"); // LodePNG's own text
    SurvivesDamage(imaging_test::EncodePng(Quadrants(16, 16)),
                   [](std::string_view f) { (void)DecodePng(f); });
}

TEST(Gif, DecodesFirstFrameWithTransparencyAndInterlace) {
    const std::vector<uint8_t> palette = {0, 0, 0, 255, 0, 0, 0, 0, 255, 9, 9, 9};
    std::vector<uint8_t> indices(16 * 10);
    for (size_t i = 0; i < indices.size(); ++i) {
        indices[i] = uint8_t((i / 16) % 3); // rows of black, red, blue
    }
    indices[5] = 3; // the transparent index
    for (bool interlaced : {false, true}) {
        const auto r = DecodeGif(imaging_test::EncodeGif(16, 10, palette, indices, 3, interlaced));
        ASSERT_TRUE(r) << interlaced;
        EXPECT_EQ(r->width, 16u);
        EXPECT_EQ(r->height, 10u);
        for (unsigned y = 0; y < 10; ++y) {
            const uint32_t want[] = {0x000000, 0xFF0000, 0x0000FF};
            EXPECT_EQ(Rgb(*r, 7, y), want[y % 3]) << y;
        }
        EXPECT_EQ(r->rgba[5 * 4 + 3], 0); // transparent
        EXPECT_EQ(r->rgba[4 * 4 + 3], 255);
    }
    const std::string gif = imaging_test::EncodeGif(16, 10, palette, indices, -1, false);
    EXPECT_FALSE(DecodeGif(gif, 100));
    EXPECT_FALSE(DecodeGif(""));
    EXPECT_FALSE(DecodeGif("GIF89a"));
    SurvivesDamage(gif, [](std::string_view f) { (void)DecodeGif(f); });
}

TEST(DecodeImage, ChoosesTheDecoderByContent) {
    const Picture p = Quadrants(8, 8);
    EXPECT_EQ(SniffFormat(imaging_test::EncodePng(p)), ImageFormat::Png);
    EXPECT_EQ(SniffFormat(*EncodeJpeg(ToRaster(p), 50)), ImageFormat::Jpeg);
    EXPECT_EQ(SniffFormat(EncodeBmp24(ToRaster(p))), ImageFormat::Bmp);
    EXPECT_EQ(SniffFormat("GIF87a...."), ImageFormat::Gif);
    EXPECT_EQ(SniffFormat("hello"), ImageFormat::Unknown);
    EXPECT_TRUE(DecodeImage(imaging_test::EncodePng(p)));
    EXPECT_TRUE(DecodeImage(EncodeBmp24(ToRaster(p))));
    EXPECT_FALSE(DecodeImage("hello"));
    EXPECT_FALSE(DecodeImage(""));
}

namespace {

// Pseudo-random bytes (a fixed sequence, so failures repeat).
std::string Noise(size_t n, uint32_t seed) {
    std::string out(n, '\0');
    for (char &c : out) {
        seed = seed * 1664525u + 1013904223u;
        c = char(seed >> 24);
    }
    return out;
}

// A colour picture with smooth areas and noise, the mix that exercises every coder path.
Raster Photo(unsigned width, unsigned height, uint32_t seed) {
    Raster r{width, height, std::vector<uint8_t>(size_t(width) * height * 4), 4};
    const std::string noise = Noise(r.rgba.size(), seed);
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < width; ++x) {
            uint8_t *p = &r.rgba[(size_t(y) * width + x) * 4];
            const auto n = uint8_t(noise[(size_t(y) * width + x) * 4]);
            p[0] = uint8_t(x * 255 / width);
            p[1] = uint8_t((y * 255 / height) ^ (n & 0x1F));
            p[2] = x < width / 2 ? n : uint8_t(200);
            p[3] = uint8_t(noise[(size_t(y) * width + x) * 4 + 1]);
        }
    }
    return r;
}

// A CMYK JPEG, with or without the Adobe marker that says the channels are inverted.
std::string EncodeCmykJpeg(unsigned width, unsigned height, bool adobe) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    cinfo.write_Adobe_marker = adobe ? TRUE : FALSE;
    jpeg_start_compress(&cinfo, TRUE);
    const std::string pixels = Noise(size_t(width) * height * 4, 7);
    while (cinfo.next_scanline < height) {
        auto *row = reinterpret_cast<JSAMPLE *>(const_cast<char *>(pixels.data())) +
                    size_t(cinfo.next_scanline) * width * 4;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string out(reinterpret_cast<char *>(buffer), size);
    std::free(buffer);
    return out;
}

std::optional<std::string> BmpThroughRgba(std::string_view jpeg) {
    const auto raster = DecodeJpeg(jpeg);
    if (!raster) {
        return std::nullopt;
    }
    return EncodeBmp24(*raster);
}

} // namespace

TEST(Bmp, RowDecodersMatchThePixelFormula) {
    // Every uncompressed depth over random rows of odd widths, against the pixel formulas.
    for (const uint16_t bits : {1, 4, 8, 16, 24, 32}) {
        for (const int32_t height : {3, -3}) {
            const int32_t width = 13;
            const size_t stride = (size_t(width) * bits + 31) / 32 * 4;
            const std::string pixels = Noise(stride * 3, bits * 31u + (height > 0));
            std::vector<uint8_t> palette;
            if (bits <= 8) {
                const std::string quads = Noise(size_t(4) << bits, 99);
                palette.assign(quads.begin(), quads.end());
            }
            const auto r = DecodeBmp(BuildBmp(width, height, bits, 0, palette, {}, pixels));
            ASSERT_TRUE(r) << bits;
            for (unsigned y = 0; y < 3; ++y) {
                const auto *src = reinterpret_cast<const uint8_t *>(pixels.data()) +
                                  (height < 0 ? y : 2 - y) * stride;
                for (unsigned x = 0; x < unsigned(width); ++x) {
                    uint32_t want = 0;
                    if (bits <= 8) {
                        const unsigned perByte = 8 / bits;
                        const unsigned index =
                            (src[x / perByte] >> (bits * (perByte - 1 - x % perByte))) &
                            ((1u << bits) - 1);
                        const uint8_t *q = &palette[index * 4];
                        want = (uint32_t(q[2]) << 16) | (uint32_t(q[1]) << 8) | q[0];
                    } else if (bits == 16) {
                        const unsigned v = src[2 * x] | (src[2 * x + 1] << 8);
                        const auto five = [](unsigned c) { return (c * 255 + 15) / 31; };
                        want = (five((v >> 10) & 31) << 16) | (five((v >> 5) & 31) << 8) |
                               five(v & 31);
                    } else {
                        const uint8_t *q = src + x * (bits / 8);
                        want = (uint32_t(q[2]) << 16) | (uint32_t(q[1]) << 8) | q[0];
                    }
                    ASSERT_EQ(Rgb(*r, x, y), want) << bits << " " << height << " " << x;
                    ASSERT_EQ(r->rgba[(size_t(y) * width + x) * 4 + 3], 255);
                }
            }
        }
    }
}

TEST(Jpeg, DirectPathsGiveTheBytesOfTheRgbaPath) {
    // JPEG to bitmap rows: colour at several sizes (odd ones leave row padding and partial
    // blocks), grey, CMYK both ways, a cut file, garbage.
    std::vector<std::string> jpegs;
    for (const auto &[w, h] : {std::pair{37u, 23u}, {64u, 48u}, {1u, 1u}, {333u, 17u}}) {
        jpegs.push_back(*EncodeJpeg(Photo(w, h, w * h), 85));
    }
    jpegs.push_back(imaging_test::EncodeGreyJpeg(Quadrants(30, 21), 90));
    jpegs.push_back(EncodeCmykJpeg(19, 11, true));
    jpegs.push_back(EncodeCmykJpeg(19, 11, false));
    jpegs.push_back(jpegs[0].substr(0, jpegs[0].size() * 2 / 3));
    jpegs.push_back("\xFF\xD8 not really");
    for (size_t i = 0; i < jpegs.size(); ++i) {
        EXPECT_EQ(DecodeJpegToBmp24(jpegs[i]), BmpThroughRgba(jpegs[i])) << i;
    }
    EXPECT_FALSE(DecodeJpegToBmp24(jpegs[0], 100)); // over the pixel limit

    // Bitmap rows compressed in place: 24 and 32 bits, both row orders, several qualities.
    for (const int32_t height : {29, -29}) {
        for (const uint16_t bits : {24, 32}) {
            for (const uint32_t compression : {0u, 3u}) {
                if (bits == 24 && compression == 3) {
                    continue;
                }
                const int32_t width = 41;
                const size_t stride = (size_t(width) * bits + 31) / 32 * 4;
                const std::vector<uint32_t> masks =
                    compression == 3 ? std::vector<uint32_t>{0xFF0000, 0xFF00, 0xFF}
                                     : std::vector<uint32_t>{};
                const std::string file = BuildBmp(width, height, bits, compression, {}, masks,
                                                  Noise(stride * 29, uint32_t(bits + height)));
                const auto rows = DirectBmpRows(file);
                ASSERT_TRUE(rows) << bits << " " << height;
                for (const int quality : {1, 75, 100}) {
                    EXPECT_EQ(EncodeJpegFromBmpRows(*rows, quality),
                              EncodeJpeg(*DecodeBmp(file), quality))
                        << bits << " " << height << " " << quality;
                }
            }
        }
    }
    // Every other bitmap goes through the RGBA path.
    const std::string truncated = BuildBmp(4, 4, 24, 0, {}, {}, std::string(47, '\0'));
    EXPECT_FALSE(DirectBmpRows(truncated));
    EXPECT_FALSE(DirectBmpRows(BuildBmp(4, 4, 16, 0, {}, {}, std::string(32, '\0'))));
    EXPECT_FALSE(
        DirectBmpRows(BuildBmp(4, 4, 8, 0, std::vector<uint8_t>(1024), {}, std::string(16, '\0'))));
    EXPECT_FALSE(
        DirectBmpRows(BuildBmp(1, 1, 32, 3, {}, {0xFF, 0xFF00, 0xFF0000}, std::string(4, '\0'))));
    EXPECT_FALSE(DirectBmpRows(BuildBmp(1000, 1000, 24, 0, {}, {}, std::string(16, '\0'))));
    SurvivesDamage(jpegs[0], [](std::string_view f) { (void)DecodeJpegToBmp24(f); });
}
