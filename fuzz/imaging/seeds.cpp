#include "seeds.h"

#include "kestrun/imaging/image_codecs.h"

#include <cstdlib>
#include <cstring>

#include <gif_lib.h>
#include <jpeglib.h>
#include <lodepng.h>

namespace {

using kestrun::imaging::Raster;

Raster Pattern(uint32_t width, uint32_t height) {
    Raster r{width, height, std::vector<uint8_t>(size_t(width) * height * 4), 4};
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t *p = &r.rgba[(size_t(y) * width + x) * 4];
            p[0] = uint8_t(x * 16);
            p[1] = uint8_t(y * 16);
            p[2] = uint8_t((x ^ y) * 8);
            p[3] = uint8_t(x * y);
        }
    }
    return r;
}

// A JPEG straight from libjpeg, for the variants the library's encoder does not write.
std::string Jpeg(const Raster &r, bool grey, bool progressive) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = r.width;
    cinfo.image_height = r.height;
    cinfo.input_components = grey ? 1 : 4;
    cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_RGBX;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 70, TRUE);
    if (progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(size_t(r.width) * 4);
    while (cinfo.next_scanline < cinfo.image_height) {
        const uint8_t *src = &r.rgba[size_t(cinfo.next_scanline) * r.width * 4];
        for (uint32_t x = 0; x < r.width; ++x) {
            if (grey) {
                row[x] = src[4 * x];
            } else {
                std::memcpy(&row[4 * x], &src[4 * x], 4);
            }
        }
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&cinfo, &p, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string out(reinterpret_cast<char *>(buffer), size);
    std::free(buffer);
    return out;
}

int AppendToString(GifFileType *gif, const GifByteType *data, int length) {
    static_cast<std::string *>(gif->UserData)
        ->append(reinterpret_cast<const char *>(data), size_t(length));
    return length;
}

std::string Gif(uint32_t width, uint32_t height, bool interlaced, bool twoFrames) {
    std::string out;
    int error = 0;
    GifFileType *gif = EGifOpen(&out, AppendToString, &error);
    GifColorType colours[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {255, 255, 255}};
    ColorMapObject *map = GifMakeMapObject(4, colours);
    EGifPutScreenDesc(gif, int(width), int(height), 2, 0, map);
    GraphicsControlBlock gcb{};
    gcb.TransparentColor = 3;
    GifByteType ext[4];
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(EGifGCBToExtension(&gcb, ext)), ext);
    std::vector<GifPixelType> line(width);
    for (int frame = 0; frame < (twoFrames ? 2 : 1); ++frame) {
        EGifPutImageDesc(gif, frame, frame, int(width) - frame, int(height) - frame, interlaced,
                         nullptr);
        for (uint32_t y = 0; y < height - uint32_t(frame); ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                line[x] = GifPixelType((x + y + frame) % 4);
            }
            EGifPutLine(gif, line.data(), int(width) - frame);
        }
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

void Put16(std::string &s, uint32_t v) {
    s.push_back(char(v & 0xFF));
    s.push_back(char((v >> 8) & 0xFF));
}

void Put32(std::string &s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

std::string Bmp(int32_t width, int32_t height, uint16_t bpp, uint32_t compression,
                const std::string &palette, const std::string &masks, const std::string &pixels) {
    const uint32_t offset = uint32_t(54 + masks.size() + palette.size());
    std::string s = "BM";
    Put32(s, uint32_t(offset + pixels.size()));
    Put32(s, 0);
    Put32(s, offset);
    Put32(s, 40);
    Put32(s, uint32_t(width));
    Put32(s, uint32_t(height));
    Put16(s, 1);
    Put16(s, bpp);
    Put32(s, compression);
    Put32(s, uint32_t(pixels.size()));
    Put32(s, 0);
    Put32(s, 0);
    Put32(s, uint32_t(palette.size() / 4));
    Put32(s, 0);
    return s + masks + palette + pixels;
}

} // namespace

std::vector<std::pair<std::string, std::string>> MakeSeeds() {
    using namespace kestrun::imaging;
    const Raster small = Pattern(13, 9);
    std::vector<std::pair<std::string, std::string>> seeds;
    std::vector<unsigned char> png;
    lodepng::encode(png, small.rgba, small.width, small.height);
    seeds.emplace_back("rgba.png", std::string(png.begin(), png.end()));
    png.clear();
    lodepng::encode(png, small.rgba, small.width, small.height, LCT_PALETTE, 8);
    if (!png.empty()) {
        seeds.emplace_back("palette.png", std::string(png.begin(), png.end()));
    }
    png.clear();
    lodepng::encode(png, small.rgba, small.width, small.height, LCT_GREY, 1);
    seeds.emplace_back("grey1.png", std::string(png.begin(), png.end()));
    seeds.emplace_back("colour.jpg", *EncodeJpeg(small, 80));
    seeds.emplace_back("grey.jpg", Jpeg(small, true, false));
    seeds.emplace_back("progressive.jpg", Jpeg(Pattern(24, 17), false, true));
    seeds.emplace_back("rgb24.bmp", EncodeBmp24(small));
    const std::string palette16(16 * 4, '\x40');
    seeds.emplace_back("p4.bmp", Bmp(5, -3, 4, 0, palette16, "", std::string(12, '\x12')));
    seeds.emplace_back("p1.bmp",
                       Bmp(9, 2, 1, 0, std::string(8, '\x7F'), "", "\xAA\x55\0\0\x0F\xF0\0\0"));
    seeds.emplace_back("rle8.bmp",
                       Bmp(6, 3, 8, 1, std::string(256 * 4, '\x21'), "",
                           std::string("\x03\x05\x00\x00\x00\x03\x01\x02\x03\x00\x00\x02\x01\x01"
                                       "\x02\x07\x00\x01",
                                       18)));
    seeds.emplace_back("rle4.bmp",
                       Bmp(6, 2, 4, 2, palette16, "",
                           std::string("\x05\x12\x00\x00\x00\x03\x12\x30\x00\x01", 10)));
    std::string masks;
    Put32(masks, 0xF800);
    Put32(masks, 0x07E0);
    Put32(masks, 0x001F);
    seeds.emplace_back("bf16.bmp", Bmp(3, 2, 16, 3, "", masks, std::string(8, '\x3C')));
    seeds.emplace_back("rgb32.bmp", Bmp(2, 2, 32, 0, "", "", std::string(16, '\x5A')));
    seeds.emplace_back("plain.gif", Gif(11, 7, false, false));
    seeds.emplace_back("interlaced.gif", Gif(12, 19, true, true));
    return seeds;
}
