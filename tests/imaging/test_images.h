// Test images made from code: a scratch folder and writers for PNG (LodePNG), grey JPEG
// (libjpeg), GIF (giflib) and hand-built bitmap variants.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace imaging_test {

// A fresh folder under /tmp, removed with everything in it when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    // The path of `name` inside the folder.
    std::string operator/(std::string_view name) const;
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, std::string_view bytes);
bool FileExists(const std::string &path);

// An RGBA picture, rows from the top.
struct Picture {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<uint8_t> rgba;
    const uint8_t *at(unsigned x, unsigned y) const { return &rgba[(size_t(y) * width + x) * 4]; }
};

// A test pattern: four coloured quadrants (red, green, blue, white).
Picture Quadrants(unsigned width, unsigned height);

std::string EncodePng(const Picture &picture);
// An 8-bit grey JPEG (one component) of the picture's red channel.
std::string EncodeGreyJpeg(const Picture &picture, int quality);
// A one-frame GIF with the given palette (RGB triples) and indices; `transparent` < 0 for none.
std::string EncodeGif(unsigned width, unsigned height, const std::vector<uint8_t> &palette,
                      const std::vector<uint8_t> &indices, int transparent, bool interlaced);

// A bitmap file: headers for `bitsPerPixel` with `compression`, then `palette` (BGRA quads) and
// `masks`, then `pixels` as given. `height` negative for top-down rows.
std::string BuildBmp(int32_t width, int32_t height, uint16_t bitsPerPixel, uint32_t compression,
                     const std::vector<uint8_t> &palette, const std::vector<uint32_t> &masks,
                     std::string_view pixels);

} // namespace imaging_test
