#include "test_images.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include <gif_lib.h>
#include <jpeglib.h>
#include <lodepng.h>

#ifdef _WIN32
#include <windows.h>
#endif

namespace imaging_test {

ScratchDir::ScratchDir() {
#ifdef _WIN32
    // No mkdtemp on Windows: a new folder with a random name in the temporary folder.
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0;; ++attempt) {
        const std::filesystem::path candidate =
            base / ("kestrun-imaging-" + std::to_string(std::random_device{}()));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate.string();
            return;
        }
        if (attempt > 100) {
            throw std::runtime_error("no scratch folder");
        }
    }
#else
    std::string pattern = "/tmp/kestrun-imaging-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
#endif
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::operator/(std::string_view name) const {
    return path_ + "/" + std::string(name);
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        return {};
    }
    std::string content(static_cast<size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    return content;
}

void WriteFile(const std::string &path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string &path) {
#ifdef _WIN32
    // The path is ANSI text (code page 936), as the exports take it.
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
#else
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
#endif
}

Picture Quadrants(unsigned width, unsigned height) {
    Picture p{width, height, std::vector<uint8_t>(size_t(width) * height * 4)};
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < width; ++x) {
            uint8_t *px = &p.rgba[(size_t(y) * width + x) * 4];
            const bool right = x >= width / 2;
            const bool bottom = y >= height / 2;
            px[0] = (!right && !bottom) || (right && bottom) ? 255 : 0;
            px[1] = (right && !bottom) || (right && bottom) ? 255 : 0;
            px[2] = (!right && bottom) || (right && bottom) ? 255 : 0;
            px[3] = 255;
        }
    }
    return p;
}

std::string EncodePng(const Picture &picture) {
    std::vector<unsigned char> png;
    if (lodepng::encode(png, picture.rgba, picture.width, picture.height) != 0) {
        throw std::runtime_error("lodepng encode failed");
    }
    return std::string(png.begin(), png.end());
}

std::string EncodeGreyJpeg(const Picture &picture, int quality) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = picture.width;
    cinfo.image_height = picture.height;
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(picture.width);
    while (cinfo.next_scanline < cinfo.image_height) {
        for (unsigned x = 0; x < picture.width; ++x) {
            row[x] = picture.at(x, cinfo.next_scanline)[0];
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string out(reinterpret_cast<char *>(buffer), size);
    std::free(buffer);
    return out;
}

namespace {

int WriteToString(GifFileType *gif, const GifByteType *data, int length) {
    static_cast<std::string *>(gif->UserData)
        ->append(reinterpret_cast<const char *>(data), static_cast<size_t>(length));
    return length;
}

} // namespace

std::string EncodeGif(unsigned width, unsigned height, const std::vector<uint8_t> &palette,
                      const std::vector<uint8_t> &indices, int transparent, bool interlaced) {
    std::string out;
    int error = 0;
    GifFileType *gif = EGifOpen(&out, WriteToString, &error);
    if (gif == nullptr) {
        throw std::runtime_error("EGifOpen failed");
    }
    const int colours = static_cast<int>(palette.size() / 3);
    std::vector<GifColorType> entries(static_cast<size_t>(colours));
    for (int i = 0; i < colours; ++i) {
        entries[size_t(i)] = GifColorType{palette[size_t(i) * 3], palette[size_t(i) * 3 + 1],
                                          palette[size_t(i) * 3 + 2]};
    }
    ColorMapObject *map = GifMakeMapObject(colours, entries.data());
    EGifPutScreenDesc(gif, int(width), int(height), 8, 0, map);
    if (transparent >= 0) {
        GraphicsControlBlock gcb{};
        gcb.TransparentColor = transparent;
        GifByteType ext[4];
        const size_t len = EGifGCBToExtension(&gcb, ext);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(len), ext);
    }
    EGifPutImageDesc(gif, 0, 0, int(width), int(height), interlaced, nullptr);
    static constexpr int kStart[] = {0, 4, 2, 1};
    static constexpr int kStep[] = {8, 8, 4, 2};
    std::vector<GifPixelType> line(width);
    for (int pass = 0; pass < (interlaced ? 4 : 1); ++pass) {
        for (unsigned y = interlaced ? kStart[pass] : 0; y < height;
             y += interlaced ? kStep[pass] : 1) {
            std::memcpy(line.data(), &indices[size_t(y) * width], width);
            EGifPutLine(gif, line.data(), int(width));
        }
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

namespace {

void Put16(std::string &s, uint16_t v) {
    s.push_back(char(v & 0xFF));
    s.push_back(char(v >> 8));
}

void Put32(std::string &s, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        s.push_back(char((v >> (8 * i)) & 0xFF));
    }
}

} // namespace

std::string BuildBmp(int32_t width, int32_t height, uint16_t bitsPerPixel, uint32_t compression,
                     const std::vector<uint8_t> &palette, const std::vector<uint32_t> &masks,
                     std::string_view pixels) {
    const uint32_t offset = uint32_t(14 + 40 + masks.size() * 4 + palette.size());
    std::string s = "BM";
    Put32(s, uint32_t(offset + pixels.size()));
    Put32(s, 0);
    Put32(s, offset);
    Put32(s, 40);
    Put32(s, uint32_t(width));
    Put32(s, uint32_t(height));
    Put16(s, 1);
    Put16(s, bitsPerPixel);
    Put32(s, compression);
    Put32(s, uint32_t(pixels.size()));
    Put32(s, 0);
    Put32(s, 0);
    Put32(s, uint32_t(palette.size() / 4));
    Put32(s, 0);
    for (uint32_t m : masks) {
        Put32(s, m);
    }
    s.append(palette.begin(), palette.end());
    s.append(pixels);
    return s;
}

} // namespace imaging_test
